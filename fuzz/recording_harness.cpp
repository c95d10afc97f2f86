#include <sys/mman.h>
#include <unistd.h>

#include <cmath>

#include "fuzz/harnesses.h"
#include "recording/recording.h"
#include "sources/bids.h"

namespace Korva::Fuzz {
namespace {

// "" when `error` names `file`, else what is wrong.
std::string NamesFile(const std::string& error, const std::string& file) {
  return error.rfind(file, 0) == 0 ? ""
                                   : "a refusal does not name the file: " +
                                         error;
}

}  // namespace

std::string FuzzXdf(const std::uint8_t* data, std::size_t size) {
  // The reader takes a file by name: a new file in memory per input.
  const int fd = memfd_create("fuzz.xdf", 0);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const std::string bytes =
      "XDF:" + std::string(reinterpret_cast<const char*>(data), size);
  if (fd < 0 ||
      write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return "cannot write the input to a file in memory";
  std::string problem;
  try {
    const auto recording = Recording::OpenRecording(path, {});
    std::vector<double> samples;
    for (int c = 0; c < static_cast<int>(recording->Channels().size()); ++c) {
      recording->ReadChannel(c, samples);
      if (static_cast<long long>(samples.size()) != recording->Samples())
        problem = "a channel does not hold Samples() samples";
    }
    for (const Recording::Event& event : recording->Events())
      if (event.sample < 0 || event.sample >= recording->Samples())
        problem = "an event lies outside the recording";
    if (!(recording->SamplingRate() > 0)) problem = "no sampling rate";
  } catch (const Data::DataError& error) {
    problem = NamesFile(error.what(), path);
  }
  close(fd);
  return problem;
}

std::string FuzzBidsTsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const std::string file = "fuzz.tsv";
  try {
    if (data[0] & 1) {
      // Texts are made UTF-8: a Latin-1 byte becomes two.
      for (const Sources::ChannelRow& row : Sources::ParseChannelsTsv(text, file))
        if (row.name.size() > 2 * text.size() ||
            row.type.size() > 2 * text.size())
          return "a channel's name or type is longer than twice the file";
    } else {
      std::vector<std::string> notes;
      const double rate = 1 + (data[0] >> 1);
      for (const Recording::Event& event :
           Sources::ParseEventsTsv(text, rate, file, notes))
        if (event.code.empty() || event.code.size() > 2 * text.size())
          return "an event without a code, or one longer than twice the file";
    }
  } catch (const Data::DataError& error) {
    return NamesFile(error.what(), file);
  }
  return {};
}

}  // namespace Korva::Fuzz
