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

#include "recording/binary_file.h"
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
  double rateUncertainty = 0;      // Hz, for a rate from time stamps
  std::vector<Break> breaks;       // by sample
  std::vector<std::string> files;  // empty: the one file at `path`
};

// A Recording whose description is a Header; readers add ReadChannel.
class RecordingBase : public Recording {
 public:
  explicit RecordingBase(Header header) : header_(std::move(header)) {
    if (header_.files.empty()) header_.files.push_back(header_.path);
  }
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
  std::vector<std::string> Files() const override { return header_.files; }
  void AddNote(std::string note) { header_.notes.push_back(std::move(note)); }
  RateSource SamplingRateSource() const override { return header_.rateSource; }
  double SamplingRateUncertainty() const override {
    return header_.rateUncertainty;
  }
  const std::vector<Break>& Breaks() const override { return header_.breaks; }

 protected:
  // DataError unless 0 <= c < Channels().size().
  void CheckChannel(int c) const;
  // DataError naming channel `c` and the sample when one of `values` is not
  // finite: a NaN or infinity the file stores as a float, or a float too
  // large for its scale. Samples of integer types are finite by the checks
  // of the header (FiniteScale).
  void CheckFinite(int c, const std::vector<double>& values) const;

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
// Whether every sample of `type` (the largest of its magnitude), times
// `gain`, plus `shift`, is a finite number: the scale of a channel a header
// gives must keep its samples finite.
bool FiniteScale(SampleType type, double gain, double shift);

// Of several channels' sample counts per block, the one most channels have
// (the larger on a tie): the rate a recording offers.
long long MostCommonCount(const std::vector<long long>& counts);

// The most names a message or note lists; the rest are counted ("and 5
// more"): a file of a million channels must not make a message of megabytes.
constexpr size_t kNamesShown = 20;

// A note naming the channels left out because their rate differs from
// `rate`, or "" when `names` is empty.
std::string LeftOutNote(const std::vector<std::string>& names, double rate);

// The sample nearest to `seconds` at `rate` (a tie goes to the even sample,
// as MNE rounds); LLONG_MIN or LLONG_MAX for one beyond 2^62 samples either
// way, or NaN, which SettleEvents then leaves out.
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

// Refuses names a recipe could not keep or tell apart: a DataError
// "<path>: ..." naming the first channel without a name, with a control
// character (a line end, a NUL that C strings would cut at, an escape) in
// it, or named as one before it.
void CheckChannelNames(const std::string& path,
                       const std::vector<Channel>& channels);

// A DataError "<path>: <what>".
[[noreturn]] void Fail(const std::string& path, const std::string& what);

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_RECORDING_BASE_H_
