#include <cmath>
#include <string>

#include "fuzz/checks.h"
#include "fuzz/harnesses.h"
#include "speller/decoding.h"
#include "speller/error.h"
#include "speller/paradigm.h"

namespace Korva::Fuzz {
namespace {

constexpr const char* kTableName = "fuzz.txt";

// The layout the options byte asks for: a matrix of up to 6 x 6 whose size
// the next two bytes give, or the text up to the first NUL as a layout
// table. Refusals are Speller::Error; anything else escapes and is a finding.
Speller::Layout DecodeLayout(ByteReader& in, bool table) {
  if (!table) {
    const int rows = 1 + in.Byte() % 6, cols = 1 + in.Byte() % 6;
    return Speller::MatrixLayout(rows, cols, "");
  }
  std::string text;
  while (in.size > 0) {
    const char c = static_cast<char>(in.Byte());
    if (c == '\0') break;
    text += c;
  }
  return Speller::ParseLayoutTable(text, kTableName, "");
}

// A session of the remaining bytes, two per flash: the code (0 .. Codes(),
// where 0 is no code of the layout) with a new selection when its top bit is
// set, and the score as a signed byte / 16. The first selection of every
// second one has its target.
Speller::Session DecodeSession(ByteReader& in,
                               const Speller::Layout& layout,
                               std::vector<double>& scores) {
  Speller::Session s;
  s.layout = layout;
  while (in.size >= 2 && s.codes.size() < 4096) {
    const std::uint8_t code = in.Byte();
    if (s.targets.empty() || (code & 0x80) != 0) {
      const int k = s.Selections();
      s.targets.push_back(k % 2 == 0 ? std::optional<int>(k % layout.Items())
                                     : std::nullopt);
      s.names.push_back("selection " + std::to_string(k + 1));
    }
    s.codes.push_back((code & 0x7f) % (layout.Codes() + 1));
    s.selections.push_back(s.Selections() - 1);
    scores.push_back(static_cast<std::int8_t>(in.Byte()) / 16.0);
  }
  return s;
}

// A layout survives the model document's element and the table text.
std::string RoundTrips(const Speller::Layout& layout) {
  Speller::Paradigm paradigm;
  paradigm.layout = layout;
  const Speller::Paradigm back =
      Speller::ParseParadigmXml(Speller::ParadigmXml(paradigm));
  if (Speller::LayoutTable(back.layout) != Speller::LayoutTable(layout) ||
      back.layout.symbols != layout.symbols)
    return "the model's speller element changes the layout";
  if (layout.rows > 0) return {};
  const Speller::Layout reread =
      Speller::ParseLayoutTable(Speller::LayoutTable(layout), kTableName, "");
  if (Speller::LayoutTable(reread) != Speller::LayoutTable(layout))
    return "the layout table written reads back as another layout";
  return {};
}

std::string CheckRoundTrips(const Speller::Layout& layout) {
  try {
    return RoundTrips(layout);
  } catch (const Speller::Error& e) {
    return std::string("a layout's own text is refused: ") + e.what();
  }
}

bool Probability(double p) { return p >= 0.0 && p <= 1.0; }

std::string CheckOutcome(const Speller::Outcome& o, int items, int max) {
  if (!(o.repetitions >= 1 && o.repetitions <= max))
    return "repetitions outside 1 .. R";
  if (o.accuracy && !Probability(*o.accuracy)) return "accuracy outside 0 .. 1";
  if (o.bitsPerSelection && !(*o.bitsPerSelection >= 0 &&
                              *o.bitsPerSelection <= std::log2(items) + 1e-12))
    return "bits per selection outside 0 .. log2 N";
  return {};
}

std::string CheckDecoding(const Speller::Session& s,
                          const Speller::Decoding& d) {
  if (static_cast<int>(d.curve.size()) != d.repetitions ||
      static_cast<int>(d.selections.size()) != s.Selections())
    return "the curve or the selections have the wrong length";
  for (const Speller::Outcome& o : d.curve)
    if (std::string problem = CheckOutcome(o, d.items, d.repetitions);
        !problem.empty())
      return problem;
  for (const Speller::SelectionDecoding& one : d.selections) {
    if (static_cast<int>(one.ranking.size()) != d.items) return "ranking short";
    for (size_t k = 1; k < one.ranking.size(); ++k)
      if (one.ranking[k].score > one.ranking[k - 1].score)
        return "the ranking is not first best";
    for (double p : one.posterior)
      if (!Probability(p)) return "a posterior outside 0 .. 1";
    if (one.stopped < 1 || one.stopped > d.repetitions)
      return "stopped outside 1 .. R";
  }
  return d.stopping ? CheckOutcome(*d.stopping, d.items, d.repetitions) : "";
}

}  // namespace

std::string FuzzSpeller(const std::uint8_t* data, std::size_t size) {
  ByteReader in{data, size};
  const std::uint8_t options = in.Byte();
  ProbeDozod ranker;
  try {
    const Speller::Layout layout = DecodeLayout(in, (options & 1) != 0);
    if (std::string problem = CheckRoundTrips(layout); !problem.empty())
      return problem;
    std::vector<double> scores;
    const Speller::Session session = DecodeSession(in, layout, scores);
    Speller::DecodeOptions decode;
    decode.likelihood = HostKit::ScoreLikelihood{1.0 + (options >> 4), -0.5};
    decode.stopAt = 0.5 + (options >> 1 & 7) / 16.0;
    return CheckDecoding(session,
                         Speller::Decode(session, scores, ranker, decode));
  } catch (const Speller::Error& e) {
    if (e.Kind() != Speller::ErrorKind::kData &&
        e.Kind() != Speller::ErrorKind::kSettings)
      return std::string("refused as another kind: ") + e.what();
    if (std::string(e.what()).empty()) return "a refusal without a message";
  }
  return {};
}

}  // namespace Korva::Fuzz
