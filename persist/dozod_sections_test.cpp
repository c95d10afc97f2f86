#include <gtest/gtest.h>

#include <functional>
#include <locale>
#include <ostream>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/files.h"

namespace {

using namespace Korva::Testing;
using Dozod = DozodProbe;

std::string Print(const pugi::xml_node& node) {
  std::ostringstream os;
  node.print(os, "", pugi::format_raw);
  return os.str();
}

// Parses `xml` into `doc` and returns its first element.
pugi::xml_node Parse(pugi::xml_document& doc, const char* xml) {
  EXPECT_TRUE(doc.load_string(xml)) << xml;
  return doc.first_child();
}

// Decimal comma and digit grouping: a text written or read in the global
// locale would hold "1.234,5" instead of "1234.5". Every test runs under it.
struct CommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class CommaLocale : public ::testing::Environment {
  void SetUp() override {
    old_ = std::locale::global(
        std::locale(std::locale::classic(), new CommaPunct));
  }
  void TearDown() override { std::locale::global(old_); }
  std::locale old_;
};

const auto* const kCommaLocale =
    ::testing::AddGlobalTestEnvironment(new CommaLocale);

struct WriteCase {
  const char* name;
  std::function<void(Dozod&)> configure;
  int (DOZOD::*write)(pugi::xml_node&);
  const char* expected;  // the host's attributes and children come first
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteSection : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteSection, AppendsItsPartAfterTheHosts) {
  Dozod c;
  GetParam().configure(c);
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("S");
  ASSERT_EQ((c.*GetParam().write)(node), 0);
  EXPECT_EQ(Print(node), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(DozodSections, WriteSection, ::testing::Values(
    WriteCase{"Classifier", [](Dozod&) {}, &DOZOD::WriteClassifier,
              "<S Description=\"StepWise Linear Discriminant Analysis\" VersionMaj=\"0\" VersionMin=\"1\"/>"},
    WriteCase{"Cfg", [](Dozod& c) { c.SetPRange(0.25, 0.5); c.SetMaxIter(50); }, &DOZOD::WriteCfg,
              "<S Threshold=\"0\" ThresholdMode=\"0\" p_Enter=\"0.25\" p_Remove=\"0.5\" MaxIter=\"50\"/>"},
    WriteCase{"Info", [](Dozod& c) { c.SetResult({true, false, true}, {0.25, 0.0, -1234.56789}, 0.5); },
              &DOZOD::WriteInfo,
              "<S Count=\"3\"><FeatureNames/><IN>1\t0\t1\t</IN><Weights>0.25\t0\t-1234.57\t</Weights></S>"},
    WriteCase{"UntrainedInfo", [](Dozod&) {}, &DOZOD::WriteInfo,
              "<S Count=\"0\"><FeatureNames/><IN></IN><Weights></Weights></S>"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });
// clang-format on

// Weights come back with six significant digits and W0 not at all, so a
// restored classifier scores W0 lower than the trained one.
TEST(DozodSections, WholeDocumentRoundTripsThroughAFile) {
  Dozod c;
  c.SetResult({true, false, true, true, false},
              {0.123456789, 0.0, -2.5, 1234567.89, 0.0},
              0.5);
  ASSERT_EQ(c.SetPRange(0.02, 0.07), 0);
  c.SetMaxIter(40);
  c.SetThreshold(0.75);
  c.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  c.FeatureNames = {"Cz", "", "Pz"};

  const TempDir dir;
  pugi::xml_document doc;
  ASSERT_EQ(c.Write(doc), 0);
  ASSERT_TRUE(doc.save_file((dir / "m.xml").c_str()));
  Dozod r;
  ASSERT_EQ(r.LoadFromFile((dir / "m.xml").c_str()), 0);

  EXPECT_EQ(r.GetPEnter(), 0.02);
  EXPECT_EQ(r.GetPRemove(), 0.07);
  EXPECT_EQ(r.GetMaxIter(), 40);
  EXPECT_EQ(r.GetThreshold(), 0.75);
  EXPECT_EQ(r.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_EQ(r.FeatureNames, c.FeatureNames);
  EXPECT_EQ(r.Flags(), c.Flags());
  EXPECT_EQ(r.WeightList(),
            (std::vector<double>{0.123457, 0.0, -2.5, 1234570.0, 0.0}));
  EXPECT_TRUE(r.CanClassify());
  EXPECT_EQ(r.Bias(), 0.0);
  NEWMAT::RowVector x(5);
  x << 1 << 2 << 3 << 0 << 5;
  EXPECT_NEAR(r.GetScore(x), c.GetScore(x) - 0.5, 1e-6);
}

struct InfoCase {
  const char* name;
  const char* xml;
  std::vector<bool> flags;
  std::vector<double> weights;
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

// A classifier that already holds a result, so that a refused section must
// visibly clear it; W0 is never read.
class ReadInfoOnAnyInput : public ::testing::TestWithParam<InfoCase> {};

TEST_P(ReadInfoOnAnyInput, RestoresWhatTheTextHolds) {
  Dozod c;
  c.SetResult({true, true, true, true}, {9, 9, 9, 9}, 0.7);
  pugi::xml_document doc;
  ASSERT_EQ(c.ReadInfo(Parse(doc, GetParam().xml)), 0);
  EXPECT_EQ(c.Flags(), GetParam().flags);
  EXPECT_EQ(c.WeightList(), GetParam().weights);
  EXPECT_EQ(c.Bias(), 0.7);
}

const std::vector<bool> kNone;
const std::vector<double> kEmpty;

// clang-format off
INSTANTIATE_TEST_SUITE_P(DozodSections, ReadInfoOnAnyInput, ::testing::Values(
    InfoCase{"NegativeCount", "<Info Count='-3'><IN>1\t1\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"ZeroCount", "<Info Count='0'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"MissingCount", "<Info><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"IntMaxCount", "<Info Count='2147483647'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountOf20Digits", "<Info Count='18446744073709551615'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountAboveTheLimit", "<Info Count='1048577'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountBeyondInText", "<Info Count='4'><IN>1\t0\t1</IN><Weights>1\t2\t3\t4\t</Weights></Info>", {true, false, true, false}, {1, 2, 3, 4}},
    InfoCase{"BlankSeparatedFlags", "<Info Count='3'><IN>1 0 1</IN><Weights>1 2 3</Weights></Info>", {true, false, true}, {1, 2, 3}},
    InfoCase{"MissingIn", "<Info Count='2'><Weights>1\t2\t</Weights></Info>", {false, false}, {1, 2}},
    InfoCase{"ExtraValuesIgnored", "<Info Count='2'><IN>0\t1\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", {false, true}, {1, 2}},
    InfoCase{"MissingWeights", "<Info Count='2'><IN>1\t1\t</IN></Info>", {true, true}, {0, 0}},
    InfoCase{"ShortWeights", "<Info Count='3'><IN>1\t1\t1\t</IN><Weights>0.5\t</Weights></Info>", {true, true, true}, {0.5, 0, 0}},
    InfoCase{"NonNumericFlag", "<Info Count='3'><IN>1\tx\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", {true, false, false}, {1, 2, 3}},
    InfoCase{"OverflowingFlag", "<Info Count='2'><IN>99999999999\t1\t</IN><Weights>1\t2\t</Weights></Info>", {false, false}, {1, 2}},
    InfoCase{"TwoAndMinusOneAreTrue", "<Info Count='3'><IN>2\t-1\t0\t</IN><Weights>1\t2\t3\t</Weights></Info>", {true, true, false}, {1, 2, 3}},
    InfoCase{"NonNumericWeight", "<Info Count='3'><IN>1\t1\t1\t</IN><Weights>0.5\tabc\t2\t</Weights></Info>", {true, true, true}, {0.5, 0, 0}},
    InfoCase{"OverflowingWeight", "<Info Count='2'><IN>1\t1\t</IN><Weights>1e999\t2\t</Weights></Info>", {true, true}, {0, 0}},
    InfoCase{"CdataText", "<Info Count='2'><IN><![CDATA[0\t1\t]]></IN><Weights><![CDATA[3\t4\t]]></Weights></Info>", {false, true}, {3, 4}}),
    [](const ::testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.name); });
// clang-format on

// Missing or unreadable attributes read as 0; present ones are stored without
// a range check; the version is read but not checked.
TEST(DozodSections, ReadCfgAndClassifierTakeWhatIsThere) {
  Dozod c;
  pugi::xml_document doc;
  for (const auto& [xml, pEnter, pRemove, maxIter] :
       {std::tuple{"<C p_Enter='abc'/>", 0.0, 0.0, 0},
        std::tuple{
            "<C p_Enter='0.5' p_Remove='0.2' MaxIter='-4'/>", 0.5, 0.2, -4}}) {
    ASSERT_EQ(c.ReadCfg(Parse(doc, xml)), 0);
    EXPECT_EQ(c.GetPEnter(), pEnter);
    EXPECT_EQ(c.GetPRemove(), pRemove);
    EXPECT_EQ(c.GetMaxIter(), maxIter);
  }
  EXPECT_EQ(c.ReadClassifier(Parse(doc, "<C VersionMaj='7' VersionMin='x'/>")),
            0);
}

// The host refuses a null node with kStatusMissingSection; every section
// passes that status back and leaves the object as it was.
TEST(DozodSections, FailingBaseSectionIsPassedBackUntouched) {
  Dozod c;
  c.SetResult({true, false}, {0.5, -0.5}, 0.25);
  ASSERT_EQ(c.SetPRange(0.02, 0.03), 0);
  pugi::xml_node none;
  for (auto write : {&DOZOD::WriteClassifier,
                     &DOZOD::WriteCfg,
                     &DOZOD::WriteInfo,
                     &DOZOD::WriteProtocol})
    EXPECT_EQ((c.*write)(none), Korva::kStatusMissingSection);
  for (auto read : {&DOZOD::ReadClassifier,
                    &DOZOD::ReadCfg,
                    &DOZOD::ReadInfo,
                    &DOZOD::ReadProtocol})
    EXPECT_EQ((c.*read)(none), Korva::kStatusMissingSection);
  EXPECT_EQ(c.GetPEnter(), 0.02);
  EXPECT_EQ(c.Flags(), (std::vector<bool>{true, false}));
  EXPECT_EQ(c.WeightList(), (std::vector<double>{0.5, -0.5}));
}

}  // namespace
