// The module starts no thread: neither loading it (which loads its BLAS) nor
// training through it may add a thread to the host's process.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <list>
#include <random>
#include <string>

#include "korva/module_loader.h"

namespace {

int ThreadsOfThisProcess() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(tasks))
    if (entry->d_name[0] != '.') ++count;
  closedir(tasks);
  return count;
}

class SilentProgress : public ClassifierProgress {
 public:
  void AddMessage(const std::string&) override {}
};

TEST(ModuleThreads, LoadingAndTrainingStartNoThread) {
  const int atStart = ThreadsOfThisProcess();
  ASSERT_GT(atStart, 0);
  auto module = Korva::Module::Open(KORVA_MODULE_PATH);
  EXPECT_EQ(ThreadsOfThisProcess(), atStart) << "after loading the module";
  std::ifstream maps("/proc/self/maps");
  std::string blas;
  for (std::string line; std::getline(maps, line);)
    if (line.find("libopenblas") != std::string::npos) blas += line + "\n";
  EXPECT_NE(blas.find("openblas-serial"), std::string::npos) << blas;
  EXPECT_EQ(blas.find("pthread"), std::string::npos) << blas;
  EXPECT_EQ(blas.find("openmp"), std::string::npos) << blas;

  // 400 examples of 60 features, two of which carry the class.
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  NEWMAT::Matrix X(400, 60);
  NEWMAT::ColumnVector labels(400);
  for (int i = 0; i < 400; ++i) {
    const double label = i % 3 == 0 ? 1.0 : -1.0;
    labels.element(i) = label;
    for (int j = 0; j < 60; ++j) X.element(i, j) = normal(random);
    X.element(i, 3) += 0.8 * label;
    X.element(i, 17) -= 0.5 * label;
  }
  Korva::ClassifierHandle classifier = module->CreateClassifier();
  std::list<std::string> messages;
  SilentProgress progress;
  EXPECT_EQ(classifier->Train2(X, labels, &progress, messages), 0);
  EXPECT_TRUE(classifier->CanClassify());
  EXPECT_EQ(ThreadsOfThisProcess(), atStart) << "after training";
}

}  // namespace
