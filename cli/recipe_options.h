#ifndef KORVA_CLI_RECIPE_OPTIONS_H_
#define KORVA_CLI_RECIPE_OPTIONS_H_

// The options that say how recordings become epoch features (the recipe),
// and how recordings that cannot describe themselves are read; every
// command that reads recordings shares them.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "epoching/recipe.h"
#include "recording/recording.h"
#include "sources/bids.h"

namespace Korva::Cli {

// The recipe options as given on the command line; those not given hold the
// settings of the default recipe (epoching/recipe.h).
struct RecipeOptions {
  std::vector<std::string> targets, nonTargets, channels;
  std::string reference = Epoching::ReferenceText(Epoching::Recipe().reference);
  std::string band = Epoching::BandText(Epoching::Recipe());
  int filterOrder = Epoching::Recipe().filterOrder;
  std::string window = Epoching::WindowText(Epoching::Recipe());
  int bins = Epoching::Recipe().bins;
  std::string baseline = Epoching::BaselineText(Epoching::Recipe());
  std::string reject = Epoching::RejectText(Epoching::Recipe());
  std::string resample = Epoching::ResampleText(Epoching::Recipe());

  // The recipe they give. CliError(kExitUsage) naming the option for a value
  // that is malformed or out of range, or, when `eventListsRequired`, when
  // no target or non-target events are given.
  Epoching::Recipe Recipe(bool eventListsRequired = true) const;

  // The recipe options given on the command line, by name ("--band"); none
  // before AddRecipeOptions.
  std::vector<std::string> Given() const;

  CLI::App* command = nullptr;  // where AddRecipeOptions declared them
};

// --target-events, --nontarget-events, --channels, --reference, --band,
// --filter-order, --window, --bins, --baseline, --reject and --resample,
// each with the
// default recipe's setting and its limits in the help.
void AddRecipeOptions(CLI::App* command, RecipeOptions& options);

// --marker-column and --sampling-rate, for headset CSV recordings;
// --xdf-eeg and --xdf-markers, for XDF files.
void AddRecordingOptions(CLI::App* command, Recording::OpenOptions& options);

// --subject, --session, --task and --run, which choose the runs of EEG-BIDS
// folders.
void AddBidsOptions(CLI::App* command, Sources::BidsFilter& filter);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_RECIPE_OPTIONS_H_
