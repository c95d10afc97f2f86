#include "korva/classifier_base.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The least classifier: records what the host hands it.
class RecordingClassifier : public Korva::ClassifierBase {
 public:
  RecordingClassifier() : ClassifierBase("Rec", "Recording classifier") {}
  bool CanClassify() const override { return false; }
  double GetScore(const NEWMAT::RowVector&) override { return 0.0; }
  int SortScoresFirstBest(Korva::ScoreList& s) override {
    return SortScoresDescending(s);
  }
  int DoTrain(NEWMAT::Matrix& X,
              NEWMAT::ColumnVector& y,
              ClassifierProgress*,
              std::list<std::string>&) override {
    seenX = X;
    seenY = y;
    return 7;
  }
  int WriteInfo(pugi::xml_node& node) override {
    if (failInfo != 0) return failInfo;
    return ClassifierBase::WriteInfo(node);
  }
  int ReadInfo(const pugi::xml_node& node) override {
    if (failInfo != 0) return failInfo;
    return ClassifierBase::ReadInfo(node);
  }
  int WriteProtocol(pugi::xml_node& node) override {
    ++protocolWrites;
    return ClassifierBase::WriteProtocol(node);
  }
  NEWMAT::Matrix seenX;
  NEWMAT::ColumnVector seenY;
  int failInfo = 0;
  int protocolWrites = 0;
};

std::string Names(const Korva::ScoreList& list) {
  std::string names;
  for (const auto& [name, score] : list) names += name;
  return names;
}

TEST(ClassifierBase, SortsAreStableAndPutNaNLast) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  RecordingClassifier c;
  Korva::ScoreList list = {
      {"a", 0.5}, {"b", nan}, {"c", 0.1}, {"d", 0.5}, {"e", 0.9}};
  c.SortScoresAscending(list);
  EXPECT_EQ(Names(list), "cadeb");
  list = {{"a", 0.5}, {"b", nan}, {"c", 0.1}, {"d", 0.5}, {"e", 0.9}};
  c.SortScoresDescending(list);
  EXPECT_EQ(Names(list), "eadcb");
}

TEST(ClassifierBase, TrainConvertsFloatsAndIntegerLabels) {
  RecordingClassifier c;
  EasyMat<float> data(2, 3);
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 3; ++k) data(r, k) = 0.5f * (r * 3 + k);
  std::vector<int> labels = {1, -1};
  std::list<std::string> messages;
  EXPECT_EQ(c.Train(data, labels, nullptr, messages), 7);
  ASSERT_EQ(c.seenX.Nrows(), 2);
  ASSERT_EQ(c.seenX.Ncols(), 3);
  EXPECT_EQ(c.seenX.element(1, 2), 2.5);
  EXPECT_EQ(c.seenY.element(0), 1.0);
  EXPECT_EQ(c.seenY.element(1), -1.0);

  std::vector<int> tooFew = {1};
  EXPECT_EQ(c.Train(data, tooFew, nullptr, messages), Korva::kStatusRejected);
}

TEST(ClassifierBase, WriteThenReadRestoresHostState) {
  RecordingClassifier written;
  written.SetThreshold(0.25);
  written.SetThresholdMode(Korva::ClassifierBase::RangeMode);
  written.FeatureNames = {"Cz_01", "", "Pz & <1>"};
  pugi::xml_document document;
  ASSERT_EQ(written.Write(document), Korva::kStatusOk);

  RecordingClassifier read;
  ASSERT_EQ(read.Read(document), Korva::kStatusOk);
  EXPECT_EQ(read.GetThreshold(), 0.25);
  EXPECT_EQ(read.GetThresholdMode(), Korva::ClassifierBase::RangeMode);
  EXPECT_EQ(read.FeatureNames, written.FeatureNames);
}

TEST(ClassifierBase, SectionStatusStopsWriteAndRead) {
  RecordingClassifier c;
  c.failInfo = -3;
  pugi::xml_document document;
  EXPECT_EQ(c.Write(document), -3);
  EXPECT_EQ(c.protocolWrites, 0) << "no section after the failing one";

  c.failInfo = 0;
  pugi::xml_document good;
  ASSERT_EQ(c.Write(good), Korva::kStatusOk);
  c.failInfo = -4;
  EXPECT_EQ(c.Read(good), -4);
}

TEST(ClassifierBase, ReadRefusesOtherDocuments) {
  RecordingClassifier c;
  pugi::xml_document empty;
  EXPECT_EQ(c.Read(empty), Korva::kStatusWrongDocument);

  pugi::xml_document other;
  other.load_string("<KorvaClassifier Name='Other'/>");
  EXPECT_EQ(c.Read(other), Korva::kStatusWrongDocument);

  pugi::xml_document partial;
  partial.load_string(
      "<KorvaClassifier Name='Rec'><Classifier/></KorvaClassifier>");
  EXPECT_EQ(c.Read(partial), Korva::kStatusMissingSection);
}

TEST(ClassifierBase, SectionsRefuseANullNode) {
  RecordingClassifier c;
  pugi::xml_node none;
  EXPECT_EQ(c.WriteCfg(none), Korva::kStatusMissingSection);
  EXPECT_EQ(c.ReadCfg(none), Korva::kStatusMissingSection);
  EXPECT_EQ(c.WriteProtocol(none), Korva::kStatusMissingSection);
  EXPECT_EQ(c.ReadClassifier(none), Korva::kStatusMissingSection);
}

TEST(ClassifierBase, LoadFromFileReportsMissingFile) {
  RecordingClassifier c;
  EXPECT_EQ(c.LoadFromFile("/nonexistent/dir/model.xml"),
            Korva::kStatusFileError);
  EXPECT_EQ(c.LoadFromFile(nullptr), Korva::kStatusMissing);
}

}  // namespace
