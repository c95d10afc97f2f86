// The CSV files that consumer headsets export: lines of metadata starting
// with '%' or '#', a header line, then one line per sample: a time column in
// seconds, one column per channel (microvolts) and a marker column whose
// non-zero values are event codes. Columns whose first value is not a number
// are left out. The file is read once, when it is opened: every value is
// checked and kept, column by column, and the events are found; a channel
// read is a copy of its column. The time column gives the rate, from the
// span of its steps, and the places where the rows are not continuous.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

#include "recording/headset_lines.h"
#include "recording/readers.h"
#include "recording/recording_base.h"
#include "text/delimiter.h"
#include "text/number_text.h"

namespace Korva::Recording {
namespace {

// The clocks of a headset and of the computer that stamps its samples may
// differ by this much (relative), so a rate from time stamps is known no
// better, however long the recording.
constexpr double kClockTolerance = 2e-4;
// A step of more than this many typical steps, and of more than
// kMinGapSeconds, either way, is a break between two parts of the rows.
constexpr double kGapSteps = 10;
constexpr double kMinGapSeconds = 0.05;
// A time column that gives a slower rate counts something other than
// seconds (milliseconds, samples).
constexpr double kMinRate = 10;
// Bytes after a line that can be read: the parse of short numbers reads
// ahead of where a number may end.
constexpr size_t kReadAhead = 32;
// The UTF-8 byte order mark some programs write at the start of a file.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A data row that is wrong: its line, counted by the LineReader that gave
// it, and what is wrong, to follow "line N".
struct RowError {
  long long line;
  std::string what;
};

[[noreturn]] void FailAt(const std::string& path,
                         long long line,
                         const std::string& what) {
  Fail(path, "line " + std::to_string(line) + what);
}

// The lines of a text file from byte `from`, one at a time, without their
// line ends, read a megabyte at a time; kReadAhead bytes after each line
// can be read.
class LineReader {
 public:
  explicit LineReader(const std::string& path, std::uint64_t from = 0)
      : path_(path), buffer_(kPiece), offset_(from) {
    file_ = std::fopen(path.c_str(), "rbe");
    if (file_ == nullptr) Fail(path, "cannot open");
    if (from > 0 && ::fseeko(file_, static_cast<off_t>(from), SEEK_SET) != 0) {
      std::fclose(file_);
      Fail(path, "cannot be read");
    }
  }
  ~LineReader() { std::fclose(file_); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool Next(std::string_view& line) {
    while (true) {
      const char* from = buffer_.data() + begin_;
      const void* eol = std::memchr(from, '\n', end_ - begin_);
      if (eol != nullptr || (ended_ && begin_ < end_)) {
        const char* stop =
            eol ? static_cast<const char*>(eol) : buffer_.data() + end_;
        if (nul_ < static_cast<size_t>(stop - buffer_.data())) RefuseNul();
        begin_ = stop - buffer_.data() + (eol ? 1 : 0);
        line = std::string_view(from, stop - from);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number_;
        return true;
      }
      if (ended_) return false;
      Refill();
    }
  }
  // Lines given so far.
  long long Number() const { return number_; }
  // Where the next line starts in the file.
  std::uint64_t Offset() const { return offset_ + begin_; }
  // Gives no line from `offset` on: the start of a line, not before
  // Offset().
  void StopAt(std::uint64_t offset) {
    stop_ = offset;
    if (offset_ + end_ > stop_) {
      end_ = stop_ - offset_;
      ended_ = true;
    }
  }
  std::uint64_t FileSize() const {
    struct stat info;
    return ::fstat(::fileno(file_), &info) == 0 ? info.st_size : 0;
  }
  const std::string& Path() const { return path_; }

 private:
  static constexpr size_t kPiece = 1 << 20;

  // Moves the unfinished line to the front and reads more after it.
  void Refill() {
    // The unfinished line holds the NUL byte: it would grow without end.
    if (nul_ != kNone) RefuseNul();
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    offset_ += begin_;
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() - kReadAhead - end_ < kPiece / 2)
      buffer_.resize(buffer_.size() * 2);
    const size_t room = std::min<std::uint64_t>(
        buffer_.size() - kReadAhead - end_, stop_ - (offset_ + end_));
    const size_t got = std::fread(buffer_.data() + end_, 1, room, file_);
    if (got == 0 && std::ferror(file_)) Fail(path_, "cannot be read");
    // A UTF-8 byte order mark before the header is no part of its names.
    if (offset_ + end_ == 0 && std::string_view(buffer_.data(), got)
                                       .substr(0, 3) == kUtf8Mark)
      begin_ = 3;
    ended_ = got == 0;
    if (const void* nul = std::memchr(buffer_.data() + end_, '\0', got))
      nul_ = static_cast<const char*>(nul) - buffer_.data();
    end_ += got;
  }

