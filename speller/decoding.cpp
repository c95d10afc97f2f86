#include "speller/decoding.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "speller/error.h"
#include "text/number_text.h"

namespace Korva::Speller {
namespace {

// The flashes of each selection, repetition by repetition:
// flashes[s][k] holds the flashes of selection s in repetition k (from 0).
using RepetitionFlashes = std::vector<std::vector<std::vector<int>>>;

RepetitionFlashes GroupFlashes(const Session& s, const Repetitions& r) {
  RepetitionFlashes flashes(s.Selections(),
                            std::vector<std::vector<int>>(r.count));
  for (size_t f = 0; f < s.codes.size(); ++f)
    flashes[s.selections[f]][r.of[f]].push_back(static_cast<int>(f));
  return flashes;
}

// Adds `value` to the entry of every item that `code` lights.
void AddToItems(const Layout& layout,
                int code,
                double value,
                std::vector<double>& to) {
  for (int item : layout.lit[layout.CodeIndex(code)]) to[item] += value;
}

// exp(v[i] - log sum exp v): the posterior of item i from its log
// likelihood, computed about the largest so that nothing overflows.
double Posterior(const std::vector<double>& logLikelihood, int i) {
  const double top =
      *std::max_element(logLikelihood.begin(), logLikelihood.end());
  double sum = 0.0;
  for (double v : logLikelihood) sum += std::exp(v - top);
  return std::exp(logLikelihood[i] - top) / sum;
}

// Steps 1, 2 and 5 for one selection, its flashes repetition by repetition.
SelectionDecoding DecodeSelection(const Session& s,
                                  const std::vector<std::vector<int>>& byRep,
                                  const std::vector<double>& scores,
                                  ClassifierBase& ranker,
                                  const DecodeOptions& o) {
  SelectionDecoder decoder(s.layout, ranker, o);
  for (const std::vector<int>& flashes : byRep) {
    for (int f : flashes) decoder.AddFlash(s.codes[f], scores[f]);
    decoder.EndRepetition();
  }
  return decoder.Finish();
}

void CheckOptions(const DecodeOptions& o) {
  if (!o.stopAt) return;
  CheckStopLevel(*o.stopAt);
  if (!o.likelihood)
    throw Error(ErrorKind::kModel,
                "dynamic stopping needs the model's score model (the training "
                "classes' mean scores and a pooled variance above 0), which "
                "this model does not carry");
}

}  // namespace

SelectionDecoder::SelectionDecoder(const Layout& layout,
                                   ClassifierBase& ranker,
                                   const DecodeOptions& options)
    : layout_(layout),
      ranker_(ranker),
      o_(options),
      sums_(layout.Items(), 0.0),
      logLikelihood_(layout.Items(), 0.0) {
  for (int item = 0; item < layout.Items(); ++item)
    index_.emplace(layout.symbols[item], item);
}

void SelectionDecoder::AddFlash(int code, double score) {
  AddToItems(layout_, code, score, sums_);
  if (o_.likelihood)
    AddToItems(layout_, code, (*o_.likelihood)(score), logLikelihood_);
}

// Step 2: the items with their sums ranked first best by the module, whose
// list names each item by its symbol.
std::vector<Ranked> SelectionDecoder::Rank() const {
  ScoreList list;
  for (int item = 0; item < layout_.Items(); ++item)
    list.emplace_back(layout_.symbols[item], sums_[item]);
  if (ranker_.SortScoresFirstBest(list) != kStatusOk ||
      list.size() != sums_.size())
    throw Error(ErrorKind::kData,
                "the classifier could not rank the items' scores");
  std::vector<Ranked> ranked;
  for (const auto& [symbol, score] : list)
    ranked.push_back({index_.at(symbol), score});
  return ranked;
}

void SelectionDecoder::EndRepetition() {
  ranked_ = Rank();
  d_.chosen.push_back(ranked_.front().item);
  if (o_.likelihood)
    d_.posterior.push_back(Posterior(logLikelihood_, ranked_.front().item));
  if (o_.stopAt && d_.stopped == 0 && d_.posterior.back() >= *o_.stopAt)
    d_.stopped = static_cast<int>(d_.chosen.size());
}

SelectionDecoding SelectionDecoder::Finish() {
  if (o_.stopAt && d_.stopped == 0)
    d_.stopped = static_cast<int>(d_.chosen.size());
  d_.ranking = std::move(ranked_);
  return std::move(d_);
}

void CheckStopLevel(double level) {
  if (!(level > 0.0 && level <= 1.0))
    throw Error(ErrorKind::kSettings,
                "--stop-at " + Text::FormatDouble(level) +
                    ": the level is a posterior probability, above 0 and at "
                    "most 1");
}

double WolpawBits(int items, double accuracy) {
  const double N = items, P = accuracy;
  if (!(P > 1.0 / N)) return 0.0;
  if (P >= 1.0) return std::log2(N);
  return std::log2(N) + P * std::log2(P) +
         (1.0 - P) * std::log2((1.0 - P) / (N - 1.0));
}

std::optional<double> SelectionSeconds(const Session& s, double k) {
  if (!s.timing.flashSeconds) return std::nullopt;
  return k * s.layout.Codes() * *s.timing.flashSeconds + s.timing.pauseSeconds;
}

Outcome Summarize(const Session& s,
                  const std::vector<int>& chosen,
                  double repetitions) {
  Outcome o;
  o.repetitions = repetitions;
  int right = 0;
  for (size_t k = 0; k < chosen.size(); ++k) {
    o.text += s.layout.symbols[chosen[k]];
    right += s.targets[k] && *s.targets[k] == chosen[k];
  }
  o.secondsPerSelection = SelectionSeconds(s, repetitions);
  if (!s.TargetsKnown()) return o;
  o.accuracy = static_cast<double>(right) / chosen.size();
  o.bitsPerSelection = WolpawBits(s.layout.Items(), *o.accuracy);
  if (o.secondsPerSelection && *o.secondsPerSelection > 0)
    o.bitsPerMinute = *o.bitsPerSelection * 60.0 / *o.secondsPerSelection;
  return o;
}

Decoding Decode(const Session& s,
                const std::vector<double>& scores,
                ClassifierBase& ranker,
                const DecodeOptions& o) {
  CheckOptions(o);
  if (s.Selections() == 0)
    throw Error(ErrorKind::kData, "the session has no selection to decode");
  if (scores.size() != s.codes.size())
    throw Error(ErrorKind::kData,
                std::to_string(scores.size()) + " scores for " +
                    std::to_string(s.codes.size()) + " flashes");
  const Repetitions r = CountRepetitions(s);
  const RepetitionFlashes flashes = GroupFlashes(s, r);
  Decoding d;
  d.items = s.layout.Items();
  d.repetitions = r.count;
  for (int k = 0; k < s.Selections(); ++k)
    d.selections.push_back(DecodeSelection(s, flashes[k], scores, ranker, o));
  std::vector<int> chosen(s.Selections());
  for (int k = 1; k <= r.count; ++k) {
    for (int sel = 0; sel < s.Selections(); ++sel)
      chosen[sel] = d.selections[sel].chosen[k - 1];
    d.curve.push_back(Summarize(s, chosen, k));
  }
  if (o.stopAt) {
    double used = 0;
    for (int sel = 0; sel < s.Selections(); ++sel) {
      const SelectionDecoding& one = d.selections[sel];
      chosen[sel] = one.chosen[one.stopped - 1];
      used += one.stopped;
    }
    d.stopping = Summarize(s, chosen, used / s.Selections());
  }
  return d;
}

}  // namespace Korva::Speller
