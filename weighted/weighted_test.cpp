// The linear classifier layer: scoring, ranking and inversion, the class
// statistics, and the report texts and weight file as a host receives them
// (the host's text first, then the layer's, then DOZOD's).
#include <gtest/gtest.h>
#include <newmat/newmatap.h>
#include <unistd.h>

#include <cmath>
#include <iomanip>
#include <random>

#include "testing/dozod_probe.h"
#include "testing/files.h"
#include "testing/ols_reference.h"
#include "weighted/class_statistics.h"

namespace Korva::Testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

NEWMAT::RowVector Row(std::vector<double> values) {
  return NEWMAT::RowVector(ColumnOf(values).t());
}

double MaxAbsDiff(const NEWMAT::Matrix& a, const NEWMAT::Matrix& b) {
  return NEWMAT::Matrix(a - b).MaximumAbsoluteValue();
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
  EXPECT_EQ(c.GetScore(Row({3, 4, 5})), -1.0);
  ScoreList list = {{"a", 0.2}, {"b", 0.9}};
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "b");
  c.SetScalar(false);
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "a");
  c.SetBias(11.0);
  EXPECT_EQ(c.GetScore(Row({4, 6})), 6.0);
  c.SetBias(-100.0);
  EXPECT_TRUE(std::isnan(c.GetScore(Row({4, 6}))));
}

// Every mode inverts a square, well-conditioned matrix; the two
// pseudo-inverses a tall one; SVD mode gives the Moore-Penrose inverse of a
// wide or rank-deficient one (A G A = A, G A G = G; for rank one
// A⁺ = A / ‖A‖_F², here 14 · 14); a singular matrix raises the library's
// exception; neither that nor a mode that selects no method touches the
// output.
TEST(WeightedClassifier, InvertsByItsMode) {
  DozodProbe c;
  const NEWMAT::Matrix A = MatrixOf(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  const NEWMAT::Matrix tall = MatrixOf(3, 2, {1, 2, 3, 4, 5, 7});
  const NEWMAT::Matrix rankOne = MatrixOf(3, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9});
  const NEWMAT::Matrix singular = MatrixOf(2, 2, {1, 2, 2, 4});
  for (int mode : {0, 1, 2, 7}) {
    c.SetInversionMode(mode);
    NEWMAT::Matrix out = MatrixOf(1, 1, {42});
    if (mode == 7) {  // selects no method: out stays as it was
      c.ComputeInverse(A, out);
      EXPECT_EQ(Elements(out), std::vector<double>{42});
      continue;
    }
    if (mode != 1) {  // the library's exception; out stays as it was
      EXPECT_THROW(c.ComputeInverse(singular, out), NEWMAT::BaseException);
      EXPECT_EQ(Elements(out), std::vector<double>{42}) << mode;
    }
    EXPECT_EQ(&c.ComputeInverse(A, out), &out);
    EXPECT_LT(MaxAbsDiff(A * out, NEWMAT::IdentityMatrix(3)), 1e-13) << mode;
    if (mode == 0) continue;
    c.ComputeInverse(tall, out);
    EXPECT_LT(MaxAbsDiff(out * tall, NEWMAT::IdentityMatrix(2)), 1e-12) << mode;
  }
  c.SetInversionMode(1);
  for (const NEWMAT::Matrix& M : {NEWMAT::Matrix(tall.t()), rankOne}) {
    NEWMAT::Matrix G;
    c.ComputeInverse(M, G);
    ASSERT_EQ(G.Nrows(), M.Ncols());
    EXPECT_LT(MaxAbsDiff(M * G * M, M), 1e-12);
    EXPECT_LT(MaxAbsDiff(G * M * G, G), 1e-12);
    if (M.Nrows() == 3) {
      EXPECT_LT(MaxAbsDiff(G, rankOne / 196.0), 1e-14);
    }
  }
}

