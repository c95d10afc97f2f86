#include "stepwise/step_calc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "plugin/dozod.h"
#include "stepwise/ols_reference_test_util.h"

namespace {

using korva_test::FitOls;
using korva_test::OlsFit;
using korva_test::TwoSidedP;

constexpr double kRelative = 1e-9;

// |actual - expected| ≤ kRelative · |expected|, printing both on failure.
::testing::AssertionResult Close(double actual, double expected) {
  if (std::fabs(actual - expected) <= kRelative * std::fabs(expected))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "actual " << actual << " expected " << expected << " (relative "
         << std::fabs(actual - expected) / std::fabs(expected) << ")";
}

// Flags for p features with `model` set (the flags cannot be copied).
std::unique_ptr<FeatureFlags> Flags(int p, const std::vector<int>& model) {
  auto in = std::make_unique<FeatureFlags>();
  in->Reset(p);
  for (int i : model) (*in)[i] = true;
  return in;
}

// Exposes the bias that the regression step writes.
class StepCalcProbe : public DOZOD {
 public:
  double Bias() const { return W0; }
  void SetBias(double w0) { W0 = w0; }
};

struct Shape {
  int n;
  int p;
  std::vector<int> model;
  bool binaryLabels;  // ±1 labels, else a continuous response
};

void PrintTo(const Shape& shape, std::ostream* os) {
  *os << "n " << shape.n << ", p " << shape.p << ", k " << shape.model.size()
      << (shape.binaryLabels ? ", labels ±1" : ", continuous response");
}

class StepCalcAgainstOls : public ::testing::TestWithParam<Shape> {};

// In-model values against the joint fit; every candidate's coefficient
// against its coefficient in a refit with it included, and its p-value
// against that refit's t statistic read with the current model's dfe.
TEST_P(StepCalcAgainstOls, MatchesNormalEquations) {
  const Shape shape = GetParam();
  std::mt19937 rng(1000 + shape.n * 31 + shape.p);
  const NEWMAT::Matrix X =
      korva_test::CorrelatedFeatures(shape.n, shape.p, rng);
  NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  if (!shape.binaryLabels) {
    std::normal_distribution<double> normal;
    for (int i = 0; i < shape.n; ++i) y.element(i) += 0.7 * normal(rng);
  }
  const auto flags = Flags(shape.p, shape.model);
  const FeatureFlags& in = *flags;
  NEWMAT::ColumnVector B(shape.p);
  NEWMAT::ColumnVector P(shape.p);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, in, B, P), 0);

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
    if (in[c]) continue;
    std::vector<int> enlarged = shape.model;
    enlarged.push_back(c);
    const OlsFit refit = FitOls(X, y, enlarged);
    ASSERT_EQ(refit.dfe, dfe - 1);
    EXPECT_TRUE(Close(B.element(c), refit.coefficients.back())) << "β " << c;
    EXPECT_TRUE(Close(P.element(c), TwoSidedP(refit.t.back(), dfe)))
        << "p " << c;
    if (dfe == 2) {
      // Student t with two degrees of freedom: p = 1 - |t| / √(2 + t²).
      const double t = refit.t.back();
      EXPECT_TRUE(
          Close(P.element(c), 1.0 - std::fabs(t) / std::sqrt(2 + t * t)));
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, StepCalcAgainstOls, ::testing::Values(
    Shape{40, 5, {}, true},                      // intercept only
    Shape{60, 8, {1, 4, 6}, true},
    Shape{200, 12, {0, 2, 3, 7, 11}, false},
    Shape{25, 6, {0, 1, 2, 3, 4, 5}, true},     // every feature in the model
    Shape{30, 10, {0, 1, 2, 3, 4, 5, 6, 7}, false},
    Shape{8, 6, {0, 2, 3, 4, 5}, false},        // dfe = 2, the least allowed
    Shape{7, 3, {1}, true}));
// clang-format on

TEST(StepCalc, FirstCallInterceptIsLabelMeanAndSlopesAreSimpleRegressions) {
  std::mt19937 rng(5);
  const int n = 50;
  const NEWMAT::Matrix X = korva_test::CorrelatedFeatures(n, 4, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  const auto in = Flags(4, {});
  NEWMAT::ColumnVector B(4);
  NEWMAT::ColumnVector P(4);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *in, B, P), 0);

  double yMean = 0.0;
  for (int i = 0; i < n; ++i) yMean += y.element(i) / n;
  EXPECT_TRUE(Close(dozod.Bias(), yMean));
  for (int c = 0; c < 4; ++c) {
    double xMean = 0.0;
    for (int i = 0; i < n; ++i) xMean += X.element(i, c) / n;
    double sxy = 0.0, sxx = 0.0, syy = 0.0;
    for (int i = 0; i < n; ++i) {
      const double dx = X.element(i, c) - xMean;
      const double dy = y.element(i) - yMean;
      sxy += dx * dy;
      sxx += dx * dx;
      syy += dy * dy;
    }
    const double r = sxy / std::sqrt(sxx * syy);
    const double t = r * std::sqrt(n - 2.0) / std::sqrt(1.0 - r * r);
    EXPECT_TRUE(Close(B.element(c), sxy / sxx)) << c;
    EXPECT_TRUE(Close(P.element(c), TwoSidedP(t, n - 1))) << c;
  }
}

