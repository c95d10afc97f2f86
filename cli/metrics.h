#ifndef KORVA_CLI_METRICS_H_
#define KORVA_CLI_METRICS_H_

#include <cstdint>
#include <vector>

namespace Korva::Cli {

// Area under the ROC curve of `scores` (one per row) for the rows labelled +1
// against those labelled -1; rows with other labels are left out. Equals
// P(s+ > s-) + P(s+ = s-) / 2 over all (+1, -1) pairs. NaN when a class has
// no row or a score is NaN. The two vectors must have the same length.
double Auc(const std::vector<double>& scores,
           const std::vector<double>& labels);

// A point of a ROC curve: false and true positive rates.
struct RocPoint {
  double fpr;
  double tpr;
};

// The ROC curve from (0, 0) to (1, 1), one point per distinct score (tied
// scores make one diagonal step). Empty when a class has no row.
std::vector<RocPoint> RocCurve(const std::vector<double>& scores,
                               const std::vector<double>& labels);

// Share of the rows labelled +1 or -1 whose predicted class, +1 for a score
// above 0 and -1 otherwise, equals the label. NaN when there is no such row.
double SignAccuracy(const std::vector<double>& scores,
                    const std::vector<double>& labels);

// The fold (0 .. folds-1) of each row for stratified K-fold cross-validation:
// the rows of each label value (+1, -1, other) are shuffled with `seed` and
// dealt to the folds in turn, so every fold holds each class in the same
// proportion within one row. Needs folds >= 2 and at least `folds` rows of +1
// and of -1; otherwise returns an empty vector.
std::vector<int> StratifiedFolds(const std::vector<double>& labels,
                                 int folds,
                                 std::uint64_t seed);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_METRICS_H_
