// The ROC chart: one curve per series beside a legend that gives each its
// AUC.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "report/html_report.h"
#include "report/metrics.h"
#include "report/svg.h"

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

std::string FormatAuc(double auc) {
  return std::isnan(auc) ? "n/a" : Num(auc, 3);
}

// Where each character of UTF-8 `text` starts.
std::vector<size_t> CharacterStarts(const std::string& text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80)
      starts.push_back(i);
  return starts;
}

}  // namespace

std::string LegendLabel(const std::string& label) {
  const std::vector<size_t> starts = CharacterStarts(label);
  if (starts.size() <= kLegendChars) return label;
  // The end of a name (a file's) tells most: it keeps the larger share.
  const size_t head = (kLegendChars - 1) * 2 / 5;
  const size_t tail = kLegendChars - 1 - head;
  return label.substr(0, starts[head]) + "\u2026" +
         label.substr(starts[starts.size() - tail]);
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
                LegendLabel(series[s].label) + " (AUC " + FormatAuc(auc) + ")",
                "start");
  }
  return svg + "</svg>";
}

}  // namespace Korva::Report
