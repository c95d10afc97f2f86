#include "ui/swlda_form_logic.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/classifier_base.h"
#include "plugin/dozod.h"

namespace {

using SwldaForm::Positions;

// Settings held in memory; every write and every message is logged in call
// order, and the p pair is refused on request.
class FakeSettings : public SwldaForm::Settings, public SwldaForm::MessageSink {
 public:
  int GetMaxIter() const override { return maxIter; }
  double GetPEnter() const override { return pEnter; }
  double GetPRemove() const override { return pRemove; }
  double GetThreshold() const override { return threshold; }
  int GetThresholdMode() const override { return mode; }
  int SetMaxIter(int value) override {
    log.push_back("SetMaxIter " + std::to_string(value));
    return 0;
  }
  int SetPRange(double, double) override {
    log.push_back("SetPRange");
    return refuse ? -10 : 0;
  }
  void SetThreshold(double) override { log.push_back("SetThreshold"); }
  void SetThresholdMode(int value) override {
    log.push_back("SetThresholdMode " + std::to_string(value));
  }
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override {
    log.push_back(text + " | " + caption + " | " + std::to_string(style));
  }

  int maxIter = 300;
  double pEnter = 0.05, pRemove = 0.1, threshold = 0.0;
  int mode = 0;
  bool refuse = false;
  std::vector<std::string> log;
};

// What a whole percentage p, stored as p / 100.0, shows as: p itself, except
// where p / 100.0 x 100.0 lands just below p in binary floating point.
int ShownPercent(int p) {
  return p == 29 ? 28 : p == 57 ? 56 : p == 58 ? 57 : p;
}

class WholePercent : public ::testing::TestWithParam<int> {};

TEST_P(WholePercent, ShowsTruncatedTimesHundred) {
  const int p = GetParam();
  FakeSettings settings;
  settings.pEnter = settings.pRemove = settings.threshold = p / 100.0;
  const Positions shown = SwldaForm::FormActivate(settings);
  EXPECT_EQ(shown.pEnter, ShownPercent(p));
  EXPECT_EQ(shown.pRemove, ShownPercent(p));
  EXPECT_EQ(shown.threshold, ShownPercent(p));
}

TEST_P(WholePercent, OkWithoutChangesStoresTheShownPercent) {
  const int p = GetParam();
  DOZOD classifier;
  SwldaForm::DozodSettings settings(classifier);
  FakeSettings messages;
  classifier.SetThreshold(p / 100.0);
  // Pairs that stay valid once shown: p enter below 100, p remove above 1.
  ASSERT_EQ(classifier.SetPRange(p < 100 ? p / 100.0 : 0.5, 1.0), 0);
  SwldaForm::BitBtnOKClick(
      SwldaForm::FormActivate(settings), settings, messages);
  EXPECT_EQ(classifier.GetThreshold(), ShownPercent(p) / 100.0);
  if (p < 100) {
    EXPECT_EQ(classifier.GetPEnter(), ShownPercent(p) / 100.0);
  }
  ASSERT_EQ(classifier.SetPRange(0.01, p > 1 ? p / 100.0 : 1.0), 0);
  SwldaForm::BitBtnOKClick(
      SwldaForm::FormActivate(settings), settings, messages);
  if (p > 1) {
    EXPECT_EQ(classifier.GetPRemove(), ShownPercent(p) / 100.0);
  }
  EXPECT_TRUE(messages.log.empty());
}

INSTANTIATE_TEST_SUITE_P(OneToHundred, WholePercent, ::testing::Range(1, 101));

TEST(TruncatedPercent, TowardZeroAndSafeOutsideTheIntRange) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  EXPECT_EQ(SwldaForm::TruncatedPercent(0.999), 99);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-0.295), -29);
  EXPECT_EQ(SwldaForm::TruncatedPercent(1.5), 150);
  EXPECT_EQ(SwldaForm::TruncatedPercent(std::nan("")), 0);
  EXPECT_EQ(SwldaForm::TruncatedPercent(kInf), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-kInf), kMin);
  EXPECT_EQ(SwldaForm::TruncatedPercent(21474836.47), kMax);
  EXPECT_EQ(SwldaForm::TruncatedPercent(-21474836.48), kMin);
}

