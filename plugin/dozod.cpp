#include "plugin/dozod.h"

#include "korva/classifier_base.h"
#include "korva/stepwise_settings.h"

DOZOD::DOZOD()
    : WeightedClassifier("DOZOD", "StepWise Linear Discriminant Analysis") {
  Credits = "DOZOD stepwise linear discriminant analysis, by the Korva team";
}

// Members go in reverse order: NegativeRows, PositiveRows, then the flags.
DOZOD::~DOZOD() = default;

int DOZOD::SetPRange(double pEnter, double pRemove) {
  if (!Korva::IsValidPRange(pEnter, pRemove)) return Korva::kStatusRejected;
  p_Enter = pEnter;
  p_Remove = pRemove;
  return Korva::kStatusOk;
}

int DOZOD::SetMaxIter(int maxIter) {
  MaxIter = maxIter;
  return Korva::kStatusOk;
}

bool DOZOD::CanClassify() const {
  for (std::uint64_t i = 0; i < SelectedFeatures.Count(); ++i)
    if (SelectedFeatures[i]) return true;
  return false;
}

void DOZOD::ReservedHook() {}