  // Text holds no NUL byte (a file of them would be one line that grows
  // until memory runs out): the line about to be given has one.
  [[noreturn]] void RefuseNul() const {
    throw RowError{number_ + 1,
                   ": a NUL byte: this is binary data, not CSV text"};
  }

  static constexpr size_t kNone = SIZE_MAX;

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::uint64_t offset_;        // in the file, of buffer_[0]
  size_t begin_ = 0, end_ = 0;  // the part of buffer_ not yet given out
  std::uint64_t stop_ = UINT64_MAX;
  size_t nul_ = kNone;  // where in buffer_ the first NUL byte read lies
  bool ended_ = false;
  long long number_ = 0;
};

bool IsMetadata(std::string_view line) {
  line = TrimBlanks(line);
  return line.empty() || line[0] == '%' || line[0] == '#';
}

// Reads up to the header line; "" when the file has none.
std::string_view FindHeader(LineReader& lines) {
  std::string_view line;
  while (lines.Next(line)) {
    if (!IsMetadata(line)) return line;
  }
  return {};
}

// The digits '0' to '9' among the 8 bytes at `at` as bytes 0 to 9, with
// `count` set to how many bytes from the first are digits.
std::uint64_t DigitBytes(const char* at, int& count) {
  std::uint64_t chunk;
  std::memcpy(&chunk, at, sizeof(chunk));
  const std::uint64_t x = chunk ^ 0x3030303030303030u;
  // A byte that is no digit has a bit in its high half here.
  const std::uint64_t other =
      (x | (x + 0x0606060606060606u)) & 0xf0f0f0f0f0f0f0f0u;
  count = other ? __builtin_ctzll(other) >> 3 : 8;
  return x;
}

// The number the first `count` (1 to 7) digits of `x` say, as DigitBytes
// gave them: the digits moved to the top as the last of eight, then summed
// in pairs, fours and eights by three multiplications.
std::uint64_t DigitsValue(std::uint64_t x, int count) {
  x <<= 8 * (8 - count);
  x = x * 10 + (x >> 8);
  return (((x & 0x000000ff000000ffu) * (100 + (1000000ull << 32))) +
          (((x >> 16) & 0x000000ff000000ffu) * (1 + (10000ull << 32)))) >>
         32;
}

// The value of the short decimal number ("-12.345", "7": at most 7 digits
// before the point and 7 after it) that starts at `at` and ends at
// `delimiter` or `end`, and where it ends; nullptr for any other text,
// which ParseFinite then reads. Its digits and the power of ten are exact
// doubles, so their quotient is the correctly rounded value ParseFinite
// gives: a shortcut for the commonest texts, not other rules. Reads up to 17
// bytes past `at` (see kReadAhead).
const char* ParseShortDecimal(const char* at,
                              const char* end,
                              char delimiter,
                              double& value) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
  static constexpr std::int64_t kTens[] = {
      1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
  const bool negative = *at == '-';
  const char* p = at + negative;
  int whole = 0, decimals = 0;
  const std::uint64_t wholeBytes = DigitBytes(p, whole);
  if (whole == 0 || whole == 8) return nullptr;
  p += whole;
  auto digits = static_cast<std::int64_t>(DigitsValue(wholeBytes, whole));
  if (*p == '.') {
    const std::uint64_t fraction = DigitBytes(p + 1, decimals);
    if (decimals == 0 || decimals == 8) return nullptr;
    digits = digits * kTens[decimals] +
             static_cast<std::int64_t>(DigitsValue(fraction, decimals));
    p += 1 + decimals;
  }
  if (p > end || (p < end && *p != delimiter)) return nullptr;
  // The sign as a bit, not a branch: signs in a column come at random.
  std::uint64_t bits;
  const double magnitude = static_cast<double>(digits) / kPowers[decimals];
  std::memcpy(&bits, &magnitude, sizeof(bits));
  bits |= static_cast<std::uint64_t>(negative) << 63;
  std::memcpy(&value, &bits, sizeof(value));
  return p;
}

// Reads the field that starts at `at` as a number into `value`, `number`
// saying whether it is one; returns where the field ends (at the next
// delimiter or `end`).
const char* ReadField(const char* at,
                      const char* end,
                      char delimiter,
                      double& value,
                      bool& number) {
  if (const char* stop = ParseShortDecimal(at, end, delimiter, value)) {
    number = true;
    return stop;
  }
  const void* found = std::memchr(at, delimiter, end - at);
  const char* stop = found ? static_cast<const char*>(found) : end;
  number = ParseFinite(std::string_view(at, stop - at), value);
  return stop;
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
  const char delimiter = Text::DetectDelimiter(line);
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
  for (size_t i = 0; i < std::min(names.size(), kNamesShown); ++i)
    list += (i ? ", " : "") + names[i];
  if (names.size() > kNamesShown)
    list += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return list;
}

int FindTimeColumn(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i)
    if (Lower(names[i]).rfind("time", 0) == 0) return static_cast<int>(i);
  return -1;
}

// The N of "#N" (digits after the sign), or 0.
int ColumnNumber(std::string_view text) {
  if (text.size() < 2 || text.size() > 8 || text[0] != '#' ||
      text.find_first_not_of("0123456789", 1) != std::string_view::npos)
    return 0;
  return std::stoi(std::string(text.substr(1)));
}

// The marker column by its given name (or as #N, the N-th column, when no
// column has that name), or the one named Marker*; -1 with `why` set when
// there is none or the choice is not clear.
int FindMarkerColumn(const std::vector<std::string>& names,
                     const std::string& wanted,
                     std::string& why) {
  const std::string_view name = TrimBlanks(wanted);
  std::vector<int> found;
  for (size_t i = 0; i < names.size(); ++i) {
    const bool match = wanted.empty()
                           ? Lower(names[i]).rfind("marker", 0) == 0
                           : names[i] == name;
    if (match) found.push_back(static_cast<int>(i));
  }
  const int number = ColumnNumber(name);
  if (found.empty() && number > 0 && number <= static_cast<int>(names.size()))
    return number - 1;
  if (found.size() == 1) return found[0];
  if (number > 0)
    why = "no column " + std::to_string(number) + " (the header has " +
          std::to_string(names.size()) + ")";
  else if (!wanted.empty())
    why = "no column is named \"" + AsUtf8(wanted) + "\"";
  else if (found.empty())
    why =
        "no column is named Marker...; name the marker column (by its name, "
        "or #N for the N-th column)";
  else
    why = "several columns are named Marker...; name the marker column";
  why += " (columns: " + ColumnList(names) + ")";
  return -1;
}

// The text of an event code: whole numbers without a fraction.
std::string CodeText(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15)
    return std::to_string(static_cast<long long>(value));
  return Text::FormatDouble(value);
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
  std::string header;
  try {
    header = FindHeader(lines);
  } catch (const RowError& e) {
    FailAt(lines.Path(), e.line, e.what);
  }
  columns.delimiter = Text::DetectDelimiter(header);
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
    const bool number = FiniteNumber(first[i]).has_value() ||
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

// The values of the offered channels, in tiles of a few thousand rows that
// hold each channel's values for those rows one after another: a row is
// written in one tile, a channel is copied out a tile's run at a time, and
// a tile of at most 2 MiB fills a huge page. Nothing moves as the table
// grows.
class ChannelTable {
 public:
  explicit ChannelTable(size_t channels)
      : channels_(channels), tileRows_(TileRowsFor(channels)) {}

