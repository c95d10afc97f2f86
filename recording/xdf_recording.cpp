// XDF 1.0, the files of Lab Streaming Layer recorders: streams with clocks
// of their own, of which korva offers one of EEG with the events of one of
// markers. The layout:
//   "XDF:", then chunks: a byte n (1, 4 or 8), the chunk's length L in n
//   bytes (little-endian, counting the tag and the content), a tag (uint16)
//   and L - 2 bytes of content:
//     1 FileHeader: XML;
//     2 StreamHeader: the stream's id (uint32), then XML <info> with name,
//       type, channel_count, nominal_srate (0: irregular), channel_format
//       (int8, int16, int32, int64, float32, double64 or string) and
//       desc/channels/channel with label, unit and type;
//     3 Samples: the stream's id, the count of samples as a byte n and n
//       bytes, then per sample a byte, 0 or 8, and as many bytes of time
//       stamp (a double, seconds of the stream's clock; without one, the
//       previous sample's plus 1 / nominal_srate, or the previous one's for
//       an irregular stream, from 0), then channel_count values (a string:
//       a byte n, n bytes of length, the bytes);
//     4 ClockOffset: the stream's id, the collection time and the offset
//       value (doubles): the recorder's clock less the stream's;
//     other tags (5 Boundary, 6 StreamFooter) are skipped.
//
// Markers are placed on the EEG samples by the streams' clock offsets, as
// the customary Python reader synchronises clocks (without its handling of
// clock resets) and dejitters regular streams:
//   1. A stream's offset at time t is a + b t, the least-squares line of
//      its offset values on their collection times (one value: that value;
//      none: 0); its time stamp t becomes t + a + b t.
//   2. The EEG stream's synchronised stamps T_i are fitted by least squares
//      to the line T_0 + i Δ.
//   3. A marker at synchronised time M goes to sample round((M - T_0) / Δ),
//      a tie to the even one.
// A note says how far step 1 moved the markers against the EEG,
// (a_m + b_m m) - (a_e + b_e m), how far the EEG's stamps lie from the line
// of step 2, and how far the markers lie from their samples.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <pugixml.hpp>

#include "recording/binary_file.h"
#include "recording/readers.h"
#include "recording/recording_base.h"
#include "text/number_text.h"

