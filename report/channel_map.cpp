// The channel x time map: features named CHANNEL_SAMPLE laid out as a grid,
// each cell coloured by its value (a weight, a signed r²), with a colour
// scale beside it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "report/html_escape.h"
#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

// Blue (-1) through white (0, and NaN) to red (+1).
std::string Diverging(double t) {
  t = std::isnan(t) ? 0.0 : std::clamp(t, -1.0, 1.0);
  const double white[3] = {255, 255, 255};
  const double red[3] = {178, 24, 43};
  const double blue[3] = {33, 102, 172};
  const double* end = t >= 0 ? red : blue;
  const double a = std::abs(t);
  char buffer[16];
  std::snprintf(
      buffer,
      sizeof(buffer),
      "#%02x%02x%02x",
      static_cast<int>(std::lround(white[0] + (end[0] - white[0]) * a)),
      static_cast<int>(std::lround(white[1] + (end[1] - white[1]) * a)),
      static_cast<int>(std::lround(white[2] + (end[2] - white[2]) * a)));
  return buffer;
}

// The colour scale, a column of 20 steps from +maxAbs down to -maxAbs,
// `height` pixels tall at (x, top), labelled at its ends and middle.
std::string ColourScale(double x, double top, double height, double maxAbs) {
  std::string svg;
  for (int k = 0; k < 20; ++k) {
    const double t = 1.0 - 2.0 * (k + 0.5) / 20.0;
    svg += "<rect x=\"" + Num(x) + "\" y=\"" + Num(top + height * k / 20.0) +
           "\" width=\"14\" height=\"" + Num(height / 20.0 + 0.5) +
           "\" fill=\"" + Diverging(t) + "\"/>";
  }
  svg += Text(x + 18, top + 10, "+" + Label(maxAbs), "start");
  svg += Text(x + 18, top + height / 2 + 4, "0", "start");
  svg += Text(x + 18, top + height, "-" + Label(maxAbs), "start");
  return svg;
}

}  // namespace

std::optional<ChannelTimeGrid> ParseChannelTime(
    const std::vector<std::string>& names) {
  if (names.empty()) return std::nullopt;
  ChannelTimeGrid grid;
  std::map<std::string, int> channelIndex;
  std::set<std::pair<int, int>> taken;   // a set: a grid may be mostly empty
  std::vector<std::pair<int, int>> raw;  // (channel, sample number)
  for (const std::string& name : names) {
    const size_t underscore = name.rfind('_');
    if (underscore == std::string::npos || underscore == 0 ||
        underscore + 1 == name.size() || name.size() - underscore > 7)
      return std::nullopt;
    int sample = 0;
    for (size_t i = underscore + 1; i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return std::nullopt;
      sample = sample * 10 + (name[i] - '0');
    }
    const std::string channel = name.substr(0, underscore);
    auto [it, inserted] =
        channelIndex.emplace(channel, static_cast<int>(grid.channels.size()));
    if (inserted) grid.channels.push_back(channel);
    raw.emplace_back(it->second, sample);
    grid.samples.push_back(sample);
  }
  std::sort(grid.samples.begin(), grid.samples.end());
  grid.samples.erase(std::unique(grid.samples.begin(), grid.samples.end()),
                     grid.samples.end());
  for (const auto& [channel, sample] : raw) {
    const int s = static_cast<int>(
        std::lower_bound(grid.samples.begin(), grid.samples.end(), sample) -
        grid.samples.begin());
    if (!taken.emplace(channel, s).second) return std::nullopt;
    grid.cell.emplace_back(channel, s);
  }
  return grid;
}

std::string ChannelTimeSvg(const ChannelTimeGrid& grid,
                           const std::vector<double>& values,
                           const std::vector<std::string>& names,
                           const std::string& title,
                           const std::vector<double>& columnMs) {
  const size_t S = grid.samples.size();
  const size_t C = grid.channels.size();
  const double cellW = std::clamp(620.0 / static_cast<double>(S), 6.0, 26.0);
  const double cellH = 20;
  const double left = 70, top = 12;
  const double width = left + cellW * S + 110;
  const double height = top + cellH * C + 50;
  std::string svg = SvgOpen(width, height, title);
  const double maxAbs = ScaleOf(values);
  for (size_t i = 0; i < grid.cell.size() && i < values.size(); ++i) {
    const auto [c, s] = grid.cell[i];
    const double x = left + cellW * s;
    const double y = top + cellH * c;
    svg += "<rect class=\"cell\" x=\"" + Num(x) + "\" y=\"" + Num(y) +
           "\" width=\"" + Num(cellW) + "\" height=\"" + Num(cellH) +
           "\" fill=\"" + Diverging(values[i] / maxAbs) + "\"><title>" +
           EscapeHtml(FeatureName(names, i) + ": " + Label(values[i])) +
           "</title></rect>";
  }
  for (size_t c = 0; c < C; ++c)
    svg += Text(left - 6, top + cellH * c + 14, grid.channels[c], "end");
  const bool ms = !grid.samples.empty() && grid.samples.front() >= 1 &&
                  grid.samples.back() <= static_cast<int>(columnMs.size());
  std::vector<std::string> labels;
  size_t longest = 1;
  for (int sample : grid.samples) {
    labels.push_back(ms ? Label(columnMs[sample - 1]) : std::to_string(sample));
    longest = std::max(longest, labels.back().size());
  }
  // About 6.5 pixels a character and a gap, so that labels never touch.
  const size_t every = std::max<size_t>(
      1, static_cast<size_t>(std::ceil((6.5 * longest + 6) / cellW)));
  for (size_t s = 0; s < S; s += every)
    svg += Text(left + cellW * (s + 0.5), top + cellH * C + 14, labels[s]);
  svg += Text(left + cellW * S / 2,
              top + cellH * C + 34,
              ms ? "ms after the event (bin centre)" : "sample");
  svg += ColourScale(
      left + cellW * S + 30, top, std::max(cellH * C, 60.0), maxAbs);
  return svg + "</svg>";
}

}  // namespace Korva::Report
