#include "data/folds.h"

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

Dataset SubsetByFold(const Dataset& data,
                     const std::vector<int>& fold,
                     int k,
                     bool inFold) {
  Dataset subset;
  subset.cols = data.cols;
  subset.names = data.names;
  subset.hasLabels = data.hasLabels;
  for (int r = 0; r < data.rows; ++r) {
    if ((fold[r] == k) != inFold) continue;
    const auto row = data.X.begin() + static_cast<size_t>(r) * data.cols;
    subset.X.insert(subset.X.end(), row, row + data.cols);
    if (data.hasLabels) subset.labels.push_back(data.labels[r]);
    ++subset.rows;
  }
  return subset;
}

}  // namespace Korva::Data
