// The class means over the epoch window: for each channel with a selected
// feature, the target and non-target mean of each bin against the bin's
// time, all on one voltage scale so that channels compare, the selected
// bins marked on the time axis.
#include <algorithm>
#include <cmath>
#include <utility>

#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

constexpr double kPanelWidth = 270, kPanelHeight = 170;
constexpr int kPanelsPerRow = 2;

// One channel's bins in time order: (time, feature index).
using Trace = std::vector<std::pair<double, size_t>>;

// The traces of the channels that have a selected feature, with their names.
std::vector<std::pair<std::string, Trace>> ChosenTraces(
    const ChannelTimeGrid& grid,
    const EpochFeatures& e,
    const std::vector<bool>& selected) {
  std::vector<Trace> traces(grid.channels.size());
  std::vector<bool> chosen(grid.channels.size(), false);
  for (size_t i = 0; i < grid.cell.size(); ++i) {
    const auto [c, s] = grid.cell[i];
    const int bin = grid.samples[s];
    const double t = bin >= 1 && bin <= static_cast<int>(e.binMs.size())
                         ? e.binMs[bin - 1]
                         : bin;
    traces[c].emplace_back(t, i);
    chosen[c] = chosen[c] || (i < selected.size() && selected[i]);
  }
  std::vector<std::pair<std::string, Trace>> shown;
  for (size_t c = 0; c < traces.size(); ++c) {
    if (!chosen[c]) continue;
    std::sort(traces[c].begin(), traces[c].end());
    shown.emplace_back(grid.channels[c], std::move(traces[c]));
  }
  return shown;
}

std::string Polyline(const Frame& f,
                     const Trace& trace,
                     const std::vector<double>& mean,
                     const char* colour) {
  std::string points;
  for (const auto& [t, i] : trace)
    points += Num(f.X(t)) + "," + Num(f.Y(mean[i])) + " ";
  return "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" +
         std::string(colour) + "\" points=\"" + points + "\"/>";
}

// One channel's panel in frame `f`.
std::string Panel(const Frame& f,
                  const std::string& channel,
                  const Trace& trace,
                  const EpochFeatures& e,
                  const std::vector<bool>& selected) {
  std::string svg =
      Axes(f, NiceTicks(f.x0, f.x1, 4), NiceTicks(f.y0, f.y1, 4), "ms", "");
  svg += Text(f.left + f.width / 2, f.top - 4, channel + " (µV)");
  svg += Polyline(f, trace, e.nonTargetMean, kNonTargetColour);
  svg += Polyline(f, trace, e.targetMean, kTargetColour);
  for (const auto& [t, i] : trace)
    if (i < selected.size() && selected[i])
      svg += "<circle cx=\"" + Num(f.X(t)) + "\" cy=\"" +
             Num(f.top + f.height) + "\" r=\"3.5\" fill=\"#222\"/>";
  return svg;
}

// The range of the means of the shown features, widened by a twentieth.
std::pair<double, double> VoltageRange(
    const std::vector<std::pair<std::string, Trace>>& shown,
    const EpochFeatures& e) {
  double lo = INFINITY, hi = -INFINITY;
  for (const auto& [name, trace] : shown)
    for (const auto& [t, i] : trace)
      for (double v : {e.targetMean[i], e.nonTargetMean[i]})
        if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  if (!(hi > lo))
    return {std::isfinite(lo) ? lo - 1 : -1, std::isfinite(hi) ? hi + 1 : 1};
  const double margin = HalfDifference(hi, lo) / 10;
  return {lo - margin, hi + margin};
}

}  // namespace

std::string WaveformsSvg(const ChannelTimeGrid& grid,
                         const EpochFeatures& e,
                         const std::vector<bool>& selected) {
  const auto shown = ChosenTraces(grid, e, selected);
  const size_t rows = (shown.size() + kPanelsPerRow - 1) / kPanelsPerRow;
  const double width = kPanelsPerRow * kPanelWidth + 20;
  const double height = 44 + kPanelHeight * std::max<size_t>(rows, 1);
  std::string svg =
      SvgOpen(width, height, "Class means of the chosen channels");
  if (shown.empty())
    return svg + Text(width / 2, 40, "no feature is selected") + "</svg>";
  svg += "<rect x=\"60\" y=\"8\" width=\"12\" height=\"3\" fill=\"" +
         std::string(kTargetColour) + "\"/>" + Text(78, 14, "target", "start");
  svg += "<rect x=\"150\" y=\"8\" width=\"12\" height=\"3\" fill=\"" +
         std::string(kNonTargetColour) + "\"/>" +
         Text(168, 14, "non-target; dots: selected bins", "start");
  const auto [y0, y1] = VoltageRange(shown, e);
  for (size_t k = 0; k < shown.size(); ++k) {
    const Trace& trace = shown[k].second;
    double t0 = trace.front().first, t1 = trace.back().first;
    if (!(t1 > t0)) t1 = t0 + 1;
    const Frame f{60 + kPanelWidth * (k % kPanelsPerRow),
                  40 + kPanelHeight * (k / kPanelsPerRow),
                  kPanelWidth - 80,
                  kPanelHeight - 70,
                  t0,
                  t1,
                  y0,
                  y1};
    svg += Panel(f, shown[k].first, trace, e, selected);
  }
  return svg + "</svg>";
}

}  // namespace Korva::Report