  // Where the next row goes: channel c's value at [c * TileRows()].
  double* NextRow() {
    if (tiles_.empty() || rows_.back() == tileRows_) {
      tiles_.push_back(AllocateMemory(tileRows_ * channels_ * sizeof(double)));
      rows_.push_back(0);
    }
    return reinterpret_cast<double*>(tiles_.back().get()) + rows_.back()++;
  }
  size_t TileRows() const { return tileRows_; }

  // The rows of `other`, a table of as many channels, after these.
  void Append(ChannelTable&& other) {
    std::move(other.tiles_.begin(), other.tiles_.end(), back_inserter(tiles_));
    rows_.insert(rows_.end(), other.rows_.begin(), other.rows_.end());
  }

  // Every value of channel `c` into `out`, which has room for them.
  void CopyChannel(size_t c, double* out) const {
    for (size_t t = 0; t < tiles_.size(); out += rows_[t++]) {
      const auto* tile = reinterpret_cast<const double*>(tiles_[t].get());
      std::memcpy(out, tile + c * tileRows_, rows_[t] * sizeof(double));
    }
  }

 private:
  // Rows of a tile of at most 2 MiB: a multiple of 512 rows (4 KiB of a
  // channel) and 8 more, so that the values of a row, a channel's run
  // apart, fall in different cache sets.
  static size_t TileRowsFor(size_t channels) {
    const size_t rows =
        (2 << 20) / sizeof(double) / std::max<size_t>(channels, 1);
    return rows > 520 ? (rows - 8) / 512 * 512 + 8 : 520;
  }

