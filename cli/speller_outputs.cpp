#include "cli/speller_outputs.h"

#include <cmath>
#include <iomanip>
#include <ostream>

#include "cli/texts.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

Json Known(const std::optional<double>& value) {
  return value ? Json(*value) : Json();
}

std::string Shown(const std::optional<double>& value, int digits) {
  return value ? Fixed(*value, digits) : "-";
}

std::string TargetText(const Speller::Session& s) {
  std::string text;
  for (const std::optional<int>& target : s.targets)
    text += target ? s.layout.symbols[*target] : "?";
  return text;
}

Json Outcome(const Speller::Outcome& o) {
  return {{"repetitions", o.repetitions},
          {"accuracy", Known(o.accuracy)},
          {"itr_bits_per_selection", Known(o.bitsPerSelection)},
          {"itr_bits_per_minute", Known(o.bitsPerMinute)},
          {"seconds_per_selection", Known(o.secondsPerSelection)},
          {"text", o.text}};
}

}  // namespace

std::string TimingText(const Speller::Session& s) {
  if (!s.timing.flashSeconds)
    return "not known (--flash-ms, and --pause-s, give it for bits per "
           "minute)";
  return "k x " + std::to_string(s.layout.Codes()) + " flashes x " +
         Text::FormatDouble(*s.timing.flashSeconds * 1000) + " ms + " +
         Text::FormatDouble(s.timing.pauseSeconds) + " s pause (" +
         s.timing.source + ")";
}

void PrintCurve(std::ostream& out,
                const Speller::Session& s,
                const Speller::Decoding& d) {
  const bool known = s.TargetsKnown();
  out << "repetitions" << (known ? "  accuracy  bits/selection  bits/min" : "")
      << "  text\n";
  for (const Speller::Outcome& o : d.curve) {
    out << std::setw(11) << o.repetitions;
    if (known)
      out << std::setw(10) << Shown(o.accuracy, 3) << std::setw(16)
          << Shown(o.bitsPerSelection, 2) << std::setw(10)
          << Shown(o.bitsPerMinute, 1);
    out << "  " << o.text << '\n';
  }
  if (known)
    out << "target" << std::string(43, ' ') << TargetText(s) << '\n';
  else
    out << "targets not known (--target-text gives them)\n";
}

std::string StoppingText(const Speller::Decoding& d, double level) {
  const Speller::Outcome& o = *d.stopping;
  std::string text = "dynamic stopping at posterior " +
                     Text::FormatDouble(level) + ": " +
                     Fixed(o.repetitions, 2) + " repetitions on average";
  if (o.accuracy)
    text += ", accuracy " + Fixed(*o.accuracy, 3) + ", " +
            Fixed(*o.bitsPerSelection, 2) + " bits/selection";
  if (o.bitsPerMinute) text += ", " + Fixed(*o.bitsPerMinute, 1) + " bits/min";
  return text + "; text " + o.text;
}

Json CurveJson(const Speller::Decoding& d) {
  Json curve = Json::array();
  for (const Speller::Outcome& o : d.curve) {
    Json point = Outcome(o);
    point["repetitions"] = static_cast<int>(o.repetitions);  // k, whole
    curve.push_back(point);
  }
  return curve;
}

Json StoppingJson(const Speller::Decoding& d, double level) {
  Json j = Outcome(*d.stopping);
  j["level"] = level;
  j["mean_repetitions"] = d.stopping->repetitions;
  j.erase("repetitions");
  return j;
}

Json SelectionsJson(const Speller::Session& s, const Speller::Decoding& d) {
  Json selections = Json::array();
  for (int k = 0; k < s.Selections(); ++k) {
    const Speller::SelectionDecoding& one = d.selections[k];
    Json ranking = Json::array();
    for (const Speller::Ranked& r : one.ranking)
      ranking.push_back(
          {{"symbol", s.layout.symbols[r.item]}, {"score", r.score}});
    Json j = {{"selection", s.names[k]},
              {"target",
               s.targets[k] ? Json(s.layout.symbols[*s.targets[k]]) : Json()},
              {"chosen", s.layout.symbols[one.chosen.back()]}};
    if (!one.posterior.empty()) j["posterior"] = one.posterior.back();
    if (one.stopped > 0) {
      j["repetitions_used"] = one.stopped;
      j["chosen_when_stopped"] = s.layout.symbols[one.chosen[one.stopped - 1]];
    }
    j["ranking"] = ranking;
    selections.push_back(j);
  }
  return selections;
}

Report::SpellerCurve ReportCurve(const Speller::Session& s,
                                 const Speller::Decoding& d,
                                 const std::string& stoppingText) {
  Report::SpellerCurve c;
  for (const Speller::Outcome& o : d.curve) {
    c.accuracy.push_back(o.accuracy.value_or(NAN));
    c.bitsPerMinute.push_back(o.bitsPerMinute.value_or(NAN));
    c.text.push_back(o.text);
  }
  if (s.TargetsKnown()) c.target = TargetText(s);
  if (d.stopping)
    c.stopping = std::vector<double>{d.stopping->repetitions,
                                     d.stopping->accuracy.value_or(NAN),
                                     d.stopping->bitsPerMinute.value_or(NAN)};
  c.stoppingText = stoppingText;
  return c;
}

}  // namespace Korva::Cli
