#ifndef KORVA_PYTHON_CLASSIFIER_H_
#define KORVA_PYTHON_CLASSIFIER_H_

// One trained model of a loaded module, as the Python package holds it.
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
#include <variant>
#include <vector>

#include "korva/hostkit/error.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/trained_model.h"
#include "korva/hostkit/training.h"
#include "speller/decoding.h"

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

  // One model per subset and setting: the module's classifier with
  // settings[s] applied, trained on the rows subsets[k] of X (in that
  // order), as Train on those rows alone trains it; through the module's
  // shared trainings (HostKit::SharedRows) where it offers them.
  // result[k][s] is the model, or its training's failure. HostKit::Error
  // for anything else.
  using Trained = std::variant<std::unique_ptr<Classifier>, TrainingFailure>;
  static std::vector<std::vector<Trained>> TrainSubsets(
      const std::string& modulePath,
      const HostKit::MatrixView& X,
      const double* labels,
      const std::vector<std::string>& names,
      const std::vector<std::vector<int>>& subsets,
      const std::vector<HostKit::SettingsChange>& settings);

  // A model restored from the classifier document at `path`; its warnings
  // are added to `warnings`. Error(kModel) also when it cannot classify.
  static std::unique_ptr<Classifier> Load(const std::string& modulePath,
                                          const std::string& path,
                                          std::vector<std::string>* warnings);

  // A model restored from a document's text, as ExactDocument gives it.
  static std::unique_ptr<Classifier> Restore(const std::string& modulePath,
                                             const std::string& text);

  ~Classifier();
  Classifier(const Classifier&) = delete;
  Classifier& operator=(const Classifier&) = delete;

  // One score per row of X (X.cols must equal Model().Features()), the
  // intercept included.
  std::vector<double> Score(const HostKit::MatrixView& X);
  std::string Document();
  std::string ExactDocument();
  void Save(const std::string& path);

  // Keeps `xml`, a <Recipe> element, as the recipe that cuts recordings into
  // the model's features; the documents carry it from then on.
  void SetRecipe(const std::string& xml);
  // Keeps `xml`, a <Speller> element, as the speller the model decodes for.
  void SetSpeller(const std::string& xml);

  // Speller::Decode ranking through this model's classifier.
  Speller::Decoding Decode(const Speller::Session& session,
                           const std::vector<double>& scores,
                           const Speller::DecodeOptions& options);
  // The same through a fresh object of the module at `modulePath`, for
  // scores of no model of this package.
  static Speller::Decoding DecodeWith(const std::string& modulePath,
                                      const Speller::Session& session,
                                      const std::vector<double>& scores,
                                      const Speller::DecodeOptions& options);

  const std::string& ModulePath() const { return modulePath_; }
  // What the model learned; read-only, so no lock is needed.
  const HostKit::TrainedModel& Model() const { return *model_; }

 private:
  Classifier(std::string modulePath, HostKit::TrainedModel model);

  std::string modulePath_;
  std::optional<HostKit::TrainedModel> model_;  // released under the lock
};

// The first value of X (rows x cols, row-major) that is NaN or infinite, as
// (row, column), or nothing.
std::optional<std::pair<long, long>> FirstNonFinite(const double* X,
                                                    long rows,
                                                    long cols);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_CLASSIFIER_H_
