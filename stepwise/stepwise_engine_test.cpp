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
#include <list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/p300_generator.h"
#include "host/betai.h"
#include "host/classifier_base.h"
#include "plugin/dozod.h"

namespace {

using Korva::kStepNeedsRefit;
using Korva::StepwiseEngine;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Data {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
};

// DOZOD with its bias in view.
class Dozod : public DOZOD {
 public:
  double Bias() const { return W0; }
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
  Dozod dozod;
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
  EXPECT_EQ(dozod.SetPRange(pEnter, pRemove), Korva::kStatusOk);
  int next = -1;
  dozod.FindNextStep(in, P, next);
  return next;
}

// Per feature, the natural size of a coefficient: sd(y) / sd(x_c).
std::vector<double> CoefficientScales(const Data& data) {
  const int n = data.X.Nrows();
  const int p = data.X.Ncols();
  auto sd = [n](const std::function<double(int)>& value) {
    double mean = 0.0;
    for (int i = 0; i < n; ++i) mean += value(i);
    mean /= n;
    double ss = 0.0;
    for (int i = 0; i < n; ++i) ss += std::pow(value(i) - mean, 2);
    return std::sqrt(ss / n);
  };
  const double sy = sd([&](int i) { return data.y.element(i); });
  std::vector<double> scale(p);
  for (int j = 0; j < p; ++j) {
    const double sx = sd([&](int i) { return data.X.element(i, j); });
    scale[j] = sx > 0.0 ? sy / sx : 1.0;
  }
  return scale;
}

struct RunSummary {
  int iterations = 0;
  int served = 0;
  int refits = 0;
  int removals = 0;
  int largestModel = 0;
  double worstB = 0.0;  // relative differences where the engine served
  double worstP = 0.0;
  double worstB0 = 0.0;
  Korva::EngineRefits reasons;
  int rebuilds = 0;
};

// Trains like the driver does, asking the engine and the exact step at every
// iteration; the exact values decide whenever the engine refuses.
void SideBySide(const Data& data,
                double pEnter,
                double pRemove,
                int maxIter,
                double tolerance,
                RunSummary& run) {
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
    NEWMAT::ColumnVector B(p);
    NEWMAT::ColumnVector P(p);
    B = 7.0;
    P = 7.0;
    double b0 = 7.0;
    const int status = engine.Step(in, pEnter, pRemove, B, P, b0);
    ++run.iterations;
    const bool served = status == Korva::kStatusOk;
    if (!served) {
      EXPECT_EQ(B.Maximum(), 7.0);
      EXPECT_EQ(P.Minimum(), 7.0);
      EXPECT_EQ(b0, 7.0);
    }
    if (status != kStepNeedsRefit) {
      EXPECT_EQ(status, exact.status);
    }
    if (exact.status != Korva::kStatusOk) break;
    if (served) {
      ++run.served;
      double b0Scale = std::fabs(exact.b0);
      for (int j = 0; j < p; ++j) {
        const double be = exact.B.element(j);
        const double pe = exact.P.element(j);
        ASSERT_EQ(std::isnan(B.element(j)), std::isnan(be)) << "feature " << j;
        ASSERT_EQ(std::isnan(P.element(j)), std::isnan(pe)) << "feature " << j;
        if (std::isnan(be)) continue;
        const double dB = std::fabs(B.element(j) - be) /
                          std::max(std::fabs(be), 1e-3 * scale[j]);
        const double dP = std::fabs(P.element(j) - pe) / std::max(pe, 1e-300);
        run.worstB = std::max(run.worstB, dB);
        run.worstP = std::max(run.worstP, dP);
        EXPECT_LE(dB, tolerance)
            << "B[" << j << "] " << B.element(j) << " vs " << be;
        EXPECT_LE(dP, tolerance)
            << "P[" << j << "] " << P.element(j) << " vs " << pe;
        if (in[j]) {
          double mean = 0.0;
          for (int i = 0; i < data.X.Nrows(); ++i) mean += data.X.element(i, j);
          b0Scale += std::fabs(be * mean / data.X.Nrows());
        }
      }
      const double dB0 = std::fabs(b0 - exact.b0) / std::max(b0Scale, 1e-300);
      run.worstB0 = std::max(run.worstB0, dB0);
      EXPECT_LE(dB0, tolerance) << "W0 " << b0 << " vs " << exact.b0;
    } else {
      ++run.refits;
    }
    const int next = NextStep(in, exact.P, pEnter, pRemove);
    if (served) {
      ASSERT_EQ(NextStep(in, P, pEnter, pRemove), next);
    }
    if (next == previous || next < 0 || step >= maxIter) break;
    if (in[next]) ++run.removals;
    in[next] = !in[next];
    previous = next;
    run.largestModel =
        std::max(run.largestModel, static_cast<int>(in.CountSelected()));
  }
  run.reasons = engine.Refits();
  run.rebuilds = engine.Rebuilds();
  EXPECT_EQ(run.reasons.Total(), run.refits);
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
  Korva::Cli::GeneratorOptions options;
  options.epochs = epochs;
  options.channels = channels;
  options.samples = samples;
  options.seed = seed;
  const Korva::Cli::Dataset set = Korva::Cli::GenerateP300(options);
  Data data{NEWMAT::Matrix(set.rows, set.cols), NEWMAT::ColumnVector(set.rows)};
  for (int i = 0; i < set.rows; ++i) {
    data.y.element(i) = set.labels[i];
    for (int j = 0; j < set.cols; ++j) data.X.element(i, j) = set.At(i, j);
  }
  return data;
}

