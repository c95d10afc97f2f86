// korva_ft_server: a FieldTrip buffer for the tests and the latency bench.
// It serves one recording to one client over 127.0.0.1 on a port of the
// system's choosing (written to --port-file), --chunk samples at a time:
// without --pace each WAIT_DAT releases the next chunk (so the client sees
// exactly those chunks); with --pace X chunks are released as the time of
// the recording passes at X times real time. When every sample is out it
// flushes its header, so WAIT_DAT and GET_HDR fail: the acquisition ended.
// --fail MODE[@SAMPLE] misbehaves once SAMPLE samples are out:
//   close    closes the connection at the next request
//   garbage  answers with bytes that are no message, then closes
//   short    answers with a message shorter than its head says, then closes
//   err      answers GET_DAT with GET_ERR
//   silent   answers nothing more
//   noheader answers GET_HDR with GET_ERR
//   repeat   puts every event in twice
//   late     puts a copy of the first event in again
//   idle     never flushes its header: the stream just stops
// --channels N serves N channels, copies of the recording's after them.
// It exits when the client leaves, or after --lifetime seconds (default 60).
// --log FILE: per GET_DAT reply, its last sample and the steady clock's
// nanoseconds as it was sent; --announced FILE: the events put into it.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

#include "fieldtrip/protocol.h"
#include "sources/recordings.h"

namespace ft = Korva::FieldTrip;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  std::string recording, portFile, fail, log, announced;
  long long chunk = 32, failAt = 0, channels = 0;
  double pace = 0, lifetime = 60;
  ft::Type type = ft::Type::kFloat64;
  bool bigEndian = false;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto next = [&] { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--port-file") o.portFile = next();
    else if (a == "--chunk") o.chunk = std::atoll(next());
    else if (a == "--channels") o.channels = std::atoll(next());
    else if (a == "--pace") o.pace = std::atof(next());
    else if (a == "--lifetime") o.lifetime = std::atof(next());
    else if (a == "--log") o.log = next();
    else if (a == "--announced") o.announced = next();
    else if (a == "--big-endian") o.bigEndian = true;
    else if (a == "--type") {
      const std::string t = next();
      for (std::uint32_t k = 1; k <= 10; ++k)
        if (ft::TypeName(k) == t) o.type = ft::Type(k);
    } else if (a == "--fail") {
      o.fail = next();
      const auto at = o.fail.find('@');
      if (at != std::string::npos) {
        o.failAt = std::atoll(o.fail.c_str() + at + 1);
        o.fail.erase(at);
      }
    } else o.recording = a;
  }
  return o;
}

struct Session {
  std::vector<std::string> names;
  double rate = 0;
  long long samples = 0;
  std::vector<double> rows;  // sample after sample
  std::vector<ft::Event> events;
};

// The session with `channels` channels: copies of its own, renamed, after
// them.
void Widen(Session& s, long long channels) {
  const size_t n = s.names.size(), m = static_cast<size_t>(channels);
  if (m <= n) return;
  std::vector<double> rows(s.samples * m);
  for (long long i = 0; i < s.samples; ++i)
    for (size_t c = 0; c < m; ++c) rows[i * m + c] = s.rows[i * n + c % n];
  for (size_t c = n; c < m; ++c)
    s.names.push_back(s.names[c % n] + "-" + std::to_string(c / n));
  s.rows = std::move(rows);
}

Session Read(const std::string& path) {
  auto opened = Korva::Sources::OpenRecordings({path}, {});
  auto& run = *opened.runs.at(0);
  Session s;
  s.rate = run.SamplingRate();
  s.samples = run.Samples();
  const int n = static_cast<int>(run.Channels().size());
  s.rows.resize(static_cast<size_t>(s.samples) * n);
  std::vector<double> x;
  for (int c = 0; c < n; ++c) {
    s.names.push_back(run.Channels()[c].name);
    run.ReadChannel(c, x);
    for (long long i = 0; i < s.samples; ++i) s.rows[i * n + c] = x[i];
  }
  for (const auto& e : run.Events()) {
    const auto slash = e.code.find('/');
    ft::Event f;
    f.type = slash == std::string::npos ? "trigger" : e.code.substr(0, slash);
    f.value = slash == std::string::npos ? e.code : e.code.substr(slash + 1);
    f.sample = static_cast<std::int32_t>(e.sample);
    s.events.push_back(f);
  }
  std::stable_sort(s.events.begin(), s.events.end(),
                   [](const auto& a, const auto& b) { return a.sample < b.sample; });
  return s;
}

