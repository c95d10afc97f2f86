#include "report/html_report.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <set>
#include <sstream>

#include "report/metrics.h"

namespace Korva::Report {
namespace {

constexpr const char* kPalette[] = {"#1f77b4",
                                    "#d62728",
                                    "#2ca02c",
                                    "#ff7f0e",
                                    "#9467bd",
                                    "#8c564b",
                                    "#e377c2",
                                    "#7f7f7f",
                                    "#bcbd22",
                                    "#17becf"};
constexpr const char* kTargetColour = "#d62728";
constexpr const char* kNonTargetColour = "#1f77b4";
constexpr size_t kMaxBars = 80;

// A coordinate or value with `digits` decimals (SVG wants no exponents).
// Coordinates lie within a page; anything else (NaN, an infinity, a value
// that would print hundreds of digits) becomes 0 or the nearest bound.
std::string Num(double value, int digits = 1) {
  value = std::isnan(value) ? 0.0 : std::clamp(value, -1e7, 1e7);
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", digits, value);
  return buffer;
}

// `digits` significant digits for axis and value labels.
std::string Label(double value, int digits = 3) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*g", digits, value);
  return buffer;
}

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

// (a - b) / 2 for a >= b without overflow.
double HalfDifference(double a, double b) { return a / 2 - b / 2; }

// Increasing tick positions in [lo, hi], 1, 2 or 5 times a power of ten
// apart, about `count` of them. The loop counts ticks instead of adding steps
// to a value, since a step below the spacing of doubles there (values an ulp
// apart, or a subnormal range) would not move it: such a range gets its ends,
// a range that is not finite no tick.
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

std::string Text(double x,
                 double y,
                 const std::string& text,
                 const char* anchor = "middle",
                 const char* extra = "") {
  return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" +
         anchor + "\"" + extra + ">" + EscapeHtml(text) + "</text>";
}

// Axes with ticks and grid lines, and the axis titles.
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

std::string FormatAuc(double auc) {
  return std::isnan(auc) ? "n/a" : Num(auc, 3);
}

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

std::string FeatureName(const std::vector<std::string>& names, size_t i) {
  if (i < names.size() && !names[i].empty()) return names[i];
  return "#" + std::to_string(i + 1);
}

// Size of a weight for ordering and scaling the bars; NaN counts as 0.
double Magnitude(double w) { return std::isnan(w) ? 0.0 : std::abs(w); }

// The largest finite magnitude of `weights`, or 1 when there is none.
double ScaleOf(const std::vector<double>& weights) {
  double maxAbs = 0.0;
  for (double w : weights)
    if (std::isfinite(w)) maxAbs = std::max(maxAbs, std::abs(w));
  return maxAbs > 0.0 ? maxAbs : 1.0;
}

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

std::string RocSvg(const std::vector<RocSeries>& series) {
  // The legend stands to the right of the square plot, one line per curve.
  const double legendLeft = 440;
  const double width = legendLeft + 270;
  const double height = std::max(420.0, 30 + 18.0 * series.size());
  const Frame f{56, 12, 360, 360, 0, 1, 0, 1};
  const std::vector<double> ticks = {0, 0.2, 0.4, 0.6, 0.8, 1.0};
  std::string svg = SvgOpen(width, height, "ROC curve");
  svg += Axes(f, ticks, ticks, "false positive rate", "true positive rate");
  svg += "<line class=\"chance\" x1=\"" + Num(f.X(0)) + "\" y1=\"" +
         Num(f.Y(0)) + "\" x2=\"" + Num(f.X(1)) + "\" y2=\"" + Num(f.Y(1)) +
         "\"/>";
  for (size_t s = 0; s < series.size(); ++s) {
    const char* colour = kPalette[s % std::size(kPalette)];
    const std::vector<RocPoint> curve =
        RocCurve(series[s].scores, series[s].labels);
    const double auc = Auc(series[s].scores, series[s].labels);
    if (!curve.empty()) {
      svg += "<polyline class=\"roc\" stroke=\"" + std::string(colour) +
             "\" points=\"";
      for (const RocPoint& p : curve)
        svg += Num(f.X(p.fpr)) + "," + Num(f.Y(p.tpr)) + " ";
      svg += "\"/>";
    }
    const double y = f.top + 14 + 18.0 * s;
    svg += "<line x1=\"" + Num(legendLeft) + "\" y1=\"" + Num(y - 4) +
           "\" x2=\"" + Num(legendLeft + 18) + "\" y2=\"" + Num(y - 4) +
           "\" stroke=\"" + colour + "\" stroke-width=\"2.5\"/>";
    svg += Text(legendLeft + 24,
                y,
                series[s].label + " (AUC " + FormatAuc(auc) + ")",
                "start");
  }
  return svg + "</svg>";
}

std::string DistributionSvg(const std::vector<double>& scores,
                            const std::vector<double>& labels) {
  double lo = INFINITY, hi = -INFINITY;
  int nPos = 0, nNeg = 0;
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i) {
    if (!std::isfinite(scores[i])) continue;
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    lo = std::min(lo, scores[i]);
    hi = std::max(hi, scores[i]);
    (labels[i] == 1.0 ? nPos : nNeg) += 1;
  }
  const double width = 560, height = 344;
  std::string svg = SvgOpen(width, height, "Score distributions");
  if (nPos + nNeg == 0) {
    return svg + Text(width / 2, height / 2, "no labelled scores to show") +
           "</svg>";
  }
  // A range too narrow to split into bins (equal scores, scores that agree
  // to nine digits, or subnormal differences) is widened around its middle
  // by half a unit or a hundredth of the value, within the finite doubles.
  const double magnitude = std::max(std::abs(lo), std::abs(hi));
  if (!(HalfDifference(hi, lo) > std::max(magnitude * 5e-10, 1e-250))) {
    const double middle = lo / 2 + hi / 2;
    const double half = std::max(0.5, std::abs(middle) / 100);
    lo = std::max(middle - half, -DBL_MAX);
    hi = std::min(middle + half, DBL_MAX);
  }
  const double halfRange = HalfDifference(hi, lo);
  const int bins = std::clamp(
      static_cast<int>(std::sqrt(static_cast<double>(nPos + nNeg))), 10, 40);
  const double binWidth = halfRange / bins * 2;
  std::vector<double> pos(bins, 0.0), neg(bins, 0.0);
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i) {
    if (!std::isfinite(scores[i])) continue;
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    // The bin from the score's share of the range; whatever rounding does to
    // that share, the index stays within the bins.
    const double at = HalfDifference(scores[i], lo) / halfRange * bins;
    const int b = at >= bins ? bins - 1 : at > 0.0 ? static_cast<int>(at) : 0;
    (labels[i] == 1.0 ? pos : neg)[b] += 1.0;
  }
  // Densities, so that classes of different sizes compare.
  double top = 0.0;
  for (int b = 0; b < bins; ++b) {
    if (nPos) pos[b] = pos[b] / nPos / binWidth;
    if (nNeg) neg[b] = neg[b] / nNeg / binWidth;
    top = std::max({top, pos[b], neg[b]});
  }
  if (!(top > 0.0 && top < DBL_MAX / 2)) top = 1.0;
  const Frame f{64, 36, 470, 250, lo, hi, 0, top * 1.08};
  svg +=
      Axes(f, NiceTicks(lo, hi, 6), NiceTicks(0, f.y1, 4), "score", "density");
  // Bin edges in pixels straight from their index.
  auto edge = [&](int b) { return Num(f.left + f.width * b / bins); };
  auto outline = [&](const std::vector<double>& density, const char* colour) {
    std::string path = "M" + edge(0) + "," + Num(f.Y(0));
    for (int b = 0; b < bins; ++b) {
      path += " L" + edge(b) + "," + Num(f.Y(density[b]));
      path += " L" + edge(b + 1) + "," + Num(f.Y(density[b]));
    }
    path += " L" + edge(bins) + "," + Num(f.Y(0)) + " Z";
    return "<path class=\"hist\" d=\"" + path + "\" fill=\"" + colour +
           "\" stroke=\"" + colour + "\"/>";
  };
  if (nNeg) svg += outline(neg, kNonTargetColour);
  if (nPos) svg += outline(pos, kTargetColour);
  if (lo < 0.0 && hi > 0.0) {
    svg += "<line class=\"zero\" x1=\"" + Num(f.X(0)) + "\" y1=\"" +
           Num(f.top) + "\" x2=\"" + Num(f.X(0)) + "\" y2=\"" +
           Num(f.top + f.height) + "\"/>";
  }
  // The legend stands in one row above the plot.
  const double lx = f.left;
  svg += "<rect x=\"" + Num(lx) +
         "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" + kTargetColour +
         "\" fill-opacity=\"0.5\"/>";
  svg += Text(lx + 18, 20, "target (+1), n = " + std::to_string(nPos), "start");
  svg += "<rect x=\"" + Num(lx + 200) +
         "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" + kNonTargetColour +
         "\" fill-opacity=\"0.5\"/>";
  svg += Text(
      lx + 218, 20, "non-target (-1), n = " + std::to_string(nNeg), "start");
  return svg + "</svg>";
}

