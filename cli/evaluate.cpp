// korva evaluate: K-fold cross-validation (stratified, by groups, or in
// contiguous blocks), or calibration on one set and test on another.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <numeric>
#include <set>

#include "cli/commands.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/fold_runner.h"
#include "cli/fold_summary.h"
#include "cli/input_digest.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/recording_input.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "data/csv_io.h"
#include "data/data_checks.h"
#include "data/folds.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

struct EvaluateOptions {
  DataSource data;
  std::vector<std::string> test;
  std::string report, summary, oofScores, module, memoryLimit;
  int folds = 5;
  std::uint64_t seed = 1;
  int jobs = 2;
  bool blocks = false, ignoreNames = false, quiet = false;
  ParameterOptions parameters;
  DecisionOptions decisions;
  CLI::Option* foldsOption = nullptr;
  CLI::Option* seedOption = nullptr;
};

void AddOptions(CLI::App* command, EvaluateOptions& o) {
  command
      ->add_option("DATA",
                   o.data.paths,
                   "data: a feature table (.csv or .mat; - reads standard "
                   "input), or recordings (EDF, BDF, GDF, .vhdr, headset "
                   "CSV), the runs of a session, cut by the recipe options")
      ->required();
  command
      ->add_option("--test",
                   o.test,
                   "test data: train on DATA, test on this (a table, or "
                   "recordings cut by DATA's recipe: repeat --test or "
                   "separate them by commas)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->delimiter(',');
  o.foldsOption =
      command->add_option("--folds", o.folds, "number of folds (default 5)")
          ->check(CLI::Range(2, 1000));
  o.seedOption =
      command
          ->add_option(
              "--seed", o.seed, "seed of the stratified fold split (default 1)")
          ->transform(kWholeNumber);
  command->add_flag("--blocks",
                    o.blocks,
                    "contiguous folds in file order instead of shuffled ones");
  command
      ->add_option(
          "--jobs", o.jobs, "folds trained at the same time (default 2)")
      ->check(CLI::Range(1, 64));
  command->add_option("--report", o.report, "HTML report to write");
  command->add_option(
      "--summary", o.summary, "JSON summary for scripts to write");
  command->add_option("--oof-scores",
                      o.oofScores,
                      "CSV of every row's out-of-fold score to write");
  command->add_flag(
      "--ignore-names",
      o.ignoreNames,
      "take the test data's columns by position even when their names differ");
  AddQuietOption(command, o.quiet);
  o.parameters.Add(command, false);
  o.decisions.Add(command);
  AddTableOptions(command,
                  o.data,
                  "CSV column of group names (runs, sessions), not a "
                  "feature: each group stays in one fold, and without "
                  "--folds each group is a fold of its own (default: a "
                  "column named run, unless --seed or --blocks is given)");
  AddMatOptions(command, o.data);
  AddRecipeOptions(command, o.data.recipeOptions);
  AddRecordingOptions(command, o.data.open);
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

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
  std::string GroupsText(size_t k) const {
    if (groupColumn.empty()) return "";
    std::string text = groupColumn + " ";
    for (size_t g = 0; g < groups[k].size(); ++g)
      text += (g ? ", " : "") + groups[k][g];
    return text;
  }
  // "fold 2 (run 6)": the name with the fold's groups.
  std::string Label(size_t k) const {
    return groupColumn.empty() ? names[k]
                               : names[k] + " (" + GroupsText(k) + ")";
  }
};

// The test set: a table, or recordings cut by the recipe DATA was cut by.
Plan TestSetPlan(const EvaluateOptions& o,
                 const Dataset& data,
                 const std::optional<Recording::Recipe>& recipe,
                 std::ostream* out) {
  DataSource testSource = o.data;
  testSource.paths = o.test;
  testSource.groups.clear();
  const std::string name = testSource.Name(), dataName = o.data.Name();
  if (ReadsRecordings(testSource) != recipe.has_value()) {
    const auto kind = [](const std::vector<std::string>& paths, bool cut) {
      return cut ? (paths.size() == 1 ? " is a recording" : " are recordings")
                 : " is a feature table";
    };
    throw CliError(kExitUsage,
                   "--test " + name + kind(o.test, !recipe) + " and DATA " +
                       dataName + kind(o.data.paths, recipe.has_value()) +
                       ": give both of one kind");
  }
  testSource.recipe = recipe;
  Dataset test = LoadData(testSource, true, out);
  if (test.cols != data.cols)
    throw CliError(kExitData,
                   name + " has " + std::to_string(test.cols) +
                       " feature columns but " + dataName + " has " +
                       std::to_string(data.cols));
  test = MatchColumns(
      std::move(test), data.names, dataName, name, o.ignoreNames, out);
  const Data::LabelCounts counts = Data::CountLabels(test);
  if (counts.positive == 0 || counts.negative == 0)
    Warn(name + ": only one class, so its AUC is not defined");
  if (out)
    *out << "calibration: " << dataName << ": " << DescribeSet(data)
         << "\ntest:        " << name << ": " << DescribeSet(test) << '\n';
  Plan plan;
  std::vector<int> rows(test.rows);
  std::iota(rows.begin(), rows.end(), 0);
  plan.folds.push_back(
      {[&data] { return data; }, data.rows, std::move(test), std::move(rows)});
  plan.names.push_back("test set");
  plan.trainClasses.push_back(Data::CountLabels(data));
  plan.title = "DOZOD: calibration on " + dataName + ", test on " + name;
  plan.scheme = "calibration on " + dataName + ", test on " + name;
  return plan;
}

// How the rows are dealt to folds.
enum class Split { kStratified, kBlocks, kGroups };

// The split the options choose: --blocks, --groups, or the groups of a
// column named run (or of several recordings) unless --seed asks for
// shuffled folds.
Split ChooseSplit(const EvaluateOptions& o, const Dataset& data) {
  if (o.blocks) return Split::kBlocks;
  const bool oneRecording =
      data.groupColumn == kRecordingGroups && data.groupNames.size() < 2;
  if (!data.groupColumn.empty() && !oneRecording &&
      (!o.data.groups.empty() || !o.seedOption->count()))
    return Split::kGroups;
  return Split::kStratified;
}

// Each row's fold by whole groups; refused with the counts when there are
// too few groups.
std::vector<int> AssignGroupFolds(const EvaluateOptions& o,
                                  const Dataset& data,
                                  int folds,
                                  std::string& scheme) {
  const int groups = static_cast<int>(data.groupNames.size());
  const std::string column = data.groupColumn;
  const bool recordings = column == kRecordingGroups;
  std::vector<int> fold = Data::GroupFolds(data.groups, groups, folds);
  const std::string count = std::to_string(groups) +
                            (recordings ? " recording" : " group") +
                            (groups == 1 ? "" : "s");
  if (fold.empty())
    throw CliError(
        kExitData,
        "cannot split " + o.data.Name() + " into folds of whole groups: " +
            (recordings ? count : "column " + column + " holds " + count) +
            ", " + std::to_string(folds) + " folds asked" +
            (groups < 2
                 ? " (give --seed for shuffled folds)"
                 : " (give --folds " + std::to_string(groups) + " or fewer)"));
  scheme = std::to_string(folds) + "-fold cross-validation by " +
           (recordings ? "recording" : "the groups in column " + column) +
           (folds < groups ? ""
            : recordings   ? " (leave one recording out)"
                           : " (leave one group out)");
  return fold;
}

// Each row's fold by the split the options choose; refused when the data
// cannot be split so.
std::vector<int> AssignFolds(const EvaluateOptions& o,
                             const Dataset& data,
                             Split split,
                             int folds,
                             std::string& scheme) {
  if (split == Split::kGroups) return AssignGroupFolds(o, data, folds, scheme);
  const std::string k = std::to_string(folds);
  std::vector<int> fold;
  if (split == Split::kBlocks) {
    fold = Data::BlockFolds(data.rows, folds);
    scheme = k + " contiguous blocks in file order";
    if (fold.empty())
      throw CliError(
          kExitData,
          "cannot split " + o.data.Name() + " into " + k + " blocks");
    return fold;
  }
  fold = Data::StratifiedFolds(data.labels, folds, o.seed);
  scheme =
      k + "-fold stratified cross-validation, seed " + std::to_string(o.seed);
  if (fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw CliError(kExitData,
                   "cannot split " + o.data.Name() + " into " + k +
                       " stratified folds: each fold needs a row of each "
                       "class, and the set has " +
                       std::to_string(counts.positive) +
                       " rows labelled +1 and " +
                       std::to_string(counts.negative) + " labelled -1");
  }
  return fold;
}

// The names of the groups whose rows are in fold k, in file order.
std::vector<std::string> GroupsOfFold(const Dataset& data,
                                      const std::vector<int>& fold,
                                      int k) {
  std::vector<bool> in(data.groupNames.size(), false);
  for (int r = 0; r < data.rows; ++r)
    if (fold[r] == k) in[data.groups[r]] = true;
  std::vector<std::string> names;
  for (size_t g = 0; g < in.size(); ++g)
    if (in[g]) names.push_back(data.groupNames[g]);
  return names;
}

Plan CrossValidationPlan(const EvaluateOptions& o,
                         const Dataset& data,
                         std::ostream* out) {
  Plan plan;
  const Split split = ChooseSplit(o, data);
  const int folds = o.foldsOption->count() || split != Split::kGroups
                        ? o.folds
                        : static_cast<int>(data.groupNames.size());
  const std::vector<int> fold = AssignFolds(o, data, split, folds, plan.scheme);
  plan.shuffled = split == Split::kStratified;
  if (split == Split::kGroups) plan.groupColumn = data.groupColumn;
  for (int k = 0; k < folds; ++k) {
    std::vector<int> rows;
    for (int r = 0; r < data.rows; ++r)
      if (fold[r] == k) rows.push_back(r);
    const int trainRows = data.rows - static_cast<int>(rows.size());
    plan.folds.push_back(
        {[&data, fold, k] { return Data::SubsetByFold(data, fold, k, false); },
         trainRows,
         Data::SubsetByFold(data, fold, k, true),
         std::move(rows)});
    plan.names.push_back("fold " + std::to_string(k + 1));
    Data::LabelCounts train = Data::CountLabels(data);
    const Data::LabelCounts test = Data::CountLabels(plan.folds.back().test);
    train.positive -= test.positive;
    train.negative -= test.negative;
    plan.trainClasses.push_back(train);
    if (split == Split::kGroups)
      plan.groups.push_back(GroupsOfFold(data, fold, k));
  }
  if (out)
    *out << o.data.Name() << ": " << DescribeSet(data) << '\n'
         << plan.scheme << '\n';
  plan.title = "DOZOD: " + plan.scheme + " on " + o.data.Name();
  return plan;
}

// What the table adds after a fold's numbers: its groups, and a class its
// test rows lack (the fold then has no AUC) or its training rows lack (its
// model learned nothing).
std::string FoldRemark(const Plan& plan, size_t k) {
  std::string remark = plan.GroupsText(k);
  const Data::LabelCounts test = Data::CountLabels(plan.folds[k].test);
  const Data::LabelCounts& train = plan.trainClasses[k];
  for (const auto& [count, what] :
       {std::pair{test.positive, "no test rows labelled +1"},
        std::pair{test.negative, "no test rows labelled -1"},
        std::pair{train.positive, "no training rows labelled +1"},
        std::pair{train.negative, "no training rows labelled -1"}})
    if (count == 0) remark += (remark.empty() ? "" : "; ") + std::string(what);
  return remark;
}

void PrintFoldTable(std::ostream& out,
                    const Plan& plan,
                    const std::vector<FoldResult>& results) {
  char line[256];
  std::snprintf(line,
                sizeof(line),
                "%-12s %6s %6s %9s %7s %9s %9s %10s\n",
                "",
                "train",
                "test",
                "selected",
                "AUC",
                "accuracy",
                "balanced",
                "time (ms)");
  out << line;
  for (size_t k = 0; k < results.size(); ++k) {
    const FoldResult& r = results[k];
    const FoldData& fold = plan.folds[k];
    if (!r.Succeeded()) {
      std::snprintf(line,
                    sizeof(line),
                    "%-12s %6d %6d  failed: ",
                    plan.names[k].c_str(),
                    fold.trainRows,
                    fold.test.rows);
      out << line << r.failure << '\n';
      continue;
    }
    const Report::Confusion c =
        Report::ConfusionAbove(r.scores, fold.test.labels, r.cut);
    std::snprintf(line,
                  sizeof(line),
                  "%-12s %6d %6d %9d %7s %9s %9s %10s\n",
                  plan.names[k].c_str(),
                  fold.trainRows,
                  fold.test.rows,
                  r.SelectedCount(),
                  Fixed(Report::Auc(r.scores, fold.test.labels), 3).c_str(),
                  Fixed(c.Accuracy(), 3).c_str(),
                  Fixed(c.BalancedAccuracy(), 3).c_str(),
                  Fixed(r.seconds * 1000.0, 1).c_str());
    const std::string remark = FoldRemark(plan, k);
    if (!remark.empty())
      std::strcpy(line + std::strlen(line) - 1, ("  " + remark + "\n").c_str());
    out << line;
  }
  out << std::flush;
}

std::string OverallText(const FoldSummary& s) {
  const int folds = static_cast<int>(s.aucs.size());
  const std::string over = s.aucFolds == folds
                               ? std::string()
                               : " over the " + std::to_string(s.aucFolds) +
                                     " of " + std::to_string(folds) +
                                     " folds with both classes";
  return "AUC " + Fixed(s.meanAuc, 3) + " +/- " + Fixed(s.aucSpread, 3) + over +
         " (pooled " + Fixed(s.pooledAuc, 3) + "), accuracy " +
         Fixed(s.meanAccuracy, 3) +
         "; pooled decisions: " + MetricsText(s.pooled);
}

// The decision rule of the folds' models in words, and the cuts it gave.
std::string FoldDecisionText(const EvaluateOptions& o,
                             const HostKit::StepwiseSettings& settings,
                             const std::vector<FoldResult>& results) {
  double low = results[0].cut, high = low;
  for (const FoldResult& r : results) {
    low = std::min(low, r.cut);
    high = std::max(high, r.cut);
  }
  const std::string cuts =
      low == high ? General(low) : General(low) + " to " + General(high);
  if (o.decisions.Balanced())
    return "a score above the cut that each fold's model chose for balanced "
           "accuracy in a " +
           std::to_string(kThresholdFolds) +
           "-fold cross-validation of its training rows (" + cuts +
           ") is the target";
  if (settings.thresholdMode == ClassifierBase::RangeMode)
    return "a score above the point " + General(settings.threshold * 100.0) +
           " % of the way from the mean -1 score to the mean +1 score of each "
           "fold's training rows (" +
           cuts + ") is the target";
  return "a score above " + cuts + " is the target";
}

Report::ReportContent EvaluationReport(const EvaluateOptions& o,
                                       const Dataset& data,
                                       const std::string& classifier,
                                       const std::string& decisions,
                                       const Plan& plan,
                                       const std::vector<FoldResult>& results,
                                       const FoldSummary& s,
                                       const Json& provenance) {
  Report::ReportContent content;
  content.title = plan.title;
  content.facts.push_back({"data", o.data.Name() + ": " + DescribeSet(data)});
  if (!o.test.empty())
    content.facts.push_back(
        {"test data",
         NameFiles(o.test) + ": " + DescribeSet(plan.folds[0].test)});
  content.facts.push_back({"scheme", plan.scheme});
  content.facts.push_back({"classifier", classifier});
  if (!decisions.empty()) content.facts.push_back({"decisions", decisions});
  for (size_t k = 0; k < results.size(); ++k) {
    const std::string remark = FoldRemark(plan, k);
    content.facts.push_back({plan.names[k],
                             (remark.empty() ? "" : remark + ": ") + "AUC " +
                                 Fixed(s.aucs[k], 3) + ", " +
                                 MetricsText(s.decisions[k]) + ", " +
                                 std::to_string(results[k].SelectedCount()) +
                                 " features, " + Duration(results[k].seconds)});
    content.rocs.push_back(
        {plan.Label(k), results[k].scores, plan.folds[k].test.labels});
  }
  const bool several = results.size() > 1;
  if (several) content.facts.push_back({"overall", OverallText(s)});
  for (const auto& fact : ProvenanceFacts(provenance))
    content.facts.push_back(fact);
  content.scores = s.pooledScores;
  content.labels = s.pooledLabels;
  content.scoresCaption = several ? "Out-of-fold scores of every fold together."
                                  : "Scores of the test set.";
  FillWeights(content, data.names, s.meanWeights, s.selected);
  if (several) {
    content.weightNotes.resize(data.cols);
    for (int i = 0; i < data.cols; ++i)
      if (s.timesSelected[i])
        content.weightNotes[i] = "(" + std::to_string(s.timesSelected[i]) +
                                 "/" + std::to_string(results.size()) + ")";
    content.weightsCaption =
        "Mean weight over the folds; in brackets, in how many folds the "
        "feature was selected.";
  }
  return content;
}

// row,fold,label,score for every test row, in file order.
std::string OutOfFoldCsv(const Plan& plan,
                         const std::vector<FoldResult>& results) {
  std::vector<std::string> lines;
  for (size_t k = 0; k < results.size(); ++k)
    for (size_t i = 0; i < plan.folds[k].testRows.size(); ++i) {
      const int row = plan.folds[k].testRows[i];
      if (lines.size() <= static_cast<size_t>(row)) lines.resize(row + 1);
      lines[row] = std::to_string(row + 1) + "," + std::to_string(k + 1) + "," +
                   Data::FormatDouble(plan.folds[k].test.labels[i]) + "," +
                   Data::FormatDouble(results[k].scores[i]);
    }
  std::string csv = "row,fold,label,score\n";
  for (const std::string& line : lines)
    if (!line.empty()) csv += line + "\n";
  return csv;
}

// The names of the groups in fold k; null without groups.
Json FoldGroupsJson(const Plan& plan, size_t k) {
  return plan.groupColumn.empty() ? Json() : Json(plan.groups[k]);
}

// The cut of every fold when they all decide at the same one.
std::optional<double> CommonCut(const std::vector<FoldResult>& results) {
  for (const FoldResult& r : results)
    if (r.cut != results[0].cut) return std::nullopt;
  return results[0].cut;
}

Json Summary(const EvaluateOptions& o,
             ClassifierBase& classifier,
             const Dataset& data,
             const Plan& plan,
             const std::vector<FoldResult>& results,
             const FoldSummary& s,
             const Json& provenance) {
  Json folds = Json::array();
  for (size_t k = 0; k < results.size(); ++k)
    folds.push_back(
        {{"name", plan.names[k]},
         {"groups", FoldGroupsJson(plan, k)},
         {"train_rows", plan.folds[k].trainRows},
         {"test_rows", plan.folds[k].test.rows},
         {"selected", results[k].SelectedCount()},
         {"seconds", results[k].seconds},
         {"metrics",
          MetricsJson(
              results[k].scores, plan.folds[k].test.labels, results[k].cut)}});
  Json parameters = ParametersJson(HostKit::ReadSettings(classifier));
  if (o.decisions.Balanced()) parameters["threshold"] = "balanced";
  Json summary = {{"command", "evaluate"},
                  {"provenance", provenance},
                  {"parameters", parameters},
                  {"data", DataJson(o.data.Name(), data)},
                  {"scheme", plan.scheme},
                  {"group_column",
                   plan.groupColumn.empty() ? Json() : Json(plan.groupColumn)},
                  {"folds", folds},
                  {"overall",
                   {{"mean_auc", s.meanAuc},
                    {"auc_spread", s.aucSpread},
                    {"mean_accuracy", s.meanAccuracy},
                    {"auc_folds", s.aucFolds},
                    {"pooled",
                     MetricsJson(s.pooledScores.size(),
                                 s.pooledAuc,
                                 s.pooled,
                                 CommonCut(results))}}}};
  return summary;
}

int LargestTrainingSet(const Plan& plan) {
  int rows = 0;
  for (const FoldData& fold : plan.folds) rows = std::max(rows, fold.trainRows);
  return rows;
}

void CheckSchemeOptions(const EvaluateOptions& o) {
  if (!o.test.empty() && (o.foldsOption->count() || o.seedOption->count() ||
                          o.blocks || !o.data.groups.empty()))
    throw CliError(kExitUsage,
                   "--folds, --seed, --groups and --blocks split DATA for "
                   "cross-validation; with --test the model is "
                   "trained on all of DATA");
  if (o.blocks && !o.data.groups.empty())
    throw CliError(kExitUsage,
                   "--blocks and --groups are two fold schemes: give one");
}

// The first fold that failed ends the command with its status.
void RefuseFailedFolds(const Plan& plan,
                       const std::vector<FoldResult>& results) {
  for (size_t k = 0; k < results.size(); ++k)
    if (!results[k].Succeeded())
      throw CliError(
          results[k].threw ? kExitTrainingException : kExitTrainingFailed,
          plan.Label(k) + ": " + results[k].failure);
}

// What an evaluation gave, for its outputs.
struct Evaluation {
  Plan plan;
  std::vector<FoldResult> results;
  FoldSummary summary;
  std::string decisions;  // the rule in words; "" for a score above 0
  std::optional<Recording::Recipe> recipe;  // DATA's, when it is recordings
};

void WriteOutputs(const EvaluateOptions& o,
                  const std::vector<CommandFile>& files,
                  const std::string& modulePath,
                  ClassifierBase& shown,
                  const Dataset& data,
                  const Evaluation& e,
                  std::ostream* out) {
  const Json provenance =
      o.report.empty() && o.summary.empty()
          ? Json()
          : Provenance(files,
                       modulePath,
                       shown,
                       e.plan.shuffled ? std::optional<std::uint64_t>(o.seed)
                                       : std::nullopt);
  if (!o.oofScores.empty())
    HostKit::WriteTextAtomically(o.oofScores, OutOfFoldCsv(e.plan, e.results));
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(
        o.summary,
        JsonText(
            Summary(o, shown, data, e.plan, e.results, e.summary, provenance)));
  if (o.report.empty()) return;
  Report::ReportContent content = EvaluationReport(o,
                                                   data,
                                                   HostKit::ShortInfo(shown),
                                                   e.decisions,
                                                   e.plan,
                                                   e.results,
                                                   e.summary,
                                                   provenance);
  if (e.recipe) content.epochs = EpochFeaturesOf(data, *e.recipe);
  SaveReport(o.report, content);
  if (out && !WritesDescriptor(o.report))
    *out << "report written to " << o.report << '\n';
}

int RunEvaluate(const EvaluateOptions& o) {
  ApplyMemoryLimit(o.memoryLimit);
  CheckSchemeOptions(o);
  std::vector<CommandFile> files;
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  for (const std::string& path : o.test)
    files.push_back({"--test", path, false});
  files.insert(files.end(),
               {{"--report", o.report, true},
                {"--summary", o.summary, true},
                {"--oof-scores", o.oofScores, true}});
  CheckDistinctFiles(files);
  for (const CommandFile& file : files)
    if (file.output && !file.path.empty()) HostKit::CheckWritable(file.path);
  if (!o.report.empty() || !o.summary.empty()) RecordInputDigests();
  std::ostream* out =
      MessageStream(o.quiet, {o.report, o.summary, o.oofScores});
  Evaluation e;
  const Dataset data = LoadData(o.data, true, out, &e.recipe);
  CheckTrainingSet(data, o.data.Name());
  FoldSettings settings{o.parameters.Get(), o.decisions.Balanced()};
  o.decisions.AddTo(settings.parameters);
  const std::string modulePath = HostKit::ChooseModulePath(o.module);
  auto module = HostKit::OpenModule(modulePath);
  // Settings are checked on a throwaway object, so that a refused range is
  // reported before any work starts; the same object names the classifier.
  ClassifierHandle shown = HostKit::NewClassifier(*module);
  HostKit::ApplySettings(*shown, settings.parameters);

  e.plan = o.test.empty() ? CrossValidationPlan(o, data, out)
                          : TestSetPlan(o, data, e.recipe, out);
  if (out) *out << HostKit::ShortInfo(*shown) << '\n' << std::flush;
  const int jobs = std::max(1, std::min<int>(o.jobs, e.plan.folds.size()));
  // The folds that train at the same time share the limit.
  HostKit::CheckTrainingMemory(
      LargestTrainingSet(e.plan), data.cols, false, jobs);
  e.results = RunFolds(*module, settings, e.plan.folds, jobs);
  if (out) PrintFoldTable(*out, e.plan, e.results);
  RefuseFailedFolds(e.plan, e.results);
  e.summary = SummarizeFolds(e.plan.folds, e.results, data.cols);
  const FoldSummary& s = e.summary;
  if (out && e.results.size() > 1)
    *out << "overall: " << OverallText(s) << ", " << Fixed(s.meanSelected, 1)
         << " features selected on average, training time "
         << Duration(s.seconds) << " in all\n";
  const HostKit::StepwiseSettings shownSettings = HostKit::ReadSettings(*shown);
  if (o.decisions.Balanced() || !DefaultDecisions(shownSettings))
    e.decisions = FoldDecisionText(o, shownSettings, e.results);
  if (out && !e.decisions.empty()) *out << "decisions: " << e.decisions << '\n';
  WarnNearBaseline(s.pooled,
                   e.results.size() > 1 ? "out-of-fold scores" : "test set");
  WriteOutputs(o, files, modulePath, *shown, data, e, out);
  return kExitOk;
}

}  // namespace

Command AddEvaluateCommand(CLI::App& korva) {
  auto options = std::make_shared<EvaluateOptions>();
  CLI::App* command = korva.add_subcommand(
      "evaluate",
      "K-fold cross-validation, or calibration on DATA and test on --test");
  AddOptions(command, *options);
  return {command, [options] { return RunEvaluate(*options); }};
}

}  // namespace Korva::Cli
