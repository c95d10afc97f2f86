#ifndef KORVA_VALIDATION_SELECTION_FOLDS_H_
#define KORVA_VALIDATION_SELECTION_FOLDS_H_

// Cross-validation of a speller session at the level of selections: folds
// of whole runs or whole selections, each fold's flashes scored by the
// classifier trained on the other folds' flashes, and the held-out
// selections decoded (Speller::Decode) into the accuracy-against-repetitions
// curve, pooled over the folds and per fold.

#include <vector>

#include "data/dataset.h"
#include "korva/classifier_base.h"
#include "speller/decoding.h"
#include "speller/session.h"
#include "validation/fold_plan.h"
#include "validation/fold_runner.h"

namespace Korva::Validation {

// The group column of a session folded by selections.
constexpr const char* kSelectionGroups = "selection";

// Makes the groups that folds deal whole: the runs when `data` (the
// session's flashes, one row each) has more than one, else its selections
// (group column kSelectionGroups, groups named by number from 1).
void GroupForSelections(Data::Dataset& data, const Speller::Session& session);

struct SelectionEvaluation {
  Speller::Decoding pooled;              // every selection, held out
  std::vector<Speller::Decoding> folds;  // each fold's held-out selections
  std::vector<int> foldSelections;       // how many each fold holds
};

// Decodes the held-out flashes of every fold of `plan` with their scores in
// `results` (RunFolds, in fold order), ranking through `ranker`. Error(kData)
// when a selection's flashes lie in several folds; Speller::Error as
// Speller::Decode.
SelectionEvaluation EvaluateSelections(const Plan& plan,
                                       const std::vector<FoldResult>& results,
                                       const Speller::Session& session,
                                       ClassifierBase& ranker);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_SELECTION_FOLDS_H_
