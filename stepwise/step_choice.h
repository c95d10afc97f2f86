#ifndef KORVA_STEPWISE_STEP_CHOICE_H_
#define KORVA_STEPWISE_STEP_CHOICE_H_

// The rule that picks the next change of a stepwise selection from the
// p-values of one regression step. Entry comes first: the feature outside the
// model with the smallest p-value below pEnter enters. Only when none can
// enter, the model feature with the largest p-value above pRemove leaves.
// Both comparisons are strict, so a tie goes to the lower index, a p-value
// equal to a threshold changes nothing, and a NaN is never picked. A p-value
// must also lie below 1.0 to enter and above 0.0 to leave.

namespace Korva {

// The feature to change among features 0 .. m-1, or -1 for none.
// inModel(i): whether feature i is in the model; p(i): its p-value.
template <typename InModel, typename PValue>
int ChooseStep(int m,
               const InModel& inModel,
               const PValue& p,
               double pEnter,
               double pRemove) {
  double best = 1.0;
  int pick = -1;
  for (int i = 0; i < m; ++i) {
    const double value = p(i);
    if (!inModel(i) && value < pEnter && value < best) {
      best = value;
      pick = i;
    }
  }
  if (pick != -1) return pick;
  best = 0.0;
  for (int i = 0; i < m; ++i) {
    const double value = p(i);
    if (inModel(i) && value > pRemove && value > best) {
      best = value;
      pick = i;
    }
  }
  return pick;
}

}  // namespace Korva

#endif  // KORVA_STEPWISE_STEP_CHOICE_H_
