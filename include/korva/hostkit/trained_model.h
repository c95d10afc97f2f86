#ifndef KORVA_HOSTKIT_TRAINED_MODEL_H_
#define KORVA_HOSTKIT_TRAINED_MODEL_H_

// What a trained stepwise classifier learned, read in one place. A host asks
// this type, never the classifier or its document, for the selection, the
// weights, the intercept, the settings, the steps of the training and the
// host's own content of the document; it scores rows and writes the document
// through it too.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/training.h"
#include "korva/module_loader.h"

namespace Korva::HostKit {

// How the scores of the training set fell into its two classes: the class
// means place a threshold between them (Range mode), and with the pooled
// variance and the class sizes they give the probability model of linear
// discriminant analysis.
struct ClassScores {
  double negativeMean = 0.0;    // m-, the mean score of the rows labelled -1
  double positiveMean = 0.0;    // m+, of the rows labelled +1
  double pooledVariance = 0.0;  // s^2, the within-class variance, n - 2 dof
  long long negatives = 0;      // n-
  long long positives = 0;      // n+
};

// The class scores of `scores` (one per row) against `labels` (+1 / -1; other
// labels are left out); nothing unless each class has a row and together
// they have three.
KORVA_HOSTKIT_API std::optional<ClassScores> ComputeClassScores(
    const std::vector<double>& scores, const double* labels);

// The log-likelihood ratio of a score under the class scores' two normal
// densities with the pooled variance s^2 (the probability model of
// TrainedModel::Probability without the class priors):
//   ln p(x | +1) - ln p(x | -1) = a x + b,
//   a = (m+ - m-) / s^2,  b = (m-^2 - m+^2) / (2 s^2).
struct ScoreLikelihood {
  double a = 0.0;
  double b = 0.0;
  double operator()(double score) const { return a * score + b; }
};

// The ratio of `c`; nothing when the pooled variance is not above 0 (every
// training score on its class mean).
KORVA_HOSTKIT_API std::optional<ScoreLikelihood> LikelihoodOfScores(
    const ClassScores& c);

// The host's own elements of a classifier document, kept beside the module's
// sections (which leave them out).
struct HostContent {
  // The trained bias W0: a restored classifier scores without it, so the
  // host adds it. Unset for a document written without it.
  std::optional<double> intercept;
  // The training set's class scores; unset for a document written without
  // them (decisions in Range mode and probabilities then need a new
  // training).
  std::optional<ClassScores> classScores;
  // The recipe that turns recordings into the model's features: the XML of
  // its element, "" when the model was trained on a feature table.
  std::string recipe;
  // The speller the model decodes for: the XML of its element, "" when the
  // model was not trained on a speller session.
  std::string speller;
};

// What a host tells its user about a model whose document carries no
// intercept.
constexpr const char* kMissingInterceptNote =
    "A restored classifier has no intercept: the saved model does not carry "
    "the bias W0, so every score is shifted by the same constant. The ranking "
    "of the scores and the AUC are unchanged.";

// The most bytes a classifier document may have: far more than one with
// kMaxFeatureCount features and long names takes.
constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 28;

// The bytes of the classifier document at `path`, read once (so a FIFO or
// process substitution serves too): Error(kModel) when it cannot be read, is
// a folder, or is larger than kMaxDocumentBytes.
KORVA_HOSTKIT_API std::string ReadModelFile(const std::string& path);

struct ModelDocument;

class KORVA_HOSTKIT_API TrainedModel {
 public:
  // The classifier that `run` (which succeeded) just trained on X with
  // `labels` (one per row). Its weights are read in full precision; its
  // intercept and the class scores of X are kept as host content.
  TrainedModel(ClassifierHandle classifier,
               TrainingRun run,
               const MatrixView& X,
               const double* labels);

  // A fresh object of `module` restored from the document at `path`.
  // Error(kModel), naming the file, the element and the position, when the
  // file cannot be read, is not a document of this classifier, or says
  // something the classifier would read differently from its text (a token
  // of a number list that is not a number, more values than features, a
  // setting or intercept that is not one finite number, a repeated element);
  // Error(kModule) when the module gives no object. A document with fewer
  // weights or flags than features loads (the missing ones are 0), with a
  // sentence saying so added to `warnings` when given.
  static TrainedModel Load(const Module& module,
                           const std::string& path,
                           std::vector<std::string>* warnings = nullptr);

