#ifndef KORVA_CLI_SPELLER_OPTIONS_H_
#define KORVA_CLI_SPELLER_OPTIONS_H_

// The options of a speller session, which the commands that train share:
// the layout and its symbols, where the selections of recordings start,
// and the targets.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace Korva::Cli

#endif  // KORVA_CLI_SPELLER_OPTIONS_H_