// Correlated data with columns that the model can explain exactly: a
// duplicate and the sum of two others.
Data ExactlyCollinear(std::uint64_t seed) {
  Data data = Correlated(240, 30, seed);
  for (int i = 0; i < 240; ++i) {
    NEWMAT::Matrix& X = data.X;
    X.element(i, 25) = X.element(i, 0);
    X.element(i, 26) = X.element(i, 5) + X.element(i, 10);
  }
  return data;
}

// Correlated data with columns within 1e-5 and 1e-2 of another.
Data NearlyCollinear(std::uint64_t seed) {
  Data data = Correlated(240, 30, seed);
  std::mt19937_64 random(seed + 1);
  std::normal_distribution<double> normal;
  for (int i = 0; i < 240; ++i) {
    NEWMAT::Matrix& X = data.X;
    X.element(i, 27) = X.element(i, 15) + 1e-5 * normal(random);
    X.element(i, 28) = X.element(i, 20) + 1e-2 * normal(random);
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
// many p-values underflow to zero or below the normal range.
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
  for (int i = 0; i < 200; ++i) {
    NEWMAT::Matrix& X = data.X;
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
  int maxIter;
  double tolerance;  // relative, where the engine served
  int largestModel;  // the model reaches at least this size
  int removals;      // at least this many removals happen
  bool allServed;    // the engine never refuses on this data
};

class SideBySideTest : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySideTest, SameStepsAndSameValuesAsAnExactRefit) {
  const Case& c = GetParam();
  const Data data = c.make();
  RunSummary run;
  SideBySide(data, c.pEnter, c.pRemove, c.maxIter, c.tolerance, run);
  EXPECT_GE(run.largestModel, c.largestModel);
  EXPECT_GE(run.removals, c.removals);
  EXPECT_GT(run.served, 0);
  if (c.allServed) {
    EXPECT_EQ(run.refits, 0);
    EXPECT_EQ(run.rebuilds, 0);
  }
  const Korva::EngineRefits& r = run.reasons;
  std::printf(
      "%s: %d iterations, %d served, %d refits (%d %d %d %d %d),"
      " %d removals, k %d, worst B %.2g P %.2g W0 %.2g\n",
      c.name,
      run.iterations,
      run.served,
      run.refits,
      r.unusableData,
      r.modelPivot,
      r.lostDigits,
      r.nearThreshold,
      r.ambiguousStep,
      run.removals,
      run.largestModel,
      run.worstB,
      run.worstP,
      run.worstB0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Engine, SideBySideTest, ::testing::Values(
    Case{"Correlated", [] { return Correlated(400, 60, 11); },
         0.05, 0.10, 300, 1e-9, 5, 0, true},
    Case{"CorrelatedWideThresholds", [] { return Correlated(300, 50, 5); },
         0.30, 0.35, 300, 1e-9, 10, 1, true},
    Case{"P300LikeManyEntries", [] { return P300Like(420, 8, 16, 3); },
         0.80, 0.90, 300, 1e-9, 101, 0, false},
    Case{"Removals", [] { return Redundant(6, 8); },
         0.05, 0.10, 300, 1e-9, 10, 3, true},
    Case{"UnderflowingPValues", [] { return Overwhelming(12); },
         0.05, 0.10, 300, 1e-9, 5, 0, false},
    Case{"ExactlyCollinear", [] { return ExactlyCollinear(21); },
         0.40, 0.50, 300, 1e-9, 10, 0, false},
    Case{"NearlyCollinear", [] { return NearlyCollinear(21); },
         0.40, 0.50, 300, 1e-9, 10, 0, false},
    Case{"ZeroConstantAndScaledColumns", [] { return DegenerateColumns(4); },
         0.30, 0.40, 300, 1e-9, 8, 0, true},
    Case{"BarelyMoreExamplesThanModel", [] { return Correlated(24, 40, 9); },
         0.90, 0.95, 300, 1e-9, 21, 0, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on

// Flags that jump by several features at a time, in and out anywhere in the
// order of entry: every removal rotates a different part of the factor.
TEST(Engine, FollowsArbitraryChangesOfTheFlags) {
  const Data data = Correlated(300, 40, 17);
  const std::vector<double> scale = CoefficientScales(data);
  std::mt19937_64 random(23);
  std::uniform_int_distribution<int> feature(0, 39);
  std::uniform_int_distribution<int> changes(1, 3);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 40);
  FeatureFlags in;
  in.Reset(40);
  int served = 0;
  int removals = 0;
  for (int round = 0; round < 80; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (int c = changes(random); c > 0; --c) {
      const int j = feature(random);
      removals += in[j] ? 1 : 0;
      in[j] = !in[j];
    }
    const Fit exact = ExactFit(data, in);
    NEWMAT::ColumnVector B(40);
    NEWMAT::ColumnVector P(40);
    double b0 = 0.0;
    // pEnter and pRemove far from every p-value: no choice is ambiguous.
    if (engine.Step(in, 1e-300, 1.0, B, P, b0) != Korva::kStatusOk) continue;
    ++served;
    for (int j = 0; j < 40; ++j) {
      EXPECT_NEAR(B.element(j), exact.B.element(j), 1e-9 * scale[j]) << j;
      EXPECT_NEAR(P.element(j), exact.P.element(j), 1e-9 * exact.P.element(j))
          << j;
    }
    EXPECT_NEAR(b0, exact.b0, 1e-9);
  }
  EXPECT_GT(removals, 30);
  EXPECT_EQ(served, 80);
  EXPECT_EQ(engine.Rebuilds(), 0);
}

// The data of the UnderflowingPValues case does underflow: several zero
// p-values, and some below the normal range, tie for entry at first.
TEST(Engine, OverwhelmingDataUnderflows) {
  const Data data = Overwhelming(12);
  FeatureFlags in;
  in.Reset(30);
  const Fit exact = ExactFit(data, in);
  int zeros = 0;
  int subnormal = 0;
  for (int j = 0; j < 30; ++j) {
    zeros += exact.P.element(j) == 0.0 ? 1 : 0;
    subnormal += exact.P.element(j) > 0.0 && exact.P.element(j) < 1e-300;
  }
  EXPECT_GE(zeros, 3);
  EXPECT_GE(zeros + subnormal, 4);
}

NEWMAT::ColumnVector Filled(int size, double value) {
  NEWMAT::ColumnVector v(size);
  v = value;
  return v;
}

// Calls Step on all-false flags and checks that it refused and wrote nothing.
void ExpectRefusal(StepwiseEngine& engine, int p, int status) {
  FeatureFlags in;
  in.Reset(p);
  NEWMAT::ColumnVector B = Filled(p, 7.0);
  NEWMAT::ColumnVector P = Filled(p, 7.0);
  double b0 = 7.0;
  EXPECT_EQ(engine.Step(in, 0.05, 0.1, B, P, b0), status);
  EXPECT_EQ(B.Minimum(), 7.0);
  EXPECT_EQ(B.Maximum(), 7.0);
  EXPECT_EQ(P.Minimum(), 7.0);
  EXPECT_EQ(P.Maximum(), 7.0);
  EXPECT_EQ(b0, 7.0);
}

TEST(Engine, LeavesDataItCannotUseToTheExactStep) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {kNaN, inf, 1e300, 1e120, 1e-120, 1e-160}) {
    Data data = Correlated(50, 6, 1);
    for (int i = 0; i < 50; ++i) data.X.element(i, 4) *= bad;
    StepwiseEngine engine;
    engine.Start(data.X, data.y, 6);
    ExpectRefusal(engine, 6, kStepNeedsRefit);
    EXPECT_EQ(engine.Refits().unusableData, 1) << bad;
  }
  Data data = Correlated(50, 6, 1);
  data.y.element(3) = kNaN;
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 6);
  ExpectRefusal(engine, 6, kStepNeedsRefit);

  // y shorter than X, and more features asked for than X has.
  StepwiseEngine shortLabels;
  shortLabels.Start(data.X, Filled(49, 1.0), 6);
  ExpectRefusal(shortLabels, 6, kStepNeedsRefit);
  StepwiseEngine wide;
  wide.Start(data.X, data.y, 7);
  ExpectRefusal(wide, 7, kStepNeedsRefit);
}

TEST(Engine, RefusesWhenTheFlagsDoNotMatchItsFeatures) {
  const Data data = Correlated(50, 6, 1);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 6);
  ExpectRefusal(engine, 5, kStepNeedsRefit);
}

