#include "cli/texts.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "data/data_checks.h"
#include "korva/text.h"

namespace Korva::Cli {

void Warn(const std::string& text) {
  std::cerr << "korva: warning: " << CleanText(text) << '\n';
}

std::string Fixed(double value, int digits) {
  if (std::isnan(value)) return "n/a";
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", digits, value);
  return buffer;
}

std::string Duration(double seconds) {
  if (seconds < 1.0) return Fixed(seconds * 1000.0, 1) + " ms";
  return Fixed(seconds, 2) + " s";
}

std::string MetricsText(const Report::Confusion& c) {
  return "accuracy " + Fixed(c.Accuracy(), 3) + ", balanced accuracy " +
         Fixed(c.BalancedAccuracy(), 3) + " (TP " + std::to_string(c.tp) +
         ", FN " + std::to_string(c.fn) + ", FP " + std::to_string(c.fp) +
         ", TN " + std::to_string(c.tn) + "; majority baseline " +
         Fixed(c.MajorityBaseline(), 3) + ")";
}

void WarnNearBaseline(const Report::Confusion& c, const std::string& what) {
  const double gap = c.Accuracy() - c.MajorityBaseline();
  if (!(gap < 0.01)) return;
  const std::string where =
      gap > 0.0     ? "is less than a point above"
      : gap == 0.0  ? "equals"
      : gap > -0.01 ? "is less than a point below"
                    : "is " + Fixed(-gap * 100.0, 1) + " points below";
  Warn(what + ": accuracy " + Fixed(c.Accuracy(), 3) + " " + where +
       " always answering " + (c.tp + c.fn > c.fp + c.tn ? "+1" : "-1") + " (" +
       Fixed(c.MajorityBaseline(), 3) + "); the balanced accuracy, " +
       Fixed(c.BalancedAccuracy(), 3) +
       ", and the AUC say how well the classes are told apart");
}

std::string General(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%g", value);
  return buffer;
}

std::string WayText(double fraction) {
  return std::isfinite(fraction * 100.0)
             ? General(fraction * 100.0) + " % of the way"
             : General(fraction) + " times the way";
}

std::string DecisionText(const HostKit::TrainedModel& model) {
  const HostKit::StepwiseSettings& s = model.Settings();
  std::string text = "a score above " + General(model.Cut()) + " is the target";
  if (s.thresholdMode == ClassifierBase::RangeMode) {
    const HostKit::ClassScores& c = *model.Host().classScores;
    text += " (Range, threshold " + WayText(s.threshold) +
            " from the training classes' mean scores " +
            General(c.negativeMean) + " to " + General(c.positiveMean) + ")";
  }
  return text;
}

bool DefaultDecisions(const HostKit::StepwiseSettings& settings) {
  return settings.thresholdMode == ClassifierBase::MaxMode &&
         settings.threshold == 0.0;
}

std::string DescribeSet(const Data::Dataset& data) {
  const Data::LabelCounts counts = Data::CountLabels(data);
  std::string text = std::to_string(data.rows) + " rows (" +
                     std::to_string(counts.positive) + " labelled +1, " +
                     std::to_string(counts.negative) + " labelled -1";
  if (counts.other) text += ", " + std::to_string(counts.other) + " other";
  return text + "), " + std::to_string(data.cols) + " features";
}

}  // namespace Korva::Cli
