#include "report/metrics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Korva::Report {
namespace {

// Counted by hand over the 4 x 3 (positive, negative) pairs: 0.9 beats all
// three negatives, 0.7 and 0.6 beat 0.55 and 0.5, 0.4 beats none: 7 / 12.
const std::vector<double> kScores = {0.9, 0.8, 0.7, 0.6, 0.55, 0.5, 0.4};
const std::vector<double> kLabels = {1, -1, 1, 1, -1, -1, 1};

TEST(Auc, MatchesPairCountByHandWithTiesCountingHalf) {
  EXPECT_DOUBLE_EQ(Auc(kScores, kLabels), 7.0 / 12.0);
  // Pairs (2,1) (2,0) (1,0) win, (1,1) ties: 3.5 / 4. The row labelled 0 with
  // the highest score must not count.
  EXPECT_DOUBLE_EQ(Auc({2, 1, 1, 0, 5}, {1, 1, -1, -1, 0}), 0.875);
  EXPECT_TRUE(std::isnan(Auc({1, 2}, {1, 0})));
  EXPECT_TRUE(std::isnan(Auc({1, NAN}, {1, -1})));
}

TEST(RocCurve, StepsThroughEveryThresholdFromOriginToCorner) {
  // clang-format off
  const std::vector<RocPoint> expected = {
      {0, 0}, {0, 0.25}, {1.0 / 3, 0.25}, {1.0 / 3, 0.5}, {1.0 / 3, 0.75},
      {2.0 / 3, 0.75}, {1, 0.75}, {1, 1}};
  // clang-format on
  const std::vector<RocPoint> curve = RocCurve(kScores, kLabels);
  ASSERT_EQ(curve.size(), expected.size());
  for (size_t i = 0; i < curve.size(); ++i) {
    EXPECT_DOUBLE_EQ(curve[i].fpr, expected[i].fpr) << "point " << i;
    EXPECT_DOUBLE_EQ(curve[i].tpr, expected[i].tpr) << "point " << i;
  }
  EXPECT_EQ(RocCurve({1, 1, 1, 1}, {1, -1, 1, -1}).size(), 2u)
      << "tied scores make one diagonal step";
}

// A score above the cut calls +1, the cut and below -1; other labels are left
// out. Counted by hand at 0: TP 1, FN 1, FP 1, TN 3; at 1: TP 0, FN 2.
TEST(Confusion, CountsDecisionsAboveTheCutAndTheirRates) {
  const std::vector<double> scores = {1, 0.0, 2, -1, -1, -3, 5};
  const std::vector<double> labels = {1, 1, -1, -1, -1, -1, 0};
  const Confusion c = ConfusionAbove(scores, labels, 0.0);
  EXPECT_EQ(std::vector<int>({c.tp, c.fn, c.fp, c.tn}),
            std::vector<int>({1, 1, 1, 3}));
  EXPECT_DOUBLE_EQ(c.Accuracy(), 4.0 / 6.0);
  EXPECT_DOUBLE_EQ(c.BalancedAccuracy(), (1.0 / 2.0 + 3.0 / 4.0) / 2.0);
  EXPECT_DOUBLE_EQ(c.MajorityBaseline(), 4.0 / 6.0);
  const Confusion above1 = ConfusionAbove(scores, labels, 1.0);
  EXPECT_EQ(std::vector<int>({above1.tp, above1.fn, above1.fp, above1.tn}),
            std::vector<int>({0, 2, 1, 3}));
  EXPECT_TRUE(std::isnan(ConfusionAbove({1.0}, {1.0}, 0.0).BalancedAccuracy()));
}

// Counts and their rates by hand, down to one row and none: a lone row is
// its own majority, and the balanced accuracy needs both classes.
TEST(Confusion, RatesOfSmallSetsByHand) {
  struct Case {
    Confusion c;
    double accuracy, balanced, majority;
  };
  // clang-format off
  const Case cases[] = {{{1, 0, 0, 0}, 1, NAN, 1},   {{0, 0, 0, 1}, 1, NAN, 1},
                        {{0, 1, 0, 0}, 0, NAN, 1},   {{0, 0, 1, 0}, 0, NAN, 1},
                        {{0, 0, 0, 0}, NAN, NAN, NAN},
                        {{2, 1, 3, 4}, 0.6, (2.0 / 3 + 4.0 / 7) / 2, 0.7},
                        {{0, 3, 1, 0}, 0, 0, 0.75},  {{3, 2, 2, 3}, 0.6, 0.6, 0.5}};
  // clang-format on
  for (const Case& k : cases) {
    const double got[] = {k.c.Accuracy(), k.c.BalancedAccuracy(), k.c.MajorityBaseline()};
    const double want[] = {k.accuracy, k.balanced, k.majority};
    for (int i = 0; i < 3; ++i) {
      if (std::isnan(want[i]))
        EXPECT_TRUE(std::isnan(got[i])) << k.c.tp << k.c.fn << k.c.fp << k.c.tn << " #" << i;
      else
        EXPECT_DOUBLE_EQ(got[i], want[i]) << k.c.tp << k.c.fn << k.c.fp << k.c.tn << " #" << i;
    }
  }
}

// By hand over kScores: between 0.55 and 0.6 three of four targets and two
// of three others are right, (3/4 + 2/3) / 2, the best of the eight cuts.
TEST(BalancedAccuracyCut, IsTheMidpointOfTheBestGap) {
  EXPECT_DOUBLE_EQ(BalancedAccuracyCut(kScores, kLabels), 0.575);
  EXPECT_DOUBLE_EQ(ConfusionAbove(kScores, kLabels, 0.575).BalancedAccuracy(),
                   (3.0 / 4 + 2.0 / 3) / 2);
  EXPECT_TRUE(std::isnan(BalancedAccuracyCut({1, 1}, {1, -1})));
  EXPECT_TRUE(std::isnan(BalancedAccuracyCut({1, 2}, {1, 1})));
}

}  // namespace
}  // namespace Korva::Report
