#ifndef KORVA_VALIDATION_FOLDS_H_
#define KORVA_VALIDATION_FOLDS_H_

// How rows are dealt to folds, and the rows of a fold.

#include <cstdint>
#include <vector>

#include "data/dataset.h"

namespace Korva::Validation {

// The fold (0 .. folds-1) of each row for stratified K-fold cross-validation:
// the rows of each label value (+1, -1, other) are shuffled with `seed` and
// dealt to the folds in turn, so every fold holds each class in the same
// proportion within one row. Needs folds >= 2 and at least `folds` rows of +1
// and of -1; otherwise returns an empty vector.
std::vector<int> StratifiedFolds(const std::vector<double>& labels,
                                 int folds,
                                 std::uint64_t seed);

// The fold of each row for group K-fold: every row of a group (rows with
// equal `groups` values, 0 .. count - 1 in order of first appearance) in one
// fold. With as many folds as groups, leave-one-group-out, fold k is group
// k; with fewer, the groups are dealt largest first to the fold with the
// fewest rows so far. Empty when there are fewer groups than folds (or fewer
// than two folds).
std::vector<int> GroupFolds(const std::vector<int>& groups,
                            int count,
                            int folds);

// The fold of each of `rows` rows for contiguous folds in file order: fold k
// holds rows [k n / K, (k + 1) n / K). Empty when rows < folds or folds < 2.
std::vector<int> BlockFolds(int rows, int folds);

// The rows of `data` whose entry in `fold` equals (`inFold` true) or differs
// from (`inFold` false) `k`, in row order, with their groups (numbered in
// their order of first appearance in the subset). Without `values`, X is
// left empty: everything else of the rows (a fold's test rows, scored in
// place).
Data::Dataset SubsetByFold(const Data::Dataset& data,
                           const std::vector<int>& fold,
                           int k,
                           bool inFold,
                           bool values = true);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_FOLDS_H_
