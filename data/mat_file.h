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

// ReadMat (data/mat/mat_io.h) through the MATLAB reader library,
// libkorva_mat.so, opened on first use: libmatio, HDF5 and what they bring cost
// every process that links them about 20 ms and 7 MB, and most runs read CSV
// files. The library is looked for as OpenReaderLibrary (data/reader_library.h)
// says. The reader reads a file more than once, so a file that cannot be read
// twice (a FIFO, a device) is first copied, in one reading, into a private
// temporary folder, and so is any file when `onBytes` is given, which then
// sees exactly the bytes the reader reads. DataError as ReadMat throws it, or
// when the file, its copy or the library cannot be made or opened.
Dataset LoadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels,
                const ByteSink& onBytes = {});

}  // namespace Korva::Data

// The reader library's one entry point: ReadMat (messages naming the file
// `name`) into `out` and 0; or the message of the DataError (1) or of
// another exception (2) in `error`.
extern "C" int korva_read_mat(const char* path,
                              const char* name,
                              const Korva::Data::MatVariables* variables,
                              int requireLabels,
                              Korva::Data::Dataset* out,
                              std::string* error);

#endif  // KORVA_DATA_MAT_FILE_H_
