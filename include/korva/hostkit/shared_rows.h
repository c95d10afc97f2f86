#ifndef KORVA_HOSTKIT_SHARED_ROWS_H_
#define KORVA_HOSTKIT_SHARED_ROWS_H_

// Trainings on subsets of one data set's rows (the folds of a
// cross-validation, with the settings of a grid) through a module's shared
// trainings (korva/subset_training.h), which share the work the trainings
// have in common. Each gives what Train on a matrix of its subset's rows
// would; a host falls back on Train where the module does not offer them or
// leaves a training to it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"
#include "korva/hostkit/training.h"
#include "korva/module_loader.h"

struct KorvaRowSet;

namespace Korva::HostKit {

// The rows each subset leaves out of `rows` rows as blocks of a partition:
// block[r] the subset that leaves row r out, -1 for rows every subset
// takes; nullopt when two subsets leave out the same row.
KORVA_HOSTKIT_API std::optional<std::vector<int>> HeldOutBlocks(
    int rows, const std::vector<std::vector<int>>& subsets);

// False when the environment variable KORVA_SHARED_TRAININGS is "0": every
// host then trains each fold and setting on its own, as with a module
// without shared trainings (to compare the two, or to rule them out).
KORVA_HOSTKIT_API bool SharedTrainingsWanted();

class KORVA_HOSTKIT_API SharedRows {
 public:
  // The rows of X (stored in order: no `order`) with one label (+1 / -1)
  // each, read in place (X and the labels must outlive the object), for
  // trainings on the rows `subsets` (indexes into X). Where the rows the
  // subsets leave out are disjoint (the folds of a k-fold cross-validation),
  // `keepBlocks` is true and the module offers it, the module keeps the
  // product of each subset's held-out rows (BlockProductsFit says whether
  // they fit the memory limit), and a subset's training costs no pass over
  // the rows beyond the set's one. Null when `module` offers no shared
  // trainings, they are not wanted (SharedTrainingsWanted) or the module
  // declines these data. The module forms its products here, so a process that
  // forks workers opens the set before it forks.
  static std::unique_ptr<SharedRows> Open(
      const Module& module,
      const MatrixView& X,
      const double* labels,
      const std::vector<std::vector<int>>& subsets,
      bool keepBlocks);
  ~SharedRows();
  SharedRows(const SharedRows&) = delete;
  SharedRows& operator=(const SharedRows&) = delete;

  // Trains each classifier (of the module, its settings applied) on the
  // rows `rows` of X in that order, with FeatureNames `names`. runs[i] is
  // what Train on a matrix of those rows would give classifiers[i], its
  // seconds an equal share of the call's; unset where the module left the
  // training to the caller (whose classifier is then as it was), and for
  // every one when the call failed. Error(kData) as Train, before anything
  // is allocated, when the training would take more memory than the limit.
  std::vector<std::optional<TrainingRun>> Train(
      const std::vector<int>& rows,
      const std::vector<ClassifierBase*>& classifiers,
      const std::vector<std::string>& names);

  int Cols() const { return cols_; }

 private:
  SharedRows(const SubsetTrainingEntryPoints& entry,
             KorvaRowSet* set,
             int cols)
      : entry_(entry), set_(set), cols_(cols) {}

  SubsetTrainingEntryPoints entry_;
  KorvaRowSet* set_;
  int cols_;
};

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_SHARED_ROWS_H_