TEST(Engine, RejectsFewerThanTwoErrorDegreesOfFreedomBeforeFitting) {
  const Data data = Correlated(3, 8, 1);  // dfe = 3 - 1 = 2: fits
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 8);
  FeatureFlags in;
  in.Reset(8);
  NEWMAT::ColumnVector B(8);
  NEWMAT::ColumnVector P(8);
  double b0 = 0.0;
  EXPECT_EQ(engine.Step(in, 0.05, 0.1, B, P, b0), Korva::kStatusOk);
  EXPECT_DOUBLE_EQ(b0, data.y.Sum() / 3);
  in[5] = true;  // dfe = 1
  B = 7.0;
  P = 7.0;
  b0 = 7.0;
  EXPECT_EQ(engine.Step(in, 0.05, 0.1, B, P, b0), Korva::kStatusRejected);
  EXPECT_EQ(B.Maximum(), 7.0);
  EXPECT_EQ(P.Minimum(), 7.0);
  EXPECT_EQ(b0, 7.0);
}

// Labels of one class leave no residual to test against, and labels that
// vary only at 1e-13 of their size leave a residual that the exact step calls
// explained: it decides what such a training gives.
TEST(Engine, LeavesLabelsThatTheModelExplainsToTheExactStep) {
  Data data = Correlated(60, 5, 2);
  data.y = 1.0;
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 5);
  ExpectRefusal(engine, 5, kStepNeedsRefit);
  EXPECT_EQ(engine.Refits().lostDigits, 1);

  for (int i = 0; i < 60; ++i) data.y.element(i) = 1.0 + 1e-13 * (i % 2);
  FeatureFlags in;
  in.Reset(5);
  const Fit exact = ExactFit(data, in);
  ASSERT_EQ(exact.status, Korva::kStatusOk);
  ASSERT_TRUE(std::isnan(exact.P.element(0)));
  engine.Start(data.X, data.y, 5);
  ExpectRefusal(engine, 5, kStepNeedsRefit);
}

