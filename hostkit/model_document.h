#ifndef KORVA_HOSTKIT_MODEL_DOCUMENT_H_
#define KORVA_HOSTKIT_MODEL_DOCUMENT_H_

// A classifier document read and checked before a classifier restores
// itself from it: every number in it must read as one finite number the way
// the classifier reads it, so that what the classifier holds afterwards is
// what the text says.

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "korva/hostkit/trained_model.h"

namespace Korva::HostKit {

constexpr const char* kInterceptElement = "Intercept";
constexpr const char* kRecipeElement = "Recipe";
constexpr const char* kSpellerElement = "Speller";
constexpr const char* kClassScoresElement = "ClassScores";

struct ModelDocument {
  pugi::xml_document xml;
  HostContent host;
  // One weight per feature as the classifier will read them (0 where the
  // text runs short).
  std::vector<double> weights;
};

// The document in `text`; Error(kModel) naming `subject` when it is not XML.
void ParseDocumentText(const std::string& text,
                       const std::string& subject,
                       pugi::xml_document& xml);

// Checks the parsed document in `document.xml` and fills its host content
// and weights. Error(kModel) starting with `subject` ("model m.xml") for a
// document the classifier would read differently from its text; a document
// with fewer flags or weights than features adds a warning.
void CheckDocument(ModelDocument& document,
                   const std::string& subject,
                   std::vector<std::string>* warnings);

// The whole document of `classifier` with the host content as its elements;
// with `weights`, the info section's weights are written in full precision
// from them instead. Error(kModel) when a section reports a failure.
std::string DocumentText(ClassifierBase& classifier,
                         const HostContent& host,
                         const std::vector<double>* weights);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_MODEL_DOCUMENT_H_
