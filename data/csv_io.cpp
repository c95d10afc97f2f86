#include "data/csv_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

namespace Korva::Data {
namespace {

// Below this size a file is parsed on one thread: starting a thread costs
// more than it saves.
constexpr size_t kMinBytesPerThread = 1 << 19;

// The most columns a file may have: the most features a classifier document
// holds, and the label.
constexpr size_t kMaxColumns = (1 << 20) + 1;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool IsLabelHeader(std::string_view name) {
  constexpr std::string_view kLabel = "label";
  if (name.size() != kLabel.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != kLabel[i])
      return false;
  return true;
}

// A short, printable rendering of a bad field for messages.
std::string Quote(std::string_view field) {
  constexpr size_t kMax = 40;
  std::string shown(field.substr(0, kMax));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  if (field.size() > kMax) shown += "...";
  return "\"" + shown + "\"";
}

// Splits one header line into fields; a field may be quoted ("" is a quote
// inside a quoted field). Sets `error` and returns what it has on a quote
// that is never closed.
std::vector<std::string> SplitHeader(std::string_view line,
                                     std::string& error,
                                     int& errorColumn) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (true) {
    std::string field;
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i < line.size() && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        field += line[i++];
      }
      if (!closed) {
        error = "a quoted header field is not closed";
        errorColumn = static_cast<int>(fields.size()) + 1;
        return fields;
      }
      while (i < line.size() && line[i] != ',') ++i;
    } else {
      const size_t start = i;
      while (i < line.size() && line[i] != ',') ++i;
      field = std::string(Trim(line.substr(start, i - start)));
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) break;
    ++i;  // the comma
  }
  return fields;
}

// What the header says about the columns.
struct Layout {
  int fields = 0;        // columns in every row
  int labelColumn = -1;  // 0-based, -1 when there is none
  int groupColumn = -1;  // 0-based, -1 when there is none
  int Features() const {
    return fields - (labelColumn >= 0 ? 1 : 0) - (groupColumn >= 0 ? 1 : 0);
  }
  std::vector<std::string> headers;
};

// Rows parsed from one stretch of the body, or the first error in it.
struct Chunk {
  std::vector<double> X;
  std::vector<double> labels;
  std::vector<double> groups;
  int rows = 0;
  bool failed = false;
  size_t errorLineInChunk = 0;  // 0-based, counted from the chunk's start
  int errorColumn = 0;          // 1-based field number
  std::string error;
};

enum class FieldStatus { kOk, kEmpty, kNonNumeric, kNonFinite };

FieldStatus ParseNumber(std::string_view field, double& value) {
  field = Trim(field);
  if (field.empty()) return FieldStatus::kEmpty;
  const char* first = field.data();
  const char* last = first + field.size();
  // from_chars takes no leading '+', which label columns commonly carry.
  if (*first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
    ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::invalid_argument || end != last)
    return FieldStatus::kNonNumeric;
  if (ec == std::errc::result_out_of_range) {
    // Too small to represent reads as (almost) zero; too large is not finite.
    std::string copy(first, last);
    value = std::strtod(copy.c_str(), nullptr);
  }
  if (!std::isfinite(value)) return FieldStatus::kNonFinite;
  return FieldStatus::kOk;
}

void Fail(Chunk& chunk, size_t line, int column, std::string what) {
  chunk.failed = true;
  chunk.errorLineInChunk = line;
  chunk.errorColumn = column;
  chunk.error = std::move(what);
}

