// BrainVision: a text header (.vhdr) in INI form names a binary data file and
// a text marker file beside it.
//   [Common Infos] DataFile, MarkerFile, DataFormat=BINARY,
//     DataOrientation=MULTIPLEXED (sample by sample) or VECTORIZED (channel
//     by channel), NumberOfChannels, SamplingInterval in microseconds;
//   [Binary Infos] BinaryFormat=INT_16, INT_32 or IEEE_FLOAT_32;
//   [Channel Infos] Ch<n>=<name>,<reference>,<resolution>,<unit>: a sample
//     times the resolution is a value in the unit (microvolts when none is
//     given); "\1" in a name stands for a comma;
//   markers: [Marker Infos] Mk<n>=<type>,<description>,<position>,<size>,
//     <channel>[,<date>], the first sample at position 1.
// The data and marker files are read from the header's own folder, by the
// base name of what the header names (a header written on another machine
// may name a path there), and only when they are regular files there, not
// links: a header cannot make korva read anything else. A key of the
// sections read given twice is refused; every marker line is kept, in the
// order of its number, also when a number repeats.
// This reader is written here rather than taken from a library: the format
// is a page of text and one array, and the reader checked against MNE loses
// nothing of it.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>

#include "data/dataset.h"
#include "recording/binary_file.h"
#include "recording/readers.h"
#include "recording/recording_base.h"

