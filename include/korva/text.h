#ifndef KORVA_TEXT_H_
#define KORVA_TEXT_H_

#include <string>
#include <string_view>

#include "korva/export.h"

namespace Korva {

// `text` as valid UTF-8 without control characters, for XML documents and
// terminals: every byte of an ill-formed UTF-8 sequence and every control
// character but tab and line feed (C0, DEL and C1, which can start terminal
// escape sequences) becomes U+FFFD. Valid text passes unchanged.
KORVA_HOST_API std::string CleanText(std::string_view text);

}  // namespace Korva

#endif  // KORVA_TEXT_H_
