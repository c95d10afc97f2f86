#include "online/cutter.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "data/dataset.h"
#include "epoching/epochs.h"
#include "text/number_text.h"

namespace Korva::Online {
namespace {

using Data::DataError;
using Text::FormatDouble;

// The rate samples at `rate` are cut at by `r`: the recipe's own, which
// `rate` must be within a relative 1e-6 of (nothing is resampled online),
// or `rate` for a recipe of any rate. Its band-pass must run forward only.
double CutRate(const Epoching::Recipe& r, double rate) {
  if (r.band && r.filter != Epoching::Filter::kCausal)
    throw DataError(
        "the recipe's band-pass runs forward and backward, so each filtered "
        "sample depends on samples that have not arrived yet: a model that "
        "scores as samples arrive must be trained with --filter causal");
  const double made = r.samplingRate > 0 ? r.samplingRate : rate;
  if (std::abs(rate - made) <= 1e-6 * made) return made;
  throw DataError("samples at " + FormatDouble(rate) +
                  " Hz, where the recipe was made at " + FormatDouble(made) +
                  " Hz" +
                  (r.resampleHz ? ": samples are not resampled as they "
                                  "arrive; give them at " +
                                      FormatDouble(made) + " Hz"
                                : ""));
}

std::vector<int> Picks(const std::vector<std::string>& wanted,
                       const std::vector<std::string>& offered) {
  if (wanted.empty()) throw DataError("the recipe names no channels to cut");
  std::vector<int> picks;
  for (const std::string& name : wanted) {
    const auto it = std::find(offered.begin(), offered.end(), name);
    if (it == offered.end()) {
      std::string list;
      for (const std::string& o : offered)
        list += (list.empty() ? "" : ", ") + o;
      throw DataError("no channel " + name + " among the samples' channels (" +
                      list + ")");
    }
    picks.push_back(static_cast<int>(it - offered.begin()));
  }
  return picks;
}

}  // namespace

Cutter::Cutter(const Epoching::Recipe& recipe,
               const std::vector<std::string>& offered,
               double rate,
               std::vector<std::string> flashes)
    : recipe_(recipe),
      flashes_(std::move(flashes)),
      offered_(static_cast<int>(offered.size())) {
  recipe_.samplingRate = CutRate(recipe_, rate);
  if (flashes_.empty()) {
    flashes_ = recipe_.targets;
    flashes_.insert(
        flashes_.end(), recipe_.nonTargets.begin(), recipe_.nonTargets.end());
  }
  if (flashes_.empty())
    throw DataError("the recipe lists no events to cut: name the flashes");
  picks_ = Picks(recipe_.channels, offered);
  window_ = Epoching::EpochWindow(recipe_, recipe_.samplingRate);
  std::tie(first_, last_) = Epoching::EpochReach(window_);
  filter_ = Epoching::RecipeFilter(recipe_, "the stream");
  capacity_ = (last_ - first_) + kPiece;
  ring_.assign(picks_.size() * capacity_, 0.0);
  if (filter_) state_.assign(picks_.size() * filter_->StateSize(), 0.0);
  piece_.resize(kPiece);
  mean_.resize(kPiece);
  scratch_.resize(last_ - first_);
}

void Cutter::AddEvent(const Recording::Event& event) {
  if (!Epoching::EventIn(flashes_, event)) {
    ++dropped_.skipped;
    return;
  }
  const long long from = event.sample + first_, to = event.sample + last_;
  // The offline rule: the reach lies within one part, which may be one
  // before the latest break.
  const bool crosses =
      std::any_of(breaks_.begin(), breaks_.end(), [&](long long b) {
        return from < b && b < to;
      });
  if (from < 0) {
    ++dropped_.outside;
  } else if (crosses) {
    ++dropped_.atBreaks;
  } else if (from < received_ - capacity_) {
    ++dropped_.late;
  } else {
    const auto at = std::upper_bound(
        pending_.begin(),
        pending_.end(),
        event.sample,
        [](long long s, const Recording::Event& e) { return s < e.sample; });
    pending_.insert(at, event);
    CutReady();
  }
}

void Cutter::AddSamples(const double* rows, long long count) {
  for (long long i = 0; i < count * offered_; ++i)
    if (!std::isfinite(rows[i]))
      throw DataError("sample " + std::to_string(received_ + i / offered_) +
                      ", column " + std::to_string(i % offered_ + 1) +
                      ": not a finite number");
  for (long long done = 0; done < count; done += kPiece) {
    const long long n = std::min(kPiece, count - done);
    Filter(rows + done * offered_, n);
    received_ += n;
    CutReady();
  }
}

void Cutter::AddBreak() {
  const auto spans = [&](const Recording::Event& e) {
    return e.sample + first_ < received_;
  };
  dropped_.atBreaks += std::count_if(pending_.begin(), pending_.end(), spans);
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(), spans),
                 pending_.end());
  partStart_ = received_;
  // Breaks before the samples held matter to no flash that can be cut.
  breaks_.erase(
      std::remove_if(breaks_.begin(),
                     breaks_.end(),
                     [&](long long b) { return b <= received_ - capacity_; }),
      breaks_.end());
  if (received_ > 0) breaks_.push_back(received_);
}

