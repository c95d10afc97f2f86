#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "report/html_escape.h"

namespace Korva::Report {
namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:2em auto;max-width:60em;color:#222}\n"
    "h1{font-size:1.5em}h2{font-size:1.15em;margin-top:2em}\n"
    "table.facts{border-collapse:collapse}\n"
    "table.facts td,table.facts th{padding:.2em .8em;border-bottom:1px "
    "solid #ddd;text-align:left}\n"
    "svg{display:block;margin:.5em 0;font-size:11px}\n"
    "svg text{fill:#222}svg .value{fill:#555;font-size:10px}\n"
    "svg .grid{stroke:#e4e4e4}svg .frame{fill:none;stroke:#888}\n"
    "svg .chance{stroke:#999;stroke-dasharray:4 4}\n"
    "svg .roc{fill:none;stroke-width:2}\n"
    "svg .hist{fill-opacity:.35;stroke-width:1.5}\n"
    "svg .zero{stroke:#555;stroke-dasharray:3 3}\n"
    "svg .cell{stroke:#eee;stroke-width:.5}\n"
    "p.caption{color:#555;font-size:.9em}\n";

// The page's head and title, and the table of facts when there are any.
void WriteHeading(std::ostream& html, const ReportContent& content) {
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta "
          "charset=\"utf-8\">\n"
       << "<title>" << EscapeHtml(content.title) << "</title>\n"
       << "<style>\n"
       << kStyle << "</style>\n</head>\n<body>\n"
       << "<h1>" << EscapeHtml(content.title) << "</h1>\n";
  if (content.facts.empty()) return;
  html << "<table class=\"facts\">\n";
  for (const auto& [key, value] : content.facts)
    html << "<tr><th>" << EscapeHtml(key) << "</th><td>" << EscapeHtml(value)
         << "</td></tr>\n";
  html << "</table>\n";
}

// The warnings about the data, when there are any.
void WriteWarnings(std::ostream& html, const ReportContent& content) {
  if (content.warnings.empty()) return;
  html << "<h2>Warnings about the data</h2>\n<ul>\n";
  for (const std::string& warning : content.warnings)
    html << "<li>" << EscapeHtml(warning) << "</li>\n";
  html << "</ul>\n";
}

// The ROC chart, and the curves whose legend shortened their label.
void WriteRoc(std::ostream& html, const ReportContent& content) {
  html << "<h2>ROC curve</h2>\n" << RocSvg(content.rocs) << "\n";
  std::string rows;
  for (const RocSeries& series : content.rocs)
    if (LegendLabel(series.label) != series.label)
      rows += "<tr><td>" + EscapeHtml(LegendLabel(series.label)) +
              "</td><td>" + EscapeHtml(series.label) + "</td></tr>\n";
  if (!rows.empty())
    html << "<table class=\"facts\">\n<tr><th>in the legend</th><th>in "
            "full</th></tr>\n"
         << rows << "</table>\n";
}

// A caption paragraph, when there is a caption.
void WriteCaption(std::ostream& html, const std::string& caption) {
  if (!caption.empty())
    html << "<p class=\"caption\">" << EscapeHtml(caption) << "</p>\n";
}

// The heat maps under one heading, on one colour scale.
void WriteHeatMaps(std::ostream& html, const ReportContent& content) {
  if (content.heatMaps.empty()) return;
  double low = INFINITY, high = -INFINITY;
  for (const HeatMap& map : content.heatMaps)
    for (double v : map.values)
      if (std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
  html << "<h2>Mean AUC over the grid</h2>\n";
  for (const HeatMap& map : content.heatMaps)
    html << HeatMapSvg(map, {low, high}) << "\n";
  WriteCaption(html, content.heatMapsCaption);
}

// The features as channel x time: the map of the weights, and for epochs
// of recordings the class means of the chosen channels and the map of the
// signed r², on the window's time axis.
void WriteChannelTime(std::ostream& html, const ReportContent& content) {
  const auto grid = ParseChannelTime(content.names);
  const size_t n = content.names.size();
  if (!grid || content.weights.size() != n) return;
  const EpochFeatures* e = content.epochs ? &*content.epochs : nullptr;
  if (e && (e->targetMean.size() != n || e->nonTargetMean.size() != n ||
            e->signedR2.size() != n))
    e = nullptr;
  const std::vector<double> noTimes;
  const std::vector<double>& ms = e ? e->binMs : noTimes;
  html << "<h2>Channel &#215; time map of the weights</h2>\n"
       << ChannelTimeSvg(*grid,
                         content.weights,
                         content.names,
                         "Channel x time map of the weights",
                         ms)
       << "\n<p class=\"caption\">Rows are channels, columns the "
       << (e ? "bins of the epoch window"
             : "samples of the CHANNEL_SAMPLE "
               "feature names")
       << "; white cells are features that are not selected.</p>\n";
  if (!e) return;
  html << "<h2>Class means of the chosen channels</h2>\n"
       << WaveformsSvg(*grid, *e, content.selected) << "\n"
       << "<h2>Signed r&#178; of each feature</h2>\n"
       << ChannelTimeSvg(*grid,
                         e->signedR2,
                         content.names,
                         "Signed r2 of each feature and the label",
                         ms)
       << "\n<p class=\"caption\">r&#178; of each bin and the label, red "
          "where the target mean is the higher, blue where it is the "
          "lower.</p>\n";
}

}  // namespace

std::string RenderReport(const ReportContent& content) {
  std::ostringstream html;
  WriteHeading(html, content);
  WriteWarnings(html, content);
  WriteHeatMaps(html, content);
  if (content.speller) html << SpellerSection(*content.speller);
  if (content.speller && content.rocs.empty()) {
    html << "</body>\n</html>\n";
    return html.str();
  }
  WriteRoc(html, content);
  html << "<h2>Score distributions</h2>\n"
       << DistributionSvg(content.scores, content.labels) << "\n";
  WriteCaption(html, content.scoresCaption);
  html << "<h2>Weights of the selected features</h2>\n"
       << WeightBarsSvg(content) << "\n";
  WriteCaption(html, content.weightsCaption);
  WriteChannelTime(html, content);
  if (!content.steps.empty())
    html << "<h2>Order of entry</h2>\n" << StepsTable(content.steps);
  for (const std::string& note : content.notes)
    html << "<p class=\"caption\">" << EscapeHtml(note) << "</p>\n";
  html << "</body>\n</html>\n";
  return html.str();
}

}  // namespace Korva::Report
