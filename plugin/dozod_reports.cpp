#include <algorithm>
#include <ostream>

#include "plugin/dozod.h"

void DOZOD::GetShortInfo(std::ostringstream& os) const {
  WeightedClassifier::GetShortInfo(os);
  os << "P(" << p_Enter << ", " << p_Remove << ")"
     << " | ";
  os << "Max Iter. : " << MaxIter << " | ";
}

void DOZOD::GetTrainingInfo(std::ostringstream& os) const {
  WeightedClassifier::GetTrainingInfo(os);
  os << "Selected " << SelectedFeatures.CountSelected() << " features"
     << std::endl;
  // Only flags with a weight behind them are shown; training and loading keep
  // the two lengths equal.
  const std::uint64_t shown =
      std::min<std::uint64_t>(SelectedFeatures.Count(), Weights.Nrows());
  for (std::uint64_t i = 0; i < shown; ++i)
    if (SelectedFeatures[i])
      os << Weights.element(static_cast<int>(i)) << "\t" << std::endl;
}
