#ifndef KORVA_CLI_FOLD_SUMMARY_H_
#define KORVA_CLI_FOLD_SUMMARY_H_

#include <vector>

#include "cli/fold_runner.h"
#include "report/metrics.h"

namespace Korva::Cli {

// What the folds of an evaluation give together.
struct FoldSummary {
  std::vector<double> aucs;  // per fold, on its test rows; NaN without a class
  std::vector<double> accuracies;            // per fold, at its model's cut
  std::vector<Report::Confusion> decisions;  // per fold, at its model's cut
  Report::Confusion pooled;                  // the folds' decisions together
  // The mean and the sample standard deviation of the AUCs of the aucFolds
  // folds whose test rows hold both classes.
  int aucFolds = 0;
  double meanAuc = 0.0;
  double aucSpread = 0.0;
  double meanAccuracy = 0.0;
  double pooledAuc = 0.0;  // of every out-of-fold score together
  double seconds = 0.0;    // training time of all folds
  double meanSelected = 0.0;
  std::vector<double> pooledScores;  // test scores of the folds, in fold order
  std::vector<double> pooledLabels;  // their labels
  // Per feature: the weight averaged over the folds (0 where a fold did not
  // select it), whether any fold selected it, and in how many folds.
  std::vector<double> meanWeights;
  std::vector<bool> selected;
  std::vector<int> timesSelected;
};

// The summary of successful folds (results[k] belongs to folds[k]) of a set
// with `features` feature columns.
FoldSummary SummarizeFolds(const std::vector<FoldData>& folds,
                           const std::vector<FoldResult>& results,
                           int features);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_FOLD_SUMMARY_H_
