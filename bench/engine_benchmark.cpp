// Training speed of the incremental engine on P300-like data, against the
// exact refit loop (StepCalc at every iteration) and against one
// single-threaded dsyrk of the same matrix; scoring throughput.
//
//   engine_benchmark [Google Benchmark flags]   the benchmarks
//   engine_benchmark --table [--no-exact]       the table of
//   docs/performance.md
#include <benchmark/benchmark.h>
#include <cblas.h>
#include <malloc.h>
#include <newmat/newmat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "data/p300_generator.h"
#include "korva/classifier_progress.h"
#include "plugin/dozod.h"
#include "stepwise/step_choice.h"
#include "stepwise/stepwise_engine.h"

// Live heap bytes of the process, for the peak memory of a training.
namespace {
std::atomic<long long> gLiveBytes{0};
std::atomic<long long> gPeakBytes{0};
std::atomic<long long> gAllocations{0};

void* Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const long long live = gLiveBytes +=
      static_cast<long long>(malloc_usable_size(block));
  long long peak = gPeakBytes.load();
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
  ++gAllocations;
  return block;
}

void Release(void* block) {
  if (block == nullptr) return;
  gLiveBytes -= static_cast<long long>(malloc_usable_size(block));
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

namespace {

// The three data sets: epochs x (channels * samples) features.
struct Shape {
  int epochs;
  int channels;
  int samples;
};
constexpr Shape kShapes[] = {{2000, 10, 20}, {6000, 20, 30}, {12000, 20, 50}};
constexpr std::uint64_t kSeed = 7;

// The module's defaults with MaxIter 300, and the settings customary for
// P300 data with a short limit.
struct Settings {
  double pEnter;
  double pRemove;
  int maxIter;
};
constexpr Settings kSettings[] = {{0.05, 0.10, 300}, {0.10, 0.15, 60}};

struct Data {
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector y;
};

const Data& DataSet(int shape) {
  static std::map<int, Data> cache;
  auto found = cache.find(shape);
  if (found != cache.end()) return found->second;
  Korva::Data::GeneratorOptions options;
  options.epochs = kShapes[shape].epochs;
  options.channels = kShapes[shape].channels;
  options.samples = kShapes[shape].samples;
  options.seed = kSeed;
  const Korva::Data::Dataset set = Korva::Data::GenerateP300(options);
  Data& data = cache[shape];
  data.X.ReSize(set.rows, set.cols);
  data.y.ReSize(set.rows);
  std::memcpy(data.X.Store(), set.X.data(), sizeof(double) * set.X.size());
  std::memcpy(data.y.Store(), set.labels.data(), sizeof(double) * set.rows);
  return data;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// Counts the changes a training made from its step messages ("Step N, ...";
// the message with N = MaxIter + 1 announces a change no longer made).
class StepCounter : public ClassifierProgress {
 public:
  explicit StepCounter(int maxIter) : maxIter_(maxIter) {}
  void AddMessage(const std::string& message) override {
    int step = 0;
    if (std::sscanf(message.c_str(), "Step %d,", &step) == 1 &&
        step <= maxIter_)
      ++changes;
  }
  int changes = 0;

 private:
  int maxIter_;
};

struct Training {
  double seconds = 0.0;
  int changes = 0;
  int refits = 0;
  long long peakBytes = 0;  // heap in use at most, above that before it
  bool finished = true;
};

// A whole training through DOZOD::DoTrain, as the module runs it.
Training TrainThroughDriver(const Data& data, const Settings& settings) {
  NEWMAT::Matrix X = data.X;
  NEWMAT::ColumnVector y = data.y;
  DOZOD dozod;
  dozod.SetPRange(settings.pEnter, settings.pRemove);
  dozod.SetMaxIter(settings.maxIter);
  StepCounter progress(settings.maxIter);
  std::list<std::string> messages;
  const long long before = gLiveBytes;
  gPeakBytes = before;
  const auto start = std::chrono::steady_clock::now();
  dozod.DoTrain(X, y, &progress, messages);
  Training training;
  training.seconds = Seconds(start);
  training.changes = progress.changes;
  training.peakBytes = gPeakBytes - before;
  return training;
}

// The driver's loop without the driver: each fit from the engine (StepCalc
// where it refuses), or from StepCalc alone. Gives up after `limit` seconds.
Training TrainingLoop(const Data& data,
                      const Settings& settings,
                      bool exactOnly,
                      double limit) {
  const int p = data.X.Ncols();
  DOZOD dozod;  // for StepCalc
  FeatureFlags in;
  in.Reset(p);
  NEWMAT::ColumnVector B(p);
  NEWMAT::ColumnVector P(p);
  double b0 = 0.0;
  Training training;
  const long long before = gLiveBytes;
  gPeakBytes = before;
  const auto start = std::chrono::steady_clock::now();
  Korva::StepwiseEngine engine;
  if (!exactOnly) engine.Start(data.X, data.y, p);
  int previous = -1;
  for (int step = 0;; ++step) {
    int status =
        exactOnly
            ? Korva::kStepNeedsRefit
            : engine.Step(in, settings.pEnter, settings.pRemove, B, P, b0);
    if (status == Korva::kStepNeedsRefit)
      status = dozod.StepCalc(data.X, data.y, in, B, P);
    if (status != Korva::kStatusOk) break;
    const int next = Korva::ChooseStep(
        p,
        [&in](int i) { return in[i]; },
        [&P](int i) { return P.element(i); },
        settings.pEnter,
        settings.pRemove);
    if (next < 0 || next == previous || step >= settings.maxIter) break;
    in[next] = !in[next];
    previous = next;
    ++training.changes;
    if (Seconds(start) > limit) {
      training.finished = false;
      break;
    }
  }
  training.seconds = Seconds(start);
  training.refits = engine.Refits().Total();
  training.peakBytes = gPeakBytes - before;
  return training;
}

// One single-threaded dsyrk: C = XᵀX (upper triangle), p x p.
double DsyrkSeconds(const Data& data, std::vector<double>& C) {
  const int n = data.X.Nrows();
  const int p = data.X.Ncols();
  C.resize(static_cast<std::size_t>(p) * p);
  const auto start = std::chrono::steady_clock::now();
  cblas_dsyrk(CblasRowMajor,
              CblasUpper,
              CblasTrans,
              p,
              n,
              1.0,
              data.X.Store(),
              p,
              0.0,
              C.data(),
              p);
  return Seconds(start);
}

void BM_TrainDriver(benchmark::State& state) {
  const Data& data = DataSet(static_cast<int>(state.range(0)));
  const Settings& settings = kSettings[state.range(1)];
  Training training;
  for (auto _ : state) {
    training = TrainThroughDriver(data, settings);
    state.SetIterationTime(training.seconds);
  }
  state.counters["changes"] = training.changes;
}

void BM_EngineLoop(benchmark::State& state) {
  const Data& data = DataSet(static_cast<int>(state.range(0)));
  const Settings& settings = kSettings[state.range(1)];
  Training training;
  for (auto _ : state) {
    training = TrainingLoop(data, settings, false, 1e9);
    state.SetIterationTime(training.seconds);
  }
  state.counters["changes"] = training.changes;
  state.counters["refits"] = training.refits;
  state.counters["peak_MB"] = training.peakBytes / 1e6;
}

void BM_ExactLoop(benchmark::State& state) {
  const Data& data = DataSet(static_cast<int>(state.range(0)));
  const Settings& settings = kSettings[state.range(1)];
  Training training;
  for (auto _ : state) {
    training = TrainingLoop(data, settings, true, 1e9);
    state.SetIterationTime(training.seconds);
  }
  state.counters["changes"] = training.changes;
}

void BM_Dsyrk(benchmark::State& state) {
  const Data& data = DataSet(static_cast<int>(state.range(0)));
  std::vector<double> C;
  for (auto _ : state) state.SetIterationTime(DsyrkSeconds(data, C));
}

// Scores every row of the data set with a trained classifier: GB/s of
// feature data read, and heap allocations per scored row (none).
void BM_Score(benchmark::State& state) {
  const Data& data = DataSet(static_cast<int>(state.range(0)));
  const int n = data.X.Nrows();
  const int p = data.X.Ncols();
  NEWMAT::Matrix X = data.X;
  NEWMAT::ColumnVector y = data.y;
  DOZOD dozod;
  dozod.SetPRange(0.10, 0.15);
  dozod.SetMaxIter(60);
  std::list<std::string> messages;
  dozod.DoTrain(X, y, nullptr, messages);
  std::vector<NEWMAT::RowVector> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = data.X.Row(i + 1);
  Korva::ClassifierBase& classifier = dozod;
  double sum = 0.0;
  long long allocations = 0;
  for (auto _ : state) {
    const long long before = gAllocations;
    for (const NEWMAT::RowVector& row : rows) sum += classifier.GetScore(row);
    allocations += gAllocations - before;
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * n * p *
                          static_cast<std::int64_t>(sizeof(double)));
  state.counters["allocations_per_row"] =
      static_cast<double>(allocations) / (state.iterations() * n);
}

void TrainingArguments(benchmark::internal::Benchmark* b) {
  for (int shape = 0; shape < 3; ++shape)
    for (int settings = 0; settings < 2; ++settings) b->Args({shape, settings});
}

BENCHMARK(BM_TrainDriver)
    ->Apply(TrainingArguments)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLoop)
    ->Apply(TrainingArguments)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// The exact loop takes about a minute at 6000 x 600 and far longer above.
BENCHMARK(BM_ExactLoop)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Dsyrk)->DenseRange(0, 2)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_Score)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Best of `runs` of a training.
template <typename Run>
Training Best(int runs, Run run) {
  Training best = run();
  for (int i = 1; i < runs; ++i) {
    const Training next = run();
    if (next.seconds < best.seconds) best = next;
  }
  return best;
}

