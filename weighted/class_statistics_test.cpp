#include "weighted/class_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

NEWMAT::Matrix MakeMatrix(int rows, int cols, const std::vector<double>& v) {
  NEWMAT::Matrix m(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m.element(i, j) = v[i * cols + j];
  return m;
}

NEWMAT::ColumnVector MakeColumn(const std::vector<double>& v) {
  NEWMAT::ColumnVector c(static_cast<int>(v.size()));
  for (int i = 0; i < c.Nrows(); ++i) c.element(i) = v[i];
  return c;
}

TEST(GetMatrixByLabel, SelectsRowsInDataOrder) {
  const NEWMAT::Matrix data = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
  const NEWMAT::ColumnVector labels = MakeColumn({1.0, -1.0, 1.0});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 2);
  ASSERT_EQ(out.Nrows(), 2);
  ASSERT_EQ(out.Ncols(), 2);
  EXPECT_EQ(out.element(0, 0), 1);
  EXPECT_EQ(out.element(0, 1), 2);
  EXPECT_EQ(out.element(1, 0), 5);
  EXPECT_EQ(out.element(1, 1), 6);
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, -1.0), 1);
  EXPECT_EQ(out.element(0, 0), 3);
  EXPECT_EQ(out.element(0, 1), 4);
}

TEST(GetMatrixByLabel, ExactEqualityOnly) {
  const NEWMAT::Matrix data = MakeMatrix(4, 1, {10, 20, 30, 40});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const NEWMAT::ColumnVector labels =
      MakeColumn({std::nextafter(1.0, 2.0), 1.0, nan, 2.0});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 1);
  EXPECT_EQ(out.element(0, 0), 20);
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, nan), 0) << "NaN never matches";
  EXPECT_EQ(out.Nrows(), 0);
  EXPECT_EQ(out.Ncols(), 1);
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, -1.0), 0);
}

TEST(GetMatrixByLabel, ReusesARightShapedOutputAndOverwritesIt) {
  const NEWMAT::Matrix data = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
  const NEWMAT::ColumnVector labels = MakeColumn({0.0, 7.0, 7.0});
  NEWMAT::Matrix out(2, 2);
  out = 99.0;
  const double* store = out.Store();
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 7.0), 2);
  EXPECT_EQ(out.Store(), store) << "no reallocation for the right shape";
  EXPECT_EQ(out.element(0, 0), 3);
  EXPECT_EQ(out.element(1, 1), 6);
}

// A label column longer than the data is a caller error: the extra labels are
// not scanned, so no row past the data is read (ASan would catch it).
TEST(GetMatrixByLabel, LabelsLongerThanDataScanOnlyExistingRows) {
  const NEWMAT::Matrix data = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
  const NEWMAT::ColumnVector labels = MakeColumn({1, 1, 1, 1, 1});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 2);
  EXPECT_EQ(out.element(1, 2), 6);
}

TEST(GetMatrixByLabel, LabelsShorterThanDataIgnoreTheRest) {
  const NEWMAT::Matrix data = MakeMatrix(3, 1, {1, 2, 3});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, MakeColumn({1.0}), 1.0), 1);
  EXPECT_EQ(out.element(0, 0), 1);
}

TEST(GetFeaturesMean, ColumnMeansAndZerosForNoRows) {
  NEWMAT::RowVector mean;
  EXPECT_EQ(GetFeaturesMean(mean, MakeMatrix(3, 2, {1, -2, 2, 4, 6, 1})), 3);
  ASSERT_EQ(mean.Ncols(), 2);
  EXPECT_DOUBLE_EQ(mean.element(0), 3.0);
  EXPECT_DOUBLE_EQ(mean.element(1), 1.0);

  mean.ReSize(7);
  mean = 5.0;
  EXPECT_EQ(GetFeaturesMean(mean, NEWMAT::Matrix(0, 4)), 0);
  ASSERT_EQ(mean.Ncols(), 4);
  for (int j = 0; j < 4; ++j) EXPECT_EQ(mean.element(j), 0.0);
}

TEST(GetCovariance, DividesByNMinusOne) {
  NEWMAT::Matrix cov;
  EXPECT_EQ(GetCovariance(cov, MakeMatrix(2, 2, {1, 2, 3, 4})), 2);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_DOUBLE_EQ(cov.element(i, j), 2.0);
}

TEST(GetCovariance, SingleRowIsNaN) {
  NEWMAT::Matrix cov;
  EXPECT_EQ(GetCovariance(cov, MakeMatrix(1, 3, {1, 2, 3})), 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_TRUE(std::isnan(cov.element(i, j)));
}

// Against the textbook one-pass formula on random correlated data:
// cov(a, b) = (Σ a b - n ā b̄) / (n - 1), in long double.
TEST(GetCovariance, MatchesAnIndependentFormulaOnRandomData) {
  std::mt19937 rng(7);
  std::normal_distribution<double> normal;
  const int n = 40;
  const int m = 4;
  NEWMAT::Matrix data(n, m);
  for (int i = 0; i < n; ++i) {
    const double shared = normal(rng);
    for (int j = 0; j < m; ++j)
      data.element(i, j) = 3.0 * j + shared + 0.5 * normal(rng);
  }
  NEWMAT::Matrix cov;
  ASSERT_EQ(GetCovariance(cov, data), m);
  for (int a = 0; a < m; ++a) {
    for (int b = 0; b < m; ++b) {
      long double sa = 0, sb = 0, sab = 0;
      for (int i = 0; i < n; ++i) {
        sa += data.element(i, a);
        sb += data.element(i, b);
        sab +=
            static_cast<long double>(data.element(i, a)) * data.element(i, b);
      }
      const long double expected = (sab - sa * sb / n) / (n - 1);
      EXPECT_NEAR(cov.element(a, b), static_cast<double>(expected), 1e-12)
          << a << ", " << b;
    }
  }
}

TEST(GetVariance, BothOverloads) {
  NEWMAT::RowVector row(4);
  row << 1 << 2 << 3 << 4;
  NEWMAT::ColumnVector column(4);
  column << 1 << 2 << 3 << 4;
  EXPECT_DOUBLE_EQ(GetVariance(row), 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(GetVariance(column), 5.0 / 3.0);
  EXPECT_EQ(GetVariance(NEWMAT::RowVector(1)), -1.0);
  EXPECT_EQ(GetVariance(NEWMAT::ColumnVector(1)), -1.0);
  EXPECT_EQ(GetVariance(NEWMAT::RowVector(0)), -1.0);
  EXPECT_EQ(GetVariance(NEWMAT::ColumnVector(0)), -1.0);
  NEWMAT::ColumnVector same(3);
  same = 2.5;
  EXPECT_EQ(GetVariance(same), 0.0);
}

}  // namespace
