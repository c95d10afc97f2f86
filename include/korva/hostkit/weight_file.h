#ifndef KORVA_HOSTKIT_WEIGHT_FILE_H_
#define KORVA_HOSTKIT_WEIGHT_FILE_H_

#include <string>

#include "korva/classifier_base.h"
#include "korva/export.h"

namespace Korva::HostKit {

// Saves the weight file (the classifier's SaveToFile) at `path`, atomically.
// Error(kOutput) also when the classifier writes nothing.
KORVA_HOSTKIT_API void SaveWeights(ClassifierBase& classifier,
                                   const std::string& path);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_WEIGHT_FILE_H_
