#include "data/mat_file.h"

#include <dlfcn.h>

#include <cctype>
#include <stdexcept>

#include "data/reader_library.h"

namespace Korva::Data {

bool IsMatFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".mat";
}

Dataset LoadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels) {
  // Opened once and kept: the reader's code may back objects it returned.
  static std::string reason;
  static void* const library = OpenReaderLibrary("libkorva_mat.so", reason);
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
