#ifndef KORVA_CLI_EXIT_STATUS_H_
#define KORVA_CLI_EXIT_STATUS_H_

#include <functional>
#include <stdexcept>
#include <string>

namespace Korva::Cli {

// Exit status of korva, one per kind of failure.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,              // bad command line or parameter value
  kExitData = 3,               // input data missing, unreadable or invalid
  kExitModule = 4,             // module not loadable, entry point missing
  kExitModel = 5,              // model document unreadable or unusable
  kExitTrainingFailed = 6,     // training returned a non-zero result
  kExitTrainingException = 7,  // training raised an exception
  kExitOutput = 8,             // an output file could not be written
  kExitNoDisplay = 9,          // edit without a display
};

// A failure of korva's own that ends the command with `code`.
class CliError : public std::runtime_error {
 public:
  CliError(int code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// Runs a command and returns its exit status: its own result, or for an
// exception the status of its kind (host kit errors, the data-source layer's
// errors, cross-validation errors, data errors, CliError; 1 for anything
// else) after printing "korva: error: MESSAGE" on standard error. Output that
// never reached standard output (a full disk behind a redirection) turns
// success into kExitOutput.
int RunCommand(const std::function<int()>& command);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_EXIT_STATUS_H_
