#ifndef KORVA_CLI_COMMANDS_H_
#define KORVA_CLI_COMMANDS_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "cli/exit_status.h"

namespace Korva::Cli {

// A subcommand of korva: its parser, and what runs when it was given. `run`
// returns the exit status and may throw (see RunCommand).
struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

// Each adds one subcommand with its options to `korva`; one file each.
Command AddTrainCommand(CLI::App& korva);
Command AddScoreCommand(CLI::App& korva);
Command AddSpellCommand(CLI::App& korva);
Command AddEvaluateCommand(CLI::App& korva);
Command AddTuneCommand(CLI::App& korva);
Command AddInfoCommand(CLI::App& korva);
// `program` is argv[0], the name the GUI application gets.
Command AddEditCommand(CLI::App& korva, const std::string& program);
Command AddGenerateCommand(CLI::App& korva);
Command AddDemoCommand(CLI::App& korva);
Command AddEpochsCommand(CLI::App& korva);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_COMMANDS_H_
