#ifndef KORVA_FUZZ_CHECKS_H_
#define KORVA_FUZZ_CHECKS_H_

// What the harnesses share: a byte reader, the checks of a classifier in any
// state, the checks of a data set a reader made.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "testing/dozod_probe.h"

namespace Korva::Fuzz {

using ProbeDozod = Korva::Testing::DozodProbe;

// Takes values off the front of a fuzz input. Once the input is used up every
// value reads as zero, so any input decodes to something.
struct ByteReader {
  const std::uint8_t* data;
  std::size_t size;

  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  // The next 8 bytes, little-endian, as the bits of a double: every NaN
  // payload, infinity and subnormal can come out.
  double RawDouble() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{Byte()} << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }
};

// Calls on a classifier, in whatever state a read or a training left it,
// what a host may call next: CanClassify (must agree with the flags), the
// three reports, GetScore (-1 for a wrong length), SortScoresFirstBest and
// Write; the written document must read back into a fresh object with the
// same flags and as many weights. "" or what failed.
std::string ExerciseClassifier(ProbeDozod& dozod);

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
// columns, one value per cell, a name per column when `named` (else none),
// labels when `labelsRequired`, one label per row when it has labels, and
// only finite values.
inline std::string CheckOutcome(const ReadOutcome& outcome,
                                const std::string& file,
                                bool labelsRequired,
                                bool named) {
  if (!outcome.ok)
    return outcome.error.rfind(file, 0) == 0
               ? ""
               : "a refusal does not name the file: " + outcome.error;
  const Data::Dataset& d = outcome.data;
  const auto rows = static_cast<std::size_t>(d.rows);
  if (d.rows <= 0 || d.cols <= 0 || d.X.size() != rows * d.cols)
    return "an accepted set is not rows x columns values";
  if (d.names.size() != (named ? static_cast<std::size_t>(d.cols) : 0))
    return "the name count is not the column count";
  if (d.labels.size() != (d.hasLabels ? rows : 0) ||
      (labelsRequired && !d.hasLabels))
    return "the labels are not one per row, or missing though required";
  const auto finite = [](double v) { return std::isfinite(v); };
  if (!std::all_of(d.X.begin(), d.X.end(), finite) ||
      !std::all_of(d.labels.begin(), d.labels.end(), finite))
    return "an accepted value or label is not finite";
  return {};
}

}  // namespace Korva::Fuzz

#endif  // KORVA_FUZZ_CHECKS_H_