// Values in feature order, whatever the model: flags 0, 1, 0, 1 put the joint
// fit into entries 1 and 3.
TEST(StepCalc, ResultsComeInFeatureOrder) {
  std::mt19937 rng(11);
  const NEWMAT::Matrix X = korva_test::CorrelatedFeatures(30, 4, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  NEWMAT::ColumnVector B(4);
  NEWMAT::ColumnVector P(4);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(4, {1, 3}), B, P), 0);
  const OlsFit joint = FitOls(X, y, {1, 3});
  EXPECT_TRUE(Close(B.element(1), joint.coefficients[1]));
  EXPECT_TRUE(Close(B.element(3), joint.coefficients[2]));
  EXPECT_TRUE(Close(B.element(0), FitOls(X, y, {1, 3, 0}).coefficients[3]));
  EXPECT_TRUE(Close(B.element(2), FitOls(X, y, {1, 3, 2}).coefficients[3]));
}

TEST(StepCalc, ScalingTheLabelsScalesCoefficientsAndKeepsPValues) {
  std::mt19937 rng(3);
  const NEWMAT::Matrix X = korva_test::CorrelatedFeatures(40, 5, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  const NEWMAT::ColumnVector scaled = 3.5 * y;
  const auto in = Flags(5, {0, 3});
  NEWMAT::ColumnVector B(5), P(5), Bs(5), Ps(5);
  StepCalcProbe a, b;
  ASSERT_EQ(a.StepCalc(X, y, *in, B, P), 0);
  ASSERT_EQ(b.StepCalc(X, scaled, *in, Bs, Ps), 0);
  EXPECT_TRUE(Close(b.Bias(), 3.5 * a.Bias()));
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(Close(Bs.element(i), 3.5 * B.element(i))) << i;
    EXPECT_TRUE(Close(Ps.element(i), P.element(i))) << i;
  }
}

// Two error degrees of freedom are the least a model may leave; with fewer
// the call fails and changes nothing, also when there are more coefficients
// than examples (the model is never factored then).
TEST(StepCalc, TooFewExamplesChangeNothing) {
  std::mt19937 rng(9);
  const NEWMAT::Matrix X = korva_test::CorrelatedFeatures(5, 6, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  for (const std::vector<int>& model : {std::vector<int>{0, 1, 2},
                                        std::vector<int>{0, 1, 2, 3},
                                        std::vector<int>{0, 1, 2, 3, 4, 5}}) {
    NEWMAT::ColumnVector B(6), P(6);
    B = 7.0;
    P = 8.0;
    StepCalcProbe dozod;
    dozod.SetBias(9.0);
    EXPECT_EQ(dozod.StepCalc(X, y, *Flags(6, model), B, P), -10)
        << model.size() << " features";
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(B.element(i), 7.0);
      EXPECT_EQ(P.element(i), 8.0);
    }
    EXPECT_EQ(dozod.Bias(), 9.0);
  }
  NEWMAT::ColumnVector B(6), P(6);
  StepCalcProbe dozod;
  EXPECT_EQ(dozod.StepCalc(X, y, *Flags(6, {0, 1}), B, P), 0) << "dfe = 2";
}

