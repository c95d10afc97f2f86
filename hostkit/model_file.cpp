#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "korva/hostkit/trained_model.h"
#include "korva/hostkit/error.h"

namespace Korva::HostKit {

std::string ReadModelFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  struct stat info {};
  if (!error && ::fstat(fd, &info) != 0) error = errno;
  const bool folder = !error && S_ISDIR(info.st_mode);
  bool tooLarge = false;
  std::string text;
  char block[1 << 16];
  while (!error && !folder && !tooLarge) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    tooLarge = text.size() + static_cast<size_t>(n) > kMaxDocumentBytes;
    if (!tooLarge) text.append(block, static_cast<size_t>(n));
  }
  if (fd >= 0) ::close(fd);
  const std::string cannot = "cannot read model " + path + ": ";
  if (error) throw Error(ErrorKind::kModel, cannot + std::strerror(error));
  if (folder) throw Error(ErrorKind::kModel, cannot + "it is a folder");
  if (tooLarge)
    throw Error(ErrorKind::kModel,
                cannot + "it holds more than the " +
                    std::to_string(kMaxDocumentBytes >> 20) +
                    " MiB a classifier document may have");
  return text;
}

}  // namespace Korva::HostKit
