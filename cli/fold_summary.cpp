#include "cli/fold_summary.h"

#include <cmath>
#include <numeric>

#include "report/metrics.h"

namespace Korva::Cli {

FoldSummary SummarizeFolds(const std::vector<FoldData>& folds,
                           const std::vector<FoldResult>& results,
                           int features) {
  FoldSummary s;
  double selected = 0.0;
  for (size_t k = 0; k < results.size(); ++k) {
    const std::vector<double>& labels = folds[k].test.labels;
    s.aucs.push_back(Report::Auc(results[k].scores, labels));
    s.decisions.push_back(Report::ConfusionAtZero(results[k].scores, labels));
    s.accuracies.push_back(s.decisions.back().Accuracy());
    s.pooledScores.insert(s.pooledScores.end(),
                          results[k].scores.begin(),
                          results[k].scores.end());
    s.pooledLabels.insert(s.pooledLabels.end(), labels.begin(), labels.end());
    s.seconds += results[k].seconds;
    selected += results[k].SelectedCount();
  }
  const double n = static_cast<double>(results.size());
  s.meanAuc = std::accumulate(s.aucs.begin(), s.aucs.end(), 0.0) / n;
  for (double a : s.aucs) s.aucSpread += (a - s.meanAuc) * (a - s.meanAuc);
  s.aucSpread = n > 1 ? std::sqrt(s.aucSpread / (n - 1)) : 0.0;
  s.meanAccuracy =
      std::accumulate(s.accuracies.begin(), s.accuracies.end(), 0.0) / n;
  s.pooledAuc = Report::Auc(s.pooledScores, s.pooledLabels);
  s.pooled = Report::ConfusionAtZero(s.pooledScores, s.pooledLabels);
  s.meanSelected = selected / n;

  s.meanWeights.assign(features, 0.0);
  s.selected.assign(features, false);
  s.timesSelected.assign(features, 0);
  for (const FoldResult& r : results) {
    for (int i = 0; i < features && i < static_cast<int>(r.weights.size());
         ++i) {
      if (!r.selected[i]) continue;
      s.selected[i] = true;
      s.meanWeights[i] += r.weights[i] / n;
      ++s.timesSelected[i];
    }
  }
  return s;
}

}  // namespace Korva::Cli
