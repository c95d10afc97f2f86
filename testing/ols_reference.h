#ifndef KORVA_TESTING_OLS_REFERENCE_H_
#define KORVA_TESTING_OLS_REFERENCE_H_

// An ordinary least-squares fit computed independently of the regression
// step (the normal equations solved by a hand-written Cholesky factorisation
// in long double, two-sided p-values from Boost's Student t distribution),
// and the data builders the numerical tests share.

#include <newmat/newmat.h>

#include <random>
#include <vector>

namespace Korva::Testing {

struct OlsFit {
  std::vector<double> coefficients;  // intercept first, then the columns
  std::vector<double> p;             // two-sided p-values in the same order
};

// Fits y on an intercept plus the listed columns of X; the p-values read the
// t statistics with dfe + extraDf degrees of freedom (dfe = n - coefficients).
OlsFit FitOls(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& columns,
              int extraDf = 0);

// The p-value that candidate c gets against `model`: its t statistic in the
// refit with c added, read with the model's own degrees of freedom.
double CandidateP(const NEWMAT::Matrix& X,
                  const NEWMAT::ColumnVector& y,
                  std::vector<int> model,
                  int c);

// n rows of p correlated features (every feature mixes three shared factors
// with its own noise, with an offset and a scale of its own) into X, and into
// y labels +1 / -1 from a noisy linear rule on every third feature, split at
// the rule's mean so that both classes are well filled.
void CorrelatedSet(int n,
                   int p,
                   std::mt19937& rng,
                   NEWMAT::Matrix& X,
                   NEWMAT::ColumnVector& y);

// A matrix filled row by row.
NEWMAT::Matrix MatrixOf(int rows, int cols, const std::vector<double>& v);

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_OLS_REFERENCE_H_
