#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/classifier_progress.h"
#include "plugin/dozod.h"
#include "stepwise/ols_reference_test_util.h"

namespace {

using korva_test::FitOls;
using korva_test::OlsFit;
using korva_test::TwoSidedP;
using Messages = std::vector<std::string>;

const char kBanner[] = "*************";
const char kStopped[] = "Training stopped: added and removed the same feature";

class RecordingProgress : public ClassifierProgress {
 public:
  void AddMessage(const std::string& message) override {
    received.push_back(message);
  }
  Messages received;
};

// Gives the tests the fields that training leaves behind.
class Trainee : public DOZOD {
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
  std::uint64_t FlagCount() const { return SelectedFeatures.Count(); }
};

// A number as a message shows it: a default-formatted stream.
std::string Text(double value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

Messages ToVector(const std::list<std::string>& list) {
  return Messages(list.begin(), list.end());
}

// The p-value that candidate c gets against `model`: the t statistic of c in
// the refit with c added, read with the model's own degrees of freedom.
double CandidateP(const NEWMAT::Matrix& X,
                  const NEWMAT::ColumnVector& y,
                  std::vector<int> model,
                  int c) {
  model.push_back(c);
  const OlsFit refit = FitOls(X, y, model);
  return TwoSidedP(refit.t.back(), refit.dfe + 1);
}

// The p-value of model feature number j (position in `model`).
double ModelP(const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              const std::vector<int>& model,
              int j) {
  const OlsFit fit = FitOls(X, y, model);
  return TwoSidedP(fit.t[j + 1], fit.dfe);
}

// Elapsed-time message: "Elapsed Time " and whole seconds.
void ExpectElapsedTime(const std::string& message) {
  const std::string prefix = "Elapsed Time ";
  ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0) << message;
  const std::string seconds = message.substr(prefix.size());
  ASSERT_FALSE(seconds.empty());
  EXPECT_EQ(seconds.find_first_not_of("0123456789"), std::string::npos)
      << message;
}

// 60 examples, 4 features. Feature 2 (0-based) follows the label closely,
// feature 0 loosely with noise of its own, 1 and 3 are noise: feature 2
// enters first, then feature 0, then nothing changes.
struct Scripted {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
  Scripted(int extraZeroColumns = 0) {
    const int n = 60;
    const int m = 4 + extraZeroColumns;
    std::mt19937 rng(42);
    std::normal_distribution<double> normal;
    X.ReSize(n, m);
    X = 0.0;
    y.ReSize(n);
    for (int i = 0; i < n; ++i) {
      y.element(i) = i % 2 == 0 ? 1.0 : -1.0;
      X.element(i, 2) = y.element(i) + 0.9 * normal(rng);
      X.element(i, 0) = 0.6 * y.element(i) + 1.2 * normal(rng) + 3.0;
      X.element(i, 1) = normal(rng);
      X.element(i, 3) = 2.0 * normal(rng) - 1.0;
    }
  }
};

class ScriptedTraining : public ::testing::Test {
 protected:
  void SetUp() override {
    // The path that the data are built for, checked with the independent fit.
    const NEWMAT::Matrix& X = data.X;
    const NEWMAT::ColumnVector& y = data.y;
    pFirst = CandidateP(X, y, {}, 2);
    for (int c : {0, 1, 3}) ASSERT_GT(CandidateP(X, y, {}, c), pFirst);
    ASSERT_LT(pFirst, 0.05);
    pSecond = CandidateP(X, y, {2}, 0);
    for (int c : {1, 3}) ASSERT_GT(CandidateP(X, y, {2}, c), 0.05);
    ASSERT_LT(pSecond, 0.05);
    for (int c : {1, 3}) ASSERT_GE(CandidateP(X, y, {0, 2}, c), 0.05);
    for (int j : {0, 1}) ASSERT_LE(ModelP(X, y, {0, 2}, j), 0.1);
    final = FitOls(X, y, {0, 2});
  }

