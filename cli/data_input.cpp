#include "cli/data_input.h"

#include <algorithm>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/recording_report.h"
#include "cli/texts.h"
#include "data/data_checks.h"
#include "report/metrics.h"

namespace Korva::Cli {
namespace {

// Above this AUC a column of codes separates the classes too well to be a
// measurement.
constexpr double kCodeColumnAuc = 0.99;

// A table's "selection" and "code" columns are never features; without a
// layout nothing reads them, so a user who meant them as features hears why
// they are missing.
void WarnSpellerColumns(const Dataset& data, const std::string& what) {
  if (data.side.empty()) return;
  if (data.side.size() > 1) {
    Warn(what +
         ": the code and selection columns number a speller session's "
         "flashes and selections and are never features; give --layout to "
         "read the session, or rename them to use them as features");
    return;
  }
  Warn(what + ": the " + data.side.begin()->first +
       " column belongs to a speller session and is never a feature; give "
       "--layout to read the session, or rename it to use it as a feature");
}

}  // namespace

Dataset LoadData(const DataSource& source,
                 bool requireLabels,
                 std::ostream* info,
                 std::optional<Epoching::Recipe>* used,
                 std::vector<CommandFile>* files,
                 std::optional<Speller::Session>* speller) {
  Sources::DataSource request = source;
  if (!request.speller)
    request.speller = source.spellerOptions.Request(requireLabels);
  const SpellerOptions& given = source.spellerOptions;
  if ((!given.selectionEvents.empty() || given.selectionFlashes > 0) &&
      !ReadsRecordings(request))
    throw CliError(kExitUsage,
                   "--selection-events and --selection-flashes delimit the "
                   "selections of recordings; the selection column of " +
                       source.Name() + " numbers a table's");
  const RecipeOptions& options = source.recipeOptions;
  const bool lists = !request.speller;
  Sources::LoadedData loaded =
      Sources::LoadData(request, requireLabels, {options.Given(), [&] {
                                                   return options.Recipe(lists);
                                                 }});
  if (files) AddRecordingFiles(*files, loaded.files);
  if (loaded.cut && used) *used = loaded.cut->recipe;
  if (loaded.speller) {
    if (info)
      PrintSpeller(*info, loaded, request.speller->paradigm, !source.recipe);
    if (speller) *speller = std::move(loaded.speller);
  } else if (loaded.cut && info) {
    PrintCut(*info, loaded, !source.recipe);
  }
  if (loaded.cut) WarnAboutQuality(loaded.data);
  if (!loaded.speller) WarnSpellerColumns(loaded.data, source.Name());
  return std::move(loaded.data);
}

void CheckTrainingSet(const Dataset& data, const std::string& what) {
  const Sources::TrainingSetCheck check = Sources::CheckTrainingSet(data, what);
  for (const std::string& warning : check.warnings) Warn(what + ": " + warning);
  for (int c : check.codeColumns) {
    std::vector<double> column(data.rows);
    for (int r = 0; r < data.rows; ++r) column[r] = data.At(r, c);
    const double auc = Report::Auc(column, data.labels);
    if (std::max(auc, 1.0 - auc) > kCodeColumnAuc)
      Warn(what + ": " + Data::FeatureLabel(data, c) +
           " holds only whole numbers and alone tells the classes apart "
           "(AUC " +
           Fixed(auc, 3) +
           "): it looks like a label, marker or group column, not a "
           "measurement; leave it out with --drop " +
           (c < static_cast<int>(data.names.size()) && !data.names[c].empty()
                ? data.names[c]
                : std::string("'#N'")));
  }
}

Dataset MatchColumns(Dataset data,
                     const std::vector<std::string>& names,
                     const std::string& owner,
                     const std::string& what,
                     bool ignoreNames,
                     std::ostream* info) {
  std::vector<std::string> notes;
  data = Sources::MatchColumns(
      std::move(data), names, owner, what, ignoreNames, &notes);
  if (info)
    for (const std::string& note : notes) *info << "note: " << note << '\n';
  return data;
}

HostKit::MatrixView View(const Dataset& data) {
  return {data.X.data(), data.rows, data.cols};
}

HostKit::TrainingRun TrainOn(ClassifierBase& classifier,
                             Dataset& data,
                             std::ostream* echo) {
  if (!data.hasLabels) throw Data::DataError("the training data has no labels");
  return HostKit::Train(
      classifier, data.X.Matrix(), data.labels.data(), data.names, echo);
}

}  // namespace Korva::Cli
