#ifndef KORVA_STEP_MESSAGE_H_
#define KORVA_STEP_MESSAGE_H_

// The message a stepwise training gives for each change of its selection:
//   "Step N, add feat K,  p = P"   (or "rem" for a removal)
// N counts the changes from 1, K the features from 1, and P is the p-value in
// a fresh stream's default form (six significant digits). The training
// driver writes it with StepMessage; hosts read it back with ParseStepMessage.

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>

namespace Korva {

// One change of the selection as its message tells it.
struct StepChange {
  int step = 0;       // N
  bool added = true;  // "add"; false for "rem"
  int feature = 0;    // K - 1, counted from 0
  double p = 0.0;     // P as written (six significant digits)
};

// The message of change `step` of `feature` (counted from 0) with p-value p.
inline std::string StepMessage(int step, bool added, int feature, double p) {
  std::ostringstream text;
  text << "Step " << step << (added ? ", add feat " : ", rem feat ")
       << feature + 1 << ",  p = " << p;
  return text.str();
}

// The change a whole message tells, or nothing when it is not a step message.
inline std::optional<StepChange> ParseStepMessage(const std::string& message) {
  StepChange change;
  char action[4] = {};
  int feature = 0, length = -1;
  if (std::sscanf(message.c_str(),
                  "Step %d, %3[a-z] feat %d,  p = %lf%n",
                  &change.step,
                  action,
                  &feature,
                  &change.p,
                  &length) != 4 ||
      length != static_cast<int>(message.size()))
    return std::nullopt;
  const std::string word = action;
  if (word != "add" && word != "rem") return std::nullopt;
  change.added = word == "add";
  change.feature = feature - 1;
  return change;
}

}  // namespace Korva

#endif  // KORVA_STEP_MESSAGE_H_
