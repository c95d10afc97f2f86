// EDF, EDF+, BDF and BDF+ in the reader library libkorva_edf.so (see
// OpenEdf). EDFlib checks the header and the file's size and reads the
// annotations of EDF+ and BDF+ files when the file is opened, and is done
// with it then. The samples of a channel are read here, many records at a
// time (EDFlib seeks and reads once per record and channel, which makes
// reading several times slower than the file's size asks), and turned into
// physical values as EDFlib does: the digital value clipped to the digital
// range, then bitvalue * (offset + value) with EDFlib's bitvalue and offset.
// EDFlib's state is global, so every call to it holds one lock. A file whose
// header EDFlib refuses is read by korva's own header reader where its
// samples can still be placed, and so is every EDF+D and BDF+D file, whose
// records have gaps (edf_lenient.h).
#include <edflib.h>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>

#include "data/dataset.h"
#include "data/reader_library.h"
#include "recording/binary_file.h"
#include "recording/edf_lenient.h"
#include "recording/readers.h"
#include "recording/recording_base.h"
#include "text/number_text.h"

namespace Korva::Recording {
namespace {

// EDFlib counts time in units of 100 ns.
constexpr double kTicksPerSecond = EDFLIB_TIME_DIMENSION;
// The bits of a BDF Status sample that hold the trigger code; the bits
// above them report the amplifier's state.
constexpr int kTriggerBits = 0xffff;

std::mutex& EdfLock() {
  static std::mutex lock;
  return lock;
}

std::string OpenError(int code) {
  switch (code) {
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
      return "cannot open";
    case EDFLIB_MAXFILES_REACHED:
      return "too many EDF and BDF files are open at once";
    case EDFLIB_FILE_READ_ERROR:
      return "cannot be read";
    case EDFLIB_FILE_ALREADY_OPENED:
      return "is already open for reading in this program";
    case EDFLIB_MALLOC_ERROR:
      return "not enough memory to open it";
    default:
      return "not read by EDFlib (error " + std::to_string(code) + ")";
  }
}

// One offered channel: EDFlib's signal, where its samples lie in the
// records and how they become physical values in the output unit.
struct Source {
  int signal = 0;
  double factor = 1;
  bool status = false;  // a BDF Status channel: its trigger codes
  ChannelLayout layout;
  int digitalMin = 0, digitalMax = 0;
  double bitvalue = 1, offset = 0;  // as EDFlib computes them
};

// Calls `take(value)` for every digital value of `s`, clipped to its
// digital range as EDFlib clips them; `kBytes` is 2 (EDF) or 3 (BDF).
template <int kBytes, typename Take>
void ForEachDigital(const BinaryFile& file, const Source& s, Take& take) {
  ForEachPiece(file, s.layout, [&](const Piece& piece) {
    for (std::uint64_t r = 0; r < piece.runs; ++r) {
      const unsigned char* at = piece.bytes + r * piece.stride;
      for (std::uint64_t i = 0; i < piece.run; ++i, at += kBytes) {
        const int value = kBytes == 3 ? LoadInt24(at) : LoadInt16(at);
        take(std::clamp(value, s.digitalMin, s.digitalMax));
      }
    }
  });
}

template <typename Take>
void ForEachDigital(const BinaryFile& file, const Source& s, Take take) {
  if (s.layout.type == SampleType::kInt24)
    ForEachDigital<3>(file, s, take);
  else
    ForEachDigital<2>(file, s, take);
}

class EdfRecording : public RecordingBase {
 public:
  EdfRecording(Header header,
               std::unique_ptr<BinaryFile> file,
               std::vector<Source> sources)
      : RecordingBase(std::move(header)),
        file_(std::move(file)),
        sources_(std::move(sources)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    const Source& s = sources_[c];
    out.resize(static_cast<size_t>(Samples()));
    double* to = out.data();
    if (s.status) {
      ForEachDigital(
          *file_, s, [&](int value) { *to++ = value & kTriggerBits; });
      return;
    }
    ForEachDigital(
        *file_, s, [&](int value) { *to++ = s.bitvalue * (s.offset + value); });
    if (s.factor != 1)
      for (double& value : out) value *= s.factor;
  }

  // The events of a BDF Status channel: a code's onset wherever the trigger
  // bits change to a value other than zero.
  void FindStatusEvents(const Source& s) {
    long long at = 0;
    int previous = 0;
    ForEachDigital(*file_, s, [&](int value) {
      const int code = value & kTriggerBits;
      if (code != 0 && code != previous)
        header_.events.push_back({at, std::to_string(code)});
      previous = code;
      ++at;
    });
    SettleEvents(header_);
  }

