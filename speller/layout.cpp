#include "speller/layout.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "speller/error.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::Speller {
namespace {

Error SettingsError(const std::string& message) {
  return Error(ErrorKind::kSettings, message);
}

Error DataError(const std::string& message) {
  return Error(ErrorKind::kData, message);
}

// The items, in order, after checking that the symbols are distinct.
std::vector<std::string> DistinctSymbols(const std::string& text,
                                         const std::string& what) {
  std::vector<std::string> symbols = SplitSymbols(text, what);
  std::set<std::string> seen;
  for (const std::string& symbol : symbols)
    if (!seen.insert(symbol).second)
      throw SettingsError(what + ": the symbol " + symbol +
                          " is given twice; every item needs a symbol of its "
                          "own");
  return symbols;
}

}  // namespace

bool ParseMatrixSize(const std::string& given, int& rows, int& cols) {
  const size_t x = given.find_first_of("xX");
  if (x == std::string::npos || given.find('/') != std::string::npos)
    return false;
  std::int64_t r = 0, c = 0;
  if (Text::ParseWhole(given.substr(0, x), r) != Text::NumberStatus::kOk ||
      Text::ParseWhole(given.substr(x + 1), c) != Text::NumberStatus::kOk ||
      given[0] == '+' || given[x + 1] == '+')
    return false;
  rows = static_cast<int>(std::clamp<std::int64_t>(r, -1, 1000));
  cols = static_cast<int>(std::clamp<std::int64_t>(c, -1, 1000));
  return true;
}

namespace {

std::string ReadTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf()))
    throw DataError("--layout " + path +
                    ": neither ROWSxCOLS (such as 6x6) nor a layout table "
                    "that can be read");
  return text.str();
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// One line of a table, "CODE SYMBOLS", into the code and its symbols.
void ReadLine(const std::string& line,
              const std::string& where,
              int& code,
              std::vector<std::string>& symbols) {
  const size_t cut = line.find_first_of(", \t");
  std::int64_t value = 0;
  if (cut == std::string::npos ||
      Text::ParseWhole(line.substr(0, cut), value) != Text::NumberStatus::kOk ||
      value < 1 || value > 1000000)
    throw DataError(where +
                    ": expected a code (a whole number from 1), then the "
                    "symbols it lights, as in 1,ABCDEF");
  code = static_cast<int>(value);
  symbols = SplitSymbols(Trim(line.substr(cut + 1)), where);
  if (symbols.empty()) throw DataError(where + ": code lights no symbol");
  // A blank at a line's end would be lost when the table is read again, so
  // no blank is a symbol of a table; a space key needs a symbol such as _.
  if (std::find(symbols.begin(), symbols.end(), " ") != symbols.end())
    throw DataError(where +
                    ": a blank is not a symbol of a layout table; write the "
                    "symbols together, with _ or another mark for a space key");
}

// The items of a table's symbols: `given` in order, or the symbols in their
// order of first appearance.
std::vector<std::string> TableItems(
    const std::map<int, std::vector<std::string>>& lights,
    const std::vector<std::string>& given,
    const std::string& name) {
  std::vector<std::string> items = given;
  for (const auto& [code, symbols] : lights)
    for (const std::string& symbol : symbols) {
      if (std::find(items.begin(), items.end(), symbol) != items.end())
        continue;
      if (!given.empty())
        throw DataError(name + ": code " + std::to_string(code) + " lights " +
                        symbol + ", which --symbols lacks");
      items.push_back(symbol);
    }
  return items;
}

// Error(kData) when an item is lit by no code or by the same codes as
// another: no flash would tell it from the rest.
void CheckDistinguishable(const Layout& layout, const std::string& name) {
  std::map<std::vector<int>, int> byCodes;
  for (int item = 0; item < layout.Items(); ++item) {
    std::vector<int> codes;
    for (int c = 0; c < layout.Codes(); ++c)
      if (layout.Lights(c, item)) codes.push_back(layout.codes[c]);
    if (codes.empty())
      throw DataError(name + ": no code lights " + layout.symbols[item]);
    const auto [at, added] = byCodes.emplace(codes, item);
    if (!added)
      throw DataError(name + ": " + layout.symbols[at->second] + " and " +
                      layout.symbols[item] +
                      " are lit by the same codes, so no flash tells them "
                      "apart");
  }
}

}  // namespace

int Layout::CodeIndex(int code) const {
  const auto at = std::lower_bound(codes.begin(), codes.end(), code);
  return at != codes.end() && *at == code ? static_cast<int>(at - codes.begin())
                                          : -1;
}

bool Layout::Lights(int codeIndex, int item) const {
  const std::vector<int>& items = lit[codeIndex];
  return std::binary_search(items.begin(), items.end(), item);
}

int Layout::Item(const std::string& symbol) const {
  const auto at = std::find(symbols.begin(), symbols.end(), symbol);
  return at == symbols.end() ? -1 : static_cast<int>(at - symbols.begin());
}

