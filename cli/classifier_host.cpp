#include "cli/classifier_host.h"

#include <newmat/newmat.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <pugixml.hpp>
#include <sstream>

#include "cli/atomic_file.h"
#include "cli/csv_io.h"
#include "plugin/p_range.h"

namespace Korva::Cli {
namespace {

constexpr const char* kModuleFileName = "ZEZODOvo64.kvc";
constexpr const char* kRangeRule =
    "p-enter must be above 0 and below p-remove, p-remove at most 1";

pugi::xml_node InfoSection(pugi::xml_document& document,
                           ClassifierBase& classifier) {
  if (int status = classifier.Write(document); status != kStatusOk)
    throw CliError(kExitModel,
                   "the classifier could not describe itself (status " +
                       std::to_string(status) + ")");
  return document.child(kDocumentRoot).child(kInfoSection);
}

}  // namespace

std::string ModulePathBesideExecutable() {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  std::string folder = ".";
  if (length > 0) {
    self[length] = '\0';
    folder = self;
    folder = folder.substr(0, folder.find_last_of('/'));
  }
  return folder + "/" + kModuleFileName;
}

std::string ChooseModulePath(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* path = std::getenv("KORVA_MODULE"); path && *path)
    return path;
  return ModulePathBesideExecutable();
}

std::shared_ptr<Module> OpenModule(const std::string& path) {
  try {
    return Module::Open(path);
  } catch (const ModuleError& error) {
    throw CliError(kExitModule, error.what());
  }
}

ClassifierHandle NewClassifier(const Module& module) {
  try {
    return module.CreateClassifier();
  } catch (const ModuleError& error) {
    throw CliError(kExitModule, error.what());
  }
}

namespace {

// The classifier's configuration section, written into `document`.
pugi::xml_node WriteConfiguration(ClassifierBase& classifier,
                                  pugi::xml_document& document) {
  pugi::xml_node node = document.append_child(kConfigurationSection);
  if (int status = classifier.WriteCfg(node); status != kStatusOk)
    throw CliError(kExitModule,
                   "the classifier could not write its "
                   "configuration (status " +
                       std::to_string(status) + ")");
  return node;
}

}  // namespace

Configuration ReadConfiguration(ClassifierBase& classifier) {
  pugi::xml_document document;
  const pugi::xml_node node = WriteConfiguration(classifier, document);
  for (const char* name : {"p_Enter", "p_Remove", "MaxIter"}) {
    if (!node.attribute(name))
      throw CliError(kExitModule,
                     std::string("the classifier's configuration has no ") +
                         name + " attribute; it takes no stepwise parameters");
  }
  Configuration configuration;
  configuration.pEnter = node.attribute("p_Enter").as_double();
  configuration.pRemove = node.attribute("p_Remove").as_double();
  configuration.maxIter = node.attribute("MaxIter").as_int();
  return configuration;
}

void ApplyParameters(ClassifierBase& classifier, const Parameters& parameters) {
  if (!parameters.pEnter && !parameters.pRemove && !parameters.maxIter) return;
  const Configuration current = ReadConfiguration(classifier);
  const double pEnter = parameters.pEnter.value_or(current.pEnter);
  const double pRemove = parameters.pRemove.value_or(current.pRemove);
  const int maxIter = parameters.maxIter.value_or(current.maxIter);
  if (!IsValidPRange(pEnter, pRemove))
    throw CliError(kExitUsage,
                   "p-enter " + FormatDouble(pEnter) + " and p-remove " +
                       FormatDouble(pRemove) + " are refused: " + kRangeRule);
  if (maxIter < 0) throw CliError(kExitUsage, "--max-iter must be 0 or more");

  pugi::xml_document document;
  pugi::xml_node node = WriteConfiguration(classifier, document);
  node.attribute("p_Enter").set_value(pEnter);
  node.attribute("p_Remove").set_value(pRemove);
  node.attribute("MaxIter").set_value(maxIter);
  if (int status = classifier.ReadCfg(node); status != kStatusOk)
    throw CliError(kExitModule,
                   "the classifier refused its configuration "
                   "(status " +
                       std::to_string(status) + ")");
  const Configuration applied = ReadConfiguration(classifier);
  if (applied.pEnter != pEnter || applied.pRemove != pRemove ||
      applied.maxIter != maxIter)
    throw CliError(kExitModule,
                   "the classifier did not take the parameters given");
}

