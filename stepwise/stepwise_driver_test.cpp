#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/ols_reference.h"
#include "testing/recording_progress.h"

namespace {

using namespace Korva::Testing;
using Messages = std::vector<std::string>;

const char kBanner[] = "*************";
const char kStopped[] = "Training stopped: added and removed the same feature";

// A number as a message shows it: a default-formatted stream.
std::string Text(double value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

// One training, with or without a progress object.
struct Outcome {
  int result = 0;
  Messages progress;
  Messages list;
};

Outcome Train(DozodProbe& dozod,
              NEWMAT::Matrix X,
              NEWMAT::ColumnVector y,
              bool withProgress = true) {
  RecordingProgress progress;
  std::list<std::string> list;
  Outcome run;
  run.result = dozod.DoTrain(X, y, withProgress ? &progress : nullptr, list);
  run.progress = progress.received;
  run.list.assign(list.begin(), list.end());
  return run;
}

// Messages before the last, which must be "Elapsed Time " and whole seconds.
Messages WithoutElapsedTime(const Messages& messages) {
  const std::string prefix = "Elapsed Time ";
  if (messages.empty() || messages.back().rfind(prefix, 0) != 0 ||
      messages.back().find_first_not_of("0123456789", prefix.size()) !=
          std::string::npos) {
    ADD_FAILURE() << "no elapsed-time message last";
    return messages;
  }
  return Messages(messages.begin(), messages.end() - 1);
}

// 60 examples, 4 features. Feature 2 (0-based) follows the label closely,
// feature 0 loosely with noise of its own, 1 and 3 are noise: feature 2
// enters first, then feature 0, then nothing changes.
class ScriptedTraining : public ::testing::Test {
 protected:
  void SetUp() override {
    const int n = 60;
    std::mt19937 rng(42);
    std::normal_distribution<double> normal;
    X.ReSize(n, 4);
    y.ReSize(n);
    for (int i = 0; i < n; ++i) {
      y.element(i) = i % 2 == 0 ? 1.0 : -1.0;
      X.element(i, 2) = y.element(i) + 0.9 * normal(rng);
      X.element(i, 0) = 0.6 * y.element(i) + 1.2 * normal(rng) + 3.0;
      X.element(i, 1) = normal(rng);
      X.element(i, 3) = 2.0 * normal(rng) - 1.0;
    }
    pFirst = CandidateP(X, y, {}, 2);
    pSecond = CandidateP(X, y, {2}, 0);
    final = FitOls(X, y, {0, 2});
  }

  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
  double pFirst = 0.0;
  double pSecond = 0.0;
  OlsFit final;
};

// A name labels its feature in the selection message; a feature past the
// end of the names is labelled by its 1-based number. Without a progress
// object the model is the same and nothing is written.
TEST_F(ScriptedTraining, MessagesToTheCharacter) {
  DozodProbe dozod;
  dozod.FeatureNames = {"alpha", "beta"};
  const Outcome run = Train(dozod, X, y);
  ASSERT_EQ(run.result, 0);
  const Messages expected = {
      "Step 1, add feat 3,  p = " + Text(pFirst),
      "Step 2, add feat 1,  p = " + Text(pSecond),
      "\n\r\n\rFinal columns included:  1 3 (2 features)",
      "Selected 2 features:\r\n(alpha):   " + Text(final.coefficients[1]) +
          "\r\n(3):   " + Text(final.coefficients[2]) + "\r\n",
  };
  EXPECT_EQ(WithoutElapsedTime(run.progress), expected);
  EXPECT_EQ(run.list, run.progress) << "the same five, in order";

  DozodProbe quiet;
  EXPECT_TRUE(Train(quiet, X, y, false).list.empty());
  EXPECT_EQ(quiet.Selection(), (std::vector<int>{0, 2}));
  const NEWMAT::ColumnVector& w = quiet.GetWeights();
  ASSERT_EQ(w.Nrows(), 4);
  EXPECT_NEAR(w.element(0), final.coefficients[1], 1e-12);
  EXPECT_NEAR(w.element(2), final.coefficients[2], 1e-12);
  EXPECT_EQ(w.element(1) + w.element(3), 0.0);
  EXPECT_NEAR(quiet.Bias(), final.coefficients[0], 1e-12);
  EXPECT_EQ(quiet.GetPositiveRows().Nrows(), 30);
}

class IterationLimits : public ScriptedTraining,
                        public ::testing::WithParamInterface<int> {};

// The limit counts flag changes; the step message of the change that is no
// longer made is still written. An empty name labels by number too.
TEST_P(IterationLimits, StopAfterMaxIterChanges) {
  const int maxIter = GetParam();
  DozodProbe dozod;
  dozod.SetMaxIter(maxIter);
  dozod.FeatureNames = {"a", "b", "", "d"};
  const Outcome run = Train(dozod, X, y);
  ASSERT_EQ(run.result, 0);
  Messages expected = {"Step 1, add feat 3,  p = " + Text(pFirst)};
  if (maxIter == 1) {
    const OlsFit one = FitOls(X, y, {2});
    expected.push_back("Step 2, add feat 1,  p = " + Text(pSecond));
    expected.push_back(
        "Selected 1 features:\r\n(3):   " + Text(one.coefficients[1]) + "\r\n");
    EXPECT_EQ(dozod.Selection(), std::vector<int>{2});
    EXPECT_NEAR(dozod.GetWeights().element(2), one.coefficients[1], 1e-12);
    EXPECT_NEAR(dozod.Bias(), one.coefficients[0], 1e-12);
  } else {
    expected.push_back("Selected 0 features:\r\n");
    EXPECT_TRUE(dozod.Selection().empty());
    EXPECT_EQ(dozod.GetWeights().MaximumAbsoluteValue(), 0.0);
    EXPECT_NEAR(dozod.Bias(), 0.0, 1e-15) << "mean of balanced labels";
  }
  EXPECT_EQ(WithoutElapsedTime(run.progress), expected);
  EXPECT_EQ(run.list, run.progress);
}

INSTANTIATE_TEST_SUITE_P(Driver, IterationLimits, ::testing::Values(0, -5, 1));

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
  Messages expected = {kBanner, kStopped, kBanner};
  for (int c = 0; c < 4; ++c) {
    const double p = c == 2 ? std::nan("") : CandidateP(X, y, {}, c);
    expected.push_back("P(" + std::to_string(c) + "): " + Text(p));
  }
  expected.push_back(
      "prev_step = -1   nextstep = -1\n\r\n\rFinal columns included:  (0 "
      "features)");

  for (bool withProgress : {true, false}) {
    DozodProbe dozod;
    dozod.SetResult({}, {5.0, 5.0});
    const Outcome run = Train(dozod, X, y, withProgress);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.progress, withProgress ? expected : Messages{});
    EXPECT_EQ(run.list, Messages{kStopped});
    ASSERT_EQ(dozod.GetWeights().Nrows(), 4);
    EXPECT_EQ(dozod.GetWeights().MaximumAbsoluteValue(), 0.0);
    EXPECT_NEAR(dozod.Bias(), 0.2, 1e-15) << "mean of the labels";
    EXPECT_FALSE(dozod.CanClassify());
  }
}

