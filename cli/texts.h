#ifndef KORVA_CLI_TEXTS_H_
#define KORVA_CLI_TEXTS_H_

// The texts korva prints: warnings, numbers, metrics and data sets.

#include <string>

#include "data/dataset.h"
#include "korva/hostkit/trained_model.h"
#include "report/metrics.h"

namespace Korva::Cli {

// Prints "korva: warning: TEXT" on standard error.
void Warn(const std::string& text);

// `value` with `digits` decimals, "n/a" for NaN.
std::string Fixed(double value, int digits);

// A training time: milliseconds below a second, else seconds.
std::string Duration(double seconds);

// "accuracy A, balanced accuracy B (TP, FN, FP, TN; majority baseline M)".
std::string MetricsText(const Report::Confusion& c);

// Warns when the accuracy of `what` is below, or less than a point above,
// that of always answering the larger class, saying how far from it.
void WarnNearBaseline(const Report::Confusion& c, const std::string& what);

// `value` with six significant digits, as the classifier writes numbers.
std::string General(double value);

// A Range mode threshold, a fraction of the way between two means, as
// people read it: "50 % of the way"; "1e+308 times the way" where the
// percentage would overflow.
std::string WayText(double fraction);

// The decision rule of `model` in words: "a score above 0 is the target",
// and in Range mode where that cut stands ("... (Range, threshold 50 % of
// the way from the training classes' mean scores -1.02 to 1.27)").
// Error(kModel) as Cut().
std::string DecisionText(const HostKit::TrainedModel& model);

// True for the rule of a fresh classifier, a score above 0.
bool DefaultDecisions(const HostKit::StepwiseSettings& settings);

// "N rows (P labelled +1, M labelled -1[, O other]), F features".
std::string DescribeSet(const Data::Dataset& data);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_TEXTS_H_
