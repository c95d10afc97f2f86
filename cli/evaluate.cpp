// korva evaluate: stratified K-fold cross-validation, or calibration on one
// set and test on another.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/fold_runner.h"
#include "cli/fold_summary.h"
#include "data/data_checks.h"
#include "data/folds.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

struct EvaluateOptions {
  DataSource data;
  std::string test, report, module;
  int folds = 5;
  std::uint64_t seed = 1;
  int jobs = 2;
  ParameterOptions parameters;
  CLI::Option* foldsOption = nullptr;
  CLI::Option* seedOption = nullptr;
};

void AddOptions(CLI::App* command, EvaluateOptions& o) {
  command->add_option("DATA", o.data.path, "data (.csv or .mat)")->required();
  command->add_option(
      "--test", o.test, "test data: train on DATA, test on this");
  o.foldsOption =
      command->add_option("--folds", o.folds, "number of folds (default 5)")
          ->check(CLI::Range(2, 1000));
  o.seedOption =
      command
          ->add_option("--seed", o.seed, "seed of the fold split (default 1)")
          ->check(kWholeNumber);
  command
      ->add_option(
          "--jobs", o.jobs, "folds trained at the same time (default 2)")
      ->check(CLI::Range(1, 64));
  command->add_option("--report", o.report, "HTML report to write");
  o.parameters.Add(command, false);
  AddMatOptions(command, o.data);
  AddModuleOption(command, o.module);
}

// The train/test pairs of an evaluation and how the report names them.
struct Plan {
  std::vector<FoldData> folds;
  std::vector<std::string> names;
  std::string title;
};

Plan TestSetPlan(const EvaluateOptions& o, const Dataset& data) {
  DataSource testSource = o.data;
  testSource.path = o.test;
  Dataset test = LoadData(testSource, true);
  if (test.cols != data.cols)
    throw CliError(kExitData,
                   o.test + " has " + std::to_string(test.cols) +
                       " feature columns but " + o.data.path + " has " +
                       std::to_string(data.cols));
  for (const std::string& warning : Data::LabelWarnings(test, o.test))
    Warn(warning);
  std::cout << "calibration: " << o.data.path << ": " << DescribeSet(data)
            << "\ntest:        " << o.test << ": " << DescribeSet(test) << '\n';
  Plan plan;
  plan.folds.push_back({data, std::move(test)});
  plan.names.push_back("test set");
  plan.title = "DOZOD: calibration on " + o.data.path + ", test on " + o.test;
  return plan;
}

Plan CrossValidationPlan(const EvaluateOptions& o, const Dataset& data) {
  const std::vector<int> fold =
      Data::StratifiedFolds(data.labels, o.folds, o.seed);
  if (fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw CliError(
        kExitData,
        "cannot split " + o.data.path + " into " + std::to_string(o.folds) +
            " stratified folds: each fold needs a row of each "
            "class, and the set has " +
            std::to_string(counts.positive) + " rows labelled +1 and " +
            std::to_string(counts.negative) + " labelled -1");
  }
  Plan plan;
  for (int k = 0; k < o.folds; ++k) {
    plan.folds.push_back({Data::SubsetByFold(data, fold, k, false),
                          Data::SubsetByFold(data, fold, k, true)});
    plan.names.push_back("fold " + std::to_string(k + 1));
  }
  std::cout << o.data.path << ": " << DescribeSet(data) << '\n'
            << o.folds << "-fold stratified cross-validation, seed " << o.seed
            << '\n';
  plan.title = "DOZOD: " + std::to_string(o.folds) +
               "-fold cross-validation on " + o.data.path;
  return plan;
}

void PrintFoldTable(const Plan& plan, const std::vector<FoldResult>& results) {
  std::printf("%-12s %6s %6s %9s %7s %9s %10s\n",
              "",
              "train",
              "test",
              "selected",
              "AUC",
              "accuracy",
              "time (ms)");
  for (size_t k = 0; k < results.size(); ++k) {
    const FoldResult& r = results[k];
    const FoldData& fold = plan.folds[k];
    if (!r.Succeeded()) {
      std::printf("%-12s %6d %6d  failed: %s\n",
                  plan.names[k].c_str(),
                  fold.train.rows,
                  fold.test.rows,
                  r.failure.c_str());
      continue;
    }
    std::printf(
        "%-12s %6d %6d %9d %7s %9s %10s\n",
        plan.names[k].c_str(),
        fold.train.rows,
        fold.test.rows,
        r.SelectedCount(),
        Fixed(Report::Auc(r.scores, fold.test.labels), 3).c_str(),
        Fixed(Report::SignAccuracy(r.scores, fold.test.labels), 3).c_str(),
        Fixed(r.seconds * 1000.0, 1).c_str());
  }
  std::fflush(stdout);
}

