#ifndef KORVA_ONLINE_CUTTER_H_
#define KORVA_ONLINE_CUTTER_H_

// Epochs cut from samples and events as they arrive, as the offline
// extraction (epoching/epochs.h) cuts a whole recording by a causal recipe.
//
// Samples come in rows (one value per channel as offered, in any number of
// rows at a time) and events one by one. For each row, in this order:
//   1. pick the recipe's channels; with the average reference subtract
//      their mean (summed in the recipe's channel order, then divided);
//   2. run each channel's band-pass one sample on, from the state it left
//      (the steady state times the sample at the start of the stream and
//      after each break);
//   3. keep the filtered sample in the channel's ring.
// An event of the flash list waits until the last sample of its reach (its
// window, and its baseline) has arrived; then its epoch is cut from the
// rings by Epoching::CutWindow, exactly the arithmetic of the offline cut.
//
// Why this equals the offline cut: forward only, the filter's output at a
// sample depends on the samples of its part up to that one and nothing
// later, and the state a piece leaves is where the offline pass stands
// after the same sample; the filter is therefore the same function of the
// samples however they are split into pieces.
//
// Memory: per chosen channel a ring of R = (last - first) + P samples, the
// epoch's reach plus the largest piece filtered at once (P = kPiece); the
// flashes waiting for their windows; nothing that grows with the session.
// A flash is cut at the end of the piece that completes its reach, so its
// first sample is at most R - 1 samples old then and still in the ring.

#include <optional>
#include <string>
#include <vector>

#include "epoching/band_pass.h"
#include "epoching/recipe.h"
#include "recording/recording.h"

namespace Korva::Online {

// A flash whose window has passed, cut.
struct CutFlash {
  Recording::Event event;
  int label = 0;  // +1 of the recipe's target list, -1 of its non-target
                  // list, 0 of neither (a flash of a given list)
  std::vector<double> features;  // one row as ExtractEpochs gives it:
                                 // channel after channel, bins each
  bool rejected = false;         // a peak-to-peak above the recipe's limit
};

// The flashes that gave no epoch, by why.
struct Dropped {
  long long outside = 0;   // the reach starts before the first sample
  long long atBreaks = 0;  // the reach spans a break
  long long late = 0;      // the event came after its first samples were let go
  long long skipped = 0;   // events of no list
};

class Cutter {
 public:
  // The most rows filtered before the flashes they complete are cut.
  static constexpr long long kPiece = 256;

  // Cuts by `recipe`, a recipe as used (its channels and rate filled in,
  // as a model keeps it; within a relative 1e-6 of `rate`, the recipe's
  // rate is taken), samples at `rate` Hz whose rows hold the
  // channels `offered`, in that order. `flashes`: the events (as recipe
  // event lists name them) that give epochs; empty, the recipe's target and
  // non-target lists. Data::DataError when the recipe's band-pass runs
  // forward and backward, when it resamples to another rate or was made at
  // another rate, a channel it names is not offered, no flash list is left,
  // or its window or band cannot be at `rate` (EpochWindow, RecipeFilter).
  Cutter(const Epoching::Recipe& recipe,
         const std::vector<std::string>& offered,
         double rate,
         std::vector<std::string> flashes = {});

  // An event at the sample the stream counts from 0. An event of the flash
  // list waits for its window (events may come before or after their
  // samples, in any order); the others are counted as skipped.
  void AddEvent(const Recording::Event& event);

  // `rows` rows of samples, rows[i * Offered() + c] channel c of row i;
  // every value finite (Data::DataError naming the sample otherwise).
  void AddSamples(const double* rows, long long count);

  // The samples from the next one on do not follow those before in time:
  // the filter starts anew, and flashes whose reach crosses the break are
  // dropped (a reach wholly before it is still cut).
  void AddBreak();

  // The flashes cut since the last call, in onset order (events of one
  // onset in the order they came). Data::DataError naming the event when a
  // feature is not finite (samples too large to filter and average).
  std::vector<CutFlash> Take();

  int Offered() const { return offered_; }
  long long Samples() const { return received_; }
  // Flashes whose windows have not passed yet.
  const std::vector<Recording::Event>& Pending() const { return pending_; }
  const Dropped& Drops() const { return dropped_; }
  // Samples held per chosen channel: the ring's length R.
  long long Held() const { return capacity_; }
  const Epoching::Window& EpochWindow() const { return window_; }

 private:
  void Filter(const double* rows, long long count);
  void CutReady();
  CutFlash CutOne(const Recording::Event& event);

  Epoching::Recipe recipe_;
  std::vector<std::string> flashes_;
  Epoching::Window window_;
  long long first_ = 0, last_ = 0;  // the reach, from the onset
  std::optional<Epoching::BandPass> filter_;
  std::vector<int> picks_;  // the chosen channels' columns
  int offered_ = 0;
  long long capacity_ = 0;
  std::vector<double> ring_;   // channel after channel, capacity_ each
  std::vector<double> state_;  // the filter's, channel after channel
  std::vector<double> piece_, mean_, scratch_;  // a piece, its mean, a reach
  long long received_ = 0;
  long long partStart_ = 0;        // the first sample after the last break
  std::vector<long long> breaks_;  // those among the samples held
  std::vector<Recording::Event> pending_;  // by onset
  std::vector<CutFlash> cut_;
  Dropped dropped_;
};

}  // namespace Korva::Online

#endif  // KORVA_ONLINE_CUTTER_H_
