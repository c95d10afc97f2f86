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

// A score above 0 calls +1, 0 and below -1; other labels are left out.
// Counted by hand: TP 1, FN 1, FP 1, TN 3.
TEST(Confusion, CountsDecisionsAndTheirRates) {
  const Confusion c =
      ConfusionAtZero({1, 0.0, 2, -1, -1, -3, 5}, {1, 1, -1, -1, -1, -1, 0});
  EXPECT_EQ(std::vector<int>({c.tp, c.fn, c.fp, c.tn}),
            std::vector<int>({1, 1, 1, 3}));
  EXPECT_DOUBLE_EQ(c.Accuracy(), 4.0 / 6.0);
  EXPECT_DOUBLE_EQ(c.BalancedAccuracy(), (1.0 / 2.0 + 3.0 / 4.0) / 2.0);
  EXPECT_DOUBLE_EQ(c.MajorityBaseline(), 4.0 / 6.0);
  EXPECT_TRUE(std::isnan(ConfusionAtZero({1.0}, {1.0}).BalancedAccuracy()));
}

}  // namespace
}  // namespace Korva::Report
