#ifndef KORVA_DATA_DATA_CHECKS_H_
#define KORVA_DATA_DATA_CHECKS_H_

#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"

namespace Korva::Data {

// How many rows carry each kind of label.
struct LabelCounts {
  int positive = 0;  // +1
  int negative = 0;  // -1
  int other = 0;     // any other value
};

// Counts the labels of `data` (all zero when it has none).
LabelCounts CountLabels(const Dataset& data);

// Makes the labels of `data` the classifier's two classes: with `target`,
// rows labelled `target` become +1 and every other row -1; without, every
// label must already be +1 or -1. DataError starting with `what` for a
// `target` that no row has, or for other labels, naming the values found
// with their counts and the option --target-label that says which is the
// target. Nothing to do for a set without labels.
void SetClasses(Dataset& data,
                std::optional<double> target,
                const std::string& what);

// A feature column that cannot help a linear classifier.
struct UselessColumn {
  enum Kind { kAllZero, kConstant, kDuplicate, kOverflowing };
  int column = 0;  // 0-based feature index
  Kind kind = kConstant;
  double value = 0.0;    // the constant value (kAllZero, kConstant), or
                         // the largest magnitude (kOverflowing)
  int duplicateOf = -1;  // 0-based index of the earlier equal column
};

// Constant (all-zero ones reported as such) columns, exact duplicates of an
// earlier non-constant column, and columns whose sum of squares overflows a
// double (training would get no p-value for them), in column order.
std::vector<UselessColumn> FindUselessColumns(const Dataset& data);

// One warning per kind of useless column, naming at most `listed` columns
// each as "feature N (name)", 1-based like the training messages.
std::vector<std::string> DescribeUselessColumns(
    const Dataset& data,
    const std::vector<UselessColumn>& columns,
    size_t listed = 12);

// The feature columns that hold codes rather than measurements: every value
// a whole number of magnitude up to 65535, at most 32 distinct ones (a copy
// of the labels, a stimulus or trigger channel, a group number).
std::vector<int> CodeColumns(const Dataset& data);

// For each of the `wanted` names, its position in `given`, when both hold the
// same distinct names in any order; nothing when they differ or repeat.
std::optional<std::vector<int>> MatchNames(
    const std::vector<std::string>& wanted,
    const std::vector<std::string>& given);

// The columns `order` of `data`, in that order.
Dataset SelectColumns(const Dataset& data, const std::vector<int>& order);

// "feature N (name)", or "feature N" when the column has no name.
std::string FeatureLabel(const Dataset& data, int column);

}  // namespace Korva::Data

#endif  // KORVA_DATA_DATA_CHECKS_H_
