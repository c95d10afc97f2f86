#include "data/data_checks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>


namespace Korva::Data {
namespace {

using ::testing::HasSubstr;

// Columns: a all zero (with a -0), b constant, c varying, d = c, e varying
// and unnamed, f = b (constant, so reported as constant, not as a
// duplicate), g = e. The warnings name the columns 1-based, an unnamed one by
// its number only.
TEST(UselessColumns, FindsAllZeroConstantAndDuplicateColumnsInOrder) {
  Dataset data;
  data.rows = 3;
  data.cols = 7;
  data.names = {"a", "b", "c", "d", "", "f", "g"};
  // clang-format off
  data.X = Values(3, 7, {0.0,  2.5, 1, 1, 9, 2.5, 9,
                        -0.0, 2.5, 2, 2, 8, 2.5, 8,
                        0.0,  2.5, 3, 3, 9, 2.5, 9});
  // clang-format on
  const std::vector<UselessColumn> found = FindUselessColumns(data);
  ASSERT_EQ(found.size(), 5u);
  const int expected[][3] = {{0, UselessColumn::kAllZero, -1},
                             {1, UselessColumn::kConstant, -1},
                             {3, UselessColumn::kDuplicate, 2},
                             {5, UselessColumn::kConstant, -1},
                             {6, UselessColumn::kDuplicate, 4}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(found[i].column, expected[i][0]);
    EXPECT_EQ(found[i].kind, expected[i][1]);
    if (expected[i][2] >= 0) {
      EXPECT_EQ(found[i].duplicateOf, expected[i][2]);
    }
  }
  EXPECT_EQ(found[1].value, 2.5);
  const std::vector<std::string> warnings = DescribeUselessColumns(data, found);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_THAT(warnings[0],
              HasSubstr("1 column is all zero and cannot help: feature 1 (a)"));
  EXPECT_THAT(warnings[1], HasSubstr("2 columns are constant"));
  EXPECT_THAT(warnings[1],
              HasSubstr("feature 2 (b) = 2.5, feature 6 (f) = 2.5"));
  EXPECT_THAT(warnings[2], HasSubstr("feature 4 (d) = feature 3 (c)"));
  EXPECT_THAT(warnings[2], ::testing::EndsWith("feature 7 (g) = feature 5"));
  data.X[2 * 7 + 4] = 1e154;  // column e: 2 · (1e154)² overflows, 3 rows
  EXPECT_THAT(DescribeUselessColumns(data, FindUselessColumns(data)).back(),
              HasSubstr("1 column is too large: the sums of their squares "
                        "overflow, so training cannot test them; rescale "
                        "them: feature 5 up to 1e+154"));
  data.X = Values(3, 7, {});
  EXPECT_THAT(DescribeUselessColumns(data, FindUselessColumns(data), 3)[0],
              HasSubstr("7 columns are all zero and cannot help: feature 1 "
                        "(a), feature 2 (b), "
                        "feature 3 (c) and 4 more"));
}

// Whole numbers of up to 32 values are codes; a fraction, a 33rd value, a
// value beyond 65535 or a constant column is not.
TEST(CodeColumns, FindsColumnsOfFewWholeNumbers) {
  Dataset data;
  data.rows = 40;
  data.cols = 5;
  data.X = Values(40, 5, {});
  for (int r = 0; r < 40; ++r) {
    const double row[] = {double(r % 4),        // codes
                          r % 4 + 0.5,          // a fraction
                          double(r),            // 40 values
                          r % 2 ? 70000.0 : 1,  // too large
                          3.0};                 // constant
    for (int c = 0; c < 5; ++c) data.X[r * 5 + c] = row[c];
  }
  EXPECT_EQ(CodeColumns(data), std::vector<int>{0});
}

}  // namespace
}  // namespace Korva::Data
