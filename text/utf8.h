#ifndef KORVA_TEXT_UTF8_H_
#define KORVA_TEXT_UTF8_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace Korva::Text {

// One character of UTF-8 text, or one ill-formed piece of it.
struct Utf8Char {
  char32_t code = 0;  // the code point, when valid
  int length = 1;     // its bytes: 1 to 4
  bool valid = false;
};

// The character at the start of `text` (not empty). Valid when its bytes are
// well-formed UTF-8 (Unicode's table 3-7: no overlong form, no surrogate,
// nothing above U+10FFFF, no byte missing). Otherwise `length` is that of the
// longest start of a well-formed character there (at least 1): the piece
// that one replacement character stands for.
Utf8Char DecodeUtf8(std::string_view text);

// The first control character of `text` but tab (C0, DEL or C1: a line end,
// a NUL that C strings would end at, the start of a terminal escape), or
// nothing when it holds none. Ill-formed bytes are skipped.
std::optional<char32_t> FirstControlCharacter(std::string_view text);

// Where `xml` holds a character reference to NUL ("&#0;", "&#x00;"), or
// npos. XML allows none, yet parsers turn it into a NUL, where every C string
// of the name that holds it ends: a name would lose its rest unseen.
std::size_t FindNulReference(std::string_view xml);

}  // namespace Korva::Text

#endif  // KORVA_TEXT_UTF8_H_