// A column and its triple have one p-value, equal only up to rounding; which
// of them enters is then the exact step's call. A p-value at p-enter is too.
TEST(Engine, LeavesAChoiceThatRoundingCouldFlipToTheExactStep) {
  Data data = Correlated(200, 10, 6);
  for (int i = 0; i < 200; ++i)
    data.X.element(i, 7) = 3.0 * data.X.element(i, 0);
  FeatureFlags in;
  in.Reset(10);
  const Fit exact = ExactFit(data, in);
  ASSERT_LT(exact.P.element(0), 0.05);
  ASSERT_EQ(NextStep(in, exact.P, 0.05, 0.1), 0);
  StepwiseEngine engine;
  engine.Start(data.X, data.y, 10);
  ExpectRefusal(engine, 10, kStepNeedsRefit);
  EXPECT_EQ(engine.Refits().ambiguousStep, 1);

  data = Correlated(200, 10, 6);
  engine.Start(data.X, data.y, 10);
  const Fit plain = ExactFit(data, in);
  const int best = NextStep(in, plain.P, 0.05, 0.1);
  ASSERT_GE(best, 0);
  NEWMAT::ColumnVector B(10);
  NEWMAT::ColumnVector P(10);
  double b0 = 0.0;
  EXPECT_EQ(engine.Step(in, 0.05, 0.1, B, P, b0), Korva::kStatusOk);
  EXPECT_EQ(engine.Step(in, plain.P.element(best), 0.1, B, P, b0),
            kStepNeedsRefit);
}

