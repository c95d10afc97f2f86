#ifndef KORVA_REPORT_HTML_REPORT_H_
#define KORVA_REPORT_HTML_REPORT_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Korva::Report {

// Scores and labels of one ROC curve (one fold, or a whole test set).
struct RocSeries {
  std::string label;           // legend text, e.g. "fold 2"
  std::vector<double> scores;  // one per row
  std::vector<double> labels;  // one per row; only +1 and -1 rows count
};

// One value per cell of a grid of two settings (mean AUC over p-enter x
// p-remove), with a note under each value (the mean number of features).
struct HeatMap {
  std::string title;                       // "max-iter 300"
  std::string rowTitle, columnTitle;       // "p-enter", "p-remove"
  std::vector<std::string> rows, columns;  // the settings' values as text
  std::vector<double> values;      // rows x columns, row-major; NaN: no value
  std::vector<std::string> notes;  // one per cell, or empty
  std::vector<std::string> empty;  // per cell: why it has no value
  int marked = -1;                 // the cell drawn with a frame, if any
};

// Features cut from recordings (CHANNEL_BB names, one per channel and bin
// of the epoch window), as their charts read them.
struct EpochFeatures {
  std::vector<double> binMs;  // centre of bin BB (from 1), ms after the event
  // Per feature: the class means, and r² of feature and label with the sign
  // of the target mean less the non-target mean.
  std::vector<double> targetMean, nonTargetMean, signedR2;
};

// One change of the selection, in the order of the training.
struct StepRow {
  int step = 0;
  bool added = true;  // else removed
  std::string feature;
  double p = 0.0;
};

// A speller's figures against the number of repetitions k = 1, 2, ...
struct SpellerCurve {
  std::vector<double> accuracy;       // per k; NaN: not known
  std::vector<double> bitsPerMinute;  // per k; NaN: not known
  std::vector<std::string> text;      // per k: the spelled text
  std::string target;                 // "" when not known
  // Dynamic stopping: the mean repetitions used, the accuracy and the rate
  // (NaN: not known); none without it.
  std::optional<std::vector<double>> stopping;
  std::string stoppingText;
};

// What a report shows.
struct ReportContent {
  std::string title;
  std::vector<std::pair<std::string, std::string>> facts;  // summary table
  std::vector<std::string> warnings;  // about the data, under the facts
  std::vector<RocSeries> rocs;
  std::vector<double> scores;  // for the class score distributions
  std::vector<double> labels;  // one per score
  std::string scoresCaption;
  std::vector<std::string> names;        // one per feature (may be empty)
  std::vector<double> weights;           // one per feature
  std::vector<bool> selected;            // one per feature
  std::vector<std::string> weightNotes;  // per feature, shown after the name
  std::string weightsCaption;
  std::vector<StepRow> steps;           // in order; none: no table
  std::optional<EpochFeatures> epochs;  // when cut from recordings
  std::vector<std::string> notes;       // closing paragraphs
  std::vector<HeatMap> heatMaps;        // shown first, when there are any
  std::string heatMapsCaption;
  // A speller's curve, shown first; without ROC series the report shows
  // nothing of flash scores.
  std::optional<SpellerCurve> speller;
};

// A channel x time layout of features named CHANNEL_SAMPLE ("Cz_07").
struct ChannelTimeGrid {
  std::vector<std::string> channels;      // in order of first appearance
  std::vector<int> samples;               // ascending sample numbers
  std::vector<std::pair<int, int>> cell;  // (channel, sample index) per feature
};

// The layout when every name has the CHANNEL_SAMPLE form with distinct
// (channel, sample) pairs; nothing otherwise.
std::optional<ChannelTimeGrid> ParseChannelTime(
    const std::vector<std::string>& names);

// The legend's text for a curve labelled `label`: the label itself, or when
// it is longer than kLegendChars characters its start and end around an
// ellipsis (the report lists such labels in full under the chart).
constexpr size_t kLegendChars = 32;
std::string LegendLabel(const std::string& label);

// The parts of the report, each a self-contained <svg> element.
std::string RocSvg(const std::vector<RocSeries>& series);
std::string DistributionSvg(const std::vector<double>& scores,
                            const std::vector<double>& labels);
std::string WeightBarsSvg(const ReportContent& content);
// Cells coloured from the lowest value (light) to the highest (dark), each
// with its value and note; `range` gives the lowest and highest values of
// the colour scale (several maps share one).
std::string HeatMapSvg(const HeatMap& map, std::pair<double, double> range);
// Each feature's value in its cell; the columns labelled by `columnMs`
// (ms of sample number s at s - 1) when it covers them, else by number.
std::string ChannelTimeSvg(const ChannelTimeGrid& grid,
                           const std::vector<double>& values,
                           const std::vector<std::string>& names,
                           const std::string& title,
                           const std::vector<double>& columnMs = {});
// The target and non-target means over the window, one small chart per
// channel that has a selected feature.
std::string WaveformsSvg(const ChannelTimeGrid& grid,
                         const EpochFeatures& epochs,
                         const std::vector<bool>& selected);
// Accuracy and bits per minute against the repetitions, and the spelled
// text against the target, as HTML.
std::string SpellerSection(const SpellerCurve& curve);

// The changes of the selection as an HTML table.
std::string StepsTable(const std::vector<StepRow>& steps);

// The whole report: one HTML page with inline styles and inline SVG plots
// that needs nothing else to be viewed.
std::string RenderReport(const ReportContent& content);

}  // namespace Korva::Report

#endif  // KORVA_REPORT_HTML_REPORT_H_
