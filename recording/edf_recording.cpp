// EDF, EDF+, BDF and BDF+ through EDFlib, built into the reader library
// libkorva_edf.so (see OpenEdf). EDFlib checks the header and the file's
// size, reads the annotations of EDF+ and BDF+ files and one signal at a
// time from its records. Its state is global, so every call holds one lock.
#include <edflib.h>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "data/dataset.h"
#include "recording/readers.h"
#include "recording/recording_base.h"

namespace Korva::Recording {
namespace {

// EDFlib counts time in units of 100 ns.
constexpr double kTicksPerSecond = EDFLIB_TIME_DIMENSION;
// Samples of the Status channel read at a time when its events are found.
constexpr int kStatusBlock = 1 << 16;
// The bits of a BDF Status sample that hold the trigger code; the bits
// above them report the amplifier's state.
constexpr int kTriggerBits = 0xffff;

// Recursive: a recording that fails while it is opened closes its file.
std::recursive_mutex& EdfLock() {
  static std::recursive_mutex lock;
  return lock;
}

// Why a file that exists does not describe a whole recording: its size
// against the records its header announces, or "" when they agree.
std::string SizeMismatch(const std::string& path);

std::string OpenError(const std::string& path, int code) {
  switch (code) {
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
      return "cannot open";
    case EDFLIB_FILE_CONTAINS_FORMAT_ERRORS: {
      const std::string size = SizeMismatch(path);
      return size.empty() ? "not a valid EDF or BDF file (its header is "
                            "damaged or does not match the records)"
                          : size;
    }
    case EDFLIB_MAXFILES_REACHED:
      return "too many EDF and BDF files are open at once";
    case EDFLIB_FILE_READ_ERROR:
      return "cannot be read";
    case EDFLIB_FILE_ALREADY_OPENED:
      return "is already open for reading in this program";
    case EDFLIB_FILE_IS_DISCONTINUOUS:
      return "an EDF+D or BDF+D file, whose records have gaps; only "
             "continuous recordings are read";
    case EDFLIB_MALLOC_ERROR:
      return "not enough memory to open it";
    default:
      return "not read by EDFlib (error " + std::to_string(code) + ")";
  }
}

// One offered channel: EDFlib's signal and the factor to the output unit.
struct Source {
  int signal = 0;
  double factor = 1;
  bool status = false;  // a BDF Status channel: its trigger codes
};

class EdfRecording : public RecordingBase {
 public:
  EdfRecording(Header header, int handle, std::vector<Source> sources)
      : RecordingBase(std::move(header)),
        handle_(handle),
        sources_(std::move(sources)) {}
  ~EdfRecording() override {
    std::lock_guard<std::recursive_mutex> hold(EdfLock());
    edfclose_file(handle_);
  }

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    std::lock_guard<std::recursive_mutex> hold(EdfLock());
    out.assign(static_cast<size_t>(Samples()), 0.0);
    const Source& s = sources_[c];
    if (edfseek(handle_, s.signal, 0, EDFSEEK_SET) != 0)
      Fail(Path(), "cannot seek in channel " + Channels()[c].name);
    if (s.status) {
      ReadStatus(s.signal, [&](long long at, int code) { out[at] = code; });
      return;
    }
    for (long long at = 0; at < Samples();) {
      const int n =
          static_cast<int>(std::min<long long>(Samples() - at, INT_MAX / 8));
      if (edfread_physical_samples(handle_, s.signal, n, out.data() + at) != n)
        Fail(Path(),
             "cannot read channel " + Channels()[c].name +
                 " (truncated since it was opened?)");
      at += n;
    }
    if (s.factor != 1)
      for (double& value : out) value *= s.factor;
  }

  // Calls `take(sample, code)` for every sample of a Status channel, from
  // the current position, a block at a time.
  template <typename Take>
  void ReadStatus(int signal, Take take) {
    std::vector<int> block(kStatusBlock);
    for (long long at = 0; at < Samples();) {
      const int n =
          static_cast<int>(std::min<long long>(Samples() - at, kStatusBlock));
      if (edfread_digital_samples(handle_, signal, n, block.data()) != n)
        Fail(Path(), "cannot read the Status channel");
      for (int i = 0; i < n; ++i) take(at + i, block[i] & kTriggerBits);
      at += n;
    }
  }

  // The events of a BDF Status channel: a code's onset wherever the trigger
  // bits change to a value other than zero. Called with the lock held.
  void FindStatusEvents(int signal) {
    if (edfseek(handle_, signal, 0, EDFSEEK_SET) != 0)
      Fail(Path(), "cannot seek in the Status channel");
    int previous = 0;
    ReadStatus(signal, [&](long long at, int code) {
      if (code != 0 && code != previous)
        header_.events.push_back({at, std::to_string(code)});
      previous = code;
    });
    SettleEvents(header_);
  }

