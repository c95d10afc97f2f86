#ifndef KORVA_EPOCHING_EPOCHS_H_
#define KORVA_EPOCHING_EPOCHS_H_

// Epoch features from continuous recordings, by a recipe.
//
// Per recording (a run), per chosen channel:
//   1. Read the channel; with the average reference, subtract the mean of
//      the chosen channels at each sample.
//   2. Band-pass it forward and backward (epoching/band_pass.h).
//   3. For every kept event, cut the window [onset + start, onset + start +
//      length): bin b is the mean of its samples b·w .. b·w + w - 1, less
//      the mean of the baseline samples when there is a baseline; note the
//      window's peak-to-peak for the reject rule.
//
// Memory: the samples of two channels and the feature matrix. Channels are
// filtered two at a time (the filter runs on both at once), except with the
// average reference, which reads every chosen channel once before the pass
// above to sum them into the mean, and then holds the mean and one channel.
// Rejected rows are dropped at the end by copying the kept rows into a
// matrix of their own size, after the samples are released.

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
  std::map<std::string, long long> skipped;  // events of neither list, by code
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
};

// The features of every epoch of `runs`, stacked in the order given: one
// row per kept epoch (labels +1 target, -1 non-target; the groups, in
// column "run", the runs named by their number from 1), one column per
// channel and bin, channel-major, named CHANNEL_BB (BB the bin from 01).
// `report` (may be null) says what was kept, skipped and dropped. Throws
// Data::DataError for a recipe that CheckRecipe refuses or that cannot cut a
// run (CheckRecording, EpochWindow, a band not below half the sampling rate, a
// file no longer than the filter's padding), and when no epoch is left.
// Without `labelsRequired` a run with no event of the target list is cut
// without labels (its events of the non-target list; RunReport::labelled
// false), and a set that holds such epochs has none (hasLabels false).
Data::Dataset ExtractEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    ExtractReport* report,
    bool labelsRequired = true);

// The epochs of the events a caller chose, `planned[k]` (in onset order) of
// `runs[k]`, cut by the recipe's channels, filter and window as
// ExtractEpochs cuts them; the recipe's event lists are not read. Epochs
// outside their run or rejected are counted and left out; `kept` (may be
// null) receives for each planned epoch, run after run, whether it is a
// row. The rows have labels when every planned epoch has one. Errors as
// ExtractEpochs.
Data::Dataset CutEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    const std::vector<std::vector<PlannedEpoch>>& planned,
    ExtractReport* report,
    std::vector<char>* kept);

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_EPOCHS_H_
