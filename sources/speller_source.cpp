#include "sources/speller_source.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "korva/hostkit/memory_budget.h"
#include "sources/data_source.h"
#include "sources/source_error.h"
#include "speller/error.h"
#include "text/number_text.h"

namespace Korva::Sources {
namespace {

using Epoching::EventMatches;

bool InList(const std::vector<std::string>& list, const std::string& text) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
    return EventMatches(entry, text);
  });
}

}  // namespace

const SpellerEventKind& SpellerEvents::Of(const std::string& text) {
  const auto [at, added] = kinds_.emplace(text, SpellerEventKind{});
  if (!added) return at->second;
  SpellerEventKind& kind = at->second;
  for (int code : p_.layout.codes)
    if (EventMatches(std::to_string(code), text)) kind.code = code;
  kind.start = InList(p_.selectionEvents, text);
  kind.mark = InList(r_.targets, text)      ? 1
              : InList(r_.nonTargets, text) ? -1
                                            : 0;
  return kind;
}

void RefuseCodeMarkers(const Speller::Paradigm& p, const Epoching::Recipe& r) {
  for (const auto& [list, option] :
       {std::pair{&r.targets, "--target-events"},
        {&r.nonTargets, "--nontarget-events"},
        {&p.selectionEvents, "--selection-events"}})
    for (const std::string& entry : *list)
      for (int code : p.layout.codes)
        if (EventMatches(entry, std::to_string(code)))
          throw Error(ErrorKind::kUsage,
                      std::string(option) + " " + entry + " is code " +
                          std::to_string(code) +
                          " of the layout, whose events are flashes; "
                          "markers need events of their own");
}

namespace {

// The flashes of one recording, in order.
struct RunFlashes {
  std::vector<Epoching::PlannedEpoch> epochs;  // labels filled in later
  std::vector<int> codes, selections, marks;   // selections from 0
  int count = 0;                               // selections
  long long before = 0;  // flashes before the first selection event
};

// The flashes of `run` and the selection of each.
RunFlashes ReadFlashes(const Recording::Recording& run,
                       const Speller::Paradigm& p,
                       SpellerEvents& kinds) {
  std::map<long long, int> marks;  // by sample
  for (const Recording::Event& event : run.Events())
    if (const int mark = kinds.Of(event.code).mark) marks[event.sample] = mark;
  RunFlashes f;
  bool started = false;  // a selection event since the last flash
  for (const Recording::Event& event : run.Events()) {
    const SpellerEventKind& kind = kinds.Of(event.code);
    started = started || kind.start;
    if (kind.code == 0) continue;
    const long long n = static_cast<long long>(f.codes.size());
    if (p.selectionFlashes > 0) {
      f.count = static_cast<int>(n / p.selectionFlashes) + 1;
    } else if (started) {
      ++f.count;
      started = false;
    } else if (f.count == 0) {
      ++f.before;
      continue;
    }
    f.epochs.push_back({event.sample, 0});
    f.codes.push_back(kind.code);
    f.selections.push_back(f.count - 1);
    const auto mark = marks.find(event.sample);
    f.marks.push_back(mark == marks.end() ? 0 : mark->second);
  }
  if (p.selectionFlashes > 0 && f.codes.size() % p.selectionFlashes != 0)
    throw Data::DataError(run.Path() + ": its last selection has " +
                          std::to_string(f.codes.size() % p.selectionFlashes) +
                          " flashes, where a selection has " +
                          std::to_string(p.selectionFlashes) +
                          " (--selection-flashes)");
  if (f.codes.empty())
    throw Data::DataError(
        run.Path() +
        ": no flash (no event of the layout's "
        "codes" +
        std::string(p.selectionFlashes > 0 ? "" : " after a selection event") +
        ")");
  return f;
}

// The median of `values` (not empty).
double Median(std::vector<double> values) {
  const size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + half, values.end());
  return values[half];
}

