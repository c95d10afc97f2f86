#include "testing/ols_reference.h"

#include <boost/math/distributions/students_t.hpp>
#include <cmath>

namespace Korva::Testing {

OlsFit FitOls(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& columns,
              int extraDf) {
  using Real = long double;
  const int n = X.Nrows(), q = static_cast<int>(columns.size()) + 1;
  auto x = [&](int row, int j) -> Real {
    return j == 0 ? 1.0L : X.element(row, columns[j - 1]);
  };
  // A = X1ᵀX1 = L Lᵀ, v = X1ᵀy.
  std::vector<Real> A(q * q, 0.0L), L(q * q, 0.0L), v(q, 0.0L);
  for (int row = 0; row < n; ++row) {
    for (int a = 0; a < q; ++a) {
      v[a] += x(row, a) * y.element(row);
      for (int b = 0; b < q; ++b) A[a * q + b] += x(row, a) * x(row, b);
    }
  }
  for (int j = 0; j < q; ++j) {
    for (int i = j; i < q; ++i) {
      Real s = A[i * q + j];
      for (int c = 0; c < j; ++c) s -= L[i * q + c] * L[j * q + c];
      L[i * q + j] = i == j ? std::sqrt(s) : s / L[j * q + j];
    }
  }
  auto solve = [&](std::vector<Real> r) {  // A⁻¹ r: L z = r, then Lᵀ u = z
    for (int i = 0; i < q; ++i) {
      for (int c = 0; c < i; ++c) r[i] -= L[i * q + c] * r[c];
      r[i] /= L[i * q + i];
    }
    for (int i = q - 1; i >= 0; --i) {
      for (int c = i + 1; c < q; ++c) r[i] -= L[c * q + i] * r[c];
      r[i] /= L[i * q + i];
    }
    return r;
  };
  const std::vector<Real> beta = solve(v);
  Real rss = 0.0L;
  for (int row = 0; row < n; ++row) {
    Real r = y.element(row);
    for (int a = 0; a < q; ++a) r -= x(row, a) * beta[a];
    rss += r * r;
  }
  const int dfe = n - q;
  const boost::math::students_t t(dfe + extraDf);
  OlsFit fit;
  for (int a = 0; a < q; ++a) {
    std::vector<Real> unit(q, 0.0L);
    unit[a] = 1.0L;
    const Real se = std::sqrt(rss / dfe * solve(unit)[a]);  // (A⁻¹)ₐₐ
    fit.coefficients.push_back(static_cast<double>(beta[a]));
    fit.p.push_back(2.0 *
                    boost::math::cdf(boost::math::complement(
                        t, static_cast<double>(std::fabs(beta[a] / se)))));
  }
  return fit;
}

double CandidateP(const NEWMAT::Matrix& X,
                  const NEWMAT::ColumnVector& y,
                  std::vector<int> model,
                  int c) {
  model.push_back(c);
  return FitOls(X, y, model, 1).p.back();
}

void CorrelatedSet(int n,
                   int p,
                   std::mt19937& rng,
                   NEWMAT::Matrix& X,
                   NEWMAT::ColumnVector& y) {
  std::normal_distribution<double> normal;
  std::vector<double> loading(p * 3), score(n);
  for (double& l : loading) l = normal(rng);
  X.ReSize(n, p);
  for (int row = 0; row < n; ++row) {
    const double f[] = {normal(rng), normal(rng), normal(rng)};
    for (int j = 0; j < p; ++j) {
      double v = normal(rng);
      for (int a = 0; a < 3; ++a) v += loading[j * 3 + a] * f[a];
      X.element(row, j) = (1.0 + 0.25 * j) * v + 0.5 * j - 1.0;
    }
  }
  std::normal_distribution<double> noise;
  double mean = 0.0;
  for (int row = 0; row < n; ++row) {
    score[row] = 2.0 * noise(rng);
    for (int j = 0; j < p; j += 3) score[row] += X.element(row, j) / (1 + j);
    mean += score[row] / n;
  }
  y.ReSize(n);
  for (int row = 0; row < n; ++row)
    y.element(row) = score[row] > mean ? 1.0 : -1.0;
}

NEWMAT::Matrix MatrixOf(int rows, int cols, const std::vector<double>& v) {
  NEWMAT::Matrix m(rows, cols);
  m << v.data();
  return m;
}

}  // namespace Korva::Testing
