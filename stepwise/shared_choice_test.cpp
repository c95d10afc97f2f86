// The p-values an iteration of the shared trainings chooses from: only some
// are formed, the others stand in with bounds. Against every p-value formed,
// with thresholds a hair either side of the candidates' and the model's own
// p-values, each stand-in must fall on the same side of every threshold and
// the choice and its ambiguity must come out the same.
#include "stepwise/shared_choice.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "stepwise/step_choice.h"
#include "testing/dozod_probe.h"

namespace Korva::Testing {
namespace {

// The engine on n rows of p features, feature c < `signal` shifted by
// 0.08 (c + 1) in the positive class (every fourth row): p-values from tiny
// to large.
StepwiseEngine& Started(StepwiseEngine& engine, int n, int p, int signal) {
  std::mt19937_64 rng(17);
  std::normal_distribution<double> noise(0.0, 1.0);
  NEWMAT::Matrix X(n, p);
  NEWMAT::ColumnVector y(n);
  for (int r = 0; r < n; ++r) {
    y.element(r) = r % 4 == 0 ? 1.0 : -1.0;
    for (int c = 0; c < p; ++c)
      X.element(r, c) =
          noise(rng) + (c < signal && y.element(r) > 0 ? 0.08 * (c + 1) : 0.0);
  }
  engine.Start(X, y, p);
  return engine;
}

struct Model {
  const char* name;
  std::vector<int> features;
};

class NodeChoiceBounds : public ::testing::TestWithParam<Model> {};

TEST_P(NodeChoiceBounds, EveryComparisonAsWithEveryPValueFormed) {
  constexpr int kP = 40;
  StepwiseEngine engine;
  Started(engine, 800, kP, 10);
  const std::unique_ptr<FeatureFlags> in = Flags(kP, GetParam().features);
  ASSERT_EQ(engine.Evaluate(*in, false), kStatusOk);
  std::vector<double> all(kP);
  for (int i = 0; i < kP; ++i) all[i] = engine.PValue(i);

  // Thresholds 1e-8 .. 3e-3 (relative) either side of every p-value: inside
  // the engine's decision margin, just inside and just outside the band.
  std::vector<double> near;
  for (double p : all)
    for (double shift : {-3e-3, -9e-4, -1e-7, 1e-7, 9e-4, 3e-3})
      if (p > 0.0 && p < 0.5) near.push_back(p * (1.0 + shift));
  const auto inModel = [&engine](int i) { return engine.InModel(i); };
  int ambiguous = 0;
  for (double threshold : near) {
    // As p-enter (with a p-remove above it), then as p-remove.
    for (const auto& [pEnter, pRemove] :
         {std::pair{threshold, 0.9}, std::pair{1e-12, threshold}}) {
      SCOPED_TRACE("p-enter " + std::to_string(pEnter) + ", p-remove " +
                   std::to_string(pRemove));
      const NodeChoice node(engine, {pEnter}, {pRemove});
      const std::vector<double>& P = node.P();
      for (int i = 0; i < kP; ++i) {
        if (node.FormedP(i)) {
          EXPECT_EQ(P[i], all[i]) << "feature " << i;
          continue;
        }
        // A candidate is weighed against p-enter, a model feature against
        // p-remove.
        if (engine.InModel(i))
          EXPECT_EQ(P[i] > pRemove, all[i] > pRemove) << "feature " << i;
        else
          EXPECT_EQ(P[i] < pEnter, all[i] < pEnter) << "feature " << i;
      }
      const auto choose = [&](const std::vector<double>& values) {
        return ChooseStep(
            kP,
            inModel,
            [&values](int i) { return values[i]; },
            pEnter,
            pRemove);
      };
      EXPECT_EQ(choose(P), choose(all));
      const bool expected = engine.Ambiguous(all, pEnter, pRemove);
      EXPECT_EQ(engine.Ambiguous(P, pEnter, pRemove), expected);
      ambiguous += expected;
    }
  }
  // Some thresholds lie inside the decision margin, or the test shows
  // nothing about forming the p-values near them.
  EXPECT_GT(ambiguous, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stepwise,
    NodeChoiceBounds,
    ::testing::Values(Model{"empty", {}},
                      Model{"strong", {9, 8, 7}},
                      Model{"strong_and_weak", {9, 8, 2, 1, 20, 31}},
                      Model{"weak", {0, 1, 15, 25, 35}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Korva::Testing