class OkPressed : public ::testing::Test {
 protected:
  DOZOD classifier;
  SwldaForm::DozodSettings settings{classifier};
  FakeSettings messages;
};

TEST_F(OkPressed, StoresEverySettingAndCloses) {
  EXPECT_EQ(SwldaForm::BitBtnOKClick({50, 20, 35, 40, 1}, settings, messages),
            SwldaForm::kModalOk);
  EXPECT_TRUE(messages.log.empty());
  EXPECT_EQ(classifier.GetMaxIter(), 50);
  EXPECT_EQ(classifier.GetPEnter(), 0.2);
  EXPECT_EQ(classifier.GetPRemove(), 0.35);
  EXPECT_EQ(classifier.GetThreshold(), 0.4);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::RangeMode);

  SwldaForm::BitBtnOKClick({300, 99, 100, 0, 0}, settings, messages);
  EXPECT_TRUE(messages.log.empty());
  EXPECT_EQ(classifier.GetPRemove(), 1.0);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::MaxMode);
}

TEST_F(OkPressed, NoModeSelectedKeepsTheMode) {
  classifier.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  for (int none : {-1, 2}) {
    SwldaForm::BitBtnOKClick({300, 5, 10, 0, none}, settings, messages);
    EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  }
}

struct PPair {
  int pEnter;
  int pRemove;
};

void PrintTo(const PPair& pair, std::ostream* os) {
  *os << "p enter " << pair.pEnter << ", p remove " << pair.pRemove;
}

class PEnterNotBelowPRemove : public OkPressed,
                              public ::testing::WithParamInterface<PPair> {};

TEST_P(PEnterNotBelowPRemove, WarnsStoresNothingAndStillCloses) {
  const Positions chosen{50, GetParam().pEnter, GetParam().pRemove, 40, 1};
  EXPECT_EQ(SwldaForm::BitBtnOKClick(chosen, settings, messages),
            SwldaForm::kModalOk);
  EXPECT_EQ(
      messages.log,
      std::vector<std::string>{"Invalid p range (max < min) | Error | 48"});
  EXPECT_EQ(classifier.GetMaxIter(), 300);
  EXPECT_EQ(classifier.GetPEnter(), 0.05);
  EXPECT_EQ(classifier.GetPRemove(), 0.1);
  EXPECT_EQ(classifier.GetThreshold(), 0.0);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::MaxMode);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(OkPressed, PEnterNotBelowPRemove, ::testing::Values(
    PPair{10, 10}, PPair{20, 15}, PPair{99, 1}, PPair{0, 0}, PPair{100, 100}));
// clang-format on

class PairRefused : public OkPressed,
                    public ::testing::WithParamInterface<PPair> {};

TEST_P(PairRefused, SaysSoKeepsThePairStoresTheRest) {
  const Positions chosen{50, GetParam().pEnter, GetParam().pRemove, 40, 1};
  EXPECT_EQ(SwldaForm::BitBtnOKClick(chosen, settings, messages),
            SwldaForm::kModalOk);
  EXPECT_EQ(messages.log,
            std::vector<std::string>{"Invalid p range (max, min) | Error | 0"});
  EXPECT_EQ(classifier.GetPEnter(), 0.05);
  EXPECT_EQ(classifier.GetPRemove(), 0.1);
  EXPECT_EQ(classifier.GetMaxIter(), 50);
  EXPECT_EQ(classifier.GetThreshold(), 0.4);
  EXPECT_EQ(classifier.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
}

// Positions outside the spinners' ranges, as a stored setting outside them
// could give: p enter 0, p remove above 100, negative values.
// clang-format off
INSTANTIATE_TEST_SUITE_P(OkPressed, PairRefused, ::testing::Values(
    PPair{0, 10}, PPair{5, 101}, PPair{-5, 10}, PPair{-20, -10}));
// clang-format on

TEST(OkPressedOrder, RefusalIsReportedBetweenThePairAndTheThreshold) {
  FakeSettings fake;
  fake.refuse = true;
  SwldaForm::BitBtnOKClick({7, 5, 10, 0, 1}, fake, fake);
  const std::vector<std::string> expected = {
      "SetMaxIter 7",
      "SetPRange",
      "Invalid p range (max, min) | Error | 0",
      "SetThreshold",
      "SetThresholdMode 1"};
  EXPECT_EQ(fake.log, expected);
}

}  // namespace
