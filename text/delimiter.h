#ifndef KORVA_TEXT_DELIMITER_H_
#define KORVA_TEXT_DELIMITER_H_

#include <string_view>

namespace Korva::Text {

// The field separator of a CSV file whose header line is `header`: a comma
// when the line holds one, else a semicolon when it holds one, else a tab
// when it holds one; 0 when it holds none of them (a header of one field,
// or another separator). Every CSV reader asks this.
char DetectDelimiter(std::string_view header);

}  // namespace Korva::Text

#endif  // KORVA_TEXT_DELIMITER_H_
