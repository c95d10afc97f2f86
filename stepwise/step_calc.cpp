#include "stepwise/step_calc.h"

#include <newmat/newmatap.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "korva/betai.h"
#include "korva/classifier_base.h"
#include "plugin/dozod.h"
#include "platform/huge_pages.h"

namespace Korva {

namespace {

// Columns of X taken together in ProjectOut: a k x 64 block of Qᵀ X (about
// 30 KB for a model of 60 features) stays in the first-level cache.
constexpr int kColumnBlock = 64;

// Per candidate column c of X0 and X̃0, each a sum over the rows in
// ascending order from 0.0, the order of a loop down the column:
// d_c = Σ X̃0², ownSquares_c = Σ X0², β_c = g_c / d_c (0 where d_c is 0) and
// e2_c = Σ (ỹ - β_c X̃0)². The rows are walked once each in storage order.
struct CandidateSums {
  std::vector<double> d, ownSquares, beta, e2;
};

CandidateSums SumCandidates(const NEWMAT::Matrix& X0,
                            const NEWMAT::Matrix& X0t,
                            const NEWMAT::ColumnVector& yt,
                            const NEWMAT::RowVector& g) {
  const int n = X0.Nrows();
  const int m = X0.Ncols();
  CandidateSums sums{std::vector<double>(m, 0.0),
                     std::vector<double>(m, 0.0),
                     std::vector<double>(m, 0.0),
                     std::vector<double>(m, 0.0)};
  for (int row = 0; row < n; ++row) {
    const double* t = X0t.Store() + static_cast<std::size_t>(row) * m;
    const double* x = X0.Store() + static_cast<std::size_t>(row) * m;
    for (int c = 0; c < m; ++c) {
      sums.d[c] += std::pow(t[c], 2.0);
      sums.ownSquares[c] += std::pow(x[c], 2.0);
    }
  }
  for (int c = 0; c < m; ++c)
    if (sums.d[c] != 0.0) sums.beta[c] = g.element(c) / sums.d[c];
  for (int row = 0; row < n; ++row) {
    const double* t = X0t.Store() + static_cast<std::size_t>(row) * m;
    const double y = yt.element(row);
    for (int c = 0; c < m; ++c)
      sums.e2[c] += std::pow(y - sums.beta[c] * t[c], 2.0);
  }
  return sums;
}

// Q (n x k) and the shape of X (n x m), both stored row by row.
struct Panel {
  const double* q;
  int k, n, m;
  const double* Row(int r) const { return q + static_cast<std::size_t>(r) * k; }
};

// C = Qᵀ X for the w columns from x (C_i in row i, stride kColumnBlock):
// C_ij = Q_0i X_0j + Q_1i X_1j + ..., added in this order. Four rows of X go
// into each pass over C, so that an entry is loaded and stored once for four
// additions; the loops across j leave each entry's order as it is.
void TransposedProduct(const Panel& b,
                       const double* __restrict x,
                       int w,
                       double* __restrict C) {
  const auto X = [&](int r) { return x + static_cast<std::size_t>(r) * b.m; };
  for (int i = 0; i < b.k; ++i) {
    const double f = b.Row(0)[i];
    double* __restrict c = C + static_cast<std::size_t>(i) * kColumnBlock;
    for (int j = 0; j < w; ++j) c[j] = f * x[j];
  }
  int r = 1;
  for (; r + 4 <= b.n; r += 4) {
    const double *x0 = X(r), *x1 = X(r + 1), *x2 = X(r + 2), *x3 = X(r + 3);
    for (int i = 0; i < b.k; ++i) {
      const double f0 = b.Row(r)[i], f1 = b.Row(r + 1)[i];
      const double f2 = b.Row(r + 2)[i], f3 = b.Row(r + 3)[i];
      double* __restrict c = C + static_cast<std::size_t>(i) * kColumnBlock;
      for (int j = 0; j < w; ++j)
        c[j] = (((c[j] + f0 * x0[j]) + f1 * x1[j]) + f2 * x2[j]) + f3 * x3[j];
    }
  }
  for (; r < b.n; ++r)
    for (int i = 0; i < b.k; ++i) {
      const double f = b.Row(r)[i];
      double* __restrict c = C + static_cast<std::size_t>(i) * kColumnBlock;
      for (int j = 0; j < w; ++j) c[j] += f * X(r)[j];
    }
}

// out = X - Q C for the same w columns, with (Q C)_rj = Q_r0 C_0j +
// Q_r1 C_1j + ..., added in this order, four columns of Q per pass.
void SubtractProduct(const Panel& b,
                     const double* __restrict C,
                     const double* __restrict x,
                     int w,
                     double* __restrict out) {
  const auto c = [&](int i) {
    return C + static_cast<std::size_t>(i) * kColumnBlock;
  };
  double sum[kColumnBlock];
  for (int r = 0; r < b.n; ++r) {
    const double* q = b.Row(r);
    for (int j = 0; j < w; ++j) sum[j] = q[0] * C[j];
    int i = 1;
    for (; i + 4 <= b.k; i += 4) {
      const double *c0 = c(i), *c1 = c(i + 1), *c2 = c(i + 2), *c3 = c(i + 3);
      for (int j = 0; j < w; ++j)
        sum[j] =
            (((sum[j] + q[i] * c0[j]) + q[i + 1] * c1[j]) + q[i + 2] * c2[j]) +
            q[i + 3] * c3[j];
    }
    for (; i < b.k; ++i)
      for (int j = 0; j < w; ++j) sum[j] += q[i] * c(i)[j];
    const std::size_t at = static_cast<std::size_t>(r) * b.m;
    for (int j = 0; j < w; ++j) out[at + j] = x[at + j] - sum[j];
  }
}

}  // namespace

NEWMAT::Matrix ProjectOut(const NEWMAT::Matrix& Q, const NEWMAT::Matrix& X) {
  const int n = X.Nrows();
  const int m = X.Ncols();
  const int k = Q.Ncols();
  // One named result, returned everywhere: NEWMAT's copy constructor copies.
  NEWMAT::Matrix out;
  if (n == 0 || k == 0) {
    out = X - Q * (Q.t() * X);
    return out;
  }
  out.ReSize(n, m);
  AdviseHugePages(out.Store(),
                  static_cast<std::size_t>(n) * m * sizeof(double));
  std::vector<double> C(static_cast<std::size_t>(k) * kColumnBlock);
  const Panel block{Q.Store(), k, n, m};
  for (int j0 = 0; j0 < m; j0 += kColumnBlock) {
    const int w = std::min(kColumnBlock, m - j0);
    TransposedProduct(block, X.Store() + j0, w, C.data());
    SubtractProduct(block, C.data(), X.Store() + j0, w, out.Store() + j0);
  }
  return out;
}

int RegressionStep(const NEWMAT::Matrix& X,
                   const NEWMAT::ColumnVector& y,
                   const FeatureFlags& in,
                   StepFit& fit) {
  return RegressionStep(
      TrainingRows{X.Store(), X.Ncols(), nullptr, nullptr, X.Nrows()},
      y,
      in,
      fit);
}

int RegressionStep(const TrainingRows& rows,
                   const NEWMAT::ColumnVector& y,
                   const FeatureFlags& in,
                   StepFit& fit) {
  const int n = rows.count;
  if (in.Count() > static_cast<std::uint64_t>(rows.stride) || y.Nrows() != n)
    return kStatusRejected;
  const int p = static_cast<int>(in.Count());
  const int k = static_cast<int>(in.CountSelected());

  // Step 5 comes first: QR of a matrix with more columns than rows is not
  // defined, and the result would be thrown away anyway.
  const int dfe = n - (k + 1);
  if (dfe < 2) return kStatusRejected;

  // 1. Count and split (all three matrices are stored row by row).
  NEWMAT::Matrix X1(n, k + 1);
  NEWMAT::Matrix X0(n, p - k);
  AdviseHugePages(X0.Store(),
                  static_cast<std::size_t>(n) * (p - k) * sizeof(double));
  for (int row = 0; row < n; ++row) {
    const double* from = rows.Row(row);
    double* model = X1.Store() + static_cast<std::size_t>(row) * (k + 1);
    double* candidate = X0.Store() + static_cast<std::size_t>(row) * (p - k);
    *model++ = 1.0;
    for (int i = 0; i < p; ++i) *(in[i] ? model++ : candidate++) = from[i];
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
  const NEWMAT::Matrix X0t = ProjectOut(Q, X0);
  const NEWMAT::ColumnVector yt = y - Q * (Q.t() * y);

  // 9, 10. Single-addition fits. When the model already explains the labels
  // to rounding level, what is left of them is noise of the arithmetic, and a
  // fit to it would pick candidates at random: none is offered then.
  const NEWMAT::RowVector g = yt.t() * X0t;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const bool labelsExplained =
      yt.SumSquare() <= kExplainedTolerance * y.SumSquare();
  const int m = p - k;
  const CandidateSums sums = SumCandidates(X0, X0t, yt, g);
  NEWMAT::ColumnVector beta(m);
  NEWMAT::ColumnVector seCandidate(m);
  for (int c = 0; c < m; ++c) {
    const double d = sums.d[c];
    if (labelsExplained || d <= kExplainedTolerance * sums.ownSquares[c]) {
      beta.element(c) = nan;
      seCandidate.element(c) = nan;
      continue;
    }
    beta.element(c) = sums.beta[c];
    seCandidate.element(c) = std::sqrt(sums.e2[c] / (d * (dfe - 1)));
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
