// korva train: trains a classifier and saves its model document.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/training_log.h"
#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

struct TrainOptions {
  DataSource data;
  std::string model, weights, logJson, report, module;
  ParameterOptions parameters;
  bool quiet = false;
};

void AddOptions(CLI::App* command, TrainOptions& o) {
  command->add_option("DATA", o.data.path, "training data (.csv or .mat)")
      ->required();
  command->add_option("--model", o.model, "classifier document to write (XML)")
      ->required();
  command->add_option("--weights", o.weights, "weight file to write");
  command->add_option(
      "--log-json", o.logJson, "JSON log of the training to write");
  command->add_option("--report", o.report, "HTML report to write");
  command->add_flag("--quiet",
                    o.quiet,
                    "print nothing on standard output (warnings and "
                    "errors still go to standard error)");
  o.parameters.Add(command, false);
  AddMatOptions(command, o.data);
  AddModuleOption(command, o.module);
}

Report::ReportContent TrainingReport(ClassifierBase& classifier,
                                     const TrainOptions& o,
                                     const Dataset& data,
                                     const HostKit::TrainingRun& run,
                                     const HostKit::Selection& selection,
                                     const std::vector<double>& scores) {
  Report::ReportContent content;
  content.title = "DOZOD training on " + o.data.path;
  content.facts = {
      {"data", o.data.path + ": " + DescribeSet(data)},
      {"classifier", ShortInfo(classifier)},
      {"selected features",
       std::to_string(selection.Count()) + " of " + std::to_string(data.cols)},
      {"training set AUC", Fixed(Report::Auc(scores, data.labels), 3)},
      {"training set accuracy",
       Fixed(Report::SignAccuracy(scores, data.labels), 3)},
      {"training time", Duration(run.seconds)},
  };
  content.rocs = {{"training set", scores, data.labels}};
  content.scores = scores;
  content.labels = data.labels;
  content.scoresCaption =
      "Scores of the training set itself: they look better than scores of "
      "new data would.";
  FillWeights(content, data.names, selection);
  return content;
}

int RunTrain(const TrainOptions& o) {
  CheckDistinctFiles({{"DATA", o.data.path, false},
                      {"--model", o.model, true},
                      {"--weights", o.weights, true},
                      {"--log-json", o.logJson, true},
                      {"--report", o.report, true}});
  for (const std::string* output :
       {&o.model, &o.weights, &o.logJson, &o.report})
    if (!output->empty()) HostKit::CheckWritable(*output);
  const Dataset data = LoadData(o.data, true);
  CheckTrainingSet(data, o.data.path);
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  ClassifierHandle classifier = HostKit::NewClassifier(*module);
  HostKit::ApplySettings(*classifier, o.parameters.Get());

  std::ostream* out = o.quiet ? nullptr : &std::cout;
  if (out)
    *out << "training on " << o.data.path << ": " << DescribeSet(data) << '\n'
         << ShortInfo(*classifier) << '\n';
  const HostKit::TrainingRun run = TrainOn(*classifier, data, out);
  if (!o.logJson.empty())
    HostKit::WriteTextAtomically(o.logJson,
                                 JsonText(TrainingLog(*classifier, run)));
  if (!run.Succeeded()) throw HostKit::TrainingError(run, "no model written");

  const HostKit::Selection selection = HostKit::ReadSelection(*classifier);
  if (selection.Count() == 0)
    Warn("no feature was selected, so the model cannot classify; " +
         std::string(HostKit::ReadSettings(*classifier).maxIter == 0
                         ? "--max-iter 0 allows no change of the selection"
                         : "a larger --p-enter lets features in more easily"));
  const std::vector<double> scores = ScoreSet(*classifier, data);

  HostKit::SaveModel(*classifier, o.model);
  if (!o.weights.empty()) HostKit::SaveWeights(*classifier, o.weights);
  if (!o.report.empty())
    SaveReport(o.report,
               TrainingReport(*classifier, o, data, run, selection, scores));
  if (!out) return kExitOk;
  *out << "selected " << selection.Count() << " of " << data.cols
       << " features in " << Duration(run.seconds) << "\n"
       << "training set: AUC " << Fixed(Report::Auc(scores, data.labels), 3)
       << ", accuracy " << Fixed(Report::SignAccuracy(scores, data.labels), 3)
       << " (scores of the training data itself)\n"
       << "model written to " << o.model << '\n';
  if (!o.weights.empty()) *out << "weights written to " << o.weights << '\n';
  if (!o.logJson.empty()) *out << "log written to " << o.logJson << '\n';
  if (!o.report.empty()) *out << "report written to " << o.report << '\n';
  return kExitOk;
}

}  // namespace

Command AddTrainCommand(CLI::App& korva) {
  auto options = std::make_shared<TrainOptions>();
  CLI::App* command = korva.add_subcommand(
      "train", "train a classifier and save its model document");
  AddOptions(command, *options);
  return {command, [options] { return RunTrain(*options); }};
}

}  // namespace Korva::Cli
