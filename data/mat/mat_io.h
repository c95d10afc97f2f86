#ifndef KORVA_DATA_MAT_MAT_IO_H_
#define KORVA_DATA_MAT_MAT_IO_H_

#include <string>

#include "data/dataset.h"
#include "data/mat_file.h"

namespace Korva::Data {

// Reads a data set from the MATLAB file at `path` (any version libmatio
// reads). Labels are required when `requireLabels` is true. Throws DataError
// naming the file and the variable: file unreadable, truncated or damaged
// (CheckMatLayout), a declared size the file cannot hold (refused before any
// data is read), variable missing (the message lists the file's variables) or
// present but unreadable, sparse, of the wrong kind or size, holding values
// the file never stored, or holding a non-finite value (with its MATLAB row
// and column). Messages call the file `name` when it is not empty (the
// file's own name when `path` is a copy of it).
Dataset ReadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels,
                const std::string& name = "");

}  // namespace Korva::Data

#endif  // KORVA_DATA_MAT_MAT_IO_H_
