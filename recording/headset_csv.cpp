// The CSV files that consumer headsets export: lines of metadata starting
// with '%' or '#', a header line, then one line per sample: a time column in
// seconds, one column per channel (microvolts) and a marker column whose
// non-zero values are event codes. Columns whose first value is not a number
// are left out. The file is read once when it is opened, to check every
// value, count the samples and find the events, and once more for each
// channel read.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "data/csv_io.h"
#include "recording/readers.h"
#include "recording/recording_base.h"

namespace Korva::Recording {
namespace {

// How far the time column's median step may be from a whole rate's.
constexpr double kRateTolerance = 0.005;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The lines of a text file, one at a time, without their line ends.
class LineReader {
 public:
  explicit LineReader(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rbe");
    if (file_ == nullptr) Fail(path, "cannot open");
  }
  ~LineReader() {
    std::free(buffer_);
    std::fclose(file_);
  }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool Next(std::string_view& line) {
    const ssize_t length = ::getline(&buffer_, &capacity_, file_);
    if (length < 0) {
      if (std::ferror(file_)) Fail(path_, "cannot be read");
      return false;
    }
    ++number_;
    line = std::string_view(buffer_, static_cast<size_t>(length));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.remove_suffix(1);
    return true;
  }
  long long Number() const { return number_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
  long long number_ = 0;
};

bool IsMetadata(std::string_view line) {
  line = TrimBlanks(line);
  return line.empty() || line[0] == '%' || line[0] == '#';
}

// Reads up to the header line; "" when the file has none.
std::string_view FindHeader(LineReader& lines) {
  std::string_view line;
  while (lines.Next(line))
    if (!IsMetadata(line)) return line;
  return {};
}

char Delimiter(std::string_view line) {
  for (char d : {',', ';', '\t'})
    if (line.find(d) != std::string_view::npos) return d;
  return 0;
}

std::optional<double> ParseValue(std::string_view text) {
  text = TrimBlanks(text);
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() ||
      end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// Splits a data line into `fields` (views into `line`).
void SplitLine(std::string_view line,
               char delimiter,
               std::vector<std::string_view>& fields) {
  fields.clear();
  while (true) {
    const size_t at = line.find(delimiter);
    fields.push_back(line.substr(0, at));
    if (at == std::string_view::npos) return;
    line.remove_prefix(at + 1);
  }
}

// The fields of a header line; a field may be quoted.
std::vector<std::string> SplitHeader(std::string_view line) {
  const char delimiter = Delimiter(line);
  if (delimiter == 0) return {};
  std::vector<std::string> names;
  std::vector<std::string_view> fields;
  SplitLine(line, delimiter, fields);
  for (std::string_view field : fields) {
    field = TrimBlanks(field);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
      field = field.substr(1, field.size() - 2);
    names.emplace_back(field);
  }
  return names;
}

std::string ColumnList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names)
    list += (list.empty() ? "" : ", ") + name;
  return list;
}

int FindTimeColumn(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i)
    if (Lower(names[i]).rfind("time", 0) == 0) return static_cast<int>(i);
  return -1;
}

// The marker column by its given name, or the one named Marker*; -1 with
// `why` set when there is none or the choice is not clear.
int FindMarkerColumn(const std::vector<std::string>& names,
                     const std::string& wanted,
                     std::string& why) {
  std::vector<int> found;
  for (size_t i = 0; i < names.size(); ++i) {
    const bool match = wanted.empty()
                           ? Lower(names[i]).rfind("marker", 0) == 0
                           : names[i] == std::string(TrimBlanks(wanted));
    if (match) found.push_back(static_cast<int>(i));
  }
  if (found.size() == 1) return found[0];
  if (!wanted.empty())
    why = "no column is named \"" + AsUtf8(wanted) + "\"";
  else if (found.empty())
    why = "no column is named Marker...; name the marker column";
  else
    why = "several columns are named Marker...; name the marker column";
  why += " (columns: " + ColumnList(names) + ")";
  return -1;
}

// The text of an event code: whole numbers without a fraction.
std::string CodeText(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15)
    return std::to_string(static_cast<long long>(value));
  return Data::FormatDouble(value);
}

