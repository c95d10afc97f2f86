#include "epoching/epochs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "epoching/band_pass.h"
#include "epoching/recipe.h"
#include "testing/cutting.h"
#include "testing/memory_recording.h"

namespace Korva::Epoching {
namespace {

using Recording::Break;
using Recording::Channel;
using Recording::RateSource;
using Recording::Event;
using ::testing::HasSubstr;
using Testing::ApplyCutting;
using Testing::Cutting;

using Testing::MemoryRecording;

constexpr double kRate = 100;  // Hz: 10 ms per sample
constexpr long long kSamples = 1000;

// Three channels (Fz, Cz, EOG, which is not EEG) of pseudo-random signals,
// and events 1 (non-target), 2 (target) and 3 (neither) every 40 samples,
// and near the ends, where windows of 100 ms before and 400 ms after the
// event just fit or just cross them.
std::unique_ptr<Recording::Recording> Run(const std::string& path,
                                          unsigned seed,
                                          long long n = kSamples) {
  std::vector<std::vector<double>> samples(3, std::vector<double>(n));
  for (auto& channel : samples)
    for (double& v : channel) {
      seed = seed * 1103515245u + 12345u;
      v = (seed >> 8) % 2001 / 10.0 - 100.0;
    }
  if (n > 502) samples[1][502] = 900;  // a spike for the epochs near 500
  std::vector<Event> events = {{5, "S  2"}, {9, "S  1"}, {10, "S  2"}};
  for (long long onset = 40; onset < 960; onset += 40)
    events.push_back({onset, "S  " + std::to_string(1 + onset / 40 % 3)});
  for (long long onset : {960, 961, 995}) events.push_back({onset, "S  1"});
  return std::make_unique<MemoryRecording>(
      path,
      kRate,
      std::vector<Channel>{
          {"Fz", "uV", true, ""},
          {"Cz", "uV", true, ""},
          {"EOG", "uV", false, "EOG"}},
      std::move(samples),
      std::move(events));
}

std::vector<std::unique_ptr<Recording::Recording>> Runs() {
  std::vector<std::unique_ptr<Recording::Recording>> runs;
  runs.push_back(Run("a.vhdr", 1));
  runs.push_back(Run("b.vhdr", 2));
  return runs;
}

Recipe BaseRecipe() {
  Recipe r;
  r.targets = {"2"};
  r.nonTargets = {"S1"};
  r.band.reset();
  r.windowEndMs = 400;
  r.bins = 4;
  return r;
}

// One epoch computed directly from the samples: its features, and the
// largest peak-to-peak of its window over the channels.
struct DirectEpoch {
  std::vector<double> features;
  double peakToPeak = 0;
};

DirectEpoch Direct(Recording::Recording& run,
                   const Recipe& r,
                   long long onset) {
  const Window w = EpochWindow(r, kRate);
  std::vector<std::vector<double>> x(r.channels.size());
  for (size_t c = 0; c < x.size(); ++c) run.ReadChannel(c, x[c]);
  if (r.reference == Reference::kAverage)
    for (long long i = 0; i < kSamples; ++i) {
      double mean = 0;
      for (auto& channel : x) mean += channel[i] / x.size();
      for (auto& channel : x) channel[i] -= mean;
    }
  DirectEpoch epoch;
  for (auto& channel : x) {
    if (r.band)
      BandPass(r.filterOrder, r.band->low, r.band->high, kRate)
          .Apply(channel.data(), kSamples);
    double baseline = 0;
    for (long long i = 0; i < w.baselineLength; ++i)
      baseline += channel[onset + w.baselineStart + i] / w.baselineLength;
    for (long long b = 0; b < r.bins; ++b) {
      double bin = 0;
      for (long long i = 0; i < w.binWidth; ++i)
        bin += channel[onset + w.start + b * w.binWidth + i] / w.binWidth;
      epoch.features.push_back(bin - baseline);
    }
    const auto window = channel.begin() + onset + w.start;
    const auto [low, high] = std::minmax_element(window, window + w.length);
    epoch.peakToPeak = std::max(epoch.peakToPeak, *high - *low);
  }
  return epoch;
}


class ExtractEpochsCuts : public ::testing::TestWithParam<Cutting> {};

TEST_P(ExtractEpochsCuts, AsComputedDirectlyWithCountsPerClass) {
  const Cutting& cutting = GetParam();
  Recipe r = BaseRecipe();
  r.channels = {"Fz", "Cz"};
  ApplyCutting(cutting, r);
  auto runs = Runs();
  ExtractReport report;
  const Data::Dataset data = ExtractEpochs(runs, r, &report);
  const Window& w = report.window;

  size_t row = 0;
  for (size_t k = 0; k < runs.size(); ++k) {
    ClassCounts kept, outside, rejected;
    for (const Event& event : runs[k]->Events()) {
      if (event.code == "S  3") continue;
      const bool target = event.code == "S  2";
      const long long first = std::min(w.start, w.baselineStart);
      const long long last =
          std::max(w.start + w.length, w.baselineStart + w.baselineLength);
      if (event.sample + first < 0 || event.sample + last > kSamples) {
        ++outside[target];
        continue;
      }
      const DirectEpoch expected = Direct(*runs[k], r, event.sample);
      if (cutting.reject && expected.peakToPeak > *cutting.reject) {
        ++rejected[target];
        continue;
      }
      ++kept[target];
      ASSERT_LT(row, static_cast<size_t>(data.rows));
      EXPECT_EQ(data.labels[row], target ? 1 : -1);
      EXPECT_EQ(data.groupNames[data.groups[row]], std::to_string(k + 1));
      for (size_t f = 0; f < expected.features.size(); ++f)
        EXPECT_NEAR(data.At(row, f), expected.features[f], 1e-9)
            << "run " << k << ", onset " << event.sample << ", feature "
            << data.names[f];
      ++row;
    }
    EXPECT_EQ(report.runs[k].kept.target, kept.target);
    EXPECT_EQ(report.runs[k].kept.nonTarget, kept.nonTarget);
    EXPECT_EQ(report.runs[k].outside.target, outside.target);
    EXPECT_EQ(report.runs[k].outside.nonTarget, outside.nonTarget);
    EXPECT_EQ(report.runs[k].rejected.target, rejected.target);
    EXPECT_EQ(report.runs[k].rejected.nonTarget, rejected.nonTarget);
    EXPECT_EQ(report.runs[k].skipped.at("S  3"), 8);
  }
  EXPECT_EQ(row, static_cast<size_t>(data.rows));
  if (cutting.reject) {
    EXPECT_LT(data.rows, 46) << "nothing was rejected";
  }
  EXPECT_EQ(data.names.front(), "Fz_01");
  EXPECT_EQ(data.names.back(),
            "Cz_" + std::string(cutting.bins < 10 ? "0" : "") +
                std::to_string(cutting.bins));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Recipes, ExtractEpochsCuts,
    ::testing::Values(
        Cutting{"TwoBins", 0, 400, 2, {}, Reference::kNone, {}, {}},
        Cutting{"EverySample", 0, 100, 10, {}, Reference::kNone, {}, {}},
        Cutting{"OneSample", 0, 10, 1, {}, Reference::kNone, {}, {}},
        Cutting{"OneSampleBeforeAndItsBaseline", -10, 0, 1, Interval{-10, 0}, Reference::kNone, {}, {}},
        Cutting{"HalvesRoundAwayFromZero", -5, 15, 3, Interval{-25, -5}, Reference::kNone, {}, {}},
        Cutting{"BeforeTheEvent", -100, 300, 8, {}, Reference::kNone, {}, {}},
        Cutting{"BaselineBefore", 0, 400, 4, Interval{-100, 0}, Reference::kNone, {}, {}},
        Cutting{"BaselineInside", -50, 450, 5, Interval{-50, 0}, Reference::kNone, {}, {}},
        Cutting{"Average", 0, 400, 4, {}, Reference::kAverage, {}, {}},
        Cutting{"Filtered", 0, 400, 4, {}, Reference::kNone, Band{1, 20}, {}},
        Cutting{"AverageFiltered", 0, 400, 10, Interval{-100, 0}, Reference::kAverage, Band{0.5, 30}, {}},
        Cutting{"Reject", 0, 400, 4, {}, Reference::kNone, {}, 600.0},
        Cutting{"RejectAverageFiltered", -100, 400, 5, {}, Reference::kAverage, Band{1, 12}, 350.0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A recipe or recording that ExtractEpochs refuses, and what it must say.
struct Refusal {
  const char* name;
  void (*change)(Recipe&, std::vector<std::unique_ptr<Recording::Recording>>&);
  const char* message;
};

class ExtractEpochsRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ExtractEpochsRefuses, SayingWhy) {
  Recipe r = BaseRecipe();
  auto runs = Runs();
  GetParam().change(r, runs);
  try {
    ExtractEpochs(runs, r, nullptr);
    FAIL() << "accepted";
  } catch (const Data::DataError& error) {
    EXPECT_THAT(error.what(), HasSubstr(GetParam().message));
  }
}

using Runs_ = std::vector<std::unique_ptr<Recording::Recording>>;

MemoryRecording& Memory(Runs_& runs, size_t k) {
  return static_cast<MemoryRecording&>(*runs[k]);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Recipes, ExtractEpochsRefuses,
    ::testing::Values(
        Refusal{"UnknownChannel", [](Recipe& r, Runs_&) { r.channels = {"Fz", "Pz"}; },
                "a.vhdr: no channel Pz (its channels: Fz, Cz, EOG)"},
        Refusal{"NoMatchingEvent", [](Recipe& r, Runs_&) { r.targets = {"7", "S  8"}; },
                "a.vhdr: no event matches the target list (7, S  8); its events: S  1 (11), S  2 (10), S  3 (8)"},
        Refusal{"NoMatchInALaterRun", [](Recipe& r, Runs_& runs) {
                  r.nonTargets = {"1"};
                  runs.push_back(std::make_unique<MemoryRecording>(
                      "c.vhdr", kRate, runs[0]->Channels(),
                      std::vector<std::vector<double>>(3, std::vector<double>(99)),
                      std::vector<Event>{{50, "S  2"}}));
                }, "c.vhdr: no event matches the non-target list (1)"},
        Refusal{"WindowLongerThanTheFile", [](Recipe& r, Runs_&) { r.windowEndMs = 20000; },
                "no event has its whole window in its file"},
        Refusal{"BinsDoNotDivide", [](Recipe& r, Runs_&) { r.windowEndMs = 410; },
                "the window 0 to 410 ms is 41 samples at 100 Hz, which do not divide into 4 bins; "
                "bin counts that fit: 1, 41; or, for 4 bins, a window end of 400 ms (40 samples) "
                "or 440 ms (44 samples)"},
        Refusal{"WindowShorterThanASample", [](Recipe& r, Runs_&) { r.windowEndMs = 4; },
                "the window 0 to 4 ms holds no sample at 100 Hz"},
        Refusal{"BaselineShorterThanASample", [](Recipe& r, Runs_&) { r.baseline = Interval{-4, 0}; },
                "the baseline -4 to 0 ms holds no sample at 100 Hz"},
        Refusal{"BandAboveHalfTheRate", [](Recipe& r, Runs_&) { r.band = Band{1, 50}; },
                "a.vhdr: sampled at 100 Hz, too slow for a band up to 50 Hz"},
        Refusal{"FileShorterThanThePadding", [](Recipe& r, Runs_& runs) {
                  r.band = Band{1, 20};
                  r.filterOrder = 8;
                  runs[1] = Run("short.vhdr", 3, 51);
                }, "short.vhdr: 51 samples are too few for the band-pass filter, which needs more than 51"},
        Refusal{"RunsAtTwoRates", [](Recipe&, Runs_& runs) {
                  runs.push_back(std::make_unique<MemoryRecording>(
                      "c.vhdr", 2 * kRate, runs[0]->Channels(),
                      std::vector<std::vector<double>>(3, std::vector<double>(999)),
                      std::vector<Event>{{50, "S  2"}}));
                }, "c.vhdr: sampled at 200 Hz, and a.vhdr at 100 Hz: --resample 100 reads recordings of different rates at one"},
        Refusal{"OtherRate", [](Recipe& r, Runs_&) { r.samplingRate = 250; },
                "a.vhdr: sampled at 100 Hz, where the recipe was made at 250 Hz"},
        Refusal{"OtherRateFromTimeStamps", [](Recipe& r, Runs_& runs) {
                  r.samplingRate = 100.5;
                  Memory(runs, 0).source = RateSource::kTimes;
                  Memory(runs, 0).uncertainty = 0.02;
                }, "a.vhdr: sampled at 100 Hz by its time column (give or take 0.02), where the recipe "
                   "was made at 100.5 Hz; --sampling-rate 100.5 reads it at the recipe's rate"},
        Refusal{"EventInBothLists", [](Recipe& r, Runs_&) { r.nonTargets = {"1", "S  2"}; },
                "recipe: event 2 is in the target list and as S  2 in the non-target list"},
        Refusal{"EveryEpochRejected", [](Recipe& r, Runs_&) { r.rejectMicrovolts = 1; },
                "every epoch was rejected"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Runs whose samples look wrong, or whose rate or continuity is in doubt,
// are cut all the same, with what the user should hear of them.
struct Doubt {
  const char* name;
  void (*change)(Recipe&, Runs_&);
  const char* said;  // part of the first run's warnings and notes
  long long atBreaks = 0;
};

class ExtractEpochsDoubts : public ::testing::TestWithParam<Doubt> {};

TEST_P(ExtractEpochsDoubts, CutTheRunsAndSaySo) {
  Recipe r = BaseRecipe();
  r.band = Band{1, 20};
  r.filterOrder = 2;
  auto runs = Runs();
  const int all = ExtractEpochs(Runs(), r, nullptr).rows;
  GetParam().change(r, runs);
  ExtractReport report;
  const Data::Dataset data = ExtractEpochs(runs, r, &report);
  std::string said;
  for (const auto* list : {&report.runs[0].warnings, &report.runs[0].notes})
    for (const std::string& text : *list) said += text + "\n";
  EXPECT_THAT(said, HasSubstr(GetParam().said));
  EXPECT_EQ(report.runs[0].atBreaks.target + report.runs[0].atBreaks.nonTarget,
            GetParam().atBreaks);
  EXPECT_TRUE(report.runs[1].warnings.empty());
  EXPECT_EQ(report.leftOut, std::vector<std::string>{"EOG"});
  EXPECT_EQ(data.rows, all - GetParam().atBreaks);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Runs, ExtractEpochsDoubts,
    ::testing::Values(
        Doubt{"FlatChannel", [](Recipe&, Runs_& runs) { Memory(runs, 0).Samples(0).assign(kSamples, 5); },
              "channel Fz (5 uV) is flat: one value in every sample"},
        Doubt{"RailedChannel", [](Recipe&, Runs_& runs) {
                auto& x = Memory(runs, 0).Samples(1);
                for (long long i = 0; i < kSamples; i += 50) x[i] = 1000;
              }, "channel Cz (2.1 %) sits at its lowest or highest value in that share of the samples"},
        Doubt{"IdenticalChannels", [](Recipe&, Runs_& runs) {
                Memory(runs, 0).Samples(1) = Memory(runs, 0).Samples(0);
              }, "channels Fz and Cz hold the same samples"},
        Doubt{"VoltsDeclaredAsMicrovolts", [](Recipe&, Runs_& runs) {
                for (double& v : Memory(runs, 0).Samples(0)) v *= 1e-6;
              }, "channel Fz (5.8e-05 uV) varies by less than any EEG (a standard deviation below 0.01 uV)"},
        Doubt{"MicrovoltsDeclaredAsVolts", [](Recipe&, Runs_& runs) {
                for (double& v : Memory(runs, 0).Samples(1)) v *= 1e6;
              }, "channel Cz (6.5e+07 uV) varies by more than any EEG (a standard deviation above 10000 uV)"},
        Doubt{"ZerosAtTheOnsets", [](Recipe&, Runs_& runs) {
                for (const Event& e : runs[0]->Events())
                  for (int c : {0, 1}) Memory(runs, 0).Samples(c)[e.sample] = 0;
              }, "at 19 of 19 epoch onsets every chosen channel is exactly 0"},
        Doubt{"ABreak", [](Recipe&, Runs_& runs) { Memory(runs, 0).breaks = {{500, "a new segment"}}; },
              "not continuous at 1 place (a new segment): the filter ran on each part alone, and 1 epoch "
              "across a break or in a part too short to filter was dropped", 1},
        Doubt{"RateWithinItsTimeStamps", [](Recipe& r, Runs_& runs) {
                r.samplingRate = 100.01;
                for (size_t k : {0, 1}) {
                  Memory(runs, k).source = RateSource::kTimes;
                  Memory(runs, k).uncertainty = 0.02;
                }
              }, "read at 100.01 Hz, the recipe's rate, which its time stamps hold: they give 100 Hz, "
                 "give or take 0.02"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The default window at the common rates: 20 bins of about 40 ms from 0,
// and of one sample each where 800 ms hold fewer than 20.
TEST(EpochWindow, DefaultEndHoldsWholeBinsAtCommonRates) {
  Recipe r;
  // clang-format off
  const std::pair<double, long long> rates[] = {
      {10, 1}, {128, 5}, {250, 10}, {256, 10}, {500, 20}, {512, 21}, {1000, 40},
      {1024, 41}, {2048, 82}};
  // clang-format on
  for (const auto& [fs, width] : rates) {
    const Window w = EpochWindow(r, fs);
    EXPECT_EQ(w.start, 0);
    EXPECT_EQ(w.binWidth, width) << fs << " Hz";
    EXPECT_EQ(w.length, 20 * width) << fs << " Hz";
  }
  r.windowStartMs = -100;  // -25.6 samples at 256 Hz rounds to -26
  EXPECT_EQ(EpochWindow(r, 256).start, -26);
  EXPECT_EQ(EpochWindow(r, 256).length, 240);  // round((205 + 26) / 20) = 12
  r.windowStartMs = -5;  // at 100 Hz: -0.5 rounds to -1, 1.5 to 2, -2.5 to -3
  r.windowEndMs = 15;
  r.bins = 3;
  r.baseline = Interval{-25, -5};
  const Window w = EpochWindow(r, 100);
  EXPECT_EQ(std::vector<long long>({w.start, w.length, w.binWidth, w.baselineStart, w.baselineLength}),
            std::vector<long long>({-1, 3, 1, -3, 2}));
}

TEST(EventMatches, StimulusNumbersByNumberOtherTextsExactly) {
  for (const char* entry : {"2", "S2", "S  2", "Stimulus/S  2", " 02 "})
    for (const char* code : {"2", "S 2", "S  2", "Stimulus/S  2", "S002"})
      EXPECT_TRUE(EventMatches(entry, code)) << entry << " / " << code;
  EXPECT_FALSE(EventMatches("2", "R  2"));
  EXPECT_FALSE(EventMatches("2", "12"));
  EXPECT_FALSE(EventMatches("2", "Stimulus/R  2"));
  EXPECT_FALSE(EventMatches("target", "Target"));
  EXPECT_TRUE(EventMatches("Comment/flash", " Comment/flash"));
}

}  // namespace
}  // namespace Korva::Epoching
