#include "validation/fold_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace Korva::Validation {
namespace {

struct TasksCase {
  size_t folds, settings;
  int jobs;
  // Each task as "fold:setting,setting,...".
  std::vector<std::string> tasks;
  bool together = false;
};

void PrintTo(const TasksCase& c, std::ostream* os) {
  *os << c.folds << " folds, " << c.settings << " settings, " << c.jobs
      << " jobs" << (c.together ? ", together" : "");
}

// Shares per fold: the fewest (from ceil(jobs / folds), at most one per
// setting) that make folds x shares a multiple of the jobs, else that
// first number.
// clang-format off
const TasksCase kTasks[] = {
    // 4 folds keep 2 jobs busy: one task per fold.
    {4, 3, 2, {"0:0,1,2", "1:0,1,2", "2:0,1,2", "3:0,1,2"}},
    // 5 folds would leave a job idle in the last round: two shares each.
    {5, 3, 2, {"0:0,2", "0:1", "1:0,2", "1:1", "2:0,2", "2:1", "3:0,2", "3:1", "4:0,2", "4:1"}},
    // 5 x 3 shares = 15 tasks, 5 rounds of 3.
    {5, 7, 3, {"0:0,3,6", "0:1,4", "0:2,5", "1:0,3,6", "1:1,4", "1:2,5", "2:0,3,6", "2:1,4", "2:2,5", "3:0,3,6", "3:1,4", "3:2,5", "4:0,3,6", "4:1,4", "4:2,5"}},
    // Fewer folds than jobs: the settings shared so that every job runs.
    {2, 3, 4, {"0:0,2", "0:1", "1:0,2", "1:1"}},
    // Never more shares than settings, even when no number of shares fits.
    {3, 2, 8, {"0:0", "0:1", "1:0", "1:1", "2:0", "2:1"}},
    {5, 1, 2, {"0:0", "1:0", "2:0", "3:0", "4:0"}},
    {3, 2, 0, {"0:0,1", "1:0,1", "2:0,1"}},
    // Settings trained together: a fold is split only for jobs that would
    // have no fold, into runs of neighbours.
    {5, 6, 2, {"0:0,1,2,3,4,5", "1:0,1,2,3,4,5", "2:0,1,2,3,4,5", "3:0,1,2,3,4,5", "4:0,1,2,3,4,5"}, true},
    {2, 5, 4, {"0:0,1", "0:2,3,4", "1:0,1", "1:2,3,4"}, true},
    {1, 2, 3, {"0:0", "0:1"}, true},
};
// clang-format on

class GridTasksTable : public ::testing::TestWithParam<TasksCase> {};

TEST_P(GridTasksTable, ShareEachFoldsSettingsAmongTheJobs) {
  const TasksCase& c = GetParam();
  std::vector<std::string> tasks;
  for (const FoldTask& task : GridTasks(c.folds, c.settings, c.jobs, c.together)) {
    std::string text = std::to_string(task.fold) + ":";
    for (size_t i = 0; i < task.settings.size(); ++i)
      text += (i ? "," : "") + std::to_string(task.settings[i]);
    tasks.push_back(text);
  }
  EXPECT_EQ(tasks, c.tasks);
}

INSTANTIATE_TEST_SUITE_P(Table, GridTasksTable, ::testing::ValuesIn(kTasks));

FoldResult Result(std::vector<double> values) {
  FoldResult r;
  r.result = 0;
  r.seconds = 0.5;
  r.cut = -0.25;
  r.scores = values;
  r.weights = std::move(values);
  r.selected = {true, false, true};
  return r;
}

// Worker processes send their results as bytes: every double comes back with
// the same bits (NaN as a NaN), as the scores of one process would be.
TEST(FoldResults, CrossTheWorkerPipeExactly) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {
      inf, -inf, nan, -0.0, 4.9e-324, 1.7976931348623157e308, 0.1, -2.5e-300};
  FoldResult sent = Result(values);
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
  EXPECT_EQ(got.seconds, 0.5);
  EXPECT_EQ(got.cut, -0.25);
  EXPECT_TRUE(got.threw);
  EXPECT_FALSE(list[1].result);
}

// A worker that died half-way, or wrote something else, gives no results.
TEST(FoldResults, AnythingButWholeResultsIsRefused) {
  const std::vector<std::uint8_t> bytes =
      EncodeFoldResults({Result({1.0, 2.0}), Result({})});
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_ANY_THROW(DecodeFoldResults({bytes.begin(), bytes.begin() + n}))
        << n << " of " << bytes.size() << " bytes";
  std::vector<std::uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_ANY_THROW(DecodeFoldResults(longer));
  EXPECT_ANY_THROW(DecodeFoldResults({0x7b, 0x7d}));  // "{}" as JSON text
  EXPECT_TRUE(DecodeFoldResults(EncodeFoldResults({})).empty());
}

struct FailureCase {
  const char* name;
  std::optional<int> status;
  bool threw;
  ErrorKind kind;
  std::optional<int> errorStatus;
};

// clang-format off
const FailureCase kFailures[] = {
    {"failed_training", -10, false, ErrorKind::kTrainingFailed, -10},
    {"threw", std::nullopt, true, ErrorKind::kTrainingException, std::nullopt},
    {"no_result", std::nullopt, false, ErrorKind::kTrainingFailed, std::nullopt},
};
// clang-format on

class FoldErrors : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FoldErrors, SayWhereAndHowTheTrainingFailed) {
  const FailureCase& c = GetParam();
  FoldResult r;
  r.result = c.status;
  r.threw = c.threw;
  r.failure = "why";
  const Error error = FoldError(r, "fold 2");
  EXPECT_EQ(error.Kind(), c.kind);
  EXPECT_EQ(error.Status(), c.errorStatus);
  EXPECT_STREQ(error.what(), "fold 2: why");
}

INSTANTIATE_TEST_SUITE_P(Table,
                         FoldErrors,
                         ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace Korva::Validation
