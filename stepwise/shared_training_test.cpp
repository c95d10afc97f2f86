// The shared trainings of a row set's folds against DoTrain on each fold's
// rows alone, for every fold and setting of a grid: the same status,
// messages, selection, weights and W0, to the last bit.
#include "stepwise/shared_training.h"

#include <gtest/gtest.h>

#include <boost/math/distributions/students_t.hpp>
#include <cstring>
#include <random>

#include "testing/dozod_probe.h"
#include "testing/recording_progress.h"

namespace Korva::Testing {
namespace {

struct Data {
  int n = 0, p = 0;
  std::vector<double> X, y;  // row-major
};

// n rows of p features: class +1 (every sixth row) shifted in the first
// `signal` columns; column c + 1 is column c plus `collinear` times noise
// for even c when `collinear` > 0; column p - 1 is zero outside the rows
// below `lonely` (its sum of squares held by them alone). Values lie about
// `level`: near 0 a mean keeps its sum's rounding, which near 10 rounds away.
Data Make(int n, int p, int signal, double collinear, int lonely,
          double level = 10.0) {
  std::mt19937_64 rng(static_cast<unsigned>(n * 31 + p));
  std::normal_distribution<double> noise(0.0, 1.0);
  Data d{n, p, std::vector<double>(n * p), std::vector<double>(n)};
  for (int r = 0; r < n; ++r) {
    d.y[r] = r % 6 == 0 ? 1.0 : -1.0;
    for (int c = 0; c < p; ++c) {
      double v = level + noise(rng) + (c < signal && d.y[r] > 0 ? 0.6 : 0.0);
      if (collinear > 0 && c % 2 == 1) v = d.X[r * p + c - 1] + collinear * noise(rng);
      if (c == p - 1 && lonely > 0) v = r < lonely ? 5.0 * noise(rng) : 0.0;
      d.X[r * p + c] = v;
    }
  }
  return d;
}

struct Setting {
  double pEnter, pRemove;
  int maxIter;
};

std::unique_ptr<DozodProbe> Configured(const Setting& s) {
  auto c = std::make_unique<DozodProbe>();
  c->SetPRange(s.pEnter, s.pRemove);
  c->SetMaxIter(s.maxIter);
  return c;
}

std::vector<std::uint64_t> Bits(const std::vector<double>& values) {
  std::vector<std::uint64_t> bits(values.size());
  std::memcpy(bits.data(), values.data(), values.size() * sizeof(double));
  return bits;
}

// The shared trainings of `grid` on the rows `rows` of `set`, one
// classifier each, kept in `classifiers`.
std::vector<SubsetTraining> TrainGrid(
    const RowSet& set,
    const std::vector<int>& rows,
    const std::vector<Setting>& grid,
    std::vector<std::unique_ptr<DozodProbe>>& classifiers) {
  std::vector<SubsetTraining> trainings(grid.size());
  for (size_t s = 0; s < grid.size(); ++s) {
    classifiers.push_back(Configured(grid[s]));
    trainings[s].classifier = classifiers.back().get();
  }
  TrainSubset(set, rows, trainings.data(), static_cast<int>(grid.size()));
  return trainings;
}

// The lines without the seconds "Elapsed Time N" counts, which depend on
// when a training started.
template <typename Lines>
std::vector<std::string> Timeless(const Lines& lines) {
  std::vector<std::string> kept;
  for (const std::string& line : lines)
    kept.push_back(line.rfind("Elapsed Time ", 0) == 0 ? "Elapsed Time" : line);
  return kept;
}

// DoTrain on the rows `rows` of d alone, against the shared training `t`
// of `shared` with the same setting.
void ExpectSame(const Data& d, const std::vector<int>& rows, const Setting& s,
                const SubsetTraining& t, const DozodProbe& shared) {
  NEWMAT::Matrix X(static_cast<int>(rows.size()), d.p);
  NEWMAT::ColumnVector y(static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    std::memcpy(X.Store() + i * d.p, &d.X[rows[i] * d.p], d.p * sizeof(double));
    y.element(static_cast<int>(i)) = d.y[rows[i]];
  }
  auto alone = Configured(s);
  RecordingProgress progress;
  std::list<std::string> messages;
  const int result = alone->DoTrain(X, y, &progress, messages);
  ASSERT_TRUE(t.trained);
  EXPECT_EQ(t.result, result);
  EXPECT_EQ(Timeless(t.progress), Timeless(progress.received));
  EXPECT_EQ(Timeless(t.messages), Timeless(messages));
  EXPECT_EQ(shared.Flags(), alone->Flags());
  EXPECT_EQ(Bits(shared.WeightList()), Bits(alone->WeightList()));
  EXPECT_EQ(Bits({shared.Bias()}), Bits({alone->Bias()}));
}

// The rows of fold k of `folds` equal folds of d's rows, in order.
std::vector<int> FoldRows(const Data& d, int folds, int k) {
  std::vector<int> rows;
  for (int r = 0; r < d.n; ++r)
    if (r * folds / d.n != k) rows.push_back(r);
  return rows;
}

struct Case {
  const char* name;
  Data data;
  int folds;
  bool downdated;  // the first fold's product is A_D (on a machine whose
                   // dsyrk agrees on subsets)
};

class SharedTraining : public ::testing::TestWithParam<Case> {};

// Each fold, and every row last first (nothing held out, in another order),
// on the set opened plainly and with the folds as held-out blocks.
TEST_P(SharedTraining, EveryFoldAndSettingAsDoTrainAlone) {
  const Case& c = GetParam();
  const Data& d = c.data;
  const std::vector<Setting> grid = {
      {0.01, 0.05, 300}, {0.05, 0.1, 300}, {0.1, 0.15, 300},
      {0.1, 0.5, 300},   {0.1, 0.15, 4},   {0.3, 0.35, 300}};
  std::vector<int> block(d.n), reversed(d.n);
  for (int r = 0; r < d.n; ++r) {
    block[r] = r * c.folds / d.n;
    reversed[r] = d.n - 1 - r;
  }
  const RowSet plain(d.X.data(), d.y.data(), d.n, d.p);
  const RowSet blocked(d.X.data(), d.y.data(), d.n, d.p, block.data(),
                       c.folds);
  for (const RowSet* set : {&plain, &blocked}) {
    for (int k = 0; k <= c.folds; ++k) {
      const std::vector<int> rows =
          k < c.folds ? FoldRows(d, c.folds, k) : reversed;
      if (k == 0) {
        EXPECT_EQ(!SubsetProduct(*set, rows).Exact(),
                  c.downdated && SubsetProductsAgree());
      }
      std::vector<std::unique_ptr<DozodProbe>> classifiers;
      const std::vector<SubsetTraining> trainings =
          TrainGrid(*set, rows, grid, classifiers);
      for (size_t s = 0; s < grid.size(); ++s) {
        SCOPED_TRACE(std::string(c.name) + (set == &plain ? "" : " blocked") +
                     " fold " + std::to_string(k) + " setting " +
                     std::to_string(s));
        ExpectSame(d, rows, grid[s], trainings[s], *classifiers[s]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Data,
    SharedTraining,
    ::testing::Values(
        Case{"signal", Make(600, 60, 12, 0.0, 0), 5, true},
        Case{"near_collinear", Make(400, 40, 10, 1e-6, 0), 5, true},
        Case{"nearer_collinear", Make(400, 40, 10, 1e-11, 0, 0.5), 5, true},
        // Fold 1's rows hold every non-zero value of the last column.
        Case{"held_out_dominates", Make(500, 30, 8, 0.0, 100), 5, false},
        Case{"half_held_out", Make(300, 30, 8, 0.0, 0), 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The p-value the first step weighs column c by on `rows`: the t of the
// labels' regression on it with an intercept, t^2 = r^2 (n - 2) / (1 - r^2),
// taken two-sided on the n - 1 degrees of freedom of the model it would join
// (the intercept alone), as the stepwise test weighs every candidate.
double FirstStepP(const Data& d, const std::vector<int>& rows, int c) {
  const double n = static_cast<double>(rows.size());
  double mx = 0, my = 0;
  for (int r : rows) mx += d.X[r * d.p + c], my += d.y[r];
  mx /= n, my /= n;
  double sxx = 0, sxy = 0, syy = 0;
  for (int r : rows) {
    const double x = d.X[r * d.p + c] - mx, y = d.y[r] - my;
    sxx += x * x, sxy += x * y, syy += y * y;
  }
  const double r2 = sxy * sxy / (sxx * syy);
  const boost::math::students_t t(n - 1);
  return 2 * cdf(complement(t, std::sqrt(r2 * (n - 2) / (1 - r2))));
}

// Thresholds a few units of the last place either side of the first step's
// smallest p-value, on a fold whose product is downdated: whether anything
// enters turns on the p-value's last bits, which the engine settles by its
// exact refit; the shared training must settle it on the fold's own rows,
// as DoTrain alone does.
TEST(SharedTrainingAtTheThreshold, EnteringOrNotAsDoTrainAlone) {
  const Data d = Make(600, 60, 12, 0.0, 0);
  const RowSet set(d.X.data(), d.y.data(), d.n, d.p);
  const std::vector<int> rows = FoldRows(d, 5, 0);
  double smallest = 1;
  for (int c = 0; c < d.p; ++c)
    smallest = std::min(smallest, FirstStepP(d, rows, c));
  std::vector<Setting> grid;
  for (double shift : {-1e-9, -1e-11, -1e-13, -8e-15, -4e-15, -2e-15, 0.0,
                       2e-15, 4e-15, 8e-15, 1e-13, 1e-11, 1e-9})
    grid.push_back({smallest * (1 + shift), 0.5, 300});
  std::vector<std::unique_ptr<DozodProbe>> classifiers;
  const std::vector<SubsetTraining> trainings =
      TrainGrid(set, rows, grid, classifiers);
  int entered = 0;
  for (size_t s = 0; s < grid.size(); ++s) {
    SCOPED_TRACE("p-enter " + std::to_string(s));
    ExpectSame(d, rows, grid[s], trainings[s], *classifiers[s]);
    entered += classifiers[s]->Selection().empty() ? 0 : 1;
  }
  // The thresholds straddle the p-value: some settings take the column in
  // and some do not, or the test shows nothing.
  EXPECT_GT(entered, 0);
  EXPECT_LT(entered, static_cast<int>(grid.size()));
}

}  // namespace
}  // namespace Korva::Testing
