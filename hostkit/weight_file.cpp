#include "korva/hostkit/weight_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"

namespace Korva::HostKit {

void SaveWeights(ClassifierBase& classifier, const std::string& path) {
  // SaveToFile reports no failure, so on a full disk its file would end short
  // unseen and replace the earlier one. It writes into a file in memory
  // instead, and the bytes reach the disk through a write that checks.
  const int fd = ::memfd_create("korva-weights", MFD_CLOEXEC);
  if (fd < 0)
    throw Error(ErrorKind::kOutput,
                "cannot write " + path + ": " + std::strerror(errno));
  classifier.SaveToFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
  std::string text;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = ::pread(fd, buffer, sizeof(buffer), text.size())) > 0)
    text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (text.empty())
    throw Error(
        ErrorKind::kOutput,
        "cannot write " + path + ": the classifier wrote no weight file");
  WriteTextAtomically(path, text);
}

}  // namespace Korva::HostKit