  Scripted data;
  double pFirst = 0.0;
  double pSecond = 0.0;
  OlsFit final;
};

TEST_F(ScriptedTraining, MessagesToTheCharacter) {
  Trainee dozod;
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(data.X, data.y, &progress, list), 0);

  const Messages expected = {
      "Step 1, add feat 3,  p = " + Text(pFirst),
      "Step 2, add feat 1,  p = " + Text(pSecond),
      "\n\r\n\rFinal columns included:  1 3 (2 features)",
      "Selected 2 features:\r\n(1):   " + Text(final.coefficients[1]) +
          "\r\n(3):   " + Text(final.coefficients[2]) + "\r\n",
  };
  ASSERT_EQ(progress.received.size(), 5u);
  EXPECT_EQ(Messages(progress.received.begin(), progress.received.end() - 1),
            expected);
  ExpectElapsedTime(progress.received.back());
  EXPECT_EQ(ToVector(list), progress.received) << "the same five, in order";
}

TEST_F(ScriptedTraining, LeavesTheFinalModel) {
  Trainee dozod;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(data.X, data.y, nullptr, list), 0);
  EXPECT_TRUE(list.empty()) << "nothing without a progress object";
  EXPECT_EQ(dozod.Selection(), (std::vector<int>{0, 2}));
  EXPECT_EQ(dozod.FlagCount(), 4u);
  const NEWMAT::ColumnVector& w = dozod.GetWeights();
  ASSERT_EQ(w.Nrows(), 4);
  EXPECT_NEAR(w.element(0), final.coefficients[1], 1e-12);
  EXPECT_NEAR(w.element(2), final.coefficients[2], 1e-12);
  EXPECT_EQ(w.element(1), 0.0);
  EXPECT_EQ(w.element(3), 0.0);
  EXPECT_NEAR(dozod.Bias(), final.coefficients[0], 1e-12);
  EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 30);
  EXPECT_EQ(dozod.GetNegativeRows().Nrows(), 30);
  EXPECT_EQ(dozod.GetPositiveRows().element(1, 3), data.X.element(2, 3));

  // A trained object classifies and scores rows as wᵀx + W0.
  EXPECT_TRUE(dozod.CanClassify());
  const NEWMAT::RowVector row = data.X.Row(7);
  EXPECT_NEAR(dozod.GetScore(row),
              final.coefficients[0] + final.coefficients[1] * row.element(0) +
                  final.coefficients[2] * row.element(2),
              1e-12);

  Trainee withProgress;
  RecordingProgress progress;
  std::list<std::string> other;
  ASSERT_EQ(withProgress.DoTrain(data.X, data.y, &progress, other), 0);
  EXPECT_EQ(withProgress.Selection(), dozod.Selection());
  EXPECT_EQ(withProgress.Bias(), dozod.Bias());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(withProgress.GetWeights().element(i), w.element(i));
}

// Columns that the intercept explains (all zeros, here) never enter.
TEST_F(ScriptedTraining, AnAllZeroColumnNeverEnters) {
  Scripted withZeros(1);
  Trainee dozod;
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(withZeros.X, withZeros.y, &progress, list), 0);
  EXPECT_EQ(dozod.Selection(), (std::vector<int>{0, 2}));
  EXPECT_EQ(dozod.GetWeights().Nrows(), 5);
  EXPECT_EQ(dozod.GetWeights().element(4), 0.0);
  ASSERT_GE(progress.received.size(), 3u);
  EXPECT_EQ(progress.received[0], "Step 1, add feat 3,  p = " + Text(pFirst));
}

struct IterationLimit {
  int maxIter;
  std::vector<int> selection;
};

class IterationLimits : public ScriptedTraining,
                        public ::testing::WithParamInterface<IterationLimit> {};

