#ifndef KORVA_RECORDING_BINARY_FILE_H_
#define KORVA_RECORDING_BINARY_FILE_H_

// Reading the samples of one channel out of a binary file with pread, a few
// megabytes at a time: memory grows with the channel, never with the file
// (mapped pages would count toward the process's resident memory).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Korva::Recording {

// How one sample is stored; every type is little-endian.
enum class SampleType {
  kInt8,
  kUInt8,
  kInt16,
  kUInt16,
  kInt32,
  kUInt32,
  kInt64,
  kUInt64,
  kFloat32,
  kFloat64
};

std::size_t SampleBytes(SampleType type);

// A file opened for reading, closed with the object.
class BinaryFile {
 public:
  // DataError naming `path` when it cannot be opened.
  explicit BinaryFile(const std::string& path);
  ~BinaryFile();
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  const std::string& Path() const { return path_; }
  std::uint64_t Size() const { return size_; }
  // `size` bytes from `offset` into `out`; DataError when the file ends
  // before them (it was truncated since it was opened) or cannot be read.
  void ReadAt(std::uint64_t offset, std::size_t size, void* out) const;
  // Up to `size` bytes from `offset`: fewer where the file ends.
  std::string ReadUpTo(std::uint64_t offset, std::size_t size) const;

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Where one channel's samples lie: `blocks` blocks, the first at `start`,
// each `blockBytes` long, holding `run` consecutive samples of the channel
// at `offset` within the block. A record of EDF-like files is a block; a
// multiplexed file has one block per sample; a vectorized file one block.
struct ChannelLayout {
  std::uint64_t start = 0;
  std::uint64_t blockBytes = 0;
  std::uint64_t offset = 0;
  std::uint64_t run = 0;
  std::uint64_t blocks = 0;
  SampleType type = SampleType::kInt16;
};

// Every sample of the channel, as value * gain + shift, into `out`
// (resized to blocks * run). The caller has checked that the blocks lie
// inside the file.
void ReadChannelSamples(const BinaryFile& file,
                        const ChannelLayout& layout,
                        double gain,
                        double shift,
                        std::vector<double>& out);

// Little-endian integers at `bytes`.
std::uint16_t ReadU16(const unsigned char* bytes);
std::uint32_t ReadU32(const unsigned char* bytes);
std::uint64_t ReadU64(const unsigned char* bytes);
double ReadF32(const unsigned char* bytes);
double ReadF64(const unsigned char* bytes);

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_BINARY_FILE_H_