// Five examples and one feature whose single-addition t statistic is 2.85:
// with the intercept alone (dfe 4) its p-value is below 0.05, once it is in
// the model (dfe 3) it is above 0.06. It enters and at once wants to leave.
TEST(Driver, FeatureThatWantsToLeaveAgainStopsTraining) {
  const double t = 2.85;
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
  const std::string step =
      "Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0));
  const OlsFit fit = FitOls(X, y, {0});

  for (bool withProgress : {true, false}) {
    DozodProbe dozod;
    ASSERT_EQ(dozod.SetPRange(0.05, 0.06), 0);
    const Outcome run = Train(dozod, X, y, withProgress);
    ASSERT_EQ(run.result, 0);
    if (withProgress) {
      EXPECT_EQ(run.progress,
                (Messages{step,
                          kBanner,
                          kStopped,
                          kBanner,
                          "prev_step = 0   nextstep = 0\n\r\n\rFinal columns "
                          "included:  1 (1 features)"}));
      EXPECT_EQ(run.list, (Messages{step, kStopped}));
    } else {
      EXPECT_EQ(run.list, Messages{kStopped});
    }
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
  DozodProbe dozod;
  const Outcome run = Train(dozod, X, y);
  const OlsFit final = FitOls(X, y, {1, 2});
  const Messages expected = {
      "Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
      "Step 2, add feat 3,  p = " + Text(CandidateP(X, y, {0}, 2)),
      "Step 3, add feat 2,  p = " + Text(CandidateP(X, y, {0, 2}, 1)),
      "Step 4, rem feat 1,  p = " + Text(ModelP(X, y, {0, 1, 2}, 0)),
      "\n\r\n\rFinal columns included:  2 3 (2 features)",
      "Selected 2 features:\r\n(2):   " + Text(final.coefficients[1]) +
          "\r\n(3):   " + Text(final.coefficients[2]) + "\r\n",
  };
  EXPECT_EQ(WithoutElapsedTime(run.progress), expected);
  EXPECT_EQ(dozod.Selection(), (std::vector<int>{1, 2}));
  EXPECT_EQ(dozod.GetWeights().element(0), 0.0);
}

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
  DOZOD dozod;  // p_Enter 0.05, p_Remove 0.1
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
    NextStepCase{"at p_Remove stays in", {1, 0}, {0.1, 0.3}, -1},
    NextStepCase{"just above p_Remove leaves", {1}, {kJustAboveRemove}, 0},
    NextStepCase{"NaN never picked", {0, 1}, {kNaN, kNaN}, -1},
    NextStepCase{"initial -1.0 enters", {0, 0}, {-1.0, -1.0}, 0},
    NextStepCase{"model feature cannot enter", {1, 0}, {0.001, 0.2}, -1},
    NextStepCase{"candidate cannot leave", {0, 1}, {0.9, 0.01}, -1}));
