// GDF 1.x and 2.x. The layout, as both versions share it:
//   fixed header, 256 bytes: version "GDF x.yy", header length (GDF 1: bytes,
//     int64 at 184; GDF 2: 256-byte blocks, uint16 at 184), number of
//     records (int64 at 236), record duration as a fraction of seconds
//     (uint32 numerator and denominator at 244), number of channels (GDF 1:
//     uint32, GDF 2: uint16, at 252);
//   channel header, 256 bytes per channel stored field by field: label (16
//     bytes each), ..., physical minimum and maximum (float64 at 104 and 112
//     times the channel count), digital minimum and maximum (GDF 1: int64,
//     GDF 2: float64, at 120 and 128), samples per record (int32 at 216),
//     sample type (int32 at 220); the unit is text (GDF 1, 8 bytes at 96) or
//     a code (GDF 2, uint16 at 102; the 6 bytes of text before it are kept
//     for older readers); GDF 2.1 and later may add a third header, counted
//     in the header length;
//   records, each the channels' samples one channel after another;
//   the event table: a mode byte (1: position and type; 3: also channel and
//     duration), then the event count and the events' sampling rate (before
//     GDF 1.94: rate as 3 bytes, count as uint32; since: count as 3 bytes,
//     rate as float32), then the positions (uint32, the first sample is 1)
//     and the types (uint16).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "recording/binary_file.h"
#include "recording/readers.h"
#include "recording/recording_base.h"