  size_t channels_;
  size_t tileRows_;
  std::vector<Memory> tiles_;
  std::vector<size_t> rows_;  // in each tile
};

// What the pass over the samples finds.
struct Scan {
  long long rows = 0;
  std::vector<double> times;
  std::vector<Event> events;
  std::unique_ptr<ChannelTable> values;  // of the offered channels
};

// What a field of a data row holds: the channel of that index in
// Columns::channels, the time, or nothing that is kept.
constexpr int kTimeField = -1;
constexpr int kOtherField = -2;

std::vector<int> FieldRoles(const Columns& columns) {
  std::vector<int> roles(columns.names.size(), kOtherField);
  if (columns.time >= 0) roles[columns.time] = kTimeField;
  for (size_t k = 0; k < columns.channels.size(); ++k)
    roles[columns.channels[k]] = static_cast<int>(k);
  return roles;
}

// Reads data rows into `scan`: RowError for a row with another number of
// fields than the header (that first), a channel's field that is no
// number, then a time that is no number when the times are needed.
class RowReader {
 public:
  RowReader(const LineReader& lines, const Columns& columns, bool needTimes)
      : lines_(lines),
        columns_(columns),
        roles_(FieldRoles(columns)),
        needTimes_(needTimes) {}

  void Read(std::string_view line, Scan& scan) {
    const char* at = line.data();
    const char* const end = at + line.size();
    const size_t count = columns_.names.size();
    bool timeIsNumber = true;
    double marker = 0;
    double* const row = scan.values->NextRow();
    const size_t tileRows = scan.values->TileRows();
    size_t k = 0;
    for (;; ++k) {
      const int role = k < count ? roles_[k] : kOtherField;
      double value = 0;
      bool number = false;
      const char* next;
      if (role == kOtherField) {
        const void* found = std::memchr(at, columns_.delimiter, end - at);
        next = found ? static_cast<const char*>(found) : end;
      } else {
        next = ReadField(at, end, columns_.delimiter, value, number);
      }
      const std::string_view field(at, next - at);
      if (role >= 0) {
        if (!number && !(static_cast<int>(k) == columns_.marker &&
                         TrimBlanks(field).empty()))
          NotANumber(line, k, field);
        row[role * tileRows] = value;
      } else if (role == kTimeField && needTimes_) {
        timeIsNumber = number;
        if (number) scan.times.push_back(value);
      }
      if (static_cast<int>(k) == columns_.marker) marker = number ? value : 0;
      if (next == end) break;
      at = next + 1;
    }
    if (k + 1 != count) Ragged(k + 1);
    if (!timeIsNumber)
      throw RowError{lines_.Number(),
                     ": the time is not a number; give the sampling rate"};
    if (marker != 0 && marker != previous_)
      scan.events.push_back({scan.rows, CodeText(marker)});
    if (scan.rows == 0) first_ = marker;
    previous_ = marker;
    ++scan.rows;
  }
  // The marker values of the first and the last row read.
  double FirstMarker() const { return first_; }
  double LastMarker() const { return previous_; }

 private:
  [[noreturn]] void Ragged(size_t fields) const {
    throw RowError{lines_.Number(),
                   " has " + std::to_string(fields) + " fields, the header " +
                       std::to_string(columns_.names.size())};
  }

  // A row with another number of fields than the header says so first.
  [[noreturn]] void NotANumber(std::string_view line,
                               size_t k,
                               std::string_view field) const {
    const size_t fields =
        1 + std::count(line.begin(), line.end(), columns_.delimiter);
    if (fields != columns_.names.size()) Ragged(fields);
    throw RowError{lines_.Number(),
                   ", column \"" + columns_.names[k] + "\": \"" +
                       AsUtf8(field.substr(0, 40)) + "\" is not a number"};
  }