namespace Korva::Recording {
namespace {

// The largest header or marker file read: far above any real one.
constexpr std::uint64_t kMaxTextBytes = 64 << 20;

// The key = value lines of each section, in file order.
using Section = std::vector<std::pair<std::string, std::string>>;
using IniText = std::map<std::string, Section>;

std::string ReadText(const BinaryFile& file) {
  if (file.Size() > kMaxTextBytes)
    Fail(file.Path(), "too large for a BrainVision header or marker file");
  return file.ReadUpTo(0, file.Size());
}

IniText ParseIni(std::string_view text) {
  IniText ini;
  Section* section = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = TrimBlanks(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = &ini[std::string(line.substr(1, line.size() - 2))];
    } else if (const size_t eq = line.find('=');
               section != nullptr && eq != std::string_view::npos) {
      section->emplace_back(TrimBlanks(line.substr(0, eq)),
                            TrimBlanks(line.substr(eq + 1)));
    }
  }
  return ini;
}

std::string Get(const IniText& ini,
                const std::string& section,
                const std::string& key,
                const std::string& fallback) {
  const auto s = ini.find(section);
  if (s == ini.end()) return fallback;
  for (const auto& [name, value] : s->second)
    if (name == key) return value;
  return fallback;
}

// DataError for a key given twice in a section the reader takes values
// from: which of the two was meant cannot be known.
void RefuseRepeatedKeys(const std::string& path, const IniText& ini) {
  for (const char* name : {"Common Infos", "Binary Infos", "Channel Infos"}) {
    const auto section = ini.find(name);
    if (section == ini.end()) continue;
    std::map<std::string_view, int> seen;
    for (const auto& entry : section->second)
      if (++seen[entry.first] == 2)
        Fail(path,
             std::string("[") + name + "] gives " + entry.first + " twice");
  }
}

// Splits at commas; "\1" inside a field stands for a comma.
std::vector<std::string> SplitFields(std::string_view text) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ',') {
      fields.emplace_back();
    } else if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '1') {
      fields.back() += ',';
      ++i;
    } else {
      fields.back() += text[i];
    }
  }
  return fields;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file that the header at `header` names `name` as its `role` ("data
// file"): the base name of `name` in the header's folder, a regular file
// and not a link (BinaryFile, Links::kRefuse); DataError naming the header
// and why otherwise. A name with a folder adds a note to `notes`.
std::unique_ptr<BinaryFile> OpenCompanion(const std::string& header,
                                          const std::string& name,
                                          const std::string& role,
                                          std::vector<std::string>& notes) {
  const size_t cut = name.find_last_of("/\\");
  const std::string base =
      cut == std::string::npos ? name : name.substr(cut + 1);
  if (base.empty() || base == "." || base == "..")
    Fail(header, "its " + role + " \"" + AsUtf8(name) + "\" names no file");
  const std::string path = Folder(header) + base;
  const std::string said =
      "its " + role + " " +
      AsUtf8(base == name ? path
                          : name + ", read as " + path + " in its folder");
  try {
    auto file = std::make_unique<BinaryFile>(path, Links::kRefuse);
    if (base != name) notes.push_back(said);
    return file;
  } catch (const Data::DataError& error) {
    const std::string why = error.what();
    Fail(header,
         said + ": " +
             (why.rfind(path + ": ", 0) == 0 ? why.substr(path.size() + 2)
                                              : why));
  }
}

// The values of [Common Infos] and [Binary Infos] the reader uses.
struct Layout {
  SampleType type = SampleType::kInt16;
  bool vectorized = false;
  int channels = 0;
  double rate = 0;
};

// The sampling rate of SamplingInterval=`interval` (microseconds), within
// the rates korva reads.
double RateOf(const std::string& path, const std::string& interval) {
  const auto microseconds = FiniteNumber(interval);
  if (!microseconds || *microseconds <= 0)
    Fail(path, "SamplingInterval is missing or not a positive number");
  const double rate = 1e6 / *microseconds;
  if (!(rate >= kMinSamplingRate && rate <= kMaxSamplingRate)) {
    char text[200];
    std::snprintf(text,
                  sizeof text,
                  "SamplingInterval=%s (microseconds) gives a sampling rate "
                  "of %g Hz, outside the %g Hz to %g Hz korva reads",
                  interval.substr(0, 40).c_str(),
                  rate,
                  kMinSamplingRate,
                  kMaxSamplingRate);
    Fail(path, text);
  }
  return rate;
}

Layout ReadLayout(const std::string& path, const IniText& ini) {
  const auto must = [&](const std::string& key,
                        const std::string& value,
                        const std::string& wanted) {
    if (value != wanted)
      Fail(path, key + "=" + value + " is not read (only " + wanted + ")");
  };
  must(
      "DataFormat", Get(ini, "Common Infos", "DataFormat", "BINARY"), "BINARY");
  must("DataType",
       Get(ini, "Common Infos", "DataType", "TIMEDOMAIN"),
       "TIMEDOMAIN");
  must("UseBigEndianOrder",
       Get(ini, "Binary Infos", "UseBigEndianOrder", "NO"),
       "NO");
  Layout layout;
  const std::string format = Get(ini, "Binary Infos", "BinaryFormat", "");
  if (format == "INT_16")
    layout.type = SampleType::kInt16;
  else if (format == "INT_32")
    layout.type = SampleType::kInt32;
  else if (format == "IEEE_FLOAT_32")
    layout.type = SampleType::kFloat32;
  else
    Fail(path,
         "BinaryFormat=" + format +
             " is not read (INT_16, INT_32 or IEEE_FLOAT_32)");
  const std::string orientation =
      Get(ini, "Common Infos", "DataOrientation", "MULTIPLEXED");
  if (orientation != "MULTIPLEXED" && orientation != "VECTORIZED")
    Fail(path,
         "DataOrientation=" + orientation +
             " is not read (MULTIPLEXED or VECTORIZED)");
  layout.vectorized = orientation == "VECTORIZED";
  const auto count =
      FiniteNumber(Get(ini, "Common Infos", "NumberOfChannels", ""));
  if (!count || *count < 1 || *count > 65535 || *count != std::floor(*count))
    Fail(path, "NumberOfChannels is missing or not a channel count");
  layout.channels = static_cast<int>(*count);
  layout.rate = RateOf(path, Get(ini, "Common Infos", "SamplingInterval", ""));
  return layout;
}

// The channels of [Channel Infos], with each one's factor to its output unit;
// DataError when they are not exactly Ch1 to Ch<NumberOfChannels>, or when a
// resolution makes samples of the layout's type overflow.
std::vector<Channel> ReadChannels(const std::string& path,
                                  const IniText& ini,
                                  const Layout& layout,
                                  std::vector<double>& gains) {
  static const Section kNone;
  const auto infos = ini.find("Channel Infos");
  const Section& entries = infos == ini.end() ? kNone : infos->second;
  int listed = 0;
  for (const auto& [key, value] : entries)
    listed += key.size() > 2 && key.compare(0, 2, "Ch") == 0 &&
              key.find_first_not_of("0123456789", 2) == std::string::npos;
  if (listed != layout.channels)
    Fail(path,
         "NumberOfChannels is " + std::to_string(layout.channels) +
             " but [Channel Infos] lists " + std::to_string(listed));
  std::vector<Channel> channels;
  for (int c = 1; c <= layout.channels; ++c) {
    const std::string key = "Ch" + std::to_string(c);
    const std::string text = Get(ini, "Channel Infos", key, "\n");
    if (text == "\n") Fail(path, "[Channel Infos] has no " + key);
    const std::vector<std::string> fields = SplitFields(text);
    const std::string resolutionText = fields.size() > 2 ? fields[2] : "";
    const auto resolution =
        TrimBlanks(resolutionText).empty() ? 1.0 : FiniteNumber(resolutionText);
    if (!resolution)
      Fail(path, key + ": resolution \"" + resolutionText + "\" is no number");
    std::string unit = fields.size() > 3 ? fields[3] : "";
    if (TrimBlanks(unit).empty()) unit = "uV";
    double factor = 1;
    channels.push_back(MakeChannel(fields[0], unit, factor));
    gains.push_back(*resolution * factor);
    if (!FiniteScale(layout.type, gains.back(), 0))
      Fail(path,
           key + ": resolution " + AsUtf8(TrimBlanks(resolutionText)) +
               " makes its samples overflow (they would not be finite "
               "numbers)");
  }
  return channels;
}

// The markers of the marker file `name`, each as "<type>/<description>".
void ReadMarkers(const std::string& name, Header& header) {
  const std::string& path = header.path;
  const auto file = OpenCompanion(path, name, "marker file", header.notes);
  header.files.push_back(file->Path());
  const std::string text = ReadText(*file);
  if (!StartsLikeBrainVision(text, "marker"))
    Fail(path,
         "its marker file " + AsUtf8(name) +
             " is not a BrainVision marker file");
  const IniText ini = ParseIni(text);
  const auto infos = ini.find("Marker Infos");
  if (infos == ini.end()) return;
  std::vector<std::pair<long long, Event>> numbered;
  for (const auto& [key, value] : infos->second) {
    if (key.compare(0, 2, "Mk") != 0) continue;
    const std::vector<std::string> fields = SplitFields(value);
    const double position =
        fields.size() > 2 ? FiniteNumber(fields[2]).value_or(NAN) : NAN;
    const double number = FiniteNumber(key.substr(2)).value_or(NAN);
    if (!(position == std::floor(position) && std::fabs(position) < 1e15 &&
          number == std::floor(number) && std::fabs(number) < 1e15))
      Fail(path,
           "its marker file " + AsUtf8(name) + ": " + key +
               ": no marker position (a sample number)");
    numbered.push_back({static_cast<long long>(number),
                        {static_cast<long long>(position) - 1,
                         AsUtf8(fields[0] + "/" + fields[1])}});
  }
  std::stable_sort(
      numbered.begin(), numbered.end(), [](const auto& a, const auto& b) {
        return a.first < b.first;
      });
  for (auto& [number, event] : numbered) header.events.push_back(event);
}

// A "New Segment" marker after the first sample starts a part recorded
// after a pause: the samples before it are not its neighbours in time.
void FindSegments(Header& header) {
  for (const Event& event : header.events)
    if (event.code.rfind("New Segment/", 0) == 0 && event.sample > 0 &&
        (header.breaks.empty() || header.breaks.back().sample < event.sample))
      header.breaks.push_back(
          {event.sample,
           "a new segment begins at sample " + std::to_string(event.sample) +
               " (marker New Segment)"});
}

class BrainVisionRecording : public RecordingBase {
 public:
  BrainVisionRecording(Header header,
                       std::unique_ptr<BinaryFile> data,
                       Layout layout,
                       std::vector<double> gains)
      : RecordingBase(std::move(header)),
        data_(std::move(data)),
        layout_(layout),
        gains_(std::move(gains)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    const std::uint64_t bytes = SampleBytes(layout_.type);
    const std::uint64_t samples = static_cast<std::uint64_t>(Samples());
    const std::uint64_t at = static_cast<std::uint64_t>(c) * bytes;
    const ChannelLayout where =
        layout_.vectorized
            ? ChannelLayout{at * samples,
                            samples * bytes,
                            0,
                            samples,
                            1,
                            layout_.type}
            : ChannelLayout{
                  0, layout_.channels * bytes, at, 1, samples, layout_.type};
    ReadChannelSamples(*data_, where, gains_[c], 0, out);
    if (layout_.type == SampleType::kFloat32) CheckFinite(c, out);
  }

 private:
  std::unique_ptr<BinaryFile> data_;
  Layout layout_;
  std::vector<double> gains_;
};

}  // namespace