std::string WeightBarsSvg(const ReportContent& content) {
  std::vector<size_t> shown;
  for (size_t i = 0; i < content.weights.size(); ++i)
    if (i < content.selected.size() && content.selected[i]) shown.push_back(i);
  std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) {
    return Magnitude(content.weights[a]) > Magnitude(content.weights[b]);
  });
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

std::string ChannelTimeSvg(const ChannelTimeGrid& grid,
                           const std::vector<double>& weights,
                           const std::vector<std::string>& names) {
  const size_t S = grid.samples.size();
  const size_t C = grid.channels.size();
  const double cellW = std::clamp(620.0 / static_cast<double>(S), 6.0, 26.0);
  const double cellH = 20;
  const double left = 70, top = 12;
  const double width = left + cellW * S + 110;
  const double height = top + cellH * C + 50;
  std::string svg = SvgOpen(width, height, "Channel x time map of the weights");
  const double maxAbs = ScaleOf(weights);
  for (size_t i = 0; i < grid.cell.size() && i < weights.size(); ++i) {
    const auto [c, s] = grid.cell[i];
    const double x = left + cellW * s;
    const double y = top + cellH * c;
    svg += "<rect class=\"cell\" x=\"" + Num(x) + "\" y=\"" + Num(y) +
           "\" width=\"" + Num(cellW) + "\" height=\"" + Num(cellH) +
           "\" fill=\"" + Diverging(weights[i] / maxAbs) + "\"><title>" +
           EscapeHtml(FeatureName(names, i) + ": " + Label(weights[i])) +
           "</title></rect>";
  }
  for (size_t c = 0; c < C; ++c)
    svg += Text(left - 6, top + cellH * c + 14, grid.channels[c], "end");
  const size_t every =
      std::max<size_t>(1, static_cast<size_t>(std::ceil(24.0 / cellW)));
  for (size_t s = 0; s < S; s += every)
    svg += Text(left + cellW * (s + 0.5),
                top + cellH * C + 14,
                std::to_string(grid.samples[s]));
  svg += Text(left + cellW * S / 2, top + cellH * C + 34, "sample");
  // Colour scale.
  const double barX = left + cellW * S + 30;
  const double barH = std::max(cellH * C, 60.0);
  for (int k = 0; k < 20; ++k) {
    const double t = 1.0 - 2.0 * (k + 0.5) / 20.0;
    svg += "<rect x=\"" + Num(barX) + "\" y=\"" + Num(top + barH * k / 20.0) +
           "\" width=\"14\" height=\"" + Num(barH / 20.0 + 0.5) + "\" fill=\"" +
           Diverging(t) + "\"/>";
  }
  svg += Text(barX + 18, top + 10, "+" + Label(maxAbs), "start");
  svg += Text(barX + 18, top + barH / 2 + 4, "0", "start");
  svg += Text(barX + 18, top + barH, "-" + Label(maxAbs), "start");
  return svg + "</svg>";
}

