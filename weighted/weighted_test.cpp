// The linear classifier layer: scoring, ranking and inversion, the class
// statistics, and the report texts and weight file as a host receives them
// (the host's text first, then the layer's, then DOZOD's).
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <vector>

#include "testing/dozod_probe.h"
#include "testing/files.h"
#include "testing/ols_reference.h"
#include "weighted/class_statistics.h"

namespace Korva::Testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

NEWMAT::RowVector Row(const std::vector<double>& values) {
  return MatrixOf(1, static_cast<int>(values.size()), values);
}

std::vector<double> Elements(const NEWMAT::Matrix& m) {
  return std::vector<double>(m.Store(), m.Store() + m.Storage());
}

// wᵀx + W0, or sqrt(|x - w|² + W0) in the distance form; -1 for a row of
// another length; best first by the form.
TEST(WeightedClassifier, ScoresAndRanksByItsForm) {
  DozodProbe c;
  c.SetResult({true, true}, {1, 2}, 0.5);
  EXPECT_EQ(c.GetScore(Row({3, 4})), 11.5);
  EXPECT_EQ(c.GetScore(Row({3})), -1.0);
  ScoreList list = {{"a", 0.2}, {"b", 0.9}};
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "b");
  c.SetScalar(false);
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "a");
  c.SetBias(11.0);
  EXPECT_EQ(c.GetScore(Row({4, 6})), 6.0);
}

// Normal mode raises the library's exception for a singular matrix; the
// regular inverse is a left inverse of a tall matrix; SVD mode gives the
// Moore-Penrose inverse of any shape (A G A = A, G A G = G; for rank one
// A⁺ = A / ‖A‖_F², here 14 · 14). Neither the exception nor a mode that
// selects no method touches the output.
TEST(WeightedClassifier, InvertsByItsMode) {
  DozodProbe c;
  const NEWMAT::Matrix A = MatrixOf(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  const NEWMAT::Matrix tall = MatrixOf(3, 2, {1, 2, 3, 4, 5, 7});
  const NEWMAT::Matrix rankOne = MatrixOf(3, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9});
  NEWMAT::Matrix out = MatrixOf(1, 1, {42});
  EXPECT_THROW(c.ComputeInverse(MatrixOf(2, 2, {1, 2, 2, 4}), out),
               NEWMAT::BaseException);
  c.SetInversionMode(7);
  EXPECT_EQ(Elements(c.ComputeInverse(A, out)), std::vector<double>{42});
  c.SetInversionMode(2);
  const NEWMAT::Matrix left = c.ComputeInverse(tall, out);
  EXPECT_LT((left * tall - NEWMAT::IdentityMatrix(2)).MaximumAbsoluteValue(),
            1e-12);
  c.SetInversionMode(1);
  for (const NEWMAT::Matrix& M : {A, NEWMAT::Matrix(tall.t()), rankOne}) {
    const NEWMAT::Matrix G = c.ComputeInverse(M, out);
    EXPECT_LT((M * G * M - M).MaximumAbsoluteValue(), 1e-12);
    EXPECT_LT((G * M * G - G).MaximumAbsoluteValue(), 1e-12);
  }
  EXPECT_LT((out - rankOne / 196.0).MaximumAbsoluteValue(), 1e-14);
}

// Rows whose label equals the requested one exactly, in data order; only
// rows that exist on both sides are scanned. Column means (zeros without
// rows); sample variances and covariances divide by n - 1, so a single row
// gives a covariance of 0 / 0.
TEST(ClassStatistics, RowsByLabelMeansAndVariances) {
  const NEWMAT::Matrix data =
      MatrixOf(6, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 1});
  const NEWMAT::ColumnVector labels =
      MatrixOf(5, 1, {1.0, -1.0, 1.0, std::nextafter(1.0, 2.0), kNaN});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 2);
  EXPECT_EQ(Elements(out), (std::vector<double>{1, 2, 5, 6}));
  EXPECT_EQ(
      GetMatrixByLabel(out, data, MatrixOf(7, 1, {7, 7, 7, 7, 7, 7, 7}), 7), 6);
  const NEWMAT::Matrix three = MatrixOf(3, 2, {1, -2, 2, 4, 6, 1});
  NEWMAT::RowVector mean;
  EXPECT_EQ(GetFeaturesMean(mean, three), 3);
  EXPECT_EQ(Elements(mean), (std::vector<double>{3.0, 1.0}));
  EXPECT_EQ(GetFeaturesMean(mean, NEWMAT::Matrix(0, 4)), 0);
  EXPECT_EQ(Elements(mean), std::vector<double>(4, 0.0));
  EXPECT_EQ(GetCovariance(out, three), 2);
  EXPECT_EQ(Elements(out), (std::vector<double>{7.0, 1.5, 1.5, 9.0}));
  GetCovariance(out, MatrixOf(1, 3, {1, 2, 3}));
  EXPECT_TRUE(std::isnan(out.element(2, 2)));
  EXPECT_DOUBLE_EQ(GetVariance(Row({1, 2, 3, 4})), 5.0 / 3.0);
  EXPECT_EQ(GetVariance(NEWMAT::ColumnVector(1)), -1.0);
}

