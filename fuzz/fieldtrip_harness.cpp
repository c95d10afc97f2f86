// The FieldTrip buffer target: one reply as the client meets it, a message
// head and then the payload it declares, decoded as the reply it expects.
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "fieldtrip/protocol.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

namespace Ft = Korva::FieldTrip;

// Equal as the decoder meant them: NaN matches NaN (a float32 NaN may come
// back quieted, so bits are not compared).
bool Same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

bool SameRows(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!Same(a[i], b[i])) return false;
  return true;
}

std::string CheckHeader(const std::string& payload, bool big) {
  const Ft::Header h = Ft::DecodeHeader(payload, big);
  if (!h.names.empty() && h.names.size() != h.channels)
    return "a header of " + std::to_string(h.channels) + " channels has " +
           std::to_string(h.names.size()) + " names";
  if (Ft::WordSize(h.type) == 0) return "a header of an undefined data type";
  for (bool order : {false, true}) {
    const Ft::Header back = Ft::DecodeHeader(Ft::EncodeHeader(h, order), order);
    if (back.channels != h.channels || back.samples != h.samples ||
        back.events != h.events || back.type != h.type ||
        back.names != h.names || !Same(back.rate, h.rate))
      return "a header does not read back as it was written";
  }
  return {};
}

// Values of a 64-bit integer type may round to 2^63 or 2^64 as doubles,
// which the encoder cannot convert back; such data round-trips as float64.
bool EncodableAs(const std::vector<double>& rows, std::uint32_t type) {
  if (type != std::uint32_t(Ft::Type::kInt64) &&
      type != std::uint32_t(Ft::Type::kUint64))
    return true;
  for (double x : rows)
    if (!(std::fabs(x) < 9.2e18)) return false;
  return true;
}

std::string CheckData(const std::string& payload, bool big,
                      std::uint32_t channels) {
  std::uint32_t samples = 0;
  const std::vector<double> rows =
      Ft::DecodeData(payload, big, channels, samples);
  if (rows.size() != std::size_t(channels) * samples)
    return "data of " + std::to_string(samples) + " samples of " +
           std::to_string(channels) + " channels has " +
           std::to_string(rows.size()) + " values";
  for (double x : rows)
    if (!std::isfinite(x)) return "data with a value that is not finite";
  std::uint32_t type;
  std::memcpy(&type, payload.data() + 8, 4);
  if (big) type = __builtin_bswap32(type);
  for (Ft::Type as : {Ft::Type::kFloat64, Ft::Type(type)}) {
    if (!EncodableAs(rows, std::uint32_t(as))) continue;
    for (bool order : {false, true}) {
      std::uint32_t back = 0;
      if (!SameRows(Ft::DecodeData(Ft::EncodeData(rows, channels, as, order),
                                   order, channels, back),
                    rows) ||
          (channels > 0 && back != samples))
        return "data does not read back as it was written as " +
               Ft::TypeName(std::uint32_t(as));
    }
  }
  return {};
}

// The encoder writes a type as text and a value as text or one float64.
std::string CheckEvents(const std::string& payload, bool big) {
  const std::vector<Ft::Event> events = Ft::DecodeEvents(payload, big);
  if (events.size() > payload.size() / 32)
    return "more events than 32-byte event heads";
  const std::vector<Ft::Event> back =
      Ft::DecodeEvents(Ft::EncodeEvents(events, !big), !big);
  if (back.size() != events.size()) return "events read back as more or fewer";
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Ft::Event &a = events[i], &b = back[i];
    if (a.type != b.type || a.sample != b.sample || a.offset != b.offset ||
        a.duration != b.duration || a.valueNumber != b.valueNumber ||
        (a.valueNumber ? !Same(a.number, b.number) : a.value != b.value))
      return "event " + std::to_string(i) + " does not read back the same";
  }
  return {};
}

std::string CheckWords(const std::string& payload, bool big,
                       std::size_t count) {
  const auto words = Ft::DecodeWords(payload, big, count, "the reply");
  if (words.size() != count || Ft::EncodeWords(words, big) != payload)
    return "words do not read back as they were written";
  return {};
}

}  // namespace

std::string FuzzFieldTrip(const std::uint8_t* data, std::size_t size) {
  if (size < 3 + Ft::kHeadBytes) return {};
  const unsigned kind = data[0] & 3;
  const std::uint32_t channels = data[1] | data[2] << 8;
  const char* head = reinterpret_cast<const char*>(data + 3);
  try {
    const Ft::Head h = Ft::DecodeHead(head);
    const std::size_t left = size - 3 - Ft::kHeadBytes;
    // A shorter reply leaves the client waiting until its deadline; bytes
    // past the payload belong to the next message.
    if (h.size > left) return {};
    const std::string payload(head + Ft::kHeadBytes, h.size);
    if (Ft::EncodeMessage(h.command, payload, h.bigEndian) !=
        std::string(head, Ft::kHeadBytes + h.size))
      return "a message does not read back as it was written";
    switch (kind) {
      case 0:
        return CheckHeader(payload, h.bigEndian);
      case 1:
        return CheckData(payload, h.bigEndian, channels);
      case 2:
        return CheckEvents(payload, h.bigEndian);
      default:
        return CheckWords(payload, h.bigEndian, data[0] & 4 ? 3 : 2);
    }
  } catch (const Ft::Error& e) {
    if (e.Kind() != Ft::ErrorKind::kMalformed || std::strlen(e.what()) == 0)
      return std::string("a refusal not of a malformed message: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("a decoder threw other than FieldTrip::Error: ") +
           e.what();
  }
  return {};
}

}  // namespace Korva::Fuzz
