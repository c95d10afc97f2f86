#ifndef KORVA_CLI_ATOMIC_FILE_H_
#define KORVA_CLI_ATOMIC_FILE_H_

#include <functional>
#include <stdexcept>
#include <string>

namespace Korva::Cli {

// An output file that could not be written; what() names it and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces the file at `path` as one step, so it holds either its old content
// or the whole new one: `write` fills a new temporary file in the same folder
// (its path is passed in), which is then flushed to disk and renamed over
// `path`. An interrupt (SIGINT, SIGTERM, SIGHUP) during the write removes the
// temporary file. Throws OutputError when the file cannot be created, written
// or renamed, and passes on what `write` throws; the temporary file is removed
// and `path` is left as it was in both cases.
void WriteAtomically(
    const std::string& path,
    const std::function<void(const std::string& tempPath)>& write);

// Throws the OutputError that WriteAtomically(path) would, when `path` is a
// folder or its folder is missing or not writable; lets a command refuse
// before it spends time on work whose result it could not save.
void CheckWritable(const std::string& path);

// WriteAtomically with `text` as the whole content.
void WriteTextAtomically(const std::string& path, const std::string& text);

// Creates `path` and its missing parents as folders. Throws OutputError.
void MakeDirectories(const std::string& path);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_ATOMIC_FILE_H_
