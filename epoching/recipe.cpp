#include "epoching/recipe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "data/dataset.h"
#include "epoching/band_pass.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::Epoching {
namespace {

using Data::DataError;
using Text::FormatDouble;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What an event text means: "S<number>" for a stimulus number, else the
// text itself.
std::string EventKey(const std::string& text) {
  std::string t = Trim(text);
  size_t i = 0;
  if (t.compare(0, 9, "Stimulus/") == 0) i = 9;
  const bool marked = i < t.size() && t[i] == 'S';
  if (marked)
    i = t.find_first_not_of(' ', i + 1);
  else if (i > 0)
    return t;
  if (i == std::string::npos || i == t.size() ||
      t.find_first_not_of("0123456789", i) != std::string::npos)
    return t;
  const size_t digit = std::min(t.find_first_not_of('0', i), t.size() - 1);
  return "S" + t.substr(digit);
}

// "low-high" with the shortest decimals.
std::string Range(double low, double high) {
  return FormatDouble(low) + "-" + FormatDouble(high);
}

// "start to end": times may be negative.
std::string Span(double start, double end) {
  return FormatDouble(start) + " to " + FormatDouble(end);
}

std::string Join(const std::vector<std::string>& items, const char* glue) {
  std::string joined;
  for (const std::string& item : items)
    joined += (joined.empty() ? "" : glue) + item;
  return joined;
}

// The first `shown` items joined by ", ", then "and N more".
std::string Some(const std::vector<std::string>& items, size_t shown = 20) {
  std::string joined;
  for (size_t i = 0; i < std::min(shown, items.size()); ++i)
    joined += (i ? ", " : "") + items[i];
  if (items.size() > shown)
    joined += " and " + std::to_string(items.size() - shown) + " more";
  return joined;
}

// Why `name`, an entry of the recipe's `list`, cannot be kept: a control
// character (a document, a terminal or a C string would change it).
std::string ControlIn(const std::string& name, const char* list) {
  const auto code = Text::FirstControlCharacter(name);
  if (!code) return "";
  char text[96];
  std::snprintf(text,
                sizeof text,
                "%s holds a control character (U+%04X)",
                list,
                static_cast<unsigned>(*code));
  return text;
}

std::string CheckEvents(const Recipe& r, bool required) {
  if (required && r.targets.empty()) return "the target event list is empty";
  if (required && r.nonTargets.empty())
    return "the non-target event list is empty";
  std::map<std::string, std::string> targets;
  for (const std::string& entry : r.targets) {
    if (Trim(entry).empty()) return "an event of the target list is empty";
    if (auto why = ControlIn(entry, "an event of the target list");
        !why.empty())
      return why;
    targets.emplace(EventKey(entry), entry);
  }
  for (const std::string& entry : r.nonTargets) {
    if (Trim(entry).empty()) return "an event of the non-target list is empty";
    if (auto why = ControlIn(entry, "an event of the non-target list");
        !why.empty())
      return why;
    if (auto it = targets.find(EventKey(entry)); it != targets.end())
      return "event " + it->second + " is in the target list and " +
             (entry == it->second ? "" : "as " + entry + " ") +
             "in the non-target list";
  }
  return "";
}

// The window's and the baseline's ends within kMaxReachMs of the event.
std::string CheckReach(const Recipe& r) {
  const auto far = [](double ms) { return !(std::fabs(ms) <= kMaxReachMs); };
  const std::string limit = ": its ends must lie within " +
                            FormatDouble(kMaxReachMs) + " ms of the event";
  if (far(r.windowStartMs) || (r.windowEndMs && far(*r.windowEndMs)))
    return "window " +
           Span(r.windowStartMs, r.windowEndMs.value_or(kDefaultWindowMs)) +
           " ms" + limit;
  if (r.baseline && (far(r.baseline->startMs) || far(r.baseline->endMs)))
    return "baseline " + Span(r.baseline->startMs, r.baseline->endMs) + " ms" +
           limit;
  return "";
}

std::string CheckNumbers(const Recipe& r) {
  if (r.band && !(r.band->low > 0 && r.band->low < r.band->high &&
                  std::isfinite(r.band->high)))
    return "band " + Range(r.band->low, r.band->high) +
           " Hz: it needs 0 < LOW < HIGH";
  if (r.filterOrder < kMinFilterOrder || r.filterOrder > kMaxFilterOrder)
    return "filter order " + std::to_string(r.filterOrder) + ": it must be " +
           std::to_string(kMinFilterOrder) + " to " +
           std::to_string(kMaxFilterOrder);
  if (!std::isfinite(r.windowStartMs) ||
      (r.windowEndMs &&
       !(*r.windowEndMs > r.windowStartMs && std::isfinite(*r.windowEndMs))))
    return "window " +
           Span(r.windowStartMs, r.windowEndMs.value_or(kDefaultWindowMs)) +
           " ms: it needs START < END";
  if (!r.windowEndMs && !(r.windowStartMs < kDefaultWindowMs))
    return "window start " + FormatDouble(r.windowStartMs) +
           " ms is not before the default end, " +
           FormatDouble(kDefaultWindowMs) + " ms: give the end too";
  if (r.bins < kMinBins || r.bins > kMaxBins)
    return "bins " + std::to_string(r.bins) + ": there must be " +
           std::to_string(kMinBins) + " to " + std::to_string(kMaxBins);
  if (r.baseline &&
      !(r.baseline->startMs < r.baseline->endMs &&
        std::isfinite(r.baseline->startMs) && std::isfinite(r.baseline->endMs)))
    return "baseline " + Span(r.baseline->startMs, r.baseline->endMs) +
           " ms: it needs START < END";
  if (r.rejectMicrovolts &&
      !(*r.rejectMicrovolts > 0 && std::isfinite(*r.rejectMicrovolts)))
    return "reject " + FormatDouble(*r.rejectMicrovolts) +
           " uV: the limit must be above 0";
  if (!(r.samplingRate == 0 ||
        (r.samplingRate >= Recording::kMinSamplingRate &&
         r.samplingRate <= Recording::kMaxSamplingRate)))
    return "sampling rate " + FormatDouble(r.samplingRate) +
           " Hz: it must be 0 (any) or " +
           FormatDouble(Recording::kMinSamplingRate) + " to " +
           FormatDouble(Recording::kMaxSamplingRate) + " Hz";
  if (r.resampleHz && !(*r.resampleHz > 0 && *r.resampleHz <= kMaxResampleHz))
    return "resampling to " + FormatDouble(*r.resampleHz) +
           " Hz: the rate must be above 0 and at most " +
           FormatDouble(kMaxResampleHz) + " Hz";
  if (r.resampleHz && r.samplingRate > 0 && r.samplingRate != *r.resampleHz)
    return "sampling rate " + FormatDouble(r.samplingRate) +
           " Hz differs from the rate resampled to, " +
           FormatDouble(*r.resampleHz) + " Hz";
  return CheckReach(r);
}

// The farthest from its event a window's end may lie, in samples: far beyond
// any epoch, and far from overflowing the sums of sample indices.
constexpr double kMaxReachSamples = 0x1p40;

// round(ms · fs / 1000), halves away from zero; DataError naming `what` ("the
// window start") when that lies beyond kMaxReachSamples.
long long Samples(double ms, double fs, const char* what) {
  const double samples = std::round(ms * fs / 1000);
  if (!(std::fabs(samples) <= kMaxReachSamples)) {
    std::ostringstream message;
    message << what << " " << FormatDouble(ms) << " ms is "
            << FormatDouble(samples) << " samples at " << FormatDouble(fs)
            << " Hz, farther from the event than the "
            << FormatDouble(kMaxReachSamples) << " a window may reach";
    throw DataError(message.str());
  }
  return static_cast<long long>(samples);
}

// Why `length` samples do not make `bins` bins: the counts and ends that fit.
std::string BinsMessage(const Recipe& r,
                        long long start,
                        long long length,
                        double fs) {
  std::string fit;
  for (long long b = kMinBins; b <= std::min<long long>(length, kMaxBins); ++b)
    if (length % b == 0) fit += (fit.empty() ? "" : ", ") + std::to_string(b);
  std::ostringstream message;
  message << "the window " << Span(r.windowStartMs, *r.windowEndMs) << " ms is "
          << length << " samples at " << FormatDouble(fs)
          << " Hz, which do not divide into " << r.bins
          << " bins; bin counts that fit: " << fit << "; or, for " << r.bins
          << " bins, a window end of";
  const long long below = length / r.bins * r.bins;
  const char* glue = " ";
  for (long long fits : {below, below + r.bins}) {
    if (fits == 0) continue;
    message << glue << FormatDouble((start + fits) * 1000 / fs) << " ms ("
            << fits << " samples)";
    glue = " or ";
  }
  return message.str();
}

}  // namespace

