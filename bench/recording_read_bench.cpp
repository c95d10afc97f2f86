// Reading a long recording channel by channel: time per channel and the
// process's peak resident memory.
//   recording_read_bench --write FILE [SECONDS]   writes a plain BDF file:
//       64 EEG channels and Status at 2048 Hz (default 7200 s: 2 hours)
//   recording_read_bench FILE [CHANNELS]          opens FILE and reads its
//       first CHANNELS channels (default all), one at a time
// bench/run_recording_bench.sh runs both.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace {

constexpr int kEeg = 64;
constexpr int kRate = 2048;

std::string Field(std::string text, size_t size) {
  text.resize(size, ' ');
  return text;
}

std::string BdfHeader(int seconds) {
  const int signals = kEeg + 1;
  std::string head = "\xff" "BIOSEMI" + Field("", 160) + "01.01.2400.00.00" +
                     Field(std::to_string(256 * (signals + 1)), 8) +
                     Field("24BIT", 44) + Field(std::to_string(seconds), 8) +
                     Field("1", 8) + Field(std::to_string(signals), 4);
  const auto each = [&](auto text, size_t size) {
    for (int s = 0; s < signals; ++s) head += Field(text(s), size);
  };
  const auto status = [](int s) { return s == kEeg; };
  each([&](int s) { return status(s) ? "Status" : "EEG" + std::to_string(s + 1); }, 16);
  each([](int) { return std::string(); }, 80);
  each([&](int s) { return std::string(status(s) ? "Boolean" : "uV"); }, 8);
  each([&](int s) { return std::string(status(s) ? "-8388608" : "-262144"); }, 8);
  each([&](int s) { return std::string(status(s) ? "8388607" : "262143"); }, 8);
  each([](int) { return std::string("-8388608"); }, 8);
  each([](int) { return std::string("8388607"); }, 8);
  each([](int) { return std::string(); }, 80);
  each([](int) { return std::to_string(kRate); }, 8);
  each([](int) { return std::string(); }, 32);
  return head;
}

int Write(const char* path, int seconds) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return std::perror(path), 1;
  const std::string head = BdfHeader(seconds);
  std::fwrite(head.data(), 1, head.size(), file);
  std::vector<unsigned char> record((kEeg + 1) * kRate * 3);
  std::uint32_t state = 1;
  for (int second = 0; second < seconds; ++second) {
    for (size_t i = 0; i < record.size(); ++i) {
      state = state * 1664525u + 1013904223u;
      record[i] = static_cast<unsigned char>(state >> 24);
    }
    // Status: a trigger code every half second, the amplifier bits clear.
    unsigned char* status = record.data() + kEeg * kRate * 3;
    std::fill(status, status + kRate * 3, 0);
    status[0] = status[kRate / 2 * 3] = static_cast<unsigned char>(1 + second % 4);
    if (std::fwrite(record.data(), 1, record.size(), file) != record.size())
      return std::perror(path), 1;
  }
  return std::fclose(file) == 0 ? 0 : 1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

int Read(const char* path, int channels) {
  auto start = std::chrono::steady_clock::now();
  auto recording = Korva::Recording::OpenRecording(path, {});
  std::printf("%s: %s, %zu channels x %lld samples at %g Hz, %zu events; "
              "opened in %.2f s\n",
              path, recording->Format().c_str(), recording->Channels().size(),
              recording->Samples(), recording->SamplingRate(),
              recording->Events().size(), Seconds(start));
  const int n = std::min<int>(channels, recording->Channels().size());
  std::vector<double> values;
  double total = 0, slowest = 0;
  for (int c = 0; c < n; ++c) {
    start = std::chrono::steady_clock::now();
    recording->ReadChannel(c, values);
    const double took = Seconds(start);
    total += took;
    slowest = std::max(slowest, took);
  }
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("read %d channels: %.2f s per channel on average, %.2f s at "
              "most; one channel is %.1f MB of doubles; peak resident "
              "memory %.1f MB\n",
              n, total / n, slowest, values.size() * 8 / 1e6,
              usage.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--write")
    return Write(argv[2], argc > 3 ? std::atoi(argv[3]) : 7200);
  if (argc >= 2) return Read(argv[1], argc > 2 ? std::atoi(argv[2]) : 1 << 30);
  std::fprintf(stderr, "usage: %s --write FILE [SECONDS] | FILE [CHANNELS]\n",
               argv[0]);
  return 2;
}
