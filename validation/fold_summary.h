#ifndef KORVA_VALIDATION_FOLD_SUMMARY_H_
#define KORVA_VALIDATION_FOLD_SUMMARY_H_

// What the folds of a cross-validation give together, and the choice among
// the settings of a grid by their folds.

#include <optional>
#include <vector>

#include "report/metrics.h"
#include "validation/fold_runner.h"

namespace Korva::Validation {

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

// What a tuning chooses by, of folds scored elsewhere: `aucs` (any score,
// NaN for a fold without one) become aucs, aucFolds, meanAuc and aucSpread
// as SummarizeFolds makes them, and the mean of `selected` (the folds'
// numbers of selected features, as many) meanSelected.
FoldSummary SummarizeScores(const std::vector<double>& aucs,
                            const std::vector<double>& selected);

// The standard error of the mean AUC: the spread over the square root of
// the number of folds with both classes; 0 for a single such fold, whose
// AUC has no spread.
double AucStandardError(const FoldSummary& s);

// The settings of a grid (their summaries in grid order; null for a setting
// whose trainings failed) from the best mean AUC down, equal ones in grid
// order; those without a mean AUC (failed, or no fold with both classes)
// last.
std::vector<size_t> RankSettings(const std::vector<const FoldSummary*>& s);

// Each setting's rank as scikit-learn's searches number them: 1 for the
// best mean AUC, equal means the same rank (the first of their places in
// RankSettings), the settings without a mean all the rank after the others.
std::vector<int> RankNumbers(const std::vector<const FoldSummary*>& s);

// The setting a tuning chooses: the best mean AUC (the first in grid order
// among equals), or with `oneSe` the one with the fewest mean selected
// features among those whose mean AUC is at least the best's less its
// standard error, equal counts decided by the higher mean AUC, then by grid
// order. Nothing when no setting has a mean AUC.
std::optional<size_t> ChooseSetting(const std::vector<const FoldSummary*>& s,
                                    bool oneSe);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_FOLD_SUMMARY_H_
