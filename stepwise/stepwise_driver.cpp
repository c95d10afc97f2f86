#include "plugin/dozod.h"

void DOZOD::FindNextStep(const FeatureFlags& /*in*/,
                         const NEWMAT::ColumnVector& /*P*/,
                         int& nextstep) const {
  nextstep = -1;  // not built yet
}

int DOZOD::DoTrain(NEWMAT::Matrix& /*X*/,
                   NEWMAT::ColumnVector& /*labels*/,
                   ClassifierProgress* /*progress*/,
                   std::list<std::string>& /*messages*/) {
  return Korva::kStatusRejected;  // not built yet
}
