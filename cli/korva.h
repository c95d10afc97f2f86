#ifndef KORVA_CLI_KORVA_H_
#define KORVA_CLI_KORVA_H_

namespace Korva::Cli {

// Parses the command line of korva, runs the chosen subcommand and returns
// the exit status (ExitCode); messages go to standard output and errors to
// standard error.
int RunKorva(int argc, char** argv);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_KORVA_H_
