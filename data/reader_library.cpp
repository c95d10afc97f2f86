#include "data/reader_library.h"

#include <dlfcn.h>

#include <stdexcept>
#include <vector>

#include "platform/executable_folder.h"

namespace Korva::Data {

void* OpenReaderLibrary(const std::string& fileName, std::string& reason) {
  // Explicit paths first: a sanitizer's dlopen would not search the
  // program's run path.
  std::vector<std::string> paths;
  if (const std::string folder = ExecutableFolder(); !folder.empty()) {
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

void ThrowStatus(int status, const std::string& error) {
  if (status == 1) throw DataError(error);
  throw std::runtime_error(error);
}

}  // namespace Korva::Data
