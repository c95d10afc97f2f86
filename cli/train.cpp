// korva train: trains a classifier and saves its model document.
#include "cli/train.h"

#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "cli/recording_report.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "cli/training_log.h"
#include "data/csv_write.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/trained_model.h"
#include "text/number_text.h"
#include "validation/balanced_threshold.h"
#include "sources/input_digest.h"

namespace Korva::Cli {
namespace {

struct TrainOptions {
  DataSource data;
  std::string model, weights, weightsCsv, logJson, report, summary, module;
  std::string memoryLimit;
  ParameterOptions parameters;
  DecisionOptions decisions;
  bool quiet = false;
};

void AddOptions(CLI::App* command, TrainOptions& o) {
  command
      ->add_option("DATA",
                   o.data.paths,
                   "training data: a feature table (.csv or .mat; - reads "
                   "standard input), or recordings (EDF, BDF, GDF, .vhdr, "
                   "headset CSV), the runs of a session, cut into epochs by "
                   "the recipe options")
      ->required();
  command->add_option("--model", o.model, "classifier document to write (XML)")
      ->required();
  command->add_option(
      "--weights", o.weights, "weight file to write (the module's format)");
  command->add_option(
      "--weights-csv",
      o.weightsCsv,
      "weights by feature name to write (CSV, the intercept last)");
  command->add_option(
      "--log-json", o.logJson, "JSON log of the training to write");
  command->add_option("--report", o.report, "HTML report to write");
  command->add_option(
      "--summary", o.summary, "JSON summary for scripts to write");
  AddQuietOption(command, o.quiet);
  o.parameters.Add(command, false);
  o.decisions.Add(command);
  AddTableOptions(command, o.data, kGroupsHelp);
  AddMatOptions(command, o.data);
  AddRecipeOptions(command, o.data.recipeOptions);
  AddSpellerOptions(command, o.data.spellerOptions);
  AddRecordingOptions(command, o.data.open);
  AddBidsOptions(command, o.data.bids);
  AddModuleOption(command, o.module);
  AddMemoryLimitOption(command, o.memoryLimit);
}

std::vector<CommandFile> Files(const TrainOptions& o) {
  std::vector<CommandFile> files;
  for (const std::string& path : o.data.paths)
    files.push_back({"DATA", path, false});
  files.insert(files.end(),
               {{"--model", o.model, true},
                {"--weights", o.weights, true},
                {"--weights-csv", o.weightsCsv, true},
                {"--log-json", o.logJson, true},
                {"--report", o.report, true},
                {"--summary", o.summary, true}});
  return files;
}

// What a training gave, for the outputs.
struct Trained {
  HostKit::TrainedModel model;
  std::vector<double> scores;  // of the training set itself
  Report::Confusion confusion;
};

Report::ReportContent TrainingReport(const TrainOptions& o,
                                     const Dataset& data,
                                     const Trained& t,
                                     const Json& provenance) {
  const HostKit::TrainedModel& model = t.model;
  Report::ReportContent content;
  content.title =
      model.Classifier().GetName() + " training on " + o.data.Name();
  content.warnings = data.quality;
  content.facts = {
      {"data", o.data.Name() + ": " + DescribeSet(data)},
      {"classifier", model.ShortInfo()},
      {"selected features",
       std::to_string(model.SelectedCount()) + " of " +
           std::to_string(data.cols)},
      {"training set AUC", Fixed(Report::Auc(t.scores, data.labels), 3)},
      {"training set decisions", MetricsText(t.confusion)},
      {"training time", Duration(model.Run()->seconds)},
  };
  if (!DefaultDecisions(model.Settings()))
    content.facts.insert(content.facts.begin() + 5,
                         {"decisions", DecisionText(model)});
  for (const auto& fact : ProvenanceFacts(provenance))
    content.facts.push_back(fact);
  content.rocs = {{"training set", t.scores, data.labels}};
  content.scores = t.scores;
  content.labels = data.labels;
  content.scoresCaption =
      "Scores of the training set itself: they look better than scores of new "
      "data would.";
  FillWeights(content, data.names, model.SavedWeights(), model.Selected());
  for (const HostKit::Step& step : model.Steps()) {
    const size_t i = static_cast<size_t>(step.feature);
    const std::string name = i < data.names.size() ? data.names[i] : "";
    content.steps.push_back({step.step,
                             step.added,
                             name.empty() ? "#" + std::to_string(i + 1) : name,
                             step.p});
  }
  if (const auto recipe = Sources::ModelRecipe(model, "model " + o.model))
    content.epochs = EpochFeaturesOf(data, *recipe);
  return content;
}

// name,weight per feature, then the intercept on its own row.
std::string WeightsCsv(const Dataset& data, const HostKit::TrainedModel& m) {
  std::string csv = "name,weight\n";
  for (int i = 0; i < m.Features(); ++i) {
    const std::string name =
        i < static_cast<int>(data.names.size()) ? data.names[i] : "";
    csv += Data::CsvField(name.empty() ? "#" + std::to_string(i + 1) : name) +
           "," + Text::FormatDouble(m.SavedWeights()[i]) + "\n";
  }
  return csv + "(intercept)," + Text::FormatDouble(m.Intercept()) + "\n";
}

Json Summary(const TrainOptions& o,
             const Dataset& data,
             const Trained& t,
             const Json& provenance) {
  const HostKit::TrainedModel& model = t.model;
  return {{"command", "train"},
          {"provenance", provenance},
          {"parameters", ParametersJson(model.Settings())},
          {"data", DataJson(o.data.Name(), data)},
          {"training_seconds", model.Run()->seconds},
          {"metrics",
           {{"training_set", MetricsJson(t.scores, data.labels, model.Cut())}}},
          {"intercept", model.Intercept()},
          {"selection", SelectionJson(model, data.names)},
          {"steps", StepsJson(model.Steps(), data.names)},
          {"recipe",
           model.Host().recipe.empty() ? Json() : Json(model.Host().recipe)}};
}

void PrintResult(std::ostream& out,
                 const TrainOptions& o,
                 const Dataset& data,
                 const Trained& t) {
  out << "selected " << t.model.SelectedCount() << " of " << data.cols
      << " features in " << Duration(t.model.Run()->seconds) << "\n"
      << "training set: AUC " << Fixed(Report::Auc(t.scores, data.labels), 3)
      << ", " << MetricsText(t.confusion)
      << " (scores of the training data itself)\n";
  if (!DefaultDecisions(t.model.Settings()))
    out << "decisions: " << DecisionText(t.model) << '\n';
  for (const auto& [what, path] : {std::pair{"model", o.model},
                                   {"weights", o.weights},
                                   {"weights by name", o.weightsCsv},
                                   {"log", o.logJson},
                                   {"report", o.report},
                                   {"summary", o.summary}})
    if (!path.empty() && !WritesDescriptor(path))
      out << what << " written to " << path << '\n';
}

// Trains a configured classifier on `data`, writing the log whatever the
// outcome; the training error when it does not succeed.
HostKit::TrainedModel TrainModel(ClassifierHandle classifier,
                                 Dataset& data,
                                 const std::string& logJson,
                                 std::ostream* out) {
  HostKit::TrainingRun run = TrainOn(*classifier, data, out);
  if (!logJson.empty())
    HostKit::WriteTextAtomically(logJson,
                                 JsonText(TrainingLog(*classifier, run)));
  if (!run.Succeeded()) throw HostKit::TrainingError(run, "no model written");
  return HostKit::TrainedModel(
      std::move(classifier), std::move(run), View(data), data.labels.data());
}

// Sets the classifier's threshold to the score cut best for balanced
// accuracy in a cross-validation of `data`, and says what it chose.
void ChooseThreshold(const Module& module,
                     ClassifierBase& classifier,
                     const HostKit::SettingsChange& parameters,
                     const Dataset& data,
                     std::ostream* out) {
  if (out)
    *out << "choosing the threshold for balanced accuracy: "
         << Validation::kThresholdFolds
         << "-fold stratified cross-validation of the training set, seed "
         << Validation::kThresholdSeed << '\n'
         << std::flush;
  HostKit::SettingsChange chosen;
  chosen.threshold = Validation::ChooseBalancedCut(module, parameters, data, 2);
  HostKit::ApplySettings(classifier, chosen);
  if (out)
    *out << "threshold: score above " << General(*chosen.threshold)
         << " (the best balanced accuracy of the out-of-fold scores)\n";
}

void WarnIfNothingSelected(const HostKit::TrainedModel& model) {
  if (model.SelectedCount() > 0) return;
  Warn("no feature was selected, so the model cannot classify; " +
       std::string(model.Settings().maxIter == 0
                       ? "--max-iter 0 allows no change of the selection"
                       : "a larger --p-enter lets features in more easily"));
}

void WriteOutputs(const TrainOptions& o,
                  const Dataset& data,
                  const Trained& t,
                  const Json& provenance) {
  t.model.Save(o.model);
  if (!o.weights.empty()) t.model.SaveWeights(o.weights);
  if (!o.weightsCsv.empty())
    HostKit::WriteTextAtomically(o.weightsCsv, WeightsCsv(data, t.model));
  if (!o.report.empty())
    SaveReport(o.report, TrainingReport(o, data, t, provenance));
  if (!o.summary.empty())
    HostKit::WriteTextAtomically(o.summary,
                                 JsonText(Summary(o, data, t, provenance)));
}

}  // namespace

HostKit::TrainedModel TrainConfigured(
    const Module& module,
    ClassifierHandle classifier,
    const HostKit::SettingsChange& parameters,
    bool balanced,
    const std::optional<Epoching::Recipe>& recipe,
    const std::optional<Speller::Paradigm>& paradigm,
    Dataset& data,
    const std::string& logJson,
    std::ostream* out) {
  if (balanced) ChooseThreshold(module, *classifier, parameters, data, out);
  if (out) *out << HostKit::ShortInfo(*classifier) << '\n';
  HostKit::TrainedModel model =
      TrainModel(std::move(classifier), data, logJson, out);
  if (recipe) model.Host().recipe = Epoching::RecipeXml(*recipe);
  if (paradigm) model.Host().speller = Speller::ParadigmXml(*paradigm);
  WarnIfNothingSelected(model);
  return model;
}

namespace {

int RunTrain(const TrainOptions& o) {
  ApplyMemoryLimit(o.memoryLimit);
  std::vector<CommandFile> files = Files(o);
  CheckCommandFiles(files);
  if (!o.report.empty() || !o.summary.empty())
    Sources::RecordInputDigests(Warn);
  std::ostream* out = MessageStream(
      o.quiet,
      {o.model, o.weights, o.weightsCsv, o.logJson, o.report, o.summary});
  std::optional<Epoching::Recipe> recipe;
  DataSource source = o.data;
  source.speller = o.data.spellerOptions.Request(true);
  Dataset data = LoadData(source, true, out, &recipe, &files);
  CheckTrainingSet(data, o.data.Name());
  const std::string modulePath = HostKit::ChooseModulePath(o.module);
  auto module = HostKit::OpenModule(modulePath);
  ClassifierHandle classifier = HostKit::NewClassifier(*module);
  HostKit::SettingsChange parameters = o.parameters.Get();
  o.decisions.AddTo(parameters);
  HostKit::ApplySettings(*classifier, parameters);

  if (out)
    *out << "training on " << o.data.Name() << ": " << DescribeSet(data)
         << '\n';
  Trained t{TrainConfigured(*module,
                            std::move(classifier),
                            parameters,
                            o.decisions.Balanced(),
                            recipe,
                            source.speller ? std::optional<Speller::Paradigm>(
                                                 source.speller->paradigm)
                                           : std::nullopt,
                            data,
                            o.logJson,
                            out),
            {},
            {}};
  t.scores = t.model.Score(View(data));
  t.confusion = Report::ConfusionAbove(t.scores, data.labels, t.model.Cut());
  WarnNearBaseline(t.confusion, "training set");
  const Json provenance =
      o.report.empty() && o.summary.empty()
          ? Json()
          : Provenance(files, modulePath, t.model.Classifier(), std::nullopt);
  WriteOutputs(o, data, t, provenance);
  if (out) PrintResult(*out, o, data, t);
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
