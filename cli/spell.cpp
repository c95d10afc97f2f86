// korva spell: decodes the selections of a speller session with a saved
// model: every flash scored, the items' scores summed over the first k
// repetitions and ranked, for k = 1 .. R, with accuracy and information
// transfer rate when the targets are known, and dynamic stopping.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/scoring.h"
#include "cli/speller_outputs.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "sources/input_digest.h"

namespace Korva::Cli {
namespace {

struct SpellOptions {
  std::string model, summary, report, module;
  DataSource data;
  std::optional<double> stopAt, flashMs, pauseS;
  bool ignoreNames = false, quiet = false;
};

void AddOptions(CLI::App* command, SpellOptions& o) {
  command->add_option("MODEL", o.model, "classifier document (XML)")
      ->required();
  command
      ->add_option("DATA",
                   o.data.paths,
                   "the session: recordings (cut by the model's recipe, "
                   "their flashes found by its layout) or a feature table "
                   "with the columns selection and code")
      ->required();
  AddStopOption(command, o.stopAt);
  command->add_option("--summary", o.summary, "JSON summary to write");
  command->add_option(
      "--report",
      o.report,
      "HTML report to write: accuracy and bits per minute against "
      "repetitions, the spelled text against the target");
  command
      ->add_option("--flash-ms",
                   o.flashMs,
                   "milliseconds from one flash to the next (default for "
                   "recordings: from their onsets)")
      ->check(CLI::PositiveNumber);
  command
      ->add_option("--pause-s",
                   o.pauseS,
                   "seconds between two selections (default for recordings: "
                   "from their onsets; for tables 0)")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--ignore-names",
                    o.ignoreNames,
                    "take a table's columns by position even when their names "
                    "differ from the model's");
  AddQuietOption(command, o.quiet);
  AddSpellerOptions(command, o.data.spellerOptions);
  AddTableOptions(command, o.data, kGroupsHelp);
  AddRecordingOptions(command, o.data.open);
  AddModuleOption(command, o.module);
}

// The session the options and the model describe; a model without a
// layout needs --layout.
Sources::SpellerRequest Request(const SpellOptions& o,
                                const HostKit::TrainedModel& model) {
  auto request = ModelSpellerRequest(o.data.spellerOptions, model, o.model);
  if (!request)
    throw CliError(kExitUsage,
                   "model " + o.model +
                       " keeps no speller layout (it was not trained on a "
                       "speller session): give --layout");
  return *request;
}

void SetTiming(const SpellOptions& o, Speller::Session& s) {
  if (o.flashMs) {
    s.timing.flashSeconds = *o.flashMs / 1000;
    s.timing.pauseSeconds = 0;
    s.timing.source = "--flash-ms";
  }
  if (o.pauseS) s.timing.pauseSeconds = *o.pauseS;
  if (o.pauseS && s.timing.flashSeconds)
    s.timing.source += o.flashMs ? ", --pause-s" : "; pause --pause-s";
}

struct Spelled {
  Speller::Session session;
  Speller::Decoding decoding;
  std::string stopping;  // the line of dynamic stopping, if any
};

Json Summary(const SpellOptions& o,
             const Json& provenance,
             const Dataset& data,
             const Spelled& r) {
  Json summary = {{"command", "spell"},
                  {"provenance", provenance},
                  {"data", DataJson(o.data.Name(), data)},
                  {"layout", r.session.layout.given},
                  {"symbols", r.session.layout.symbols},
                  {"selections_count", r.session.Selections()},
                  {"repetitions", CurveJson(r.decoding)}};
  if (o.stopAt) summary["stopping"] = StoppingJson(r.decoding, *o.stopAt);
  summary["selections"] = SelectionsJson(r.session, r.decoding);
  return summary;
}

void WriteOutputs(const SpellOptions& o,
                  const std::vector<CommandFile>& files,
                  const std::string& modulePath,
                  const HostKit::TrainedModel& model,
                  const Dataset& data,
                  const Spelled& r) {
  if (o.summary.empty() && o.report.empty()) return;
  const Json provenance =
      Provenance(files, modulePath, model.Classifier(), std::nullopt);
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(o.summary,
                                 JsonText(Summary(o, provenance, data, r)));
  if (o.report.empty()) return;
  Report::ReportContent content;
  content.title = "Spelling " + o.data.Name() + " with " + o.model;
  content.facts = {{"session",
                    std::to_string(r.session.Selections()) + " selections of " +
                        std::to_string(r.decoding.repetitions) +
                        " repetitions, " + LayoutText(r.session.layout)},
                   {"time per selection", TimingText(r.session)}};
  for (const auto& fact : ProvenanceFacts(provenance))
    content.facts.push_back(fact);
  content.speller = ReportCurve(r.session, r.decoding, r.stopping);
  SaveReport(o.report, content);
}

int RunSpell(const SpellOptions& o) {
  if (o.stopAt) Speller::CheckStopLevel(*o.stopAt);
  std::vector<CommandFile> files = {{"MODEL", o.model, false}};
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  files.insert(files.end(),
               {{"--summary", o.summary, true}, {"--report", o.report, true}});
  CheckCommandFiles(files);
  if (!o.summary.empty() || !o.report.empty())
    Sources::RecordInputDigests(Warn);
  const std::string modulePath = HostKit::ChooseModulePath(o.module);
  auto module = HostKit::OpenModule(modulePath);
  const HostKit::TrainedModel model = LoadScoringModel(*module, o.model);
  DataSource source = o.data;
  source.speller = Request(o, model);
  Speller::DecodeOptions decode{
      StopLikelihood(model, o.model, o.stopAt.has_value()), o.stopAt};
  std::ostream* out = MessageStream(o.quiet, {o.summary, o.report});
  std::optional<Speller::Session> session;
  const Dataset data =
      LoadScoringData(o.model, model, source, o.ignoreNames, out, &session, &files);
  Spelled r{std::move(*session), {}, {}};
  SetTiming(o, r.session);
  r.decoding = Speller::Decode(
      r.session, model.Score(View(data)), model.Classifier(), decode);
  if (o.stopAt) r.stopping = StoppingText(r.decoding, *o.stopAt);
  if (out) {
    *out << "spelling " << r.session.Selections() << " selections of "
         << r.decoding.repetitions << " repetitions; time per selection "
         << TimingText(r.session) << '\n';
    PrintCurve(*out, r.session, r.decoding);
    if (o.stopAt) *out << r.stopping << '\n';
  }
  WriteOutputs(o, files, modulePath, model, data, r);
  if (out && !o.report.empty())
    *out << "report written to " << o.report << '\n';
  return kExitOk;
}

}  // namespace

Command AddSpellCommand(CLI::App& korva) {
  auto options = std::make_shared<SpellOptions>();
  CLI::App* command = korva.add_subcommand(
      "spell",
      "decode the selections of a speller session: accuracy and information "
      "transfer rate against repetitions, dynamic stopping");
  AddOptions(command, *options);
  return {command, [options] { return RunSpell(*options); }};
}

}  // namespace Korva::Cli
