#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/byte_reader.h"
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

// `value` moved by `ulps` neighbouring doubles up (or down, when negative).
double MoveUlps(double value, int ulps) {
  for (; ulps > 0; --ulps) value = std::nextafter(value, kInf);
  for (; ulps < 0; ++ulps) value = std::nextafter(value, -kInf);
  return value;
}

// A score or weight: a special value, a few ulps from the previous value, a
// small multiple of 1/8 (ties are common) or any bit pattern.
double Value(ByteReader& in, double& previous) {
  const std::uint8_t kind = in.Byte();
  if (kind < kSpecialCount)
    previous = kSpecial[kind];
  else if (kind < 64)
    previous = MoveUlps(previous, kind % 8 - 4);
  else if (kind < 224)
    previous = (static_cast<int>(kind) - 144) / 8.0;
  else
    previous = in.RawDouble();
  return previous;
}

// A label: mostly +1 or -1, sometimes anything else.
double Label(ByteReader& in, double& previous) {
  const std::uint8_t kind = in.Byte();
  if (kind < 112) return 1.0;
  if (kind < 224) return -1.0;
  return Value(in, previous);
}

// Up to 31 arbitrary bytes.
std::string Text(ByteReader& in) {
  std::string text(in.Byte() % 32, '\0');
  for (char& c : text) c = static_cast<char>(in.Byte());
  return text;
}

// A feature name: arbitrary bytes, or CHANNEL_SAMPLE so that a channel x
// time map is drawn.
std::string Name(ByteReader& in, bool channelSample) {
  if (!channelSample) return Text(in);
  std::string channel(in.Byte() % 4, 'C');
  for (char& c : channel) c = static_cast<char>(in.Byte());
  return channel + "_" + std::to_string(in.Byte() % 24);
}

// One character of well-formed UTF-8 at text[i] that a page may hold (no
// control character but tab and line feed, no noncharacter): its length,
// else 0.
std::size_t PageCharacter(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<std::uint8_t>(text[i + k]) : 0;
  };
  const std::uint8_t b0 = byte(0);
  if (b0 < 0x80) return b0 >= 0x20 ? (b0 < 0x7F) : (b0 == '\t' || b0 == '\n');
  std::size_t length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (length == 0 || b0 > 0xF4) return 0;
  std::uint32_t code = b0 & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(k) & 0x3F);
  }
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF) return 0;  // overlong, too big
  if (code >= 0xD800 && code <= 0xDFFF) return 0;         // surrogate
  if (code <= 0x9F) return 0;                             // C1 control
  if ((code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE)
    return 0;  // noncharacter
  return length;
}

// "" when every element opened inside each <svg> is closed in order, and
// there are at least three plots.
std::string CheckSvgElements(const std::string& page) {
  std::vector<std::string> open;
  int plots = 0;
  for (std::size_t at = page.find('<'); at != std::string::npos;
       at = page.find('<', at + 1)) {
    const std::size_t end = page.find('>', at);
    if (end == std::string::npos) return "a tag has no end";
    const std::string tag = page.substr(at + 1, end - at - 1);
    const std::string name = tag.substr(0, tag.find(' '));
    if (name.empty() || name == "/") return "a tag without a name";
    if (name == "svg") {
      if (!open.empty()) return "an <svg> inside another";
      ++plots;
    } else if (open.empty() || tag.back() == '/') {
      continue;  // outside the plots, or an empty element
    }
    if (name[0] != '/') {
      open.push_back(name);
    } else if (name.substr(1) != open.back()) {
      return "</" + name.substr(1) + "> closes <" + open.back() + ">";
    } else {
      open.pop_back();
    }
  }
  if (!open.empty()) return "<" + open.back() + "> is never closed";
  return plots >= 3 ? "" : "fewer than three plots";
}

}  // namespace

std::string FuzzReport(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const std::uint8_t shape = in.Byte();  // bits 0-1: curves; 2: map names
  double previous = 0.0;
  Report::ReportContent content;
  content.title = Text(in);
  for (int k = in.Byte() % 4; k > 0 && in.Remaining(); --k)
    content.facts.emplace_back(Text(in), Text(in));
  for (int s = 0; s < (shape & 3); ++s) {
    Report::RocSeries series{Text(in), {}, {}};
    for (int k = in.Byte() % 64; k > 0 && in.Remaining(); --k) {
      series.scores.push_back(Value(in, previous));
      series.labels.push_back(Label(in, previous));
    }
    content.rocs.push_back(series);
  }
  for (int k = in.Byte(); k > 0 && in.Remaining(); --k) {
    content.scores.push_back(Value(in, previous));
    content.labels.push_back(Label(in, previous));
  }
  content.scoresCaption = Text(in);
  for (int k = in.Byte(); k > 0 && in.Remaining(); --k) {
    content.names.push_back(Name(in, shape & 4));
    content.weights.push_back(Value(in, previous));
    const std::uint8_t flags = in.Byte();
    content.selected.push_back(flags & 1);
    content.weightNotes.push_back(flags & 2 ? Text(in) : "");
  }
  content.weightsCaption = Text(in);
  for (int k = in.Byte() % 4; k > 0 && in.Remaining(); --k)
    content.notes.push_back(Text(in));

  const std::string page = Report::RenderReport(content);
  for (std::size_t i = 0, length = 0; i < page.size(); i += length) {
    length = PageCharacter(page, i);
    if (length == 0)
      return "byte " + std::to_string(i) +
             " of the page starts no character a page may hold";
  }
  if (std::string problem = CheckSvgElements(page); !problem.empty())
    return problem;
  if (page.size() > kPageBase + kPageBytesPerInputByte * size)
    return "a page of " + std::to_string(page.size()) + " bytes from " +
           std::to_string(size) + " input bytes";
  return {};
}

}  // namespace Korva::Fuzz
