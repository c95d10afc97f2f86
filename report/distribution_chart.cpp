// The score distributions: a histogram of each class's scores, as densities
// so that classes of different sizes compare, with a legend above the plot.
// The score axis covers the central range of the scores; how many fall
// outside it, on each side, is written at that edge.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "report/html_report.h"
#include "report/svg.h"

namespace Korva::Report {
namespace {

// The finite scores of the rows labelled +1 or -1, binned.
struct ClassHistogram {
  double lo = INFINITY, hi = -INFINITY;  // the binned range
  int nPos = 0, nNeg = 0;                // scores of each class
  int below = 0, above = 0;              // scores outside [lo, hi]
  std::vector<double> pos, neg;          // density per bin, one per class
  double top = 1.0;                      // the largest density, or 1
};

// Calls `visit(score, target)` for every finite score whose label is +1
// (target) or -1.
template <typename Visit>
void ForEachLabelled(const std::vector<double>& scores,
                     const std::vector<double>& labels,
                     Visit visit) {
  for (size_t i = 0; i < scores.size() && i < labels.size(); ++i) {
    if (!std::isfinite(scores[i])) continue;
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    visit(scores[i], labels[i] == 1.0);
  }
}

// A range too narrow to split into bins (equal scores, scores that agree to
// nine digits, or subnormal differences) is widened around its middle by
// half a unit or a hundredth of the value, within the finite doubles.
void WidenNarrowRange(double& lo, double& hi) {
  const double magnitude = std::max(std::abs(lo), std::abs(hi));
  if (HalfDifference(hi, lo) > std::max(magnitude * 5e-10, 1e-250)) return;
  const double middle = lo / 2 + hi / 2;
  const double half = std::max(0.5, std::abs(middle) / 100);
  lo = std::max(middle - half, -DBL_MAX);
  hi = std::min(middle + half, DBL_MAX);
}

// The quartiles of `sorted` (not empty) widened by three times their
// distance on each side, within the scores (about 4.7 standard deviations
// of normal scores either side): a few scores far out would otherwise
// squeeze the classes into a few bins.
void CentralRange(const std::vector<double>& sorted, double& lo, double& hi) {
  const size_t last = sorted.size() - 1;
  const double q1 = sorted[last / 4], q3 = sorted[last - last / 4];
  const double spread = 6 * HalfDifference(q3, q1);
  lo = std::max(sorted.front(), q1 - spread);
  hi = std::min(sorted.back(), q3 + spread);
}

// The central range and counts of the labelled scores, then their densities
// in 10 to 40 bins; no bins when no score is labelled.
ClassHistogram Histogram(const std::vector<double>& scores,
                         const std::vector<double>& labels) {
  ClassHistogram h;
  std::vector<double> sorted;
  ForEachLabelled(scores, labels, [&](double score, bool target) {
    sorted.push_back(score);
    (target ? h.nPos : h.nNeg) += 1;
  });
  if (sorted.empty()) return h;
  std::sort(sorted.begin(), sorted.end());
  CentralRange(sorted, h.lo, h.hi);
  WidenNarrowRange(h.lo, h.hi);
  const double halfRange = HalfDifference(h.hi, h.lo);
  const int bins = std::clamp(
      static_cast<int>(std::sqrt(static_cast<double>(h.nPos + h.nNeg))),
      10,
      40);
  h.pos.assign(bins, 0.0);
  h.neg.assign(bins, 0.0);
  ForEachLabelled(scores, labels, [&](double score, bool target) {
    if (score < h.lo || score > h.hi) {
      ++(score < h.lo ? h.below : h.above);
      return;
    }
    // The bin from the score's share of the range; whatever rounding does to
    // that share, the index stays within the bins.
    const double at = HalfDifference(score, h.lo) / halfRange * bins;
    const int b = at >= bins ? bins - 1 : at > 0.0 ? static_cast<int>(at) : 0;
    (target ? h.pos : h.neg)[b] += 1.0;
  });
  const double binWidth = halfRange / bins * 2;
  double top = 0.0;
  for (int b = 0; b < bins; ++b) {
    if (h.nPos) h.pos[b] = h.pos[b] / h.nPos / binWidth;
    if (h.nNeg) h.neg[b] = h.neg[b] / h.nNeg / binWidth;
    top = std::max({top, h.pos[b], h.neg[b]});
  }
  if (top > 0.0 && top < DBL_MAX / 2) h.top = top;
  return h;
}

// One class's densities as a filled outline of its bins; the bin edges in
// pixels come straight from their index.
std::string Outline(const Frame& f,
                    const std::vector<double>& density,
                    const char* colour) {
  const int bins = static_cast<int>(density.size());
  auto edge = [&](int b) { return Num(f.left + f.width * b / bins); };
  std::string path = "M" + edge(0) + "," + Num(f.Y(0));
  for (int b = 0; b < bins; ++b) {
    path += " L" + edge(b) + "," + Num(f.Y(density[b]));
    path += " L" + edge(b + 1) + "," + Num(f.Y(density[b]));
  }
  path += " L" + edge(bins) + "," + Num(f.Y(0)) + " Z";
  return "<path class=\"hist\" d=\"" + path + "\" fill=\"" + colour +
         "\" stroke=\"" + colour + "\"/>";
}

// The legend, in one row above the plot from `left` on.
std::string Legend(double left, int nPos, int nNeg) {
  std::string svg = "<rect x=\"" + Num(left) +
                    "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" +
                    kTargetColour + "\" fill-opacity=\"0.5\"/>";
  svg +=
      Text(left + 18, 20, "target (+1), n = " + std::to_string(nPos), "start");
  svg += "<rect x=\"" + Num(left + 200) +
         "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" + kNonTargetColour +
         "\" fill-opacity=\"0.5\"/>";
  svg += Text(
      left + 218, 20, "non-target (-1), n = " + std::to_string(nNeg), "start");
  return svg;
}

}  // namespace

std::string DistributionSvg(const std::vector<double>& scores,
                            const std::vector<double>& labels) {
  const double width = 560, height = 344;
  std::string svg = SvgOpen(width, height, "Score distributions");
  const ClassHistogram h = Histogram(scores, labels);
  if (h.nPos + h.nNeg == 0) {
    return svg + Text(width / 2, height / 2, "no labelled scores to show") +
           "</svg>";
  }
  const Frame f{64, 36, 470, 250, h.lo, h.hi, 0, h.top * 1.08};
  svg += Axes(
      f, NiceTicks(h.lo, h.hi, 6), NiceTicks(0, f.y1, 4), "score", "density");
  if (h.nNeg) svg += Outline(f, h.neg, kNonTargetColour);
  if (h.nPos) svg += Outline(f, h.pos, kTargetColour);
  if (h.lo < 0.0 && h.hi > 0.0) {
    svg += "<line class=\"zero\" x1=\"" + Num(f.X(0)) + "\" y1=\"" +
           Num(f.top) + "\" x2=\"" + Num(f.X(0)) + "\" y2=\"" +
           Num(f.top + f.height) + "\"/>";
  }
  if (h.below)
    svg += Text(f.left + 4,
                f.top + 12,
                "\xE2\x97\x80 " + std::to_string(h.below) + " below",
                "start");
  if (h.above)
    svg += Text(f.left + f.width - 4,
                f.top + 12,
                std::to_string(h.above) + " above \xE2\x96\xB6",
                "end");
  return svg + Legend(f.left, h.nPos, h.nNeg) + "</svg>";
}

}  // namespace Korva::Report
