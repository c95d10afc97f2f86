// korva stream: scores each flash as soon as its window has passed, from a
// recording played back, headset CSV text arriving on standard input or a
// FieldTrip buffer (cli/buffer_source.h), through the online cutter
// (online/cutter.h); one JSON line per flash, and with a speller layout per
// selection (cli/stream_speller.h).
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "cli/buffer_source.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/recipe_options.h"
#include "cli/scoring.h"
#include "cli/stream_speller.h"
#include "cli/texts.h"
#include "data/dataset.h"
#include "epoching/epochs.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/trained_model.h"
#include "korva/text.h"
#include "online/cutter.h"
#include "recording/headset_lines.h"
#include "sources/recordings.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

constexpr long long kDefaultChunk = 32;

struct StreamOptions {
  std::string model, replay, source, module;
  std::vector<std::string> stimulusEvents;
  Recording::OpenOptions open;
  StreamSpellerOptions spell;
  long long chunk = kDefaultChunk;
  double pace = 0;  // 0: as fast as the samples can be cut
  bool quiet = false, timing = false;
  BufferOptions buffer;
  CLI::App* command = nullptr;
};

void AddOptions(CLI::App* command, StreamOptions& o) {
  o.command = command;
  command
      ->add_option("MODEL",
                   o.model,
                   "classifier document (XML) trained "
                   "on recordings with --filter causal")
      ->required();
  auto* replay = command->add_option(
      "--replay",
      o.replay,
      "play this recording (EDF, BDF, GDF, .vhdr, XDF, headset CSV) back "
      "through the online cutter, --chunk samples at a time");
  replay->type_name("RECORDING");
  auto* source = command->add_option(
      "--source",
      o.source,
      "-: read headset CSV text from standard input line by line as another "
      "program writes it (header first; the rate from --sampling-rate or "
      "the model's recipe); ft://HOST:PORT: read the samples and events an "
      "acquisition program puts into that FieldTrip buffer from now on");
  source->type_name("-|ft://HOST:PORT");
  replay->excludes(source);
  command
      ->add_option("--chunk",
                   o.chunk,
                   "samples given to the cutter at a time (default " +
                       std::to_string(kDefaultChunk) +
                       "; 1 with --source -, where each row is given as "
                       "it arrives)")
      ->check(CLI::Range(1LL, 1LL << 20))
      ->type_name("N");
  command
      ->add_option("--pace",
                   o.pace,
                   "--replay: play at X times real time (1: as recorded); "
                   "default as fast as it can")
      ->check(CLI::PositiveNumber)
      ->type_name("X");
  command
      ->add_option("--stimulus-events",
                   o.stimulusEvents,
                   "the events (codes or marker texts, comma-separated) "
                   "that are flashes to score, in place of the model's "
                   "target and non-target events")
      ->delimiter(',');
  AddBufferOptions(command, o.buffer);
  command->add_flag("--timing",
                    o.timing,
                    "add to each line latency_ms: the milliseconds from the "
                    "arrival of the samples that completed the flash's "
                    "window to its line");
  AddStreamSpellerOptions(command, o.spell);
  AddRecordingOptions(command, o.open);
  command->add_flag("--quiet",
                    o.quiet,
                    "no account of the flashes on standard error at the end "
                    "(warnings and errors still go there)");
  AddModuleOption(command, o.module);
}

// The recipe of the model at `path`, which must cut flashes as they arrive.
Epoching::Recipe StreamRecipe(const HostKit::TrainedModel& model,
                              const std::string& path,
                              const StreamOptions& o) {
  const std::string what = "model " + path;
  const auto recipe = Sources::ModelRecipe(model, what);
  if (!recipe)
    throw CliError(kExitModel,
                   what +
                       " was trained on a feature table and has no recipe to "
                       "cut flashes with: train it on recordings (with "
                       "--filter causal) to stream");
  if (recipe->band && recipe->filter != Epoching::Filter::kCausal)
    throw CliError(
        kExitModel,
        what +
            " band-passes forward and backward (zero-phase): each filtered "
            "sample depends on samples after it, which a stream has not yet "
            "given; train the model with --filter causal to score flashes "
            "as they arrive");
  if (Epoching::FeatureNames(recipe->channels, recipe->bins) !=
      model.FeatureNames())
    throw CliError(kExitModel,
                   what + " has features other than those its recipe cuts");
  if (o.stimulusEvents.empty() && recipe->targets.empty() &&
      recipe->nonTargets.empty())
    throw CliError(kExitUsage,
                   what +
                       "'s recipe names no flash events: give them with "
                       "--stimulus-events");
  return *recipe;
}

