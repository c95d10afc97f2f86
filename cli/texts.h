#ifndef KORVA_CLI_TEXTS_H_
#define KORVA_CLI_TEXTS_H_

// The texts korva prints: warnings, numbers, metrics and data sets.

#include <string>

#include "data/dataset.h"
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

// Warns when the accuracy of `what` is within a point of always answering
// the larger class.
void WarnNearBaseline(const Report::Confusion& c, const std::string& what);

// "N rows (P labelled +1, M labelled -1[, O other]), F features".
std::string DescribeSet(const Data::Dataset& data);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_TEXTS_H_
