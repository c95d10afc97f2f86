#include "cli/buffer_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "data/dataset.h"
#include "korva/text.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Rows asked for at a time, so that a writer far ahead is read in pieces of
// bounded memory (2 MiB of doubles at 64 channels).
constexpr std::uint32_t kMaxRows = 4096;

milliseconds Millis(double seconds) {
  return milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

// The event as the cutter's lists match it: "type/value" as recording
// markers are written ("Stimulus/S  2"), its value alone as alias.
Recording::Event AsEvent(const FieldTrip::Event& e, long long sample) {
  if (e.type.empty()) return {sample, e.value};
  return {sample, e.type + "/" + e.value, e.value};
}

}  // namespace

void AddBufferOptions(CLI::App* command, BufferOptions& o) {
  command
      ->add_option("--idle-timeout",
                   o.idleTimeout,
                   "--source ft://: end the stream normally when no new "
                   "sample or event has come for this long (default " +
                       Text::FormatDouble(kDefaultIdleTimeout) + ")")
      ->check(CLI::Range(0.001, 1e6))
      ->type_name("SECONDS");
  command
      ->add_option("--timeout",
                   o.timeout,
                   "--source ft://: give up when the buffer takes longer "
                   "than this to accept the connection or answer a request "
                   "(default " +
                       Text::FormatDouble(kDefaultBufferTimeout) + ")")
      ->check(CLI::Range(0.001, 1e6))
      ->type_name("SECONDS");
  command->add_flag("--announce",
                    o.announce,
                    "--source ft://: put each scored flash into the buffer "
                    "as an event of type korva whose value is its score "
                    "(a float64) at the flash's sample");
}

bool IsBufferAddress(const std::string& source) {
  return source.rfind("ft://", 0) == 0;
}

FieldTrip::Address BufferAddress(const std::string& source) {
  const auto parsed = FieldTrip::ParseAddress(source);
  if (!parsed)
    throw CliError(kExitUsage,
                   "--source " + source +
                       ": a buffer is named ft://HOST:PORT (port 1 to 65535)");
  return *parsed;
}

BufferSource::BufferSource(const FieldTrip::Address& address,
                           const BufferOptions& o)
    : options_(o),
      client_(std::make_unique<FieldTrip::Client>(address, Millis(o.timeout))) {
  header_ = client_->GetHeader();
  if (header_.names.size() != header_.channels)
    throw Data::DataError(Name() + ": its header names no channels (" +
                          std::to_string(header_.channels) +
                          " of them): korva finds the model's channels by "
                          "name");
  // The stream starts at what the writer puts in from now on.
  seen_ = {header_.samples, header_.events};
  start_ = header_.samples;
}

void BufferSource::TakeEvents(const Online::Cutter& cutter,
                              const EventSink& addEvent,
                              std::uint32_t from,
                              std::uint32_t to) {
  for (const FieldTrip::Event& e : client_->GetEvents(from, to - 1)) {
    if (e.type == kAnnounceType) continue;
    const Recording::Event event = AsEvent(e, e.sample - (long long)start_);
    // A writer that puts an event in twice would have its flash scored
    // twice; the events kept are those whose flash the cutter can still cut.
    if (!recent_.emplace(event.sample, event.code).second) {
      ++repeated_;
      continue;
    }
    addEvent(event);
  }
  const long long keep = cutter.Samples() - 2 * cutter.Held();
  while (!recent_.empty() && recent_.begin()->first < keep)
    recent_.erase(recent_.begin());
}

void BufferSource::Run(
    Online::Cutter& cutter,
    const EventSink& addEvent,
    const std::function<void(Clock::time_point)>& afterChunk) {
  const milliseconds idle = Millis(options_.idleTimeout);
  auto last = Clock::now();
  for (;;) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(last + idle - Clock::now());
    if (left.count() <= 0) {
      ending_ = "nothing new came for " +
                Text::FormatDouble(options_.idleTimeout) + " s";
      return;
    }
    const auto counts = client_->Wait(seen_, std::min(left, Millis(1e4)));
    if (!counts) {
      ending_ = "its writer flushed the header (the acquisition stopped)";
      return;
    }
    if (counts->samples < seen_.samples || counts->events < seen_.events) {
      ending_ = "its writer started anew (fewer samples or events than read)";
      return;
    }
    if (counts->samples == seen_.samples && counts->events == seen_.events)
      continue;
    last = Clock::now();
    if (counts->events > seen_.events)
      TakeEvents(cutter, addEvent, seen_.events, counts->events);
    seen_.events = counts->events;
    while (seen_.samples < counts->samples) {
      const std::uint32_t to =
          std::min(counts->samples, seen_.samples + kMaxRows);
      const std::vector<double> rows =
          client_->GetData(seen_.samples, to - 1, header_.channels);
      const Clock::time_point arrival = Clock::now();
      cutter.AddSamples(rows.data(), to - seen_.samples);
      seen_.samples = to;
      afterChunk(arrival);
      PutAnnounced();
    }
  }
}

void BufferSource::Announce(const Recording::Event& flash, double score) {
  if (!options_.announce) return;
  FieldTrip::Event e;
  e.type = kAnnounceType;
  e.sample = static_cast<std::int32_t>(flash.sample + start_);
  e.valueNumber = true;
  e.number = score;
  announced_.push_back(e);
}

void BufferSource::PutAnnounced() {
  if (announced_.empty()) return;
  client_->PutEvents(announced_);
  announced_.clear();
}

void BufferSource::Finish(std::ostream* info) const {
  if (info) *info << "the stream of " << Name() << " ended: " << ending_ << '\n';
  if (repeated_)
    Warn(Name() + ": " + std::to_string(repeated_) +
         " events came again (the same type, value and sample as one "
         "already given) and were left out");
}

}  // namespace Korva::Cli
