#ifndef KORVA_FIELDTRIP_CLIENT_H_
#define KORVA_FIELDTRIP_CLIENT_H_

// A client of a FieldTrip buffer over TCP (fieldtrip/protocol.h), one
// request at a time. Every connect, write and read has a deadline (poll on
// a non-blocking socket): nothing waits longer than the timeout given, plus
// a WAIT_DAT's own time. Each failure is an Error whose message starts with
// the buffer's address.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "fieldtrip/protocol.h"

namespace Korva::FieldTrip {

// HOST and PORT of "ft://HOST:PORT" (HOST a name, an IPv4 address or an IPv6
// one in brackets); nullopt when `address` is not of that form.
struct Address {
  std::string host;
  int port = 0;
};
std::optional<Address> ParseAddress(const std::string& address);

class Client {
 public:
  // Connects to `address`. Error(kConnect) when the name does not resolve or
  // nothing listens, Error(kTimeout) when the connection is not made within
  // `timeout`.
  Client(const Address& address, std::chrono::milliseconds timeout);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // GET_HDR. Error(kRefused) when the buffer holds no header.
  Header GetHeader();
  // GET_DAT of samples begin..end (inclusive) of `channels` channels, as
  // rows. Error(kRefused) when the buffer no longer (or not yet) holds them.
  std::vector<double> GetData(std::uint32_t begin,
                              std::uint32_t end,
                              std::uint32_t channels);
  // GET_EVT of events begin..end (inclusive).
  std::vector<Event> GetEvents(std::uint32_t begin, std::uint32_t end);
  // WAIT_DAT: the counts once the buffer holds more than `seen` samples or
  // events, or after `wait`; nullopt on WAIT_ERR (the buffer has no header
  // any more: its writer flushed it).
  std::optional<Counts> Wait(const Counts& seen,
                             std::chrono::milliseconds wait);
  // PUT_EVT.
  void PutEvents(const std::vector<Event>& events);

  // "ft://HOST:PORT", as errors name it.
  const std::string& Name() const { return name_; }

 private:
  Head Exchange(std::uint16_t command,
                const std::string& payload,
                std::uint16_t ok,
                std::chrono::milliseconds extra,
                std::string& reply);
  void Send(const std::string& bytes,
            std::chrono::steady_clock::time_point deadline);
  void Receive(char* bytes,
               std::size_t size,
               std::chrono::steady_clock::time_point deadline,
               const std::string& what);
  [[noreturn]] void Fail(ErrorKind kind, const std::string& message) const;

  std::string name_;
  std::chrono::milliseconds timeout_;
  int fd_ = -1;
};

}  // namespace Korva::FieldTrip

#endif  // KORVA_FIELDTRIP_CLIENT_H_
