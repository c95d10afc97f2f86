#ifndef KORVA_DATA_CSV_IO_H_
#define KORVA_DATA_CSV_IO_H_

#include <string>
#include <string_view>
#include <vector>

#include "data/dataset.h"

namespace Korva::Data {

// The columns that korva epochs (and the tables joined from its outputs)
// write to say where an epoch came from: never features, any letter case.
inline constexpr const char* kSourceColumns[] = {"run", "recording"};

// How a CSV data file is read.
struct CsvOptions {
  bool requireLabels = true;  // false: a file without a label column is fine
  int threads = 2;            // at most this many threads parse a large file
  // The column of group names (any text; not a feature). Empty: a column
  // headed "run" (any letter case), when there is one.
  std::string groupColumn;
  // Columns left out, by header or as "#N", the N-th column counted from 1.
  std::vector<std::string> drop;
  // Columns of numbers read beside the features, never features: those
  // whose header is one of these (any letter case), into Dataset::side.
  std::vector<std::string> sideColumns = {"selection", "code"};
  // The field separator; 0: the one Text::DetectDelimiter finds in the
  // header, or a comma when it finds none.
  char delimiter = 0;
  ByteSink onBytes;  // ReadCsv: every byte read, in order
};

// `text` (a file's start, or all of it) without its UTF-8 byte order mark;
// DataError naming `fileName` when it is not CSV text: a NUL byte (naming
// its line), UTF-16, lines that end in a carriage return alone, XML. Readers
// of other CSV files give their refusals in these words.
std::string_view CheckCsvText(std::string_view text,
                              const std::string& fileName);

// Parses CSV text: a header row, then one row per example. The column whose
// header is "label" (any letter case, at most one) holds the labels, the
// group column the rows' groups, the side columns Dataset::side; every other
// column that is not dropped or one of kSourceColumns is a feature named by
// its header (empty or repeated names are allowed). Blank lines are skipped;
// header fields may be quoted. `fileName` only names the input in messages.
// Throws DataError naming file, line and column for: empty file, XML text, no
// data rows, no label column (when required), no feature column, a second
// label column, a group or dropped column the header lacks, a ragged row, an
// empty, non-numeric or non-finite value, and a first column without a name
// that counts the rows (a written row index).
Dataset ParseCsv(std::string_view text,
                 const std::string& fileName,
                 const CsvOptions& options = {});

// Reads the whole file at `path` ("-": standard input) and parses it with
// ParseCsv. Throws DataError when the file cannot be read or parsed.
Dataset ReadCsv(const std::string& path, const CsvOptions& options = {});

}  // namespace Korva::Data

#endif  // KORVA_DATA_CSV_IO_H_
