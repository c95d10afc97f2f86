#include "cli/speller_options.h"

#include "cli/exit_status.h"
#include "speller/layout.h"

namespace Korva::Cli {

std::optional<Sources::SpellerRequest> SpellerOptions::Request(
    bool targetsRequired) const {
  if (layout.empty()) {
    for (const char* name : {"--symbols",
                             "--selection-events",
                             "--selection-flashes",
                             "--target-text"})
      if (command && command->count(name) > 0)
        throw CliError(kExitUsage,
                       std::string(name) +
                           " describes a speller session: give its --layout "
                           "too (such as --layout 6x6)");
    return std::nullopt;
  }
  if (!selectionEvents.empty() && selectionFlashes > 0)
    throw CliError(kExitUsage,
                   "--selection-events and --selection-flashes both say where "
                   "selections start: give one");
  Sources::SpellerRequest request;
  request.paradigm.layout = Speller::MakeLayout(layout, symbols);
  request.paradigm.selectionEvents = selectionEvents;
  request.paradigm.selectionFlashes = selectionFlashes;
  request.targetText = targetText;
  request.targetsRequired = targetsRequired;
  return request;
}

void AddTargetTextOption(CLI::App* command, std::string& text) {
  command->add_option("--target-text",
                      text,
                      "the target of each selection, one symbol each in "
                      "order (copy spelling); default: from the recording's "
                      "target markers, or a table's labels");
}

void AddStopOption(CLI::App* command, std::optional<double>& level) {
  command->add_option(
      "--stop-at",
      level,
      "dynamic stopping: stop a selection at the first repetition where its "
      "chosen item's posterior reaches P (0 < P <= 1)");
}

std::optional<Sources::SpellerRequest> ModelSpellerRequest(
    const SpellerOptions& given,
    const HostKit::TrainedModel& model,
    const std::string& modelPath) {
  std::optional<Speller::Paradigm> paradigm =
      Sources::ModelParadigm(model, "model " + modelPath);
  if (!given.layout.empty()) {
    const Speller::Layout layout = given.Request(false)->paradigm.layout;
    if (!paradigm) paradigm.emplace();
    paradigm->layout = layout;
  } else if (given.command && given.command->count("--symbols") > 0) {
    throw CliError(kExitUsage,
                   "--symbols names the symbols of a --layout: give both");
  }
  if (!paradigm) return std::nullopt;
  if (!given.selectionEvents.empty() || given.selectionFlashes > 0) {
    paradigm->selectionEvents = given.selectionEvents;
    paradigm->selectionFlashes = given.selectionFlashes;
  }
  return Sources::SpellerRequest{*paradigm, given.targetText, false};
}

std::optional<HostKit::ScoreLikelihood> StopLikelihood(
    const HostKit::TrainedModel& model,
    const std::string& modelPath,
    bool needed) {
  const auto& scores = model.Host().classScores;
  const auto likelihood =
      scores ? HostKit::LikelihoodOfScores(*scores) : std::nullopt;
  if (needed && !likelihood)
    throw CliError(
        kExitModel,
        "model " + modelPath +
            (scores ? " has training scores without spread (a pooled "
                      "variance of 0)"
                    : " carries no training scores (no ClassScores element)") +
            ", from which --stop-at makes the flashes' likelihoods; train it "
            "again");
  return likelihood;
}

void AddSpellerOptions(CLI::App* command, SpellerOptions& o) {
  o.command = command;
  command->add_option(
      "--layout",
      o.layout,
      "speller session: ROWSxCOLS (codes 1..COLS light the columns left to "
      "right, COLS+1..COLS+ROWS the rows top to bottom), or a layout table "
      "(CODE,SYMBOLS per line); a flash is a target when its code lights its "
      "selection's target");
  command->add_option("--symbols",
                      o.symbols,
                      "the layout's symbols, row by row (default for up to "
                      "6x6: ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789_)");
  command
      ->add_option("--selection-events",
                   o.selectionEvents,
                   "recordings: the events that start a selection, "
                   "comma-separated")
      ->delimiter(',');
  command
      ->add_option("--selection-flashes",
                   o.selectionFlashes,
                   "recordings: or the flashes of each selection")
      ->check(CLI::Range(1, 1000000));
  AddTargetTextOption(command, o.targetText);
}

}  // namespace Korva::Cli
