#include "report/html_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "testing/files.h"

namespace Korva::Report {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using Korva::Testing::Count;

TEST(ChannelTime, LaysOutChannelsInOrderAndSamplesAscending) {
  const auto grid =
      ParseChannelTime({"Pz_02", "Pz_01", "PO7_01", "PO7_10", "Pz_10"});
  ASSERT_TRUE(grid.has_value());
  EXPECT_EQ(grid->channels, (std::vector<std::string>{"Pz", "PO7"}));
  EXPECT_EQ(grid->samples, (std::vector<int>{1, 2, 10}));
  EXPECT_EQ(grid->cell,
            (std::vector<std::pair<int, int>>{
                {0, 1}, {0, 0}, {1, 0}, {1, 2}, {0, 2}}));
  for (std::vector<std::string> names : {std::vector<std::string>{},
                                         {"Cz_01", "Cz"},
                                         {"Cz_1a"},
                                         {"_01"},
                                         {"Cz_"},
                                         {"Cz_01", "Cz_1"}})
    EXPECT_FALSE(ParseChannelTime(names).has_value()) << names.size();
}

ReportContent Content(std::vector<std::string> names) {
  ReportContent content;
  content.title = "training <check>";
  content.facts = {{"data", "a & b"}};
  content.rocs = {{"fold 1", {0.9, 0.1, 0.5}, {1, -1, -1}},
                  {"fold 2", {0.2, 0.4}, {1, -1}}};
  content.scores = {0.9, 0.1, 0.5};
  content.labels = {1, -1, -1};
  content.names = std::move(names);
  content.weights = {0.25, 0.0, -0.5, 0.0};
  content.selected = {true, false, true, false};
  return content;
}

TEST(Report, HoldsEveryPlotAsInlineSvgAndNeedsNothingElse) {
  const std::string html =
      RenderReport(Content({"Cz_01", "Cz_02", "Pz_01", "Pz_02"}));
  EXPECT_THAT(html, HasSubstr("<!DOCTYPE html>"));
  EXPECT_EQ(Count(html, "<svg "), 4) << "ROC, distributions, weights, map";
  EXPECT_EQ(Count(html, "class=\"roc\""), 2) << "one curve per fold";
  EXPECT_THAT(html, HasSubstr("fold 1 (AUC 1.000)"));
  EXPECT_THAT(html, HasSubstr("Channel &#215; time map"));
  for (const char* external : {"<script", " href=", " src="})
    EXPECT_THAT(html, Not(HasSubstr(external)));
  // Weight bars only for the selected features, by name, largest first.
  const std::string bars =
      WeightBarsSvg(Content({"Cz_01", "Cz_02", "Pz_01", "Pz_02"}));
  EXPECT_THAT(bars, HasSubstr(">Cz_01<"));
  EXPECT_THAT(bars, HasSubstr(">Pz_01<"));
  EXPECT_THAT(bars, Not(HasSubstr("Cz_02")));
  EXPECT_EQ(Count(bars, "<rect "), 2);
  EXPECT_LT(bars.find(">Pz_01<"), bars.find(">Cz_01<"));
}

TEST(Report, NoMapWithoutChannelSampleNamesAndTextIsEscaped) {
  const std::string html = RenderReport(Content({"alpha", "<b>", "", "d"}));
  EXPECT_EQ(Count(html, "<svg "), 3);
  EXPECT_THAT(html, HasSubstr("training &lt;check&gt;"));
  EXPECT_THAT(html, HasSubstr("a &amp; b"));
  EXPECT_THAT(html, HasSubstr(">#3<")) << "an unnamed feature shows its number";
}

TEST(Report, EmptySelectionAndSingleClassStillRender) {
  ReportContent content = Content({"a", "b", "c", "d"});
  content.selected.assign(4, false);
  content.labels = {1, 1, 1};
  const std::string html = RenderReport(content);
  EXPECT_THAT(html, HasSubstr("no feature is selected"));
  EXPECT_EQ(Count(html, "<svg "), 3);
}

TEST(Report, EpochsOfRecordingsAddClassMeansAndSignedR2InMilliseconds) {
  ReportContent content = Content({"Cz_01", "Cz_02", "Pz_01", "Pz_02"});
  content.epochs = EpochFeatures{
      {125, 375}, {1, 2, 3, 4}, {0, 0, 0, 0}, {0.5, -0.25, 0.1, 0}};
  content.steps = {{1, true, "Pz_01", 1e-5}, {2, true, "Cz_01", 0.02}};
  content.selected = {true, false, false, false};
  const std::string html = RenderReport(content);
  EXPECT_EQ(Count(html, "<svg "), 6) << "and class means, signed r2 map";
  EXPECT_EQ(Count(html, ">ms after the event (bin centre)<"), 2);
  EXPECT_EQ(Count(html, ">375<"), 2) << "bin 2 labelled by its time";
  const std::string means = WaveformsSvg(
      *ParseChannelTime(content.names), *content.epochs, content.selected);
  EXPECT_EQ(Count(means, "<polyline"), 2) << "only Cz has a selected feature";
  EXPECT_THAT(means, HasSubstr(">Cz (µV)<"));
  // Bin 1 drawn at its time, 125 ms: the time axis spans 125 to 375 only,
  // so 200 sits 75 / 250 of the way along the frame from x = 60 to 250.
  EXPECT_THAT(means, HasSubstr("x1=\"117.0\" y1=\"40.0\" x2=\"117.0\" y2=\"140.0\"/><text x=\"117.0\" y=\"156.0\" text-anchor=\"middle\">200<"));
  EXPECT_THAT(means, Not(HasSubstr(">100<")));
  EXPECT_LT(html.find("<td>Pz_01</td>"), html.find("<td>Cz_01</td>"));
  EXPECT_THAT(html, HasSubstr("<td>1e-05</td>"));
  content.epochs->signedR2.pop_back();  // does not fit the features
  EXPECT_EQ(Count(RenderReport(content), "<svg "), 4);
}

TEST(Report, ScoreAxisCoversTheCentralScoresAndCountsTheRest) {
  std::vector<double> scores, labels;
  for (int i = 0; i < 200; ++i) {
    scores.push_back(i % 2 ? 1 + i / 400.0 : -1 - i / 400.0);
    labels.push_back(i % 2 ? 1 : -1);
  }
  scores[0] = -1e6;
  scores[1] = scores[3] = 1e9;
  const std::string svg = DistributionSvg(scores, labels);
  EXPECT_THAT(svg, HasSubstr(">\xE2\x97\x80 1 below<"));
  EXPECT_THAT(svg, HasSubstr(">2 above \xE2\x96\xB6<"));
  EXPECT_THAT(svg, Not(HasSubstr("e+0"))) << "no tick out at the outliers";
}

// Scores -4 .. 5, the even ones targets, worked by hand: quartiles -2 and 3
// widened by 3 x 5 reach past both ends, so the axis is [-4, 5] in 10 bins
// (sqrt 10 is below the least); score s falls in bin (s + 4) x 10 / 9, the
// top score in the last. Each class has one score in every other bin:
// density 1 / 5 / 0.9 = 0.222, the density axis up to 0.24, ticks 0, 0.1
// and 0.2; bin edges every 47 pixels from 64, the bars' tops at
// 286 - 250 / 1.08 = 54.5, the zero line at 64 + 470 x 4 / 9. Equal scores
// 3 get [2.5, 3.5], each class's one bin density 1 / 0.1.
TEST(Report, DistributionScalesAsWorkedByHand) {
  const std::vector<double> scores = {-4, -3, -2, -1, 0, 1, 2, 3, 4, 5};
  const std::vector<double> labels = {1, -1, 1, -1, 1, -1, 1, -1, 1, -1};
  const std::string svg = DistributionSvg(scores, labels);
  for (const char* drawn :
       {"d=\"M64.0,286.0 L64.0,54.5 L111.0,54.5 L111.0,286.0 L158.0,286.0 "
        "L158.0,54.5 L205.0,54.5 L205.0,286.0",
        "L487.0,286.0 L487.0,54.5 L534.0,54.5 L534.0,286.0 Z\" fill=\"#1f77b4",
        "<line class=\"zero\" x1=\"272.9\"",
        ">-4</text>", ">4</text>", "y=\"185.8\" text-anchor=\"end\">0.1<",
        "y=\"81.7\" text-anchor=\"end\">0.2<", "n = 5<"})
    EXPECT_THAT(svg, HasSubstr(drawn));
  for (const char* absent : {">6</text>", ">-6</text>", ">0.3<", "below", "above"})
    EXPECT_THAT(svg, Not(HasSubstr(absent)));
  const std::string equal = DistributionSvg({3, 3, 3}, {1, -1, -1});
  for (const char* drawn : {">2.6<", ">3.4<", ">10<", "L299.0,54.5 L346.0,54.5"})
    EXPECT_THAT(equal, HasSubstr(drawn));
  EXPECT_THAT(equal, Not(HasSubstr(">2.4<")));
}

// Every cell of the tuning map holds its texts centred on it, inside it: the
// value (three decimals), its note, or why it has none.
TEST(Report, HeatMapTextsSitCentredInTheirCells) {
  HeatMap map;
  map.rowTitle = "p-enter";
  map.columnTitle = "p-remove";
  map.rows = {"0.05", "0.1"};
  map.columns = {"0.1", "0.15"};
  map.values = {0.7, NAN, 0.8125, 0.9};
  map.notes = {"", "", "3 features", ""};
  map.empty = {"", "skipped", "", ""};
  const std::string svg = HeatMapSvg(map, {0.7, 0.9});
  const std::regex cell(
      "<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\" "
      "height=\"([0-9.]+)\"[^>]*class=\"cell\"");
  // A cell's texts follow its rect, centred; the row titles end at the map.
  const std::regex text(
      "<text x=\"([0-9.]+)\" y=\"([0-9.]+)\" text-anchor=\"middle\"[^>]*>([^<]*)<");
  std::string texts;
  int cells = 0;
  for (std::sregex_iterator c(svg.begin(), svg.end(), cell), end; c != end; ++c, ++cells) {
    const double x = std::stod((*c)[1]), y = std::stod((*c)[2]);
    const double w = std::stod((*c)[3]), h = std::stod((*c)[4]);
    const auto from = svg.begin() + (*c).position() + (*c).length();
    const auto to = std::next(c) == end ? svg.end() : svg.begin() + std::next(c)->position();
    for (std::sregex_iterator t(from, to, text); t != end; ++t) {
      EXPECT_DOUBLE_EQ(std::stod((*t)[1]), x + w / 2) << (*t)[3];
      EXPECT_GT(std::stod((*t)[2]), y) << (*t)[3];
      EXPECT_LT(std::stod((*t)[2]), y + h) << (*t)[3];
      texts += (*t)[3].str() + ";";
    }
  }
  EXPECT_EQ(cells, 4);
  EXPECT_EQ(texts, "0.700;skipped;0.812;3 features;0.900;");
}

}  // namespace
}  // namespace Korva::Report