std::vector<CutFlash> Cutter::Take() {
  std::vector<CutFlash> cut;
  cut.swap(cut_);
  return cut;
}

// Steps 1-3 for `count` <= kPiece rows.
void Cutter::Filter(const double* rows, long long count) {
  const int C = static_cast<int>(picks_.size());
  const bool average = recipe_.reference == Epoching::Reference::kAverage;
  if (average)
    for (long long i = 0; i < count; ++i) {
      double m = 0.0;
      for (int c = 0; c < C; ++c) m += rows[i * offered_ + picks_[c]];
      mean_[i] = m / C;
    }
  for (int c = 0; c < C; ++c) {
    double* x = piece_.data();
    for (long long i = 0; i < count; ++i)
      x[i] = rows[i * offered_ + picks_[c]] - (average ? mean_[i] : 0.0);
    if (filter_) {
      double* state = state_.data() + c * filter_->StateSize();
      if (received_ == partStart_) filter_->Start(x[0], state);
      filter_->Forward(x, count, state);
    }
    double* ring = ring_.data() + c * capacity_;
    for (long long i = 0; i < count; ++i)
      ring[(received_ + i) % capacity_] = x[i];
  }
}

void Cutter::CutReady() {
  size_t ready = 0;
  while (ready < pending_.size() && pending_[ready].sample + last_ <= received_)
    cut_.push_back(CutOne(pending_[ready++]));
  pending_.erase(pending_.begin(), pending_.begin() + ready);
}

CutFlash Cutter::CutOne(const Recording::Event& event) {
  CutFlash flash;
  flash.event = event;
  flash.label = Epoching::EventIn(recipe_.targets, event)      ? 1
                : Epoching::EventIn(recipe_.nonTargets, event) ? -1
                                                               : 0;
  const int bins = recipe_.bins;
  flash.features.resize(picks_.size() * bins);
  const long long from = event.sample + first_, n = last_ - first_;
  for (size_t c = 0; c < picks_.size(); ++c) {
    const double* ring = ring_.data() + c * capacity_;
    for (long long i = 0; i < n; ++i)
      scratch_[i] = ring[(from + i) % capacity_];
    const double range = Epoching::CutWindow(
        scratch_.data() - first_, window_, bins, &flash.features[c * bins]);
    if (recipe_.rejectMicrovolts && range > *recipe_.rejectMicrovolts)
      flash.rejected = true;
  }
  for (double v : flash.features)
    if (!std::isfinite(v))
      throw DataError("the flash " + event.code + " at sample " +
                      std::to_string(event.sample) +
                      " has a feature that is not a finite number: the "
                      "samples are too large to filter and average");
  return flash;
}

}  // namespace Korva::Online