std::string CheckRecipe(const Recipe& recipe, bool eventListsRequired) {
  if (std::string why = CheckEvents(recipe, eventListsRequired); !why.empty())
    return why;
  std::set<std::string> names;
  for (const std::string& name : recipe.channels) {
    if (Trim(name).empty()) return "a channel name is empty";
    if (auto why = ControlIn(name, "a channel name"); !why.empty()) return why;
    if (!names.insert(name).second)
      return "channel " + name + " is named twice";
  }
  return CheckNumbers(recipe);
}

bool EventMatches(const std::string& entry, const std::string& code) {
  return EventKey(entry) == EventKey(code);
}

bool EventIn(const std::vector<std::string>& list,
             const Recording::Event& event) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
    return EventMatches(entry, event.code) ||
           (!event.alias.empty() && EventMatches(entry, event.alias));
  });
}

Window EpochWindow(const Recipe& r, double fs) {
  Window w;
  w.start = Samples(r.windowStartMs, fs, "the window start");
  if (r.windowEndMs) {
    w.length = Samples(*r.windowEndMs, fs, "the window end") - w.start;
    if (w.length <= 0)
      throw DataError("the window " + Span(r.windowStartMs, *r.windowEndMs) +
                      " ms holds no sample at " + FormatDouble(fs) + " Hz");
    if (w.length % r.bins != 0)
      throw DataError(BinsMessage(r, w.start, w.length, fs));
  } else {
    const long long free =
        Samples(kDefaultWindowMs, fs, "the default window end") - w.start;
    w.length = r.bins * std::max(1LL, std::llround(double(free) / r.bins));
  }
  w.binWidth = w.length / r.bins;
  if (r.baseline) {
    w.baselineStart = Samples(r.baseline->startMs, fs, "the baseline start");
    w.baselineLength =
        Samples(r.baseline->endMs, fs, "the baseline end") - w.baselineStart;
    if (w.baselineLength <= 0)
      throw DataError("the baseline " +
                      Span(r.baseline->startMs, r.baseline->endMs) +
                      " ms holds no sample at " + FormatDouble(fs) + " Hz");
  }
  return w;
}

