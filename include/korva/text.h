#ifndef KORVA_TEXT_H_
#define KORVA_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace Korva {

// `text` as valid UTF-8 without control characters, for XML documents and
// terminals: every invalid UTF-8 sequence and every control character but tab
// and line feed (C0, DEL and C1, which can start terminal escape sequences)
// becomes U+FFFD. Valid text passes unchanged.
inline std::string CleanText(std::string_view text) {
  constexpr const char* kReplacement = "\xEF\xBF\xBD";
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80                   ? 1
                    : byte >= 0xC2 && byte < 0xE0 ? 2
                    : byte >= 0xE0 && byte < 0xF0 ? 3
                    : byte >= 0xF0 && byte < 0xF5 ? 4
                                                  : 0;
    std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next =
          static_cast<unsigned char>(i + k < text.size() ? text[i + k] : 0);
      if ((next & 0xC0) != 0x80) length = 0;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF are invalid.
    const bool valid =
        length == 1 || (length == 2 && code >= 0x80) ||
        (length == 3 && code >= 0x800 && (code < 0xD800 || code > 0xDFFF)) ||
        (length == 4 && code >= 0x10000 && code <= 0x10FFFF);
    const bool control = (code < 0x20 && code != '\t' && code != '\n') ||
                         (code >= 0x7F && code < 0xA0);
    if (!valid || control) {
      clean += kReplacement;
      i += valid ? length : 1;
    } else {
      clean.append(text.substr(i, length));
      i += length;
    }
  }
  return clean;
}

}  // namespace Korva

#endif  // KORVA_TEXT_H_
