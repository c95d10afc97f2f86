// The incremental engine against the exact regression step (DOZOD::StepCalc),
// side by side at every iteration of a stepwise training, on data chosen to
// strain it.
#include "stepwise/stepwise_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "data/p300_generator.h"
#include "korva/betai.h"
#include "testing/dozod_probe.h"
#include "testing/ols_reference.h"

namespace Korva::Testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Set {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
};

// Trains like the driver does, asking the engine and the exact step at every
// iteration; the exact values decide whenever the engine refuses. Where the
// engine serves, its B, P and W0 must lie within `tolerance` (relative) of
// the exact step's and lead to the same choice; where it refuses, it writes
// nothing. Returns the number of refusals; `largest` and `removals` describe
// the path.
int SideBySide(
    const Set& d, double pEnter, double pRemove, int& largest, int& removals) {
  const int p = d.X.Ncols();
  auto sd = [](const NEWMAT::ColumnVector& v) {
    return std::sqrt((v.SumSquare() - v.Sum() * v.Sum() / v.Nrows()) /
                     v.Nrows());
  };
  DozodProbe chooser;
  EXPECT_EQ(chooser.SetPRange(pEnter, pRemove), 0);
  StepwiseEngine engine;
  engine.Start(d.X, d.y, p);
  FeatureFlags in;
  in.Reset(p);
  int previous = -1, refits = 0;
  for (int step = 0; step <= 300; ++step) {
    SCOPED_TRACE("iteration " + std::to_string(step));
    DozodProbe exact;
    NEWMAT::ColumnVector Be(p), Pe(p), B(p), P(p);
    const int exactStatus = exact.StepCalc(d.X, d.y, in, Be, Pe);
    B = 7.0;
    P = 7.0;
    double b0 = 7.0;
    const int status = engine.Step(in, pEnter, pRemove, B, P, b0);
    if (status != kStatusOk) {
      EXPECT_TRUE(B.Maximum() == 7.0 && P.Minimum() == 7.0 && b0 == 7.0);
      if (status != kStepNeedsRefit) {
        EXPECT_EQ(status, exactStatus);
      }
    }
    if (exactStatus != kStatusOk) break;
    int next = -1, engineNext = -1;
    chooser.FindNextStep(in, Pe, next);
    if (status == kStatusOk) {
      // W0 = ȳ - Σ b_m x̄_m: its error scales with the terms of that sum.
      double b0Scale = std::fabs(exact.Bias());
      for (int j = 0; j < p; ++j) {
        const double be = Be.element(j), pe = Pe.element(j);
        EXPECT_EQ(std::isnan(B.element(j)), std::isnan(be)) << j;
        EXPECT_EQ(std::isnan(P.element(j)), std::isnan(pe)) << j;
        if (std::isnan(be) || std::isnan(pe)) continue;
        const double scale =
            sd(d.X.Column(j + 1)) > 0 ? sd(d.y) / sd(d.X.Column(j + 1)) : 1.0;
        EXPECT_LE(std::fabs(B.element(j) - be),
                  1e-9 * std::max(std::fabs(be), 1e-3 * scale))
            << "B[" << j << "] " << B.element(j) << " vs " << be;
        EXPECT_LE(std::fabs(P.element(j) - pe), 1e-9 * std::max(pe, 1e-300))
            << "P[" << j << "] " << P.element(j) << " vs " << pe;
        if (in[j])
          b0Scale += std::fabs(be * d.X.Column(j + 1).Sum() / d.X.Nrows());
      }
      EXPECT_LE(std::fabs(b0 - exact.Bias()), 1e-9 * b0Scale)
          << b0 << " vs " << exact.Bias();
      chooser.FindNextStep(in, P, engineNext);
      EXPECT_EQ(engineNext, next);
    } else {
      ++refits;
    }
    if (next == previous || next < 0) break;
    removals += in[next];
    in[next] = !in[next];
    previous = next;
    largest = std::max(largest, static_cast<int>(in.CountSelected()));
  }
  EXPECT_EQ(engine.Refits().Total(), refits);
  return refits;
}

// Correlated features and labels from a noisy linear rule (testing/); then
// `change` edits row i of X with a random source.
Set Correlated(
    int n,
    int p,
    std::uint32_t seed,
    std::function<void(NEWMAT::Matrix&, int, std::mt19937&)> change = nullptr) {
  std::mt19937 random(seed);
  Set d{CorrelatedFeatures(n, p, random), {}};
  d.y = LabelsFrom(d.X, random);
  for (int i = 0; change && i < n; ++i) change(d.X, i, random);
  return d;
}

