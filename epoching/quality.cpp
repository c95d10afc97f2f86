#include "epoching/quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "text/number_text.h"

namespace Korva::Epoching {
namespace {

// FNV-1a's constants, applied a 64-bit word at a time.
constexpr std::uint64_t kHashBasis = 0xcbf29ce484222325u;
constexpr std::uint64_t kHashPrime = 0x100000001b3u;

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

// "channel Fz is" or "channels Fz and Cz are", as the list is long.
std::string Subject(const std::vector<std::string>& names,
                    const char* one,
                    const char* many) {
  return (names.size() == 1 ? "channel " : "channels ") + Listed(names) +
         (names.size() == 1 ? one : many);
}

std::string Number(double value, int digits = 3) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.*g", digits, value);
  return text;
}

// The per-channel findings: flat, railed, and at a scale no EEG has.
void ChannelWarnings(const std::vector<ChannelSummary>& channels,
                     std::vector<std::string>& out) {
  std::vector<std::string> flat, railed, loud, quiet;
  for (const ChannelSummary& c : channels) {
    if (c.samples == 0) continue;
    if (c.low == c.high) {
      flat.push_back(c.name + " (" + Text::FormatDouble(c.low) + " uV)");
      continue;
    }
    const double share = static_cast<double>(c.atEnds) / c.samples;
    if (share >= kRailedShare)
      railed.push_back(c.name + " (" + Number(100 * share, 2) + " %)");
    if (c.deviation > kMaxEegDeviation)
      loud.push_back(c.name + " (" + Number(c.deviation) + " uV)");
    else if (c.deviation < kMinEegDeviation)
      quiet.push_back(c.name + " (" + Number(c.deviation) + " uV)");
  }
  if (!flat.empty())
    out.push_back(Subject(flat, " is", " are") +
                  " flat: one value in every sample");
  if (!railed.empty())
    out.push_back(Subject(railed, " sits", " sit") +
                  " at its lowest or highest value in that share of the "
                  "samples: a railed or clipped amplifier?");
  if (!loud.empty())
    out.push_back(Subject(loud, " varies", " vary") +
                  " by more than any EEG (a standard deviation above " +
                  Number(kMaxEegDeviation, 6) +
                  " uV): microvolt numbers declared as volts?");
  if (!quiet.empty())
    out.push_back(Subject(quiet, " varies", " vary") +
                  " by less than any EEG (a standard deviation below " +
                  Number(kMinEegDeviation, 6) +
                  " uV): numbers in volts declared as microvolts?");
}

// Channels that are not flat and hold the same samples, by their hash.
void IdenticalChannels(const std::vector<ChannelSummary>& channels,
                       std::vector<std::string>& out) {
  std::map<std::uint64_t, std::vector<std::string>> same;
  for (const ChannelSummary& c : channels)
    if (c.samples > 0 && c.low != c.high) same[c.hash].push_back(c.name);
  for (const auto& [hash, names] : same)
    if (names.size() > 1)
      out.push_back("channels " + Listed(names) +
                    " hold the same samples: one electrode written twice?");
}

std::string BreaksWarning(const std::vector<Recording::Break>& breaks,
                          long long atBreaks) {
  constexpr size_t kShown = 3;
  std::vector<std::string> whys;
  for (size_t b = 0; b < std::min(breaks.size(), kShown); ++b)
    whys.push_back(breaks[b].why);
  if (breaks.size() > kShown)
    whys.push_back(std::to_string(breaks.size() - kShown) + " more");
  return "the recording is not continuous at " +
         std::to_string(breaks.size()) +
         (breaks.size() == 1 ? " place (" : " places (") + Listed(whys) +
         "): the filter ran on each part alone, and " +
         std::to_string(atBreaks) +
         (atBreaks == 1 ? " epoch" : " epochs") +
         " across a break or in a part too short to filter " +
         (atBreaks == 1 ? "was" : "were") + " dropped";
}

}  // namespace

ChannelSummary Summarize(const std::string& name,
                         const double* x,
                         long long n) {
  ChannelSummary s;
  s.name = name;
  s.samples = n;
  if (n == 0) return s;
  // Sums about the first sample keep the deviation accurate under a large
  // offset; four hash lanes let the multiplications overlap.
  const double origin = x[0];
  double low = x[0], high = x[0], sum = 0, squares = 0;
  std::uint64_t lanes[4] = {kHashBasis, kHashBasis, kHashBasis, kHashBasis};
  for (long long i = 0; i < n; ++i) {
    low = x[i] < low ? x[i] : low;
    high = x[i] > high ? x[i] : high;
    const double d = x[i] - origin;
    sum += d;
    squares += d * d;
    lanes[i & 3] = (lanes[i & 3] ^ Bits(x[i])) * kHashPrime;
  }
  s.low = low;
  s.high = high;
  const double mean = sum / n;
  s.deviation = std::sqrt(std::max(0.0, squares / n - mean * mean));
  s.hash = kHashBasis;
  for (std::uint64_t lane : lanes) s.hash = (s.hash ^ lane) * kHashPrime;
  if (low < high)
    for (long long i = 0; i < n; ++i) s.atEnds += x[i] == low || x[i] == high;
  return s;
}

std::vector<std::string> QualityWarnings(
    const RunQuality& quality,
    const std::vector<Recording::Break>& breaks,
    long long atBreaks) {
  std::vector<std::string> out;
  ChannelWarnings(quality.channels, out);
  IdenticalChannels(quality.channels, out);
  const auto epochs = static_cast<long long>(quality.zeroOnset.size());
  const long long zeros = std::count(
      quality.zeroOnset.begin(), quality.zeroOnset.end(), char{1});
  const bool allFlat = std::all_of(
      quality.channels.begin(),
      quality.channels.end(),
      [](const ChannelSummary& c) { return c.low == c.high; });
  if (zeros > 0 && zeros >= kZeroOnsetShare * epochs && !allFlat)
    out.push_back("at " + std::to_string(zeros) + " of " +
                  std::to_string(epochs) +
                  " epoch onsets every chosen channel is exactly 0: rows "
                  "written for the markers rather than samples?");
  if (!breaks.empty()) out.push_back(BreaksWarning(breaks, atBreaks));
  return out;
}

}  // namespace Korva::Epoching