bool RateHolds(const Recording::Recording& recording, double rate) {
  const double slack =
      std::max(1e-6 * rate, recording.SamplingRateUncertainty());
  return std::abs(recording.SamplingRate() - rate) <= slack;
}

namespace {

// DataError unless `recording` is sampled at `rate` (0: any; RateHolds). A
// rate that came from time stamps or was given can be given anew.
void CheckRate(double rate, const Recording::Recording& recording) {
  const double fs = recording.SamplingRate();
  if (rate == 0 || RateHolds(recording, rate)) return;
  std::string how;
  char text[96];
  switch (recording.SamplingRateSource()) {
    case Recording::RateSource::kFile:
      how = FormatDouble(fs) + " Hz";
      break;
    case Recording::RateSource::kTimes:
      std::snprintf(text,
                    sizeof(text),
                    "%.6g Hz by its time column (give or take %.2g)",
                    fs,
                    recording.SamplingRateUncertainty());
      how = text;
      break;
    case Recording::RateSource::kGiven:
      how = FormatDouble(fs) + " Hz as the sampling rate given says";
      break;
  }
  const bool fixed = recording.SamplingRateSource() == Recording::RateSource::kFile;
  throw DataError(
      recording.Path() + ": sampled at " + how +
      ", where the recipe was made at " + FormatDouble(rate) + " Hz" +
      (fixed ? ""
             : "; --sampling-rate " + FormatDouble(rate) +
                   " reads it at the recipe's rate"));
}

}  // namespace