// Parses the lines in [begin, end). Room is reserved for the lines up to
// `reserveEnd`: the first stretch reserves for the whole body, so that the
// others can be appended to it without moving it.
void ParseChunk(const char* begin,
                const char* end,
                const char* reserveEnd,
                const Layout& layout,
                Chunk& chunk) {
  const int cols = layout.Features();
  const size_t estimate =
      static_cast<size_t>(std::count(begin, reserveEnd, '\n')) + 1;
  chunk.X.reserve(estimate * cols);
  if (layout.labelColumn >= 0) chunk.labels.reserve(estimate);

  size_t line = 0;
  for (const char* p = begin; p < end; ++line) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (eol == nullptr) eol = end;
    const std::string_view text(p, eol - p);
    p = eol + 1;
    if (Trim(text).empty()) continue;

    int field = 0;
    size_t start = 0;
    while (true) {
      size_t comma = text.find(',', start);
      if (comma == std::string_view::npos) comma = text.size();
      if (field >= layout.fields) {
        size_t count = field;
        for (size_t i = start; i <= text.size(); ++i)
          if (i == text.size() || text[i] == ',') ++count;
        chunk.X.resize(static_cast<size_t>(chunk.rows) * cols);
        return Fail(chunk,
                    line,
                    layout.fields + 1,
                    "ragged row: " + std::to_string(count) +
                        " fields where the header has " +
                        std::to_string(layout.fields));
      }
      const std::string_view token = text.substr(start, comma - start);
      double value = 0.0;
      switch (ParseNumber(token, value)) {
        case FieldStatus::kOk:
          break;
        case FieldStatus::kEmpty:
          return Fail(chunk, line, field + 1, "empty value");
        case FieldStatus::kNonNumeric:
          return Fail(
              chunk, line, field + 1, "non-numeric value " + Quote(token));
        case FieldStatus::kNonFinite:
          return Fail(
              chunk, line, field + 1, "non-finite value " + Quote(Trim(token)));
      }
      if (field == layout.labelColumn)
        chunk.labels.push_back(value);
      else if (field == layout.groupColumn)
        chunk.groups.push_back(value);
      else
        chunk.X.push_back(value);
      ++field;
      if (comma == text.size()) break;
      start = comma + 1;
    }
    if (field < layout.fields) {
      return Fail(chunk,
                  line,
                  field + 1,
                  "ragged row: " + std::to_string(field) +
                      " fields where the header has " +
                      std::to_string(layout.fields));
    }
    ++chunk.rows;
  }
}

std::string Where(const std::string& fileName, size_t line) {
  return fileName + ", line " + std::to_string(line);
}

std::string Where(const std::string& fileName,
                  size_t line,
                  int column,
                  const Layout& layout) {
  std::string where =
      Where(fileName, line) + ", column " + std::to_string(column);
  if (column >= 1 && column <= layout.fields &&
      !layout.headers[column - 1].empty())
    where += " (" + layout.headers[column - 1] + ")";
  return where;
}

size_t CountLines(const char* begin, const char* end) {
  return static_cast<size_t>(std::count(begin, end, '\n'));
}

// Throws the message for text with a NUL byte or a UTF-16 byte order mark:
// UTF-16 (every other byte NUL in plain text) gets its own advice.
[[noreturn]] void RefuseBinary(std::string_view text,
                               const std::string& fileName) {
  const std::string_view start = text.substr(0, 64);
  size_t nuls[2] = {0, 0};
  for (size_t i = 0; i < start.size(); ++i) nuls[i % 2] += start[i] == '\0';
  const size_t half = start.size() / 2;
  const bool alternating =
      half >= 4 && ((nuls[0] == 0 && nuls[1] + 1 >= half) ||
                    (nuls[1] == 0 && nuls[0] + 1 >= half));
  if (start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF" ||
      alternating)
    throw DataError(fileName +
                    ": the file is UTF-16 text; save it as UTF-8 (or ASCII) "
                    "CSV");
  const size_t nul = text.find('\0');
  throw DataError(
      fileName + ", line " +
      std::to_string(1 + CountLines(text.data(), text.data() + nul)) +
      ": a NUL byte: this is binary data, not CSV text");
}

}  // namespace

