#include "cli/options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <sstream>

#include "cli/exit_status.h"
#include "korva/stepwise_settings.h"
#include "text/number_text.h"

namespace Korva::Cli {

std::string TwoDecimals(double p) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", p);
  return text;
}

void AddMatOptions(CLI::App* command, DataSource& source) {
  command->add_option(
      "--x",
      source.mat.x,
      "MATLAB file: variable with the features (epochs x features)");
  command->add_option("--y",
                      source.mat.y,
                      "MATLAB file: variable with the labels (one per epoch)");
  command->add_option("--names",
                      source.mat.names,
                      "MATLAB file: cell array with the feature names");
}

const CLI::Validator kWholeNumber(
    [](std::string& text) {
      std::uint64_t value = 0;
      const Text::NumberStatus status = Text::ParseWhole(text, value);
      if (status == Text::NumberStatus::kOutOfRange && text[0] != '-')
        return "must be at most 18446744073709551615 (" + text + ")";
      if (status != Text::NumberStatus::kOk)
        return "must be a whole number, 0 or more (" + text + ")";
      // Plain digits: the option would read a leading 0 as octal, and never
      // clamps to the largest value (two seeds would give the same folds).
      text = std::to_string(value);
      return std::string();
    },
    "NUMBER");

const char* const kGroupsHelp =
    "CSV column of group names (runs, sessions), which is not a feature "
    "(default: a column named run)";

void AddTableOptions(CLI::App* command,
                     DataSource& source,
                     const char* groupsHelp) {
  command->add_option("--target-label",
                      source.targetLabel,
                      "the label of the target class: rows with it are +1, "
                      "all others -1 (default: labels are +1 and -1)");
  command
      ->add_option("--drop",
                   source.drop,
                   "columns that are not features, left out: names, or #N "
                   "for the N-th column (comma-separated or repeated)")
      ->delimiter(',');
  command
      ->add_option_function<std::string>(
          "--delimiter",
          [&source](const std::string& text) {
            source.delimiter = text == "tab" ? '\t' : text[0];
          },
          "the CSV field separator: , ; | or tab (default: a comma, or "
          "semicolons or tabs when the header has no comma)")
      ->type_name("C")
      ->check(CLI::IsMember({",", ";", "|", "tab", "\t"}));
  if (groupsHelp) command->add_option("--groups", source.groups, groupsHelp);
}

void AddQuietOption(CLI::App* command, bool& quiet) {
  command->add_flag("--quiet",
                    quiet,
                    "print nothing on standard output but the outputs asked "
                    "for there (warnings and errors still go to standard "
                    "error)");
}

void AddModuleOption(CLI::App* command, std::string& module) {
  command->add_option("--module",
                      module,
                      "classifier module to load (default: $KORVA_MODULE, "
                      "else ZEZODOvo64.kvc beside korva)");
}

void ParameterOptions::Add(CLI::App* command, bool customary) {
  const std::string from = customary ? "default here " : "module default ";
  pEnterOption_ = command->add_option(
      "--p-enter",
      pEnter_,
      "a feature enters below this p-value (" + from +
          TwoDecimals(customary ? kCustomaryPEnter : kDefaultPEnter) + ")");
  pRemoveOption_ = command->add_option(
      "--p-remove",
      pRemove_,
      "a feature leaves above this p-value (" + from +
          TwoDecimals(customary ? kCustomaryPRemove : kDefaultPRemove) + ")");
  maxIterOption_ = command->add_option(
      "--max-iter",
      maxIter_,
      "most changes of the selection, 0 or more (module default " +
          std::to_string(kDefaultMaxIter) + ")");
}

HostKit::SettingsChange ParameterOptions::Get() const {
  HostKit::SettingsChange change;
  if (pEnterOption_->count()) change.pEnter = pEnter_;
  if (pRemoveOption_->count()) change.pRemove = pRemove_;
  if (maxIterOption_->count()) change.maxIter = maxIter_;
  return change;
}

namespace {

// "0.01,0.05,0.1": a list as the options take it.
template <typename T, size_t N>
std::string ListText(const T (&values)[N]) {
  std::string text;
  for (T value : values) {
    std::ostringstream number;
    number << value;
    text += (text.empty() ? "" : ",") + number.str();
  }
  return text;
}

template <typename T>
void RefuseList(const char* option, const std::vector<T>& values) {
  if (values.size() <= 1) return;
  std::ostringstream given;
  for (size_t i = 0; i < values.size(); ++i)
    given << (i ? "," : "") << values[i];
  throw CliError(kExitUsage,
                 std::string(option) + " takes one value here, and " +
                     given.str() +
                     " is a list: a grid of settings, which --tune (or korva "
                     "tune) chooses from by cross-validation");
}

}  // namespace

