#include "recording/recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "data/csv_io.h"
#include "recording/binary_file.h"
#include "recording/readers.h"
#include "text/utf8.h"

namespace Korva::Recording {
namespace {

// How much of a file is looked at to tell its format.
constexpr std::size_t kHeadBytes = 64 << 10;

enum class Kind { kEdf, kBdf, kGdf, kBrainVision, kXdf, kCsv, kUnknown };

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kEdf:
      return "EDF";
    case Kind::kBdf:
      return "BDF";
    case Kind::kGdf:
      return "GDF";
    case Kind::kBrainVision:
      return "a BrainVision header";
    case Kind::kXdf:
      return "XDF";
    case Kind::kCsv:
      return "CSV";
    case Kind::kUnknown:
      break;
  }
  return "unknown";
}

std::string Extension(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return "";
  std::string extension = path.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

Kind KindOfExtension(const std::string& extension) {
  if (extension == "edf") return Kind::kEdf;
  if (extension == "bdf") return Kind::kBdf;
  if (extension == "gdf") return Kind::kGdf;
  if (extension == "vhdr") return Kind::kBrainVision;
  if (extension == "xdf") return Kind::kXdf;
  if (extension == "csv") return Kind::kCsv;
  return Kind::kUnknown;
}

bool IsText(const std::string& head) {
  return head.find('\0') == std::string::npos;
}

Kind KindOfContent(const std::string& head, const OpenOptions& options) {
  if (head.rfind("0       ", 0) == 0) return Kind::kEdf;
  if (head.rfind("\xff"
                 "BIOSEMI",
                 0) == 0)
    return Kind::kBdf;
  if (head.rfind("GDF ", 0) == 0) return Kind::kGdf;
  if (head.rfind("XDF:", 0) == 0) return Kind::kXdf;
  if (!IsText(head)) return Kind::kUnknown;
  if (StartsLikeBrainVision(head, "header")) return Kind::kBrainVision;
  const CsvColumns columns = FindCsvColumns(head, options);
  return columns.time || columns.marker ? Kind::kCsv : Kind::kUnknown;
}

std::string UnknownContent(const std::string& path,
                           const std::string& head,
                           Kind claimed) {
  // A .csv file that is not CSV text hears why, as a feature table would.
  if (claimed == Kind::kCsv) Data::CheckCsvText(head, path);
  if (!IsText(head) && claimed == Kind::kBrainVision)
    return "byte " + std::to_string(head.find('\0') + 1) +
           " is a NUL: binary data, not the text of a BrainVision header";
  if (IsText(head) && StartsLikeBrainVision(head, "marker"))
    return "a BrainVision marker file; open the header (.vhdr) that names it";
  return "not a recording korva reads: it starts like none of EDF, BDF, GDF, "
         "a BrainVision header (.vhdr), XDF and a headset CSV (a header line "
         "with a time column and a marker column)";
}

void CheckUsable(const Recording& r) {
  if (r.Samples() <= 0) Fail(r.Path(), "the recording holds no samples");
  if (r.Channels().empty()) Fail(r.Path(), "the recording offers no channels");
  const double rate = r.SamplingRate();
  if (!(rate >= kMinSamplingRate && rate <= kMaxSamplingRate)) {
    char text[160];
    std::snprintf(text,
                  sizeof text,
                  "its sampling rate, %g Hz, is outside the "
                  "%g Hz to %g Hz korva reads",
                  rate,
                  kMinSamplingRate,
                  kMaxSamplingRate);
    Fail(r.Path(), text);
  }
  CheckChannelNames(r.Path(), r.Channels());
}

}  // namespace

void CheckChannelNames(const std::string& path,
                       const std::vector<Channel>& channels) {
  std::map<std::string, size_t> seen;
  for (size_t c = 0; c < channels.size(); ++c) {
    const std::string& name = channels[c].name;
    const std::string which = "channel " + std::to_string(c + 1);
    if (name.empty()) Fail(path, which + " has no name");
    if (const auto code = Text::FirstControlCharacter(name)) {
      char text[80];
      std::snprintf(text,
                    sizeof text,
                    " has a control character (U+%04X) in its name",
                    static_cast<unsigned>(*code));
      Fail(path, which + text);
    }
    const auto [earlier, added] = seen.emplace(name, c);
    if (!added)
      Fail(path,
           "channels " + std::to_string(earlier->second + 1) + " and " +
               std::to_string(c + 1) + " are both named \"" + name +
               "\": a recipe could not tell them apart");
  }
}

const std::vector<Break>& Recording::Breaks() const {
  static const std::vector<Break> kNone;
  return kNone;
}

std::unique_ptr<Recording> OpenRecording(const std::string& path,
                                         const OpenOptions& options) {
  std::string head = BinaryFile(path).ReadUpTo(0, kHeadBytes);
  const Kind kind = KindOfContent(head, options);
  std::unique_ptr<RecordingBase> recording;
  switch (kind) {
    case Kind::kEdf:
    case Kind::kBdf:
      recording = OpenEdf(path);
      break;
    case Kind::kGdf:
      recording = OpenGdf(path);
      break;
    case Kind::kBrainVision:
      recording = OpenBrainVision(path);
      break;
    case Kind::kXdf:
      recording = OpenXdf(path, options);
      break;
    case Kind::kCsv:
      recording = OpenHeadsetCsv(path, options);
      break;
    case Kind::kUnknown:
      Fail(path, UnknownContent(path, head, KindOfExtension(Extension(path))));
  }
  CheckUsable(*recording);
  const std::string extension = Extension(path);
  const Kind claimed = KindOfExtension(extension);
  if (claimed != Kind::kUnknown && claimed != kind)
    recording->AddNote("read as " + recording->Format() + ": the file is " +
                       KindName(kind) + ", not " + KindName(claimed) +
                       " as its extension ." + extension + " says");
  return recording;
}

bool IsRecording(const std::string& path, const OpenOptions& options) {
  const std::string extension = Extension(path);
  if (extension == "edf" || extension == "bdf" || extension == "gdf" ||
      extension == "vhdr" || extension == "xdf")
    return true;
  try {
    const std::string head = BinaryFile(path).ReadUpTo(0, kHeadBytes);
    if (!IsText(head)) return false;
    const CsvColumns columns = FindCsvColumns(head, options);
    return columns.time && columns.marker;
  } catch (const Data::DataError&) {
    return false;
  }
}

}  // namespace Korva::Recording