// Scores cut flashes and writes one JSON line each; gives the scores and
// the events to the selections, if any.
class Scorer {
 public:
  Scorer(const HostKit::TrainedModel& model, StreamSpeller* speller)
      : model_(model), speller_(speller) {}

  void AddEvent(Online::Cutter& cutter, const Recording::Event& event) {
    if (speller_) speller_->AddEvent(event);
    cutter.AddEvent(event);
  }

  // Called with each flash and its score after its line is written.
  std::function<void(const Recording::Event&, double)> onScored;
  // With --timing: when the samples given to the cutter last arrived.
  std::optional<std::chrono::steady_clock::time_point> arrival;

  void Score(const std::vector<Online::CutFlash>& flashes) {
    for (const Online::CutFlash& flash : flashes) {
      if (flash.rejected) {
        ++rejected_;
        continue;
      }
      const double score =
          model_.Score({flash.features.data(),
                        1,
                        static_cast<int>(flash.features.size())})[0];
      std::cout << "{\"sample\": " << flash.event.sample << ", \"event\": "
                << nlohmann::json(flash.event.code)
                       .dump(-1,
                             ' ',
                             false,
                             nlohmann::json::error_handler_t::replace)
                << ", \"score\": " << Number(score)
                << ", \"probability\": " << Probability(score) << Latency()
                << "}\n";
      ++scored_;
      if (speller_) speller_->Scored(flash.event, score);
      if (onScored) onScored(flash.event, score);
    }
    if (!flashes.empty()) std::cout.flush();
  }

  // What became of the flashes, on `info`, and a warning for those the
  // stream ended before; the last selections.
  void Finish(const Online::Cutter& cutter,
              const std::string& name,
              std::ostream* info) const {
    const Online::Dropped& d = cutter.Drops();
    if (info)
      *info << "scored " << scored_ << " flashes of " << name << " ("
            << cutter.Samples() << " samples); left out: " << rejected_
            << " rejected, " << d.atBreaks << " across breaks, " << d.outside
            << " before the first sample, " << d.late << " too late; "
            << d.skipped << " other events\n";
    const auto& pending = cutter.Pending();
    if (!pending.empty())
      Warn(name + " ended before the windows of " +
           std::to_string(pending.size()) + " flashes had passed (from the " +
           CleanText(pending.front().code) + " at sample " +
           std::to_string(pending.front().sample) + "); they were not scored");
    if (speller_) speller_->Finish(info);
  }

 private:
  std::string Latency() const {
    if (!arrival) return "";
    const std::chrono::duration<double, std::milli> ms =
        std::chrono::steady_clock::now() - *arrival;
    return ", \"latency_ms\": " + Text::FormatDouble(ms.count());
  }

  static std::string Number(double x) {
    return std::isfinite(x) ? Text::FormatDouble(x) : "null";
  }

  // The model's probability of target; null without class scores.
  std::string Probability(double score) const {
    if (!model_.Host().classScores || !std::isfinite(score)) return "null";
    return Number(model_.Probability(score));
  }

  const HostKit::TrainedModel& model_;
  StreamSpeller* speller_;
  long long scored_ = 0, rejected_ = 0;
};

std::vector<std::string> Names(
    const std::vector<Recording::Channel>& channels) {
  std::vector<std::string> names;
  for (const Recording::Channel& c : channels) names.push_back(c.name);
  return names;
}

// The rows of `x` (one vector per channel) from `from` to `to`, row after row.
void Rows(const std::vector<std::vector<double>>& x,
          long long from,
          long long to,
          std::vector<double>& rows) {
  rows.clear();
  for (long long i = from; i < to; ++i)
    for (const auto& channel : x) rows.push_back(channel[i]);
}

