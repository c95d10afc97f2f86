// The incremental engine against the exact regression step (DOZOD::StepCalc),
// side by side at every iteration of a stepwise training, on data chosen to
// strain it.
#include "stepwise/stepwise_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "korva/betai.h"
#include "stepwise/step_choice.h"
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

// B, P and the intercept still hold the 7.0 they were filled with: a step
// that refuses writes nothing.
void ExpectUnwritten(const NEWMAT::ColumnVector& B,
                     const NEWMAT::ColumnVector& P,
                     double b0) {
  for (int i = 0; i < B.Nrows(); ++i) EXPECT_EQ(B.element(i), 7.0) << "B " << i;
  for (int i = 0; i < P.Nrows(); ++i) EXPECT_EQ(P.element(i), 7.0) << "P " << i;
  EXPECT_EQ(b0, 7.0) << "intercept";
}

// The largest model, the features that left it, and the iterations that the
// engine left to the exact step.
struct Path {
  int largest = 0, removals = 0, refits = 0;
};

// Trains like the driver does, asking the engine and the exact step at every
// iteration; the exact values decide whenever the engine refuses. Where the
// engine serves, its B, P and W0 lie within 1e-9 (relative) of the exact
// step's and lead to the same choice; where it refuses, it writes nothing.
Path SideBySide(const Set& d, double pEnter, double pRemove) {
  const int p = d.X.Ncols();
  auto sd = [](const NEWMAT::ColumnVector& v) {
    return std::sqrt(v.SumSquare() / v.Nrows() -
                     std::pow(v.Sum() / v.Nrows(), 2));
  };
  StepwiseEngine engine;
  engine.Start(d.X, d.y, p);
  FeatureFlags in;
  in.Reset(p);
  const auto choose = [&](const NEWMAT::ColumnVector& P) {
    return ChooseStep(
        p,
        [&in](int i) { return in[i]; },
        [&P](int i) { return P.element(i); },
        pEnter,
        pRemove);
  };
  Path path;
  for (int step = 0, previous = -1; step <= 300; ++step) {
    SCOPED_TRACE("iteration " + std::to_string(step));
    DozodProbe exact;
    NEWMAT::ColumnVector Be(p), Pe(p), B(p), P(p);
    const int exactStatus = exact.StepCalc(d.X, d.y, in, Be, Pe);
    B = 7.0;
    P = 7.0;
    double b0 = 7.0;
    const int status = engine.Step(in, pEnter, pRemove, B, P, b0);
    EXPECT_EQ(status == kStatusRejected, exactStatus == kStatusRejected);
    if (status != kStatusOk) {
      path.refits += status == kStepNeedsRefit;
      ExpectUnwritten(B, P, b0);
    }
    if (exactStatus != kStatusOk) break;
    const int next = choose(Pe);
    if (status == kStatusOk) {
      // W0 = ȳ - Σ b_m x̄_m: its error scales with the terms of that sum.
      double b0Scale = std::fabs(exact.Bias());
      for (int j = 0; j < p; ++j) {
        const double be = Be.element(j), pe = Pe.element(j);
        EXPECT_EQ(std::isnan(B.element(j)), std::isnan(be)) << j;
        EXPECT_EQ(std::isnan(P.element(j)), std::isnan(pe)) << j;
        if (std::isnan(be) || std::isnan(pe)) continue;
        const NEWMAT::ColumnVector x = d.X.Column(j + 1);
        const double scale = std::max(std::fabs(be), 1e-3 * sd(d.y) / sd(x));
        EXPECT_NEAR(B.element(j), be, 1e-9 * scale) << j;
        EXPECT_NEAR(P.element(j), pe, 1e-9 * std::max(pe, 1e-300)) << j;
        if (in[j]) b0Scale += std::fabs(be * x.Sum() / x.Nrows());
      }
      EXPECT_NEAR(b0, exact.Bias(), 1e-9 * b0Scale);
      EXPECT_EQ(choose(P), next);
    }
    if (next == previous || next < 0) break;
    path.removals += in[next];
    in[next] = !in[next];
    previous = next;
    path.largest = std::max(path.largest, static_cast<int>(in.CountSelected()));
  }
  EXPECT_EQ(engine.Refits().Total(), path.refits);
  return path;
}

// Correlated features and labels from a noisy linear rule (testing/); then
// `change` edits row i of X with a random source.
Set Correlated(
    int n,
    int p,
    std::uint32_t seed,
    std::function<void(NEWMAT::Matrix&, int, std::mt19937&)> change = nullptr) {
  std::mt19937 random(seed);
  Set d;
  CorrelatedSet(n, p, random, d.X, d.y);
  for (int i = 0; change && i < n; ++i) change(d.X, i, random);
  return d;
}