namespace Korva::Recording {
namespace {

constexpr std::uint64_t kFixedBytes = 256;
constexpr std::uint64_t kChannelBytes = 256;

std::optional<SampleType> GdfType(std::int32_t code) {
  switch (code) {
    case 1:
      return SampleType::kInt8;
    case 2:
      return SampleType::kUInt8;
    case 3:
      return SampleType::kInt16;
    case 4:
      return SampleType::kUInt16;
    case 5:
      return SampleType::kInt32;
    case 6:
      return SampleType::kUInt32;
    case 7:
      return SampleType::kInt64;
    case 8:
      return SampleType::kUInt64;
    case 16:
      return SampleType::kFloat32;
    case 17:
      return SampleType::kFloat64;
    default:
      return std::nullopt;
  }
}

// The unit of a GDF 2 code: the voltages by their decimal prefix, anything
// else by the text field (or as "unit code N" when that is empty).
std::string UnitOfCode(std::uint16_t code, std::string_view text) {
  constexpr std::uint16_t kVolt = 4256;
  if ((code & 0xffe0) == kVolt) {
    switch (code & 0x1f) {
      case 0:
        return "V";
      case 18:
        return "mV";
      case 19:
        return "uV";
      case 20:
        return "nV";
    }
  }
  if (code == 0 || !TrimBlanks(text).empty()) return std::string(text);
  return "unit code " + std::to_string(code);
}

// One channel as the header describes it.
struct GdfChannel {
  std::string label;
  std::string unit;
  double physicalMin = 0, physicalMax = 0, digitalMin = 0, digitalMax = 0;
  std::int32_t samplesPerRecord = 0;
  std::int32_t typeCode = 0;
};

struct GdfLayout {
  bool version2 = false;
  double version = 0;
  std::uint64_t headerBytes = 0;
  std::int64_t records = 0;
  std::uint32_t durationNum = 0, durationDen = 0;
  std::uint64_t channelCount = 0;
};

GdfLayout ReadFixedHeader(const BinaryFile& file) {
  const std::string fixed = file.ReadUpTo(0, kFixedBytes);
  if (fixed.size() < kFixedBytes || fixed.compare(0, 4, "GDF ") != 0)
    Fail(file.Path(), "not a GDF file (no 256-byte GDF header)");
  const std::string number = fixed.substr(4, 4);
  GdfLayout layout;
  layout.version = FiniteNumber(number).value_or(0.0);
  if (layout.version < 1 || layout.version >= 3)
    Fail(file.Path(), "unknown GDF version \"" + number + "\"");
  layout.version2 = layout.version >= 1.9;
  const auto* bytes = reinterpret_cast<const unsigned char*>(fixed.data());
  layout.headerBytes = layout.version2 ? ReadU16(bytes + 184) * kFixedBytes
                                       : ReadU64(bytes + 184);
  layout.records = static_cast<std::int64_t>(ReadU64(bytes + 236));
  layout.durationNum = ReadU32(bytes + 244);
  layout.durationDen = ReadU32(bytes + 248);
  layout.channelCount =
      layout.version2 ? ReadU16(bytes + 252) : ReadU32(bytes + 252);
  return layout;
}

void CheckFixedHeader(const BinaryFile& file, const GdfLayout& layout) {
  const std::uint64_t n = layout.channelCount;
  if (n == 0) Fail(file.Path(), "the GDF header declares no channels");
  if (n > file.Size() / kChannelBytes ||
      layout.headerBytes < kFixedBytes + n * kChannelBytes)
    Fail(file.Path(),
         "the GDF header's length (" + std::to_string(layout.headerBytes) +
             " bytes) does not hold its " + std::to_string(n) + " channels");
  if (layout.headerBytes > file.Size())
    Fail(file.Path(),
         "the file (" + std::to_string(file.Size()) +
             " bytes) ends inside its " + std::to_string(layout.headerBytes) +
             "-byte GDF header (truncated?)");
  if (layout.records <= 0)
    Fail(file.Path(),
         "the GDF header gives " + std::to_string(layout.records) +
             " records (-1: the recording was never closed)");
  if (layout.durationNum == 0 || layout.durationDen == 0)
    Fail(file.Path(), "the GDF header gives no record duration");
}

std::vector<GdfChannel> ReadChannelHeader(const BinaryFile& file,
                                          const GdfLayout& layout) {
  const std::uint64_t n = layout.channelCount;
  std::string block(n * kChannelBytes, '\0');
  file.ReadAt(kFixedBytes, block.size(), block.data());
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  const auto field = [&](std::uint64_t at,
                         std::uint64_t size,
                         std::uint64_t c) { return bytes + at * n + c * size; };
  std::vector<GdfChannel> channels(n);
  for (std::uint64_t c = 0; c < n; ++c) {
    GdfChannel& ch = channels[c];
    // A label ends at its first NUL, as C strings do: what follows is
    // padding, whatever it holds.
    ch.label = std::string(block, 16 * c, 16);
    ch.label.resize(std::min(ch.label.find('\0'), ch.label.size()));
    const std::uint64_t textBytes = layout.version2 ? 6 : 8;
    const std::string_view unitText(
        reinterpret_cast<const char*>(field(96, textBytes, c)), textBytes);
    ch.unit = layout.version2 ? UnitOfCode(ReadU16(field(102, 2, c)), unitText)
                              : std::string(unitText);
    ch.physicalMin = ReadF64(field(104, 8, c));
    ch.physicalMax = ReadF64(field(112, 8, c));
    ch.digitalMin = layout.version2
                        ? ReadF64(field(120, 8, c))
                        : static_cast<double>(static_cast<std::int64_t>(
                              ReadU64(field(120, 8, c))));
    ch.digitalMax = layout.version2
                        ? ReadF64(field(128, 8, c))
                        : static_cast<double>(static_cast<std::int64_t>(
                              ReadU64(field(128, 8, c))));
    ch.samplesPerRecord = static_cast<std::int32_t>(ReadU32(field(216, 4, c)));
    ch.typeCode = static_cast<std::int32_t>(ReadU32(field(220, 4, c)));
  }
  return channels;
}

// One offered channel: where its samples are and how they scale.
struct Source {
  ChannelLayout layout;
  double gain = 1;
  double shift = 0;
};

class GdfRecording : public RecordingBase {
 public:
  GdfRecording(Header header,
               std::unique_ptr<BinaryFile> file,
               std::vector<Source> sources)
      : RecordingBase(std::move(header)),
        file_(std::move(file)),
        sources_(std::move(sources)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    const Source& s = sources_[c];
    ReadChannelSamples(*file_, s.layout, s.gain, s.shift, out);
    if (s.layout.type == SampleType::kFloat32 ||
        s.layout.type == SampleType::kFloat64)
      CheckFinite(c, out);
  }

