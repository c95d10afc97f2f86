#ifndef KORVA_CLI_TRAIN_H_
#define KORVA_CLI_TRAIN_H_

// The training of korva train, which tune --model shares: what a model
// written by either command holds comes from one place.

#include <iosfwd>
#include <optional>
#include <string>

#include "cli/data_input.h"
#include "epoching/recipe.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/trained_model.h"
#include "korva/module_loader.h"
#include "speller/paradigm.h"

namespace Korva::Cli {

// Trains `classifier` (of `module`, configured with `parameters`) on `data`:
// with `balanced` its threshold first chosen by a cross-validation of `data`
// (said on `out`), the recipe that cut `data` from recordings and the
// speller paradigm of its flashes (when there are) kept in the model, its
// one-line description and training messages on `out` (when not null), the JSON
// log written to `logJson` (when not empty) whatever the outcome, a warning
// when no feature was selected. The training error when it does not succeed.
HostKit::TrainedModel TrainConfigured(
    const Module& module,
    ClassifierHandle classifier,
    const HostKit::SettingsChange& parameters,
    bool balanced,
    const std::optional<Epoching::Recipe>& recipe,
    const std::optional<Speller::Paradigm>& paradigm,
    Dataset& data,
    const std::string& logJson,
    std::ostream* out);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_TRAIN_H_
