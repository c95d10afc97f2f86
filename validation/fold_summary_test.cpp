#include "validation/fold_summary.h"

#include <gtest/gtest.h>

#include <cmath>

#include "validation/balanced_threshold.h"

namespace Korva::Validation {
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
  std::vector<int> ranks;  // as scikit-learn's searches number them
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.name; }

const double kNoAuc = std::nan("");

// clang-format off
const Choice kChoices[] = {
    // The best mean AUC; equal ones go to the first in the grid.
    {"best_mean_auc", {{0.90, 0.02, 5, 3}, {0.93, 0.02, 5, 20}, {0.91, 0.01, 5, 8}}, false, 1, {1, 2, 0}, {3, 1, 2}},
    {"equal_auc_first_in_grid", {{0.90, 0.02, 5, 9}, {0.90, 0.01, 5, 2}}, false, 0, {0, 1}, {1, 1}},
    // SE of the best = 0.25 / sqrt(4) = 0.125 (exact in binary): the floor is
    // 0.75, reached by setting 1 (8 features), missed by setting 2 (3).
    {"one_se_floor_inclusive", {{0.875, 0.25, 4, 20}, {0.75, 0.0, 4, 8}, {0.7499, 0.0, 4, 3}}, true, 1, {0, 1, 2}, {1, 2, 3}},
    {"one_se_equal_counts_higher_auc", {{0.92, 0.04, 4, 20}, {0.905, 0.0, 4, 6}, {0.91, 0.0, 4, 6}}, true, 2, {0, 2, 1}, {1, 3, 2}},
    {"one_se_none_sparser_keeps_best", {{0.92, 0.04, 4, 5}, {0.91, 0.0, 4, 6}}, true, 0, {0, 1}, {1, 2}},
    // One fold with both classes has no spread: the rule keeps the best.
    {"one_se_single_fold", {{0.92, 0.0, 1, 20}, {0.919, 0.0, 1, 2}}, true, 0, {0, 1}, {1, 2}},
    // The spread of the best, not of the sparse setting, sets the floor.
    {"one_se_best_spread_counts", {{0.92, 0.0, 5, 20}, {0.91, 0.30, 5, 2}}, true, 0, {0, 1}, {1, 2}},
    // Failed settings and settings without a mean AUC are never chosen and
    // rank last, in grid order, all with the same rank.
    {"failed_and_no_auc_last", {{0.99, -1, 5, 1}, {kNoAuc, 0.0, 0, 1}, {0.80, 0.1, 5, 9}}, true, 2, {2, 0, 1}, {2, 2, 1}},
    {"nothing_to_choose", {{0.99, -1, 5, 1}, {kNoAuc, 0.0, 0, 1}}, false, -1, {0, 1}, {1, 1}},
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
  EXPECT_EQ(RankNumbers(given), c.ranks);
}

INSTANTIATE_TEST_SUITE_P(Table,
                         TuningChoice,
                         ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return info.param.name; });

// Fold scores made elsewhere (the Python package's scorers), summarized as
// SummarizeFolds summarizes AUCs.
struct Scores {
  const char* name;
  std::vector<double> scores, features;
  int scored;
  double mean, spread, se, meanFeatures;
};

void PrintTo(const Scores& c, std::ostream* os) { *os << c.name; }

// clang-format off
const Scores kScores[] = {
    // Deviations -0.125 and 0.125: sample spread sqrt(2 x 0.125^2 / 1),
    // standard error that over sqrt(2), 0.125.
    {"fold_without_score_left_out", {0.75, 1.0, kNoAuc}, {2, 4, 6}, 2, 0.875, 0.125 * std::sqrt(2.0), 0.125, 4},
    {"one_scored_fold_of_several", {0.8, kNoAuc}, {3, 4}, 1, 0.8, kNoAuc, 0.0, 3.5},
    {"single_test_set", {0.8}, {3}, 1, 0.8, 0.0, 0.0, 3},
    {"no_score", {kNoAuc, kNoAuc}, {1, 2}, 0, kNoAuc, kNoAuc, 0.0, 1.5},
};
// clang-format on

class ScoreSummary : public ::testing::TestWithParam<Scores> {};

