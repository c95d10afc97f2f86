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
#include "cli/cross_validation_options.h"
#include "cli/cross_validation_outputs.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/preamble.h"
#include "cli/recording_report.h"
#include "cli/speller_outputs.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "data/data_checks.h"
#include "korva/hostkit/output_file.h"
#include "report/metrics.h"
#include "text/number_text.h"
#include "validation/selection_folds.h"

namespace Korva::Cli {
namespace {

struct EvaluateOptions {
  DataSource data;
  std::vector<std::string> test;
  std::string report, summary, oofScores, module, memoryLimit;
  FoldOptions folds;
  int jobs = 2;
  bool ignoreNames = false, quiet = false, tune = false, oneSe = false;
  GridOptions parameters;
  DecisionOptions decisions;
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
  command->add_flag(
      "--tune",
      o.tune,
      "choose p-enter, p-remove and max-iter in each fold by a "
      "cross-validation of its training rows (the same scheme), from the "
      "lists that --p-enter, --p-remove and --max-iter then take, as in korva "
      "tune");
  command->add_flag("--one-se",
                    o.oneSe,
                    "with --tune: choose by the one-standard-error rule, as "
                    "korva tune --one-se");
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
  AddFoldOptions(command, o.folds, o.data);
  AddMatOptions(command, o.data);
  AddRecipeOptions(command, o.data.recipeOptions);
  AddSpellerOptions(command, o.data.spellerOptions);
  AddRecordingOptions(command, o.data.open);
  AddBidsOptions(command, o.data.bids);
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

Plan TestSetPlan(const EvaluateOptions& o,
                 const Dataset& data,
                 const std::optional<Epoching::Recipe>& recipe,
                 std::ostream* out,
                 std::vector<CommandFile>& files) {
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
  Dataset test = LoadData(testSource, true, out, nullptr, &files);
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
  plan.folds.push_back({[&data] { return data; },
                        data.rows,
                        std::move(test),
                        std::move(rows),
                        nullptr,
                        {}});
  plan.names.push_back("test set");
  plan.trainClasses.push_back(Data::CountLabels(data));
  plan.scheme = "calibration on " + dataName + ", test on " + name;
  return plan;
}

// What the tuning inside one fold chose.
struct FoldChoice {
  size_t setting = 0;  // in the grid
  FoldSummary inner;   // the chosen setting over the fold's inner folds
  std::string scheme;  // the inner folds
};

// What an evaluation gave, for its outputs.
struct Evaluation {
  Plan plan;
  std::vector<FoldResult> results;
  FoldSummary summary;
  std::string decisions;            // the rule in words; "" for a score above 0
  std::optional<Grid> grid;         // with --tune
  std::vector<FoldChoice> choices;  // with --tune, one per fold
  std::optional<Epoching::Recipe> recipe;  // DATA's, when it is recordings
  // DATA's held-out selections, when it is a speller session.
  std::optional<Speller::Session> speller;
  std::optional<Validation::SelectionEvaluation> selections;
};

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
    return "a score above the point " + WayText(settings.threshold) +
           " from the mean -1 score to the mean +1 score of each "
           "fold's training rows (" +
           cuts + ") is the target";
  return "a score above " + cuts + " is the target";
}

// "p-enter 0.05, p-remove 0.1, max-iter 300 (mean AUC 0.912 in its inner
// folds)": the setting fold k chose.
std::string ChoiceText(const Evaluation& e, size_t k) {
  const FoldChoice& c = e.choices[k];
  return SettingText(e.grid->settings[c.setting]) + " (mean AUC " +
         Fixed(c.inner.meanAuc, 3) + " in its inner folds)";
}

// How each fold chose its setting, in words.
std::string TuningText(const EvaluateOptions& o,
                       const Grid& grid,
                       const std::vector<FoldChoice>& choices) {
  return "in each fold, the setting of the grid (" + GridText(grid) +
         ") with " +
         (o.oneSe ? "the fewest features within one standard error of the "
                    "best mean AUC"
                  : "the best mean AUC") +
         " in a cross-validation of the fold's training rows only (" +
         choices[0].scheme + " in the first)";
}

// Chooses a setting inside each fold of the plan from its training rows
// only: their own folds by the same scheme, every setting of the grid
// trained on each. Says each fold's choice on `out`.
std::vector<FoldChoice> TuneInFolds(const EvaluateOptions& o,
                                    const Module& module,
                                    const Grid& grid,
                                    const FoldSettings& decisions,
                                    const Plan& plan,
                                    int features,
                                    std::ostream* out) {
  std::vector<FoldChoice> choices;
  for (size_t k = 0; k < plan.folds.size(); ++k) {
    const Dataset train = plan.folds[k].makeTrain();
    const std::string what = o.test.empty()
                                 ? "the training rows of " + plan.Label(k)
                                 : o.data.Name();
    try {
      const Plan inner =
          MakePlan(FoldScheme(o.folds, o.data, train), train, what);
      const Tuning t =
          Tune(module, grid, decisions, inner, o.jobs, o.oneSe, features);
      choices.push_back({t.chosen, t.runs[t.chosen].summary, inner.scheme});
    } catch (const Validation::Error& error) {
      throw Validation::Error(
          error.Kind(),
          "tuning in " + plan.Label(k) + ": " + error.what(),
          error.Status());
    }
    if (out)
      *out << plan.names[k] << ": chose "
           << SettingText(grid.settings[choices.back().setting])
           << " (mean AUC " << Fixed(choices.back().inner.meanAuc, 3) << " in "
           << choices.back().inner.aucs.size() << " inner folds of its "
           << train.rows << " training rows)\n"
           << std::flush;
  }
  return choices;
}

Report::ReportContent EvaluationReport(const EvaluateOptions& o,
                                       const Dataset& data,
                                       ClassifierBase& classifier,
                                       const Evaluation& e,
                                       const Json& provenance) {
  const Plan& plan = e.plan;
  const FoldSummary& s = e.summary;
  Report::ReportContent content;
  content.title = classifier.GetName() + ": " + plan.scheme +
                  (o.test.empty() ? " on " + o.data.Name() : "");
  content.facts.push_back({"data", o.data.Name() + ": " + DescribeSet(data)});
  content.warnings = data.quality;
  if (!o.test.empty()) {
    content.facts.push_back(
        {"test data",
         NameFiles(o.test) + ": " + DescribeSet(plan.folds[0].test)});
    for (const std::string& warning : plan.folds[0].test.quality)
      content.warnings.push_back(warning);
  }
  content.facts.push_back({"scheme", plan.scheme});
  if (e.grid)
    content.facts.push_back({"tuning", TuningText(o, *e.grid, e.choices)});
  else
    content.facts.push_back({"classifier", HostKit::ShortInfo(classifier)});
  if (!e.decisions.empty()) content.facts.push_back({"decisions", e.decisions});
  for (size_t k = 0; k < e.results.size(); ++k) {
    const std::string remark = FoldRemark(plan, k);
    content.facts.push_back(
        {plan.names[k],
         (remark.empty() ? "" : remark + ": ") +
             (e.grid ? "chose " + ChoiceText(e, k) + "; " : "") + "AUC " +
             Fixed(s.aucs[k], 3) + ", " + MetricsText(s.decisions[k]) + ", " +
             std::to_string(e.results[k].SelectedCount()) + " features, " +
             Duration(e.results[k].seconds)});
  }
  if (e.results.size() > 1)
    content.facts.push_back({"overall", OverallText(s)});
  for (const auto& fact : ProvenanceFacts(provenance))
    content.facts.push_back(fact);
  FillFoldCharts(content, plan, e.results, s, data.names);
  if (e.selections)
    content.speller = ReportCurve(*e.speller, e.selections->pooled, "");
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
                   Text::FormatDouble(plan.folds[k].test.labels[i]) + "," +
                   Text::FormatDouble(results[k].scores[i]);
    }
  std::string csv = "row,fold,label,score\n";
  for (const std::string& line : lines)
    if (!line.empty()) csv += line + "\n";
  return csv;
}

// With --tune: the setting fold k chose, and how it did in its inner folds.
Json ChoiceJson(const Evaluation& e, size_t k) {
  const FoldChoice& c = e.choices[k];
  Json chosen = SettingJson(e.grid->settings[c.setting]);
  chosen["inner_mean_auc"] = c.inner.meanAuc;
  chosen["inner_auc_spread"] = c.inner.aucSpread;
  chosen["inner_mean_selected"] = c.inner.meanSelected;
  return chosen;
}

// The held-out selections' curves: {"pooled": [...], "folds": [{"fold",
// "selections", "repetitions": [...]}]}.
Json SpellerJson(const Evaluation& e) {
  Json folds = Json::array();
  for (size_t k = 0; k < e.selections->folds.size(); ++k)
    folds.push_back({{"fold", k + 1},
                     {"selections", e.selections->foldSelections[k]},
                     {"repetitions", CurveJson(e.selections->folds[k])}});
  return {{"layout", e.speller->layout.given},
          {"pooled", CurveJson(e.selections->pooled)},
          {"folds", folds}};
}

// The held-out selections: the pooled curve, and each fold's accuracy (or
// text) with 1 .. R repetitions.
void PrintSelections(std::ostream& out, const Evaluation& e) {
  const Speller::Session& s = *e.speller;
  out << "held-out selections, pooled over the folds; time per selection "
      << TimingText(s) << '\n';
  PrintCurve(out, s, e.selections->pooled);
  for (size_t k = 0; k < e.selections->folds.size(); ++k) {
    out << e.plan.Label(k) << ", " << e.selections->foldSelections[k]
        << " selections, " << (s.TargetsKnown() ? "accuracy" : "text")
        << " with 1.." << e.selections->folds[k].repetitions << " repetitions:";
    for (const Speller::Outcome& o : e.selections->folds[k].curve)
      out << ' ' << (o.accuracy ? Fixed(*o.accuracy, 3) : o.text);
    out << '\n';
  }
}

Json Summary(const EvaluateOptions& o,
             ClassifierBase& classifier,
             const Dataset& data,
             const Evaluation& e,
             const Json& provenance) {
  Json folds = Json::array();
  for (size_t k = 0; k < e.results.size(); ++k) {
    folds.push_back(FoldJson(e.plan, k, e.results[k], data.names));
    if (e.grid) folds.back()["chosen"] = ChoiceJson(e, k);
  }
  Json parameters = ParametersJson(HostKit::ReadSettings(classifier));
  if (o.decisions.Balanced()) parameters["threshold"] = "balanced";
  if (e.grid)
    for (const char* setting : {"p_enter", "p_remove", "max_iter"})
      parameters.erase(setting);
  Json summary = {
      {"command", "evaluate"},
      {"provenance", provenance},
      {"parameters", parameters},
      {"data", DataJson(o.data.Name(), data)},
      {"scheme", e.plan.scheme},
      {"group_column",
       e.plan.groupColumn.empty() ? Json() : Json(e.plan.groupColumn)}};
  if (e.grid)
    summary["tuning"] = {{"grid", GridJson(*e.grid)},
                         {"rule", o.oneSe ? "one-se" : "best"},
                         {"inner_scheme", e.choices[0].scheme}};
  summary["folds"] = folds;
  summary["overall"] = OverallJson(e.summary, e.results);
  if (e.selections) summary["speller"] = SpellerJson(e);
  return summary;
}

void CheckSchemeOptions(const EvaluateOptions& o) {
  if (!o.test.empty() && !o.tune &&
      (o.folds.FoldsGiven() || o.folds.SeedGiven() || o.folds.blocks ||
       !o.data.groups.empty()))
    throw CliError(kExitUsage,
                   "--folds, --seed, --groups and --blocks split DATA for "
                   "cross-validation; with --test the model is trained on all "
                   "of DATA (with --tune they set the cross-validation of DATA "
                   "that chooses the setting)");
  if (o.oneSe && !o.tune)
    throw CliError(kExitUsage,
                   "--one-se is a rule of --tune: give --tune and the lists of "
                   "settings to choose from");
  CheckFoldOptions(o.folds, o.data);
  if (!o.data.spellerOptions.layout.empty() &&
      (!o.test.empty() || o.folds.SeedGiven() || o.folds.blocks))
    throw CliError(kExitUsage,
                   "the folds of a speller session hold whole runs or whole "
                   "selections, so --test, --seed and --blocks do not apply "
                   "with --layout (korva train and korva spell test one "
                   "session on another)");
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
                       e.plan.shuffled
                           ? std::optional<std::uint64_t>(o.folds.seed)
                           : std::nullopt);
  if (!o.oofScores.empty())
    HostKit::WriteTextAtomically(o.oofScores, OutOfFoldCsv(e.plan, e.results));
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(
        o.summary, JsonText(Summary(o, shown, data, e, provenance)));
  if (o.report.empty()) return;
  Report::ReportContent content =
      EvaluationReport(o, data, shown, e, provenance);
  if (e.recipe) content.epochs = EpochFeaturesOf(data, *e.recipe);
  SaveReport(o.report, content);
  if (out && !WritesDescriptor(o.report))
    *out << "report written to " << o.report << '\n';
}

