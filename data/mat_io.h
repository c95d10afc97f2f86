#ifndef KORVA_DATA_MAT_IO_H_
#define KORVA_DATA_MAT_IO_H_

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

// Reads a data set from the MATLAB file at `path` (any version libmatio
// reads). Labels are required when `requireLabels` is true. Throws DataError
// naming the file and the variable: file unreadable, truncated or damaged
// (CheckMatLayout), a declared size the file cannot hold (refused before any
// data is read), variable missing (the message lists the file's variables) or
// present but unreadable, sparse, of the wrong kind or size, holding values
// the file never stored, or holding a non-finite value (with its MATLAB row
// and column).
Dataset ReadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels);

// True when `path` ends in ".mat" (any letter case).
bool IsMatFile(const std::string& path);

}  // namespace Korva::Data

#endif  // KORVA_DATA_MAT_IO_H_
