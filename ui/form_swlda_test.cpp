// The configuration form on the offscreen platform: layout, what it shows,
// and what OK and Cancel store, driven through the widgets.
#include "ui/form_swlda.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "host/classifier_base.h"
#include "plugin/dozod.h"
#include "ui/up_down.h"

namespace {

int argc = 1;
char arg0[] = "ui_dialog_tests";
char* argv[] = {arg0, nullptr};

// Runs first, while the process has no application object.
TEST(EditConfigurationHeadless, NoApplicationShowsNothing) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  DOZOD classifier;
  EXPECT_FALSE(classifier.EditConfiguration());
}

TEST(EditConfigurationHeadless, CoreApplicationOnlyShowsNothing) {
  QCoreApplication application(argc, argv);
  DOZOD classifier;
  EXPECT_FALSE(classifier.EditConfiguration());
}

class RecordingMessages : public SwldaForm::MessageSink {
 public:
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override {
    shown.push_back(text + " | " + caption + " | " + std::to_string(style));
  }
  std::vector<std::string> shown;
};

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

void ClickArrow(QWidget* form, const char* upDown, bool up, int times) {
  UpDown* spinner = Find<UpDown>(form, upDown);
  for (int i = 0; i < times; ++i)
    QTest::mouseClick(up ? spinner->UpButton() : spinner->DownButton(),
                      Qt::LeftButton);
}

// Clicks a radio item on its indicator, where a user aims.
void Choose(QWidget* form, const char* group, int index) {
  QRadioButton* item = Item(form, group, index);
  QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
}

void ClickOk(QWidget* form) {
  QTest::mouseClick(Find<QPushButton>(form, "BitBtnOK"), Qt::LeftButton);
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

  static std::unique_ptr<QApplication> application;
  DOZOD classifier;
  RecordingMessages messages;
};

std::unique_ptr<QApplication> Dialog::application;

TEST_F(Dialog, FixedClientAreaWithoutMinimiseOrMaximise) {
  TFormSWLDA form(nullptr, &classifier);
  EXPECT_EQ(form.windowTitle(), "DOZOD Configuration");
  EXPECT_EQ(form.size(), QSize(323, 197));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_TRUE(form.isModal());
  EXPECT_FALSE(form.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                Qt::WindowContextHelpButtonHint));
}

struct Control {
  const char* name;
  QRect rect;
  const char* caption;
};

// clang-format off
const Control kControls[] = {
    {"Label2", {14, 15, 38, 13}, "Max Iter"},  {"Label6", {124, 49, 8, 13}, "%"},
    {"Label7", {15, 48, 33, 13}, "p enter"},   {"Label8", {15, 80, 44, 13}, "p remove"},
    {"Label5", {124, 80, 8, 13}, "%"},         {"Label1", {15, 128, 47, 13}, "Threshold"},
    {"Label3", {124, 128, 8, 13}, "%"},        {"ebMaxIter", {71, 11, 49, 21}, "300"},
    {"udMaxIter", {120, 11, 16, 21}, ""},      {"ud_p_in", {107, 43, 16, 21}, ""},
    {"eb_p_in", {71, 43, 36, 21}, "5"},        {"eb_p_out", {71, 75, 36, 21}, "10"},
    {"ud_p_out", {107, 75, 16, 21}, ""},       {"BitBtnOK", {64, 166, 75, 25}, "OK"},
    {"RadioGroup2", {169, 8, 144, 65}, "Options"},
    {"BitBtn2", {185, 166, 75, 25}, "Cancel"}, {"ebThreshold", {71, 123, 36, 21}, "0"},
    {"udThreshold", {107, 123, 16, 21}, ""},
    {"rgThreshMode", {169, 88, 144, 65}, "Threshold Mode"}};
// clang-format on

QString Caption(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget))
    return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  if (auto* edit = qobject_cast<QSpinBox*>(widget)) return edit->text();
  return QString();
}

TEST_F(Dialog, EveryControlAtItsPlaceWithItsCaption) {
  TFormSWLDA form(nullptr, &classifier);
  for (const Control& control : kControls) {
    QWidget* widget = Find<QWidget>(&form, control.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), &form) << control.name;
    EXPECT_EQ(widget->geometry(), control.rect) << control.name;
    EXPECT_EQ(Caption(widget), control.caption) << control.name;
  }
  EXPECT_TRUE(Find<QPushButton>(&form, "BitBtnOK")->isDefault());
  EXPECT_FALSE(Find<QPushButton>(&form, "BitBtn2")->isDefault());
  EXPECT_FALSE(Find<QGroupBox>(&form, "RadioGroup2")->isEnabled());
  EXPECT_TRUE(Item(&form, "RadioGroup2", 0)->isChecked());
  const char* items[] = {
      "One classifier", "One classifier per LS", "Max", "Range"};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(
        Item(&form, i < 2 ? "RadioGroup2" : "rgThreshMode", i % 2)->text(),
        items[i]);
}

