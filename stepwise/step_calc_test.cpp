// The regression step against the independent least-squares reference.
#include "stepwise/step_calc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/ols_reference.h"

namespace Korva::Testing {
namespace {

// n examples, p features, the features in the model.
using Shape = std::tuple<int, int, std::vector<int>>;

class StepCalcAgainstOls : public ::testing::TestWithParam<Shape> {};

// In-model values and the intercept against the joint fit; every candidate's
// coefficient against its coefficient in a refit with it included, and its
// p-value against that refit's t statistic read with the current model's dfe.
TEST_P(StepCalcAgainstOls, MatchesNormalEquations) {
  const auto& [n, p, inModel] = GetParam();
  std::mt19937 rng(1000 + n * 31 + p);
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y, B(p), P(p);
  CorrelatedSet(n, p, rng, X, y);
  const auto in = Flags(p, inModel);
  DozodProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *in, B, P), 0);
  const double b0 = FitOls(X, y, inModel).coefficients[0];
  EXPECT_NEAR(dozod.Bias(), b0, 1e-9 * std::fabs(b0));
  for (int i = 0; i < p; ++i) {
    std::vector<int> model = inModel;
    if (!(*in)[i]) model.push_back(i);
    const OlsFit fit = FitOls(X, y, model, (*in)[i] ? 0 : 1);
    const auto j = std::find(model.begin(), model.end(), i) - model.begin() + 1;
    const double b = fit.coefficients[j];
    EXPECT_NEAR(B.element(i), b, 1e-9 * std::fabs(b)) << i;
    EXPECT_NEAR(P.element(i), fit.p[j], 1e-9 * fit.p[j]) << i;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(StepCalc, StepCalcAgainstOls, ::testing::Values(
    Shape{40, 5, {}},                   // intercept only: b₀ = ȳ
    Shape{60, 8, {1, 4, 6}},            // model and candidates interleaved
    Shape{25, 6, {0, 1, 2, 3, 4, 5}},   // every feature in the model
    Shape{8, 6, {0, 2, 3, 4, 5}}));     // dfe = 2, the least allowed
// clang-format on

// Examples, flags, the features in the model, the sizes of B and of y.
using Rejection = std::tuple<int, int, std::vector<int>, int, int>;

class StepCalcRejects : public ::testing::TestWithParam<Rejection> {};

// -10 with the coefficients, the p-values and W0 exactly as they were.
TEST_P(StepCalcRejects, WritesNothing) {
  const auto& [n, flags, model, sizeB, sizeY] = GetParam();
  std::mt19937 rng(9);
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y, B(sizeB), P(flags);
  CorrelatedSet(n, 6, rng, X, y);
  const NEWMAT::ColumnVector labels = y.Rows(1, sizeY);
  B = 7.0;
  P = 7.0;
  DozodProbe dozod;
  dozod.SetBias(7.0);
  EXPECT_EQ(dozod.StepCalc(X, labels, *Flags(flags, model), B, P), -10);
  EXPECT_TRUE(B.Minimum() == 7 && B.Maximum() == 7 && P.Minimum() == 7 &&
              P.Maximum() == 7 && dozod.Bias() == 7);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(StepCalc, StepCalcRejects, ::testing::Values(
    Rejection{5, 6, {0, 1, 2}, 6, 5},           // dfe 1
    Rejection{5, 6, {0, 1, 2, 3, 4, 5}, 6, 5},  // more coefficients than examples
    Rejection{20, 6, {}, 5, 20},                // B shorter than the flags
    Rejection{20, 7, {}, 7, 20},                // more flags than columns
    Rejection{20, 6, {}, 6, 19}));              // fewer labels than rows
// clang-format on

// A candidate that the model explains to rounding level (zero, constant, an
// affine copy of a model feature) gets NaN, so that it can never enter; one
// that the model explains only nearly is fitted. Labels that the model
// already explains offer no candidate at all.
TEST(StepCalc, ExplainedCandidatesGetNaN) {
  std::mt19937 rng(21);
  std::normal_distribution<double> normal;
  NEWMAT::Matrix base, X(30, 6);
  NEWMAT::ColumnVector y, B(6), P(6);
  CorrelatedSet(30, 2, rng, base, y);
  for (int i = 0; i < 30; ++i) {
    const double x = base.element(i, 0);
    const double row[] = {
        x, 0.0, 0.1, 2.0 * x - 3.0, x + 1e-3 * normal(rng), base.element(i, 1)};
    for (int j = 0; j < 6; ++j) X.element(i, j) = row[j];
  }
  DozodProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {0}), B, P), 0);
  for (int c = 1; c < 6; ++c) {
    EXPECT_EQ(std::isnan(B.element(c)), c < 4) << c;
    EXPECT_EQ(std::isnan(P.element(c)), c < 4) << c;
  }
  const double beta = FitOls(X, y, {0, 4}).coefficients[2];
  EXPECT_NEAR(B.element(4), beta, 1e-6 * std::fabs(beta));
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {}), B, P), 0);
  EXPECT_TRUE(std::isnan(P.element(1)) && std::isnan(P.element(2)) &&
              !std::isnan(P.element(3)));

  NEWMAT::ColumnVector ones(30);
  ones = 1.0;
  ASSERT_EQ(dozod.StepCalc(X, ones, *Flags(6, {}), B, P), 0);
  EXPECT_NEAR(dozod.Bias(), 1.0, 1e-15);
  for (int c = 0; c < 6; ++c) EXPECT_TRUE(std::isnan(P.element(c))) << c;
}

// The projection equals NEWMAT's own X - Q (Qᵀ X) bit for bit, across the
// edges of its blocks (64 columns, four rows, four columns of Q). With Q
// positive, a column of -0 is projected to +0 only when both sums start
// from their first product, as NEWMAT's do.
TEST(StepCalc, ProjectOutIsNewmatsExpressionToTheBit) {
  std::mt19937 rng(5);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> positive(0.5, 1.5);
  for (const auto& [n, k, m] :
       {std::tuple{1, 1, 1}, {7, 3, 63}, {130, 9, 129}, {33, 6, 200}}) {
    NEWMAT::Matrix Q(n, k), X(n, m);
    for (int r = 0; r < n; ++r) {
      for (int i = 0; i < k; ++i) Q.element(r, i) = positive(rng);
      for (int j = 0; j < m; ++j) X.element(r, j) = j % 5 ? normal(rng) : -0.0;
    }
    const NEWMAT::Matrix expected = X - Q * (Q.t() * X);
    const NEWMAT::Matrix projected = ProjectOut(Q, X);
    EXPECT_EQ(std::memcmp(
                  expected.Store(), projected.Store(), sizeof(double) * n * m),
              0)
        << n << " x " << m << ", k " << k;
  }
}

}  // namespace
}  // namespace Korva::Testing
