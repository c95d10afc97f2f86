#ifndef KORVA_PYTHON_CLASSIFIER_H_
#define KORVA_PYTHON_CLASSIFIER_H_

// One classifier object of a loaded module, as the Python package holds it.
//
// Every call into a module, and into the matrix library it shares with the
// host, goes through this file under one lock for the whole process: the
// matrix library keeps global state (its error text and its call trace), so
// two trainings at once, even of two objects, could corrupt each other. No
// function here touches a Python object, so the bindings call them with the
// interpreter's lock released.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korva/hostkit/error.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/training.h"
#include "korva/module_loader.h"

namespace Korva::Python {

// The module file a Python host loads when it is not told one: $KORVA_MODULE
// when set; the build tree's module when this extension runs from the build
// tree (its own file is the one the build wrote); else the host kit's choice,
// which for an installed package is the installed module beside the
// installed kit library.
std::string DefaultModulePath();

// A training that did not succeed: `error` as korva would report it, and the
// whole run (status or exception, messages).
struct TrainingFailure {
  HostKit::Error error;
  HostKit::TrainingRun run;
};

class Classifier {
 public:
  // A new object of the module at `modulePath`, with `settings` applied,
  // trained on X with one label (+1 / -1) per row and the feature names
  // `names` (may be empty). Throws TrainingFailure when training does not
  // succeed and HostKit::Error for anything else.
  static std::unique_ptr<Classifier> Train(
      const std::string& modulePath,
      const HostKit::MatrixView& X,
      const double* labels,
      const std::vector<std::string>& names,
      const HostKit::SettingsChange& settings);

  // A fresh object restored from the classifier document at `path`
  // (HostKit::LoadModel); its warnings are added to `warnings`.
  static std::unique_ptr<Classifier> Load(const std::string& modulePath,
                                          const std::string& path,
                                          std::vector<std::string>* warnings);

  // A fresh object restored from a document's text, as ExactDocument gives
  // it. Error(kModel) when the object does not take it.
  static std::unique_ptr<Classifier> Restore(const std::string& modulePath,
                                             const std::string& text);

  ~Classifier();
  Classifier(const Classifier&) = delete;
  Classifier& operator=(const Classifier&) = delete;

  // One score per row of X (X.cols must equal Features()).
  std::vector<double> Score(const HostKit::MatrixView& X);

  // The classifier document as korva writes it (weights with six digits),
  // with `intercept` as korva's own element when given.
  std::string Document(std::optional<double> intercept);
  // The same document with every selected weight written in full, so that
  // Restore gives an object that scores exactly as this one.
  std::string ExactDocument();
  // Saves the document at `path`, atomically (HostKit::SaveModel).
  void Save(const std::string& path, std::optional<double> intercept);

  // What the object holds, read once when it was made.
  const std::string& ModulePath() const { return modulePath_; }
  int Features() const { return static_cast<int>(selected_.size()); }
  const std::vector<bool>& Selected() const { return selected_; }
  // The weights the object scores with, in full precision (0 where not
  // selected).
  const std::vector<double>& Weights() const { return weights_; }
  // The bias W0: the score of a row of zeros.
  double Intercept() const { return intercept_; }
  const HostKit::StepwiseSettings& Settings() const { return settings_; }
  const std::vector<std::string>& FeatureNames() const { return names_; }
  const std::string& ShortInfo() const { return shortInfo_; }
  const std::string& TrainingInfo() const { return trainingInfo_; }
  // The intercept the document of a restored object carried, if any.
  const std::optional<double>& SavedIntercept() const { return saved_; }
  // The training that made the object (empty for a restored one).
  const std::optional<HostKit::TrainingRun>& Run() const { return run_; }

 private:
  Classifier(std::string modulePath,
             std::shared_ptr<Module> module,
             ClassifierHandle classifier,
             std::optional<HostKit::TrainingRun> run);

  std::string modulePath_;
  std::shared_ptr<Module> module_;
  ClassifierHandle classifier_;
  std::optional<HostKit::TrainingRun> run_;
  std::vector<bool> selected_;
  std::vector<double> weights_;
  double intercept_ = 0.0;
  std::optional<double> saved_;
  HostKit::StepwiseSettings settings_;
  std::vector<std::string> names_;
  std::string shortInfo_, trainingInfo_;
};

// The first value of X (rows x cols, row-major) that is NaN or infinite, as
// (row, column), or nothing.
std::optional<std::pair<long, long>> FirstNonFinite(const double* X,
                                                    long rows,
                                                    long cols);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_CLASSIFIER_H_
