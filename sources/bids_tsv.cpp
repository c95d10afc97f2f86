// The tab-separated sidecar files of an EEG-BIDS run: a header line of
// column names, then rows of as many fields, "n/a" for a value not known.
#include <algorithm>
#include <cctype>
#include <functional>

#include "recording/recording_base.h"
#include "sources/bids.h"

namespace Korva::Sources {
namespace {

using Fields = std::vector<std::string_view>;

// More columns than a sidecar file has; a line with more is refused before
// it is split.
constexpr long long kMaxColumns = 1000;

Fields Split(std::string_view line) {
  Fields fields;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab - at));
    if (tab == std::string_view::npos) return fields;
    at = tab + 1;
  }
}

// The header's fields, then `row(line, fields)` for every row (lines
// counted from 1, the header's included); a blank line is skipped, a line
// end may be \r\n. DataError for an empty file or a ragged row.
Fields ForEachRow(std::string_view text,
                  const std::string& path,
                  const std::function<void(long long, const Fields&)>& row) {
  Fields header;
  long long line = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string_view content = text.substr(at, end - at);
    at = end + 1;
    ++line;
    if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
    if (content.empty()) continue;
    if (std::count(content.begin(), content.end(), '\t') >= kMaxColumns)
      Recording::Fail(path, "line " + std::to_string(line) + " has more than " +
                                std::to_string(kMaxColumns) + " fields");
    Fields fields = Split(content);
    if (header.empty()) {
      header = std::move(fields);
      continue;
    }
    if (fields.size() != header.size())
      Recording::Fail(path, "line " + std::to_string(line) + " has " +
                                std::to_string(fields.size()) +
                                " fields, the header " +
                                std::to_string(header.size()));
    row(line, fields);
  }
  if (header.empty()) Recording::Fail(path, "empty file (no header line)");
  return header;
}

// The index of column `name` in `header`, or -1.
int Column(const Fields& header, std::string_view name) {
  const auto at = std::find(header.begin(), header.end(), name);
  return at == header.end() ? -1 : static_cast<int>(at - header.begin());
}

// The field at `column` unless the column is missing or the value unknown.
std::string_view Known(const Fields& fields, int column) {
  if (column < 0) return {};
  const std::string_view value = Recording::TrimBlanks(fields[column]);
  return value == "n/a" ? std::string_view() : value;
}

}  // namespace

std::vector<Recording::Event> ParseEventsTsv(std::string_view text,
                                             double rate,
                                             const std::string& path,
                                             std::vector<std::string>& notes) {
  std::vector<Recording::Event> events;
  std::vector<Fields> rows;
  std::vector<long long> lines;
  const Fields header =
      ForEachRow(text, path, [&](long long line, const Fields& fields) {
        rows.push_back(fields);
        lines.push_back(line);
      });
  const int onset = Column(header, "onset");
  const int type = Column(header, "trial_type");
  const int value = Column(header, "value");
  if (onset < 0) Recording::Fail(path, "no onset column");
  if (type < 0 && value < 0)
    Recording::Fail(path, "neither a trial_type nor a value column names the "
                          "events");
  long long unplaced = 0, unnamed = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string_view at = Known(rows[r], onset);
    std::string code(Known(rows[r], type)), alias(Known(rows[r], value));
    if (code.empty()) code.swap(alias);
    double seconds = 0;
    if (at.empty() || code.empty()) {
      ++(at.empty() ? unplaced : unnamed);
    } else if (!Recording::ParseFinite(at, seconds)) {
      Recording::Fail(path, "line " + std::to_string(lines[r]) + ": onset \"" +
                                std::string(at) + "\" is not a number of "
                                                  "seconds");
    } else {
      events.emplace_back(Recording::SampleAt(seconds, rate),
                          Recording::AsUtf8(code),
                          Recording::AsUtf8(alias));
    }
  }
  for (const auto& [count, what] :
       {std::pair{unplaced, "without an onset"}, {unnamed, "without a name"}})
    if (count > 0)
      notes.push_back(std::to_string(count) + " rows of its events file " +
                      what + " (n/a) left out");
  return events;
}

std::vector<ChannelRow> ParseChannelsTsv(std::string_view text,
                                         const std::string& path) {
  std::vector<Fields> rows;
  const Fields header = ForEachRow(
      text, path, [&](long long, const Fields& fields) { rows.push_back(fields); });
  const int name = Column(header, "name");
  const int type = Column(header, "type");
  const int status = Column(header, "status");
  if (name < 0 || type < 0)
    Recording::Fail(path, "no name and type columns");
  std::vector<ChannelRow> channels;
  for (const Fields& fields : rows) {
    ChannelRow row;
    row.name = Recording::AsUtf8(Recording::TrimBlanks(fields[name]));
    row.type = Recording::AsUtf8(Known(fields, type));
    for (char& c : row.type)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    row.bad = Known(fields, status) == "bad";
    channels.push_back(std::move(row));
  }
  return channels;
}

}  // namespace Korva::Sources
