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
#include "sources/bids.h"
#include "speller/session.h"

namespace Korva::Sources {

// The group column of epochs cut from recordings as the data of a request:
// each epoch's group is its recording, named by its path.
constexpr const char* kRecordingGroups = "recording";

// True when `path` is a recording: by its extension (.edf, .bdf, .gdf,
// .vhdr, .xdf), or, for a regular file, by its content (a CSV file with a time and
// a marker column); or a folder of EEG-BIDS recordings (IsBidsFolder).
// Standard input and pipes are read once, as tables.
bool IsRecordingPath(const std::string& path,
                     const Recording::OpenOptions& options);

// Where a run comes from beyond its file: its BIDS subject and session,
// "" for a recording named itself.
struct RunOrigin {
  std::string subject, session;
};

// Recordings opened for reading, in the order named.
struct OpenedRecordings {
  std::vector<std::unique_ptr<Recording::Recording>> runs;
  std::vector<RunOrigin> origins;  // one per run
  std::vector<std::string> notes;  // the readers' notes, after the path
};

// Opens every recording of `paths` (Recording::OpenRecording), a BIDS
// folder as the runs below it that `bids` keeps (FindBidsRuns, OpenBidsRun):
// DataError naming the file when one is not a recording korva reads, or is
// damaged; Error(kUsage) when `bids` chooses runs and no path is a BIDS
// folder, when two of them read one file (the same device and inode: a
// link, another name, a second header naming the same data file), or when
// `options` are given for a recording other than a headset CSV file, which
// alone takes them. Records the digest of every file each one read
// (input_digest.h).
OpenedRecordings OpenRecordings(const std::vector<std::string>& paths,
                                const Recording::OpenOptions& options,
                                const BidsFilter& bids = {});

// A data set as a request loaded it, and for recordings how they were cut.
struct LoadedData {
  Data::Dataset data;
  // For recordings: the recipe as used (its channels and sampling rate
  // filled in) and what happened to each recording's events.
  std::optional<Epoching::ExtractReport> cut;
  std::vector<std::string> notes;  // the readers' notes, after the path
  std::vector<RunOrigin> origins;  // for recordings, one per run
  // For recordings: the files each read (Recording::Files), in the order
  // named.
  std::vector<std::vector<std::string>> files;
  // For a speller session: its flashes (the rows, in order), selections and
  // targets.
  std::optional<Speller::Session> speller;
};

// Opens every recording of `paths` (OpenRecordings) and cuts it by `recipe`
// (Epoching::ExtractEpochs), stacked in the order given, each epoch's group
// its run ("run", from 1). The notes say which channels were left out by
// default and the rate a run was read at; the data's `quality` holds what
// the checks of each run found, after its path. Error(kUsage) with
// CheckRecipe's reason for a recipe that cannot be, before any file is
// opened, and as OpenRecordings; Data::DataError naming the file when one
// cannot be read or cut so; HostKit::Error(kData) when the cut would take
// more memory than a training may (HostKit::CheckMemoryNeed), before it is
// allocated. Without `labelsRequired`, a recording with no event of the
// target list is cut without labels (Epoching::ExtractEpochs).
LoadedData Cut(const std::vector<std::string>& paths,
               const Epoching::Recipe& recipe,
               const Recording::OpenOptions& options,
               const BidsFilter& bids = {},
               bool labelsRequired = true);

// The notes and quality warnings of `cut`, whose `cut` report is filled:
// the channels left out by default (those of the first run), the rate each
// run was read at, what its checks found.
void AddCutNotes(LoadedData& cut);

// The recipe `model` (named `what`, "model m.xml") keeps, nothing for a
// model trained on a feature table; Error(kModel) when it cannot be read.
// A speller's recipe may have empty event lists.
std::optional<Epoching::Recipe> ModelRecipe(const HostKit::TrainedModel& model,
                                            const std::string& what);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_RECORDINGS_H_
