#include "data/csv_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <unordered_map>

#include "data/values.h"
#include "platform/huge_pages.h"
#include "text/delimiter.h"
#include "text/number_text.h"

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

// A short, printable rendering of a bad field for messages.
std::string Quote(std::string_view field) {
  constexpr size_t kMax = 40;
  std::string shown(field.substr(0, kMax));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  if (field.size() > kMax) shown += "...";
  return "\"" + shown + "\"";
}

// Splits one header line into fields at `delimiter`; a field may be quoted
// ("" is a quote inside a quoted field). Sets `error` and returns what it has
// on a quote that is never closed.
std::vector<std::string> SplitHeader(std::string_view line,
                                     char delimiter,
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
      while (i < line.size() && line[i] != delimiter) ++i;
    } else {
      const size_t start = i;
      while (i < line.size() && line[i] != delimiter) ++i;
      field = std::string(Trim(line.substr(start, i - start)));
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) break;
    ++i;  // the delimiter
  }
  return fields;
}

// What a column of the file holds.
enum class Role { kFeature, kLabel, kGroup, kDropped, kSide };

// What the header says about the columns.
struct Layout {
  int fields = 0;        // columns in every row
  char delimiter = ',';  // between the fields
  int labelColumn = -1;  // 0-based, -1 when there is none
  int groupColumn = -1;  // 0-based, -1 when there is none
  std::vector<Role> roles;  // one per column
  std::vector<int> sideOf;  // per column: its index among the side columns
  std::vector<std::string> sideNames;  // their headers in lower case
  int Features() const {
    return static_cast<int>(
        std::count(roles.begin(), roles.end(), Role::kFeature));
  }
  std::vector<std::string> headers;
};

// The groups of one stretch of rows: its own names, in order of first
// appearance, and each row's index into them.
struct ChunkGroups {
  std::vector<std::string> names;
  std::unordered_map<std::string, int> index;
  int* rows = nullptr;  // one per row, when there is a group column
};

// One stretch of the body: where its rows go, how many it parsed, or the
// first error in it.
struct Chunk {
  double* X = nullptr;       // room for `capacity` rows of the features
  double* labels = nullptr;  // one per row, when there is a label column
  std::vector<double*> side;  // one per side column, one value per row
  ChunkGroups groups;
  int capacity = 0;          // its line ends: no more rows than that
  int rows = 0;
  bool failed = false;
  size_t errorLineInChunk = 0;  // 0-based, counted from the chunk's start
  int errorColumn = 0;          // 1-based field number
  std::string error;
};

// A field's value by the rules of text/number_text.h; blanks and tabs
// around it are the CSV's, not the number's.
Text::NumberStatus ParseNumber(std::string_view field, double& value) {
  return Text::ParseDouble(Trim(field), value);
}

bool Fail(Chunk& chunk, size_t line, int column, std::string what) {
  chunk.failed = true;
  chunk.errorLineInChunk = line;
  chunk.errorColumn = column;
  chunk.error = std::move(what);
  return false;
}

// The delimiter as messages name it.
std::string DelimiterName(char delimiter) {
  return delimiter == '\t'  ? "tabs"
         : delimiter == ';' ? "semicolons"
                            : "commas";
}

std::string RaggedRow(size_t fields, const Layout& layout) {
  return "ragged row: " + std::to_string(fields) + " fields" +
         (layout.delimiter == ','
              ? ""
              : " (separated by " + DelimiterName(layout.delimiter) + ")") +
         " where the header has " + std::to_string(layout.fields);
}

// What is wrong with a field that did not read as a number.
std::string FieldProblem(Text::NumberStatus status,
                         std::string_view field,
                         char delimiter) {
  switch (status) {
    case Text::NumberStatus::kEmpty:
      return "empty value";
    case Text::NumberStatus::kMalformed:
      if (delimiter != ',' && field.find(',') != std::string_view::npos)
        return "non-numeric value " + Quote(field) +
               " (a decimal comma? the fields are separated by " +
               DelimiterName(delimiter) + " and numbers take a decimal point)";
      return "non-numeric value " + Quote(field);
    // A value beyond the largest double would be infinite.
    case Text::NumberStatus::kNotFinite:
    case Text::NumberStatus::kOutOfRange:
      return "non-finite value " + Quote(Trim(field));
    case Text::NumberStatus::kOk:
      break;
  }
  return {};
}