std::vector<std::string> SplitSymbols(const std::string& text,
                                      const std::string& what) {
  std::vector<std::string> symbols;
  for (size_t at = 0; at < text.size();) {
    const Text::Utf8Char c =
        Text::DecodeUtf8(std::string_view(text).substr(at));
    if (!c.valid || c.code < 0x20 || c.code == 0x7F)
      throw SettingsError(what + ": byte " + std::to_string(at + 1) +
                          " is not a printable UTF-8 character");
    symbols.push_back(text.substr(at, c.length));
    at += c.length;
  }
  return symbols;
}

Layout MatrixLayout(int rows, int cols, const std::string& symbols) {
  const std::string given = std::to_string(rows) + "x" + std::to_string(cols);
  if (rows < 1 || cols < 1 || rows > 100 || cols > 100 || rows * cols < 2)
    throw SettingsError("--layout " + given +
                        ": a matrix has 1 to 100 rows and columns and at "
                        "least two items");
  const int n = rows * cols;
  std::vector<std::string> items = DistinctSymbols(
      symbols.empty() ? std::string(kDefaultSymbols) : symbols, "--symbols");
  if (symbols.empty() && static_cast<int>(items.size()) >= n) items.resize(n);
  if (static_cast<int>(items.size()) != n)
    throw SettingsError(
        "--symbols: the " + given + " matrix has " + std::to_string(n) +
        " items but " + std::to_string(items.size()) + " symbols are given" +
        (symbols.empty() ? " by default; give them with --symbols" : ""));
  Layout layout;
  layout.given = given;
  layout.rows = rows;
  layout.cols = cols;
  layout.symbols = std::move(items);
  for (int code = 1; code <= cols + rows; ++code) {
    std::vector<int> lit;
    for (int item = 0; item < n; ++item)
      if (code <= cols ? item % cols == code - 1
                       : item / cols == code - cols - 1)
        lit.push_back(item);
    layout.codes.push_back(code);
    layout.lit.push_back(std::move(lit));
  }
  return layout;
}

Layout MakeLayout(const std::string& given, const std::string& symbols) {
  int rows = 0, cols = 0;
  if (ParseMatrixSize(given, rows, cols))
    return MatrixLayout(rows, cols, symbols);
  Layout layout = ParseLayoutTable(ReadTable(given), given, symbols);
  layout.given = given;
  return layout;
}

Layout ParseLayoutTable(const std::string& text,
                        const std::string& name,
                        const std::string& symbols) {
  std::map<int, std::vector<std::string>> lights;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    if (lights.empty() && lower.rfind("code", 0) == 0) continue;
    const std::string where = name + ", line " + std::to_string(number);
    int code = 0;
    std::vector<std::string> lit;
    ReadLine(line, where, code, lit);
    if (!lights.emplace(code, std::move(lit)).second)
      throw DataError(where + ": code " + std::to_string(code) +
                      " is given twice");
    if (lights.size() > kMaxCodes)
      throw DataError(name + ": more than " + std::to_string(kMaxCodes) +
                      " codes");
  }
  if (lights.empty()) throw DataError(name + ": the layout table has no code");
  Layout layout;
  layout.given = name;
  layout.symbols =
      TableItems(lights,
                 symbols.empty() ? std::vector<std::string>()
                                 : DistinctSymbols(symbols, "--symbols"),
                 name);
  if (layout.Items() > kMaxItems || layout.Items() < 2)
    throw DataError(name + ": a layout has 2 to " + std::to_string(kMaxItems) +
                    " items, this one " + std::to_string(layout.Items()));
  for (const auto& [code, lit] : lights) {
    std::vector<int> items;
    for (const std::string& symbol : lit) items.push_back(layout.Item(symbol));
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    layout.codes.push_back(code);
    layout.lit.push_back(std::move(items));
  }
  CheckDistinguishable(layout, name);
  return layout;
}

std::string LayoutTable(const Layout& layout) {
  std::string text;
  for (int c = 0; c < layout.Codes(); ++c) {
    text += std::to_string(layout.codes[c]) + ",";
    for (int item : layout.lit[c]) text += layout.symbols[item];
    text += "\n";
  }
  return text;
}

std::string LayoutText(const Layout& layout) {
  const std::string items = std::to_string(layout.Items()) + " symbols";
  if (layout.rows == 0)
    return "layout table " + layout.given + " (" +
           std::to_string(layout.Codes()) + " codes, " + items + ")";
  const std::string cols = std::to_string(layout.cols);
  return layout.given + " matrix of " + items + " (codes 1-" + cols +
         " the columns, " + std::to_string(layout.cols + 1) + "-" +
         std::to_string(layout.cols + layout.rows) + " the rows)";
}

std::vector<int> TextItems(const Layout& layout,
                           const std::string& text,
                           const std::string& what) {
  std::vector<int> items;
  for (const std::string& symbol : SplitSymbols(text, what)) {
    const int item = layout.Item(symbol);
    if (item < 0) {
      std::string all;
      for (const std::string& s : layout.symbols) all += s;
      throw SettingsError(what + ": symbol " +
                          std::to_string(items.size() + 1) + ", " + symbol +
                          ", is not in the layout (" + all + ")");
    }
    items.push_back(item);
  }
  return items;
}

}  // namespace Korva::Speller