std::string RenderReport(const ReportContent& content) {
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta "
          "charset=\"utf-8\">\n"
       << "<title>" << EscapeHtml(content.title) << "</title>\n"
       << "<style>\n"
       << "body{font-family:sans-serif;margin:2em "
          "auto;max-width:60em;color:#222}\n"
       << "h1{font-size:1.5em}h2{font-size:1.15em;margin-top:2em}\n"
       << "table.facts{border-collapse:collapse}\n"
       << "table.facts td,table.facts th{padding:.2em .8em;border-bottom:1px "
          "solid #ddd;text-align:left}\n"
       << "svg{display:block;margin:.5em 0;font-size:11px}\n"
       << "svg text{fill:#222}svg .value{fill:#555;font-size:10px}\n"
       << "svg .grid{stroke:#e4e4e4}svg .frame{fill:none;stroke:#888}\n"
       << "svg .chance{stroke:#999;stroke-dasharray:4 4}\n"
       << "svg .roc{fill:none;stroke-width:2}\n"
       << "svg .hist{fill-opacity:.35;stroke-width:1.5}\n"
       << "svg .zero{stroke:#555;stroke-dasharray:3 3}\n"
       << "svg .cell{stroke:#eee;stroke-width:.5}\n"
       << "p.caption{color:#555;font-size:.9em}\n"
       << "</style>\n</head>\n<body>\n"
       << "<h1>" << EscapeHtml(content.title) << "</h1>\n";
  if (!content.facts.empty()) {
    html << "<table class=\"facts\">\n";
    for (const auto& [key, value] : content.facts)
      html << "<tr><th>" << EscapeHtml(key) << "</th><td>" << EscapeHtml(value)
           << "</td></tr>\n";
    html << "</table>\n";
  }
  html << "<h2>ROC curve</h2>\n" << RocSvg(content.rocs) << "\n";
  html << "<h2>Score distributions</h2>\n"
       << DistributionSvg(content.scores, content.labels) << "\n";
  if (!content.scoresCaption.empty())
    html << "<p class=\"caption\">" << EscapeHtml(content.scoresCaption)
         << "</p>\n";
  html << "<h2>Weights of the selected features</h2>\n"
       << WeightBarsSvg(content) << "\n";
  if (!content.weightsCaption.empty())
    html << "<p class=\"caption\">" << EscapeHtml(content.weightsCaption)
         << "</p>\n";
  if (auto grid = ParseChannelTime(content.names);
      grid && content.weights.size() == content.names.size()) {
    html << "<h2>Channel &#215; time map of the weights</h2>\n"
         << ChannelTimeSvg(*grid, content.weights, content.names) << "\n"
         << "<p class=\"caption\">Rows are channels, columns the samples of "
            "the CHANNEL_SAMPLE feature names; white cells are features that "
            "are not selected.</p>\n";
  }
  for (const std::string& note : content.notes)
    html << "<p class=\"caption\">" << EscapeHtml(note) << "</p>\n";
  html << "</body>\n</html>\n";
  return html.str();
}

}  // namespace Korva::Report