  const LineReader& lines_;
  const Columns& columns_;
  std::vector<int> roles_;
  bool needTimes_;
  double first_ = 0, previous_ = 0;
};

// Reads every row `lines` gives that is not blank.
void ReadRows(LineReader& lines, RowReader& rows, Scan& scan) {
  std::string_view line;
  while (lines.Next(line))
    if (!TrimBlanks(line).empty()) rows.Read(line, scan);
}

// Files at least this long are read in two halves at once.
constexpr std::uint64_t kSplitBytes = 1 << 20;

// The second half of a large file: its rows from the first line that
// starts after the middle, read on a thread of its own into a scan of their
// own, while the first reader stops there.
struct SecondHalf {
  SecondHalf(LineReader& first, const Columns& columns, bool needTimes)
      : lines(first.Path(), first.FileSize() / 2 - 1),
        rows(lines, columns, needTimes) {
    scan.values = std::make_unique<ChannelTable>(columns.channels.size());
  }
  ~SecondHalf() {
    if (thread.joinable()) thread.join();
  }

  // Reads from the line after the one that holds the middle, unless the
  // first reader is past it: false then.
  bool Start(LineReader& first) {
    std::string_view partial;
    try {
      if (!lines.Next(partial) || lines.Offset() <= first.Offset())
        return false;
    } catch (const RowError&) {
      return false;  // the first reader finds it, and counts its line
    }
    first.StopAt(lines.Offset());
    thread = std::thread([this] {
      try {
        ReadRows(lines, rows, scan);
      } catch (const RowError& e) {
        rowError = e;
      } catch (...) {
        error = std::current_exception();
      }
    });
    return true;
  }

  // Adds the half's rows to `all`, the first half's, whose reader gave
  // `firstLines` lines; throws the half's error, its line counted in the
  // file.
  void Finish(long long firstLines, double lastMarker, Scan& all) {
    thread.join();
    if (error) std::rethrow_exception(error);
    // The partial line before the half's first is the first half's.
    if (rowError)
      FailAt(lines.Path(), firstLines + rowError->line - 1, rowError->what);
    // A code held across the middle is one event, the first half's.
    const bool held = !scan.events.empty() && scan.events[0].sample == 0 &&
                      rows.FirstMarker() == lastMarker;
    for (size_t e = held; e < scan.events.size(); ++e)
      all.events.push_back(
          {all.rows + scan.events[e].sample, std::move(scan.events[e].code)});
    all.times.insert(all.times.end(), scan.times.begin(), scan.times.end());
    all.values->Append(std::move(*scan.values));
    all.rows += scan.rows;
  }

