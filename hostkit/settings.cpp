#include "korva/hostkit/settings.h"

#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "hostkit/number_text.h"
#include "korva/hostkit/error.h"
#include "korva/stepwise_settings.h"

namespace Korva::HostKit {
namespace {

// The classifier's configuration section, written into `document`.
pugi::xml_node WriteConfiguration(ClassifierBase& classifier,
                                  pugi::xml_document& document) {
  pugi::xml_node node = document.append_child(kConfigurationSection);
  if (int status = classifier.WriteCfg(node); status != kStatusOk)
    throw Error(ErrorKind::kModule,
                "the classifier could not write its configuration (status " +
                    std::to_string(status) + ")");
  return node;
}

}  // namespace

StepwiseSettings ReadSettings(ClassifierBase& classifier) {
  pugi::xml_document document;
  const pugi::xml_node node = WriteConfiguration(classifier, document);
  for (const char* name :
       {kPEnterAttribute, kPRemoveAttribute, kMaxIterAttribute}) {
    if (!node.attribute(name))
      throw Error(ErrorKind::kModule,
                  std::string("the classifier's configuration has no ") + name +
                      " attribute; it takes no stepwise parameters");
  }
  StepwiseSettings settings;
  settings.pEnter = node.attribute(kPEnterAttribute).as_double();
  settings.pRemove = node.attribute(kPRemoveAttribute).as_double();
  settings.maxIter = node.attribute(kMaxIterAttribute).as_int();
  return settings;
}

std::string ShortInfo(ClassifierBase& classifier) {
  std::ostringstream text;
  classifier.GetShortInfo(text);
  std::string info = text.str();
  while (!info.empty() && info.back() == ' ') info.pop_back();
  return info;
}

std::string ClassifierVersion(ClassifierBase& classifier) {
  pugi::xml_document document;
  pugi::xml_node node = document.append_child(kClassifierSection);
  if (classifier.WriteClassifier(node) != kStatusOk ||
      !node.attribute(kVersionMajAttribute))
    return "";
  return std::string(node.attribute(kVersionMajAttribute).value()) + "." +
         node.attribute(kVersionMinAttribute).value();
}

void ApplySettings(ClassifierBase& classifier, const SettingsChange& change) {
  if (change.Empty()) return;
  const StepwiseSettings current = ReadSettings(classifier);
  const double pEnter = change.pEnter.value_or(current.pEnter);
  const double pRemove = change.pRemove.value_or(current.pRemove);
  const int maxIter = change.maxIter.value_or(current.maxIter);
  if (!IsValidPRange(pEnter, pRemove))
    throw Error(ErrorKind::kSettings,
                "p-enter " + Shortest(pEnter) + " and p-remove " +
                    Shortest(pRemove) + " are refused: " + kPRangeRule);
  if (maxIter < 0)
    throw Error(ErrorKind::kSettings, "--max-iter must be 0 or more");

  pugi::xml_document document;
  pugi::xml_node node = WriteConfiguration(classifier, document);
  node.attribute(kPEnterAttribute).set_value(pEnter);
  node.attribute(kPRemoveAttribute).set_value(pRemove);
  node.attribute(kMaxIterAttribute).set_value(maxIter);
  if (int status = classifier.ReadCfg(node); status != kStatusOk)
    throw Error(ErrorKind::kModule,
                "the classifier refused its configuration (status " +
                    std::to_string(status) + ")");
  const StepwiseSettings applied = ReadSettings(classifier);
  if (applied.pEnter != pEnter || applied.pRemove != pRemove ||
      applied.maxIter != maxIter)
    throw Error(ErrorKind::kModule,
                "the classifier did not take the parameters given");
}

}  // namespace Korva::HostKit
