#include "cli/recipe_options.h"

#include <tuple>

#include "cli/exit_status.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

using Epoching::Recipe;

bool ParseNumber(const std::string& text, double& value) {
  return Text::ParseDouble(text, value) == Text::NumberStatus::kOk;
}

// "A,B" into a and b; `second` also takes "auto" (giving no value).
bool ParsePair(const std::string& text,
               double& a,
               std::optional<double>& b,
               bool autoAllowed) {
  const size_t comma = text.find(',');
  if (!ParseNumber(text.substr(0, comma), a)) return false;
  if (comma == std::string::npos) return autoAllowed;
  const std::string second = text.substr(comma + 1);
  if (autoAllowed && second == "auto") return true;
  double value = 0;
  if (!ParseNumber(second, value)) return false;
  b = value;
  return true;
}

[[noreturn]] void Malformed(const char* option,
                            const std::string& text,
                            const char* expected) {
  throw CliError(kExitUsage,
                 std::string(option) + " " + text + ": expected " + expected);
}

}  // namespace

Recipe RecipeOptions::Recipe(bool eventListsRequired) const {
  Epoching::Recipe r;
  if (eventListsRequired && targets.empty())
    throw CliError(
        kExitUsage,
        "give the events of the target class with --target-events (and "
        "the others with --nontarget-events), e.g. --target-events 2");
  if (eventListsRequired && nonTargets.empty())
    throw CliError(kExitUsage,
                   "give the events of the non-target class with "
                   "--nontarget-events, e.g. --nontarget-events 1");
  r.targets = targets;
  r.nonTargets = nonTargets;
  r.channels = channels;
  r.reference = reference == "average" ? Epoching::Reference::kAverage
                                       : Epoching::Reference::kNone;
  std::optional<double> second;
  if (band == "none") {
    r.band.reset();
  } else if (!ParsePair(band, r.band->low, second, false)) {
    Malformed("--band", band, "LOW,HIGH in Hz, or none");
  } else {
    r.band->high = *second;
  }
  r.filterOrder = filterOrder;
  if (!ParsePair(window, r.windowStartMs, r.windowEndMs, true))
    Malformed("--window", window, "START,END in ms (END may be auto)");
  r.bins = bins;
  if (baseline != "none") {
    r.baseline.emplace();
    second.reset();
    if (!ParsePair(baseline, r.baseline->startMs, second, false))
      Malformed("--baseline", baseline, "START,END in ms, or none");
    r.baseline->endMs = *second;
  }
  if (reject != "none" && !ParseNumber(reject, r.rejectMicrovolts.emplace()))
    Malformed("--reject", reject, "a limit in microvolts, or none");
  if (resample != "none" && !ParseNumber(resample, r.resampleHz.emplace()))
    Malformed("--resample", resample, "a sampling rate in Hz, or none");
  if (std::string why = Epoching::CheckRecipe(r, eventListsRequired);
      !why.empty())
    throw CliError(kExitUsage, why);
  return r;
}

std::vector<std::string> RecipeOptions::Given() const {
  std::vector<std::string> given;
  if (command == nullptr) return given;
  for (const char* name : {"--target-events",
                           "--nontarget-events",
                           "--channels",
                           "--reference",
                           "--band",
                           "--filter-order",
                           "--window",
                           "--bins",
                           "--baseline",
                           "--reject",
                           "--resample"})
    if (command->count(name) > 0) given.emplace_back(name);
  return given;
}

