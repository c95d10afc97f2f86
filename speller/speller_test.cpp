// The speller's rules against references worked out another way: the bits
// per selection as the mutual information of a symmetric channel, the
// label and repetition rules on sessions written out by hand, and the
// posterior of dynamic stopping as a product of Gaussian densities.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "speller/decoding.h"
#include "speller/error.h"
#include "speller/tracker.h"
#include "testing/stub_classifier.h"

namespace Korva::Speller {
namespace {

// I(X; Y) in bits for X uniform over n items and Y = X with probability p,
// else any other item alike: sum over x, y of p(x, y) log2(p(y | x) / p(y)),
// where p(y) = 1/n.
double MutualInformation(int n, double p) {
  double bits = 0;
  for (int x = 0; x < n; ++x)
    for (int y = 0; y < n; ++y) {
      const double given = x == y ? p : (1 - p) / (n - 1);
      if (given > 0) bits += given / n * std::log2(given * n);
    }
  return bits;
}

// Wolpaw's rate is that information while the choice beats chance, and 0
// from chance down (where the information, which grows again below 1/N,
// would reward systematic errors).
TEST(Speller, WolpawBitsAreTheSymmetricChannelsInformation) {
  // clang-format off
  const struct {
    int n;
    double p;
    bool chance;  // at or below 1/N: 0 bits
  } kCases[] = {{36, 1.0, false},  {36, 0.9, false},   {36, 0.5, false},
                {36, 1.0 / 36, true}, {36, 0.01, true}, {36, 0.0, true},
                {2, 0.75, false},  {2, 0.5, true},     {12, 0.3, false}};
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.n) + " items, P " + std::to_string(c.p));
    EXPECT_NEAR(WolpawBits(c.n, c.p),
                c.chance ? 0.0 : MutualInformation(c.n, c.p),
                1e-12);
  }
  EXPECT_DOUBLE_EQ(WolpawBits(36, 1.0), std::log2(36.0));
}

Session MatrixSession(int rows,
                      int cols,
                      std::vector<int> codes,
                      std::vector<int> selections,
                      std::vector<std::optional<int>> targets) {
  Session s;
  s.layout = MatrixLayout(rows, cols, "");
  s.codes = std::move(codes);
  s.selections = std::move(selections);
  s.targets = std::move(targets);
  for (size_t k = 0; k < s.targets.size(); ++k)
    s.names.push_back("selection " + std::to_string(k + 1));
  return s;
}

// 2x2: codes 1, 2 the columns, 3, 4 the rows; items A B / C D. A flash is
// a target when its code lights the target; its repetition counts the
// earlier flashes of its code in its selection, in the session's order.
TEST(Speller, LabelsAndRepetitionsFollowTheCodesInOrder) {
  // clang-format off
  const Session s = MatrixSession(
      2, 2, {3, 1, 1, 2, 4, 3, 2, 4, /**/ 2, 4, 1, 3, 4, 3, 1, 2},
      {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1},
      {3, std::nullopt});
  EXPECT_EQ(FlashLabels(s), (std::vector<double>{-1, -1, -1, 1, 1, -1, 1, 1,
                                                  0, 0, 0, 0, 0, 0, 0, 0}));
  const Repetitions r = CountRepetitions(s);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.of, (std::vector<int>{0, 0, 1, 0, 0, 1, 1, 1,
                                    0, 0, 0, 0, 1, 1, 1, 1}));
  // clang-format on
  EXPECT_EQ(FlashLabel(s.layout, 5, 3), -1.0);  // a code the layout lacks
}

// Every item of a 6x6 matrix and of a table where each code lights three of
// four items: the labels its flashes get single it out again.
TEST(Speller, TheLabelsOfATargetGiveItBack) {
  const Layout tables[] = {
      MatrixLayout(6, 6, ""),
      ParseLayoutTable("1,ABC\n2,ABD\n3,ACD\n4,BCD\n", "t.txt", "")};
  for (const Layout& layout : tables)
    for (int target = 0; target < layout.Items(); ++target) {
      std::vector<double> labels;
      for (int code : layout.codes)
        labels.push_back(FlashLabel(layout, code, target));
      EXPECT_EQ(TargetOfLabels(layout, layout.codes, labels, "s"), target);
    }
}

