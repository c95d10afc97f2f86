// korva demo: simulated calibration and test sets, training with the
// customary P300 settings, a test, and every output in one folder.
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/memory_option.h"
#include "cli/summary.h"
#include "cli/training_log.h"
#include "data/csv_io.h"
#include "data/p300_generator.h"
#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

// The customary settings for P300 data.
constexpr double kCustomaryPEnter = 0.10;
constexpr double kCustomaryPRemove = 0.15;

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
  HostKit::TrainingRun run;
  HostKit::Selection selection;
  std::vector<double> trainScores, testScores;
};

Report::ReportContent DemoReport(ClassifierBase& classifier, const DemoRun& d) {
  Report::ReportContent content;
  content.title = "korva demo: DOZOD on simulated P300 data";
  content.facts = {
      {"calibration set", DescribeSet(d.calibration)},
      {"test set", DescribeSet(d.test)},
      {"classifier", ShortInfo(classifier)},
      {"selected features",
       std::to_string(d.selection.Count()) + " of " +
           std::to_string(d.calibration.cols)},
      {"test set AUC", Fixed(Report::Auc(d.testScores, d.test.labels), 3)},
      {"test set decisions",
       MetricsText(Report::ConfusionAtZero(d.testScores, d.test.labels))},
      {"training time", Duration(d.run.seconds)},
  };
  content.rocs = {
      {"calibration set (training data)", d.trainScores, d.calibration.labels},
      {"test set", d.testScores, d.test.labels}};
  content.scores = d.testScores;
  content.labels = d.test.labels;
  content.scoresCaption = "Scores of the test set.";
  FillWeights(content, d.calibration.names, d.selection);
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
  if (out)
    *out << "korva demo: simulated P300 epochs, " << o.generator.channels
         << " channels x " << o.generator.samples << " samples over 0-800 ms ("
         << d.calibration.cols << " features)\n"
         << "  calibration set: " << DescribeSet(d.calibration) << ", seed "
         << o.generator.seed << '\n'
         << "  test set:        " << DescribeSet(d.test) << ", seed "
         << testOptions.seed << '\n'
         << "training " << ShortInfo(*classifier) << '\n'
         << std::flush;

  d.run = TrainOn(*classifier, d.calibration, o.verbose ? out : nullptr);
  HostKit::WriteTextAtomically(dir + "training-log.json",
                               JsonText(TrainingLog(*classifier, d.run)));
  if (!d.run.Succeeded())
    throw HostKit::TrainingError(d.run, "no model written");

  d.selection = HostKit::ReadSelection(*classifier);
  d.trainScores = ScoreSet(*classifier, d.calibration);
  d.testScores = ScoreSet(*classifier, d.test);
  const Report::Confusion decisions =
      Report::ConfusionAtZero(d.testScores, d.test.labels);
  WarnNearBaseline(decisions, "test set");
  HostKit::SaveModel(
      *classifier, dir + "model.xml", HostKit::Intercept(*classifier));
  HostKit::SaveWeights(*classifier, dir + "weights.txt");
  HostKit::WriteTextAtomically(dir + "test-scores.csv",
                               ScoresCsv(d.test, d.testScores));
  SaveReport(dir + "report.html", DemoReport(*classifier, d));
  if (!out) return kExitOk;
  *out << "selected features: " << d.selection.Count() << " of "
       << d.calibration.cols << '\n'
       << "training time:     " << Duration(d.run.seconds) << "\n"
       << "test set AUC:      "
       << Fixed(Report::Auc(d.testScores, d.test.labels), 3) << '\n'
       << "test set decisions (score above 0: target): "
       << MetricsText(decisions) << '\n'
       << "written to " << o.output
       << ": model.xml, weights.txt, report.html, training-log.json, "
          "test-scores.csv, calibration.csv, test.csv\n";
  return kExitOk;
}

}  // namespace

Command AddDemoCommand(CLI::App& korva) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* command = korva.add_subcommand(
      "demo",
      "simulate calibration and test sets, train with p-enter 0.10 and "
      "p-remove 0.15, test, and write model, weights and report");
  AddOptions(command, *options);
  return {command, [options] { return RunDemo(*options); }};
}

}  // namespace Korva::Cli
