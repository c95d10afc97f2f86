#include "report/html_escape.h"

#include <cstdlib>

namespace Korva::Report {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 character at text[i] (Unicode table
// 3-7), or the length of its longest well-formed start (at least 1) as a
// negative number. The code point goes to `code`.
int Utf8Length(const std::string& text, size_t i, char32_t& code) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  code = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if (i + k >= text.size()) return -k;
    const unsigned char c = static_cast<unsigned char>(text[i + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return -k;
    code = (code << 6) | (c & 0x3F);
  }
  return length;
}

// Characters a page may not hold: controls other than tab and line feed, and
// the noncharacters.
bool Forbidden(char32_t code) {
  if (code < 0x20) return code != '\t' && code != '\n';
  if (code >= 0x7F && code <= 0x9F) return true;
  return (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE;
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t code = 0;
    const int length = Utf8Length(text, i, code);
    if (length < 0 || Forbidden(code)) {
      // One replacement for each ill-formed piece or forbidden character.
      out += kReplacement;
      i += std::abs(length);
      continue;
    }
    switch (code) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

}  // namespace Korva::Report
