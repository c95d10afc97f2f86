// The defaults and limits that docs/cli.md and docs/python.md state are the
// recipe's constants: a changed default fails here until the pages say it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "text/number_text.h"
#include "epoching/recipe.h"

namespace Korva::Epoching {
namespace {

using Text::FormatDouble;
using ::testing::HasSubstr;

// The row of `page`'s table whose first cell starts with `key`.
std::string Row(const std::string& page, const std::string& key) {
  std::ifstream in(std::string(KORVA_SOURCE_DIR) + "/docs/" + page);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("| `" + key, 0) == 0) return line;
  ADD_FAILURE() << page << " has no table row for " << key;
  return "";
}

// The last cell of a table row, without its blanks.
std::string LastCell(const std::string& row) {
  const size_t end = row.find_last_not_of(" |");
  const size_t start = row.rfind(" | ", end) + 3;
  return row.substr(start, end + 1 - start);
}

std::string Quoted(const std::string& text) { return "`" + text + "`"; }

// Python's literal of an interval, None when absent.
std::string Tuple(bool given, double a, double b) {
  return given ? "(" + FormatDouble(a) + ", " + FormatDouble(b) + ")" : "None";
}

struct Documented {
  const char* page;
  const char* key;          // the start of the row's first cell
  std::string defaultCell;  // the last cell, from the constants
  std::string limits;       // "" or what the row says of the limits
};

std::vector<Documented> Pages() {
  const Recipe d;
  const std::string orders = std::to_string(kMinFilterOrder) + " to " +
                             std::to_string(kMaxFilterOrder);
  const std::string end = FormatDouble(kDefaultWindowMs);
  return {
      {"cli.md", "--reference", Quoted(ReferenceText(d.reference)), ""},
      {"cli.md", "--band", Quoted(BandText(d)), ""},
      {"cli.md", "--filter-order", std::to_string(d.filterOrder), orders},
      {"cli.md",
       "--window",
       Quoted(WindowText(d)) + ": " + std::to_string(d.bins) +
           " bins of about " +
           FormatDouble((kDefaultWindowMs - d.windowStartMs) / d.bins) +
           " ms from " + FormatDouble(d.windowStartMs) + " to about " + end +
           " ms",
       ""},
      {"cli.md", "--bins", std::to_string(d.bins), ""},
      {"cli.md", "--baseline", Quoted(BaselineText(d)), ""},
      {"cli.md", "--reject", Quoted(RejectText(d)), ""},
      {"cli.md", "--resample", Quoted(ResampleText(d)), ""},
      {"python.md",
       "reference",
       Quoted("\"" + ReferenceText(d.reference) + "\"") + " (or " +
           Quoted("\"" + ReferenceText(Reference::kAverage) + "\"") + ")",
       ""},
      {"python.md",
       "band",
       Quoted(
           Tuple(d.band.has_value(), kDefaultBandLowHz, kDefaultBandHighHz)) +
           " (or `None`: no filter)",
       ""},
      {"python.md",
       "filter_order",
       Quoted(std::to_string(d.filterOrder)) + " (" + orders + ")",
       ""},
      {"python.md",
       "window",
       Quoted("(" + FormatDouble(d.windowStartMs) + ", None)") +
           ": the end `None` is " + end +
           " ms moved to the nearest whole number of bins",
       ""},
      {"python.md",
       "bins",
       Quoted(std::to_string(d.bins)) + " (" + std::to_string(kMinBins) +
           " to " + std::to_string(kMaxBins) + ")",
       ""},
      {"python.md", "baseline", Quoted(Tuple(false, 0, 0)), ""},
      {"python.md", "reject", Quoted("None"), ""},
      {"python.md", "resample", Quoted("None"), ""},
  };
}

TEST(RecipeDefaults, AreWhatTheDocsSay) {
  const Recipe d;
  ASSERT_FALSE(d.baseline || d.rejectMicrovolts || d.windowEndMs ||
               d.resampleHz)
      << "the docs' rows of baseline, reject, window and resample say none";
  for (const Documented& doc : Pages()) {
    const std::string row = Row(doc.page, doc.key);
    EXPECT_EQ(LastCell(row), doc.defaultCell) << doc.page << ": " << row;
    if (!doc.limits.empty()) {
      EXPECT_THAT(row, HasSubstr(doc.limits)) << doc.page;
    }
  }
}

}  // namespace
}  // namespace Korva::Epoching
