#ifndef KORVA_VALIDATION_TUNING_H_
#define KORVA_VALIDATION_TUNING_H_

// Settings chosen by cross-validation: every setting of a grid trained on
// every fold of a plan, and the choice among them. korva tune runs it on
// DATA, evaluate --tune inside each outer fold.

#include <optional>
#include <vector>

#include "validation/fold_plan.h"
#include "validation/fold_runner.h"
#include "validation/fold_summary.h"
#include "validation/grid.h"

namespace Korva::Validation {

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
};

// Trains every setting of `grid` (with the threshold and decisions of
// `decisions`) on every fold of `plan`, at most `jobs` at a time, and chooses
// (ChooseSetting). FoldError of the first setting's first failed fold when
// every setting failed, or of the first lost one (FoldResult::lost: its
// worker died) whatever the others gave; Error(kData) when no setting has a
// mean AUC (no fold's test rows hold both classes).
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

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_TUNING_H_