// Rows whose label equals the requested one exactly, in data order; only
// rows that exist on both sides are scanned.
TEST(ClassStatistics, RowsByLabelMeansAndVariances) {
  const NEWMAT::Matrix data = MatrixOf(5, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0});
  const NEWMAT::ColumnVector labels =
      ColumnOf({1.0, -1.0, 1.0, std::nextafter(1.0, 2.0), kNaN});
  NEWMAT::Matrix out;
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, 1.0), 2);
  EXPECT_EQ(Elements(out), (std::vector<double>{1, 2, 5, 6}));
  EXPECT_EQ(GetMatrixByLabel(out, data, labels, kNaN), 0);
  EXPECT_EQ(out.Ncols(), 2);
  EXPECT_EQ(GetMatrixByLabel(out, data, ColumnOf({7, 7, 7, 7, 7, 7, 7}), 7), 5);
  EXPECT_EQ(GetMatrixByLabel(out, data, ColumnOf({0, 7}), 7.0), 1);
  EXPECT_EQ(Elements(out), (std::vector<double>{3, 4}));
  NEWMAT::RowVector mean;
  EXPECT_EQ(GetFeaturesMean(mean, MatrixOf(3, 2, {1, -2, 2, 4, 6, 1})), 3);
  EXPECT_EQ(Elements(mean), (std::vector<double>{3.0, 1.0}));
  EXPECT_EQ(GetFeaturesMean(mean, NEWMAT::Matrix(0, 4)), 0);
  EXPECT_EQ(Elements(mean), std::vector<double>(4, 0.0));
  EXPECT_DOUBLE_EQ(GetVariance(Row({1, 2, 3, 4})), 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(GetVariance(ColumnOf({1, 2, 3, 4})), 5.0 / 3.0);
  EXPECT_EQ(GetVariance(Row({1})), -1.0);
  EXPECT_EQ(GetVariance(ColumnOf({})), -1.0);
}

// Against the textbook one-pass formula in long double on correlated data,
// cov(a, b) = (Σ a b - Σ a Σ b / n) / (n - 1); a single row divides 0 by 0.
TEST(ClassStatistics, SampleCovarianceDividesByNMinusOne) {
  std::mt19937 rng(7);
  const NEWMAT::Matrix data = CorrelatedFeatures(40, 4, rng);
  NEWMAT::Matrix cov;
  ASSERT_EQ(GetCovariance(cov, data), 4);
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 4; ++b) {
      long double sa = 0, sb = 0, sab = 0;
      for (int i = 0; i < 40; ++i) {
        sa += data.element(i, a);
        sb += data.element(i, b);
        sab +=
            static_cast<long double>(data.element(i, a)) * data.element(i, b);
      }
      EXPECT_NEAR(cov.element(a, b), double((sab - sa * sb / 40) / 39), 1e-12);
    }
  }
  GetCovariance(cov, MatrixOf(1, 3, {1, 2, 3}));
  EXPECT_TRUE(std::isnan(cov.element(2, 2)));
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
    ReportCase{"Untrained", {}, {}, 0.0, 0, "Normal Mode\nW0: 0\nWeights:\nSelected 0 features\n", "0"},
    ReportCase{"Trained", {true, false, true}, {0.5, 0.0, -1.25}, 0.3, 0,
               "Normal Mode\nW0: 0.3\nWeights:\t   0.5\n\t   0\n\t   -1.25\n\nSelected 2 features\n0.5\t\n-1.25\t\n",
               "0.5\n0\n-1.25\n0.3"},
    ReportCase{"SixDigitsAndSvdMode", {true}, {0.123456789}, 1234567.0, 1,
               "SVD Mode\nW0: 1.23457e+06\nWeights:\t   0.123457\n\nSelected 1 features\n0.123457\t\n",
               "0.123457\n1.23457e+06"},
    ReportCase{"RegularInverseMode", {}, {}, 0.0, 2, "Regular Inverse Mode\nW0: 0\nWeights:\nSelected 0 features\n", "0"},
    ReportCase{"UnknownModeContinuesTheLine", {}, {}, 0.0, 3, "W0: 0\nWeights:\nSelected 0 features\n", "0"},
    // More flags than weights, outside what training and loading produce:
    // only the weights that exist are shown.
    ReportCase{"FlagsBeyondWeights", {true, true, true}, {2.0}, 0.0, 0,
               "Normal Mode\nW0: 0\nWeights:\t   2\n\nSelected 3 features\n2\t\n", "2\n0"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace Korva::Testing
