// korva score: scores data with a saved classifier, one score per row.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/common.h"
#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

struct ScoreOptions {
  std::string model, output, module;
  DataSource data;
};

void AddOptions(CLI::App* command, ScoreOptions& o) {
  command->add_option("MODEL", o.model, "classifier document (XML)")
      ->required();
  command->add_option("DATA", o.data.path, "data to score (.csv or .mat)")
      ->required();
  command->add_option("--output",
                      o.output,
                      "CSV file for the scores (default: standard output)");
  AddMatOptions(command, o.data);
  AddModuleOption(command, o.module);
}

// Warns at the first feature whose name differs from the model's.
void CompareNames(const std::vector<std::string>& modelNames,
                  const Dataset& data,
                  const ScoreOptions& o) {
  for (int c = 0; c < data.cols; ++c) {
    if (c >= static_cast<int>(modelNames.size()) ||
        c >= static_cast<int>(data.names.size()))
      return;
    if (modelNames[c] != data.names[c]) {
      Warn("the feature names of " + o.data.path +
           " differ from the model's, first at feature " +
           std::to_string(c + 1) + " (model: \"" + modelNames[c] +
           "\", data: \"" + data.names[c] + "\")");
      return;
    }
  }
}

int RunScore(const ScoreOptions& o) {
  CheckDistinctFiles({{"MODEL", o.model, false},
                      {"DATA", o.data.path, false},
                      {"--output", o.output, true}});
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  std::vector<std::string> warnings;
  ClassifierHandle classifier = HostKit::LoadModel(*module, o.model, &warnings);
  for (const std::string& warning : warnings) Warn(warning);
  if (!classifier->CanClassify())
    throw CliError(kExitModel,
                   "model " + o.model +
                       " holds no trained classifier (no feature is selected)");
  const Dataset data = LoadData(o.data, false);
  const HostKit::Selection selection = HostKit::ReadSelection(*classifier);
  if (data.cols != selection.features)
    throw CliError(kExitData,
                   o.data.path + " has " + std::to_string(data.cols) +
                       " feature columns but model " + o.model +
                       " was trained on " + std::to_string(selection.features));
  CompareNames(classifier->FeatureNames, data, o);

  const std::vector<double> scores = ScoreSet(*classifier, data);
  if (const auto bad =
          std::count_if(scores.begin(), scores.end(), [](double s) {
            return !std::isfinite(s);
          }))
    Warn(std::to_string(bad) + " of " + std::to_string(scores.size()) +
         " scores are not finite: the weights or the data are too large");
  // With the scores on standard output, everything else goes to standard
  // error so that the output stays a clean CSV file.
  std::ostream& info = o.output.empty() ? std::cerr : std::cout;
  if (o.output.empty()) {
    std::cout << ScoreCsv(scores) << std::flush;
  } else {
    HostKit::WriteTextAtomically(o.output, ScoreCsv(scores));
    info << "scored " << data.rows << " rows of " << o.data.path
         << "; scores written to " << o.output << '\n';
  }
  if (data.hasLabels)
    info << "AUC " << Fixed(Report::Auc(scores, data.labels), 3)
         << " against the labels in " << o.data.path << '\n';
  info << "note: " << kInterceptNote << '\n';
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
