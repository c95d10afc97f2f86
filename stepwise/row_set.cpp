#include "stepwise/row_set.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "stepwise/stepwise_engine.h"

namespace Korva {
namespace {

// The range of sums of squares the engine can use (stepwise/cross_product.h,
// Centre).
constexpr double kSmallestSquares = 1e-200;
constexpr double kLargestSquares = 1e200;

// Whether A_D's sum of squares S (of a column whose shifted sum over the
// whole set is Gcc) leads to the usability decision A_F's would: clearly
// inside the range, or zero because the column is its shift on every row.
bool SameUsability(double S, double Gcc) {
  const double band = StepwiseEngine::kRefusalBand;
  if (S == 0.0) return Gcc == 0.0;
  return S >= kSmallestSquares * (1.0 + band) &&
         S <= kLargestSquares * (1.0 - band);
}

}  // namespace

RowSet::RowSet(const double* X,
               const double* labels,
               int rows,
               int cols,
               int heldOut)
    : rows_{X, cols, labels, nullptr, rows},
      cols_(cols),
      downdates_(SubsetProductsAgree() &&
                 (heldOut < 0 || 2 * heldOut <= rows - heldOut)) {
  if (downdates_) FormWhole();
}

TrainingRows RowSet::Subset(const std::vector<int>& subset) const {
  return {rows_.X,
          rows_.stride,
          rows_.y,
          subset.data(),
          static_cast<int>(subset.size())};
}

void RowSet::FormWhole() const {
  const std::size_t q = cols_ + 1;
  G_ = Uninitialised(q * q);
  if (rows_.count < 1) return;
  const Columns all{cols_, nullptr};
  shift_ = FirstRowsMean(rows_, all);
  AccumulateShifted(rows_, all, shift_, G_.get(), u_, false);
}

const double* RowSet::G() const {
  if (!G_) FormWhole();
  return G_.get();
}

SubsetProduct::SubsetProduct(const RowSet& set, std::vector<int> subset)
    : subset_(std::move(subset)),
      rows_(set.Subset(subset_)),
      exactColumn_(set.Cols(), 0) {
  const int n = static_cast<int>(subset_.size());
  const int q = set.Cols() + 1;
  product_.n = n;
  product_.q = q;
  bool whole = n == set.Rows() && n > 0;
  for (int i = 0; whole && i < n; ++i) whole = subset_[i] == i;
  if (whole) {
    // The engine's product of these rows is the set's own.
    const std::size_t qq = static_cast<std::size_t>(q) * q;
    product_.A = Uninitialised(qq);
    std::copy(set.G(), set.G() + qq, product_.A.get());
    Centre(product_, set.Shift(), set.U());
    exact_ = true;
    return;
  }
  const int h = set.Rows() - n;
  if (!set.Downdates() || n < 1 || 2 * h > n || !TryDowndate(set))
    FormExact();
}

// A_D, when every column keeps its digits and the usability decision is
// A_F's; false (nothing kept) otherwise.
bool SubsetProduct::TryDowndate(const RowSet& set) {
  const int p = set.Cols();
  const std::size_t q = p + 1;
  std::vector<char> held(set.Rows(), 1);
  for (int r : subset_) held[r] = 0;
  std::vector<int> heldRows;
  for (int r = 0; r < set.Rows(); ++r)
    if (held[r]) heldRows.push_back(r);
  const TrainingRows heldOut = set.Subset(heldRows);
  Block A = Uninitialised(q * q);
  std::vector<double> u;
  AccumulateShifted(heldOut, Columns{p, nullptr}, set.Shift(), A.get(), u,
                    false);
  const double* G = set.G();
  for (std::size_t c = 0; c < q; ++c) {
    const double whole = G[c * q + c];
    if (!((whole - A[c * q + c]) * kLossFactor >= whole)) return false;
  }
  for (std::size_t r = 0; r < q; ++r)
    for (std::size_t c = r; c < q; ++c) A[r * q + c] = G[r * q + c] - A[r * q + c];
  for (std::size_t c = 0; c < q; ++c) u[c] = set.U()[c] - u[c];
  product_.A = std::move(A);
  if (!Centre(product_, set.Shift(), u)) return false;
  for (std::size_t c = 0; c < q; ++c)
    if (!SameUsability(product_.S[c], G[c * q + c])) return false;
  return true;
}

void SubsetProduct::FormExact() {
  product_ = FormProduct(rows_, Columns{static_cast<int>(exactColumn_.size()),
                                        nullptr});
  exact_ = true;
}

void SubsetProduct::MakeExact(const std::vector<int>& columns) {
  if (exact_) return;
  const int m = static_cast<int>(columns.size()) + 1;
  const std::size_t q = product_.q;
  const CentredProduct block =
      FormProduct(rows_, Columns{m - 1, columns.data()});
  const auto place = [&](int i) {
    return static_cast<std::size_t>(i < m - 1 ? columns[i] : q - 1);
  };
  double* A = product_.A.get();
  for (int i = 0; i < m; ++i) {
    const std::size_t row = place(i) * q;
    for (int j = 0; j < m; ++j)
      A[row + place(j)] = block.A[static_cast<std::size_t>(i) * m + j];
    product_.mean[place(i)] = block.mean[i];
    product_.S[place(i)] = block.S[i];
  }
  for (int c : columns) exactColumn_[c] = 1;
}

}  // namespace Korva
