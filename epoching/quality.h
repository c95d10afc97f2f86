#ifndef KORVA_EPOCHING_QUALITY_H_
#define KORVA_EPOCHING_QUALITY_H_

// What the samples of a recording say about the data, gathered while the
// chosen channels are read for their epochs, and the warnings a user should
// hear: flat, railed and identical channels, samples at a scale no EEG has,
// epochs whose onset is exactly 0 on every channel, breaks in the recording.

#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace Korva::Epoching {

// A channel's raw samples (before reference and filter), summed up.
struct ChannelSummary {
  std::string name;
  long long samples = 0;
  double low = 0, high = 0;  // the smallest and the largest sample
  long long atEnds = 0;      // samples equal to `low` or `high`
  double deviation = 0;      // standard deviation, µV
  std::uint64_t hash = 0;    // of the samples' bits, in order
};

// The summary of the `n` samples at `x`.
ChannelSummary Summarize(const std::string& name, const double* x, long long n);

// What one run's checks found.
struct RunQuality {
  std::vector<ChannelSummary> channels;  // the chosen ones, in recipe order
  // Per epoch of the run, whether every chosen channel is exactly 0 at its
  // onset so far.
  std::vector<char> zeroOnset;
};

// The limits of the checks: a channel is railed when this share of its
// samples sits at its lowest or highest value; EEG has a standard deviation
// between these (µV); onsets that are 0 on every channel count when they
// are this share of the epochs.
constexpr double kRailedShare = 0.01;
constexpr double kMaxEegDeviation = 1e4;  // 10 mV
constexpr double kMinEegDeviation = 0.01;
constexpr double kZeroOnsetShare = 0.1;

// The warnings of `quality` and of the recording's breaks (`atBreaks`
// epochs dropped there), one sentence each, without the file's name.
std::vector<std::string> QualityWarnings(
    const RunQuality& quality,
    const std::vector<Recording::Break>& breaks,
    long long atBreaks);

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_QUALITY_H_
