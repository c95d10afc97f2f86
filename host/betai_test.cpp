#include "korva/betai.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

// Two-sided Student t tail probability through the incomplete beta function,
// the way the regression step asks for it.
double TwoSidedP(double t, double df) {
  return betai(0.5 * df, 0.5, df / (df + t * t));
}

struct TableRow {
  double t;
  double df;
  double p;
};

// Critical values of Student's t distribution, two-sided, as printed in the
// usual statistics tables (three decimals, so p agrees to about 1e-4).
// clang-format off
const TableRow kStudentTable[] = {
    {12.706,  1, 0.05}, {63.657,  1, 0.01},
    { 4.303,  2, 0.05}, { 2.920,  2, 0.10},
    { 2.571,  5, 0.05}, { 4.032,  5, 0.01},
    { 1.812, 10, 0.10}, { 2.228, 10, 0.05}, { 3.169, 10, 0.01},
    { 2.086, 20, 0.05}, { 2.845, 20, 0.01},
    { 2.042, 30, 0.05}, { 1.984, 100, 0.05}, { 2.626, 100, 0.01},
};
// clang-format on

class StudentTable : public ::testing::TestWithParam<TableRow> {};

TEST_P(StudentTable, TwoSidedTailMatchesPrintedTable) {
  const TableRow row = GetParam();
  EXPECT_NEAR(TwoSidedP(row.t, row.df), row.p, 2e-4 * (1 + row.p * 10))
      << "t = " << row.t << ", df = " << row.df;
}

INSTANTIATE_TEST_SUITE_P(Betai,
                         StudentTable,
                         ::testing::ValuesIn(kStudentTable));

// Closed forms: with one degree of freedom the t distribution is Cauchy,
// p = 1 - (2/pi) atan|t|; with two, p = 1 - |t| / sqrt(2 + t^2).
TEST(Betai, MatchesClosedFormsForOneAndTwoDegreesOfFreedom) {
  for (double t : {0.001, 0.3, 1.0, 2.5, 10.0, 1e3}) {
    EXPECT_NEAR(TwoSidedP(t, 1), 1.0 - 2.0 / kPi * std::atan(t), 1e-13) << t;
    EXPECT_NEAR(TwoSidedP(t, 2), 1.0 - t / std::sqrt(2.0 + t * t), 1e-13) << t;
  }
}

// I_x(a, 1) = x^a and I_x(1, b) = 1 - (1 - x)^b.
TEST(Betai, MatchesPowerFormsWhenOneParameterIsOne) {
  for (double x : {0.01, 0.2, 0.5, 0.9, 0.999}) {
    for (double a : {0.5, 1.0, 3.0, 17.5}) {
      EXPECT_NEAR(betai(a, 1.0, x), std::pow(x, a), 1e-14) << a << " " << x;
      EXPECT_NEAR(betai(1.0, a, x), 1.0 - std::pow(1.0 - x, a), 1e-14);
    }
  }
}

TEST(Betai, EndpointsAreExact) {
  EXPECT_EQ(betai(2.5, 0.5, 0.0), 0.0);
  EXPECT_EQ(betai(2.5, 0.5, 1.0), 1.0);
  EXPECT_EQ(TwoSidedP(0.0, 7), 1.0);
}

TEST(Betai, ReturnsNaNOutsideTheDomain) {
  const double bad[][3] = {
      {kNaN, 0.5, 0.5},
      {1.0, kNaN, 0.5},
      {1.0, 0.5, kNaN},
      {0.0, 0.5, 0.5},
      {-1.0, 0.5, 0.5},
      {1.0, 0.0, 0.5},
      {1.0, 0.5, -0.1},
      {1.0, 0.5, 1.1},
  };
  for (const auto& args : bad)
    EXPECT_TRUE(std::isnan(betai(args[0], args[1], args[2])))
        << args[0] << ", " << args[1] << ", " << args[2];
}

TEST(Betai, InfiniteTStatisticGivesZeroPValue) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(TwoSidedP(inf, 10), 0.0);
}

}  // namespace
