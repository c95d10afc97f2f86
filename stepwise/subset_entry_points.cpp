// The module's optional entry points of korva/subset_training.h, beside
// those of plugin/entry_points.cpp: they belong to the stepwise part, whose
// trainings they run.
#include <vector>

#include "korva/module_entry_points.h"
#include "korva/subset_training.h"
#include "stepwise/row_set.h"
#include "stepwise/shared_training.h"

// The data set of the shared trainings (korva/subset_training.h).
struct KorvaRowSet {
  Korva::RowSet set;
};

KorvaRowSet* OpenRowSet(const double* X,
                        const double* labels,
                        int rows,
                        int cols,
                        int heldOut) {
  if (X == nullptr || labels == nullptr || rows < 1 || cols < 1)
    return nullptr;
  return new KorvaRowSet{Korva::RowSet(X, labels, rows, cols, heldOut)};
}

KorvaRowSet* OpenRowBlocks(const double* X,
                           const double* labels,
                           int rows,
                           int cols,
                           const int* block,
                           int blocks) {
  if (X == nullptr || labels == nullptr || block == nullptr || rows < 1 ||
      cols < 1 || blocks < 0)
    return nullptr;
  for (int r = 0; r < rows; ++r)
    if (block[r] < -1 || block[r] >= blocks) return nullptr;
  return new KorvaRowSet{
      Korva::RowSet(X, labels, rows, cols, block, blocks)};
}

int TrainRowSubset(KorvaRowSet* set,
                   const int* subset,
                   int size,
                   Korva::SubsetTraining* trainings,
                   int count) {
  if (set == nullptr || size < 0 || count < 0 ||
      (size > 0 && subset == nullptr) || (count > 0 && trainings == nullptr))
    return Korva::kStatusRejected;
  std::vector<char> seen(set->set.Rows(), 0);
  for (int i = 0; i < size; ++i) {
    if (subset[i] < 0 || subset[i] >= set->set.Rows() || seen[subset[i]])
      return Korva::kStatusRejected;
    seen[subset[i]] = 1;
  }
  Korva::TrainSubset(
      set->set, std::vector<int>(subset, subset + size), trainings, count);
  return Korva::kStatusOk;
}

void CloseRowSet(KorvaRowSet* set) { delete set; }
