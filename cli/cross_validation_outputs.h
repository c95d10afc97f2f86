#ifndef KORVA_CLI_CROSS_VALIDATION_OUTPUTS_H_
#define KORVA_CLI_CROSS_VALIDATION_OUTPUTS_H_

// What korva writes of a cross-validation or a tuning that the engine
// (validation/) ran: the words, the JSON and the charts. The engine's names
// are used here, and in the commands that include this, unqualified.

#include <string>
#include <vector>

#include "cli/summary.h"
#include "report/html_report.h"
#include "validation/balanced_threshold.h"
#include "validation/fold_plan.h"
#include "validation/fold_runner.h"
#include "validation/fold_summary.h"
#include "validation/grid.h"
#include "validation/tuning.h"

namespace Korva::Cli {

using Validation::AucStandardError;
using Validation::FoldData;
using Validation::FoldResult;
using Validation::FoldSettings;
using Validation::FoldSummary;
using Validation::FoldTask;
using Validation::Grid;
using Validation::GridSetting;
using Validation::kThresholdFolds;
using Validation::LargestTrainingSet;
using Validation::MakePlan;
using Validation::Plan;
using Validation::RunFolds;
using Validation::RunTasks;
using Validation::SettingRun;
using Validation::SettingText;
using Validation::SummarizeFolds;
using Validation::Tune;
using Validation::Tuning;

// What a fold's line adds after its numbers: its groups, and a class its
// test rows lack (the fold then has no AUC) or its training rows lack (its
// model learned nothing).
std::string FoldRemark(const Plan& plan, size_t k);

// {"name", "groups", "train_rows", "test_rows", "selected", "selection",
// "seconds", "metrics"} of fold k's result; the selection as
// [{"index" (from 1), "name", "weight"}] in feature order.
Json FoldJson(const Plan& plan,
              size_t k,
              const FoldResult& result,
              const std::vector<std::string>& names);

// {"mean_auc", "auc_spread", "mean_accuracy", "auc_folds", "mean_selected",
// "pooled": metrics, with the cut when every fold decides at the same one}.
Json OverallJson(const FoldSummary& s, const std::vector<FoldResult>& results);

// The charts of a cross-validation: one ROC curve per fold, the out-of-fold
// scores, and the mean weights with the number of folds that selected each
// feature.
void FillFoldCharts(Report::ReportContent& content,
                    const Plan& plan,
                    const std::vector<FoldResult>& results,
                    const FoldSummary& s,
                    const std::vector<std::string>& names);

// "9 settings: p-enter 0.01, 0.05, 0.1 x p-remove 0.05, 0.1, 0.15, 0.2 x
// max-iter 300 (3 pairs with p-enter >= p-remove skipped)".
std::string GridText(const Grid& grid);

// {"p_enter": [...], "p_remove": [...], "max_iter": [...], "settings",
// "skipped"}.
Json GridJson(const Grid& grid);

// {"p_enter", "p_remove", "max_iter"}.
Json SettingJson(const HostKit::SettingsChange& setting);

// How the tuning chose among the settings of `grid`, in words.
std::string ChoiceRuleText(const Tuning& t, const Grid& grid);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_CROSS_VALIDATION_OUTPUTS_H_
