#ifndef KORVA_DATA_DATASET_H_
#define KORVA_DATA_DATASET_H_

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "data/values.h"

namespace Korva::Data {

// A labelled data set as the command-line host reads and writes it.
struct Dataset {
  int rows = 0;                    // examples
  int cols = 0;                    // features
  Values X;                        // rows x cols values, row-major
  std::vector<double> labels;      // one per row when hasLabels, else empty
  std::vector<std::string> names;  // one per feature column; may be empty
  // The groups (runs, sessions) of the rows when a group column was read:
  // its header, the group names in order of first appearance, and each
  // row's group as an index into them.
  std::string groupColumn;
  std::vector<std::string> groupNames;
  std::vector<int> groups;
  // Columns of a table that are read beside the features and are none (a
  // speller's "selection" and "code"), by their header in lower case, one
  // value per row.
  std::map<std::string, std::vector<double>> side;
  bool hasLabels = false;
  // What was found wrong with the data as they were read (gaps, flat
  // channels, ...), one sentence each naming the file, and whether they
  // were looked at so (recordings are, as they are cut into epochs).
  std::vector<std::string> quality;
  bool qualityChecked = false;

  double At(int row, int col) const {
    return X[static_cast<size_t>(row) * cols + col];
  }
};

// Receives an input's bytes as they are read, piece after piece, so that a
// caller can hash exactly the bytes that were parsed.
using ByteSink = std::function<void(std::string_view)>;

// An input that cannot be used; what() names the file and, where it applies,
// the line and column and what was wrong.
class DataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace Korva::Data

#endif  // KORVA_DATA_DATASET_H_