// clang-format on

// Rows labelled ±3 take part in the regression but in neither class. Here
// they set a positive slope while class -1 sits at larger x than class +1,
// so the class -1 mean scores higher and every weight turns round: the
// unselected one becomes -0.
TEST(Driver, SignCheckNegatesTheWeightsButNotTheBias) {
  const double label[] = {1.0, -1.0, 3.0, -3.0};
  const double x[] = {1.0, 2.0, 3.0, 0.0};
  const double jitter[] = {0.05, -0.03, 0.02};
  NEWMAT::Matrix X(12, 2);
  NEWMAT::ColumnVector y(12);
  for (int r = 0; r < 3; ++r) {
    for (int g = 0; g < 4; ++g) {
      y.element(4 * r + g) = label[g];
      X.element(4 * r + g, 0) = x[g] + jitter[r] * (g + 1);
      X.element(4 * r + g, 1) = 0.5;  // constant: never selected
    }
  }
  ASSERT_LT(CandidateP(X, y, {}, 0), 0.05);
  const OlsFit fit = FitOls(X, y, {0});
  ASSERT_GT(fit.coefficients[1], 0.0);

  DozodProbe dozod;
  const Outcome run = Train(dozod, X, y);
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 3);
  EXPECT_EQ(dozod.GetNegativeRows().Nrows(), 3);
  EXPECT_EQ(dozod.GetNegativeRows().element(0, 0), X.element(1, 0));
  EXPECT_NEAR(dozod.GetWeights().element(0), -fit.coefficients[1], 1e-12);
  EXPECT_TRUE(std::signbit(dozod.GetWeights().element(1))) << "every weight";
  EXPECT_NEAR(dozod.Bias(), fit.coefficients[0], 1e-12);
  ASSERT_EQ(run.progress.size(), 4u);
  EXPECT_EQ(
      run.progress[2],
      "Selected 1 features:\r\n(1):   " + Text(-fit.coefficients[1]) + "\r\n");
}

// Four examples: two features enter (dfe 3, then 2), and the model with both
// leaves one error degree of freedom, so the third step fails with -10 and
// ends training: the flags keep both changes, the weights what they held, the
// bias is that of the last successful fit. With progress, three lines say so.
TEST(Driver, TooFewExamplesForALaterModelEndTraining) {
  const NEWMAT::Matrix X =
      MatrixOf(4, 2, {1.1, -0.5, 0.9, 1.0, -0.95, -0.2, -1.05, 0.9});
  const NEWMAT::ColumnVector y = ColumnOf({1, 1, -1, -1});
  const Messages steps = {
      "Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
      "Step 2, add feat 2,  p = " + Text(CandidateP(X, y, {0}, 1))};
  Messages expected = steps;
  expected.insert(expected.end(),
                  {kBanner, "StepCalc returned -10   allx(4, 2)", kBanner});
  for (bool withProgress : {true, false}) {
    DozodProbe dozod;
    dozod.SetResult({}, std::vector<double>(5, 7.0));
    const Outcome run = Train(dozod, X, y, withProgress);
    EXPECT_EQ(run.result, -10);
    EXPECT_EQ(run.progress, withProgress ? expected : Messages{});
    EXPECT_EQ(run.list, withProgress ? steps : Messages{});
    EXPECT_EQ(dozod.Selection(), (std::vector<int>{0, 1}));
    EXPECT_EQ(dozod.GetWeights().Nrows(), 5);
    EXPECT_NEAR(dozod.Bias(), FitOls(X, y, {0}).coefficients[0], 1e-12);
    EXPECT_EQ(dozod.GetPositiveRows().Nrows(), 2);
  }
}

}  // namespace
