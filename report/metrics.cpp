#include "report/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace Korva::Report {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// (score, +1 or -1) of the rows in the two classes, by ascending score.
std::vector<std::pair<double, int>> SortedClassScores(
    const std::vector<double>& scores,
    const std::vector<double>& labels,
    bool& hasNaN) {
  std::vector<std::pair<double, int>> pairs;
  hasNaN = false;
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i) {
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    if (std::isnan(scores[i])) hasNaN = true;
    pairs.emplace_back(scores[i], labels[i] == 1.0 ? 1 : -1);
  }
  if (!hasNaN) std::sort(pairs.begin(), pairs.end());
  return pairs;
}

}  // namespace

double Auc(const std::vector<double>& scores,
           const std::vector<double>& labels) {
  bool hasNaN = false;
  const auto pairs = SortedClassScores(scores, labels, hasNaN);
  if (hasNaN) return kNaN;
  // Mann-Whitney: AUC = (R+ - n+(n+ + 1)/2) / (n+ n-), R+ the sum of the
  // positive rows' ranks, tied scores sharing the mean of their ranks.
  double rankSum = 0.0;
  double positives = 0.0;
  for (size_t i = 0; i < pairs.size();) {
    size_t j = i;
    while (j < pairs.size() && pairs[j].first == pairs[i].first) ++j;
    const double meanRank = 0.5 * static_cast<double>(i + 1 + j);
    for (size_t k = i; k < j; ++k) {
      if (pairs[k].second == 1) {
        rankSum += meanRank;
        positives += 1.0;
      }
    }
    i = j;
  }
  const double negatives = static_cast<double>(pairs.size()) - positives;
  if (positives == 0.0 || negatives == 0.0) return kNaN;
  return (rankSum - positives * (positives + 1.0) / 2.0) /
         (positives * negatives);
}

std::vector<RocPoint> RocCurve(const std::vector<double>& scores,
                               const std::vector<double>& labels) {
  bool hasNaN = false;
  auto pairs = SortedClassScores(scores, labels, hasNaN);
  std::vector<RocPoint> curve;
  if (hasNaN) return curve;
  double P = 0.0, N = 0.0;
  for (const auto& pair : pairs) (pair.second == 1 ? P : N) += 1.0;
  if (P == 0.0 || N == 0.0) return curve;
  // Lower the threshold from above the highest score: every group of tied
  // scores moves the point at once.
  curve.push_back({0.0, 0.0});
  double tp = 0.0, fp = 0.0;
  for (size_t i = pairs.size(); i > 0;) {
    size_t j = i;
    while (j > 0 && pairs[j - 1].first == pairs[i - 1].first) {
      (pairs[j - 1].second == 1 ? tp : fp) += 1.0;
      --j;
    }
    curve.push_back({fp / N, tp / P});
    i = j;
  }
  return curve;
}

double Confusion::Accuracy() const {
  return Total() > 0 ? static_cast<double>(tp + tn) / Total() : kNaN;
}

double Confusion::BalancedAccuracy() const {
  if (tp + fn == 0 || tn + fp == 0) return kNaN;
  return 0.5 * (static_cast<double>(tp) / (tp + fn) +
                static_cast<double>(tn) / (tn + fp));
}

double Confusion::MajorityBaseline() const {
  return Total() > 0 ? static_cast<double>(std::max(tp + fn, tn + fp)) / Total()
                     : kNaN;
}

Confusion ConfusionAbove(const std::vector<double>& scores,
                         const std::vector<double>& labels,
                         double cut) {
  Confusion c;
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i) {
    const bool called = scores[i] > cut;
    if (labels[i] == 1.0) ++(called ? c.tp : c.fn);
    if (labels[i] == -1.0) ++(called ? c.fp : c.tn);
  }
  return c;
}

double BalancedAccuracyCut(const std::vector<double>& scores,
                           const std::vector<double>& labels) {
  std::vector<std::pair<double, int>> pairs;
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i)
    if ((labels[i] == 1.0 || labels[i] == -1.0) && !std::isnan(scores[i]))
      pairs.emplace_back(scores[i], labels[i] == 1.0 ? 1 : -1);
  std::sort(pairs.begin(), pairs.end());
  double P = 0.0, N = 0.0;
  for (const auto& pair : pairs) (pair.second == 1 ? P : N) += 1.0;
  if (P == 0.0 || N == 0.0) return kNaN;
  // Raise the cut past one group of tied scores at a time: the rows below it
  // are called -1.
  double fn = 0.0, tn = 0.0, best = -1.0, cut = kNaN;
  for (size_t i = 0; i < pairs.size();) {
    size_t j = i;
    for (; j < pairs.size() && pairs[j].first == pairs[i].first; ++j)
      (pairs[j].second == 1 ? fn : tn) += 1.0;
    if (j == pairs.size()) break;
    const double balanced = 0.5 * ((P - fn) / P + tn / N);
    if (balanced > best) {
      best = balanced;
      cut = pairs[i].first + 0.5 * (pairs[j].first - pairs[i].first);
    }
    i = j;
  }
  return cut;
}

}  // namespace Korva::Report
