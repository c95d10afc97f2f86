#ifndef KORVA_SPELLER_DECODING_H_
#define KORVA_SPELLER_DECODING_H_

// From flash scores to selections. Notation: a selection's flashes f with
// score x_f, code c_f and repetition r_f (from 1, session.h); L(c) the items
// code c lights; N the items, F the codes (the flashes of one repetition),
// R the repetitions.
//
//   1. Item scores after k repetitions: S_i(k) = sum of x_f over the flashes
//      with r_f <= k and i in L(c_f).
//   2. The items with their S_i(k) are ranked by the module's
//      SortScoresFirstBest (ClassifierBase), first best; the first is the
//      item chosen with k repetitions.
//   3. Accuracy P(k): the share of selections whose chosen item is their
//      target (known only when every target is).
//   4. Information transfer rate (Wolpaw), bits per selection:
//        B = log2 N + P log2 P + (1 - P) log2((1 - P) / (N - 1)),
//      taken as log2 N at P = 1 and as 0 at P <= 1/N (no better than
//      chance). Per minute: 60 B / T(k), T(k) = k F t_flash + t_pause.
//   5. Dynamic stopping at level p: each flash score becomes a log-likelihood
//      ratio by the model's two-Gaussian score model,
//        lambda(x) = ln p(x | target) - ln p(x | non-target) = a x + b
//      (HostKit::ScoreLikelihood), and with a uniform prior over the items
//        ln P(i | x, k) = sum of lambda(x_f) over r_f <= k, i in L(c_f),
//                          less the log of the sum of exp of the same over i.
//      A selection stops at the first k at which the posterior of the item
//      chosen with k repetitions (step 2) reaches p, at R at the latest; its
//      time is T(k). Accuracy and bits are then those of the stopped
//      choices, and the rate per minute 60 B / mean T.
//
// The flashes a code does not light add the same factor to every item's
// likelihood, so they drop out of the posterior.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/hostkit/trained_model.h"
#include "speller/session.h"

namespace Korva::Speller {

// Bits per selection of N items chosen right with probability P (step 4).
double WolpawBits(int items, double accuracy);

struct Ranked {
  int item = 0;
  double score = 0;
};

// One selection decoded.
struct SelectionDecoding {
  std::vector<int> chosen;        // per k = 1 .. R: the item ranked first
  std::vector<Ranked> ranking;    // after all R repetitions, first best
  std::vector<double> posterior;  // per k: the chosen item's (step 5)
  int stopped = 0;                // repetitions used with a stopping level
};

// The figures of a set of choices: fixed k, or stopped dynamically.
struct Outcome {
  double repetitions = 0;                     // k, or the mean used
  std::optional<double> accuracy;             // when every target is known
  std::string text;                           // the chosen symbols, in order
  std::optional<double> bitsPerSelection;     // when the accuracy is known
  std::optional<double> secondsPerSelection;  // when the timing is known
  std::optional<double> bitsPerMinute;        // when both are
};

struct Decoding {
  int items = 0;
  int repetitions = 0;
  std::vector<SelectionDecoding> selections;
  std::vector<Outcome> curve;       // k = 1 .. R
  std::optional<Outcome> stopping;  // with a stopping level
};

struct DecodeOptions {
  // The score model of step 5; without it there are no posteriors.
  std::optional<HostKit::ScoreLikelihood> likelihood;
  std::optional<double> stopAt;  // the level p, in (0, 1]; needs likelihood
};

// Steps 1, 2 and 5 for one selection, a repetition at a time: Decode runs
// it over a whole session, korva stream as the flashes are scored.
class SelectionDecoder {
 public:
  // Ranks through `ranker`; `layout` and `ranker` must outlive it.
  SelectionDecoder(const Layout& layout,
                   ClassifierBase& ranker,
                   const DecodeOptions& options);

  // A flash of the repetition under way: `code` must be of the layout.
  void AddFlash(int code, double score);
  // Ends the repetition: the item ranked first with it, its posterior, and
  // `stopped` at the first that reaches the level. Error(kData) when
  // ranking fails.
  void EndRepetition();

  const SelectionDecoding& Result() const { return d_; }
  // The decoding, with the ranking after the last repetition, and
  // `stopped` at that repetition when a level was given and not reached.
  SelectionDecoding Finish();

 private:
  std::vector<Ranked> Rank() const;

  const Layout& layout_;
  ClassifierBase& ranker_;
  DecodeOptions o_;
  std::unordered_map<std::string, int> index_;  // item by symbol
  std::vector<double> sums_, logLikelihood_;    // S_i(k), ln p(x | i)
  std::vector<Ranked> ranked_;
  SelectionDecoding d_;
};

// Error(kSettings) for a stopping level outside (0, 1].
void CheckStopLevel(double level);

// Decodes every selection of `session` from `scores` (one per flash),
// ranking through `ranker`. Error(kData) as CountRepetitions, or when
// `scores` has another length or ranking fails; Error(kModel) for a stopping
// level without a score model; Error(kSettings) for a level outside (0, 1].
Decoding Decode(const Session& session,
                const std::vector<double>& scores,
                ClassifierBase& ranker,
                const DecodeOptions& options = {});

// The outcome of `chosen` (one item per selection) after `repetitions`
// (a mean, for stopped choices: T is linear in k, so the mean time is
// T(mean k)).
Outcome Summarize(const Session& session,
                  const std::vector<int>& chosen,
                  double repetitions);

// T(k) of step 4, when the timing is known.
std::optional<double> SelectionSeconds(const Session& session, double k);

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_DECODING_H_
