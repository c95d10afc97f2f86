// The real ZEZODOvo64.kvc as a host loads it: creation and release through
// the entry points, the threads it starts (none), the symbols it exports (the
// reviewed list) and the virtual slot order modules are compiled against.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "korva/module_loader.h"
#include "testing/files.h"
#include "testing/recording_progress.h"
#include "testing/stub_classifier.h"
#include "weighted/weighted_classifier.h"

namespace Korva::Testing {
namespace {

// The loader's messages for a missing file, a non-library and a library
// without entry points are pinned by the failure table of korva_test.cpp.
TEST(ModuleBoundary, CreatesReleasesAndRefusesForeignObjects) {
  ClassifierHandle classifier = Module::Open(KORVA_MODULE_PATH)
                                    ->CreateClassifier();  // module handle gone
  EXPECT_EQ(classifier->GetDescription(),
            "StepWise Linear Discriminant Analysis");
  auto module = Module::Open(KORVA_MODULE_PATH);
  StubClassifier foreign;
  ClassifierBase* raw = &foreign;
  EXPECT_EQ(module->Release(&raw), kStatusRejected);
  EXPECT_EQ(raw, &foreign);
  raw = module->CreateClassifier().release();
  EXPECT_EQ(module->Release(&raw), kStatusOk);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(module->Release(&raw), kStatusMissing);
}

int ThreadsOfThisProcess() {
  DIR* tasks = opendir("/proc/self/task");
  int count = 0;
  while (const dirent* entry = tasks ? readdir(tasks) : nullptr)
    count += entry->d_name[0] != '.';
  if (tasks) closedir(tasks);
  return count;
}

// Loading the module (and its BLAS, the serial build) and training start no
// thread.
TEST(ModuleBoundary, LoadingAndTrainingStartNoThread) {
  const int atStart = ThreadsOfThisProcess();
  auto module = Module::Open(KORVA_MODULE_PATH);
  const std::string maps = ReadFile("/proc/self/maps");
  EXPECT_NE(maps.find("openblas-serial/libopenblas"), std::string::npos);
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  NEWMAT::Matrix X(400, 60);
  NEWMAT::ColumnVector labels(400);
  for (int i = 0; i < 400; ++i) {
    labels.element(i) = i % 3 == 0 ? 1.0 : -1.0;
    for (int j = 0; j < 60; ++j) X.element(i, j) = normal(random);
    X.element(i, 3) += 0.8 * labels.element(i);
  }
  ClassifierHandle classifier = module->CreateClassifier();
  std::list<std::string> messages;
  RecordingProgress progress;
  EXPECT_EQ(classifier->Train2(X, labels, &progress, messages), 0);
  EXPECT_TRUE(classifier->CanClassify());
  EXPECT_EQ(ThreadsOfThisProcess(), atStart);
}

// The module exports exactly the reviewed list: a change to its interface
// shows up here and needs a review of that list.
TEST(ModuleBoundary, ExportsExactlyTheReviewedSymbols) {
  std::set<std::string> exported, reviewed;
  FILE* nm = popen(("nm -DC --defined-only '" KORVA_MODULE_PATH "'"), "r");
  char line[4096];
  while (nm && fgets(line, sizeof(line), nm)) {
    std::string entry(line);  // "<address> <type> <name>\n"
    const size_t name = entry.find(' ', entry.find(' ') + 1);
    if (name != std::string::npos)
      exported.insert(entry.substr(name + 1, entry.size() - name - 2));
  }
  if (nm) pclose(nm);
  std::istringstream list(ReadFile(KORVA_EXPORTED_SYMBOLS));
  for (std::string symbol; std::getline(list, symbol);)
    if (!symbol.empty() && symbol[0] != '#') reviewed.insert(symbol);
  ASSERT_FALSE(reviewed.empty());
  EXPECT_EQ(exported, reviewed);
}

// Under the Itanium C++ ABI a pointer to a virtual member function holds 1 +
// the byte offset of its slot; the virtual destructor takes slots 0 and 1.
template <typename MemberFunction>
std::ptrdiff_t Slot(MemberFunction function) {
  static_assert(sizeof(function) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t words[2];
  std::memcpy(words, &function, sizeof(words));
  return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
}

TEST(VtableLayout, OperationsKeepTheirSlots) {
  using B = ClassifierBase;
  using W = WeightedClassifier;
  // clang-format off
  const std::ptrdiff_t slots[] = {
      Slot(&B::GetShortInfo), Slot(&B::GetInfo), Slot(&B::LoadFromFile), Slot(&B::SaveToFile),
      Slot(&B::CanClassify), Slot(&B::CanTrain), Slot(&B::CanEdit), Slot(&B::EditConfiguration),
      Slot(&B::GetCredits), Slot(&B::Train), Slot(&B::Train2), Slot(&B::GetTrainingInfo),
      Slot(&B::GetBest), Slot(&B::GetScore), Slot(&B::SortScoresFirstBest), Slot(&B::ReservedHook),
      Slot(&B::DoEdit), Slot(&B::SortScoresAscending), Slot(&B::SortScoresDescending), Slot(&B::Write),
      Slot(&B::Read), Slot(&B::WriteClassifier), Slot(&B::ReadClassifier), Slot(&B::WriteCfg),
      Slot(&B::ReadCfg), Slot(&B::WriteInfo), Slot(&B::ReadInfo), Slot(&B::WriteProtocol),
      Slot(&B::ReadProtocol), Slot(&B::WriteMore), Slot(&B::ReadMore), Slot(&B::DoTrain),
      Slot(&W::GetWeights), Slot(&W::DoGetScore), Slot(&W::ComputeInverse)};
  // clang-format on
  for (std::size_t i = 0; i < std::size(slots); ++i)
    EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i) + 2)
        << "operation " << i;
  EXPECT_EQ(Slot(&ClassifierProgress::AddMessage), 3);
}

}  // namespace
}  // namespace Korva::Testing
