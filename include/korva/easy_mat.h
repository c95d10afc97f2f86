#ifndef KORVA_EASY_MAT_H_
#define KORVA_EASY_MAT_H_

#include <cstddef>
#include <vector>

// A dense row-major matrix of the host, as it hands data to Train().
template <typename T>
class EasyMat {
 public:
  EasyMat() = default;
  EasyMat(std::size_t rows, std::size_t cols)
      : rows_(rows), cols_(cols), data_(rows * cols) {}

  std::size_t Rows() const { return rows_; }
  std::size_t Cols() const { return cols_; }
  // Element (row, col), both counted from 0; no bounds check.
  T& operator()(std::size_t row, std::size_t col) {
    return data_[row * cols_ + col];
  }
  const T& operator()(std::size_t row, std::size_t col) const {
    return data_[row * cols_ + col];
  }
  T* Data() { return data_.data(); }
  const T* Data() const { return data_.data(); }

 private:
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<T> data_;
};

#endif  // KORVA_EASY_MAT_H_
