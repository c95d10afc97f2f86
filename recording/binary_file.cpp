#include "recording/binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

#include "recording/recording_base.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are decoded by copying little-endian bytes");

namespace Korva::Recording {
namespace {

// A gap between a channel's runs that costs more to copy past than a read
// of its own costs: above it, each run is read alone.
constexpr std::uint64_t kSkipBytes = 16 << 10;

// The blocks of the file whose channels are being read, when they are
// small: kept from one channel to the next, given up when another file's
// are read or the file is closed. One for each library this code is linked
// into (the program, the EDF reader library), so that memory holds at most
// one file's worth there however many recordings are open.
struct Whole {
  std::mutex lock;
  const BinaryFile* file = nullptr;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint64_t capacity = 0;
  Memory bytes;

  void Release() {
    file = nullptr;
    bytes.reset();
    size = capacity = 0;
  }
};

// Never destroyed: a recording may be closed during the program's exit.
Whole& Held() {
  static Whole* const held = new Whole;
  return *held;
}

// The `size` bytes of `file` from `start`, read into `held` unless they are
// there already. Called with held.lock held.
const unsigned char* ReadWhole(const BinaryFile& file,
                               std::uint64_t start,
                               std::uint64_t size,
                               Whole& held) {
  if (held.file == &file && held.start == start && held.size == size)
    return held.bytes.get();
  // A buffer too small, or much larger than needed, is given back.
  if (held.capacity < size || held.capacity / 2 > size) {
    held.Release();
    held.bytes = AllocateMemory(size);
    held.capacity = size;
  }
  held.file = nullptr;
  file.ReadAt(start, size, held.bytes.get());
  held.file = &file;
  held.start = start;
  held.size = size;
  return held.bytes.get();
}

template <typename T>
T Load(const unsigned char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

struct Int24 {};

template <typename T>
double Value(const unsigned char* bytes) {
  if constexpr (std::is_same_v<T, Int24>)
    return LoadInt24(bytes);
  else
    return static_cast<double>(Load<T>(bytes));
}

template <typename T>
void DecodeAs(const Piece& piece, double gain, double shift, double* out) {
  constexpr std::size_t kBytes = std::is_same_v<T, Int24> ? 3 : sizeof(T);
  for (std::uint64_t r = 0; r < piece.runs; ++r, out += piece.run) {
    const unsigned char* in = piece.bytes + r * piece.stride;
    for (std::uint64_t i = 0; i < piece.run; ++i)
      out[i] = Value<T>(in + i * kBytes) * gain + shift;
  }
}

void Decode(SampleType type,
            const Piece& piece,
            double gain,
            double shift,
            double* out) {
  switch (type) {
    case SampleType::kInt8:
      return DecodeAs<std::int8_t>(piece, gain, shift, out);
    case SampleType::kUInt8:
      return DecodeAs<std::uint8_t>(piece, gain, shift, out);
    case SampleType::kInt16:
      return DecodeAs<std::int16_t>(piece, gain, shift, out);
    case SampleType::kUInt16:
      return DecodeAs<std::uint16_t>(piece, gain, shift, out);
    case SampleType::kInt24:
      return DecodeAs<Int24>(piece, gain, shift, out);
    case SampleType::kInt32:
      return DecodeAs<std::int32_t>(piece, gain, shift, out);
    case SampleType::kUInt32:
      return DecodeAs<std::uint32_t>(piece, gain, shift, out);
    case SampleType::kInt64:
      return DecodeAs<std::int64_t>(piece, gain, shift, out);
    case SampleType::kUInt64:
      return DecodeAs<std::uint64_t>(piece, gain, shift, out);
    case SampleType::kFloat32:
      return DecodeAs<float>(piece, gain, shift, out);
    case SampleType::kFloat64:
      return DecodeAs<double>(piece, gain, shift, out);
  }
}

}  // namespace

std::size_t SampleBytes(SampleType type) {
  switch (type) {
    case SampleType::kInt8:
    case SampleType::kUInt8:
      return 1;
    case SampleType::kInt16:
    case SampleType::kUInt16:
      return 2;
    case SampleType::kInt24:
      return 3;
    case SampleType::kInt32:
    case SampleType::kUInt32:
    case SampleType::kFloat32:
      return 4;
    case SampleType::kInt64:
    case SampleType::kUInt64:
    case SampleType::kFloat64:
      return 8;
  }
  return 1;
}

BinaryFile::BinaryFile(const std::string& path, Links links) : path_(path) {
  // Not blocking: opening a FIFO for reading would wait for a writer.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                    (links == Links::kRefuse ? O_NOFOLLOW : 0);
  fd_ = ::open(path.c_str(), flags);
  if (fd_ < 0 && errno == ELOOP && links == Links::kRefuse)
    Fail(path, "a symbolic link, which is not followed here");
  if (fd_ < 0) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    Fail(path, std::string("cannot read: ") + std::strerror(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd_);
    Fail(path,
         std::string("not a regular file but ") +
             (S_ISDIR(info.st_mode)    ? "a folder"
              : S_ISFIFO(info.st_mode) ? "a FIFO"
              : S_ISSOCK(info.st_mode) ? "a socket"
                                       : "a device"));
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
}

BinaryFile::~BinaryFile() {
  Whole& held = Held();
  std::lock_guard<std::mutex> hold(held.lock);
  if (held.file == this) held.Release();
  ::close(fd_);
}

void BinaryFile::ReadAt(std::uint64_t offset,
                        std::size_t size,
                        void* out) const {
  auto* to = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = ::pread(fd_, to, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      Fail(path_, std::string("cannot read: ") + std::strerror(errno));
    if (got == 0)
      Fail(path_,
           "the file ends at byte " + std::to_string(offset) +
               ", before the samples its header announces (truncated?)");
    to += got;
    offset += static_cast<std::uint64_t>(got);
    size -= static_cast<std::size_t>(got);
  }
}

std::string BinaryFile::ReadUpTo(std::uint64_t offset, std::size_t size) const {
  if (offset >= size_) return {};
  std::string bytes(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset)),
      '\0');
  ReadAt(offset, bytes.size(), bytes.data());
  return bytes;
}

void ForEachPiece(const BinaryFile& file,
                  const ChannelLayout& layout,
                  const std::function<void(const Piece&)>& take,
                  std::uint64_t chunkBytes,
                  std::uint64_t wholeBytes) {
  const std::uint64_t bytes = SampleBytes(layout.type);
  const std::uint64_t runBytes = layout.run * bytes;
  if (layout.blocks > 1 && layout.blocks <= wholeBytes / layout.blockBytes) {
    Whole& held = Held();
    std::lock_guard<std::mutex> hold(held.lock);
    const unsigned char* whole =
        ReadWhole(file, layout.start, layout.blocks * layout.blockBytes, held);
    take({whole + layout.offset, layout.blocks, layout.run, layout.blockBytes});
    return;
  }
  std::vector<unsigned char> buffer;
  if (layout.blocks > 1 && layout.blockBytes <= chunkBytes &&
      layout.blockBytes - runBytes <= kSkipBytes) {
    const std::uint64_t perChunk = chunkBytes / layout.blockBytes;
    buffer.resize(std::min(perChunk, layout.blocks) * layout.blockBytes);
    for (std::uint64_t b = 0; b < layout.blocks; b += perChunk) {
      const std::uint64_t n = std::min(perChunk, layout.blocks - b);
      const std::uint64_t span =
          (n - 1) * layout.blockBytes + layout.offset + runBytes;
      file.ReadAt(layout.start + b * layout.blockBytes, span, buffer.data());
      take({buffer.data() + layout.offset, n, layout.run, layout.blockBytes});
    }
    return;
  }
  const std::uint64_t perChunk = std::max<std::uint64_t>(1, chunkBytes / bytes);
  buffer.resize(std::min(perChunk, layout.run) * bytes);
  for (std::uint64_t b = 0; b < layout.blocks; ++b)
    for (std::uint64_t s = 0; s < layout.run; s += perChunk) {
      const std::uint64_t n = std::min(perChunk, layout.run - s);
      file.ReadAt(
          layout.start + b * layout.blockBytes + layout.offset + s * bytes,
          n * bytes,
          buffer.data());
      take({buffer.data(), 1, n, 0});
    }
}

void ReadChannelSamples(const BinaryFile& file,
                        const ChannelLayout& layout,
                        double gain,
                        double shift,
                        std::vector<double>& out,
                        std::uint64_t chunkBytes,
                        std::uint64_t wholeBytes) {
  // Every sample is written below: no need to clear them first.
  out.resize(layout.blocks * layout.run);
  double* to = out.data();
  ForEachPiece(
      file,
      layout,
      [&](const Piece& piece) {
        Decode(layout.type, piece, gain, shift, to);
        to += piece.runs * piece.run;
      },
      chunkBytes,
      wholeBytes);
}

std::uint16_t ReadU16(const unsigned char* bytes) {
  return Load<std::uint16_t>(bytes);
}
std::uint32_t ReadU32(const unsigned char* bytes) {
  return Load<std::uint32_t>(bytes);
}
std::uint64_t ReadU64(const unsigned char* bytes) {
  return Load<std::uint64_t>(bytes);
}
double ReadF32(const unsigned char* bytes) { return Load<float>(bytes); }
double ReadF64(const unsigned char* bytes) { return Load<double>(bytes); }

}  // namespace Korva::Recording
