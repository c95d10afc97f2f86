#include "ui/swlda_form_logic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "plugin/dozod.h"

namespace {

using Korva::ClassifierBase;
using SwldaForm::Positions;
using Shown = std::vector<std::string>;

class RecordingMessages : public SwldaForm::MessageSink {
 public:
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override {
    shown.push_back(text + " | " + caption + " | " + std::to_string(style));
  }
  Shown shown;
};

// A fresh classifier (300, 0.05, 0.1, threshold 0, "Max") behind the form.
class FormLogic : public ::testing::Test {
 protected:
  int PressOk(const Positions& positions) {
    return SwldaForm::BitBtnOKClick(positions, settings, messages);
  }
  void ExpectStored(int maxIter,
                    double pEnter,
                    double pRemove,
                    double threshold,
                    ClassifierBase::ThresholdMode mode) {
    EXPECT_EQ(classifier.GetMaxIter(), maxIter);
    EXPECT_EQ(classifier.GetPEnter(), pEnter);
    EXPECT_EQ(classifier.GetPRemove(), pRemove);
    EXPECT_EQ(classifier.GetThreshold(), threshold);
    EXPECT_EQ(classifier.GetThresholdMode(), mode);
  }

  DOZOD classifier;
  SwldaForm::DozodSettings settings{classifier};
  RecordingMessages messages;
};

class WholePercent : public FormLogic,
                     public ::testing::WithParamInterface<int> {};

// A stored p / 100.0 shows as p truncated, which is p itself except where
// p / 100.0 × 100.0 lands just below p in binary floating point; OK then
// stores what was shown.
TEST_P(WholePercent, ShowsTruncatedTimesHundredAndOkStoresIt) {
  const int p = GetParam();
  const int shown = p == 29 ? 28 : p == 57 ? 56 : p == 58 ? 57 : p;
  classifier.SetThreshold(p / 100.0);
  ASSERT_EQ(classifier.SetPRange(p < 100 ? p / 100.0 : 0.5, 1.0), 0);
  Positions positions = SwldaForm::FormActivate(settings);
  EXPECT_EQ(positions.threshold, shown);
  if (p < 100) {
    EXPECT_EQ(positions.pEnter, shown);
  }
  EXPECT_EQ(PressOk(positions), SwldaForm::kModalOk);
  EXPECT_EQ(classifier.GetThreshold(), shown / 100.0);
  if (p < 100) {
    EXPECT_EQ(classifier.GetPEnter(), shown / 100.0);
  }

  ASSERT_EQ(classifier.SetPRange(0.01, p > 1 ? p / 100.0 : 1.0), 0);
  positions = SwldaForm::FormActivate(settings);
  if (p > 1) {
    EXPECT_EQ(positions.pRemove, shown);
  }
  PressOk(positions);
  if (p > 1) {
    EXPECT_EQ(classifier.GetPRemove(), shown / 100.0);
  }
  EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(OneToHundred, WholePercent, ::testing::Range(1, 101));

TEST(TruncatedPercent, TowardZeroAndSafeOutsideTheIntRange) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  EXPECT_EQ(SwldaForm::TruncatedPercent(0.999), 99);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-0.295), -29);
  EXPECT_EQ(SwldaForm::TruncatedPercent(std::nan("")), 0);
  EXPECT_EQ(SwldaForm::TruncatedPercent(kInf), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-kInf), kMin);
  EXPECT_EQ(SwldaForm::TruncatedPercent(21474836.47), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-21474836.48), kMin);
}

TEST_F(FormLogic, ShowsTheSettingsAndOkStoresEveryOne) {
  classifier.SetMaxIter(77);
  classifier.SetThresholdMode(ClassifierBase::RangeMode);
  const Positions shown = SwldaForm::FormActivate(settings);
  EXPECT_EQ(shown.maxIter, 77);
  EXPECT_EQ(shown.pEnter, 5);
  EXPECT_EQ(shown.pRemove, 10);
  EXPECT_EQ(shown.thresholdMode, 1);

  EXPECT_EQ(PressOk({50, 20, 35, 40, 1}), SwldaForm::kModalOk);
  ExpectStored(50, 0.2, 0.35, 0.4, ClassifierBase::RangeMode);
  PressOk({300, 99, 100, 0, 0});
  ExpectStored(300, 0.99, 1.0, 0.0, ClassifierBase::MaxMode);
  for (int none : {-1, 2}) {
    PressOk({300, 5, 10, 0, none});
    EXPECT_EQ(classifier.GetThresholdMode(), ClassifierBase::MaxMode);
  }
  EXPECT_TRUE(messages.shown.empty());
}

struct BadPair {
  int pEnter;
  int pRemove;
  bool refusedByClassifier;  // else p enter is not below p remove
};

void PrintTo(const BadPair& pair, std::ostream* os) {
  *os << "p enter " << pair.pEnter << ", p remove " << pair.pRemove;
}

class BadPairs : public FormLogic,
                 public ::testing::WithParamInterface<BadPair> {};

// p enter not below p remove: a warning and nothing stored. A pair that the
// classifier refuses (positions outside the spinners' ranges, as a stored
// setting could give): a plain message, the old pair kept, the rest stored.
// The form closes with OK either way.
TEST_P(BadPairs, ShowOneMessageAndStoreAccordingly) {
  const BadPair pair = GetParam();
  EXPECT_EQ(PressOk({50, pair.pEnter, pair.pRemove, 40, 1}),
            SwldaForm::kModalOk);
  if (pair.refusedByClassifier) {
    EXPECT_EQ(messages.shown, Shown{"Invalid p range (max, min) | Error | 0"});
    ExpectStored(50, 0.05, 0.1, 0.4, ClassifierBase::RangeMode);
  } else {
    EXPECT_EQ(messages.shown,
              Shown{"Invalid p range (max < min) | Error | 48"});
    ExpectStored(300, 0.05, 0.1, 0.0, ClassifierBase::MaxMode);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(FormLogic, BadPairs, ::testing::Values(
    BadPair{10, 10, false}, BadPair{20, 15, false}, BadPair{99, 1, false},
    BadPair{0, 10, true}, BadPair{5, 101, true}, BadPair{-20, -10, true}));
// clang-format on

}  // namespace
