#include <cstdint>
#include <ctime>
#include <list>
#include <ostream>
#include <sstream>
#include <string>

#include "korva/classifier_base.h"
#include "korva/classifier_progress.h"
#include "plugin/dozod.h"
#include "stepwise/stepwise_engine.h"
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

void Report(ClassifierProgress* progress,
            std::list<std::string>& messages,
            const std::string& text) {
  progress->AddMessage(text);
  messages.push_back(text);
}

}  // namespace

void DOZOD::FindNextStep(const FeatureFlags& in,
                         const NEWMAT::ColumnVector& P,
                         int& nextstep) const {
  const std::uint64_t count = in.Count();
  const int m = count < static_cast<std::uint64_t>(P.Nrows())
                    ? static_cast<int>(count)
                    : P.Nrows();
  // Entry first: the smallest p-value below p_Enter (and below 1.0); ties go
  // to the lower index because only a strictly smaller value replaces it.
  double best = 1.0;
  int pick = -1;
  for (int i = 0; i < m; ++i) {
    const double p = P.element(i);
    if (!in[i] && p < p_Enter && p < best) {
      best = p;
      pick = i;
    }
  }
  if (pick != -1) {
    nextstep = pick;
    return;
  }
  // Removal only when nothing can enter: the largest p-value above p_Remove.
  best = 0.0;
  for (int i = 0; i < m; ++i) {
    const double p = P.element(i);
    if (in[i] && p > p_Remove && p > best) {
      best = p;
      pick = i;
    }
  }
  nextstep = pick;
}

int DOZOD::DoTrain(NEWMAT::Matrix& X,
                   NEWMAT::ColumnVector& labels,
                   ClassifierProgress* progress,
                   std::list<std::string>& messages) {
  const int m = X.Ncols();
  GetMatrixByLabel(PositiveRows, X, labels, 1.0);
  GetMatrixByLabel(NegativeRows, X, labels, -1.0);
  NEWMAT::RowVector meanPositive;
  NEWMAT::RowVector meanNegative;
  GetFeaturesMean(meanPositive, PositiveRows);
  GetFeaturesMean(meanNegative, NegativeRows);
  SelectedFeatures.Reset(static_cast<std::uint64_t>(m));
  NEWMAT::ColumnVector B(m);
  B = 0.0;
  NEWMAT::ColumnVector P(m);
  P = -1.0;

  const std::time_t start = std::time(nullptr);
  // Each iteration's fit comes from the incremental engine; where it cannot
  // vouch for its numbers, StepCalc refits from scratch.
  Korva::StepwiseEngine engine;
  engine.Start(X, labels, m);
  int step = 0;
  int prev_step = -1;
  int nextstep = -1;
  for (;;) {
    int result = engine.Step(SelectedFeatures, p_Enter, p_Remove, B, P, W0);
    if (result == Korva::kStepNeedsRefit)
      result = StepCalc(X, labels, SelectedFeatures, B, P);
    // Without a progress object a failure ends training too: going on would
    // let p-values of an earlier model (or none) choose the next steps.
    if (result != Korva::kStatusOk) {
      if (progress != nullptr) {
        progress->AddMessage(kBanner);
        std::ostringstream text;
        text << "StepCalc returned " << result << "   allx(" << X.Nrows()
             << ", " << X.Ncols() << ")";
        progress->AddMessage(text.str());
        progress->AddMessage(kBanner);
      }
      return result;
    }

    nextstep = -1;
    FindNextStep(SelectedFeatures, P, nextstep);
    if (nextstep == prev_step) {
      // Either nothing qualified at all (both -1) or the feature that just
      // changed wants to change back; the selection stays as it is.
      std::ostringstream text;
      if (progress != nullptr) {
        progress->AddMessage(kBanner);
        progress->AddMessage(kStopped);
        progress->AddMessage(kBanner);
      }
      text << "prev_step = " << prev_step << "   nextstep = " << prev_step;
      if (progress != nullptr && prev_step == -1) {
        for (int i = 0; i < m; ++i) {
          std::ostringstream line;
          line << "P(" << i << "): " << P.element(i);
          progress->AddMessage(line.str());
        }
      }
      messages.push_back(kStopped);
      WriteFinalColumns(text, SelectedFeatures);
      if (progress != nullptr) progress->AddMessage(text.str());
      Weights.ReSize(m);
      for (int i = 0; i < m; ++i)
        Weights.element(i) = SelectedFeatures[i] ? B.element(i) : 0.0;
      return Korva::kStatusOk;
    }

    if (progress != nullptr) {
      std::ostringstream text;
      if (nextstep >= 0) {
        // "add" or "rem" follows the p-value, not the phase that chose it.
        const double p = P.element(nextstep);
        text << "Step " << step + 1
             << (p < p_Enter ? ", add feat " : ", rem feat ") << nextstep + 1
             << ",  p = " << p;
      } else {
        WriteFinalColumns(text, SelectedFeatures);
      }
      Report(progress, messages, text.str());
    }
    // The step message above is written even for the change that MaxIter no
    // longer allows.
    if (nextstep == -1 || step >= MaxIter) break;
    ++step;
    SelectedFeatures[nextstep] = !SelectedFeatures[nextstep];
    prev_step = nextstep;
  }

  Weights.ReSize(m);
  for (int i = 0; i < m; ++i)
    Weights.element(i) = SelectedFeatures[i] ? B.element(i) : 0.0;
  // Orient the discriminant so that class +1 scores at least as high as -1.
  const double scorePositive = GetScore(meanPositive);
  const double scoreNegative = GetScore(meanNegative);
  // Every weight, so an unselected one becomes -0.0 and prints as "-0".
  if (scoreNegative > scorePositive)
    for (int i = 0; i < m; ++i) Weights.element(i) *= -1.0;
  const double elapsed = std::difftime(std::time(nullptr), start);
  if (progress == nullptr) return Korva::kStatusOk;

  std::ostringstream selection;
  selection << "Selected " << SelectedFeatures.CountSelected() << " features:"
            << "\r\n";
  for (int i = 0; i < m; ++i) {
    if (!SelectedFeatures[i]) continue;
    selection << "(";
    if (static_cast<std::size_t>(i) < FeatureNames.size() &&
        !FeatureNames[i].empty())
      selection << FeatureNames[i];
    else
      selection << i + 1;
    selection << "):   " << Weights.element(i) << "\r\n";
  }
  Report(progress, messages, selection.str());
  std::ostringstream elapsedText;
  elapsedText << "Elapsed Time " << elapsed;
  Report(progress, messages, elapsedText.str());
  return Korva::kStatusOk;
}
