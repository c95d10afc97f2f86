#include "fieldtrip/client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/number_text.h"

namespace Korva::FieldTrip {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Malformed(const std::string& message) {
  throw Error(ErrorKind::kMalformed, message);
}

// Milliseconds left until `deadline`, at least 0.
int Left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits until `fd` is ready for `events` or the deadline passes; false then.
bool Ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, Left(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // the read or write says what failed
  }
}

// A non-blocking socket connected to `info` within the deadline, or -1 with
// errno set (ETIMEDOUT when the deadline passed).
int ConnectOne(const addrinfo* info, Clock::time_point deadline) {
  const int fd = ::socket(info->ai_family,
                          info->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          info->ai_protocol);
  if (fd < 0) return -1;
  int error = 0;
  if (::connect(fd, info->ai_addr, info->ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      socklen_t size = sizeof error;
      error = !Ready(fd, POLLOUT, deadline) ? ETIMEDOUT
              : ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0
                  ? errno
                  : error;
    }
  }
  if (error == 0) {
    // Requests are small and each waits for its reply: sent at once, not
    // held back to be joined with more.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
  }
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

std::optional<Address> ParseAddress(const std::string& address) {
  const std::string scheme = "ft://";
  if (address.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  const std::string rest = address.substr(scheme.size());
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  Address a;
  a.host = rest.substr(0, colon);
  if (a.host.front() == '[' && a.host.back() == ']')
    a.host = a.host.substr(1, a.host.size() - 2);
  std::int64_t port = 0;
  if (a.host.empty() ||
      Text::ParseWhole(rest.substr(colon + 1), port) !=
          Text::NumberStatus::kOk ||
      port < 1 || port > 65535)
    return std::nullopt;
  a.port = static_cast<int>(port);
  return a;
}

Client::Client(const Address& address, std::chrono::milliseconds timeout)
    : name_("ft://" + address.host + ":" + std::to_string(address.port)),
      timeout_(timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  const int status =
      ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0)
    Fail(ErrorKind::kConnect,
         "cannot find host " + address.host + ": " + ::gai_strerror(status));
  const auto deadline = Clock::now() + timeout_;
  int error = 0;
  for (const addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    fd_ = ConnectOne(a, deadline);
    if (fd_ < 0) error = errno;
  }
  ::freeaddrinfo(found);
  if (fd_ >= 0) return;
  if (error == ETIMEDOUT)
    Fail(ErrorKind::kTimeout,
         "no connection within " + std::to_string(timeout_.count()) + " ms");
  Fail(ErrorKind::kConnect,
       std::string("cannot connect: ") + std::strerror(error) +
           " (is a buffer server running there?)");
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

void Client::Fail(ErrorKind kind, const std::string& message) const {
  throw Error(kind, name_ + ": " + message);
}

void Client::Send(const std::string& bytes, Clock::time_point deadline) {
  for (std::size_t at = 0; at < bytes.size();) {
    if (!Ready(fd_, POLLOUT, deadline))
      Fail(ErrorKind::kTimeout, "the buffer took no request for " +
                                    std::to_string(timeout_.count()) + " ms");
    const ssize_t n =
        ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0)
      Fail(ErrorKind::kClosed,
           std::string("the buffer went away: ") + std::strerror(errno));
    at += static_cast<std::size_t>(n);
  }
}

void Client::Receive(char* bytes,
                     std::size_t size,
                     Clock::time_point deadline,
                     const std::string& what) {
  for (std::size_t at = 0; at < size;) {
    if (!Ready(fd_, POLLIN, deadline))
      Fail(ErrorKind::kTimeout,
           "no " + what + " within " + std::to_string(timeout_.count()) +
               " ms (" + std::to_string(at) + " of " + std::to_string(size) +
               " bytes came)");
    const ssize_t n = ::recv(fd_, bytes + at, size - at, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0)
      Fail(ErrorKind::kClosed,
           "the buffer went away " +
               (at ? "in the middle of the " + what + " (" +
                         std::to_string(at) + " of " + std::to_string(size) +
                         " bytes came)"
                   : "before the " + what) +
               (n < 0 ? std::string(": ") + std::strerror(errno) : ""));
    at += static_cast<std::size_t>(n);
  }
}

Head Client::Exchange(std::uint16_t command,
                      const std::string& payload,
                      std::uint16_t ok,
                      std::chrono::milliseconds extra,
                      std::string& reply) {
  const auto deadline = Clock::now() + timeout_ + extra;
  Send(EncodeMessage(command, payload), deadline);
  const std::string what = "reply to " + CommandName(command);
  char head[kHeadBytes];
  Receive(head, kHeadBytes, deadline, what);
  Head h;
  try {
    h = DecodeHead(head);
  } catch (const Error& e) {
    Fail(e.Kind(), "the " + what + ": " + e.what());
  }
  reply.assign(h.size, '\0');
  Receive(reply.data(), h.size, deadline, what);
  if (h.command != ok && h.command != ok + 1)
    Fail(ErrorKind::kMalformed,
         "the " + what + " is " + CommandName(h.command) + ", not " +
             CommandName(ok) + " or " + CommandName(ok + 1));
  return h;
}

Header Client::GetHeader() {
  std::string reply;
  const Head h = Exchange(kGetHdr, {}, kGetOk, {}, reply);
  if (h.command == kGetErr)
    Fail(ErrorKind::kRefused,
         "the buffer holds no header (GET_ERR): no acquisition writes to it");
  try {
    return DecodeHeader(reply, h.bigEndian);
  } catch (const Error& e) {
    Fail(e.Kind(), e.what());
  }
}

std::vector<double> Client::GetData(std::uint32_t begin,
                                    std::uint32_t end,
                                    std::uint32_t channels) {
  std::string reply;
  const Head h =
      Exchange(kGetDat, EncodeWords({begin, end}), kGetOk, {}, reply);
  const std::string span =
      "samples " + std::to_string(begin) + " to " + std::to_string(end);
  if (h.command == kGetErr)
    Fail(ErrorKind::kRefused,
         "the buffer refused " + span +
             " (GET_ERR): it no longer holds them (korva fell behind) or its "
             "header changed");
  std::uint32_t samples = 0;
  try {
    std::vector<double> rows = DecodeData(reply, h.bigEndian, channels, samples);
    if (samples != end - begin + 1)
      Malformed(span + " came as " + std::to_string(samples) + " samples");
    return rows;
  } catch (const Error& e) {
    Fail(e.Kind(), e.what());
  }
}

std::vector<Event> Client::GetEvents(std::uint32_t begin, std::uint32_t end) {
  std::string reply;
  const Head h =
      Exchange(kGetEvt, EncodeWords({begin, end}), kGetOk, {}, reply);
  if (h.command == kGetErr)
    Fail(ErrorKind::kRefused, "the buffer refused events " +
                                  std::to_string(begin) + " to " +
                                  std::to_string(end) + " (GET_ERR)");
  try {
    std::vector<Event> events = DecodeEvents(reply, h.bigEndian);
    if (events.size() != std::size_t(end) - begin + 1)
      Malformed("events " + std::to_string(begin) + " to " +
                std::to_string(end) + " came as " +
                std::to_string(events.size()) + " events");
    return events;
  } catch (const Error& e) {
    Fail(e.Kind(), e.what());
  }
}

std::optional<Counts> Client::Wait(const Counts& seen,
                                   std::chrono::milliseconds wait) {
  std::string reply;
  const auto ms = static_cast<std::uint32_t>(wait.count());
  const Head h = Exchange(kWaitDat,
                          EncodeWords({seen.samples, seen.events, ms}),
                          kWaitOk,
                          wait,
                          reply);
  if (h.command == kWaitErr) return std::nullopt;
  try {
    const auto w = DecodeWords(reply, h.bigEndian, 2, "the reply to WAIT_DAT");
    return Counts{w[0], w[1]};
  } catch (const Error& e) {
    Fail(e.Kind(), e.what());
  }
}

void Client::PutEvents(const std::vector<Event>& events) {
  std::string reply;
  const Head h = Exchange(kPutEvt, EncodeEvents(events), kPutOk, {}, reply);
  if (h.command == kPutErr)
    Fail(ErrorKind::kRefused, "the buffer refused korva's events (PUT_ERR)");
}

}  // namespace Korva::FieldTrip
