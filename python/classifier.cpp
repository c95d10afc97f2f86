#include "python/classifier.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>

#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/selection.h"
#include "korva/info_section.h"

namespace Korva::Python {
namespace {

// Never destroyed: Python may release its last objects after the static
// destructors of this library have run, and a module unloaded at exit could
// take libraries (Qt) with it that something still uses.
std::mutex& ModuleLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// Each module file is opened once per process and kept loaded (loading the
// module with its dialog's libraries takes tens of milliseconds). Called with
// the lock held.
std::shared_ptr<Module> OpenModule(const std::string& path) {
  static auto* modules = new std::map<std::string, std::shared_ptr<Module>>;
  auto& module = (*modules)[path];
  if (!module) module = HostKit::OpenModule(path);
  return module;
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string result = real;
  std::free(real);
  return result;
}

// True when this extension is the one the build wrote into the build tree.
bool RunningFromBuildTree() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&RunningFromBuildTree), &info) == 0 ||
      info.dli_fname == nullptr)
    return false;
  std::string self = RealPath(info.dli_fname);
  self = self.substr(0, self.find_last_of('/'));
  return self == RealPath(KORVA_BUILD_TREE_PACKAGE);
}

// The shortest text that reads back as the same double.
std::string Shortest(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

// The weight of feature i in full precision, through the scoring interface
// alone: with x = c e_i, c a power of two, a linear classifier scores
// c w + W0, rounded once. Once |W0| <= 2^-56 |c w| that sum rounds to c w
// itself, so the score divided by c is w exactly. `approx` is the weight as
// the info section gives it (six digits); where the score does not behave
// that way (a module whose score is not linear, a scale out of range) it is
// kept.
double ExactWeight(ClassifierBase& classifier,
                   NEWMAT::RowVector& x,
                   int i,
                   double approx,
                   double w0) {
  if (approx == 0.0 || !std::isfinite(approx)) return approx;
  int k = 0;
  if (w0 != 0.0) k = std::max(0, std::ilogb(w0) - std::ilogb(approx) + 58);
  const double scale = std::ldexp(1.0, k);
  if (!std::isfinite(scale * approx * 4.0)) return approx;
  x.element(i) = scale;
  const double weight = classifier.GetScore(x) / scale;
  x.element(i) = 0.0;
  return std::abs(weight - approx) <= 1e-5 * std::abs(approx) ? weight : approx;
}

HostKit::Error ModelError(const std::string& message) {
  return HostKit::Error(HostKit::ErrorKind::kModel, message);
}

}  // namespace

std::string DefaultModulePath() {
  if (const char* path = std::getenv("KORVA_MODULE"); path && *path)
    return path;
  if (RunningFromBuildTree() && IsFile(KORVA_BUILD_TREE_MODULE))
    return KORVA_BUILD_TREE_MODULE;
  return HostKit::ChooseModulePath("");
}

Classifier::Classifier(std::string modulePath,
                       std::shared_ptr<Module> module,
                       ClassifierHandle classifier,
                       std::optional<HostKit::TrainingRun> run)
    : modulePath_(std::move(modulePath)),
      module_(std::move(module)),
      classifier_(std::move(classifier)),
      run_(std::move(run)) {
  // Called with the lock held.
  const HostKit::Selection selection = HostKit::ReadSelection(*classifier_);
  selected_ = selection.selected;
  weights_ = selection.weights;
  NEWMAT::RowVector x(selection.features);
  x = 0.0;
  if (selection.features > 0) intercept_ = classifier_->GetScore(x);
  for (int i = 0; i < selection.features; ++i)
    if (selected_[i])
      weights_[i] =
          ExactWeight(*classifier_, x, i, selection.weights[i], intercept_);
  settings_ = HostKit::ReadSettings(*classifier_);
  names_ = classifier_->FeatureNames;
  std::ostringstream shortInfo, trainingInfo;
  classifier_->GetShortInfo(shortInfo);
  classifier_->GetTrainingInfo(trainingInfo);
  shortInfo_ = shortInfo.str();
  while (!shortInfo_.empty() && shortInfo_.back() == ' ') shortInfo_.pop_back();
  trainingInfo_ = trainingInfo.str();
}

