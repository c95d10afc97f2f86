// The entry point of libkorva_mat.so, the MATLAB reader that korva opens
// only for MATLAB files (see LoadMat).
#include "data/mat/mat_io.h"
#include "data/mat_file.h"
#include "data/reader_library.h"

extern "C" __attribute__((visibility("default"))) int korva_read_mat(
    const char* path,
    const char* name,
    const Korva::Data::MatVariables* variables,
    int requireLabels,
    Korva::Data::Dataset* out,
    std::string* error) {
  return Korva::Data::StatusOf(error, [&] {
    *out = Korva::Data::ReadMat(path, *variables, requireLabels != 0, name);
  });
}
