// The configuration form on the offscreen platform, driven through its
// widgets: layout, what it shows, and what OK and Cancel store.
#include "ui/form_swlda.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>

#include "korva/classifier_base.h"
#include "plugin/dozod.h"
#include "ui/up_down.h"

namespace {

int argc = 1;
char arg0[] = "ui_dialog_tests";
char* argv[] = {arg0, nullptr};

// Runs first, while the process has no application object: without a GUI
// application there is nothing to show the form with.
TEST(EditConfigurationHeadless, ShowsNothingWithoutAGuiApplication) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  DOZOD classifier;
  EXPECT_FALSE(classifier.EditConfiguration());
  QCoreApplication application(argc, argv);
  EXPECT_FALSE(classifier.EditConfiguration());
}

template <typename T>
T* Find(QWidget* form, const char* name) {
  T* widget = form->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QRadioButton* Item(QWidget* form, const char* group, int index) {
  return Find<QGroupBox>(form, group)
      ->findChildren<QRadioButton*>()
      .value(index);
}

// Replaces the text of an edit box the way a user does.
void Type(QWidget* form, const char* edit, const char* text) {
  QSpinBox* box = Find<QSpinBox>(form, edit);
  box->selectAll();
  QTest::keyClicks(box, QString::fromLatin1(text));
}

int Shown(QWidget* form, const char* edit) {
  return Find<QSpinBox>(form, edit)->value();
}

// Once the event loop of the next modal window runs, hands that window to
// `act`. When something else is on top, fails and closes it, so that a wrong
// turn ends the test instead of blocking it.
template <typename Window>
void WhenModal(std::function<void(Window*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* top = QApplication::activeModalWidget();
    if (auto* window = qobject_cast<Window*>(top)) {
      act(window);
    } else {
      ADD_FAILURE() << "unexpected modal window";
      if (top != nullptr) top->close();
    }
  });
}

class Dialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    application = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { application.reset(); }

  void ExpectUnchanged(double threshold) {
    EXPECT_EQ(classifier.GetMaxIter(), 300);
    EXPECT_EQ(classifier.GetPEnter(), 0.05);
    EXPECT_EQ(classifier.GetPRemove(), 0.1);
    EXPECT_EQ(classifier.GetThreshold(), threshold);
    EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::MaxMode);
  }

  static std::unique_ptr<QApplication> application;
  DOZOD classifier;
};

std::unique_ptr<QApplication> Dialog::application;

QString Caption(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget))
    return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  if (auto* edit = qobject_cast<QSpinBox*>(widget)) return edit->text();
  return QString();
}

TEST_F(Dialog, FixedSizeAndControlsAtTheirPlaces) {
  struct Control {
    const char* name;
    QRect rect;
    const char* caption;
  };
  // clang-format off
  const Control controls[] = {
      {"Label7", {15, 48, 33, 13}, "p enter"},   {"ebMaxIter", {71, 11, 49, 21}, "300"},
      {"udMaxIter", {120, 11, 16, 21}, ""},      {"eb_p_out", {71, 75, 36, 21}, "10"},
      {"BitBtnOK", {64, 166, 75, 25}, "OK"},     {"BitBtn2", {185, 166, 75, 25}, "Cancel"},
      {"RadioGroup2", {169, 8, 144, 65}, "Options"},
      {"rgThreshMode", {169, 88, 144, 65}, "Threshold Mode"}};
  // clang-format on
  TFormSWLDA form(nullptr, &classifier);
  EXPECT_EQ(form.windowTitle(), "DOZOD Configuration");
  EXPECT_EQ(form.size(), QSize(323, 197));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  for (const Control& control : controls) {
    QWidget* widget = Find<QWidget>(&form, control.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), control.rect) << control.name;
    EXPECT_EQ(Caption(widget), control.caption) << control.name;
  }
  EXPECT_TRUE(Find<QPushButton>(&form, "BitBtnOK")->isDefault());
  EXPECT_FALSE(Find<QGroupBox>(&form, "RadioGroup2")->isEnabled());
  EXPECT_EQ(Item(&form, "rgThreshMode", 1)->text(), "Range");
  EXPECT_EQ(Find<UpDown>(&form, "ud_p_in")->Maximum(), 99);
  EXPECT_EQ(Find<UpDown>(&form, "udMaxIter")->Maximum(), 32767);
}

TEST_F(Dialog, EditConfigurationShowsWholePercentAndOkStores) {
  ASSERT_EQ(classifier.SetPRange(0.29, 0.57), 0);
  classifier.SetThreshold(0.58);
  WhenModal<TFormSWLDA>([](TFormSWLDA* form) {
    EXPECT_EQ(Shown(form, "ebMaxIter"), 300);
    EXPECT_EQ(Shown(form, "eb_p_in"), 28);
    EXPECT_EQ(Shown(form, "eb_p_out"), 56);
    EXPECT_EQ(Shown(form, "ebThreshold"), 57);
    Type(form, "ebMaxIter", "1000");
    QTest::mouseClick(Find<UpDown>(form, "ud_p_in")->DownButton(),
                      Qt::LeftButton);
    QRadioButton* range = Item(form, "rgThreshMode", 1);
    QTest::mouseClick(
        range, Qt::LeftButton, {}, QPoint(6, range->height() / 2));
    QTest::mouseClick(Find<QPushButton>(form, "BitBtnOK"), Qt::LeftButton);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(classifier.GetMaxIter(), 1000);
  EXPECT_EQ(classifier.GetPEnter(), 0.27);
  EXPECT_EQ(classifier.GetPRemove(), 0.56);
  EXPECT_EQ(classifier.GetThreshold(), 0.57);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "form destroyed";
}

// The warning is a message box owned by the form; Enter presses OK, which
// still closes the form with its OK result.
TEST_F(Dialog, EditConfigurationWarnsAndStillReturnsTrue) {
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  WhenModal<TFormSWLDA>([&](TFormSWLDA* form) {
    Type(form, "ebMaxIter", "50");
    Type(form, "eb_p_in", "10");
    Type(form, "eb_p_out", "10");
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      EXPECT_EQ(box->parentWidget(), form);
      text = box->text();
      caption = box->windowTitle();
      icon = box->icon();
      box->button(QMessageBox::Ok)->click();
    });
    QTest::keyClick(Find<QSpinBox>(form, "eb_p_out"), Qt::Key_Return);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(text, "Invalid p range (max < min)");
  EXPECT_EQ(caption, "Error");
  EXPECT_EQ(icon, QMessageBox::Warning);
  ExpectUnchanged(0.0);

  // The plain style, for a pair the spinners cannot reach, has no icon.
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  FormMessageBox(&form).Show("Invalid p range (max, min)", "Error", 0);
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

// Cancel button, Esc and closing the window.
TEST_F(Dialog, CancelStoresNothingAndReturnsFalse) {
  classifier.SetThreshold(0.25);
  for (int closeBy = 0; closeBy < 3; ++closeBy) {
    WhenModal<TFormSWLDA>([closeBy](TFormSWLDA* form) {
      Type(form, "ebMaxIter", "50");
      Type(form, "eb_p_out", "60");
      Type(form, "ebThreshold", "90");
      if (closeBy == 0)
        QTest::mouseClick(Find<QPushButton>(form, "BitBtn2"), Qt::LeftButton);
      else if (closeBy == 1)
        QTest::keyClick(Find<QSpinBox>(form, "eb_p_out"), Qt::Key_Escape);
      else
        form->close();
    });
    EXPECT_FALSE(classifier.EditConfiguration()) << closeBy;
    ExpectUnchanged(0.25);
  }
}

}  // namespace
