#ifndef KORVA_RECORDING_EDF_LENIENT_H_
#define KORVA_RECORDING_EDF_LENIENT_H_

// An EDF or BDF file read by korva itself where EDFlib refuses it: the
// header as leniently as MNE reads it, so that a file with an inexact field
// is read with a note on that field, and refused only where its samples
// cannot be placed. Part of the EDF reader library (edf_recording.cpp).
//
// Read with a note (as MNE reads them):
//   - a record duration rounded to the 8 characters of its field (394
//     samples in "1.539062" s): when a whole rate R gives a duration within
//     one unit of the field's last digit and within a relative 1e-5, the
//     rate is R;
//   - a record duration of 0 or no number: 1 s;
//   - a physical range of zero (minimum = maximum): taken as 1, a digital
//     range of zero as 1; such a channel is not EEG;
//   - a number of records that the file's size does not hold (or -1): the
//     whole records the file holds;
//   - a header that EDFlib refuses for fields that do not place the samples
//     (the patient, recording and date fields, characters outside ASCII).
// Refused: no number where the signal count, the header's length or a
// signal's samples per record should be, a header length that does not hold
// its signals, a signal of no samples, no whole record in the file.
//
// EDF+D and BDF+D files (EDFlib refuses them all) are read here too: the
// samples are the records in file order, as for EDF+C, and each record lies
// in time where its time-keeping annotation says (EdfTimeline). A gap
// between records is a break; records that overlap or go back, or a record
// without a time-keeping annotation, are refused.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recording/binary_file.h"
#include "recording/recording.h"

namespace Korva::Recording {

// One signal of the header, its numbers as the file writes them.
struct EdfSignal {
  std::string label, unit;
  double physicalMin = 0, physicalMax = 0, digitalMin = 0, digitalMax = 0;
  long long perRecord = 0;   // samples in each record
  std::uint64_t offset = 0;  // of its first sample's byte in a record
  bool annotations = false;  // "EDF Annotations" or "BDF Annotations"
  bool scaleUnknown = false;  // a range of zero, taken as 1
};

struct EdfLayout {
  bool bdf = false;   // 3 bytes a sample, else 2
  bool plus = false;  // EDF+ or BDF+
  bool discontinuous = false;  // EDF+D or BDF+D: records with gaps
  std::uint64_t headerBytes = 0, recordBytes = 0;
  long long records = 0;     // the whole records read
  double recordSeconds = 0;  // as used, the note says how when inexact
  std::vector<EdfSignal> signals;
  std::vector<std::string> notes;
};

// The header of `file`; DataError naming the file where the samples cannot
// be placed.
EdfLayout ReadEdfLayout(const BinaryFile& file);

// An annotation of an EDF+ or BDF+ file: its onset in seconds from the
// file's start and its text as written.
struct EdfAnnotation {
  double onset = 0;
  std::string text;
};

// The annotations of every annotation signal, record by record; empty
// texts (the records' time stamps) left out, a list without an onset
// number skipped. And each record's start in seconds from the file's start:
// the onset of its time-keeping annotation, the first list of its part of
// the first annotation signal when that list is "+seconds\x14\x14"; NaN
// where there is none.
struct EdfAnnotations {
  std::vector<EdfAnnotation> annotations;
  std::vector<double> recordStarts;  // by record
};
EdfAnnotations ReadEdfAnnotations(const BinaryFile& file,
                                  const EdfLayout& layout);

// Where the records of an EDF+D or BDF+D file lie in time: record r holds
// samples [r * perRecord, (r + 1) * perRecord) and starts at starts[r]. A
// record that starts later than the one before it ends, by more than half a
// sample, starts after a break.
class EdfTimeline {
 public:
  // DataError naming the file and the record when a record has no start or
  // starts before the one before it ends (by more than half a sample).
  EdfTimeline(const std::string& path,
              std::vector<double> starts,
              long long perRecord,
              double rate);

  const std::vector<Break>& Breaks() const { return breaks_; }
  // The sample of an onset in seconds from the file's start, through the
  // record that holds it: r * perRecord + the nearest sample to its time
  // from the record's start (a tie to the even one, as SampleAt); nothing
  // for an onset in a gap between records. An onset before the first record
  // or after the last gives a sample outside [0, perRecord * records).
  std::optional<long long> SampleOf(double onset) const;

 private:
  std::vector<double> starts_;
  long long perRecord_;
  double rate_;
  std::vector<Break> breaks_;
  std::vector<bool> afterBreak_;  // by record
};

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_EDF_LENIENT_H_
