#include "validation/balanced_threshold.h"

#include <cmath>
#include <string>

#include "data/data_checks.h"
#include "report/metrics.h"
#include "validation/folds.h"

namespace Korva::Validation {

double ChooseBalancedCut(const Module& module,
                         const HostKit::SettingsChange& parameters,
                         const Data::Dataset& data,
                         int jobs) {
  const std::vector<int> fold =
      StratifiedFolds(data.labels, kThresholdFolds, kThresholdSeed);
  if (fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw Error(ErrorKind::kData,
                "--threshold balanced needs " +
                    std::to_string(kThresholdFolds) +
                    " rows of each class for its cross-validation, and "
                    "the training set has " +
                    std::to_string(counts.positive) + " labelled +1 and " +
                    std::to_string(counts.negative) + " labelled -1");
  }
  std::vector<FoldData> folds;
  for (int k = 0; k < kThresholdFolds; ++k) {
    std::vector<int> trainRows, testRows;
    for (int r = 0; r < data.rows; ++r)
      (fold[r] == k ? testRows : trainRows).push_back(r);
    folds.push_back(
        {[&data, &fold, k] { return SubsetByFold(data, fold, k, false); },
         0,
         SubsetByFold(data, fold, k, true, false),
         std::move(testRows),
         &data,
         std::move(trainRows)});
  }
  return BalancedCut(folds, RunFolds(module, {parameters, false}, folds, jobs));
}

double BalancedCut(const std::vector<FoldData>& folds,
                   const std::vector<FoldResult>& results) {
  std::vector<double> scores, labels;
  for (size_t k = 0; k < results.size(); ++k) {
    const FoldResult& r = results[k];
    if (!r.Succeeded())
      throw FoldError(r,
                      "choosing the threshold, fold " + std::to_string(k + 1) +
                          " of the training set");
    scores.insert(scores.end(), r.scores.begin(), r.scores.end());
    labels.insert(
        labels.end(), folds[k].test.labels.begin(), folds[k].test.labels.end());
  }
  const double cut = Report::BalancedAccuracyCut(scores, labels);
  if (std::isnan(cut))
    throw Error(ErrorKind::kData,
                "--threshold balanced found no cut: every out-of-fold "
                "score of the training set is the same");
  return cut;
}

}  // namespace Korva::Validation
