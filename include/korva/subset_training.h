#ifndef KORVA_SUBSET_TRAINING_H_
#define KORVA_SUBSET_TRAINING_H_

// An optional extension of a classifier module, beside the two entry points
// of korva/module_entry_points.h: trainings on subsets of one data set's
// rows (the folds of a cross-validation), each subset with several
// classifiers (the settings of a grid), that share the work they have in
// common. A module that offers it exports the three functions below; a host
// looks them up by name (Module::SubsetTraining) and trains through Train2,
// subset by subset, where they are missing. Either way every classifier
// ends as Train2 on a matrix of its subset's rows would leave it: the same
// status, messages, selection and weights.
//
// The order of use: OpenRowSet once for the data, then TrainRowSubset for
// any number of subsets (also in processes forked after OpenRowSet, each
// with its own subsets), then CloseRowSet.

#include <list>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva {

// One classifier to train on a subset, and what its training gave.
struct SubsetTraining {
  // This module's classifier, its settings applied and its FeatureNames
  // set, as Train2 expects it.
  ClassifierBase* classifier = nullptr;
  // Set by TrainRowSubset. When `trained` is false the module left this
  // one to the host's Train2 (another kind of classifier, or a training the
  // module could not vouch for, such as one whose exact step throws), and
  // the classifier is as it was.
  bool trained = false;
  int result = 0;                     // Train2's status
  std::vector<std::string> progress;  // every AddMessage text, in order
  std::list<std::string> messages;    // the message list Train2 fills
};

}  // namespace Korva

extern "C" {

// The data of the trainings: `rows` x `cols` values X (row-major) with one
// label (+1 or -1) per row, read in place until CloseRowSet. `heldOut` is
// the most rows any subset will leave out (-1: not known), so that the
// module forms now, before a host forks its workers, only the products its
// subsets will use. Null when the module declines (sizes it cannot take).
typedef struct KorvaRowSet KorvaRowSet;
KORVA_MODULE_API KorvaRowSet* OpenRowSet(const double* X,
                                         const double* labels,
                                         int rows,
                                         int cols,
                                         int heldOut);

// As OpenRowSet, for subsets that each leave out one block of a partition
// of the rows (the folds of a k-fold cross-validation): `block[r]` is the
// block of row r, 0 .. blocks - 1, or -1 for a row no subset leaves out.
// The module may keep each block's product, so that a subset leaving out
// one block costs no pass over the rows beyond the set's one. Optional
// within the extension: a host that finds only OpenRowSet uses it.
// Null when the module declines (as OpenRowSet, or a block out of range).
KORVA_MODULE_API KorvaRowSet* OpenRowBlocks(const double* X,
                                            const double* labels,
                                            int rows,
                                            int cols,
                                            const int* block,
                                            int blocks);

// Trains each of `count` trainings on the `size` rows `subset` (indexes
// into the set, each at most once) taken in that order. Returns 0, or
// kStatusRejected with nothing trained when the subset is not one of the
// set's rows.
KORVA_MODULE_API int TrainRowSubset(KorvaRowSet* set,
                                    const int* subset,
                                    int size,
                                    Korva::SubsetTraining* trainings,
                                    int count);

// Releases the set (null is allowed).
KORVA_MODULE_API void CloseRowSet(KorvaRowSet* set);

}  // extern "C"

namespace Korva {

using OpenRowSetFn = decltype(&OpenRowSet);
using TrainRowSubsetFn = decltype(&TrainRowSubset);
using CloseRowSetFn = decltype(&CloseRowSet);
using OpenRowBlocksFn = decltype(&OpenRowBlocks);
constexpr const char* kOpenRowSetSymbol = "OpenRowSet";
constexpr const char* kTrainRowSubsetSymbol = "TrainRowSubset";
constexpr const char* kCloseRowSetSymbol = "CloseRowSet";
constexpr const char* kOpenRowBlocksSymbol = "OpenRowBlocks";

}  // namespace Korva

#endif  // KORVA_SUBSET_TRAINING_H_
