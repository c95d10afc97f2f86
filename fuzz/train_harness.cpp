#include <cfloat>
#include <climits>
#include <limits>

#include "fuzz/checks.h"
#include "fuzz/harnesses.h"
#include "testing/recording_progress.h"

namespace Korva::Fuzz {
namespace {

constexpr int kMaxRows = 10;
constexpr int kMaxCols = 6;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values that break arithmetic in interesting ways.
// clang-format off
constexpr double kSpecial[] = {kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, 1.0, -1.0, DBL_MAX, -DBL_MAX, DBL_MIN,
                               std::numeric_limits<double>::denorm_min(), 1e300, -1e-300, 1e154, 0.5};
// Valid p-range pairs are common so that training runs with other thresholds.
constexpr double kPairs[][2] = {{0.05, 0.1}, {0.01, 0.02}, {0.5, 1.0}, {0.99, 1.0}, {1e-300, 1e-299},
                                {0.2, 0.2}, {0.3, 0.1}, {-0.1, 0.5}, {kNaN, 0.5}, {0.0, 0.0}};
// Bounded: a selection may cycle through the same few features until the
// limit ends it, so a large limit makes an input slow, not interesting.
constexpr int kMaxIters[] = {300, 0, 1, 2, 3, -1, INT_MIN, 20, 1000};
// clang-format on
constexpr int kSpecialCount = std::size(kSpecial);

// A data value: a special value, a small multiple of 1/8 (so that exact ties
// and collinear columns are common) or any bit pattern.
double Value(ByteReader& in) {
  const std::uint8_t kind = in.Byte();
  if (kind < kSpecialCount) return kSpecial[kind];
  return kind < 200 ? (kind - 108) / 8.0 : in.RawDouble();
}

// A label: mostly +1 or -1, sometimes anything else.
double Label(ByteReader& in) {
  const std::uint8_t kind = in.Byte();
  if (kind < 200) return kind < 100 ? 1.0 : -1.0;
  return kind < 200 + kSpecialCount ? kSpecial[kind - 200] : in.RawDouble();
}

// What Train gives back when the matrix library refused the input (a
// singular matrix, say), which the module passes on to the host by design.
constexpr int kThrew = INT_MIN;

// True when a and b hold the same doubles, bit for bit.
bool Same(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 8) == 0);
}

std::vector<double> Stored(const NEWMAT::GeneralMatrix& m) {
  return {m.Store(), m.Store() + m.Storage()};
}

// Trains on copies of X and y and returns the status or kThrew; sets
// `problem` when training changed them (Train2 takes them by non-const
// reference).
int Train(ProbeDozod& dozod,
          const NEWMAT::Matrix& X,
          const NEWMAT::ColumnVector& y,
          ClassifierProgress* progress,
          std::string& problem) {
  NEWMAT::Matrix XCopy = X;
  NEWMAT::ColumnVector yCopy = y;
  std::list<std::string> messages;
  int status = kThrew;
  try {
    status = dozod.Train2(XCopy, yCopy, progress, messages);
  } catch (const NEWMAT::BaseException&) {
  }
  if (XCopy.Ncols() != X.Ncols() || !Same(Stored(XCopy), Stored(X)) ||
      !Same(Stored(yCopy), Stored(y)))
    problem = "training changed its data or labels";
  return status;
}

// What a training left behind, to compare two trainings: the status, the
// flags, the weights and the bias.
std::vector<double> Result(const ProbeDozod& dozod, int status) {
  std::vector<double> result{static_cast<double>(status)};
  for (bool flag : dozod.Flags()) result.push_back(flag);
  for (double w : dozod.WeightList()) result.push_back(w);
  result.push_back(dozod.Bias());
  return result;
}

}  // namespace

std::string FuzzTraining(const std::uint8_t* data, std::size_t size) {
  ByteReader in{data, size};
  const int rows = in.Byte() % (kMaxRows + 1);
  const int cols = in.Byte() % (kMaxCols + 1);
  ProbeDozod dozod;
  const std::uint8_t pair = in.Byte();
  const bool listed = pair < std::size(kPairs);
  const double pEnter = listed ? kPairs[pair][0] : in.RawDouble();
  dozod.SetPRange(pEnter, listed ? kPairs[pair][1] : in.RawDouble());
  dozod.SetMaxIter(kMaxIters[in.Byte() % std::size(kMaxIters)]);
  for (int i = 0, names = in.Byte() % (kMaxCols + 2); i < names; ++i)
    dozod.FeatureNames.push_back(i % 2 ? "" : "f" + std::to_string(i));
  NEWMAT::Matrix X(rows, cols);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) X.element(r, c) = Value(in);
  NEWMAT::ColumnVector y(rows);
  for (int r = 0; r < rows; ++r) y.element(r) = Label(in);

  std::string problem;
  Testing::RecordingProgress progress;
  const int status = Train(dozod, X, y, &progress, problem);
  if (!problem.empty()) return problem;
  if (status != 0 && status != kStatusRejected && status != kThrew)
    return "training returned the unknown status " + std::to_string(status);
  const std::vector<bool> flags = dozod.Flags();
  const std::vector<double> weights = dozod.WeightList();
  if (status == 0 && (flags.size() != weights.size() ||
                      static_cast<int>(flags.size()) != cols))
    return "a training left another number of flags or weights than columns";
  for (int i = 0; status == 0 && i < cols; ++i)
    if (!flags[i] && weights[i] != 0.0)
      return "a feature that is not selected has a non-zero weight";
  // Training again, without a progress object, must give the same result.
  const std::vector<double> first = Result(dozod, status);
  if (!Same(first, Result(dozod, Train(dozod, X, y, nullptr, problem))))
    return "training again without a progress object gives another result";
  return problem.empty() ? ExerciseClassifier(dozod) : problem;
}

}  // namespace Korva::Fuzz
