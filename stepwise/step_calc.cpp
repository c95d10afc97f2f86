#include "stepwise/step_calc.h"

#include <newmat/newmatap.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "korva/betai.h"
#include "korva/classifier_base.h"
#include "plugin/dozod.h"

namespace Korva {

int RegressionStep(const NEWMAT::Matrix& X,
                   const NEWMAT::ColumnVector& y,
                   const FeatureFlags& in,
                   StepFit& fit) {
  const int n = X.Nrows();
  if (in.Count() > static_cast<std::uint64_t>(X.Ncols()) || y.Nrows() != n)
    return kStatusRejected;
  const int p = static_cast<int>(in.Count());
  const int k = static_cast<int>(in.CountSelected());

  // Step 5 comes first: QR of a matrix with more columns than rows is not
  // defined, and the result would be thrown away anyway.
  const int dfe = n - (k + 1);
  if (dfe < 2) return kStatusRejected;

  // 1. Count and split.
  NEWMAT::Matrix X1(n, k + 1);
  NEWMAT::Matrix X0(n, p - k);
  for (int row = 0; row < n; ++row) {
    X1.element(row, 0) = 1.0;
    int model = 1;
    int candidate = 0;
    for (int i = 0; i < p; ++i) {
      if (in[i])
        X1.element(row, model++) = X.element(row, i);
      else
        X0.element(row, candidate++) = X.element(row, i);
    }
  }

  // 2. Factor the model; M = Qᵀ y.
  NEWMAT::Matrix factored = X1;
  NEWMAT::UpperTriangularMatrix R;
  NEWMAT::QRZ(factored, R);
  NEWMAT::Matrix transformedY = y;
  NEWMAT::Matrix M;
  NEWMAT::QRZ(factored, transformedY, M);

  // 3. Solve.
  const NEWMAT::UpperTriangularMatrix Ri = R.i();
  const NEWMAT::Matrix Q = X1 * Ri;
  const NEWMAT::ColumnVector b = Ri * M;

  // 4. Residuals; 6. residual scale.
  const NEWMAT::ColumnVector r = y - X1 * b;
  const double s = std::sqrt(r.SumSquare() / dfe);

  // 7. Standard errors of the fitted coefficients.
  NEWMAT::ColumnVector se(k + 1);
  for (int m = 0; m <= k; ++m) {
    double rowSquares = 0.0;
    for (int j = m; j <= k; ++j) rowSquares += std::pow(Ri.element(m, j), 2.0);
    se.element(m) = s * std::sqrt(rowSquares);
  }

  // 8. Project the candidates and the labels off the model.
  const NEWMAT::Matrix X0t = X0 - Q * (Q.t() * X0);
  const NEWMAT::ColumnVector yt = y - Q * (Q.t() * y);

  // 9, 10. Single-addition fits. When the model already explains the labels
  // to rounding level, what is left of them is noise of the arithmetic, and a
  // fit to it would pick candidates at random: none is offered then.
  const NEWMAT::RowVector g = yt.t() * X0t;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const bool labelsExplained =
      yt.SumSquare() <= kExplainedTolerance * y.SumSquare();
  NEWMAT::ColumnVector beta(p - k);
  NEWMAT::ColumnVector seCandidate(p - k);
  for (int c = 0; c < p - k; ++c) {
    double d = 0.0;
    double ownSquares = 0.0;
    for (int row = 0; row < n; ++row) {
      d += std::pow(X0t.element(row, c), 2.0);
      ownSquares += std::pow(X0.element(row, c), 2.0);
    }
    if (labelsExplained || d <= kExplainedTolerance * ownSquares) {
      beta.element(c) = nan;
      seCandidate.element(c) = nan;
      continue;
    }
    const double betaC = g.element(c) / d;
    double e2 = 0.0;
    for (int row = 0; row < n; ++row)
      e2 += std::pow(yt.element(row) - betaC * X0t.element(row, c), 2.0);
    beta.element(c) = betaC;
    seCandidate.element(c) = std::sqrt(e2 / (d * (dfe - 1)));
  }

  // 11-13. Intercept, feature order, p-values.
  fit.B.ReSize(p);
  fit.P.ReSize(p);
  fit.b0 = b.element(0);
  int model = 1;
  int candidate = 0;
  for (int i = 0; i < p; ++i) {
    double coefficient;
    double standardError;
    if (in[i]) {
      coefficient = b.element(model);
      standardError = se.element(model);
      ++model;
    } else {
      coefficient = beta.element(candidate);
      standardError = seCandidate.element(candidate);
      ++candidate;
    }
    const double t = coefficient / standardError;
    fit.B.element(i) = coefficient;
    fit.P.element(i) = betai(0.5 * dfe, 0.5, dfe / (dfe + std::pow(t, 2.0)));
  }
  return kStatusOk;
}

}  // namespace Korva

int DOZOD::StepCalc(const NEWMAT::Matrix& X,
                    const NEWMAT::ColumnVector& y,
                    const FeatureFlags& in,
                    NEWMAT::ColumnVector& B,
                    NEWMAT::ColumnVector& P) {
  const std::uint64_t p = in.Count();
  // The outputs are filled in place, one entry per flag, never resized.
  if (static_cast<std::uint64_t>(B.Nrows()) != p ||
      static_cast<std::uint64_t>(P.Nrows()) != p)
    return Korva::kStatusRejected;
  Korva::StepFit fit;
  const int status = Korva::RegressionStep(X, y, in, fit);
  if (status != Korva::kStatusOk) return status;
  for (std::uint64_t i = 0; i < p; ++i) {
    B.element(static_cast<int>(i)) = fit.B.element(static_cast<int>(i));
    P.element(static_cast<int>(i)) = fit.P.element(static_cast<int>(i));
  }
  W0 = fit.b0;
  return Korva::kStatusOk;
}
