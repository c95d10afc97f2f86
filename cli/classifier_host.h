#ifndef KORVA_CLI_CLASSIFIER_HOST_H_
#define KORVA_CLI_CLASSIFIER_HOST_H_

#include <iosfwd>
#include <list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/dataset.h"
#include "host/classifier_base.h"
#include "host/classifier_progress.h"
#include "host/module_loader.h"

namespace Korva::Cli {

// Exit status of korva, one per kind of failure.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,              // bad command line or parameter value
  kExitData = 3,               // input data missing, unreadable or invalid
  kExitModule = 4,             // module not loadable, entry point missing
  kExitModel = 5,              // model document unreadable or unusable
  kExitTrainingFailed = 6,     // training returned a non-zero result
  kExitTrainingException = 7,  // training raised an exception
  kExitOutput = 8,             // an output file could not be written
  kExitNoDisplay = 9,          // edit without a display
};

// A failure that ends the command with `code`; what() is the message.
class CliError : public std::runtime_error {
 public:
  CliError(int code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// ZEZODOvo64.kvc in the folder of the running executable.
std::string ModulePathBesideExecutable();

// `option` when not empty, else $KORVA_MODULE when set, else the module
// beside the executable.
std::string ChooseModulePath(const std::string& option);

// Loads the module; CliError(kExitModule) saying why it cannot be used.
std::shared_ptr<Module> OpenModule(const std::string& path);

// A new classifier object of `module`; CliError(kExitModule) when none.
ClassifierHandle NewClassifier(const Module& module);

// Training parameters given on the command line; unset ones stay as the
// classifier has them.
struct Parameters {
  std::optional<double> pEnter;
  std::optional<double> pRemove;
  std::optional<int> maxIter;
};

// The stepwise parameters a classifier holds.
struct Configuration {
  double pEnter = 0.0;
  double pRemove = 0.0;
  int maxIter = 0;
};

// The parameters from the classifier's configuration section (WriteCfg).
// CliError(kExitModule) when the section lacks them.
Configuration ReadConfiguration(ClassifierBase& classifier);

// Sets the given parameters through the configuration section: WriteCfg into
// a scratch node, the attributes "p_Enter", "p_Remove" and "MaxIter" changed,
// ReadCfg back (so the host's own attributes are kept). CliError(kExitUsage)
// for a p-value range that stepwise selection refuses, or a negative limit.
void ApplyParameters(ClassifierBase& classifier, const Parameters& parameters);

// A training message as a terminal should show it: carriage returns dropped,
// blank lines and leading and trailing line feeds removed.
std::string TerminalText(const std::string& message);

// Records every training message and, when `echo` is set, prints each one at
// once as TerminalText followed by a line end.
class RecordingProgress : public ClassifierProgress {
 public:
  explicit RecordingProgress(std::ostream* echo) : echo_(echo) {}
  void AddMessage(const std::string& message) override;
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  std::ostream* echo_;
  std::vector<std::string> messages_;
};

// What one training did.
struct TrainingRun {
  std::optional<int> result;  // DoTrain's status; unset after an exception
  std::string exception;      // what the exception said, when one came
  std::vector<std::string> progress;  // every AddMessage text, in order
  std::list<std::string> messages;    // the message list after training
  double seconds = 0.0;               // wall-clock time of the training call
  bool Succeeded() const { return result && *result == 0; }
};

// Trains `classifier` on `data` (labels required) through Train2 with a
// progress object (messages printed to `echo` when not null) and sets its
// FeatureNames. Exceptions from the matrix library and the standard library
// are caught and recorded. CliError(kExitData) when the set is too large for
// the matrix library.
TrainingRun TrainClassifier(ClassifierBase& classifier,
                            const Dataset& data,
                            std::ostream* echo);

// The message saying why a training that did not succeed failed.
std::string TrainingFailure(const TrainingRun& run);

// The JSON log of a training: {"result", "progress", "messages",
// "short_info", "training_info"}, texts exactly as the classifier gave them
// ("result" is null after an exception).
nlohmann::ordered_json TrainingLog(ClassifierBase& classifier,
                                   const TrainingRun& run);

// Serialises JSON; bytes that are not UTF-8 become U+FFFD.
std::string JsonText(const nlohmann::ordered_json& json);

// One score per row of `data` through GetScore; data.cols must equal the
// classifier's feature count.
std::vector<double> ScoreRows(ClassifierBase& classifier, const Dataset& data);

// The whole classifier document (Write) as XML text. CliError(kExitModel)
// when a section reports a non-zero status.
std::string DocumentText(ClassifierBase& classifier);

// A fresh object of `module` restored from the document at `path`.
// CliError(kExitModel) when the file cannot be read, is not XML or is not a
// document of this classifier.
ClassifierHandle LoadModel(const Module& module, const std::string& path);

// Saves the classifier document at `path`, atomically.
void SaveModel(ClassifierBase& classifier, const std::string& path);

// Saves the weight file (the classifier's SaveToFile) at `path`, atomically.
// OutputError when the classifier writes nothing.
void SaveWeights(ClassifierBase& classifier, const std::string& path);

// The feature selection and weights as the classifier saves them in its info
// section: "Count", "IN" and "Weights".
struct Selection {
  int features = 0;
  std::vector<bool> selected;   // one per feature
  std::vector<double> weights;  // one per feature, 0 when not selected
  int Count() const;            // number of selected features
};
Selection ReadSelection(ClassifierBase& classifier);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_CLASSIFIER_HOST_H_
