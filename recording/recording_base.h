#ifndef KORVA_RECORDING_RECORDING_BASE_H_
#define KORVA_RECORDING_RECORDING_BASE_H_

// What every reader shares: the description a reader fills in when it opens
// a file, and the rules for channels, units and events that make the formats
// look alike.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recording/recording.h"

namespace Korva::Recording {

// What a reader knows once it has opened a file.
struct Header {
  std::string path;
  std::string format;
  double samplingRate = 0;
  long long samples = 0;
  std::vector<Channel> channels;
  std::vector<Event> events;
  std::vector<std::string> notes;
  RateSource rateSource = RateSource::kFile;
  double rateUncertainty = 0;  // Hz, for a rate from time stamps
  std::vector<Break> breaks;   // by sample
};

// A Recording whose description is a Header; readers add ReadChannel.
class RecordingBase : public Recording {
 public:
  explicit RecordingBase(Header header) : header_(std::move(header)) {}
  const std::string& Path() const override { return header_.path; }
  std::string Format() const override { return header_.format; }
  double SamplingRate() const override { return header_.samplingRate; }
  long long Samples() const override { return header_.samples; }
  const std::vector<Channel>& Channels() const override {
    return header_.channels;
  }
  const std::vector<Event>& Events() const override { return header_.events; }
  const std::vector<std::string>& Notes() const override {
    return header_.notes;
  }
  void AddNote(std::string note) { header_.notes.push_back(std::move(note)); }
  RateSource SamplingRateSource() const override { return header_.rateSource; }
  double SamplingRateUncertainty() const override {
    return header_.rateUncertainty;
  }
  const std::vector<Break>& Breaks() const override { return header_.breaks; }

 protected:
  // DataError unless 0 <= c < Channels().size().
  void CheckChannel(int c) const;

  Header header_;
};

// `text` without blanks, tabs, line ends and NULs at either end.
std::string_view TrimBlanks(std::string_view text);

// The finite number `text` says into `value`, by the rules of
// text/number_text.h with blanks around it allowed (fields and header values
// are trimmed, see TrimBlanks); false for anything else.
bool ParseFinite(std::string_view text, double& value);

// ParseFinite's number, or nothing.
std::optional<double> FiniteNumber(std::string_view text);

// `text` as UTF-8: well-formed UTF-8 is kept, any other byte is taken as
// Latin-1 (the encoding of older headers), so the result is well-formed.
std::string AsUtf8(std::string_view text);

// The factor that turns values in `unit` into microvolts ("V", "mV", "uV",
// "µV" in UTF-8 or Latin-1, "nV"; any letter case), or 0 when `unit` is no
// voltage.
double MicrovoltsPer(std::string_view unit);

// A channel as readers offer it: the name trimmed, a voltage's unit "uV"
// with `factor` its multiplier to microvolts; any other unit kept as the
// file writes it, with `factor` 1. Not EEG: a unit that is no voltage, or a
// name that starts like a status, trigger, marker, auxiliary input or
// another body signal (Status, Trig, Stim, Marker, Event, Annotation, Aux,
// ECG, EKG, EOG, HEOG, VEOG, EMG, Resp, Acc, Gyro; any letter case).
Channel MakeChannel(std::string_view name,
                    std::string_view unit,
                    double& factor);

// Gives `channel` the type a file states ("EEG", "EOG", "TRIG", ... in any
// letter case; kept in capitals): it is taken as EEG by default when the
// type is EEG, and not otherwise. An empty type leaves the channel as it is.
void SetChannelType(Channel& channel, std::string_view type);

// Of several channels' sample counts per block, the one most channels have
// (the larger on a tie): the rate a recording offers.
long long MostCommonCount(const std::vector<long long>& counts);

// A note naming the channels left out because their rate differs from
// `rate`, or "" when `names` is empty.
std::string LeftOutNote(const std::vector<std::string>& names, double rate);

// The sample nearest to `seconds` at `rate` (a tie goes to the even sample,
// as MNE rounds).
long long SampleAt(double seconds, double rate);

// Sorts `header.events` by onset (stable) and drops those outside
// [0, header.samples), with a note saying how many.
void SettleEvents(Header& header);

// Memory that is not cleared, freed with the pointer.
struct FreeMemory {
  void operator()(void* data) const;
};
using Memory = std::unique_ptr<unsigned char[], FreeMemory>;

// `bytes` of memory on huge pages where the system gives them: a large
// block that readers fill as they go (on a virtual machine each first touch
// of a small page costs a fault of some microseconds). Rounded up to whole
// 2 MiB pages, which count toward resident memory as they are touched.
Memory AllocateMemory(std::size_t bytes);

// A DataError "<path>: <what>".
[[noreturn]] void Fail(const std::string& path, const std::string& what);

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_RECORDING_BASE_H_
