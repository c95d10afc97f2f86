#include "speller/session.h"

#include <cmath>

#include "speller/error.h"

namespace Korva::Speller {
namespace {

std::string Times(int n) {
  return n == 1 ? "once" : std::to_string(n) + " times";
}

std::string RepetitionsText(int n) {
  return std::to_string(n) + (n == 1 ? " repetition" : " repetitions");
}

}  // namespace

bool Session::TargetsKnown() const {
  for (const std::optional<int>& target : targets)
    if (!target) return false;
  return !targets.empty();
}

double FlashLabel(const Layout& layout, int code, int target) {
  const int c = layout.CodeIndex(code);
  return c >= 0 && layout.Lights(c, target) ? 1.0 : -1.0;
}

std::vector<double> FlashLabels(const Session& session) {
  std::vector<double> labels(session.codes.size(), 0.0);
  for (size_t f = 0; f < labels.size(); ++f)
    if (const auto& target = session.targets[session.selections[f]])
      labels[f] = FlashLabel(session.layout, session.codes[f], *target);
  return labels;
}

std::optional<int> TargetOfLabels(const Layout& layout,
                                  const std::vector<int>& codes,
                                  const std::vector<double>& labels,
                                  const std::string& what) {
  std::vector<char> fits(layout.Items(), 1);
  bool labelled = false;
  for (size_t f = 0; f < codes.size(); ++f) {
    if (labels[f] != 1.0 && labels[f] != -1.0) continue;
    labelled = true;
    const int c = layout.CodeIndex(codes[f]);
    for (int item = 0; item < layout.Items(); ++item)
      if ((c >= 0 && layout.Lights(c, item)) != (labels[f] == 1.0))
        fits[item] = 0;
  }
  if (!labelled) return std::nullopt;
  std::vector<int> found;
  for (int item = 0; item < layout.Items(); ++item)
    if (fits[item]) found.push_back(item);
  if (found.size() == 1) return found[0];
  std::string items;
  for (int item : found) items += layout.symbols[item];
  throw Error(
      ErrorKind::kData,
      what + ": the target flashes " +
          (found.empty() ? std::string("light no one item that no other flash "
                                       "lights")
                         : "fit " + std::to_string(found.size()) + " items (" +
                               items + ")") +
          ", where a selection has one target");
}

Repetitions CountRepetitions(const Session& s) {
  const int codes = s.layout.Codes();
  std::vector<std::vector<int>> seen(s.Selections(), std::vector<int>(codes));
  Repetitions r;
  r.of.resize(s.codes.size());
  for (size_t f = 0; f < s.codes.size(); ++f) {
    const int c = s.layout.CodeIndex(s.codes[f]);
    if (c < 0)
      throw Error(ErrorKind::kData,
                  s.names[s.selections[f]] + ": code " +
                      std::to_string(s.codes[f]) + " is not one of the " +
                      LayoutText(s.layout) + "'s");
    r.of[f] = seen[s.selections[f]][c]++;
  }
  for (int k = 0; k < s.Selections(); ++k) {
    for (int c = 0; c < codes; ++c) {
      if (seen[k][c] == seen[k][0]) continue;
      const bool fewer = seen[k][c] < seen[k][0];
      const int low = fewer ? c : 0, high = fewer ? 0 : c;
      throw Error(ErrorKind::kData,
                  s.names[k] + ": code " + std::to_string(s.layout.codes[low]) +
                      " is flashed " + Times(seen[k][low]) + " and code " +
                      std::to_string(s.layout.codes[high]) + " " +
                      Times(seen[k][high]) +
                      ": every code of a selection must be flashed as often "
                      "(a flash missing, or dropped with its epoch?)");
    }
    if (seen[k][0] == 0)
      throw Error(ErrorKind::kData, s.names[k] + ": no flash");
    if (k > 0 && seen[k][0] != r.count)
      throw Error(ErrorKind::kData,
                  s.names[k] + " has " + RepetitionsText(seen[k][0]) +
                      " and " + s.names[0] + " " + std::to_string(r.count) +
                      ": the selections must have as many");
    r.count = seen[k][0];
  }
  return r;
}

std::vector<std::optional<int>> TextTargets(const Layout& layout,
                                            const std::string& text,
                                            int selections) {
  const std::vector<int> items = TextItems(layout, text, "--target-text");
  if (static_cast<int>(items.size()) != selections)
    throw Error(ErrorKind::kSettings,
                "--target-text has " + std::to_string(items.size()) +
                    " symbols for " + std::to_string(selections) +
                    " selections: give one symbol per selection");
  return std::vector<std::optional<int>>(items.begin(), items.end());
}

}  // namespace Korva::Speller
