#include "data/csv_write.h"

#include "text/number_text.h"

namespace Korva::Data {

std::string CsvField(const std::string& name) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const bool plain =
      name.find_first_of(",\"\r\n") == std::string::npos &&
      (name.empty() || (!blank(name.front()) && !blank(name.back())));
  if (plain) return name;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void WriteCsv(std::ostream& out, const Dataset& data) {
  std::string line = data.hasLabels ? "label" : "";
  for (int c = 0; c < data.cols; ++c) {
    if (c > 0 || data.hasLabels) line += ',';
    line += CsvField(c < static_cast<int>(data.names.size()) ? data.names[c]
                                                             : std::string());
  }
  out << line << '\n';
  for (int r = 0; r < data.rows; ++r) {
    line.clear();
    if (data.hasLabels) Text::AppendDouble(line, data.labels[r]);
    for (int c = 0; c < data.cols; ++c) {
      if (c > 0 || data.hasLabels) line += ',';
      Text::AppendDouble(line, data.At(r, c));
    }
    line += '\n';
    out << line;
  }
}

}  // namespace Korva::Data
