#include "fieldtrip/protocol.h"

#include <cmath>
#include <cstring>
#include <cstdio>
#include <iterator>

#include "text/number_text.h"

namespace Korva::FieldTrip {
namespace {

constexpr std::uint32_t kChannelNames = 1;

[[noreturn]] void Malformed(const std::string& message) {
  throw Error(ErrorKind::kMalformed, message);
}

// Reads numbers of a payload in its byte order, refusing to read past it.
class Reader {
 public:
  Reader(const std::string& bytes, bool bigEndian, const char* what)
      : bytes_(bytes), bigEndian_(bigEndian), what_(what) {}
  // The reader keeps a reference: a temporary would be gone before it reads.
  Reader(std::string&&, bool, const char*) = delete;

  std::uint64_t Unsigned(std::size_t size) {
    const unsigned char* b = Take(size);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size; ++i)
      v |= std::uint64_t(b[bigEndian_ ? size - 1 - i : i]) << (8 * i);
    return v;
  }
  std::uint32_t Word() { return static_cast<std::uint32_t>(Unsigned(4)); }
  std::string Bytes(std::size_t size) {
    const unsigned char* b = Take(size);
    return std::string(reinterpret_cast<const char*>(b), size);
  }
  // One value of `type` as a double.
  double Value(std::uint32_t type) {
    const std::size_t size = WordSize(type);
    const std::uint64_t u = Unsigned(size);
    switch (static_cast<Type>(type)) {
      case Type::kInt8:
        return static_cast<std::int8_t>(u);
      case Type::kInt16:
        return static_cast<std::int16_t>(u);
      case Type::kInt32:
        return static_cast<std::int32_t>(u);
      case Type::kInt64:
        return static_cast<double>(static_cast<std::int64_t>(u));
      case Type::kFloat32: {
        float f;
        const auto w = static_cast<std::uint32_t>(u);
        std::memcpy(&f, &w, 4);
        return f;
      }
      case Type::kFloat64: {
        double d;
        std::memcpy(&d, &u, 8);
        return d;
      }
      default:
        return static_cast<double>(u);
    }
  }
  std::size_t Left() const { return bytes_.size() - at_; }

 private:
  const unsigned char* Take(std::size_t size) {
    if (size > Left())
      Malformed(std::string(what_) + " ends after " + std::to_string(at_) +
                " of the " + std::to_string(at_ + size) +
                " bytes it declares");
    const auto* b = reinterpret_cast<const unsigned char*>(bytes_.data()) + at_;
    at_ += size;
    return b;
  }

  const std::string& bytes_;
  bool bigEndian_;
  const char* what_;
  std::size_t at_ = 0;
};

class Writer {
 public:
  explicit Writer(bool bigEndian) : bigEndian_(bigEndian) {}
  void Unsigned(std::uint64_t v, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      const std::size_t shift = 8 * (bigEndian_ ? size - 1 - i : i);
      out_ += static_cast<char>((v >> shift) & 0xFF);
    }
  }
  void Word(std::uint32_t v) { Unsigned(v, 4); }
  void Value(double x, Type type) {
    switch (type) {
      case Type::kFloat32: {
        const float f = static_cast<float>(x);
        std::uint32_t w;
        std::memcpy(&w, &f, 4);
        return Unsigned(w, 4);
      }
      case Type::kFloat64: {
        std::uint64_t w;
        std::memcpy(&w, &x, 8);
        return Unsigned(w, 8);
      }
      case Type::kInt8:
      case Type::kInt16:
      case Type::kInt32:
      case Type::kInt64:
        return Unsigned(static_cast<std::uint64_t>(static_cast<std::int64_t>(x)),
                        WordSize(static_cast<std::uint32_t>(type)));
      default:
        return Unsigned(static_cast<std::uint64_t>(x),
                        WordSize(static_cast<std::uint32_t>(type)));
    }
  }
  void Bytes(const std::string& b) { out_ += b; }
  std::string& Out() { return out_; }

 private:
  bool bigEndian_;
  std::string out_;
};

void CheckType(std::uint32_t type, const char* what) {
  if (WordSize(type) == 0)
    Malformed(std::string(what) + " has data type " + std::to_string(type) +
              ", which the protocol does not define");
}

// The names of a channel-names chunk: `channels` NUL-ended texts.
std::vector<std::string> ChannelNames(const std::string& chunk,
                                      std::uint32_t channels) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < chunk.size() && names.size() < channels) {
    const std::size_t end = chunk.find('\0', at);
    if (end == std::string::npos) break;
    names.push_back(chunk.substr(at, end - at));
    at = end + 1;
  }
  if (names.size() != channels)
    Malformed("the header's channel names chunk holds " +
              std::to_string(names.size()) + " NUL-ended names for " +
              std::to_string(channels) + " channels");
  return names;
}

