#include "data/reader_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

namespace Korva::Data {

void* OpenReaderLibrary(const std::string& fileName, std::string& reason) {
  // Explicit paths first: a sanitizer's dlopen would not search the
  // program's run path.
  std::vector<std::string> paths;
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length > 0 && self[0] == '/') {
    self[length] = '\0';
    const std::string program(self);
    const std::string folder = program.substr(0, program.find_last_of('/'));
    paths.push_back(folder + "/" + fileName);
    paths.push_back(folder + "/" KORVA_LIBDIR_FROM_PROGRAM "/" + fileName);
  }
  paths.push_back(fileName);
  for (const std::string& path : paths) {
    if (void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
      return library;
    const char* error = ::dlerror();
    if (reason.empty() && error != nullptr) reason = error;
  }
  return nullptr;
}

}  // namespace Korva::Data
