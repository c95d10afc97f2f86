// The training driver: the choice of the next step, and the messages and the
// model of a training, against the independent least-squares reference.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <list>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/ols_reference.h"
#include "testing/recording_progress.h"

namespace Korva::Testing {
namespace {

using Messages = std::vector<std::string>;

const char kBanner[] = "*************";
const char kStopped[] = "Training stopped: added and removed the same feature";

// A number as a message shows it: a default-formatted stream.
std::string Text(double value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

// Trains on X and y after `setup`, with and without a progress object:
// `status` and the same model both times. The progress object receives
// `expected`, and after a selection message the elapsed time in whole
// seconds; the list receives the step, summary, selection, elapsed-time and
// stop messages, and only the stop message without progress. On success the
// selected features carry `sign` times their least-squares coefficients, the
// others 0, and the bias is the intercept.
class Training : public ::testing::Test {
 protected:
  std::unique_ptr<DozodProbe> Expect(int status,
                                     const Messages& expected,
                                     double sign = 1.0) {
    std::unique_ptr<DozodProbe> trained;
    for (bool withProgress : {true, false}) {
      auto dozod = std::make_unique<DozodProbe>();
      setup(*dozod);
      RecordingProgress progress;
      std::list<std::string> list;
      EXPECT_EQ(dozod->DoTrain(X, y, withProgress ? &progress : nullptr, list),
                status);
      Messages received = progress.received, listed(list.begin(), list.end());
      Messages expectedList;
      for (const std::string& m : expected) {
        if (m == kStopped ||
            (withProgress && (m.rfind("Step ", 0) == 0 ||
                              m.rfind("Selected", 0) == 0 || m[0] == '\n')))
          expectedList.push_back(m);
      }
      if (withProgress && !received.empty() &&
          expected.back().rfind("Selected", 0) == 0) {
        EXPECT_EQ(received.back().substr(0, 13), "Elapsed Time ");
        EXPECT_EQ(received.back().find_first_not_of("0123456789", 13),
                  std::string::npos);
        expectedList.push_back(received.back());
        received.pop_back();
      }
      EXPECT_EQ(received, withProgress ? expected : Messages{});
      EXPECT_EQ(listed, expectedList);
      if (trained) {
        EXPECT_EQ(dozod->Selection(), trained->Selection());
        EXPECT_EQ(dozod->WeightList(), trained->WeightList());
        EXPECT_EQ(dozod->Bias(), trained->Bias());
      } else {
        trained = std::move(dozod);
      }
    }
    if (status != 0) return trained;
    const std::vector<int> selection = trained->Selection();
    const OlsFit fit = FitOls(X, y, selection);
    NEWMAT::ColumnVector w(X.Ncols());
    w = 0.0;
    for (std::size_t k = 0; k < selection.size(); ++k)
      w.element(selection[k]) = sign * fit.coefficients[k + 1];
    EXPECT_LT((trained->GetWeights() - w).MaximumAbsoluteValue(), 1e-12);
    EXPECT_NEAR(trained->Bias(), fit.coefficients[0], 1e-12);
    return trained;
  }

  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
  std::function<void(DozodProbe&)> setup = [](DozodProbe&) {};
};

// The smallest candidate p-value below p_Enter enters; only when none does,
// the largest model p-value above p_Remove leaves; ties go to the lower
// index; NaN never qualifies.
TEST(Driver, FindNextStepPicksByTheThresholds) {
  const double nan = std::nan(""), belowEnter = std::nextafter(0.05, 0.0),
               aboveRemove = std::nextafter(0.1, 1.0);
  const std::tuple<std::vector<int>, std::vector<double>, int> cases[] = {
      // clang-format off
      {{}, {0.03, 0.01, 0.02}, 1},   {{}, {0.2, 0.01, 0.01}, 1},       // smallest; tie to lower index
      {{}, {0.05, 0.5}, -1},         {{}, {0.5, belowEnter}, 1},       // p_Enter
      {{0}, {0.99, 0.04}, 1},        {{0, 1, 2}, {0.2, 0.7, 0.3}, 1},  // entry first; largest leaves
      {{0}, {0.1, 0.3}, -1},         {{0}, {aboveRemove}, 0},          // p_Remove
      {{1}, {nan, nan}, -1},         {{}, {-1.0, -1.0}, 0},            // NaN; the initial -1
      {{0}, {0.001, 0.2}, -1},       {{1}, {0.9, 0.01}, -1},           // in never enters, out never leaves
      // clang-format on
  };
  for (const auto& [model, values, expected] : cases) {
    DOZOD dozod;  // p_Enter 0.05, p_Remove 0.1
    const int p = static_cast<int>(values.size());
    NEWMAT::ColumnVector P(p);
    P << values.data();
    int nextstep = 12345;
    dozod.FindNextStep(*Flags(p, model), P, nextstep);
    EXPECT_EQ(nextstep, expected) << ::testing::PrintToString(values);
  }
}

// Feature 0 is a noisy copy of the score behind the labels and enters first;
// features 1 and 2 together carry the score more precisely, and once both
// are in, feature 0 has nothing left to add and leaves. MaxIter counts the
// changes of the selection; the step message of the first change that it no
// longer allows is still written. A feature is labelled by its name, or by
// its 1-based number when the name is empty or missing.
TEST_F(Training, EntriesRemovalAndIterationLimit) {
  std::mt19937 rng(17);
  std::normal_distribution<double> normal;
  X.ReSize(300, 3);
  y.ReSize(300);
  for (int i = 0; i < 300; ++i) {
    const double u = normal(rng);
    const double v = normal(rng);
    y.element(i) = u + v > 0.0 ? 1.0 : -1.0;
    X.element(i, 0) = u + v + 0.6 * normal(rng);
    X.element(i, 1) = u + 0.05 * normal(rng);
    X.element(i, 2) = v + 0.05 * normal(rng);
  }
  const OlsFit final = FitOls(X, y, {1, 2});
  const Messages steps = {
      "Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
      "Step 2, add feat 3,  p = " + Text(CandidateP(X, y, {0}, 2)),
      "Step 3, add feat 2,  p = " + Text(CandidateP(X, y, {0, 2}, 1)),
      "Step 4, rem feat 1,  p = " + Text(FitOls(X, y, {0, 1, 2}).p[1]),
      "\n\r\n\rFinal columns included:  2 3 (2 features)",
      "Selected 2 features:\r\n(2):   " + Text(final.coefficients[1]) +
          "\r\n(gamma):   " + Text(final.coefficients[2]) + "\r\n"};
  setup = [](DozodProbe& d) { d.FeatureNames = {"alpha", "", "gamma"}; };
  Expect(0, steps);
  const double first = FitOls(X, y, {0}).coefficients[1];
  setup = [](DozodProbe& d) { d.SetMaxIter(1); };
  Expect(0,
         {steps[0],
          steps[1],
          "Selected 1 features:\r\n(1):   " + Text(first) + "\r\n"});
  setup = [](DozodProbe& d) { d.SetMaxIter(0); };
  Expect(0, {steps[0], "Selected 0 features:\r\n"});
}

// A feature too weak to enter and a zero column: nothing qualifies in the
// first iteration, which is the repeated-feature exit with -1 twice; the
// weights are resized to the features.
TEST_F(Training, NothingQualifiesStopsAtOnce) {
  X = MatrixOf(6, 2, {1, 0, -1, 0, 1, 0, -1, 0, 1, 0, -1, 0});
  y = MatrixOf(6, 1, {1, 1, 1, 1, -1, -1});
  setup = [](DozodProbe& d) { d.SetResult({}, {5.0, 5.0, 5.0}); };
  const auto dozod =
      Expect(0,
             {kBanner,
              kStopped,
              kBanner,
              "P(0): " + Text(CandidateP(X, y, {}, 0)),
              "P(1): nan",
              "prev_step = -1   nextstep = -1\n\r\n\rFinal columns included:  "
              "(0 features)"});
  EXPECT_FALSE(dozod->CanClassify());
}

// Five examples and one feature whose single-addition t statistic is 2.85:
// with the intercept alone (dfe 4) its p-value is below 0.05, once it is in
// the model (dfe 3) it is above 0.06. It enters and at once wants to leave.
TEST_F(Training, FeatureThatWantsToLeaveAgainStopsTraining) {
  const double t = 2.85;
  // x = centred labels + λ·z with z orthogonal to them and to the intercept;
  // then r² = t² / (t² + 3) for the simple regression with 3 error dof.
  const double lambda = std::sqrt(4.8 * (3.0 / (t * t)) / 2.0);
  X = MatrixOf(5, 1, {0.8 + lambda, 0.8 - lambda, 0.8, -1.2, -1.2});
  y = MatrixOf(5, 1, {1, 1, 1, -1, -1});
  setup = [](DozodProbe& d) { ASSERT_EQ(d.SetPRange(0.05, 0.06), 0); };
  Expect(0,
         {"Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
          kBanner,
          kStopped,
          kBanner,
          "prev_step = 0   nextstep = 0\n\r\n\rFinal columns included:  1 (1 "
          "features)"});
}

// Rows labelled ±3 take part in the regression but in neither class. Here
// they set a positive slope while class -1 sits at larger x than class +1,
// so the class -1 mean scores higher and every weight turns round (the
// unselected one, a constant, becomes -0), but not the bias. The
// repeated-feature exit ends training where it stands: with thresholds that
// let the feature in and at once out again, the slope stays unturned.
TEST_F(Training, SignCheckTurnsTheWeightsButNotTheBiasAtTheNormalEndOnly) {
  // clang-format off
  X = MatrixOf(12, 2, {1.05, 0.5, 2.1, 0.5, 3.15, 0.5, 0.2, 0.5,
                       0.97, 0.5, 1.94, 0.5, 2.91, 0.5, -0.12, 0.5,
                       1.02, 0.5, 2.04, 0.5, 3.06, 0.5, 0.08, 0.5});
  // clang-format on
  y = MatrixOf(12, 1, {1, -1, 3, -3, 1, -1, 3, -3, 1, -1, 3, -3});
  const double slope = FitOls(X, y, {0}).coefficients[1];
  ASSERT_GT(slope, 0.0);
  const auto dozod =
      Expect(0,
             {"Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
              "\n\r\n\rFinal columns included:  1 (1 features)",
              "Selected 1 features:\r\n(1):   " + Text(-slope) + "\r\n"},
             -1.0);
  EXPECT_TRUE(std::signbit(dozod->GetWeights().element(1)));
  EXPECT_EQ(dozod->GetPositiveRows().Nrows(), 3);
  EXPECT_EQ(dozod->GetNegativeRows().Nrows(), 3);
  EXPECT_EQ(dozod->GetNegativeRows().element(0, 0), X.element(1, 0));

  const double enter = CandidateP(X, y, {}, 0), stay = FitOls(X, y, {0}).p[1];
  ASSERT_LT(enter, stay);
  setup = [=](DozodProbe& d) {
    ASSERT_EQ(d.SetPRange(enter + (stay - enter) / 3,
                          enter + 2 * (stay - enter) / 3),
              0);
  };
  Expect(0,
         {"Step 1, add feat 1,  p = " + Text(enter),
          kBanner,
          kStopped,
          kBanner,
          "prev_step = 0   nextstep = 0\n\r\n\rFinal columns included:  1 (1 "
          "features)"},
         1.0);
}

// Four examples: two features enter (dfe 3, then 2), and the model with both
// leaves one error degree of freedom, so the third step fails with -10 and
// ends training: the flags keep both changes, the weights what they held, the
// bias is that of the last successful fit.
TEST_F(Training, TooFewExamplesForALaterModelEndTraining) {
  X = MatrixOf(4, 2, {1.1, -0.5, 0.9, 1.0, -0.95, -0.2, -1.05, 0.9});
  y = MatrixOf(4, 1, {1, 1, -1, -1});
  setup = [](DozodProbe& d) { d.SetResult({}, std::vector<double>(5, 7.0)); };
  const auto dozod =
      Expect(-10,
             {"Step 1, add feat 1,  p = " + Text(CandidateP(X, y, {}, 0)),
              "Step 2, add feat 2,  p = " + Text(CandidateP(X, y, {0}, 1)),
              kBanner,
              "StepCalc returned -10   allx(4, 2)",
              kBanner});
  EXPECT_EQ(dozod->Selection(), (std::vector<int>{0, 1}));
  EXPECT_EQ(dozod->WeightList(), std::vector<double>(5, 7.0));
  EXPECT_NEAR(dozod->Bias(), FitOls(X, y, {0}).coefficients[0], 1e-12);
}

}  // namespace
}  // namespace Korva::Testing
