// korva info: the short and training reports of a saved classifier.
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/recording_report.h"
#include "cli/texts.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/trained_model.h"
#include "korva/text.h"
#include "sources/recordings.h"
#include "sources/speller_source.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

struct InfoOptions {
  std::string model, module;
  bool quiet = false;
};

void PrintSelectionByName(const HostKit::TrainedModel& model) {
  if (model.SelectedCount() == 0) return;
  std::cout << "selected features by name:\n";
  const std::vector<std::string>& names = model.FeatureNames();
  for (int i = 0; i < model.Features(); ++i) {
    if (!model.Selected()[i]) continue;
    std::string name =
        i < static_cast<int>(names.size()) ? names[i] : std::string();
    if (name.empty()) name = "#" + std::to_string(i + 1);
    std::cout << "  " << CleanText(name) << "  "
              << Text::FormatDouble(model.Weights()[i]) << '\n';
  }
}

// The decision rule, and the training classes' scores it may stand on.
void PrintDecisions(const HostKit::TrainedModel& model) {
  if (const auto& c = model.Host().classScores)
    std::cout << "training scores: mean " << General(c->negativeMean) << " of "
              << c->negatives << " rows labelled -1, mean "
              << General(c->positiveMean) << " of " << c->positives
              << " labelled +1, pooled standard deviation "
              << General(std::sqrt(c->pooledVariance)) << '\n';
  try {
    std::cout << "decisions: " << DecisionText(model) << '\n';
  } catch (const HostKit::Error& error) {
    std::cout << "decisions: none: " << CleanText(error.what()) << '\n';
  }
}

// The speller the model decodes for, and the recipe that cuts recordings
// into its features (a speller's flash markers, when it has any, in place
// of the event lists), when it has them.
void PrintRecipe(const HostKit::TrainedModel& model, const std::string& path) {
  const std::string what = "model " + path;
  const auto paradigm = Sources::ModelParadigm(model, what);
  if (paradigm)
    std::cout << Speller::ParadigmText(*paradigm)
              << " (korva spell reads sessions so)\n";
  const auto recipe = Sources::ModelRecipe(model, what);
  if (!recipe) return;
  std::cout << "recipe (korva score cuts recordings into the features so):\n";
  std::string text = Epoching::RecipeText(*recipe, !paradigm);
  if (paradigm) text = FlashMarkersText(*recipe) + text;
  std::istringstream lines(CleanText(text));
  for (std::string line; std::getline(lines, line);)
    std::cout << "  " << line << '\n';
}

int RunInfo(const InfoOptions& o) {
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  std::vector<std::string> warnings;
  const HostKit::TrainedModel model =
      HostKit::TrainedModel::Load(*module, o.model, &warnings);
  for (const std::string& warning : warnings) Warn(warning);
  if (o.quiet) return kExitOk;
  const std::string& trainingInfo = model.TrainingInfo();
  // The module's texts repeat what the document holds: cleaned, as every
  // text from a file is before it reaches the terminal.
  std::cout << "model: " << o.model << '\n'
            << CleanText(model.ShortInfoText()) << '\n'
            << CleanText(trainingInfo);
  if (!trainingInfo.empty() && trainingInfo.back() != '\n') std::cout << '\n';
  PrintSelectionByName(model);
  if (model.InterceptKnown())
    std::cout << "intercept: " << Text::FormatDouble(model.Intercept())
              << " (kept by korva in the document; scores add it)\n";
  else
    std::cout << "note: " << HostKit::kMissingInterceptNote << '\n';
  PrintDecisions(model);
  PrintRecipe(model, o.model);
  return kExitOk;
}

}  // namespace

Command AddInfoCommand(CLI::App& korva) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = korva.add_subcommand(
      "info", "show the short and training reports of a saved classifier");
  command->add_option("MODEL", options->model, "classifier document (XML)")
      ->required();
  AddQuietOption(command, options->quiet);
  AddModuleOption(command, options->module);
  return {command, [options] { return RunInfo(*options); }};
}

}  // namespace Korva::Cli