// The limit counts flag changes; the step message of the change that is no
// longer made is still written.
TEST_P(IterationLimits, StopAfterMaxIterChanges) {
  const IterationLimit limit = GetParam();
  Trainee dozod;
  dozod.SetMaxIter(limit.maxIter);
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(data.X, data.y, &progress, list), 0);
  EXPECT_EQ(dozod.Selection(), limit.selection);

  Messages expected = {"Step 1, add feat 3,  p = " + Text(pFirst)};
  if (limit.maxIter == 1) {
    expected.push_back("Step 2, add feat 1,  p = " + Text(pSecond));
    const OlsFit one = FitOls(data.X, data.y, {2});
    expected.push_back(
        "Selected 1 features:\r\n(3):   " + Text(one.coefficients[1]) + "\r\n");
    EXPECT_NEAR(dozod.GetWeights().element(2), one.coefficients[1], 1e-12);
    EXPECT_NEAR(dozod.Bias(), one.coefficients[0], 1e-12);
  } else {
    expected.push_back("Selected 0 features:\r\n");
    EXPECT_FALSE(dozod.CanClassify());
    EXPECT_NEAR(dozod.Bias(), 0.0, 1e-15) << "mean of balanced labels";
  }
  ASSERT_EQ(progress.received.size(), expected.size() + 1);
  EXPECT_EQ(Messages(progress.received.begin(), progress.received.end() - 1),
            expected);
  ExpectElapsedTime(progress.received.back());
  EXPECT_EQ(ToVector(list), progress.received);
  int nonZero = 0;
  for (int i = 0; i < 4; ++i) nonZero += dozod.GetWeights().element(i) != 0.0;
  EXPECT_EQ(nonZero, static_cast<int>(limit.selection.size()));
}

INSTANTIATE_TEST_SUITE_P(Driver,
                         IterationLimits,
                         ::testing::Values(IterationLimit{0, {}},
                                           IterationLimit{-5, {}},
                                           IterationLimit{1, {2}}));

struct Names {
  std::vector<std::string> names;
  std::string first;   // how feature 0 (1-based 1) is labelled
  std::string second;  // how feature 2 (1-based 3) is labelled
};

class FeatureNameLabels : public ScriptedTraining,
                          public ::testing::WithParamInterface<Names> {};

TEST_P(FeatureNameLabels, NamedOrNumbered) {
  const Names names = GetParam();
  Trainee dozod;
  dozod.FeatureNames = names.names;
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(data.X, data.y, &progress, list), 0);
  ASSERT_EQ(progress.received.size(), 5u);
  EXPECT_EQ(progress.received[3],
            "Selected 2 features:\r\n(" + names.first +
                "):   " + Text(final.coefficients[1]) + "\r\n(" + names.second +
                "):   " + Text(final.coefficients[2]) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Driver,
    FeatureNameLabels,
    ::testing::Values(Names{{}, "1", "3"},
                      Names{{"alpha"}, "alpha", "3"},
                      Names{{"alpha", "beta"}, "alpha", "3"},
                      Names{{"", "beta", "gamma", "delta"}, "1", "gamma"},
                      Names{{"a", "b", "", "d"}, "a", "3"}));

// Labels that are independent of every feature: nothing qualifies in the
// first iteration, which is the repeated-feature exit with -1 twice.
TEST(Driver, NothingQualifiesStopsAtOnce) {
  const int n = 20;
  NEWMAT::Matrix X(n, 4);
  NEWMAT::ColumnVector y(n);
  for (int i = 0; i < n; ++i) {
    y.element(i) = i < 12 ? 1.0 : -1.0;
    X.element(i, 0) = (i % 2 == 0) ? 1.0 : -1.0;
    X.element(i, 1) = (i % 3) * 0.5;
    X.element(i, 2) = 0.0;
    X.element(i, 3) = (i % 4 == 1) ? 2.0 : 0.25;
  }
  Messages pLines;
  for (int c = 0; c < 4; ++c) {
    const double p = c == 2 ? std::numeric_limits<double>::quiet_NaN()
                            : CandidateP(X, y, {}, c);
    if (c != 2) {
      ASSERT_GE(p, 0.05) << c;
    }
    pLines.push_back("P(" + std::to_string(c) + "): " + Text(p));
  }

  Trainee dozod;
  dozod.SetWeights(2, 5.0);
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(X, y, &progress, list), 0);
  Messages expected = {kBanner, kStopped, kBanner};
  expected.insert(expected.end(), pLines.begin(), pLines.end());
  expected.push_back(
      "prev_step = -1   nextstep = -1\n\r\n\rFinal columns included:  (0 "
      "features)");
  EXPECT_EQ(progress.received, expected);
  EXPECT_EQ(ToVector(list), Messages{kStopped});
  ASSERT_EQ(dozod.GetWeights().Nrows(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dozod.GetWeights().element(i), 0.0);
  EXPECT_NEAR(dozod.Bias(), 0.2, 1e-15) << "mean of the labels";
  EXPECT_FALSE(dozod.CanClassify());

  Trainee quiet;
  std::list<std::string> quietList;
  ASSERT_EQ(quiet.DoTrain(X, y, nullptr, quietList), 0);
  EXPECT_EQ(ToVector(quietList), Messages{kStopped})
      << "the one line written without a progress object";
  EXPECT_EQ(quiet.GetWeights().Nrows(), 4);
  EXPECT_EQ(quiet.Bias(), dozod.Bias());
}