// A type or value of an event: `numel` words of `type` as text.
std::string EventText(Reader& r, std::uint32_t type, std::uint32_t numel) {
  if (type == static_cast<std::uint32_t>(Type::kChar)) {
    std::string text = r.Bytes(numel);
    text.erase(text.find_last_not_of('\0') + 1);
    return text;
  }
  std::string text;
  for (std::uint32_t i = 0; i < numel; ++i)
    text += (i ? " " : "") + Text::FormatDouble(r.Value(type));
  return text;
}

}  // namespace

std::size_t WordSize(std::uint32_t type) {
  static const std::size_t kSizes[] = {1, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8};
  return type < std::size(kSizes) ? kSizes[type] : 0;
}

std::string TypeName(std::uint32_t type) {
  static const char* const kNames[] = {
      "char", "uint8", "uint16", "uint32", "uint64", "int8",
      "int16", "int32", "int64", "float32", "float64"};
  return type < std::size(kNames) ? kNames[type]
                                  : "type " + std::to_string(type);
}

std::string CommandName(std::uint16_t command) {
  static const char* const kGroups[] = {"PUT", "GET", "FLUSH", "WAIT"};
  static const char* const kWhat[] = {"HDR", "DAT", "EVT", "OK", "ERR"};
  const unsigned group = command >> 8, what = command & 0xFF;
  if (group >= 1 && group <= 4 && what >= 1 && what <= 5)
    return std::string(kGroups[group - 1]) + "_" + kWhat[what - 1];
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04x", unsigned(command));
  return hex;
}

Head DecodeHead(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  Head head;
  const unsigned little = b[0] | b[1] << 8;
  if (little != kVersion && (b[0] << 8 | b[1]) != kVersion)
    Malformed("a message of protocol version " + std::to_string(little) +
              ", not 1 (is this a FieldTrip buffer?)");
  head.bigEndian = little != kVersion;
  const std::string rest(bytes + 2, 6);
  Reader r(rest, head.bigEndian, "a message head");
  head.command = static_cast<std::uint16_t>(r.Unsigned(2));
  head.size = r.Word();
  if (head.size > kMaxPayload)
    Malformed("a " + CommandName(head.command) + " message of " +
              std::to_string(head.size) + " bytes, more than korva reads");
  return head;
}

std::string EncodeMessage(std::uint16_t command,
                          const std::string& payload,
                          bool bigEndian) {
  Writer w(bigEndian);
  w.Unsigned(kVersion, 2);
  w.Unsigned(command, 2);
  w.Word(static_cast<std::uint32_t>(payload.size()));
  w.Bytes(payload);
  return std::move(w.Out());
}

Header DecodeHeader(const std::string& payload, bool bigEndian) {
  Reader r(payload, bigEndian, "the header");
  Header h;
  h.channels = r.Word();
  h.samples = r.Word();
  h.events = r.Word();
  h.rate = r.Value(static_cast<std::uint32_t>(Type::kFloat32));
  h.type = r.Word();
  CheckType(h.type, "the header");
  const std::uint32_t size = r.Word();
  if (size != r.Left())
    Malformed("the header declares " + std::to_string(size) +
              " bytes of chunks and holds " + std::to_string(r.Left()));
  while (r.Left() > 0) {
    const std::uint32_t type = r.Word(), chunkSize = r.Word();
    const std::string chunk = r.Bytes(chunkSize);
    if (type == kChannelNames) h.names = ChannelNames(chunk, h.channels);
  }
  return h;
}

std::string EncodeHeader(const Header& header, bool bigEndian) {
  Writer w(bigEndian);
  std::string names;
  for (const std::string& n : header.names) names += n + '\0';
  w.Word(header.channels);
  w.Word(header.samples);
  w.Word(header.events);
  w.Value(header.rate, Type::kFloat32);
  w.Word(header.type);
  w.Word(names.empty() ? 0 : static_cast<std::uint32_t>(8 + names.size()));
  if (!names.empty()) {
    w.Word(kChannelNames);
    w.Word(static_cast<std::uint32_t>(names.size()));
    w.Bytes(names);
  }
  return std::move(w.Out());
}

