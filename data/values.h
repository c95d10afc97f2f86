#ifndef KORVA_DATA_VALUES_H_
#define KORVA_DATA_VALUES_H_

#include <cstddef>
#include <initializer_list>
#include <memory>

// The matrix library is not included here: its macros clash with other
// headers (a macro named Throw, among them).
namespace NEWMAT {
class Matrix;
}

namespace Korva::Data {

// The values of a data set, rows x cols doubles in row order, held in the
// matrix type the classifier trains on, so that training takes them without
// a copy. Large blocks are given huge pages. Copying copies the values;
// moving moves the block.
class Values {
 public:
  Values();
  // Room for rows x cols values, not yet set.
  Values(int rows, int cols);
  // rows x cols values given in row order; as many as fit, the rest zero.
  Values(int rows, int cols, std::initializer_list<double> values);
  Values(const Values& other);
  Values& operator=(const Values& other);
  Values(Values&& other) noexcept;
  Values& operator=(Values&& other) noexcept;
  ~Values();

  double* data() { return data_; }
  const double* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  double* begin() { return data_; }
  double* end() { return data_ + size_; }
  const double* begin() const { return data_; }
  const double* end() const { return data_ + size_; }
  double& operator[](std::size_t i) { return data_[i]; }
  double operator[](std::size_t i) const { return data_[i]; }

  // The matrix itself (rows x cols); an empty matrix when there are none.
  NEWMAT::Matrix& Matrix();

 private:
  std::unique_ptr<NEWMAT::Matrix> matrix_;
  double* data_ = nullptr;  // the matrix's values
  std::size_t size_ = 0;
};

// Equal sizes and equal values, as for vectors.
bool operator==(const Values& a, const Values& b);
inline bool operator!=(const Values& a, const Values& b) { return !(a == b); }

}  // namespace Korva::Data

#endif  // KORVA_DATA_VALUES_H_
