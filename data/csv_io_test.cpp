#include "data/csv_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "data/csv_write.h"

namespace Korva::Data {
namespace {

using ::testing::HasSubstr;
using namespace std::literals;

// A file that ParseCsv must refuse, and what the message must say.
struct BadCsv {
  const char* name;
  std::string_view text;  // may hold NUL bytes
  const char* where;  // file, line and column part of the message
  std::string_view what;  // what was wrong; a final NUL: the message's end
};

class CsvRefuses : public ::testing::TestWithParam<BadCsv> {};

TEST_P(CsvRefuses, NamingFileLineColumnAndProblem) {
  const BadCsv& bad = GetParam();
  try {
    ParseCsv(bad.text, "set.csv");
    FAIL() << "accepted: " << bad.text;
  } catch (const DataError& error) {
    EXPECT_THAT(std::string(error.what()), HasSubstr(bad.where));
    EXPECT_THAT(std::string(error.what()) + '\0', HasSubstr(std::string(bad.what)));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Csv, CsvRefuses,
    ::testing::Values(
        BadCsv{"Empty", "", "set.csv", "empty file"},
        BadCsv{"HeaderOnly", "label,a\n", "set.csv", "no data rows"},
        BadCsv{"NoLabelColumn", "a,b\n1,2\n", "set.csv, line 1", "no label column"},
        BadCsv{"NoFeatureColumn", "label\n1\n-1\n", "set.csv, line 1", "no feature column"},
        BadCsv{"SecondLabelColumn", "label,a,LABEL\n1,2,3\n", "line 1, column 3", "second label column"},
        BadCsv{"NonNumeric", "label,a,b\n1,2,3\n-1,x7,3\n", "line 3, column 2 (a)", "non-numeric value \"x7\""},
        BadCsv{"TrailingGarbage", "label,a\n1,2.5kg\n", "line 2, column 2 (a)", "non-numeric"},
        BadCsv{"Infinity", "label,a\n1,inf\n", "line 2, column 2 (a)", "non-finite value \"inf\""},
        BadCsv{"Overflow", "label,a\n1,1e999\n", "line 2, column 2", "non-finite"},
        BadCsv{"NonFiniteLabel", "a,label\n1,nan\n", "line 2, column 2 (label)", "non-finite"},
        BadCsv{"ShortRow", "label,a,b\n1,2,3\n1,2\n", "line 3, column 3 (b)", "ragged row: 2 fields where the header has 3"},
        BadCsv{"LongRow", "label,a,b\n1,2,3,4,5\n", "line 2, column 4", "ragged row: 5 fields where the header has 3"},
        BadCsv{"EmptyValue", "label,a,b\n1,,3\n", "line 2, column 2 (a)", "empty value"},
        BadCsv{"BlankLinesCount", "label,a\n1,2\n\n\n-1,q\n", "line 5, column 2", "non-numeric"},
        BadCsv{"CrLfLines", "label,a\r\n1,2\r\n-1,q\r\n", "line 3, column 2", "non-numeric"},
        BadCsv{"UnclosedQuote", "label,\"a\n1,2\n", "line 1, column 2", "not closed"},
        BadCsv{"UnclosedQuoteAfterQuotes", "label,\"a,\"\"b\",\"c\n", "line 1, column 3", "not closed"},
        BadCsv{"QuotedDelimitersAreOneField", "\"a,b\",label,\"c\"\"d\"\n1,2,3,4\n", "line 2, column 4", "4 fields where the header has 3"},
        BadCsv{"RaggedSemicolons", "label;a\n1;2;3\n", "line 2, column 3", "ragged row: 3 fields (separated by semicolons) where the header has 2"},
        BadCsv{"HeaderAfterBlankLines", "\n \t\nlabel,a\n1,2\n-1,x\n", "line 5, column 2 (a)", "non-numeric"},
        BadCsv{"NoLabelAfterBlankLines", "\n\na,b\n1,2\n", "set.csv, line 3", "no label column (a column headed \"label\" with +1 or -1 per row)\0"sv},
        BadCsv{"OneFieldHeader", "label a\n1\n", "set.csv, line 1", "; the header is one field: if another character separates the fields"},
        BadCsv{"TextInFirstRow", "name,label,a\nann,1,2\n", "line 2, column 1 (name)", "\"ann\"; a column that is not a feature can be left out with --drop name"},
        BadCsv{"TextInSecondRow", "name,label,a\n1,1,2\nann,1,2\n", "line 3, column 1 (name)", "non-numeric value \"ann\"\0"sv},
        BadCsv{"RowIndexFrom0", " ,label\n0,1\n1,-1\n2,1\n", "set.csv, column 1", "has no name and counts 0, 1, 2, ..."},
        BadCsv{"RowIndexFrom1", ",label\n1,1\n2,-1\n", "set.csv, column 1", "has no name and counts 1, 2, 3, ..."},
        BadCsv{"NulByteLine3", "label,a\n1,2\n-1\0,3\n"sv, "set.csv, line 3", "a NUL byte: this is binary data"},
        BadCsv{"Utf16LittleEndianMark", "\xFF\xFEl\0a\0"sv, "set.csv", "UTF-16 text"},
        BadCsv{"Utf16BigEndianMark", "\xFE\xFF\0l\0a"sv, "set.csv", "UTF-16 text"},
        BadCsv{"Utf16WithoutMark", "\0l\0a\0b\0e\0l\0,\0a"sv, "set.csv", "UTF-16 text"},
        BadCsv{"Utf16OneNulShort", "l\0a\0b\0eXl\0"sv, "set.csv", "UTF-16 text"},
        BadCsv{"Utf16EightBytes", "l\0a\0b\0e\0"sv, "set.csv", "UTF-16 text"},
        BadCsv{"NulsOfSixBytesAreBinary", "l\0a\0b\0"sv, "set.csv, line 1", "a NUL byte"},
        BadCsv{"NulsBothWaysAreBinary", "l\0a\0\0b\0e"sv, "set.csv, line 1", "a NUL byte"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(Csv, ReadsLabelAnywhereAndEveryOtherColumnAsNamedFeature) {
  const Dataset data = ParseCsv(
      "\xEF\xBB\xBF"
      "Cz_01, label ,\"P,z\",,Cz_01\r\n"
      "1.5,+1, -2e-3 ,0,7\r\n"
      "\n"
      "-0.25,0,4,1E2,1e-400",
      "set.csv");
  ASSERT_EQ(data.rows, 2);
  ASSERT_EQ(data.cols, 4);
  EXPECT_TRUE(data.hasLabels);
  EXPECT_EQ(data.names,
            (std::vector<std::string>{"Cz_01", "P,z", "", "Cz_01"}));
  EXPECT_EQ(data.labels, (std::vector<double>{1.0, 0.0}))
      << "labels other than +1 and -1 are kept";
  EXPECT_EQ(data.X, Values(2, 4, {1.5, -0.002, 0, 7, -0.25, 4, 100, 0}))
      << "a value too small to represent reads as zero";

  CsvOptions unlabelled;
  unlabelled.requireLabels = false;
  const Dataset plain = ParseCsv("a,b\n1,2\n3,4\n", "set.csv", unlabelled);
  EXPECT_FALSE(plain.hasLabels);
  EXPECT_TRUE(plain.labels.empty());
  EXPECT_EQ(plain.X, Values(2, 2, {1, 2, 3, 4}));

  // The columns korva epochs writes beside the features are never features,
  // whichever column the groups are in.
  CsvOptions bySubject;
  bySubject.groupColumn = "subject";
  const Dataset joined =
      ParseCsv("Fz_01,Run,label,recording,subject\n1,1,-1,a.vhdr,s1\n",
               "joined.csv",
               bySubject);
  EXPECT_EQ(joined.names, std::vector<std::string>{"Fz_01"});
  EXPECT_EQ(joined.groupNames, std::vector<std::string>{"s1"});
}

TEST(Csv, WriteThenParseGivesBackEveryBit) {
  Dataset data;
  data.rows = 2;
  data.cols = 3;
  data.hasLabels = true;
  data.labels = {1.0, -1.0};
  data.names = {"a,b", " padded ", "say \"hi\""};
  data.X = Values(2,
                  3,
                  {0.1 + 0.2,
                   1e-300,
                   std::numeric_limits<double>::denorm_min(),
                   -123456.78901234567,
                   5e22,
                   -0.0});
  std::ostringstream out;
  WriteCsv(out, data);
  const Dataset back = ParseCsv(out.str(), "round.csv");
  EXPECT_EQ(back.names, data.names);
  EXPECT_EQ(back.labels, data.labels);
  EXPECT_EQ(back.X, data.X);
  EXPECT_TRUE(std::signbit(back.X[5]));
}

}  // namespace
}  // namespace Korva::Data