// Five examples and one feature whose single-addition t statistic is 2.85:
// with the intercept alone (dfe 4) its p-value is below 0.05, once it is in
// the model (dfe 3) it is above 0.06. It enters and at once wants to leave.
TEST(Driver, FeatureThatWantsToLeaveAgainStopsTraining) {
  const double t = 2.85;
  ASSERT_LT(TwoSidedP(t, 4), 0.05);
  ASSERT_GT(TwoSidedP(t, 3), 0.06);
  // x = centred labels + λ·z with z orthogonal to them and to the intercept;
  // then r² = t² / (t² + 3) for the simple regression with 3 error dof.
  const double yc[] = {0.8, 0.8, 0.8, -1.2, -1.2};
  const double z[] = {1.0, -1.0, 0.0, 0.0, 0.0};
  const double lambda = std::sqrt(4.8 * (3.0 / (t * t)) / 2.0);
  NEWMAT::Matrix X(5, 1);
  NEWMAT::ColumnVector y(5);
  for (int i = 0; i < 5; ++i) {
    y.element(i) = i < 3 ? 1.0 : -1.0;
    X.element(i, 0) = yc[i] + lambda * z[i];
  }
  const double pEnter = CandidateP(X, y, {}, 0);
  ASSERT_LT(pEnter, 0.05);
  ASSERT_GT(ModelP(X, y, {0}, 0), 0.06);

  for (bool withProgress : {true, false}) {
    Trainee dozod;
    ASSERT_EQ(dozod.SetPRange(0.05, 0.06), 0);
    RecordingProgress progress;
    std::list<std::string> list;
    ASSERT_EQ(dozod.DoTrain(X, y, withProgress ? &progress : nullptr, list), 0);
    const std::string step = "Step 1, add feat 1,  p = " + Text(pEnter);
    if (withProgress) {
      EXPECT_EQ(progress.received,
                (Messages{step,
                          kBanner,
                          kStopped,
                          kBanner,
                          "prev_step = 0   nextstep = 0\n\r\n\rFinal columns "
                          "included:  1 (1 features)"}));
      EXPECT_EQ(ToVector(list), (Messages{step, kStopped}));
    } else {
      EXPECT_EQ(ToVector(list), Messages{kStopped});
    }
    const OlsFit fit = FitOls(X, y, {0});
    EXPECT_EQ(dozod.Selection(), std::vector<int>{0}) << "the feature stays";
    EXPECT_NEAR(dozod.GetWeights().element(0), fit.coefficients[1], 1e-12);
    EXPECT_NEAR(dozod.Bias(), fit.coefficients[0], 1e-12);
  }
}