class Recorder : public ClassifierProgress {
 public:
  void AddMessage(const std::string& message) override {
    messages.push_back(message);
  }
  std::vector<std::string> messages;
};

// DoTrain takes its fits from the engine: the same steps, messages, weights
// and bias as a training whose every fit is StepCalc's.
TEST(Engine, DrivesTheTrainingToTheExactStepsResult) {
  const Data data = P300Like(600, 8, 12, 5);
  const int p = data.X.Ncols();
  Dozod trained;
  ASSERT_EQ(trained.SetPRange(0.1, 0.15), Korva::kStatusOk);
  NEWMAT::Matrix X = data.X;
  NEWMAT::ColumnVector y = data.y;
  Recorder progress;
  std::list<std::string> list;
  ASSERT_EQ(trained.DoTrain(X, y, &progress, list), Korva::kStatusOk);

  // The exact loop, and the step messages it leads to.
  std::vector<std::string> expected;
  FeatureFlags in;
  in.Reset(p);
  Fit exact = ExactFit(data, in);
  for (int step = 0; step < 300; ++step) {
    const int next = NextStep(in, exact.P, 0.1, 0.15);
    if (next < 0) break;
    std::ostringstream text;
    text << "Step " << step + 1 << (in[next] ? ", rem feat " : ", add feat ")
         << next + 1 << ",  p = " << exact.P.element(next);
    expected.push_back(text.str());
    in[next] = !in[next];
    exact = ExactFit(data, in);
  }
  ASSERT_GT(expected.size(), 10u);
  ASSERT_GE(progress.messages.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(progress.messages[i], expected[i]);

  const FeatureFlags& selected = trained.GetSelectedFeatures();
  const NEWMAT::ColumnVector& weights = trained.GetWeights();
  for (int j = 0; j < p; ++j) {
    ASSERT_EQ(selected[j], in[j]) << j;
    const double b = in[j] ? exact.B.element(j) : 0.0;
    EXPECT_NEAR(
        std::fabs(weights.element(j)), std::fabs(b), 1e-9 * std::fabs(b));
  }
  EXPECT_NEAR(trained.Bias(), exact.b0, 1e-9 * std::fabs(exact.b0));
}

// The double-precision incomplete beta function against the host's, over the
// range of the p-values of a training: dfe from 1 to 20000, |t| up to 40,
// down to 1e-250 (below, where double precision underflows sooner than the
// host's extended precision, the engine calls the host's betai).
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
}

TEST(BetaiDouble, HandlesTheEdgesOfItsDomainAsTheHostDoes) {
  const double inf = std::numeric_limits<double>::infinity();
  // clang-format off
  const double cases[][3] = {
      {2.0, 0.5, 0.0}, {2.0, 0.5, 1.0}, {2.0, 0.5, -0.1}, {2.0, 0.5, 1.1},
      {0.0, 0.5, 0.5}, {2.0, 0.0, 0.5}, {kNaN, 0.5, 0.5}, {2.0, 0.5, kNaN},
      {inf, 0.5, 0.5}, {2.0, inf, 0.5}};
  // clang-format on
  for (const auto& c : cases) {
    const double expected = betai(c[0], c[1], c[2]);
    const double actual = Korva::BetaiDouble(c[0], c[1], c[2]);
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(actual)) << c[0] << " " << c[1] << " " << c[2];
    } else {
      EXPECT_EQ(actual, expected) << c[0] << " " << c[1] << " " << c[2];
    }
  }
}

}  // namespace