  LineReader lines;
  RowReader rows;
  Scan scan;
  std::thread thread;
  std::optional<RowError> rowError;
  std::exception_ptr error;
};

Scan ScanRows(LineReader& lines,
              Columns& columns,
              bool needTimes,
              Header& header) {
  Scan scan;
  std::string_view line;
  bool found = false;
  while ((found = lines.Next(line)) && TrimBlanks(line).empty()) {
  }
  if (!found) return scan;
  // The first row decides which columns are channels.
  std::vector<std::string_view> fields;
  SplitLine(line, columns.delimiter, fields);
  if (fields.size() == columns.names.size())
    ChooseChannels(lines.Path(), fields, columns, header.notes);
  scan.values = std::make_unique<ChannelTable>(columns.channels.size());
  RowReader rows(lines, columns, needTimes);
  std::unique_ptr<SecondHalf> second;
  try {
    rows.Read(line, scan);
    if (lines.FileSize() >= kSplitBytes) {
      second = std::make_unique<SecondHalf>(lines, columns, needTimes);
      if (!second->Start(lines)) second.reset();
    }
    ReadRows(lines, rows, scan);
  } catch (const RowError& e) {
    FailAt(lines.Path(), e.line, e.what);
  }
  if (second) second->Finish(lines.Number(), rows.LastMarker(), scan);
  return scan;
}

// `value` in printf's format `format`.
std::string Printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// The typical step of the time column: the median of its steps forward
// (rows stamped a packet at a time repeat a time, which this passes over).
double TypicalStep(const std::string& path, const std::vector<double>& t) {
  std::vector<double> steps;
  steps.reserve(t.size());
  for (size_t i = 1; i < t.size(); ++i)
    if (t[i] > t[i - 1]) steps.push_back(t[i] - t[i - 1]);
  if (steps.empty())
    Fail(path,
         "the time column never advances; give the sampling rate to read "
         "the rows in file order without it");
  const auto middle = steps.begin() + steps.size() / 2;
  std::nth_element(steps.begin(), middle, steps.end());
  return *middle;
}

// The rows as the time column parts them: continuous parts [first, end)
// between breaks, and within the parts the steps that are not forward.
struct TimeWalk {
  std::vector<std::pair<size_t, size_t>> parts;
  std::vector<Break> breaks;
  long long repeats = 0, backSteps = 0;
  double largestBack = 0;
  double shortest = INFINITY, longest = -INFINITY;  // steps within parts
};

// Why there is a break between row `i` (from 0) and the one before it.
std::string BreakWhy(const std::vector<double>& t, size_t i) {
  const double step = t[i] - t[i - 1];
  return std::string("the time column ") +
         (step > 0 ? "jumps " : "steps back ") +
         Printed("%.6g s", std::fabs(step)) + Printed(", from %.3f s", t[i - 1]) +
         Printed(" to %.3f s, after row ", t[i]) + std::to_string(i);
}

// Splits the rows at every step longer than `gap` either way, and refuses
// rows that run backwards: a row stamped more than `gap` before an earlier
// row of its part, which no jitter explains.
TimeWalk WalkTimes(const std::string& path,
                   const std::vector<double>& t,
                   double gap) {
  TimeWalk w;
  size_t first = 0, latest = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    const double step = t[i] - t[i - 1];
    if (std::fabs(step) > gap) {
      w.parts.emplace_back(first, i);
      w.breaks.push_back({static_cast<long long>(i), BreakWhy(t, i)});
      first = latest = i;
      continue;
    }
    w.repeats += step == 0;
    if (step < 0) {
      ++w.backSteps;
      w.largestBack = std::max(w.largestBack, -step);
    }
    if (t[i] < t[latest] - gap)
      Fail(path,
           "the rows run backwards: row " + std::to_string(i + 1) +
               Printed(" is stamped %.3f s", t[i]) +
               Printed(", %.3g s before row ", t[latest] - t[i]) +
               std::to_string(latest + 1) +
               ": they are not in time order; give the sampling rate to "
               "read them in file order without the time column");
    if (t[i] > t[latest]) latest = i;
    w.shortest = std::min(w.shortest, step);
    w.longest = std::max(w.longest, step);
  }
  w.parts.emplace_back(first, t.size());
  return w;
}

// The time column's rate from a least-squares line of time against row in
// each part (one slope b for all parts, the seconds per sample; an
// intercept each): 1 / b, its standard error, and the most the stamps of a
// part stray from the line (its largest residual less its smallest). Sums
// are taken about each part's first stamp, which keeps the precision of
// stamps far from 0 (seconds since 1970).
struct PartsRate {
  double rate = 0, error = 0, stray = 0;
  double stamps = 0, span = 0;  // in parts of two or more rows
};

// The mean of t[first .. end) - t[first].
double MeanFromFirst(const std::vector<double>& t, size_t first, size_t end) {
  double sum = 0;
  for (size_t i = first; i < end; ++i) sum += t[i] - t[first];
  return sum / static_cast<double>(end - first);
}

PartsRate RateOfParts(const std::string& path,
                      const std::vector<double>& t,
                      const TimeWalk& w) {
  PartsRate r;
  double sxy = 0, sxx = 0;
  std::vector<double> means;
  for (const auto& [first, end] : w.parts) {
    const auto m = static_cast<double>(end - first);
    means.push_back(MeanFromFirst(t, first, end));
    for (size_t i = first; i < end && m > 1; ++i)
      sxy += (static_cast<double>(i - first) - (m - 1) / 2) *
             (t[i] - t[first] - means.back());
    sxx += m * (m * m - 1) / 12;
    r.stamps += m > 1 ? m : 0;
    r.span += t[end - 1] - t[first];
  }
  if (!(sxx > 0 && sxy > 0))
    Fail(path,
         "too few samples to take the sampling rate from the time "
         "column; give the sampling rate");
  const double b = sxy / sxx;
  r.rate = 1 / b;
  if (r.rate < kMinRate)
    Fail(path,
         "the time column gives " + Printed("%.3g", r.rate) +
             " Hz, too slow for EEG (is it in milliseconds, or a count of "
             "samples?); give the sampling rate");
  double squares = 0, lines = 0;
  for (size_t k = 0; k < w.parts.size(); ++k) {
    const auto [first, end] = w.parts[k];
    const double middle = static_cast<double>(end - first - 1) / 2;
    double low = 0, high = 0;
    for (size_t i = first; i < end; ++i) {
      const double e = t[i] - t[first] - means[k] -
                       b * (static_cast<double>(i - first) - middle);
      low = std::min(low, e);
      high = std::max(high, e);
      squares += e * e;
    }
    r.stray = std::max(r.stray, high - low);
    lines += end - first > 1;
  }
  const double freedom = r.stamps - 2 * lines;
  if (freedom > 0) r.error = std::sqrt(squares / freedom / sxx) / (b * b);
  return r;
}

