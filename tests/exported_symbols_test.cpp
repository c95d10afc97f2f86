// The module exports exactly the reviewed list in exported_symbols.txt. A
// change to the module's interface shows up here and needs a review of that
// list.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

// Defined dynamic symbols of the module, demangled, without the address and
// type columns.
std::set<std::string> ModuleExports() {
  std::set<std::string> symbols;
  const std::string command =
      std::string("nm -DC --defined-only '") + KORVA_MODULE_PATH + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char line[4096];
  while (fgets(line, sizeof(line), pipe)) {
    std::string entry(line);
    if (!entry.empty() && entry.back() == '\n') entry.pop_back();
    // "<address> <type> <name>"
    const auto first = entry.find(' ');
    const auto second = entry.find(' ', first + 1);
    if (second == std::string::npos) continue;
    symbols.insert(entry.substr(second + 1));
  }
  pclose(pipe);
  return symbols;
}

std::set<std::string> ReviewedList() {
  std::set<std::string> symbols;
  std::ifstream file(KORVA_EXPORTED_SYMBOLS);
  std::string line;
  while (std::getline(file, line))
    if (!line.empty() && line[0] != '#') symbols.insert(line);
  return symbols;
}

TEST(ExportedSymbols, MatchTheReviewedList) {
  const std::set<std::string> actual = ModuleExports();
  const std::set<std::string> expected = ReviewedList();
  ASSERT_FALSE(expected.empty()) << "cannot read " << KORVA_EXPORTED_SYMBOLS;
  for (const std::string& s : actual)
    EXPECT_TRUE(expected.count(s)) << "exported but not reviewed: " << s;
  for (const std::string& s : expected)
    EXPECT_TRUE(actual.count(s)) << "reviewed but not exported: " << s;
}

}  // namespace
