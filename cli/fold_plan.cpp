#include "cli/fold_plan.h"

#include <algorithm>
#include <optional>

#include "cli/exit_status.h"
#include "cli/files.h"
#include "cli/options.h"
#include "data/folds.h"
#include "sources/recordings.h"

namespace Korva::Cli {
namespace {

using Sources::kRecordingGroups;

// How the rows are dealt to folds.
enum class Split { kStratified, kBlocks, kGroups };

// The split the options choose: --blocks, --groups, or the groups of a
// column named run (or of several recordings) unless --seed asks for
// shuffled folds.
Split ChooseSplit(const FoldOptions& o, bool groupsGiven, const Dataset& data) {
  if (o.blocks) return Split::kBlocks;
  const bool oneRecording =
      data.groupColumn == kRecordingGroups && data.groupNames.size() < 2;
  if (!data.groupColumn.empty() && !oneRecording &&
      (groupsGiven || !o.SeedGiven()))
    return Split::kGroups;
  return Split::kStratified;
}

// Each row's fold by whole groups; refused with the counts when there are
// too few groups.
std::vector<int> AssignGroupFolds(const Dataset& data,
                                  int folds,
                                  const std::string& what,
                                  std::string& scheme) {
  const int groups = static_cast<int>(data.groupNames.size());
  const std::string column = data.groupColumn;
  const bool recordings = column == kRecordingGroups;
  std::vector<int> fold = Data::GroupFolds(data.groups, groups, folds);
  const std::string count = std::to_string(groups) +
                            (recordings ? " recording" : " group") +
                            (groups == 1 ? "" : "s");
  if (fold.empty())
    throw CliError(
        kExitData,
        "cannot split " + what + " into folds of whole groups: " +
            (recordings ? count : "column " + column + " holds " + count) +
            ", " + std::to_string(folds) + " folds asked" +
            (groups < 2
                 ? " (give --seed for shuffled folds)"
                 : " (give --folds " + std::to_string(groups) + " or fewer)"));
  scheme = std::to_string(folds) + "-fold cross-validation by " +
           (recordings ? "recording" : "the groups in column " + column) +
           (folds < groups ? ""
            : recordings   ? " (leave one recording out)"
                           : " (leave one group out)");
  return fold;
}

// Each row's fold by the split the options choose; refused when the data
// cannot be split so.
std::vector<int> AssignFolds(const FoldOptions& o,
                             const Dataset& data,
                             Split split,
                             int folds,
                             const std::string& what,
                             std::string& scheme) {
  if (split == Split::kGroups)
    return AssignGroupFolds(data, folds, what, scheme);
  const std::string k = std::to_string(folds);
  std::vector<int> fold;
  if (split == Split::kBlocks) {
    fold = Data::BlockFolds(data.rows, folds);
    scheme = k + " contiguous blocks in file order";
    if (fold.empty())
      throw CliError(kExitData,
                     "cannot split " + what + " into " + k + " blocks");
    return fold;
  }
  fold = Data::StratifiedFolds(data.labels, folds, o.seed);
  scheme =
      k + "-fold stratified cross-validation, seed " + std::to_string(o.seed);
  if (fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw CliError(kExitData,
                   "cannot split " + what + " into " + k +
                       " stratified folds: each fold needs a row of each "
                       "class, and the set has " +
                       std::to_string(counts.positive) +
                       " rows labelled +1 and " +
                       std::to_string(counts.negative) + " labelled -1");
  }
  return fold;
}

// The names of the groups whose rows are in fold k, in file order.
std::vector<std::string> GroupsOfFold(const Dataset& data,
                                      const std::vector<int>& fold,
                                      int k) {
  std::vector<bool> in(data.groupNames.size(), false);
  for (int r = 0; r < data.rows; ++r)
    if (fold[r] == k) in[data.groups[r]] = true;
  std::vector<std::string> names;
  for (size_t g = 0; g < in.size(); ++g)
    if (in[g]) names.push_back(data.groupNames[g]);
  return names;
}

}  // namespace

void AddFoldOptions(CLI::App* command, FoldOptions& o, DataSource& data) {
  o.foldsOption =
      command->add_option("--folds", o.folds, "number of folds (default 5)")
          ->check(CLI::Range(2, 1000));
  o.seedOption =
      command
          ->add_option(
              "--seed", o.seed, "seed of the stratified fold split (default 1)")
          ->transform(kWholeNumber);
  command->add_flag("--blocks",
                    o.blocks,
                    "contiguous folds in file order instead of shuffled ones");
  AddTableOptions(command,
                  data,
                  "CSV column of group names (runs, sessions), not a "
                  "feature: each group stays in one fold, and without "
                  "--folds each group is a fold of its own (default: a "
                  "column named run, unless --seed or --blocks is given)");
}

void CheckFoldOptions(const FoldOptions& o, const DataSource& data) {
  if (o.blocks && !data.groups.empty())
    throw CliError(kExitUsage,
                   "--blocks and --groups are two fold schemes: give one");
}

std::string Plan::GroupsText(size_t k) const {
  if (groupColumn.empty()) return "";
  std::string text = groupColumn + " ";
  for (size_t g = 0; g < groups[k].size(); ++g)
    text += (g ? ", " : "") + groups[k][g];
  return text;
}

std::string Plan::Label(size_t k) const {
  return groupColumn.empty() ? names[k] : names[k] + " (" + GroupsText(k) + ")";
}

Plan CrossValidationPlan(const FoldOptions& o,
                         bool groupsGiven,
                         const Dataset& data,
                         const std::string& what) {
  Plan plan;
  const Split split = ChooseSplit(o, groupsGiven, data);
  const int folds = o.FoldsGiven() || split != Split::kGroups
                        ? o.folds
                        : static_cast<int>(data.groupNames.size());
  const std::vector<int> fold =
      AssignFolds(o, data, split, folds, what, plan.scheme);
  plan.shuffled = split == Split::kStratified;
  if (split == Split::kGroups) plan.groupColumn = data.groupColumn;
  for (int k = 0; k < folds; ++k) {
    std::vector<int> rows;
    for (int r = 0; r < data.rows; ++r)
      if (fold[r] == k) rows.push_back(r);
    const int trainRows = data.rows - static_cast<int>(rows.size());
    plan.folds.push_back(
        {[&data, fold, k] { return Data::SubsetByFold(data, fold, k, false); },
         trainRows,
         Data::SubsetByFold(data, fold, k, true),
         std::move(rows)});
    plan.names.push_back("fold " + std::to_string(k + 1));
    Data::LabelCounts train = Data::CountLabels(data);
    const Data::LabelCounts test = Data::CountLabels(plan.folds.back().test);
    train.positive -= test.positive;
    train.negative -= test.negative;
    plan.trainClasses.push_back(train);
    if (split == Split::kGroups)
      plan.groups.push_back(GroupsOfFold(data, fold, k));
  }
  plan.title = "DOZOD: " + plan.scheme + " on " + what;
  return plan;
}

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

int LargestTrainingSet(const Plan& plan) {
  int rows = 0;
  for (const FoldData& fold : plan.folds) rows = std::max(rows, fold.trainRows);
  return rows;
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

}  // namespace Korva::Cli