namespace {

// " (default X)" where X is the default recipe's setting.
std::string Default(const std::string& setting) {
  return " (default " + setting + ")";
}

// The events of each class, the channels and the reference.
void AddEventOptions(CLI::App* command, RecipeOptions& o) {
  command
      ->add_option("--target-events,--target",
                   o.targets,
                   "events of the target class (+1): codes or marker texts, "
                   "comma-separated; a number N also matches the stimulus "
                   "markers \"S N\", \"SN\" and \"Stimulus/S N\"")
      ->delimiter(',');
  command
      ->add_option(
          "--nontarget-events,--non-target",
          o.nonTargets,
          "events of the non-target class (-1), as --target-events; other "
          "events are skipped and counted")
      ->delimiter(',');
  command
      ->add_option("--channels",
                   o.channels,
                   "channels to use, comma-separated (default: every EEG "
                   "channel of the first recording)")
      ->delimiter(',');
  const auto reference = [](Epoching::Reference r) {
    return Epoching::ReferenceText(r) +
           (r == Recipe().reference ? " (default)" : "");
  };
  command
      ->add_option("--reference",
                   o.reference,
                   reference(Epoching::Reference::kNone) + ": as recorded; " +
                       reference(Epoching::Reference::kAverage) +
                       ": subtract the mean of the chosen channels at each "
                       "sample")
      ->check(CLI::IsMember(
          {Epoching::ReferenceText(Epoching::Reference::kNone),
           Epoching::ReferenceText(Epoching::Reference::kAverage)}));
}

// The band-pass.
void AddFilterOptions(CLI::App* command, RecipeOptions& o) {
  const Recipe defaults;
  command->add_option("--band",
                      o.band,
                      "LOW,HIGH: zero-phase Butterworth band-pass in Hz, run "
                      "forward and backward over each whole recording, or "
                      "none" +
                          Default(Epoching::BandText(defaults)));
  command
      ->add_option("--filter-order",
                   o.filterOrder,
                   "order N of the Butterworth prototype, " +
                       std::to_string(Epoching::kMinFilterOrder) + " to " +
                       std::to_string(Epoching::kMaxFilterOrder) +
                       "; the band-pass has 2N poles" +
                       Default(std::to_string(defaults.filterOrder)))
      ->check(CLI::Range(Epoching::kMinFilterOrder, Epoching::kMaxFilterOrder));
}

// The window, its bins, the baseline and the rejection of epochs.
void AddWindowOptions(CLI::App* command, RecipeOptions& o) {
  const Recipe defaults;
  const std::string end = Text::FormatDouble(Epoching::kDefaultWindowMs);
  command->add_option(
      "--window",
      o.window,
      "START,END: the epoch in ms after the event, END excluded, cut as "
      "samples round(START*fs/1000) to round(END*fs/1000); END auto (or "
      "left out) is " +
          end + " ms moved to the nearest whole number of bins" +
          Default(Epoching::WindowText(defaults) + ": " +
                  std::to_string(defaults.bins) + " bins of about " +
                  Text::FormatDouble(
                      (Epoching::kDefaultWindowMs - defaults.windowStartMs) /
                      defaults.bins) +
                  " ms at any rate"));
  command
      ->add_option("--bins",
                   o.bins,
                   "features per channel: means of consecutive samples; the "
                   "window must divide into them" +
                       Default(std::to_string(defaults.bins)))
      ->check(CLI::Range(Epoching::kMinBins, Epoching::kMaxBins));
  command->add_option("--baseline",
                      o.baseline,
                      "START,END in ms after the event: subtract each "
                      "channel's mean over it from the epoch, or none" +
                          Default(Epoching::BaselineText(defaults)));
  command->add_option("--reject",
                      o.reject,
                      "UV: drop epochs whose peak-to-peak in the window "
                      "exceeds UV microvolts on any chosen channel, or none" +
                          Default(Epoching::RejectText(defaults)));
  command->add_option(
      "--resample",
      o.resample,
      "HZ: resample every recording at another rate to HZ before the filter "
      "(polyphase, Kaiser window), so that sessions at different rates "
      "combine; the rates' ratio must be a fraction of whole numbers up to " +
          std::to_string(Epoching::kMaxResampleFactor) + ", or none" +
          Default(Epoching::ResampleText(defaults)));
}

}  // namespace

void AddRecipeOptions(CLI::App* command, RecipeOptions& o) {
  o.command = command;
  AddEventOptions(command, o);
  AddFilterOptions(command, o);
  AddWindowOptions(command, o);
}

void AddRecordingOptions(CLI::App* command, Recording::OpenOptions& o) {
  command->add_option("--marker-column",
                      o.markerColumn,
                      "headset CSV: the column of event markers, by name or "
                      "as #N, the N-th column (default: the one whose name "
                      "starts with Marker)");
  command
      ->add_option("--sampling-rate",
                   o.samplingRate,
                   "headset CSV: the sampling rate in Hz; the time column is "
                   "then not read (default: from the span of the time "
                   "column; a model's rate where the time column holds it "
                   "within its uncertainty)")
      ->check(CLI::Validator(
          [](std::string& text) {
            const auto rate = Text::FiniteNumber(text);
            if (rate && *rate >= Recording::kMinSamplingRate &&
                *rate <= Recording::kMaxSamplingRate)
              return std::string();
            return "must be a rate in Hz from " +
                   Text::FormatDouble(Recording::kMinSamplingRate) + " to " +
                   Text::FormatDouble(Recording::kMaxSamplingRate) + " (" +
                   text.substr(0, 40) + ")";
          },
          "HZ"));
  command->add_option("--xdf-eeg",
                      o.eegStream,
                      "XDF: the stream to read as EEG, by name or type "
                      "(default: the stream of type EEG)");
  command->add_option("--xdf-markers",
                      o.markerStream,
                      "XDF: the stream of event markers, by name or type "
                      "(default: the stream of type Markers)");
}

void AddBidsOptions(CLI::App* command, Sources::BidsFilter& filter) {
  for (const auto& [name, list, what] :
       {std::tuple{"--subject", &filter.subjects, "subjects (01 or sub-01)"},
        {"--session", &filter.sessions, "sessions (1 or ses-1)"},
        {"--task", &filter.tasks, "tasks"},
        {"--run", &filter.runs, "run indices"}})
    command
        ->add_option(name,
                     *list,
                     std::string("EEG-BIDS folders: take the runs of these ") +
                         what + ", comma-separated (default: every one)")
        ->delimiter(',');
}

}  // namespace Korva::Cli
