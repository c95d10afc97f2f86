#include <gtest/gtest.h>

#include <locale>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/files.h"

namespace {

using namespace Korva::Testing;
using Dozod = DozodProbe;

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

// Each section appends its part after the host's attributes and children.
TEST(DozodSections, WriteAppendsItsPartAfterTheHosts) {
  Dozod c;
  ASSERT_EQ(c.SetPRange(0.25, 0.5), 0);
  c.SetMaxIter(50);
  c.SetResult({true, false, true}, {0.25, 0.0, -1234.56789}, 0.5);
  // clang-format off
  const std::pair<int (DOZOD::*)(pugi::xml_node&), const char*> sections[] = {
      {&DOZOD::WriteClassifier, "<S Description=\"StepWise Linear Discriminant Analysis\" VersionMaj=\"0\" VersionMin=\"1\"/>"},
      {&DOZOD::WriteCfg, "<S Threshold=\"0\" ThresholdMode=\"0\" p_Enter=\"0.25\" p_Remove=\"0.5\" MaxIter=\"50\"/>"},
      {&DOZOD::WriteInfo, "<S Count=\"3\"><FeatureNames/><IN>1\t0\t1\t</IN><Weights>0.25\t0\t-1234.57\t</Weights></S>"}};
  // clang-format on
  for (const auto& [write, expected] : sections) {
    pugi::xml_document doc;
    pugi::xml_node node = doc.append_child("S");
    ASSERT_EQ((c.*write)(node), 0);
    std::ostringstream text;
    node.print(text, "", pugi::format_raw);
    EXPECT_EQ(text.str(), expected);
  }
}

// The host's threshold and mode come back as they were (the module's own
// attributes are pinned by the tests beside this one), the weights with six
// significant digits and W0 not at all, so a restored classifier scores W0
// lower than the trained one.
TEST(DozodSections, WholeDocumentRoundTripsThroughAFile) {
  Dozod c;
  c.SetResult({true, false, true}, {0.123456789, 0.0, 1234567.89}, 0.5);
  c.SetThreshold(0.75);
  c.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  const TempDir dir;
  pugi::xml_document doc;
  ASSERT_EQ(c.Write(doc), 0);
  ASSERT_TRUE(doc.save_file((dir / "m.xml").c_str()));
  Dozod r;
  ASSERT_EQ(r.LoadFromFile((dir / "m.xml").c_str()), 0);

  EXPECT_EQ(r.GetThreshold(), 0.75);
  EXPECT_EQ(r.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_EQ(r.Flags(), c.Flags());
  EXPECT_EQ(r.WeightList(), (std::vector<double>{0.123457, 0.0, 1234570.0}));
  NEWMAT::RowVector x(3);
  x << 1 << 2 << 0;
  EXPECT_NEAR(r.GetScore(x), c.GetScore(x) - 0.5, 1e-6);
}

// A classifier that already holds a result, so that a section that leaves
// no selection must visibly clear it; W0 is never read. A count at or below 0
// (also a missing one) or above the limit (pugixml clamps one beyond the int
// range) leaves no flags and no weights. Of each text, the first Count blank-separated values are read; a
// flag is true when not 0; missing values, and every value from the first
// bad one on, read as false or 0.
TEST(DozodSections, ReadInfoRestoresWhatTheTextHolds) {
  // clang-format off
  const std::tuple<const char*, std::vector<bool>, std::vector<double>> cases[] = {
      {"<Info Count='-3'><IN>1\t1\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", {}, {}},
      {"<Info><IN>1\t</IN><Weights>1\t</Weights></Info>", {}, {}},
      {"<Info Count='18446744073709551615'><IN>1\t</IN><Weights>1\t</Weights></Info>", {}, {}},
      {"<Info Count='1048577'><IN>1\t</IN><Weights>1\t</Weights></Info>", {}, {}},
      {"<Info Count='3'><IN>1\t0</IN><Weights>1\t2\t3\t4\t</Weights></Info>", {true, false, false}, {1, 2, 3}},
      {"<Info Count='2'><IN>0\t1\t1\t</IN><Weights>3\t</Weights></Info>", {false, true}, {3, 0}},
      {"<Info Count='3'><IN>2 -1 0</IN><Weights>1 2 3</Weights></Info>", {true, true, false}, {1, 2, 3}},
      {"<Info Count='3'><IN>1\tx\t1\t</IN><Weights>0.5\t1e999\t2\t</Weights></Info>", {true, false, false}, {0.5, 0, 0}},
      {"<Info Count='2'><IN><![CDATA[0\t1\t]]></IN><Weights><![CDATA[3\t4\t]]></Weights></Info>", {false, true}, {3, 4}}};
  // clang-format on
  for (const auto& [xml, flags, weights] : cases) {
    Dozod c;
    c.SetResult({true, true, true, true}, {9, 9, 9, 9}, 0.7);
    pugi::xml_document doc;
    ASSERT_EQ(c.ReadInfo(Parse(doc, xml)), 0);
    EXPECT_EQ(c.Flags(), flags) << xml;
    EXPECT_EQ(c.WeightList(), weights) << xml;
    EXPECT_EQ(c.Bias(), 0.7);
  }
}

// Missing or unreadable attributes read as 0; present ones are stored without
// a range check.
TEST(DozodSections, ReadCfgTakesWhatIsThere) {
  Dozod c;
  pugi::xml_document doc;
  // clang-format off
  const std::tuple<const char*, double, double, int> cases[] = {
      {"<C p_Enter='abc'/>", 0.0, 0.0, 0}, {"<C p_Enter='0.5' p_Remove='0.2' MaxIter='-4'/>", 0.5, 0.2, -4}};
  // clang-format on
  for (const auto& [xml, pEnter, pRemove, maxIter] : cases) {
    ASSERT_EQ(c.ReadCfg(Parse(doc, xml)), 0);
    EXPECT_EQ(c.GetPEnter(), pEnter);
    EXPECT_EQ(c.GetPRemove(), pRemove);
    EXPECT_EQ(c.GetMaxIter(), maxIter);
  }
}

// The host refuses a null node with kStatusMissingSection; every section read
// passes that status back and leaves the object as it was.
TEST(DozodSections, FailingBaseSectionIsPassedBackUntouched) {
  Dozod c;
  c.SetResult({true, false}, {0.5, -0.5}, 0.25);
  ASSERT_EQ(c.SetPRange(0.02, 0.03), 0);
  pugi::xml_node none;
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
