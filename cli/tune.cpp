// korva tune: chooses p-enter, p-remove and max-iter by cross-validation
// over a grid, and trains the chosen setting on all of the data.
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/cross_validation_options.h"
#include "cli/cross_validation_outputs.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/preamble.h"
#include "cli/recipe_options.h"
#include "cli/recording_report.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "cli/train.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"

namespace Korva::Cli {
namespace {

struct TuneOptions {
  DataSource data;
  FoldOptions folds;
  GridOptions grid;
  DecisionOptions decisions;
  std::string model, report, summary, module, memoryLimit;
  int jobs = 2;
  bool oneSe = false, quiet = false;
};

void AddOptions(CLI::App* command, TuneOptions& o) {
  command
      ->add_option(
          "DATA",
          o.data.paths,
          "data: a feature table (.csv or .mat; - reads standard input), or "
          "recordings (EDF, BDF, GDF, .vhdr, headset CSV), the runs of a "
          "session, cut by the recipe options")
      ->required();
  command->add_option(
      "--model",
      o.model,
      "classifier document to write: the chosen setting trained on all of "
      "DATA");
  command->add_flag("--one-se",
                    o.oneSe,
                    "choose the setting with the fewest features among those "
                    "whose mean AUC is within one standard error of the best");
  command->add_option("--report", o.report, "HTML report to write");
  command->add_option("--summary",
                      o.summary,
                      "JSON summary of every setting and fold to write");
  command
      ->add_option("--jobs",
                   o.jobs,
                   "trainings at the same time, each share of a fold's "
                   "settings in a worker process (default 2)")
      ->check(CLI::Range(1, 64));
  AddQuietOption(command, o.quiet);
  o.grid.Add(command, true);
  o.decisions.Add(command);
  AddFoldOptions(command, o.folds, o.data);
  AddMatOptions(command, o.data);
  AddRecipeOptions(command, o.data.recipeOptions);
  AddSpellerOptions(command, o.data.spellerOptions);
  AddRecordingOptions(command, o.data.open);
  AddBidsOptions(command, o.data.bids);
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

// One line per setting, the best mean AUC first.
void PrintTable(std::ostream& out,
                const Grid& grid,
                const Plan& plan,
                const Tuning& t) {
  char line[512];
  std::snprintf(line,
                sizeof(line),
                "%8s %8s %8s %8s %7s %10s %9s %9s\n",
                "p-enter",
                "p-remove",
                "max-iter",
                "mean AUC",
                "spread",
                "pooled AUC",
                "balanced",
                "features");
  out << line;
  for (size_t i : t.ranking) {
    const HostKit::SettingsChange& setting = grid.settings[i];
    const SettingRun& run = t.runs[i];
    std::snprintf(line,
                  sizeof(line),
                  "%8s %8s %8d ",
                  General(*setting.pEnter).c_str(),
                  General(*setting.pRemove).c_str(),
                  *setting.maxIter);
    out << line;
    if (run.failed) {
      out << " failed: " << plan.Label(*run.failed) << ": "
          << run.results[*run.failed].failure << '\n';
      continue;
    }
    const FoldSummary& s = run.summary;
    std::snprintf(line,
                  sizeof(line),
                  "%8s %7s %10s %9s %9s%s\n",
                  Fixed(s.meanAuc, 3).c_str(),
                  Fixed(s.aucSpread, 3).c_str(),
                  Fixed(s.pooledAuc, 3).c_str(),
                  Fixed(s.pooled.BalancedAccuracy(), 3).c_str(),
                  Fixed(s.meanSelected, 1).c_str(),
                  i == t.chosen                  ? "  chosen"
                  : i == t.ranking[0] && t.oneSe ? "  best"
                                                 : "");
    out << line;
  }
}

// The heat maps of the report: mean AUC over p-enter x p-remove, one per
// max-iter, each cell with its mean number of features.
std::vector<Report::HeatMap> HeatMaps(const Grid& grid, const Tuning& t) {
  std::vector<Report::HeatMap> maps;
  for (int maxIter : grid.maxIter) {
    Report::HeatMap map;
    map.title = "max-iter " + std::to_string(maxIter);
    map.rowTitle = "p-enter";
    map.columnTitle = "p-remove";
    for (double p : grid.pEnter) map.rows.push_back(General(p));
    for (double p : grid.pRemove) map.columns.push_back(General(p));
    for (double pEnter : grid.pEnter)
      for (double pRemove : grid.pRemove) {
        size_t s = 0;
        while (s < grid.settings.size() &&
               !(grid.settings[s].pEnter == pEnter &&
                 grid.settings[s].pRemove == pRemove &&
                 grid.settings[s].maxIter == maxIter))
          ++s;
        const bool found = s < grid.settings.size();
        const bool failed = found && t.runs[s].failed.has_value();
        if (found && s == t.chosen)
          map.marked = static_cast<int>(map.values.size());
        map.values.push_back(found && !failed ? t.runs[s].summary.meanAuc
                                              : NAN);
        map.notes.push_back(found && !failed
                                ? Fixed(t.runs[s].summary.meanSelected, 1) +
                                      " features"
                                : "");
        map.empty.push_back(!found ? "skipped" : failed ? "failed" : "");
      }
    maps.push_back(std::move(map));
  }
  return maps;
}

Report::ReportContent TuningReport(const TuneOptions& o,
                                   const std::string& classifier,
                                   const Dataset& data,
                                   const Grid& grid,
                                   const Plan& plan,
                                   const Tuning& t,
                                   const Json& provenance) {
  const SettingRun& chosen = t.runs[t.chosen];
  Report::ReportContent content;
  content.title = classifier + ": settings chosen by " + plan.scheme +
                  " on " + o.data.Name();
  content.warnings = data.quality;
  content.facts = {
      {"data", o.data.Name() + ": " + DescribeSet(data)},
      {"scheme", plan.scheme},
      {"grid", GridText(grid)},
      {"chosen",
       SettingText(grid.settings[t.chosen]) + ", by " +
           ChoiceRuleText(t, grid)},
      {"chosen setting's folds",
       "AUC " + Fixed(chosen.summary.meanAuc, 3) + " +/- " +
           Fixed(chosen.summary.aucSpread, 3) + " (pooled " +
           Fixed(chosen.summary.pooledAuc, 3) + "), " +
           Fixed(chosen.summary.meanSelected, 1) + " features on average"}};
  for (const auto& fact : ProvenanceFacts(provenance))
    content.facts.push_back(fact);
  content.heatMaps = HeatMaps(grid, t);
  content.heatMapsCaption =
      "Each cell: the mean AUC over the folds and the mean number of "
      "selected features; the framed cell is the chosen setting. Pairs with "
      "p-enter >= p-remove are skipped. The charts below are those of the "
      "chosen setting.";
  FillFoldCharts(content, plan, chosen.results, chosen.summary, data.names);
  return content;
}

Json SettingsJson(const Grid& grid,
                  const Plan& plan,
                  const Tuning& t,
                  const std::vector<std::string>& names) {
  Json settings = Json::array();
  for (size_t s = 0; s < grid.settings.size(); ++s) {
    const SettingRun& run = t.runs[s];
    Json entry = SettingJson(grid.settings[s]);
    entry["rank"] = std::find(t.ranking.begin(), t.ranking.end(), s) -
                    t.ranking.begin() + 1;
    entry["failure"] = run.failed ? Json(plan.Label(*run.failed) + ": " +
                                         run.results[*run.failed].failure)
                                  : Json();
    Json folds = Json::array();
    for (size_t k = 0; k < run.results.size(); ++k)
      folds.push_back(run.results[k].Succeeded()
                          ? FoldJson(plan, k, run.results[k], names)
                          : Json{{"name", plan.names[k]},
                                 {"failure", run.results[k].failure}});
    entry["folds"] = folds;
    entry["overall"] =
        run.failed ? Json() : OverallJson(run.summary, run.results);
    entry["auc_standard_error"] =
        run.failed ? Json() : Json(AucStandardError(run.summary));
    settings.push_back(entry);
  }
  return settings;
}

Json Summary(const TuneOptions& o,
             ClassifierBase& shown,
             const Dataset& data,
             const Grid& grid,
             const Plan& plan,
             const Tuning& t,
             const Json& provenance) {
  Json parameters = ParametersJson(HostKit::ReadSettings(shown));
  for (const char* setting : {"p_enter", "p_remove", "max_iter"})
    parameters.erase(setting);
  if (o.decisions.Balanced()) parameters["threshold"] = "balanced";
  return {{"command", "tune"},
          {"provenance", provenance},
          {"parameters", parameters},
          {"data", DataJson(o.data.Name(), data)},
          {"scheme", plan.scheme},
          {"group_column",
           plan.groupColumn.empty() ? Json() : Json(plan.groupColumn)},
          {"grid", GridJson(grid)},
          {"rule", t.oneSe ? "one-se" : "best"},
          {"chosen", t.chosen},
          {"best", t.ranking[0]},
          {"settings", SettingsJson(grid, plan, t, data.names)},
          {"model", o.model.empty() ? Json() : Json(o.model)}};
}

// The chosen setting trained on all of `data` as korva train trains, and
// saved to --model.
void WriteModel(const TuneOptions& o,
                const Module& module,
                const HostKit::SettingsChange& chosen,
                const std::optional<Epoching::Recipe>& recipe,
                const std::optional<Speller::Paradigm>& paradigm,
                Dataset& data,
                std::ostream* out) {
  ClassifierHandle classifier = HostKit::NewClassifier(module);
  HostKit::ApplySettings(*classifier, chosen);
  if (out)
    *out << "training the chosen setting on all of " << o.data.Name() << '\n';
  const HostKit::TrainedModel model = TrainConfigured(module,
                                                      std::move(classifier),
                                                      chosen,
                                                      o.decisions.Balanced(),
                                                      recipe,
                                                      paradigm,
                                                      data,
                                                      "",
                                                      nullptr);
  model.Save(o.model);
  if (out) {
    *out << "selected " << model.SelectedCount() << " of " << data.cols
         << " features in " << Duration(model.Run()->seconds) << '\n';
    if (!WritesDescriptor(o.model))
      *out << "model written to " << o.model << '\n';
  }
}

void WriteOutputs(const TuneOptions& o,
                  const std::vector<CommandFile>& files,
                  const std::string& modulePath,
                  ClassifierBase& shown,
                  const Dataset& data,
                  const Grid& grid,
                  const Plan& plan,
                  const Tuning& t,
                  const std::optional<Epoching::Recipe>& recipe,
                  std::ostream* out) {
  const Json provenance =
      o.report.empty() && o.summary.empty()
          ? Json()
          : Provenance(files,
                       modulePath,
                       shown,
                       plan.shuffled
                           ? std::optional<std::uint64_t>(o.folds.seed)
                           : std::nullopt);
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(
        o.summary,
        JsonText(Summary(o, shown, data, grid, plan, t, provenance)));
  if (o.report.empty()) return;
  Report::ReportContent content =
      TuningReport(o, shown.GetName(), data, grid, plan, t, provenance);
  if (recipe) content.epochs = EpochFeaturesOf(data, *recipe);
  SaveReport(o.report, content);
  if (out && !WritesDescriptor(o.report))
    *out << "report written to " << o.report << '\n';
}

// The files the command reads and writes.
std::vector<CommandFile> Files(const TuneOptions& o) {
  std::vector<CommandFile> files;
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  files.insert(files.end(),
               {{"--model", o.model, true},
                {"--report", o.report, true},
                {"--summary", o.summary, true}});
  return files;
}

// What tune brings to the preamble; the grid is made into `grid` once the
// files are checked.
PreambleRequest Request(const TuneOptions& o,
                        const FoldSettings& decisions,
                        Grid& grid) {
  PreambleRequest request;
  request.data = &o.data;
  request.folds = &o.folds;
  request.memoryLimit = o.memoryLimit;
  request.module = o.module;
  request.quiet = o.quiet;
  request.files = Files(o);
  request.digests = !o.report.empty() || !o.summary.empty();
  request.checkOptions = [&o] { CheckFoldOptions(o.folds, o.data); };
  // The decisions and a setting of the grid are checked before any work
  // starts (a module whose classifier takes no p-values is refused here).
  request.settings = [&o, &decisions, &grid] {
    grid = MakeGrid(o.grid);
    return GridSetting(grid, decisions, 0).parameters;
  };
  request.heading = [&grid](ClassifierBase&) { return GridText(grid); };
  request.atOnce = [&o, &grid](const Plan& plan) {
    return std::min<int>(std::max(1, o.jobs),
                         grid.settings.size() * plan.folds.size());
  };
  request.foldSettings = [&grid] {
    return static_cast<int>(grid.settings.size());
  };
  return request;
}

int RunTune(const TuneOptions& o) {
  FoldSettings decisions{{}, o.decisions.Balanced()};
  o.decisions.AddTo(decisions.parameters);
  Grid grid;
  const PreambleRequest request = Request(o, decisions, grid);
  Preamble p;
  RunPreamble(request, p);
  const Plan& plan = p.plan;
  Dataset& data = p.data;
  std::ostream* out = p.out;
  const int jobs = std::max(1, o.jobs);
  const Tuning t =
      Tune(*p.module, grid, decisions, plan, jobs, o.oneSe, data.cols);
  if (out) {
    PrintTable(*out, grid, plan, t);
    *out << "chosen: " << SettingText(grid.settings[t.chosen]) << ", by "
         << ChoiceRuleText(t, grid) << '\n';
  }
  if (!o.model.empty())
    WriteModel(o,
               *p.module,
               GridSetting(grid, decisions, t.chosen).parameters,
               p.recipe,
               p.paradigm,
               data,
               out);
  WriteOutputs(o,
               p.files,
               p.modulePath,
               *p.shown,
               data,
               grid,
               plan,
               t,
               p.recipe,
               out);
  return kExitOk;
}

}  // namespace

Command AddTuneCommand(CLI::App& korva) {
  auto options = std::make_shared<TuneOptions>();
  CLI::App* command = korva.add_subcommand(
      "tune",
      "choose p-enter, p-remove and max-iter by cross-validation over a grid");
  AddOptions(command, *options);
  return {command, [options] { return RunTune(*options); }};
}

}  // namespace Korva::Cli