namespace Korva::Recording {
namespace {

// Larger than the XML of any stream's header.
constexpr std::uint64_t kMaxXmlBytes = 16 << 20;
constexpr long long kMaxChannels = 65536;
// Chunks are read this many bytes at a time, or one chunk when it is
// larger.
constexpr std::uint64_t kWindowBytes = 4 << 20;

enum Tag : std::uint16_t { kStreamHeader = 2, kSamples = 3, kClockOffset = 4 };

struct Format {
  const char* name;
  int bytes;  // per value; 0 for strings
};
constexpr Format kFormats[] = {{"int8", 1},    {"int16", 2},   {"int32", 4},
                               {"int64", 8},   {"float32", 4}, {"double64", 8},
                               {"string", 0}};

// Where a chunk's content lies in the file.
struct ChunkRef {
  std::uint64_t offset = 0, length = 0;
};

struct Stream {
  std::uint32_t id = 0;
  std::string name, type;
  int format = -1;  // into kFormats
  long long channels = 0;
  double rate = 0;
  std::vector<std::string> labels, units, types;
  std::vector<std::pair<double, double>> offsets;  // collection time, value
  std::vector<ChunkRef> chunks;                    // its Samples chunks
};

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The unit of an XDF channel as korva names it.
std::string Unit(const std::string& unit) {
  static const std::map<std::string, std::string> kNames = {
      {"microvolts", "uV"}, {"microvolt", "uV"}, {"millivolts", "mV"},
      {"millivolt", "mV"},  {"volts", "V"},      {"volt", "V"},
      {"nanovolts", "nV"},  {"nanovolt", "nV"}};
  const auto known = kNames.find(Lower(unit));
  return known == kNames.end() ? unit : known->second;
}

// Calls `visit(tag, content)` for every chunk of `file` after the magic;
// DataError when a chunk does not fit in the file.
void ForEachChunk(const BinaryFile& file,
                  const std::function<void(std::uint16_t, ChunkRef)>& visit) {
  for (std::uint64_t at = 4; at < file.Size();) {
    const std::string head = file.ReadUpTo(at, 11);
    const auto n = static_cast<unsigned char>(head[0]);
    if ((n != 1 && n != 4 && n != 8) || head.size() < 1u + n + 2)
      Fail(file.Path(), "the chunk at byte " + std::to_string(at) +
                            " has no length of 1, 4 or 8 bytes (damaged?)");
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
    const std::uint64_t length = n == 1   ? bytes[1]
                                 : n == 4 ? ReadU32(bytes + 1)
                                          : ReadU64(bytes + 1);
    if (length < 2 || length > file.Size() - at - 1 - n)
      Fail(file.Path(), "the chunk at byte " + std::to_string(at) +
                            " claims " + std::to_string(length) +
                            " bytes, more than the file holds (truncated?)");
    visit(ReadU16(bytes + 1 + n), {at + 1 + n + 2, length - 2});
    at += 1 + n + length;
  }
}

// The stream header's XML; DataError naming what it lacks.
void ReadStreamHeader(const std::string& path,
                      const std::string& xml,
                      Stream& s) {
  pugi::xml_document document;
  if (!document.load_buffer(xml.data(), xml.size()))
    Fail(path, "the header of stream " + std::to_string(s.id) + " is not XML");
  const pugi::xml_node info = document.child("info");
  s.name = info.child_value("name");
  s.type = info.child_value("type");
  const std::string format = info.child_value("channel_format");
  for (int f = 0; f < 7; ++f)
    if (format == kFormats[f].name) s.format = f;
  const auto channels = Text::FiniteNumber(info.child_value("channel_count"));
  const auto rate = Text::FiniteNumber(info.child_value("nominal_srate"));
  if (s.format < 0 || !channels || *channels < 1 ||
      *channels > kMaxChannels || *channels != std::floor(*channels) ||
      !rate || *rate < 0)
    Fail(path, "stream " + std::to_string(s.id) + " (" + s.name +
                   ") has no channel_format, channel_count (1 to " +
                   std::to_string(kMaxChannels) +
                   ") or nominal_srate that korva reads");
  s.channels = static_cast<long long>(*channels);
  s.rate = *rate;
  for (pugi::xml_node c : info.child("desc").child("channels").children())
    if (s.labels.size() < static_cast<size_t>(s.channels)) {
      s.labels.emplace_back(c.child_value("label"));
      s.units.push_back(Unit(c.child_value("unit")));
      s.types.emplace_back(c.child_value("type"));
    }
}

// The streams of `file`: headers, clock offsets, where their samples lie.
std::vector<Stream> ReadStreams(const BinaryFile& file) {
  const std::string& path = file.Path();
  std::vector<Stream> streams;
  const auto find = [&](std::uint32_t id) -> Stream* {
    for (Stream& s : streams)
      if (s.id == id) return &s;
    return nullptr;
  };
  ForEachChunk(file, [&](std::uint16_t tag, ChunkRef chunk) {
    if (tag != kStreamHeader && tag != kSamples && tag != kClockOffset) return;
    unsigned char id[4] = {};
    if (chunk.length < 4) Fail(path, "a chunk without its stream's id");
    file.ReadAt(chunk.offset, 4, id);
    Stream* s = find(ReadU32(id));
    if (tag == kStreamHeader) {
      if (s != nullptr || chunk.length - 4 > kMaxXmlBytes)
        Fail(path, "stream " + std::to_string(ReadU32(id)) +
                       " has a second header, or one above 16 MiB");
      streams.emplace_back().id = ReadU32(id);
      ReadStreamHeader(path, file.ReadUpTo(chunk.offset + 4, chunk.length - 4),
                       streams.back());
    } else if (s == nullptr) {
      Fail(path, "samples or clock offsets of stream " +
                     std::to_string(ReadU32(id)) + " before its header");
    } else if (tag == kSamples) {
      s->chunks.push_back({chunk.offset + 4, chunk.length - 4});
    } else if (chunk.length == 20) {
      unsigned char pair[16];
      file.ReadAt(chunk.offset + 4, 16, pair);
      s->offsets.emplace_back(ReadF64(pair), ReadF64(pair + 8));
    }
  });
  return streams;
}

// Calls `take(stamp, values)` for every sample of a Samples chunk's
// content (after the stream's id), `values` the bytes of its channels'
// values; `last` is the previous sample's stamp. DataError when the
// samples do not fit in the chunk.
void ForEachSample(const std::string& path,
                   const Stream& s,
                   std::string_view content,
                   double& last,
                   const std::function<void(double, std::string_view)>& take) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
  const auto fail = [&] {
    Fail(path, "a chunk of stream " + std::to_string(s.id) + " (" + s.name +
                   ") ends within its samples (damaged?)");
  };
  size_t at = 0;
  const auto varlen = [&]() -> std::uint64_t {
    const unsigned n = at < content.size() ? bytes[at] : 0;
    if ((n != 1 && n != 4 && n != 8) || content.size() - at - 1 < n) fail();
    at += 1 + n;
    return n == 1 ? bytes[at - 1] : n == 4 ? ReadU32(bytes + at - 4)
                                           : ReadU64(bytes + at - 8);
  };
  const std::uint64_t count = varlen();
  const int width = kFormats[s.format].bytes;
  for (std::uint64_t k = 0; k < count; ++k) {
    const unsigned stamped = at < content.size() ? bytes[at] : 1;
    if ((stamped != 0 && stamped != 8) || content.size() - at - 1 < stamped)
      fail();
    last = stamped ? ReadF64(bytes + at + 1)
                   : last + (s.rate > 0 ? 1 / s.rate : 0);
    at += 1 + stamped;
    const size_t first = at;
    if (width > 0) {
      if (static_cast<std::uint64_t>(content.size() - at) <
          static_cast<std::uint64_t>(s.channels) * width)
        fail();
      at += s.channels * width;
    } else {
      for (long long c = 0; c < s.channels; ++c) {
        const std::uint64_t length = varlen();
        if (content.size() - at < length) fail();
        at += length;
      }
    }
    take(last, content.substr(first, at - first));
  }
}

// The value of channel `c` among a numeric sample's `values`.
double Value(const Stream& s, std::string_view values, long long c) {
  const auto* v =
      reinterpret_cast<const unsigned char*>(values.data()) + c * kFormats[s.format].bytes;
  switch (s.format) {
    case 0:
      return static_cast<std::int8_t>(v[0]);
    case 1:
      return static_cast<std::int16_t>(ReadU16(v));
    case 2:
      return static_cast<std::int32_t>(ReadU32(v));
    case 3:
      return static_cast<double>(static_cast<std::int64_t>(ReadU64(v)));
    case 4:
      return ReadF32(v);
    default:
      return ReadF64(v);
  }
}

// The text of a marker: its first value, a string or a number.
std::string Code(const Stream& s, std::string_view values) {
  if (kFormats[s.format].bytes > 0) return Text::FormatDouble(Value(s, values, 0));
  // A byte n, the length in n bytes, the bytes (ForEachSample checked them).
  const auto* v = reinterpret_cast<const unsigned char*>(values.data());
  const std::uint64_t length = v[0] == 1 ? v[1] : v[0] == 4 ? ReadU32(v + 1)
                                                            : ReadU64(v + 1);
  return std::string(values.substr(1 + v[0], length));
}

// Calls `take` for every sample of `s`, reading its chunks a window of the
// file at a time.
void ForEachStreamSample(
    const BinaryFile& file,
    const Stream& s,
    const std::function<void(double, std::string_view)>& take) {
  std::string window;
  std::uint64_t start = 0;
  double last = 0;
  for (const ChunkRef& chunk : s.chunks) {
    if (chunk.offset < start ||
        chunk.offset + chunk.length > start + window.size()) {
      start = chunk.offset;
      window = file.ReadUpTo(start, std::max(kWindowBytes, chunk.length));
      if (window.size() < chunk.length)
        Fail(file.Path(), "the file is shorter than when it was opened");
    }
    ForEachSample(file.Path(), s,
                  std::string_view(window).substr(chunk.offset - start,
                                                  chunk.length),
                  last, take);
  }
}

// "name" (type, N channels at R Hz, format) for messages.
std::string Describe(const Stream& s) {
  return "\"" + s.name + "\" (type " + (s.type.empty() ? "none" : s.type) +
         ", " + std::to_string(s.channels) + " channel" +
         (s.channels == 1 ? "" : "s") + " " +
         (s.rate > 0 ? "at " + Text::FormatDouble(s.rate) + " Hz"
                     : "irregular") +
         ", " + kFormats[s.format].name + ")";
}

// The stream `wanted` names (by name, else by type in any letter case), or
// else the first that `fits`; nullptr when none does and none was named.
const Stream* Choose(const std::string& path,
                     const std::vector<Stream>& streams,
                     const std::string& wanted,
                     const char* option,
                     const std::function<int(const Stream&)>& fits) {
  if (!wanted.empty()) {
    for (const bool byName : {true, false})
      for (const Stream& s : streams)
        if (byName ? s.name == wanted : Lower(s.type) == Lower(wanted))
          return &s;
    std::string list;
    for (const Stream& s : streams)
      list += (list.empty() ? "" : ", ") + Describe(s);
    Fail(path, "no stream is named or of type \"" + wanted + "\" (" + option +
                   "); its streams: " + list);
  }
  const Stream* best = nullptr;
  for (const Stream& s : streams)
    if (fits(s) > 0 && (best == nullptr || fits(s) > fits(*best))) best = &s;
  return best;
}

// a + b t: the least-squares line of a stream's clock offsets.
struct Line {
  double a = 0, b = 0;
  double At(double t) const { return a + b * t; }
};

// The least-squares line of y on x, about their means for accuracy; a
// constant when x does not vary.
Line Fit(const std::vector<std::pair<double, double>>& points) {
  if (points.empty()) return {};
  double mx = 0, my = 0;
  for (const auto& [x, y] : points) mx += x, my += y;
  mx /= points.size();
  my /= points.size();
  double sxx = 0, sxy = 0;
  for (const auto& [x, y] : points)
    sxx += (x - mx) * (x - mx), sxy += (x - mx) * (y - my);
  const double b = sxx > 0 ? sxy / sxx : 0;
  return {my - b * mx, b};
}

// A recording of one EEG stream of an XDF file.
class XdfRecording : public RecordingBase {
 public:
  XdfRecording(Header header,
               std::unique_ptr<BinaryFile> file,
               Stream eeg,
               std::vector<double> factors)
      : RecordingBase(std::move(header)),
        file_(std::move(file)),
        eeg_(std::move(eeg)),
        factors_(std::move(factors)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    out.clear();
    out.reserve(static_cast<size_t>(Samples()));
    ForEachStreamSample(*file_, eeg_, [&](double, std::string_view values) {
      out.push_back(Value(eeg_, values, c) * factors_[c]);
    });
    if (static_cast<long long>(out.size()) != Samples())
      Fail(Path(), "the file has changed since it was opened");
    CheckFinite(c, out);
  }

