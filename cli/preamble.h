#ifndef KORVA_CLI_PREAMBLE_H_
#define KORVA_CLI_PREAMBLE_H_

// The preamble of the commands that train folds, evaluate and tune, written
// once: the memory limit, the options and files checked, the input digests,
// the data loaded and checked, the module opened and the settings checked,
// the fold plan, and the memory of the trainings that run at once.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/data_input.h"
#include "cli/files.h"
#include "cli/cross_validation_options.h"
#include "epoching/recipe.h"
#include "korva/hostkit/settings.h"
#include "korva/module_loader.h"
#include "speller/paradigm.h"
#include "speller/session.h"

namespace Korva::Cli {

// What a command brings to the preamble.
struct PreambleRequest {
  const DataSource* data = nullptr;
  const FoldOptions* folds = nullptr;  // --folds, --seed, --blocks
  std::string memoryLimit;
  std::string module;  // --module
  bool quiet = false;
  std::vector<CommandFile> files;  // every input and output of the command
  bool digests = false;  // a report or summary names the inputs' SHA-256
  // The command's own option checks, before the files are checked.
  std::function<void()> checkOptions;
  // After the files: the settings a throwaway classifier takes, so that a
  // setting the module refuses ends the command before any work.
  std::function<HostKit::SettingsChange()> settings;
  // The plan when it is not the cross-validation of DATA (evaluate --test):
  // of the data, the recipe that cut it, with its messages on the stream;
  // the files its recordings read go into the command's files.
  std::function<Validation::Plan(const Dataset&,
                                 const std::optional<Epoching::Recipe>&,
                                 std::ostream*,
                                 std::vector<CommandFile>&)>
      plan;
  // The line said before the folds train, of the throwaway classifier.
  std::function<std::string(ClassifierBase&)> heading;
  // How many trainings of the plan run at the same time.
  std::function<int(const Validation::Plan&)> atOnce;
  // How many settings a fold's training process trains together (a grid's),
  // for the memory of the module's shared trainings; null for one.
  std::function<int()> foldSettings;
};

// What the preamble leaves. Never copied or moved: the folds of `plan`
// refer to `data`.
struct Preamble {
  Preamble() = default;
  Preamble(const Preamble&) = delete;
  Preamble& operator=(const Preamble&) = delete;

  std::ostream* out = nullptr;  // the command's messages (MessageStream)
  // The request's files and those its recordings read (AddRecordingFiles).
  std::vector<CommandFile> files;
  Dataset data;
  std::optional<Epoching::Recipe> recipe;  // when DATA is recordings
  // When DATA is a speller session: its paradigm and selections, the data
  // grouped for folds of whole runs or selections (GroupForSelections).
  std::optional<Speller::Paradigm> paradigm;
  std::optional<Speller::Session> speller;
  std::string modulePath;
  std::shared_ptr<Module> module;
  ClassifierHandle shown;  // the throwaway classifier, with the settings
  Validation::Plan plan;
};

// Runs the preamble of `request` into `p`, in this order: ApplyMemoryLimit,
// checkOptions, CheckCommandFiles, settings, the input digests, the message
// stream, LoadData and CheckTrainingSet, the module opened and a classifier
// given the settings, the plan (for a cross-validation DATA's size and the
// scheme said), the heading said, HostKit::CheckTrainingMemory for atOnce
// trainings of the plan's largest training set (shared trainings of
// foldSettings settings when the module offers them). Errors: each step's
// own.
void RunPreamble(const PreambleRequest& request, Preamble& p);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_PREAMBLE_H_
