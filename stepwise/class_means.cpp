#include "stepwise/class_means.h"

#include <cstddef>

namespace Korva {
namespace {

// The class a label stands for: 1 positive, 0 negative, -1 none.
int ClassOf(double label) {
  if (label == 1.0) return 1;
  return label == -1.0 ? 0 : -1;
}

// sum / count per element into a RowVector (sum itself for an empty class,
// whose sums are zero).
NEWMAT::RowVector Mean(const std::vector<double>& sum, int count) {
  const int p = static_cast<int>(sum.size());
  NEWMAT::RowVector mean(p);
  for (int j = 0; j < p; ++j)
    mean.element(j) = count != 0 ? sum[j] / count : sum[j];
  return mean;
}

}  // namespace

ClassMeans MeansOf(const TrainingRows& rows, int p) {
  std::vector<double> sum[2] = {std::vector<double>(p, 0.0),
                                std::vector<double>(p, 0.0)};
  int count[2] = {0, 0};
  for (int i = 0; i < rows.count; ++i) {
    const int c = ClassOf(rows.Label(i));
    if (c < 0) continue;
    const double* row = rows.Row(i);
    double* s = sum[c].data();
    for (int j = 0; j < p; ++j) s[j] += row[j];
    ++count[c];
  }
  return {Mean(sum[1], count[1]), Mean(sum[0], count[0])};
}

// Each row is read once and added to the sums of every block it is not in,
// while it is in cache: the blocks' sums each see their rows in order, as
// MeansOf does.
std::vector<ClassMeans> MeansLeavingOut(const TrainingRows& rows,
                                        int p,
                                        const int* block,
                                        int blocks) {
  std::vector<std::vector<double>> sum(2 * static_cast<std::size_t>(blocks),
                                       std::vector<double>(p, 0.0));
  std::vector<int> count(2 * static_cast<std::size_t>(blocks), 0);
  for (int i = 0; i < rows.count; ++i) {
    const int c = ClassOf(rows.Label(i));
    if (c < 0) continue;
    const double* row = rows.Row(i);
    for (int b = 0; b < blocks; ++b) {
      if (block[i] == b) continue;
      double* s = sum[2 * b + c].data();
      for (int j = 0; j < p; ++j) s[j] += row[j];
      ++count[2 * b + c];
    }
  }
  std::vector<ClassMeans> means;
  for (int b = 0; b < blocks; ++b)
    means.push_back({Mean(sum[2 * b + 1], count[2 * b + 1]),
                     Mean(sum[2 * b], count[2 * b])});
  return means;
}

}  // namespace Korva