// Which columns are what.
struct Columns {
  char delimiter = ',';
  std::vector<std::string> names;
  int time = -1;
  int marker = -1;
  std::vector<int> channels;  // in file order, the marker column among them
};

Columns ReadColumns(LineReader& lines, const OpenOptions& options) {
  Columns columns;
  const std::string header(FindHeader(lines));
  columns.delimiter = Delimiter(header);
  for (const std::string& name : SplitHeader(header))
    columns.names.push_back(AsUtf8(name));
  if (columns.names.size() < 2)
    Fail(lines.Path(),
         "no CSV header line with time, channel and marker columns");
  columns.time = FindTimeColumn(columns.names);
  if (columns.time < 0 && !options.samplingRate)
    Fail(lines.Path(),
         "no time column (a column named Time...) to take the "
         "sampling rate from; give the sampling rate");
  std::string why;
  columns.marker = FindMarkerColumn(columns.names, options.markerColumn, why);
  if (columns.marker < 0) Fail(lines.Path(), why);
  return columns;
}

// The columns offered as channels: every one but the time column whose first
// value is a number (the marker column must be one).
void ChooseChannels(const std::string& path,
                    const std::vector<std::string_view>& first,
                    Columns& columns,
                    std::vector<std::string>& notes) {
  std::vector<std::string> leftOut;
  for (int i = 0; i < static_cast<int>(first.size()); ++i) {
    if (i == columns.time) continue;
    const bool number = ParseValue(first[i]).has_value() ||
                        (i == columns.marker && TrimBlanks(first[i]).empty());
    if (number)
      columns.channels.push_back(i);
    else if (i == columns.marker)
      Fail(path,
           "the marker column \"" + columns.names[i] +
               "\" does not hold numbers");
    else
      leftOut.push_back(columns.names[i]);
  }
  if (!leftOut.empty())
    notes.push_back("columns that do not hold numbers left out: " +
                    ColumnList(leftOut));
}

// What one pass over the samples finds.
struct Scan {
  long long rows = 0;
  std::vector<double> times;
  std::vector<Event> events;
};

void CheckRow(const LineReader& lines,
              const Columns& columns,
              const std::vector<std::string_view>& fields) {
  if (fields.size() != columns.names.size())
    Fail(lines.Path(),
         "line " + std::to_string(lines.Number()) + " has " +
             std::to_string(fields.size()) + " fields, the header " +
             std::to_string(columns.names.size()));
  for (int i : columns.channels)
    if (!ParseValue(fields[i]) &&
        !(i == columns.marker && TrimBlanks(fields[i]).empty()))
      Fail(lines.Path(),
           "line " + std::to_string(lines.Number()) + ", column \"" +
               columns.names[i] + "\": \"" + AsUtf8(fields[i].substr(0, 40)) +
               "\" is not a number");
}

Scan ScanRows(LineReader& lines,
              Columns& columns,
              bool needTimes,
              Header& header) {
  Scan scan;
  std::vector<std::string_view> fields;
  std::string_view line;
  double previous = 0;
  while (lines.Next(line)) {
    if (TrimBlanks(line).empty()) continue;
    SplitLine(line, columns.delimiter, fields);
    if (scan.rows == 0 && fields.size() == columns.names.size())
      ChooseChannels(lines.Path(), fields, columns, header.notes);
    CheckRow(lines, columns, fields);
    if (needTimes) {
      const auto time = ParseValue(fields[columns.time]);
      if (!time)
        Fail(lines.Path(),
             "line " + std::to_string(lines.Number()) +
                 ": the time is not a number; give the sampling rate");
      scan.times.push_back(*time);
    }
    const double marker = ParseValue(fields[columns.marker]).value_or(0);
    if (marker != 0 && marker != previous)
      scan.events.push_back({scan.rows, CodeText(marker)});
    previous = marker;
    ++scan.rows;
  }
  return scan;
}

