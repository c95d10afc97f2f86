#include "hostkit/model_document.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "korva/hostkit/error.h"
#include "korva/info_section.h"
#include "korva/stepwise_settings.h"
#include "text/delimiter.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace Korva::HostKit {
namespace {

Error ModelError(const std::string& message) {
  return Error(ErrorKind::kModel, message);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// An element the classifier or the host reads once must be there once: of
// two, the reader would take the first and the text would say more.
void RefuseRepeated(const pugi::xml_node& parent,
                    const char* name,
                    const std::string& subject) {
  const pugi::xml_node first = parent.child(name);
  if (first && first.next_sibling(name))
    throw ModelError(subject + ": element " + name + " appears more than once");
}

// One number list of the info section: the element, what each value is,
// and what a value must be.
struct NumberList {
  const char* element;  // "IN", "Weights"
  const char* value;    // "flag", "weight"
  const char* kind;     // "whole number", "finite number"
};

// What separates the values of a list: what a stream skips before a number
// in the classic locale.
constexpr std::string_view kSpaces = " \t\n\v\f\r";

// `text` as a whole number from `low` to `high`, or nothing.
std::optional<long long> WholeNumber(std::string_view text,
                                     long long low,
                                     long long high) {
  std::int64_t value = 0;
  if (Text::ParseWhole(text, value) != Text::NumberStatus::kOk || value < low ||
      value > high)
    return std::nullopt;
  return value;
}

// The values of `list` in `text`, token after token, as the classifier reads
// them from a stream in the classic locale (the stream's rules for a number
// are those of text/number_text.h). `read(token, i)` takes the i-th value
// and returns false when the token is none. Returns how many of `count`
// values the text holds (fewer when it runs short).
template <typename Read>
long long ReadList(std::string_view text,
                   long long count,
                   const NumberList& list,
                   const std::string& subject,
                   const Read& read) {
  long long given = 0;
  for (size_t at = text.find_first_not_of(kSpaces);
       at != std::string_view::npos;
       at = text.find_first_not_of(kSpaces, at), ++given) {
    const size_t end = std::min(text.find_first_of(kSpaces, at), text.size());
    const std::string_view token = text.substr(at, end - at);
    at = end;
    if (given >= count)
      throw ModelError(subject + ": element " + list.element +
                       " holds more than its " + std::to_string(count) +
                       " values (one per feature)");
    if (!read(token, given))
      throw ModelError(subject + ": the " + list.value + " of feature " +
                       std::to_string(given + 1) + " is not a " + list.kind +
                       " (" + Quoted(std::string(token)) + ")");
  }
  return given;
}

// "Count": the number of features, which the classifier reads as an int; at
// most kMaxFeatureCount, so that no reader allocates more than about 10 MB.
long long FeatureCount(const pugi::xml_node& info, const std::string& subject) {
  const pugi::xml_attribute count = info.attribute(kCountAttribute);
  if (!count) return 0;
  const std::string text = count.value();
  std::int64_t value = -1;
  const Text::NumberStatus status = Text::ParseWhole(text, value);
  const bool tooMany =
      status == Text::NumberStatus::kOk
          ? value > kMaxFeatureCount
          : status == Text::NumberStatus::kOutOfRange && text[0] != '-';
  if (tooMany)
    throw ModelError(
        subject + " declares " + text + " features, more than the " +
        std::to_string(kMaxFeatureCount) + " a classifier document may hold");
  if (status != Text::NumberStatus::kOk || value < 0)
    throw ModelError(subject + ": the " + kCountAttribute + " of element " +
                     kInfoSection + " is not a number of features (" +
                     Quoted(text) + ")");
  return value;
}

// The flags and weights of the info section; the weights as they will be
// read into `weights`.
void CheckInfo(const pugi::xml_node& info,
               const std::string& subject,
               std::vector<double>& weights,
               std::vector<std::string>* warnings) {
  RefuseRepeated(info, kFlagsElement, subject);
  RefuseRepeated(info, kWeightsElement, subject);
  const long long count = FeatureCount(info, subject);
  ReadList(info.child(kFlagsElement).text().get(),
           count,
           {kFlagsElement, "flag", "whole number"},
           subject,
           [](std::string_view token, long long) {
             return WholeNumber(token, INT_MIN, INT_MAX).has_value();
           });
  weights.assign(static_cast<size_t>(count), 0.0);
  const long long given = ReadList(
      info.child(kWeightsElement).text().get(),
      count,
      {kWeightsElement, "weight", "finite number"},
      subject,
      [&](std::string_view token, long long i) {
        return Text::ParseDouble(token, weights[i]) == Text::NumberStatus::kOk;
      });
  if (given < count && warnings != nullptr)
    warnings->push_back(subject + " holds " + std::to_string(given) +
                        " weights for its " + std::to_string(count) +
                        " features; the missing ones count as 0");
}

// The attributes of `node` named in `names` must each be one finite number.
void CheckNumbers(const pugi::xml_node& node,
                  std::initializer_list<const char*> names,
                  const std::string& subject) {
  for (const char* name : names) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (attribute && !Text::FiniteNumber(attribute.value()))
      throw ModelError(subject + ": the " + name + " of element " +
                       node.name() + " is not one finite number (" +
                       Quoted(attribute.value()) + ")");
  }
}

// The same for whole numbers that the classifier reads as an int.
void CheckWholeNumbers(const pugi::xml_node& node,
                       std::initializer_list<const char*> names,
                       const std::string& subject) {
  for (const char* name : names) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (attribute && !WholeNumber(attribute.value(), INT_MIN, INT_MAX))
      throw ModelError(subject + ": the " + name + " of element " +
                       node.name() + " is not a whole number (" +
                       Quoted(attribute.value()) + ")");
  }
}