// The folds' results: each trained with the one setting given, or with
// --tune with the setting its own tuning chose.
void RunEvaluation(const EvaluateOptions& o,
                   const Module& module,
                   const FoldSettings& settings,
                   int features,
                   Evaluation& e,
                   std::ostream* out) {
  const int jobs = std::max(1, std::min<int>(o.jobs, e.plan.folds.size()));
  if (!e.grid) {
    e.results = RunFolds(module, settings, e.plan.folds, jobs);
    return;
  }
  e.choices = TuneInFolds(o, module, *e.grid, settings, e.plan, features, out);
  std::vector<FoldSettings> grid;
  for (size_t s = 0; s < e.grid->settings.size(); ++s)
    grid.push_back(GridSetting(*e.grid, settings, s));
  std::vector<FoldTask> tasks;
  for (size_t k = 0; k < e.plan.folds.size(); ++k)
    tasks.push_back({k, {e.choices[k].setting}});
  for (auto& done : RunTasks(module, grid, e.plan.folds, tasks, jobs))
    e.results.push_back(std::move(done[0]));
}

// The command's files, each input and output named once.
std::vector<CommandFile> Files(const EvaluateOptions& o) {
  std::vector<CommandFile> files;
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  for (const std::string& path : o.test)
    files.push_back({"--test", path, false});
  files.insert(files.end(),
               {{"--report", o.report, true},
                {"--summary", o.summary, true},
                {"--oof-scores", o.oofScores, true}});
  return files;
}

