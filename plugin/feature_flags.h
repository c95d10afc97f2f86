#ifndef KORVA_PLUGIN_FEATURE_FLAGS_H_
#define KORVA_PLUGIN_FEATURE_FLAGS_H_

#include <cstdint>

// One bool per feature column, owned as a block plus a 64-bit count. Every
// flag is false or true; a count of 0 goes with no block. A new length is
// given only by Reset, which releases the old block first.
class FeatureFlags {
 public:
  FeatureFlags() = default;
  ~FeatureFlags() { Release(); }
  FeatureFlags(const FeatureFlags&) = delete;
  FeatureFlags& operator=(const FeatureFlags&) = delete;

  // Releases the block, then allocates `count` flags, all false. When the
  // allocation throws, the flags stay empty.
  void Reset(std::uint64_t count) {
    Release();
    if (count == 0) return;
    block_ = new bool[count]();
    count_ = count;
  }
  // Leaves no block and a count of 0.
  void Release() {
    delete[] block_;
    block_ = nullptr;
    count_ = 0;
  }

  std::uint64_t Count() const { return count_; }
  const bool* Data() const { return block_; }
  bool& operator[](std::uint64_t i) { return block_[i]; }
  bool operator[](std::uint64_t i) const { return block_[i]; }
  // The number of true flags.
  std::uint64_t CountSelected() const {
    std::uint64_t k = 0;
    for (std::uint64_t i = 0; i < count_; ++i) k += block_[i] ? 1 : 0;
    return k;
  }

 private:
  bool* block_ = nullptr;
  std::uint64_t count_ = 0;
};

#endif  // KORVA_PLUGIN_FEATURE_FLAGS_H_