Dataset ParseCsv(std::string_view text,
                 const std::string& fileName,
                 const CsvOptions& options) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Text holds no NUL byte. Without this check a binary file given by
  // mistake fails later with a message about its "header" or "values".
  if (text.find('\0') != std::string_view::npos) RefuseBinary(text, fileName);
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
    RefuseBinary(text, fileName);
  if (text.find('\n') == std::string_view::npos &&
      text.find('\r') != std::string_view::npos)
    throw DataError(fileName +
                    ": its lines end in a carriage return alone; save it "
                    "with LF or CRLF line ends");

  // The header is the first line that is not blank.
  size_t line = 1;
  std::string_view header;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    header = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!Trim(header).empty()) break;
    header = {};
    ++line;
  }
  if (Trim(header).empty())
    throw DataError(fileName + ": empty file (no header row)");
  const size_t headerLine = line;

  // Every column costs a name; a bound keeps a header of commas from filling
  // memory with empty ones.
  const size_t columns = 1 + std::count(header.begin(), header.end(), ',');
  if (columns > kMaxColumns)
    throw DataError(Where(fileName, headerLine) + ": " +
                    std::to_string(columns) + " columns, more than the " +
                    std::to_string(kMaxColumns) + " a data file may have");
  Layout layout;
  std::string error;
  int errorColumn = 0;
  layout.headers = SplitHeader(Trim(header), error, errorColumn);
  layout.fields = static_cast<int>(layout.headers.size());
  if (!error.empty())
    throw DataError(Where(fileName, headerLine) + ", column " +
                    std::to_string(errorColumn) + ": " + error);
  for (int c = 0; c < layout.fields; ++c) {
    if (!IsLabelHeader(layout.headers[c])) continue;
    if (layout.labelColumn >= 0)
      throw DataError(Where(fileName, headerLine, c + 1, layout) +
                      ": a second label column (the first is column " +
                      std::to_string(layout.labelColumn + 1) + ")");
    layout.labelColumn = c;
  }
  if (!options.groupColumn.empty()) {
    const auto at = std::find(
        layout.headers.begin(), layout.headers.end(), options.groupColumn);
    if (at == layout.headers.end() ||
        at - layout.headers.begin() == layout.labelColumn)
      throw DataError(Where(fileName, headerLine) + ": no column \"" +
                      options.groupColumn + "\" for the groups");
    layout.groupColumn = static_cast<int>(at - layout.headers.begin());
  }
  if (layout.labelColumn < 0 && options.requireLabels)
    throw DataError(Where(fileName, headerLine) +
                    ": no label column (a column headed \"label\" with +1 "
                    "or -1 per row)");
  const int cols = layout.Features();
  if (cols == 0)
    throw DataError(Where(fileName, headerLine) +
                    ": no feature column (the header holds only the label)");

  // Split the body into stretches of whole lines, one per thread.
  const char* bodyBegin = text.data();
  const char* bodyEnd = text.data() + text.size();
  const int threads = static_cast<int>(std::clamp<size_t>(
      text.size() / kMinBytesPerThread, 1, std::max(1, options.threads)));
  std::vector<const char*> cuts{bodyBegin};
  for (int t = 1; t < threads; ++t) {
    const char* guess = bodyBegin + text.size() * t / threads;
    guess = std::max(guess, cuts.back());
    const char* eol =
        static_cast<const char*>(std::memchr(guess, '\n', bodyEnd - guess));
    cuts.push_back(eol == nullptr ? bodyEnd : eol + 1);
  }
  cuts.push_back(bodyEnd);

  std::vector<Chunk> chunks(threads);
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t)
    workers.emplace_back(ParseChunk,
                         cuts[t],
                         cuts[t + 1],
                         cuts[t + 1],
                         std::cref(layout),
                         std::ref(chunks[t]));
  ParseChunk(cuts[0], cuts[1], bodyEnd, layout, chunks[0]);
  for (std::thread& worker : workers) worker.join();

  // The first failing stretch holds the earliest error.
  size_t firstLineOfChunk = headerLine + 1;
  for (int t = 0; t < threads; ++t) {
    if (chunks[t].failed) {
      const Chunk& c = chunks[t];
      throw DataError(Where(fileName,
                            firstLineOfChunk + c.errorLineInChunk,
                            c.errorColumn,
                            layout) +
                      ": " + c.error);
    }
    firstLineOfChunk += CountLines(cuts[t], cuts[t + 1]);
  }

  Dataset data;
  data.cols = cols;
  data.hasLabels = layout.labelColumn >= 0;
  for (int c = 0; c < layout.fields; ++c)
    if (c != layout.labelColumn && c != layout.groupColumn)
      data.names.push_back(layout.headers[c]);
  size_t total = 0;
  for (const Chunk& c : chunks) total += c.rows;
  if (total == 0) throw DataError(fileName + ": no data rows after the header");
  if (total > static_cast<size_t>(std::numeric_limits<int>::max()))
    throw DataError(fileName + ": more rows than can be handled");
  data.rows = static_cast<int>(total);
  data.X = std::move(chunks[0].X);
  data.labels = std::move(chunks[0].labels);
  data.groups = std::move(chunks[0].groups);
  for (int t = 1; t < threads; ++t) {
    data.X.insert(data.X.end(), chunks[t].X.begin(), chunks[t].X.end());
    data.labels.insert(
        data.labels.end(), chunks[t].labels.begin(), chunks[t].labels.end());
    data.groups.insert(
        data.groups.end(), chunks[t].groups.begin(), chunks[t].groups.end());
    chunks[t] = Chunk{};
  }
  return data;
}

