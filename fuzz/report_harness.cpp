#include <cfloat>
#include <limits>
#include <pugixml.hpp>

#include "fuzz/checks.h"
#include "fuzz/harnesses.h"
#include "report/html_report.h"

namespace Korva::Fuzz {
namespace {

// A page may be this large whatever the input, and this much more per byte:
// a feature (two bytes at least) draws a bar and a map cell of a few hundred
// bytes, a text byte becomes at most a 5-byte entity in up to four places.
constexpr std::size_t kPageBase = 16384;
constexpr std::size_t kPageBytesPerInputByte = 512;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Scores and weights that break plots: non-finite values, the ends of the
// doubles, values whose neighbours are more than 1 apart, ulp neighbours.
// clang-format off
const double kSpecial[] = {kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, 1.0, -1.0, DBL_MAX, -DBL_MAX, DBL_MIN,
                           std::numeric_limits<double>::denorm_min(), 1e17, -4503599627370496.0 /* -2^52 */,
                           2.5, -0.6666666666666667, 1e300, -1e-300, 1e-250, 1e154};
// clang-format on
constexpr int kSpecialCount = sizeof(kSpecial) / sizeof(kSpecial[0]);

// A score or weight: a special value, a few ulps from the previous value, a
// small multiple of 1/8 (ties are common) or any bit pattern.
double Value(ByteReader& in, double& previous) {
  const std::uint8_t kind = in.Byte();
  if (kind < kSpecialCount) {
    previous = kSpecial[kind];
  } else if (kind < 64) {
    for (int ulps = kind % 8 - 4; ulps != 0; ulps -= ulps > 0 ? 1 : -1)
      previous = std::nextafter(previous, ulps > 0 ? kInf : -kInf);
  } else {
    previous = kind < 224 ? (kind - 144) / 8.0 : in.RawDouble();
  }
  return previous;
}

// A label: mostly +1 or -1, sometimes anything else.
double Label(ByteReader& in, double& previous) {
  const std::uint8_t kind = in.Byte();
  return kind < 112 ? 1.0 : kind < 224 ? -1.0 : Value(in, previous);
}

// `count` arbitrary bytes.
std::string Bytes(ByteReader& in, int count) {
  std::string text(count, '\0');
  for (char& c : text) c = static_cast<char>(in.Byte());
  return text;
}

std::string Text(ByteReader& in) { return Bytes(in, in.Byte() % 32); }

// A feature name: arbitrary bytes, or CHANNEL_SAMPLE so that a channel x
// time map is drawn.
std::string Name(ByteReader& in, bool channelSample) {
  if (!channelSample) return Text(in);
  const std::string channel = Bytes(in, in.Byte() % 4);
  return channel + "_" + std::to_string(in.Byte() % 24);
}

// The length of the character at text[i] if it is well-formed UTF-8 that a
// page may hold (no control character but tab and line feed, no
// noncharacter), else 0.
std::size_t PageCharacter(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) -> std::uint8_t {
    return i + k < text.size() ? text[i + k] : 0;
  };
  if (byte(0) < 0x80)
    return byte(0) == '\t' || byte(0) == '\n' ||
           (byte(0) >= 0x20 && byte(0) < 0x7F);
  const std::size_t length = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : 2;
  if (byte(0) < 0xC0 || byte(0) > 0xF4) return 0;
  std::uint32_t code = byte(0) & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(k) & 0x3F);
  }
  // Overlong or C1 control, too big, surrogate, noncharacter.
  const std::uint32_t least[] = {0, 0, 0xA0, 0x800, 0x10000};
  const bool bad = code < least[length] || code > 0x10FFFF ||
                   (code >= 0xD800 && code <= 0xDFFF) ||
                   (code >= 0xFDD0 && code <= 0xFDEF) ||
                   (code & 0xFFFE) == 0xFFFE;
  return bad ? 0 : length;
}

// "" when there are three plots or more and each, from its <svg to its
// </svg>, is well-formed XML: every element opened in it is closed, in order.
std::string CheckPlots(const std::string& page) {
  int plots = 0;
  for (std::size_t at = page.find("<svg"); at != std::string::npos;
       at = page.find("<svg", at + 1), ++plots) {
    const std::size_t end = page.find("</svg>", at);
    pugi::xml_document plot;
    if (end == std::string::npos ||
        !plot.load_buffer(page.data() + at, end + 6 - at))
      return "plot " + std::to_string(plots) + " is not well-formed XML";
  }
  return plots >= 3 ? "" : "fewer than three plots";
}

}  // namespace

std::string FuzzReport(const std::uint8_t* data, std::size_t size) {
  ByteReader in{data, size};
  const std::uint8_t shape = in.Byte();  // bits 0-1: curves; 2: map names
  double previous = 0.0;
  Report::ReportContent content;
  content.title = Text(in);
  for (int k = in.Byte() % 4; k > 0 && in.size; --k)
    content.facts.emplace_back(Text(in), Text(in));
  for (int s = 0; s < (shape & 3); ++s) {
    Report::RocSeries series{Text(in), {}, {}};
    for (int k = in.Byte() % 64; k > 0 && in.size; --k) {
      series.scores.push_back(Value(in, previous));
      series.labels.push_back(Label(in, previous));
    }
    content.rocs.push_back(series);
  }
  for (int k = in.Byte(); k > 0 && in.size; --k) {
    content.scores.push_back(Value(in, previous));
    content.labels.push_back(Label(in, previous));
  }
  content.scoresCaption = Text(in);
  for (int k = in.Byte(); k > 0 && in.size; --k) {
    content.names.push_back(Name(in, shape & 4));
    content.weights.push_back(Value(in, previous));
    const std::uint8_t flags = in.Byte();
    content.selected.push_back(flags & 1);
    content.weightNotes.push_back(flags & 2 ? Text(in) : "");
  }
  content.weightsCaption = Text(in);
  for (int k = in.Byte() % 4; k > 0 && in.size; --k)
    content.notes.push_back(Text(in));

  const std::string page = Report::RenderReport(content);
  for (std::size_t i = 0, length = 1; i < page.size(); i += length)
    if ((length = PageCharacter(page, i)) == 0)
      return "byte " + std::to_string(i) +
             " of the page starts no character a page may hold";
  if (std::string problem = CheckPlots(page); !problem.empty()) return problem;
  if (page.size() > kPageBase + kPageBytesPerInputByte * size)
    return "a page of " + std::to_string(page.size()) + " bytes from " +
           std::to_string(size) + " input bytes";
  return {};
}

}  // namespace Korva::Fuzz
