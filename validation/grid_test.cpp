#include "validation/grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace Korva::Validation {
namespace {

struct GridCase {
  const char* name;
  std::vector<double> pEnter, pRemove;
  std::vector<int> maxIter;
  std::vector<std::string> settings;  // "max-iter/p-enter/p-remove"
  int skipped;
  std::string refusal;  // instead, when not empty
  InputNames names = {};
};

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

const InputNames kPython{"p_enter", "p_remove", "max_iter", "", ""};

// clang-format off
const GridCase kGrids[] = {
    // korva tune's default grid: of the 12 pairs, 0.05/0.05, 0.1/0.05 and
    // 0.1/0.1 are not p-enter below p-remove.
    {"default_grid", {0.01, 0.05, 0.1}, {0.05, 0.1, 0.15, 0.2}, {300},
     {"300/0.01/0.05", "300/0.01/0.1", "300/0.01/0.15", "300/0.01/0.2", "300/0.05/0.1", "300/0.05/0.15", "300/0.05/0.2", "300/0.1/0.15", "300/0.1/0.2"}, 3, ""},
    // max-iter changes slowest, p-remove fastest; the skipped pairs are
    // counted once, not once per max-iter.
    {"max_iter_outermost", {0.2, 0.1}, {0.15, 0.3}, {3, 300},
     {"3/0.2/0.3", "3/0.1/0.15", "3/0.1/0.3", "300/0.2/0.3", "300/0.1/0.15", "300/0.1/0.3"}, 1, ""},
    {"percent_given", {1.5}, {0.2}, {300}, {}, 0, "--p-enter 1.5 is refused: a p-value of the grid must be above 0 and at most 1 (p-values are fractions here; the dialog shows them in percent)"},
    {"zero", {0.1}, {0.2, 0}, {300}, {}, 0, "--p-remove 0 is refused: a p-value of the grid must be above 0 and at most 1"},
    {"not_a_number", {NAN}, {0.2}, {300}, {}, 0, "--p-enter nan is refused: a p-value of the grid must be above 0 and at most 1"},
    {"value_twice", {0.1}, {0.2}, {300, 20, 300}, {}, 0, "--max-iter lists 300 twice"},
    {"no_pair", {0.2, 0.3}, {0.2}, {300}, {}, 0, "the grid holds no setting: in every pair of --p-enter 0.2, 0.3 and --p-remove 0.2 p-enter is not below p-remove"},
    {"python_no_pair", {0.2, 0.3}, {0.2}, {300}, {}, 0, "the grid holds no setting: in every pair of p_enter 0.2, 0.3 and p_remove 0.2 p-enter is not below p-remove", kPython},
    {"python_empty_list", {0.1}, {}, {300}, {}, 0, "p_remove lists no value", kPython},
    {"python_negative_max_iter", {0.1}, {0.2}, {-1}, {}, 0, "max_iter -1 is refused: max-iter is 0 or more", kPython},
    {"python_value_twice", {0.1, 0.05, 0.1}, {0.2}, {300}, {}, 0, "p_enter lists 0.1 twice", kPython},
};
// clang-format on

class GridTable : public ::testing::TestWithParam<GridCase> {};

TEST_P(GridTable, PairsTheListsOrRefusesThem) {
  const GridCase& c = GetParam();
  if (!c.refusal.empty()) {
    try {
      MakeGrid(c.pEnter, c.pRemove, c.maxIter, c.names);
      ADD_FAILURE() << "not refused";
    } catch (const Error& error) {
      EXPECT_EQ(error.Kind(), ErrorKind::kScheme);
      EXPECT_EQ(error.what(), c.refusal);
    }
    return;
  }
  const Grid grid = MakeGrid(c.pEnter, c.pRemove, c.maxIter, c.names);
  std::vector<std::string> settings;
  for (const HostKit::SettingsChange& s : grid.settings)
    settings.push_back(std::to_string(*s.maxIter) + "/" +
                       ListText(std::vector<double>{*s.pEnter}) + "/" +
                       ListText(std::vector<double>{*s.pRemove}));
  EXPECT_EQ(settings, c.settings);
  EXPECT_EQ(grid.skipped, c.skipped);
  EXPECT_EQ(grid.pEnter, c.pEnter);
}

INSTANTIATE_TEST_SUITE_P(Table,
                         GridTable,
                         ::testing::ValuesIn(kGrids),
                         [](const auto& info) { return info.param.name; });

TEST(SettingText, NamesTheModulesDefaultsForWhatIsUnset) {
  HostKit::SettingsChange setting;
  setting.pEnter = 0.05;
  setting.maxIter = 30;
  EXPECT_EQ(SettingText(setting), "p-enter 0.05, p-remove 0.1, max-iter 30");
}

}  // namespace
}  // namespace Korva::Validation
