#include "weighted/class_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "platform/huge_pages.h"

namespace {

// Sample variance of n contiguous values; -1.0 signals fewer than two.
double SampleVariance(const double* v, int n) {
  if (n < 2) return -1.0;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += v[i];
  const double mean = sum / n;
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += std::pow(v[i] - mean, 2.0);
  return s / (n - 1.0);
}

}  // namespace

int GetMatrixByLabel(NEWMAT::Matrix& out,
                     const NEWMAT::Matrix& data,
                     const NEWMAT::ColumnVector& labels,
                     double label) {
  const int m = data.Ncols();
  // A label without a data row is the caller's error; it is skipped rather
  // than read past the end of the data.
  const int scanned = std::min(labels.Nrows(), data.Nrows());
  int k = 0;
  for (int i = 0; i < scanned; ++i)
    if (labels.element(i) == label) ++k;
  // Every row is copied below, so the block is not cleared first.
  if (out.Nrows() != k || out.Ncols() != m) {
    out.ReSize(k, m);
    Korva::AdviseHugePages(
        out.Store(), static_cast<std::size_t>(out.Storage()) * sizeof(double));
  }
  int r = 0;
  for (int i = 0; i < scanned; ++i) {
    if (labels.element(i) != label) continue;
    const double* source = data.Store() + static_cast<long>(i) * m;
    std::copy(source, source + m, out.Store() + static_cast<long>(r) * m);
    ++r;
  }
  return out.Nrows();
}

int GetFeaturesMean(NEWMAT::RowVector& mean, const NEWMAT::Matrix& data) {
  const int n = data.Nrows();
  const int m = data.Ncols();
  mean.ReSize(m);
  mean = 0.0;
  // Row by row: each column's sum takes the same additions in the same order
  // as summing the column alone, in one pass over the data instead of one
  // strided copy per column.
  double* sum = mean.Store();
  for (int i = 0; i < n; ++i) {
    const double* row = data.Store() + static_cast<long>(i) * m;
    for (int j = 0; j < m; ++j) sum[j] += row[j];
  }
  // Divided element by element (NEWMAT's /= multiplies by the reciprocal).
  if (n != 0)
    for (int j = 0; j < m; ++j) mean.element(j) /= n;
  return n;
}

int GetCovariance(NEWMAT::Matrix& cov, const NEWMAT::Matrix& data) {
  const int m = data.Ncols();
  const int n = data.Nrows();
  NEWMAT::RowVector mean;
  GetFeaturesMean(mean, data);
  NEWMAT::Matrix C = data;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) C.element(i, j) -= mean.element(j);
  cov.ReSize(m, m);
  cov = 0.0;
  cov = C.t() * C;
  // Unbiased: n - 1, which for a single row is 0 and gives NaN (0 / 0).
  double* c = cov.Store();
  for (long i = 0; i < static_cast<long>(m) * m; ++i) c[i] /= (n - 1.0);
  return cov.Nrows();
}

double GetVariance(const NEWMAT::RowVector& v) {
  return SampleVariance(v.Store(), v.Ncols());
}

double GetVariance(const NEWMAT::ColumnVector& v) {
  return SampleVariance(v.Store(), v.Nrows());
}
