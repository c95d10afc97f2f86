#include "korva/hostkit/trained_model.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "hostkit/exact_weights.h"
#include "hostkit/model_document.h"
#include "hostkit/selection.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/weight_file.h"

namespace Korva::HostKit {
namespace {

Error ModelError(const std::string& message) {
  return Error(ErrorKind::kModel, message);
}

}  // namespace

std::optional<ClassScores> ComputeClassScores(const std::vector<double>& scores,
                                              const double* labels) {
  ClassScores c;
  double sum[2] = {0.0, 0.0};
  for (size_t i = 0; i < scores.size(); ++i) {
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    sum[labels[i] == 1.0] += scores[i];
    ++(labels[i] == 1.0 ? c.positives : c.negatives);
  }
  if (c.negatives == 0 || c.positives == 0 || c.negatives + c.positives < 3)
    return std::nullopt;
  c.negativeMean = sum[0] / static_cast<double>(c.negatives);
  c.positiveMean = sum[1] / static_cast<double>(c.positives);
  double squares = 0.0;
  for (size_t i = 0; i < scores.size(); ++i) {
    if (labels[i] != 1.0 && labels[i] != -1.0) continue;
    const double d =
        scores[i] - (labels[i] == 1.0 ? c.positiveMean : c.negativeMean);
    squares += d * d;
  }
  c.pooledVariance =
      squares / static_cast<double>(c.negatives + c.positives - 2);
  return c;
}

std::optional<ScoreLikelihood> LikelihoodOfScores(const ClassScores& c) {
  if (!(c.pooledVariance > 0.0)) return std::nullopt;
  return ScoreLikelihood{
      (c.positiveMean - c.negativeMean) / c.pooledVariance,
      (c.negativeMean * c.negativeMean - c.positiveMean * c.positiveMean) /
          (2.0 * c.pooledVariance)};
}

TrainedModel::TrainedModel(ClassifierHandle classifier,
                           TrainingRun run,
                           const MatrixView& X,
                           const double* labels)
    : TrainedModel(std::move(classifier),
                   std::move(run),
                   HostContent{},
                   std::nullopt,
                   "the trained classifier") {
  host_.classScores = ComputeClassScores(Score(X), labels);
}

TrainedModel::TrainedModel(ClassifierHandle classifier,
                           std::optional<TrainingRun> run,
                           HostContent host,
                           std::optional<std::vector<double>> weights,
                           std::string subject)
    : classifier_(std::move(classifier)),
      run_(std::move(run)),
      host_(std::move(host)),
      subject_(std::move(subject)) {
  const Selection selection = ReadSelection(*classifier_);
  selected_ = selection.selected;
  savedWeights_ = selection.weights;
  const double bias = ScoreOfZeros(*classifier_, selection.features);
  if (weights) {
    // Restored: the classifier holds what the document's text says.
    weights_ = std::move(*weights);
    savedWeights_ = weights_;
    if (host_.intercept) offset_ = *host_.intercept - bias;
  } else {
    weights_ = ExactWeights(*classifier_, selected_, savedWeights_);
    host_.intercept = bias;
  }
  settings_ = ReadSettings(*classifier_);
  if (run_) steps_ = TrainingSteps(*run_, settings_.maxIter);
  names_ = classifier_->FeatureNames;
  std::ostringstream shortInfo, trainingInfo;
  classifier_->GetShortInfo(shortInfo);
  classifier_->GetTrainingInfo(trainingInfo);
  shortInfo_ = shortInfo.str();
  trainingInfo_ = trainingInfo.str();
}

TrainedModel TrainedModel::Load(const Module& module,
                                const std::string& path,
                                std::vector<std::string>* warnings) {
  return Parse(module, ReadModelFile(path), "model " + path, warnings);
}

TrainedModel TrainedModel::Parse(const Module& module,
                                 const std::string& text,
                                 const std::string& what,
                                 std::vector<std::string>* warnings) {
  ModelDocument document;
  ParseDocumentText(text, what, document.xml);
  return FromDocument(module, document, what, warnings);
}

int TrainedModel::SelectedCount() const {
  return static_cast<int>(std::count(selected_.begin(), selected_.end(), true));
}

std::vector<int> TrainedModel::EntryOrder() const {
  std::vector<int> order;
  for (const Step& step : steps_) {
    order.erase(std::remove(order.begin(), order.end(), step.feature),
                order.end());
    if (step.added) order.push_back(step.feature);
  }
  order.erase(std::remove_if(order.begin(),
                             order.end(),
                             [this](int i) {
                               return i < 0 || i >= Features() || !selected_[i];
                             }),
              order.end());
  for (int i = 0; i < Features(); ++i)
    if (selected_[i] && std::find(order.begin(), order.end(), i) == order.end())
      order.push_back(i);
  return order;
}

std::string TrainedModel::ShortInfo() const {
  return HostKit::ShortInfo(*classifier_);
}

bool TrainedModel::CanClassify() const { return classifier_->CanClassify(); }

std::vector<double> TrainedModel::Score(const MatrixView& X) const {
  return ScoreRows(*classifier_, X, offset_);
}

const ClassScores& TrainedModel::NeedClassScores(const char* what) const {
  if (host_.classScores) return *host_.classScores;
  if (run_)
    throw ModelError(subject_ + " " + what +
                     " but its training rows did not hold both classes");
  throw ModelError(subject_ + " " + what + " but does not carry them (no " +
                   kClassScoresElement +
                   " element: it was saved by a host that did not keep "
                   "them); train it again");
}

double TrainedModel::Cut() const {
  if (settings_.thresholdMode == ClassifierBase::MaxMode)
    return settings_.threshold;
  const ClassScores& c = NeedClassScores(
      "decides in Range mode, between the training classes' mean scores,");
  return c.negativeMean +
         settings_.threshold * (c.positiveMean - c.negativeMean);
}

double TrainedModel::Probability(double score) const {
  const ClassScores& c =
      NeedClassScores("gives probabilities from the training classes' scores");
  const double prior = std::log(static_cast<double>(c.positives) /
                                static_cast<double>(c.negatives));
  if (!(c.pooledVariance > 0.0)) {
    // Every training score sat on its class mean: a step at the midpoint.
    const double mid = 0.5 * (c.negativeMean + c.positiveMean);
    if (score == mid) return 1.0 / (1.0 + std::exp(-prior));
    return (score > mid) == (c.positiveMean > c.negativeMean) ? 1.0 : 0.0;
  }
  const ScoreLikelihood l = *LikelihoodOfScores(c);
  return 1.0 / (1.0 + std::exp(-(l.a * score + (l.b + prior))));
}

std::string TrainedModel::Document() const {
  return DocumentText(*classifier_, host_, nullptr);
}

std::string TrainedModel::ExactDocument() const {
  return DocumentText(*classifier_, host_, &weights_);
}

void TrainedModel::Save(const std::string& path) const {
  WriteTextAtomically(path, Document());
}

void TrainedModel::SaveWeights(const std::string& path) const {
  HostKit::SaveWeights(*classifier_, path);
}

TrainedModel TrainedModel::FromDocument(const Module& module,
                                        ModelDocument& document,
                                        const std::string& subject,
                                        std::vector<std::string>* warnings) {
  CheckDocument(document, subject, warnings);
  ClassifierHandle classifier = NewClassifier(module);
  const int status = classifier->Read(document.xml);
  if (status == kStatusWrongDocument)
    throw ModelError(subject + " is not a document of the " +
                     classifier->GetName() + " classifier (no " +
                     kDocumentRoot + " element named " + classifier->GetName() +
                     ")");
  if (status == kStatusMissingSection)
    throw ModelError(subject + " lacks a section (" + kClassifierSection +
                     ", " + kConfigurationSection + ", " + kInfoSection +
                     " or " + kProtocolSection + ")");
  if (status != kStatusOk)
    throw ModelError(subject + " could not be restored (status " +
                     std::to_string(status) + ")");
  return TrainedModel(std::move(classifier),
                      std::nullopt,
                      std::move(document.host),
                      std::move(document.weights),
                      subject);
}

}  // namespace Korva::HostKit
