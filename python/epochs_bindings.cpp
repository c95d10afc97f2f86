// korva._korva's epoch extraction: recordings cut into features through the
// data-source layer, as korva epochs cuts them, the default recipe, and the
// band-pass filter on its own for comparison with other implementations.
#include "python/epochs_bindings.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "epoching/band_pass.h"
#include "epoching/epochs.h"
#include "epoching/recipe.h"
#include "epoching/resample.h"
#include "korva/hostkit/error.h"
#include "sources/recordings.h"
#include "sources/source_error.h"

namespace py = pybind11;

namespace Korva::Python {
namespace {

using Range = std::optional<std::pair<double, double>>;

// Runs `work` without the interpreter's lock; the errors of bad input
// become ValueError, and so does a cut above the memory limit.
template <typename Work>
auto Released(Work&& work) {
  try {
    py::gil_scoped_release release;
    return work();
  } catch (const Data::DataError& error) {
    throw py::value_error(error.what());
  } catch (const Sources::Error& error) {
    throw py::value_error(error.what());
  } catch (const HostKit::Error& error) {
    throw py::value_error(error.what());
  } catch (const std::invalid_argument& error) {
    throw py::value_error(error.what());
  }
}

template <typename Container>
py::array_t<double> Own(Container&& values, std::vector<py::ssize_t> shape) {
  auto* owned = new Container(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<Container*>(p); });
  return py::array_t<double>(std::move(shape), owned->data(), owner);
}

py::dict RunDict(const Epoching::RunReport& run) {
  py::dict d;
  d["path"] = run.path;
  for (const auto& [name, counts] : {std::pair{"kept", &run.kept},
                                     {"outside", &run.outside},
                                     {"rejected", &run.rejected},
                                     {"at_breaks", &run.atBreaks}})
    d[name] = py::make_tuple(counts->target, counts->nonTarget);
  d["skipped"] = run.skipped;
  d["notes"] = run.notes;
  d["warnings"] = run.warnings;
  d["resampled_from"] = run.resampledFrom > 0 ? py::cast(run.resampledFrom)
                                              : py::none();
  d["labelled"] = run.labelled;
  d["unlabelled"] = run.kept.unlabelled;
  return d;
}

// The recipe of extract_epochs's settings; ValueError for a reference
// other than none or average (korva's --reference refuses it too).
Epoching::Recipe RecipeOf(std::vector<std::string> target,
                          std::vector<std::string> nonTarget,
                          std::vector<std::string> channels,
                          const std::string& reference,
                          Range band,
                          int filterOrder,
                          std::pair<double, std::optional<double>> window,
                          int bins,
                          Range baseline,
                          std::optional<double> reject,
                          std::optional<double> resample) {
  using Epoching::Reference;
  if (reference != Epoching::ReferenceText(Reference::kNone) &&
      reference != Epoching::ReferenceText(Reference::kAverage))
    throw py::value_error("reference must be \"none\" or \"average\", not \"" +
                          reference + "\"");
  Epoching::Recipe r;
  r.targets = std::move(target);
  r.nonTargets = std::move(nonTarget);
  r.channels = std::move(channels);
  r.reference = reference == Epoching::ReferenceText(Reference::kAverage)
                    ? Reference::kAverage
                    : Reference::kNone;
  r.band.reset();
  if (band) r.band = Epoching::Band{band->first, band->second};
  r.filterOrder = filterOrder;
  r.windowStartMs = window.first;
  r.windowEndMs = window.second;
  r.bins = bins;
  if (baseline)
    r.baseline = Epoching::Interval{baseline->first, baseline->second};
  r.rejectMicrovolts = reject;
  r.resampleHz = resample;
  return r;
}

// (X, labels, runs, feature names, run reports, recipe XML, subjects,
// sessions, quality warnings) of the epochs cut from `paths` by `recipe`
// (Sources::Cut, as
// korva epochs cuts them).
py::tuple Extract(const std::vector<std::string>& paths,
                  const Epoching::Recipe& recipe,
                  const Recording::OpenOptions& open,
                  const Sources::BidsFilter& bids) {
  Sources::LoadedData cut =
      Released([&] { return Sources::Cut(paths, recipe, open, bids, false); });
  Data::Dataset& data = cut.data;
  // Epochs of recordings without targets have no labels: 0 each.
  if (!data.hasLabels) data.labels.assign(data.rows, 0.0);
  const py::ssize_t rows = data.rows, cols = data.cols;
  std::vector<double> run(data.groups.size());  // from 1
  std::vector<std::string> subjects, sessions;  // of each epoch's run
  for (size_t i = 0; i < run.size(); ++i) {
    run[i] = data.groups[i] + 1.0;
    subjects.push_back(cut.origins[data.groups[i]].subject);
    sessions.push_back(cut.origins[data.groups[i]].session);
  }
  py::list runs;
  for (const Epoching::RunReport& run : cut.cut->runs)
    runs.append(RunDict(run));
  return py::make_tuple(Own(std::move(data.X), {rows, cols}),
                        Own(std::move(data.labels), {rows}),
                        Own(std::move(run), {rows}),
                        data.names,
                        runs,
                        Epoching::RecipeXml(cut.cut->recipe),
                        subjects,
                        sessions,
                        data.quality);
}

// Filters x (one signal, or one per row) in place, two rows at a time as
// extraction filters channels, and returns it.
py::array_t<double> BandPassed(py::array_t<double, py::array::c_style> x,
                               double fs,
                               std::pair<double, double> band,
                               int order) {
  if (x.ndim() != 1 && x.ndim() != 2)
    throw py::value_error("expected a 1-D or 2-D array");
  const py::ssize_t rows = x.ndim() == 2 ? x.shape(0) : 1;
  const long long n = x.shape(x.ndim() - 1);
  double* samples = x.mutable_data();
  Released([&] {
    const Epoching::BandPass filter(order, band.first, band.second, fs);
    for (py::ssize_t r = 0; r < rows; r += 2) {
      double* row = samples + r * n;
      if (r + 1 < rows)
        filter.Apply(row, row + n, n);
      else
        filter.Apply(row, n);
    }
    return 0;
  });
  return x;
}

// Which runs of EEG-BIDS folders extract_epochs takes.
void BindBidsFilter(py::module_& m) {
  py::class_<Sources::BidsFilter>(m, "BidsFilter")
      .def(py::init([](std::vector<std::string> subjects,
                       std::vector<std::string> sessions,
                       std::vector<std::string> tasks,
                       std::vector<std::string> runs) {
             return Sources::BidsFilter{std::move(subjects),
                                        std::move(sessions),
                                        std::move(tasks),
                                        std::move(runs)};
           }),
           py::arg("subjects"),
           py::arg("sessions"),
           py::arg("tasks"),
           py::arg("runs"));
}

// The default recipe's settings, the defaults of korva.extract_epochs.
void BindRecipeDefaults(py::module_& m) {
  const Epoching::Recipe d;
  Range band, baseline;
  if (d.band) band = std::pair(d.band->low, d.band->high);
  if (d.baseline) baseline = std::pair(d.baseline->startMs, d.baseline->endMs);
  m.attr("DEFAULT_REFERENCE") = Epoching::ReferenceText(d.reference);
  m.attr("DEFAULT_BAND") = py::cast(band);
  m.attr("DEFAULT_FILTER_ORDER") = d.filterOrder;
  m.attr("DEFAULT_WINDOW") = py::make_tuple(d.windowStartMs, d.windowEndMs);
  m.attr("DEFAULT_BINS") = d.bins;
  m.attr("DEFAULT_BASELINE") = py::cast(baseline);
  m.attr("DEFAULT_REJECT") = py::cast(d.rejectMicrovolts);
  m.attr("DEFAULT_RESAMPLE") = py::cast(d.resampleHz);
}

// extract_epochs: recordings cut by the recipe of its settings.
void BindExtraction(py::module_& m) {
  m.def(
      "extract_epochs",
      [](const std::vector<std::string>& paths,
         std::vector<std::string> target,
         std::vector<std::string> nonTarget,
         std::vector<std::string> channels,
         const std::string& reference,
         Range band,
         int filterOrder,
         std::pair<double, std::optional<double>> window,
         int bins,
         Range baseline,
         std::optional<double> reject,
         std::optional<double> resample,
         const std::string& markerColumn,
         std::optional<double> samplingRate,
         const std::string& eegStream,
         const std::string& markerStream,
         const Sources::BidsFilter& bids) {
        return Extract(paths,
                       RecipeOf(std::move(target),
                                std::move(nonTarget),
                                std::move(channels),
                                reference,
                                band,
                                filterOrder,
                                window,
                                bins,
                                baseline,
                                reject,
                                resample),
                       {markerColumn, samplingRate, eegStream, markerStream},
                       bids);
      },
      py::arg("paths"),
      py::arg("target"),
      py::arg("non_target"),
      py::arg("channels"),
      py::arg("reference"),
      py::arg("band"),
      py::arg("filter_order"),
      py::arg("window"),
      py::arg("bins"),
      py::arg("baseline"),
      py::arg("reject"),
      py::arg("resample"),
      py::arg("marker_column"),
      py::arg("sampling_rate"),
      py::arg("xdf_eeg"),
      py::arg("xdf_markers"),
      py::arg("bids"),
      "(X, labels, runs, feature names, run reports, recipe XML, subjects, "
      "sessions, quality warnings) of the epochs of the recordings at "
      "`paths` (or the runs of EEG-BIDS folders that `bids` keeps), cut by "
      "the recipe of these settings.");
}

// x (one signal) resampled by up / down as extraction resamples channels.
std::vector<double> ResamplePoly(py::array_t<double, py::array::c_style> x,
                                 long long up,
                                 long long down) {
  if (x.ndim() != 1) throw py::value_error("expected a 1-D array");
  const double* samples = x.data();
  const long long n = x.shape(0);
  return Released([&] {
    std::vector<double> y;
    Epoching::Resampler(up, down).Apply(samples, n, y);
    return y;
  });
}

// The band-pass on its own, and its sections.
void BindBandPass(py::module_& m) {
  m.def("band_pass",
        &BandPassed,
        py::arg("x").noconvert(),
        py::arg("fs"),
        py::arg("band"),
        py::arg("order"),
        "Filters x (float64, contiguous; one signal or one per row) in "
        "place forward and backward by the Butterworth band-pass of korva "
        "epochs, two rows at a time; returns x.");
  m.def(
      "band_pass_sections",
      [](int order, std::pair<double, double> band, double fs) {
        const Epoching::BandPass filter = Released([&] {
          return Epoching::BandPass(order, band.first, band.second, fs);
        });
        std::vector<std::vector<double>> sos;
        for (const Epoching::Biquad& q : filter.Sections())
          sos.push_back({q.b0, q.b1, q.b2, 1.0, q.a1, q.a2});
        return sos;
      },
      py::arg("order"),
      py::arg("band"),
      py::arg("fs"),
      "The band-pass's second-order sections, rows of b0 b1 b2 1 a1 a2.");
}

}  // namespace

void BindEpochs(py::module_& m) {
  m.def("resample_poly",
        &ResamplePoly,
        py::arg("x"),
        py::arg("up"),
        py::arg("down"),
        "x (float64, 1-D) resampled by up / down by the polyphase resampler "
        "of korva epochs --resample.");
  BindRecipeDefaults(m);
  BindBidsFilter(m);
  BindExtraction(m);
  BindBandPass(m);
}

}  // namespace Korva::Python
