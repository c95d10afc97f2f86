#ifndef KORVA_TESTING_STUB_CLASSIFIER_H_
#define KORVA_TESTING_STUB_CLASSIFIER_H_

#include <list>
#include <string>

#include "korva/classifier_base.h"

namespace Korva::Testing {

// The least classifier of the host's own: remembers what training received
// and returns `trainResult`; its info section fails with `failInfo` when that
// is not 0.
class StubClassifier : public ClassifierBase {
 public:
  explicit StubClassifier(const char* name = "Stub")
      : ClassifierBase(name, "stub classifier") {}
  bool CanClassify() const override { return true; }
  double GetScore(const NEWMAT::RowVector&) override { return 0.0; }
  int SortScoresFirstBest(ScoreList& s) override {
    return SortScoresDescending(s);
  }
  int DoTrain(NEWMAT::Matrix& X,
              NEWMAT::ColumnVector& y,
              ClassifierProgress*,
              std::list<std::string>&) override {
    seenX = X;
    seenY = y;
    return trainResult;
  }
  int WriteInfo(pugi::xml_node& node) override {
    return failInfo ? failInfo : ClassifierBase::WriteInfo(node);
  }
  int ReadInfo(const pugi::xml_node& node) override {
    return failInfo ? failInfo : ClassifierBase::ReadInfo(node);
  }
  int WriteProtocol(pugi::xml_node& node) override {
    ++protocolWrites;
    return ClassifierBase::WriteProtocol(node);
  }

  NEWMAT::Matrix seenX;
  NEWMAT::ColumnVector seenY;
  int trainResult = 7;
  int failInfo = 0;
  int protocolWrites = 0;
};

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_STUB_CLASSIFIER_H_
