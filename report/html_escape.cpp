#include "report/html_escape.h"

#include <string_view>

#include "text/utf8.h"

namespace Korva::Report {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

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
    const Text::Utf8Char c = Text::DecodeUtf8(std::string_view(text).substr(i));
    if (!c.valid || Forbidden(c.code)) {
      // One replacement for each ill-formed piece or forbidden character.
      out += kReplacement;
      i += c.length;
      continue;
    }
    switch (c.code) {
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
        out.append(text, i, c.length);
    }
    i += c.length;
  }
  return out;
}

}  // namespace Korva::Report