// The table of docs/performance.md: every figure measured in this run.
void PrintTable(bool withExact) {
  std::printf(
      "| data (n x p) | p-enter / p-remove, MaxIter | changes | training "
      "(DoTrain) | engine loop | refits | dsyrk | training / dsyrk | exact "
      "refit loop | exact / training | engine peak heap | (p+2)² doubles |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (int shape = 0; shape < 3; ++shape) {
    const Data& data = DataSet(shape);
    const int p = data.X.Ncols();
    std::vector<double> C;
    double dsyrk = DsyrkSeconds(data, C);
    for (int i = 0; i < 4; ++i) dsyrk = std::min(dsyrk, DsyrkSeconds(data, C));
    for (const Settings& settings : kSettings) {
      const Training driver =
          Best(3, [&] { return TrainThroughDriver(data, settings); });
      const Training loop =
          Best(3, [&] { return TrainingLoop(data, settings, false, 1e9); });
      std::string exact = "not run";
      std::string speedup = "";
      if (withExact && shape < 2) {
        const Training refit = TrainingLoop(data, settings, true, 60.0);
        char text[64];
        if (refit.finished) {
          std::snprintf(text, sizeof text, "%.2f s", refit.seconds);
          exact = text;
          std::snprintf(
              text, sizeof text, "%.0fx", refit.seconds / driver.seconds);
          speedup = text;
        } else {
          std::snprintf(
              text, sizeof text, "over 60 s (%d changes)", refit.changes);
          exact = text;
        }
      } else if (withExact) {
        exact = "over a minute, not run";
      }
      std::printf(
          "| %d x %d | %.2f / %.2f, %d | %d | %.3f s | %.3f s | %d | %.3f s | "
          "%.2f | %s | %s | %.1f MB | %.1f MB |\n",
          data.X.Nrows(),
          p,
          settings.pEnter,
          settings.pRemove,
          settings.maxIter,
          driver.changes,
          driver.seconds,
          loop.seconds,
          loop.refits,
          dsyrk,
          driver.seconds / dsyrk,
          exact.c_str(),
          speedup.c_str(),
          loop.peakBytes / 1e6,
          (p + 2.0) * (p + 2.0) * sizeof(double) / 1e6);
      std::fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--table") != 0) continue;
    bool withExact = true;
    for (int j = 1; j < argc; ++j)
      if (std::strcmp(argv[j], "--no-exact") == 0) withExact = false;
    PrintTable(withExact);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
