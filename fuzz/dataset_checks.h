#ifndef KORVA_FUZZ_DATASET_CHECKS_H_
#define KORVA_FUZZ_DATASET_CHECKS_H_

#include <cmath>
#include <cstddef>
#include <exception>
#include <string>

#include "data/dataset.h"

namespace Korva::Fuzz {

// What a reader made of one input: a data set, or the message of its
// DataError.
struct ReadOutcome {
  bool ok = false;
  Data::Dataset data;
  std::string error;
};

template <typename ReadFunction>
ReadOutcome TryRead(ReadFunction read) {
  ReadOutcome outcome;
  try {
    outcome.data = read();
    outcome.ok = true;
  } catch (const Data::DataError& error) {
    outcome.error = error.what();
  }
  return outcome;
}

// "" when a refusal starts with `file`, or when an accepted set has rows and
// columns, one value per cell, `names` names, labels when `labelsRequired`,
// one label per row when it has labels, and only finite values.
inline std::string CheckOutcome(const ReadOutcome& outcome,
                                const std::string& file,
                                bool labelsRequired,
                                std::size_t names) {
  if (!outcome.ok)
    return outcome.error.rfind(file, 0) == 0
               ? ""
               : "a refusal does not name the file: " + outcome.error;
  const Data::Dataset& d = outcome.data;
  const auto rows = static_cast<std::size_t>(d.rows);
  if (d.rows <= 0 || d.cols <= 0)
    return "an accepted set has no rows or columns";
  if (d.X.size() != rows * d.cols)
    return "the value count is not rows x columns";
  if (d.names.size() != names) return "the name count is not the column count";
  if (labelsRequired && !d.hasLabels)
    return "labels were required but the set has none";
  if (d.labels.size() != (d.hasLabels ? rows : 0))
    return "the label count is not the row count";
  for (double v : d.X)
    if (!std::isfinite(v)) return "an accepted value is not finite";
  for (double v : d.labels)
    if (!std::isfinite(v)) return "an accepted label is not finite";
  return {};
}

// The message for an exception other than DataError out of a reader.
inline std::string OtherException(const std::exception& error) {
  return std::string("the reader threw something else than DataError: ") +
         error.what();
}

}  // namespace Korva::Fuzz

#endif  // KORVA_FUZZ_DATASET_CHECKS_H_
