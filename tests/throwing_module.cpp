// A classifier module for the tests of korva's error handling: its training
// gives one message and then raises the exception that KORVA_TEST_THROW names
// ("newmat": a matrix library exception, anything else: std::runtime_error;
// "sleep" waits a minute first).
#include <newmat/newmat.h>

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "korva/classifier_base.h"
#include "korva/module_entry_points.h"

namespace {

class ThrowingClassifier : public Korva::ClassifierBase {
 public:
  ThrowingClassifier() : ClassifierBase("DOZOD", "throws while training") {}
  bool CanClassify() const override { return false; }
  double GetScore(const NEWMAT::RowVector&) override { return 0.0; }
  int SortScoresFirstBest(Korva::ScoreList&) override { return 0; }
  int DoTrain(NEWMAT::Matrix&,
              NEWMAT::ColumnVector&,
              ClassifierProgress* progress,
              std::list<std::string>&) override {
    if (progress) progress->AddMessage("Step 1, about to fail");
    const char* kind = std::getenv("KORVA_TEST_THROW");
    if (kind && std::string(kind) == "sleep") ::sleep(60);
    if (kind && std::string(kind) == "newmat")
      throw NEWMAT::ProgramException("planted matrix failure");
    throw std::runtime_error("planted failure");
  }
};

}  // namespace

Korva::ClassifierBase* CreateInstance() { return new ThrowingClassifier(); }

int ReleaseInstance(Korva::ClassifierBase** object) {
  if (*object == nullptr) return Korva::kStatusMissing;
  delete *object;
  *object = nullptr;
  return Korva::kStatusOk;
}
