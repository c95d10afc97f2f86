#ifndef KORVA_DATA_MAT_FILE_H_
#define KORVA_DATA_MAT_FILE_H_

#include <string>

#include "data/dataset.h"

namespace Korva::Data {

// Which variables of a MATLAB file hold the data set.
struct MatVariables {
  std::string x;      // features: a real numeric matrix, epochs x features
  std::string y;      // labels: a real numeric vector, one per epoch; may be ""
  std::string names;  // feature names: a cell array of strings or a char
                      // matrix with one row per feature; may be ""
};

// True when `path` ends in ".mat" (any letter case).
bool IsMatFile(const std::string& path);

// ReadMat (data/mat_io.h) through the MATLAB reader library, libkorva_mat.so,
// opened on first use: libmatio, HDF5 and what they bring cost every process
// that links them about 20 ms and 7 MB, and most runs read CSV files. The
// library is looked for as OpenReaderLibrary says. DataError as ReadMat throws it, or when the
// library cannot be opened.
Dataset LoadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels);

}  // namespace Korva::Data

// The reader library's one entry point: ReadMat into `out` and 0; or the
// message of the DataError (1) or of another exception (2) in `error`.
extern "C" int korva_read_mat(const char* path,
                              const Korva::Data::MatVariables* variables,
                              int requireLabels,
                              Korva::Data::Dataset* out,
                              std::string* error);

#endif  // KORVA_DATA_MAT_FILE_H_
