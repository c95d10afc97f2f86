#ifndef KORVA_STEPWISE_SHARED_CHOICE_H_
#define KORVA_STEPWISE_SHARED_CHOICE_H_

// The p-values one iteration of the shared trainings chooses from, formed
// only where the choice can turn on them, and the columns a choice rests on.
//
// Notation: at one iteration (one node of the shared trainings), after
// StepwiseEngine::Evaluate,
//   P(t²)   TwoSidedP(dfe, t²), the p-value of a t² (it falls as t² grows)
//   T       the largest t² of any candidate
//   M       the smallest t² of any model feature
//   E_j     the thresholds p-enter of the settings at the node
//   R_j     their thresholds p-remove
//   δ       kChoiceBand
//
// The choice (ChooseStep and the engine's ambiguity check, exactly as
// DoTrain makes it) compares candidates' p-values only with the E_j, with
// one another near the smallest, and with the underflow bound; the model's
// only with the R_j and with one another near the largest. So:
//   1. The p-values of the candidates with t² ≥ c T are formed, c the
//      largest of 0.95, 0.8, 0.5 with P(c T) > P(T) (1 + δ): every other
//      candidate lies more than δ above the smallest p-value. Likewise the
//      model's with t² ≤ M / c, c the largest with P(M / c) < P(M) (1 - δ):
//      every other model feature lies more than δ below the largest.
//   2. For each threshold E_j (candidates) or R_j (the model), a window
//      [lo, hi] of t² with P(lo) > E_j (1 + δ) and P(hi) < E_j (1 - δ),
//      found from the normal approximation of the t quantile and checked by
//      evaluating P at both ends; the features inside it are formed. A
//      feature outside every window lies on a known side of every
//      threshold, more than δ away.
//   3. Where a formed candidate's p-value is below 1e-250 (the choice may
//      then turn on underflow), no window or cut can be checked, or T is 0,
//      all candidates are formed; where P(M) is below 1e-250 or the model's
//      windows or cut cannot be checked, all the model's.
//   4. Every other candidate stands in with the largest known lower bound of
//      its p-value, max(P(c T), P(lo_j) over the windows above it); every
//      other model feature with the smallest known upper bound, min(P(M /
//      c), P(hi_j) over the windows below it). Each lies on the side of
//      every threshold that its p-value lies on, more than δ away, and more
//      than δ from the smallest candidate's or the largest model p-value;
//      so every comparison the choice makes comes out as with the p-values
//      themselves, and the choice is DoTrain's.
// δ = 1e-3 is a thousand times the engine's decision margin, so the
// stand-ins are far from every place where the choice could turn. Forming
// only these saves most of the p-values: the model's alone were five in
// six of them.

#include <vector>

#include "stepwise/stepwise_engine.h"

namespace Korva {

// How far (relative) a formed p-value or a stand-in lies from a threshold or
// from the smallest p-value at least; also the band within which a column
// counts as one the choice rests on (MarkChoice).
constexpr double kChoiceBand = 1e-3;

class NodeChoice {
 public:
  // After engine.Evaluate returned 0, for settings whose p-enter values are
  // `pEnters` and p-remove values `pRemoves`.
  NodeChoice(StepwiseEngine& engine,
             const std::vector<double>& pEnters,
             const std::vector<double>& pRemoves);

  // One p-value per feature: formed (FormedP), or a stand-in.
  const std::vector<double>& P() const { return P_; }
  bool FormedP(int i) const { return formed_[i] != 0; }

 private:
  struct Window {
    double lo, hi, pLo, pHi;
  };
  bool BoundCandidates(double T, const std::vector<double>& pEnters);
  bool BoundModel(double M, const std::vector<double>& pRemoves);
  double Form(int i);
  bool Windows(const std::vector<double>& thresholds,
               std::vector<Window>& windows) const;
  static bool Inside(const std::vector<Window>& windows, double t2);
  bool FindWindow(double threshold, Window& window) const;
  bool FindTopCut(double T, double& cut, double& pCut) const;
  bool FindBottomCut(double M, double& cut, double& pCut) const;
  // Forms every candidate's p-value, or every model feature's.
  void FormAll(bool model);

  StepwiseEngine& engine_;
  double dfe_;
  std::vector<double> P_;
  std::vector<char> formed_;
};

// Marks in `wanted` the candidates a setting's choice at this node rests on,
// beyond those whose refusal bounds are near (StepwiseEngine::NearRefusal):
// formed p-values within kChoiceBand of `pEnter`, and, when `pick` is a
// candidate that enters, those within kChoiceBand of its p-value (the pick
// among them), every tiny one when the pick's is below 1e-250.
void MarkChoice(const StepwiseEngine& engine,
                const NodeChoice& choice,
                double pEnter,
                int pick,
                std::vector<char>& wanted);

}  // namespace Korva

#endif  // KORVA_STEPWISE_SHARED_CHOICE_H_
