#include "speller/tracker.h"

#include "speller/error.h"

namespace Korva::Speller {

SelectionTracker::SelectionTracker(const Layout& layout,
                                   ClassifierBase& ranker,
                                   const DecodeOptions& options,
                                   int selectionFlashes,
                                   std::vector<int> targets,
                                   std::string name)
    : layout_(layout),
      ranker_(ranker),
      options_(options),
      selectionFlashes_(selectionFlashes),
      targets_(std::move(targets)),
      name_(std::move(name)) {
  if (options.stopAt) {
    CheckStopLevel(*options.stopAt);
    if (!options.likelihood)
      throw Error(ErrorKind::kModel,
                  "dynamic stopping needs the model's score model, which "
                  "this model does not carry");
  }
  if (selectionFlashes > 0 && selectionFlashes % layout.Codes() != 0)
    throw Error(ErrorKind::kSettings,
                "--selection-flashes " + std::to_string(selectionFlashes) +
                    " is not a whole number of rounds of the " +
                    std::to_string(layout.Codes()) + " codes of the " +
                    LayoutText(layout));
  repetitions_ = selectionFlashes / layout.Codes();
}

std::string SelectionTracker::SelectionName(int number) const {
  return "selection " + std::to_string(number + 1) + " of " + name_;
}

void SelectionTracker::BeginSelection() {
  beginPending_ = true;
  if (!open_.empty()) open_.back().ended = true;
  Retire();
}

void SelectionTracker::Open() {
  if (!targets_.empty() && begun_ >= static_cast<int>(targets_.size()))
    throw Error(ErrorKind::kSettings,
                "--target-text has " + std::to_string(targets_.size()) +
                    " symbols, and " + SelectionName(begun_) +
                    " has begun: give one symbol per selection");
  if (!open_.empty()) open_.back().ended = true;
  Selection& s = open_.emplace_back();
  s.number = begun_++;
  s.byCode.resize(layout_.Codes());
  s.decoder.emplace(layout_, ranker_, options_);
  beginPending_ = false;
}

bool SelectionTracker::AddFlash(long long sample, int code) {
  const bool full =
      !open_.empty() && selectionFlashes_ > 0 &&
      static_cast<int>(open_.back().flashes.size()) == selectionFlashes_;
  if (beginPending_ || full || (selectionFlashes_ > 0 && begun_ == 0)) {
    Open();
  } else if (begun_ == 0) {
    ++skipped_;
    return false;
  }
  Selection& s = open_.back();
  const int c = layout_.CodeIndex(code);
  s.byCode[c].push_back(static_cast<int>(s.flashes.size()));
  s.flashes.push_back({sample, c});
  if (selectionFlashes_ > 0 &&
      static_cast<int>(s.flashes.size()) == selectionFlashes_)
    s.ended = true;
  return true;
}

void SelectionTracker::AddMark(long long sample, int mark) {
  marks_[sample] = mark;
}

void SelectionTracker::Score(long long sample, int code, double score) {
  const int c = layout_.CodeIndex(code);
  for (Selection& s : open_)
    for (Flash& f : s.flashes) {
      if (f.scored || f.missing || f.sample > sample) continue;
      if (f.sample < sample) {
        f.missing = true;  // cut in onset order: this one will not come
      } else if (f.code == c) {
        f.score = score;
        f.scored = true;
      }
    }
  Retire();
  for (Selection& s : open_) Advance(s);
}

bool SelectionTracker::RepetitionScored(const Selection& s, int k) const {
  for (const std::vector<int>& flashes : s.byCode)
    if (static_cast<int>(flashes.size()) <= k || !s.flashes[flashes[k]].scored)
      return false;
  return true;
}

bool SelectionTracker::Accounted(const Selection& s) const {
  for (const Flash& f : s.flashes)
    if (!f.scored && !f.missing) return false;
  return true;
}

// Gives the decoder each repetition once all its flashes are scored, in
// the order announced, until the selection is decided.
void SelectionTracker::Advance(Selection& s) {
  while (!s.decided && RepetitionScored(s, s.fed)) {
    for (size_t i = 0; i < s.flashes.size(); ++i) {
      const Flash& f = s.flashes[i];
      if (f.scored && s.byCode[f.code][s.fed] == static_cast<int>(i))
        s.decoder->AddFlash(layout_.codes[f.code], f.score);
    }
    s.decoder->EndRepetition();
    ++s.fed;
    if (s.decoder->Result().stopped > 0 || s.fed == repetitions_) Decide(s);
  }
}

// Checks, decides and lets go the selections at the front that have ended
// and whose flashes are all scored or left out: from the front only, so the
// decisions keep the selections' order.
void SelectionTracker::Retire() {
  while (!open_.empty() && open_.front().ended && Accounted(open_.front()))
    RetireFirst();
}

void SelectionTracker::RetireFirst() {
  Selection& s = open_.front();
  Advance(s);
  Check(s);
  if (!s.decided) Decide(s);
  // Markers are kept for the flashes of the selections still open.
  const long long keep = open_.size() > 1 && !open_[1].flashes.empty()
                             ? open_[1].flashes.front().sample
                             : s.flashes.back().sample + 1;
  marks_.erase(marks_.begin(), marks_.lower_bound(keep));
  open_.pop_front();
}

// CountRepetitions over the flashes scored, which are a whole session's
// flashes of one selection; then its repetitions against the first's.
void SelectionTracker::Check(const Selection& s) {
  Session one;
  one.layout = layout_;
  for (const Flash& f : s.flashes)
    if (f.scored) one.codes.push_back(layout_.codes[f.code]);
  one.selections.assign(one.codes.size(), 0);
  one.targets.resize(1);
  one.names = {SelectionName(s.number)};
  const int count = CountRepetitions(one).count;
  if (repetitions_ == 0) repetitions_ = count;
  if (count != repetitions_)
    throw Error(ErrorKind::kData,
                one.names[0] + " has " + std::to_string(count) +
                    " repetitions and " + SelectionName(0) + " " +
                    std::to_string(repetitions_) +
                    ": the selections must have as many");
}

void SelectionTracker::Decide(Selection& s) {
  s.decided = true;
  const SelectionDecoding& d = s.decoder->Result();
  Decided out;
  out.selection = s.number;
  out.repetitions = d.stopped > 0 ? d.stopped : s.fed;
  out.item = d.chosen[out.repetitions - 1];
  if (!d.posterior.empty()) out.posterior = d.posterior[out.repetitions - 1];
  if (!targets_.empty()) {
    out.target = targets_[s.number];
  } else {
    std::vector<int> codes;
    std::vector<double> labels;
    for (const Flash& f : s.flashes) {
      codes.push_back(layout_.codes[f.code]);
      const auto mark = marks_.find(f.sample);
      labels.push_back(mark == marks_.end() ? 0.0 : mark->second);
    }
    out.target =
        TargetOfLabels(layout_, codes, labels, SelectionName(s.number));
  }
  decided_.push_back(out);
}

std::string SelectionTracker::End() {
  for (Selection& s : open_) {
    s.ended = true;
    for (Flash& f : s.flashes) f.missing = f.missing || !f.scored;
  }
  while (open_.size() > 1) RetireFirst();
  if (open_.empty()) return "";
  try {
    RetireFirst();
  } catch (const Error& error) {
    open_.clear();
    return std::string(error.what()) + "; it was not decided";
  }
  return "";
}

std::vector<Decided> SelectionTracker::Take() {
  std::vector<Decided> out;
  out.swap(decided_);
  return out;
}

}  // namespace Korva::Speller