std::string TerminalText(const std::string& message) {
  std::string text;
  text.reserve(message.size());
  for (char c : message) {
    if (c == '\r') continue;
    if (c == '\n' && (text.empty() || text.back() == '\n')) continue;
    text += c;
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void RecordingProgress::AddMessage(const std::string& message) {
  messages_.push_back(message);
  if (echo_ != nullptr) *echo_ << TerminalText(message) << std::endl;
}

TrainingRun TrainClassifier(ClassifierBase& classifier,
                            const Dataset& data,
                            std::ostream* echo) {
  if (!data.hasLabels)
    throw CliError(kExitData, "the training data has no labels");
  if (static_cast<long long>(data.rows) * data.cols >
      std::numeric_limits<int>::max())
    throw CliError(kExitData,
                   "the data set is too large for the matrix library (" +
                       std::to_string(data.rows) + " x " +
                       std::to_string(data.cols) + " values)");
  NEWMAT::Matrix X(data.rows, data.cols);
  std::memcpy(X.Store(), data.X.data(), data.X.size() * sizeof(double));
  NEWMAT::ColumnVector y(data.rows);
  std::memcpy(
      y.Store(), data.labels.data(), data.labels.size() * sizeof(double));
  classifier.FeatureNames = data.names;

  TrainingRun run;
  RecordingProgress progress(echo);
  const auto start = std::chrono::steady_clock::now();
  try {
    run.result = classifier.Train2(X, y, &progress, run.messages);
  } catch (const NEWMAT::BaseException&) {
    // The matrix library keeps its message in one static buffer, over lines.
    const char* text = NEWMAT::BaseException::what();
    std::string message = text && *text ? TerminalText(text) : "";
    std::replace(message.begin(), message.end(), '\n', ' ');
    run.exception = "matrix library: " + message;
  } catch (const std::bad_alloc&) {
    run.exception = "out of memory";
  } catch (const std::exception& error) {
    run.exception = error.what();
  }
  run.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  run.progress = progress.Messages();
  return run;
}

std::string TrainingFailure(const TrainingRun& run) {
  if (!run.result) return "training raised an exception: " + run.exception;
  std::string text = "training failed: the classifier returned status " +
                     std::to_string(*run.result);
  if (*run.result == kStatusRejected)
    text += " (too few examples for the model it was fitting)";
  return text;
}

nlohmann::ordered_json TrainingLog(ClassifierBase& classifier,
                                   const TrainingRun& run) {
  nlohmann::ordered_json log;
  log["result"] = run.result ? nlohmann::ordered_json(*run.result)
                             : nlohmann::ordered_json(nullptr);
  log["progress"] = run.progress;
  log["messages"] = run.messages;
  std::ostringstream shortInfo;
  classifier.GetShortInfo(shortInfo);
  log["short_info"] = shortInfo.str();
  std::ostringstream trainingInfo;
  classifier.GetTrainingInfo(trainingInfo);
  log["training_info"] = trainingInfo.str();
  return log;
}

std::string JsonText(const nlohmann::ordered_json& json) {
  return json.dump(
             2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

std::vector<double> ScoreRows(ClassifierBase& classifier, const Dataset& data) {
  std::vector<double> scores(data.rows);
  NEWMAT::RowVector x(data.cols);
  for (int r = 0; r < data.rows; ++r) {
    std::memcpy(x.Store(),
                &data.X[static_cast<size_t>(r) * data.cols],
                data.cols * sizeof(double));
    scores[r] = classifier.GetScore(x);
  }
  return scores;
}

std::string DocumentText(ClassifierBase& classifier) {
  pugi::xml_document document;
  if (int status = classifier.Write(document); status != kStatusOk)
    throw CliError(kExitModel,
                   "the classifier could not write its document "
                   "(status " +
                       std::to_string(status) + ")");
  std::ostringstream text;
  document.save(text);
  return text.str();
}

ClassifierHandle LoadModel(const Module& module, const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw CliError(kExitModel,
                   "cannot read model " + path + ": " + std::strerror(errno));
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_file(path.c_str());
  if (parsed.status == pugi::status_file_not_found ||
      parsed.status == pugi::status_io_error)
    throw CliError(kExitModel,
                   "cannot read model " + path + ": " + parsed.description());
  if (!parsed)
    throw CliError(kExitModel,
                   "model " + path + " is not a valid XML " +
                       "document: " + parsed.description() + " at byte " +
                       std::to_string(parsed.offset));
  ClassifierHandle classifier = NewClassifier(module);
  const int status = classifier->Read(document);
  if (status == kStatusWrongDocument)
    throw CliError(kExitModel,
                   "model " + path + " is not a document of the " +
                       classifier->GetName() + " classifier (no " +
                       kDocumentRoot + " element named " +
                       classifier->GetName() + ")");
  if (status == kStatusMissingSection)
    throw CliError(kExitModel,
                   "model " + path + " lacks a section (" + kClassifierSection +
                       ", " + kConfigurationSection + ", " + kInfoSection +
                       " or " + kProtocolSection + ")");
  if (status != kStatusOk)
    throw CliError(kExitModel,
                   "model " + path + " could not be restored (status " +
                       std::to_string(status) + ")");
  return classifier;
}

void SaveModel(ClassifierBase& classifier, const std::string& path) {
  WriteTextAtomically(path, DocumentText(classifier));
}

void SaveWeights(ClassifierBase& classifier, const std::string& path) {
  // SaveToFile reports no failure, so on a full disk its file would end short
  // unseen and replace the earlier one. It writes into a file in memory
  // instead, and the bytes reach the disk through a write that checks.
  const int fd = ::memfd_create("korva-weights", MFD_CLOEXEC);
  if (fd < 0)
    throw OutputError("cannot write " + path + ": " + std::strerror(errno));
  classifier.SaveToFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
  std::string text;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = ::pread(fd, buffer, sizeof(buffer), text.size())) > 0)
    text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (text.empty())
    throw OutputError("cannot write " + path +
                      ": the classifier wrote no weight file");
  WriteTextAtomically(path, text);
}

int Selection::Count() const {
  int count = 0;
  for (bool flag : selected) count += flag;
  return count;
}

Selection ReadSelection(ClassifierBase& classifier) {
  pugi::xml_document document;
  const pugi::xml_node info = InfoSection(document, classifier);
  Selection selection;
  const long long count = info.attribute("Count").as_llong(0);
  if (count < 0 || count > std::numeric_limits<int>::max())
    throw CliError(kExitModel,
                   "the classifier reports an impossible feature "
                   "count " +
                       std::to_string(count));
  selection.features = static_cast<int>(count);
  selection.selected.assign(selection.features, false);
  selection.weights.assign(selection.features, 0.0);
  std::istringstream flags(info.child("IN").text().get());
  std::istringstream weights(info.child("Weights").text().get());
  for (int i = 0; i < selection.features; ++i) {
    int flag = 0;
    double weight = 0.0;
    if (flags >> flag) selection.selected[i] = flag != 0;
    if (weights >> weight) selection.weights[i] = weight;
  }
  return selection;
}

}  // namespace Korva::Cli
