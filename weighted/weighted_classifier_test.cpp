#include "weighted/weighted_classifier.h"

#include <gtest/gtest.h>
#include <newmat/newmatap.h>

#include <cmath>
#include <initializer_list>

namespace {

// A concrete weighted classifier whose fields the tests set directly.
class Linear : public Korva::WeightedClassifier {
 public:
  Linear() : WeightedClassifier("Linear", "Test linear classifier") {}
  int DoTrain(NEWMAT::Matrix&,
              NEWMAT::ColumnVector&,
              ClassifierProgress*,
              std::list<std::string>&) override {
    return 0;
  }
  double DoGetScore(const NEWMAT::RowVector& x) override {
    ++doGetScoreCalls;
    return WeightedClassifier::DoGetScore(x);
  }
  void Set(std::initializer_list<double> w, double w0, bool scalar) {
    Weights.ReSize(static_cast<int>(w.size()));
    int i = 0;
    for (double v : w) Weights.element(i++) = v;
    W0 = w0;
    Scalar = scalar;
  }
  void SetMode(int mode) {
    InversionMode = static_cast<Korva::CovarianceInversionMode>(mode);
  }
  int doGetScoreCalls = 0;
};

NEWMAT::RowVector Row(std::initializer_list<double> values) {
  NEWMAT::RowVector row(static_cast<int>(values.size()));
  int i = 0;
  for (double v : values) row.element(i++) = v;
  return row;
}

NEWMAT::Matrix Mat(int rows, int cols, std::initializer_list<double> values) {
  NEWMAT::Matrix m(rows, cols);
  m << values.begin();
  return m;
}

double MaxAbsDiff(const NEWMAT::Matrix& a, const NEWMAT::Matrix& b) {
  return NEWMAT::Matrix(a - b).MaximumAbsoluteValue();
}

TEST(WeightedScore, ScalarFormIsDotProductPlusBias) {
  Linear c;
  c.Set({1, 2}, 0.5, true);
  EXPECT_EQ(c.GetScore(Row({3, 4})), 11.5);
}

TEST(WeightedScore, DistanceFormAddsBiasInsideTheRoot) {
  Linear c;
  c.Set({1, 2}, 0.0, false);
  EXPECT_EQ(c.GetScore(Row({4, 6})), 5.0);
  c.Set({1, 2}, 11.0, false);
  EXPECT_EQ(c.GetScore(Row({4, 6})), 6.0);
  c.Set({1, 2}, -100.0, false);
  EXPECT_TRUE(std::isnan(c.GetScore(Row({4, 6}))));
}

TEST(WeightedScore, LengthMismatchGivesMinusOneWithoutScoring) {
  Linear c;
  c.Set({1, 2, 3}, 0.5, true);
  EXPECT_EQ(c.GetScore(Row({1, 2})), -1.0);
  EXPECT_EQ(c.GetScore(Row({1, 2, 3, 4})), -1.0);
  EXPECT_EQ(c.doGetScoreCalls, 0);
}

TEST(WeightedScore, UntrainedScoresEmptyRowAsBias) {
  Linear c;
  EXPECT_FALSE(c.CanClassify());
  EXPECT_EQ(c.GetScore(NEWMAT::RowVector(0)), 0.0);
  EXPECT_EQ(c.GetScore(Row({1})), -1.0);
  c.Set({0.0}, 0.0, true);
  EXPECT_TRUE(c.CanClassify());
}

TEST(WeightedRanking, BestFirstFollowsScoreForm) {
  Linear c;
  Korva::ScoreList list = {{"a", 0.2}, {"b", 0.9}};
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "b");
  c.Set({}, 0.0, false);
  c.SortScoresFirstBest(list);
  EXPECT_EQ(list.front().first, "a");
}

// Every mode inverts a square, well-conditioned matrix.
class InverseModes : public ::testing::TestWithParam<int> {};

TEST_P(InverseModes, InvertSquareMatrix) {
  Linear c;
  c.SetMode(GetParam());
  NEWMAT::Matrix out;
  const NEWMAT::Matrix diag = Mat(2, 2, {2, 0, 0, 4});
  NEWMAT::Matrix& result = c.ComputeInverse(diag, out);
  EXPECT_EQ(&result, &out);
  EXPECT_LT(MaxAbsDiff(out, Mat(2, 2, {0.5, 0, 0, 0.25})), 1e-15);

  const NEWMAT::Matrix A = Mat(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  c.ComputeInverse(A, out);
  NEWMAT::IdentityMatrix I(3);
  EXPECT_LT(MaxAbsDiff(A * out, I), 1e-13);
}

INSTANTIATE_TEST_SUITE_P(WeightedInverse,
                         InverseModes,
                         ::testing::Values(Korva::NormalMode,
                                           Korva::SVDMode,
                                           Korva::RegularInverseMode));

TEST(WeightedInverse, LeftPseudoInverseOfTallMatrix) {
  Linear c;
  const NEWMAT::Matrix A = Mat(3, 2, {1, 2, 3, 4, 5, 7});
  NEWMAT::IdentityMatrix I(2);
  for (int mode : {Korva::RegularInverseMode, Korva::SVDMode}) {
    c.SetMode(mode);
    NEWMAT::Matrix G;
    c.ComputeInverse(A, G);
    ASSERT_EQ(G.Nrows(), 2);
    ASSERT_EQ(G.Ncols(), 3);
    EXPECT_LT(MaxAbsDiff(G * A, I), 1e-12) << "mode " << mode;
  }
}

// The pseudo-inverse satisfies the Moore-Penrose conditions A G A = A and
// G A G = G, also for a wide and for a rank-deficient matrix.
TEST(WeightedInverse, SvdModeGivesMoorePenroseInverse) {
  Linear c;
  c.SetMode(Korva::SVDMode);
  const NEWMAT::Matrix wide = Mat(2, 3, {1, 2, 3, 4, 5, 7});
  const NEWMAT::Matrix rankOne = Mat(3, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9});
  for (const NEWMAT::Matrix& A : {wide, rankOne}) {
    NEWMAT::Matrix G;
    c.ComputeInverse(A, G);
    ASSERT_EQ(G.Nrows(), A.Ncols());
    ASSERT_EQ(G.Ncols(), A.Nrows());
    EXPECT_LT(MaxAbsDiff(A * G * A, A), 1e-12);
    EXPECT_LT(MaxAbsDiff(G * A * G, G), 1e-12);
  }
  // For rank one, A⁺ = A / ‖A‖_F² when A = u vᵀ (here ‖A‖_F² = 14 · 14).
  NEWMAT::Matrix G;
  c.ComputeInverse(rankOne, G);
  EXPECT_LT(MaxAbsDiff(G, rankOne / 196.0), 1e-14);
}

TEST(WeightedInverse, SingularMatrixRaisesLibraryException) {
  Linear c;
  const NEWMAT::Matrix singular = Mat(2, 2, {1, 2, 2, 4});
  NEWMAT::Matrix out;
  for (int mode : {Korva::NormalMode, Korva::RegularInverseMode}) {
    c.SetMode(mode);
    EXPECT_THROW(c.ComputeInverse(singular, out), NEWMAT::BaseException)
        << "mode " << mode;
  }
}

TEST(WeightedInverse, UnknownModeLeavesOutputUntouched) {
  Linear c;
  c.SetMode(3);
  NEWMAT::Matrix out = Mat(1, 1, {42});
  c.ComputeInverse(Mat(2, 2, {2, 0, 0, 4}), out);
  ASSERT_EQ(out.Nrows(), 1);
  EXPECT_EQ(out.element(0, 0), 42);
}

}  // namespace