// The row's group named `token` (trimmed, and unquoted when quoted), as an
// index into the chunk's group names; -1 for an empty name.
int GroupOf(std::string_view token, ChunkGroups& groups) {
  token = Trim(token);
  if (token.size() >= 2 && token.front() == '"' && token.back() == '"')
    token = token.substr(1, token.size() - 2);
  if (token.empty()) return -1;
  const auto [at, added] = groups.index.emplace(
      std::string(token), static_cast<int>(groups.names.size()));
  if (added) groups.names.push_back(at->first);
  return at->second;
}

// Parses one line that is not blank, the chunk's `line`-th, into the chunk's
// next row. False, with the chunk's error set, on a bad field or a ragged
// row.
bool ParseRow(std::string_view text,
              size_t line,
              const Layout& layout,
              Chunk& chunk) {
  double* row = chunk.X + static_cast<size_t>(chunk.rows) * layout.Features();
  int field = 0;
  size_t start = 0;
  while (true) {
    size_t end = text.find(layout.delimiter, start);
    if (end == std::string_view::npos) end = text.size();
    if (field >= layout.fields) {
      const size_t count =
          field + 1 +
          std::count(text.begin() + start, text.end(), layout.delimiter);
      return Fail(chunk, line, layout.fields + 1, RaggedRow(count, layout));
    }
    const std::string_view token = text.substr(start, end - start);
    const Role role = layout.roles[field];
    if (role == Role::kGroup) {
      const int group = GroupOf(token, chunk.groups);
      if (group < 0) return Fail(chunk, line, field + 1, "empty value");
      chunk.groups.rows[chunk.rows] = group;
    } else if (role != Role::kDropped) {
      double value = 0.0;
      const Text::NumberStatus status = ParseNumber(token, value);
      if (status != Text::NumberStatus::kOk)
        return Fail(chunk,
                    line,
                    field + 1,
                    FieldProblem(status, token, layout.delimiter));
      if (role == Role::kLabel)
        chunk.labels[chunk.rows] = value;
      else if (role == Role::kSide)
        chunk.side[layout.sideOf[field]][chunk.rows] = value;
      else
        *row++ = value;
    }
    ++field;
    if (end == text.size()) break;
    start = end + 1;
  }
  if (field < layout.fields)
    return Fail(chunk, line, field + 1, RaggedRow(field, layout));
  return true;
}

// Parses the lines in [begin, end) straight into the chunk's rows.
void ParseChunk(const char* begin,
                const char* end,
                const Layout& layout,
                Chunk& chunk) {
  size_t line = 0;
  for (const char* p = begin; p < end; ++line) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (eol == nullptr) eol = end;
    const std::string_view text(p, eol - p);
    p = eol + 1;
    if (Trim(text).empty()) continue;
    if (!ParseRow(text, line, layout, chunk)) return;
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

// Whether the text is UTF-16: it starts with a UTF-16 byte order mark, or
// every other byte of its start is NUL, as in plain text in UTF-16.
bool IsUtf16(std::string_view text) {
  const std::string_view start = text.substr(0, 64);
  if (start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF")
    return true;
  size_t nuls[2] = {0, 0};
  for (size_t i = 0; i < start.size(); ++i) nuls[i % 2] += start[i] == '\0';
  const size_t half = start.size() / 2;
  return half >= 4 && ((nuls[0] == 0 && nuls[1] + 1 >= half) ||
                       (nuls[1] == 0 && nuls[0] + 1 >= half));
}

// Throws the message for text with a NUL byte or a UTF-16 byte order mark:
// UTF-16 gets its own advice.
[[noreturn]] void RefuseBinary(std::string_view text,
                               const std::string& fileName) {
  if (IsUtf16(text))
    throw DataError(fileName +
                    ": the file is UTF-16 text; save it as UTF-8 (or ASCII) "
                    "CSV");
  const size_t nul = text.find('\0');
  throw DataError(
      fileName + ", line " +
      std::to_string(1 + CountLines(text.data(), text.data() + nul)) +
      ": a NUL byte: this is binary data, not CSV text");
}

// The text without its UTF-8 byte order mark. Throws for what is not CSV
// text: binary data, UTF-16, lines ending in a carriage return alone.
std::string_view CheckText(std::string_view text, const std::string& fileName) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Text holds no NUL byte. Without this check a binary file given by
  // mistake fails later with a message about its "header" or "values".
  if (text.find('\0') != std::string_view::npos || IsUtf16(text))
    RefuseBinary(text, fileName);
  if (text.find('\n') == std::string_view::npos &&
      text.find('\r') != std::string_view::npos)
    throw DataError(fileName +
                    ": its lines end in a carriage return alone; save it "
                    "with LF or CRLF line ends");
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '<')
    throw DataError(fileName +
                    " is XML, not CSV data (a classifier document? it goes "
                    "where a command takes MODEL, as in korva score MODEL "
                    "DATA)");
  return text;
}

