// Class means of row subsets against the module's own GetMatrixByLabel and
// GetFeaturesMean on a matrix of those rows, as DoTrain forms them: equal to
// the last bit, for subsets taken in place and for every block's complement
// from one pass.
#include "stepwise/class_means.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "stepwise/row_set.h"
#include "weighted/class_statistics.h"

namespace Korva {
namespace {

struct Case {
  const char* name;
  int n, p, blocks;
  std::vector<double> labels;  // repeated over the rows
  int unblocked;  // every unblocked-th row is in no block (0: none)
};

struct Set {
  std::vector<double> X, y;
  std::vector<int> block;
};

// Values near 1e6 with a spread of 1: summed in another order, the last bits
// of a sum differ.
Set Make(const Case& c) {
  std::mt19937_64 rng(static_cast<unsigned>(c.n * 7 + c.p));
  std::normal_distribution<double> noise(0.0, 1.0);
  Set s{std::vector<double>(c.n * c.p),
        std::vector<double>(c.n),
        std::vector<int>(c.n)};
  for (int r = 0; r < c.n; ++r) {
    s.y[r] = c.labels[r % c.labels.size()];
    s.block[r] =
        c.unblocked > 0 && r % c.unblocked == 0 ? -1 : r * c.blocks / c.n;
    for (int j = 0; j < c.p; ++j) s.X[r * c.p + j] = 1e6 + noise(rng);
  }
  return s;
}

std::vector<std::uint64_t> Bits(const NEWMAT::RowVector& v) {
  std::vector<std::uint64_t> bits(v.Ncols());
  std::memcpy(bits.data(), v.Store(), bits.size() * sizeof(double));
  return bits;
}

// DoTrain's means of the rows `rows` of s.
ClassMeans Reference(const Set& s, int p, const std::vector<int>& rows) {
  NEWMAT::Matrix X(static_cast<int>(rows.size()), p);
  NEWMAT::ColumnVector y(static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    std::memcpy(X.Store() + i * p, &s.X[rows[i] * p], p * sizeof(double));
    y.element(static_cast<int>(i)) = s.y[rows[i]];
  }
  NEWMAT::Matrix positive, negative;
  GetMatrixByLabel(positive, X, y, 1.0);
  GetMatrixByLabel(negative, X, y, -1.0);
  ClassMeans means;
  GetFeaturesMean(means.positive, positive);
  GetFeaturesMean(means.negative, negative);
  return means;
}

void ExpectSame(const ClassMeans& got, const ClassMeans& want) {
  EXPECT_EQ(Bits(got.positive), Bits(want.positive));
  EXPECT_EQ(Bits(got.negative), Bits(want.negative));
}

std::vector<int> Outside(const Set& s, int b) {
  std::vector<int> rows;
  for (int r = 0; r < static_cast<int>(s.block.size()); ++r)
    if (s.block[r] != b) rows.push_back(r);
  return rows;
}

class ClassMeansOf : public ::testing::TestWithParam<Case> {};

TEST_P(ClassMeansOf, SubsetsAsDoTrainFormsThem) {
  const Case& c = GetParam();
  const Set s = Make(c);
  const TrainingRows all{s.X.data(), c.p, s.y.data(), nullptr, c.n};
  const std::vector<ClassMeans> left =
      MeansLeavingOut(all, c.p, s.block.data(), c.blocks);
  ASSERT_EQ(left.size(), static_cast<size_t>(c.blocks));
  for (int b = 0; b < c.blocks; ++b) {
    SCOPED_TRACE("without block " + std::to_string(b));
    const std::vector<int> rows = Outside(s, b);
    ExpectSame(left[b], Reference(s, c.p, rows));
    // The same rows in place, last first.
    const std::vector<int> reversed(rows.rbegin(), rows.rend());
    const TrainingRows inPlace{s.X.data(),
                               c.p,
                               s.y.data(),
                               reversed.data(),
                               static_cast<int>(reversed.size())};
    ExpectSame(MeansOf(inPlace, c.p), Reference(s, c.p, reversed));
  }
}

const double kNan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Stepwise,
    ClassMeansOf,
    ::testing::Values(
        Case{"two_classes", 500, 37, 5, {1, -1, -1, -1, -1, -1}, 0},
        // Labels of no class, and rows that no block holds.
        Case{"other_labels", 401, 16, 4, {1, -1, 0, kNan, 2, -1, 1}, 7},
        // Block 0 holds every positive row: outside it that class is empty.
        Case{"class_in_one_block", 120, 9, 3, {-1}, 0},
        Case{"one_column", 90, 1, 2, {1, -1, -1}, 5}),
    [](const auto& info) { return std::string(info.param.name); });

// A set opened with blocks hands out a complement's means only for the
// complement itself, in ascending order.
TEST(RowSetMeans, OnlyForABlocksComplementInOrder) {
  const Case c{"sets", 300, 12, 3, {1, -1, -1, 0}, 11};
  const Set s = Make(c);
  const RowSet set(s.X.data(), s.y.data(), c.n, c.p, s.block.data(), c.blocks);
  if (!set.Downdates())
    GTEST_SKIP() << "this machine forms every subset's product afresh";
  for (int b = 0; b < c.blocks; ++b) {
    SCOPED_TRACE("block " + std::to_string(b));
    std::vector<int> rows = Outside(s, b);
    const ClassMeans* kept = set.MeansWithout(rows);
    ASSERT_NE(kept, nullptr);
    ExpectSame(*kept, Reference(s, c.p, rows));

    // Out of order; one row short; one row swapped for a row of the block.
    std::vector<int> swapped = rows;
    std::swap(swapped[3], swapped[4]);
    std::vector<int> fewer = rows;
    fewer.pop_back();
    std::vector<int> replaced = rows;
    replaced.pop_back();
    const int inBlock = static_cast<int>(
        std::find(s.block.begin(), s.block.end(), b) - s.block.begin());
    replaced.insert(std::lower_bound(replaced.begin(), replaced.end(), inBlock),
                    inBlock);
    for (const std::vector<int>* other : {&swapped, &fewer, &replaced})
      EXPECT_EQ(set.MeansWithout(*other), nullptr);
  }
  std::vector<int> every(c.n);
  for (int r = 0; r < c.n; ++r) every[r] = r;
  EXPECT_EQ(set.MeansWithout(every), nullptr);
  EXPECT_EQ(set.MeansWithout({}), nullptr);
}

}  // namespace
}  // namespace Korva
