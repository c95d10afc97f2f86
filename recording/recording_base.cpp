#include "recording/recording_base.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>

#include "data/dataset.h"
#include "platform/huge_pages.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::Recording {

void RecordingBase::CheckChannel(int c) const {
  if (c < 0 || static_cast<size_t>(c) >= header_.channels.size())
    Fail(header_.path,
         "no channel " + std::to_string(c) + " (the recording has " +
             std::to_string(header_.channels.size()) + ")");
}

void RecordingBase::CheckFinite(int c, const std::vector<double>& values) const {
  const auto bad = std::find_if(values.begin(), values.end(), [](double v) {
    return !std::isfinite(v);
  });
  if (bad == values.end()) return;
  const auto i = bad - values.begin();
  char at[64];
  std::snprintf(at,
                sizeof at,
                " (at %.3f s)",
                static_cast<double>(i) / header_.samplingRate);
  Fail(header_.path,
       "channel " + std::to_string(c + 1) + " (" + header_.channels[c].name +
           "): sample " + std::to_string(i + 1) + " of " +
           std::to_string(values.size()) + at + " is " +
           (std::isnan(*bad) ? "NaN" : *bad > 0 ? "+infinity" : "-infinity") +
           "; every sample must be a finite number");
}

bool FiniteScale(SampleType type, double gain, double shift) {
  if (!std::isfinite(gain) || !std::isfinite(shift)) return false;
  if (type == SampleType::kFloat64)
    return true;  // each sample is checked as it is read (CheckFinite)
  // The largest magnitude of the type: FLT_MAX, or 2^bits for integers.
  const double largest =
      type == SampleType::kFloat32
          ? FLT_MAX
          : std::ldexp(1.0, 8 * static_cast<int>(SampleBytes(type)));
  return std::isfinite(largest * std::fabs(gain) + std::fabs(shift));
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks(" \t\r\n\0", 5);
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool ParseFinite(std::string_view text, double& value) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
  };
  // Most fields have no blanks: trim only when an end is one.
  if (!text.empty() && (blank(text.front()) || blank(text.back())))
    text = TrimBlanks(text);
  return Text::ParseDouble(text, value) == Text::NumberStatus::kOk;
}

std::optional<double> FiniteNumber(std::string_view text) {
  double value = 0;
  if (!ParseFinite(text, value)) return std::nullopt;
  return value;
}

std::string AsUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Text::Utf8Char c = Text::DecodeUtf8(text.substr(i));
    if (c.valid) {
      out.append(text.substr(i, c.length));
      i += c.length;
    } else {
      const auto byte = static_cast<unsigned char>(text[i++]);
      out += static_cast<char>(0xc0 | byte >> 6);
      out += static_cast<char>(0x80 | (byte & 0x3f));
    }
  }
  return out;
}

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsOtherSignalName(std::string_view name) {
  static constexpr std::string_view kPrefixes[] = {"status",
                                                   "trig",
                                                   "stim",
                                                   "marker",
                                                   "event",
                                                   "annotation",
                                                   "aux",
                                                   "ecg",
                                                   "ekg",
                                                   "eog",
                                                   "heog",
                                                   "veog",
                                                   "emg",
                                                   "resp",
                                                   "acc",
                                                   "gyro"};
  const std::string lower = Lower(name);
  return std::any_of(std::begin(kPrefixes),
                     std::end(kPrefixes),
                     [&](std::string_view p) { return StartsWith(lower, p); });
}

}  // namespace

double MicrovoltsPer(std::string_view unit) {
  std::string lower = Lower(TrimBlanks(unit));
  // The micro sign in UTF-8 (also the Greek mu) and in Latin-1 becomes 'u'.
  for (std::string_view micro : {"\xc2\xb5", "\xce\xbc", "\xb5"})
    if (StartsWith(lower, micro)) lower = "u" + lower.substr(micro.size());
  if (lower == "v") return 1e6;
  if (lower == "mv") return 1e3;
  if (lower == "uv") return 1;
  if (lower == "nv") return 1e-3;
  return 0;
}

Channel MakeChannel(std::string_view name,
                    std::string_view unit,
                    double& factor) {
  Channel channel;
  channel.name = AsUtf8(TrimBlanks(name));
  factor = MicrovoltsPer(unit);
  channel.eeg = factor != 0 && !IsOtherSignalName(channel.name);
  if (factor != 0) {
    channel.unit = "uV";
  } else {
    channel.unit = AsUtf8(TrimBlanks(unit));
    factor = 1;
  }
  return channel;
}

void SetChannelType(Channel& channel, std::string_view type) {
  type = TrimBlanks(type);
  if (type.empty()) return;
  channel.type = AsUtf8(type);
  for (char& c : channel.type)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  channel.eeg = channel.type == "EEG";
}

long long MostCommonCount(const std::vector<long long>& counts) {
  std::map<long long, int> tally;
  for (long long count : counts) ++tally[count];
  long long best = 0;
  int bestTally = 0;
  for (const auto& [count, times] : tally)
    if (times >= bestTally) {
      best = count;
      bestTally = times;
    }
  return best;
}

std::string LeftOutNote(const std::vector<std::string>& names, double rate) {
  if (names.empty()) return "";
  std::string list;
  for (size_t i = 0; i < std::min<size_t>(names.size(), kNamesShown); ++i)
    list += (i ? ", " : "") + AsUtf8(names[i]);
  if (names.size() > kNamesShown)
    list += " and " + std::to_string(names.size() - kNamesShown) + " more";
  char hz[32];
  std::snprintf(hz, sizeof(hz), "%g", rate);
  return std::to_string(names.size()) +
         (names.size() == 1 ? " channel" : " channels") +
         " at another sampling rate than " + hz + " Hz left out: " + list;
}

long long SampleAt(double seconds, double rate) {
  const double sample = std::nearbyint(seconds * rate);
  // Far outside any recording (or NaN): left out as such, never converted
  // out of range.
  if (!(std::fabs(sample) < 0x1p62)) return sample > 0 ? LLONG_MAX : LLONG_MIN;
  return static_cast<long long>(sample);
}

void SettleEvents(Header& header) {
  std::vector<Event>& events = header.events;
  std::stable_sort(
      events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.sample < b.sample;
      });
  const auto inside =
      std::stable_partition(events.begin(), events.end(), [&](const Event& e) {
        return e.sample >= 0 && e.sample < header.samples;
      });
  const size_t outside = static_cast<size_t>(events.end() - inside);
  if (outside == 0) return;
  events.erase(inside, events.end());
  header.notes.push_back(std::to_string(outside) +
                         (outside == 1 ? " event lies" : " events lie") +
                         " outside the recording and " +
                         (outside == 1 ? "is" : "are") + " left out");
}

void FreeMemory::operator()(void* data) const { std::free(data); }

Memory AllocateMemory(std::size_t bytes) {
  constexpr std::size_t kHuge = std::size_t{1} << 21;
  const std::size_t size =
      (std::max<std::size_t>(bytes, 1) + kHuge - 1) & ~(kHuge - 1);
  void* data = std::aligned_alloc(kHuge, size);
  if (data == nullptr) throw std::bad_alloc();
  // Filled as readers go: pages are mapped when first touched.
  AdviseHugePages(data, size, Populate::kNo);
  return Memory(static_cast<unsigned char*>(data));
}

void Fail(const std::string& path, const std::string& what) {
  throw Data::DataError(path + ": " + what);
}

}  // namespace Korva::Recording
