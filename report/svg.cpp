#include "report/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/html_escape.h"

namespace Korva::Report {
namespace {

// The labels of increasing ticks: three significant digits, more where
// that many would show two ticks alike (17 tell any two doubles apart).
std::vector<std::string> TickLabels(const std::vector<double>& ticks) {
  std::vector<std::string> labels;
  for (int digits = 3; digits <= 17; ++digits) {
    labels.clear();
    for (double t : ticks) labels.push_back(Label(t, digits));
    if (std::adjacent_find(labels.begin(), labels.end()) == labels.end()) break;
  }
  return labels;
}

}  // namespace

// Coordinates lie within a page; anything else (NaN, an infinity, a value
// that would print hundreds of digits) becomes 0 or the nearest bound.
std::string Num(double value, int digits) {
  value = std::isnan(value) ? 0.0 : std::clamp(value, -1e7, 1e7);
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", digits, value);
  return buffer;
}

std::string Label(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*g", digits, value);
  return buffer;
}

double HalfDifference(double a, double b) { return a / 2 - b / 2; }

// The loop counts ticks instead of adding steps to a value, since a step
// below the spacing of doubles there (values an ulp apart, or a subnormal
// range) would not move it: such a range gets its ends, a range that is not
// finite no tick.
std::vector<double> NiceTicks(double lo, double hi, int count) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return {};
  if (!(hi > lo)) return {lo};
  const double rough = HalfDifference(hi, lo) / count * 2;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  // A tick a billionth of a step outside the range still counts (0.6 / 0.2
  // is 2.9999999999999996).
  const double slack = step * 1e-9;
  const double first = std::ceil(lo / step - 1e-9);
  const double last = std::floor(hi / step + 1e-9);
  if (!(std::isfinite(step) && step > 0.0 && last - first >= 0.0 &&
        last - first <= 4.0 * count))
    return {lo, hi};
  std::vector<double> ticks;
  for (int k = 0; k <= static_cast<int>(last - first); ++k) {
    const double t = (first + k) * step;
    if (t < lo - slack || t > hi + slack) continue;
    if (!ticks.empty() && t <= ticks.back()) continue;  // rounded together
    ticks.push_back(std::abs(t) < slack ? 0.0 : t);
  }
  if (ticks.empty()) return {lo, hi};
  return ticks;
}

std::string Text(double x,
                 double y,
                 const std::string& text,
                 const char* anchor,
                 const char* extra) {
  return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" +
         anchor + "\"" + extra + ">" + EscapeHtml(text) + "</text>";
}

std::string Axes(const Frame& f,
                 const std::vector<double>& xTicks,
                 const std::vector<double>& yTicks,
                 const std::string& xTitle,
                 const std::string& yTitle) {
  std::string svg = "<g class=\"axes\">";
  const std::vector<std::string> xLabels = TickLabels(xTicks);
  for (size_t i = 0; i < xTicks.size(); ++i) {
    const double x = f.X(xTicks[i]);
    svg += "<line class=\"grid\" x1=\"" + Num(x) + "\" y1=\"" + Num(f.top) +
           "\" x2=\"" + Num(x) + "\" y2=\"" + Num(f.top + f.height) + "\"/>";
    svg += Text(x, f.top + f.height + 16, xLabels[i]);
  }
  const std::vector<std::string> yLabels = TickLabels(yTicks);
  for (size_t i = 0; i < yTicks.size(); ++i) {
    const double y = f.Y(yTicks[i]);
    svg += "<line class=\"grid\" x1=\"" + Num(f.left) + "\" y1=\"" + Num(y) +
           "\" x2=\"" + Num(f.left + f.width) + "\" y2=\"" + Num(y) + "\"/>";
    svg += Text(f.left - 6, y + 4, yLabels[i], "end");
  }
  svg += "<rect class=\"frame\" x=\"" + Num(f.left) + "\" y=\"" + Num(f.top) +
         "\" width=\"" + Num(f.width) + "\" height=\"" + Num(f.height) + "\"/>";
  svg += Text(f.left + f.width / 2, f.top + f.height + 36, xTitle);
  const double yMid = f.top + f.height / 2;
  svg += "<text x=\"14\" y=\"" + Num(yMid) +
         "\" text-anchor=\"middle\" transform=\"rotate(-90 14 " + Num(yMid) +
         ")\">" + EscapeHtml(yTitle) + "</text>";
  return svg + "</g>";
}

std::string SvgOpen(double width, double height, const std::string& title) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(width, 0) +
         "\" height=\"" + Num(height, 0) + "\" viewBox=\"0 0 " + Num(width, 0) +
         " " + Num(height, 0) + "\" role=\"img\"><title>" + EscapeHtml(title) +
         "</title>";
}

std::string FeatureName(const std::vector<std::string>& names, std::size_t i) {
  if (i < names.size() && !names[i].empty()) return names[i];
  return "#" + std::to_string(i + 1);
}

double ScaleOf(const std::vector<double>& weights) {
  double maxAbs = 0.0;
  for (double w : weights)
    if (std::isfinite(w)) maxAbs = std::max(maxAbs, std::abs(w));
  return maxAbs > 0.0 ? maxAbs : 1.0;
}

}  // namespace Korva::Report
