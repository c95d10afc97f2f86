#ifndef KORVA_PLUGIN_DOZOD_H_
#define KORVA_PLUGIN_DOZOD_H_

#include <newmat/newmat.h>

#include <list>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "korva/export.h"
#include "korva/stepwise_settings.h"
#include "plugin/feature_flags.h"
#include "weighted/weighted_classifier.h"

namespace Korva {
class TrainingCourse;
}  // namespace Korva

// Stepwise linear discriminant analysis for two classes (+1.0 / -1.0).
// Training selects features by stepwise least-squares regression of the label
// on the features; the coefficients of the selected features become the
// weights and the regression intercept the bias W0.
class KORVA_MODULE_API DOZOD : public Korva::WeightedClassifier {
 public:
  // ---- Object, settings and selection state: plugin/dozod.cpp ----
  DOZOD();
  ~DOZOD() override;
  // True when some feature is selected; Weights is not looked at.
  bool CanClassify() const override;
  void ReservedHook() override;
  // Stores both when 0 < pEnter < pRemove <= 1 and returns 0; otherwise
  // returns kStatusRejected (-10) and changes nothing.
  int SetPRange(double pEnter, double pRemove);
  // Stores the iteration limit as given; returns 0.
  int SetMaxIter(int maxIter);
  double GetPEnter() const { return p_Enter; }
  double GetPRemove() const { return p_Remove; }
  int GetMaxIter() const { return MaxIter; }
  FeatureFlags& GetSelectedFeatures() { return SelectedFeatures; }
  const NEWMAT::Matrix& GetPositiveRows() const { return PositiveRows; }
  const NEWMAT::Matrix& GetNegativeRows() const { return NegativeRows; }

  // ---- Reports: plugin/dozod_reports.cpp ----
  // Appends "P(p_Enter, p_Remove) | Max Iter. : MaxIter | ".
  void GetShortInfo(std::ostringstream& os) const override;
  // Appends the number of selected features and their weights.
  void GetTrainingInfo(std::ostringstream& os) const override;

  // ---- Training: stepwise/stepwise_driver.cpp ----
  // Stepwise training on X (one row per example) and labels (one per row).
  // 0 on success; the regression step's failure code when it fails.
  int DoTrain(NEWMAT::Matrix& X,
              NEWMAT::ColumnVector& labels,
              ClassifierProgress* progress,
              std::list<std::string>& messages) override;
  // nextstep = the candidate with the smallest p-value below p_Enter, else the
  // model feature with the largest p-value above p_Remove, else -1.
  void FindNextStep(const FeatureFlags& in,
                    const NEWMAT::ColumnVector& P,
                    int& nextstep) const;

  // ---- The regression step: stepwise/step_calc.cpp ----
  // One regression step: fits y on an intercept plus the features flagged in
  // `in` (p = in.Count() flags; X has n rows and at least p columns). Writes
  // B[i] and P[i] for every feature (coefficient and two-sided p-value: joint
  // fit for model features, single-addition fit for the others; both sized p
  // by the caller) and the intercept into W0. Returns 0, or kStatusRejected
  // with nothing written when fewer than 2 error degrees of freedom remain.
  int StepCalc(const NEWMAT::Matrix& X,
               const NEWMAT::ColumnVector& y,
               const FeatureFlags& in,
               NEWMAT::ColumnVector& B,
               NEWMAT::ColumnVector& P);

  // ---- XML sections: persist/dozod_sections.cpp ----
  // The base's part first; its non-zero status is passed back unchanged. See
  // docs/file-formats.md for the layout.
  int WriteClassifier(pugi::xml_node& node) override;
  int ReadClassifier(const pugi::xml_node& node) override;
  int WriteCfg(pugi::xml_node& node) override;
  int ReadCfg(const pugi::xml_node& node) override;
  int WriteInfo(pugi::xml_node& node) override;
  int ReadInfo(const pugi::xml_node& node) override;
  int WriteProtocol(pugi::xml_node& node) override;
  int ReadProtocol(const pugi::xml_node& node) override;

  // ---- Configuration dialog: ui/edit_configuration.cpp ----
  // Shows the configuration dialog modally; true when closed with OK. False,
  // showing nothing, when the process has no GUI application or the module
  // was built without the dialog (ui/no_dialog.cpp).
  bool EditConfiguration() override;

  // The iterations of a training, DoTrain's and the shared trainings' alike
  // (stepwise/training_course.h), set the selection, weights and W0.
  friend class Korva::TrainingCourse;

 protected:
  double p_Enter = Korva::kDefaultPEnter;
  double p_Remove = Korva::kDefaultPRemove;
  FeatureFlags SelectedFeatures;
  int MaxIter = Korva::kDefaultMaxIter;
  NEWMAT::Matrix PositiveRows;
  NEWMAT::Matrix NegativeRows;
};

#endif  // KORVA_PLUGIN_DOZOD_H_
