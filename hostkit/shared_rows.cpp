#include "korva/hostkit/shared_rows.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "korva/hostkit/memory_budget.h"

namespace Korva::HostKit {

bool SharedTrainingsWanted() {
  const char* value = std::getenv("KORVA_SHARED_TRAININGS");
  return value == nullptr || std::strcmp(value, "0") != 0;
}

std::optional<std::vector<int>> HeldOutBlocks(
    int rows, const std::vector<std::vector<int>>& subsets) {
  std::vector<int> block(rows, -1);
  std::vector<char> taken;
  for (size_t s = 0; s < subsets.size(); ++s) {
    taken.assign(rows, 0);
    for (int r : subsets[s])
      if (r >= 0 && r < rows) taken[r] = 1;
    for (int r = 0; r < rows; ++r) {
      if (taken[r]) continue;
      if (block[r] >= 0) return std::nullopt;
      block[r] = static_cast<int>(s);
    }
  }
  return block;
}

std::unique_ptr<SharedRows> SharedRows::Open(
    const Module& module,
    const MatrixView& X,
    const double* labels,
    const std::vector<std::vector<int>>& subsets,
    bool keepBlocks) {
  const SubsetTrainingEntryPoints* entry = module.SubsetTraining();
  if (entry == nullptr || !SharedTrainingsWanted() || X.order != nullptr)
    return nullptr;
  KorvaRowSet* set = nullptr;
  const std::optional<std::vector<int>> blocks =
      keepBlocks && entry->openBlocks ? HeldOutBlocks(X.rows, subsets)
                                      : std::nullopt;
  if (blocks) {
    set = entry->openBlocks(X.data, labels, X.rows, X.cols, blocks->data(),
                            static_cast<int>(subsets.size()));
  } else {
    int heldOut = 0;
    for (const std::vector<int>& subset : subsets)
      heldOut = std::max(heldOut, X.rows - static_cast<int>(subset.size()));
    set = entry->open(X.data, labels, X.rows, X.cols, heldOut);
  }
  if (set == nullptr) return nullptr;
  return std::unique_ptr<SharedRows>(new SharedRows(*entry, set, X.cols));
}

SharedRows::~SharedRows() { entry_.close(set_); }

std::vector<std::optional<TrainingRun>> SharedRows::Train(
    const std::vector<int>& rows,
    const std::vector<ClassifierBase*>& classifiers,
    const std::vector<std::string>& names) {
  CheckTrainingMemory(static_cast<std::int64_t>(rows.size()), cols_, false);
  std::vector<SubsetTraining> trainings(classifiers.size());
  for (size_t i = 0; i < classifiers.size(); ++i) {
    classifiers[i]->FeatureNames = names;
    trainings[i].classifier = classifiers[i];
  }
  std::vector<std::optional<TrainingRun>> runs(classifiers.size());
  const auto start = std::chrono::steady_clock::now();
  try {
    if (entry_.train(set_,
                     rows.data(),
                     static_cast<int>(rows.size()),
                     trainings.data(),
                     static_cast<int>(trainings.size())) != kStatusOk)
      return runs;
  } catch (const std::exception&) {
    // Train, for each one, says what failed.
    return runs;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count() /
      static_cast<double>(std::max<size_t>(trainings.size(), 1));
  for (size_t i = 0; i < trainings.size(); ++i) {
    SubsetTraining& t = trainings[i];
    if (!t.trained) continue;
    TrainingRun run;
    run.result = t.result;
    run.progress = std::move(t.progress);
    run.messages = std::move(t.messages);
    run.seconds = seconds;
    runs[i] = std::move(run);
  }
  return runs;
}

}  // namespace Korva::HostKit
