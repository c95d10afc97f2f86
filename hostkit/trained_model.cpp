#include "korva/hostkit/trained_model.h"

#include <algorithm>
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

TrainedModel::TrainedModel(ClassifierHandle classifier, TrainingRun run)
    : TrainedModel(std::move(classifier),
                   std::move(run),
                   HostContent{},
                   std::nullopt) {}

TrainedModel::TrainedModel(ClassifierHandle classifier,
                           std::optional<TrainingRun> run,
                           HostContent host,
                           std::optional<std::vector<double>> weights)
    : classifier_(std::move(classifier)),
      run_(std::move(run)),
      host_(std::move(host)) {
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
                      std::move(document.weights));
}

}  // namespace Korva::HostKit