Set P300Like() {
  Data::GeneratorOptions options;
  options.epochs = 420;
  options.samples = 16;
  options.seed = 3;
  const Data::Dataset set = Data::GenerateP300(options);
  Set d{NEWMAT::Matrix(set.rows, set.cols), NEWMAT::ColumnVector(set.rows)};
  for (int i = 0; i < set.rows; ++i) {
    d.y.element(i) = set.labels[i];
    for (int j = 0; j < set.cols; ++j) d.X.element(i, j) = set.At(i, j);
  }
  return d;
}

// Blocks of three features on two hidden sources z1, z2 that both carry the
// class: x0 = z1 + z2 + noise enters first, x1 ≈ z1 and x2 ≈ z2 follow, and
// then x0 adds nothing and leaves. With `strength`, every feature carries the
// class so strongly instead (t from about 15 to 90) that several p-values
// underflow to zero or below the normal range and tie.
Set Generated(int n, int blocks, std::uint64_t seed, bool strength) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  Set d{NEWMAT::Matrix(n, strength ? 30 : 3 * blocks + 10),
        NEWMAT::ColumnVector(n)};
  for (int i = 0; i < n; ++i) {
    double score = 0.5 * normal(random);
    for (int j = 0; j < d.X.Ncols(); ++j) d.X.element(i, j) = normal(random);
    for (int b = 0; !strength && b < blocks; ++b) {
      const double z1 = d.X.element(i, 3 * b + 1),
                   z2 = d.X.element(i, 3 * b + 2);
      d.X.element(i, 3 * b) = z1 + z2 + 0.6 * normal(random);
      d.X.element(i, 3 * b + 1) += 0.01 * normal(random);
      d.X.element(i, 3 * b + 2) += 0.01 * normal(random);
      score += z1 + z2;
    }
    d.y.element(i) = strength      ? (i % 4 == 0 ? 1.0 : -1.0)
                     : score > 0.0 ? 1.0
                                   : -1.0;
    for (int j = 0; strength && j < 30; ++j)
      d.X.element(i, j) += 0.05 * (j + 6) * d.y.element(i);
  }
  return d;
}

