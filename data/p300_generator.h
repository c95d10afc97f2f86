#ifndef KORVA_DATA_P300_GENERATOR_H_
#define KORVA_DATA_P300_GENERATOR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data/dataset.h"

namespace Korva::Data {

// Settings of the built-in P300-like data set.
struct GeneratorOptions {
  int epochs = 720;                // rows, at least 1
  int channels = 8;                // 1 .. kMaxGeneratorChannels
  int samples = 20;                // time samples per channel over 0-800 ms
  std::uint64_t seed = 1;          // the same seed gives the same values
  double targetRatio = 1.0 / 6.0;  // share of target (+1) epochs, in (0, 1)
};

constexpr int kMaxGeneratorChannels = 32;
constexpr int kMaxGeneratorSamples = 1000;
constexpr double kEpochLengthMs = 800.0;

// The channel names the generator uses, in order (kMaxGeneratorChannels).
const std::vector<std::string>& GeneratorChannelNames();

// Empty when the options are usable, else why not.
std::string CheckGeneratorOptions(const GeneratorOptions& options);

// A deterministic set of P300-like epochs: epochs x (channels * samples)
// values in microvolts, channel-major columns named CHANNEL_SAMPLE ("Cz_07",
// samples counted from 1), labels +1 (target, round(epochs * targetRatio) of
// them) and -1. Throws std::invalid_argument for options that
// CheckGeneratorOptions refuses.
Dataset GenerateP300(const GeneratorOptions& options);

// Settings of a simulated continuous recording of a P300 session: flashes
// at a fixed pace, each followed by the responses of GenerateP300.
struct SessionOptions {
  double seconds = 120;            // length, at least kMinSessionSeconds
  double rate = 256;               // samples per second, 64 .. 4096
  int channels = 8;                // 1 .. kMaxGeneratorChannels
  std::uint64_t seed = 1;          // the same seed gives the same values
  double targetRatio = 1.0 / 6.0;  // share of target flashes, in (0, 1)
};

constexpr double kMinSessionSeconds = 5.0;
constexpr double kFlashIntervalMs = 250.0;

// A simulated recording: every channel at one rate, samples multiplexed.
struct Session {
  double rate = 0;
  std::vector<std::string> channels;
  long long samples = 0;          // per channel
  std::vector<float> values;      // samples x channels, microvolts
  std::vector<long long> onsets;  // of the flashes, sample from 0
  std::vector<double> labels;     // per flash: +1 target, -1 non-target
};

// Empty when the options are usable, else why not.
std::string CheckSessionOptions(const SessionOptions& options);

// A deterministic session: a flash every kFlashIntervalMs from 1 s until
// 1 s before the end, round(flashes * targetRatio) of them targets. Every
// flash adds the responses of GenerateP300's model (the visual response,
// and for targets the N2 and the P300) from its onset on, overlapping the
// next flashes', to continuous background EEG (the sources of GenerateP300,
// sample after sample), a slow drift of each channel (time constant 2 s,
// 10 uV) and amplifier noise. Throws std::invalid_argument for options that
// CheckSessionOptions refuses.
Session GenerateP300Session(const SessionOptions& options);

// A session of the flashes a caller placed: `onsets` (samples from 0, at
// `options.rate`, increasing) with `labels` (+1 target, -1), `options.seconds`
// long, the responses and background as GenerateP300Session makes them
// (`options.targetRatio` is not used). Throws std::invalid_argument for
// options that CheckSessionOptions refuses, or flashes that do not fit.
Session GeneratePlannedSession(const SessionOptions& options,
                               std::vector<long long> onsets,
                               std::vector<double> labels);

}  // namespace Korva::Data

#endif  // KORVA_DATA_P300_GENERATOR_H_
