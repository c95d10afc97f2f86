#ifndef KORVA_SOURCES_BIDS_H_
#define KORVA_SOURCES_BIDS_H_

// EEG-BIDS folders as the data of a request. A dataset's root, a subject
// (sub-<label>), session (ses-<label>) or eeg folder stands for the runs
// below it: recordings named
//   sub-<label>[_ses-<label>]_task-<label>[_acq-<label>][_run-<index>]_eeg.EXT
// (EXT vhdr, edf or bdf) in a folder named eeg, each read with the sidecar
// files of the same name beside it:
//   *_events.tsv    the events: onset in seconds from the recording's first
//                   sample, and trial_type and value, both of which event
//                   lists may name; they replace the recording's own markers
//   *_channels.tsv  each channel's type (EEG, EOG, ECG, TRIG, MISC, ...) and
//                   status: a channel is taken as EEG when its type is EEG
//                   and its status is not bad
// Sidecars of the dataset's or a subject's level (the inheritance principle)
// are not read.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording.h"

namespace Korva::Sources {

// Which runs of a BIDS folder are taken: each list empty for any; labels
// with or without their prefix ("01" or "sub-01"), run indices as numbers.
struct BidsFilter {
  std::vector<std::string> subjects, sessions, tasks, runs;
  bool Empty() const;
};

// One run of an EEG-BIDS folder.
struct BidsRun {
  std::string recording;         // the *_eeg.vhdr, .edf or .bdf file
  std::string events, channels;  // its sidecars, "" where there is none
  std::string subject, session, task, run;  // labels, "" where the name
                                            // has none
};

// True when `path` is a folder that holds EEG-BIDS recordings: a dataset's
// root, a subject, session or eeg folder.
bool IsBidsFolder(const std::string& path);

// The runs below `folder` that `filter` keeps, by subject, session, task
// and run, and a sentence naming them; DataError naming the folder when it
// holds none, or none that the filter keeps (naming what it holds).
struct BidsRuns {
  std::vector<BidsRun> runs;
  std::string note;
};
BidsRuns FindBidsRuns(const std::string& folder, const BidsFilter& filter);

// The recording of `run` (Recording::OpenRecording) with the events of its
// events file, the types and status of its channels file, and notes saying
// what they changed. DataError naming the file where one cannot be read.
std::unique_ptr<Recording::Recording> OpenBidsRun(
    const BidsRun& run,
    const Recording::OpenOptions& options);

// The events of an events file's text at `rate` Hz: onsets to the nearest
// sample (a tie to the even one); the trial_type as the code and the value
// as its alias, or the value alone; rows whose onset or both names are n/a
// are left out, counted in `notes` (sentences about the recording whose
// events file it is). DataError naming `path` and the line
// for a missing column, a ragged row or an onset that is no number.
std::vector<Recording::Event> ParseEventsTsv(std::string_view text,
                                             double rate,
                                             const std::string& path,
                                             std::vector<std::string>& notes);

// One row of a channels file.
struct ChannelRow {
  std::string name, type;  // the type in capitals
  bool bad = false;        // its status is "bad"
};

// The rows of a channels file's text; DataError naming `path` and the line
// for a missing name or type column or a ragged row.
std::vector<ChannelRow> ParseChannelsTsv(std::string_view text,
                                         const std::string& path);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_BIDS_H_