std::string OverallText(const FoldSummary& s) {
  return "AUC " + Fixed(s.meanAuc, 3) + " +/- " + Fixed(s.aucSpread, 3) +
         " (pooled " + Fixed(s.pooledAuc, 3) + "), accuracy " +
         Fixed(s.meanAccuracy, 3);
}

Report::ReportContent EvaluationReport(const EvaluateOptions& o,
                                       const Dataset& data,
                                       const std::string& classifier,
                                       const Plan& plan,
                                       const std::vector<FoldResult>& results,
                                       const FoldSummary& s) {
  Report::ReportContent content;
  content.title = plan.title;
  content.facts.push_back({"data", o.data.path + ": " + DescribeSet(data)});
  if (!o.test.empty())
    content.facts.push_back(
        {"test data", o.test + ": " + DescribeSet(plan.folds[0].test)});
  content.facts.push_back({"classifier", classifier});
  for (size_t k = 0; k < results.size(); ++k) {
    content.facts.push_back({plan.names[k],
                             "AUC " + Fixed(s.aucs[k], 3) + ", accuracy " +
                                 Fixed(s.accuracies[k], 3) + ", " +
                                 std::to_string(results[k].SelectedCount()) +
                                 " features, " + Fixed(results[k].seconds, 2) +
                                 " s"});
    content.rocs.push_back(
        {plan.names[k], results[k].scores, plan.folds[k].test.labels});
  }
  const bool several = results.size() > 1;
  if (several) content.facts.push_back({"overall", OverallText(s)});
  content.scores = s.pooledScores;
  content.labels = s.pooledLabels;
  content.scoresCaption = several ? "Out-of-fold scores of every fold together."
                                  : "Scores of the test set.";
  FillWeights(content, data.names, {data.cols, s.selected, s.meanWeights});
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

int RunEvaluate(const EvaluateOptions& o) {
  if (!o.test.empty() && (o.foldsOption->count() || o.seedOption->count()))
    throw CliError(kExitUsage,
                   "--folds and --seed split DATA for cross-validation; with "
                   "--test the model is trained on all of DATA");
  CheckDistinctFiles({{"DATA", o.data.path, false},
                      {"--test", o.test, false},
                      {"--report", o.report, true}});
  if (!o.report.empty()) HostKit::CheckWritable(o.report);
  const Dataset data = LoadData(o.data, true);
  CheckTrainingSet(data, o.data.path);
  const HostKit::SettingsChange parameters = o.parameters.Get();
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  // Settings are checked on a throwaway object, so that a refused range is
  // reported before any work starts; the same object names the classifier.
  ClassifierHandle shown = HostKit::NewClassifier(*module);
  HostKit::ApplySettings(*shown, parameters);

  const Plan plan =
      o.test.empty() ? CrossValidationPlan(o, data) : TestSetPlan(o, data);
  const std::string classifier = ShortInfo(*shown);
  std::cout << classifier << '\n' << std::flush;

  const int jobs = std::max(1, std::min<int>(o.jobs, plan.folds.size()));
  const std::vector<FoldResult> results =
      RunFolds(*module, parameters, plan.folds, jobs);
  PrintFoldTable(plan, results);
  for (size_t k = 0; k < results.size(); ++k)
    if (!results[k].Succeeded())
      throw CliError(
          results[k].threw ? kExitTrainingException : kExitTrainingFailed,
          plan.names[k] + ": " + results[k].failure);

  const FoldSummary s = SummarizeFolds(plan.folds, results, data.cols);
  if (results.size() > 1)
    std::cout << "overall: " << OverallText(s) << ", "
              << Fixed(s.meanSelected, 1)
              << " features selected on average, training time "
              << Duration(s.seconds) << " in all\n";
  if (!o.report.empty()) {
    SaveReport(o.report,
               EvaluationReport(o, data, classifier, plan, results, s));
    std::cout << "report written to " << o.report << '\n';
  }
  return kExitOk;
}

}  // namespace

Command AddEvaluateCommand(CLI::App& korva) {
  auto options = std::make_shared<EvaluateOptions>();
  CLI::App* command =
      korva.add_subcommand("evaluate",
                           "stratified K-fold cross-validation, or calibration "
                           "on DATA and test on --test");
  AddOptions(command, *options);
  return {command, [options] { return RunEvaluate(*options); }};
}

}  // namespace Korva::Cli
