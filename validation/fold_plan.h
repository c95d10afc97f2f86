#ifndef KORVA_VALIDATION_FOLD_PLAN_H_
#define KORVA_VALIDATION_FOLD_PLAN_H_

// How a fold scheme deals a data set's rows to folds. evaluate and tune
// share it, so the same description gives both commands the same folds (and
// a nested evaluation's inner folds the same scheme); the Python package
// deals korva's folds through it too.

#include <cstdint>
#include <string>
#include <vector>

#include "data/data_checks.h"
#include "data/dataset.h"
#include "validation/error.h"
#include "validation/fold_runner.h"

namespace Korva::Validation {

// The number of folds when a scheme gives none (and the data has no groups
// to make them), and the seed of the stratified split when it gives none.
constexpr int kDefaultFolds = 5;
constexpr std::uint64_t kDefaultSeed = 1;

// A fold scheme as a caller describes it.
struct Scheme {
  // 0: each group a fold when the folds are by groups, else kDefaultFolds.
  int folds = 0;
  std::uint64_t seed = kDefaultSeed;  // of the stratified split
  // Shuffled folds were asked for (a seed given): groups the data merely
  // has, in a column found by its name, then do not make the folds.
  bool shuffle = false;
  bool blocks = false;       // contiguous folds in row order
  bool groupsGiven = false;  // the data's group column was named
  bool recordings = false;   // its groups are recordings, one alone no fold
};

// The rows of a set as a scheme deals them.
struct FoldAssignment {
  std::vector<int> fold;  // each row's fold, 0 .. count - 1
  int count = 0;
  bool byGroups = false;  // whole groups, in the data's group column
  bool shuffled = false;  // stratified, dealt with the seed
  std::string scheme;     // "5-fold stratified cross-validation, seed 1"
};

// The folds of `data` as `scheme` deals them: in blocks with `blocks`; by
// groups when the data has groups (named, or found by name unless `shuffle`;
// not a lone recording); else stratified with the seed. `what` names the
// set in messages ("runs.csv", "the training rows of fold 2"), `names` the
// caller's inputs. Error(kData) when the data cannot be split so.
FoldAssignment DealFolds(const Scheme& scheme,
                         const Data::Dataset& data,
                         const std::string& what,
                         const InputNames& names = {});

// The train/test pairs of an evaluation and how outputs name them.
struct Plan {
  std::vector<FoldData> folds;
  std::vector<std::string> names;  // "fold 2"
  std::string groupColumn;         // "" when the folds are not by groups
  std::vector<std::vector<std::string>> groups;  // the groups of each fold
  std::vector<Data::LabelCounts> trainClasses;   // of each fold's training rows
  std::string scheme;     // "5-fold stratified cross-validation, seed 1"
  bool shuffled = false;  // the folds were dealt with the seed
  // "run 1, 4": fold k's groups; "" when the folds are not by groups.
  std::string GroupsText(size_t k) const;
  // "fold 2 (run 6)": the name with the fold's groups.
  std::string Label(size_t k) const;
};

// The plan of the folds DealFolds deals. The folds' training sets are made
// from `data`, which must outlive the plan. Error(kData) as DealFolds.
Plan MakePlan(const Scheme& scheme,
              const Data::Dataset& data,
              const std::string& what);

// The most training rows of any fold.
int LargestTrainingSet(const Plan& plan);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_FOLD_PLAN_H_
