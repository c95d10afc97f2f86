#ifndef KORVA_HOSTKIT_DOCUMENT_H_
#define KORVA_HOSTKIT_DOCUMENT_H_

#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"
#include "korva/module_loader.h"

namespace Korva::HostKit {

// The whole classifier document (Write) as XML text. Error(kModel) when a
// section reports a non-zero status.
KORVA_HOSTKIT_API std::string DocumentText(ClassifierBase& classifier);

// A fresh object of `module` restored from the document at `path`.
// Error(kModel) when the file cannot be read, is not XML, is not a document
// of this classifier, or gives a selected feature a weight that is not a
// finite number; Error(kModule) when the module gives no object. A document
// with fewer weights than features loads (the missing ones are 0), with a
// sentence saying so added to `warnings` when given.
KORVA_HOSTKIT_API ClassifierHandle
LoadModel(const Module& module,
          const std::string& path,
          std::vector<std::string>* warnings = nullptr);

// Saves the classifier document at `path`, atomically (WriteTextAtomically).
KORVA_HOSTKIT_API void SaveModel(ClassifierBase& classifier,
                                 const std::string& path);

// Saves the weight file (the classifier's SaveToFile) at `path`, atomically.
// Error(kOutput) also when the classifier writes nothing.
KORVA_HOSTKIT_API void SaveWeights(ClassifierBase& classifier,
                                   const std::string& path);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_DOCUMENT_H_
