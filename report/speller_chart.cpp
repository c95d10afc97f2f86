// A speller's curves: character accuracy and the information transfer rate
// against the number of repetitions, side by side, with the dynamic
// stopping point marked; and the text spelled with each number of
// repetitions against the target.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "report/html_escape.h"
#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

constexpr const char* kCurveColour = "#1f77b4";
constexpr const char* kStopColour = "#d62728";

// One panel: `values` (NaN: left out) against k = 1 .. n, the stopping
// point at (`stopK`, `stopValue`) when both are finite.
std::string Panel(const Frame& f,
                  const std::vector<double>& values,
                  double stopK,
                  double stopValue,
                  const std::string& yTitle) {
  const size_t n = values.size();
  std::string svg = Axes(f,
                         NiceTicks(1, static_cast<double>(n), 8),
                         NiceTicks(f.y0, f.y1, 5),
                         "repetitions",
                         yTitle);
  svg += "<polyline class=\"roc\" stroke=\"" + std::string(kCurveColour) +
         "\" points=\"";
  for (size_t k = 0; k < n; ++k)
    if (std::isfinite(values[k]))
      svg += Num(f.X(k + 1.0)) + "," + Num(f.Y(values[k])) + " ";
  svg += "\"/>";
  for (size_t k = 0; k < n; ++k)
    if (std::isfinite(values[k]))
      svg += "<circle cx=\"" + Num(f.X(k + 1.0)) + "\" cy=\"" +
             Num(f.Y(values[k])) + "\" r=\"2.5\" fill=\"" + kCurveColour +
             "\"/>";
  if (std::isfinite(stopK) && std::isfinite(stopValue))
    svg += "<circle cx=\"" + Num(f.X(stopK)) + "\" cy=\"" +
           Num(f.Y(stopValue)) + "\" r=\"5\" fill=\"none\" stroke=\"" +
           kStopColour + "\" stroke-width=\"2\"/>";
  return svg;
}

double Largest(const std::vector<double>& values, double floor) {
  double top = floor;
  for (double v : values)
    if (std::isfinite(v)) top = std::max(top, v);
  return top;
}

std::string CurvesSvg(const SpellerCurve& c) {
  const double n = std::max<double>(2, c.accuracy.size());
  const std::vector<double> stop =
      c.stopping ? *c.stopping : std::vector<double>{NAN, NAN, NAN};
  const double rate =
      Largest(c.bitsPerMinute, std::isfinite(stop[2]) ? stop[2] : 1);
  const Frame left{56, 12, 300, 220, 1, n, 0, 1};
  const Frame right{440, 12, 300, 220, 1, n, 0, rate * 1.05};
  std::string svg = SvgOpen(
      770, 270, "Accuracy and information transfer rate against repetitions");
  svg += Panel(left, c.accuracy, stop[0], stop[1], "character accuracy");
  svg += Panel(right, c.bitsPerMinute, stop[0], stop[2], "bits per minute");
  return svg + "</svg>";
}

}  // namespace

std::string SpellerSection(const SpellerCurve& c) {
  std::ostringstream html;
  html << "<h2>Accuracy and information transfer rate</h2>\n"
       << CurvesSvg(c) << "\n<p class=\"caption\">Character accuracy and "
       << "bits per minute (Wolpaw) of the items chosen with the first k "
          "repetitions of each selection"
       << (c.stopping ? "; the red circle is dynamic stopping: " : "")
       << EscapeHtml(c.stoppingText) << ".</p>\n"
       << "<h2>Spelled text</h2>\n<table class=\"facts\">\n";
  if (!c.target.empty())
    html << "<tr><th>target</th><td><code>" << EscapeHtml(c.target)
         << "</code></td></tr>\n";
  for (size_t k = 0; k < c.text.size(); ++k)
    html << "<tr><th>" << k + 1 << (k == 0 ? " repetition" : " repetitions")
         << "</th><td><code>" << EscapeHtml(c.text[k]) << "</code></td></tr>\n";
  html << "</table>\n";
  return html.str();
}

}  // namespace Korva::Report
