#ifndef KORVA_CLI_SCORING_H_
#define KORVA_CLI_SCORING_H_

// What the commands that score with a saved model share (score, spell):
// the model loaded, and the data cut or read as the model needs them.

#include <iosfwd>
#include <optional>
#include <string>

#include "cli/data_input.h"
#include "korva/hostkit/trained_model.h"
#include "korva/module_loader.h"

namespace Korva::Cli {

// The model at `path`, its digest recorded and its warnings said;
// CliError(kExitModel) when it cannot classify.
HostKit::TrainedModel LoadScoringModel(const Module& module,
                                       const std::string& path);

// The data of `source` as `model` (the document at `modelPath`) scores
// them: recordings cut by its recipe (a speller model's flashes by its
// paradigm unless `source.speller` is set; their recipe said on `info`), a
// table as it is, its columns in the model's order (MatchColumns, unless
// `ignoreNames`). CliError(kExitData) for recordings without a recipe, a
// table for a model with one, or another number of features. `speller`
// (may be null) receives a speller session's selections; `files` (may be
// null), the command's files, those the recordings read (LoadData).
Dataset LoadScoringData(const std::string& modelPath,
                        const HostKit::TrainedModel& model,
                        DataSource source,
                        bool ignoreNames,
                        std::ostream* info,
                        std::optional<Speller::Session>* speller = nullptr,
                        std::vector<CommandFile>* files = nullptr);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_SCORING_H_
