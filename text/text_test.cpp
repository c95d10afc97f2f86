#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text/delimiter.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::Text {
namespace {

using S = NumberStatus;

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

struct DoubleCase {
  const char* text;
  NumberStatus status;
};

// Accepted texts must read as strtod reads them, bit for bit (the sign of a
// zero included); the others must leave the value alone.
TEST(ParseDouble, FollowsTheRulesAndReadsAsStrtod) {
  // clang-format off
  const DoubleCase cases[] = {
    {"0.1", S::kOk}, {"+1", S::kOk}, {"-0", S::kOk}, {"+0.5e+1", S::kOk},
    {"1.", S::kOk}, {".5", S::kOk}, {"-.5", S::kOk}, {"007", S::kOk},
    {"1E2", S::kOk}, {"-2e-3", S::kOk}, {"0.30000000000000004", S::kOk},
    {"3.14159265358979323846264338327950288", S::kOk},
    {"1.7976931348623157e308", S::kOk},   // the largest double
    {"2.2250738585072011e-308", S::kOk},  // the largest subnormal
    {"4e-324", S::kOk},                   // rounds to the smallest subnormal
    {"1e-400", S::kOk}, {"-1e-400", S::kOk},  // rounds to +0 and -0
    {"1e400", S::kOutOfRange}, {"-1e400", S::kOutOfRange},
    {"1.7976931348623159e308", S::kOutOfRange},  // rounds up to infinity
    {"0x10", S::kMalformed}, {"0x1p3", S::kMalformed},
    {"nan", S::kNotFinite}, {"inf", S::kNotFinite}, {"-inf", S::kNotFinite},
    {"+Infinity", S::kNotFinite},
    {" 1", S::kMalformed}, {"1 ", S::kMalformed}, {"\t1", S::kMalformed},
    {"1e", S::kMalformed}, {"1e+", S::kMalformed}, {"e5", S::kMalformed},
    {".", S::kMalformed}, {"+", S::kMalformed}, {"-", S::kMalformed},
    {"+-1", S::kMalformed}, {"++1", S::kMalformed}, {"--1", S::kMalformed},
    {"1,5", S::kMalformed}, {"2.5kg", S::kMalformed}, {"1_000", S::kMalformed},
    {"", S::kEmpty},
  };
  // clang-format on
  for (const DoubleCase& c : cases) {
    double value = 7.0;
    EXPECT_EQ(ParseDouble(c.text, value), c.status) << '"' << c.text << '"';
    const double expected =
        c.status == S::kOk ? std::strtod(c.text, nullptr) : 7.0;
    EXPECT_EQ(Bits(value), Bits(expected))
        << '"' << c.text << "\" read as " << value << ", not " << expected;
    EXPECT_EQ(FiniteNumber(c.text).has_value(), c.status == S::kOk) << c.text;
  }
  EXPECT_EQ(Bits(*FiniteNumber("4e-324")),
            Bits(std::numeric_limits<double>::denorm_min()));
  EXPECT_EQ(Bits(*FiniteNumber("-1e-400")), Bits(-0.0));
}

TEST(ParseDouble, ReadsNonFiniteWordsOnlyWhereTheCallerTakesThem) {
  for (const char* text : {"nan", "-nan", "inf", "-inf", "+inf", "Infinity"}) {
    double value = 0.0;
    EXPECT_EQ(ParseDouble(text, value, NonFinite::kAccepted), S::kOk) << text;
    EXPECT_EQ(Bits(value), Bits(std::strtod(text, nullptr))) << text;
  }
  double value = 0.0;
  EXPECT_EQ(ParseDouble("1e400", value, NonFinite::kAccepted), S::kOutOfRange);
  EXPECT_EQ(ParseDouble("nan ", value, NonFinite::kAccepted), S::kMalformed);
}

template <typename Integer>
struct WholeCase {
  const char* text;
  NumberStatus status;
  Integer value;  // when kOk
};

TEST(ParseWhole, ReadsDecimalDigitsWithASignWithinTheType) {
  // clang-format off
  const WholeCase<std::int64_t> signedCases[] = {
    {"+7", S::kOk, 7}, {"-7", S::kOk, -7}, {"007", S::kOk, 7},
    {"9223372036854775807", S::kOk, INT64_MAX},
    {"-9223372036854775808", S::kOk, INT64_MIN},
    {"9223372036854775808", S::kOutOfRange, 0},
    {"0x10", S::kMalformed, 0}, {"1e3", S::kMalformed, 0},
    {"1.0", S::kMalformed, 0}, {" 1", S::kMalformed, 0},
    {"1 ", S::kMalformed, 0}, {"+-1", S::kMalformed, 0}, {"", S::kEmpty, 0},
  };
  const WholeCase<std::uint64_t> unsignedCases[] = {
    {"18446744073709551615", S::kOk, UINT64_MAX}, {"+3", S::kOk, 3},
    {"-0", S::kOk, 0}, {"18446744073709551616", S::kOutOfRange, 0},
    {"-1", S::kOutOfRange, 0}, {"-99999999999999999999", S::kOutOfRange, 0},
    {"-x", S::kMalformed, 0}, {"0x10", S::kMalformed, 0},
  };
  // clang-format on
  for (const auto& c : signedCases) {
    std::int64_t value = 0;
    EXPECT_EQ(ParseWhole(c.text, value), c.status) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  for (const auto& c : unsignedCases) {
    std::uint64_t value = 0;
    EXPECT_EQ(ParseWhole(c.text, value), c.status) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

// The fewest significant digits %.*g needs for a text that strtod reads back
// as `value`: what the shortest form must have.
int FewestDigits(double value) {
  char text[40];
  for (int digits = 1;; ++digits) {
    std::snprintf(text, sizeof(text), "%.*g", digits, value);
    if (Bits(std::strtod(text, nullptr)) == Bits(value)) return digits;
  }
}

// Significant digits of a number's text: those of its mantissa, without the
// zeros that lead or trail.
int SignificantDigits(const std::string& text) {
  std::string digits;
  for (char c : text.substr(0, text.find('e')))
    if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

TEST(FormatDouble, WritesTheShortestTextThatReadsBack) {
  const double edges[] = {std::numeric_limits<double>::denorm_min(),
                          -std::numeric_limits<double>::denorm_min(),
                          2.2250738585072009e-308,  // the largest subnormal
                          DBL_MIN,
                          DBL_MAX,
                          -DBL_MAX,
                          DBL_EPSILON,
                          0.0,
                          -0.0,
                          0.1,
                          1.0 / 3.0,
                          1e23,
                          9007199254740993.0,
                          123456.789e-300};
  for (const double v : edges) {
    const std::string text = FormatDouble(v);
    double back = 0.0;
    ASSERT_EQ(ParseDouble(text, back), S::kOk) << text;
    EXPECT_EQ(Bits(back), Bits(v)) << text;
    EXPECT_EQ(SignificantDigits(text), FewestDigits(v)) << text;
    std::string appended = "x";
    AppendDouble(appended, v);
    EXPECT_EQ(appended, "x" + text);
  }
  // clang-format off
  const std::pair<double, const char*> texts[] = {
    {0.1, "0.1"}, {1.0 / 3.0, "0.3333333333333333"}, {-0.0, "-0"},
    {1e-5, "1e-05"}, {1e21, "1e+21"}, {-2.5, "-2.5"},
    {std::numeric_limits<double>::quiet_NaN(), "nan"},
    {-std::numeric_limits<double>::quiet_NaN(), "nan"},
    {std::numeric_limits<double>::infinity(), "inf"},
    {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  // clang-format on
  for (const auto& [value, text] : texts) EXPECT_EQ(FormatDouble(value), text);
}

TEST(DetectDelimiter, TakesCommaThenSemicolonThenTab) {
  // clang-format off
  const std::pair<const char*, char> headers[] = {
    {"label,Fz,Cz", ','}, {"label;Fz;Cz", ';'}, {"label\tFz\tCz", '\t'},
    {"label;Fz,1;Cz", ','}, {"\"P,z\";Cz", ','}, {"label\tFz;Cz", ';'},
    {"label", 0}, {"label|Fz", 0}, {"", 0},
  };
  // clang-format on
  for (const auto& [header, delimiter] : headers)
    EXPECT_EQ(DetectDelimiter(header), delimiter) << header;
}

struct Utf8Case {
  const char* bytes;
  int length;
  bool valid;
  char32_t code;  // when valid
};

TEST(DecodeUtf8, DecodesWellFormedCharactersAndMeasuresIllFormedPieces) {
  // clang-format off
  const Utf8Case cases[] = {
    {"A", 1, true, U'A'}, {"\xC3\xA9", 2, true, U'\u00E9'},
    {"\xE2\x82\xAC", 3, true, U'\u20AC'}, {"\xEF\xBF\xBF", 3, true, 0xFFFF},
    {"\xF0\x9F\x98\x80", 4, true, 0x1F600},
    {"\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
    {"\x80", 1, false, 0},              // a continuation byte alone
    {"\xC0\xAF", 1, false, 0},          // overlong '/'
    {"\xE0\x80\xAF", 1, false, 0},      // overlong, three bytes
    {"\xED\xA0\x80", 1, false, 0},      // a surrogate
    {"\xF4\x90\x80\x80", 1, false, 0},  // above U+10FFFF
    {"\xF5\x80\x80\x80", 1, false, 0}, {"\xFF", 1, false, 0},
    {"\xE2\x82", 2, false, 0}, {"\xE2\x82" "A", 2, false, 0},
    {"\xF0\x9F\x98", 3, false, 0},
  };
  // clang-format on
  for (const Utf8Case& c : cases) {
    const Utf8Char decoded = DecodeUtf8(c.bytes);
    EXPECT_EQ(decoded.length, c.length) << c.bytes;
    EXPECT_EQ(decoded.valid, c.valid) << c.bytes;
    if (c.valid) {
      EXPECT_EQ(decoded.code, c.code) << c.bytes;
    }
  }
}

}  // namespace
}  // namespace Korva::Text
