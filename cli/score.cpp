// korva score: scores data with a saved classifier, one score per row.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/scoring.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "data/csv_io.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/trained_model.h"
#include "korva/text.h"
#include "sources/input_digest.h"
#include "sources/recordings.h"

namespace Korva::Cli {
namespace {

struct ScoreOptions {
  std::string model, output, summary, module, memoryLimit;
  DataSource data;
  bool ignoreNames = false, quiet = false;
};

void AddOptions(CLI::App* command, ScoreOptions& o) {
  command->add_option("MODEL", o.model, "classifier document (XML)")
      ->required();
  command
      ->add_option("DATA",
                   o.data.paths,
                   "data to score: a feature table (.csv or .mat; - reads "
                   "standard input), or recordings (EDF, BDF, GDF, .vhdr, "
                   "headset CSV) cut by the model's recipe")
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
  AddTableOptions(command, o.data, kGroupsHelp);
  AddMatOptions(command, o.data);
  AddRecordingOptions(command, o.data.open);
  AddBidsOptions(command, o.data.bids);
  command
      ->add_option("--stimulus-events",
                   o.data.stimulusEvents,
                   "recordings whose targets are not yet known: the events "
                   "(codes or marker texts, comma-separated) that each give "
                   "an epoch to score, without label, in place of the "
                   "model's target and non-target events")
      ->delimiter(',');
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

void PrintMetrics(std::ostream* info,
                  const ScoreOptions& o,
                  const HostKit::TrainedModel& model,
                  const Dataset& data,
                  const std::vector<double>& scores) {
  if (!data.hasLabels) return;
  const Report::Confusion confusion =
      Report::ConfusionAbove(scores, data.labels, model.Cut());
  if (info) {
    *info << "AUC " << Fixed(Report::Auc(scores, data.labels), 3) << ", "
          << MetricsText(confusion) << " against the labels in "
          << o.data.Name() << '\n';
    if (!DefaultDecisions(model.Settings()))
      *info << "decisions: " << DecisionText(model) << '\n';
  }
  WarnNearBaseline(confusion, o.data.Name());
}

Json Summary(const std::vector<CommandFile>& files,
             const std::string& modulePath,
             const HostKit::TrainedModel& model,
             const ScoreOptions& o,
             const Dataset& data,
             const std::vector<double>& scores) {
  Json summary = {
      {"command", "score"},
      {"provenance",
       Provenance(files, modulePath, model.Classifier(), std::nullopt)},
      {"data", DataJson(o.data.Name(), data)},
      {"parameters", ParametersJson(model.Settings())},
      {"intercept", model.InterceptKnown() ? Json(model.Intercept()) : Json()}};
  if (data.hasLabels)
    summary["metrics"] = MetricsJson(scores, data.labels, model.Cut());
  return summary;
}

int RunScore(const ScoreOptions& o) {
  ApplyMemoryLimit(o.memoryLimit);
  const std::string output = o.output.empty() ? "-" : o.output;
  std::vector<CommandFile> files = {{"MODEL", o.model, false}};
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  files.insert(files.end(),
               {{"--output", output, true}, {"--summary", o.summary, true}});
  CheckDistinctFiles(files);
  if (!o.summary.empty()) Sources::RecordInputDigests(Warn);
  const std::string modulePath = HostKit::ChooseModulePath(o.module);
  auto module = HostKit::OpenModule(modulePath);
  const HostKit::TrainedModel model = LoadScoringModel(*module, o.model);
  // With the scores on standard output, everything else goes to standard
  // error so that the output stays a clean CSV file.
  std::ostream* info = MessageStream(o.quiet, {output, o.summary});
  const Dataset data = LoadScoringData(
      o.model, model, o.data, o.ignoreNames, info, nullptr, &files);
  // Decisions need the model's cut: a model that cannot say it is refused
  // before anything is written.
  if (data.hasLabels) model.Cut();

  const std::vector<double> scores = model.Score(View(data));
  if (const auto bad =
          std::count_if(scores.begin(), scores.end(), [](double s) {
            return !std::isfinite(s);
          }))
    Warn(std::to_string(bad) + " of " + std::to_string(scores.size()) +
         " scores are not finite: the weights or the data are too large");
  HostKit::WriteTextAtomically(output, ScoresCsv(data, scores));
  if (info && !WritesDescriptor(output))
    *info << "scored " << data.rows << " rows of " << o.data.Name()
          << "; scores written to " << output << '\n';
  PrintMetrics(info, o, model, data, scores);
  if (info && !model.InterceptKnown())
    *info << "note: " << HostKit::kMissingInterceptNote << '\n';
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(
        o.summary,
        JsonText(Summary(files, modulePath, model, o, data, scores)));
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
