// The threshold chosen for balanced accuracy by a cross-validation of the
// training set (declared in fold_runner.h, whose folds it runs).
#include <cmath>

#include "cli/exit_status.h"
#include "cli/fold_runner.h"
#include "data/data_checks.h"
#include "data/folds.h"
#include "report/metrics.h"

namespace Korva::Cli {

double ChooseBalancedCut(const Module& module,
                         const HostKit::SettingsChange& parameters,
                         const Data::Dataset& data,
                         int jobs) {
  const std::vector<int> fold =
      Data::StratifiedFolds(data.labels, kThresholdFolds, kThresholdSeed);
  if (fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw CliError(kExitData,
                   "--threshold balanced needs " +
                       std::to_string(kThresholdFolds) +
                       " rows of each class for its cross-validation, and "
                       "the training set has " +
                       std::to_string(counts.positive) + " labelled +1 and " +
                       std::to_string(counts.negative) + " labelled -1");
  }
  std::vector<FoldData> folds;
  for (int k = 0; k < kThresholdFolds; ++k)
    folds.push_back(
        {[&data, &fold, k] { return Data::SubsetByFold(data, fold, k, false); },
         0,
         Data::SubsetByFold(data, fold, k, true),
         {}});
  const std::vector<FoldResult> results =
      RunFolds(module, {parameters, false}, folds, jobs);
  std::vector<double> scores, labels;
  for (size_t k = 0; k < results.size(); ++k) {
    const FoldResult& r = results[k];
    if (!r.Succeeded())
      throw CliError(r.threw ? kExitTrainingException : kExitTrainingFailed,
                     "choosing the threshold, fold " + std::to_string(k + 1) +
                         " of the training set: " + r.failure);
    scores.insert(scores.end(), r.scores.begin(), r.scores.end());
    labels.insert(
        labels.end(), folds[k].test.labels.begin(), folds[k].test.labels.end());
  }
  const double cut = Report::BalancedAccuracyCut(scores, labels);
  if (std::isnan(cut))
    throw CliError(kExitData,
                   "--threshold balanced found no cut: every out-of-fold "
                   "score of the training set is the same");
  return cut;
}

}  // namespace Korva::Cli