// The whole rate whose step the time column's median step is within
// kRateTolerance of, with a note saying so.
double RateFromTimes(const std::string& path,
                     std::vector<double>& times,
                     std::vector<std::string>& notes) {
  if (times.size() < 2)
    Fail(path,
         "too few samples to take the sampling rate from the time "
         "column; give the sampling rate");
  std::adjacent_difference(times.begin(), times.end(), times.begin());
  const auto middle = times.begin() + times.size() / 2;
  std::nth_element(times.begin() + 1, middle, times.end());
  const double step = *middle;
  const double whole = step > 0 ? std::round(1 / step) : 0;
  char text[160];
  if (whole < 1 || std::fabs(step * whole - 1) > kRateTolerance) {
    std::snprintf(text,
                  sizeof(text),
                  "the time column's median step, %g s, is not within 0.5 %% "
                  "of a whole sampling rate; give the sampling rate",
                  step);
    Fail(path, text);
  }
  std::snprintf(text,
                sizeof(text),
                "sampling rate %g Hz, from the time column's median step "
                "of %.3f ms",
                whole,
                step * 1e3);
  notes.push_back(text);
  return whole;
}

class HeadsetCsvRecording : public RecordingBase {
 public:
  HeadsetCsvRecording(Header header, Columns columns)
      : RecordingBase(std::move(header)), columns_(std::move(columns)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    const int column = columns_.channels[c];
    LineReader lines(Path());
    FindHeader(lines);
    out.assign(static_cast<size_t>(Samples()), 0.0);
    std::vector<std::string_view> fields;
    std::string_view line;
    long long row = 0;
    while (lines.Next(line)) {
      if (TrimBlanks(line).empty()) continue;
      SplitLine(line, columns_.delimiter, fields);
      if (row == Samples() || fields.size() != columns_.names.size())
        Fail(Path(),
             "changed since it was opened (line " +
                 std::to_string(lines.Number()) + ")");
      const auto value = ParseValue(fields[column]);
      if (!value && column != columns_.marker)
        Fail(Path(),
             "changed since it was opened (line " +
                 std::to_string(lines.Number()) + ")");
      out[row++] = value.value_or(0);
    }
    if (row != Samples()) Fail(Path(), "changed since it was opened");
  }

 private:
  Columns columns_;
};

}  // namespace

CsvColumns FindCsvColumns(std::string_view head, const OpenOptions& options) {
  CsvColumns found;
  while (!head.empty()) {
    const size_t end = head.find('\n');
    if (end == std::string_view::npos) return found;
    const std::string_view line = head.substr(0, end);
    head.remove_prefix(end + 1);
    if (IsMetadata(line)) continue;
    const std::vector<std::string> names = SplitHeader(line);
    std::string why;
    found.time = FindTimeColumn(names) >= 0;
    found.marker = FindMarkerColumn(names, options.markerColumn, why) >= 0;
    return found;
  }
  return found;
}

std::unique_ptr<RecordingBase> OpenHeadsetCsv(const std::string& path,
                                              const OpenOptions& options) {
  LineReader lines(path);
  Columns columns = ReadColumns(lines, options);
  Header header;
  header.path = path;
  header.format = "headset CSV";
  const bool rateGiven = options.samplingRate.has_value();
  Scan scan = ScanRows(lines, columns, !rateGiven, header);
  if (rateGiven) {
    if (!std::isfinite(*options.samplingRate) || *options.samplingRate <= 0)
      Fail(path, "the sampling rate given is not a positive number");
    header.samplingRate = *options.samplingRate;
  } else {
    header.samplingRate = RateFromTimes(path, scan.times, header.notes);
  }
  header.samples = scan.rows;
  for (int column : columns.channels) {
    double factor = 1;
    header.channels.push_back(MakeChannel(columns.names[column], "uV", factor));
    if (column == columns.marker) {
      header.channels.back().eeg = false;
      header.channels.back().unit = "";
    }
  }
  header.events = std::move(scan.events);
  SettleEvents(header);
  return std::make_unique<HeadsetCsvRecording>(std::move(header),
                                               std::move(columns));
}

}  // namespace Korva::Recording
