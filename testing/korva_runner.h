#ifndef KORVA_TESTING_KORVA_RUNNER_H_
#define KORVA_TESTING_KORVA_RUNNER_H_

#include <string>

#include "testing/files.h"

namespace Korva::Testing {

// What a command did.
struct Result {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// `text` quoted for /bin/sh.
std::string Quote(const std::string& text);

// Runs `command` with /bin/sh in `dir`, with KORVA_MODULE unset; standard
// output and error are captured outside `dir`.
Result Shell(const fs::path& dir, const std::string& command);

// The quoted command that runs the program at `binary`, behind
// $KORVA_TEST_WRAPPER when that is set (a valgrind command line, say).
std::string Program(const std::string& binary);

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_KORVA_RUNNER_H_
