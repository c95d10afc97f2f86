#include "validation/selection_folds.h"

#include <map>
#include <string>

namespace Korva::Validation {
namespace {

// The part of `s` that `flashes` (rows, in order) hold, its selections
// numbered again in their order of first appearance.
Speller::Session Subset(const Speller::Session& s,
                        const std::vector<int>& flashes) {
  Speller::Session part;
  part.layout = s.layout;
  part.timing = s.timing;
  std::map<int, int> renumbered;
  for (int f : flashes) {
    const int old = s.selections[f];
    const auto [at, added] =
        renumbered.emplace(old, static_cast<int>(part.names.size()));
    if (added) {
      part.names.push_back(s.names[old]);
      part.targets.push_back(s.targets[old]);
    }
    part.codes.push_back(s.codes[f]);
    part.selections.push_back(at->second);
  }
  return part;
}

}  // namespace

void GroupForSelections(Data::Dataset& data, const Speller::Session& session) {
  if (data.groupNames.size() > 1) return;
  data.groupColumn = kSelectionGroups;
  data.groups = session.selections;
  data.groupNames.clear();
  for (int k = 1; k <= session.Selections(); ++k)
    data.groupNames.push_back(std::to_string(k));
}

SelectionEvaluation EvaluateSelections(const Plan& plan,
                                       const std::vector<FoldResult>& results,
                                       const Speller::Session& session,
                                       ClassifierBase& ranker) {
  std::vector<double> scores(session.codes.size());
  std::vector<int> foldOf(session.Selections(), -1);
  SelectionEvaluation e;
  for (size_t k = 0; k < plan.folds.size(); ++k) {
    const std::vector<int>& rows = plan.folds[k].testRows;
    for (size_t i = 0; i < rows.size(); ++i) {
      scores[rows[i]] = results[k].scores[i];
      int& fold = foldOf[session.selections[rows[i]]];
      if (fold >= 0 && fold != static_cast<int>(k))
        throw Error(ErrorKind::kData,
                    session.names[session.selections[rows[i]]] +
                        " lies in two folds: selections are held out whole");
      fold = static_cast<int>(k);
    }
    const Speller::Session part = Subset(session, rows);
    std::vector<double> partScores(results[k].scores.begin(),
                                   results[k].scores.end());
    e.folds.push_back(Speller::Decode(part, partScores, ranker));
    e.foldSelections.push_back(part.Selections());
  }
  e.pooled = Speller::Decode(session, scores, ranker);
  return e;
}

}  // namespace Korva::Validation
