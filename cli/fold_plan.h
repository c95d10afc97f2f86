#ifndef KORVA_CLI_FOLD_PLAN_H_
#define KORVA_CLI_FOLD_PLAN_H_

// How the options of a cross-validation deal a data set's rows to folds.
// evaluate and tune share it, so the same options give both commands the
// same folds (and a nested evaluation's inner folds the same scheme).

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/data_input.h"
#include "cli/fold_runner.h"
#include "cli/fold_summary.h"
#include "cli/summary.h"
#include "data/data_checks.h"
#include "report/html_report.h"

namespace Korva::Cli {

// --folds, --seed and --blocks as given; --groups is the data source's.
struct FoldOptions {
  int folds = 5;
  std::uint64_t seed = 1;
  bool blocks = false;
  CLI::Option* foldsOption = nullptr;
  CLI::Option* seedOption = nullptr;
  bool FoldsGiven() const { return foldsOption && foldsOption->count(); }
  bool SeedGiven() const { return seedOption && seedOption->count(); }
};

// --folds, --seed, --blocks and the table options with --groups as a fold
// scheme, on a command that cross-validates `data`.
void AddFoldOptions(CLI::App* command, FoldOptions& folds, DataSource& data);

// CliError(kExitUsage) when --blocks and --groups are both given.
void CheckFoldOptions(const FoldOptions& folds, const DataSource& data);

// The train/test pairs of an evaluation and how the report names them.
struct Plan {
  std::vector<FoldData> folds;
  std::vector<std::string> names;  // "fold 2"
  std::string groupColumn;         // "" when the folds are not by groups
  std::vector<std::vector<std::string>> groups;  // the groups of each fold
  std::vector<Data::LabelCounts> trainClasses;   // of each fold's training rows
  std::string title;
  std::string scheme;     // "5-fold stratified cross-validation, seed 1"
  bool shuffled = false;  // the folds were dealt with the seed
  // "run 1, 4": fold k's groups; "" when the folds are not by groups.
  std::string GroupsText(size_t k) const;
  // "fold 2 (run 6)": the name with the fold's groups.
  std::string Label(size_t k) const;
};

// The folds of `data` as the options deal them: by groups when the data has
// a group column (given with --groups, or a column named run unless --seed
// asks for shuffled folds; each group a fold without --folds), in blocks
// with --blocks, else stratified with the seed. `groupsGiven`: --groups was
// given. `what` names the set in messages ("runs.csv", "the training rows of
// fold 2"). The folds' training sets are made from `data`, which must
// outlive the plan. CliError(kExitData) when the data cannot be split so.
Plan CrossValidationPlan(const FoldOptions& o,
                         bool groupsGiven,
                         const Dataset& data,
                         const std::string& what);

// What a fold's line adds after its numbers: its groups, and a class its
// test rows lack (the fold then has no AUC) or its training rows lack (its
// model learned nothing).
std::string FoldRemark(const Plan& plan, size_t k);

// The most training rows of any fold.
int LargestTrainingSet(const Plan& plan);

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

}  // namespace Korva::Cli

#endif  // KORVA_CLI_FOLD_PLAN_H_
