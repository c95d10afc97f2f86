// The configuration form on the offscreen platform, driven through its
// widgets: OK stores what was changed, the warning, and Cancel.
#include "ui/form_swlda.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "plugin/dozod.h"
#include "ui/up_down.h"

namespace {

using Korva::ClassifierBase;

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
  return form->findChild<T*>(QString::fromLatin1(name));
}

// Replaces the text of an edit box the way a user does.
void Type(QWidget* form, const char* edit, const char* text) {
  Find<QSpinBox>(form, edit)->selectAll();
  QTest::keyClicks(Find<QSpinBox>(form, edit), QString::fromLatin1(text));
}

// Once the next modal window is up, hands it to `act`; something else on top
// fails the test and is closed, so that a wrong turn cannot block it.
template <typename Window>
void WhenModal(std::function<void(Window*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* top = QApplication::activeModalWidget();
    if (auto* window = qobject_cast<Window*>(top)) return act(window);
    ADD_FAILURE() << "unexpected modal window";
    if (top != nullptr) top->close();
  });
}

// A fresh classifier (300, 0.05, 0.1, threshold 0, "Max") behind the form.
class Dialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { application = new QApplication(argc, argv); }
  static void TearDownTestSuite() { delete application; }
  inline static QApplication* application = nullptr;
  DOZOD classifier;
};

// 0.29 shows as 28 (0.29 x 100 lands just below 29); the spinner's arrow, a
// typed value and the mode's radio button all reach the classifier on OK.
// The form opens on the classifier's own mode (Range here).
TEST_F(Dialog, OkStoresWhatWasShownAndChanged) {
  ASSERT_EQ(classifier.SetPRange(0.29, 0.57), 0);
  classifier.SetThreshold(0.58);
  classifier.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  WhenModal<TFormSWLDA>([](TFormSWLDA* form) {
    Type(form, "ebMaxIter", "1000");
    QTest::mouseClick(Find<UpDown>(form, "ud_p_in")->DownButton(),
                      Qt::LeftButton);
    const auto modes =
        Find<QGroupBox>(form, "rgThreshMode")->findChildren<QRadioButton*>();
    EXPECT_TRUE(modes.value(1)->isChecked());
    modes.value(0)->click();
    QTest::mouseClick(Find<QPushButton>(form, "BitBtnOK"), Qt::LeftButton);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(classifier.GetMaxIter(), 1000);
  EXPECT_EQ(classifier.GetPEnter(), 0.27);
  EXPECT_EQ(classifier.GetPRemove(), 0.56);
  EXPECT_EQ(classifier.GetThreshold(), 0.57);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::MaxMode);
}

// p enter 10 against p remove 10: a warning box and nothing stored; Enter
// presses OK, which still closes the form with its OK result.
TEST_F(Dialog, WarnsAboutTheOrderOfThePairAndStillReturnsTrue) {
  WhenModal<TFormSWLDA>([](TFormSWLDA* form) {
    Type(form, "ebMaxIter", "50");
    Type(form, "eb_p_in", "10");
    WhenModal<QMessageBox>([](QMessageBox* box) {
      EXPECT_EQ(box->windowTitle() + ": " + box->text(),
                "Error: Invalid p range (max < min)");
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      box->button(QMessageBox::Ok)->click();
    });
    QTest::keyClick(Find<QSpinBox>(form, "eb_p_out"), Qt::Key_Return);
  });
  EXPECT_TRUE(classifier.EditConfiguration());
  EXPECT_EQ(classifier.GetMaxIter(), 300) << "nothing stored";
}

// The Cancel button and Esc store nothing.
TEST_F(Dialog, CancelStoresNothingAndReturnsFalse) {
  for (bool byEsc : {false, true}) {
    WhenModal<TFormSWLDA>([byEsc](TFormSWLDA* form) {
      Type(form, "ebMaxIter", "50");
      if (byEsc)
        QTest::keyClick(Find<QSpinBox>(form, "ebMaxIter"), Qt::Key_Escape);
      else
        QTest::mouseClick(Find<QPushButton>(form, "BitBtn2"), Qt::LeftButton);
    });
    EXPECT_FALSE(classifier.EditConfiguration()) << byEsc;
    EXPECT_EQ(classifier.GetMaxIter(), 300) << byEsc;
  }
}

// The form's rows: each spinner flush right of its edit box and as high,
// the edit boxes in one column right of their captions, a "%" after the
// spinners of the percentages.
TEST_F(Dialog, EachRowHoldsItsCaptionEditSpinnerAndUnit) {
  TFormSWLDA form(nullptr, &classifier);
  const struct {
    const char *caption, *edit, *spinner, *unit;
  } rows[] = {{"Label2", "ebMaxIter", "udMaxIter", nullptr},
              {"Label7", "eb_p_in", "ud_p_in", "Label6"},
              {"Label8", "eb_p_out", "ud_p_out", "Label5"},
              {"Label1", "ebThreshold", "udThreshold", "Label3"}};
  const int column = Find<QWidget>(&form, "ebMaxIter")->geometry().left();
  for (const auto& row : rows) {
    const QRect edit = Find<QWidget>(&form, row.edit)->geometry();
    const QRect spinner = Find<QWidget>(&form, row.spinner)->geometry();
    const QRect caption = Find<QWidget>(&form, row.caption)->geometry();
    EXPECT_EQ(edit.left(), column) << row.edit;
    EXPECT_EQ(spinner.left(), edit.right() + 1) << row.spinner;
    EXPECT_EQ(spinner.top(), edit.top()) << row.spinner;
    EXPECT_EQ(spinner.height(), edit.height()) << row.spinner;
    EXPECT_LT(caption.right(), edit.left()) << row.caption;
    EXPECT_TRUE(edit.contains(edit.left(), caption.center().y())) << row.caption;
    if (row.unit == nullptr) continue;
    const QRect unit = Find<QWidget>(&form, row.unit)->geometry();
    EXPECT_GT(unit.left(), spinner.right()) << row.unit;
    EXPECT_TRUE(edit.contains(edit.left(), unit.center().y())) << row.unit;
  }
}

// In either threshold mode every control takes input but the Options group,
// which is shown for its look only.
TEST_F(Dialog, EnablesEveryControlButTheOptionsInEitherMode) {
  for (const auto mode : {ClassifierBase::MaxMode, ClassifierBase::RangeMode}) {
    classifier.SetThresholdMode(mode);
    TFormSWLDA form(nullptr, &classifier);
    form.show();
    QApplication::processEvents();
    const auto modes =
        Find<QGroupBox>(&form, "rgThreshMode")->findChildren<QRadioButton*>();
    EXPECT_TRUE(modes.value(mode)->isChecked()) << mode;
    QStringList disabled;
    for (QWidget* w : form.findChildren<QWidget*>())
      if (!w->isEnabled() && !w->objectName().isEmpty())
        disabled << w->objectName();
    EXPECT_EQ(disabled, QStringList{"RadioGroup2"}) << mode;
    for (QRadioButton* item :
         Find<QGroupBox>(&form, "RadioGroup2")->findChildren<QRadioButton*>())
      EXPECT_FALSE(item->isEnabled()) << mode;
  }
}

}  // namespace