// A selection without its code 4's second flash, and two selections of
// different repetitions, are refused by name.
TEST(Speller, RepetitionsMustBeWhole) {
  // clang-format off
  const struct {
    std::vector<int> codes, selections;
    const char* message;
  } kCases[] = {
      {{1, 2, 3, 4, 1, 2, 3}, {0, 0, 0, 0, 0, 0, 0},
       "selection 1: code 4 is flashed once and code 1 2 times"},
      {{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1},
       "selection 2 has 1 repetition and selection 1 2"},
      {{1, 2, 3, 9}, {0, 0, 0, 0}, "selection 1: code 9 is not one of"}};
  // clang-format on
  for (const auto& c : kCases) {
    const Session s =
        MatrixSession(2,
                      2,
                      c.codes,
                      c.selections,
                      std::vector<std::optional<int>>(c.selections.back() + 1));
    try {
      CountRepetitions(s);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::kData);
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

// A session of a 3x3 matrix (codes 1-3 the columns, 4-6 the rows), its
// flashes in a shuffled order each repetition, scores drawn from the score
// model: m+ for the flashes that light the selection's target, else m-.
Session DrawnSession(const HostKit::ClassScores& c,
                     int selections,
                     int repetitions,
                     std::vector<double>& scores) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, std::sqrt(c.pooledVariance));
  Session s = MatrixSession(3, 3, {}, {}, {});
  for (int k = 0; k < selections; ++k) {
    const int target = (k * 4) % 9;
    s.targets.push_back(target);
    s.names.push_back("selection " + std::to_string(k + 1));
    for (int r = 0; r < repetitions; ++r) {
      std::vector<int> order = {1, 2, 3, 4, 5, 6};
      std::shuffle(order.begin(), order.end(), rng);
      for (int code : order) {
        s.codes.push_back(code);
        s.selections.push_back(k);
        const bool lit =
            code <= 3 ? target % 3 == code - 1 : target / 3 == code - 4;
        scores.push_back((lit ? c.positiveMean : c.negativeMean) + noise(rng));
      }
    }
  }
  s.timing.flashSeconds = 0.25;
  s.timing.pauseSeconds = 2;
  return s;
}

double LogNormal(double x, double mean, double variance) {
  return -0.5 * std::log(2 * M_PI * variance) -
         (x - mean) * (x - mean) / (2 * variance);
}

// After each repetition the chosen item has the largest summed score, and
// its posterior is prod_f N(x_f; m_i(f), s^2) over the flashes so far,
// m_i(f) = m+ when flash f lights item i and m- otherwise, divided by the
// same summed over the nine items (a uniform prior).
TEST(Speller, PosteriorIsTheItemsGaussianLikelihoodsNormalised) {
  const HostKit::ClassScores c{-0.4, 0.9, 1.3, 500, 100};
  std::vector<double> x;
  const Session s = DrawnSession(c, 4, 5, x);
  Testing::StubClassifier ranker;
  const Decoding d = Decode(s, x, ranker, {HostKit::LikelihoodOfScores(c), {}});
  for (int k = 0; k < 4; ++k) {
    std::vector<double> sums(9, 0.0), logp(9, 0.0);
    for (int r = 0; r < 5; ++r) {
      for (int f = (k * 5 + r) * 6; f < (k * 5 + r + 1) * 6; ++f)
        for (int i = 0; i < 9; ++i) {
          const int code = s.codes[f];
          const bool lit = code <= 3 ? i % 3 == code - 1 : i / 3 == code - 4;
          sums[i] += lit ? x[f] : 0.0;
          logp[i] += LogNormal(
              x[f], lit ? c.positiveMean : c.negativeMean, c.pooledVariance);
        }
      const int best = static_cast<int>(
          std::max_element(sums.begin(), sums.end()) - sums.begin());
      double total = 0;
      for (double v : logp) total += std::exp(v - logp[best]);
      SCOPED_TRACE("selection " + std::to_string(k + 1) + ", repetition " +
                   std::to_string(r + 1));
      EXPECT_EQ(d.selections[k].chosen[r], best);
      EXPECT_NEAR(d.selections[k].posterior[r], 1.0 / total, 1e-12);
    }
  }
}

// Stopping at a posterior of 1 waits for every repetition and so gives the
// curve's last point; lower levels stop sooner on average.
TEST(Speller, StoppingAtOneIsTheFullCurve) {
  const HostKit::ClassScores c{0.0, 0.5, 1.0, 500, 100};
  std::vector<double> x;
  const Session s = DrawnSession(c, 30, 8, x);
  Testing::StubClassifier ranker;
  const auto stopped = [&](double level) {
    return Decode(s, x, ranker, {HostKit::LikelihoodOfScores(c), level});
  };
  const Decoding full = stopped(1.0);
  const Outcome &last = full.curve.back(), &stop = *full.stopping;
  EXPECT_EQ(stop.repetitions, 8);
  EXPECT_EQ(stop.text, last.text);
  EXPECT_EQ(stop.accuracy, last.accuracy);
  EXPECT_EQ(stop.bitsPerMinute, last.bitsPerMinute);
  double previous = 8;
  for (double level : {0.99, 0.9, 0.6}) {
    const double used = stopped(level).stopping->repetitions;
    EXPECT_LE(used, previous) << level;
    previous = used;
  }
  EXPECT_LT(previous, 8);
}

