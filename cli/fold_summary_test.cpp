#include "cli/fold_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "cli/fold_runner.h"

namespace Korva::Cli {
namespace {

FoldData TestRows(std::vector<double> labels) {
  FoldData fold;
  fold.test.rows = static_cast<int>(labels.size());
  fold.test.labels = std::move(labels);
  fold.test.hasLabels = true;
  return fold;
}

FoldResult Result(std::vector<double> scores,
                  std::vector<bool> selected,
                  std::vector<double> weights,
                  double cut = 0.0) {
  FoldResult r;
  r.cut = cut;
  r.result = 0;
  r.seconds = 0.5;
  r.scores = std::move(scores);
  r.selected = std::move(selected);
  r.weights = std::move(weights);
  return r;
}

// Worked by hand: fold 1 ranks 3 of its 4 (+1, -1) pairs right and at its
// cut 0.6 misses one target; fold 2 is perfect; fold 3 has no target, so no
// AUC, and its cut 0.25 calls neither row. Pooled, 14 of 15 pairs are right
// and the decisions are each fold's own.
TEST(FoldSummary, CombinesFoldMetricsAtEachFoldsCutAndWeights) {
  const std::vector<FoldData> folds = {
      TestRows({1, -1, 1, -1}), TestRows({1, -1}), TestRows({-1, -1})};
  const std::vector<FoldResult> results = {
      Result({0.9, 0.1, 0.4, 0.5}, {true, false, true}, {2, 0, -4}, 0.6),
      Result({1.0, -1.0}, {true, true, false}, {4, 1, 0}),
      Result({0.2, -0.3}, {false, false, true}, {0, 0, 1}, 0.25)};
  const FoldSummary s = SummarizeFolds(folds, results, 3);
  EXPECT_EQ(s.aucs[0], 0.75);
  EXPECT_EQ(s.aucs[1], 1.0);
  EXPECT_TRUE(std::isnan(s.aucs[2]));
  EXPECT_EQ(s.aucFolds, 2);
  EXPECT_EQ(s.accuracies, (std::vector<double>{0.75, 1.0, 1.0}));
  EXPECT_DOUBLE_EQ(s.meanAuc, 0.875);
  EXPECT_DOUBLE_EQ(s.aucSpread, std::sqrt(2 * 0.125 * 0.125));
  EXPECT_DOUBLE_EQ(s.meanAccuracy, 2.75 / 3);
  EXPECT_DOUBLE_EQ(s.pooledAuc, 14.0 / 15.0);
  const Report::Confusion& p = s.pooled;
  EXPECT_EQ(std::vector<int>({p.tp, p.fn, p.fp, p.tn}),
            std::vector<int>({2, 1, 0, 5}));
  EXPECT_DOUBLE_EQ(s.seconds, 1.5);
  EXPECT_DOUBLE_EQ(s.meanSelected, 5.0 / 3);
  EXPECT_EQ(s.pooledScores.size(), 8u);
  EXPECT_EQ(s.meanWeights, (std::vector<double>{2, 1.0 / 3, -1}));
  EXPECT_EQ(s.timesSelected, (std::vector<int>{2, 1, 2}));
}

// Worker processes send their results as bytes: every double comes back with
// the same bits (NaN as a NaN), as the scores of one process would be.
TEST(FoldResults, CrossTheWorkerPipeExactly) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {
      inf, -inf, nan, -0.0, 4.9e-324, 1.7976931348623157e308, 0.1, -2.5e-300};
  FoldResult sent = Result(values, {true, false, true}, values);
  sent.failure = "fold failed";
  sent.threw = true;
  FoldResult unset = sent;
  unset.result.reset();
  const std::vector<FoldResult> list =
      DecodeFoldResults(EncodeFoldResults({sent, unset}));
  ASSERT_EQ(list.size(), 2u);
  const FoldResult& got = list[0];
  for (const auto& [a, b] : {std::pair{&sent.scores, &got.scores},
                             std::pair{&sent.weights, &got.weights}}) {
    ASSERT_EQ(a->size(), b->size());
    for (size_t i = 0; i < a->size(); ++i)
      EXPECT_TRUE(std::isnan((*a)[i]) ? std::isnan((*b)[i])
                                      : std::memcmp(&(*a)[i], &(*b)[i], 8) == 0)
          << i << ": " << (*a)[i] << " came back as " << (*b)[i];
  }
  EXPECT_EQ(got.result, sent.result);
  EXPECT_EQ(got.selected, sent.selected);
  EXPECT_EQ(got.failure, sent.failure);
  EXPECT_TRUE(got.threw);
  EXPECT_FALSE(list[1].result);
  EXPECT_ANY_THROW(DecodeFoldResults({0x7b, 0x7d}));  // "{}" as JSON text
}

// A setting's fold results as a tuning sees them: mean AUC, spread over
// aucFolds folds (standard error spread / sqrt(aucFolds)), mean features;
// a negative spread stands for a setting whose trainings failed.
struct Setting {
  double meanAuc, spread;
  int aucFolds;
  double features;
};

struct Choice {
  const char* name;
  std::vector<Setting> settings;
  bool oneSe;
  int chosen;  // -1: none
  std::vector<size_t> ranking;
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.name; }

const double kNoAuc = std::nan("");

// clang-format off
const Choice kChoices[] = {
    // The best mean AUC; equal ones go to the first in the grid.
    {"best_mean_auc", {{0.90, 0.02, 5, 3}, {0.93, 0.02, 5, 20}, {0.91, 0.01, 5, 8}}, false, 1, {1, 2, 0}},
    {"equal_auc_first_in_grid", {{0.90, 0.02, 5, 9}, {0.90, 0.01, 5, 2}}, false, 0, {0, 1}},
    // SE of the best = 0.25 / sqrt(4) = 0.125 (exact in binary): the floor is
    // 0.75, reached by setting 1 (8 features), missed by setting 2 (3).
    {"one_se_floor_inclusive", {{0.875, 0.25, 4, 20}, {0.75, 0.0, 4, 8}, {0.7499, 0.0, 4, 3}}, true, 1, {0, 1, 2}},
    {"one_se_equal_counts_higher_auc", {{0.92, 0.04, 4, 20}, {0.905, 0.0, 4, 6}, {0.91, 0.0, 4, 6}}, true, 2, {0, 2, 1}},
    {"one_se_none_sparser_keeps_best", {{0.92, 0.04, 4, 5}, {0.91, 0.0, 4, 6}}, true, 0, {0, 1}},
    // One fold with both classes has no spread: the rule keeps the best.
    {"one_se_single_fold", {{0.92, 0.0, 1, 20}, {0.919, 0.0, 1, 2}}, true, 0, {0, 1}},
    // The spread of the best, not of the sparse setting, sets the floor.
    {"one_se_best_spread_counts", {{0.92, 0.0, 5, 20}, {0.91, 0.30, 5, 2}}, true, 0, {0, 1}},
    // Failed settings and settings without a mean AUC are never chosen and
    // rank last, in grid order.
    {"failed_and_no_auc_last", {{0.99, -1, 5, 1}, {kNoAuc, 0.0, 0, 1}, {0.80, 0.1, 5, 9}}, true, 2, {2, 0, 1}},
    {"nothing_to_choose", {{0.99, -1, 5, 1}, {kNoAuc, 0.0, 0, 1}}, false, -1, {0, 1}},
};
// clang-format on

class TuningChoice : public ::testing::TestWithParam<Choice> {};

TEST_P(TuningChoice, FollowsTheRuleOnHandMadeFoldResults) {
  const Choice& c = GetParam();
  std::vector<FoldSummary> summaries(c.settings.size());
  std::vector<const FoldSummary*> given;
  for (size_t i = 0; i < c.settings.size(); ++i) {
    const Setting& s = c.settings[i];
    summaries[i].meanAuc = s.meanAuc;
    summaries[i].aucSpread = s.spread;
    summaries[i].aucFolds = s.aucFolds;
    summaries[i].meanSelected = s.features;
    given.push_back(s.spread < 0 ? nullptr : &summaries[i]);
  }
  const std::optional<size_t> chosen = ChooseSetting(given, c.oneSe);
  EXPECT_EQ(chosen ? static_cast<int>(*chosen) : -1, c.chosen);
  EXPECT_EQ(RankSettings(given), c.ranking);
}

INSTANTIATE_TEST_SUITE_P(Table,
                         TuningChoice,
                         ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace Korva::Cli
