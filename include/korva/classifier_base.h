#ifndef KORVA_CLASSIFIER_BASE_H_
#define KORVA_CLASSIFIER_BASE_H_

#include <newmat/newmat.h>

#include <list>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "korva/classifier_progress.h"
#include "korva/easy_mat.h"
#include "korva/export.h"
#include "korva/status.h"

namespace Korva {

// A list of (class name, score) pairs, as the host ranks them.
using ScoreList = std::list<std::pair<std::string, double>>;

// Element names of a whole classifier document (see docs/file-formats.md).
constexpr const char* kDocumentRoot = "KorvaClassifier";
constexpr const char* kClassifierSection = "Classifier";
constexpr const char* kConfigurationSection = "Configuration";
constexpr const char* kInfoSection = "Info";
constexpr const char* kProtocolSection = "Protocol";
// The host's attributes of the configuration section.
constexpr const char* kThresholdAttribute = "Threshold";
constexpr const char* kThresholdModeAttribute = "ThresholdMode";

// The abstract classifier of the host. Modules derive from it and the host
// drives every classifier through these virtual operations. Their order is the
// module interface: modules compiled against this header call through the
// table, so never reorder, insert or remove a virtual member.
class KORVA_HOST_API ClassifierBase {
 public:
  // How the host turns a score into a decision; the dialog shows 0 as "Max"
  // and 1 as "Range".
  enum ThresholdMode { MaxMode = 0, RangeMode = 1 };

  // name: short name ("DOZOD"); description: full name. Both are copied.
  ClassifierBase(const char* name, const char* description);
  ClassifierBase(const ClassifierBase&) = delete;
  ClassifierBase& operator=(const ClassifierBase&) = delete;

  virtual ~ClassifierBase();
  // Appends a one-line summary: the classifier's name and a separator.
  virtual void GetShortInfo(std::ostringstream& os) const;
  // Appends name, description and credits, one per line.
  virtual void GetInfo(std::ostringstream& os) const;
  // Restores the classifier from a document written by Write; 0 or a status.
  virtual int LoadFromFile(const char* fileName);
  // Exports the trained classifier to a file; the host itself writes nothing.
  virtual int SaveToFile(const char* fileName);
  virtual bool CanClassify() const = 0;
  // True: Train/Train2 may be called.
  virtual bool CanTrain() const;
  // True: EditConfiguration shows something.
  virtual bool CanEdit() const;
  // Shows the configuration dialog; true when the user accepted it.
  virtual bool EditConfiguration();
  virtual const std::string& GetCredits() const;
  // Converts the host's float matrix and integer labels (one per row) and
  // calls DoTrain; kStatusRejected when the label count differs from the rows.
  virtual int Train(EasyMat<float>& data,
                    std::vector<int>& labels,
                    ClassifierProgress* progress,
                    std::list<std::string>& messages);
  // Calls DoTrain with the arguments unchanged.
  virtual int Train2(NEWMAT::Matrix& data,
                     NEWMAT::ColumnVector& labels,
                     ClassifierProgress* progress,
                     std::list<std::string>& messages);
  // Appends the host's lines about the classifier: name and threshold.
  virtual void GetTrainingInfo(std::ostringstream& os) const;
  // The label of the class that a high score stands for (+1).
  virtual int GetBest() const;
  virtual double GetScore(const NEWMAT::RowVector& x) = 0;
  virtual int SortScoresFirstBest(ScoreList& scores) = 0;
  virtual void ReservedHook();
  // Calls EditConfiguration when CanEdit answers true.
  virtual bool DoEdit();
  // Stable in-place sorts by score; NaN scores go last in both.
  virtual int SortScoresAscending(ScoreList& scores);
  virtual int SortScoresDescending(ScoreList& scores);
  // Appends one root element holding every section to `parent` (a document
  // or element). Returns 0 or the first non-zero section status.
  virtual int Write(pugi::xml_node& parent);
  // Reads the root element written by Write from `parent`: 0, a section's
  // status, kStatusWrongDocument or kStatusMissingSection.
  virtual int Read(const pugi::xml_node& parent);
  // Section operations: the host's own attributes of each section. Status 0,
  // or kStatusMissingSection for a null node (nothing to write into or read).
  virtual int WriteClassifier(pugi::xml_node& node);
  virtual int ReadClassifier(const pugi::xml_node& node);
  virtual int WriteCfg(pugi::xml_node& node);
  virtual int ReadCfg(const pugi::xml_node& node);
  virtual int WriteInfo(pugi::xml_node& node);
  virtual int ReadInfo(const pugi::xml_node& node);
  virtual int WriteProtocol(pugi::xml_node& node);
  virtual int ReadProtocol(const pugi::xml_node& node);
  // Extra content after the sections (the root element is passed); none here.
  virtual int WriteMore(pugi::xml_node& root);
  virtual int ReadMore(const pugi::xml_node& root);
  // Trains on data (one row per example) and labels (one per row).
  virtual int DoTrain(NEWMAT::Matrix& data,
                      NEWMAT::ColumnVector& labels,
                      ClassifierProgress* progress,
                      std::list<std::string>& messages) = 0;

  const std::string& GetName() const { return Name; }
  const std::string& GetDescription() const { return Description; }
  double GetThreshold() const { return Threshold; }
  void SetThreshold(double threshold) { Threshold = threshold; }
  ThresholdMode GetThresholdMode() const { return Mode; }
  void SetThresholdMode(ThresholdMode mode) { Mode = mode; }

  // One display name per feature column; may be shorter, names may be empty.
  std::vector<std::string> FeatureNames;

 protected:
  std::string Credits;

 private:
  std::string Name;
  std::string Description;
  double Threshold = 0.0;
  ThresholdMode Mode = MaxMode;
};

}  // namespace Korva

#endif  // KORVA_CLASSIFIER_BASE_H_
