#ifndef KORVA_DATA_CSV_WRITE_H_
#define KORVA_DATA_CSV_WRITE_H_

// CSV as korva writes it: data sets, and the fields of the other tables it
// writes (scores, weights, epoch features). Numbers are written by
// Text::FormatDouble (text/number_text.h), so every value reads back exactly.

#include <ostream>
#include <string>

#include "data/dataset.h"

namespace Korva::Data {

// Writes `data` as CSV: a header ("label" first when the set has labels, then
// the feature names) and one line per row, every number in the shortest form
// that reads back to the same double.
void WriteCsv(std::ostream& out, const Dataset& data);

// `name` as a CSV field: quoted when it holds a comma, a quote, a line end
// or blanks at its ends.
std::string CsvField(const std::string& name);

}  // namespace Korva::Data

#endif  // KORVA_DATA_CSV_WRITE_H_