TEST_P(ScoreSummary, GivesWhatTheChoiceTakes) {
  const Scores& c = GetParam();
  const FoldSummary s = SummarizeScores(c.scores, c.features);
  const auto same = [](double a, double b) {
    return std::isnan(b) ? std::isnan(a) : std::abs(a - b) < 1e-15;
  };
  EXPECT_EQ(s.aucFolds, c.scored);
  EXPECT_PRED2(same, s.meanAuc, c.mean);
  EXPECT_PRED2(same, s.aucSpread, c.spread);
  EXPECT_PRED2(same, AucStandardError(s), c.se);
  EXPECT_EQ(s.meanSelected, c.meanFeatures);
}

INSTANTIATE_TEST_SUITE_P(Table,
                         ScoreSummary,
                         ::testing::ValuesIn(kScores),
                         [](const auto& info) { return info.param.name; });

// The best (mean 0.875, standard error 0.125 as above) has 10 features;
// 0.75 of the sparser setting reaches its floor, 0.74 does not.
TEST(ScoreSummary, OneStandardErrorFromTheFoldScores) {
  const FoldSummary best = SummarizeScores({0.75, 1.0}, {10, 10});
  for (const auto& [auc, chosen] :
       {std::pair{0.75, size_t{1}}, std::pair{0.74, size_t{0}}}) {
    const FoldSummary sparse = SummarizeScores({auc, auc}, {3, 3});
    EXPECT_EQ(ChooseSetting({&best, &sparse}, true), chosen) << auc;
    EXPECT_EQ(ChooseSetting({&best, &sparse}, false), 0u) << auc;
  }
}

struct Cut {
  const char* name;
  std::vector<std::vector<double>> labels, scores;
  std::optional<int> failed;  // the status of fold 2's training
  double cut;                 // NaN: refused with `message`
  std::string message;
};

void PrintTo(const Cut& c, std::ostream* os) { *os << c.name; }

// clang-format off
const Cut kCuts[] = {
    // Pooled, 0.1- 0.2- 0.4+ 0.5- 0.9+: the cut 0.3 calls both +1 rows and
    // two of three -1 rows right, balanced 5/6, more than 0.15 (4/6), 0.45
    // (7/12) and 0.7 (9/12). Fold 1 alone would cut at 0.55.
    {"pooled_over_the_folds", {{1, -1}, {1, -1, -1}}, {{0.9, 0.2}, {0.4, 0.5, 0.1}}, std::nullopt, 0.3, ""},
    // 0.1- 0.2+ 0.3- 0.4+: 0.15 and 0.35 both give 3/4; the lower is kept.
    {"lowest_of_equal_cuts", {{-1, 1}, {-1, 1}}, {{0.1, 0.2}, {0.3, 0.4}}, std::nullopt, 0.15, ""},
    {"fold_failed", {{1, -1}, {1, -1}}, {{0.9, 0.2}, {}}, -10, kNoAuc, "choosing the threshold, fold 2 of the training set: training failed"},
    {"every_score_the_same", {{1, -1}, {1, -1}}, {{0.5, 0.5}, {0.5, 0.5}}, std::nullopt, kNoAuc, "--threshold balanced found no cut: every out-of-fold score of the training set is the same"},
};
// clang-format on

class BalancedThreshold : public ::testing::TestWithParam<Cut> {};

TEST_P(BalancedThreshold, CutsTheOutOfFoldScoresOfEveryFold) {
  const Cut& c = GetParam();
  std::vector<FoldData> folds(c.labels.size());
  std::vector<FoldResult> results(c.labels.size());
  for (size_t k = 0; k < folds.size(); ++k) {
    folds[k] = TestRows(c.labels[k]);
    results[k] = Result(c.scores[k], {}, {});
  }
  if (c.failed) {
    results[1].result = c.failed;
    results[1].failure = "training failed";
  }
  if (!std::isnan(c.cut)) {
    EXPECT_DOUBLE_EQ(BalancedCut(folds, results), c.cut);
    return;
  }
  try {
    BalancedCut(folds, results);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Kind(),
              c.failed ? ErrorKind::kTrainingFailed : ErrorKind::kData);
    EXPECT_EQ(error.Status(), c.failed);
    EXPECT_EQ(error.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(Table,
                         BalancedThreshold,
                         ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace Korva::Validation
