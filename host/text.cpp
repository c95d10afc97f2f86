#include "korva/text.h"

#include "text/utf8.h"

namespace Korva {

std::string CleanText(std::string_view text) {
  constexpr const char* kReplacement = "\xEF\xBF\xBD";
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Text::Utf8Char c = Text::DecodeUtf8(text.substr(i));
    const bool control = (c.code < 0x20 && c.code != '\t' && c.code != '\n') ||
                         (c.code >= 0x7F && c.code < 0xA0);
    if (!c.valid || control) {
      clean += kReplacement;
      i += c.valid ? c.length : 1;
    } else {
      clean.append(text.substr(i, c.length));
      i += c.length;
    }
  }
  return clean;
}

}  // namespace Korva
