// The entry point of libkorva_mat.so, the MATLAB reader that korva opens
// only for MATLAB files (see LoadMat).
#include <exception>

#include "data/mat_file.h"
#include "data/mat_io.h"

extern "C" __attribute__((visibility("default"))) int korva_read_mat(
    const char* path,
    const char* name,
    const Korva::Data::MatVariables* variables,
    int requireLabels,
    Korva::Data::Dataset* out,
    std::string* error) {
  try {
    *out = Korva::Data::ReadMat(path, *variables, requireLabels != 0, name);
    return 0;
  } catch (const Korva::Data::DataError& e) {
    *error = e.what();
    return 1;
  } catch (const std::exception& e) {
    *error = e.what();
    return 2;
  }
}
