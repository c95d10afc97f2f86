#include "data/mat_file.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace Korva::Data {

bool IsMatFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".mat";
}

namespace {

// The reader library beside the program (the build tree), then in the
// installed library folder (KORVA_MAT_FROM_PROGRAM, relative to the
// program's), then by its bare name on the system's library path. Explicit
// paths: a sanitizer's dlopen would not search the program's run path. The
// current folder is never searched, not even when the program's folder
// cannot be known.
void* OpenReader(std::string& reason) {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::vector<std::string> paths;
  if (length > 0) {
    self[length] = '\0';
    std::string folder = self;
    folder = folder.substr(0, folder.find_last_of('/'));
    paths = {folder + "/libkorva_mat.so",
             folder + "/" KORVA_MAT_FROM_PROGRAM "/libkorva_mat.so"};
  }
  paths.push_back("libkorva_mat.so");
  for (const std::string& path : paths) {
    if (void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
      return library;
    const char* error = ::dlerror();
    if (reason.empty() && error != nullptr) reason = error;
  }
  return nullptr;
}

}  // namespace

Dataset LoadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels) {
  // Opened once and kept: the reader's code may back objects it returned.
  static std::string reason;
  static void* const library = OpenReader(reason);
  static const auto read = library == nullptr
                               ? nullptr
                               : reinterpret_cast<decltype(&korva_read_mat)>(
                                     ::dlsym(library, "korva_read_mat"));
  if (read == nullptr)
    throw DataError(path + ": cannot read MATLAB files: the MATLAB reader " +
                    "libkorva_mat.so cannot be loaded" +
                    (reason.empty() ? "" : " (" + reason + ")"));
  Dataset data;
  std::string error;
  switch (read(path.c_str(), &variables, requireLabels, &data, &error)) {
    case 0:
      return data;
    case 1:
      throw DataError(error);
    default:
      throw std::runtime_error(error);
  }
}

}  // namespace Korva::Data
