#ifndef KORVA_HOSTKIT_SETTINGS_H_
#define KORVA_HOSTKIT_SETTINGS_H_

#include <optional>
#include <string>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva::HostKit {

// The settings a stepwise classifier holds: its stepwise parameters and the
// host's decision threshold with its mode (TrainedModel::Cut says what they
// mean).
struct StepwiseSettings {
  double pEnter = 0.0;
  double pRemove = 0.0;
  int maxIter = 0;  // most changes of the selection
  double threshold = 0.0;
  ClassifierBase::ThresholdMode thresholdMode = ClassifierBase::MaxMode;
};

// Settings to change; unset ones keep the classifier's value.
struct SettingsChange {
  std::optional<double> pEnter;
  std::optional<double> pRemove;
  std::optional<int> maxIter;
  std::optional<double> threshold;
  std::optional<ClassifierBase::ThresholdMode> thresholdMode;
  bool Empty() const {
    return !pEnter && !pRemove && !maxIter && !threshold && !thresholdMode;
  }
};

// "Max" or "Range", as the dialog names the modes.
KORVA_HOSTKIT_API const char* ThresholdModeName(
    ClassifierBase::ThresholdMode mode);

// The settings from the classifier's configuration section (WriteCfg).
// Error(kModule) when the section lacks them.
KORVA_HOSTKIT_API StepwiseSettings ReadSettings(ClassifierBase& classifier);

// The classifier's one-line description of itself (GetShortInfo), trailing
// blanks removed.
KORVA_HOSTKIT_API std::string ShortInfo(ClassifierBase& classifier);

// The version of the classifier's document layout, "MAJOR.MINOR", from its
// classifier section; "" when the section does not say.
KORVA_HOSTKIT_API std::string ClassifierVersion(ClassifierBase& classifier);

// Changes the given settings through the configuration section: WriteCfg into
// a scratch node, the attributes changed, ReadCfg back. Error(kSettings) for a
// p-value range that stepwise selection refuses (the message says which value
// was not given and suggests fractions for percentages), a negative limit or
// a threshold that is not finite, checked before anything changes;
// Error(kModule) when the classifier does not take them.
KORVA_HOSTKIT_API void ApplySettings(ClassifierBase& classifier,
                                     const SettingsChange& change);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_SETTINGS_H_
