#include "testing/korva_runner.h"

#include <sys/wait.h>

#include <cstdlib>

namespace Korva::Testing {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Result Shell(const fs::path& dir, const std::string& command) {
  const TempDir io;
  const std::string line = "cd " + Quote(dir.string()) +
                           " && { unset KORVA_MODULE; " + command + " ; } >" +
                           Quote(io / "out") + " 2>" + Quote(io / "err");
  const int wait = std::system(line.c_str());
  Result result;
  result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
  result.out = ReadFile(io / "out");
  result.err = ReadFile(io / "err");
  return result;
}

std::string Program(const std::string& binary) {
  const char* wrapper = std::getenv("KORVA_TEST_WRAPPER");
  return (wrapper && *wrapper ? std::string(wrapper) + " " : "") +
         Quote(binary);
}

}  // namespace Korva::Testing
