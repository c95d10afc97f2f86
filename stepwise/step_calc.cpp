#include "plugin/dozod.h"

int DOZOD::StepCalc(const NEWMAT::Matrix& /*X*/,
                    const NEWMAT::ColumnVector& /*y*/,
                    const FeatureFlags& /*in*/,
                    NEWMAT::ColumnVector& /*B*/,
                    NEWMAT::ColumnVector& /*P*/) {
  return Korva::kStatusRejected;  // not built yet
}
