#ifndef KORVA_SPELLER_TRACKER_H_
#define KORVA_SPELLER_TRACKER_H_

// The selections of a speller session decided while it runs, as its flashes
// are scored one by one in onset order (korva stream).
//
// A flash is announced when its event arrives (AddFlash) and belongs to the
// selection begun last; its score comes later (Score), in onset order, so a
// flash announced before a scored one and still unscored was left out (its
// epoch rejected or not cut). Repetition k of a selection is complete when
// the k-th flash of every code of the layout is scored; its flashes then go
// to the selection's SelectionDecoder in the order announced, so the sums
// are those of Decode (decoding.h) to the last bit. A selection is decided
//   - with a stopping level, at the first repetition whose chosen item's
//     posterior reaches it (step 5 of decoding.h);
//   - otherwise, or when none does, at its last repetition R: flashes per
//     selection / codes when selections hold a count of flashes, else the
//     repetitions of the first selection, known once it has ended (the next
//     one begins, or the stream ends) and its flashes are all accounted for.
// A selection that has ended is checked as korva spell checks a session
// (CountRepetitions): every code flashed as often, and as often as in the
// first selection.
//
// Memory: the selections not yet decided or checked, and the target markers
// at their samples.

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "speller/decoding.h"

namespace Korva::Speller {

// A selection decided.
struct Decided {
  int selection = 0;                // from 0, in the order they began
  int item = 0;                     // the item chosen
  int repetitions = 0;              // the repetitions it was chosen with
  std::optional<double> posterior;  // the chosen item's, with a score model
  std::optional<int> target;        // when known
};

class SelectionTracker {
 public:
  // Selections of `layout`, ranked by `ranker` (both must outlive the
  // tracker), decoded with `options`. `selectionFlashes`: the flashes of
  // each selection, 0 when BeginSelection delimits them. `targets`: each
  // selection's target in order (a target text), empty to find them from
  // the markers (AddMark). `name` names the stream in messages.
  // Error(kSettings) when `selectionFlashes` is not a whole number of
  // rounds of the layout's codes; Error(kModel) as Decode for a level
  // without a score model.
  SelectionTracker(const Layout& layout,
                   ClassifierBase& ranker,
                   const DecodeOptions& options,
                   int selectionFlashes,
                   std::vector<int> targets,
                   std::string name);

  // A selection begins with the next flash; the one under way has ended.
  void BeginSelection();
  // The flash of `code` (a code of the layout) at `sample`. False for a
  // flash before the first selection, which is skipped. Error(kSettings)
  // when a selection begins beyond the target text.
  bool AddFlash(long long sample, int code);
  // A marker at `sample`: +1 of a target flash, -1 of a non-target one.
  void AddMark(long long sample, int mark);
  // The score of the flash of `code` at `sample`. Error(kData) as
  // CountRepetitions for a selection that has ended without its flashes,
  // or as TargetOfLabels for markers that fit no one target.
  void Score(long long sample, int code, double score);
  // The stream has ended: its flashes not scored were left out. A last
  // selection that cannot be decided so is dropped, and the returned text
  // says why ("" otherwise); earlier ones fail as for Score.
  std::string End();

  // The selections decided since the last call, in order.
  std::vector<Decided> Take();
  int Begun() const { return begun_; }
  long long Skipped() const { return skipped_; }

 private:
  struct Flash {
    long long sample = 0;
    int code = 0;  // its index in the layout
    double score = 0;
    bool scored = false, missing = false;
  };
  struct Selection {
    int number = 0;
    std::vector<Flash> flashes;            // as announced
    std::vector<std::vector<int>> byCode;  // flash indices per code
    std::optional<SelectionDecoder> decoder;
    int fed = 0;  // repetitions given to the decoder
    bool ended = false, decided = false;
  };

  void Open();
  void Advance(Selection& s);
  void Retire();
  void RetireFirst();
  bool RepetitionScored(const Selection& s, int k) const;
  bool Accounted(const Selection& s) const;
  void Check(const Selection& s);
  void Decide(Selection& s);
  std::string SelectionName(int number) const;

  const Layout& layout_;
  ClassifierBase& ranker_;
  DecodeOptions options_;
  int selectionFlashes_ = 0;
  std::vector<int> targets_;
  std::string name_;
  int repetitions_ = 0;  // R; 0 until known
  int begun_ = 0;
  bool beginPending_ = false;
  long long skipped_ = 0;
  std::deque<Selection> open_;
  std::map<long long, int> marks_;  // by sample
  std::vector<Decided> decided_;
};

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_TRACKER_H_
