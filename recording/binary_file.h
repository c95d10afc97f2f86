#ifndef KORVA_RECORDING_BINARY_FILE_H_
#define KORVA_RECORDING_BINARY_FILE_H_

// Reading the samples of one channel out of a binary file with pread, a few
// megabytes at a time: memory grows with the channel, never with the file
// (mapped pages would count toward the process's resident memory).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Korva::Recording {

// How one sample is stored; every type is little-endian.
enum class SampleType {
  kInt8,
  kUInt8,
  kInt16,
  kUInt16,
  kInt24,  // BDF
  kInt32,
  kUInt32,
  kInt64,
  kUInt64,
  kFloat32,
  kFloat64
};

std::size_t SampleBytes(SampleType type);

// Whether opening a path follows a symbolic link at its end.
enum class Links { kFollow, kRefuse };

// A regular file opened for reading, closed with the object.
class BinaryFile {
 public:
  // DataError naming `path` when it cannot be opened, is not a regular file
  // (a FIFO, a device or a folder is refused at once, never waited on), or
  // with Links::kRefuse is a symbolic link.
  explicit BinaryFile(const std::string& path, Links links = Links::kFollow);
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

// Bytes read at a time: large enough that a read costs little next to the
// copy, small beside a channel of a long recording.
constexpr std::uint64_t kChunkBytes = 4 << 20;
// Blocks that take at most this many bytes in all are read once, whole, and
// kept while the channels are read one after another: a read of a few
// megabytes costs little more than a copy of the channel's own bytes, where
// reading a channel alone costs a read per block or a copy of every block.
constexpr std::uint64_t kWholeBytes = 64 << 20;

// Part of a channel's samples in memory: `runs` runs of `run` samples each,
// `stride` bytes apart, the first at `bytes`.
struct Piece {
  const unsigned char* bytes = nullptr;
  std::uint64_t runs = 0;
  std::uint64_t run = 0;
  std::uint64_t stride = 0;
};

// Calls `take` for the channel's samples in order, piece by piece: all
// blocks in one piece when they take at most `wholeBytes` (read once for
// every channel of the file read one after another: one such file's blocks
// are kept at a time, in the program and in the EDF reader library each,
// until another file's are read or the file is closed); else reading at most
// `chunkBytes` at a time, whole blocks when the channel fills most of each, or
// the channel's run in each block. A piece lives until `take` returns. The
// caller has checked that the blocks lie inside the file; DataError when the
// file is shorter now.
void ForEachPiece(const BinaryFile& file,
                  const ChannelLayout& layout,
                  const std::function<void(const Piece&)>& take,
                  std::uint64_t chunkBytes = kChunkBytes,
                  std::uint64_t wholeBytes = kWholeBytes);

// Every sample of the channel, as value * gain + shift, into `out`
// (resized to blocks * run), as ForEachPiece reads them.
void ReadChannelSamples(const BinaryFile& file,
                        const ChannelLayout& layout,
                        double gain,
                        double shift,
                        std::vector<double>& out,
                        std::uint64_t chunkBytes = kChunkBytes,
                        std::uint64_t wholeBytes = kWholeBytes);

// The values of little-endian 16- and 24-bit two's complement samples at
// `bytes`, inline for the loops that decode a channel.
inline std::int16_t LoadInt16(const unsigned char* bytes) {
  return static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
}
inline std::int32_t LoadInt24(const unsigned char* bytes) {
  const std::uint32_t raw = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return static_cast<std::int32_t>(raw << 8) >> 8;
}

// Little-endian integers at `bytes`.
std::uint16_t ReadU16(const unsigned char* bytes);
std::uint32_t ReadU32(const unsigned char* bytes);
std::uint64_t ReadU64(const unsigned char* bytes);
double ReadF32(const unsigned char* bytes);
double ReadF64(const unsigned char* bytes);

}  // namespace Korva::Recording

#endif  // KORVA_RECORDING_BINARY_FILE_H_
