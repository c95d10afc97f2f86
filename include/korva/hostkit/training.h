#ifndef KORVA_HOSTKIT_TRAINING_H_
#define KORVA_HOSTKIT_TRAINING_H_

#include <cstddef>
#include <iosfwd>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/classifier_progress.h"
#include "korva/export.h"
#include "korva/hostkit/error.h"

namespace Korva::HostKit {

// A dense row-major matrix the host owns: rows x cols doubles at `data`,
// or, with `order`, its rows order[0], ..., order[rows - 1] (the test rows
// of a fold, read in place).
struct MatrixView {
  const double* data = nullptr;
  int rows = 0;
  int cols = 0;
  const int* order = nullptr;
  const double* Row(int i) const {
    return data + static_cast<std::size_t>(order ? order[i] : i) * cols;
  }
};

// A training message as a terminal should show it: carriage returns dropped,
// blank lines and leading and trailing line feeds removed.
KORVA_HOSTKIT_API std::string TerminalText(const std::string& message);

// Records every training message and, when `echo` is set, prints each one at
// once as TerminalText followed by a line end.
class KORVA_HOSTKIT_API RecordingProgress : public ClassifierProgress {
 public:
  explicit RecordingProgress(std::ostream* echo) : echo_(echo) {}
  void AddMessage(const std::string& message) override;
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  std::ostream* echo_;
  std::vector<std::string> messages_;
};

// What one training did.
struct TrainingRun {
  std::optional<int> result;  // DoTrain's status; unset after an exception
  std::string exception;      // what the exception said, when one came
  std::vector<std::string> progress;  // every AddMessage text, in order
  std::list<std::string> messages;    // the message list after training
  double seconds = 0.0;               // wall-clock time of the training call
  bool Succeeded() const { return result && *result == 0; }
};

// Trains `classifier` on X with one label per row (`labels`, X.rows values)
// through Train2 with a progress object (messages printed to `echo` when not
// null), after setting its FeatureNames to `names`. Exceptions from the
// matrix library and the standard library are caught and recorded.
// Error(kData) when the set is too large for the matrix library, or its
// training would take more memory than the limit (CheckTrainingMemory),
// before anything is allocated.
KORVA_HOSTKIT_API TrainingRun Train(ClassifierBase& classifier,
                                    const MatrixView& X,
                                    const double* labels,
                                    const std::vector<std::string>& names,
                                    std::ostream* echo);

// The same on a matrix the host already holds in the classifier's type: the
// classifier reads X in place (no copy of the data); X is left unchanged.
KORVA_HOSTKIT_API TrainingRun Train(ClassifierBase& classifier,
                                    NEWMAT::Matrix& X,
                                    const double* labels,
                                    const std::vector<std::string>& names,
                                    std::ostream* echo);

// The message saying why a training that did not succeed failed.
KORVA_HOSTKIT_API std::string TrainingFailure(const TrainingRun& run);

// The error for a training that did not succeed: kTrainingFailed or
// kTrainingException, with TrainingFailure(run) and `consequence` appended
// after "; " when not empty.
KORVA_HOSTKIT_API Error TrainingError(const TrainingRun& run,
                                      const std::string& consequence);

// One score per row of X through GetScore, plus `offset` (a restored
// classifier's missing intercept); X.cols must equal the classifier's feature
// count (GetScore gives -1.0 otherwise).
KORVA_HOSTKIT_API std::vector<double> ScoreRows(ClassifierBase& classifier,
                                                const MatrixView& X,
                                                double offset = 0.0);

// One change of the selection.
struct Step {
  int step = 0;       // 1 for the first change
  bool added = true;  // else removed
  int feature = 0;    // 0-based
  double p = 0.0;     // its p-value
};

// The changes a stepwise training made, from its step messages
// (korva/step_message.h), leaving out the one that a change limit of
// `maxIter` did not allow (its message is written all the same).
KORVA_HOSTKIT_API std::vector<Step> TrainingSteps(const TrainingRun& run,
                                                  int maxIter);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_TRAINING_H_
