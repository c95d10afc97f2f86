#include "hostkit/exact_weights.h"

#include <newmat/newmat.h>

#include <algorithm>
#include <cmath>

namespace Korva::HostKit {
namespace {

// The weight of feature i in full precision, through the scoring interface
// alone: with x = c e_i, c a power of two, a linear classifier scores
// c w + W0, rounded once. Once |W0| <= 2^-56 |c w| that sum rounds to c w
// itself, so the score divided by c is w exactly. `approx` is the weight as
// the info section gives it (six digits); where the score does not behave
// that way (a module whose score is not linear, a scale out of range) it is
// kept.
double ExactWeight(ClassifierBase& classifier,
                   NEWMAT::RowVector& x,
                   int i,
                   double approx,
                   double w0) {
  if (approx == 0.0 || !std::isfinite(approx)) return approx;
  int k = 0;
  if (w0 != 0.0) k = std::max(0, std::ilogb(w0) - std::ilogb(approx) + 58);
  const double scale = std::ldexp(1.0, k);
  if (!std::isfinite(scale * approx * 4.0)) return approx;
  x.element(i) = scale;
  const double weight = classifier.GetScore(x) / scale;
  x.element(i) = 0.0;
  return std::abs(weight - approx) <= 1e-5 * std::abs(approx) ? weight : approx;
}

}  // namespace

double ScoreOfZeros(ClassifierBase& classifier, int features) {
  NEWMAT::RowVector zeros(features);
  zeros = 0.0;
  return classifier.GetScore(zeros);
}

std::vector<double> ExactWeights(ClassifierBase& classifier,
                                 const std::vector<bool>& selected,
                                 const std::vector<double>& saved) {
  const int features = static_cast<int>(saved.size());
  std::vector<double> weights = saved;
  NEWMAT::RowVector x(features);
  x = 0.0;
  const double w0 = features > 0 ? classifier.GetScore(x) : 0.0;
  for (int i = 0; i < features; ++i)
    if (selected[i]) weights[i] = ExactWeight(classifier, x, i, saved[i], w0);
  return weights;
}

}  // namespace Korva::HostKit
