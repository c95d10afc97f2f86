// The stepwise training: one regression step per iteration, the choice of
// the next change, the messages, and the weights of the final selection.
#include <cstdint>
#include <ctime>
#include <list>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/classifier_progress.h"
#include "korva/step_message.h"
#include "plugin/dozod.h"
#include "stepwise/step_choice.h"
#include "stepwise/stepwise_engine.h"
#include "stepwise/training_course.h"
#include "weighted/class_statistics.h"

namespace {

constexpr const char* kBanner = "*************";
constexpr const char* kStopped =
    "Training stopped: added and removed the same feature";

// Appends the summary of the model: a line feed from the stream's end of line,
// "\r\n\r", then the 1-based numbers of the features in the model and their
// count.
void WriteFinalColumns(std::ostringstream& os, const FeatureFlags& in) {
  os << std::endl << "\r\n\rFinal columns included: ";
  std::uint64_t count = 0;
  for (std::uint64_t i = 0; i < in.Count(); ++i) {
    if (!in[i]) continue;
    os << " " << i + 1;
    ++count;
  }
  os << " (" << count << " features)";
}

std::string FinalColumnsText(const FeatureFlags& in) {
  std::ostringstream text;
  WriteFinalColumns(text, in);
  return text.str();
}

// To the progress object and to the message list.
void Report(ClassifierProgress* progress,
            std::list<std::string>& messages,
            const std::string& text) {
  progress->AddMessage(text);
  messages.push_back(text);
}

// The coefficients of the selected features, 0.0 for the others.
void FillWeights(NEWMAT::ColumnVector& weights,
                 const FeatureFlags& in,
                 const NEWMAT::ColumnVector& B) {
  const int m = static_cast<int>(in.Count());
  weights.ReSize(m);
  for (int i = 0; i < m; ++i) weights.element(i) = in[i] ? B.element(i) : 0.0;
}

// "Selected K features:", then "(label):   weight" for each selected feature;
// the label is its name, or its 1-based number when it has none.
std::string SelectionText(const FeatureFlags& in,
                          const NEWMAT::ColumnVector& weights,
                          const std::vector<std::string>& names) {
  std::ostringstream text;
  text << "Selected " << in.CountSelected() << " features:" << "\r\n";
  for (std::uint64_t i = 0; i < in.Count(); ++i) {
    if (!in[i]) continue;
    text << "(";
    if (i < names.size() && !names[i].empty())
      text << names[i];
    else
      text << i + 1;
    text << "):   " << weights.element(i) << "\r\n";
  }
  return text.str();
}

}  // namespace

namespace Korva {

TrainingCourse::TrainingCourse(DOZOD& classifier,
                               ClassMeans means,
                               int rows,
                               int cols,
                               ClassifierProgress* progress,
                               std::list<std::string>& messages)
    : classifier_(classifier),
      means_(std::move(means)),
      rows_(rows),
      cols_(cols),
      progress_(progress),
      messages_(messages) {
  classifier_.SelectedFeatures.Reset(static_cast<std::uint64_t>(cols));
  start_ = std::time(nullptr);
}

TrainingCourse::Kept TrainingCourse::Keep(const DOZOD& classifier) {
  Kept kept;
  const FeatureFlags& in = classifier.SelectedFeatures;
  kept.selection.assign(in.Data(), in.Data() + in.Count());
  kept.weights = classifier.Weights;
  kept.w0 = classifier.W0;
  return kept;
}

void TrainingCourse::Restore(DOZOD& classifier, const Kept& kept) {
  FeatureFlags& in = classifier.SelectedFeatures;
  in.Reset(kept.selection.size());
  for (size_t i = 0; i < kept.selection.size(); ++i)
    in[i] = kept.selection[i] != 0;
  classifier.Weights = kept.weights;
  classifier.W0 = kept.w0;
}

void TrainingCourse::ReportFailure(int result) {
  if (progress_ == nullptr) return;
  progress_->AddMessage(kBanner);
  std::ostringstream text;
  text << "StepCalc returned " << result << "   allx(" << rows_ << ", "
       << cols_ << ")";
  progress_->AddMessage(text.str());
  progress_->AddMessage(kBanner);
}

TrainingCourse::Next TrainingCourse::Advance(int step,
                                             int nextstep,
                                             double p) {
  if (nextstep == prevStep_) return Next::kRepeated;
  FeatureFlags& in = classifier_.SelectedFeatures;
  if (progress_ != nullptr) {
    // "add" or "rem" follows the p-value, not the phase that chose it.
    Report(progress_,
           messages_,
           nextstep >= 0 ? Korva::StepMessage(
                               step + 1, p < classifier_.p_Enter, nextstep, p)
                         : FinalColumnsText(in));
  }
  // The step message above is written even for the change that MaxIter no
  // longer allows.
  if (nextstep == -1 || step >= classifier_.MaxIter) return Next::kFinish;
  in[nextstep] = !in[nextstep];
  prevStep_ = nextstep;
  return Next::kGoOn;
}

// The repeated-feature exit. Either nothing qualified at all (both -1) or the
// feature that just changed wants to change back. The selection stays as it
// is, including that last change, and the weights are the coefficients of
// this fit as they stand: the exit ends the training where it is, so it
// neither turns the sign of the weights (a training that stops here may score
// class +1 lower than class -1) nor writes the selection and elapsed-time
// messages.
int TrainingCourse::StopRepeated(const NEWMAT::ColumnVector& B,
                                 const NEWMAT::ColumnVector& P) {
  const FeatureFlags& in = classifier_.SelectedFeatures;
  std::ostringstream text;
  if (progress_ != nullptr) {
    progress_->AddMessage(kBanner);
    progress_->AddMessage(kStopped);
    progress_->AddMessage(kBanner);
  }
  text << "prev_step = " << prevStep_ << "   nextstep = " << prevStep_;
  if (progress_ != nullptr && prevStep_ == -1) {
    for (int i = 0; i < P.Nrows(); ++i) {
      std::ostringstream line;
      line << "P(" << i << "): " << P.element(i);
      progress_->AddMessage(line.str());
    }
  }
  messages_.push_back(kStopped);
  WriteFinalColumns(text, in);
  if (progress_ != nullptr) progress_->AddMessage(text.str());
  FillWeights(classifier_.Weights, in, B);
  return Korva::kStatusOk;
}

// The normal end: the weights of the final selection, turned round when the
// mean of class -1 scores above the mean of class +1 (every weight, so an
// unselected one becomes -0.0 and prints as "-0"; W0 keeps its value), then
// the selection and elapsed-time messages.
int TrainingCourse::Finish(const NEWMAT::ColumnVector& B) {
  NEWMAT::ColumnVector& weights = classifier_.Weights;
  const FeatureFlags& in = classifier_.SelectedFeatures;
  FillWeights(weights, in, B);
  const double scorePositive = classifier_.GetScore(means_.positive);
  const double scoreNegative = classifier_.GetScore(means_.negative);
  if (scoreNegative > scorePositive)
    for (int i = 0; i < weights.Nrows(); ++i) weights.element(i) *= -1.0;
  const double elapsed = std::difftime(std::time(nullptr), start_);
  if (progress_ == nullptr) return Korva::kStatusOk;
  Report(progress_,
         messages_,
         SelectionText(in, weights, classifier_.FeatureNames));
  std::ostringstream elapsedText;
  elapsedText << "Elapsed Time " << elapsed;
  Report(progress_, messages_, elapsedText.str());
  return Korva::kStatusOk;
}

}  // namespace Korva