 private:
  std::unique_ptr<BinaryFile> file_;
  Stream eeg_;
  std::vector<double> factors_;  // to microvolts
};

// The channels of the EEG stream, and each one's factor to microvolts.
void DescribeChannels(const Stream& eeg,
                      Header& header,
                      std::vector<double>& factors) {
  bool assumed = false;
  for (long long c = 0; c < eeg.channels; ++c) {
    const bool described = c < static_cast<long long>(eeg.labels.size());
    const std::string label =
        described && !eeg.labels[c].empty() ? eeg.labels[c]
                                             : "Ch" + std::to_string(c + 1);
    std::string unit = described ? eeg.units[c] : "";
    if (unit.empty() && Lower(eeg.type) == "eeg") {
      unit = "uV";
      assumed = true;
    }
    double factor = 1;
    Channel channel = MakeChannel(label, unit, factor);
    if (described && !eeg.types[c].empty()) {
      channel.type = eeg.types[c];
      for (char& ch : channel.type)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      channel.eeg = channel.eeg && channel.type == "EEG";
    }
    header.channels.push_back(channel);
    factors.push_back(factor == 0 ? 1 : factor);
  }
  if (assumed)
    header.notes.push_back("channels of the EEG stream without a unit are "
                           "taken as microvolts");
}

// Steps 1 to 3: the markers of `markers` placed on the samples of `eeg`,
// whose time stamps are `stamps`, with a note on how far they moved.
void PlaceMarkers(const BinaryFile& file,
                  const Stream& eeg,
                  const Stream& markers,
                  const std::vector<double>& stamps,
                  Header& header) {
  const Line e = Fit(eeg.offsets), m = Fit(markers.offsets);
  // Step 2 about T_0, the first synchronised stamp, for accuracy.
  const double t0 = stamps[0] + e.At(stamps[0]);
  const auto synced = [&](size_t i) { return stamps[i] + e.At(stamps[i]) - t0; };
  const double n = double(stamps.size()), mi = (n - 1) / 2;
  double mt = 0, sii = 0, sit = 0, stray = 0;
  for (size_t i = 0; i < stamps.size(); ++i) mt += synced(i) / n;
  for (size_t i = 0; i < stamps.size(); ++i)
    sii += (i - mi) * (i - mi), sit += (i - mi) * (synced(i) - mt);
  const double delta = sit > 0 ? sit / sii : 1 / eeg.rate;
  const Line T{mt - delta * mi, delta};
  for (size_t i = 0; i < stamps.size(); ++i)
    stray = std::max(stray, std::abs(synced(i) - T.At(double(i))));
  double moveLow = INFINITY, moveHigh = -INFINITY, away = 0;
  ForEachStreamSample(file, markers, [&](double stamp, std::string_view values) {
    const double M = stamp + m.At(stamp) - t0;
    const long long sample = SampleAt((M - T.a) / delta, 1);
    const double move = m.At(stamp) - e.At(stamp);
    moveLow = std::min(moveLow, move), moveHigh = std::max(moveHigh, move);
    away = std::max(away, std::abs(M - T.At(double(sample))));
    header.events.emplace_back(sample, AsUtf8(TrimBlanks(Code(markers, values))));
  });
  const auto ms = [](double s) { return Text::FormatDouble(std::round(s * 1e5) / 100); };
  header.notes.push_back(
      "EEG time stamps within " + ms(stray) + " ms of a steady " +
      Text::FormatDouble(std::round(1e4 / delta) / 1e4) +
      " Hz; markers placed by the streams' clock offsets (EEG " +
      std::to_string(eeg.offsets.size()) + ", markers " +
      std::to_string(markers.offsets.size()) + " measurements)" +
      (header.events.empty()
           ? ""
           : ", moved " + ms(moveLow) + " to " + ms(moveHigh) +
                 " ms against the EEG, then each to the nearest sample, "
                 "at most " + ms(away) + " ms away"));
}

// The stamps of every sample of `eeg`.
std::vector<double> Stamps(const BinaryFile& file, const Stream& eeg) {
  std::vector<double> stamps;
  ForEachStreamSample(file, eeg, [&](double stamp, std::string_view) {
    stamps.push_back(stamp);
  });
  if (stamps.empty())
    Fail(file.Path(), "the EEG stream " + Describe(eeg) + " holds no sample");
  return stamps;
}

}  // namespace

