#ifndef KORVA_TESTING_OLS_REFERENCE_H_
#define KORVA_TESTING_OLS_REFERENCE_H_

// An ordinary least-squares fit computed independently of the regression
// step (normal equations solved by a hand-written Cholesky factorisation in
// long double, two-sided p-values from Boost's Student t distribution), and
// the data builders the numerical tests share.

#include <gtest/gtest.h>
#include <newmat/newmat.h>

#include <random>
#include <vector>

namespace Korva::Testing {

struct OlsFit {
  std::vector<double> coefficients;  // intercept first, then the columns
  std::vector<double> t;             // t statistics in the same order
  int dfe = 0;                       // n - number of coefficients
};

// Fits y on an intercept plus the listed columns of X.
OlsFit FitOls(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& columns);

// Two-sided tail probability of Student's t with df degrees of freedom.
double TwoSidedP(double t, int df);

// The p-value that candidate c gets against `model`: its t statistic in the
// refit with c added, read with the model's own degrees of freedom.
double CandidateP(const NEWMAT::Matrix& X,
                  const NEWMAT::ColumnVector& y,
                  std::vector<int> model,
                  int c);

// The p-value of the j-th feature listed in `model`.
double ModelP(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& model,
              int j);

// n rows of p correlated features: every feature mixes a few shared factors
// with its own noise and carries an offset and a scale of its own.
NEWMAT::Matrix CorrelatedFeatures(int n, int p, std::mt19937& rng);

// Labels +1 / -1 from a noisy linear rule on every third feature, split at
// the rule's mean so that both classes are well filled.
NEWMAT::ColumnVector LabelsFrom(const NEWMAT::Matrix& X, std::mt19937& rng);

// A matrix filled row by row, and a column.
NEWMAT::Matrix MatrixOf(int rows, int cols, const std::vector<double>& v);
NEWMAT::ColumnVector ColumnOf(const std::vector<double>& v);

// |actual - expected| <= relative · |expected|, printing both on failure.
::testing::AssertionResult Close(double actual,
                                 double expected,
                                 double relative = 1e-9);

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_OLS_REFERENCE_H_
