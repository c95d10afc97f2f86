#ifndef KORVA_HOSTKIT_SELECTION_INTERNAL_H_
#define KORVA_HOSTKIT_SELECTION_INTERNAL_H_

#include <vector>

#include "korva/classifier_base.h"

namespace Korva::HostKit {

// The feature selection and weights of a stepwise classifier, as its info
// section carries them.
struct Selection {
  int features = 0;
  std::vector<bool> selected;   // one per feature
  std::vector<double> weights;  // one per feature, 0 when not selected
};

// The classifier's selection, read from the info section it writes.
// Error(kModel) when it cannot write its document or reports an impossible
// feature count.
Selection ReadSelection(ClassifierBase& classifier);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_SELECTION_INTERNAL_H_
