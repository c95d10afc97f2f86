#ifndef KORVA_REPORT_HTML_ESCAPE_H_
#define KORVA_REPORT_HTML_ESCAPE_H_

#include <string>

namespace Korva::Report {

// `text` with &, <, >, " and ' escaped for HTML and SVG. Each ill-formed
// piece of UTF-8, each control character other than tab and line feed and
// each noncharacter becomes U+FFFD, so that a page declared UTF-8 is.
std::string EscapeHtml(const std::string& text);

}  // namespace Korva::Report

#endif  // KORVA_REPORT_HTML_ESCAPE_H_