std::vector<double> DecodeData(const std::string& payload,
                               bool bigEndian,
                               std::uint32_t channels,
                               std::uint32_t& samples) {
  Reader r(payload, bigEndian, "the data");
  const std::uint32_t nchans = r.Word();
  samples = r.Word();
  const std::uint32_t type = r.Word(), size = r.Word();
  if (nchans != channels)
    Malformed("the data has " + std::to_string(nchans) +
              " channels; the header " + std::to_string(channels));
  CheckType(type, "the data");
  if (type == static_cast<std::uint32_t>(Type::kChar))
    Malformed("the data is of type char, not numbers");
  const std::uint64_t need = std::uint64_t(nchans) * samples * WordSize(type);
  if (need != size || size != r.Left())
    Malformed("the data declares " + std::to_string(samples) + " samples of " +
              std::to_string(nchans) + " " + TypeName(type) + " values (" +
              std::to_string(need) + " bytes) in " + std::to_string(size) +
              " bytes and holds " + std::to_string(r.Left()));
  // A NaN or infinity would pass through filters and the classifier into
  // every later score; the writer is at fault, so say where it lies.
  std::vector<double> rows(std::size_t(nchans) * samples);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = r.Value(type);
    if (!std::isfinite(rows[i]))
      Malformed("the data holds " + Text::FormatDouble(rows[i]) +
                " in row " + std::to_string(i / nchans + 1) + ", channel " +
                std::to_string(i % nchans + 1) +
                " of the reply; samples must be finite numbers");
  }
  return rows;
}

std::string EncodeData(const std::vector<double>& rows,
                       std::uint32_t channels,
                       Type type,
                       bool bigEndian) {
  Writer w(bigEndian);
  const auto size = static_cast<std::uint32_t>(
      rows.size() * WordSize(static_cast<std::uint32_t>(type)));
  w.Word(channels);
  // No channels hold no samples (and would divide by zero).
  w.Word(channels ? static_cast<std::uint32_t>(rows.size() / channels) : 0);
  w.Word(static_cast<std::uint32_t>(type));
  w.Word(size);
  for (double x : rows) w.Value(x, type);
  return std::move(w.Out());
}

std::vector<Event> DecodeEvents(const std::string& payload, bool bigEndian) {
  Reader r(payload, bigEndian, "an event");
  std::vector<Event> events;
  while (r.Left() > 0) {
    Event e;
    const std::uint32_t typeType = r.Word(), typeNumel = r.Word();
    const std::uint32_t valueType = r.Word(), valueNumel = r.Word();
    e.sample = static_cast<std::int32_t>(r.Word());
    e.offset = static_cast<std::int32_t>(r.Word());
    e.duration = static_cast<std::int32_t>(r.Word());
    const std::uint32_t size = r.Word();
    CheckType(typeType, "an event's type");
    CheckType(valueType, "an event's value");
    const std::uint64_t need = std::uint64_t(typeNumel) * WordSize(typeType) +
                               std::uint64_t(valueNumel) * WordSize(valueType);
    if (need > size || size > r.Left())
      Malformed("event " + std::to_string(events.size()) + " declares " +
                std::to_string(size) + " bytes for a type and value of " +
                std::to_string(need) + ", and " + std::to_string(r.Left()) +
                " are left");
    const std::string body = r.Bytes(size);
    Reader b(body, bigEndian, "an event");
    e.type = EventText(b, typeType, typeNumel);
    e.valueNumber = valueType != static_cast<std::uint32_t>(Type::kChar);
    // A copy of the reader, at the value's first word.
    if (e.valueNumber && valueNumel > 0) e.number = Reader(b).Value(valueType);
    e.value = EventText(b, valueType, valueNumel);
    events.push_back(std::move(e));
  }
  return events;
}

std::string EncodeEvents(const std::vector<Event>& events, bool bigEndian) {
  Writer w(bigEndian);
  for (const Event& e : events) {
    const bool number = e.valueNumber;
    const std::size_t valueBytes = number ? 8 : e.value.size();
    w.Word(static_cast<std::uint32_t>(Type::kChar));
    w.Word(static_cast<std::uint32_t>(e.type.size()));
    w.Word(static_cast<std::uint32_t>(number ? Type::kFloat64 : Type::kChar));
    w.Word(static_cast<std::uint32_t>(number ? 1 : e.value.size()));
    w.Word(static_cast<std::uint32_t>(e.sample));
    w.Word(static_cast<std::uint32_t>(e.offset));
    w.Word(static_cast<std::uint32_t>(e.duration));
    w.Word(static_cast<std::uint32_t>(e.type.size() + valueBytes));
    w.Bytes(e.type);
    if (number)
      w.Value(e.number, Type::kFloat64);
    else
      w.Bytes(e.value);
  }
  return std::move(w.Out());
}

std::string EncodeWords(const std::vector<std::uint32_t>& words,
                        bool bigEndian) {
  Writer w(bigEndian);
  for (std::uint32_t v : words) w.Word(v);
  return std::move(w.Out());
}

std::vector<std::uint32_t> DecodeWords(const std::string& payload,
                                       bool bigEndian,
                                       std::size_t count,
                                       const char* what) {
  if (payload.size() != 4 * count)
    Malformed(std::string(what) + " of " + std::to_string(payload.size()) +
              " bytes, not " + std::to_string(4 * count));
  Reader r(payload, bigEndian, what);
  std::vector<std::uint32_t> words(count);
  for (auto& v : words) v = r.Word();
  return words;
}

}  // namespace Korva::FieldTrip
