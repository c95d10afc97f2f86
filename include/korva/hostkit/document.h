#ifndef KORVA_HOSTKIT_DOCUMENT_H_
#define KORVA_HOSTKIT_DOCUMENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/export.h"
#include "korva/module_loader.h"

namespace Korva::HostKit {

// The host's own element of a classifier document: the intercept (bias W0)
// of the trained classifier, which the module's sections leave out. A
// document without it still loads; its classifier then scores without the
// intercept.
constexpr const char* kInterceptElement = "Intercept";

// The whole classifier document (Write) as XML text, with the intercept as
// the host's element when given. Error(kModel) when a section reports a
// non-zero status.
KORVA_HOSTKIT_API std::string DocumentText(
    ClassifierBase& classifier, std::optional<double> intercept = std::nullopt);

// The intercept of a trained linear classifier: its score of a row of zeros.
KORVA_HOSTKIT_API double Intercept(ClassifierBase& classifier);

// A classifier restored from a document, and the intercept the document
// carries (none for a document written without it). A restored classifier
// scores without the intercept: add `offset` to its scores.
struct Model {
  ClassifierHandle classifier;
  std::optional<double> intercept;
  double offset = 0.0;  // intercept - the classifier's own, or 0
};

// A fresh object of `module` restored from the document at `path`.
// Error(kModel) when the file cannot be read, is not XML, is not a document
// of this classifier, or gives a selected feature a weight that is not a
// finite number; Error(kModule) when the module gives no object. A document
// with fewer weights than features loads (the missing ones are 0), with a
// sentence saying so added to `warnings` when given.
KORVA_HOSTKIT_API Model
LoadModelDocument(const Module& module,
                  const std::string& path,
                  std::vector<std::string>* warnings = nullptr);

// The bytes of the classifier document at `path`, read once (so a FIFO or
// process substitution serves too): Error(kModel) when it cannot be read, is
// a folder, or is larger than kMaxDocumentBytes.
KORVA_HOSTKIT_API std::string ReadModelFile(const std::string& path);

// The most bytes a classifier document may have: far more than one with
// kMaxFeatureCount features and long names takes.
constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 28;

// LoadModelDocument of a document read already (ReadModelFile); `name`
// names it in messages.
KORVA_HOSTKIT_API Model
LoadModelText(const Module& module,
              const std::string& text,
              const std::string& name,
              std::vector<std::string>* warnings = nullptr);

// LoadModelDocument without the intercept.
KORVA_HOSTKIT_API ClassifierHandle
LoadModel(const Module& module,
          const std::string& path,
          std::vector<std::string>* warnings = nullptr);

// Saves the classifier document at `path`, atomically (WriteTextAtomically),
// with the intercept when given.
KORVA_HOSTKIT_API void SaveModel(
    ClassifierBase& classifier,
    const std::string& path,
    std::optional<double> intercept = std::nullopt);

// Saves the weight file (the classifier's SaveToFile) at `path`, atomically.
// Error(kOutput) also when the classifier writes nothing.
KORVA_HOSTKIT_API void SaveWeights(ClassifierBase& classifier,
                                   const std::string& path);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_DOCUMENT_H_