void GridOptions::Add(CLI::App* command, bool grid) {
  const std::string list = grid ? "" : "; with --tune a list, default ";
  const auto help = [&](const std::string& one,
                        const std::string& many,
                        const std::string& defaults) {
    return grid ? many + ", a list (default " + defaults + ")"
                : one + list + defaults;
  };
  command
      ->add_option("--p-enter",
                   pEnter_,
                   help("a feature enters below this p-value (module default " +
                            TwoDecimals(kDefaultPEnter) + ")",
                        "the p-values below which a feature enters",
                        ListText(kTuningPEnter)))
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name(grid ? "P,..." : "P");
  command
      ->add_option("--p-remove",
                   pRemove_,
                   help("a feature leaves above this p-value (module default " +
                            TwoDecimals(kDefaultPRemove) + ")",
                        "the p-values above which a feature leaves",
                        ListText(kTuningPRemove)))
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name(grid ? "P,..." : "P");
  command
      ->add_option("--max-iter",
                   maxIter_,
                   help("most changes of the selection, 0 or more (module "
                        "default " +
                            std::to_string(kDefaultMaxIter) + ")",
                        "the most changes of the selection, 0 or more",
                        ListText(kTuningMaxIter)))
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->type_name(grid ? "N,..." : "N");
}

bool GridOptions::AnyList() const {
  return pEnter_.size() > 1 || pRemove_.size() > 1 || maxIter_.size() > 1;
}

HostKit::SettingsChange GridOptions::Single() const {
  RefuseList("--p-enter", pEnter_);
  RefuseList("--p-remove", pRemove_);
  RefuseList("--max-iter", maxIter_);
  HostKit::SettingsChange change;
  if (!pEnter_.empty()) change.pEnter = pEnter_[0];
  if (!pRemove_.empty()) change.pRemove = pRemove_[0];
  if (!maxIter_.empty()) change.maxIter = maxIter_[0];
  return change;
}

std::vector<double> GridOptions::PEnter() const {
  return pEnter_.empty() ? std::vector<double>(std::begin(kTuningPEnter),
                                               std::end(kTuningPEnter))
                         : pEnter_;
}

std::vector<double> GridOptions::PRemove() const {
  return pRemove_.empty() ? std::vector<double>(std::begin(kTuningPRemove),
                                                std::end(kTuningPRemove))
                          : pRemove_;
}

std::vector<int> GridOptions::MaxIter() const {
  return maxIter_.empty() ? std::vector<int>(std::begin(kTuningMaxIter),
                                             std::end(kTuningMaxIter))
                          : maxIter_;
}

void DecisionOptions::Add(CLI::App* command) {
  CLI::Option* threshold = command->add_option_function<std::string>(
      "--threshold",
      [this](const std::string& text) {
        balanced_ = text == "balanced";
        if (!balanced_) threshold_ = Text::FiniteNumber(text);
      },
      "the decision threshold: in mode max a score cut (a score above it is "
      "the target; default 0); in mode range a fraction of the way from the "
      "training set's mean -1 score to its mean +1 score (0.5: midway); "
      "'balanced': the score cut best for balanced accuracy in a 5-fold "
      "cross-validation of the training set");
  threshold->type_name("T|balanced")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            if (text == "balanced" || Text::FiniteNumber(text)) return "";
            return "must be a finite number or 'balanced' (" + text + ")";
          },
          ""));
  command
      ->add_option_function<std::string>(
          "--threshold-mode",
          [this](const std::string& text) {
            mode_ = text == "range" || text == "1" ? ClassifierBase::RangeMode
                                                   : ClassifierBase::MaxMode;
          },
          "how the threshold is read: max (0, a score cut; the default) or "
          "range (1, between the training classes' mean scores), as the "
          "dialog's Threshold Mode")
      ->type_name("max|range")
      ->check(CLI::IsMember({"max", "range", "0", "1"}));
}

void DecisionOptions::AddTo(HostKit::SettingsChange& change) const {
  if (balanced_ && mode_ == ClassifierBase::RangeMode)
    throw CliError(kExitUsage,
                   "--threshold balanced chooses a score cut, which is "
                   "threshold mode max, not range");
  if (threshold_) change.threshold = threshold_;
  if (mode_) change.thresholdMode = mode_;
  if (balanced_) change.thresholdMode = ClassifierBase::MaxMode;
}

}  // namespace Korva::Cli