void CheckRecording(const Recipe& recipe,
                    const Recording::Recording& recording,
                    EventCheck events) {
  const std::string& file = recording.Path();
  CheckRate(recipe.samplingRate, recording);
  std::vector<std::string> missing, present;
  bool eeg = false;
  for (const Recording::Channel& channel : recording.Channels()) {
    present.push_back(channel.name);
    eeg = eeg || channel.eeg;
  }
  for (const std::string& name : recipe.channels)
    if (std::find(present.begin(), present.end(), name) == present.end())
      missing.push_back(name);
  if (!missing.empty())
    throw DataError(file + ": no channel " + Some(missing) +
                    " (its channels: " + Some(present) + ")");
  if (recipe.channels.empty() && !eeg)
    throw DataError(file + ": no EEG channel (its channels: " + Some(present) +
                    "); name the channels to use");
  if (events == EventCheck::kNone) return;
  std::map<std::string, long long> codes;
  for (const Recording::Event& event : recording.Events()) ++codes[event.code];
  const auto& all = recording.Events();
  const auto matched = [&](const std::vector<std::string>& list) {
    return std::any_of(all.begin(), all.end(), [&](auto& event) {
      return EventIn(list, event);
    });
  };
  for (const auto* list : {&recipe.targets, &recipe.nonTargets}) {
    if ((list == &recipe.targets && events == EventCheck::kTargetsOptional) ||
        matched(*list))
      continue;
    std::string seen;
    int shown = 0;
    for (const auto& [code, count] : codes)
      if (++shown <= 20)
        seen += (seen.empty() ? "" : ", ") + code + " (" +
                std::to_string(count) + ")";
    if (shown > 20) seen += " and " + std::to_string(shown - 20) + " more";
    throw DataError(file + ": no event matches the " +
                    (list == &recipe.targets  ? "target"
                     : recipe.targets.empty() ? "stimulus"
                                              : "non-target") +
                    " list (" + Join(*list, ", ") +
                    "); its events: " + (seen.empty() ? "none" : seen) +
                    (events == EventCheck::kTargetsOptional &&
                             !recipe.targets.empty()
                         ? "; a session not labelled yet is scored at the "
                           "events --stimulus-events names"
                         : ""));
  }
}

std::string RecipeText(const Recipe& r, bool events) {
  std::ostringstream text;
  if (events)
    text << "events: target " << Join(r.targets, ", ") << "; non-target "
         << Join(r.nonTargets, ", ") << "\n";
  text << "channels: "
       << (r.channels.empty() ? "every EEG channel" : Join(r.channels, ", "))
       << "; reference " << ReferenceText(r.reference);
  if (r.samplingRate > 0)
    text << "; at " << FormatDouble(r.samplingRate) << " Hz";
  if (r.resampleHz)
    text << (r.samplingRate > 0 ? "" : "; at " + ResampleText(r) + " Hz")
         << ", recordings at other rates resampled to it";
  text << "\nfilter: ";
  if (r.band)
    text << Range(r.band->low, r.band->high)
         << " Hz band-pass, Butterworth order " << r.filterOrder
         << ", forward and backward\n";
  else
    text << "none\n";
  text << "window: ";
  if (r.samplingRate > 0) {
    const Window w = EpochWindow(r, r.samplingRate);
    text << Span(w.start * 1000 / r.samplingRate,
                 (w.start + w.length) * 1000 / r.samplingRate)
         << " ms (" << w.length << " samples from " << w.start << "), "
         << r.bins << " bins of " << w.binWidth << " samples";
  } else {
    text << FormatDouble(r.windowStartMs) << " to "
         << (r.windowEndMs ? FormatDouble(*r.windowEndMs)
                           : "about " + FormatDouble(kDefaultWindowMs))
         << " ms, " << r.bins << " bins";
  }
  text << "; baseline "
       << (r.baseline ? Span(r.baseline->startMs, r.baseline->endMs) + " ms"
                      : "none")
       << "; reject "
       << (r.rejectMicrovolts ? "above " + FormatDouble(*r.rejectMicrovolts) +
                                    " uV peak-to-peak"
                              : "none")
       << "\n";
  return text.str();
}

}  // namespace Korva::Epoching