class Server {
 public:
  Server(Options o, Session s) : o_(std::move(o)), s_(std::move(s)) {}

  int Run() {
    const int listener = Listen();
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(o_.lifetime));
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(deadline)) <= 0) return 1;
    fd_ = ::accept(listener, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::close(listener);
    while (fd_ >= 0 && Serve(deadline)) {
    }
    if (!o_.announced.empty()) WriteAnnounced();
    return 0;
  }

 private:
  static int MsLeft(Clock::time_point t) {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now())
               .count()));
  }

  int Listen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
        ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      std::exit(1);
    const std::string part = o_.portFile + ".part";
    std::ofstream(part) << ntohs(a.sin_port) << '\n';
    std::rename(part.c_str(), o_.portFile.c_str());
    return fd;
  }

  bool ReadAll(char* b, size_t n, Clock::time_point deadline) {
    for (size_t at = 0; at < n;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, MsLeft(deadline)) <= 0) return false;
      const ssize_t got = ::recv(fd_, b + at, n - at, 0);
      if (got <= 0) return false;
      at += static_cast<size_t>(got);
    }
    return true;
  }

  void Reply(std::uint16_t command, const std::string& payload = {}) {
    const std::string m = ft::EncodeMessage(command, payload, o_.bigEndian);
    if (::send(fd_, m.data(), m.size(), MSG_NOSIGNAL) < 0) Close();
  }
  void Close() {
    ::close(fd_);
    fd_ = -1;
  }
  bool Failing(const char* mode) const {
    return o_.fail == mode && released_ >= o_.failAt;
  }

  // Out: the samples up to `count`, and the events before them.
  void Release(long long count) {
    released_ = std::min(count, s_.samples);
    for (; next_ < s_.events.size() && s_.events[next_].sample < released_;
         ++next_) {
      buffer_.push_back(s_.events[next_]);
      if (o_.fail == "repeat") buffer_.push_back(s_.events[next_]);
    }
    if (Failing("late") && !lateDone_ && !s_.events.empty()) {
      buffer_.push_back(s_.events.front());
      lateDone_ = true;
    }
  }

  ft::Counts Counts() const {
    return {static_cast<std::uint32_t>(released_),
            static_cast<std::uint32_t>(buffer_.size())};
  }

  // WAIT_DAT: a chunk more, or the paced time's samples once past `seen`.
  bool Wait(const std::string& payload) {
    const auto w = ft::DecodeWords(payload, request_.bigEndian, 3, "waitdef");
    if (!started_) start_ = Clock::now(), started_ = true;
    const auto until = Clock::now() + std::chrono::milliseconds(w[2]);
    if (o_.pace <= 0) {
      if (released_ >= s_.samples && o_.fail == "idle")
        std::this_thread::sleep_until(until);
      else if (released_ >= s_.samples)
        flushed_ = true;
      else
        Release(released_ + o_.chunk);
    } else {
      for (;;) {
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        const long long due = static_cast<long long>(t * s_.rate * o_.pace) / o_.chunk * o_.chunk;
        Release(std::max(due, released_));
        if (released_ > w[0] || buffer_.size() > w[1] || Clock::now() >= until) break;
        if (released_ >= s_.samples) {
          flushed_ = o_.fail != "idle";
          if (flushed_) break;
        }
        const auto chunkDue =
            start_ + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(
                             (released_ + o_.chunk) / s_.rate / o_.pace));
        std::this_thread::sleep_until(
            released_ >= s_.samples ? until : std::min(until, chunkDue));
      }
    }
    if (flushed_) Reply(ft::kWaitErr);
    else Reply(ft::kWaitOk, ft::EncodeWords({Counts().samples, Counts().events}, o_.bigEndian));
    return true;
  }

  void GetData(const std::string& payload) {
    const auto w = ft::DecodeWords(payload, request_.bigEndian, 2, "datasel");
    if (Failing("err") || w[0] > w[1] || w[1] >= released_) return Reply(ft::kGetErr);
    const size_t n = s_.names.size();
    const std::vector<double> rows(s_.rows.begin() + w[0] * n, s_.rows.begin() + (w[1] + 1) * n);
    Reply(ft::kGetOk, ft::EncodeData(rows, static_cast<std::uint32_t>(n), o_.type, o_.bigEndian));
    if (!o_.log.empty())
      log_ << w[1] << ' ' << std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 Clock::now().time_since_epoch()).count() << '\n';
  }

  void GetEvents(const std::string& payload) {
    const auto w = ft::DecodeWords(payload, request_.bigEndian, 2, "eventsel");
    if (w[0] > w[1] || w[1] >= buffer_.size()) return Reply(ft::kGetErr);
    Reply(ft::kGetOk, ft::EncodeEvents({buffer_.begin() + w[0], buffer_.begin() + w[1] + 1},
                                       o_.bigEndian));
  }

  // One request answered; false when the connection is over.
  bool Serve(Clock::time_point deadline) {
    char head[ft::kHeadBytes];
    if (!ReadAll(head, sizeof head, deadline)) return false;
    const ft::Head h = request_ = ft::DecodeHead(head);
    std::string payload(h.size, '\0');
    if (!ReadAll(payload.data(), h.size, deadline)) return false;
    if (Failing("close")) return false;
    if (Failing("silent")) {
      std::this_thread::sleep_until(deadline);
      return false;
    }
    if (Failing("garbage")) {
      ::send(fd_, "GARBAGE!GARBAGE!", 16, MSG_NOSIGNAL);
      return false;
    }
    if (Failing("short") && h.command == ft::kGetDat) {
      const std::string m = ft::EncodeMessage(ft::kGetOk, std::string(100, '\0'));
      ::send(fd_, m.data(), 20, MSG_NOSIGNAL);
      return false;
    }
    switch (h.command) {
      case ft::kGetHdr:
        if (flushed_ || Failing("noheader")) Reply(ft::kGetErr);
        else Reply(ft::kGetOk, ft::EncodeHeader({static_cast<std::uint32_t>(s_.names.size()),
                                                 Counts().samples, Counts().events, s_.rate,
                                                 static_cast<std::uint32_t>(o_.type), s_.names},
                                                o_.bigEndian));
        return true;
      case ft::kWaitDat:
        return Wait(payload);
      case ft::kGetDat:
        GetData(payload);
        return true;
      case ft::kGetEvt:
        GetEvents(payload);
        return true;
      case ft::kPutEvt:
        for (const auto& e : ft::DecodeEvents(payload, h.bigEndian)) {
          announced_.push_back(e);
          buffer_.push_back(e);
        }
        Reply(ft::kPutOk);
        return true;
      default:
        Reply(h.command | 0x5);
        return true;
    }
  }

  void WriteAnnounced() const {
    std::ofstream out(o_.announced);
    for (const auto& e : announced_)
      out << e.sample << '\t' << e.type << '\t' << e.value << '\n';
  }

  Options o_;
  Session s_;
  int fd_ = -1;
  ft::Head request_;  // of the request being answered, in the client's order
  long long released_ = 0;
  size_t next_ = 0;
  std::vector<ft::Event> buffer_, announced_;
  bool flushed_ = false, lateDone_ = false, started_ = false;
  Clock::time_point start_;
  std::ofstream log_{o_.log.empty() ? "/dev/null" : o_.log};
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  if (o.recording.empty() || o.portFile.empty() || o.chunk < 1) {
    std::cerr << "usage: korva_ft_server RECORDING --port-file FILE [--chunk N] "
                 "[--pace X] [--type T] [--big-endian] [--fail MODE[@SAMPLE]] "
                 "[--lifetime S] [--log FILE] [--announced FILE]\n";
    return 2;
  }
  try {
    Session s = Read(o.recording);
    Widen(s, o.channels);
    Server server(o, std::move(s));
    return server.Run();
  } catch (const std::exception& e) {
    std::cerr << "korva_ft_server: " << e.what() << '\n';
    return 1;
  }
}
