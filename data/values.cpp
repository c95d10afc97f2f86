#include "data/values.h"

#include <newmat/newmat.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace Korva::Data {

void AdviseHugePages(void* data, std::size_t bytes) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  constexpr std::uintptr_t kPage = std::uintptr_t{1} << 12;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t end = start + bytes;
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = end & ~(kHuge - 1);
  if (last > first)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  // All pages wholly inside the block are mapped in one call, not one fault
  // each; its ends may share a page with other memory.
  const std::uintptr_t low = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t high = end & ~(kPage - 1);
  if (high > low)
    ::madvise(reinterpret_cast<void*>(low), high - low, MADV_POPULATE_WRITE);
}

Values::Values(int rows, int cols)
    : matrix_(std::make_unique<NEWMAT::Matrix>(rows, cols)),
      data_(matrix_->Store()),
      size_(static_cast<std::size_t>(matrix_->Storage())) {
  AdviseHugePages(data_, size_ * sizeof(double));
}

Values::Values(Values&& other) noexcept
    : matrix_(std::move(other.matrix_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

Values& Values::operator=(Values&& other) noexcept {
  matrix_ = std::move(other.matrix_);
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
  return *this;
}

Values::Values() = default;
Values::~Values() = default;

Values::Values(int rows, int cols, std::initializer_list<double> values)
    : Values(rows, cols) {
  std::fill(begin(), end(), 0.0);
  std::copy_n(values.begin(), std::min(values.size(), size()), begin());
}

Values::Values(const Values& other) {
  if (!other.matrix_) return;
  *this = Values(other.matrix_->Nrows(), other.matrix_->Ncols());
  std::memcpy(data(), other.data(), size() * sizeof(double));
}

Values& Values::operator=(const Values& other) {
  if (this != &other) *this = Values(other);
  return *this;
}

bool operator==(const Values& a, const Values& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

NEWMAT::Matrix& Values::Matrix() {
  if (!matrix_) *this = Values(0, 0);
  return *matrix_;
}

}  // namespace Korva::Data
