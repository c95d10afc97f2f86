// The <Recipe> element of a model document:
//   <Recipe SamplingRate="256" Reference="none" Band="0.5,30" FilterOrder="4"
//           Window="0,auto" Bins="20" Baseline="none" Reject="none">
//     <Target Event="S  2"/> <NonTarget Event="S  1"/> <Channel Name="Fz"/>
//   </Recipe>
// Every attribute is written, pairs as the command line gives them;
// Resample="256" only when recordings are resampled.
#include <climits>
#include <cmath>
#include <pugixml.hpp>
#include <sstream>

#include "data/dataset.h"
#include "epoching/recipe.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::Epoching {
namespace {

using Data::DataError;
using Text::FormatDouble;

std::string Pair(double a, double b) {
  return FormatDouble(a) + "," + FormatDouble(b);
}

[[noreturn]] void Damaged(const char* attribute,
                          const std::string& value,
                          const char* expected) {
  throw DataError("recipe: attribute " + std::string(attribute) + "=\"" +
                  value + "\" is not " + expected);
}

// The attribute's text; DataError when it is missing.
std::string Text(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute)
    throw DataError("recipe: the attribute " + std::string(name) +
                    " is missing");
  return attribute.value();
}

bool Parse(const std::string& text, double& value) {
  return Text::ParseDouble(text, value) == Text::NumberStatus::kOk;
}

bool Parse(const std::string& text, int& value) {
  std::int64_t whole = 0;
  if (Text::ParseWhole(text, whole) != Text::NumberStatus::kOk ||
      whole < INT_MIN || whole > INT_MAX)
    return false;
  value = static_cast<int>(whole);
  return true;
}

template <typename T>
T Number(const pugi::xml_node& node, const char* name, const char* expected) {
  const std::string text = Text(node, name);
  T value{};
  if (!Parse(text, value)) Damaged(name, text, expected);
  return value;
}

// "A,B" into a and b; "auto" is allowed for b when `end` is given.
bool ParsePair(const std::string& text,
               double& a,
               double& b,
               std::optional<double>* end = nullptr) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos || !Parse(text.substr(0, comma), a))
    return false;
  const std::string second = text.substr(comma + 1);
  if (end && second == "auto") {
    end->reset();
    return true;
  }
  if (!Parse(second, b)) return false;
  if (end) *end = b;
  return true;
}

std::vector<std::string> List(const pugi::xml_node& node,
                              const char* element,
                              const char* attribute) {
  std::vector<std::string> items;
  for (pugi::xml_node child : node.children(element)) {
    if (!child.attribute(attribute))
      throw DataError("recipe: a " + std::string(element) +
                      " element has no attribute " + attribute);
    items.push_back(child.attribute(attribute).value());
  }
  return items;
}

}  // namespace

std::string ReferenceText(Reference reference) {
  return reference == Reference::kAverage ? "average" : "none";
}

std::string BandText(const Recipe& r) {
  return r.band ? Pair(r.band->low, r.band->high) : "none";
}

std::string WindowText(const Recipe& r) {
  return FormatDouble(r.windowStartMs) + "," +
         (r.windowEndMs ? FormatDouble(*r.windowEndMs) : "auto");
}

std::string BaselineText(const Recipe& r) {
  return r.baseline ? Pair(r.baseline->startMs, r.baseline->endMs) : "none";
}

std::string RejectText(const Recipe& r) {
  return r.rejectMicrovolts ? FormatDouble(*r.rejectMicrovolts) : "none";
}

std::string ResampleText(const Recipe& r) {
  return r.resampleHz ? FormatDouble(*r.resampleHz) : "none";
}

void AppendRecipe(pugi::xml_node parent, const Recipe& r) {
  pugi::xml_node node = parent.append_child("Recipe");
  auto set = [&](const char* name, const std::string& value) {
    node.append_attribute(name).set_value(value.c_str());
  };
  set("SamplingRate", FormatDouble(r.samplingRate));
  set("Reference", ReferenceText(r.reference));
  set("Band", BandText(r));
  set("FilterOrder", std::to_string(r.filterOrder));
  set("Window", WindowText(r));
  set("Bins", std::to_string(r.bins));
  set("Baseline", BaselineText(r));
  set("Reject", RejectText(r));
  if (r.resampleHz) set("Resample", ResampleText(r));
  for (const auto& [element, list] :
       {std::pair{"Target", &r.targets}, {"NonTarget", &r.nonTargets}})
    for (const std::string& code : *list)
      node.append_child(element).append_attribute("Event").set_value(
          code.c_str());
  for (const std::string& name : r.channels)
    node.append_child("Channel").append_attribute("Name").set_value(
        name.c_str());
}

std::string RecipeXml(const Recipe& recipe) {
  pugi::xml_document document;
  AppendRecipe(document, recipe);
  std::ostringstream text;
  document.first_child().print(text, "  ");
  return text.str();
}

Recipe ReadRecipe(const pugi::xml_node& node, bool eventListsRequired) {
  Recipe r;
  r.samplingRate =
      Number<double>(node, "SamplingRate", "a sampling rate in Hz");
  const std::string reference = Text(node, "Reference");
  if (reference != "none" && reference != "average")
    Damaged("Reference", reference, "none or average");
  r.reference = reference == "average" ? Reference::kAverage : Reference::kNone;
  if (const std::string band = Text(node, "Band"); band == "none")
    r.band.reset();
  else if (!ParsePair(band, r.band->low, r.band->high))
    Damaged("Band", band, "LOW,HIGH in Hz or none");
  r.filterOrder = Number<int>(node, "FilterOrder", "a whole number");
  const std::string window = Text(node, "Window");
  double end = 0;
  if (!ParsePair(window, r.windowStartMs, end, &r.windowEndMs))
    Damaged("Window", window, "START,END in ms (END may be auto)");
  r.bins = Number<int>(node, "Bins", "a whole number");
  if (const std::string baseline = Text(node, "Baseline"); baseline != "none") {
    r.baseline.emplace();
    if (!ParsePair(baseline, r.baseline->startMs, r.baseline->endMs))
      Damaged("Baseline", baseline, "START,END in ms or none");
  }
  if (const std::string reject = Text(node, "Reject"); reject != "none") {
    r.rejectMicrovolts.emplace();
    if (!Parse(reject, *r.rejectMicrovolts))
      Damaged("Reject", reject, "a limit in microvolts or none");
  }
  if (const pugi::xml_attribute resample = node.attribute("Resample")) {
    r.resampleHz.emplace();
    if (!Parse(resample.value(), *r.resampleHz))
      Damaged("Resample", resample.value(), "a sampling rate in Hz");
  }
  r.targets = List(node, "Target", "Event");
  r.nonTargets = List(node, "NonTarget", "Event");
  r.channels = List(node, "Channel", "Name");
  if (std::string why = CheckRecipe(r, eventListsRequired); !why.empty())
    throw DataError("recipe: " + why);
  return r;
}

Recipe ParseRecipeXml(const std::string& xml, bool eventListsRequired) {
  if (Text::FindNulReference(xml) != std::string::npos)
    throw DataError(
        "recipe: a character reference to NUL, which XML allows nowhere (a "
        "name would end there)");
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_string(xml.c_str());
  if (!parsed)
    throw DataError("recipe: not XML (" + std::string(parsed.description()) +
                    " at offset " + std::to_string(parsed.offset) + ")");
  const pugi::xml_node node = document.child("Recipe");
  if (!node) throw DataError("recipe: no Recipe element");
  return ReadRecipe(node, eventListsRequired);
}

}  // namespace Korva::Epoching
