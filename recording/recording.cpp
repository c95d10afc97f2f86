#include "recording/recording.h"

#include <algorithm>
#include <cmath>

#include "data/csv_io.h"
#include "recording/binary_file.h"
#include "recording/readers.h"

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

// What is wrong with a file that is text gone wrong, in the data-CSV
// reader's words (UTF-16, lines ending in a carriage return alone), or a
// headset CSV file with a NUL byte, as the headset reader says it further
// on; "" for anything else.
std::string BrokenText(const std::string& head, const OpenOptions& options) {
  const size_t nul = head.find('\0');
  if (nul == std::string::npos || Data::IsUtf16(head))
    return Data::NotCsvText(head);
  const CsvColumns before =
      FindCsvColumns(std::string_view(head).substr(0, nul), options);
  if (!before.time && !before.marker) return "";
  return ": line " +
         std::to_string(1 + std::count(head.begin(), head.begin() + nul, '\n')) +
         ": a NUL byte: this is binary data, not CSV text";
}

std::string UnknownContent(const std::string& head) {
  if (IsText(head) && StartsLikeBrainVision(head, "marker"))
    return "a BrainVision marker file; open the header (.vhdr) that names it";
  return "not a recording korva reads: it starts like none of EDF, BDF, GDF, "
         "a BrainVision header (.vhdr), XDF and a headset CSV (a header line "
         "with a time column and a marker column)";
}

void CheckUsable(const Recording& r) {
  if (r.Samples() <= 0) Fail(r.Path(), "the recording holds no samples");
  if (r.Channels().empty()) Fail(r.Path(), "the recording offers no channels");
  if (!std::isfinite(r.SamplingRate()) || r.SamplingRate() <= 0)
    Fail(r.Path(), "the recording's sampling rate is not a positive number");
}

}  // namespace

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
      if (const std::string why = BrokenText(head, options); !why.empty())
        throw Data::DataError(path + why);
      Fail(path, UnknownContent(head));
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
