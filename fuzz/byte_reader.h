#ifndef KORVA_FUZZ_BYTE_READER_H_
#define KORVA_FUZZ_BYTE_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Korva::Fuzz {

// Takes values off the front of a fuzz input. Once the input is used up every
// value reads as zero, so any input decodes to something.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}

  // The next byte, or 0 when none is left.
  std::uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  // The next 8 bytes as the bits of a double (missing bytes are zero), so
  // every NaN payload, infinity and subnormal can come out.
  double RawDouble() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{Byte()} << (8 * i);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }
  // The next 4 bytes as a signed int.
  int RawInt() {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= std::uint32_t{Byte()} << (8 * i);
    int value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }
  std::size_t Remaining() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace Korva::Fuzz

#endif  // KORVA_FUZZ_BYTE_READER_H_