// Plays `run` (its channels `x`) into `cutter` a chunk at a time: each
// event before the chunk that holds its sample, a break between chunks.
void Play(const Recording::Recording& run,
          const std::vector<std::vector<double>>& x,
          Online::Cutter& cutter,
          Scorer& scorer,
          const StreamOptions& o,
          double rate) {
  const auto& events = run.Events();
  const auto& breaks = run.Breaks();
  const auto start = std::chrono::steady_clock::now();
  std::vector<double> rows;
  size_t event = 0, next = 0;
  for (long long from = 0, n = run.Samples(); from < n;) {
    long long to = std::min(from + o.chunk, n);
    for (; next < breaks.size() && breaks[next].sample <= from; ++next)
      if (breaks[next].sample == from && from > 0) cutter.AddBreak();
    if (next < breaks.size()) to = std::min(to, breaks[next].sample);
    for (; event < events.size() && events[event].sample < to; ++event)
      scorer.AddEvent(cutter, events[event]);
    Rows(x, from, to, rows);
    if (o.pace > 0)
      std::this_thread::sleep_until(
          start + std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::duration<double>(to / rate / o.pace)));
    if (o.timing) scorer.arrival = std::chrono::steady_clock::now();
    cutter.AddSamples(rows.data(), to - from);
    scorer.Score(cutter.Take());
    from = to;
  }
}

void Replay(const StreamOptions& o,
            const Epoching::Recipe& recipe,
            Scorer& scorer,
            std::ostream* info) {
  Sources::OpenedRecordings opened =
      Sources::OpenRecordings({o.replay}, o.open);
  if (opened.runs.size() != 1)
    throw CliError(kExitUsage,
                   "--replay plays one recording; " + o.replay + " holds " +
                       std::to_string(opened.runs.size()));
  Recording::Recording& run = *opened.runs[0];
  if (recipe.resampleHz && !Epoching::RateHolds(run, recipe.samplingRate))
    throw CliError(kExitData,
                   o.replay + ": sampled at " +
                       Text::FormatDouble(run.SamplingRate()) +
                       " Hz; the model's recipe resamples recordings to " +
                       Text::FormatDouble(recipe.samplingRate) +
                       " Hz, which korva stream does not do as samples "
                       "arrive: give a recording at that rate");
  Epoching::CheckRecording(recipe, run, Epoching::EventCheck::kNone);
  const double rate = Epoching::RateHolds(run, recipe.samplingRate)
                          ? recipe.samplingRate
                          : run.SamplingRate();
  Online::Cutter cutter(recipe, Names(run.Channels()), rate, o.stimulusEvents);
  std::vector<std::vector<double>> x(run.Channels().size());
  for (size_t c = 0; c < x.size(); ++c)
    run.ReadChannel(static_cast<int>(c), x[c]);
  Play(run, x, cutter, scorer, o, rate);
  scorer.Finish(cutter, o.replay, info);
}

// The cutter of rows of `channels` named `name`; a refusal names it.
Online::Cutter CutterOf(const Epoching::Recipe& recipe,
                        const std::vector<Recording::Channel>& channels,
                        double rate,
                        const StreamOptions& o,
                        const std::string& name) {
  try {
    return Online::Cutter(recipe, Names(channels), rate, o.stimulusEvents);
  } catch (const Data::DataError& e) {
    throw Data::DataError(name + ": " + e.what());
  }
}

// Headset CSV lines from standard input, each row given to the cutter as
// soon as --chunk rows have arrived.
void Listen(const StreamOptions& o,
            const Epoching::Recipe& recipe,
            Scorer& scorer,
            std::ostream* info) {
  const double rate = o.open.samplingRate.value_or(recipe.samplingRate);
  if (!(rate > 0))
    throw CliError(kExitUsage,
                   "give the rate of the samples on standard input with "
                   "--sampling-rate");
  const long long chunk = o.command->count("--chunk") ? o.chunk : 1;
  const std::string name = "standard input";
  Recording::HeadsetLines lines(name, o.open);
  std::optional<Online::Cutter> cutter;
  std::string line;
  std::vector<double> row, rows;
  std::optional<Recording::Event> event;
  const auto feed = [&] {
    if (rows.empty()) return;
    if (o.timing) scorer.arrival = std::chrono::steady_clock::now();
    cutter->AddSamples(rows.data(), rows.size() / row.size());
    rows.clear();
    scorer.Score(cutter->Take());
  };
  while (std::getline(std::cin, line)) {
    if (lines.Take(line, row, event) != Recording::HeadsetLines::Line::kRow)
      continue;
    if (!cutter)
      cutter.emplace(CutterOf(recipe, lines.Channels(), rate, o, name));
    if (event) scorer.AddEvent(*cutter, *event);
    rows.insert(rows.end(), row.begin(), row.end());
    if (static_cast<long long>(rows.size() / row.size()) >= chunk) feed();
  }
  if (!cutter)
    throw Data::DataError(name + ": no header line and row of samples");
  feed();
  scorer.Finish(*cutter, name, info);
}

