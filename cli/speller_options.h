#ifndef KORVA_CLI_SPELLER_OPTIONS_H_
#define KORVA_CLI_SPELLER_OPTIONS_H_

// The options of a speller session, which the commands that train share:
// the layout and its symbols, where the selections of recordings start,
// and the targets.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "korva/hostkit/trained_model.h"
#include "sources/speller_source.h"

namespace Korva::Cli {

struct SpellerOptions {
  std::string layout, symbols, targetText;
  std::vector<std::string> selectionEvents;
  int selectionFlashes = 0;
  CLI::App* command = nullptr;  // where AddSpellerOptions declared them

  // The request of the options, none without --layout. CliError(kExitUsage)
  // for the other options without --layout, or both ways of delimiting
  // selections; Speller::Error as Speller::MakeLayout.
  std::optional<Sources::SpellerRequest> Request(bool targetsRequired) const;
};

// --layout, --symbols, --selection-events, --selection-flashes and
// --target-text.
void AddSpellerOptions(CLI::App* command, SpellerOptions& options);

// --target-text alone, for a command whose model holds the layout.
void AddTargetTextOption(CLI::App* command, std::string& text);

// --stop-at P: dynamic stopping.
void AddStopOption(CLI::App* command, std::optional<double>& level);

// The session a command that decodes with a model asks for: the paradigm
// the model keeps with what the options change (the layout and its
// symbols, where selections start), and the target text. None when
// neither the model nor the options give a layout. CliError(kExitUsage)
// for --symbols without --layout; Sources::Error(kModel) for a paradigm
// the model cannot give back.
std::optional<Sources::SpellerRequest> ModelSpellerRequest(
    const SpellerOptions& given,
    const HostKit::TrainedModel& model,
    const std::string& modelPath);

// The score model of dynamic stopping of the model at `modelPath`:
// CliError(kExitModel) when it cannot give one and it is `needed`.
std::optional<HostKit::ScoreLikelihood> StopLikelihood(
    const HostKit::TrainedModel& model,
    const std::string& modelPath,
    bool needed);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_SPELLER_OPTIONS_H_