// Takes the header, the first line that is not blank, off the front of
// `text` and sets `line` to its number. Throws when there is none.
std::string_view TakeHeader(std::string_view& text,
                            size_t& line,
                            const std::string& fileName) {
  line = 1;
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
  return header;
}

// The header's fields. Throws, naming the header's line, for more columns
// than a data file may have or an unclosed quote.
std::vector<std::string> HeaderFields(std::string_view header,
                                      char delimiter,
                                      const std::string& where) {
  // Every column costs a name; a bound keeps a header of commas from filling
  // memory with empty ones.
  const size_t columns =
      1 + std::count(header.begin(), header.end(), delimiter);
  if (columns > kMaxColumns)
    throw DataError(where + ": " + std::to_string(columns) +
                    " columns, more than the " + std::to_string(kMaxColumns) +
                    " a data file may have");
  std::string error;
  int errorColumn = 0;
  std::vector<std::string> fields =
      SplitHeader(Trim(header), delimiter, error, errorColumn);
  if (!error.empty())
    throw DataError(where + ", column " + std::to_string(errorColumn) + ": " +
                    error);
  return fields;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The delimiter of a file with `header`: the one given, else the one the
// header shows, else a comma.
char ChooseDelimiter(std::string_view header, char given) {
  if (given != 0) return given;
  const char found = Text::DetectDelimiter(header);
  return found != 0 ? found : ',';
}

// The column `name` stands for: its header, or "#N" the N-th column. -1 when
// there is none.
int FindColumn(const Layout& layout, const std::string& name) {
  const auto at = std::find(layout.headers.begin(), layout.headers.end(), name);
  if (at != layout.headers.end())
    return static_cast<int>(at - layout.headers.begin());
  if (name.size() > 1 && name[0] == '#' &&
      name.find_first_not_of("0123456789", 1) == std::string::npos &&
      name.size() < 9) {
    const int n = std::stoi(name.substr(1));
    if (n >= 1 && n <= layout.fields) return n - 1;
  }
  return -1;
}

// Makes the feature columns headed as a side column of `options` side
// columns. Throws for a side column given twice.
void AssignSideColumns(Layout& layout,
                       const std::string& fileName,
                       size_t headerLine,
                       const CsvOptions& options) {
  layout.sideOf.assign(layout.fields, -1);
  for (int c = 0; c < layout.fields; ++c) {
    if (layout.roles[c] != Role::kFeature) continue;
    for (const std::string& name : options.sideColumns) {
      if (!SameLetters(layout.headers[c], name)) continue;
      std::string lower = name;
      for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (std::find(layout.sideNames.begin(), layout.sideNames.end(), lower) !=
          layout.sideNames.end())
        throw DataError(Where(fileName, headerLine, c + 1, layout) +
                        ": a second " + lower + " column");
      layout.roles[c] = Role::kSide;
      layout.sideOf[c] = static_cast<int>(layout.sideNames.size());
      layout.sideNames.push_back(lower);
    }
  }
}

// Gives the label, group and dropped columns their roles. Throws for a
// second label column or a group or dropped column the header lacks.
void AssignRoles(Layout& layout,
                 const std::string& fileName,
                 size_t headerLine,
                 const CsvOptions& options) {
  const std::string where = Where(fileName, headerLine);
  layout.roles.assign(layout.fields, Role::kFeature);
  for (int c = 0; c < layout.fields; ++c) {
    if (!SameLetters(layout.headers[c], "label")) continue;
    if (layout.labelColumn >= 0)
      throw DataError(Where(fileName, headerLine, c + 1, layout) +
                      ": a second label column (the first is column " +
                      std::to_string(layout.labelColumn + 1) + ")");
    layout.labelColumn = c;
    layout.roles[c] = Role::kLabel;
  }
  for (const std::string& name : options.drop) {
    const int c = FindColumn(layout, name);
    if (c < 0)
      throw DataError(where + ": no column \"" + name +
                      "\" to drop (a header, or #N for the N-th column)");
    layout.roles[c] = Role::kDropped;
    if (c == layout.labelColumn) layout.labelColumn = -1;
  }
  if (!options.groupColumn.empty()) {
    layout.groupColumn = FindColumn(layout, options.groupColumn);
    if (layout.groupColumn < 0 || layout.groupColumn == layout.labelColumn)
      throw DataError(where + ": no column \"" + options.groupColumn +
                      "\" for the groups");
  } else {
    for (int c = 0; c < layout.fields && layout.groupColumn < 0; ++c)
      if (SameLetters(layout.headers[c], "run") &&
          layout.roles[c] == Role::kFeature)
        layout.groupColumn = c;
  }
  if (layout.groupColumn >= 0) layout.roles[layout.groupColumn] = Role::kGroup;
  AssignSideColumns(layout, fileName, headerLine, options);
  // The columns that say where an epoch came from are never features,
  // whichever column holds the groups.
  for (int c = 0; c < layout.fields; ++c)
    for (const char* name : kSourceColumns)
      if (layout.roles[c] == Role::kFeature &&
          SameLetters(layout.headers[c], name))
        layout.roles[c] = Role::kDropped;
}

// What the header at `headerLine` says about the columns. Throws for a bad
// header, a column it lacks (AssignRoles), no label column where labels are
// required, or no feature column.
Layout ReadLayout(std::string_view header,
                  size_t headerLine,
                  const std::string& fileName,
                  const CsvOptions& options) {
  const std::string where = Where(fileName, headerLine);
  Layout layout;
  layout.delimiter = ChooseDelimiter(header, options.delimiter);
  layout.headers = HeaderFields(header, layout.delimiter, where);
  layout.fields = static_cast<int>(layout.headers.size());
  AssignRoles(layout, fileName, headerLine, options);
  if (layout.labelColumn < 0 && options.requireLabels)
    throw DataError(
        where +
        ": no label column (a column headed \"label\" with +1 or -1 per "
        "row)" +
        (layout.fields == 1
             ? "; the header is one field: if another character separates "
               "the fields, name it with --delimiter"
             : ""));
  if (layout.Features() == 0)
    throw DataError(where +
                    ": no feature column (the header holds only the label" +
                    (layout.groupColumn >= 0 ? ", the groups" : "") +
                    " and columns left out)");
  return layout;
}

// The body cut into `threads` stretches of whole lines: stretch t is
// [cuts[t], cuts[t + 1]).
std::vector<const char*> CutBody(std::string_view body, int threads) {
  const char* bodyBegin = body.data();
  const char* bodyEnd = body.data() + body.size();
  std::vector<const char*> cuts{bodyBegin};
  for (int t = 1; t < threads; ++t) {
    const char* guess = bodyBegin + body.size() * t / threads;
    guess = std::max(guess, cuts.back());
    const char* eol =
        static_cast<const char*>(std::memchr(guess, '\n', bodyEnd - guess));
    cuts.push_back(eol == nullptr ? bodyEnd : eol + 1);
  }
  cuts.push_back(bodyEnd);
  return cuts;
}

// The values of the body's rows as the stretches left them: each stretch
// has room for as many rows as it has line ends, one after the other.
struct Parsed {
  std::vector<Chunk> chunks;  // one per stretch
  size_t capacity = 0;        // rows of room in all
  Values X;
  std::vector<double> labels;  // when there is a label column
  std::vector<int> groups;     // when there is a group column
  std::vector<std::vector<double>> side;  // one per side column
};

// Room for the rows of every stretch, each stretch's part placed in turn.
// Throws when the rows could hold more values than a data set may.
Parsed MakeRoom(const std::vector<const char*>& cuts,
                const Layout& layout,
                const std::string& fileName) {
  const int threads = static_cast<int>(cuts.size()) - 1;
  const char* bodyEnd = cuts.back();
  const int cols = layout.Features();
  Parsed parsed;
  parsed.chunks.resize(threads);
  for (int t = 0; t < threads; ++t) {
    parsed.chunks[t].capacity = static_cast<int>(
        std::count(cuts[t], cuts[t + 1], '\n') +
        (t + 1 == threads && cuts[t] < bodyEnd && bodyEnd[-1] != '\n'));
    parsed.capacity += parsed.chunks[t].capacity;
  }
  const size_t capacity = parsed.capacity;
  if (capacity * cols > static_cast<size_t>(std::numeric_limits<int>::max()))
    throw DataError(fileName + ": " + std::to_string(capacity) + " rows of " +
                    std::to_string(cols) +
                    " features are more than the 2147483647 values a data "
                    "set may hold");
  parsed.X = Values(static_cast<int>(capacity), cols);
  parsed.labels.resize(layout.labelColumn >= 0 ? capacity : 0);
  parsed.groups.resize(layout.groupColumn >= 0 ? capacity : 0);
  parsed.side.assign(layout.sideNames.size(), std::vector<double>(capacity));
  for (size_t t = 0, row = 0; t < parsed.chunks.size();
       row += parsed.chunks[t++].capacity) {
    Chunk& chunk = parsed.chunks[t];
    chunk.X = parsed.X.data() + row * cols;
    chunk.labels = parsed.labels.data() + (parsed.labels.empty() ? 0 : row);
    chunk.groups.rows =
        parsed.groups.data() + (parsed.groups.empty() ? 0 : row);
    for (std::vector<double>& side : parsed.side)
      chunk.side.push_back(side.data() + row);
  }
  return parsed;
}

// Parses stretch t into chunk t, the first on this thread and each other on
// a thread of its own.
void ParseStretches(const std::vector<const char*>& cuts,
                    const Layout& layout,
                    std::vector<Chunk>& chunks) {
  std::vector<std::thread> workers;
  for (size_t t = 1; t < chunks.size(); ++t)
    workers.emplace_back(ParseChunk,
                         cuts[t],
                         cuts[t + 1],
                         std::cref(layout),
                         std::ref(chunks[t]));
  ParseChunk(cuts[0], cuts[1], layout, chunks[0]);
  for (std::thread& worker : workers) worker.join();
}

// Throws the earliest error, that of the first failing stretch, with its
// line counted from `firstLine`, the body's first.
void ThrowFirstError(const Parsed& parsed,
                     const std::vector<const char*>& cuts,
                     size_t firstLine,
                     const Layout& layout,
                     const std::string& fileName) {
  size_t firstLineOfChunk = firstLine;
  for (size_t t = 0; t < parsed.chunks.size(); ++t) {
    const Chunk& c = parsed.chunks[t];
    if (!c.failed) {
      firstLineOfChunk += CountLines(cuts[t], cuts[t + 1]);
      continue;
    }
    // Text in the first row is most likely a column of names (subjects,
    // conditions) rather than a mistyped number.
    const std::string header = c.errorColumn <= layout.fields
                                   ? layout.headers[c.errorColumn - 1]
                                   : std::string();
    const bool textColumn = t == 0 && c.rows == 0 && !header.empty() &&
                            c.error.rfind("non-numeric", 0) == 0;
    throw DataError(Where(fileName,
                          firstLineOfChunk + c.errorLineInChunk,
                          c.errorColumn,
                          layout) +
                    ": " + c.error +
                    (textColumn
                         ? "; a column that is not a feature can be left out "
                           "with --drop " +
                               header + " (or named with --groups)"
                         : ""));
  }
}

// The data set of the parsed rows: blank lines, which left rows unused, are
// closed up. Throws when there is no row.
Dataset Assemble(Parsed parsed,
                 const Layout& layout,
                 const std::string& fileName) {
  const int cols = layout.Features();
  Dataset data;
  data.cols = cols;
  data.hasLabels = layout.labelColumn >= 0;
  for (int c = 0; c < layout.fields; ++c)
    if (layout.roles[c] == Role::kFeature)
      data.names.push_back(layout.headers[c]);
  Values& X = parsed.X;
  std::vector<double>& labels = parsed.labels;
  std::vector<int>& groups = parsed.groups;
  std::unordered_map<std::string, int> groupIndex;
  size_t total = 0;
  for (Chunk& c : parsed.chunks) {
    if (c.X != X.data() + total * cols) {
      std::memmove(
          X.data() + total * cols, c.X, sizeof(double) * c.rows * cols);
      if (c.labels)
        std::memmove(&labels[total], c.labels, sizeof(double) * c.rows);
      for (size_t i = 0; i < c.side.size(); ++i)
        std::memmove(&parsed.side[i][total], c.side[i], sizeof(double) * c.rows);
    }
    // The stretches' group names, in file order, become the set's.
    std::vector<int> global;
    for (const std::string& name : c.groups.names) {
      const auto [at, added] =
          groupIndex.emplace(name, static_cast<int>(data.groupNames.size()));
      if (added) data.groupNames.push_back(name);
      global.push_back(at->second);
    }
    if (!groups.empty())
      for (int r = 0; r < c.rows; ++r)
        groups[total + r] = global[c.groups.rows[r]];
    total += c.rows;
  }
  if (total == 0) throw DataError(fileName + ": no data rows after the header");
  data.rows = static_cast<int>(total);
  labels.resize(data.hasLabels ? total : 0);
  groups.resize(layout.groupColumn >= 0 ? total : 0);
  data.labels = std::move(labels);
  data.groups = std::move(groups);
  for (size_t i = 0; i < parsed.side.size(); ++i) {
    parsed.side[i].resize(total);
    data.side[layout.sideNames[i]] = std::move(parsed.side[i]);
  }
  if (layout.groupColumn >= 0)
    data.groupColumn = layout.headers[layout.groupColumn];
  if (total == parsed.capacity) {
    data.X = std::move(X);
  } else {
    data.X = Values(data.rows, cols);
    std::memcpy(data.X.data(), X.data(), sizeof(double) * total * cols);
  }
  return data;
}

// Throws when the file's first column has no name and counts the rows from
// 0 or 1: the row index a data frame library writes unless told not to,
// which would train as a feature that follows the order of the rows.
void RefuseRowIndex(const Dataset& data,
                    const Layout& layout,
                    const std::string& fileName) {
  if (layout.roles[0] != Role::kFeature || !layout.headers[0].empty() ||
      data.rows < 2)
    return;
  const double start = data.At(0, 0);
  if (start != 0.0 && start != 1.0) return;
  for (int r = 0; r < data.rows; ++r)
    if (data.At(r, 0) != start + r) return;
  throw DataError(fileName + ", column 1 has no name and counts " +
                  (start == 0.0 ? "0, 1, 2, ..." : "1, 2, 3, ...") +
                  ": a row index written with the data (pandas writes one "
                  "unless to_csv is given index=False), not a feature; leave "
                  "it out with --drop '#1'");
}

}  // namespace

