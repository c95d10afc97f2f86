#include <cstdint>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "korva/classifier_base.h"
#include "korva/info_section.h"
#include "korva/stepwise_settings.h"
#include "plugin/dozod.h"

// The sections DOZOD adds to the host's XML document. Attributes go through
// pugixml's typed setters and readers; the "IN" and "Weights" texts are
// formatted here, one value and a tab each, in the classic locale so that a
// file reads back the same wherever it was written. See docs/file-formats.md.

namespace {

constexpr unsigned kVersionMaj = 0;
constexpr unsigned kVersionMin = 1;

// An element's text lives in its first character-data child; "" when the
// element or the text is absent.
const char* ElementText(const pugi::xml_node& node, const char* name) {
  return node.child(name).text().get();
}

void AppendElementText(pugi::xml_node& node,
                       const char* name,
                       const std::string& text) {
  node.append_child(name)
      .append_child(pugi::node_pcdata)
      .set_value(text.c_str());
}

}  // namespace

int DOZOD::WriteClassifier(pugi::xml_node& node) {
  if (int status = WeightedClassifier::WriteClassifier(node); status != 0)
    return status;
  node.append_attribute(Korva::kVersionMajAttribute).set_value(kVersionMaj);
  node.append_attribute(Korva::kVersionMinAttribute).set_value(kVersionMin);
  return Korva::kStatusOk;
}

int DOZOD::ReadClassifier(const pugi::xml_node& node) {
  if (int status = WeightedClassifier::ReadClassifier(node); status != 0)
    return status;
  // Every version so far has the same layout, so the numbers are not checked.
  static_cast<void>(node.attribute(Korva::kVersionMajAttribute).as_uint(0));
  static_cast<void>(node.attribute(Korva::kVersionMinAttribute).as_uint(0));
  return Korva::kStatusOk;
}

int DOZOD::WriteCfg(pugi::xml_node& node) {
  if (int status = WeightedClassifier::WriteCfg(node); status != 0)
    return status;
  node.append_attribute(Korva::kPEnterAttribute).set_value(p_Enter);
  node.append_attribute(Korva::kPRemoveAttribute).set_value(p_Remove);
  node.append_attribute(Korva::kMaxIterAttribute).set_value(MaxIter);
  return Korva::kStatusOk;
}

int DOZOD::ReadCfg(const pugi::xml_node& node) {
  if (int status = WeightedClassifier::ReadCfg(node); status != 0)
    return status;
  // Stored as saved, without the range check of SetPRange: a section restores
  // exactly the configuration it was written from.
  p_Enter = node.attribute(Korva::kPEnterAttribute).as_double(0.0);
  p_Remove = node.attribute(Korva::kPRemoveAttribute).as_double(0.0);
  MaxIter = node.attribute(Korva::kMaxIterAttribute).as_int(0);
  return Korva::kStatusOk;
}

// Writes the selection and the weights. W0 is not part of the section: a
// classifier restored into a fresh object scores with W0 = 0, so every score
// is shifted by the trained intercept while the ranking stays the same.
int DOZOD::WriteInfo(pugi::xml_node& node) {
  if (int status = WeightedClassifier::WriteInfo(node); status != 0)
    return status;
  const std::uint64_t count = SelectedFeatures.Count();
  node.append_attribute(Korva::kCountAttribute)
      .set_value(static_cast<unsigned long long>(count));

  std::ostringstream in;
  in.imbue(std::locale::classic());
  for (std::uint64_t i = 0; i < count; ++i) in << SelectedFeatures[i] << '\t';
  AppendElementText(node, Korva::kFlagsElement, in.str());

  std::ostringstream weights;
  weights.imbue(std::locale::classic());
  for (int i = 0; i < Weights.Nrows(); ++i)
    weights << Weights.element(i) << '\t';
  AppendElementText(node, Korva::kWeightsElement, weights.str());
  return Korva::kStatusOk;
}

int DOZOD::ReadInfo(const pugi::xml_node& node) {
  if (int status = WeightedClassifier::ReadInfo(node); status != 0)
    return status;
  // "Count" is read as a signed int; pugixml clamps values beyond its range
  // to INT_MIN or INT_MAX. A count at or below 0 or above the limit is not
  // an error: the section reads as no selection and no weights, so the
  // classifier cannot classify. A text shorter than the count leaves the
  // missing flags false and the missing weights 0.
  const int n = node.attribute(Korva::kCountAttribute).as_int(0);
  const char* inText = ElementText(node, Korva::kFlagsElement);

  SelectedFeatures.Release();
  if (n <= 0 || n > Korva::kMaxFeatureCount) {
    Weights.ReSize(0);
    return Korva::kStatusOk;
  }

  SelectedFeatures.Reset(static_cast<std::uint64_t>(n));
  const std::vector<bool> flags = Korva::ReadFlagsText(inText, n);
  for (int i = 0; i < n; ++i) SelectedFeatures[i] = flags[i];

  const std::vector<double> weights =
      Korva::ReadWeightsText(ElementText(node, Korva::kWeightsElement), n);
  Weights.ReSize(n);
  for (int i = 0; i < n; ++i) Weights.element(i) = weights[i];
  return Korva::kStatusOk;
}

int DOZOD::WriteProtocol(pugi::xml_node& node) {
  return WeightedClassifier::WriteProtocol(node);
}

int DOZOD::ReadProtocol(const pugi::xml_node& node) {
  return WeightedClassifier::ReadProtocol(node);
}
