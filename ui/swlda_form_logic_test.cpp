#include "ui/swlda_form_logic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin/dozod.h"

namespace {

using Korva::ClassifierBase;
using SwldaForm::Positions;

class RecordingMessages : public SwldaForm::MessageSink {
 public:
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override {
    shown += text + " | " + caption + " | " + std::to_string(style) + "\n";
  }
  std::string shown;
};

// A fresh classifier (300, 0.05, 0.1, threshold 0, "Max") behind the form.
class FormLogic : public ::testing::Test {
 protected:
  int PressOk(const Positions& p) {
    return SwldaForm::BitBtnOKClick(p, settings, messages);
  }
  DOZOD classifier;
  SwldaForm::DozodSettings settings{classifier};
  RecordingMessages messages;
};

// A stored p / 100.0 shows as p truncated, which is p itself except where
// p / 100.0 × 100.0 lands just below p in binary floating point; OK then
// stores what was shown.
TEST_F(FormLogic, ShowsWholePercentTruncatedAndOkStoresIt) {
  auto shownOf = [](int q) {
    return q == 29 ? 28 : q == 57 ? 56 : q == 58 ? 57 : q;
  };
  for (int p = 1; p <= 99; ++p) {
    const int shown = shownOf(p);
    classifier.SetThreshold(p / 100.0);
    ASSERT_EQ(classifier.SetPRange(p / 100.0, 1.0), 0);
    Positions positions = SwldaForm::FormActivate(settings);
    EXPECT_EQ(positions.threshold, shown) << p;
    EXPECT_EQ(positions.pEnter, shown) << p;
    EXPECT_EQ(PressOk(positions), SwldaForm::kModalOk);
    EXPECT_EQ(classifier.GetThreshold(), shown / 100.0) << p;
    EXPECT_EQ(classifier.GetPEnter(), shown / 100.0) << p;
    ASSERT_EQ(classifier.SetPRange(0.001, (p + 1) / 100.0), 0);
    EXPECT_EQ(SwldaForm::FormActivate(settings).pRemove, shownOf(p + 1));
  }
  EXPECT_EQ(messages.shown, "");
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int kMax = std::numeric_limits<int>::max();
  EXPECT_EQ(SwldaForm::TruncatedPercent(-0.295), -29);
  EXPECT_EQ(SwldaForm::TruncatedPercent(std::nan("")), 0);
  EXPECT_EQ(SwldaForm::TruncatedPercent(kInf), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(21474836.47), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-21474836.48),
            std::numeric_limits<int>::min());
}

// The dialog test stores every setting through OK; a mode position that
// selects no radio button leaves the mode as it was.
TEST_F(FormLogic, ShowsTheModeAndKeepsItForAPositionNotOffered) {
  classifier.SetMaxIter(77);
  classifier.SetThresholdMode(ClassifierBase::RangeMode);
  const Positions shown = SwldaForm::FormActivate(settings);
  EXPECT_EQ(shown.maxIter, 77);
  EXPECT_EQ(shown.thresholdMode, 1);
  for (int none : {-1, 2}) {
    PressOk({300, 5, 10, 0, none});
    EXPECT_EQ(classifier.GetThresholdMode(), ClassifierBase::RangeMode);
  }
  PressOk({300, 5, 10, 0, 0});
  EXPECT_EQ(classifier.GetThresholdMode(), ClassifierBase::MaxMode);
  EXPECT_EQ(messages.shown, "");
}

// p enter not below p remove: a warning and nothing stored. A pair that the
// classifier refuses (positions the spinners cannot reach): a plain message,
// the old pair kept, the rest stored. The form closes with OK either way.
TEST_F(FormLogic, BadPairsShowOneMessageAndStoreAccordingly) {
  const int pairs[][3] = {{10, 10, 0},
                          {20, 15, 0},
                          {99, 1, 0},
                          {0, 10, 1},
                          {5, 101, 1},
                          {-20, -10, 1}};
  for (const auto& [pEnter, pRemove, refusedByClassifier] : pairs) {
    DOZOD fresh;
    SwldaForm::DozodSettings freshSettings{fresh};
    RecordingMessages shown;
    EXPECT_EQ(SwldaForm::BitBtnOKClick(
                  {50, pEnter, pRemove, 40, 1}, freshSettings, shown),
              SwldaForm::kModalOk);
    EXPECT_EQ(shown.shown,
              refusedByClassifier
                  ? "Invalid p range (max, min) | Error | 0\n"
                  : "Invalid p range (max < min) | Error | 48\n");
    EXPECT_EQ(fresh.GetPEnter(), 0.05);
    EXPECT_EQ(fresh.GetPRemove(), 0.1);
    EXPECT_EQ(fresh.GetMaxIter(), refusedByClassifier ? 50 : 300);
    EXPECT_EQ(fresh.GetThreshold(), refusedByClassifier ? 0.4 : 0.0);
  }
}

}  // namespace