// 0 < pEnter < pRemove <= 1; a refused pair changes nothing.
TEST(Dozod, SetPRangeAcceptsOnlyZeroBelowEnterBelowRemoveUpToOne) {
  // clang-format off
  const double pairs[][3] = {
      {0.05, 0.05, -10}, {0.99, 1.0, 0}, {0.0, 0.1, -10}, {0.2, 1.5, -10}, {0.3, 0.2, -10},
      {0.1, 0.15, 0}, {-0.1, 0.5, -10}, {1e-300, 2e-300, 0}, {kNaN, 0.5, -10}, {0.1, kNaN, -10}};
  // clang-format on
  for (const auto& [pEnter, pRemove, status] : pairs) {
    DOZOD c;
    EXPECT_EQ(c.SetPRange(pEnter, pRemove), status) << pEnter << " " << pRemove;
    EXPECT_EQ(c.GetPEnter(), status ? 0.05 : pEnter);
    EXPECT_EQ(c.GetPRemove(), status ? 0.1 : pRemove);
  }
}

// The short report appends to what the host wrote, in the stream's format
// (korva_test.cpp checks it in the default format).
TEST(Reports, ShortInfoShowsTheParametersInTheStreamsFormat) {
  DozodProbe c;
  ASSERT_EQ(c.SetPRange(0.01, 0.05), 0);
  c.SetMaxIter(-7);
  c.SetScalar(false);
  std::ostringstream fixed;
  fixed << "prefix|" << std::fixed << std::setprecision(3);
  c.GetShortInfo(fixed);
  EXPECT_EQ(fixed.str(), "prefix|DOZOD: P(0.010, 0.050) | Max Iter. : -7 | ");
}

struct ReportCase {
  const char* name;
  std::vector<bool> flags;
  std::vector<double> weights;
  double w0;
  int mode;
  const char* training;  // after the host's text
  const char* file;      // the weight file, byte for byte
};

class Reports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(Reports, TrainingInfoAndWeightFile) {
  const ReportCase& r = GetParam();
  DozodProbe c;
  c.SetResult(r.flags, r.weights, r.w0);
  c.SetInversionMode(r.mode);
  std::ostringstream os;
  c.GetTrainingInfo(os);
  EXPECT_EQ(
      os.str(),
      std::string("Classifier: DOZOD (StepWise Linear Discriminant Analysis)\n"
                  "Threshold: 0 (Max)\nCovariance Matrix Inversion Mode: ") +
          r.training);
  const TempDir dir;
  WriteFile(dir / "w.txt", "older and longer content\n");
  EXPECT_EQ(c.SaveToFile((dir / "w.txt").c_str()), 0);
  EXPECT_EQ(ReadFile(dir / "w.txt"), r.file);
  EXPECT_EQ(c.SaveToFile((dir / "no/w.txt").c_str()), 0) << "nothing to report";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Dozod, Reports, ::testing::Values(
    ReportCase{"UntrainedRegularInverseMode", {}, {}, 0.0, 2, "Regular Inverse Mode\nW0: 0\nWeights:\nSelected 0 features\n", "0"},
    ReportCase{"Trained", {true, false, true}, {0.5, 0.0, -1.25}, 0.3, 0,
               "Normal Mode\nW0: 0.3\nWeights:\t   0.5\n\t   0\n\t   -1.25\n\nSelected 2 features\n0.5\t\n-1.25\t\n",
               "0.5\n0\n-1.25\n0.3"},
    ReportCase{"SixDigitsAndSvdMode", {true}, {0.123456789}, 1234567.0, 1,
               "SVD Mode\nW0: 1.23457e+06\nWeights:\t   0.123457\n\nSelected 1 features\n0.123457\t\n",
               "0.123457\n1.23457e+06"},
    ReportCase{"UnknownModeContinuesTheLine", {}, {}, 0.0, 3, "W0: 0\nWeights:\nSelected 0 features\n", "0"},
    // More flags than weights, outside what training and loading produce:
    // only the weights that exist are shown.
    ReportCase{"FlagsBeyondWeights", {true, true, true}, {2.0}, 0.0, 0,
               "Normal Mode\nW0: 0\nWeights:\t   2\n\nSelected 3 features\n2\t\n", "2\n0"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace Korva::Testing
