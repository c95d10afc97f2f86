#ifndef KORVA_CLI_SPELLER_OUTPUTS_H_
#define KORVA_CLI_SPELLER_OUTPUTS_H_

// What korva says of decoded selections (spell, and evaluate of a speller
// session): the curve against repetitions on the terminal, in JSON and in
// the report.

#include <iosfwd>
#include <string>

#include "cli/summary.h"
#include "report/html_report.h"
#include "speller/decoding.h"
#include "speller/session.h"

namespace Korva::Cli {

// How long a selection takes, in words: "k x 12 flashes x 250 ms + 2 s
// pause (from the flash onsets)", or how to give it when not known.
std::string TimingText(const Speller::Session& session);

// The table of the curve: repetitions, accuracy, bits per selection and
// per minute (when known), and the text spelled; then the target.
void PrintCurve(std::ostream& out,
                const Speller::Session& session,
                const Speller::Decoding& decoding);

// "dynamic stopping at 0.95: 3.4 repetitions on average, accuracy 1.000,
// ...": the stopped choices in one line.
std::string StoppingText(const Speller::Decoding& decoding, double level);

// [{"repetitions", "accuracy", "itr_bits_per_selection",
// "itr_bits_per_minute", "seconds_per_selection", "text"}] (null where not
// known).
Json CurveJson(const Speller::Decoding& decoding);

// The outcome of dynamic stopping as JSON: {"level", "mean_repetitions",
// "accuracy", ...}.
Json StoppingJson(const Speller::Decoding& decoding, double level);

// [{"selection", "target", "chosen", "repetitions_used", "posterior",
// "ranking": [{"symbol", "score"}]}], "chosen" after all repetitions (and
// "repetitions_used" and "stopped_at_choice" with dynamic stopping).
Json SelectionsJson(const Speller::Session& session,
                    const Speller::Decoding& decoding);

// The curve as the report draws it.
Report::SpellerCurve ReportCurve(const Speller::Session& session,
                                 const Speller::Decoding& decoding,
                                 const std::string& stoppingText);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_SPELLER_OUTPUTS_H_
