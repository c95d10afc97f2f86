#include "korva/classifier_base.h"

#include "korva/text.h"

#include <cmath>
#include <cstddef>

namespace Korva {
namespace {

// Orders scores for a stable sort with NaN after every number, so the
// comparison stays a strict weak ordering whatever the scores hold.
bool ScoreLess(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

const char* ThresholdModeName(ClassifierBase::ThresholdMode mode) {
  return mode == ClassifierBase::RangeMode ? "Range" : "Max";
}

}  // namespace

ClassifierBase::ClassifierBase(const char* name, const char* description)
    : Name(name ? name : ""), Description(description ? description : "") {}

ClassifierBase::~ClassifierBase() = default;

void ClassifierBase::GetShortInfo(std::ostringstream& os) const {
  os << Name << ": ";
}

void ClassifierBase::GetInfo(std::ostringstream& os) const {
  os << Name << '\n' << Description << '\n' << Credits << '\n';
}

int ClassifierBase::LoadFromFile(const char* fileName) {
  if (fileName == nullptr) return kStatusMissing;
  pugi::xml_document document;
  if (!document.load_file(fileName)) return kStatusFileError;
  return Read(document);
}

int ClassifierBase::SaveToFile(const char* /*fileName*/) {
  return kStatusMissing;
}

bool ClassifierBase::CanTrain() const { return true; }

bool ClassifierBase::CanEdit() const { return true; }

bool ClassifierBase::EditConfiguration() { return false; }

const std::string& ClassifierBase::GetCredits() const { return Credits; }

int ClassifierBase::Train(EasyMat<float>& data,
                          std::vector<int>& labels,
                          ClassifierProgress* progress,
                          std::list<std::string>& messages) {
  if (labels.size() != data.Rows()) return kStatusRejected;
  const int rows = static_cast<int>(data.Rows());
  const int cols = static_cast<int>(data.Cols());
  NEWMAT::Matrix X(rows, cols);
  NEWMAT::ColumnVector y(rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) X.element(r, c) = data(r, c);
    y.element(r) = labels[r];
  }
  return DoTrain(X, y, progress, messages);
}

int ClassifierBase::Train2(NEWMAT::Matrix& data,
                           NEWMAT::ColumnVector& labels,
                           ClassifierProgress* progress,
                           std::list<std::string>& messages) {
  return DoTrain(data, labels, progress, messages);
}

void ClassifierBase::GetTrainingInfo(std::ostringstream& os) const {
  os << "Classifier: " << Name << " (" << Description << ")\n";
  os << "Threshold: " << Threshold << " (" << ThresholdModeName(Mode) << ")\n";
}

int ClassifierBase::GetBest() const { return 1; }

void ClassifierBase::ReservedHook() {}

bool ClassifierBase::DoEdit() { return CanEdit() && EditConfiguration(); }

int ClassifierBase::SortScoresAscending(ScoreList& scores) {
  scores.sort([](const auto& a, const auto& b) {
    return ScoreLess(a.second, b.second);
  });
  return kStatusOk;
}

int ClassifierBase::SortScoresDescending(ScoreList& scores) {
  scores.sort([](const auto& a, const auto& b) {
    if (std::isnan(a.second) || std::isnan(b.second))
      return ScoreLess(a.second, b.second);
    return b.second < a.second;
  });
  return kStatusOk;
}

int ClassifierBase::Write(pugi::xml_node& parent) {
  pugi::xml_node root = parent.append_child(kDocumentRoot);
  root.append_attribute("Name").set_value(Name.c_str());
  using Writer = int (ClassifierBase::*)(pugi::xml_node&);
  const std::pair<const char*, Writer> sections[] = {
      {kClassifierSection, &ClassifierBase::WriteClassifier},
      {kConfigurationSection, &ClassifierBase::WriteCfg},
      {kInfoSection, &ClassifierBase::WriteInfo},
      {kProtocolSection, &ClassifierBase::WriteProtocol},
  };
  for (const auto& [element, write] : sections) {
    pugi::xml_node node = root.append_child(element);
    if (int status = (this->*write)(node); status != kStatusOk) return status;
  }
  return WriteMore(root);
}

int ClassifierBase::Read(const pugi::xml_node& parent) {
  const pugi::xml_node root = parent.child(kDocumentRoot);
  if (!root || Name != root.attribute("Name").as_string())
    return kStatusWrongDocument;
  using Reader = int (ClassifierBase::*)(const pugi::xml_node&);
  const std::pair<const char*, Reader> sections[] = {
      {kClassifierSection, &ClassifierBase::ReadClassifier},
      {kConfigurationSection, &ClassifierBase::ReadCfg},
      {kInfoSection, &ClassifierBase::ReadInfo},
      {kProtocolSection, &ClassifierBase::ReadProtocol},
  };
  for (const auto& [element, read] : sections) {
    const pugi::xml_node node = root.child(element);
    if (!node) return kStatusMissingSection;
    if (int status = (this->*read)(node); status != kStatusOk) return status;
  }
  return ReadMore(root);
}

int ClassifierBase::WriteClassifier(pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  node.append_attribute("Description").set_value(Description.c_str());
  return kStatusOk;
}

int ClassifierBase::ReadClassifier(const pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  return kStatusOk;
}

int ClassifierBase::WriteCfg(pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  node.append_attribute(kThresholdAttribute).set_value(Threshold);
  node.append_attribute(kThresholdModeAttribute)
      .set_value(static_cast<int>(Mode));
  return kStatusOk;
}

int ClassifierBase::ReadCfg(const pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  Threshold = node.attribute(kThresholdAttribute).as_double(0.0);
  // Only the two known modes are accepted; anything else reads as Max.
  const int mode = node.attribute(kThresholdModeAttribute).as_int(MaxMode);
  Mode = mode == RangeMode ? RangeMode : MaxMode;
  return kStatusOk;
}

int ClassifierBase::WriteInfo(pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  pugi::xml_node names = node.append_child("FeatureNames");
  for (const std::string& name : FeatureNames)
    names.append_child("Name").text().set(CleanText(name).c_str());
  return kStatusOk;
}

int ClassifierBase::ReadInfo(const pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  FeatureNames.clear();
  for (const pugi::xml_node name : node.child("FeatureNames").children("Name"))
    FeatureNames.emplace_back(name.text().get());
  return kStatusOk;
}

int ClassifierBase::WriteProtocol(pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  return kStatusOk;
}

int ClassifierBase::ReadProtocol(const pugi::xml_node& node) {
  if (!node) return kStatusMissingSection;
  return kStatusOk;
}

int ClassifierBase::WriteMore(pugi::xml_node& /*root*/) { return kStatusOk; }

int ClassifierBase::ReadMore(const pugi::xml_node& /*root*/) {
  return kStatusOk;
}

}  // namespace Korva
