#include "python/classifier.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "korva/hostkit/module_path.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/shared_rows.h"

namespace Korva::Python {
namespace {

// Never destroyed: Python may release its last objects after the static
// destructors of this library have run.
std::mutex& ModuleLock() {
  static auto* lock = new std::mutex;
  return *lock;
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

}  // namespace

std::string DefaultModulePath() {
  if (const char* path = std::getenv("KORVA_MODULE"); path && *path)
    return path;
  if (RunningFromBuildTree() && IsFile(KORVA_BUILD_TREE_MODULE))
    return KORVA_BUILD_TREE_MODULE;
  return HostKit::ChooseModulePath("");
}

Classifier::Classifier(std::string modulePath, HostKit::TrainedModel model)
    : modulePath_(std::move(modulePath)), model_(std::move(model)) {}

Classifier::~Classifier() {
  std::lock_guard<std::mutex> lock(ModuleLock());
  model_.reset();
}

std::unique_ptr<Classifier> Classifier::Train(
    const std::string& modulePath,
    const HostKit::MatrixView& X,
    const double* labels,
    const std::vector<std::string>& names,
    const HostKit::SettingsChange& settings) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  ClassifierHandle classifier =
      HostKit::NewClassifier(*HostKit::SharedModule(modulePath));
  HostKit::ApplySettings(*classifier, settings);
  HostKit::TrainingRun run =
      HostKit::Train(*classifier, X, labels, names, nullptr);
  if (!run.Succeeded())
    throw TrainingFailure{HostKit::TrainingError(run, ""), std::move(run)};
  return std::unique_ptr<Classifier>(new Classifier(
      modulePath,
      HostKit::TrainedModel(std::move(classifier), std::move(run), X, labels)));
}

namespace {

// The subset's rows of X and their labels, contiguous, for the models'
// class scores and for trainings the module leaves to Train.
struct SubsetRows {
  std::vector<double> X, labels;
  HostKit::MatrixView view;
};

SubsetRows Gather(const HostKit::MatrixView& X,
                  const double* labels,
                  const std::vector<int>& subset) {
  SubsetRows rows;
  const size_t cols = static_cast<size_t>(X.cols);
  rows.X.resize(subset.size() * cols);
  for (size_t i = 0; i < subset.size(); ++i) {
    std::memcpy(rows.X.data() + i * cols,
                X.data + static_cast<size_t>(subset[i]) * cols,
                cols * sizeof(double));
    rows.labels.push_back(labels[subset[i]]);
  }
  rows.view = {rows.X.data(), static_cast<int>(subset.size()), X.cols};
  return rows;
}

}  // namespace

std::vector<std::vector<Classifier::Trained>> Classifier::TrainSubsets(
    const std::string& modulePath,
    const HostKit::MatrixView& X,
    const double* labels,
    const std::vector<std::string>& names,
    const std::vector<std::vector<int>>& subsets,
    const std::vector<HostKit::SettingsChange>& settings) {
  for (const std::vector<int>& subset : subsets)
    for (int r : subset)
      if (r < 0 || r >= X.rows)
        throw HostKit::Error(HostKit::ErrorKind::kData,
                             "a subset names row " + std::to_string(r) +
                                 " of " + std::to_string(X.rows));
  std::lock_guard<std::mutex> lock(ModuleLock());
  const std::shared_ptr<const Module> module = HostKit::SharedModule(modulePath);
  size_t largest = 0;
  for (const std::vector<int>& subset : subsets)
    largest = std::max(largest, subset.size());
  std::unique_ptr<HostKit::SharedRows> shared;
  try {
    shared = HostKit::SharedRows::Open(
        *module, X, labels, subsets,
        HostKit::BlockProductsFit(static_cast<std::int64_t>(largest), X.cols,
                                  1, static_cast<int>(settings.size()),
                                  static_cast<int>(subsets.size())));
  } catch (const std::exception&) {
    // Each subset then trains alone.
  }
  std::vector<std::vector<Trained>> results;
  for (const std::vector<int>& subset : subsets) {
    const SubsetRows rows = Gather(X, labels, subset);
    std::vector<ClassifierHandle> classifiers;
    std::vector<ClassifierBase*> raw;
    for (const HostKit::SettingsChange& s : settings) {
      classifiers.push_back(HostKit::NewClassifier(*module));
      HostKit::ApplySettings(*classifiers.back(), s);
      raw.push_back(classifiers.back().get());
    }
    std::vector<std::optional<HostKit::TrainingRun>> runs(settings.size());
    if (shared) runs = shared->Train(subset, raw, names);
    results.emplace_back();
    for (size_t s = 0; s < settings.size(); ++s) {
      HostKit::TrainingRun run =
          runs[s] ? std::move(*runs[s])
                  : HostKit::Train(*classifiers[s], rows.view,
                                   rows.labels.data(), names, nullptr);
      if (!run.Succeeded()) {
        results.back().emplace_back(TrainingFailure{
            HostKit::TrainingError(run, ""), std::move(run)});
        continue;
      }
      results.back().emplace_back(std::unique_ptr<Classifier>(new Classifier(
          modulePath,
          HostKit::TrainedModel(std::move(classifiers[s]), std::move(run),
                                rows.view, rows.labels.data()))));
    }
  }
  return results;
}

std::unique_ptr<Classifier> Classifier::Load(
    const std::string& modulePath,
    const std::string& path,
    std::vector<std::string>* warnings) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  HostKit::TrainedModel model = HostKit::TrainedModel::Load(
      *HostKit::SharedModule(modulePath), path, warnings);
  if (!model.CanClassify())
    throw HostKit::Error(
        HostKit::ErrorKind::kModel,
        "model " + path +
            " holds no trained classifier (no feature is selected)");
  return std::unique_ptr<Classifier>(
      new Classifier(modulePath, std::move(model)));
}

std::unique_ptr<Classifier> Classifier::Restore(const std::string& modulePath,
                                                const std::string& text) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return std::unique_ptr<Classifier>(new Classifier(
      modulePath,
      HostKit::TrainedModel::Parse(
          *HostKit::SharedModule(modulePath), text, "the saved classifier")));
}

std::vector<double> Classifier::Score(const HostKit::MatrixView& X) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return model_->Score(X);
}

std::string Classifier::Document() {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return model_->Document();
}

std::string Classifier::ExactDocument() {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return model_->ExactDocument();
}

void Classifier::Save(const std::string& path) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  model_->Save(path);
}

void Classifier::SetRecipe(const std::string& xml) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  model_->Host().recipe = xml;
}

void Classifier::SetSpeller(const std::string& xml) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  model_->Host().speller = xml;
}

Speller::Decoding Classifier::Decode(const Speller::Session& session,
                                     const std::vector<double>& scores,
                                     const Speller::DecodeOptions& options) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  return Speller::Decode(session, scores, model_->Classifier(), options);
}

Speller::Decoding Classifier::DecodeWith(
    const std::string& modulePath,
    const Speller::Session& session,
    const std::vector<double>& scores,
    const Speller::DecodeOptions& options) {
  std::lock_guard<std::mutex> lock(ModuleLock());
  const ClassifierHandle classifier =
      HostKit::NewClassifier(*HostKit::SharedModule(modulePath));
  return Speller::Decode(session, scores, *classifier, options);
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