  // The same from a document's text (as ReadModelFile gives it); `what`
  // names it in messages ("model m.xml").
  static TrainedModel Parse(const Module& module,
                            const std::string& text,
                            const std::string& what,
                            std::vector<std::string>* warnings = nullptr);

  int Features() const { return static_cast<int>(selected_.size()); }
  const std::vector<bool>& Selected() const { return selected_; }
  int SelectedCount() const;
  // The selected features in the order they last entered the model; those no
  // step names (a restored model has no steps) in index order after them.
  std::vector<int> EntryOrder() const;
  // The weights the classifier scores with, in full precision, one per
  // feature (0 where not selected).
  const std::vector<double>& Weights() const { return weights_; }
  // The weights as the document keeps them (six significant digits); equal
  // to Weights() for a restored model.
  const std::vector<double>& SavedWeights() const { return savedWeights_; }
  // The bias the scores include: the trained W0, or the document's
  // intercept; 0 when the document carries none (InterceptKnown() false).
  double Intercept() const { return host_.intercept.value_or(0.0); }
  bool InterceptKnown() const { return host_.intercept.has_value(); }
  const StepwiseSettings& Settings() const { return settings_; }
  // The changes of the selection that the training made; none for a
  // restored model.
  const std::vector<Step>& Steps() const { return steps_; }
  const std::optional<TrainingRun>& Run() const { return run_; }
  const std::vector<std::string>& FeatureNames() const { return names_; }
  // The classifier's one-line description, trailing blanks removed, and its
  // short and training reports as it writes them.
  std::string ShortInfo() const;
  const std::string& ShortInfoText() const { return shortInfo_; }
  const std::string& TrainingInfo() const { return trainingInfo_; }
  // True when some feature is selected, so the model can score.
  bool CanClassify() const;

  const HostContent& Host() const { return host_; }
  HostContent& Host() { return host_; }

  // One score per row of X (X.cols must equal Features()), the intercept
  // included.
  std::vector<double> Score(const MatrixView& X) const;

  // The decision rule. A row is called the target (+1) when its score is
  // above the cut, which the classifier's threshold T and mode set:
  //   Max (0):   cut = T, a score threshold (a fresh classifier: T = 0);
  //   Range (1): cut = m- + T (m+ - m-), between the training classes' mean
  //              scores: T = 0.5 midway, 0 at the -1 mean, 1 at the +1 mean.
  // Error(kModel) for Range mode without class scores.
  double Cut() const;
  bool Decide(double score) const { return score > Cut(); }
  // P(+1 | score) under two normal densities of the training scores with the
  // pooled variance and the class sizes as priors, a logistic function of
  // the score:
  //   P = 1 / (1 + exp(-(a s + b))),  a = (m+ - m-) / s^2,
  //   b = (m-^2 - m+^2) / (2 s^2) + ln(n+ / n-).
  // Error(kModel) without class scores.
  double Probability(double score) const;

  // The document as korva saves it: the module's sections (weights with six
  // significant digits) and the host content. Error(kModel) when the
  // classifier cannot write its sections.
  std::string Document() const;
  // The same with every weight in full precision, so that Parse gives a
  // model that scores exactly as this one.
  std::string ExactDocument() const;
  // Document() saved at `path`, atomically.
  void Save(const std::string& path) const;
  // The module's weight file saved at `path`, atomically (SaveWeights).
  void SaveWeights(const std::string& path) const;

  // The classifier itself, for what only it does (its dialog). Document()
  // and Save() write its state at the time of the call; the values read
  // above stay those of when the model was made.
  ClassifierBase& Classifier() const { return *classifier_; }

 private:
  static TrainedModel FromDocument(const Module& module,
                                   ModelDocument& document,
                                   const std::string& subject,
                                   std::vector<std::string>* warnings);
  TrainedModel(ClassifierHandle classifier,
               std::optional<TrainingRun> run,
               HostContent host,
               std::optional<std::vector<double>> weights,
               std::string subject);
  const ClassScores& NeedClassScores(const char* what) const;

  ClassifierHandle classifier_;
  std::optional<TrainingRun> run_;
  HostContent host_;
  std::vector<bool> selected_;
  std::vector<double> weights_, savedWeights_;
  double offset_ = 0.0;  // added to the classifier's scores
  StepwiseSettings settings_;
  std::vector<Step> steps_;
  std::vector<std::string> names_;
  std::string shortInfo_, trainingInfo_;
  std::string subject_;  // "model m.xml": names the model in messages
};

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_TRAINED_MODEL_H_
