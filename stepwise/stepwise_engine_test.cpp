// The incremental engine against the exact regression step (DOZOD::StepCalc),
// side by side at every iteration of a stepwise training, on data chosen to
// strain it.
#include "stepwise/stepwise_engine.h"

#include <gtest/gtest.h>
#include <newmat/newmat.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "data/p300_generator.h"
#include "korva/betai.h"
#include "korva/classifier_base.h"
#include "plugin/dozod.h"
#include "stepwise/ols_reference_test_util.h"

namespace {

using Korva::kStatusOk;
using Korva::kStepNeedsRefit;
using Korva::StepwiseEngine;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Data {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
};

// What the exact regression step gives for one set of flags.
struct Fit {
  int status = 0;
  NEWMAT::ColumnVector B;
  NEWMAT::ColumnVector P;
  double b0 = 0.0;
};

Fit ExactFit(const Data& data, const FeatureFlags& in) {
  const int p = static_cast<int>(in.Count());
  korva_test::DozodProbe dozod;
  Fit fit;
  fit.B.ReSize(p);
  fit.P.ReSize(p);
  fit.status = dozod.StepCalc(data.X, data.y, in, fit.B, fit.P);
  fit.b0 = dozod.Bias();
  return fit;
}

// The driver's choice of the next step from the p-values P.
int NextStep(const FeatureFlags& in,
             const NEWMAT::ColumnVector& P,
             double pEnter,
             double pRemove) {
  DOZOD dozod;
  EXPECT_EQ(dozod.SetPRange(pEnter, pRemove), kStatusOk);
  int next = -1;
  dozod.FindNextStep(in, P, next);
  return next;
}

// Per feature, the natural size of a coefficient: sd(y) / sd(x_c).
std::vector<double> CoefficientScales(const Data& data) {
  auto sd = [](const NEWMAT::ColumnVector& v) {
    return std::sqrt((v.SumSquare() - v.Sum() * v.Sum() / v.Nrows()) /
                     v.Nrows());
  };
  std::vector<double> scale(data.X.Ncols());
  for (int j = 0; j < data.X.Ncols(); ++j) {
    const double sx = sd(data.X.Column(j + 1));
    scale[j] = sx > 0.0 ? sd(data.y) / sx : 1.0;
  }
  return scale;
}

struct RunSummary {
  int served = 0;
  int refits = 0;
  int removals = 0;
  int largestModel = 0;
  int rebuilds = 0;
};

// Trains like the driver does, asking the engine and the exact step at every
// iteration; the exact values decide whenever the engine refuses. Where the
// engine serves, its B, P and W0 must lie within `tolerance` (relative) of
// the exact step's and lead to the same choice.
RunSummary SideBySide(const Data& data,
                      double pEnter,
                      double pRemove,
                      double tolerance) {
  RunSummary run;
  const int p = data.X.Ncols();
  const std::vector<double> scale = CoefficientScales(data);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, p);
  FeatureFlags in;
  in.Reset(p);
  int previous = -1;
  for (int step = 0;; ++step) {
    SCOPED_TRACE("iteration " + std::to_string(step));
    const Fit exact = ExactFit(data, in);
    NEWMAT::ColumnVector B(p), P(p);
    B = 7.0;
    P = 7.0;
    double b0 = 7.0;
    const int status = engine.Step(in, pEnter, pRemove, B, P, b0);
    const bool served = status == kStatusOk;
    if (!served) {
      EXPECT_EQ(B.Maximum(), 7.0);
      EXPECT_EQ(P.Minimum(), 7.0);
      EXPECT_EQ(b0, 7.0);
    }
    if (status != kStepNeedsRefit) {
      EXPECT_EQ(status, exact.status);
    }
    if (exact.status != kStatusOk) break;
    if (served) {
      ++run.served;
      // W0 = ȳ - Σ b_m x̄_m: its error scales with the terms of that sum.
      double b0Scale = std::fabs(exact.b0);
      for (int j = 0; j < p; ++j) {
        const double be = exact.B.element(j);
        const double pe = exact.P.element(j);
        EXPECT_EQ(std::isnan(B.element(j)), std::isnan(be)) << "feature " << j;
        EXPECT_EQ(std::isnan(P.element(j)), std::isnan(pe)) << "feature " << j;
        if (std::isnan(be) || std::isnan(pe)) continue;
        EXPECT_LE(std::fabs(B.element(j) - be),
                  tolerance * std::max(std::fabs(be), 1e-3 * scale[j]))
            << "B[" << j << "] " << B.element(j) << " vs " << be;
        EXPECT_LE(std::fabs(P.element(j) - pe),
                  tolerance * std::max(pe, 1e-300))
            << "P[" << j << "] " << P.element(j) << " vs " << pe;
        if (in[j])
          b0Scale +=
              std::fabs(be * data.X.Column(j + 1).Sum() / data.X.Nrows());
      }
      EXPECT_LE(std::fabs(b0 - exact.b0), tolerance * b0Scale)
          << "W0 " << b0 << " vs " << exact.b0;
    } else {
      ++run.refits;
    }
    const int next = NextStep(in, exact.P, pEnter, pRemove);
    if (served) {
      EXPECT_EQ(NextStep(in, P, pEnter, pRemove), next);
    }
    if (next == previous || next < 0 || step >= 300) break;
    if (in[next]) ++run.removals;
    in[next] = !in[next];
    previous = next;
    run.largestModel =
        std::max(run.largestModel, static_cast<int>(in.CountSelected()));
  }
  EXPECT_EQ(engine.Refits().Total(), run.refits);
  run.rebuilds = engine.Rebuilds();
  return run;
}

