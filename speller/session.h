#ifndef KORVA_SPELLER_SESSION_H_
#define KORVA_SPELLER_SESSION_H_

// A speller session as plain data: its flashes (a stimulus code each, in the
// order shown), the selection each belongs to, and the selections' targets.
//
// The rules every reader and the decoder share:
//   - a flash is a target exactly when its code lights its selection's
//     target (FlashLabel): the labels of a copy-spelling session follow
//     from the layout and the targets;
//   - a flash belongs to repetition k (from 1) when it is the k-th flash of
//     its code in its selection, in the session's order (Repetitions).

#include <optional>
#include <string>
#include <vector>

#include "speller/layout.h"

namespace Korva::Speller {

// How long the flashes and the pauses between selections last, for the
// information transfer rate per minute.
struct Timing {
  std::optional<double> flashSeconds;  // onset to onset; none: not known
  double pauseSeconds = 0;             // between two selections
  std::string source;                  // how they were found, for people
};

struct Session {
  Layout layout;
  std::vector<int> codes;       // one per flash
  std::vector<int> selections;  // one per flash: 0 .. Selections() - 1
  // One per selection: its target item, when known.
  std::vector<std::optional<int>> targets;
  // One per selection, as messages name it: "selection 3 of run2.vhdr".
  std::vector<std::string> names;
  Timing timing;

  int Selections() const { return static_cast<int>(targets.size()); }
  // True when every selection's target is known.
  bool TargetsKnown() const;
};

// +1 when `code` lights `target`, else -1; -1 for a code the layout lacks.
double FlashLabel(const Layout& layout, int code, int target);

// Each flash's label by FlashLabel: +1, -1, or 0 where its selection's
// target is not known.
std::vector<double> FlashLabels(const Session& session);

// The target of a selection that the labels of its flashes (`codes[i]`
// labelled `labels[i]`, +1 or -1; 0 and NaN: not labelled) single out: the
// one item lit by every +1 flash and by no -1 flash. None when no flash is
// labelled; Error(kData), naming `what`, when the labels fit no item, or
// more than one.
std::optional<int> TargetOfLabels(const Layout& layout,
                                  const std::vector<int>& codes,
                                  const std::vector<double>& labels,
                                  const std::string& what);

// Each flash's repetition, from 0, and the repetitions of every selection.
struct Repetitions {
  std::vector<int> of;  // one per flash
  int count = 0;
};

// Error(kData), naming the selection and what it lacks, for a code outside
// the layout, a selection in which the layout's codes are not each flashed
// the same number of times (a selection with missing codes), or selections
// with different numbers of repetitions.
Repetitions CountRepetitions(const Session& session);

// The targets of `text` (one symbol per selection, by TextItems) for
// `selections` selections. Error(kSettings) for an unknown symbol or a text
// of another length.
std::vector<std::optional<int>> TextTargets(const Layout& layout,
                                            const std::string& text,
                                            int selections);

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_SESSION_H_
