// The real ZEZODOvo64.kvc as a host loads it: creation and release through
// the entry points, the threads it starts (none), the symbols it exports (the
// reviewed list) and the virtual slot order modules are compiled against.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "korva/module_loader.h"
#include "testing/files.h"
#include "testing/korva_runner.h"
#include "testing/ols_reference.h"
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

// Loading the module (and its BLAS, the serial build) and training start no
// thread.
TEST(ModuleBoundary, LoadingAndTrainingStartNoThread) {
  const size_t atStart = Files("/proc/self/task").size();
  auto module = Module::Open(KORVA_MODULE_PATH);
  const std::string maps = ReadFile("/proc/self/maps");
  EXPECT_NE(maps.find("openblas-serial/libopenblas"), std::string::npos);
  std::mt19937 random(7);
  NEWMAT::Matrix X;
  NEWMAT::ColumnVector labels;
  CorrelatedSet(400, 60, random, X, labels);
  ClassifierHandle classifier = module->CreateClassifier();
  std::list<std::string> messages;
  RecordingProgress progress;
  EXPECT_EQ(classifier->Train2(X, labels, &progress, messages), 0);
  EXPECT_TRUE(classifier->CanClassify());
  EXPECT_EQ(Files("/proc/self/task").size(), atStart);
}

// The module exports exactly the reviewed list: a change to its interface
// shows up here and needs a review of that list. nm prints "<address> <type>
// <name>"; the list holds names and comment lines.
TEST(ModuleBoundary, ExportsExactlyTheReviewedSymbols) {
  const auto sorted = [](const std::string& command) {
    return Shell(".", command + " | LC_ALL=C sort -u").out;
  };
  const std::string reviewed =
      sorted("grep -v -e '^#' -e '^$' " + Quote(KORVA_EXPORTED_SYMBOLS));
  ASSERT_NE(reviewed, "");
  EXPECT_EQ(sorted("nm -DC --defined-only " + Quote(KORVA_MODULE_PATH) +
                   " | cut -d' ' -f3-"),
            reviewed);
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