NEWMAT::Matrix RandomNormal(int n, int p, std::mt19937_64& random) {
  std::normal_distribution<double> normal;
  NEWMAT::Matrix X(n, p);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < p; ++j) X.element(i, j) = normal(random);
  return X;
}

// Features driven by a few shared factors (pairwise correlations up to about
// 0.8) and labels from a noisy linear rule on some of them.
Data Correlated(int n, int p, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const NEWMAT::Matrix F = RandomNormal(n, 4, random);
  const NEWMAT::Matrix L = RandomNormal(4, p, random);
  Data data{F * L + 0.7 * RandomNormal(n, p, random), NEWMAT::ColumnVector(n)};
  std::normal_distribution<double> normal;
  for (int i = 0; i < n; ++i) {
    double score = 1.5 * normal(random);
    for (int j = 0; j < p; j += 5) score += data.X.element(i, j) / (1 + j % 3);
    data.y.element(i) = score > 0.0 ? 1.0 : -1.0;
  }
  return data;
}

Data P300Like(int epochs, int channels, int samples, std::uint64_t seed) {
  Korva::Data::GeneratorOptions options;
  options.epochs = epochs;
  options.channels = channels;
  options.samples = samples;
  options.seed = seed;
  const Korva::Data::Dataset set = Korva::Data::GenerateP300(options);
  Data data{NEWMAT::Matrix(set.rows, set.cols), NEWMAT::ColumnVector(set.rows)};
  for (int i = 0; i < set.rows; ++i) {
    data.y.element(i) = set.labels[i];
    for (int j = 0; j < set.cols; ++j) data.X.element(i, j) = set.At(i, j);
  }
  return data;
}

// Correlated data with columns that the model can explain exactly (a
// duplicate, the sum of two others), or else nearly (within 1e-5 and 1e-2 of
// another).
Data Collinear(std::uint64_t seed, bool exactly) {
  Data data = Correlated(240, 30, seed);
  std::mt19937_64 random(seed + 1);
  std::normal_distribution<double> normal;
  NEWMAT::Matrix& X = data.X;
  for (int i = 0; i < 240; ++i) {
    if (exactly) {
      X.element(i, 25) = X.element(i, 0);
      X.element(i, 26) = X.element(i, 5) + X.element(i, 10);
    } else {
      X.element(i, 27) = X.element(i, 15) + 1e-5 * normal(random);
      X.element(i, 28) = X.element(i, 20) + 1e-2 * normal(random);
    }
  }
  return data;
}

// Blocks of three features on two hidden sources z1, z2 that both carry the
// class: x0 = z1 + z2 + noise is the best single predictor and enters first,
// x1 ≈ z1 and x2 ≈ z2 follow, and then x0 adds nothing and leaves.
Data Redundant(int blocks, std::uint64_t seed) {
  const int n = 400;
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  Data data{NEWMAT::Matrix(n, 3 * blocks + 10), NEWMAT::ColumnVector(n)};
  for (int i = 0; i < n; ++i) {
    double score = 0.5 * normal(random);
    for (int b = 0; b < blocks; ++b) {
      const double z1 = normal(random);
      const double z2 = normal(random);
      data.X.element(i, 3 * b) = z1 + z2 + 0.6 * normal(random);
      data.X.element(i, 3 * b + 1) = z1 + 0.01 * normal(random);
      data.X.element(i, 3 * b + 2) = z2 + 0.01 * normal(random);
      score += z1 + z2;
    }
    for (int j = 3 * blocks; j < 3 * blocks + 10; ++j)
      data.X.element(i, j) = normal(random);
    data.y.element(i) = score > 0.0 ? 1.0 : -1.0;
  }
  return data;
}

