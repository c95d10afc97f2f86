#ifndef KORVA_TESTING_MEMORY_RECORDING_H_
#define KORVA_TESTING_MEMORY_RECORDING_H_

// A recording held in memory, for tests of what cuts recordings.

#include <string>
#include <utility>
#include <vector>

#include "recording/recording.h"

namespace Korva::Testing {

// A recording held in memory.
class MemoryRecording : public Recording::Recording {
  using Break = Korva::Recording::Break;
  using Channel = Korva::Recording::Channel;
  using Event = Korva::Recording::Event;
  using RateSource = Korva::Recording::RateSource;

 public:
  MemoryRecording(std::string path,
                  double fs,
                  std::vector<Channel> channels,
                  std::vector<std::vector<double>> samples,
                  std::vector<Event> events)
      : path_(std::move(path)),
        fs_(fs),
        channels_(std::move(channels)),
        samples_(std::move(samples)),
        events_(std::move(events)) {}
  const std::string& Path() const override { return path_; }
  std::string Format() const override { return "memory"; }
  double SamplingRate() const override { return fs_; }
  long long Samples() const override { return samples_[0].size(); }
  const std::vector<Channel>& Channels() const override { return channels_; }
  const std::vector<Event>& Events() const override { return events_; }
  const std::vector<std::string>& Notes() const override { return notes_; }
  void ReadChannel(int c, std::vector<double>& out) override {
    out = samples_.at(c);
  }
  RateSource SamplingRateSource() const override { return source; }
  double SamplingRateUncertainty() const override { return uncertainty; }
  const std::vector<Break>& Breaks() const override { return breaks; }
  std::vector<double>& Samples(int c) { return samples_.at(c); }

  RateSource source = RateSource::kFile;
  double uncertainty = 0;
  std::vector<Break> breaks;

 private:
  std::string path_;
  double fs_;
  std::vector<Channel> channels_;
  std::vector<std::vector<double>> samples_;
  std::vector<Event> events_;
  std::vector<std::string> notes_;
};

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_MEMORY_RECORDING_H_
