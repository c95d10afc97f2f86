#include "validation/fold_summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Korva::Validation {
namespace {

// aucFolds, meanAuc and aucSpread of s.aucs, the folds' AUCs.
void SummarizeAucs(FoldSummary& s) {
  const double n = static_cast<double>(s.aucs.size());
  std::vector<double> aucs;
  for (double a : s.aucs)
    if (!std::isnan(a)) aucs.push_back(a);
  s.aucFolds = static_cast<int>(aucs.size());
  const double m = static_cast<double>(aucs.size());
  s.meanAuc = std::accumulate(aucs.begin(), aucs.end(), 0.0) / m;
  s.aucSpread = 0.0;
  for (double a : aucs) s.aucSpread += (a - s.meanAuc) * (a - s.meanAuc);
  // One AUC has no spread; a single test set reports 0 all the same.
  s.aucSpread = m > 1                ? std::sqrt(s.aucSpread / (m - 1))
                : m == 1 && n == 1.0 ? 0.0
                                     : NAN;
}

}  // namespace

FoldSummary SummarizeFolds(const std::vector<FoldData>& folds,
                           const std::vector<FoldResult>& results,
                           int features) {
  FoldSummary s;
  double selected = 0.0;
  for (size_t k = 0; k < results.size(); ++k) {
    const std::vector<double>& labels = folds[k].test.labels;
    s.aucs.push_back(Report::Auc(results[k].scores, labels));
    const Report::Confusion c =
        Report::ConfusionAbove(results[k].scores, labels, results[k].cut);
    s.decisions.push_back(c);
    s.accuracies.push_back(c.Accuracy());
    s.pooled.tp += c.tp;
    s.pooled.fn += c.fn;
    s.pooled.fp += c.fp;
    s.pooled.tn += c.tn;
    s.pooledScores.insert(s.pooledScores.end(),
                          results[k].scores.begin(),
                          results[k].scores.end());
    s.pooledLabels.insert(s.pooledLabels.end(), labels.begin(), labels.end());
    s.seconds += results[k].seconds;
    selected += results[k].SelectedCount();
  }
  const double n = static_cast<double>(results.size());
  SummarizeAucs(s);
  s.meanAccuracy =
      std::accumulate(s.accuracies.begin(), s.accuracies.end(), 0.0) / n;
  s.pooledAuc = Report::Auc(s.pooledScores, s.pooledLabels);
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

FoldSummary SummarizeScores(const std::vector<double>& aucs,
                            const std::vector<double>& selected) {
  FoldSummary s;
  s.aucs = aucs;
  SummarizeAucs(s);
  s.meanSelected = std::accumulate(selected.begin(), selected.end(), 0.0) /
                   static_cast<double>(selected.size());
  return s;
}

double AucStandardError(const FoldSummary& s) {
  if (s.aucFolds <= 1) return 0.0;
  return s.aucSpread / std::sqrt(static_cast<double>(s.aucFolds));
}

namespace {

bool HasAuc(const FoldSummary* s) { return s && !std::isnan(s->meanAuc); }

}  // namespace

std::vector<size_t> RankSettings(const std::vector<const FoldSummary*>& s) {
  std::vector<size_t> order(s.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (HasAuc(s[a]) != HasAuc(s[b])) return HasAuc(s[a]);
    return HasAuc(s[a]) && s[a]->meanAuc > s[b]->meanAuc;
  });
  return order;
}

std::vector<int> RankNumbers(const std::vector<const FoldSummary*>& s) {
  const std::vector<size_t> order = RankSettings(s);
  std::vector<int> rank(s.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const FoldSummary* a = s[order[i]];
    const FoldSummary* b = i ? s[order[i - 1]] : nullptr;
    const bool tied = i > 0 && HasAuc(a) == HasAuc(b) &&
                      (!HasAuc(a) || a->meanAuc == b->meanAuc);
    rank[order[i]] = tied ? rank[order[i - 1]] : static_cast<int>(i) + 1;
  }
  return rank;
}

std::optional<size_t> ChooseSetting(const std::vector<const FoldSummary*>& s,
                                    bool oneSe) {
  const std::vector<size_t> order = RankSettings(s);
  if (order.empty() || !HasAuc(s[order[0]])) return std::nullopt;
  const size_t best = order[0];
  if (!oneSe) return best;
  const double floor = s[best]->meanAuc - AucStandardError(*s[best]);
  size_t chosen = best;
  // In ranking order, so that among equal counts the higher mean AUC, then
  // the earlier setting, stays chosen.
  for (size_t i : order)
    if (HasAuc(s[i]) && s[i]->meanAuc >= floor &&
        s[i]->meanSelected < s[chosen]->meanSelected)
      chosen = i;
  return chosen;
}

}  // namespace Korva::Validation
