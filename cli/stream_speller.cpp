#include "cli/stream_speller.h"

#include <cmath>
#include <iostream>

#include "cli/exit_status.h"
#include "cli/summary.h"
#include "cli/texts.h"
#include "korva/text.h"
#include "speller/layout.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

// The target of each selection from the target text; empty without one.
std::vector<int> TextTargets(const Sources::SpellerRequest& r) {
  if (r.targetText.empty()) return {};
  return Speller::TextItems(r.paradigm.layout, r.targetText, "--target-text");
}

std::string JsonString(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

void AddStreamSpellerOptions(CLI::App* command, StreamSpellerOptions& o) {
  AddSpellerOptions(command, o.speller);
  AddStopOption(command, o.stopAt);
}

StreamSpeller::StreamSpeller(const Sources::SpellerRequest& request,
                             const Epoching::Recipe& recipe,
                             const HostKit::TrainedModel& model,
                             const std::string& modelPath,
                             std::optional<double> stopAt,
                             const std::string& name)
    : request_(request),
      recipe_(recipe),
      kinds_(request_.paradigm, recipe_),
      tracker_(request_.paradigm.layout,
               model.Classifier(),
               {StopLikelihood(model, modelPath, stopAt.has_value()), stopAt},
               request_.paradigm.selectionFlashes,
               TextTargets(request_),
               name),
      name_(name) {
  const Speller::Paradigm& p = request_.paradigm;
  if (p.selectionEvents.empty() && p.selectionFlashes == 0)
    throw CliError(kExitUsage,
                   "say where the selections of " + name +
                       " start: --selection-events EVENTS (the markers that "
                       "start one) or --selection-flashes N (flashes each)");
  Sources::RefuseCodeMarkers(p, recipe_);
}

std::vector<std::string> StreamSpeller::FlashEvents(
    const Sources::SpellerRequest& request) {
  std::vector<std::string> events;
  for (int code : request.paradigm.layout.codes)
    events.push_back(std::to_string(code));
  return events;
}

void StreamSpeller::AddEvent(const Recording::Event& event) {
  const Sources::SpellerEventKind& kind = kinds_.Of(event.code);
  if (kind.start) tracker_.BeginSelection();
  if (kind.mark != 0) tracker_.AddMark(event.sample, kind.mark);
  if (kind.code != 0) tracker_.AddFlash(event.sample, kind.code);
  Write();  // a selection start can decide the one before
}

void StreamSpeller::Scored(const Recording::Event& event, double score) {
  tracker_.Score(event.sample, kinds_.Of(event.code).code, score);
  Write();
}

// {"selection": 3, "symbol": "K", "repetitions": 4, "posterior": 0.99,
// "target": "K"}: the selection counted from 1, null where not known.
void StreamSpeller::Write() {
  const Speller::Layout& layout = request_.paradigm.layout;
  const std::vector<Speller::Decided> decided = tracker_.Take();
  for (const Speller::Decided& d : decided) {
    std::cout << "{\"selection\": " << d.selection + 1
              << ", \"symbol\": " << JsonString(layout.symbols[d.item])
              << ", \"repetitions\": " << d.repetitions << ", \"posterior\": "
              << (d.posterior && std::isfinite(*d.posterior)
                      ? Text::FormatDouble(*d.posterior)
                      : "null")
              << ", \"target\": "
              << (d.target ? JsonString(layout.symbols[*d.target]) : "null")
              << "}\n";
    ++written_;
  }
  if (!decided.empty()) std::cout.flush();
}

void StreamSpeller::Finish(std::ostream* info) {
  const std::string why = tracker_.End();
  Write();
  if (!why.empty()) Warn(why);
  if (info)
    *info << "decided " << written_ << " of " << tracker_.Begun()
          << " selections of " << name_ << "; " << tracker_.Skipped()
          << " flashes before the first skipped\n";
}

}  // namespace Korva::Cli
