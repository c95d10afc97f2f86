#ifndef KORVA_STEPWISE_OLS_REFERENCE_TEST_UTIL_H_
#define KORVA_STEPWISE_OLS_REFERENCE_TEST_UTIL_H_

// What the stepwise tests share: an ordinary least-squares fit computed
// independently of the regression step (normal equations solved by a
// hand-written Cholesky factorisation in long double, two-sided p-values from
// Boost's Student t distribution), data builders, and a DOZOD that shows the
// fields training leaves behind.

#include <gtest/gtest.h>
#include <newmat/newmat.h>

#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "korva/classifier_progress.h"
#include "plugin/dozod.h"

namespace korva_test {

struct OlsFit {
  std::vector<double> coefficients;  // intercept first, then the columns
  std::vector<double> t;             // t statistics in the same order
  int dfe = 0;                       // n - number of coefficients
};

// Fits y on an intercept plus the listed columns of X.
inline OlsFit FitOls(const NEWMAT::Matrix& X,
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

// Two-sided tail probability of Student's t with df degrees of freedom.
inline double TwoSidedP(double t, int df) {
  const boost::math::students_t distribution(df);
  return 2.0 *
         boost::math::cdf(boost::math::complement(distribution, std::fabs(t)));
}

// The p-value that candidate c gets against `model`: its t statistic in the
// refit with c added, read with the model's own degrees of freedom.
inline double CandidateP(const NEWMAT::Matrix& X,
                         const NEWMAT::ColumnVector& y,
                         std::vector<int> model,
                         int c) {
  model.push_back(c);
  const OlsFit refit = FitOls(X, y, model);
  return TwoSidedP(refit.t.back(), refit.dfe + 1);
}

// The p-value of the j-th feature listed in `model`.
inline double ModelP(const NEWMAT::Matrix& X,
                     const NEWMAT::ColumnVector& y,
                     const std::vector<int>& model,
                     int j) {
  const OlsFit fit = FitOls(X, y, model);
  return TwoSidedP(fit.t[j + 1], fit.dfe);
}

// n rows of p correlated features: every feature mixes a few shared factors
// with its own noise and carries an offset and a scale of its own.
inline NEWMAT::Matrix CorrelatedFeatures(int n, int p, std::mt19937& rng) {
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

// Labels +1 / -1 from a noisy linear rule on every third feature, split at
// the rule's mean so that both classes are well filled.
inline NEWMAT::ColumnVector LabelsFrom(const NEWMAT::Matrix& X,
                                       std::mt19937& rng) {
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

// |actual - expected| <= relative · |expected|, printing both on failure.
inline ::testing::AssertionResult Close(double actual,
                                        double expected,
                                        double relative = 1e-9) {
  if (std::fabs(actual - expected) <= relative * std::fabs(expected))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "actual " << actual << " expected " << expected;
}

// p flags with the features in `model` set (flags cannot be copied).
inline std::unique_ptr<FeatureFlags> Flags(int p,
                                           const std::vector<int>& model) {
  auto in = std::make_unique<FeatureFlags>();
  in->Reset(p);
  for (int i : model) (*in)[i] = true;
  return in;
}

class RecordingProgress : public ClassifierProgress {
 public:
  void AddMessage(const std::string& message) override {
    received.push_back(message);
  }
  std::vector<std::string> received;
};

// A DOZOD whose protected training results the tests can set and read.
class DozodProbe : public DOZOD {
 public:
  double Bias() const { return W0; }
  void SetBias(double w0) { W0 = w0; }
  void SetWeights(int n, double value) {
    Weights.ReSize(n);
    Weights = value;
  }
  std::vector<int> Selection() const {
    std::vector<int> selected;
    for (std::uint64_t i = 0; i < SelectedFeatures.Count(); ++i)
      if (SelectedFeatures[i]) selected.push_back(static_cast<int>(i));
    return selected;
  }
};

}  // namespace korva_test

#endif  // KORVA_STEPWISE_OLS_REFERENCE_TEST_UTIL_H_
