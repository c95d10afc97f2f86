// The weights of the selected features as horizontal bars, the largest
// first, positive ones in the target colour.
#include <algorithm>
#include <cmath>

#include "report/html_escape.h"
#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

constexpr size_t kMaxBars = 80;

// Size of a weight for ordering and scaling the bars; NaN counts as 0.
double Magnitude(double w) { return std::isnan(w) ? 0.0 : std::abs(w); }

// The selected features, largest weight first (ties in feature order).
std::vector<size_t> SelectedByMagnitude(const ReportContent& content) {
  std::vector<size_t> shown;
  for (size_t i = 0; i < content.weights.size(); ++i)
    if (i < content.selected.size() && content.selected[i]) shown.push_back(i);
  std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) {
    return Magnitude(content.weights[a]) > Magnitude(content.weights[b]);
  });
  return shown;
}

}  // namespace

std::string WeightBarsSvg(const ReportContent& content) {
  std::vector<size_t> shown = SelectedByMagnitude(content);
  const size_t total = shown.size();
  if (shown.size() > kMaxBars) shown.resize(kMaxBars);
  const double rowHeight = 18;
  const double labelWidth = 190;
  const double barWidth = 300;
  const double width = labelWidth + barWidth + 90;
  const double height = 30 + rowHeight * std::max<size_t>(shown.size(), 1) + 20;
  std::string svg = SvgOpen(width, height, "Weights of the selected features");
  if (shown.empty())
    return svg + Text(width / 2, 40, "no feature is selected") + "</svg>";
  std::vector<double> shownWeights;
  for (size_t i : shown) shownWeights.push_back(content.weights[i]);
  const double zero = labelWidth + 30 + barWidth / 2;
  const double scale = (barWidth / 2) / ScaleOf(shownWeights);
  svg += "<line class=\"zero\" x1=\"" + Num(zero) + "\" y1=\"14\" x2=\"" +
         Num(zero) + "\" y2=\"" + Num(height - 14) + "\"/>";
  for (size_t row = 0; row < shown.size(); ++row) {
    const size_t i = shown[row];
    const double w = content.weights[i];
    const double y = 20 + rowHeight * row;
    // An infinite weight gets a full bar, NaN the sliver of a zero weight.
    const double length = std::clamp(Magnitude(w) * scale, 0.5, barWidth / 2);
    const double x = w >= 0 ? zero : zero - length;
    std::string name = FeatureName(content.names, i);
    if (i < content.weightNotes.size() && !content.weightNotes[i].empty())
      name += " " + content.weightNotes[i];
    svg += Text(labelWidth, y + 12, name, "end");
    svg += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y + 2) + "\" width=\"" +
           Num(length) + "\" height=\"" + Num(rowHeight - 5) + "\" fill=\"" +
           (w >= 0 ? kTargetColour : kNonTargetColour) + "\"><title>" +
           EscapeHtml(name + ": " + Label(w)) + "</title></rect>";
    svg += Text(w >= 0 ? zero + length + 4 : zero + 4,
                y + 12,
                Label(w),
                "start",
                " class=\"value\"");
  }
  if (total > shown.size()) {
    svg += Text(width / 2,
                height - 4,
                "the " + std::to_string(total - shown.size()) +
                    " smallest weights are not shown");
  }
  return svg + "</svg>";
}

}  // namespace Korva::Report
