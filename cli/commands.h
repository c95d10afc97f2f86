#ifndef KORVA_CLI_COMMANDS_H_
#define KORVA_CLI_COMMANDS_H_

#include <string>

namespace Korva::Cli {

// Parses the command line of korva, runs the chosen subcommand and returns
// the exit status (ExitCode); messages go to standard output and errors to
// standard error.
int RunKorva(int argc, char** argv);

// Shows the configuration dialog of the classifier saved in `modelPath` and
// saves it back when the user accepts. `program` is argv[0]. Creates the GUI
// application unless the process has one. Returns the exit status; throws
// CliError when there is no display or the model is unusable.
int RunEdit(const std::string& program,
            const std::string& modelPath,
            const std::string& modulePath);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_COMMANDS_H_
