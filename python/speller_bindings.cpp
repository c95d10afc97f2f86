// korva._korva's speller: the layouts, the label rule and the decoding of
// selections of speller/, from numpy arrays, so that Python decodes with the
// code korva spell runs.
#include "python/speller_bindings.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "python/classifier.h"
#include "speller/decoding.h"
#include "speller/error.h"
#include "speller/paradigm.h"
#include "text/number_text.h"

namespace py = pybind11;

namespace Korva::Python {
namespace {

using Numbers = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Runs `work`; the speller's refusals become ValueError.
template <typename Work>
auto Checked(Work&& work) {
  try {
    return work();
  } catch (const Speller::Error& error) {
    throw py::value_error(error.what());
  } catch (const HostKit::Error& error) {
    RaiseKitError(error);
  }
}

// The session of the flashes `codes` (whole numbers from 1) in `selections`
// (any numbers; a selection's flashes share one, selections numbered in
// their order of first appearance), with the targets of `targets` when given.
Speller::Session MakeSession(const Numbers& codes,
                             const Numbers& selections,
                             const std::string& layout,
                             const std::string& symbols,
                             const std::optional<std::string>& targets) {
  if (codes.ndim() != 1 || selections.ndim() != 1 ||
      codes.shape(0) != selections.shape(0))
    throw py::value_error(
        "codes and selections must be 1-D, one of each per flash");
  Speller::Session s;
  s.layout = Speller::MakeLayout(layout, symbols);
  std::map<double, int> numbers;
  for (py::ssize_t f = 0; f < codes.shape(0); ++f) {
    const double code = codes.at(f), selection = selections.at(f);
    if (!(code >= 1 && code <= 1e6 && code == std::floor(code)))
      throw py::value_error("codes[" + std::to_string(f) + "] is " +
                            Text::FormatDouble(code) +
                            ", not a whole number from 1");
    const auto [at, added] =
        numbers.emplace(selection, static_cast<int>(s.names.size()));
    if (added) s.names.push_back("selection " + Text::FormatDouble(selection));
    s.codes.push_back(static_cast<int>(code));
    s.selections.push_back(at->second);
  }
  s.targets.resize(s.names.size());
  if (targets)
    s.targets = Speller::TextTargets(s.layout, *targets, s.Selections());
  return s;
}

py::object Known(const std::optional<double>& value) {
  return value ? py::object(py::float_(*value)) : py::object(py::none());
}

// An outcome as korva spell's JSON gives it.
py::dict Outcome(const Speller::Outcome& o) {
  py::dict d;
  d["repetitions"] = o.repetitions;
  d["accuracy"] = Known(o.accuracy);
  d["itr_bits_per_selection"] = Known(o.bitsPerSelection);
  d["itr_bits_per_minute"] = Known(o.bitsPerMinute);
  d["seconds_per_selection"] = Known(o.secondsPerSelection);
  d["text"] = o.text;
  return d;
}

py::dict SelectionDict(const Speller::Session& s,
                       const Speller::SelectionDecoding& one,
                       int k) {
  py::list ranking;
  for (const Speller::Ranked& r : one.ranking)
    ranking.append(py::make_tuple(s.layout.symbols[r.item], r.score));
  py::dict d;
  d["selection"] = s.names[k];
  d["target"] = s.targets[k]
                    ? py::object(py::str(s.layout.symbols[*s.targets[k]]))
                    : py::object(py::none());
  d["chosen"] = s.layout.symbols[one.chosen.back()];
  d["posterior"] = one.posterior.empty() ? py::object(py::none())
                                         : py::float_(one.posterior.back());
  d["repetitions_used"] = one.stopped > 0 ? py::object(py::int_(one.stopped))
                                          : py::object(py::none());
  d["ranking"] = ranking;
  return d;
}

// (curve, stopping, selections) of the decoding, as dicts and lists.
py::tuple Result(const Speller::Session& s, const Speller::Decoding& d) {
  py::list curve, selections;
  for (const Speller::Outcome& o : d.curve) {
    py::dict point = Outcome(o);
    point["repetitions"] = static_cast<int>(o.repetitions);  // k, whole
    curve.append(point);
  }
  for (int k = 0; k < s.Selections(); ++k)
    selections.append(SelectionDict(s, d.selections[k], k));
  return py::make_tuple(
      curve,
      d.stopping ? py::object(Outcome(*d.stopping)) : py::object(py::none()),
      selections);
}

py::tuple Decode(const Numbers& scores,
                 const Numbers& codes,
                 const Numbers& selections,
                 const std::string& layout,
                 const std::string& symbols,
                 const std::optional<std::string>& targets,
                 Classifier* model,
                 const std::string& module,
                 std::optional<double> stopAt,
                 std::optional<double> flashSeconds,
                 double pauseSeconds) {
  return Checked([&] {
    Speller::Session s =
        MakeSession(codes, selections, layout, symbols, targets);
    s.timing.flashSeconds = flashSeconds;
    s.timing.pauseSeconds = flashSeconds ? pauseSeconds : 0.0;
    if (scores.ndim() != 1) throw py::value_error("scores must be 1-D");
    const std::vector<double> x(scores.data(), scores.data() + scores.shape(0));
    Speller::DecodeOptions options;
    options.stopAt = stopAt;
    if (model && model->Model().Host().classScores)
      options.likelihood =
          HostKit::LikelihoodOfScores(*model->Model().Host().classScores);
    Speller::Decoding d;
    {
      py::gil_scoped_release release;
      d = model ? model->Decode(s, x, options)
                : Classifier::DecodeWith(module, s, x, options);
    }
    return Result(s, d);
  });
}

py::array_t<double> Labels(const Numbers& codes,
                           const Numbers& selections,
                           const std::string& layout,
                           const std::string& symbols,
                           const std::string& targets) {
  return Checked([&] {
    const Speller::Session s =
        MakeSession(codes, selections, layout, symbols, targets);
    return py::array_t<double>(py::cast(Speller::FlashLabels(s)));
  });
}

std::string ParadigmXml(const std::string& layout, const std::string& symbols) {
  return Checked([&] {
    Speller::Paradigm p;
    p.layout = Speller::MakeLayout(layout, symbols);
    return Speller::ParadigmXml(p);
  });
}

}  // namespace

void BindSpeller(py::module_& m) {
  m.def("speller_labels",
        &Labels,
        py::arg("codes"),
        py::arg("selections"),
        py::arg("layout"),
        py::arg("symbols"),
        py::arg("targets"),
        "+1 / -1 per flash: +1 when its code lights its selection's target.");
  m.def("decode_selections",
        &Decode,
        py::arg("scores"),
        py::arg("codes"),
        py::arg("selections"),
        py::arg("layout"),
        py::arg("symbols"),
        py::arg("targets"),
        py::arg("model").none(true),
        py::arg("module"),
        py::arg("stop_at"),
        py::arg("flash_seconds"),
        py::arg("pause_seconds"),
        "(curve, stopping, selections) of korva spell's decoding.");
  m.def("paradigm_xml",
        &ParadigmXml,
        py::arg("layout"),
        py::arg("symbols"),
        "The <Speller> element a model keeps for the layout.");
  m.def(
      "set_speller",
      [](Classifier& c, const std::string& xml) {
        Checked([&] { return Speller::ParseParadigmXml(xml); });
        c.SetSpeller(xml);
      },
      py::arg("classifier"),
      py::arg("xml"),
      "Keeps the <Speller> element `xml` in the classifier's model.");
}

}  // namespace Korva::Python