// Feature 0 is a noisy copy of the score behind the labels and enters first;
// features 1 and 2 together carry the score more precisely, and once both
// are in, feature 0 has nothing left to add and leaves.
TEST(Driver, RemovalPhaseTakesOutAFeatureThatBecameUseless) {
  const int n = 300;
  std::mt19937 rng(17);
  std::normal_distribution<double> normal;
  NEWMAT::Matrix X(n, 3);
  NEWMAT::ColumnVector y(n);
  for (int i = 0; i < n; ++i) {
    const double u = normal(rng);
    const double v = normal(rng);
    y.element(i) = u + v > 0.0 ? 1.0 : -1.0;
    X.element(i, 0) = u + v + 0.6 * normal(rng);
    X.element(i, 1) = u + 0.05 * normal(rng);
    X.element(i, 2) = v + 0.05 * normal(rng);
  }
  const double p1 = CandidateP(X, y, {}, 0);
  const double p2 = CandidateP(X, y, {0}, 2);
  const double p3 = CandidateP(X, y, {0, 2}, 1);
  const double p4 = ModelP(X, y, {0, 1, 2}, 0);
  ASSERT_LT(p1, std::min(CandidateP(X, y, {}, 1), CandidateP(X, y, {}, 2)));
  ASSERT_LT(p2, std::min(0.05, CandidateP(X, y, {0}, 1)));
  ASSERT_LT(p3, 0.05);
  ASSERT_GT(p4, 0.1);
  ASSERT_GE(CandidateP(X, y, {1, 2}, 0), 0.05) << "it does not come back";

  Trainee dozod;
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(X, y, &progress, list), 0);
  const OlsFit final = FitOls(X, y, {1, 2});
  const Messages expected = {
      "Step 1, add feat 1,  p = " + Text(p1),
      "Step 2, add feat 3,  p = " + Text(p2),
      "Step 3, add feat 2,  p = " + Text(p3),
      "Step 4, rem feat 1,  p = " + Text(p4),
      "\n\r\n\rFinal columns included:  2 3 (2 features)",
      "Selected 2 features:\r\n(2):   " + Text(final.coefficients[1]) +
          "\r\n(3):   " + Text(final.coefficients[2]) + "\r\n",
  };
  ASSERT_EQ(progress.received.size(), expected.size() + 1);
  EXPECT_EQ(Messages(progress.received.begin(), progress.received.end() - 1),
            expected);
  EXPECT_EQ(dozod.Selection(), (std::vector<int>{1, 2}));
  EXPECT_EQ(dozod.GetWeights().element(0), 0.0);
}

// As long as some candidate can enter, no model feature leaves, whatever its
// p-value; a candidate or a model feature exactly at its threshold stays put.
struct NextStepCase {
  const char* what;
  std::vector<bool> in;
  std::vector<double> P;
  int expected;
};

void PrintTo(const NextStepCase& c, std::ostream* os) { *os << c.what; }

class FindNextStepRule : public ::testing::TestWithParam<NextStepCase> {};