// The tracker fed the flashes as a stream gives them (each scored three
// flashes after its event) decides as Decode decides the whole session: the
// same item, repetitions and posterior, with selections delimited by counts
// or by events and targets from a text or from markers.
TEST(Speller, TrackedSelectionsAreDecodesSelections) {
  const HostKit::ClassScores c{0.0, 1.5, 1.0, 500, 100};
  std::vector<double> x;
  const Session s = DrawnSession(c, 12, 6, x);
  const auto likelihood = HostKit::LikelihoodOfScores(c);
  Testing::StubClassifier ranker;
  for (const std::optional<double> level : {std::optional<double>(), {0.9}})
    for (const bool byEvents : {false, true}) {
      SCOPED_TRACE((byEvents ? "events, stop " : "counts, stop ") +
                   std::to_string(level.value_or(0)));
      std::vector<int> text;
      for (const auto& t : s.targets) text.push_back(byEvents ? -1 : *t);
      if (byEvents) text.clear();
      SelectionTracker tracker(
          s.layout, ranker, {likelihood, level}, byEvents ? 0 : 36, text, "x");
      std::vector<Decided> got;
      const size_t n = s.codes.size();
      for (size_t f = 0; f < n + 3; ++f) {
        if (f < n) {
          if (byEvents && (f == 0 || s.selections[f] != s.selections[f - 1]))
            tracker.BeginSelection();
          tracker.AddMark(
              f,
              FlashLabel(s.layout, s.codes[f], *s.targets[s.selections[f]]) > 0
                  ? 1
                  : -1);
          tracker.AddFlash(f, s.codes[f]);
        }
        if (f >= 3) tracker.Score(f - 3, s.codes[f - 3], x[f - 3]);
        for (const Decided& d : tracker.Take()) got.push_back(d);
      }
      EXPECT_EQ(tracker.End(), "");
      for (const Decided& d : tracker.Take()) got.push_back(d);
      const Decoding want = Decode(s, x, ranker, {likelihood, level});
      ASSERT_EQ(got.size(), want.selections.size());
      int fewest = 6;
      for (size_t k = 0; k < got.size(); ++k) {
        const SelectionDecoding& w = want.selections[k];
        const int used = level ? w.stopped : 6;
        EXPECT_EQ(got[k].selection, static_cast<int>(k));
        EXPECT_EQ(got[k].repetitions, used);
        EXPECT_EQ(got[k].item, w.chosen[used - 1]);
        EXPECT_EQ(got[k].posterior, w.posterior[used - 1]);
        EXPECT_EQ(got[k].target, s.targets[k]);
        fewest = std::min(fewest, got[k].repetitions);
      }
      if (level) EXPECT_LT(fewest, 6) << "no selection stopped early";
    }
}

// A selection that ended without one of its flashes fails as the session
// would in Decode, as soon as its flashes are accounted for; the last one, cut
// short by the end of the stream, is dropped with the reason.
TEST(Speller, TrackedSelectionsMustBeWhole) {
  const Layout layout = MatrixLayout(2, 2, "");
  Testing::StubClassifier ranker;
  SelectionTracker tracker(layout, ranker, {}, 8, {}, "x");
  const int codes[] = {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 4};
  for (int f = 0; f < 13; ++f) tracker.AddFlash(f, codes[f]);
  for (int f = 0; f < 13; ++f) tracker.Score(f, codes[f], 1.0);
  EXPECT_EQ(
      tracker.End().rfind(
          "selection 2 of x: code 1 is flashed once and code 4 2 times", 0),
      0u);
  SelectionTracker gap(layout, ranker, {}, 8, {}, "x");
  for (int f = 0; f < 13; ++f) gap.AddFlash(f, codes[f]);
  for (int f = 1; f < 7; ++f) gap.Score(f, codes[f], 1.0);
  try {
    gap.Score(7, 4, 1.0);
    ADD_FAILURE() << "a selection without its first flash was decided";
  } catch (const Error& e) {
    EXPECT_EQ(
        std::string(e.what()).rfind(
            "selection 1 of x: code 1 is flashed once and code 2 2 times", 0),
        0u)
        << e.what();
  }
}

}  // namespace
}  // namespace Korva::Speller