// The attributes of the class scores element, in the order it is written.
constexpr const char* kNegativeMean = "NegativeMean";
constexpr const char* kPositiveMean = "PositiveMean";
constexpr const char* kPooledVariance = "PooledVariance";
constexpr const char* kNegatives = "Negatives";
constexpr const char* kPositives = "Positives";

ClassScores ReadClassScores(const pugi::xml_node& node,
                            const std::string& subject) {
  const auto number = [&](const char* name) {
    const std::string text = node.attribute(name).value();
    if (const auto value = Text::FiniteNumber(text)) return *value;
    throw ModelError(subject + ": the " + name + " of element " +
                     kClassScoresElement + " is not one finite number (" +
                     Quoted(text) + ")");
  };
  const auto count = [&](const char* name) {
    const std::string text = node.attribute(name).value();
    if (const auto value = WholeNumber(text, 1, LLONG_MAX)) return *value;
    throw ModelError(subject + ": the " + name + " of element " +
                     kClassScoresElement + " is not a number of rows (" +
                     Quoted(text) + ")");
  };
  ClassScores c;
  c.negativeMean = number(kNegativeMean);
  c.positiveMean = number(kPositiveMean);
  c.pooledVariance = number(kPooledVariance);
  c.negatives = count(kNegatives);
  c.positives = count(kPositives);
  if (c.pooledVariance < 0.0)
    throw ModelError(subject + ": the " + kPooledVariance + " of element " +
                     kClassScoresElement + " is negative");
  return c;
}

void WriteClassScores(pugi::xml_node root, const ClassScores& c) {
  pugi::xml_node node = root.append_child(kClassScoresElement);
  node.append_attribute(kNegativeMean).set_value(c.negativeMean);
  node.append_attribute(kPositiveMean).set_value(c.positiveMean);
  node.append_attribute(kPooledVariance).set_value(c.pooledVariance);
  node.append_attribute(kNegatives).set_value(c.negatives);
  node.append_attribute(kPositives).set_value(c.positives);
}

// The element as raw XML text; "" for no element.
std::string ElementText(const pugi::xml_node& element) {
  if (!element) return "";
  std::ostringstream text;
  element.print(text, "", pugi::format_raw);
  return text.str();
}

HostContent ReadHostContent(const pugi::xml_node& root,
                            const std::string& subject) {
  HostContent host;
  RefuseRepeated(root, kInterceptElement, subject);
  RefuseRepeated(root, kRecipeElement, subject);
  RefuseRepeated(root, kSpellerElement, subject);
  RefuseRepeated(root, kClassScoresElement, subject);
  if (const pugi::xml_node intercept = root.child(kInterceptElement)) {
    const std::string text = intercept.attribute("Value").value();
    host.intercept = Text::FiniteNumber(text);
    if (!host.intercept)
      throw ModelError(subject + ": the Value of element " + kInterceptElement +
                       " is not one finite number (" + Quoted(text) + ")");
  }
  if (const pugi::xml_node scores = root.child(kClassScoresElement))
    host.classScores = ReadClassScores(scores, subject);
  host.recipe = ElementText(root.child(kRecipeElement));
  host.speller = ElementText(root.child(kSpellerElement));
  return host;
}