std::unique_ptr<RecordingBase> OpenXdf(const std::string& path,
                                       const OpenOptions& options) {
  auto file = std::make_unique<BinaryFile>(path);
  std::vector<Stream> streams = ReadStreams(*file);
  const Stream* eeg = Choose(path, streams, options.eegStream, "--xdf-eeg",
                             [](const Stream& s) {
                               if (s.rate <= 0 || kFormats[s.format].bytes == 0)
                                 return 0;
                               return Lower(s.type) == "eeg" ? 2 : 1;
                             });
  if (eeg == nullptr || eeg->rate <= 0 || kFormats[eeg->format].bytes == 0)
    Fail(path, "no stream of numbers at a regular rate to read as EEG");
  const Stream* markers =
      Choose(path, streams, options.markerStream, "--xdf-markers",
             [&](const Stream& s) {
               if (&s == eeg) return 0;
               const bool text = kFormats[s.format].bytes == 0;
               return text && Lower(s.type) == "markers" ? 3
                      : text                              ? 2
                      : s.rate == 0                       ? 1
                                                          : 0;
             });
  Header header;
  header.path = path;
  header.format = "XDF";
  header.samplingRate = eeg->rate;
  std::vector<double> factors;
  DescribeChannels(*eeg, header, factors);
  const std::vector<double> stamps = Stamps(*file, *eeg);
  header.samples = static_cast<long long>(stamps.size());
  std::string others;
  for (const Stream& s : streams)
    if (&s != eeg && &s != markers) others += "; also " + Describe(s);
  header.notes.push_back("EEG stream " + Describe(*eeg) + ", markers " +
                         (markers ? "stream " + Describe(*markers) : "none") +
                         others + " (--xdf-eeg and --xdf-markers choose)");
  if (markers != nullptr) PlaceMarkers(*file, *eeg, *markers, stamps, header);
  SettleEvents(header);
  return std::make_unique<XdfRecording>(
      std::move(header), std::move(file), *eeg, std::move(factors));
}

}  // namespace Korva::Recording
