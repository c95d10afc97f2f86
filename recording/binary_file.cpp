#include "recording/binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "recording/recording_base.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are decoded by copying little-endian bytes");

namespace Korva::Recording {
namespace {

// How much of a file one read takes: large enough that a read costs little
// next to the copy, small beside a channel of a long recording.
constexpr std::uint64_t kChunkBytes = 4 << 20;

template <typename T>
T Load(const unsigned char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <typename T>
void DecodeAs(const unsigned char* in,
              std::size_t count,
              double gain,
              double shift,
              double* out) {
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<double>(Load<T>(in + i * sizeof(T))) * gain + shift;
}

void Decode(SampleType type,
            const unsigned char* in,
            std::size_t count,
            double gain,
            double shift,
            double* out) {
  switch (type) {
    case SampleType::kInt8:
      return DecodeAs<std::int8_t>(in, count, gain, shift, out);
    case SampleType::kUInt8:
      return DecodeAs<std::uint8_t>(in, count, gain, shift, out);
    case SampleType::kInt16:
      return DecodeAs<std::int16_t>(in, count, gain, shift, out);
    case SampleType::kUInt16:
      return DecodeAs<std::uint16_t>(in, count, gain, shift, out);
    case SampleType::kInt32:
      return DecodeAs<std::int32_t>(in, count, gain, shift, out);
    case SampleType::kUInt32:
      return DecodeAs<std::uint32_t>(in, count, gain, shift, out);
    case SampleType::kInt64:
      return DecodeAs<std::int64_t>(in, count, gain, shift, out);
    case SampleType::kUInt64:
      return DecodeAs<std::uint64_t>(in, count, gain, shift, out);
    case SampleType::kFloat32:
      return DecodeAs<float>(in, count, gain, shift, out);
    case SampleType::kFloat64:
      return DecodeAs<double>(in, count, gain, shift, out);
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

BinaryFile::BinaryFile(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  struct stat info;
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    Fail(path, "not a regular file");
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
}

BinaryFile::~BinaryFile() { ::close(fd_); }

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

void ReadChannelSamples(const BinaryFile& file,
                        const ChannelLayout& layout,
                        double gain,
                        double shift,
                        std::vector<double>& out) {
  const std::uint64_t bytes = SampleBytes(layout.type);
  out.assign(layout.blocks * layout.run, 0.0);
  double* to = out.data();
  std::vector<unsigned char> buffer;
  if (layout.blocks > 1 && layout.blockBytes <= kChunkBytes) {
    // Short blocks: whole blocks a chunk at a time.
    const std::uint64_t perChunk = kChunkBytes / layout.blockBytes;
    buffer.resize(std::min(perChunk, layout.blocks) * layout.blockBytes);
    for (std::uint64_t b = 0; b < layout.blocks; b += perChunk) {
      const std::uint64_t n = std::min(perChunk, layout.blocks - b);
      const std::uint64_t span =
          (n - 1) * layout.blockBytes + layout.offset + layout.run * bytes;
      file.ReadAt(layout.start + b * layout.blockBytes, span, buffer.data());
      for (std::uint64_t i = 0; i < n; ++i, to += layout.run)
        Decode(layout.type,
               buffer.data() + i * layout.blockBytes + layout.offset,
               layout.run,
               gain,
               shift,
               to);
    }
    return;
  }
  // Long blocks: the channel's run in each, a chunk at a time.
  const std::uint64_t perChunk = kChunkBytes / bytes;
  buffer.resize(std::min(perChunk, layout.run) * bytes);
  for (std::uint64_t b = 0; b < layout.blocks; ++b)
    for (std::uint64_t s = 0; s < layout.run; s += perChunk) {
      const std::uint64_t n = std::min(perChunk, layout.run - s);
      file.ReadAt(
          layout.start + b * layout.blockBytes + layout.offset + s * bytes,
          n * bytes,
          buffer.data());
      Decode(layout.type, buffer.data(), n, gain, shift, to);
      to += n;
    }
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
