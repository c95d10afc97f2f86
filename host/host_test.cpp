// The host library: the incomplete beta function against printed tables, text
// cleaning, and ClassifierBase's own behaviour (training entry, sorting,
// documents).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "korva/betai.h"
#include "korva/text.h"
#include "testing/stub_classifier.h"

namespace Korva::Testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Critical values of Student's t distribution, two-sided, as printed in the
// usual statistics tables (three decimals, so p agrees to about 1e-4), through
// the two-sided tail probability the regression step asks for:
// p = I_x(df / 2, 1 / 2) with x = df / (df + t^2).
TEST(Betai, MatchesTheTablesOfStudentsT) {
  // clang-format off
  const double table[][3] = {
      {12.706, 1, 0.05}, {63.657, 1, 0.01}, {4.303, 2, 0.05}, {2.571, 5, 0.05},
      {1.812, 10, 0.10}, {3.169, 10, 0.01}, {2.086, 20, 0.05}, {1.984, 100, 0.05}};
  // clang-format on
  for (const auto& [t, df, p] : table)
    EXPECT_NEAR(betai(0.5 * df, 0.5, df / (df + t * t)), p, 2e-4 * (1 + p * 10))
        << t << " " << df;
  EXPECT_EQ(betai(2.5, 0.5, 0.0), 0.0);
  EXPECT_EQ(betai(2.5, 0.5, 1.0), 1.0);
}

TEST(Betai, ReturnsNaNOutsideTheDomain) {
  // clang-format off
  const double bad[][3] = {{kNaN, 0.5, 0.5}, {1.0, kNaN, 0.5}, {1.0, 0.5, kNaN}, {0.0, 0.5, 0.5},
                           {1.0, 0.0, 0.5}, {1.0, 0.5, -0.1}, {1.0, 0.5, 1.1}};
  // clang-format on
  for (const auto& [a, b, x] : bad)
    EXPECT_TRUE(std::isnan(betai(a, b, x))) << a << ", " << b << ", " << x;
}

std::string Names(const ScoreList& list) {
  std::string names;
  for (const auto& [name, score] : list) names += name;
  return names;
}

// Invalid UTF-8 (a stray byte, an overlong form, a surrogate, a cut-off
// sequence) and control characters but tab and line feed become U+FFFD.
TEST(CleanText, KeepsValidTextAndReplacesTheRest) {
  const char* r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"Cz_01 \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\t\n",
       "Cz_01 \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\t\n"},
      {"a\x1b[0mb\r\x7f\xC2\x85", std::string("a") + r + "[0mb" + r + r + r},
      {"\xff\xC0\x80\xED\xA0\x80\xE2\x82",
       std::string(r) + r + r + r + r + r + r + r}};
  for (const auto& [text, clean] : cases)
    EXPECT_EQ(CleanText(text), clean) << text;
}

TEST(ClassifierBase, SortsAreStableAndPutNaNLast) {
  StubClassifier c;
  ScoreList up = {{"a", 0.5}, {"b", kNaN}, {"c", 0.1}, {"d", 0.5}, {"e", 0.9}};
  ScoreList down = up;
  c.SortScoresAscending(up);
  c.SortScoresDescending(down);
  EXPECT_EQ(Names(up), "cadeb");
  EXPECT_EQ(Names(down), "eadcb");
}

TEST(ClassifierBase, TrainConvertsFloatsAndIntegerLabels) {
  StubClassifier c;
  EasyMat<float> data(2, 3);
  for (int i = 0; i < 6; ++i) data(i / 3, i % 3) = 0.5f * i;
  std::vector<int> labels = {1, -1};
  std::list<std::string> messages;
  EXPECT_EQ(c.Train(data, labels, nullptr, messages), 7);
  EXPECT_EQ(c.seenX.element(1, 2), 2.5);
  EXPECT_EQ(c.seenY.element(1), -1.0);
  labels.pop_back();
  EXPECT_EQ(c.Train(data, labels, nullptr, messages), kStatusRejected);
}

// A document keeps the feature names, cleaned (the threshold round trip is
// checked with the module in dozod_sections_test.cpp); a section's status stops
// the write or read there; other documents and null nodes are refused.
TEST(ClassifierBase, DocumentsRoundTripAndRefuseWhatTheyCannotUse) {
  StubClassifier written;
  written.FeatureNames = {"Cz_01", "", "Pz & <1>", "\x1b[31m\xff"};
  pugi::xml_document document;
  ASSERT_EQ(written.Write(document), kStatusOk);
  StubClassifier read;
  ASSERT_EQ(read.Read(document), kStatusOk);
  written.FeatureNames.back() = "\xEF\xBF\xBD[31m\xEF\xBF\xBD";
  EXPECT_EQ(read.FeatureNames, written.FeatureNames);
  read.failInfo = -4;
  EXPECT_EQ(read.Read(document), -4);
  pugi::xml_document failed;
  EXPECT_EQ(read.Write(failed), -4);
  EXPECT_EQ(read.protocolWrites, 0) << "no section after the failing one";

  pugi::xml_document other, partial;
  other.load_string("<KorvaClassifier Name='Other'/>");
  partial.load_string(
      "<KorvaClassifier Name='Stub'><Classifier/></KorvaClassifier>");
  EXPECT_EQ(written.Read(other), kStatusWrongDocument);
  EXPECT_EQ(written.Read(partial), kStatusMissingSection);
  pugi::xml_node none;
  EXPECT_EQ(written.WriteCfg(none), kStatusMissingSection);
  EXPECT_EQ(written.LoadFromFile("/nonexistent/m.xml"), kStatusFileError);
  EXPECT_EQ(written.LoadFromFile(nullptr), kStatusMissing);
}

}  // namespace
}  // namespace Korva::Testing
