#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "host/classifier_base.h"
#include "plugin/dozod.h"

namespace {

// A DOZOD whose training result the tests set directly.
class Dozod : public DOZOD {
 public:
  void SetResult(std::initializer_list<bool> flags,
                 std::initializer_list<double> weights,
                 double w0) {
    SelectedFeatures.Reset(flags.size());
    std::uint64_t i = 0;
    for (bool f : flags) SelectedFeatures[i++] = f;
    Weights.ReSize(static_cast<int>(weights.size()));
    int j = 0;
    for (double w : weights) Weights.element(j++) = w;
    W0 = w0;
  }
  std::vector<bool> Flags() {
    std::vector<bool> flags;
    for (std::uint64_t i = 0; i < SelectedFeatures.Count(); ++i)
      flags.push_back(SelectedFeatures[i]);
    return flags;
  }
  std::vector<double> WeightList() const {
    std::vector<double> w;
    for (int i = 0; i < Weights.Nrows(); ++i) w.push_back(Weights.element(i));
    return w;
  }
  double GetW0() const { return W0; }
};

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

NEWMAT::RowVector Row(std::initializer_list<double> values) {
  NEWMAT::RowVector row(static_cast<int>(values.size()));
  int i = 0;
  for (double v : values) row.element(i++) = v;
  return row;
}

// Decimal comma and digit grouping, so that a stream that is not imbued with
// the classic locale writes "1.234,5" instead of "1234.5".
struct CommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class GlobalLocale {
 public:
  explicit GlobalLocale(const std::locale& l) : old_(std::locale::global(l)) {}
  ~GlobalLocale() { std::locale::global(old_); }

