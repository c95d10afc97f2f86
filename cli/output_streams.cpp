#include "cli/output_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "cli/exit_status.h"
#include "korva/hostkit/output_stream.h"

namespace Korva::Cli {

void ReserveStandardDescriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as those below it are open.
    const int null =
        ::open("/dev/null", (fd == STDIN_FILENO ? O_WRONLY : O_RDONLY));
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

bool WritesStandardOutput(const std::string& path) {
  return HostKit::OutputDescriptor(path) == STDOUT_FILENO;
}

bool WritesDescriptor(const std::string& path) {
  return HostKit::OutputDescriptor(path).has_value();
}

void CheckOneOutputPerStream(const std::vector<CommandFile>& files) {
  for (size_t a = 0; a < files.size(); ++a) {
    if (!files[a].output || files[a].path.empty()) continue;
    const std::optional<int> fd = HostKit::OutputDescriptor(files[a].path);
    if (!fd) continue;
    for (size_t b = a + 1; b < files.size(); ++b)
      if (files[b].output && !files[b].path.empty() &&
          HostKit::OutputDescriptor(files[b].path) == fd)
        throw CliError(kExitUsage,
                       files[a].role + " and " + files[b].role +
                           " both write to " + HostKit::DescriptorName(*fd) +
                           ", where their texts would run together; give " +
                           "one of them a file");
  }
}

}  // namespace Korva::Cli
