#include "validation/fold_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "validation/folds.h"

namespace Korva::Validation {
namespace {

// A set of one row per label ('+' labelled +1, '-' labelled -1), no
// features, and each row's group in `column` (none when it is empty).
Data::Dataset Set(const std::string& labels,
                  const std::string& column,
                  const std::vector<std::string>& groups) {
  Data::Dataset data;
  data.rows = static_cast<int>(labels.size());
  data.hasLabels = true;
  for (char c : labels) data.labels.push_back(c == '+' ? 1.0 : -1.0);
  data.groupColumn = column;
  for (const std::string& group : groups) {
    size_t g = 0;
    while (g < data.groupNames.size() && data.groupNames[g] != group) ++g;
    if (g == data.groupNames.size()) data.groupNames.push_back(group);
    data.groups.push_back(static_cast<int>(g));
  }
  return data;
}

// A scheme: the number of folds, the seed, and flags: s shuffle, b blocks,
// g groups given, r recordings.
Scheme S(int folds, std::uint64_t seed, const std::string& flags) {
  Scheme s;
  s.folds = folds;
  s.seed = seed;
  s.shuffle = flags.find('s') != std::string::npos;
  s.blocks = flags.find('b') != std::string::npos;
  s.groupsGiven = flags.find('g') != std::string::npos;
  s.recordings = flags.find('r') != std::string::npos;
  return s;
}

struct PlanCase {
  const char* name;
  std::string labels, column;
  std::vector<std::string> groups;
  Scheme scheme;
  // Each row's fold; empty for stratified folds, which must hold the
  // classes in equal shares. With `refused`, none.
  std::vector<int> fold;
  std::string text;   // the scheme, or the refusal
  std::string label;  // of the last fold
  bool refused = false;
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kRuns = {"a", "b", "a", "c", "b", "c"};

// clang-format off
const PlanCase kPlans[] = {
    // Row r in block floor(3 r / 7).
    {"blocks_in_file_order", "+-+-+--", "", {}, S(3, 1, "b"), {0, 0, 0, 1, 1, 2, 2}, "3 contiguous blocks in file order", "fold 3"},
    {"blocks_over_a_run_column", "+-+-", "run", {"a", "a", "b", "b"}, S(2, 1, "b"), {0, 0, 1, 1}, "2 contiguous blocks in file order", "fold 2"},
    // A column named run makes the folds, each group one, unless shuffled
    // folds are asked for; a named column makes them whatever the seed.
    {"run_column_each_group_a_fold", "+-+--+", "run", kRuns, S(0, 1, ""), {0, 1, 0, 2, 1, 2}, "3-fold cross-validation by the groups in column run (leave one group out)", "fold 3 (run c)"},
    {"named_groups_despite_seed", "+-+--+", "run", kRuns, S(0, 7, "sg"), {0, 1, 0, 2, 1, 2}, "3-fold cross-validation by the groups in column run (leave one group out)", "fold 3 (run c)"},
    {"run_column_shuffled_is_stratified", "+-+--+", "run", kRuns, S(3, 7, "s"), {}, "3-fold stratified cross-validation, seed 7", "fold 3"},
    // Fewer folds than groups: a (3 rows) to fold 1, b (2) to fold 2, then
    // c (1) to the fold with fewer rows, 2.
    {"groups_dealt_largest_first", "+-+-+-", "run", {"a", "a", "b", "a", "b", "c"}, S(2, 1, ""), {0, 0, 1, 0, 1, 1}, "2-fold cross-validation by the groups in column run", "fold 2 (run b, c)"},
    {"two_recordings", "+-+-", "recording", {"r1", "r1", "r2", "r2"}, S(0, 1, "r"), {0, 0, 1, 1}, "2-fold cross-validation by recording (leave one recording out)", "fold 2 (recording r2)"},
    {"one_recording_is_stratified", "+-+-", "recording", {"r1", "r1", "r1", "r1"}, S(2, 1, "r"), {}, "2-fold stratified cross-validation, seed 1", "fold 2"},
    // As many rows of a class as folds is enough.
    {"five_stratified_by_default", "+-+-+-+-+-", "", {}, S(0, 1, ""), {}, "5-fold stratified cross-validation, seed 1", "fold 5"},
    {"too_few_groups", "+-+-", "run", {"a", "a", "b", "b"}, S(3, 1, ""), {}, "cannot split runs.csv into folds of whole groups: column run holds 2 groups, 3 folds asked (give --folds 2 or fewer)", "", true},
    {"one_group", "+-+-", "run", {"a", "a", "a", "a"}, S(0, 1, ""), {}, "cannot split runs.csv into folds of whole groups: column run holds 1 group, 1 folds asked (give --seed for shuffled folds)", "", true},
    {"too_few_recordings", "+-+-", "recording", {"r1", "r1", "r2", "r2"}, S(3, 1, "r"), {}, "cannot split runs.csv into folds of whole groups: 2 recordings, 3 folds asked (give --folds 2 or fewer)", "", true},
    {"too_few_of_a_class", "+++------", "", {}, S(0, 1, ""), {}, "cannot split runs.csv into 5 stratified folds: each fold needs a row of each class, and the set has 3 rows labelled +1 and 6 labelled -1", "", true},
    {"too_few_rows_for_blocks", "+-+", "", {}, S(4, 1, "b"), {}, "cannot split runs.csv into 4 blocks", "", true},
};
// clang-format on

class FoldPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(FoldPlan, DealsTheRowsAsTheSchemeSays) {
  const PlanCase& c = GetParam();
  const Data::Dataset data = Set(c.labels, c.column, c.groups);
  if (c.refused) {
    try {
      MakePlan(c.scheme, data, "runs.csv");
      ADD_FAILURE() << "not refused";
    } catch (const Error& error) {
      EXPECT_EQ(error.Kind(), ErrorKind::kData);
      EXPECT_EQ(error.what(), c.text);
    }
    return;
  }
  const Plan plan = MakePlan(c.scheme, data, "runs.csv");
  EXPECT_EQ(plan.scheme, c.text);
  EXPECT_EQ(plan.Label(plan.folds.size() - 1), c.label);
  EXPECT_EQ(plan.shuffled, c.fold.empty());
  const int folds = static_cast<int>(plan.folds.size());
  std::vector<int> fold(data.rows, -1);
  for (int k = 0; k < folds; ++k) {
    const FoldData& f = plan.folds[k];
    std::vector<int> counts(2, 0);
    for (size_t i = 0; i < f.testRows.size(); ++i) {
      EXPECT_EQ(fold[f.testRows[i]], -1) << "row tested twice";
      fold[f.testRows[i]] = k;
      EXPECT_EQ(f.test.labels[i], data.labels[f.testRows[i]]);
      ++counts[f.test.labels[i] > 0];
    }
    const Data::Dataset train = f.makeTrain();
    EXPECT_EQ(train.rows, data.rows - f.test.rows);
    EXPECT_EQ(train.rows, f.trainRows);
    const Data::LabelCounts trained = Data::CountLabels(train);
    EXPECT_EQ(trained.positive, plan.trainClasses[k].positive);
    EXPECT_EQ(trained.negative, plan.trainClasses[k].negative);
    if (c.fold.empty()) {
      const Data::LabelCounts all = Data::CountLabels(data);
      EXPECT_EQ(counts[1], all.positive / folds) << "fold " << k;
      EXPECT_EQ(counts[0], all.negative / folds) << "fold " << k;
    }
  }
  if (!c.fold.empty()) {
    EXPECT_EQ(fold, c.fold);
  }
}

INSTANTIATE_TEST_SUITE_P(Table,
                         FoldPlan,
                         ::testing::ValuesIn(kPlans),
                         [](const auto& info) { return info.param.name; });

TEST(FoldPlan, TrainingSetsNumberTheirGroupsAgainInOrderOfAppearance) {
  const Data::Dataset data = Set("+-+--+", "run", kRuns);
  const Plan plan = MakePlan(S(0, 1, ""), data, "runs.csv");
  const Data::Dataset train = plan.folds[0].makeTrain();  // without run a
  EXPECT_EQ(train.groupNames, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(train.groups, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(plan.groups[1], std::vector<std::string>{"b"});
  EXPECT_EQ(LargestTrainingSet(plan), 4);
}

TEST(FoldPlan, RefusalsNameTheCallersInputsOrNone) {
  const Data::Dataset data = Set("+-+-", "groups", {"a", "a", "b", "b"});
  const InputNames python{"p_enter", "p_remove", "max_iter", "", ""};
  try {
    DealFolds(S(3, 1, "g"), data, "X", python);
    ADD_FAILURE() << "not refused";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(),
                 "cannot split X into folds of whole groups: column groups "
                 "holds 2 groups, 3 folds asked");
  }
}

// 12 rows +1, 30 rows -1 and 3 others in 5 folds: 2 or 3 rows +1 and 6 rows
// -1 in each, 9 rows in all.
TEST(StratifiedFolds, EveryFoldHoldsEachClassInProportionAndTheSeedDecides) {
  std::vector<double> labels(12, 1.0);
  labels.resize(42, -1.0);
  labels.resize(45, 0.5);
  const std::vector<int> fold = StratifiedFolds(labels, 5, 7);
  ASSERT_EQ(fold.size(), labels.size());
  std::vector<int> positives(5), negatives(5), sizes(5);
  for (size_t i = 0; i < fold.size(); ++i) {
    ASSERT_GE(fold[i], 0);
    ASSERT_LT(fold[i], 5);
    ++sizes[fold[i]];
    positives[fold[i]] += labels[i] == 1.0;
    negatives[fold[i]] += labels[i] == -1.0;
  }
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(positives[k] == 2 || positives[k] == 3) << positives[k];
    EXPECT_EQ(negatives[k], 6);
    EXPECT_EQ(sizes[k], 9);
  }
  EXPECT_EQ(StratifiedFolds(labels, 5, 7), fold);
  EXPECT_NE(StratifiedFolds(labels, 5, 8), fold);
  EXPECT_TRUE(StratifiedFolds(labels, 13, 1).empty());
  EXPECT_FALSE(StratifiedFolds(labels, 12, 1).empty());
  EXPECT_TRUE(StratifiedFolds(labels, 1, 1).empty());
}

}  // namespace
}  // namespace Korva::Validation