void PrintOverall(std::ostream& out, const FoldSummary& s) {
  out << "overall: " << OverallText(s) << ", " << Fixed(s.meanSelected, 1)
      << " features selected on average, training time " << Duration(s.seconds)
      << " in all\n";
}

// What evaluate brings to the preamble; the grid and the settings are made
// into `e` and `settings` once the files are checked.
PreambleRequest Request(const EvaluateOptions& o,
                        Evaluation& e,
                        FoldSettings& settings) {
  PreambleRequest request;
  request.data = &o.data;
  request.folds = &o.folds;
  request.memoryLimit = o.memoryLimit;
  request.module = o.module;
  request.quiet = o.quiet;
  request.files = Files(o);
  request.digests = !o.report.empty() || !o.summary.empty();
  request.checkOptions = [&o] { CheckSchemeOptions(o); };
  request.settings = [&o, &e, &settings] {
    if (o.tune) e.grid = MakeGrid(o.parameters);
    settings = {o.tune ? HostKit::SettingsChange{} : o.parameters.Single(),
                o.decisions.Balanced()};
    o.decisions.AddTo(settings.parameters);
    return e.grid ? GridSetting(*e.grid, settings, 0).parameters
                  : settings.parameters;
  };
  if (!o.test.empty())
    request.plan = [&o](const Dataset& data,
                        const std::optional<Epoching::Recipe>& recipe,
                        std::ostream* out,
                        std::vector<CommandFile>& files) {
      return TestSetPlan(o, data, recipe, out, files);
    };
  request.heading = [&e](ClassifierBase& shown) {
    return e.grid ? "tuning in each fold: " + GridText(*e.grid)
                  : HostKit::ShortInfo(shown);
  };
  // The folds that train at the same time share the limit.
  request.atOnce = [&o](const Plan& plan) {
    return std::max(1, std::min<int>(o.jobs, plan.folds.size()));
  };
  request.foldSettings = [&e] {
    return e.grid ? static_cast<int>(e.grid->settings.size()) : 1;
  };
  return request;
}

