#ifndef KORVA_FIELDTRIP_PROTOCOL_H_
#define KORVA_FIELDTRIP_PROTOCOL_H_

// The messages of the FieldTrip buffer's TCP protocol, version 1, as pure
// functions: nothing here touches a socket, so every packet can be checked
// from bytes.
//
// A message is an 8-byte head, then its payload:
//   uint16 version (1), uint16 command, uint32 size of the payload.
// Every number of a message is in the byte order of the program that wrote
// it; the reader tells the order from the version field (1 one way round,
// 256 the other) and swaps when it differs from its own. korva writes
// little-endian.
//
// Payloads (all fields uint32 unless said):
//   header   nchans, nsamples, nevents, fsample (float32), data_type,
//            bufsize; then bufsize bytes of chunks, each type, size, bytes
//            (type 1: the channel names, each ended by a NUL)
//   data     nchans, nsamples, data_type, bufsize; then nsamples rows of
//            nchans values (the channels of one sample together)
//   event    type_type, type_numel, value_type, value_numel, sample,
//            offset, duration (int32 each of the last three), bufsize; then
//            bufsize bytes: type_numel words of the type, value_numel of the
//            value, padding
//   datasel  begsample, endsample (inclusive): GET_DAT's request
//   eventsel begevent, endevent (inclusive): GET_EVT's request
//   waitdef  nsamples, nevents, milliseconds: WAIT_DAT returns once the
//            buffer holds more samples or more events than these, or the
//            time has passed; its reply is nsamples, nevents
// Requests that ask nothing (GET_HDR) have an empty payload; PUT_OK and the
// ERR replies carry none.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Korva::FieldTrip {

constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeadBytes = 8;
// Payloads korva accepts, at most: 1 GiB, far beyond any chunk of samples.
constexpr std::uint32_t kMaxPayload = 1u << 30;

enum Command : std::uint16_t {
  kPutHdr = 0x101,
  kPutDat = 0x102,
  kPutEvt = 0x103,
  kPutOk = 0x104,
  kPutErr = 0x105,
  kGetHdr = 0x201,
  kGetDat = 0x202,
  kGetEvt = 0x203,
  kGetOk = 0x204,
  kGetErr = 0x205,
  kFlushHdr = 0x301,
  kFlushDat = 0x302,
  kFlushEvt = 0x303,
  kFlushOk = 0x304,
  kFlushErr = 0x305,
  kWaitDat = 0x402,
  kWaitOk = 0x404,
  kWaitErr = 0x405,
};

enum class Type : std::uint32_t {
  kChar = 0,
  kUint8 = 1,
  kUint16 = 2,
  kUint32 = 3,
  kUint64 = 4,
  kInt8 = 5,
  kInt16 = 6,
  kInt32 = 7,
  kInt64 = 8,
  kFloat32 = 9,
  kFloat64 = 10,
};

// Bytes of one value of `type`; 0 for a type the protocol does not define.
std::size_t WordSize(std::uint32_t type);
// The protocol's name of `type` ("float32"), or "type N".
std::string TypeName(std::uint32_t type);
// The name of a command ("GET_DAT"), or its number in hex.
std::string CommandName(std::uint16_t command);

// kClosed: the peer closed or reset the connection; kMalformed: a packet
// that breaks the protocol (bad version, short, counts that do not add up);
// kRefused: an ERR reply; kTimeout: no connection or reply in time;
// kConnect: no connection at all.
enum class ErrorKind { kConnect, kClosed, kTimeout, kMalformed, kRefused };

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

struct Head {
  std::uint16_t command = 0;
  std::uint32_t size = 0;
  bool bigEndian = false;  // the order of every number of this message
};

struct Header {
  std::uint32_t channels = 0, samples = 0, events = 0;
  double rate = 0;  // Hz, as the float32 the buffer keeps
  std::uint32_t type = 0;
  std::vector<std::string> names;  // empty when the header has no names
};

struct Counts {
  std::uint32_t samples = 0, events = 0;
};

// An event's type and value as text: a char array as it is (without
// trailing NULs), numbers as the shortest decimal text (several separated
// by a blank). `valueNumber` marks a value of numbers, `number` its first.
struct Event {
  std::string type, value;
  std::int32_t sample = 0, offset = 0, duration = 0;
  bool valueNumber = false;
  double number = 0;
};

// Message heads and whole messages. Error(kMalformed) for a version that is
// 1 in neither byte order or a payload over kMaxPayload.
Head DecodeHead(const char* bytes);
std::string EncodeMessage(std::uint16_t command,
                          const std::string& payload,
                          bool bigEndian = false);

// Payloads; each decoder refuses with Error(kMalformed), saying what, a
// payload too short for what it declares, a size field that disagrees with
// the rest, a data type outside the table, channel names that do not
// match nchans.
Header DecodeHeader(const std::string& payload, bool bigEndian);
std::string EncodeHeader(const Header& header, bool bigEndian = false);
// The rows of a data payload as doubles, rows[i * channels + c]; refused
// when the payload's nchans differs from `channels`.
std::vector<double> DecodeData(const std::string& payload,
                               bool bigEndian,
                               std::uint32_t channels,
                               std::uint32_t& samples);
// `rows` (samples x channels) as `type`, each value converted as C++
// converts a double to it.
std::string EncodeData(const std::vector<double>& rows,
                       std::uint32_t channels,
                       Type type,
                       bool bigEndian = false);
std::vector<Event> DecodeEvents(const std::string& payload, bool bigEndian);
// Type as char; value as char, or `number` as one float64 when
// `valueNumber`.
std::string EncodeEvents(const std::vector<Event>& events,
                         bool bigEndian = false);
// Two or three uint32 (datasel, eventsel, waitdef, the wait reply).
std::string EncodeWords(const std::vector<std::uint32_t>& words,
                        bool bigEndian = false);
std::vector<std::uint32_t> DecodeWords(const std::string& payload,
                                       bool bigEndian,
                                       std::size_t count,
                                       const char* what);

}  // namespace Korva::FieldTrip

#endif  // KORVA_FIELDTRIP_PROTOCOL_H_