 private:
  std::unique_ptr<BinaryFile> file_;
  std::vector<Source> sources_;
};

std::string ChannelWhere(const GdfChannel& ch, std::uint64_t c) {
  return "channel " + std::to_string(c + 1) + " (" +
         std::string(TrimBlanks(ch.label)) + ")";
}

// The bytes of one record, and each channel's offset in it; DataError for a
// sample type that is not read or a negative sample count.
std::uint64_t RecordLayout(const BinaryFile& file,
                           const std::vector<GdfChannel>& channels,
                           std::vector<std::uint64_t>& offsets) {
  std::uint64_t bytes = 0;
  for (std::uint64_t c = 0; c < channels.size(); ++c) {
    const GdfChannel& ch = channels[c];
    const auto type = GdfType(ch.typeCode);
    if (!type)
      Fail(file.Path(),
           ChannelWhere(ch, c) + ": sample type " +
               std::to_string(ch.typeCode) + " is not read");
    if (ch.samplesPerRecord < 0)
      Fail(file.Path(), ChannelWhere(ch, c) + ": negative samples per record");
    offsets.push_back(bytes);
    bytes +=
        static_cast<std::uint64_t>(ch.samplesPerRecord) * SampleBytes(*type);
  }
  if (bytes == 0) Fail(file.Path(), "the GDF records hold no samples");
  return bytes;
}

// Whether the event table's positions, counted at `rate` Hz, are moved to
// the recording's rate: when that rate differs and is one korva reads. Any
// other rate but 0 (none given) is ignored with a note: a table whose rate
// is absurd would put every event on the first sample.
bool RescalesEvents(double rate, Header& header) {
  const bool plausible = rate >= kMinSamplingRate && rate <= kMaxSamplingRate;
  if (!plausible && rate != 0) {
    char text[200];
    std::snprintf(text,
                  sizeof text,
                  "the event table's sampling rate, %g Hz, is ignored (not "
                  "within %g Hz to %g Hz): its positions are taken as "
                  "samples of the recording",
                  rate,
                  kMinSamplingRate,
                  kMaxSamplingRate);
    header.notes.push_back(text);
  }
  return plausible && rate != header.samplingRate;
}

// The event table after the records, if the file has one.
void ReadEvents(const BinaryFile& file,
                const GdfLayout& layout,
                std::uint64_t dataEnd,
                Header& header) {
  if (file.Size() == dataEnd) return;
  if (file.Size() - dataEnd < 8)
    Fail(file.Path(), "the GDF event table is cut short (truncated?)");
  unsigned char head[8];
  file.ReadAt(dataEnd, sizeof(head), head);
  const int mode = head[0];
  if (mode != 1 && mode != 3)
    Fail(file.Path(),
         "GDF event table mode " + std::to_string(mode) + " is not read");
  const std::uint32_t u24 = head[1] | head[2] << 8 | head[3] << 16;
  const bool countFirst = layout.version >= 1.94;
  const std::uint64_t count = countFirst ? u24 : ReadU32(head + 4);
  const double rate = countFirst ? ReadF32(head + 4) : u24;
  const std::uint64_t entry = mode == 1 ? 6 : 12;
  if (count > (file.Size() - dataEnd - 8) / entry)
    Fail(file.Path(),
         "the GDF event table announces " + std::to_string(count) +
             " events, more than the rest of the file holds (truncated?)");
  std::vector<unsigned char> table(count * 6);
  file.ReadAt(dataEnd + 8, table.size(), table.data());
  const bool rescale = RescalesEvents(rate, header);
  for (std::uint64_t e = 0; e < count; ++e) {
    const long long position =
        static_cast<long long>(ReadU32(table.data() + 4 * e)) - 1;
    const std::uint16_t type = ReadU16(table.data() + 4 * count + 2 * e);
    const long long sample =
        rescale ? SampleAt(position / rate, header.samplingRate) : position;
    header.events.push_back({sample, std::to_string(type)});
  }
}

// The offered channels (those at the most common rate) and their sources.
std::vector<Source> OfferChannels(const BinaryFile& file,
                                  const GdfLayout& layout,
                                  const std::vector<GdfChannel>& channels,
                                  std::uint64_t recordBytes,
                                  const std::vector<std::uint64_t>& offsets,
                                  Header& header) {
  std::vector<long long> counts;
  for (const GdfChannel& ch : channels) counts.push_back(ch.samplesPerRecord);
  const long long perRecord = MostCommonCount(counts);
  header.samplingRate =
      static_cast<double>(perRecord) * layout.durationDen / layout.durationNum;
  header.samples = perRecord * layout.records;
  std::vector<Source> sources;
  std::vector<std::string> leftOut;
  for (std::uint64_t c = 0; c < channels.size(); ++c) {
    const GdfChannel& ch = channels[c];
    if (ch.samplesPerRecord != perRecord) {
      leftOut.emplace_back(TrimBlanks(ch.label));
      continue;
    }
    if (!(ch.digitalMax != ch.digitalMin) ||
        !std::isfinite(ch.physicalMax - ch.physicalMin) ||
        !std::isfinite(ch.digitalMax - ch.digitalMin))
      Fail(file.Path(),
           ChannelWhere(ch, c) +
               ": its physical or digital range is empty "
               "or not finite");
    double factor = 1;
    header.channels.push_back(MakeChannel(ch.label, ch.unit, factor));
    Source s;
    s.layout = {layout.headerBytes,
                recordBytes,
                offsets[c],
                static_cast<std::uint64_t>(perRecord),
                static_cast<std::uint64_t>(layout.records),
                *GdfType(ch.typeCode)};
    const double gain =
        (ch.physicalMax - ch.physicalMin) / (ch.digitalMax - ch.digitalMin);
    s.gain = gain * factor;
    s.shift = (ch.physicalMin - ch.digitalMin * gain) * factor;
    if (!FiniteScale(s.layout.type, s.gain, s.shift))
      Fail(file.Path(),
           ChannelWhere(ch, c) +
               ": its physical and digital ranges make its samples overflow "
               "(they would not be finite numbers)");
    sources.push_back(s);
  }
  std::string note = LeftOutNote(leftOut, header.samplingRate);
  if (!note.empty()) header.notes.push_back(note);
  return sources;
}

}  // namespace

std::unique_ptr<RecordingBase> OpenGdf(const std::string& path) {
  auto file = std::make_unique<BinaryFile>(path);
  const GdfLayout layout = ReadFixedHeader(*file);
  CheckFixedHeader(*file, layout);
  const std::vector<GdfChannel> channels = ReadChannelHeader(*file, layout);
  std::vector<std::uint64_t> offsets;
  const std::uint64_t recordBytes = RecordLayout(*file, channels, offsets);
  const std::uint64_t records = static_cast<std::uint64_t>(layout.records);
  if (records > (file->Size() - layout.headerBytes) / recordBytes)
    Fail(path,
         "the GDF header announces " + std::to_string(records) +
             " records of " + std::to_string(recordBytes) +
             " bytes, more than the file's " + std::to_string(file->Size()) +
             " bytes hold (truncated?)");
  Header header;
  header.path = path;
  header.format = layout.version2 ? "GDF 2" : "GDF 1";
  std::vector<Source> sources =
      OfferChannels(*file, layout, channels, recordBytes, offsets, header);
  ReadEvents(*file, layout, layout.headerBytes + records * recordBytes, header);
  SettleEvents(header);
  return std::make_unique<GdfRecording>(
      std::move(header), std::move(file), std::move(sources));
}

}  // namespace Korva::Recording
