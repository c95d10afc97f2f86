#include <newmat/newmat.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "fuzz/byte_reader.h"
#include "fuzz/classifier_checks.h"
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
// clang-format on
constexpr int kSpecialCount = sizeof(kSpecial) / sizeof(kSpecial[0]);

// A data value: a special value, a small multiple of 1/8 (so that exact ties
// and collinear columns are common) or any bit pattern.
double Value(ByteReader& in) {
  const std::uint8_t kind = in.Byte();
  if (kind < kSpecialCount) return kSpecial[kind];
  if (kind < 200) return (static_cast<int>(kind) - 108) / 8.0;
  return in.RawDouble();
}

// A label: mostly +1 or -1, sometimes anything else.
double Label(ByteReader& in) {
  const std::uint8_t kind = in.Byte();
  if (kind < 100) return 1.0;
  if (kind < 200) return -1.0;
  if (kind < 200 + kSpecialCount) return kSpecial[kind - 200];
  return in.RawDouble();
}

// Valid pairs are common so that training runs with other thresholds; the
// rest exercise the refusal of SetPRange (whose rule the unit tests pin).
void ConfigurePRange(ByteReader& in, ProbeDozod& dozod) {
  // clang-format off
  constexpr double kPairs[][2] = {{0.05, 0.1}, {0.01, 0.02}, {0.5, 1.0}, {0.99, 1.0}, {1e-300, 1e-299},
                                  {0.2, 0.2}, {0.3, 0.1}, {-0.1, 0.5}, {kNaN, 0.5}, {0.0, 0.0}};
  // clang-format on
  const std::uint8_t kind = in.Byte();
  if (kind < std::size(kPairs)) {
    dozod.SetPRange(kPairs[kind][0], kPairs[kind][1]);
  } else {
    const double pEnter = in.RawDouble();
    dozod.SetPRange(pEnter, in.RawDouble());
  }
}

// Bounded: a selection may cycle through the same few features until the
// limit ends it, so a large limit makes an input slow, not interesting.
int MaxIter(ByteReader& in) {
  constexpr int kLimits[] = {300, 0, 1, 2, 3, -1, INT_MIN, 20, 1000};
  const std::uint8_t kind = in.Byte();
  return kLimits[kind % (sizeof(kLimits) / sizeof(kLimits[0]))];
}

// What a training left behind, to compare two trainings.
struct Trained {
  bool threw = false;
  int status = 0;
  std::vector<bool> flags;
  std::vector<double> weights;
  double bias = 0.0;
  std::list<std::string> messages;  // the host's message list afterwards
  std::string problem;              // "" unless training changed its data
};

Trained Train(ProbeDozod& dozod,
              const NEWMAT::Matrix& X,
              const NEWMAT::ColumnVector& y,
              ClassifierProgress* progress) {
  // Training takes its inputs by non-const reference; give it copies so that
  // a training that changed them would show up below.
  NEWMAT::Matrix XCopy = X;
  NEWMAT::ColumnVector yCopy = y;
  Trained result;
  try {
    result.status = dozod.Train2(XCopy, yCopy, progress, result.messages);
  } catch (const NEWMAT::BaseException&) {
    // The matrix library refuses some inputs (a singular matrix, say); the
    // module passes that on to the host by design.
    result.threw = true;
  }
  bool same = XCopy.Nrows() == X.Nrows() && XCopy.Ncols() == X.Ncols() &&
              yCopy.Nrows() == y.Nrows();
  for (int i = 0; same && i < X.Nrows() * X.Ncols(); ++i)
    same = SameDouble(XCopy.Store()[i], X.Store()[i]);
  for (int i = 0; same && i < y.Nrows(); ++i)
    same = SameDouble(yCopy.element(i), y.element(i));
  if (!same) result.problem = "training changed its data or labels";
  result.flags = dozod.Flags();
  result.weights = dozod.WeightList();
  result.bias = dozod.Bias();
  return result;
}

bool Same(const Trained& a, const Trained& b) {
  if (a.threw != b.threw || a.status != b.status || a.flags != b.flags ||
      a.weights.size() != b.weights.size() || !SameDouble(a.bias, b.bias))
    return false;
  for (size_t i = 0; i < a.weights.size(); ++i)
    if (!SameDouble(a.weights[i], b.weights[i])) return false;
  return true;
}

std::string CheckTrained(const Trained& t, ProbeDozod& dozod, int cols) {
  if (t.threw) return {};
  if (t.status != 0) {
    if (t.status != kStatusRejected)
      return "training returned the unknown status " + std::to_string(t.status);
    return {};
  }
  if (t.flags.size() != static_cast<size_t>(cols))
    return "a training with " + std::to_string(cols) + " columns left " +
           std::to_string(t.flags.size()) + " flags";
  if (std::string lengths = CheckLengthsAgree(dozod); !lengths.empty())
    return lengths;
  for (int i = 0; i < cols; ++i)
    if (!t.flags[i] && t.weights[i] != 0.0)
      return "feature " + std::to_string(i) +
             " is not selected but has a non-zero weight";
  return {};
}

}  // namespace

std::string FuzzTraining(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const int rows = in.Byte() % (kMaxRows + 1);
  const int cols = in.Byte() % (kMaxCols + 1);
  ProbeDozod withProgress;
  ProbeDozod silent;
  ConfigurePRange(in, withProgress);
  silent.SetPRange(withProgress.GetPEnter(), withProgress.GetPRemove());
  const int maxIter = MaxIter(in);
  withProgress.SetMaxIter(maxIter);
  silent.SetMaxIter(maxIter);
  const int names = in.Byte() % (kMaxCols + 2);
  for (int i = 0; i < names; ++i)
    withProgress.FeatureNames.push_back(i % 2 ? "" : "f" + std::to_string(i));
  silent.FeatureNames = withProgress.FeatureNames;

  NEWMAT::Matrix X(rows, cols);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) X.element(r, c) = Value(in);
  NEWMAT::ColumnVector y(rows);
  for (int r = 0; r < rows; ++r) y.element(r) = Label(in);

  Testing::RecordingProgress progress;
  const Trained first = Train(withProgress, X, y, &progress);
  if (!first.problem.empty()) return first.problem;
  if (std::string problem = CheckTrained(first, withProgress, cols);
      !problem.empty())
    return problem;
  // With a progress object, every line for the host's list is also a
  // progress message.
  for (const std::string& message : first.messages)
    if (std::find(progress.received.begin(),
                  progress.received.end(),
                  message) == progress.received.end())
      return "a message went to the list but not to the progress object";

  // Without a progress object training must choose the same features, and
  // a second training of the same object must not depend on the first.
  const Trained quiet = Train(silent, X, y, nullptr);
  const Trained again = Train(withProgress, X, y, nullptr);
  if (!quiet.problem.empty()) return quiet.problem;
  if (!Same(first, quiet))
    return "training without a progress object gives another result";
  if (!Same(first, again))
    return "training the same object twice gives another result";

  return ExerciseClassifier(withProgress);
}

}  // namespace Korva::Fuzz
