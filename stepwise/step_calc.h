#ifndef KORVA_STEPWISE_STEP_CALC_H_
#define KORVA_STEPWISE_STEP_CALC_H_

// One step of stepwise least-squares regression: the fit of the current model
// and, for every feature outside it, the fit of the model with that feature
// alone added.
//
// Notation:
//   n     examples (rows of X and of y)
//   p     features (the count of the in-model flags; X has at least p columns)
//   k     features in the model (flags that are true)
//   X1    n x (k + 1) design of the model: column 0 is 1.0 (the intercept),
//         then the in-model features in ascending feature index
//   X0    n x (p - k) candidates: the other features in ascending index
//   dfe   error degrees of freedom of the model, n - (k + 1)
//
// The method:
//   1. Count k and copy the columns of X into X1 and X0.
//   2. Factor a copy of X1 by QR (X1 = Q R, R upper triangular) and apply the
//      same transformation to a copy of y, giving M = Qᵀ y.
//   3. Ri = R⁻¹; the orthonormal basis Q = X1 Ri; the coefficients b = Ri M
//      (b₀ is the intercept).
//   4. Residuals r = y - X1 b.
//   5. dfe = n - (k + 1); fewer than 2 fails (tested before step 2, so a model
//      with more coefficients than examples is never factored).
//   6. s = √(Σ r² / dfe).
//   7. seₘ = s · ‖row m of Ri‖, the square root of (X1ᵀX1)⁻¹ₘₘ scaled by s.
//   8. Remove what the model explains from the candidates and the labels:
//      X̃0 = X0 - Q (Qᵀ X0), ỹ = y - Q (Qᵀ y).
//   9. Per candidate c: d_c = Σ X̃0[·,c]², g_c = (ỹᵀ X̃0)_c, β_c = g_c / d_c,
//      the coefficient that c gets when it alone joins the model.
//  10. se_c = √(Σ (ỹ - β_c X̃0[·,c])² / (d_c (dfe - 1))): the residual of the
//      enlarged model has one degree of freedom less.
//  11. The intercept is b₀.
//  12. Scatter b, se (in-model) and β, se (candidates) back to feature order.
//  13. tᵢ = coefficientᵢ / seᵢ and the two-sided Student t p-value with the
//      model's dfe for every feature, I_x(dfe/2, 1/2) with x = dfe/(dfe + t²).
//      Candidates use the model's dfe too, not dfe - 1: that is the selection
//      rule, even though their standard errors divide by dfe - 1.
//
// A candidate that the model already explains to rounding level (d_c at most
// kExplainedTolerance times the column's own sum of squares, which takes in
// the all-zero column and any constant column) gets NaN for its coefficient
// and p-value: a NaN p-value never qualifies for entry, so such a column can
// never make the model singular. Likewise every candidate gets NaN when the
// model already explains the labels themselves to rounding level (Σ ỹ² at
// most kExplainedTolerance · Σ y², e.g. labels of one class only, or a feature
// that reproduces the labels): the remainder is arithmetic noise, and fitting
// candidates to it would select features at random.

#include <newmat/newmat.h>

#include "plugin/feature_flags.h"
#include "stepwise/cross_product.h"

namespace Korva {

// d_c ≤ kExplainedTolerance · Σ x_c² marks candidate c as already explained:
// less than a millionth of its norm lies outside the model. The projection's
// rounding leaves about 1e-16 of the norm (times the model's conditioning),
// so the bound sits far above rounding and far below any usable signal.
constexpr double kExplainedTolerance = 1e-12;

// What one regression step gives: one coefficient and one p-value per
// feature, in feature order, and the intercept of the model's fit.
struct StepFit {
  NEWMAT::ColumnVector B;  // p coefficients (NaN for an explained candidate)
  NEWMAT::ColumnVector P;  // p two-sided p-values (NaN likewise)
  double b0 = 0.0;         // intercept of the joint fit
};

// X - Q (Qᵀ X) for Q (n x k) and X (n x m), equal to NEWMAT's evaluation of
// that expression to the last bit (each entry of both products is summed
// over the inner index in ascending order, starting from the first product),
// but blocked by columns so that X is read from memory once rather than once
// per column of Q.
NEWMAT::Matrix ProjectOut(const NEWMAT::Matrix& Q, const NEWMAT::Matrix& X);

// Fits y (n entries) on an intercept plus the features flagged in `in` among
// the first p = in.Count() columns of X (n rows) and fills `fit` (B and P
// resized to p). Returns kStatusOk, or kStatusRejected leaving `fit` as it was
// when dfe < 2, y's length differs from X's rows, or X has fewer than p
// columns. NEWMAT's exceptions pass on (e.g. an in-model column that the
// others explain exactly).
int RegressionStep(const NEWMAT::Matrix& X,
                   const NEWMAT::ColumnVector& y,
                   const FeatureFlags& in,
                   StepFit& fit);
// The same on `rows` read in place (their stride at least p; their labels
// are not read: y gives them), with the very arithmetic, so the same bits.
int RegressionStep(const TrainingRows& rows,
                   const NEWMAT::ColumnVector& y,
                   const FeatureFlags& in,
                   StepFit& fit);

}  // namespace Korva

#endif  // KORVA_STEPWISE_STEP_CALC_H_