Classifier::~Classifier() {
  std::lock_guard<std::mutex> lock(ModuleLock());
  classifier_.reset();
}

std::unique_ptr<Classifier> Classifier::Train(
    const std::string& modulePath,
    const HostKit::MatrixView& X,
    const double* labels,
    const std::vector<std::string>& names,
    const HostKit::SettingsChange& settings) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  std::shared_ptr<Module> module = OpenModule(modulePath);
  ClassifierHandle classifier = HostKit::NewClassifier(*module);
  HostKit::ApplySettings(*classifier, settings);
  HostKit::TrainingRun run =
      HostKit::Train(*classifier, X, labels, names, nullptr);
  if (!run.Succeeded())
    throw TrainingFailure{HostKit::TrainingError(run, ""), std::move(run)};
  return std::unique_ptr<Classifier>(new Classifier(
      modulePath, std::move(module), std::move(classifier), std::move(run)));
}

std::unique_ptr<Classifier> Classifier::Load(
    const std::string& modulePath,
    const std::string& path,
    std::vector<std::string>* warnings) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  std::shared_ptr<Module> module = OpenModule(modulePath);
  HostKit::Model model = HostKit::LoadModelDocument(*module, path, warnings);
  if (!model.classifier->CanClassify())
    throw ModelError("model " + path +
                     " holds no trained classifier (no feature is selected)");
  auto restored = std::unique_ptr<Classifier>(new Classifier(
      modulePath, std::move(module), std::move(model.classifier), std::nullopt));
  restored->saved_ = model.intercept;
  return restored;
}

std::unique_ptr<Classifier> Classifier::Restore(const std::string& modulePath,
                                                const std::string& text) {
  pugi::xml_document document;
  if (!document.load_string(text.c_str()))
    throw ModelError("the saved classifier is not a valid XML document");
  std::lock_guard<std::mutex> lock(ModuleLock());
  std::shared_ptr<Module> module = OpenModule(modulePath);
  ClassifierHandle classifier = HostKit::NewClassifier(*module);
  if (const int status = classifier->Read(document); status != kStatusOk)
    throw ModelError("the saved classifier could not be restored (status " +
                     std::to_string(status) + ")");
  return std::unique_ptr<Classifier>(new Classifier(
      modulePath, std::move(module), std::move(classifier), std::nullopt));
}

std::vector<double> Classifier::Score(const HostKit::MatrixView& X) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return HostKit::ScoreRows(*classifier_, X);
}

std::string Classifier::Document(std::optional<double> intercept) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return HostKit::DocumentText(*classifier_, intercept);
}

std::string Classifier::ExactDocument() {
  pugi::xml_document document;
  {
    std::lock_guard<std::mutex> lock(ModuleLock());
    if (const int status = classifier_->Write(document); status != kStatusOk)
      throw ModelError("the classifier could not write its document (status " +
                       std::to_string(status) + ")");
  }
  std::string weights;
  for (double weight : weights_) weights += Shortest(weight) + '\t';
  document.child(kDocumentRoot)
      .child(kInfoSection)
      .child(kWeightsElement)
      .text()
      .set(weights.c_str());
  std::ostringstream text;
  document.save(text);
  return text.str();
}

void Classifier::Save(const std::string& path,
                      std::optional<double> intercept) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  HostKit::SaveModel(*classifier_, path, intercept);
}

std::optional<std::pair<long, long>> FirstNonFinite(const double* X,
                                                    long rows,
                                                    long cols) {
  // A double is NaN or infinite when its exponent bits are all ones; the
  // test on the bits lets each row be checked without a branch per value.
  constexpr std::uint64_t kExponent = 0x7ff0000000000000ULL;
  for (long r = 0; r < rows; ++r) {
    const double* row = X + r * cols;
    bool bad = false;
    for (long c = 0; c < cols; ++c) {
      std::uint64_t bits;
      std::memcpy(&bits, row + c, sizeof(bits));
      bad |= (bits & kExponent) == kExponent;
    }
    if (!bad) continue;
    for (long c = 0; c < cols; ++c)
      if (!std::isfinite(row[c])) return std::make_pair(r, c);
  }
  return std::nullopt;
}

}  // namespace Korva::Python
