#include "cli/cross_validation_outputs.h"

#include <optional>

#include "cli/files.h"
#include "cli/texts.h"
#include "data/data_checks.h"
#include "korva/stepwise_settings.h"

namespace Korva::Cli {

std::string FoldRemark(const Plan& plan, size_t k) {
  std::string remark = plan.GroupsText(k);
  const Data::LabelCounts test = Data::CountLabels(plan.folds[k].test);
  const Data::LabelCounts& train = plan.trainClasses[k];
  for (const auto& [count, what] :
       {std::pair{test.positive, "no test rows labelled +1"},
        std::pair{test.negative, "no test rows labelled -1"},
        std::pair{train.positive, "no training rows labelled +1"},
        std::pair{train.negative, "no training rows labelled -1"}})
    if (count == 0) remark += (remark.empty() ? "" : "; ") + std::string(what);
  return remark;
}

Json FoldJson(const Plan& plan,
              size_t k,
              const FoldResult& r,
              const std::vector<std::string>& names) {
  Json selection = Json::array();
  for (size_t i = 0; i < r.selected.size(); ++i)
    if (r.selected[i])
      selection.push_back({{"index", i + 1},
                           {"name", i < names.size() ? names[i] : ""},
                           {"weight", r.weights[i]}});
  const FoldData& fold = plan.folds[k];
  return {{"name", plan.names[k]},
          {"groups", plan.groupColumn.empty() ? Json() : Json(plan.groups[k])},
          {"train_rows", fold.trainRows},
          {"test_rows", fold.test.rows},
          {"selected", r.SelectedCount()},
          {"selection", selection},
          {"seconds", r.seconds},
          {"metrics", MetricsJson(r.scores, fold.test.labels, r.cut)}};
}

namespace {

// The cut of every fold when they all decide at the same one.
std::optional<double> CommonCut(const std::vector<FoldResult>& results) {
  for (const FoldResult& r : results)
    if (r.cut != results[0].cut) return std::nullopt;
  return results[0].cut;
}

}  // namespace

Json OverallJson(const FoldSummary& s, const std::vector<FoldResult>& results) {
  return {
      {"mean_auc", s.meanAuc},
      {"auc_spread", s.aucSpread},
      {"mean_accuracy", s.meanAccuracy},
      {"auc_folds", s.aucFolds},
      {"mean_selected", s.meanSelected},
      {"pooled",
       MetricsJson(
           s.pooledScores.size(), s.pooledAuc, s.pooled, CommonCut(results))}};
}

void FillFoldCharts(Report::ReportContent& content,
                    const Plan& plan,
                    const std::vector<FoldResult>& results,
                    const FoldSummary& s,
                    const std::vector<std::string>& names) {
  for (size_t k = 0; k < results.size(); ++k)
    content.rocs.push_back(
        {plan.Label(k), results[k].scores, plan.folds[k].test.labels});
  const bool several = results.size() > 1;
  content.scores = s.pooledScores;
  content.labels = s.pooledLabels;
  content.scoresCaption = several ? "Out-of-fold scores of every fold together."
                                  : "Scores of the test set.";
  FillWeights(content, names, s.meanWeights, s.selected);
  if (!several) return;
  content.weightNotes.resize(s.timesSelected.size());
  for (size_t i = 0; i < s.timesSelected.size(); ++i)
    if (s.timesSelected[i])
      content.weightNotes[i] = "(" + std::to_string(s.timesSelected[i]) + "/" +
                               std::to_string(results.size()) + ")";
  content.weightsCaption =
      "Mean weight over the folds; in brackets, in how many folds the "
      "feature was selected.";
}

std::string GridText(const Grid& grid) {
  const size_t settings = grid.settings.size();
  return std::to_string(settings) + (settings == 1 ? " setting" : " settings") +
         ": p-enter " + Validation::ListText(grid.pEnter) + " x p-remove " +
         Validation::ListText(grid.pRemove) + " x max-iter " +
         Validation::ListText(grid.maxIter) +
         (grid.skipped == 0 ? ""
                            : " (" + std::to_string(grid.skipped) +
                                  (grid.skipped == 1 ? " pair" : " pairs") +
                                  " with p-enter >= p-remove skipped)");
}

Json GridJson(const Grid& grid) {
  return {{"p_enter", grid.pEnter},
          {"p_remove", grid.pRemove},
          {"max_iter", grid.maxIter},
          {"settings", grid.settings.size()},
          {"skipped", grid.skipped}};
}

Json SettingJson(const HostKit::SettingsChange& setting) {
  return {{"p_enter", setting.pEnter.value_or(kDefaultPEnter)},
          {"p_remove", setting.pRemove.value_or(kDefaultPRemove)},
          {"max_iter", setting.maxIter.value_or(kDefaultMaxIter)}};
}

std::string ChoiceRuleText(const Tuning& t, const Grid& grid) {
  if (!t.oneSe) return "the best mean AUC";
  const FoldSummary& best = t.runs[t.ranking[0]].summary;
  const FoldSummary& s = t.runs[t.chosen].summary;
  const double se = AucStandardError(best);
  return "the one-standard-error rule: the fewest features on average (" +
         Fixed(s.meanSelected, 1) +
         ") of the settings whose mean AUC is at least " +
         Fixed(best.meanAuc - se, 3) + ", the best (" + Fixed(best.meanAuc, 3) +
         ", " + SettingText(grid.settings[t.ranking[0]]) +
         ") less its standard error (" + Fixed(se, 3) + ")";
}

}  // namespace Korva::Cli