// The flash interval and the pause between selections, from the onsets.
Speller::Timing OnsetTiming(const std::vector<RunFlashes>& runs, double fs) {
  std::vector<double> steps, gaps;
  for (const RunFlashes& run : runs)
    for (size_t f = 1; f < run.epochs.size(); ++f) {
      const double d = (run.epochs[f].onset - run.epochs[f - 1].onset) / fs;
      (run.selections[f] == run.selections[f - 1] ? steps : gaps).push_back(d);
    }
  Speller::Timing timing;
  if (steps.empty()) return timing;
  timing.flashSeconds = Median(steps);
  if (!gaps.empty())
    timing.pauseSeconds = std::max(0.0, Median(gaps) - *timing.flashSeconds);
  timing.source = "from the flash onsets";
  return timing;
}

// The targets of the selections: from the text, else from the marks.
void FindTargets(Speller::Session& s,
                 const std::vector<double>& marks,
                 const SpellerRequest& request) {
  if (!request.targetText.empty()) {
    s.targets =
        Speller::TextTargets(s.layout, request.targetText, s.Selections());
    return;
  }
  std::vector<std::vector<int>> codes(s.Selections());
  std::vector<std::vector<double>> labels(s.Selections());
  for (size_t f = 0; f < s.codes.size(); ++f) {
    codes[s.selections[f]].push_back(s.codes[f]);
    labels[s.selections[f]].push_back(marks[f]);
  }
  for (int k = 0; k < s.Selections(); ++k)
    s.targets[k] =
        Speller::TargetOfLabels(s.layout, codes[k], labels[k], s.names[k]);
}

// Error(kUsage) naming the first selection without a target, when the
// request needs them all.
void RequireTargets(const Speller::Session& s, const SpellerRequest& request) {
  if (!request.targetsRequired) return;
  for (int k = 0; k < s.Selections(); ++k)
    if (!s.targets[k])
      throw Error(ErrorKind::kUsage,
                  "the target of " + s.names[k] +
                      " is not known, and training needs every flash's "
                      "label: give --target-text, or the markers of target "
                      "flashes with --target-events");
}

// The session without the flashes whose epochs were not kept.
void KeepFlashes(Speller::Session& s, const std::vector<char>& kept) {
  size_t to = 0;
  for (size_t f = 0; f < kept.size(); ++f)
    if (kept[f]) {
      s.codes[to] = s.codes[f];
      s.selections[to++] = s.selections[f];
    }
  s.codes.resize(to);
  s.selections.resize(to);
}

// The session of the flashes of every run, selections numbered through.
Speller::Session StackRuns(const std::vector<RunFlashes>& runs,
                           const std::vector<std::string>& paths,
                           const Speller::Paradigm& p,
                           std::vector<double>& marks) {
  Speller::Session s;
  s.layout = p.layout;
  for (size_t k = 0; k < runs.size(); ++k) {
    const int first = s.Selections();
    for (size_t f = 0; f < runs[k].codes.size(); ++f) {
      s.codes.push_back(runs[k].codes[f]);
      s.selections.push_back(first + runs[k].selections[f]);
      marks.push_back(runs[k].marks[f]);
    }
    for (int j = 1; j <= runs[k].count; ++j)
      s.names.push_back("selection " + std::to_string(j) + " of " + paths[k]);
    s.targets.resize(s.names.size());
  }
  return s;
}

}  // namespace

