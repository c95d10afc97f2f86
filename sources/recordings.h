#ifndef KORVA_SOURCES_RECORDINGS_H_
#define KORVA_SOURCES_RECORDINGS_H_

// Recordings as the data of a request: told apart from feature tables,
// opened, and cut into epochs by a recipe.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "epoching/epochs.h"
#include "epoching/recipe.h"
#include "korva/hostkit/trained_model.h"
#include "recording/recording.h"
#include "speller/session.h"

namespace Korva::Sources {

// The group column of epochs cut from recordings as the data of a request:
// each epoch's group is its recording, named by its path.
constexpr const char* kRecordingGroups = "recording";

// True when `path` is a recording: by its extension (.edf, .bdf, .gdf,
// .vhdr), or, for a regular file, by its content (a CSV file with a time and
// a marker column). Standard input and pipes are read once, as tables.
bool IsRecordingPath(const std::string& path,
                     const Recording::OpenOptions& options);

// Recordings opened for reading, in the order named.
struct OpenedRecordings {
  std::vector<std::unique_ptr<Recording::Recording>> runs;
  std::vector<std::string> notes;  // the readers' notes, after the path
};

// Opens every recording of `paths` (Recording::OpenRecording): DataError
// naming the file when one is not a recording korva reads, or is damaged.
OpenedRecordings OpenRecordings(const std::vector<std::string>& paths,
                                const Recording::OpenOptions& options);

// A data set as a request loaded it, and for recordings how they were cut.
struct LoadedData {
  Data::Dataset data;
  // For recordings: the recipe as used (its channels and sampling rate
  // filled in) and what happened to each recording's events.
  std::optional<Epoching::ExtractReport> cut;
  std::vector<std::string> notes;  // the readers' notes, after the path
  // For a speller session: its flashes (the rows, in order), selections and
  // targets.
  std::optional<Speller::Session> speller;
};

// Opens every recording of `paths` and cuts it by `recipe`
// (Epoching::ExtractEpochs), stacked in the order given, each epoch's group
// its run ("run", from 1). Error(kUsage) with CheckRecipe's reason for a
// recipe that cannot be, before any file is opened; Data::DataError naming
// the file when one cannot be read or cut so. Without `labelsRequired`, a
// recording with no event of the target list is cut without labels
// (Epoching::ExtractEpochs).
LoadedData Cut(const std::vector<std::string>& paths,
               const Epoching::Recipe& recipe,
               const Recording::OpenOptions& options,
               bool labelsRequired = true);

// The recipe `model` (named `what`, "model m.xml") keeps, nothing for a
// model trained on a feature table; Error(kModel) when it cannot be read.
// A speller's recipe may have empty event lists.
std::optional<Epoching::Recipe> ModelRecipe(const HostKit::TrainedModel& model,
                                            const std::string& what);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_RECORDINGS_H_
