#ifndef KORVA_REPORT_METRICS_H_
#define KORVA_REPORT_METRICS_H_

#include <vector>

namespace Korva::Report {

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

}  // namespace Korva::Report

#endif  // KORVA_REPORT_METRICS_H_
