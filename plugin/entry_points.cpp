#include <vector>

#include "korva/module_entry_points.h"
#include "korva/subset_training.h"
#include "plugin/dozod.h"
#include "stepwise/row_set.h"
#include "stepwise/shared_training.h"

Korva::ClassifierBase* CreateInstance() { return new DOZOD(); }

int ReleaseInstance(Korva::ClassifierBase** object) {
  if (*object == nullptr) return Korva::kStatusMissing;
  DOZOD* classifier = dynamic_cast<DOZOD*>(*object);
  if (classifier == nullptr) return Korva::kStatusRejected;
  delete classifier;
  *object = nullptr;
  return Korva::kStatusOk;
}

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
