#ifndef KORVA_HOSTKIT_SETTINGS_H_
#define KORVA_HOSTKIT_SETTINGS_H_

#include <optional>
#include <string>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva::HostKit {

// The stepwise settings a classifier holds.
struct StepwiseSettings {
  double pEnter = 0.0;
  double pRemove = 0.0;
  int maxIter = 0;  // most changes of the selection
};

// Settings to change; unset ones keep the classifier's value.
struct SettingsChange {
  std::optional<double> pEnter;
  std::optional<double> pRemove;
  std::optional<int> maxIter;
  bool Empty() const { return !pEnter && !pRemove && !maxIter; }
};

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
// a scratch node, the attributes changed, ReadCfg back (so the host's own
// attributes are kept). Error(kSettings) for a p-value range that stepwise
// selection refuses or a negative limit, checked before anything changes;
// Error(kModule) when the classifier does not take them.
KORVA_HOSTKIT_API void ApplySettings(ClassifierBase& classifier,
                                     const SettingsChange& change);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_SETTINGS_H_