// Samples and events of a FieldTrip buffer, given to the cutter as they
// are put in.
void ListenToBuffer(const StreamOptions& o,
                    const Epoching::Recipe& recipe,
                    Scorer& scorer,
                    std::ostream* info) {
  BufferSource source(BufferAddress(o.source), o.buffer);
  std::vector<Recording::Channel> channels;
  for (const std::string& name : source.Channels()) {
    channels.emplace_back();
    channels.back().name = name;
  }
  Online::Cutter cutter =
      CutterOf(recipe, channels, source.Rate(), o, source.Name());
  scorer.onScored = [&](const Recording::Event& flash, double score) {
    source.Announce(flash, score);
  };
  source.Run(
      cutter,
      [&](const Recording::Event& event) { scorer.AddEvent(cutter, event); },
      [&](std::chrono::steady_clock::time_point arrival) {
        if (o.timing) scorer.arrival = arrival;
        scorer.Score(cutter.Take());
      });
  source.Finish(info);
  scorer.Finish(cutter, source.Name(), info);
}

int RunStream(const StreamOptions& o) {
  if (o.replay.empty() && o.source.empty())
    throw CliError(kExitUsage,
                   "give the samples to stream: --replay RECORDING, "
                   "--source - for headset CSV text on standard input, or "
                   "--source ft://HOST:PORT for a FieldTrip buffer");
  if (!o.source.empty() && o.source != "-" && !IsBufferAddress(o.source))
    throw CliError(kExitUsage,
                   "--source " + o.source +
                       ": give - (headset CSV text on standard input) or "
                       "ft://HOST:PORT (a FieldTrip buffer)");
  for (const char* name : {"--announce", "--idle-timeout", "--timeout"})
    if (o.command->count(name) && !IsBufferAddress(o.source))
      throw CliError(kExitUsage,
                     std::string(name) +
                         " is for a FieldTrip buffer: give --source "
                         "ft://HOST:PORT");
  if (IsBufferAddress(o.source))
    BufferAddress(o.source);  // refused before the model is read
  if (o.pace > 0 && o.replay.empty())
    throw CliError(kExitUsage, "--pace paces a --replay");
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  const HostKit::TrainedModel model = LoadScoringModel(*module, o.model);
  StreamOptions run = o;
  const auto request = ModelSpellerRequest(o.spell.speller, model, o.model);
  if (request) run.stimulusEvents = StreamSpeller::FlashEvents(*request);
  if (request && !o.stimulusEvents.empty())
    throw CliError(kExitUsage,
                   "--stimulus-events: with a speller layout the flashes are "
                   "the events of its codes");
  if (!request && o.spell.stopAt)
    throw CliError(kExitUsage,
                   "--stop-at stops the selections of a speller session: "
                   "give its --layout too (such as --layout 6x6)");
  if (!request) o.spell.speller.Request(false);  // refuses a lone option
  const Epoching::Recipe recipe = StreamRecipe(model, o.model, run);
  std::optional<StreamSpeller> speller;
  if (request)
    speller.emplace(*request,
                    recipe,
                    model,
                    o.model,
                    o.spell.stopAt,
                    !o.replay.empty()              ? o.replay
                    : IsBufferAddress(o.source) ? o.source
                                                : "standard input");
  // Standard output carries the flashes' and selections' lines only.
  std::ostream* info = o.quiet ? nullptr : &std::cerr;
  Scorer scorer(model, speller ? &*speller : nullptr);
  if (!o.replay.empty())
    Replay(run, recipe, scorer, info);
  else if (IsBufferAddress(o.source))
    ListenToBuffer(run, recipe, scorer, info);
  else
    Listen(run, recipe, scorer, info);
  return kExitOk;
}

}  // namespace

Command AddStreamCommand(CLI::App& korva) {
  auto options = std::make_shared<StreamOptions>();
  CLI::App* command = korva.add_subcommand(
      "stream",
      "score each flash as soon as its window has passed, from a recording "
      "played back, headset CSV text on standard input or a FieldTrip "
      "buffer; one JSON line per flash, and per selection as it is decided "
      "with a speller layout");
  AddOptions(command, *options);
  return {command, [options] { return RunStream(*options); }};
}

}  // namespace Korva::Cli
