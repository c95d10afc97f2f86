#include "korva/hostkit/settings.h"

#include <cmath>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "korva/hostkit/error.h"
#include "korva/stepwise_settings.h"
#include "text/number_text.h"

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

// "0.10" for 10: a p-value given in percent, as the dialog shows it.
std::string AsFraction(double percent) {
  if (percent != std::floor(percent))
    return Text::FormatDouble(percent / 100.0);
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", percent / 100.0);
  return text;
}

// Why a p-value range is refused, with what the user most likely meant: a
// value not given is the classifier's, and values above 1 look like the
// dialog's percentages.
std::string PRangeRefusal(const SettingsChange& change,
                          double pEnter,
                          double pRemove) {
  std::string text = "p-enter " + Text::FormatDouble(pEnter) +
                     " and p-remove " + Text::FormatDouble(pRemove) +
                     " are refused: " + kPRangeRule;
  const struct {
    const char* name;
    const std::optional<double>& given;
    double value, fresh;
  } values[] = {{"p-enter", change.pEnter, pEnter, kDefaultPEnter},
                {"p-remove", change.pRemove, pRemove, kDefaultPRemove}};
  std::vector<std::string> fractions;
  for (const auto& v : values) {
    if (!v.given)
      text += std::string("; ") + v.name + " was not given, so it is the " +
              (v.value == v.fresh ? "default, " : "classifier's ") +
              Text::FormatDouble(v.value);
    else if (*v.given > 1.0 && *v.given <= 100.0)
      fractions.push_back(AsFraction(*v.given));
  }
  if (fractions.size() == 2)
    text += "; did you mean " + fractions[0] + " and " + fractions[1] + "?";
  else if (fractions.size() == 1)
    text += "; did you mean " + fractions[0] + "?";
  if (!fractions.empty())
    text += " (p-values are fractions here; the dialog shows them in percent)";
  return text;
}

}  // namespace

const char* ThresholdModeName(ClassifierBase::ThresholdMode mode) {
  return mode == ClassifierBase::RangeMode ? "Range" : "Max";
}

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
  settings.threshold = node.attribute(kThresholdAttribute).as_double();
  settings.thresholdMode = node.attribute(kThresholdModeAttribute).as_int() ==
                                   ClassifierBase::RangeMode
                               ? ClassifierBase::RangeMode
                               : ClassifierBase::MaxMode;
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
  const double threshold = change.threshold.value_or(current.threshold);
  const ClassifierBase::ThresholdMode mode =
      change.thresholdMode.value_or(current.thresholdMode);
  if (!IsValidPRange(pEnter, pRemove))
    throw Error(ErrorKind::kSettings, PRangeRefusal(change, pEnter, pRemove));
  if (maxIter < 0)
    throw Error(ErrorKind::kSettings, "--max-iter must be 0 or more");
  if (!std::isfinite(threshold))
    throw Error(ErrorKind::kSettings,
                "the threshold " + Text::FormatDouble(threshold) +
                    " is refused: it must be a finite number");

  pugi::xml_document document;
  pugi::xml_node node = WriteConfiguration(classifier, document);
  node.attribute(kPEnterAttribute).set_value(pEnter);
  node.attribute(kPRemoveAttribute).set_value(pRemove);
  node.attribute(kMaxIterAttribute).set_value(maxIter);
  node.attribute(kThresholdAttribute).set_value(threshold);
  node.attribute(kThresholdModeAttribute).set_value(static_cast<int>(mode));
  if (int status = classifier.ReadCfg(node); status != kStatusOk)
    throw Error(ErrorKind::kModule,
                "the classifier refused its configuration (status " +
                    std::to_string(status) + ")");
  const StepwiseSettings applied = ReadSettings(classifier);
  if (applied.pEnter != pEnter || applied.pRemove != pRemove ||
      applied.maxIter != maxIter || applied.threshold != threshold ||
      applied.thresholdMode != mode)
    throw Error(ErrorKind::kModule,
                "the classifier did not take the parameters given");
}

}  // namespace Korva::HostKit
