#include "validation/tuning.h"

#include <algorithm>

namespace Korva::Validation {

FoldSettings GridSetting(const Grid& grid,
                         const FoldSettings& decisions,
                         size_t s) {
  FoldSettings settings = decisions;
  settings.parameters.pEnter = grid.settings[s].pEnter;
  settings.parameters.pRemove = grid.settings[s].pRemove;
  settings.parameters.maxIter = grid.settings[s].maxIter;
  return settings;
}

std::vector<const FoldSummary*> Tuning::Summaries() const {
  std::vector<const FoldSummary*> summaries;
  for (const SettingRun& run : runs)
    summaries.push_back(run.failed ? nullptr : &run.summary);
  return summaries;
}

namespace {

// A setting whose fold was lost was never tried there: ranking the rest
// would report a choice the grid did not make.
void RefuseLostResults(const Grid& grid,
                       const Plan& plan,
                       const std::vector<std::vector<FoldResult>>& results) {
  for (size_t s = 0; s < results.size(); ++s)
    for (size_t k = 0; k < results[s].size(); ++k)
      if (results[s][k].lost)
        throw FoldError(results[s][k],
                        plan.Label(k) + ", " + SettingText(grid.settings[s]));
}

}  // namespace

Tuning Tune(const Module& module,
            const Grid& grid,
            const FoldSettings& decisions,
            const Plan& plan,
            int jobs,
            bool oneSe,
            int features) {
  std::vector<FoldSettings> settings;
  for (size_t s = 0; s < grid.settings.size(); ++s)
    settings.push_back(GridSetting(grid, decisions, s));
  std::vector<std::vector<FoldResult>> results =
      RunGrid(module, settings, plan.folds, jobs);
  RefuseLostResults(grid, plan, results);
  Tuning t;
  t.oneSe = oneSe;
  for (std::vector<FoldResult>& folds : results) {
    SettingRun run{std::move(folds), {}, std::nullopt};
    for (size_t k = 0; k < run.results.size() && !run.failed; ++k)
      if (!run.results[k].Succeeded()) run.failed = k;
    if (!run.failed)
      run.summary = SummarizeFolds(plan.folds, run.results, features);
    t.runs.push_back(std::move(run));
  }
  if (std::all_of(t.runs.begin(), t.runs.end(), [](const SettingRun& r) {
        return r.failed.has_value();
      })) {
    const size_t k = *t.runs[0].failed;
    throw FoldError(t.runs[0].results[k],
                    "every setting failed; " + SettingText(grid.settings[0]) +
                        ", " + plan.Label(k));
  }
  t.ranking = RankSettings(t.Summaries());
  const std::optional<size_t> chosen = ChooseSetting(t.Summaries(), oneSe);
  if (!chosen)
    throw Error(ErrorKind::kData,
                "no setting has an AUC to choose by: no fold's test rows "
                "hold both classes");
  t.chosen = *chosen;
  return t;
}

}  // namespace Korva::Validation
