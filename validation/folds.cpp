#include "validation/folds.h"

#include <algorithm>
#include <utility>

#include "data/random.h"

namespace Korva::Validation {

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
  Data::Random random(seed);
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

std::vector<int> GroupFolds(const std::vector<int>& groups,
                            int count,
                            int folds) {
  if (folds < 2 || count < folds) return {};
  if (folds == count) return groups;
  std::vector<int> size(count, 0);
  for (int group : groups) ++size[group];
  std::vector<int> order(count);
  for (int g = 0; g < count; ++g) order[g] = g;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return size[a] > size[b];
  });
  std::vector<int> foldOf(count), filled(folds, 0);
  for (int group : order) {
    const int k = static_cast<int>(
        std::min_element(filled.begin(), filled.end()) - filled.begin());
    foldOf[group] = k;
    filled[k] += size[group];
  }
  std::vector<int> fold(groups.size());
  for (size_t r = 0; r < groups.size(); ++r) fold[r] = foldOf[groups[r]];
  return fold;
}

std::vector<int> BlockFolds(int rows, int folds) {
  if (folds < 2 || rows < folds) return {};
  std::vector<int> fold(rows);
  for (int r = 0; r < rows; ++r)
    fold[r] = static_cast<int>(static_cast<long long>(r) * folds / rows);
  return fold;
}

Data::Dataset SubsetByFold(const Data::Dataset& data,
                           const std::vector<int>& fold,
                           int k,
                           bool inFold,
                           bool values) {
  Data::Dataset subset;
  subset.cols = data.cols;
  subset.names = data.names;
  subset.hasLabels = data.hasLabels;
  for (int r = 0; r < data.rows; ++r) subset.rows += (fold[r] == k) == inFold;
  if (values) subset.X = Data::Values(subset.rows, data.cols);
  const size_t width = data.cols;
  double* to = subset.X.data();
  for (int r = 0; r < data.rows; ++r) {
    if ((fold[r] == k) != inFold) continue;
    if (values) {
      // copy_n, not memcpy: a table without columns has no storage to name.
      std::copy_n(data.X.data() + r * width, width, to);
      to += width;
    }
    if (data.hasLabels) subset.labels.push_back(data.labels[r]);
  }
  if (data.groupColumn.empty()) return subset;
  // The subset's groups numbered again in their order of first appearance,
  // as a reader numbers them, so that its folds are dealt as a file's are.
  subset.groupColumn = data.groupColumn;
  std::vector<int> renumbered(data.groupNames.size(), -1);
  for (int r = 0; r < data.rows; ++r) {
    if ((fold[r] == k) != inFold) continue;
    int& group = renumbered[data.groups[r]];
    if (group < 0) {
      group = static_cast<int>(subset.groupNames.size());
      subset.groupNames.push_back(data.groupNames[data.groups[r]]);
    }
    subset.groups.push_back(group);
  }
  return subset;
}

}  // namespace Korva::Validation
