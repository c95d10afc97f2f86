#ifndef KORVA_CLI_BUFFER_SOURCE_H_
#define KORVA_CLI_BUFFER_SOURCE_H_

// korva stream --source ft://HOST:PORT: samples and events read from a
// FieldTrip buffer as its writer (an acquisition program) puts them in,
// given to the online cutter; with --announce each scored flash written
// back into the buffer as an event (docs/online.md).

#include <CLI/CLI.hpp>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fieldtrip/client.h"
#include "online/cutter.h"

namespace Korva::Cli {

constexpr double kDefaultIdleTimeout = 10;  // seconds without new samples
constexpr double kDefaultBufferTimeout = 5;  // seconds for a connection, a reply
// The type of the events --announce writes, which korva never reads back.
inline const char* const kAnnounceType = "korva";

struct BufferOptions {
  double idleTimeout = kDefaultIdleTimeout;
  double timeout = kDefaultBufferTimeout;
  bool announce = false;
};

// --idle-timeout, --timeout and --announce of `command`.
void AddBufferOptions(CLI::App* command, BufferOptions& o);

// True for a --source that names a buffer ("ft://...").
bool IsBufferAddress(const std::string& source);
// The host and port of such a --source; CliError(kExitUsage) when it is not
// of the form ft://HOST:PORT.
FieldTrip::Address BufferAddress(const std::string& source);

class BufferSource {
 public:
  // Connects to `address` and reads its header. FieldTrip::Error when the
  // buffer cannot be reached or holds no header; Data::DataError when the
  // header names no channels.
  BufferSource(const FieldTrip::Address& address, const BufferOptions& o);

  const std::vector<std::string>& Channels() const { return header_.names; }
  double Rate() const { return header_.rate; }
  const std::string& Name() const { return client_->Name(); }

  // Gives the cutter every sample put in from now on, and `addEvent` every
  // event (which gives it to the cutter), calling `afterChunk` after each
  // piece of samples with the time its reply had come, until the writer
  // flushes the header, starts anew, or nothing new comes for the idle
  // timeout. FieldTrip::Error when the buffer goes away, times out, refuses
  // a request or sends a packet that breaks the protocol.
  using EventSink = std::function<void(const Recording::Event&)>;
  void Run(Online::Cutter& cutter,
           const EventSink& addEvent,
           const std::function<void(std::chrono::steady_clock::time_point)>&
               afterChunk);

  // Keeps a scored flash (its onset counted from the stream's first sample)
  // to be put into the buffer after the chunk, with --announce.
  void Announce(const Recording::Event& flash, double score);

  // How the stream ended, and the repeated events left out, on `info`.
  void Finish(std::ostream* info) const;

 private:
  void TakeEvents(const Online::Cutter& cutter,
                  const EventSink& addEvent,
                  std::uint32_t from,
                  std::uint32_t to);
  void PutAnnounced();

  BufferOptions options_;
  std::unique_ptr<FieldTrip::Client> client_;
  FieldTrip::Header header_;
  FieldTrip::Counts seen_;
  std::uint32_t start_ = 0;  // the buffer's sample the stream starts at
  std::set<std::pair<long long, std::string>> recent_;  // events given
  std::vector<FieldTrip::Event> announced_;
  long long repeated_ = 0;
  std::string ending_;
};

}  // namespace Korva::Cli

#endif  // KORVA_CLI_BUFFER_SOURCE_H_
