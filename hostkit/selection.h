#ifndef KORVA_HOSTKIT_SELECTION_H_
#define KORVA_HOSTKIT_SELECTION_H_

#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva::HostKit {

// The feature selection and weights of a stepwise classifier, as its info
// section carries them.
struct KORVA_HOSTKIT_API Selection {
  int features = 0;
  std::vector<bool> selected;   // one per feature
  std::vector<double> weights;  // one per feature, 0 when not selected
  int Count() const;            // number of selected features
};

// The classifier's selection, read from the info section it writes.
// Error(kModel) when it cannot write its document or reports an impossible
// feature count.
KORVA_HOSTKIT_API Selection ReadSelection(ClassifierBase& classifier);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_SELECTION_H_
