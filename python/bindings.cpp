// korva._korva: the host kit for the Python package. It loads the classifier
// module at run time, as korva does, and hands numpy arrays to the kit
// without copying them; korva/_estimator.py builds the scikit-learn
// estimator on it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "data/dataset.h"
#include "data/p300_generator.h"
#include "epoching/recipe.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/trained_model.h"
#include "korva/hostkit/training.h"
#include "korva/stepwise_settings.h"
#include "python/classifier.h"
#include "python/epochs_bindings.h"
#include "python/recording_bindings.h"
#include "python/speller_bindings.h"
#include "python/validation_bindings.h"

namespace py = pybind11;

namespace Korva::Python {
namespace {

// A C-contiguous float64 array, taken as it is (the arguments are declared
// noconvert, so numpy never makes a copy on the way in).
using Matrix = py::array_t<double, py::array::c_style>;

constexpr const char* kMemoryHint = "korva.set_memory_limit(bytes) raises it";

PyObject* korvaError = nullptr;
PyObject* trainingError = nullptr;

const char* KindName(HostKit::ErrorKind kind) {
  switch (kind) {
    case HostKit::ErrorKind::kSettings:
      return "settings";
    case HostKit::ErrorKind::kData:
      return "data";
    case HostKit::ErrorKind::kModule:
      return "module";
    case HostKit::ErrorKind::kModel:
      return "model";
    case HostKit::ErrorKind::kTrainingFailed:
      return "training_failed";
    case HostKit::ErrorKind::kTrainingException:
      return "training_exception";
    case HostKit::ErrorKind::kOutput:
      return "output";
  }
  return "unknown";
}

std::vector<std::string> TerminalTexts(const std::vector<std::string>& texts) {
  std::vector<std::string> result;
  result.reserve(texts.size());
  for (const std::string& text : texts)
    result.push_back(HostKit::TerminalText(text));
  return result;
}

// Settings and data the kit refuses are the caller's values: ValueError.
// Everything else is a KorvaError with the kit's kind.
[[noreturn]] void Raise(const HostKit::Error& error) {
  if (error.Kind() == HostKit::ErrorKind::kSettings ||
      error.Kind() == HostKit::ErrorKind::kData)
    throw py::value_error(error.what());
  py::object exception = py::handle(korvaError)(error.what());
  exception.attr("kind") = KindName(error.Kind());
  PyErr_SetObject(korvaError, exception.ptr());
  throw py::error_already_set();
}

}  // namespace

void RaiseKitError(const HostKit::Error& error) { Raise(error); }

namespace {

// The TrainingError that tells `failure`, not raised.
py::object TrainingErrorOf(const TrainingFailure& failure) {
  py::object exception = py::handle(trainingError)(failure.error.what());
  exception.attr("kind") = KindName(failure.error.Kind());
  exception.attr("status") = failure.run.result
                                 ? py::object(py::int_(*failure.run.result))
                                 : py::object(py::none());
  exception.attr("exception") =
      failure.run.result ? py::object(py::none())
                         : py::object(py::str(failure.run.exception));
  exception.attr("messages") = TerminalTexts(failure.run.progress);
  return exception;
}

[[noreturn]] void Raise(const TrainingFailure& failure) {
  PyErr_SetObject(trainingError, TrainingErrorOf(failure).ptr());
  throw py::error_already_set();
}

// Runs `work` with the interpreter's lock released; the kit's errors become
// Python exceptions once it is held again.
template <typename Work>
auto WithoutGil(Work&& work) {
  try {
    py::gil_scoped_release release;
    return work();
  } catch (const TrainingFailure& failure) {
    Raise(failure);
  } catch (const HostKit::Error& error) {
    Raise(error);
  }
}

HostKit::MatrixView View(const Matrix& X) {
  if (X.ndim() != 2)
    throw py::value_error("expected a 2-D array, got " +
                          std::to_string(X.ndim()) + " dimensions");
  if (X.shape(0) > INT_MAX || X.shape(1) > INT_MAX)
    throw py::value_error("the data set is too large for the matrix library");
  return {X.data(), static_cast<int>(X.shape(0)), static_cast<int>(X.shape(1))};
}

// A numpy array that takes over `values` (a vector or the values of a data
// set) without copying them.
template <typename Container>
py::array_t<double> ToArray(Container&& values,
                            std::vector<py::ssize_t> shape) {
  auto* owned = new Container(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<Container*>(p); });
  return py::array_t<double>(std::move(shape), owned->data(), owner);
}

std::unique_ptr<Classifier> Train(const Matrix& X,
                                  const Matrix& labels,
                                  std::vector<std::string> names,
                                  const std::string& module,
                                  std::optional<double> pEnter,
                                  std::optional<double> pRemove,
                                  std::optional<int> maxIter,
                                  std::optional<double> threshold,
                                  std::optional<bool> rangeMode) {
  const HostKit::MatrixView view = View(X);
  if (labels.ndim() != 1 || labels.shape(0) != view.rows)
    throw py::value_error("expected one label per row of X");
  const double* y = labels.data();
  const HostKit::SettingsChange settings{
      pEnter,
      pRemove,
      maxIter,
      threshold,
      rangeMode ? std::optional(*rangeMode ? ClassifierBase::RangeMode
                                           : ClassifierBase::MaxMode)
                : std::nullopt};
  return WithoutGil(
      [&] { return Classifier::Train(module, view, y, names, settings); });
}

// For each subset of X's rows (index lists), one trained Classifier, or the
// TrainingError of its training (not raised), per setting (p_enter,
// p_remove, max_iter), with the threshold and mode of every setting.
py::list TrainSubsets(const Matrix& X,
                      const Matrix& labels,
                      std::vector<std::string> names,
                      const std::string& module,
                      const std::vector<std::vector<int>>& subsets,
                      const std::vector<std::tuple<double, double, int>>& grid,
                      double threshold,
                      bool rangeMode) {
  const HostKit::MatrixView view = View(X);
  if (labels.ndim() != 1 || labels.shape(0) != view.rows)
    throw py::value_error("expected one label per row of X");
  std::vector<HostKit::SettingsChange> settings;
  for (const auto& [pEnter, pRemove, maxIter] : grid)
    settings.push_back(
        {pEnter,
         pRemove,
         maxIter,
         threshold,
         rangeMode ? ClassifierBase::RangeMode : ClassifierBase::MaxMode});
  auto trained = WithoutGil([&] {
    return Classifier::TrainSubsets(
        module, view, labels.data(), names, subsets, settings);
  });
  py::list result;
  for (auto& subset : trained) {
    py::list models;
    for (auto& model : subset)
      models.append(std::holds_alternative<TrainingFailure>(model)
                        ? TrainingErrorOf(std::get<TrainingFailure>(model))
                        : py::cast(std::move(std::get<0>(model))));
    result.append(models);
  }
  return result;
}

py::array_t<double> Score(Classifier& classifier, const Matrix& X) {
  const HostKit::MatrixView view = View(X);
  if (view.cols != classifier.Model().Features())
    throw py::value_error("X has " + std::to_string(view.cols) +
                          " features, the classifier " +
                          std::to_string(classifier.Model().Features()));
  std::vector<double> scores =
      WithoutGil([&] { return classifier.Score(view); });
  const auto rows = static_cast<py::ssize_t>(scores.size());
  return ToArray(std::move(scores), {rows});
}

// The decision (+1 true) for every score, at the model's cut.
py::array_t<bool> Decisions(const Classifier& classifier,
                            const Matrix& scores) {
  if (scores.ndim() != 1) throw py::value_error("expected a 1-D array");
  py::array_t<bool> decisions(scores.shape(0));
  for (py::ssize_t i = 0; i < scores.shape(0); ++i)
    decisions.mutable_at(i) = classifier.Model().Decide(scores.data()[i]);
  return decisions;
}

// P(+1 | score) for every score, as the model's probability model gives it.
py::array_t<double> Probabilities(const Classifier& classifier,
                                  const Matrix& scores) {
  if (scores.ndim() != 1) throw py::value_error("expected a 1-D array");
  std::vector<double> p(static_cast<size_t>(scores.shape(0)));
  for (size_t i = 0; i < p.size(); ++i)
    p[i] = classifier.Model().Probability(scores.data()[i]);
  const auto rows = static_cast<py::ssize_t>(p.size());
  return ToArray(std::move(p), {rows});
}

py::object FirstNonFiniteValue(const Matrix& X) {
  const HostKit::MatrixView view = View(X);
  const auto found = WithoutGil(
      [&] { return FirstNonFinite(view.data, view.rows, view.cols); });
  if (!found) return py::none();
  return py::make_tuple(found->first, found->second);
}

py::tuple SimulateP300(int epochs,
                       int channels,
                       int samples,
                       std::uint64_t seed,
                       double targetRatio) {
  const Data::GeneratorOptions options{
      epochs, channels, samples, seed, targetRatio};
  if (std::string why = Data::CheckGeneratorOptions(options); !why.empty())
    throw py::value_error(why);
  Data::Dataset data = WithoutGil([&] { return Data::GenerateP300(options); });
  const py::ssize_t rows = data.rows, cols = data.cols;
  return py::make_tuple(ToArray(std::move(data.X), {rows, cols}),
                        ToArray(std::move(data.labels), {rows}),
                        data.names);
}

void BindErrors(py::module_& m) {
  korvaError = PyErr_NewExceptionWithDoc(
      "korva.KorvaError",
      "The classifier module or its files could not be used. `kind` says "
      "what failed: \"module\", \"model\", \"output\", \"training_failed\" "
      "or \"training_exception\".",
      PyExc_RuntimeError,
      nullptr);
  trainingError = PyErr_NewExceptionWithDoc(
      "korva.TrainingError",
      "Training did not succeed. `status` is the module's status (None when "
      "training raised an exception, whose text is `exception`); "
      "`messages` are the module's messages as korva prints them.",
      korvaError,
      nullptr);
  m.attr("KorvaError") = py::handle(korvaError);
  m.attr("TrainingError") = py::handle(trainingError);
}

// The settings' rule and defaults, and the host's note on a missing
// intercept, as the module and korva have them.
void BindConstants(py::module_& m) {
  m.def("valid_p_range",
        &IsValidPRange,
        py::arg("p_enter"),
        py::arg("p_remove"),
        "The module's rule for p-enter and p-remove.");
  m.attr("P_RANGE_RULE") = kPRangeRule;
  m.attr("DEFAULT_P_ENTER") = kDefaultPEnter;
  m.attr("DEFAULT_P_REMOVE") = kDefaultPRemove;
  m.attr("DEFAULT_MAX_ITER") = kDefaultMaxIter;
  m.attr("CUSTOMARY_P_ENTER") = kCustomaryPEnter;
  m.attr("CUSTOMARY_P_REMOVE") = kCustomaryPRemove;
  m.attr("INTERCEPT_NOTE") = HostKit::kMissingInterceptNote;
  m.attr("TUNING_P_ENTER") =
      std::vector<double>(std::begin(kTuningPEnter), std::end(kTuningPEnter));
  m.attr("TUNING_P_REMOVE") =
      std::vector<double>(std::begin(kTuningPRemove), std::end(kTuningPRemove));
  m.attr("TUNING_MAX_ITER") =
      std::vector<int>(std::begin(kTuningMaxIter), std::end(kTuningMaxIter));
}

// The most memory a training may take, in bytes (None: no limit), checked
// from the data's shape before anything is allocated.
void SetMemoryLimit(std::optional<std::uint64_t> bytes) {
  if (bytes && *bytes == 0)
    throw py::value_error("the memory limit must be above 0 bytes");
  HostKit::SetTrainingMemoryLimit(bytes.value_or(HostKit::kNoMemoryLimit),
                                  kMemoryHint);
}

void BindFunctions(py::module_& m) {
  HostKit::SetTrainingMemoryLimit(HostKit::DefaultTrainingMemoryLimit(),
                                  kMemoryHint);
  m.def("set_memory_limit",
        &SetMemoryLimit,
        py::arg("bytes"),
        "Sets the most memory one training may take, in bytes (None: no "
        "limit); the default is 1 GiB, or half the physical memory when "
        "that is less.");
  m.def("default_module_path",
        &DefaultModulePath,
        "The module file loaded when none is named.");
  m.def("first_nonfinite",
        &FirstNonFiniteValue,
        py::arg("X").noconvert(),
        "(row, column) of the first NaN or infinite value of X, or None.");
  m.def("simulate_p300",
        &SimulateP300,
        py::arg("epochs"),
        py::arg("channels"),
        py::arg("samples"),
        py::arg("seed"),
        py::arg("target_ratio"),
        "(X, labels, feature names) of the built-in simulated P300 set.");
  m.attr("GENERATOR_CHANNELS") = Data::GeneratorChannelNames();
  m.attr("EPOCH_LENGTH_MS") = Data::kEpochLengthMs;
}

// The steps of the training as (step, added, feature, p) tuples.
py::list Steps(const HostKit::TrainedModel& model) {
  py::list steps;
  for (const HostKit::Step& step : model.Steps())
    steps.append(py::make_tuple(step.step, step.added, step.feature, step.p));
  return steps;
}

// The recipe `xml` as RecipeXml writes it, whatever its layout; ValueError
// naming `whose` recipe when it does not read back.
std::string Recipe(const std::string& xml, const std::string& whose) {
  try {
    return Epoching::RecipeXml(Epoching::ParseRecipeXml(xml));
  } catch (const Data::DataError& error) {
    throw py::value_error(whose + " " + error.what());
  }
}

using Model = const HostKit::TrainedModel&;

// A read-only property that `read` gives of a classifier's model.
template <typename Read>
auto OfModel(Read read) {
  return [read](const Classifier& c) { return read(c.Model()); };
}

// What the model learned, read-only: the selection, weights and intercept.
void BindLearnedProperties(py::class_<Classifier>& c) {
  c.def_property_readonly("module_path", &Classifier::ModulePath)
      .def_property_readonly("selected", OfModel([](Model m) {
                               return py::array_t<bool>(py::cast(m.Selected()));
                             }))
      .def_property_readonly(
          "weights", OfModel([](Model m) {
            return py::array_t<double>(py::cast(m.Weights()));
          }))
      .def_property_readonly("intercept",
                             OfModel([](Model m) { return m.Intercept(); }))
      .def_property_readonly("intercept_known", OfModel([](Model m) {
                               return m.InterceptKnown();
                             }));
}

// The settings of the model and its decisions, read-only.
void BindSettingProperties(py::class_<Classifier>& c) {
  c.def_property_readonly("p_enter",
                          OfModel([](Model m) { return m.Settings().pEnter; }))
      .def_property_readonly(
          "p_remove", OfModel([](Model m) { return m.Settings().pRemove; }))
      .def_property_readonly(
          "max_iter", OfModel([](Model m) { return m.Settings().maxIter; }))
      .def_property_readonly(
          "threshold", OfModel([](Model m) { return m.Settings().threshold; }))
      .def_property_readonly("threshold_mode", OfModel([](Model m) {
                               return m.Settings().thresholdMode ==
                                              ClassifierBase::RangeMode
                                          ? "range"
                                          : "max";
                             }))
      .def_property_readonly("cut", OfModel([](Model m) { return m.Cut(); }))
      .def_property_readonly(
          "class_scores", OfModel([](Model m) {
            const auto& c = m.Host().classScores;
            return c ? py::object(py::make_tuple(c->negativeMean,
                                                 c->positiveMean,
                                                 c->pooledVariance,
                                                 c->negatives,
                                                 c->positives))
                     : py::object(py::none());
          }));
}

// How the model was trained, read-only: features, steps, time, recipe.
void BindTrainingProperties(py::class_<Classifier>& c) {
  c.def_property_readonly("feature_names",
                          OfModel([](Model m) { return m.FeatureNames(); }))
      .def_property_readonly("short_info",
                             OfModel([](Model m) { return m.ShortInfo(); }))
      .def_property_readonly("training_info",
                             OfModel([](Model m) { return m.TrainingInfo(); }))
      .def_property_readonly("steps", OfModel([](Model m) { return Steps(m); }))
      .def_property_readonly(
          "training_seconds", OfModel([](Model m) {
            return m.Run() ? py::object(py::float_(m.Run()->seconds))
                           : py::none();
          }))
      .def_property_readonly(
          "recipe", OfModel([](Model m) {
            return m.Host().recipe.empty()
                       ? py::object(py::none())
                       : py::object(
                             py::str(Recipe(m.Host().recipe, "the model's")));
          }))
      .def_property_readonly(
          "training_messages", OfModel([](Model m) {
            return m.Run() ? py::cast(TerminalTexts(m.Run()->progress))
                           : py::object(py::none());
          }));
}

// Keeps the recipe `xml` in the model of `c` once it is known to read back
// and to give the model's features: one per channel and bin.
void SetRecipe(Classifier& c, const std::string& xml) {
  const Epoching::Recipe recipe =
      Epoching::ParseRecipeXml(Recipe(xml, "the given"));
  const long long features =
      static_cast<long long>(recipe.channels.size()) * recipe.bins;
  if (recipe.channels.empty() || recipe.samplingRate <= 0)
    throw py::value_error(
        "recipe: give the recipe as used (extract_epochs(...).recipe), with "
        "its channels and sampling rate");
  if (features != c.Model().Features())
    throw py::value_error(
        "recipe: its " + std::to_string(recipe.channels.size()) +
        " channels x " + std::to_string(recipe.bins) + " bins give " +
        std::to_string(features) + " features, and X has " +
        std::to_string(c.Model().Features()));
  c.SetRecipe(Epoching::RecipeXml(recipe));
}

// Training a classifier, on all rows or on subsets of them.
void BindTraining(py::class_<Classifier>& c) {
  c.def_static("train",
               &Train,
               py::arg("X").noconvert(),
               py::arg("labels").noconvert(),
               py::arg("names"),
               py::arg("module"),
               py::arg("p_enter") = py::none(),
               py::arg("p_remove") = py::none(),
               py::arg("max_iter") = py::none(),
               py::arg("threshold") = py::none(),
               py::arg("range_mode") = py::none());
  c.def_static("train_subsets",
               &TrainSubsets,
               py::arg("X").noconvert(),
               py::arg("labels").noconvert(),
               py::arg("names"),
               py::arg("module"),
               py::arg("subsets"),
               py::arg("settings"),
               py::arg("threshold"),
               py::arg("range_mode"));
}

void BindClassifier(py::module_& m) {
  py::class_<Classifier> c(m, "Classifier");
  BindTraining(c);
  c.def_static(
       "load",
       [](const std::string& path, const std::string& module) {
         std::vector<std::string> warnings;
         auto classifier = WithoutGil(
             [&] { return Classifier::Load(module, path, &warnings); });
         return py::make_tuple(std::move(classifier), warnings);
       },
       py::arg("path"),
       py::arg("module"))
      .def_static(
          "restore",
          [](const std::string& text, const std::string& module) {
            return WithoutGil(
                [&] { return Classifier::Restore(module, text); });
          },
          py::arg("text"),
          py::arg("module"))
      .def("set_recipe", &SetRecipe, py::arg("xml"))
      .def("score", &Score, py::arg("X").noconvert())
      .def("probability", &Probabilities, py::arg("scores").noconvert())
      .def("decide", &Decisions, py::arg("scores").noconvert())
      .def("document",
           [](Classifier& c) {
             return WithoutGil([&] { return c.Document(); });
           })
      .def("exact_document",
           [](Classifier& c) {
             return WithoutGil([&] { return c.ExactDocument(); });
           })
      .def(
          "save",
          [](Classifier& c, const std::string& path) {
            WithoutGil([&] { c.Save(path); });
          },
          py::arg("path"));
  BindLearnedProperties(c);
  BindSettingProperties(c);
  BindTrainingProperties(c);
}

}  // namespace
}  // namespace Korva::Python

PYBIND11_MODULE(_korva, m) {
  using namespace Korva::Python;
  m.doc() = "The host kit of the Korva classifier module, for korva.";
  BindErrors(m);
  BindConstants(m);
  BindFunctions(m);
  BindValidation(m);
  BindClassifier(m);
  BindRecording(m);
  BindEpochs(m);
  BindSpeller(m);
}
