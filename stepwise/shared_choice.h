#ifndef KORVA_STEPWISE_SHARED_CHOICE_H_
#define KORVA_STEPWISE_SHARED_CHOICE_H_

// The p-values one iteration of the shared trainings chooses from, formed
// only where the choice can turn on them, and the columns a choice rests on.
//
// Notation: at one iteration (one node of the shared trainings), after
// StepwiseEngine::Evaluate,
//   P(t²)   TwoSidedP(dfe, t²), the p-value of a t² (it falls as t² grows)
//   T       the largest t² of any candidate
//   E_j     the thresholds p-enter of the settings at the node
//   δ       kChoiceBand
//
// The choice (ChooseStep and the engine's ambiguity check, exactly as
// DoTrain makes it) compares candidates' p-values only with the E_j, with
// one another near the smallest, and with the underflow bound. So:
//   1. The model's p-values and those of the candidates with t² ≥ c T are
//      formed, c the largest of 0.95, 0.8, 0.5 with P(c T) > P(T) (1 + δ):
//      every other candidate lies more than δ above the smallest p-value.
//   2. For each E_j, a window [lo, hi] of t² with P(lo) > E_j (1 + δ) and
//      P(hi) < E_j (1 - δ), found from the normal approximation of the
//      t quantile and checked by evaluating P at both ends; the candidates
//      inside it are formed. A candidate outside every window lies on a
//      known side of every E_j, more than δ away.
//   3. Where a formed p-value is below 1e-250 (the choice may then turn on
//      underflow), no window or cut can be checked, or T is 0: all are
//      formed.
//   4. Every other candidate c stands in with the largest known lower bound
//      of its p-value, max(P(c T), P(lo_j) over the windows above it). It
//      lies on the side of every E_j that P_c lies on, more than δ away,
//      and more than δ above the smallest p-value; so every comparison the
//      choice makes comes out as with P_c, and the choice is DoTrain's.
// δ = 1e-3 is a thousand times the engine's decision margin, so the
// stand-ins are far from every place where the choice could turn.

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
  // `pEnters`.
  NodeChoice(StepwiseEngine& engine, const std::vector<double>& pEnters);

  // One p-value per feature: formed (FormedP), or a stand-in.
  const std::vector<double>& P() const { return P_; }
  bool FormedP(int i) const { return formed_[i] != 0; }

 private:
  struct Window {
    double lo, hi, pLo;
  };
  bool FindWindow(double pEnter, Window& window) const;
  bool FindTopCut(double T, double& cut, double& pCut) const;
  void FormAll();

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