// Features that carry the class so strongly (t from about 15 to 90) that
// several p-values underflow to zero or below the normal range and tie.
Data Overwhelming(std::uint64_t seed) {
  const int n = 2500;
  const int p = 30;
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  Data data{NEWMAT::Matrix(n, p), NEWMAT::ColumnVector(n)};
  for (int i = 0; i < n; ++i) {
    const double label = i % 4 == 0 ? 1.0 : -1.0;
    data.y.element(i) = label;
    for (int j = 0; j < p; ++j)
      data.X.element(i, j) = 0.05 * (j + 6) * label + normal(random);
  }
  return data;
}

// Zero and constant columns, and columns far from zero or of very different
// sizes.
Data DegenerateColumns(std::uint64_t seed) {
  Data data = Correlated(200, 24, seed);
  NEWMAT::Matrix& X = data.X;
  for (int i = 0; i < 200; ++i) {
    X.element(i, 2) = 0.0;
    X.element(i, 7) = 0.1;
    X.element(i, 11) = -3.7;
    X.element(i, 13) = 1e4 + X.element(i, 13);
    X.element(i, 16) *= 1e-4;
    X.element(i, 19) *= 1e4;
  }
  return data;
}

struct Case {
  const char* name;
  std::function<Data()> make;
  double pEnter;
  double pRemove;
  int largestModel;  // the model reaches at least this size
  int removals;      // at least this many removals happen
  bool allServed;    // the engine never refuses on this data
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SideBySideTest : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySideTest, SameStepsAndSameValuesAsAnExactRefit) {
  const Case& c = GetParam();
  const RunSummary run = SideBySide(c.make(), c.pEnter, c.pRemove, 1e-9);
  EXPECT_GE(run.largestModel, c.largestModel);
  EXPECT_GE(run.removals, c.removals);
  EXPECT_GT(run.served, 0);
  if (c.allServed) {
    EXPECT_EQ(run.refits, 0);
    EXPECT_EQ(run.rebuilds, 0);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Engine, SideBySideTest, ::testing::Values(
    Case{"Correlated", [] { return Correlated(400, 60, 11); }, 0.05, 0.10, 5, 0, true},
    Case{"P300LikeManyEntries", [] { return P300Like(420, 8, 16, 3); }, 0.80, 0.90, 101, 0, false},
    Case{"Removals", [] { return Redundant(6, 8); }, 0.05, 0.10, 10, 3, true},
    Case{"UnderflowingPValues", [] { return Overwhelming(12); }, 0.05, 0.10, 5, 0, false},
    Case{"ExactlyCollinear", [] { return Collinear(21, true); }, 0.40, 0.50, 10, 0, false},
    Case{"NearlyCollinear", [] { return Collinear(21, false); }, 0.40, 0.50, 10, 0, false},
    Case{"ZeroConstantAndScaledColumns", [] { return DegenerateColumns(4); }, 0.30, 0.40, 8, 0, true},
    Case{"BarelyMoreExamplesThanModel", [] { return Correlated(24, 40, 9); }, 0.90, 0.95, 21, 0, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on

// Step on `in` returns `status` and writes nothing.
void ExpectRefusal(StepwiseEngine& engine, const FeatureFlags& in, int status) {
  const int p = static_cast<int>(in.Count());
  NEWMAT::ColumnVector B(p), P(p);
  B = 7.0;
  P = 7.0;
  double b0 = 7.0;
  EXPECT_EQ(engine.Step(in, 0.05, 0.1, B, P, b0), status);
  EXPECT_EQ(B.Minimum(), 7.0);
  EXPECT_EQ(B.Maximum(), 7.0);
  EXPECT_EQ(P.Minimum(), 7.0);
  EXPECT_EQ(P.Maximum(), 7.0);
  EXPECT_EQ(b0, 7.0);
}

void ExpectRefusal(StepwiseEngine& engine, int p, int status) {
  ExpectRefusal(engine, *korva_test::Flags(p, {}), status);
}

// Non-finite values, sums of squares near the ends of the double range,
// labels that do not match the rows, more features asked for than X has, and
// flags of another length are left to the exact step.
TEST(Engine, LeavesDataItCannotUseToTheExactStep) {
  for (double bad : {kNaN, kInf, 1e300, 1e120, 1e-120, 1e-160}) {
    Data data = Correlated(50, 6, 1);
    for (int i = 0; i < 50; ++i) data.X.element(i, 4) *= bad;
    StepwiseEngine engine;
    engine.Start(data.X, data.y, 6);
    ExpectRefusal(engine, 6, kStepNeedsRefit);
    EXPECT_EQ(engine.Refits().unusableData, 1) << bad;
  }
  Data data = Correlated(50, 6, 1);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 6);
  ExpectRefusal(engine, 5, kStepNeedsRefit);
  engine.Start(data.X, data.y, 7);
  ExpectRefusal(engine, 7, kStepNeedsRefit);
  engine.Start(data.X, data.y.Rows(1, 49), 6);
  ExpectRefusal(engine, 6, kStepNeedsRefit);
  data.y.element(3) = kNaN;
  engine.Start(data.X, data.y, 6);
  ExpectRefusal(engine, 6, kStepNeedsRefit);
}

TEST(Engine, RejectsFewerThanTwoErrorDegreesOfFreedom) {
  const Data data = Correlated(3, 8, 1);  // dfe = 3 - (k + 1)
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 8);
  const auto in = korva_test::Flags(8, {});
  NEWMAT::ColumnVector B(8), P(8);
  double b0 = 0.0;
  EXPECT_EQ(engine.Step(*in, 0.05, 0.1, B, P, b0), kStatusOk);
  EXPECT_DOUBLE_EQ(b0, data.y.Sum() / 3);
  ExpectRefusal(engine, *korva_test::Flags(8, {5}), Korva::kStatusRejected);
}

// Labels of one class leave no residual to test against, and a p-value that
// sits exactly at p-enter could be rounded to either side: the exact step
// decides both.
TEST(Engine, LeavesExplainedLabelsAndCloseCallsToTheExactStep) {
  Data data = Correlated(200, 10, 6);
  const auto in = korva_test::Flags(10, {});
  const Fit plain = ExactFit(data, *in);
  const int best = NextStep(*in, plain.P, 0.05, 0.1);
  ASSERT_GE(best, 0);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 10);
  NEWMAT::ColumnVector B(10), P(10);
  double b0 = 0.0;
  EXPECT_EQ(engine.Step(*in, 0.05, 0.1, B, P, b0), kStatusOk);
  EXPECT_EQ(engine.Step(*in, plain.P.element(best), 0.1, B, P, b0),
            kStepNeedsRefit);
  EXPECT_EQ(engine.Refits().ambiguousStep, 1);

  data.y = 1.0;
  engine.Start(data.X, data.y, 10);
  ExpectRefusal(engine, 10, kStepNeedsRefit);
  EXPECT_EQ(engine.Refits().lostDigits, 1);
}

// The double-precision incomplete beta function against the host's, over the
// range of the p-values of a training: dfe from 1 to 20000, |t| up to 40,
// down to 1e-250 (below, the engine calls the host's betai), and at the
// edges of its domain.
TEST(BetaiDouble, AgreesWithTheHostsBetai) {
  for (double dfe : {1.0, 2.0, 3.0, 7.0, 30.0, 250.0, 2000.0, 20000.0}) {
    for (double t = 0.0; t <= 40.0; t += 0.37) {
      const double x = dfe / (dfe + t * t);
      const double expected = betai(0.5 * dfe, 0.5, x);
      if (expected < 1e-250) continue;
      EXPECT_NEAR(
          Korva::BetaiDouble(0.5 * dfe, 0.5, x), expected, 1e-12 * expected)
          << "dfe " << dfe << " t " << t;
    }
  }
  // clang-format off
  const double edges[][3] = {
      {2.0, 0.5, 0.0}, {2.0, 0.5, 1.0}, {2.0, 0.5, -0.1}, {2.0, 0.5, 1.1},
      {0.0, 0.5, 0.5}, {2.0, 0.0, 0.5}, {kNaN, 0.5, 0.5}, {2.0, 0.5, kNaN},
      {kInf, 0.5, 0.5}, {2.0, kInf, 0.5}};
  // clang-format on
  for (const auto& e : edges) {
    const double expected = betai(e[0], e[1], e[2]);
    const double actual = Korva::BetaiDouble(e[0], e[1], e[2]);
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual) : actual == expected)
        << e[0] << " " << e[1] << " " << e[2] << ": " << actual;
  }
}

}  // namespace