 private:
  std::unique_ptr<BinaryFile> file_;
  std::vector<Source> sources_;
};

bool IsStatusName(const std::string& name) {
  return name.size() == 6 && strncasecmp(name.c_str(), "status", 6) == 0;
}

long long HeaderNumber(const std::string& header, size_t at, size_t size) {
  std::int64_t value = -1;
  const std::string_view text =
      TrimBlanks(std::string_view(header).substr(at, size));
  return Text::ParseWhole(text, value) == Text::NumberStatus::kOk ? value : -1;
}

// The recording's description from EDFlib's header: the channels at the
// most common rate, the annotations as events.
void Describe(const std::string& path,
              const edf_hdr_struct& hdr,
              Header& header,
              std::vector<Source>& sources,
              int& statusSource) {
  static const char* const kFormats[] = {"EDF", "EDF+", "BDF", "BDF+"};
  header.path = path;
  header.format = kFormats[hdr.filetype];
  if (hdr.edfsignals < 1) Fail(path, "no signals besides annotations");
  if (hdr.datarecord_duration <= 0)
    Fail(path, "the header gives the records no duration");
  std::vector<long long> counts;
  for (int i = 0; i < hdr.edfsignals; ++i)
    counts.push_back(hdr.signalparam[i].smp_in_datarecord);
  const long long perRecord = MostCommonCount(counts);
  header.samplingRate = perRecord * kTicksPerSecond / hdr.datarecord_duration;
  header.samples = perRecord * hdr.datarecords_in_file;
  std::vector<std::string> leftOut;
  for (int i = 0; i < hdr.edfsignals; ++i) {
    const edf_param_struct& p = hdr.signalparam[i];
    if (p.smp_in_datarecord != perRecord) {
      leftOut.emplace_back(TrimBlanks(p.label));
      continue;
    }
    Source source;
    source.signal = i;
    Channel channel = MakeChannel(p.label, p.physdimension, source.factor);
    if (hdr.filetype >= EDFLIB_FILETYPE_BDF && IsStatusName(channel.name)) {
      source.factor = 1;
      source.status = true;
      channel.unit = "";
      channel.eeg = false;
      statusSource = static_cast<int>(sources.size());
    }
    header.channels.push_back(channel);
    sources.push_back(source);
  }
  std::string note = LeftOutNote(leftOut, header.samplingRate);
  if (!note.empty()) header.notes.push_back(note);
  for (long long a = 0; a < hdr.annotations_in_file; ++a) {
    edf_annotation_struct annotation;
    if (edf_get_annotation(hdr.handle, static_cast<int>(a), &annotation) != 0)
      Fail(path, "cannot read annotation " + std::to_string(a + 1));
    const std::string text(TrimBlanks(annotation.annotation));
    if (!text.empty())
      header.events.push_back(
          {SampleAt(annotation.onset / kTicksPerSecond, header.samplingRate),
           AsUtf8(text)});
  }
  SettleEvents(header);
}

// Where the samples of each of `sources` lie in the records, from the
// file's own header (EDFlib does not say where a signal starts in a
// record), and EDFlib's scale for each.
void PlaceSources(const BinaryFile& file,
                  const edf_hdr_struct& hdr,
                  std::vector<Source>& sources) {
  const auto disagree = [&] {
    Fail(file.Path(),
         "its header does not read the same as when EDFlib checked it "
         "(changed since?)");
  };
  const std::string fixed = file.ReadUpTo(0, 256);
  const long long signals =
      fixed.size() == 256 ? HeaderNumber(fixed, 252, 4) : -1;
  if (signals < 1 || signals > EDFLIB_MAXSIGNALS ||
      HeaderNumber(fixed, 184, 8) != 256 * (signals + 1))
    disagree();
  const std::string head = file.ReadUpTo(256, 256 * signals);
  if (head.size() != 256 * static_cast<size_t>(signals)) disagree();
  const bool bdf = hdr.filetype == EDFLIB_FILETYPE_BDF ||
                   hdr.filetype == EDFLIB_FILETYPE_BDFPLUS;
  // EDFlib offers every signal but the annotation signals of EDF+ and BDF+.
  const char* annotations =
      hdr.filetype == EDFLIB_FILETYPE_EDFPLUS   ? "EDF Annotations "
      : hdr.filetype == EDFLIB_FILETYPE_BDFPLUS ? "BDF Annotations "
                                                : nullptr;
  std::vector<std::uint64_t> offsets;  // by EDFlib's signal
  std::uint64_t recordBytes = 0;
  for (long long i = 0; i < signals; ++i) {
    const long long count = HeaderNumber(head, 216 * signals + 8 * i, 8);
    if (count < 1 || count > INT_MAX) disagree();
    if (annotations == nullptr || head.compare(16 * i, 16, annotations) != 0) {
      if (offsets.size() >= static_cast<size_t>(hdr.edfsignals) ||
          count != hdr.signalparam[offsets.size()].smp_in_datarecord)
        disagree();
      offsets.push_back(recordBytes);
    }
    recordBytes += static_cast<std::uint64_t>(count) * (bdf ? 3 : 2);
  }
  const auto records = static_cast<std::uint64_t>(hdr.datarecords_in_file);
  const std::uint64_t start = head.size() + 256;
  if (offsets.size() != static_cast<size_t>(hdr.edfsignals) ||
      file.Size() < start || records > (file.Size() - start) / recordBytes)
    disagree();
  for (Source& s : sources) {
    const edf_param_struct& p = hdr.signalparam[s.signal];
    s.layout = {start,
                recordBytes,
                offsets[s.signal],
                static_cast<std::uint64_t>(p.smp_in_datarecord),
                records,
                bdf ? SampleType::kInt24 : SampleType::kInt16};
    s.digitalMin = p.dig_min;
    s.digitalMax = p.dig_max;
    s.bitvalue = (p.phys_max - p.phys_min) / (p.dig_max - p.dig_min);
    s.offset = p.phys_max / s.bitvalue - p.dig_max;
  }
}

// The channels of `layout` at the most common rate, and each one's
// source; as Describe does for EDFlib's header, with MNE's scale (the
// physical minimum plus the digital value's distance from the digital
// minimum times physical range / digital range).
void DescribeLayout(const EdfLayout& layout,
                    Header& header,
                    std::vector<Source>& sources,
                    int& statusSource) {
  std::vector<long long> counts;
  for (const EdfSignal& s : layout.signals)
    if (!s.annotations) counts.push_back(s.perRecord);
  if (counts.empty()) Fail(header.path, "no signals besides annotations");
  const long long perRecord = MostCommonCount(counts);
  header.samplingRate = perRecord / layout.recordSeconds;
  header.samples = perRecord * layout.records;
  std::vector<std::string> leftOut;
  for (size_t i = 0; i < layout.signals.size(); ++i) {
    const EdfSignal& s = layout.signals[i];
    if (s.annotations) continue;
    if (s.perRecord != perRecord) {
      leftOut.push_back(s.label);
      continue;
    }
    Source source;
    source.signal = static_cast<int>(i);
    Channel channel = MakeChannel(s.label, s.unit, source.factor);
    channel.eeg = channel.eeg && !s.scaleUnknown;
    source.status = layout.bdf && IsStatusName(channel.name);
    if (source.status) {
      source.factor = 1;
      channel.unit = "";
      channel.eeg = false;
      statusSource = static_cast<int>(sources.size());
    }
    source.layout = {layout.headerBytes, layout.recordBytes, s.offset,
                     static_cast<std::uint64_t>(s.perRecord),
                     static_cast<std::uint64_t>(layout.records),
                     layout.bdf ? SampleType::kInt24 : SampleType::kInt16};
    const auto digital = [](double v) {
      return static_cast<int>(std::clamp(v, double(INT_MIN), double(INT_MAX)));
    };
    source.digitalMin = digital(std::min(s.digitalMin, s.digitalMax));
    source.digitalMax = digital(std::max(s.digitalMin, s.digitalMax));
    source.bitvalue = (s.physicalMax - s.physicalMin) /
                      (s.digitalMax - s.digitalMin);
    source.offset = s.physicalMin / source.bitvalue - s.digitalMin;
    header.channels.push_back(channel);
    sources.push_back(source);
  }
  if (std::string note = LeftOutNote(leftOut, header.samplingRate);
      !note.empty())
    header.notes.push_back(note);
}

// The recording of `sources`; a file without annotated events takes its
// events from the BDF Status channel `statusSource` (-1: none).
std::unique_ptr<Recording> Finish(Header header,
                                  std::unique_ptr<BinaryFile> file,
                                  std::vector<Source> sources,
                                  int statusSource) {
  const Source status = statusSource >= 0 ? sources[statusSource] : Source{};
  auto recording = std::make_unique<EdfRecording>(
      std::move(header), std::move(file), std::move(sources));
  if (statusSource >= 0 && recording->Events().empty())
    recording->FindStatusEvents(status);
  return recording;
}

// The events and breaks of an EDF+D or BDF+D file: each record where its
// time-keeping annotation places it, each annotation on the sample of its
// time in the record that holds it; those in gaps are left out, counted.
void PlaceInRecords(const EdfLayout& layout,
                    const EdfAnnotations& read,
                    Header& header) {
  const EdfTimeline timeline(header.path,
                             read.recordStarts,
                             header.samples / layout.records,
                             header.samplingRate);
  header.breaks = timeline.Breaks();
  const size_t breaks = header.breaks.size();
  header.notes.push_back(
      header.format + ": its " + std::to_string(layout.records) +
      " records, placed in time by their time-keeping annotations, " +
      (breaks == 0 ? std::string("follow each other without a gap")
       : breaks == 1
           ? "have 1 gap between them (a break: nothing is filtered or cut "
             "across it)"
           : "have " + std::to_string(breaks) +
                 " gaps between them (breaks: nothing is filtered or cut "
                 "across them)"));
  long long inGaps = 0;
  for (const EdfAnnotation& a : read.annotations) {
    const std::string text(TrimBlanks(a.text));
    if (text.empty()) continue;
    if (const std::optional<long long> sample = timeline.SampleOf(a.onset))
      header.events.push_back({*sample, AsUtf8(text)});
    else
      ++inGaps;
  }
  if (inGaps > 0)
    header.notes.push_back(
        std::to_string(inGaps) +
        (inGaps == 1 ? " annotation falls in a gap between records and is"
                     : " annotations fall in the gaps between records and "
                       "are") +
        " left out");
}

// A file EDFlib refuses, read by korva's own header reader (edf_lenient.h).
std::unique_ptr<Recording> OpenLenient(const std::string& path) {
  auto file = std::make_unique<BinaryFile>(path);
  const EdfLayout layout = ReadEdfLayout(*file);
  Header header;
  header.path = path;
  const char* kind = layout.discontinuous ? "+D" : layout.plus ? "+" : "";
  header.format = std::string(layout.bdf ? "BDF" : "EDF") + kind;
  header.notes = layout.notes;
  std::vector<Source> sources;
  int statusSource = -1;
  DescribeLayout(layout, header, sources, statusSource);
  const EdfAnnotations read = ReadEdfAnnotations(*file, layout);
  // A discontinuous file without records has nothing to place in time.
  if (layout.discontinuous && layout.records > 0)
    PlaceInRecords(layout, read, header);
  else
    for (const EdfAnnotation& a : read.annotations)
      if (const std::string text(TrimBlanks(a.text)); !text.empty())
        header.events.push_back(
            {SampleAt(a.onset, header.samplingRate), AsUtf8(text)});
  SettleEvents(header);
  return Finish(std::move(header), std::move(file), std::move(sources),
                statusSource);
}

std::unique_ptr<Recording> OpenEdfFile(const std::string& path) {
  auto hdr = std::make_unique<edf_hdr_struct>();
  Header header;
  std::vector<Source> sources;
  int statusSource = -1;
  int refused = 0;
  {
    std::lock_guard<std::mutex> hold(EdfLock());
    if (edfopen_file_readonly(
            path.c_str(), hdr.get(), EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
      refused = hdr->filetype;
    } else {
      // EDFlib is done with the file once it has read the header and the
      // annotations; closing it lets the same file be opened again.
      struct Close {
        int handle;
        ~Close() { edfclose_file(handle); }
      } close{hdr->handle};
      Describe(path, *hdr, header, sources, statusSource);
    }
  }
  // EDFlib refuses a header with any field out of its rules, and every
  // EDF+D and BDF+D file; korva reads such a file itself where the samples
  // can still be placed.
  if (refused == EDFLIB_FILE_CONTAINS_FORMAT_ERRORS ||
      refused == EDFLIB_FILE_IS_DISCONTINUOUS)
    return OpenLenient(path);
  if (refused != 0) Fail(path, OpenError(refused));
  auto file = std::make_unique<BinaryFile>(path);
  PlaceSources(*file, *hdr, sources);
  return Finish(std::move(header), std::move(file), std::move(sources),
                statusSource);
}

}  // namespace
}  // namespace Korva::Recording

extern "C" __attribute__((visibility("default"))) int korva_open_edf(
    const char* path, Korva::Recording::Recording** out, std::string* error) {
  return Korva::Data::StatusOf(
      error, [&] { *out = Korva::Recording::OpenEdfFile(path).release(); });
}

extern "C" __attribute__((visibility("default"))) int korva_read_edf_channel(
    Korva::Recording::Recording* recording,
    int channel,
    std::vector<double>* out,
    std::string* error) {
  return Korva::Data::StatusOf(error,
                               [&] { recording->ReadChannel(channel, *out); });
}
