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
                       const std::vector<double>& pEnters)
    : engine_(engine),
      dfe_(engine.Dfe()),
      P_(engine.Features(), std::numeric_limits<double>::quiet_NaN()),
      formed_(engine.Features(), 0) {
  const int p = engine.Features();
  double T = 0.0;
  for (int i = 0; i < p; ++i) {
    if (engine.InModel(i) || std::isnan(engine.T2(i))) {
      P_[i] = engine.PValue(i);
      formed_[i] = 1;
    } else {
      T = std::max(T, engine.T2(i));
    }
  }
  double cut = 0.0, pCut = 0.0;
  std::vector<Window> windows;
  bool all = !(T > 0.0) || !FindTopCut(T, cut, pCut);
  for (double pEnter : pEnters) {
    Window window{0.0, 0.0, 0.0};
    all = all || !FindWindow(pEnter, window);
    windows.push_back(window);
  }
  if (all) {
    FormAll();
    return;
  }
  const auto inWindow = [&windows](double t2) {
    for (const Window& w : windows)
      if (t2 >= w.lo && t2 <= w.hi) return true;
    return false;
  };
  for (int i = 0; i < p; ++i) {
    if (formed_[i] || (engine.T2(i) < cut && !inWindow(engine.T2(i))))
      continue;
    P_[i] = engine.PValue(i);
    formed_[i] = 1;
    if (P_[i] < kTinyP) {
      FormAll();
      return;
    }
  }
  for (int i = 0; i < p; ++i) {
    if (formed_[i]) continue;
    double lower = pCut;
    for (const Window& w : windows)
      if (engine.T2(i) < w.lo) lower = std::max(lower, w.pLo);
    P_[i] = lower;
  }
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

bool NodeChoice::FindWindow(double pEnter, Window& window) const {
  const double t2 = ApproximateT2(dfe_, pEnter);
  if (!(t2 > 0.0) || !std::isfinite(t2)) return false;
  for (double factor : kWindowFactors) {
    window.lo = t2 / factor;
    window.hi = t2 * factor;
    window.pLo = TwoSidedP(dfe_, window.lo);
    if (window.pLo > pEnter * (1.0 + kChoiceBand) &&
        TwoSidedP(dfe_, window.hi) < pEnter * (1.0 - kChoiceBand))
      return true;
  }
  return false;
}

void NodeChoice::FormAll() {
  for (int i = 0; i < engine_.Features(); ++i) {
    P_[i] = engine_.PValue(i);
    formed_[i] = 1;
  }
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
