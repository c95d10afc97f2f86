#include "cli/korva.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/summary.h"

namespace Korva::Cli {

int RunKorva(int argc, char** argv) {
  CLI::App app{
      "korva: trains, evaluates and applies the DOZOD stepwise "
      "linear discriminant classifier (module ZEZODOvo64.kvc)"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("korva ") + kVersion);
  SetCommandLine(argc, argv);
  app.footer(
      "Exit status: 0 success, 2 bad command line or parameter, 3 bad input "
      "data, 4 module cannot be loaded, 5 unusable model document, 6 training "
      "failed, 7 exception inside training, 8 output cannot be written, 9 no "
      "display for edit.");
  const std::vector<Command> commands = {
      AddTrainCommand(app),
      AddScoreCommand(app),
      AddEvaluateCommand(app),
      AddInfoCommand(app),
      AddEditCommand(app, argc > 0 ? argv[0] : "korva"),
      AddGenerateCommand(app),
      AddDemoCommand(app),
      AddEpochsCommand(app),
  };
  app.failure_message([](const CLI::App* korva, const CLI::Error& error) {
    return "korva: error: " + CLI::FailureMessage::simple(korva, error);
  });
  // CLI11 would say only that a subcommand is required.
  if (argc > 1 && argv[1][0] != '-' &&
      std::none_of(commands.begin(), commands.end(), [&](const Command& c) {
        return c.app->get_name() == argv[1];
      })) {
    std::cerr << "korva: error: unknown command '" << argv[1]
              << "' (commands: train, score, evaluate, info, edit, generate, "
                 "demo, epochs)\n";
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version: their text must reach standard output too.
    return RunCommand(
        [&] { return app.exit(error) == 0 ? kExitOk : kExitUsage; });
  }
  for (const Command& command : commands)
    if (command.app->parsed()) return RunCommand(command.run);
  return kExitUsage;
}

}  // namespace Korva::Cli
