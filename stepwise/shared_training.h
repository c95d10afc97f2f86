#ifndef KORVA_STEPWISE_SHARED_TRAINING_H_
#define KORVA_STEPWISE_SHARED_TRAINING_H_

// Trainings on a subset of a row set's rows, several settings at once, that
// end exactly as DoTrain on a matrix of those rows would (the module's
// extension korva/subset_training.h).
//
// The method, for one subset and the classifiers of its settings:
//   1. The subset's product: A_F itself, or A_D, the set's product less the
//      held-out rows' (stepwise/row_set.h).
//   2. The settings' trainings run together as a tree: they share one
//      engine while their choices agree, and a setting whose choice parts
//      from the others' continues on a copy (StepwiseEngine::Branch). Each
//      iteration runs Evaluate once for every setting at the node, forms
//      the p-values the choices need (stepwise/shared_choice.h), and makes
//      each setting's choice with DoTrain's rule and ambiguity check; where
//      the engine refuses, the exact step's fit (RegressionStep on the
//      subset's rows, as DoTrain's StepCalc) serves every setting at the
//      node. Messages and weights come from TrainingCourse, as DoTrain's.
//   3. On A_F this is DoTrain: its engine would hold the same numbers in
//      the same places, and the same choices follow from them. On A_D the
//      run also collects the columns it rests on: every feature that
//      enters, leaves or is named in a message, and every candidate whose
//      choice or refusal lies within kChoiceBand of turning. A run whose
//      columns all hold A_F's entries (MakeExact) is DoTrain's: every value
//      it writes (p-values, coefficients, intercept) is formed from those
//      entries alone, with A_F's sums in the same order, so to the last
//      bit; every choice that reads another column is more than
//      kChoiceBand from turning, where A_D's rounding (a few ε relative,
//      times the cancellation the engine's own bounds allow) cannot reach.
//      Otherwise the columns found are made exact and the run repeats (on
//      the second or third try, or once they are half the columns, on A_F
//      whole).
// A setting whose course the shared run cannot vouch for (its exact step
// throws; nothing qualifies in the first iteration on A_D, where DoTrain
// prints every p-value) is left to the host's Train2.
//
// Memory: the subset's product (q²), one engine (stepwise_engine.h) and
// for each branch waiting its turn a copy of the factor's rows in use; the
// exact step reads the subset's rows in place, and its fits are kept by
// selection for the subset's reruns (2 p doubles each).

#include <vector>

#include "korva/subset_training.h"
#include "stepwise/row_set.h"

namespace Korva {

// Trains each of `count` trainings on the rows `subset` of `set` (see
// TrainRowSubset in korva/subset_training.h).
void TrainSubset(const RowSet& set,
                 std::vector<int> subset,
                 SubsetTraining* trainings,
                 int count);

}  // namespace Korva

#endif  // KORVA_STEPWISE_SHARED_TRAINING_H_