// The start of the first line of `text` when it reads as a CSV header
// (fields separated by commas, semicolons or tabs, no markup); "" otherwise.
std::string CsvFirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const bool printable = std::all_of(line.begin(), line.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 || c == '\t';
  });
  if (!printable || line.find('<') != std::string::npos ||
      Text::DetectDelimiter(line) == 0)
    return "";
  constexpr size_t kShown = 60;
  return line.size() > kShown ? line.substr(0, kShown) + "..." : line;
}

}  // namespace

void ParseDocumentText(const std::string& text,
                       const std::string& subject,
                       pugi::xml_document& xml) {
  const pugi::xml_parse_result parsed = xml.load_buffer(text.data(), text.size());
  if (const size_t nul = Text::FindNulReference(text);
      parsed && nul != std::string::npos)
    throw ModelError(subject + ": byte " + std::to_string(nul + 1) +
                     " is a character reference to NUL, which XML allows "
                     "nowhere (a name would end there)");
  if (parsed) return;
  if (const std::string line = CsvFirstLine(text); !line.empty())
    throw ModelError(subject +
                     " is not a classifier document but CSV text (its first "
                     "line: " +
                     Quoted(line) +
                     "): are the model and the data the other way round?");
  throw ModelError(subject + " is not a valid XML document: " +
                   parsed.description() + " at byte " +
                   std::to_string(parsed.offset));
}

void CheckDocument(ModelDocument& document,
                   const std::string& subject,
                   std::vector<std::string>* warnings) {
  RefuseRepeated(document.xml, kDocumentRoot, subject);
  const pugi::xml_node root = document.xml.child(kDocumentRoot);
  for (const char* section : {kClassifierSection,
                              kConfigurationSection,
                              kInfoSection,
                              kProtocolSection})
    RefuseRepeated(root, section, subject);
  const pugi::xml_node configuration = root.child(kConfigurationSection);
  CheckNumbers(configuration,
               {kPEnterAttribute, kPRemoveAttribute, kThresholdAttribute},
               subject);
  CheckWholeNumbers(configuration, {kMaxIterAttribute}, subject);
  // The classifier reads any other mode as Max.
  if (const pugi::xml_attribute mode =
          configuration.attribute(kThresholdModeAttribute);
      mode && !WholeNumber(mode.value(), 0, 1))
    throw ModelError(subject + ": the " + kThresholdModeAttribute +
                     " of element " + kConfigurationSection +
                     " is neither 0 (Max) nor 1 (Range) (" +
                     Quoted(mode.value()) + ")");
  CheckInfo(root.child(kInfoSection), subject, document.weights, warnings);
  document.host = ReadHostContent(root, subject);
}

std::string DocumentText(ClassifierBase& classifier,
                         const HostContent& host,
                         const std::vector<double>* weights) {
  pugi::xml_document document;
  if (int status = classifier.Write(document); status != kStatusOk)
    throw ModelError("the classifier could not write its document (status " +
                     std::to_string(status) + ")");
  pugi::xml_node root = document.document_element();
  if (weights != nullptr) {
    std::string text;
    for (double weight : *weights) text += Text::FormatDouble(weight) + '\t';
    root.child(kInfoSection).child(kWeightsElement).text().set(text.c_str());
  }
  if (host.intercept)
    root.append_child(kInterceptElement)
        .append_attribute("Value")
        .set_value(*host.intercept);
  if (host.classScores) WriteClassScores(root, *host.classScores);
  for (const auto& [xml, what] : {std::pair{&host.recipe, "recipe"},
                                   {&host.speller, "speller"}}) {
    if (xml->empty()) continue;
    pugi::xml_document element;
    if (!element.load_string(xml->c_str()))
      throw ModelError(std::string("the model's ") + what +
                       " is not valid XML");
    root.append_copy(element.document_element());
  }
  std::ostringstream text;
  document.save(text);
  return text.str();
}

}  // namespace Korva::HostKit
