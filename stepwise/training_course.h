#ifndef KORVA_STEPWISE_TRAINING_COURSE_H_
#define KORVA_STEPWISE_TRAINING_COURSE_H_

// The course of one stepwise training from iteration to iteration: the
// messages each iteration writes once its regression step has given the
// p-values and the choice, and the two ends (the normal end with the
// selection's weights, the repeated-feature exit). DoTrain
// (stepwise/stepwise_driver.cpp) and the shared trainings
// (stepwise/shared_training.cpp) both run their iterations through it, so
// that both write the same words, numbers and weights.

#include <newmat/newmat.h>

#include <ctime>
#include <list>
#include <string>
#include <vector>

#include "korva/classifier_progress.h"
#include "plugin/dozod.h"
#include "stepwise/class_means.h"

namespace Korva {

class TrainingCourse {
 public:
  // How the training goes on after an iteration.
  enum class Next {
    kGoOn,      // the chosen feature's flag is flipped: one more iteration
    kFinish,    // nothing to change, or MaxIter reached: Finish
    kRepeated,  // the feature just changed wants to change back: Stop
  };

  // A training of `classifier` on `rows` x `cols` values, whose selection
  // starts empty (SelectedFeatures reset to `cols` flags).
  TrainingCourse(DOZOD& classifier,
                 ClassMeans means,
                 int rows,
                 int cols,
                 ClassifierProgress* progress,
                 std::list<std::string>& messages);

  // Iteration `step` (from 0) chose `nextstep` (-1: none) with p-value `p`:
  // writes its step message (or the final columns) unless it is the
  // repeated-feature exit, and says what comes next.
  Next Advance(int step, int nextstep, double p);
  // The normal end: the weights from the coefficients B (their model
  // entries), turned round when class -1 scores above class +1, then the
  // selection and elapsed-time messages. Returns 0.
  int Finish(const NEWMAT::ColumnVector& B);
  // The repeated-feature exit with this iteration's B and P (P is read only
  // when nothing qualified in the first iteration). Returns 0.
  int StopRepeated(const NEWMAT::ColumnVector& B, const NEWMAT::ColumnVector& P);
  // The banner of a regression step that failed with `result`.
  void ReportFailure(int result);

  const FeatureFlags& Selection() const { return classifier_.SelectedFeatures; }
  // The intercept the training leaves in W0.
  void SetIntercept(double w0) { classifier_.W0 = w0; }
  // Whether StopRepeated prints every p-value: nothing qualified in the
  // first iteration.
  bool PrintsEveryP() const { return progress_ != nullptr && prevStep_ == -1; }

  // What a training changes in the classifier besides its class matrices,
  // to put back on one whose training is handed back undone.
  struct Kept {
    std::vector<char> selection;
    NEWMAT::ColumnVector weights;
    double w0 = 0.0;
  };
  static Kept Keep(const DOZOD& classifier);
  static void Restore(DOZOD& classifier, const Kept& kept);

 private:
  DOZOD& classifier_;
  ClassMeans means_;
  int rows_;
  int cols_;
  ClassifierProgress* progress_;
  std::list<std::string>& messages_;
  std::time_t start_;
  int prevStep_ = -1;
};

}  // namespace Korva

#endif  // KORVA_STEPWISE_TRAINING_COURSE_H_
