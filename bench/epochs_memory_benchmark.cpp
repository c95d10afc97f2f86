// Peak memory and time of epoch extraction on a long generated recording,
// against the bound of three channels' samples plus the feature matrix.
//
//   build/bench/epochs_memory_benchmark [HOURS CHANNELS RATE EVENTS_PER_S
//                                        [average]]
//
// Defaults: 2 hours, 64 channels at 2048 Hz, 4 events a second (one target
// in six), the default recipe (0.5-30 Hz, order 4, 20 bins); "average" adds
// the average reference. The samples
// are made when a channel is read, so the recording itself takes no memory;
// the peak is the process's high-water mark (VmHWM) less its size before.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "epoching/epochs.h"

namespace {

using namespace Korva::Recording;
using namespace Korva::Epoching;

long long HighWaterKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return -1;
}

class GeneratedRecording : public Recording {
 public:
  GeneratedRecording(double hours, int channels, double fs, double perSecond)
      : fs_(fs), samples_(static_cast<long long>(hours * 3600 * fs)) {
    for (int c = 0; c < channels; ++c)
      channels_.push_back({"E" + std::to_string(c + 1), "uV", true, ""});
    const long long step = std::llround(fs / perSecond);
    for (long long s = step, k = 0; s < samples_; s += step, ++k)
      events_.push_back({s, k % 6 == 0 ? "S  2" : "S  1"});
  }
  const std::string& Path() const override { return path_; }
  std::string Format() const override { return "generated"; }
  double SamplingRate() const override { return fs_; }
  long long Samples() const override { return samples_; }
  const std::vector<Channel>& Channels() const override { return channels_; }
  const std::vector<Event>& Events() const override { return events_; }
  const std::vector<std::string>& Notes() const override { return notes_; }
  // A 10-ish Hz oscillation (a rotation, cheaper than a sine per sample),
  // a drift and pseudo-random noise, different per channel.
  void ReadChannel(int c, std::vector<double>& out) override {
    out.resize(samples_);
    unsigned state = 2654435761u * (c + 1);
    const double step = 2 * 3.14159265358979 * (9 + 0.05 * c) / fs_;
    const double k = 2 * std::cos(step);
    double previous = 0, current = 40 * std::sin(step);
    for (long long i = 0; i < samples_; ++i) {
      state = state * 1664525u + 1013904223u;
      out[i] = current + 0.002 * i / fs_ + (state >> 16) / 65536.0 * 20 - 10;
      const double next = k * current - previous;
      previous = current;
      current = next;
    }
  }

 private:
  std::string path_ = "generated";
  double fs_;
  long long samples_;
  std::vector<Channel> channels_;
  std::vector<Event> events_;
  std::vector<std::string> notes_;
};

}  // namespace

int main(int argc, char** argv) {
  const double hours = argc > 1 ? std::stod(argv[1]) : 2;
  const int channels = argc > 2 ? std::stoi(argv[2]) : 64;
  const double fs = argc > 3 ? std::stod(argv[3]) : 2048;
  const double perSecond = argc > 4 ? std::stod(argv[4]) : 4;
  std::vector<std::unique_ptr<Recording>> runs;
  runs.push_back(
      std::make_unique<GeneratedRecording>(hours, channels, fs, perSecond));
  Recipe recipe;
  recipe.targets = {"2"};
  recipe.nonTargets = {"1"};
  if (argc > 5 && std::string(argv[5]) == "average")
    recipe.reference = Reference::kAverage;
  const long long before = HighWaterKb();
  const auto start = std::chrono::steady_clock::now();
  const Korva::Data::Dataset data = ExtractEpochs(runs, recipe, nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const double mb = 1e6;
  const double channel = runs[0]->Samples() * 8.0 / mb;
  const double features = data.X.size() * 8.0 / mb;
  const double peak = (HighWaterKb() - before) * 1024.0 / mb;
  std::printf(
      "%g h, %d channels at %g Hz (%lld samples each), %zu events: %d epochs "
      "x %d features\n"
      "one channel %.0f MB, feature matrix %.0f MB, bound 3 x %.0f + %.0f = "
      "%.0f MB\n"
      "peak growth %.0f MB (%.2f of the bound), extraction %.2f s (%.2f s per "
      "channel)\n",
      hours,
      channels,
      fs,
      runs[0]->Samples(),
      runs[0]->Events().size(),
      data.rows,
      data.cols,
      channel,
      features,
      channel,
      features,
      3 * channel + features,
      peak,
      peak / (3 * channel + features),
      seconds,
      seconds / channels);
  return peak <= 3 * channel + features ? 0 : 1;
}
