// korva._korva's cross-validation rules, so that StepwiseLDACV
// (korva/_search.py) makes the grid, deals the folds and chooses exactly as
// korva tune: the Python package trains and scores the folds, the engine
// decides.
#include "python/validation_bindings.h"

#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "validation/fold_plan.h"
#include "validation/fold_summary.h"
#include "validation/grid.h"

namespace py = pybind11;

namespace Korva::Python {
namespace {

// The estimator's parameters as messages name them; its folds and seed are
// parameters of their own, so the refusals name no option to change.
const Validation::InputNames kNames{"p_enter", "p_remove", "max_iter", "", ""};

// The engine's refusals are of the caller's values: ValueError.
template <typename Work>
auto CallersValues(Work&& work) {
  try {
    return work();
  } catch (const Validation::Error& error) {
    throw py::value_error(error.what());
  }
}

// ([{"max_iter", "p_enter", "p_remove"}, ...] in korva's grid order, the
// number of pairs skipped).
py::tuple MakeGrid(std::vector<double> pEnter,
                   std::vector<double> pRemove,
                   std::vector<int> maxIter) {
  const Validation::Grid grid = CallersValues([&] {
    return Validation::MakeGrid(
        std::move(pEnter), std::move(pRemove), std::move(maxIter), kNames);
  });
  py::list settings;
  for (const HostKit::SettingsChange& s : grid.settings) {
    py::dict setting;
    setting["max_iter"] = *s.maxIter;
    setting["p_enter"] = *s.pEnter;
    setting["p_remove"] = *s.pRemove;
    settings.append(setting);
  }
  return py::make_tuple(settings, grid.skipped);
}

// The groups of `groups` numbered from 0 in their order of first
// appearance, as korva's readers number a group column; equal as Python
// compares them.
void NumberGroups(const py::sequence& groups, Data::Dataset& data) {
  py::dict number;
  for (const py::handle group : groups) {
    if (!number.contains(group)) {
      number[group] = data.groupNames.size();
      data.groupNames.push_back(py::str(group));
    }
    data.groups.push_back(number[group].cast<int>());
  }
}

// (each row's fold, the number of folds) of korva's folds of X: by whole
// groups when `groups` is given (each a fold when `folds` is 0), else
// stratified with `seed` (kDefaultFolds when `folds` is 0).
py::tuple DealFolds(const std::vector<double>& labels,
                    std::optional<py::sequence> groups,
                    int folds,
                    std::uint64_t seed) {
  Data::Dataset data;
  data.rows = static_cast<int>(labels.size());
  data.labels = labels;
  data.hasLabels = true;
  Validation::Scheme scheme;
  scheme.folds = folds;
  scheme.seed = seed;
  if (groups) {
    if (py::len(*groups) != labels.size())
      throw py::value_error("groups has " + std::to_string(py::len(*groups)) +
                            " values but X has " +
                            std::to_string(labels.size()) + " rows");
    data.groupColumn = "groups";
    scheme.groupsGiven = true;
    NumberGroups(*groups, data);
  }
  const Validation::FoldAssignment a = CallersValues(
      [&] { return Validation::DealFolds(scheme, data, "X", kNames); });
  return py::make_tuple(a.fold, a.count);
}

// What korva tune's rule makes of fold scores (settings x folds, NaN
// without a score) and numbers of selected features, for the settings not
// `failed`: {"mean", "spread" (sample, ddof 1), "standard_error",
// "scored_folds", "mean_n_features", "rank" (GridSearchCV's numbering),
// "order" (best first), "chosen" (None: nothing to choose)}.
py::dict ChooseSetting(const std::vector<std::vector<double>>& scores,
                       const std::vector<std::vector<double>>& features,
                       const std::vector<bool>& failed,
                       bool oneSe) {
  if (features.size() != scores.size() || failed.size() != scores.size())
    throw py::value_error(
        "expected one row of scores, features and failed "
        "per setting");
  std::vector<Validation::FoldSummary> summaries;
  std::vector<const Validation::FoldSummary*> given;
  for (size_t s = 0; s < scores.size(); ++s)
    summaries.push_back(Validation::SummarizeScores(scores[s], features[s]));
  std::vector<double> mean, spread, se, selected;
  std::vector<int> folds;
  for (size_t s = 0; s < scores.size(); ++s) {
    const Validation::FoldSummary& summary = summaries[s];
    given.push_back(failed[s] ? nullptr : &summary);
    mean.push_back(failed[s] ? NAN : summary.meanAuc);
    spread.push_back(failed[s] ? NAN : summary.aucSpread);
    se.push_back(failed[s] ? NAN : Validation::AucStandardError(summary));
    folds.push_back(failed[s] ? 0 : summary.aucFolds);
    selected.push_back(failed[s] ? NAN : summary.meanSelected);
  }
  const std::optional<size_t> chosen = Validation::ChooseSetting(given, oneSe);
  py::dict choice;
  choice["mean"] = mean;
  choice["spread"] = spread;
  choice["standard_error"] = se;
  choice["scored_folds"] = folds;
  choice["mean_n_features"] = selected;
  choice["rank"] = Validation::RankNumbers(given);
  choice["order"] = Validation::RankSettings(given);
  choice["chosen"] = chosen ? py::object(py::int_(*chosen)) : py::none();
  return choice;
}

}  // namespace

void BindValidation(py::module_& m) {
  m.def("make_grid",
        &MakeGrid,
        py::arg("p_enter"),
        py::arg("p_remove"),
        py::arg("max_iter"),
        "(settings, skipped): korva's grid of the lists, in korva tune's "
        "order, without the pairs the module refuses; ValueError as korva "
        "refuses a grid.");
  m.def("deal_folds",
        &DealFolds,
        py::arg("labels"),
        py::arg("groups"),
        py::arg("folds"),
        py::arg("seed"),
        "(fold of each row, number of folds): korva's folds of rows labelled "
        "+1 and -1, by whole groups when groups is not None, else "
        "stratified with the seed; folds 0 asks for korva's default. "
        "ValueError when the rows cannot be split so.");
  m.def("choose_setting",
        &ChooseSetting,
        py::arg("scores"),
        py::arg("n_features"),
        py::arg("failed"),
        py::arg("one_se"),
        "korva tune's summary, ranking and choice of the settings from "
        "their fold scores (settings x folds, NaN for none) and numbers of "
        "selected features.");
  m.attr("DEFAULT_FOLDS") = Validation::kDefaultFolds;
  m.attr("DEFAULT_SEED") = Validation::kDefaultSeed;
}

}  // namespace Korva::Python