// Every feature carries the class so strongly (t from about 15 to 90) that
// several p-values underflow to zero or below the normal range and tie.
Set Strong(int n, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  Set d{NEWMAT::Matrix(n, 30), NEWMAT::ColumnVector(n)};
  for (int i = 0; i < n; ++i) {
    d.y.element(i) = i % 4 == 0 ? 1.0 : -1.0;
    for (int j = 0; j < 30; ++j)
      d.X.element(i, j) = normal(random) + 0.05 * (j + 6) * d.y.element(i);
  }
  return d;
}

// Each case takes a path of its own: p-values that underflow and tie, all
// served; columns that the model explains exactly (a duplicate, a sum of two
// others) or nearly (within 1e-5 and 1e-2 of another), whose decisions near
// the bounds go to the exact step; zero and constant columns, columns far
// from zero or of very different sizes, with entries and a removal, all
// served; a model that grows until one error degree of freedom is left, and
// the next step is refused like the exact step refuses it.
TEST(Engine, SameStepsAndSameValuesAsAnExactRefit) {
  const struct {
    const char* name;
    std::function<Set()> make;
    double pEnter, pRemove;
    int largest, removals;
    bool refits;
  } cases[] = {
      // clang-format off
      {"UnderflowingPValues", [] { return Strong(2500, 12); }, 0.05, 0.10, 30, 0, false},
      {"Collinear", [] { return Correlated(240, 30, 21, [](NEWMAT::Matrix& X, int i, std::mt19937& r) {
        std::normal_distribution<double> e;
        X.element(i, 25) = X.element(i, 0); X.element(i, 26) = X.element(i, 5) + X.element(i, 10);
        X.element(i, 27) = X.element(i, 15) + 1e-5 * e(r); X.element(i, 28) = X.element(i, 20) + 1e-2 * e(r); }); },
        0.40, 0.50, 10, 0, true},
      {"ZeroConstantAndScaledColumns", [] { return Correlated(200, 24, 4, [](NEWMAT::Matrix& X, int i, std::mt19937&) {
        X.element(i, 2) = 0.0; X.element(i, 7) = 0.1; X.element(i, 11) = -3.7; X.element(i, 13) += 1e4;
        X.element(i, 16) *= 1e-4; X.element(i, 19) *= 1e4; }); }, 0.30, 0.40, 8, 1, false},
      {"BarelyMoreExamplesThanModel", [] { return Correlated(24, 40, 9); }, 0.90, 0.95, 22, 0, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Path path = SideBySide(c.make(), c.pEnter, c.pRemove);
    EXPECT_GE(path.largest, c.largest);
    EXPECT_GE(path.removals, c.removals);
    EXPECT_EQ(path.refits > 0, c.refits);
  }
}

// Non-finite values, sums of squares near the ends of the double range,
// labels that do not match the rows, more features asked for than X has,
// flags of another length, labels of one class and a p-value exactly at
// p-enter (which rounding could put on either side) are left to the exact
// step.
TEST(Engine, LeavesWhatItCannotVouchForToTheExactStep) {
  StepwiseEngine engine;
  // Step on p flags returns kStepNeedsRefit and writes nothing.
  auto refuses = [&](int p, double pEnter = 0.05) {
    NEWMAT::ColumnVector B(p), P(p);
    B = 7.0;
    P = 7.0;
    double b0 = 7.0;
    EXPECT_EQ(engine.Step(*Flags(p, {}), pEnter, 0.1, B, P, b0),
              kStepNeedsRefit);
    ExpectUnwritten(B, P, b0);
  };
  for (double bad : {kNaN, kInf, 1e300, 1e120, 1e-120, 1e-160}) {
    Set d = Correlated(50, 6, 1);
    for (int i = 0; i < 50; ++i) d.X.element(i, 4) *= bad;
    engine.Start(d.X, d.y, 6);
    refuses(6);
    EXPECT_EQ(engine.Refits().unusableData, 1) << bad;
  }
  Set d = Correlated(50, 6, 1);
  engine.Start(d.X, d.y, 6);
  refuses(5);
  engine.Start(d.X, d.y, 7);
  refuses(7);
  engine.Start(d.X, d.y.Rows(1, 49), 6);
  refuses(6);

  d = Correlated(200, 10, 6);
  NEWMAT::ColumnVector B(10), P(10);
  DozodProbe exact;
  ASSERT_EQ(exact.StepCalc(d.X, d.y, *Flags(10, {}), B, P), 0);
  engine.Start(d.X, d.y, 10);
  refuses(10, P.Minimum());
  EXPECT_EQ(engine.Refits().ambiguousStep, 1);
  d.y = 1.0;
  engine.Start(d.X, d.y, 10);
  refuses(10);
  EXPECT_EQ(engine.Refits().lostDigits, 1);
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
