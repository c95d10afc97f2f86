#ifndef KORVA_CLI_TUNING_H_
#define KORVA_CLI_TUNING_H_

// Settings chosen by cross-validation: a grid of p-enter, p-remove and
// max-iter, every setting trained on every fold of a plan, and the choice
// among them. korva tune runs it on DATA, evaluate --tune inside each outer
// fold.

#include <optional>
#include <string>
#include <vector>

#include "cli/fold_plan.h"
#include "cli/fold_runner.h"
#include "cli/fold_summary.h"
#include "cli/options.h"
#include "cli/summary.h"

namespace Korva::Cli {

// Every p-enter with every p-remove and max-iter, in the order max-iter,
// p-enter, p-remove (the last changing fastest), without the pairs whose
// p-enter is not below their p-remove.
struct Grid {
  std::vector<double> pEnter, pRemove;
  std::vector<int> maxIter;
  std::vector<HostKit::SettingsChange> settings;
  int skipped = 0;  // pairs left out

  // "9 settings: p-enter 0.01, 0.05, 0.1 x p-remove 0.05, 0.1, 0.15, 0.2 x
  // max-iter 300 (3 pairs with p-enter >= p-remove skipped)".
  std::string Text() const;
  // {"p_enter": [...], "p_remove": [...], "max_iter": [...], "settings",
  // "skipped"}.
  Json ToJson() const;
};

// The grid of the lists given; CliError(kExitUsage) for a p-value not above
// 0 or above 1, a value given twice, or lists that leave no pair.
Grid MakeGrid(const GridOptions& options);

// "p-enter 0.05, p-remove 0.1, max-iter 300".
std::string SettingText(const HostKit::SettingsChange& setting);

// {"p_enter", "p_remove", "max_iter"}.
Json SettingJson(const HostKit::SettingsChange& setting);

// One setting over the folds.
struct SettingRun {
  std::vector<FoldResult> results;  // one per fold
  FoldSummary summary;              // when every fold succeeded
  std::optional<size_t> failed;     // else the first fold that failed
};

// What a tuning gave.
struct Tuning {
  std::vector<SettingRun> runs;  // in grid order
  std::vector<size_t> ranking;   // best mean AUC first
  size_t chosen = 0;
  bool oneSe = false;
  // The summaries ChooseSetting took: null for a failed setting.
  std::vector<const FoldSummary*> Summaries() const;
  // How the choice was made, in words, for the output.
  std::string ChoiceText(const Grid& grid) const;
};

// Trains every setting of `grid` (with the threshold and decisions of
// `decisions`) on every fold of `plan`, at most `jobs` at a time, and chooses
// (ChooseSetting). CliError with the status of the first failed training
// when every setting failed; CliError(kExitData) when no setting has a mean
// AUC (no fold's test rows hold both classes).
Tuning Tune(const Module& module,
            const Grid& grid,
            const FoldSettings& decisions,
            const Plan& plan,
            int jobs,
            bool oneSe,
            int features);

// The settings of `decisions` with the grid's setting s.
FoldSettings GridSetting(const Grid& grid,
                         const FoldSettings& decisions,
                         size_t s);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_TUNING_H_