// The sampling rate the time column gives, with the breaks between its
// parts and notes that say how it was found: the rate of RateOfParts,
// known within three standard errors and no better than kClockTolerance; a
// whole rate within that is taken, else the rate to the mHz (well within
// it).
double RateFromTimes(const std::string& path,
                     const std::vector<double>& t,
                     Header& header) {
  if (t.size() < 2)
    Fail(path,
         "too few samples to take the sampling rate from the time "
         "column; give the sampling rate");
  const double gap = std::max(kGapSteps * TypicalStep(path, t), kMinGapSeconds);
  TimeWalk w = WalkTimes(path, t, gap);
  const PartsRate r = RateOfParts(path, t, w);
  const double uncertainty =
      std::max(3 * r.error, r.rate * kClockTolerance);
  const double whole = std::round(r.rate);
  const bool snapped = std::fabs(whole - r.rate) <= uncertainty;
  const double rate = snapped ? whole : std::round(r.rate * 1e3) / 1e3;
  header.notes.push_back(
      Printed("sampling rate %.6g Hz, from the time column: a line through ",
              rate) +
      Printed("its %.0f stamps", r.stamps) +
      (w.parts.size() > 1 ? " (in its " + std::to_string(w.parts.size()) +
                                " continuous parts)"
                          : "") +
      Printed(" gives %.6g", r.rate) +
      Printed(" Hz, give or take %.2g", uncertainty) +
      (snapped ? Printed(", and %.6g lies within that", whole) : "") +
      Printed("; its steps run from %.4g", w.shortest * 1e3) +
      Printed(" to %.4g ms", w.longest * 1e3) +
      Printed(" and its stamps stray up to %.3g ms from the line",
              r.stray * 1e3));
  if (w.repeats > 0)
    header.notes.push_back(
        std::to_string(w.repeats) +
        (w.repeats == 1 ? " row repeats" : " rows repeat") +
        " the time of the row before (stamped a packet of "
        "samples at a time?); the rate comes from the span of the times");
  if (w.backSteps > 0)
    header.notes.push_back(
        std::to_string(w.backSteps) +
        (w.backSteps == 1 ? " row is" : " rows are") +
        " stamped before the row above it, by up to " +
        Printed("%.3g ms", w.largestBack * 1e3) +
        " (time stamps that jitter); they are taken in file order");
  header.breaks = std::move(w.breaks);
  header.rateSource = RateSource::kTimes;
  header.rateUncertainty = uncertainty;
  return rate;
}

class HeadsetCsvRecording : public RecordingBase {
 public:
  HeadsetCsvRecording(Header header, std::unique_ptr<ChannelTable> values)
      : RecordingBase(std::move(header)), values_(std::move(values)) {}

  void ReadChannel(int c, std::vector<double>& out) override {
    CheckChannel(c);
    out.resize(static_cast<size_t>(Samples()));
    values_->CopyChannel(c, out.data());
  }

 private:
  std::unique_ptr<ChannelTable> values_;
};

}  // namespace

CsvColumns FindCsvColumns(std::string_view head, const OpenOptions& options) {
  CsvColumns found;
  if (head.substr(0, 3) == kUtf8Mark) head.remove_prefix(3);
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
    if (!(*options.samplingRate >= kMinSamplingRate &&
          *options.samplingRate <= kMaxSamplingRate))
      Fail(path,
           "the sampling rate given, " +
               Text::FormatDouble(*options.samplingRate) +
               " Hz, is not one korva reads (" +
               Text::FormatDouble(kMinSamplingRate) + " to " +
               Text::FormatDouble(kMaxSamplingRate) + " Hz)");
    header.samplingRate = *options.samplingRate;
    header.rateSource = RateSource::kGiven;
  } else {
    header.samplingRate = RateFromTimes(path, scan.times, header);
  }
  header.samples = scan.rows;
  if (!scan.values) scan.values = std::make_unique<ChannelTable>(0);
  for (int column : columns.channels) {
    double factor = 1;
    const std::string& name = columns.names[column];
    const bool marker = column == columns.marker;
    // A marker column chosen by position may have no name of its own.
    header.channels.push_back(MakeChannel(
        marker && name.empty() ? "#" + std::to_string(column + 1) : name,
        "uV",
        factor));
    if (marker) {
      SetChannelType(header.channels.back(), "TRIG");
      header.channels.back().unit = "";
    }
  }
  header.events = std::move(scan.events);
  SettleEvents(header);
  return std::make_unique<HeadsetCsvRecording>(std::move(header),
                                               std::move(scan.values));
}

}  // namespace Korva::Recording