bool StartsLikeBrainVision(std::string_view text, std::string_view kind) {
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
  std::string squeezed;
  for (char c : text.substr(0, 80)) {
    if (c == '\n') break;
    if (c != ' ')
      squeezed +=
          static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return squeezed.rfind("brainvisiondataexchange" + std::string(kind) + "file",
                        0) == 0;
}

std::unique_ptr<RecordingBase> OpenBrainVision(const std::string& path) {
  const std::string text = ReadText(BinaryFile(path));
  if (!StartsLikeBrainVision(text, "header"))
    Fail(path, "not a BrainVision header file");
  const IniText ini = ParseIni(text);
  RefuseRepeatedKeys(path, ini);
  const Layout layout = ReadLayout(path, ini);
  Header header;
  header.path = path;
  header.format = "BrainVision";
  header.samplingRate = layout.rate;
  std::vector<double> gains;
  header.channels = ReadChannels(path, ini, layout, gains);
  const std::string dataName = Get(ini, "Common Infos", "DataFile", "");
  if (dataName.empty()) Fail(path, "the header names no DataFile");
  auto data = OpenCompanion(path, dataName, "data file", header.notes);
  header.files = {path, data->Path()};
  const std::uint64_t frame = layout.channels * SampleBytes(layout.type);
  if (data->Size() % frame != 0)
    Fail(path,
         "its data file " + AsUtf8(dataName) + ": " + std::to_string(data->Size()) +
             " bytes are not a whole number of " +
             std::to_string(layout.channels) + "-channel samples of " +
             std::to_string(SampleBytes(layout.type)) +
             " bytes each (truncated?)");
  header.samples = static_cast<long long>(data->Size() / frame);
  const std::string markers = Get(ini, "Common Infos", "MarkerFile", "");
  if (!markers.empty()) ReadMarkers(markers, header);
  SettleEvents(header);
  FindSegments(header);
  return std::make_unique<BrainVisionRecording>(
      std::move(header), std::move(data), layout, std::move(gains));
}

}  // namespace Korva::Recording
