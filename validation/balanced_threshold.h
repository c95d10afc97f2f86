#ifndef KORVA_VALIDATION_BALANCED_THRESHOLD_H_
#define KORVA_VALIDATION_BALANCED_THRESHOLD_H_

// The threshold chosen for balanced accuracy by a cross-validation of the
// training set.

#include <cstdint>
#include <vector>

#include "data/dataset.h"
#include "korva/hostkit/settings.h"
#include "korva/module_loader.h"
#include "validation/fold_runner.h"

namespace Korva::Validation {

// The inner cross-validation's folds and the seed they are dealt with.
constexpr int kThresholdFolds = 5;
constexpr std::uint64_t kThresholdSeed = 1;

// kThresholdFolds stratified folds of `data` dealt with kThresholdSeed,
// each trained with `parameters` (at most `jobs` at a time), and the score
// cut of their out-of-fold scores (BalancedCut). Error(kData) when `data`
// has fewer rows of a class than folds; errors of BalancedCut.
double ChooseBalancedCut(const Module& module,
                         const HostKit::SettingsChange& parameters,
                         const Data::Dataset& data,
                         int jobs);

// The score cut with the highest balanced accuracy over the out-of-fold
// scores of every fold together (Report::BalancedAccuracyCut); results[k]
// belongs to folds[k]. FoldError of the first fold that failed;
// Error(kData) when every score is the same.
double BalancedCut(const std::vector<FoldData>& folds,
                   const std::vector<FoldResult>& results);

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_BALANCED_THRESHOLD_H_
