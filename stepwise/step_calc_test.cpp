#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/ols_reference.h"

namespace {

using namespace Korva::Testing;

struct Shape {
  int n;
  int p;
  std::vector<int> model;
  bool binaryLabels;  // ±1 labels, else a continuous response
};

void PrintTo(const Shape& shape, std::ostream* os) {
  *os << "n " << shape.n << ", p " << shape.p << ", k " << shape.model.size();
}

class StepCalcAgainstOls : public ::testing::TestWithParam<Shape> {};

// In-model values against the joint fit; every candidate's coefficient
// against its coefficient in a refit with it included, and its p-value
// against that refit's t statistic read with the current model's dfe.
TEST_P(StepCalcAgainstOls, MatchesNormalEquations) {
  const Shape shape = GetParam();
  std::mt19937 rng(1000 + shape.n * 31 + shape.p);
  const NEWMAT::Matrix X = CorrelatedFeatures(shape.n, shape.p, rng);
  NEWMAT::ColumnVector y = LabelsFrom(X, rng);
  if (!shape.binaryLabels) {
    std::normal_distribution<double> normal;
    for (int i = 0; i < shape.n; ++i) y.element(i) += 0.7 * normal(rng);
  }
  const auto in = Flags(shape.p, shape.model);
  NEWMAT::ColumnVector B(shape.p), P(shape.p);
  DozodProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *in, B, P), 0);

  const OlsFit joint = FitOls(X, y, shape.model);
  const int dfe = joint.dfe;
  EXPECT_TRUE(Close(dozod.Bias(), joint.coefficients[0])) << "intercept";
  for (std::size_t j = 0; j < shape.model.size(); ++j) {
    const int i = shape.model[j];
    EXPECT_TRUE(Close(B.element(i), joint.coefficients[j + 1])) << "b " << i;
    EXPECT_TRUE(Close(P.element(i), TwoSidedP(joint.t[j + 1], dfe)))
        << "p " << i;
  }
  for (int c = 0; c < shape.p; ++c) {
    if ((*in)[c]) continue;
    std::vector<int> enlarged = shape.model;
    enlarged.push_back(c);
    const OlsFit refit = FitOls(X, y, enlarged);
    EXPECT_TRUE(Close(B.element(c), refit.coefficients.back())) << "β " << c;
    EXPECT_TRUE(Close(P.element(c), TwoSidedP(refit.t.back(), dfe)))
        << "p " << c;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, StepCalcAgainstOls, ::testing::Values(
    Shape{40, 5, {}, true},                      // intercept only: b₀ = ȳ
    Shape{60, 8, {1, 4, 6}, true},               // model and candidates interleaved
    Shape{200, 12, {0, 2, 3, 7, 11}, false},
    Shape{25, 6, {0, 1, 2, 3, 4, 5}, true},      // every feature in the model
    Shape{8, 6, {0, 2, 3, 4, 5}, false},         // dfe = 2, the least allowed
    Shape{7, 3, {1}, true}));
// clang-format on

struct Rejection {
  const char* what;
  int n;
  int flags;
  std::vector<int> model;
  int sizeB;
  int sizeP;
  int sizeY;
};

void PrintTo(const Rejection& r, std::ostream* os) { *os << r.what; }

class StepCalcRejects : public ::testing::TestWithParam<Rejection> {};

// -10 with the coefficients, the p-values and W0 exactly as they were.
TEST_P(StepCalcRejects, WritesNothing) {
  const Rejection r = GetParam();
  std::mt19937 rng(9);
  const NEWMAT::Matrix X = CorrelatedFeatures(r.n, 6, rng);
  const NEWMAT::ColumnVector y = LabelsFrom(X, rng).Rows(1, r.sizeY);
  NEWMAT::ColumnVector B(r.sizeB), P(r.sizeP);
  B = 7.0;
  P = 8.0;
  DozodProbe dozod;
  dozod.SetBias(9.0);
  EXPECT_EQ(dozod.StepCalc(X, y, *Flags(r.flags, r.model), B, P), -10);
  EXPECT_TRUE(B.Minimum() == 7 && B.Maximum() == 7 && P.Minimum() == 8 &&
              P.Maximum() == 8);
  EXPECT_EQ(dozod.Bias(), 9.0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(StepCalc, StepCalcRejects, ::testing::Values(
    Rejection{"dfe 1", 5, 6, {0, 1, 2}, 6, 6, 5},
    Rejection{"more coefficients than examples", 5, 6, {0, 1, 2, 3, 4, 5}, 6, 6, 5},
    Rejection{"B shorter than the flags", 20, 6, {}, 5, 6, 20},
    Rejection{"more flags than columns", 20, 7, {}, 7, 7, 20},
    Rejection{"fewer labels than rows", 20, 6, {}, 6, 6, 19}));
// clang-format on

// A candidate that the model explains to rounding level gets NaN, so that it
// can never enter; one that the model explains only nearly is fitted. Labels
// that the model already explains offer no candidate at all.
TEST(StepCalc, ExplainedCandidatesGetNaN) {
  std::mt19937 rng(21);
  std::normal_distribution<double> normal;
  const int n = 30;
  const NEWMAT::Matrix base = CorrelatedFeatures(n, 2, rng);
  const NEWMAT::ColumnVector y = LabelsFrom(base, rng);
  NEWMAT::Matrix X(n, 6);
  for (int i = 0; i < n; ++i) {
    X.element(i, 0) = base.element(i, 0);
    X.element(i, 1) = 0.0;
    X.element(i, 2) = 0.1;
    X.element(i, 3) = 2.0 * base.element(i, 0) - 3.0;
    X.element(i, 4) = base.element(i, 0) + 1e-3 * normal(rng);
    X.element(i, 5) = base.element(i, 1);
  }
  NEWMAT::ColumnVector B(6), P(6);
  DozodProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {0}), B, P), 0);
  for (int c : {1, 2, 3}) {
    EXPECT_TRUE(std::isnan(B.element(c))) << c;
    EXPECT_TRUE(std::isnan(P.element(c))) << c;
  }
  for (int c : {4, 5}) {
    EXPECT_TRUE(Close(B.element(c), FitOls(X, y, {0, c}).coefficients[2], 1e-6))
        << c;
    EXPECT_FALSE(std::isnan(P.element(c))) << c;
  }
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {}), B, P), 0);
  EXPECT_TRUE(std::isnan(P.element(1)));
  EXPECT_TRUE(std::isnan(P.element(2)));
  EXPECT_FALSE(std::isnan(P.element(3)));

  NEWMAT::ColumnVector ones(n);
  ones = 1.0;
  ASSERT_EQ(dozod.StepCalc(X, ones, *Flags(6, {}), B, P), 0);
  EXPECT_NEAR(dozod.Bias(), 1.0, 1e-15);
  for (int c = 0; c < 6; ++c) EXPECT_TRUE(std::isnan(P.element(c))) << c;
}

}  // namespace
