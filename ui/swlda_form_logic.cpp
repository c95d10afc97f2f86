#include "ui/swlda_form_logic.h"

#include <cmath>
#include <limits>

#include "korva/classifier_base.h"
#include "plugin/dozod.h"

namespace SwldaForm {

int DozodSettings::GetMaxIter() const { return classifier_.GetMaxIter(); }
double DozodSettings::GetPEnter() const { return classifier_.GetPEnter(); }
double DozodSettings::GetPRemove() const { return classifier_.GetPRemove(); }
double DozodSettings::GetThreshold() const {
  return classifier_.GetThreshold();
}
int DozodSettings::GetThresholdMode() const {
  return static_cast<int>(classifier_.GetThresholdMode());
}
int DozodSettings::SetMaxIter(int maxIter) {
  return classifier_.SetMaxIter(maxIter);
}
int DozodSettings::SetPRange(double pEnter, double pRemove) {
  return classifier_.SetPRange(pEnter, pRemove);
}
void DozodSettings::SetThreshold(double threshold) {
  classifier_.SetThreshold(threshold);
}
void DozodSettings::SetThresholdMode(int mode) {
  // The enumeration holds only these two values; converting anything else to
  // it would be undefined.
  if (mode == Korva::ClassifierBase::MaxMode)
    classifier_.SetThresholdMode(Korva::ClassifierBase::MaxMode);
  else if (mode == Korva::ClassifierBase::RangeMode)
    classifier_.SetThresholdMode(Korva::ClassifierBase::RangeMode);
}

int TruncatedPercent(double value) {
  const double percent = value * 100.0;
  if (std::isnan(percent)) return 0;
  // Outside (INT_MIN - 1, INT_MAX + 1) the conversion is undefined.
  constexpr double kAboveMax = 2147483648.0;
  constexpr double kBelowMin = -2147483649.0;
  if (percent >= kAboveMax) return std::numeric_limits<int>::max();
  if (percent <= kBelowMin) return std::numeric_limits<int>::min();
  return static_cast<int>(percent);
}

Positions FormActivate(const Settings& settings) {
  Positions positions;
  positions.maxIter = settings.GetMaxIter();
  positions.pEnter = TruncatedPercent(settings.GetPEnter());
  positions.pRemove = TruncatedPercent(settings.GetPRemove());
  positions.threshold = TruncatedPercent(settings.GetThreshold());
  positions.thresholdMode = settings.GetThresholdMode();
  return positions;
}

int BitBtnOKClick(const Positions& positions,
                  Settings& settings,
                  MessageSink& messages) {
  if (positions.pEnter >= positions.pRemove) {
    messages.Show(kOrderMessage, kErrorCaption, kStyleExclamation);
    return kModalOk;
  }
  settings.SetMaxIter(positions.maxIter);
  if (settings.SetPRange(positions.pEnter / 100.0, positions.pRemove / 100.0) !=
      0)
    messages.Show(kRangeMessage, kErrorCaption, kStyleOk);
  settings.SetThreshold(positions.threshold / 100.0);
  settings.SetThresholdMode(positions.thresholdMode);
  return kModalOk;
}

}  // namespace SwldaForm
