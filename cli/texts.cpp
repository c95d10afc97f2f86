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
  if (!(c.Accuracy() < c.MajorityBaseline() + 0.01)) return;
  Warn(what + ": accuracy " + Fixed(c.Accuracy(), 3) +
       " is within a point of always answering " +
       (c.tp + c.fn > c.fp + c.tn ? "+1" : "-1") + " (" +
       Fixed(c.MajorityBaseline(), 3) + "); the balanced accuracy, " +
       Fixed(c.BalancedAccuracy(), 3) +
       ", and the AUC say how well the classes are told apart");
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
