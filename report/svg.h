#ifndef KORVA_REPORT_SVG_H_
#define KORVA_REPORT_SVG_H_

// What the report's charts share: numbers as SVG wants them, ticks, a plot
// frame with its axes, text, the opening of an <svg> element, and the
// colours and names of classes and features. Internal to korva_report.

#include <cstddef>
#include <string>
#include <vector>

namespace Korva::Report {

// The colours of the two classes wherever they are drawn.
inline constexpr const char* kTargetColour = "#d62728";
inline constexpr const char* kNonTargetColour = "#1f77b4";

// `value` with `digits` decimals and no exponent, for coordinates: NaN
// becomes 0, anything beyond ±1e7 that bound.
std::string Num(double value, int digits = 1);

// `value` with `digits` significant digits, for axis and value labels.
std::string Label(double value, int digits = 3);

// (a - b) / 2 for a >= b without overflow.
double HalfDifference(double a, double b);

// Increasing tick positions in [lo, hi], 1, 2 or 5 times a power of ten
// apart, about `count` of them; {lo, hi} where steps cannot resolve the
// range, {lo} for an empty one, none for a range that is not finite.
std::vector<double> NiceTicks(double lo, double hi, int count);

// Maps data coordinates to the pixels of one plot area (x1 > x0, y1 > y0,
// all finite); halves keep the differences finite for any such range.
struct Frame {
  double left, top, width, height;
  double x0, x1, y0, y1;
  double X(double x) const {
    return left + HalfDifference(x, x0) / HalfDifference(x1, x0) * width;
  }
  double Y(double y) const {
    return top + height -
           HalfDifference(y, y0) / HalfDifference(y1, y0) * height;
  }
};

// A <text> element with `text` escaped; `extra` holds further attributes,
// each with its leading blank.
std::string Text(double x,
                 double y,
                 const std::string& text,
                 const char* anchor = "middle",
                 const char* extra = "");

// Axes of `f` with ticks and grid lines at the given data positions, and the
// axis titles.
std::string Axes(const Frame& f,
                 const std::vector<double>& xTicks,
                 const std::vector<double>& yTicks,
                 const std::string& xTitle,
                 const std::string& yTitle);

// The opening of an <svg> element of the given size with its <title>; the
// caller closes it.
std::string SvgOpen(double width, double height, const std::string& title);

// The name shown for feature `i`: its own, or "#" and its 1-based number.
std::string FeatureName(const std::vector<std::string>& names, std::size_t i);

// The largest finite magnitude of `weights`, or 1 when there is none.
double ScaleOf(const std::vector<double>& weights);

}  // namespace Korva::Report

#endif  // KORVA_REPORT_SVG_H_
