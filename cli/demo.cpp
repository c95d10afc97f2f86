// korva demo: simulated calibration and test sets, training with the
// customary P300 settings, a test, and every output in one folder.
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/options.h"
#include "cli/memory_option.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "cli/training_log.h"
#include "data/csv_write.h"
#include "data/p300_generator.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/trained_model.h"
#include "korva/stepwise_settings.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

struct DemoOptions {
  std::string output = "out/demo";
  std::string module, memoryLimit;
  Data::GeneratorOptions generator;
  ParameterOptions parameters;
  bool verbose = false, quiet = false;
};

void AddOptions(CLI::App* command, DemoOptions& o) {
  command->add_option(
      "--output", o.output, "folder for the results (default out/demo)");
  command
      ->add_option("--seed",
                   o.generator.seed,
                   "seed of the calibration set; the test set uses "
                   "seed + 1 (default 1)")
      ->transform(kWholeNumber);
  command->add_option(
      "--epochs", o.generator.epochs, "epochs in each set (default 720)");
  command->add_option(
      "--channels", o.generator.channels, "channels (default 8)");
  command->add_option(
      "--samples", o.generator.samples, "samples per channel (default 20)");
  o.parameters.Add(command, true);
  command->add_flag("--verbose", o.verbose, "print every training message");
  AddQuietOption(command, o.quiet);
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

// What the demo trained and measured.
struct DemoRun {
  Dataset calibration, test;
  std::optional<HostKit::TrainedModel> model;
  std::vector<double> trainScores, testScores;
};

Report::ReportContent DemoReport(const DemoRun& d) {
  const HostKit::TrainedModel& model = *d.model;
  Report::ReportContent content;
  content.title = "korva demo: " + model.Classifier().GetName() +
                  " on simulated P300 data";
  content.facts = {
      {"calibration set", DescribeSet(d.calibration)},
      {"test set", DescribeSet(d.test)},
      {"classifier", model.ShortInfo()},
      {"selected features",
       std::to_string(model.SelectedCount()) + " of " +
           std::to_string(d.calibration.cols)},
      {"test set AUC", Fixed(Report::Auc(d.testScores, d.test.labels), 3)},
      {"test set decisions",
       MetricsText(
           Report::ConfusionAbove(d.testScores, d.test.labels, model.Cut()))},
      {"training time", Duration(model.Run()->seconds)},
  };
  content.rocs = {
      {"calibration set (training data)", d.trainScores, d.calibration.labels},
      {"test set", d.testScores, d.test.labels}};
  content.scores = d.testScores;
  content.labels = d.test.labels;
  content.scoresCaption = "Scores of the test set.";
  FillWeights(content,
              d.calibration.names,
              model.SavedWeights(),
              model.Selected());
  return content;
}

void WriteSets(const std::string& dir, const DemoRun& d) {
  for (const auto& [name, set] : {std::pair{"calibration.csv", &d.calibration},
                                  std::pair{"test.csv", &d.test}}) {
    std::ostringstream csv;
    Data::WriteCsv(csv, *set);
    HostKit::WriteTextAtomically(dir + name, csv.str());
  }
}

void PrintIntroduction(std::ostream& out,
                       const DemoOptions& o,
                       const DemoRun& d,
                       ClassifierBase& classifier) {
  out << "korva demo: simulated P300 epochs, " << o.generator.channels
      << " channels x " << o.generator.samples << " samples over 0-800 ms ("
      << d.calibration.cols << " features)\n"
      << "  calibration set: " << DescribeSet(d.calibration) << ", seed "
      << o.generator.seed << '\n'
      << "  test set:        " << DescribeSet(d.test) << ", seed "
      << o.generator.seed + 1 << '\n'
      << "training " << HostKit::ShortInfo(classifier) << '\n'
      << std::flush;
}

void PrintResult(std::ostream& out,
                 const DemoOptions& o,
                 const DemoRun& d,
                 const Report::Confusion& decisions) {
  out << "selected features: " << d.model->SelectedCount() << " of "
      << d.calibration.cols << '\n'
      << "training time:     " << Duration(d.model->Run()->seconds) << "\n"
      << "test set AUC:      "
      << Fixed(Report::Auc(d.testScores, d.test.labels), 3) << '\n'
      << "test set decisions (score above " << General(d.model->Cut())
      << ": target): " << MetricsText(decisions) << '\n'
      << "written to " << o.output
      << ": model.xml, weights.txt, report.html, training-log.json, "
         "test-scores.csv, calibration.csv, test.csv\n";
}

int RunDemo(const DemoOptions& o) {
  ApplyMemoryLimit(o.memoryLimit);
  HostKit::SettingsChange parameters = o.parameters.Get();
  if (!parameters.pEnter) parameters.pEnter = kCustomaryPEnter;
  if (!parameters.pRemove) parameters.pRemove = kCustomaryPRemove;
  if (std::string why = Data::CheckGeneratorOptions(o.generator); !why.empty())
    throw CliError(kExitUsage, why);
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  ClassifierHandle classifier = HostKit::NewClassifier(*module);
  HostKit::ApplySettings(*classifier, parameters);
  HostKit::MakeDirectories(o.output);
  const std::string dir = o.output + "/";

  DemoRun d;
  Data::GeneratorOptions testOptions = o.generator;
  testOptions.seed = o.generator.seed + 1;
  d.calibration = Data::GenerateP300(o.generator);
  d.test = Data::GenerateP300(testOptions);
  WriteSets(dir, d);
  std::ostream* out = MessageStream(o.quiet, {});
  if (out) PrintIntroduction(*out, o, d, *classifier);

  HostKit::TrainingRun run =
      TrainOn(*classifier, d.calibration, o.verbose ? out : nullptr);
  HostKit::WriteTextAtomically(dir + "training-log.json",
                               JsonText(TrainingLog(*classifier, run)));
  if (!run.Succeeded()) throw HostKit::TrainingError(run, "no model written");
  d.model.emplace(std::move(classifier),
                  std::move(run),
                  View(d.calibration),
                  d.calibration.labels.data());
  d.trainScores = d.model->Score(View(d.calibration));
  d.testScores = d.model->Score(View(d.test));
  const Report::Confusion decisions =
      Report::ConfusionAbove(d.testScores, d.test.labels, d.model->Cut());
  WarnNearBaseline(decisions, "test set");
  d.model->Save(dir + "model.xml");
  d.model->SaveWeights(dir + "weights.txt");
  HostKit::WriteTextAtomically(dir + "test-scores.csv",
                               ScoresCsv(d.test, d.testScores));
  SaveReport(dir + "report.html", DemoReport(d));
  if (out) PrintResult(*out, o, d, decisions);
  return kExitOk;
}

}  // namespace

Command AddDemoCommand(CLI::App& korva) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* command = korva.add_subcommand(
      "demo",
      "simulate calibration and test sets, train with p-enter " +
          TwoDecimals(kCustomaryPEnter) + " and p-remove " +
          TwoDecimals(kCustomaryPRemove) +
          ", test, and write model, weights and report");
  AddOptions(command, *options);
  return {command, [options] { return RunDemo(*options); }};
}

}  // namespace Korva::Cli
