#include "platform/executable_folder.h"

#include <limits.h>
#include <unistd.h>

namespace Korva {

std::string ExecutableFolder() {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0 || self[0] != '/') return "";
  const std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.find_last_of('/'));
}

}  // namespace Korva
