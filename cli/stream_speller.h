#ifndef KORVA_CLI_STREAM_SPELLER_H_
#define KORVA_CLI_STREAM_SPELLER_H_

// The selections of korva stream: with a speller layout (the model's, or
// korva spell's options), the stream's events are sorted into flashes (the
// layout's codes), selection starts and target markers as the recording
// reader does it (Sources::SpellerEvents), and each selection gives one
// JSON line on standard output as soon as Speller::SelectionTracker
// decides it.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/speller_options.h"
#include "epoching/recipe.h"
#include "korva/hostkit/trained_model.h"
#include "recording/recording.h"
#include "speller/tracker.h"

namespace Korva::Cli {

struct StreamSpellerOptions {
  SpellerOptions speller;
  std::optional<double> stopAt;
};

// The speller options of korva spell, and --stop-at.
void AddStreamSpellerOptions(CLI::App* command, StreamSpellerOptions& o);

class StreamSpeller {
 public:
  // Selections of `request` in a stream named `name`, whose flashes
  // `model` (at `modelPath`) scores and whose markers `recipe`'s lists
  // name. CliError(kExitUsage) when nothing says where selections start;
  // errors of SelectionTracker and StopLikelihood otherwise.
  StreamSpeller(const Sources::SpellerRequest& request,
                const Epoching::Recipe& recipe,
                const HostKit::TrainedModel& model,
                const std::string& modelPath,
                std::optional<double> stopAt,
                const std::string& name);

  // The events the cutter cuts: the layout's codes.
  static std::vector<std::string> FlashEvents(
      const Sources::SpellerRequest& request);

  // An event as it arrives, before the samples of its chunk; writes the
  // selections decided (the end of one may decide it).
  void AddEvent(const Recording::Event& event);
  // The flash at `event` scored `score`; writes the selections decided.
  void Scored(const Recording::Event& event, double score);
  // The stream has ended: the last selections, and a warning for one that
  // could not be decided; how many were decided on `info`.
  void Finish(std::ostream* info);

 private:
  void Write();

  Sources::SpellerRequest request_;
  Epoching::Recipe recipe_;
  Sources::SpellerEvents kinds_;
  Speller::SelectionTracker tracker_;
  std::string name_;
  long long written_ = 0;
};

}  // namespace Korva::Cli

#endif  // KORVA_CLI_STREAM_SPELLER_H_
