#include "testing/ols_reference.h"

#include <boost/math/distributions/students_t.hpp>
#include <cmath>

namespace Korva::Testing {

OlsFit FitOls(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& columns) {
  using Real = long double;
  const int n = X.Nrows();
  const int q = static_cast<int>(columns.size()) + 1;
  auto design = [&](int row, int j) -> Real {
    return j == 0 ? 1.0L : X.element(row, columns[j - 1]);
  };
  // A = X1ᵀX1, v = X1ᵀy.
  std::vector<Real> A(q * q, 0.0L), v(q, 0.0L);
  for (int row = 0; row < n; ++row) {
    for (int a = 0; a < q; ++a) {
      v[a] += design(row, a) * y.element(row);
      for (int b = 0; b < q; ++b)
        A[a * q + b] += design(row, a) * design(row, b);
    }
  }
  // A = L Lᵀ.
  std::vector<Real> L(q * q, 0.0L);
  for (int j = 0; j < q; ++j) {
    Real d = A[j * q + j];
    for (int c = 0; c < j; ++c) d -= L[j * q + c] * L[j * q + c];
    L[j * q + j] = std::sqrt(d);
    for (int i = j + 1; i < q; ++i) {
      Real s = A[i * q + j];
      for (int c = 0; c < j; ++c) s -= L[i * q + c] * L[j * q + c];
      L[i * q + j] = s / L[j * q + j];
    }
  }
  auto solve = [&](std::vector<Real> rhs) {
    for (int i = 0; i < q; ++i) {
      for (int c = 0; c < i; ++c) rhs[i] -= L[i * q + c] * rhs[c];
      rhs[i] /= L[i * q + i];
    }
    for (int i = q - 1; i >= 0; --i) {
      for (int c = i + 1; c < q; ++c) rhs[i] -= L[c * q + i] * rhs[c];
      rhs[i] /= L[i * q + i];
    }
    return rhs;
  };
  const std::vector<Real> beta = solve(v);
  Real rss = 0.0L;
  for (int row = 0; row < n; ++row) {
    Real fitted = 0.0L;
    for (int a = 0; a < q; ++a) fitted += design(row, a) * beta[a];
    rss += (y.element(row) - fitted) * (y.element(row) - fitted);
  }
  OlsFit fit;
  fit.dfe = n - q;
  const Real sigma2 = rss / fit.dfe;
  for (int a = 0; a < q; ++a) {
    std::vector<Real> unit(q, 0.0L);
    unit[a] = 1.0L;
    const Real inverseDiagonal = solve(unit)[a];  // ((X1ᵀX1)⁻¹)ₐₐ
    fit.coefficients.push_back(static_cast<double>(beta[a]));
    fit.t.push_back(
        static_cast<double>(beta[a] / std::sqrt(sigma2 * inverseDiagonal)));
  }
  return fit;
}

double TwoSidedP(double t, int df) {
  const boost::math::students_t distribution(df);
  return 2.0 *
         boost::math::cdf(boost::math::complement(distribution, std::fabs(t)));
}

double CandidateP(const NEWMAT::Matrix& X,
                  const NEWMAT::ColumnVector& y,
                  std::vector<int> model,
                  int c) {
  model.push_back(c);
  const OlsFit refit = FitOls(X, y, model);
  return TwoSidedP(refit.t.back(), refit.dfe + 1);
}

double ModelP(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& model,
              int j) {
  const OlsFit fit = FitOls(X, y, model);
  return TwoSidedP(fit.t[j + 1], fit.dfe);
}

NEWMAT::Matrix CorrelatedFeatures(int n, int p, std::mt19937& rng) {
  std::normal_distribution<double> normal;
  const int factors = 3;
  std::vector<double> loading(p * factors);
  for (double& l : loading) l = normal(rng);
  NEWMAT::Matrix X(n, p);
  for (int row = 0; row < n; ++row) {
    double f[factors];
    for (double& value : f) value = normal(rng);
    for (int j = 0; j < p; ++j) {
      double x = normal(rng);
      for (int a = 0; a < factors; ++a) x += loading[j * factors + a] * f[a];
      X.element(row, j) = (1.0 + 0.25 * j) * x + 0.5 * j - 1.0;
    }
  }
  return X;
}

NEWMAT::ColumnVector LabelsFrom(const NEWMAT::Matrix& X, std::mt19937& rng) {
  std::normal_distribution<double> normal;
  const int n = X.Nrows();
  std::vector<double> score(n);
  double mean = 0.0;
  for (int row = 0; row < n; ++row) {
    score[row] = 2.0 * normal(rng);
    for (int j = 0; j < X.Ncols(); j += 3)
      score[row] += X.element(row, j) / (1 + j);
    mean += score[row] / n;
  }
  NEWMAT::ColumnVector y(n);
  for (int row = 0; row < n; ++row)
    y.element(row) = score[row] > mean ? 1.0 : -1.0;
  return y;
}

::testing::AssertionResult Close(double actual,
                                 double expected,
                                 double relative) {
  if (std::fabs(actual - expected) <= relative * std::fabs(expected))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "actual " << actual << " expected " << expected;
}

NEWMAT::Matrix MatrixOf(int rows, int cols, const std::vector<double>& v) {
  NEWMAT::Matrix m(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m.element(i, j) = v[i * cols + j];
  return m;
}

NEWMAT::ColumnVector ColumnOf(const std::vector<double>& v) {
  NEWMAT::ColumnVector c(static_cast<int>(v.size()));
  for (int i = 0; i < c.Nrows(); ++i) c.element(i) = v[i];
  return c;
}

}  // namespace Korva::Testing