Dataset ReadCsv(const std::string& file, const CsvOptions& options) {
  const std::string path = file == "-" ? "standard input" : file;
  const int fd = file == "-" ? ::dup(STDIN_FILENO)
                             : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw DataError(path + ": cannot open: " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int err = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw DataError(path + ": cannot read: " + std::strerror(err));
  }
  // Read in blocks, each checked for NUL bytes as it arrives: binary data
  // (a device such as /dev/zero, which never ends) is refused at once
  // instead of after it filled memory.
  std::string buffer;
  if (S_ISREG(info.st_mode)) buffer.reserve(static_cast<size_t>(info.st_size));
  constexpr size_t kBlock = 1 << 20;
  while (true) {
    const size_t done = buffer.size();
    buffer.resize(done + kBlock);
    const ssize_t n = ::read(fd, &buffer[done], kBlock);
    buffer.resize(done + std::max<ssize_t>(n, 0));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw DataError(path + ": cannot read: " + std::strerror(err));
    }
    if (n == 0) break;
    if (std::memchr(&buffer[done], '\0', static_cast<size_t>(n)) != nullptr) {
      ::close(fd);
      RefuseBinary(buffer, path);
    }
  }
  ::close(fd);
  return ParseCsv(buffer, path, options);
}

std::string FormatDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string CsvField(const std::string& name) {
  const bool plain =
      name.find_first_of(",\"\r\n") == std::string::npos &&
      (name.empty() || (!IsBlank(name.front()) && !IsBlank(name.back())));
  if (plain) return name;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void WriteCsv(std::ostream& out, const Dataset& data) {
  std::string line;
  bool first = true;
  auto separate = [&] {
    if (!first) line += ',';
    first = false;
  };
  if (data.hasLabels) {
    separate();
    line += "label";
  }
  for (int c = 0; c < data.cols; ++c) {
    separate();
    line += CsvField(c < static_cast<int>(data.names.size()) ? data.names[c]
                                                             : std::string());
  }
  line += '\n';
  out << line;
  char buffer[64];
  for (int r = 0; r < data.rows; ++r) {
    line.clear();
    first = true;
    auto put = [&](double v) {
      separate();
      if (std::isfinite(v)) {
        const auto result = std::to_chars(buffer, buffer + sizeof(buffer), v);
        line.append(buffer, result.ptr);
      } else {
        line += FormatDouble(v);
      }
    };
    if (data.hasLabels) put(data.labels[r]);
    for (int c = 0; c < data.cols; ++c) put(data.At(r, c));
    line += '\n';
    out << line;
  }
}

}  // namespace Korva::Data