TEST_P(FindNextStepRule, PicksByTheThresholds) {
  const NextStepCase c = GetParam();
  Trainee dozod;  // p_Enter 0.05, p_Remove 0.1
  FeatureFlags in;
  in.Reset(c.in.size());
  NEWMAT::ColumnVector P(static_cast<int>(c.P.size()));
  for (std::size_t i = 0; i < c.in.size(); ++i) in[i] = c.in[i];
  for (std::size_t i = 0; i < c.P.size(); ++i) P.element(i) = c.P[i];
  int nextstep = 12345;
  dozod.FindNextStep(in, P, nextstep);
  EXPECT_EQ(nextstep, c.expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kJustBelowEnter = std::nextafter(0.05, 0.0);
const double kJustAboveRemove = std::nextafter(0.1, 1.0);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Driver, FindNextStepRule, ::testing::Values(
    NextStepCase{"smallest candidate enters", {0, 0, 0}, {0.03, 0.01, 0.02}, 1},
    NextStepCase{"tie goes to the lower index", {0, 0, 0}, {0.2, 0.01, 0.01}, 1},
    NextStepCase{"at p_Enter stays out", {0, 0}, {0.05, 0.5}, -1},
    NextStepCase{"just below p_Enter enters", {0, 0}, {0.5, kJustBelowEnter}, 1},
    NextStepCase{"entry before removal", {1, 0}, {0.99, 0.04}, 1},
    NextStepCase{"largest model feature leaves", {1, 1, 1}, {0.2, 0.7, 0.3}, 1},
    NextStepCase{"removal tie to lower index", {1, 1, 1}, {0.2, 0.5, 0.5}, 1},
    NextStepCase{"at p_Remove stays in", {1, 0}, {0.1, 0.3}, -1},
    NextStepCase{"just above p_Remove leaves", {1}, {kJustAboveRemove}, 0},
    NextStepCase{"NaN never picked", {0, 1}, {kNaN, kNaN}, -1},
    NextStepCase{"initial -1.0 enters", {0, 0}, {-1.0, -1.0}, 0},
    NextStepCase{"model feature cannot enter", {1, 0}, {0.001, 0.2}, -1},
    NextStepCase{"candidate cannot leave", {0, 1}, {0.9, 0.01}, -1},
    NextStepCase{"no features", {}, {}, -1}));
// clang-format on

TEST(Driver, EqualThresholdsWithPEnterOneNeverEnterAtOne) {
  Trainee dozod;
  ASSERT_EQ(dozod.SetPRange(0.99, 1.0), 0);
  FeatureFlags in;
  in.Reset(2);
  NEWMAT::ColumnVector P(2);
  P.element(0) = 1.0;
  P.element(1) = 0.995;
  int nextstep = 7;
  dozod.FindNextStep(in, P, nextstep);
  EXPECT_EQ(nextstep, -1) << "1.0 is never below the starting best of 1.0";
}

// Rows labelled other than ±1 take part in the regression but in neither
// class. Here they set a positive slope while class -1 sits at larger x than
// class +1, so the class -1 mean scores higher and the weights turn round.
TEST(Driver, SignCheckNegatesTheWeightsButNotTheBias) {
  const double label[] = {1.0, -1.0, 3.0, -3.0};
  const double x[] = {1.0, 2.0, 3.0, 0.0};
  const double jitter[] = {0.05, -0.03, 0.02};
  NEWMAT::Matrix X(12, 1);
  NEWMAT::ColumnVector y(12);
  for (int r = 0; r < 3; ++r) {
    for (int g = 0; g < 4; ++g) {
      y.element(4 * r + g) = label[g];
      X.element(4 * r + g, 0) = x[g] + jitter[r] * (g + 1);
    }
  }
  ASSERT_LT(CandidateP(X, y, {}, 0), 0.05);
  const OlsFit fit = FitOls(X, y, {0});
  ASSERT_GT(fit.coefficients[1], 0.0);

  Trainee dozod;
  RecordingProgress progress;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(X, y, &progress, list), 0);
  EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 3);
  EXPECT_EQ(dozod.GetNegativeRows().Nrows(), 3);
  EXPECT_EQ(dozod.GetNegativeRows().element(0, 0), X.element(1, 0));
  EXPECT_NEAR(dozod.GetWeights().element(0), -fit.coefficients[1], 1e-12);
  EXPECT_NEAR(dozod.Bias(), fit.coefficients[0], 1e-12);
  ASSERT_EQ(progress.received.size(), 4u);
  EXPECT_EQ(
      progress.received[2],
      "Selected 1 features:\r\n(1):   " + Text(-fit.coefficients[1]) + "\r\n");
  // Oriented now: the class +1 mean scores at least as high as class -1's.
  NEWMAT::RowVector meanPositive(1), meanNegative(1);
  meanPositive.element(0) = 1.0;
  meanNegative.element(0) = 2.0;
  EXPECT_GT(dozod.GetScore(meanPositive), dozod.GetScore(meanNegative));
}

