#include "cli/scoring.h"

#include <algorithm>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "korva/text.h"
#include "sources/input_digest.h"

namespace Korva::Cli {
namespace {

// "; the model lacks its columns a, b: leave them out with --drop a,b" when
// the data holds every feature of the model and more; "" otherwise.
std::string ExtraColumns(const Dataset& data,
                         const std::vector<std::string>& modelNames) {
  std::vector<std::string> extra;
  for (const std::string& name : data.names)
    if (std::find(modelNames.begin(), modelNames.end(), name) ==
        modelNames.end())
      extra.push_back(name);
  if (extra.empty() || data.names.size() - extra.size() != modelNames.size() ||
      std::find(extra.begin(), extra.end(), "") != extra.end())
    return "";
  std::string list;
  for (const std::string& name : extra)
    list += (list.empty() ? "" : ",") + name;
  return "; the model has no feature named " + list +
         ": leave those columns out with --drop " + list;
}

// `source` with the model's recipe: recordings are cut by it, and only a
// model trained on recordings has one; a speller model's recordings are
// read as its paradigm says.
DataSource ScoringSource(DataSource source,
                         const std::string& modelPath,
                         const HostKit::TrainedModel& model,
                         std::ostream* info) {
  const std::string what = "model " + modelPath;
  source.recipe = Sources::ModelRecipe(model, what);
  const bool recordings = ReadsRecordings(source);
  if (recordings && !source.recipe)
    throw CliError(kExitData,
                   what +
                       " was trained on a feature table and has no recipe "
                       "to cut the recordings " +
                       source.Name() +
                       " with: score a table of their epochs (korva epochs "
                       "writes one, cut as the training table was)");
  if (!recordings && source.recipe)
    throw CliError(kExitData,
                   what +
                       " was trained on recordings and cuts its features "
                       "from recordings by its recipe (korva info shows "
                       "it): give it recordings, not the feature table " +
                       source.Name());
  if (recordings && !source.speller)
    if (const auto paradigm = Sources::ModelParadigm(model, what))
      source.speller = Sources::SpellerRequest{*paradigm, "", false};
  if (recordings && info) {
    const bool stimuli = !source.stimulusEvents.empty();
    *info << "cut by the recipe of " << what << ":\n";
    for (size_t e = 0; e < source.stimulusEvents.size(); ++e)
      *info << (e == 0 ? "events scored without labels: " : ", ")
            << CleanText(source.stimulusEvents[e])
            << (e + 1 == source.stimulusEvents.size() ? "\n" : "");
    *info << CleanText(Epoching::RecipeText(*source.recipe,
                                            !source.speller && !stimuli));
  }
  return source;
}

}  // namespace

HostKit::TrainedModel LoadScoringModel(const Module& module,
                                       const std::string& path) {
  std::vector<std::string> warnings;
  const std::string document = HostKit::ReadModelFile(path);
  Sources::InputDigest::Record(path, document);
  HostKit::TrainedModel model = HostKit::TrainedModel::Parse(
      module, document, "model " + path, &warnings);
  for (const std::string& warning : warnings) Warn(warning);
  if (!model.CanClassify())
    throw CliError(kExitModel,
                   "model " + path +
                       " holds no trained classifier (no feature is selected)");
  return model;
}

Dataset LoadScoringData(const std::string& modelPath,
                        const HostKit::TrainedModel& model,
                        DataSource source,
                        bool ignoreNames,
                        std::ostream* info,
                        std::optional<Speller::Session>* speller,
                        std::vector<CommandFile>* files) {
  const std::string name = source.Name();
  Dataset data =
      LoadData(ScoringSource(std::move(source), modelPath, model, info),
               false,
               info,
               nullptr,
               files,
               speller);
  if (data.cols != model.Features())
    throw CliError(kExitData,
                   name + " has " + std::to_string(data.cols) +
                       " feature columns but model " + modelPath +
                       " was trained on " + std::to_string(model.Features()) +
                       ExtraColumns(data, model.FeatureNames()));
  return MatchColumns(std::move(data),
                      model.FeatureNames(),
                      "model " + modelPath,
                      name,
                      ignoreNames,
                      info);
}

}  // namespace Korva::Cli