LoadedData CutSpeller(const DataSource& source,
                      const Epoching::Recipe& recipe,
                      const SpellerRequest& request) {
  const Speller::Paradigm& p = request.paradigm;
  if (std::string why = Epoching::CheckRecipe(recipe, false); !why.empty())
    throw Error(ErrorKind::kUsage, why);
  if (p.selectionEvents.empty() && p.selectionFlashes == 0)
    throw Error(ErrorKind::kUsage,
                "say where the selections of " + source.Name() +
                    " start: --selection-events EVENTS (the markers that "
                    "start one) or --selection-flashes N (flashes each)");
  RefuseCodeMarkers(p, recipe);
  OpenedRecordings opened = OpenRecordings(source.paths, source.open);
  SpellerEvents kinds(p, recipe);
  std::vector<RunFlashes> runs;
  for (const auto& run : opened.runs)
    runs.push_back(ReadFlashes(*run, p, kinds));
  std::vector<double> marks;
  LoadedData cut;
  Speller::Session& s =
      cut.speller.emplace(StackRuns(runs, source.paths, p, marks));
  FindTargets(s, marks, request);
  RequireTargets(s, request);
  std::vector<std::vector<Epoching::PlannedEpoch>> plans;
  for (size_t k = 0, f = 0; k < runs.size(); ++k) {
    plans.push_back(runs[k].epochs);
    for (Epoching::PlannedEpoch& epoch : plans.back()) {
      if (const auto& target = s.targets[s.selections[f]])
        epoch.label = static_cast<int>(
            Speller::FlashLabel(s.layout, s.codes[f], *target));
      ++f;
    }
  }
  std::vector<char> kept;
  for (const auto& run : opened.runs) cut.files.push_back(run->Files());
  cut.data = Epoching::CutEpochs(
      opened.runs,
      recipe,
      plans,
      &cut.cut.emplace(),
      &kept,
      [](std::uint64_t bytes, const std::string& what) {
        HostKit::CheckMemoryNeed(bytes, what);
      });
  for (size_t k = 0; k < runs.size(); ++k)
    for (const Recording::Event& event : opened.runs[k]->Events())
      if (const SpellerEventKind& kind = kinds.Of(event.code);
          kind.code == 0 && !kind.start && kind.mark == 0)
        ++cut.cut->runs[k].skipped[event.code];
  s.timing = OnsetTiming(runs, cut.cut->recipe.samplingRate);
  KeepFlashes(s, kept);
  cut.notes = std::move(opened.notes);
  cut.origins = std::move(opened.origins);
  AddCutNotes(cut);
  for (size_t k = 0; k < runs.size(); ++k)
    if (runs[k].before > 0)
      cut.notes.push_back(source.paths[k] + ": " +
                          std::to_string(runs[k].before) +
                          " flashes before the first selection event skipped");
  return cut;
}

LoadedData SpellerTable(Data::Dataset data,
                        const std::string& what,
                        const SpellerRequest& request) {
  for (const char* column : {"selection", "code"})
    if (!data.side.count(column))
      throw Data::DataError(what + ": no column \"" + column +
                            "\": a speller table has the columns selection "
                            "(the selection's number) and code (the flash's "
                            "stimulus code) beside the features");
  LoadedData loaded;
  Speller::Session& s = loaded.speller.emplace();
  s.layout = request.paradigm.layout;
  std::map<double, int> numbers;
  const std::vector<double>& codes = data.side["code"];
  const std::vector<double>& selections = data.side["selection"];
  for (int r = 0; r < data.rows; ++r) {
    if (!(codes[r] >= 1 && codes[r] <= 1e6 && codes[r] == std::floor(codes[r])))
      throw Data::DataError(what + ", row " + std::to_string(r + 1) +
                            ": code " + Text::FormatDouble(codes[r]) +
                            " is not a whole number from 1");
    const auto [at, added] =
        numbers.emplace(selections[r], static_cast<int>(s.names.size()));
    if (added)
      s.names.push_back("selection " + Text::FormatDouble(selections[r]) +
                        " of " + what);
    s.codes.push_back(static_cast<int>(codes[r]));
    s.selections.push_back(at->second);
  }
  s.targets.resize(s.names.size());
  std::vector<double> marks =
      data.hasLabels ? data.labels : std::vector<double>(data.rows, 0.0);
  FindTargets(s, marks, request);
  RequireTargets(s, request);
  data.labels = Speller::FlashLabels(s);
  data.hasLabels = s.TargetsKnown();
  if (!data.hasLabels) data.labels.clear();
  loaded.data = std::move(data);
  return loaded;
}

std::optional<Speller::Paradigm> ModelParadigm(
    const HostKit::TrainedModel& model, const std::string& what) {
  if (model.Host().speller.empty()) return std::nullopt;
  try {
    return Speller::ParseParadigmXml(model.Host().speller);
  } catch (const Speller::Error& error) {
    throw Error(ErrorKind::kModel, what + ": its " + error.what());
  }
}

}  // namespace Korva::Sources