TEST(StepCalc, OutputsOrInputsOfTheWrongSizeAreRejected) {
  std::mt19937 rng(2);
  const NEWMAT::Matrix X = korva_test::CorrelatedFeatures(20, 3, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  StepCalcProbe dozod;
  dozod.SetBias(4.0);
  NEWMAT::ColumnVector shortB(2), P(3), B(3), longP(4);
  shortB = 1.0;
  EXPECT_EQ(dozod.StepCalc(X, y, *Flags(3, {}), shortB, P), -10);
  EXPECT_EQ(dozod.StepCalc(X, y, *Flags(3, {}), B, longP), -10);
  EXPECT_EQ(dozod.StepCalc(X, y, *Flags(4, {}), B, longP), -10)
      << "more flags than columns";
  const NEWMAT::ColumnVector shortY = y.Rows(1, 19);
  EXPECT_EQ(dozod.StepCalc(X, shortY, *Flags(3, {}), B, P), -10);
  EXPECT_EQ(shortB.element(0), 1.0);
  EXPECT_EQ(dozod.Bias(), 4.0);
}

// A candidate that the model explains to rounding level gets NaN, so that it
// can never enter; one that the model explains only nearly is fitted.
TEST(StepCalc, ExplainedCandidatesGetNaN) {
  std::mt19937 rng(21);
  std::normal_distribution<double> normal;
  const int n = 30;
  const NEWMAT::Matrix base = korva_test::CorrelatedFeatures(n, 2, rng);
  const NEWMAT::ColumnVector y = korva_test::LabelsFrom(base, rng);
  NEWMAT::Matrix X(n, 6);
  for (int i = 0; i < n; ++i) {
    X.element(i, 0) = base.element(i, 0);
    X.element(i, 1) = 0.0;                             // all zeros
    X.element(i, 2) = 0.1;                             // constant
    X.element(i, 3) = 2.0 * base.element(i, 0) - 3.0;  // in the model's span
    X.element(i, 4) = base.element(i, 0) + 1e-3 * normal(rng);  // nearly
    X.element(i, 5) = base.element(i, 1);
  }
  NEWMAT::ColumnVector B(6), P(6);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {0}), B, P), 0);
  for (int c : {1, 2, 3}) {
    EXPECT_TRUE(std::isnan(B.element(c))) << c;
    EXPECT_TRUE(std::isnan(P.element(c))) << c;
  }
  for (int c : {4, 5}) {
    const OlsFit refit = FitOls(X, y, {0, c});
    EXPECT_NEAR(B.element(c),
                refit.coefficients[2],
                1e-6 * std::fabs(refit.coefficients[2]))
        << c;
    EXPECT_FALSE(std::isnan(P.element(c))) << c;
  }
  // With the intercept alone, only the constant and the zero column are
  // explained.
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(6, {}), B, P), 0);
  EXPECT_TRUE(std::isnan(P.element(1)));
  EXPECT_TRUE(std::isnan(P.element(2)));
  EXPECT_FALSE(std::isnan(P.element(3)));
}

// A candidate orthogonal to the centred labels has coefficient 0, t = 0 and
// p-value 1.
TEST(StepCalc, ZeroCoefficientGivesPValueOne) {
  const int n = 8;
  NEWMAT::Matrix X(n, 2);
  NEWMAT::ColumnVector y(n);
  for (int i = 0; i < n; ++i) {
    y.element(i) = i < n / 2 ? 1.0 : -1.0;        // + + + + - - - -
    X.element(i, 0) = (i % 2 == 0) ? 1.0 : -1.0;  // + - + - + - + -
    X.element(i, 1) = i;
  }
  NEWMAT::ColumnVector B(2), P(2);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(2, {}), B, P), 0);
  EXPECT_NEAR(B.element(0), 0.0, 1e-15);
  EXPECT_NEAR(P.element(0), 1.0, 1e-12);
  EXPECT_EQ(dozod.Bias(), 0.0);
}

// When the model already reproduces the labels (one class only, or a feature
// that equals the label), what is left is rounding noise: no candidate is
// offered, while the model's own features keep their fit.
TEST(StepCalc, LabelsExplainedByTheModelOfferNoCandidate) {
  std::mt19937 rng(13);
  const int n = 24;
  NEWMAT::Matrix X = korva_test::CorrelatedFeatures(n, 3, rng);
  NEWMAT::ColumnVector y = korva_test::LabelsFrom(X, rng);
  for (int i = 0; i < n; ++i) X.element(i, 1) = 0.5 * y.element(i) + 0.1;
  NEWMAT::ColumnVector B(3), P(3);
  StepCalcProbe dozod;
  ASSERT_EQ(dozod.StepCalc(X, y, *Flags(3, {1}), B, P), 0);
  EXPECT_TRUE(std::isnan(P.element(0)));
  EXPECT_TRUE(std::isnan(P.element(2)));
  EXPECT_NEAR(B.element(1), 2.0, 1e-12);
  EXPECT_LT(P.element(1), 1e-12);

  NEWMAT::ColumnVector ones(n);
  ones = 1.0;
  ASSERT_EQ(dozod.StepCalc(X, ones, *Flags(3, {}), B, P), 0);
  EXPECT_NEAR(dozod.Bias(), 1.0, 1e-15);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isnan(P.element(c))) << c;
}

}  // namespace
