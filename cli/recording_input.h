#ifndef KORVA_CLI_RECORDING_INPUT_H_
#define KORVA_CLI_RECORDING_INPUT_H_

// Recordings as the data of a command: told apart from feature tables, cut
// into epochs by a recipe, and what happened to their events told as korva
// epochs tells it.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "korva/hostkit/trained_model.h"
#include "epoching/epochs.h"
#include "epoching/recipe.h"
#include "recording/recording.h"
#include "report/html_report.h"

namespace Korva::Cli {

// The group column of epochs cut from recordings by a command: each epoch's
// group is its recording, named by its path.
constexpr const char* kRecordingGroups = "recording";

// True when `path` is a recording: by its extension (.edf, .bdf, .gdf,
// .vhdr), or, for a regular file, by its content (a CSV file with a time and
// a marker column). Standard input and pipes are read once, as tables.
bool IsRecordingPath(const std::string& path,
                     const Recording::OpenOptions& options);

// Epochs cut from recordings, and what happened to their events.
struct CutRecordings {
  Data::Dataset data;
  Epoching::ExtractReport report;  // the recipe as used, per recording
  std::vector<std::string> notes;   // the readers' notes, after the path
};

// Opens every recording of `paths` and cuts it by `recipe`
// (Epoching::ExtractEpochs): Data::DataError naming the file when one
// cannot be read or cut so.
CutRecordings Cut(const std::vector<std::string>& paths,
                  const Epoching::Recipe& recipe,
                  const Recording::OpenOptions& options);

// The recipe as used (when `withRecipe`), the readers' notes, one line per
// recording (epochs kept per class, outside the file, rejected, events
// skipped) and the codes of the skipped events.
void PrintCut(std::ostream& out, const CutRecordings& cut, bool withRecipe);

// The recipe `model` (named `what`, "model m.xml") keeps, nothing for a
// model trained on a feature table; CliError(kExitModel) when it cannot be
// read.
std::optional<Epoching::Recipe> ModelRecipe(const HostKit::TrainedModel& model,
                                             const std::string& what);

// What the report shows of epochs cut by `recipe` (as used, its sampling
// rate known): the centre of each bin in ms after the event, and per feature
// of `data` the class means and r² of feature and label, signed as the
// target mean less the non-target one.
Report::EpochFeatures EpochFeaturesOf(const Data::Dataset& data,
                                      const Epoching::Recipe& recipe);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_RECORDING_INPUT_H_