void DOZOD::FindNextStep(const FeatureFlags& in,
                         const NEWMAT::ColumnVector& P,
                         int& nextstep) const {
  const std::uint64_t count = in.Count();
  const int m = count < static_cast<std::uint64_t>(P.Nrows())
                    ? static_cast<int>(count)
                    : P.Nrows();
  nextstep = Korva::ChooseStep(
      m,
      [&in](int i) { return in[i]; },
      [&P](int i) { return P.element(i); },
      p_Enter,
      p_Remove);
}

// Preparation (the class rows and means, an empty model), then one iteration
// per regression step until no feature qualifies or the limit is reached (the
// normal end), or the feature just changed wants to change back (the
// repeated-feature exit).
int DOZOD::DoTrain(NEWMAT::Matrix& X,
                   NEWMAT::ColumnVector& labels,
                   ClassifierProgress* progress,
                   std::list<std::string>& messages) {
  const int m = X.Ncols();
  GetMatrixByLabel(PositiveRows, X, labels, 1.0);
  GetMatrixByLabel(NegativeRows, X, labels, -1.0);
  Korva::ClassMeans means;
  GetFeaturesMean(means.positive, PositiveRows);
  GetFeaturesMean(means.negative, NegativeRows);
  NEWMAT::ColumnVector B(m);
  B = 0.0;
  NEWMAT::ColumnVector P(m);
  P = -1.0;
  Korva::TrainingCourse course(
      *this, std::move(means), X.Nrows(), m, progress, messages);

  // Each iteration's fit comes from the incremental engine; where it cannot
  // vouch for its numbers, StepCalc refits from scratch.
  Korva::StepwiseEngine engine;
  engine.Start(X, labels, m);
  for (int step = 0;; ++step) {
    int result = engine.Step(SelectedFeatures, p_Enter, p_Remove, B, P, W0);
    if (result == Korva::kStepNeedsRefit)
      result = StepCalc(X, labels, SelectedFeatures, B, P);
    // Without a progress object a failure ends training too: going on would
    // let p-values of an earlier model (or none) choose the next steps.
    if (result != Korva::kStatusOk) {
      course.ReportFailure(result);
      return result;
    }
    int nextstep = -1;
    FindNextStep(SelectedFeatures, P, nextstep);
    switch (course.Advance(
        step, nextstep, nextstep >= 0 ? P.element(nextstep) : 0.0)) {
      case Korva::TrainingCourse::Next::kRepeated:
        return course.StopRepeated(B, P);
      case Korva::TrainingCourse::Next::kFinish:
        return course.Finish(B);
      case Korva::TrainingCourse::Next::kGoOn:
        break;
    }
  }
}