int RunEvaluate(const EvaluateOptions& o) {
  Evaluation e;
  FoldSettings settings;
  const PreambleRequest request = Request(o, e, settings);
  Preamble p;
  RunPreamble(request, p);
  e.plan = std::move(p.plan);
  e.recipe = p.recipe;
  e.speller = std::move(p.speller);
  const Dataset& data = p.data;
  std::ostream* out = p.out;
  RunEvaluation(o, *p.module, settings, data.cols, e, out);
  if (out) PrintFoldTable(*out, e.plan, e.results);
  RefuseFailedFolds(e.plan, e.results);
  e.summary = SummarizeFolds(e.plan.folds, e.results, data.cols);
  if (out && e.results.size() > 1) PrintOverall(*out, e.summary);
  const HostKit::StepwiseSettings shownSettings =
      HostKit::ReadSettings(*p.shown);
  if (o.decisions.Balanced() || !DefaultDecisions(shownSettings))
    e.decisions = FoldDecisionText(o, shownSettings, e.results);
  if (out && !e.decisions.empty()) *out << "decisions: " << e.decisions << '\n';
  WarnNearBaseline(e.summary.pooled,
                   e.results.size() > 1 ? "out-of-fold scores" : "test set");
  if (e.speller) {
    e.selections =
        Validation::EvaluateSelections(e.plan, e.results, *e.speller, *p.shown);
    if (out) PrintSelections(*out, e);
  }
  WriteOutputs(o, p.files, p.modulePath, *p.shown, data, e, out);
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
