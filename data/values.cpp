#include "data/values.h"

#include <newmat/newmat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/huge_pages.h"

namespace Korva::Data {

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
