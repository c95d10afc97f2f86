// Loads the real ZEZODOvo64.kvc as a host does and drives it through the
// host's base class only.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "korva/module_loader.h"

namespace {

std::shared_ptr<Korva::Module> OpenModule() {
  return Korva::Module::Open(KORVA_MODULE_PATH);
}

TEST(ModuleBoundary, CreatesChecksAndReleasesClassifier) {
  auto module = OpenModule();
  Korva::ClassifierHandle classifier = module->CreateClassifier();
  ASSERT_TRUE(classifier);
  EXPECT_EQ(classifier->GetName(), "DOZOD");
  EXPECT_EQ(classifier->GetDescription(),
            "StepWise Linear Discriminant Analysis");
  EXPECT_FALSE(classifier->CanClassify());
  EXPECT_TRUE(classifier->CanTrain());
  std::ostringstream info;
  classifier->GetShortInfo(info);
  EXPECT_EQ(info.str(), "DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 300 | ");

  Korva::ClassifierBase* raw = classifier.release();
  EXPECT_EQ(module->Release(&raw), 0);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(module->Release(&raw), -20);
}

// A classifier of the host's own, which the module must refuse to release.
class HostSideClassifier : public Korva::ClassifierBase {
 public:
  HostSideClassifier() : ClassifierBase("Host", "Host-side classifier") {}
  bool CanClassify() const override { return true; }
  double GetScore(const NEWMAT::RowVector&) override { return 0.0; }
  int SortScoresFirstBest(Korva::ScoreList&) override { return 0; }
  int DoTrain(NEWMAT::Matrix&,
              NEWMAT::ColumnVector&,
              ClassifierProgress*,
              std::list<std::string>&) override {
    return 0;
  }
};

TEST(ModuleBoundary, RefusesToReleaseAnotherClassifierClass) {
  auto module = OpenModule();
  HostSideClassifier other;
  Korva::ClassifierBase* raw = &other;
  EXPECT_EQ(module->Release(&raw), -10);
  EXPECT_EQ(raw, &other);
  EXPECT_TRUE(other.CanClassify()) << "the object is still usable";
}

TEST(ModuleBoundary, ObjectKeepsModuleLoadedAfterModuleHandleIsGone) {
  Korva::ClassifierHandle classifier = OpenModule()->CreateClassifier();
  std::ostringstream info;
  classifier->GetInfo(info);
  EXPECT_NE(info.str().find("DOZOD"), std::string::npos);
}

std::string LoadError(const std::string& path) {
  try {
    Korva::Module::Open(path);
  } catch (const Korva::ModuleError& error) {
    return error.what();
  }
  return "";
}

TEST(ModuleLoader, GivesADistinctMessageForEachFailure) {
  EXPECT_EQ(LoadError("/nonexistent/ZEZODOvo64.kvc"),
            "module file not found: /nonexistent/ZEZODOvo64.kvc");

  const std::string text = ::testing::TempDir() + "not_a_library.kvc";
  std::ofstream(text) << "this is not a shared library\n";
  const std::string notLoadable = LoadError(text);
  EXPECT_EQ(notLoadable.rfind("cannot load module " + text + ": ", 0), 0u)
      << notLoadable;

  // The host library loads fine but has no classifier entry points.
  const std::string noEntry = LoadError(KORVA_HOST_LIBRARY_PATH);
  EXPECT_NE(noEntry.find("has no entry point CreateInstance"),
            std::string::npos)
      << noEntry;
}

}  // namespace