 private:
  std::locale old_;
};

TEST(DozodSections, WriteClassifierAppendsVersionAfterHostAttributes) {
  Dozod c;
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("Classifier");
  ASSERT_EQ(c.WriteClassifier(node), 0);
  EXPECT_EQ(Print(node),
            "<Classifier Description=\"StepWise Linear Discriminant Analysis\" "
            "VersionMaj=\"0\" VersionMin=\"1\"/>");
}

TEST(DozodSections, WriteCfgAppendsParametersAfterHostAttributes) {
  Dozod c;
  ASSERT_EQ(c.SetPRange(0.25, 0.5), 0);
  c.SetMaxIter(50);
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("Configuration");
  ASSERT_EQ(c.WriteCfg(node), 0);
  EXPECT_EQ(Print(node),
            "<Configuration Threshold=\"0\" ThresholdMode=\"0\" "
            "p_Enter=\"0.25\" p_Remove=\"0.5\" MaxIter=\"50\"/>");
}

TEST(DozodSections, WriteInfoFormatsFlagsAndSixDigitWeights) {
  Dozod c;
  c.SetResult({true, false, true}, {0.25, 0.0, -1.23456789}, 0.5);
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("Info");
  ASSERT_EQ(c.WriteInfo(node), 0);
  EXPECT_EQ(Print(node),
            "<Info Count=\"3\"><FeatureNames/>"
            "<IN>1\t0\t1\t</IN><Weights>0.25\t0\t-1.23457\t</Weights></Info>");
}

TEST(DozodSections, WriteInfoOfUntrainedClassifierHasEmptyChildren) {
  Dozod c;
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("Info");
  ASSERT_EQ(c.WriteInfo(node), 0);
  EXPECT_EQ(Print(node),
            "<Info Count=\"0\"><FeatureNames/><IN></IN><Weights></Weights>"
            "</Info>");
}

TEST(DozodSections, TextsIgnoreTheGlobalLocale) {
  GlobalLocale comma(std::locale(std::locale::classic(), new CommaPunct));
  Dozod c;
  c.SetResult({true, true}, {1234.5, -0.5}, 0.0);
  pugi::xml_document doc;
  pugi::xml_node node = doc.append_child("Info");
  ASSERT_EQ(c.WriteInfo(node), 0);
  EXPECT_STREQ(node.child("Weights").text().get(), "1234.5\t-0.5\t");

  Dozod restored;
  ASSERT_EQ(restored.ReadInfo(node), 0);
  EXPECT_EQ(restored.WeightList(), (std::vector<double>{1234.5, -0.5}));
}

TEST(DozodSections, InfoAndCfgRoundTrip) {
  Dozod c;
  c.SetResult({true, false, true}, {0.25, 0.0, -1.23456789}, 0.5);
  ASSERT_EQ(c.SetPRange(0.01, 0.02), 0);
  c.SetMaxIter(17);
  pugi::xml_document doc;
  pugi::xml_node info = doc.append_child("Info");
  pugi::xml_node cfg = doc.append_child("Configuration");
  ASSERT_EQ(c.WriteInfo(info), 0);
  ASSERT_EQ(c.WriteCfg(cfg), 0);

  Dozod r;
  ASSERT_EQ(r.ReadInfo(info), 0);
  ASSERT_EQ(r.ReadCfg(cfg), 0);
  EXPECT_EQ(r.Flags(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(r.WeightList(), (std::vector<double>{0.25, 0.0, -1.23457}));
  EXPECT_TRUE(r.CanClassify());
  EXPECT_EQ(r.GetW0(), 0.0) << "W0 is not part of the info section";
  EXPECT_EQ(r.GetPEnter(), 0.01);
  EXPECT_EQ(r.GetPRemove(), 0.02);
  EXPECT_EQ(r.GetMaxIter(), 17);
}

TEST(DozodSections, WholeDocumentRoundTripsThroughAFile) {
  Dozod c;
  // clang-format off
  c.SetResult({true, false, true, true, false},
              {0.123456789, 0.0, -2.5, 1234567.89, 0.0}, 0.5);
  const double rounded[] = {0.123457, 0.0, -2.5, 1234570.0, 0.0};
  // clang-format on
  ASSERT_EQ(c.SetPRange(0.02, 0.07), 0);
  c.SetMaxIter(40);
  c.SetThreshold(0.75);
  c.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  c.FeatureNames = {"Cz", "", "Pz"};

  const std::string path = ::testing::TempDir() + "dozod_round_trip.xml";
  pugi::xml_document doc;
  ASSERT_EQ(c.Write(doc), 0);
  ASSERT_TRUE(doc.save_file(path.c_str()));

  Dozod r;
  ASSERT_EQ(r.LoadFromFile(path.c_str()), 0);
  std::remove(path.c_str());
  EXPECT_EQ(r.GetPEnter(), 0.02);
  EXPECT_EQ(r.GetPRemove(), 0.07);
  EXPECT_EQ(r.GetMaxIter(), 40);
  EXPECT_EQ(r.GetThreshold(), 0.75);
  EXPECT_EQ(r.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_EQ(r.FeatureNames, c.FeatureNames);
  EXPECT_EQ(r.Flags(), c.Flags());
  ASSERT_EQ(r.WeightList().size(), 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_DOUBLE_EQ(r.WeightList()[i], rounded[i]) << "weight " << i;

  // Rows far enough apart that six-digit weights cannot swap them.
  Korva::ScoreList trained;
  Korva::ScoreList restored;
  const NEWMAT::RowVector rows[] = {Row({1, 9, 0, 1e-6, 9}),
                                    Row({-3, 0, 1, -2e-6, 0}),
                                    Row({0, 0, -1, 0, 5}),
                                    Row({8, 1, 2, 0, 0})};
  const char* names[] = {"a", "b", "c", "d"};
  for (int i = 0; i < 4; ++i) {
    trained.emplace_back(names[i], c.GetScore(rows[i]));
    restored.emplace_back(names[i], r.GetScore(rows[i]));
  }
  c.SortScoresFirstBest(trained);
  r.SortScoresFirstBest(restored);
  auto order = [](const Korva::ScoreList& scores) {
    std::string s;
    for (const auto& entry : scores) s += entry.first;
    return s;
  };
  EXPECT_EQ(order(restored), order(trained));
}

TEST(DozodSections, RestoredClassifierScoresWithoutTheIntercept) {
  Dozod c;
  c.SetResult({true, true}, {0.25, -1.5}, 0.5);
  pugi::xml_document doc;
  ASSERT_EQ(c.Write(doc), 0);
  Dozod r;
  ASSERT_EQ(r.Read(doc), 0);
  for (const auto& x : {Row({1, 2}), Row({-4, 0.5}), Row({0, 0})})
    EXPECT_EQ(r.GetScore(x), c.GetScore(x) - 0.5);
}

struct InfoCase {
  const char* name;
  const char* xml;
  std::vector<bool> flags;
  std::vector<double> weights;
};

std::ostream& operator<<(std::ostream& os, const InfoCase& c) {
  return os << c.name;
}

// A classifier that already holds a result, so that a rejected section must
// visibly clear it.
class ReadInfoOnAnyInput : public ::testing::TestWithParam<InfoCase> {
 protected:
  void SetUp() override {
    c.SetResult({true, true, true, true}, {9, 9, 9, 9}, 0.7);
  }
  Dozod c;
};

TEST_P(ReadInfoOnAnyInput, RestoresWhatTheTextHolds) {
  const InfoCase& p = GetParam();
  pugi::xml_document doc;
  ASSERT_EQ(c.ReadInfo(Parse(doc, p.xml)), 0);
  EXPECT_EQ(c.Flags(), p.flags);
  EXPECT_EQ(c.WeightList(), p.weights);
  EXPECT_EQ(c.GetW0(), 0.7);
}

const std::vector<bool> kNone;
const std::vector<double> kEmpty;

// clang-format off
INSTANTIATE_TEST_SUITE_P(DozodSections, ReadInfoOnAnyInput, ::testing::Values(
    InfoCase{"NegativeCount", "<Info Count='-3'><IN>1\t1\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"ZeroCount", "<Info Count='0'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"MissingCount", "<Info><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"IntMaxCount", "<Info Count='2147483647'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountAboveIntMax", "<Info Count='2147483648'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountAboveUint32", "<Info Count='4294967298'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountOf20Digits", "<Info Count='18446744073709551615'><IN>1\t</IN><Weights>1\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"CountBeyondInText", "<Info Count='4'><IN>1\t0\t1\t</IN><Weights>1\t2\t3\t4\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"MissingIn", "<Info Count='2'><Weights>1\t2\t</Weights></Info>", kNone, kEmpty},
    InfoCase{"ExtraValuesIgnored", "<Info Count='2'><IN>0\t1\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", {false, true}, {1, 2}},
    InfoCase{"MissingWeights", "<Info Count='2'><IN>1\t1\t</IN></Info>", {true, true}, {0, 0}},
    InfoCase{"ShortWeights", "<Info Count='3'><IN>1\t1\t1\t</IN><Weights>0.5\t</Weights></Info>", {true, true, true}, {0.5, 0, 0}},
    InfoCase{"BlankInText", "<Info Count='3'><IN>1\t\t\t\t\t</IN><Weights>1\t2\t3\t</Weights></Info>", {true, false, false}, {1, 2, 3}},
    InfoCase{"NonNumericFlag", "<Info Count='3'><IN>1\tx\t1\t</IN><Weights>1\t2\t3\t</Weights></Info>", {true, false, false}, {1, 2, 3}},
    InfoCase{"OverflowingFlag", "<Info Count='2'><IN>99999999999\t1\t</IN><Weights>1\t2\t</Weights></Info>", {false, false}, {1, 2}},
    InfoCase{"TwoAndMinusOneAreTrue", "<Info Count='3'><IN>2\t-1\t0\t</IN><Weights>1\t2\t3\t</Weights></Info>", {true, true, false}, {1, 2, 3}},
    InfoCase{"NonNumericWeight", "<Info Count='3'><IN>1\t1\t1\t</IN><Weights>0.5\tabc\t2\t</Weights></Info>", {true, true, true}, {0.5, 0, 0}},
    InfoCase{"OverflowingWeight", "<Info Count='2'><IN>1\t1\t</IN><Weights>1e999\t2\t</Weights></Info>", {true, true}, {0, 0}},
    InfoCase{"ExponentWeights", "<Info Count='2'><IN>1\t1\t</IN><Weights>1.5e-07\t-2E3\t</Weights></Info>", {true, true}, {1.5e-7, -2000}},
    InfoCase{"CdataText", "<Info Count='2'><IN><![CDATA[0\t1\t]]></IN><Weights><![CDATA[3\t4\t]]></Weights></Info>", {false, true}, {3, 4}}),
    [](const ::testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(DozodSections, ReadCfgWithoutAttributesGivesZeros) {
  Dozod c;
  pugi::xml_document doc;
  ASSERT_EQ(c.ReadCfg(Parse(doc, "<Configuration p_Enter='abc'/>")), 0);
  EXPECT_EQ(c.GetPEnter(), 0.0);
  EXPECT_EQ(c.GetPRemove(), 0.0);
  EXPECT_EQ(c.GetMaxIter(), 0);
}

TEST(DozodSections, ReadCfgStoresValuesWithoutRangeCheck) {
  Dozod c;
  pugi::xml_document doc;
  ASSERT_EQ(c.ReadCfg(Parse(doc,
                            "<Configuration p_Enter='0.5' p_Remove='0.2' "
                            "MaxIter='-4'/>")),
            0);
  EXPECT_EQ(c.GetPEnter(), 0.5);
  EXPECT_EQ(c.GetPRemove(), 0.2);
  EXPECT_EQ(c.GetMaxIter(), -4);
}

TEST(DozodSections, ReadClassifierIgnoresTheVersion) {
  for (const char* xml : {"<Classifier VersionMaj='7' VersionMin='9'/>",
                          "<Classifier VersionMaj='x'/>",
                          "<Classifier/>"}) {
    Dozod c;
    pugi::xml_document doc;
    EXPECT_EQ(c.ReadClassifier(Parse(doc, xml)), 0) << xml;
  }
}

// The host refuses a null node with kStatusMissingSection; every section must
// pass that status back and leave the object as it was.
TEST(DozodSections, FailingBaseSectionIsPassedBackUntouched) {
  Dozod c;
  c.SetResult({true, false}, {0.5, -0.5}, 0.25);
  ASSERT_EQ(c.SetPRange(0.02, 0.03), 0);
  c.SetMaxIter(12);
  pugi::xml_node none;
  const int kMissing = Korva::kStatusMissingSection;
  EXPECT_EQ(c.WriteClassifier(none), kMissing);
  EXPECT_EQ(c.ReadClassifier(none), kMissing);
  EXPECT_EQ(c.WriteCfg(none), kMissing);
  EXPECT_EQ(c.ReadCfg(none), kMissing);
  EXPECT_EQ(c.WriteInfo(none), kMissing);
  EXPECT_EQ(c.ReadInfo(none), kMissing);
  EXPECT_EQ(c.WriteProtocol(none), kMissing);
  EXPECT_EQ(c.ReadProtocol(none), kMissing);
  EXPECT_EQ(c.GetPEnter(), 0.02);
  EXPECT_EQ(c.GetPRemove(), 0.03);
  EXPECT_EQ(c.GetMaxIter(), 12);
  EXPECT_EQ(c.Flags(), (std::vector<bool>{true, false}));
  EXPECT_EQ(c.WeightList(), (std::vector<double>{0.5, -0.5}));
}

}  // namespace
