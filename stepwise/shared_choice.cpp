// Before any Boost.Math header.
#include "stepwise/math_policies.h"

#include "stepwise/shared_choice.h"

#include <algorithm>
#include <boost/math/special_functions/erf.hpp>
#include <cmath>
#include <limits>

namespace Korva {
namespace {

// Below this a p-value may have underflowed where the choice looks at it.
constexpr double kTinyP = 1e-250;

// The window around a threshold's approximate t² is this factor wide on
// each side, tried in turn until its ends check.
constexpr double kWindowFactors[] = {1.05, 1.25, 2.0, 8.0};

// The shares of the largest t² that set the formed top, tried in turn.
constexpr double kTopCuts[] = {0.95, 0.8, 0.5};

// About the t² whose two-sided p-value on dfe degrees of freedom is p: the
// normal quantile z (erfc(z / √2) = p) widened for the t distribution's
// heavier tails, t ≈ z (1 + (z² + 1) / (4 dfe)).
double ApproximateT2(double dfe, double p) {
  const double z = std::sqrt(2.0) * boost::math::erfc_inv(p);
  const double t = z * (1.0 + (z * z + 1.0) / (4.0 * dfe));
  return t * t;
}

}  // namespace

NodeChoice::NodeChoice(StepwiseEngine& engine,
                       const std::vector<double>& pEnters,
                       const std::vector<double>& pRemoves)
    : engine_(engine),
      dfe_(engine.Dfe()),
      P_(engine.Features(), std::numeric_limits<double>::quiet_NaN()),
      formed_(engine.Features(), 0) {
  const int p = engine.Features();
  double T = 0.0;  // the candidates' largest t²
  double M = std::numeric_limits<double>::infinity();  // the model's smallest
  bool model = false;
  for (int i = 0; i < p; ++i) {
    if (std::isnan(engine.T2(i))) {
      Form(i);
    } else if (engine.InModel(i)) {
      M = std::min(M, engine.T2(i));
      model = true;
    } else {
      T = std::max(T, engine.T2(i));
    }
  }
  if (!BoundCandidates(T, pEnters)) FormAll(false);
  if (model && !(std::isfinite(M) && BoundModel(M, pRemoves))) FormAll(true);
}

// Candidates: the top (t² ≥ cut) and the windows formed, the others stand
// in with their largest known lower bound. False where that cannot be
// vouched for.
bool NodeChoice::BoundCandidates(double T, const std::vector<double>& pEnters) {
  double cut = 0.0, pCut = 0.0;
  std::vector<Window> windows;
  if (!(T > 0.0) || !FindTopCut(T, cut, pCut) || !Windows(pEnters, windows))
    return false;
  const int p = engine_.Features();
  for (int i = 0; i < p; ++i) {
    if (formed_[i] || engine_.InModel(i)) continue;
    const double t2 = engine_.T2(i);
    if (t2 < cut && !Inside(windows, t2)) continue;
    if (Form(i) < kTinyP) return false;
  }
  for (int i = 0; i < p; ++i) {
    if (formed_[i] || engine_.InModel(i)) continue;
    double lower = pCut;
    for (const Window& w : windows)
      if (engine_.T2(i) < w.lo) lower = std::max(lower, w.pLo);
    P_[i] = lower;
  }
  return true;
}

// The model: the bottom (t² ≤ cut, the largest p-values, one of which may
// leave) and the windows about p-remove formed, the others stand in with
// their smallest known upper bound.
bool NodeChoice::BoundModel(double M, const std::vector<double>& pRemoves) {
  double cut = 0.0, pCut = 0.0;
  std::vector<Window> windows;
  if (!FindBottomCut(M, cut, pCut) || !Windows(pRemoves, windows)) return false;
  const int p = engine_.Features();
  for (int i = 0; i < p; ++i) {
    if (formed_[i] || !engine_.InModel(i)) continue;
    const double t2 = engine_.T2(i);
    if (t2 > cut && !Inside(windows, t2)) continue;
    Form(i);
  }
  for (int i = 0; i < p; ++i) {
    if (formed_[i] || !engine_.InModel(i)) continue;
    double upper = pCut;
    for (const Window& w : windows)
      if (engine_.T2(i) > w.hi) upper = std::min(upper, w.pHi);
    P_[i] = upper;
  }
  return true;
}

double NodeChoice::Form(int i) {
  P_[i] = engine_.PValue(i);
  formed_[i] = 1;
  return P_[i];
}

bool NodeChoice::Windows(const std::vector<double>& thresholds,
                         std::vector<Window>& windows) const {
  for (double threshold : thresholds) {
    Window window{0.0, 0.0, 0.0, 0.0};
    if (!FindWindow(threshold, window)) return false;
    windows.push_back(window);
  }
  return true;
}

bool NodeChoice::Inside(const std::vector<Window>& windows, double t2) {
  for (const Window& w : windows)
    if (t2 >= w.lo && t2 <= w.hi) return true;
  return false;
}

bool NodeChoice::FindTopCut(double T, double& cut, double& pCut) const {
  const double pT = TwoSidedP(dfe_, T);
  for (double share : kTopCuts) {
    cut = share * T;
    pCut = TwoSidedP(dfe_, cut);
    if (pCut > pT * (1.0 + kChoiceBand)) return true;
  }
  return false;
}

// The mirror of the top cut: M / share, whose p-value lies more than
// kChoiceBand below the largest; none when that p-value is tiny.
bool NodeChoice::FindBottomCut(double M, double& cut, double& pCut) const {
  const double pM = TwoSidedP(dfe_, M);
  if (!(pM >= kTinyP)) return false;
  for (double share : kTopCuts) {
    cut = M / share;
    pCut = TwoSidedP(dfe_, cut);
    if (pCut < pM * (1.0 - kChoiceBand)) return true;
  }
  return false;
}

bool NodeChoice::FindWindow(double threshold, Window& window) const {
  const double t2 = ApproximateT2(dfe_, threshold);
  if (!(t2 > 0.0) || !std::isfinite(t2)) return false;
  for (double factor : kWindowFactors) {
    window.lo = t2 / factor;
    window.hi = t2 * factor;
    window.pLo = TwoSidedP(dfe_, window.lo);
    window.pHi = TwoSidedP(dfe_, window.hi);
    if (window.pLo > threshold * (1.0 + kChoiceBand) &&
        window.pHi < threshold * (1.0 - kChoiceBand))
      return true;
  }
  return false;
}

void NodeChoice::FormAll(bool model) {
  for (int i = 0; i < engine_.Features(); ++i)
    if (engine_.InModel(i) == model) Form(i);
}

void MarkChoice(const StepwiseEngine& engine,
                const NodeChoice& choice,
                double pEnter,
                int pick,
                std::vector<char>& wanted) {
  const std::vector<double>& P = choice.P();
  const int p = engine.Features();
  for (int i = 0; i < p; ++i)
    if (!engine.InModel(i) && choice.FormedP(i) &&
        std::fabs(P[i] - pEnter) <= kChoiceBand * pEnter)
      wanted[i] = 1;
  if (pick < 0 || engine.InModel(pick)) return;
  const double best = P[pick];
  for (int i = 0; i < p; ++i) {
    if (engine.InModel(i) || !choice.FormedP(i)) continue;
    if (P[i] <= best * (1.0 + kChoiceBand) || (best < kTinyP && P[i] < kTinyP))
      wanted[i] = 1;
  }
}

}  // namespace Korva
