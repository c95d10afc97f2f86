#include "cli/options.h"

#include <algorithm>
#include <cstdio>

#include "korva/stepwise_settings.h"

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
      if (text.empty() ||
          text.find_first_not_of("0123456789") != std::string::npos)
        return "must be a whole number, 0 or more (" + text + ")";
      // Read as decimal (a leading 0 would make it octal), and never clamped
      // to the largest value: two seeds would give the same folds.
      const size_t first =
          std::min(text.find_first_not_of('0'), text.size() - 1);
      text.erase(0, first);
      const std::string largest = "18446744073709551615";  // 2^64 - 1
      if (text.size() > largest.size() ||
          (text.size() == largest.size() && text > largest))
        return "must be at most " + largest + " (" + text + ")";
      return std::string();
    },
    "NUMBER");

void AddLabelOption(CLI::App* command, DataSource& source) {
  command->add_option("--target-label",
                      source.targetLabel,
                      "the label of the target class: rows with it are +1, "
                      "all others -1 (default: labels are +1 and -1)");
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

}  // namespace Korva::Cli
