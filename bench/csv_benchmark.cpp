// CSV reading speed in bytes per second, on a simulated P300 data set of
// 4000 epochs x 320 features (16 channels x 20 samples), about 8 MB.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "data/csv_io.h"
#include "data/csv_write.h"
#include "data/p300_generator.h"

namespace {

const std::string& CsvText() {
  static const std::string text = [] {
    Korva::Data::GeneratorOptions options;
    options.epochs = 4000;
    options.channels = 16;
    options.samples = 20;
    std::ostringstream out;
    Korva::Data::WriteCsv(out, Korva::Data::GenerateP300(options));
    return out.str();
  }();
  return text;
}

// Parsing text already in memory, on one or two threads.
void BM_ParseCsv(benchmark::State& state) {
  const std::string& text = CsvText();
  Korva::Data::CsvOptions options;
  options.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Korva::Data::Dataset data =
        Korva::Data::ParseCsv(text, "bench.csv", options);
    benchmark::DoNotOptimize(data.X.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          text.size());
}
BENCHMARK(BM_ParseCsv)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Reading a file (from the page cache) and parsing it, as korva does.
void BM_ReadCsvFile(benchmark::State& state) {
  const std::string& text = CsvText();
  char path[] = "/tmp/korva-csv-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("cannot create a temporary file");
    return;
  }
  ::close(fd);
  std::ofstream(path, std::ios::binary) << text;
  for (auto _ : state) {
    Korva::Data::Dataset data = Korva::Data::ReadCsv(path);
    benchmark::DoNotOptimize(data.X.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          text.size());
  std::remove(path);
}
BENCHMARK(BM_ReadCsvFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writing the same set, for comparison.
void BM_WriteCsv(benchmark::State& state) {
  Korva::Data::GeneratorOptions options;
  options.epochs = 4000;
  options.channels = 16;
  options.samples = 20;
  const Korva::Data::Dataset data = Korva::Data::GenerateP300(options);
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    Korva::Data::WriteCsv(out, data);
    bytes = out.str().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_WriteCsv)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
