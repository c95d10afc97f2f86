#ifndef KORVA_RECORDING_RECORDING_H_
#define KORVA_RECORDING_RECORDING_H_

// A continuous EEG recording as korva reads it: the channels at one sampling
// rate, the events with their sample positions, and the samples one channel
// at a time, so that memory grows with one channel, not with the recording.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/dataset.h"

namespace Korva::Recording {

// One event: where it starts and what the file calls it.
struct Event {
  Event() = default;
  Event(long long sample, std::string code, std::string alias = {})
      : sample(sample), code(std::move(code)), alias(std::move(alias)) {}

  long long sample = 0;  // onset, as a sample index from 0
  std::string code;      // the code or annotation text as the file writes
                         // it: "2", "S  2", "Stimulus/S  2"
  std::string alias;     // another name event lists may give it (a BIDS
                         // events file's value beside its trial_type), or ""
};

// One channel offered for reading.
struct Channel {
  std::string name;  // as the file names it, surrounding blanks removed
  std::string unit;  // the unit of the samples ReadChannel gives: "uV" for
                     // every voltage, else the file's own unit
  bool eeg = true;   // taken as EEG when no channels are named: false for a
                     // status, trigger, marker, auxiliary or annotation
                     // channel, a sensor, and a type that is not EEG
  std::string type;  // what the file (or a file beside it) says the channel
                     // is, in EEG-BIDS's words ("EEG", "EOG", "TRIG",
                     // "MISC", ...); "" when nothing says (SetChannelType)
};

// A place where the recording is not continuous: the samples before and
// from `sample` are not neighbours in time (a gap or a step back in a time
// column, a new segment), so nothing may filter or cut across it.
struct Break {
  long long sample = 0;  // the first sample after it, 0 < sample < Samples()
  std::string why;       // "the time column jumps 2 s after row 512"
};

// Where the sampling rate comes from.
enum class RateSource {
  kFile,   // the file states it
  kTimes,  // a column of time stamps gives it, within SamplingRateUncertainty
  kGiven,  // the user gave it (OpenOptions::samplingRate)
};

// A recording opened for reading. Errors are Data::DataError naming the file
// and what is wrong.
class Recording {
 public:
  virtual ~Recording() = default;
  virtual const std::string& Path() const = 0;
  virtual std::string Format() const = 0;   // "EDF+", "BDF", "GDF 2", ...
  virtual double SamplingRate() const = 0;  // Hz, of every channel offered
  virtual long long Samples() const = 0;    // per channel
  virtual const std::vector<Channel>& Channels() const = 0;
  virtual const std::vector<Event>& Events() const = 0;  // by onset
  // What the reader decided that the user should hear about, one sentence
  // each: a sampling rate taken from a time column, channels left out.
  virtual const std::vector<std::string>& Notes() const = 0;
  // Every file the recording was read from, Path() first: a BrainVision
  // header's data and marker files follow it; other formats are one file,
  // as by default.
  virtual std::vector<std::string> Files() const { return {Path()}; }
  // Every sample of channel `c` (0 <= c < Channels().size()) into `out`,
  // which is resized to Samples(); voltages in microvolts. Every value is
  // finite: DataError naming the channel and the sample otherwise.
  virtual void ReadChannel(int c, std::vector<double>& out) = 0;
  // Where the rate came from and, for a rate from time stamps, how far the
  // true rate may be from it, in Hz (0 for a rate stated or given).
  virtual RateSource SamplingRateSource() const { return RateSource::kFile; }
  virtual double SamplingRateUncertainty() const { return 0; }
  // The places where the recording is not continuous, by sample.
  virtual const std::vector<Break>& Breaks() const;
};

// The sampling rates korva reads, in Hz. A rate outside them is a damaged
// or hostile header, and inside them every window of a recipe is a whole
// number of samples far from overflow.
constexpr double kMinSamplingRate = 1e-3;
constexpr double kMaxSamplingRate = 1e6;

// What a file cannot say about itself (the plain CSV of headsets), or what
// it holds more of than a recording (the streams of XDF).
struct OpenOptions {
  std::string markerColumn;            // a name, or #N the N-th column; ""
                                       // finds the one named Marker*
  std::optional<double> samplingRate;  // else from the time column
  // XDF: the streams read as EEG and as markers, by name or type; "" finds
  // the stream of type EEG and the one of type Markers.
  std::string eegStream, markerStream;
};

// Opens `path` by its content, whatever its extension claims; a file of no
// known recording format, or one that is damaged or truncated, is refused,
// and so is one whose sampling rate lies outside kMinSamplingRate to
// kMaxSamplingRate, or a channel without a name, with a control character in
// its name, or with the name of another channel (a recipe names channels).
std::unique_ptr<Recording> OpenRecording(const std::string& path,
                                         const OpenOptions& options);

// True when `path` names a recording rather than a feature table: a
// recording's extension (.edf, .bdf, .gdf, .vhdr, .xdf), or a CSV file whose
// header has a time column and a marker column.
bool IsRecording(const std::string& path, const OpenOptions& options);

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_RECORDING_H_
