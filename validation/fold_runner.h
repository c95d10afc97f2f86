#ifndef KORVA_VALIDATION_FOLD_RUNNER_H_
#define KORVA_VALIDATION_FOLD_RUNNER_H_

// Trainings of a cross-validation: each fold's classifier trained on its
// calibration set and scored on its test set, folds and settings shared
// among worker processes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "korva/hostkit/settings.h"
#include "korva/module_loader.h"
#include "validation/error.h"

namespace Korva::Validation {

// One calibration/test run: a new classifier trained on one set and scored on
// another.
struct FoldResult {
  std::optional<int> result;    // training status; unset after an exception
  std::string failure;          // why it failed, when it did
  bool threw = false;           // training raised an exception
  double seconds = 0.0;         // training time
  std::vector<double> scores;   // one per test row (with the trained W0)
  std::vector<bool> selected;   // one per feature
  std::vector<double> weights;  // one per feature, 0 when not selected
  double cut = 0.0;             // the model's decisions: a score above it
  // No training ran to give it: its worker process ended without results
  // (killed, say by the kernel short of memory) or could not start. Not a
  // property of the setting, so a tuning cannot rank without it.
  bool lost = false;
  bool Succeeded() const { return result && *result == 0 && failure.empty(); }
  int SelectedCount() const;
};

// The error of a fold that did not succeed: "WHERE: FAILURE", of kind
// kTrainingException when its training threw, else kTrainingFailed with the
// training's status.
Error FoldError(const FoldResult& result, const std::string& where);

// One train/test pair of an evaluation. The calibration set is made only
// when its fold runs (in the fold's worker), so that the folds' copies of the
// data are neither made one after another nor held at the same time.
struct FoldData {
  std::function<Data::Dataset()> makeTrain;
  int trainRows = 0;
  // The test rows; their values (X) only when `source` is null.
  Data::Dataset test;
  std::vector<int> testRows;  // the test rows' places in their file, from 0
  // When the folds are rows of a set the evaluation holds: that set, the
  // calibration rows (ascending), and the test rows are its rows testRows,
  // scored in place. The folds of one such set train through the module's
  // shared trainings where it offers them (RunTasks).
  const Data::Dataset* source = nullptr;
  std::vector<int> sourceRows;
};

// How the classifier of each fold is made: the settings applied before it
// trains, and whether its threshold is then chosen for balanced accuracy by
// a cross-validation of the fold's own calibration set (ChooseBalancedCut).
struct FoldSettings {
  HostKit::SettingsChange parameters;
  bool balancedThreshold = false;
};

// Trains a new classifier of `module` with `settings` on a fold's
// calibration set and scores its test set with it. `train` is read in place
// (left as it is), so that one set serves every setting of a grid. Training
// failures are recorded, not thrown.
FoldResult TrainAndScore(const Module& module,
                         const FoldSettings& settings,
                         Data::Dataset& train,
                         const Data::Dataset& test);

// The results of a worker process as it sends them, every double exactly
// (the infinities and NaN too), and read back; DecodeFoldResults throws
// std::exception on bytes that EncodeFoldResults did not write.
std::vector<std::uint8_t> EncodeFoldResults(
    const std::vector<FoldResult>& results);
std::vector<FoldResult> DecodeFoldResults(
    const std::vector<std::uint8_t>& bytes);

// One task of an evaluation: a fold trained with some of the settings, one
// after another, on its calibration set made once.
struct FoldTask {
  size_t fold = 0;
  std::vector<size_t> settings;  // indices into the settings
};

// Runs every task, at most `jobs` at the same time; results[t][i] belongs to
// task t's i-th setting. With more than one job the tasks run in `jobs`
// worker processes, each taking the next task when it has finished one:
// the matrix library keeps global state (its trace of calls and its error
// text) that two trainings in one process would share. When every fold's
// calibration set is rows of one source set and the module offers shared
// trainings (HostKit::SharedRows), the set is opened here, before the
// workers start, and each task trains its settings through it at once; the
// results are those of separate trainings. Tasks of one setting each then
// run in this process (a worker's start costs as much as such a task).
std::vector<std::vector<FoldResult>> RunTasks(
    const Module& module,
    const std::vector<FoldSettings>& settings,
    const std::vector<FoldData>& folds,
    const std::vector<FoldTask>& tasks,
    int jobs);

// The tasks that run every setting on every fold: one per fold, or, when
// the folds alone would leave jobs idle (fewer folds than jobs, or a last
// round that runs fewer folds than jobs), each fold's settings shared among
// a few tasks (every share-th setting), so that every job has as much to do.
// With `together` (the settings of a task train together and share their
// fold's work, which a split would repeat) a fold is split only when there
// are fewer folds than jobs, into runs of neighbouring settings.
std::vector<FoldTask> GridTasks(size_t folds,
                                size_t settings,
                                int jobs,
                                bool together = false);

// Every setting on every fold (GridTasks): results[s][k] is setting s on
// fold k.
std::vector<std::vector<FoldResult>> RunGrid(
    const Module& module,
    const std::vector<FoldSettings>& settings,
    const std::vector<FoldData>& folds,
    int jobs);

// Every fold with one setting; results in fold order.
std::vector<FoldResult> RunFolds(const Module& module,
                                 const FoldSettings& settings,
                                 const std::vector<FoldData>& folds,
                                 int jobs);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_FOLD_RUNNER_H_