namespace Korva::Recording {

struct HeadsetLines::State {
  std::string name;
  OpenOptions options;
  Header header;
  Columns columns;
  bool headed = false;
  long long lines = 0;
  double previous = 0;
  std::vector<std::string_view> fields;

  [[noreturn]] void FailHere(const std::string& what) const {
    FailAt(name, lines, what);
  }
  void ReadHeader(std::string_view line);
  void ReadFirst();
  void ReadRow(std::vector<double>& row, std::optional<Event>& event);
};

void HeadsetLines::State::ReadHeader(std::string_view line) {
  columns.delimiter = Text::DetectDelimiter(line);
  for (const std::string& field : SplitHeader(line))
    columns.names.push_back(AsUtf8(field));
  if (columns.names.size() < 2)
    FailHere(": no CSV header with channel and marker columns");
  columns.time = FindTimeColumn(columns.names);
  std::string why;
  columns.marker = FindMarkerColumn(columns.names, options.markerColumn, why);
  if (columns.marker < 0) FailHere(": " + why);
  headed = true;
}

// The channels, by the first row as OpenHeadsetCsv chooses them.
void HeadsetLines::State::ReadFirst() {
  ChooseChannels(name, fields, columns, header.notes);
  for (int column : columns.channels) {
    double factor = 1;
    const std::string& n = columns.names[column];
    const bool marker = column == columns.marker;
    header.channels.push_back(MakeChannel(
        marker && n.empty() ? "#" + std::to_string(column + 1) : n,
        "uV",
        factor));
    if (marker) {
      SetChannelType(header.channels.back(), "TRIG");
      header.channels.back().unit = "";
    }
  }
  CheckChannelNames(name, header.channels);
}

void HeadsetLines::State::ReadRow(std::vector<double>& row,
                                  std::optional<Event>& event) {
  if (fields.size() != columns.names.size())
    FailHere(" has " + std::to_string(fields.size()) + " fields, the header " +
             std::to_string(columns.names.size()));
  if (header.samples == 0) ReadFirst();
  row.clear();
  double marker = 0;
  for (int column : columns.channels) {
    const std::string_view field = fields[column];
    double value = 0;
    const bool blank = TrimBlanks(field).empty();
    if (!ParseFinite(field, value) && !(column == columns.marker && blank))
      FailHere(", column \"" + columns.names[column] + "\": \"" +
               AsUtf8(field.substr(0, 40)) + "\" is not a number");
    if (column == columns.marker) marker = value;
    row.push_back(value);
  }
  event.reset();
  if (marker != 0 && marker != previous)
    event = Event(header.samples, CodeText(marker));
  previous = marker;
  ++header.samples;
}

HeadsetLines::HeadsetLines(std::string name, const OpenOptions& options)
    : state_(std::make_unique<State>()) {
  state_->name = std::move(name);
  state_->options = options;
}

HeadsetLines::~HeadsetLines() = default;

HeadsetLines::Line HeadsetLines::Take(std::string_view line,
                                      std::vector<double>& row,
                                      std::optional<Event>& event) {
  State& s = *state_;
  ++s.lines;
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!s.headed) {
    if (s.lines == 1 && line.substr(0, 3) == kUtf8Mark) line.remove_prefix(3);
    if (IsMetadata(line)) return Line::kSkipped;
    s.ReadHeader(line);
    return Line::kHeader;
  }
  if (TrimBlanks(line).empty()) return Line::kSkipped;
  SplitLine(line, s.columns.delimiter, s.fields);
  s.ReadRow(row, event);
  return Line::kRow;
}

const std::vector<Channel>& HeadsetLines::Channels() const {
  return state_->header.channels;
}

const std::vector<std::string>& HeadsetLines::Notes() const {
  return state_->header.notes;
}

long long HeadsetLines::Rows() const { return state_->header.samples; }

}  // namespace Korva::Recording
