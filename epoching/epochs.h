#ifndef KORVA_EPOCHING_EPOCHS_H_
#define KORVA_EPOCHING_EPOCHS_H_

// Epoch features from continuous recordings, by a recipe.
//
// Per recording (a run), per chosen channel:
//   1. Read the channel (resampled to the recipe's rate when the recipe
//      resamples and the run has another: resample.h); with the average reference, subtract the mean of
//      the chosen channels at each sample.
//   2. Band-pass it forward and backward (epoching/band_pass.h).
//   3. For every kept event, cut the window [onset + start, onset + start +
//      length): bin b is the mean of its samples b·w .. b·w + w - 1, less
//      the mean of the baseline samples when there is a baseline; note the
//      window's peak-to-peak for the reject rule.
// A recording with breaks (Recording::Breaks) is filtered part by part, and
// an epoch whose window or baseline is not within one part is dropped.
// Each chosen channel's raw samples are summed up as they are read, for
// the checks of quality.h.
//
// Memory: the samples of two channels and the feature matrix (see
// ExtractionMemory), checked before they are allocated. Channels are
// filtered two at a time (the filter runs on both at once), except with the
// average reference, which reads every chosen channel once before the pass
// above to sum them into the mean, and then holds the mean and one channel.
// Rejected rows are dropped at the end by copying the kept rows into a
// matrix of their own size, after the samples are released.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "epoching/recipe.h"
#include "recording/recording.h"

namespace Korva::Epoching {

// Epochs by class, also indexed by `isTarget`.
struct ClassCounts {
  long long target = 0;
  long long nonTarget = 0;
  long long unlabelled = 0;  // epochs whose class is not known
  long long& operator[](bool isTarget) { return isTarget ? target : nonTarget; }
  // The count of epochs labelled `label`: +1, -1, or 0 (not known).
  long long& Of(int label);
};

// What happened to the events of one recording.
struct RunReport {
  std::string path;
  ClassCounts kept;
  ClassCounts outside;   // the window (or baseline) not wholly in the file
  ClassCounts rejected;  // peak-to-peak above the limit on some channel
  // The window across a break of the recording, or in a part of it too
  // short for the filter.
  ClassCounts atBreaks;
  std::map<std::string, long long> skipped;  // events of neither list, by code
  std::vector<std::string> notes;     // the rate it was read at
  std::vector<std::string> warnings;  // what its checks found (quality.h)
  double resampledFrom = 0;  // its own rate when it was resampled, else 0
  // False when the recording has no event of the target list and its
  // epochs were cut without labels.
  bool labelled = true;
};

// An epoch a caller chose: its event's sample and its label (+1, -1; 0:
// not known).
struct PlannedEpoch {
  long long onset = 0;
  int label = 0;
};

struct ExtractReport {
  Recipe recipe;  // as used: the channels and the sampling rate filled in
  Window window;
  std::vector<RunReport> runs;
  // Without channels in the recipe: the first recording's channels that
  // were not taken because they are not EEG.
  std::vector<std::string> leftOut;
};

// Refuses (throws) work that would take `bytes` of memory; `what` names the
// work ("cutting r.vhdr into 946 epochs of 160 features, ...").
using MemoryCheck =
    std::function<void(std::uint64_t bytes, const std::string& what)>;

// The memory ExtractEpochs takes beside the recordings, in bytes, for `rows`
// epochs of `cols` features from recordings of at most `samples` samples per
// channel: the features (twice when rows are rejected, which are dropped by
// a copy), their labels and runs, and the samples of two channels (one
// channel and the average reference's mean), each a double.
std::uint64_t ExtractionMemory(std::uint64_t rows,
                               std::uint64_t cols,
                               std::uint64_t samples,
                               const Recipe& recipe);

// The features of every epoch of `runs`, stacked in the order given: one
// row per kept epoch (labels +1 target, -1 non-target; the groups, in
// column "run", the runs named by their number from 1), one column per
// channel and bin, channel-major, named CHANNEL_BB (BB the bin from 01).
// `report` (may be null) says what was kept, skipped and dropped, and what
// the checks found. A run whose rate came from time stamps and differs from
// the recipe's within their uncertainty is cut at the recipe's rate. Throws
// Data::DataError for a recipe that CheckRecipe refuses or that cannot cut a
// run (CheckRecording, EpochWindow, a band not below half the sampling rate, a
// file no longer than the filter's padding), when a feature is not finite
// (samples too large to filter and average), and when no epoch is left.
// Without `labelsRequired` a run with no event of the target list is cut
// without labels (its events of the non-target list; RunReport::labelled
// false), and a set that holds such epochs has none (hasLabels false).
// `checkMemory` (may be empty) hears ExtractionMemory once the epochs are
// counted, before anything is allocated for them.
Data::Dataset ExtractEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    ExtractReport* report,
    bool labelsRequired = true,
    const MemoryCheck& checkMemory = {});

// The epochs of the events a caller chose, `planned[k]` (in onset order) of
// `runs[k]`, cut by the recipe's channels, filter and window as
// ExtractEpochs cuts them (at the recipe's rate, their onsets moved as the
// run's events are when it is resampled); the recipe's event lists are not
// read. Epochs outside their run, across its breaks or rejected are counted
// and left out; `kept` (may be
// null) receives for each planned epoch, run after run, whether it is a
// row. The rows have labels when every planned epoch has one. Errors and
// `checkMemory` as ExtractEpochs.
Data::Dataset CutEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    const std::vector<std::vector<PlannedEpoch>>& planned,
    ExtractReport* report,
    std::vector<char>* kept,
    const MemoryCheck& checkMemory = {});

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_EPOCHS_H_
