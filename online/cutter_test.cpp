#include "online/cutter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "data/dataset.h"
#include "epoching/epochs.h"
#include "testing/cutting.h"
#include "testing/memory_recording.h"

namespace Korva::Online {
namespace {

using Epoching::Band;
using Epoching::Interval;
using Epoching::Recipe;
using Epoching::Reference;
using Recording::Event;
using ::testing::HasSubstr;
using Testing::ApplyCutting;
using Testing::Cutting;

constexpr double kRate = 200;
constexpr long long kSamples = 3000;
constexpr long long kBreak = 1700;  // a new part of the recording starts here

// Three channels of drifting noise far from 0 (so that the filter's start
// matters), flashes 1 and 2 every 23 samples from the first sample on
// (windows that start before it, cross the break or pass the end), a blink
// on Cz, and an event of neither list.
std::vector<std::unique_ptr<Recording::Recording>> Session() {
  unsigned seed = 7;
  std::vector<std::vector<double>> x(3, std::vector<double>(kSamples));
  for (size_t c = 0; c < x.size(); ++c) {
    double drift = 500.0 * (c + 1);
    for (double& v : x[c]) {
      seed = seed * 1103515245u + 12345u;
      drift += (static_cast<int>(seed >> 8 & 0xff) - 127.5) / 50.0;
      v = drift + static_cast<int>(seed >> 16 & 0x3f) - 31.5;
    }
  }
  for (long long i = 900; i < 940; ++i) x[1][i] += 3000;
  std::vector<Event> events;
  for (long long onset = 3; onset < kSamples; onset += 23)
    events.push_back({onset, onset % 2 ? "S  1" : "S  2"});
  events.insert(events.begin() + 5, Event{events[4].sample, "S  9"});
  auto run = std::make_unique<Testing::MemoryRecording>(
      "session.vhdr",
      kRate,
      std::vector<Recording::Channel>{{"Fz", "uV", true, ""},
                                      {"Cz", "uV", true, ""},
                                      {"Pz", "uV", true, ""}},
      std::move(x),
      std::move(events));
  run->breaks.push_back({kBreak, "a gap"});
  std::vector<std::unique_ptr<Recording::Recording>> runs;
  runs.push_back(std::move(run));
  return runs;
}

Recipe RecipeOf(const Cutting& c) {
  Recipe r;
  r.targets = {"2"};
  r.nonTargets = {"1"};
  r.channels = {"Pz", "Fz", "Cz"};
  ApplyCutting(c, r);
  r.filter = Epoching::Filter::kCausal;
  r.filterOrder = 3;
  return r;
}

// The flashes of `run` cut online, `chunk` rows at a time, each event given
// before the chunk that holds its sample; the break between two chunks.
std::vector<CutFlash> Online(Recording::Recording& run,
                             long long chunk,
                             Cutter& cutter) {
  std::vector<std::vector<double>> x(run.Channels().size());
  for (size_t c = 0; c < x.size(); ++c) run.ReadChannel(c, x[c]);
  std::vector<double> rows;
  std::vector<CutFlash> cut;
  size_t next = 0;
  for (long long from = 0; from < kSamples;) {
    const long long to =
        std::min(from + chunk, from < kBreak ? kBreak : kSamples);
    if (from == kBreak) cutter.AddBreak();
    for (; next < run.Events().size() && run.Events()[next].sample < to; ++next)
      cutter.AddEvent(run.Events()[next]);
    rows.clear();
    for (long long i = from; i < to; ++i)
      for (const auto& channel : x) rows.push_back(channel[i]);
    cutter.AddSamples(rows.data(), to - from);
    for (CutFlash& flash : cutter.Take()) cut.push_back(std::move(flash));
    from = to;
  }
  return cut;
}

class CutterCuts
    : public ::testing::TestWithParam<std::tuple<Cutting, long long>> {};

TEST_P(CutterCuts, AsTheOfflineCausalCutForEveryChunking) {
  const auto& [cutting, chunk] = GetParam();
  const Recipe recipe = RecipeOf(cutting);
  auto runs = Session();
  Epoching::ExtractReport report;
  const Data::Dataset offline = Epoching::ExtractEpochs(runs, recipe, &report);
  Cutter cutter(report.recipe, {"Fz", "Cz", "Pz"}, kRate);
  std::vector<CutFlash> online = Online(*runs[0], chunk, cutter);
  online.erase(std::remove_if(online.begin(),
                              online.end(),
                              [](const CutFlash& f) { return f.rejected; }),
               online.end());

  ASSERT_EQ(online.size(), static_cast<size_t>(offline.rows));
  double scale = 0;
  for (double v : offline.X) scale = std::max(scale, std::abs(v));
  for (int row = 0; row < offline.rows; ++row) {
    EXPECT_EQ(online[row].label, offline.labels[row]) << "row " << row;
    for (int f = 0; f < offline.cols; ++f)
      ASSERT_NEAR(online[row].features[f], offline.At(row, f), 1e-12 * scale)
          << "flash at " << online[row].event.sample << ", feature "
          << offline.names[f];
  }
  const Epoching::RunReport& run = report.runs[0];
  EXPECT_GT(run.atBreaks.target + run.atBreaks.nonTarget, 0);
  EXPECT_EQ(cutter.Drops().atBreaks,
            run.atBreaks.target + run.atBreaks.nonTarget);
  EXPECT_EQ(
      cutter.Drops().outside + static_cast<long long>(cutter.Pending().size()),
      run.outside.target + run.outside.nonTarget);
  EXPECT_EQ(cutter.Drops().skipped, 1);
  EXPECT_EQ(cutter.Drops().late, 0);
  if (cutting.reject) {
    EXPECT_GT(run.rejected.target + run.rejected.nonTarget, 0);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Chunks, CutterCuts,
    ::testing::Combine(
        ::testing::Values(
            Cutting{"Filtered", 0, 800, 20, {}, Reference::kNone, Band{0.5, 30}, {}},
            Cutting{"BaselineAverageReject", -100, 600, 7, Interval{-100, 0}, Reference::kAverage, Band{1, 12}, 400.0},
            Cutting{"BeforeTheEventUnfiltered", -300, -100, 4, {}, Reference::kNone, {}, {}}),
        ::testing::Values(1, 7, 32, 1000)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             std::to_string(std::get<1>(info.param));
    });
// clang-format on

TEST(Cutter, LetsGoOfSamplesAndCountsAFlashThatComesTooLate) {
  Recipe r = RecipeOf({"", 0, 500, 10, {}, Reference::kNone, Band{1, 20}, {}});
  Cutter cutter(r, {"Cz", "Fz", "Pz"}, kRate);
  std::vector<double> rows(3 * 5000, 100.0);
  cutter.AddSamples(rows.data(), 5000);
  EXPECT_EQ(cutter.Held(), 100 + Cutter::kPiece);
  cutter.AddEvent({5000 - cutter.Held() - 1, "S  2"});
  cutter.AddEvent({5000 - cutter.Held(), "S  2"});
  EXPECT_EQ(cutter.Drops().late, 1);
  ASSERT_EQ(cutter.Take().size(), 1u);
}

struct Refusal {
  const char* name;
  void (*change)(Recipe&, double& rate);
  const char* message;
};

class CutterRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(CutterRefuses, NamingWhy) {
  Recipe r = RecipeOf({"", 0, 500, 10, {}, Reference::kNone, Band{1, 20}, {}});
  r.samplingRate = kRate;
  double rate = kRate;
  GetParam().change(r, rate);
  try {
    Cutter(r, {"Cz", "Fz", "Pz"}, rate);
    FAIL() << "not refused";
  } catch (const Data::DataError& e) {
    EXPECT_THAT(e.what(), HasSubstr(GetParam().message));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Recipes, CutterRefuses,
    ::testing::Values(
        Refusal{"ZeroPhase", [](Recipe& r, double&) { r.filter = Epoching::Filter::kZeroPhase; }, "must be trained with --filter causal"},
        Refusal{"OtherRate", [](Recipe&, double& rate) { rate = 250; }, "where the recipe was made at 200 Hz"},
        Refusal{"Resampled", [](Recipe& r, double& rate) { r.resampleHz = 200; rate = 500; }, "not resampled as they arrive"},
        Refusal{"MissingChannel", [](Recipe& r, double&) { r.channels.push_back("Oz"); }, "no channel Oz among the samples' channels (Cz, Fz, Pz)"},
        Refusal{"NoFlashes", [](Recipe& r, double&) { r.targets.clear(); r.nonTargets.clear(); }, "lists no events"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace Korva::Online
