#include "validation/fold_plan.h"

#include <algorithm>

#include "validation/folds.h"

namespace Korva::Validation {
namespace {

// How the rows are dealt to folds.
enum class Split { kStratified, kBlocks, kGroups };

// The split a scheme chooses: blocks, the groups of the data (named, or
// found by name unless shuffled folds were asked for; not a lone
// recording), else stratified.
Split ChooseSplit(const Scheme& s, const Data::Dataset& data) {
  if (s.blocks) return Split::kBlocks;
  const bool oneRecording = s.recordings && data.groupNames.size() < 2;
  if (!data.groupColumn.empty() && !oneRecording &&
      (s.groupsGiven || !s.shuffle))
    return Split::kGroups;
  return Split::kStratified;
}

// What the caller could change when there are too few groups.
std::string GroupsHint(int groups, const InputNames& names) {
  if (groups < 2)
    return names.seed.empty() ? ""
                              : " (give " + names.seed + " for shuffled folds)";
  return names.folds.empty() ? ""
                             : " (give " + names.folds + " " +
                                   std::to_string(groups) + " or fewer)";
}

// Each row's fold by whole groups; refused with the counts when there are
// too few groups.
FoldAssignment ByGroups(const Scheme& s,
                        const Data::Dataset& data,
                        int folds,
                        const std::string& what,
                        const InputNames& names) {
  const int groups = static_cast<int>(data.groupNames.size());
  const std::string& column = data.groupColumn;
  FoldAssignment a;
  a.fold = GroupFolds(data.groups, groups, folds);
  a.count = folds;
  a.byGroups = true;
  const std::string count = std::to_string(groups) +
                            (s.recordings ? " recording" : " group") +
                            (groups == 1 ? "" : "s");
  if (a.fold.empty())
    throw Error(
        ErrorKind::kData,
        "cannot split " + what + " into folds of whole groups: " +
            (s.recordings ? count : "column " + column + " holds " + count) +
            ", " + std::to_string(folds) + " folds asked" +
            GroupsHint(groups, names));
  a.scheme = std::to_string(folds) + "-fold cross-validation by " +
             (s.recordings ? "recording" : "the groups in column " + column) +
             (folds < groups ? ""
              : s.recordings ? " (leave one recording out)"
                             : " (leave one group out)");
  return a;
}

FoldAssignment InBlocks(const Data::Dataset& data,
                        int folds,
                        const std::string& what) {
  const std::string k = std::to_string(folds);
  FoldAssignment a;
  a.fold = BlockFolds(data.rows, folds);
  a.count = folds;
  if (a.fold.empty())
    throw Error(ErrorKind::kData,
                "cannot split " + what + " into " + k + " blocks");
  a.scheme = k + " contiguous blocks in file order";
  return a;
}

FoldAssignment Stratified(const Data::Dataset& data,
                          int folds,
                          std::uint64_t seed,
                          const std::string& what) {
  const std::string k = std::to_string(folds);
  FoldAssignment a;
  a.fold = StratifiedFolds(data.labels, folds, seed);
  a.count = folds;
  if (a.fold.empty()) {
    const Data::LabelCounts counts = Data::CountLabels(data);
    throw Error(ErrorKind::kData,
                "cannot split " + what + " into " + k +
                    " stratified folds: each fold needs a row of each "
                    "class, and the set has " +
                    std::to_string(counts.positive) + " rows labelled +1 and " +
                    std::to_string(counts.negative) + " labelled -1");
  }
  a.shuffled = true;
  a.scheme =
      k + "-fold stratified cross-validation, seed " + std::to_string(seed);
  return a;
}

// The names of the groups whose rows are in fold k, in file order.
std::vector<std::string> GroupsOfFold(const Data::Dataset& data,
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

FoldAssignment DealFolds(const Scheme& s,
                         const Data::Dataset& data,
                         const std::string& what,
                         const InputNames& names) {
  const Split split = ChooseSplit(s, data);
  const int folds = s.folds != 0 ? s.folds
                    : split == Split::kGroups
                        ? static_cast<int>(data.groupNames.size())
                        : kDefaultFolds;
  switch (split) {
    case Split::kGroups:
      return ByGroups(s, data, folds, what, names);
    case Split::kBlocks:
      return InBlocks(data, folds, what);
    case Split::kStratified:
      break;
  }
  return Stratified(data, folds, s.seed, what);
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

Plan MakePlan(const Scheme& scheme,
              const Data::Dataset& data,
              const std::string& what) {
  const FoldAssignment a = DealFolds(scheme, data, what);
  const std::vector<int>& fold = a.fold;
  Plan plan;
  plan.scheme = a.scheme;
  plan.shuffled = a.shuffled;
  if (a.byGroups) plan.groupColumn = data.groupColumn;
  for (int k = 0; k < a.count; ++k) {
    std::vector<int> rows, trainRows;
    for (int r = 0; r < data.rows; ++r)
      (fold[r] == k ? rows : trainRows).push_back(r);
    plan.folds.push_back(
        {[&data, fold, k] { return SubsetByFold(data, fold, k, false); },
         static_cast<int>(trainRows.size()),
         SubsetByFold(data, fold, k, true, false),
         std::move(rows),
         &data,
         std::move(trainRows)});
    plan.names.push_back("fold " + std::to_string(k + 1));
    Data::LabelCounts train = Data::CountLabels(data);
    const Data::LabelCounts test = Data::CountLabels(plan.folds.back().test);
    train.positive -= test.positive;
    train.negative -= test.negative;
    plan.trainClasses.push_back(train);
    if (a.byGroups) plan.groups.push_back(GroupsOfFold(data, fold, k));
  }
  return plan;
}

int LargestTrainingSet(const Plan& plan) {
  int rows = 0;
  for (const FoldData& fold : plan.folds) rows = std::max(rows, fold.trainRows);
  return rows;
}

}  // namespace Korva::Validation