 private:
  int handle_;
  std::vector<Source> sources_;
};

bool IsStatusName(const std::string& name) {
  return name.size() == 6 && strncasecmp(name.c_str(), "status", 6) == 0;
}

long long HeaderNumber(const std::string& header, size_t at, size_t size) {
  const std::string text(TrimBlanks(std::string_view(header).substr(at, size)));
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  return text.empty() || *end != '\0' ? -1 : value;
}

std::string SizeMismatch(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) return "";
  std::string fixed(256, '\0');
  fixed.resize(std::fread(fixed.data(), 1, fixed.size(), file));
  const long long signals =
      fixed.size() == 256 ? HeaderNumber(fixed, 252, 4) : -1;
  std::string signalHeader;
  if (signals > 0 && signals <= EDFLIB_MAXSIGNALS + 64) {
    signalHeader.resize(256 * static_cast<size_t>(signals));
    signalHeader.resize(
        std::fread(signalHeader.data(), 1, signalHeader.size(), file));
  }
  std::fseek(file, 0, SEEK_END);
  const long long size = std::ftell(file);
  std::fclose(file);
  if (signals <= 0 || signalHeader.size() != 256 * static_cast<size_t>(signals))
    return size < 256 ? "too short for an EDF or BDF header (" +
                            std::to_string(size) + " bytes)"
                      : "";
  const long long records = HeaderNumber(fixed, 236, 8);
  const long long sampleBytes = fixed[0] == '\xff' ? 3 : 2;
  long long recordBytes = 0;
  for (long long i = 0; i < signals; ++i) {
    const long long count =
        HeaderNumber(signalHeader, 216 * signals + 8 * i, 8);
    if (count < 0 || count > INT_MAX) return "";
    recordBytes += count * sampleBytes;
  }
  const long long headerBytes = 256 * (signals + 1);
  if (records < 0 ||
      records > (LLONG_MAX - headerBytes) / std::max(1LL, recordBytes) ||
      headerBytes + records * recordBytes == size)
    return "";
  return "the header announces " + std::to_string(records) + " records of " +
         std::to_string(recordBytes) + " bytes after " +
         std::to_string(headerBytes) + " header bytes, " +
         std::to_string(headerBytes + records * recordBytes) +
         " bytes in all; the file has " + std::to_string(size) +
         (size < headerBytes + records * recordBytes ? " (truncated?)" : "");
}

// The recording's description from EDFlib's header: the channels at the
// most common rate, the annotations as events.
void Describe(const std::string& path,
              const edf_hdr_struct& hdr,
              Header& header,
              std::vector<Source>& sources,
              int& statusSignal) {
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
    Source source{i, 1, false};
    Channel channel = MakeChannel(p.label, p.physdimension, source.factor);
    if (hdr.filetype >= EDFLIB_FILETYPE_BDF && IsStatusName(channel.name)) {
      source = {i, 1, true};
      channel.unit = "";
      channel.eeg = false;
      statusSignal = i;
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

std::unique_ptr<Recording> OpenEdfFile(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(EdfLock());
  auto hdr = std::make_unique<edf_hdr_struct>();
  if (edfopen_file_readonly(
          path.c_str(), hdr.get(), EDFLIB_READ_ALL_ANNOTATIONS) != 0)
    Fail(path, OpenError(path, hdr->filetype));
  Header header;
  std::vector<Source> sources;
  int statusSignal = -1;
  try {
    Describe(path, *hdr, header, sources, statusSignal);
  } catch (...) {
    edfclose_file(hdr->handle);
    throw;
  }
  auto recording = std::make_unique<EdfRecording>(
      std::move(header), hdr->handle, std::move(sources));
  if (statusSignal >= 0 && recording->Events().empty())
    recording->FindStatusEvents(statusSignal);
  return recording;
}

}  // namespace
}  // namespace Korva::Recording

extern "C" __attribute__((visibility("default"))) int korva_open_edf(
    const char* path, Korva::Recording::Recording** out, std::string* error) {
  try {
    *out = Korva::Recording::OpenEdfFile(path).release();
    return 0;
  } catch (const Korva::Data::DataError& e) {
    *error = e.what();
    return 1;
  } catch (const std::exception& e) {
    *error = e.what();
    return 2;
  }
}

extern "C" __attribute__((visibility("default"))) int korva_read_edf_channel(
    Korva::Recording::Recording* recording,
    int channel,
    std::vector<double>* out,
    std::string* error) {
  try {
    recording->ReadChannel(channel, *out);
    return 0;
  } catch (const Korva::Data::DataError& e) {
    *error = e.what();
    return 1;
  } catch (const std::exception& e) {
    *error = e.what();
    return 2;
  }
}