std::string_view CheckCsvText(std::string_view text,
                              const std::string& fileName) {
  return CheckText(text, fileName);
}

// Every value goes straight to its place in the data set's matrix, parsed
// on up to `options.threads` threads, one stretch of the body each.
Dataset ParseCsv(std::string_view text,
                 const std::string& fileName,
                 const CsvOptions& options) {
  text = CheckText(text, fileName);
  size_t headerLine = 0;
  const std::string_view header = TakeHeader(text, headerLine, fileName);
  const Layout layout = ReadLayout(header, headerLine, fileName, options);
  const int threads = static_cast<int>(std::clamp<size_t>(
      text.size() / kMinBytesPerThread, 1, std::max(1, options.threads)));
  const std::vector<const char*> cuts = CutBody(text, threads);
  Parsed parsed = MakeRoom(cuts, layout, fileName);
  ParseStretches(cuts, layout, parsed.chunks);
  ThrowFirstError(parsed, cuts, headerLine + 1, layout, fileName);
  Dataset data = Assemble(std::move(parsed), layout, fileName);
  RefuseRowIndex(data, layout, fileName);
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
  // The text goes into a block that is not cleared first and gets huge
  // pages; it is read in pieces, each checked for NUL bytes as it arrives,
  // so that binary data (a device such as /dev/zero, which never ends) is
  // refused at once instead of after it filled memory. The block of a file
  // is mapped in one call once its first piece is known to be text: a large
  // binary file is refused before its size is resident.
  constexpr size_t kPiece = 1 << 20;
  size_t capacity =
      S_ISREG(info.st_mode) ? static_cast<size_t>(info.st_size) + 1 : kPiece;
  std::unique_ptr<char[]> text(new char[capacity]);
  AdviseHugePages(text.get(), capacity, Populate::kNo);
  bool mapped = false;
  size_t size = 0;
  while (true) {
    if (size == capacity) {
      std::unique_ptr<char[]> larger(new char[capacity * 2]);
      std::memcpy(larger.get(), text.get(), size);
      text = std::move(larger);
      capacity *= 2;
    }
    const ssize_t n =
        ::read(fd, text.get() + size, std::min(kPiece, capacity - size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw DataError(path + ": cannot read: " + std::strerror(err));
    }
    if (n == 0) break;
    if (options.onBytes)
      options.onBytes(
          std::string_view(text.get() + size, static_cast<size_t>(n)));
    const bool binary =
        std::memchr(text.get() + size, '\0', static_cast<size_t>(n)) != nullptr;
    size += static_cast<size_t>(n);
    if (binary) {
      ::close(fd);
      RefuseBinary(std::string_view(text.get(), size), path);
    }
    if (!mapped) AdviseHugePages(text.get(), capacity);
    mapped = true;
  }
  ::close(fd);
  return ParseCsv(std::string_view(text.get(), size), path, options);
}

}  // namespace Korva::Data
