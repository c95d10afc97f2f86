// Training cost of the exact stepwise driver: one whole training on 2000
// examples x 200 correlated features with the default settings, and single
// regression steps of growing models on the same data and on 9600 x 1000 (the
// training part of a 5-fold split of 12000 epochs, where one refit of the
// exact step can cost more than the rest of a training).
#include <benchmark/benchmark.h>
#include <newmat/newmat.h>

#include <cstdint>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "plugin/dozod.h"

namespace {

constexpr int kExamples = 2000;
constexpr int kFeatures = 200;

// Features share five latent factors (pairwise correlations around 0.5); the
// label is the sign of a noisy rule on the first factors, so a few dozen
// features carry information and enter.
struct TrainingSet {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
  TrainingSet(int examples, int features) : X(examples, features), y(examples) {
    std::mt19937 rng(2024);
    std::normal_distribution<double> normal;
    constexpr int kFactors = 5;
    std::vector<double> loading(features * kFactors);
    for (double& l : loading) l = 0.5 * normal(rng);
    for (int i = 0; i < examples; ++i) {
      double f[kFactors];
      for (double& value : f) value = normal(rng);
      for (int j = 0; j < features; ++j) {
        double x = normal(rng);
        for (int a = 0; a < kFactors; ++a)
          x += loading[j * kFactors + a] * f[a];
        X.element(i, j) = x;
      }
      const double rule = f[0] - 0.5 * f[1] + 0.3 * X.element(i, 7) +
                          0.2 * X.element(i, 42) + normal(rng);
      y.element(i) = rule > 0.0 ? 1.0 : -1.0;
    }
  }
};

const TrainingSet& Data(bool large = false) {
  static const TrainingSet small(kExamples, kFeatures);
  static const TrainingSet big(9600, 1000);
  return large ? big : small;
}

class Trainee : public DOZOD {
 public:
  std::uint64_t SelectedCount() const {
    return SelectedFeatures.CountSelected();
  }
};

void BM_TrainDefaults(benchmark::State& state) {
  NEWMAT::Matrix X = Data().X;
  NEWMAT::ColumnVector y = Data().y;
  std::uint64_t selected = 0;
  for (auto _ : state) {
    Trainee dozod;
    std::list<std::string> messages;
    benchmark::DoNotOptimize(dozod.DoTrain(X, y, nullptr, messages));
    selected = dozod.SelectedCount();
  }
  state.counters["selected"] = static_cast<double>(selected);
}
BENCHMARK(BM_TrainDefaults)->Unit(benchmark::kSecond)->Iterations(1);

// One StepCalc call with the first k features in the model; the second
// argument picks the large set.
void BM_StepCalc(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const TrainingSet& data = Data(state.range(1) != 0);
  const int p = data.X.Ncols();
  DOZOD dozod;
  FeatureFlags in;
  in.Reset(p);
  for (int i = 0; i < k; ++i) in[i] = true;
  NEWMAT::ColumnVector B(p);
  NEWMAT::ColumnVector P(p);
  for (auto _ : state)
    benchmark::DoNotOptimize(dozod.StepCalc(data.X, data.y, in, B, P));
}
BENCHMARK(BM_StepCalc)
    ->Args({0, 0})
    ->Args({20, 0})
    ->Args({60, 0})
    ->Args({50, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
