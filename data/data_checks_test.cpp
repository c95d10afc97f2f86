#include "data/data_checks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Korva::Data {
namespace {

using ::testing::HasSubstr;

// Columns: a all zero (with a -0), b constant, c varying, d = c, e varying,
// f = b (constant, so reported as constant, not as a duplicate), g = e.
Dataset Columns() {
  Dataset data;
  data.rows = 3;
  data.cols = 7;
  data.names = {"a", "b", "c", "d", "", "f", "g"};
  // clang-format off
  data.X = {0.0,  2.5, 1, 1, 9, 2.5, 9,
            -0.0, 2.5, 2, 2, 8, 2.5, 8,
            0.0,  2.5, 3, 3, 9, 2.5, 9};
  // clang-format on
  return data;
}

TEST(UselessColumns, FindsAllZeroConstantAndDuplicateColumnsInOrder) {
  const std::vector<UselessColumn> found = FindUselessColumns(Columns());
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].column, 0);
  EXPECT_EQ(found[0].kind, UselessColumn::kAllZero);
  EXPECT_EQ(found[1].column, 1);
  EXPECT_EQ(found[1].kind, UselessColumn::kConstant);
  EXPECT_EQ(found[1].value, 2.5);
  EXPECT_EQ(found[2].column, 3);
  EXPECT_EQ(found[2].kind, UselessColumn::kDuplicate);
  EXPECT_EQ(found[2].duplicateOf, 2);
  EXPECT_EQ(found[3].column, 5);
  EXPECT_EQ(found[3].kind, UselessColumn::kConstant);
  EXPECT_EQ(found[4].column, 6);
  EXPECT_EQ(found[4].duplicateOf, 4);
}

TEST(UselessColumns, WarningsNameTheColumnsOneBased) {
  const Dataset data = Columns();
  const std::vector<std::string> warnings =
      DescribeUselessColumns(data, FindUselessColumns(data));
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_THAT(warnings[0], HasSubstr("1 column is all zero"));
  EXPECT_THAT(warnings[0], HasSubstr("feature 1 (a)"));
  EXPECT_THAT(warnings[1], HasSubstr("2 columns are constant"));
  EXPECT_THAT(warnings[1],
              HasSubstr("feature 2 (b) = 2.5, feature 6 (f) = 2.5"));
  EXPECT_THAT(warnings[2], HasSubstr("feature 4 (d) = feature 3 (c)"));
  EXPECT_THAT(warnings[2], ::testing::EndsWith("feature 7 (g) = feature 5"))
      << "an unnamed column is named by its number only";
}

TEST(UselessColumns, LongListsAreCut) {
  Dataset data;
  data.rows = 2;
  data.cols = 20;
  data.X.assign(40, 0.0);
  const std::vector<std::string> warnings =
      DescribeUselessColumns(data, FindUselessColumns(data), 3);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("20 columns are all zero"));
  EXPECT_THAT(warnings[0], HasSubstr("feature 3 and 17 more"));
}

TEST(LabelWarnings, CountOtherLabelsAndNoticeASingleClass) {
  Dataset data;
  data.rows = 4;
  data.cols = 1;
  data.X = {1, 2, 3, 4};
  data.hasLabels = true;
  data.labels = {1, 0, 2, 1};
  const std::vector<std::string> warnings = LabelWarnings(data, "s.csv");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_THAT(warnings[0],
              HasSubstr("s.csv: 2 of 4 rows have a label other than +1 or -1"));
  EXPECT_THAT(warnings[1],
              HasSubstr("only one class (2 rows labelled +1, 0 labelled -1)"));
  data.labels = {1, -1, -1, 1};
  EXPECT_TRUE(LabelWarnings(data, "s.csv").empty());
}

}  // namespace
}  // namespace Korva::Data
