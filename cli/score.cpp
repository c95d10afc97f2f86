// korva score: scores data with a saved classifier, one score per row.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/input_digest.h"
#include "cli/output_streams.h"
#include "cli/summary.h"
#include "data/csv_io.h"
#include "data/data_checks.h"
#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"

namespace Korva::Cli {
namespace {

struct ScoreOptions {
  std::string model, output, summary, module;
  DataSource data;
  bool ignoreNames = false, quiet = false;
};

void AddOptions(CLI::App* command, ScoreOptions& o) {
  command->add_option("MODEL", o.model, "classifier document (XML)")
      ->required();
  command
      ->add_option("DATA",
                   o.data.path,
                   "data to score (.csv or .mat; - reads standard input)")
      ->required();
  command->add_option(
      "--output",
      o.output,
      "CSV file for the scores (default, or -: standard output)");
  command->add_option(
      "--summary", o.summary, "JSON summary for scripts to write");
  command->add_flag("--ignore-names",
                    o.ignoreNames,
                    "score the columns by position even when their names "
                    "differ from the model's");
  AddQuietOption(command, o.quiet);
  AddLabelOption(command, o.data);
  AddMatOptions(command, o.data);
  AddModuleOption(command, o.module);
}

int RunScore(const ScoreOptions& o) {
  const std::string output = o.output.empty() ? "-" : o.output;
  const std::vector<CommandFile> files = {{"MODEL", o.model, false},
                                          {"DATA", o.data.path, false},
                                          {"--output", output, true},
                                          {"--summary", o.summary, true}};
  CheckDistinctFiles(files);
  if (!o.summary.empty()) RecordInputDigests();
  const std::string modulePath = HostKit::ChooseModulePath(o.module);
  auto module = HostKit::OpenModule(modulePath);
  std::vector<std::string> warnings;
  const std::string document = HostKit::ReadModelFile(o.model);
  InputDigest::Record(o.model, document);
  HostKit::Model model =
      HostKit::LoadModelText(*module, document, o.model, &warnings);
  for (const std::string& warning : warnings) Warn(warning);
  ClassifierBase& classifier = *model.classifier;
  if (!classifier.CanClassify())
    throw CliError(kExitModel,
                   "model " + o.model +
                       " holds no trained classifier (no feature is selected)");
  // With the scores on standard output, everything else goes to standard
  // error so that the output stays a clean CSV file.
  std::ostream* info = MessageStream(o.quiet, {output, o.summary});
  Dataset data = LoadData(o.data, false);
  const HostKit::Selection selection = HostKit::ReadSelection(classifier);
  if (data.cols != selection.features)
    throw CliError(kExitData,
                   o.data.path + " has " + std::to_string(data.cols) +
                       " feature columns but model " + o.model +
                       " was trained on " + std::to_string(selection.features));
  data = MatchColumns(std::move(data),
                      classifier.FeatureNames,
                      "model " + o.model,
                      o.data.path,
                      o.ignoreNames,
                      info);

  const std::vector<double> scores =
      HostKit::ScoreRows(classifier, View(data), model.offset);
  if (const auto bad =
          std::count_if(scores.begin(), scores.end(), [](double s) {
            return !std::isfinite(s);
          }))
    Warn(std::to_string(bad) + " of " + std::to_string(scores.size()) +
         " scores are not finite: the weights or the data are too large");
  HostKit::WriteTextAtomically(output, ScoresCsv(data, scores));
  if (info && !WritesDescriptor(output))
    *info << "scored " << data.rows << " rows of " << o.data.path
          << "; scores written to " << output << '\n';
  const Report::Confusion confusion =
      Report::ConfusionAtZero(scores, data.labels);
  if (data.hasLabels) {
    if (info)
      *info << "AUC " << Fixed(Report::Auc(scores, data.labels), 3) << ", "
            << MetricsText(confusion) << " against the labels in "
            << o.data.path << '\n';
    WarnNearBaseline(confusion, o.data.path);
  }
  if (info && !model.intercept) *info << "note: " << kInterceptNote << '\n';
  if (!o.summary.empty()) {
    Json summary = {
        {"command", "score"},
        {"provenance", Provenance(files, modulePath, classifier, std::nullopt)},
        {"data", DataJson(o.data.path, data)},
        {"intercept", model.intercept ? Json(*model.intercept) : Json()}};
    if (data.hasLabels) summary["metrics"] = MetricsJson(scores, data.labels);
    HostKit::WriteTextAtomically(o.summary, JsonText(summary));
  }
  return kExitOk;
}

}  // namespace

Command AddScoreCommand(CLI::App& korva) {
  auto options = std::make_shared<ScoreOptions>();
  CLI::App* command = korva.add_subcommand(
      "score", "score data with a saved classifier, one score per row");
  AddOptions(command, *options);
  return {command, [options] { return RunScore(*options); }};
}

}  // namespace Korva::Cli