// Labels of one class only: the intercept explains them completely, no
// candidate is offered and the class -1 matrix is empty.
TEST(Driver, OneClassOnlySelectsNothing) {
  Scripted data;
  data.y = 1.0;
  Trainee dozod;
  std::list<std::string> list;
  ASSERT_EQ(dozod.DoTrain(data.X, data.y, nullptr, list), 0);
  EXPECT_EQ(dozod.GetNegativeRows().Nrows(), 0);
  EXPECT_EQ(dozod.GetNegativeRows().Ncols(), 4);
  EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 60);
  EXPECT_TRUE(dozod.Selection().empty());
  EXPECT_NEAR(dozod.Bias(), 1.0, 1e-15);
  EXPECT_EQ(ToVector(list), Messages{kStopped});
}

// Too few examples for the first model: -10 at once. Class matrices and flags
// are already replaced; the weights and the bias keep what they held.
TEST(Driver, TooFewExamplesFailsBeforeAnyStep) {
  NEWMAT::Matrix X(2, 3);
  X = 1.5;
  X.element(0, 1) = 2.0;
  NEWMAT::ColumnVector y(2);
  y.element(0) = 1.0;
  y.element(1) = -1.0;
  for (bool withProgress : {true, false}) {
    Trainee dozod;
    dozod.SetWeights(5, 7.0);
    dozod.SetBias(0.25);
    RecordingProgress progress;
    std::list<std::string> list;
    EXPECT_EQ(dozod.DoTrain(X, y, withProgress ? &progress : nullptr, list),
              -10);
    if (withProgress) {
      EXPECT_EQ(
          progress.received,
          (Messages{kBanner, "StepCalc returned -10   allx(2, 3)", kBanner}));
    }
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(dozod.FlagCount(), 3u);
    EXPECT_TRUE(dozod.Selection().empty());
    ASSERT_EQ(dozod.GetWeights().Nrows(), 5);
    EXPECT_EQ(dozod.GetWeights().element(4), 7.0);
    EXPECT_EQ(dozod.Bias(), 0.25);
    EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 1);
    EXPECT_EQ(dozod.GetNegativeRows().Nrows(), 1);
  }
}

// Four examples: two features enter (dfe 3, then 2), and the model with both
// leaves one error degree of freedom, so the third step fails. The flags keep
// both changes and the bias is that of the last successful fit.
TEST(Driver, TooFewExamplesForALaterModelFailsMidway) {
  const double x0[] = {1.1, 0.9, -0.95, -1.05};
  const double x1[] = {-0.5, 1.0, -0.2, 0.9};
  NEWMAT::Matrix X(4, 2);
  NEWMAT::ColumnVector y(4);
  for (int i = 0; i < 4; ++i) {
    y.element(i) = i < 2 ? 1.0 : -1.0;
    X.element(i, 0) = x0[i];
    X.element(i, 1) = x1[i];
  }
  const double p1 = CandidateP(X, y, {}, 0);
  const double p2 = CandidateP(X, y, {0}, 1);
  ASSERT_LT(p1, std::min(0.05, CandidateP(X, y, {}, 1)));
  ASSERT_LT(p2, 0.05);

  for (bool withProgress : {true, false}) {
    Trainee dozod;
    dozod.SetWeights(1, 3.0);
    RecordingProgress progress;
    std::list<std::string> list;
    EXPECT_EQ(dozod.DoTrain(X, y, withProgress ? &progress : nullptr, list),
              -10);
    const Messages steps = {"Step 1, add feat 1,  p = " + Text(p1),
                            "Step 2, add feat 2,  p = " + Text(p2)};
    if (withProgress) {
      Messages expected = steps;
      expected.insert(expected.end(),
                      {kBanner, "StepCalc returned -10   allx(4, 2)", kBanner});
      EXPECT_EQ(progress.received, expected);
      EXPECT_EQ(ToVector(list), steps);
    } else {
      EXPECT_TRUE(list.empty());
    }
    EXPECT_EQ(dozod.Selection(), (std::vector<int>{0, 1}));
    EXPECT_EQ(dozod.GetWeights().Nrows(), 1) << "weights untouched";
    EXPECT_NEAR(dozod.Bias(), FitOls(X, y, {0}).coefficients[0], 1e-12);
  }
}

}  // namespace
