#include "cli/tuning.h"

#include <algorithm>
#include <cmath>

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "korva/stepwise_settings.h"

namespace Korva::Cli {
namespace {

template <typename T>
std::string ListText(const std::vector<T>& values) {
  std::string text;
  for (T value : values)
    text += (text.empty() ? "" : ", ") + General(static_cast<double>(value));
  return text;
}

template <typename T>
void RefuseRepeated(const char* option, const std::vector<T>& values) {
  for (size_t i = 0; i < values.size(); ++i)
    if (std::find(values.begin() + i + 1, values.end(), values[i]) !=
        values.end())
      throw CliError(kExitUsage,
                     std::string(option) + " lists " +
                         General(static_cast<double>(values[i])) + " twice");
}

void RefuseOutOfRange(const char* option, const std::vector<double>& values) {
  for (double p : values)
    if (!(p > 0.0 && p <= 1.0))
      throw CliError(kExitUsage,
                     std::string(option) + " " + General(p) +
                         " is refused: a p-value of the grid must be above 0 "
                         "and at most 1" +
                         (p > 1.0 && p <= 100.0
                              ? " (p-values are fractions here; the dialog "
                                "shows them in percent)"
                              : ""));
}

}  // namespace

std::string Grid::Text() const {
  return std::to_string(settings.size()) +
         (settings.size() == 1 ? " setting" : " settings") + ": p-enter " +
         ListText(pEnter) + " x p-remove " + ListText(pRemove) +
         " x max-iter " + ListText(maxIter) +
         (skipped == 0 ? ""
                       : " (" + std::to_string(skipped) +
                             (skipped == 1 ? " pair" : " pairs") +
                             " with p-enter >= p-remove skipped)");
}

Json Grid::ToJson() const {
  return {{"p_enter", pEnter},
          {"p_remove", pRemove},
          {"max_iter", maxIter},
          {"settings", settings.size()},
          {"skipped", skipped}};
}

Grid MakeGrid(const GridOptions& options) {
  Grid grid{options.PEnter(), options.PRemove(), options.MaxIter(), {}, 0};
  RefuseOutOfRange("--p-enter", grid.pEnter);
  RefuseOutOfRange("--p-remove", grid.pRemove);
  RefuseRepeated("--p-enter", grid.pEnter);
  RefuseRepeated("--p-remove", grid.pRemove);
  RefuseRepeated("--max-iter", grid.maxIter);
  for (int maxIter : grid.maxIter)
    for (double pEnter : grid.pEnter)
      for (double pRemove : grid.pRemove) {
        if (!IsValidPRange(pEnter, pRemove)) {
          ++grid.skipped;
          continue;
        }
        HostKit::SettingsChange setting;
        setting.pEnter = pEnter;
        setting.pRemove = pRemove;
        setting.maxIter = maxIter;
        grid.settings.push_back(setting);
      }
  grid.skipped /= static_cast<int>(grid.maxIter.size());
  if (grid.settings.empty())
    throw CliError(kExitUsage,
                   "the grid holds no setting: in every pair of --p-enter " +
                       ListText(grid.pEnter) + " and --p-remove " +
                       ListText(grid.pRemove) +
                       " p-enter is not below p-remove");
  return grid;
}

std::string SettingText(const HostKit::SettingsChange& setting) {
  return "p-enter " + General(setting.pEnter.value_or(kDefaultPEnter)) +
         ", p-remove " + General(setting.pRemove.value_or(kDefaultPRemove)) +
         ", max-iter " +
         std::to_string(setting.maxIter.value_or(kDefaultMaxIter));
}

Json SettingJson(const HostKit::SettingsChange& setting) {
  return {{"p_enter", setting.pEnter.value_or(kDefaultPEnter)},
          {"p_remove", setting.pRemove.value_or(kDefaultPRemove)},
          {"max_iter", setting.maxIter.value_or(kDefaultMaxIter)}};
}

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

std::string Tuning::ChoiceText(const Grid& grid) const {
  if (!oneSe) return "the best mean AUC";
  const FoldSummary& best = runs[ranking[0]].summary;
  const FoldSummary& s = runs[chosen].summary;
  return "the one-standard-error rule: the fewest features on average (" +
         Fixed(s.meanSelected, 1) +
         ") of the settings whose mean AUC is at least " +
         Fixed(best.meanAuc - AucStandardError(best), 3) + ", the best (" +
         Fixed(best.meanAuc, 3) + ", " +
         SettingText(grid.settings[ranking[0]]) +
         ") less its standard error (" + Fixed(AucStandardError(best), 3) + ")";
}

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
    const FoldResult& r = t.runs[0].results[*t.runs[0].failed];
    throw CliError(r.threw ? kExitTrainingException : kExitTrainingFailed,
                   "every setting failed; " + SettingText(grid.settings[0]) +
                       ", " + plan.Label(*t.runs[0].failed) + ": " + r.failure);
  }
  t.ranking = RankSettings(t.Summaries());
  const std::optional<size_t> chosen = ChooseSetting(t.Summaries(), oneSe);
  if (!chosen)
    throw CliError(kExitData,
                   "no setting has an AUC to choose by: no fold's test rows "
                   "hold both classes");
  t.chosen = *chosen;
  return t;
}

}  // namespace Korva::Cli
