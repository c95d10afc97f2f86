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

// The decisions at a cut (a score above it calls the row +1) against the
// rows labelled +1 and -1.
struct Confusion {
  int tp = 0;  // +1 called +1
  int fn = 0;  // +1 called -1
  int fp = 0;  // -1 called +1
  int tn = 0;  // -1 called -1
  int Total() const { return tp + fn + fp + tn; }
  // (TP + TN) / all; NaN without rows.
  double Accuracy() const;
  // The mean of the two classes' hit rates, TP / (TP + FN) and
  // TN / (TN + FP): 0.5 for any rule that ignores the data. NaN unless both
  // classes have rows.
  double BalancedAccuracy() const;
  // The accuracy of always answering the larger class.
  double MajorityBaseline() const;
};
Confusion ConfusionAbove(const std::vector<double>& scores,
                         const std::vector<double>& labels,
                         double cut);

// The cut with the highest balanced accuracy: the midpoint between two
// neighbouring distinct scores (the lowest such cut of equal ones), rows
// with other labels or NaN scores left out. NaN when a class has no row or
// all scores are equal.
double BalancedAccuracyCut(const std::vector<double>& scores,
                           const std::vector<double>& labels);

}  // namespace Korva::Report

#endif  // KORVA_REPORT_METRICS_H_
