// A grid of two settings as a table of coloured cells: the value of each
// setting (a mean AUC) with its note, the best values darkest.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/html_escape.h"
#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

constexpr double kCellWidth = 100, kCellHeight = 40;

// Light yellow (t = 0) to dark blue (t = 1).
std::string Sequential(double t) {
  t = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0);
  const double light[3] = {255, 247, 188};
  const double dark[3] = {8, 64, 129};
  char buffer[16];
  std::snprintf(
      buffer,
      sizeof(buffer),
      "#%02x%02x%02x",
      static_cast<int>(std::lround(light[0] + (dark[0] - light[0]) * t)),
      static_cast<int>(std::lround(light[1] + (dark[1] - light[1]) * t)),
      static_cast<int>(std::lround(light[2] + (dark[2] - light[2]) * t)));
  return buffer;
}

// One cell at (x, y): its colour, value and note, or why it has none.
std::string Cell(const HeatMap& map,
                 size_t i,
                 double x,
                 double y,
                 std::pair<double, double> range) {
  const double v = i < map.values.size() ? map.values[i] : NAN;
  if (!std::isfinite(v)) {
    const std::string why = i < map.empty.size() ? map.empty[i] : "";
    return "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" +
           Num(kCellWidth) + "\" height=\"" + Num(kCellHeight) +
           "\" fill=\"#f4f4f4\" class=\"cell\"/>" +
           Text(x + kCellWidth / 2,
                y + kCellHeight / 2 + 4,
                why,
                "middle",
                " class=\"value\"");
  }
  const double span = range.second - range.first;
  const double t = span > 0 ? (v - range.first) / span : 1.0;
  const std::string note = i < map.notes.size() ? map.notes[i] : "";
  // Dark cells take white text.
  const char* ink = t > 0.55 ? " style=\"fill:#fff\"" : "";
  std::string svg =
      "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" +
      Num(kCellWidth) + "\" height=\"" + Num(kCellHeight) + "\" fill=\"" +
      Sequential(t) + "\" class=\"cell\"><title>" +
      EscapeHtml(map.rowTitle + " " + map.rows[i / map.columns.size()] + ", " +
                 map.columnTitle + " " + map.columns[i % map.columns.size()] +
                 ": " + Label(v, 4) + (note.empty() ? "" : ", " + note)) +
      "</title></rect>";
  // Three decimals, as korva tune's table prints the mean AUC.
  svg += Text(x + kCellWidth / 2, y + 17, Num(v, 3), "middle", ink);
  if (!note.empty())
    svg += Text(x + kCellWidth / 2, y + 31, note, "middle", ink);
  return svg;
}

}  // namespace

std::string HeatMapSvg(const HeatMap& map, std::pair<double, double> range) {
  const double left = 90, top = 46;
  const double width = left + kCellWidth * map.columns.size() + 20;
  const double height = top + kCellHeight * map.rows.size() + 10;
  std::string svg = SvgOpen(width, height, map.title);
  svg += Text(left + kCellWidth * map.columns.size() / 2, 14, map.title);
  svg += Text(left + kCellWidth * map.columns.size() / 2, 30, map.columnTitle);
  svg += Text(8, top - 6, map.rowTitle, "start");
  for (size_t c = 0; c < map.columns.size(); ++c)
    svg += Text(left + kCellWidth * (c + 0.5), top - 6, map.columns[c]);
  for (size_t r = 0; r < map.rows.size(); ++r) {
    const double y = top + kCellHeight * r;
    svg += Text(left - 8, y + kCellHeight / 2 + 4, map.rows[r], "end");
    for (size_t c = 0; c < map.columns.size(); ++c)
      svg += Cell(
          map, r * map.columns.size() + c, left + kCellWidth * c, y, range);
  }
  if (map.marked >= 0 && !map.columns.empty()) {
    const size_t r = map.marked / map.columns.size();
    const size_t c = map.marked % map.columns.size();
    svg += "<rect x=\"" + Num(left + kCellWidth * c + 1.5) + "\" y=\"" +
           Num(top + kCellHeight * r + 1.5) + "\" width=\"" +
           Num(kCellWidth - 3) + "\" height=\"" + Num(kCellHeight - 3) +
           "\" fill=\"none\" stroke=\"#d62728\" stroke-width=\"3\"/>";
  }
  return svg + "</svg>";
}

}  // namespace Korva::Report