struct Case {
  const char* name;
  std::function<Set()> make;
  double pEnter, pRemove;
  int largestModel;  // the model reaches at least this size
  int removals;      // at least this many removals happen
  bool allServed;    // the engine never refuses on this data
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SideBySideTest : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySideTest, SameStepsAndSameValuesAsAnExactRefit) {
  const Case& c = GetParam();
  int largest = 0, removals = 0;
  const int refits =
      SideBySide(c.make(), c.pEnter, c.pRemove, largest, removals);
  EXPECT_GE(largest, c.largestModel);
  EXPECT_GE(removals, c.removals);
  if (c.allServed) {
    EXPECT_EQ(refits, 0);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Engine, SideBySideTest, ::testing::Values(
    Case{"Correlated", [] { return Correlated(400, 60, 11); }, 0.05, 0.10, 5, 0, true},
    Case{"P300LikeManyEntries", P300Like, 0.80, 0.90, 101, 0, false},
    Case{"Removals", [] { return Generated(400, 6, 8, false); }, 0.05, 0.10, 10, 3, true},
    Case{"UnderflowingPValues", [] { return Generated(2500, 0, 12, true); }, 0.05, 0.10, 5, 0, false},
    // Columns the model explains exactly (a duplicate, a sum of two others) or
    // nearly (within 1e-5 and 1e-2 of another).
    Case{"ExactlyCollinear", [] { return Correlated(240, 30, 21, [](NEWMAT::Matrix& X, int i, std::mt19937&) {
      X.element(i, 25) = X.element(i, 0); X.element(i, 26) = X.element(i, 5) + X.element(i, 10); }); }, 0.40, 0.50, 10, 0, false},
    Case{"NearlyCollinear", [] { return Correlated(240, 30, 21, [](NEWMAT::Matrix& X, int i, std::mt19937& r) {
      std::normal_distribution<double> e; X.element(i, 27) = X.element(i, 15) + 1e-5 * e(r);
      X.element(i, 28) = X.element(i, 20) + 1e-2 * e(r); }); }, 0.40, 0.50, 10, 0, false},
    // Zero and constant columns, and columns far from zero or of very
    // different sizes.
    Case{"ZeroConstantAndScaledColumns", [] { return Correlated(200, 24, 4, [](NEWMAT::Matrix& X, int i, std::mt19937&) {
      X.element(i, 2) = 0.0; X.element(i, 7) = 0.1; X.element(i, 11) = -3.7; X.element(i, 13) += 1e4;
      X.element(i, 16) *= 1e-4; X.element(i, 19) *= 1e4; }); }, 0.30, 0.40, 8, 0, true},
    Case{"BarelyMoreExamplesThanModel", [] { return Correlated(24, 40, 9); }, 0.90, 0.95, 21, 0, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on

// Step on p flags (features `model` set) returns `status` and writes nothing.
void ExpectRefusal(StepwiseEngine& engine,
                   int p,
                   int status,
                   const std::vector<int>& model = {},
                   double pEnter = 0.05) {
  NEWMAT::ColumnVector B(p), P(p);
  B = 7.0;
  P = 7.0;
  double b0 = 7.0;
  EXPECT_EQ(engine.Step(*Flags(p, model), pEnter, 0.1, B, P, b0), status);
  EXPECT_TRUE(B.Minimum() == 7 && B.Maximum() == 7 && P.Minimum() == 7 &&
              P.Maximum() == 7 && b0 == 7);
}

// Non-finite values, sums of squares near the ends of the double range,
// labels that do not match the rows, more features asked for than X has,
// flags of another length, labels of one class and a p-value exactly at
// p-enter (which rounding could put on either side) are left to the exact
// step; fewer than two error degrees of freedom are refused like it does.
TEST(Engine, LeavesWhatItCannotVouchForToTheExactStep) {
  StepwiseEngine engine;
  for (double bad : {kNaN, kInf, 1e300, 1e120, 1e-120, 1e-160}) {
    Set d = Correlated(50, 6, 1);
    for (int i = 0; i < 50; ++i) d.X.element(i, 4) *= bad;
    engine.Start(d.X, d.y, 6);
    ExpectRefusal(engine, 6, kStepNeedsRefit);
    EXPECT_EQ(engine.Refits().unusableData, 1) << bad;
  }
  Set d = Correlated(50, 6, 1);
  engine.Start(d.X, d.y, 6);
  ExpectRefusal(engine, 5, kStepNeedsRefit);
  engine.Start(d.X, d.y, 7);
  ExpectRefusal(engine, 7, kStepNeedsRefit);
  engine.Start(d.X, d.y.Rows(1, 49), 6);
  ExpectRefusal(engine, 6, kStepNeedsRefit);

  d = Correlated(200, 10, 6);
  NEWMAT::ColumnVector B(10), P(10);
  DozodProbe exact;
  ASSERT_EQ(exact.StepCalc(d.X, d.y, *Flags(10, {}), B, P), 0);
  const int best =
      static_cast<int>(std::min_element(P.Store(), P.Store() + 10) - P.Store());
  engine.Start(d.X, d.y, 10);
  ExpectRefusal(engine, 10, kStepNeedsRefit, {}, P.element(best));
  EXPECT_EQ(engine.Refits().ambiguousStep, 1);
  d.y = 1.0;
  engine.Start(d.X, d.y, 10);
  ExpectRefusal(engine, 10, kStepNeedsRefit);
  EXPECT_EQ(engine.Refits().lostDigits, 1);

  d = Correlated(3, 8, 1);  // dfe = 3 - (k + 1)
  engine.Start(d.X, d.y, 8);
  double b0 = 0.0;
  B.ReSize(8);
  P.ReSize(8);
  EXPECT_EQ(engine.Step(*Flags(8, {}), 0.05, 0.1, B, P, b0), kStatusOk);
  EXPECT_DOUBLE_EQ(b0, d.y.Sum() / 3);
  ExpectRefusal(engine, 8, kStatusRejected, {5});
}

// The double-precision incomplete beta function against the host's, over the
// range of the p-values of a training: dfe from 1 to 20000, |t| up to 40,
// down to 1e-250 (below, the engine calls the host's betai), and at the
// edges of its domain.
TEST(BetaiDouble, AgreesWithTheHostsBetai) {
  for (double dfe : {1.0, 2.0, 3.0, 7.0, 30.0, 250.0, 2000.0, 20000.0}) {
    for (double t = 0.0; t <= 40.0; t += 0.37) {
      const double x = dfe / (dfe + t * t), expected = betai(0.5 * dfe, 0.5, x);
      if (expected < 1e-250) continue;
      EXPECT_NEAR(BetaiDouble(0.5 * dfe, 0.5, x), expected, 1e-12 * expected)
          << dfe << " " << t;
    }
  }
  // clang-format off
  const double edges[][3] = {{2, 0.5, 0}, {2, 0.5, 1}, {2, 0.5, -0.1}, {2, 0.5, 1.1}, {0, 0.5, 0.5},
                             {2, 0, 0.5}, {kNaN, 0.5, 0.5}, {2, 0.5, kNaN}, {kInf, 0.5, 0.5}};
  // clang-format on
  for (const auto& [a, b, x] : edges) {
    const double expected = betai(a, b, x), actual = BetaiDouble(a, b, x);
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual) : actual == expected)
        << a << " " << b << " " << x;
  }
}

}  // namespace
}  // namespace Korva::Testing
