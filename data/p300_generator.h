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

}  // namespace Korva::Data

#endif  // KORVA_DATA_P300_GENERATOR_H_
