#include "text/utf8.h"

namespace Korva::Text {

Utf8Char DecodeUtf8(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1, true};
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong form
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {};
  }
  char32_t code = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if (static_cast<size_t>(k) >= text.size()) return {0, k, false};
    const auto next = static_cast<unsigned char>(text[k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
      return {0, k, false};
    code = (code << 6) | (next & 0x3F);
  }
  return {code, length, true};
}

std::optional<char32_t> FirstControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text.substr(i));
    if (c.valid && c.code != '\t' &&
        (c.code < 0x20 || (c.code >= 0x7f && c.code < 0xa0)))
      return c.code;
    i += c.length;
  }
  return std::nullopt;
}

std::size_t FindNulReference(std::string_view xml) {
  for (size_t at = xml.find("&#"); at != std::string_view::npos;
       at = xml.find("&#", at + 2)) {
    size_t i = at + 2;
    if (i < xml.size() && (xml[i] == 'x' || xml[i] == 'X')) ++i;
    const size_t digits = i;
    while (i < xml.size() && xml[i] == '0') ++i;
    if (i > digits && i < xml.size() && xml[i] == ';') return at;
  }
  return std::string_view::npos;
}

}  // namespace Korva::Text
