#include "fuzz/checks.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

// Every read path leaves as many weights as flags, whatever the input.
std::string AfterRead(ProbeDozod& dozod) {
  if (dozod.Flags().size() != dozod.WeightList().size())
    return "a read left another number of weights than flags";
  return ExerciseClassifier(dozod);
}

}  // namespace

std::string FuzzDocument(const std::uint8_t* data, std::size_t size) {
  pugi::xml_document document;
  // A document that fails to parse still holds what was read up to the
  // error; reading that tree must be just as safe.
  document.load_buffer(data, size);
  ProbeDozod dozod;
  const int status = dozod.Read(document);
  if (status != kStatusOk && status != kStatusWrongDocument &&
      status != kStatusMissingSection)
    return "Read returned the unexpected status " + std::to_string(status);
  return AfterRead(dozod);
}

std::string FuzzSections(const std::uint8_t* data, std::size_t size) {
  pugi::xml_document document;
  document.load_buffer(data, size);
  const pugi::xml_node node = document.document_element();
  ProbeDozod dozod;
  const int expected = node ? kStatusOk : kStatusMissingSection;
  if (dozod.ReadClassifier(node) != expected ||
      dozod.ReadCfg(node) != expected || dozod.ReadInfo(node) != expected)
    return "a section read returned an unexpected status";
  return AfterRead(dozod);
}

}  // namespace Korva::Fuzz