// The table control that `widget` is or belongs to (a radio item to its
// group, an edit box's inner line edit to the box).
std::string ControlName(QWidget* form, QWidget* widget) {
  if (widget == nullptr) return "none";
  while (widget->parentWidget() != nullptr && widget->parentWidget() != form)
    widget = widget->parentWidget();
  return widget->objectName().toStdString();
}

TEST_F(Dialog, TabVisitsTheControlsInTheTablesOrder) {
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  std::vector<std::string> visited;
  for (int i = 0; i < 8; ++i) {
    visited.push_back(ControlName(&form, QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  // The spinners take no focus, nor does the disabled "Options" group.
  const std::vector<std::string> expected = {"ebMaxIter",
                                             "eb_p_in",
                                             "eb_p_out",
                                             "BitBtnOK",
                                             "BitBtn2",
                                             "ebThreshold",
                                             "rgThreshMode",
                                             "ebMaxIter"};
  EXPECT_EQ(visited, expected);
}

TEST_F(Dialog, ShowsTheClassifiersSettingsInWholePercent) {
  classifier.SetMaxIter(77);
  ASSERT_EQ(classifier.SetPRange(0.29, 0.57), 0);
  classifier.SetThreshold(0.58);
  classifier.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  EXPECT_EQ(Shown(&form, "ebMaxIter"), 77);
  EXPECT_EQ(Shown(&form, "eb_p_in"), 28);
  EXPECT_EQ(Shown(&form, "eb_p_out"), 56);
  EXPECT_EQ(Shown(&form, "ebThreshold"), 57);
  EXPECT_TRUE(Item(&form, "rgThreshMode", 1)->isChecked());
  EXPECT_FALSE(Item(&form, "rgThreshMode", 0)->isChecked());
  form.hide();
  classifier.SetMaxIter(40000);
  classifier.SetThreshold(2.5);
  form.show();
  EXPECT_EQ(Shown(&form, "ebMaxIter"), 32767);
  EXPECT_EQ(Shown(&form, "ebThreshold"), 100);
}

TEST_F(Dialog, ArrowsAndArrowKeysStepByOneWithinTheRange) {
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  ClickArrow(&form, "ud_p_in", true, 3);
  EXPECT_EQ(Shown(&form, "eb_p_in"), 8);
  ClickArrow(&form, "ud_p_in", false, 10);
  EXPECT_EQ(Find<UpDown>(&form, "ud_p_in")->Position(), 1);
  Type(&form, "eb_p_in", "98");
  ClickArrow(&form, "ud_p_in", true, 2);
  EXPECT_EQ(Shown(&form, "eb_p_in"), 99);
  Type(&form, "eb_p_out", "99");
  ClickArrow(&form, "ud_p_out", true, 2);
  EXPECT_EQ(Find<UpDown>(&form, "ud_p_out")->Position(), 100);
  Type(&form, "ebMaxIter", "2");
  ClickArrow(&form, "udMaxIter", false, 2);
  EXPECT_EQ(Shown(&form, "ebMaxIter"), 1);
  QTest::keyClick(Find<QSpinBox>(&form, "ebThreshold"), Qt::Key_Down);
  EXPECT_EQ(Find<UpDown>(&form, "udThreshold")->Position(), 0);
  QTest::keyClick(Find<QSpinBox>(&form, "ebThreshold"), Qt::Key_Up);
  EXPECT_EQ(Find<UpDown>(&form, "udThreshold")->Position(), 1);
}

TEST_F(Dialog, EnterPressesOkWhichClosesAlsoAfterAMessage) {
  TFormSWLDA form(nullptr, &classifier);
  form.SetMessageSink(&messages);
  form.show();
  Type(&form, "ebMaxIter", "123");
  Type(&form, "eb_p_in", "20");
  Type(&form, "eb_p_out", "15");
  QTest::keyClick(Find<QSpinBox>(&form, "eb_p_out"), Qt::Key_Return);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(
      messages.shown,
      std::vector<std::string>{"Invalid p range (max < min) | Error | 48"});
  EXPECT_EQ(classifier.GetMaxIter(), 300);
}

TEST_F(Dialog, EditConfigurationReturnsTrueAfterOk) {
  classifier.SetThreshold(0.5);
  WhenModal<TFormSWLDA>([](TFormSWLDA* form) {
    EXPECT_EQ(Shown(form, "ebMaxIter"), 300);
    EXPECT_EQ(Shown(form, "eb_p_in"), 5);
    EXPECT_EQ(Shown(form, "eb_p_out"), 10);
    EXPECT_EQ(Shown(form, "ebThreshold"), 50);
    Type(form, "ebMaxIter", "1000");
    ClickArrow(form, "ud_p_in", false, 2);
    Choose(form, "rgThreshMode", 1);
    ClickOk(form);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(classifier.GetMaxIter(), 1000);
  EXPECT_EQ(classifier.GetPEnter(), 0.03);
  EXPECT_EQ(classifier.GetPRemove(), 0.1);
  EXPECT_EQ(classifier.GetThreshold(), 0.5);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_TRUE(application->findChildren<TFormSWLDA*>().isEmpty());
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "form destroyed";
}

TEST_F(Dialog, EditConfigurationShowsTheMessageBoxAndStillReturnsTrue) {
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
    ClickOk(form);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(text, "Invalid p range (max < min)");
  EXPECT_EQ(caption, "Error");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(classifier.GetMaxIter(), 300);
  EXPECT_EQ(classifier.GetPEnter(), 0.05);
  EXPECT_EQ(classifier.GetPRemove(), 0.1);
}

// The spinners' ranges keep every pair the classifier refuses out of reach,
// so the form's message box is given the plain style directly.
TEST_F(Dialog, PlainMessageBoxHasNoIcon) {
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  QMessageBox::Icon icon = QMessageBox::Warning;
  QMessageBox::StandardButtons buttons;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  FormMessageBox(&form).Show("Invalid p range (max, min)", "Error", 0);
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons, QMessageBox::Ok);
}

enum class CloseBy { kCancelButton, kEnterOnCancel, kEscape, kWindowClosed };

const char* const kCloseByNames[] = {
    "CancelButton", "EnterOnCancel", "Escape", "WindowClosed"};

void PrintTo(CloseBy closeBy, std::ostream* os) {
  *os << kCloseByNames[static_cast<int>(closeBy)];
}

std::string CloseByName(const ::testing::TestParamInfo<CloseBy>& info) {
  return kCloseByNames[static_cast<int>(info.param)];
}

class Cancelled : public Dialog,
                  public ::testing::WithParamInterface<CloseBy> {};

TEST_P(Cancelled, StoresNothingAndReturnsFalse) {
  classifier.SetThreshold(0.25);
  const CloseBy closeBy = GetParam();
  WhenModal<TFormSWLDA>([closeBy](TFormSWLDA* form) {
    Type(form, "ebMaxIter", "50");
    Type(form, "eb_p_out", "60");
    Type(form, "ebThreshold", "90");
    Choose(form, "rgThreshMode", 1);
    if (closeBy == CloseBy::kCancelButton) {
      QTest::mouseClick(Find<QPushButton>(form, "BitBtn2"), Qt::LeftButton);
    } else if (closeBy == CloseBy::kEnterOnCancel) {
      Find<QPushButton>(form, "BitBtn2")->setFocus();
      QTest::keyClick(Find<QPushButton>(form, "BitBtn2"), Qt::Key_Return);
    } else if (closeBy == CloseBy::kEscape) {
      QTest::keyClick(Find<QSpinBox>(form, "eb_p_out"), Qt::Key_Escape);
    } else {
      form->close();
    }
  });
  EXPECT_FALSE(classifier.EditConfiguration());
  EXPECT_EQ(classifier.GetMaxIter(), 300);
  EXPECT_EQ(classifier.GetPEnter(), 0.05);
  EXPECT_EQ(classifier.GetPRemove(), 0.1);
  EXPECT_EQ(classifier.GetThreshold(), 0.25);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::MaxMode);
}

INSTANTIATE_TEST_SUITE_P(Dialog,
                         Cancelled,
                         ::testing::Values(CloseBy::kCancelButton,
                                           CloseBy::kEnterOnCancel,
                                           CloseBy::kEscape,
                                           CloseBy::kWindowClosed),
                         CloseByName);

TEST_F(Dialog, CentredOverTheActiveWindowElseTheScreen) {
  {
    TFormSWLDA form(nullptr, &classifier);
    form.show();
    EXPECT_EQ(form.frameGeometry().center(),
              form.screen()->availableGeometry().center());
  }
  QMainWindow main;
  main.setGeometry(100, 150, 500, 300);
  main.show();
  QApplication::setActiveWindow(&main);
  TFormSWLDA form(nullptr, &classifier);
  form.show();
  EXPECT_EQ(form.frameGeometry().center(), main.frameGeometry().center());
}

}  // namespace
