#include "data/folds.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "data/random.h"

namespace Korva::Data {

std::vector<int> StratifiedFolds(const std::vector<double>& labels,
                                 int folds,
                                 std::uint64_t seed) {
  std::vector<int> positive, negative, other;
  for (size_t i = 0; i < labels.size(); ++i) {
    const int row = static_cast<int>(i);
    if (labels[i] == 1.0)
      positive.push_back(row);
    else if (labels[i] == -1.0)
      negative.push_back(row);
    else
      other.push_back(row);
  }
  if (folds < 2 || static_cast<int>(positive.size()) < folds ||
      static_cast<int>(negative.size()) < folds)
    return {};
  Random random(seed);
  std::vector<int> fold(labels.size(), 0);
  // One running position over all groups, so that each fold's size differs
  // from the others' by at most one row overall.
  int next = 0;
  for (std::vector<int>* group : {&positive, &negative, &other}) {
    for (size_t i = group->size(); i > 1; --i)
      std::swap((*group)[i - 1], (*group)[random.Below(i)]);
    for (int row : *group) fold[row] = next++ % folds;
  }
  return fold;
}

std::vector<int> GroupFolds(const std::vector<double>& groups, int folds) {
  std::vector<double> order;  // the groups in order of first appearance
  std::map<double, std::vector<int>> rows;
  for (size_t i = 0; i < groups.size(); ++i) {
    std::vector<int>& members = rows[groups[i]];
    if (members.empty()) order.push_back(groups[i]);
    members.push_back(static_cast<int>(i));
  }
  if (folds < 2 || static_cast<int>(order.size()) < folds) return {};
  std::stable_sort(order.begin(), order.end(), [&](double a, double b) {
    return rows[a].size() > rows[b].size();
  });
  std::vector<int> fold(groups.size()), filled(folds, 0);
  for (double group : order) {
    const int k = static_cast<int>(
        std::min_element(filled.begin(), filled.end()) - filled.begin());
    for (int row : rows[group]) fold[row] = k;
    filled[k] += static_cast<int>(rows[group].size());
  }
  return fold;
}

std::vector<int> BlockFolds(int rows, int folds) {
  if (folds < 2 || rows < folds) return {};
  std::vector<int> fold(rows);
  for (int r = 0; r < rows; ++r)
    fold[r] = static_cast<int>(static_cast<long long>(r) * folds / rows);
  return fold;
}

Dataset SubsetByFold(const Dataset& data,
                     const std::vector<int>& fold,
                     int k,
                     bool inFold) {
  Dataset subset;
  subset.cols = data.cols;
  subset.names = data.names;
  subset.hasLabels = data.hasLabels;
  for (int r = 0; r < data.rows; ++r) subset.rows += (fold[r] == k) == inFold;
  subset.X = Values(subset.rows, data.cols);
  const size_t width = data.cols;
  double* to = subset.X.data();
  for (int r = 0; r < data.rows; ++r) {
    if ((fold[r] == k) != inFold) continue;
    std::memcpy(to, data.X.data() + r * width, width * sizeof(double));
    to += width;
    if (data.hasLabels) subset.labels.push_back(data.labels[r]);
  }
  return subset;
}

}  // namespace Korva::Data
