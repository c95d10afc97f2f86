#include "korva/hostkit/document.h"

#include <fcntl.h>
#include <newmat/newmat.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <sstream>

#include "korva/hostkit/error.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/selection.h"
#include "korva/info_section.h"

namespace Korva::HostKit {
namespace {

Error ModelError(const std::string& message) {
  return Error(ErrorKind::kModel, message);
}

// Checks the weights of the selected features as the document's info section
// spells them: each must read as a finite number.
void CheckSavedWeights(const pugi::xml_node& info,
                       const std::string& path,
                       std::vector<std::string>* warnings) {
  const long long count = info.attribute(kCountAttribute).as_llong(0);
  if (count <= 0 || count > kMaxFeatureCount) return;
  const std::vector<bool> selected =
      ReadFlagsText(info.child(kFlagsElement).text().get(), count);
  std::istringstream text(info.child(kWeightsElement).text().get());
  std::string token;
  long long given = 0;
  for (; given < count && text >> token; ++given) {
    const char* start = token.c_str();
    char* end = nullptr;
    const double weight = std::strtod(start, &end);
    if (selected[given] &&
        (end == start || *end != '\0' || !std::isfinite(weight)))
      throw ModelError("model " + path + ": the weight of feature " +
                       std::to_string(given + 1) +
                       " is not a finite number (\"" + token + "\")");
  }
  if (given < count && warnings != nullptr)
    warnings->push_back("model " + path + " holds " + std::to_string(given) +
                        " weights for its " + std::to_string(count) +
                        " features; the missing ones count as 0");
}

}  // namespace

std::string DocumentText(ClassifierBase& classifier,
                         std::optional<double> intercept) {
  pugi::xml_document document;
  if (int status = classifier.Write(document); status != kStatusOk)
    throw ModelError("the classifier could not write its document (status " +
                     std::to_string(status) + ")");
  if (intercept)
    document.document_element()
        .append_child(kInterceptElement)
        .append_attribute("Value")
        .set_value(*intercept);
  std::ostringstream text;
  document.save(text);
  return text.str();
}

double Intercept(ClassifierBase& classifier) {
  NEWMAT::RowVector zeros(ReadSelection(classifier).features);
  zeros = 0.0;
  return classifier.GetScore(zeros);
}

Model LoadModelDocument(const Module& module,
                        const std::string& path,
                        std::vector<std::string>* warnings) {
  return LoadModelText(module, ReadModelFile(path), path, warnings);
}

Model LoadModelText(const Module& module,
                    const std::string& text,
                    const std::string& path,
                    std::vector<std::string>* warnings) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed =
      document.load_buffer(text.data(), text.size());
  if (!parsed)
    throw ModelError("model " + path +
                     " is not a valid XML document: " + parsed.description() +
                     " at byte " + std::to_string(parsed.offset));
  const long long features = document.child(kDocumentRoot)
                                 .child(kInfoSection)
                                 .attribute(kCountAttribute)
                                 .as_llong(0);
  if (features > kMaxFeatureCount)
    throw ModelError("model " + path + " declares " + std::to_string(features) +
                     " features, more than the " +
                     std::to_string(kMaxFeatureCount) +
                     " a classifier document may hold");
  CheckSavedWeights(
      document.child(kDocumentRoot).child(kInfoSection), path, warnings);
  ClassifierHandle classifier = NewClassifier(module);
  const int status = classifier->Read(document);
  if (status == kStatusWrongDocument)
    throw ModelError("model " + path + " is not a document of the " +
                     classifier->GetName() + " classifier (no " +
                     kDocumentRoot + " element named " + classifier->GetName() +
                     ")");
  if (status == kStatusMissingSection)
    throw ModelError("model " + path + " lacks a section (" +
                     kClassifierSection + ", " + kConfigurationSection + ", " +
                     kInfoSection + " or " + kProtocolSection + ")");
  if (status != kStatusOk)
    throw ModelError("model " + path + " could not be restored (status " +
                     std::to_string(status) + ")");
  Model model{std::move(classifier), std::nullopt, 0.0};
  const pugi::xml_attribute saved =
      document.document_element().child(kInterceptElement).attribute("Value");
  if (saved) {
    model.intercept = saved.as_double();
    model.offset = *model.intercept - Intercept(*model.classifier);
  }
  return model;
}

ClassifierHandle LoadModel(const Module& module,
                           const std::string& path,
                           std::vector<std::string>* warnings) {
  return LoadModelDocument(module, path, warnings).classifier;
}

void SaveModel(ClassifierBase& classifier,
               const std::string& path,
               std::optional<double> intercept) {
  WriteTextAtomically(path, DocumentText(classifier, intercept));
}

void SaveWeights(ClassifierBase& classifier, const std::string& path) {
  // SaveToFile reports no failure, so on a full disk its file would end short
  // unseen and replace the earlier one. It writes into a file in memory
  // instead, and the bytes reach the disk through a write that checks.
  const int fd = ::memfd_create("korva-weights", MFD_CLOEXEC);
  if (fd < 0)
    throw Error(ErrorKind::kOutput,
                "cannot write " + path + ": " + std::strerror(errno));
  classifier.SaveToFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
  std::string text;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = ::pread(fd, buffer, sizeof(buffer), text.size())) > 0)
    text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (text.empty())
    throw Error(
        ErrorKind::kOutput,
        "cannot write " + path + ": the classifier wrote no weight file");
  WriteTextAtomically(path, text);
}

}  // namespace Korva::HostKit
