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

std::vector<double> Elements(const NEWMAT::Matrix& m) {
  return std::vector<double>(m.Store(), m.Store() + m.Storage());
}

// Rows whose label equals the requested one exactly, in data order; NaN and
// a label one ulp away never match.
TEST(GetMatrixByLabel, SelectsRowsByExactLabelInDataOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const NEWMAT::Matrix data = MakeMatrix(5, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0});
  const NEWMAT::ColumnVector labels =
      MakeColumn({1.0, -1.0, 1.0, std::nextafter(1.0, 2.0), nan});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 2);
  EXPECT_EQ(Elements(out), (std::vector<double>{1, 2, 5, 6}));
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, -1.0), 1);
  EXPECT_EQ(Elements(out), (std::vector<double>{3, 4}));
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, nan), 0);
  EXPECT_EQ(out.Nrows(), 0);
  EXPECT_EQ(out.Ncols(), 2);
}

TEST(GetMatrixByLabel, ReusesARightShapedOutputAndOverwritesIt) {
  const NEWMAT::Matrix data = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
  NEWMAT::Matrix out(2, 2);
  out = 99.0;
  const double* store = out.Store();
  EXPECT_EQ(GetMatrixByLabel(out, data, MakeColumn({0.0, 7.0, 7.0}), 7.0), 2);
  EXPECT_EQ(out.Store(), store);
  EXPECT_EQ(Elements(out), (std::vector<double>{3, 4, 5, 6}));
}

// A label column of another length than the data is a caller error: only
// rows that exist on both sides are scanned (ASan would catch a read past
// the data).
TEST(GetMatrixByLabel, LabelsOfAnotherLengthReadOnlyExistingRows) {
  const NEWMAT::Matrix data = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, MakeColumn({1, 1, 1, 1, 1}), 1.0), 2);
  EXPECT_EQ(out.element(1, 2), 6);
  EXPECT_EQ(GetMatrixByLabel(out, data, MakeColumn({1.0}), 1.0), 1);
  EXPECT_EQ(Elements(out), (std::vector<double>{1, 2, 3}));
}

TEST(GetFeaturesMean, ColumnMeansAndZerosForNoRows) {
  NEWMAT::RowVector mean;
  EXPECT_EQ(GetFeaturesMean(mean, MakeMatrix(3, 2, {1, -2, 2, 4, 6, 1})), 3);
  EXPECT_EQ(Elements(mean), (std::vector<double>{3.0, 1.0}));
  mean.ReSize(7);
  mean = 5.0;
  EXPECT_EQ(GetFeaturesMean(mean, NEWMAT::Matrix(0, 4)), 0);
  EXPECT_EQ(Elements(mean), std::vector<double>(4, 0.0));
}

// Against the textbook one-pass formula in long double on random correlated
// data, cov(a, b) = (Σ a b - Σ a Σ b / n) / (n - 1); for (1, 2), (3, 4) every
// element is 2; a single row divides 0 by 0.
TEST(GetCovariance, SampleCovarianceDividesByNMinusOne) {
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
  EXPECT_EQ(GetCovariance(cov, MakeMatrix(2, 2, {1, 2, 3, 4})), 2);
  EXPECT_EQ(Elements(cov), std::vector<double>(4, 2.0));
  EXPECT_EQ(GetCovariance(cov, MakeMatrix(1, 3, {1, 2, 3})), 3);
  for (double c : Elements(cov)) EXPECT_TRUE(std::isnan(c));
}

TEST(GetVariance, SampleVarianceOrMinusOneForFewerThanTwo) {
  NEWMAT::RowVector row(4);
  row << 1 << 2 << 3 << 4;
  EXPECT_DOUBLE_EQ(GetVariance(row), 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(GetVariance(NEWMAT::ColumnVector(row.t())), 5.0 / 3.0);
  for (int n : {0, 1}) {
    EXPECT_EQ(GetVariance(NEWMAT::RowVector(n)), -1.0);
    EXPECT_EQ(GetVariance(NEWMAT::ColumnVector(n)), -1.0);
  }
  NEWMAT::ColumnVector same(3);
  same = 2.5;
  EXPECT_EQ(GetVariance(same), 0.0);
}

}  // namespace
