#include "recording/edf_lenient.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>
#include <utility>

#include "recording/recording_base.h"
#include "text/number_text.h"

namespace Korva::Recording {
namespace {

// More signals than any amplifier writes; their header is 16 MiB.
constexpr long long kMaxSignals = 65536;
// A duration field is taken as rounded only this close to a whole rate.
constexpr double kRoundedDuration = 1e-5;

std::string_view FieldAt(const std::string& head, size_t at, size_t size) {
  return TrimBlanks(std::string_view(head).substr(at, size));
}

long long WholeField(const std::string& head, size_t at, size_t size) {
  std::int64_t value = 0;
  return Text::ParseWhole(FieldAt(head, at, size), value) ==
                 Text::NumberStatus::kOk
             ? value
             : -2;
}

// Signal `s` of `count`: field `field` (its offset per signal, its size).
std::string_view SignalField(const std::string& head,
                             long long count,
                             long long s,
                             size_t field,
                             size_t size) {
  return FieldAt(head, 256 + field * count + s * size, size);
}

// The four numbers of a signal's scale; DataError naming the one that is no
// number.
void ReadScale(const std::string& path,
               const std::string& head,
               long long count,
               long long s,
               EdfSignal& signal) {
  static constexpr struct {
    size_t field;
    const char* name;
    double EdfSignal::*value;
  } kScale[] = {{104, "physical minimum", &EdfSignal::physicalMin},
                {112, "physical maximum", &EdfSignal::physicalMax},
                {120, "digital minimum", &EdfSignal::digitalMin},
                {128, "digital maximum", &EdfSignal::digitalMax}};
  for (const auto& scale : kScale) {
    const std::string_view text =
        SignalField(head, count, s, scale.field, 8);
    if (!ParseFinite(text, signal.*scale.value))
      Fail(path, "signal " + std::to_string(s + 1) + " (" + signal.label +
                     "): its " + scale.name + " \"" + std::string(text) +
                     "\" is not a number");
  }
}

// The signals' headers; DataError where one cannot be placed.
std::vector<EdfSignal> ReadSignals(const BinaryFile& file,
                                   const std::string& head,
                                   long long count,
                                   bool bdf) {
  const std::string& path = file.Path();
  std::vector<EdfSignal> signals(count);
  std::uint64_t offset = 0;
  for (long long s = 0; s < count; ++s) {
    EdfSignal& signal = signals[s];
    signal.label = AsUtf8(SignalField(head, count, s, 0, 16));
    signal.unit = AsUtf8(SignalField(head, count, s, 96, 8));
    signal.annotations = signal.label == (bdf ? "BDF Annotations"
                                              : "EDF Annotations");
    ReadScale(path, head, count, s, signal);
    std::int64_t samples = 0;
    const std::string_view text = SignalField(head, count, s, 216, 8);
    if (Text::ParseWhole(text, samples) != Text::NumberStatus::kOk ||
        samples < 1 || static_cast<std::uint64_t>(samples) > file.Size())
      Fail(path, "signal " + std::to_string(s + 1) + " (" + signal.label +
                     "): \"" + std::string(text) +
                     "\" is not a number of samples per record");
    signal.perRecord = samples;
    signal.offset = offset;
    offset += static_cast<std::uint64_t>(samples) * (bdf ? 3 : 2);
  }
  return signals;
}

// The duration as used: the field's, or the rounding it hides, or 1 s.
double RecordSeconds(const std::string& head,
                     const std::vector<EdfSignal>& signals,
                     std::vector<std::string>& notes) {
  const std::string_view text = FieldAt(head, 244, 8);
  double d = 0;
  if (!ParseFinite(text, d) || !(d > 0)) {
    notes.push_back("the record duration \"" + std::string(text) +
                    "\" is no positive number: taken as 1 s, as MNE takes it");
    return 1;
  }
  std::vector<long long> counts;
  for (const EdfSignal& s : signals)
    if (!s.annotations) counts.push_back(s.perRecord);
  if (counts.empty()) return d;
  const long long n = MostCommonCount(counts);
  const double R = std::round(n / d);
  const size_t point = text.find('.');
  const double unit =
      point == std::string_view::npos ? 1 : std::pow(10.0, -double(text.size() - point - 1));
  if (R < 1 || n / R == d || std::abs(n / R - d) > unit ||
      std::abs(n / d - R) > kRoundedDuration * R)
    return d;
  notes.push_back("the record duration " + std::string(text) + " s is " +
                  std::to_string(n) + " samples at " + Text::FormatDouble(R) +
                  " Hz (" + Text::FormatDouble(n / R) +
                  " s) rounded to its 8 characters: read at " +
                  Text::FormatDouble(R) + " Hz");
  return n / R;
}

// The records read: the header's count where the file holds them, else
// the whole records it holds; DataError when it holds none.
long long Records(const BinaryFile& file,
                  const std::string& head,
                  EdfLayout& layout) {
  const long long claimed = WholeField(head, 236, 8);
  const std::uint64_t body = file.Size() - layout.headerBytes;
  const long long whole = static_cast<long long>(body / layout.recordBytes);
  const std::string announced =
      claimed >= 0 ? "announces " + std::to_string(claimed) + " records"
                   : "does not say how many records follow";
  if (whole == 0)
    Fail(file.Path(), "the header " + announced + " of " +
                          std::to_string(layout.recordBytes) + " bytes after " +
                          std::to_string(layout.headerBytes) +
                          " header bytes; the file has " +
                          std::to_string(file.Size()) +
                          " bytes, not one whole record (truncated?)");
  if (claimed >= 0 && claimed <= whole) {
    if (claimed < whole || body % layout.recordBytes != 0)
      layout.notes.push_back("the file has " +
                             std::to_string(body - claimed * layout.recordBytes) +
                             " bytes after the " + std::to_string(claimed) +
                             " records its header announces; they are not read");
    return claimed;
  }
  layout.notes.push_back("the header " + announced + " and the file holds " +
                         std::to_string(whole) + " whole records" +
                         (claimed > whole ? " (truncated?)" : "") +
                         ": read the " + std::to_string(whole) +
                         ", as MNE reads them");
  return whole;
}

// Notes on scales that cannot be: ranges of zero taken as 1, as MNE takes
// them.
void NoteScales(std::vector<EdfSignal>& signals,
                std::vector<std::string>& notes) {
  for (EdfSignal& s : signals) {
    if (s.annotations) continue;
    for (const auto& [name, low, high] :
         {std::tuple{"physical", &s.physicalMin, &s.physicalMax},
          {"digital", &s.digitalMin, &s.digitalMax}})
      if (*low == *high) {
        notes.push_back("signal " + s.label + ": its " + name +
                        " minimum and maximum are both " +
                        Text::FormatDouble(*low) +
                        ", so its scale is unknown; read with a " + name +
                        " range of 1, as MNE reads it, and not taken as EEG");
        *high = *low + 1;
        s.scaleUnknown = true;
      }
  }
}

// The annotations of one record's part of an annotation signal: lists
// "+onset[\x15duration]\x14text\x14...\x14", each ended by \0.
void ReadTalLists(std::string_view record,
                  std::vector<EdfAnnotation>& annotations) {
  for (size_t at = 0; at < record.size();) {
    const size_t end = std::min(record.find('\0', at), record.size());
    const std::string_view list = record.substr(at, end - at);
    at = end + 1;
    const size_t stamp = list.find('\x14');
    double onset = 0;
    if (stamp == std::string_view::npos ||
        !ParseFinite(list.substr(0, std::min(stamp, list.find('\x15'))), onset))
      continue;
    for (size_t t = stamp + 1; t < list.size();) {
      const size_t stop = std::min(list.find('\x14', t), list.size());
      if (stop > t)
        annotations.push_back({onset, std::string(list.substr(t, stop - t))});
      t = stop + 1;
    }
  }
}

// The onset of the time-keeping annotation that starts `record` (a record's
// part of the first annotation signal): a first list "+seconds\x14\x14",
// or NaN when the record does not start with one.
double TimeKeeping(std::string_view record) {
  const std::string_view list = record.substr(0, record.find('\0'));
  const size_t stamp = list.find('\x14');
  double onset = 0;
  if (stamp == std::string_view::npos || stamp + 1 >= list.size() ||
      list[stamp + 1] != '\x14' ||
      !ParseFinite(list.substr(0, std::min(stamp, list.find('\x15'))), onset))
    return NAN;
  return onset;
}

// Seconds as a message gives them: to the microsecond, no trailing zeros.
std::string Seconds(double seconds) {
  return Text::FormatDouble(std::round(seconds * 1e6) / 1e6);
}

}  // namespace

EdfLayout ReadEdfLayout(const BinaryFile& file) {
  const std::string& path = file.Path();
  const std::string fixed = file.ReadUpTo(0, 256);
  if (fixed.size() < 256)
    Fail(path, "too short for an EDF or BDF header (" +
                   std::to_string(fixed.size()) + " bytes)");
  EdfLayout layout;
  layout.bdf = fixed[0] == '\xff';
  const std::string_view reserved = FieldAt(fixed, 192, 44);
  const auto plus = [&](std::string_view kind) {
    return reserved.size() >= 5 && reserved.compare(1, 4, kind) == 0;
  };
  layout.discontinuous = plus("DF+D");
  const long long count = WholeField(fixed, 252, 4);
  if (count < 1 || count > kMaxSignals)
    Fail(path, "\"" + std::string(FieldAt(fixed, 252, 4)) +
                   "\" is not a number of signals (1 to " +
                   std::to_string(kMaxSignals) + ")");
  layout.headerBytes = 256 * static_cast<std::uint64_t>(count + 1);
  if (WholeField(fixed, 184, 8) != static_cast<long long>(layout.headerBytes))
    Fail(path, "the header's length, \"" +
                   std::string(FieldAt(fixed, 184, 8)) + "\" bytes, is not " +
                   std::to_string(layout.headerBytes) + ", the length of a "
                   "header of its " + std::to_string(count) + " signals");
  if (file.Size() < layout.headerBytes)
    Fail(path, "the file ends within its header (truncated?)");
  const std::string head = fixed + file.ReadUpTo(256, 256 * count);
  layout.signals = ReadSignals(file, head, count, layout.bdf);
  const EdfSignal& last = layout.signals.back();
  layout.recordBytes = last.offset + last.perRecord * (layout.bdf ? 3 : 2);
  layout.plus = plus("DF+C") || layout.discontinuous ||
                std::any_of(layout.signals.begin(),
                            layout.signals.end(),
                            [](const EdfSignal& s) { return s.annotations; });
  layout.records = Records(file, head, layout);
  layout.recordSeconds = RecordSeconds(head, layout.signals, layout.notes);
  NoteScales(layout.signals, layout.notes);
  return layout;
}

EdfAnnotations ReadEdfAnnotations(const BinaryFile& file,
                                  const EdfLayout& layout) {
  EdfAnnotations read;
  read.recordStarts.assign(static_cast<size_t>(layout.records), NAN);
  const int bytes = layout.bdf ? 3 : 2;
  bool first = true;
  for (const EdfSignal& s : layout.signals) {
    if (!s.annotations) continue;
    std::string record(static_cast<size_t>(s.perRecord) * bytes, '\0');
    for (long long r = 0; r < layout.records; ++r) {
      file.ReadAt(layout.headerBytes + r * layout.recordBytes + s.offset,
                  record.size(),
                  record.data());
      if (first) read.recordStarts[r] = TimeKeeping(record);
      ReadTalLists(record, read.annotations);
    }
    first = false;
  }
  return read;
}

EdfTimeline::EdfTimeline(const std::string& path,
                         std::vector<double> starts,
                         long long perRecord,
                         double rate)
    : starts_(std::move(starts)),
      perRecord_(perRecord),
      rate_(rate),
      afterBreak_(starts_.size()) {
  const double duration = perRecord / rate, slack = 0.5 / rate;
  for (size_t r = 0; r < starts_.size(); ++r) {
    const std::string name = "record " + std::to_string(r + 1);
    if (std::isnan(starts_[r]))
      Fail(path,
           name +
               " has no time-keeping annotation (a first annotation "
               "list \"+seconds\" with no text), so where it lies "
               "in time is unknown");
    if (r == 0) continue;
    const double end = starts_[r - 1] + duration;
    if (starts_[r] < end - slack)
      Fail(path,
           name + " starts at " + Seconds(starts_[r]) + " s, before record " +
               std::to_string(r) + " ends at " + Seconds(end) +
               " s: the records overlap or go back in time");
    if (starts_[r] <= end + slack) continue;
    afterBreak_[r] = true;
    breaks_.push_back({static_cast<long long>(r) * perRecord,
                       "the records jump " + Seconds(starts_[r] - end) +
                           " s, from " + Seconds(end) + " s to " +
                           Seconds(starts_[r]) + " s, after record " +
                           std::to_string(r)});
  }
}

std::optional<long long> EdfTimeline::SampleOf(double onset) const {
  // The last record that starts at or before the onset (the first when
  // none does: the onset then lies before the recording).
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), onset);
  const size_t r = after == starts_.begin() ? 0 : after - starts_.begin() - 1;
  const long long within = SampleAt(onset - starts_[r], rate_);
  if (within < 0) return within;
  if (within < perRecord_)
    return static_cast<long long>(r) * perRecord_ + within;
  if (r + 1 == starts_.size()) return LLONG_MAX;  // after the last record
  if (afterBreak_[r + 1]) return std::nullopt;
  // Within half a sample of the next record, which follows without a gap.
  return static_cast<long long>(r + 1) * perRecord_;
}

}  // namespace Korva::Recording
