#ifndef KORVA_CLI_OPTIONS_H_
#define KORVA_CLI_OPTIONS_H_

// Options that several korva commands share.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/data_input.h"
#include "korva/hostkit/settings.h"

namespace Korva::Cli {

// --x, --y and --names, the variables of a MATLAB data file.
void AddMatOptions(CLI::App* command, DataSource& source);

// Accepts whole numbers from 0 to 2^64 - 1 (a seed) by the rules of
// text/number_text.h and writes them back as plain decimal digits; add it
// with transform(), so that the option reads the number in decimal.
extern const CLI::Validator kWholeNumber;

// The options of a command that reads a table: --target-label (the label
// of the target class), --drop (columns left out), --delimiter and, unless
// `groupsHelp` is null, --groups with that help.
void AddTableOptions(CLI::App* command,
                     DataSource& source,
                     const char* groupsHelp);

// The help of --groups where the groups only stay out of the features.
extern const char* const kGroupsHelp;

// --quiet: nothing on standard output but the outputs asked for there.
void AddQuietOption(CLI::App* command, bool& quiet);

// --module, the classifier module to load.
void AddModuleOption(CLI::App* command, std::string& module);

// A p-value as help texts show a default: "0.05".
std::string TwoDecimals(double p);

// --p-enter, --p-remove and --max-iter; Get() holds only those given.
class ParameterOptions {
 public:
  // `customary`: the help names the settings customary for P300 data as the
  // defaults instead of the module's.
  void Add(CLI::App* command, bool customary);
  HostKit::SettingsChange Get() const;

 private:
  double pEnter_ = 0.0, pRemove_ = 0.0;
  int maxIter_ = 0;
  CLI::Option* pEnterOption_ = nullptr;
  CLI::Option* pRemoveOption_ = nullptr;
  CLI::Option* maxIterOption_ = nullptr;
};

// --p-enter, --p-remove and --max-iter as lists (0.01,0.05,0.1 or the
// option repeated): a grid of settings for tune and evaluate --tune.
class GridOptions {
 public:
  // `grid`: the options are always lists (tune); otherwise one value each
  // unless --tune is given (evaluate).
  void Add(CLI::App* command, bool grid);
  // Each option given more than one value.
  bool AnyList() const;
  // The one setting given (those not given keep the module's values);
  // CliError(kExitUsage) when an option holds a list.
  HostKit::SettingsChange Single() const;
  // The lists given, the default grid's for those not given
  // (kTuningPEnter, ...).
  std::vector<double> PEnter() const;
  std::vector<double> PRemove() const;
  std::vector<int> MaxIter() const;

 private:
  std::vector<double> pEnter_, pRemove_;
  std::vector<int> maxIter_;
};

// --threshold and --threshold-mode: how scores become decisions (see
// HostKit::TrainedModel::Cut). "--threshold balanced" asks for the score cut
// that an inner cross-validation finds best for balanced accuracy.
class DecisionOptions {
 public:
  void Add(CLI::App* command);
  // Adds the threshold and mode given to `change` (the mode Max for
  // "balanced", whose cut is chosen later).
  void AddTo(HostKit::SettingsChange& change) const;
  bool Balanced() const { return balanced_; }

 private:
  std::optional<double> threshold_;
  std::optional<ClassifierBase::ThresholdMode> mode_;
  bool balanced_ = false;
};

}  // namespace Korva::Cli

#endif  // KORVA_CLI_OPTIONS_H_
