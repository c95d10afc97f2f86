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

RowSet::RowSet(const double* X,
               const double* labels,
               int rows,
               int cols,
               const int* block,
               int blocks)
    : rows_{X, cols, labels, nullptr, rows},
      cols_(cols),
      downdates_(false),
      blockOf_(block, block + rows) {
  std::vector<Part> parts(std::max(blocks, 0));
  for (int r = 0; r < rows; ++r)
    if (blockOf_[r] >= 0) parts[blockOf_[r]].rows.push_back(r);
  int heldOut = 0;
  for (const Part& part : parts)
    heldOut = std::max(heldOut, static_cast<int>(part.rows.size()));
  downdates_ = SubsetProductsAgree() && 2 * heldOut <= rows - heldOut;
  if (!downdates_ || parts.empty()) return;
  std::vector<ClassMeans> others =
      MeansLeavingOut(rows_, cols_, blockOf_.data(), blocks);
  for (int b = 0; b < blocks; ++b) parts[b].others = std::move(others[b]);
  blocks_ = std::move(parts);
  FormFromBlocks();
}

const ClassMeans* RowSet::MeansWithout(const std::vector<int>& subset) const {
  if (blocks_.empty()) return nullptr;
  // The first row the ascending subset lacks names the block.
  int missing = 0;
  const int size = static_cast<int>(subset.size());
  while (missing < size && subset[missing] == missing) ++missing;
  if (missing >= rows_.count || blockOf_[missing] < 0) return nullptr;
  const int b = blockOf_[missing];
  if (size != rows_.count - static_cast<int>(blocks_[b].rows.size()))
    return nullptr;
  for (int i = 0; i < size; ++i) {
    const int r = subset[i];
    if (r < 0 || r >= rows_.count || blockOf_[r] == b ||
        (i > 0 && r <= subset[i - 1]))
      return nullptr;
  }
  return &blocks_[b].others;
}

int RowSet::BlockOf(const std::vector<int>& held) const {
  if (blocks_.empty() || held.empty()) return -1;
  const int b = blockOf_[held[0]];
  return b >= 0 && blocks_[b].rows == held ? b : -1;
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

// G = Σ_b G_b + G_rest, u likewise: every row once, block by block.
void RowSet::FormFromBlocks() const {
  const std::size_t q = cols_ + 1;
  const Columns all{cols_, nullptr};
  shift_ = FirstRowsMean(rows_, all);
  G_ = Uninitialised(q * q);
  std::fill(G_.get(), G_.get() + q * q, 0.0);
  u_.assign(q, 0.0);
  std::vector<int> rest;
  for (int r = 0; r < rows_.count; ++r)
    if (blockOf_[r] < 0) rest.push_back(r);
  for (Part& part : blocks_) {
    if (part.rows.empty()) continue;
    part.G = Uninitialised(q * q);
    AccumulateShifted(Subset(part.rows), all, shift_, part.G.get(), part.u,
                      false);
    for (std::size_t r = 0; r < q; ++r)
      for (std::size_t c = r; c < q; ++c) G_[r * q + c] += part.G[r * q + c];
    for (std::size_t c = 0; c < q; ++c) u_[c] += part.u[c];
  }
  if (!rest.empty())
    AccumulateShifted(Subset(rest), all, shift_, G_.get(), u_, true);
}

const double* RowSet::G() const {
  if (!G_) FormWhole();
  return G_.get();
}

Block RowSet::TakeProductBlock() const {
  {
    const std::lock_guard<std::mutex> hold(spareLock_);
    if (spare_) return std::move(spare_);
  }
  const std::size_t q = cols_ + 1;
  return Uninitialised(q * q);
}

void RowSet::GiveBackProductBlock(Block block) const {
  const std::lock_guard<std::mutex> hold(spareLock_);
  spare_ = std::move(block);
}

SubsetProduct::SubsetProduct(const RowSet& set, std::vector<int> subset)
    : set_(set),
      subset_(std::move(subset)),
      rows_(set.Subset(subset_)),
      exactColumn_(set.Cols(), 0) {
  const int n = static_cast<int>(subset_.size());
  const int q = set.Cols() + 1;
  product_.n = n;
  product_.q = q;
  bool whole = n == set.Rows() && n > 0 && set.WholeInOrder();
  for (int i = 0; whole && i < n; ++i) whole = subset_[i] == i;
  if (whole) {
    // The engine's product of these rows is the set's own.
    const std::size_t qq = static_cast<std::size_t>(q) * q;
    product_.A = set.TakeProductBlock();
    std::copy(set.G(), set.G() + qq, product_.A.get());
    Centre(product_, set.Shift(), set.U());
    exact_ = true;
    return;
  }
  const int h = set.Rows() - n;
  if (!set.Downdates() || n < 1 || 2 * h > n || !TryDowndate()) FormExact();
}

SubsetProduct::~SubsetProduct() {
  if (product_.A) set_.GiveBackProductBlock(std::move(product_.A));
}

// A_D, when every column keeps its digits and the usability decision is
// A_F's; false (nothing kept) otherwise.
bool SubsetProduct::TryDowndate() {
  const RowSet& set = set_;
  const int p = set.Cols();
  const std::size_t q = p + 1;
  std::vector<char> held(set.Rows(), 1);
  for (int r : subset_) held[r] = 0;
  std::vector<int> heldRows;
  for (int r = 0; r < set.Rows(); ++r)
    if (held[r]) heldRows.push_back(r);
  const double* G = set.G();
  Block A = set.TakeProductBlock();
  std::vector<double> u;
  // H: the held-out rows' product, kept with the set or formed into A.
  const double* H = A.get();
  const int b = set.BlockOf(heldRows);
  if (b >= 0) {
    H = set.BlockG(b);
    u = set.BlockU(b);
  } else {
    AccumulateShifted(set.Subset(heldRows), Columns{p, nullptr}, set.Shift(),
                      A.get(), u, false);
  }
  for (std::size_t c = 0; c < q; ++c) {
    const double whole = G[c * q + c];
    if (!((whole - H[c * q + c]) * kLossFactor >= whole)) {
      set.GiveBackProductBlock(std::move(A));
      return false;
    }
  }
  for (std::size_t r = 0; r < q; ++r)
    for (std::size_t c = r; c < q; ++c) A[r * q + c] = G[r * q + c] - H[r * q + c];
  for (std::size_t c = 0; c < q; ++c) u[c] = set.U()[c] - u[c];
  product_.A = std::move(A);
  if (!Centre(product_, set.Shift(), u)) return false;
  for (std::size_t c = 0; c < q; ++c)
    if (!SameUsability(product_.S[c], G[c * q + c])) return false;
  return true;
}

void SubsetProduct::FormExact() {
  if (product_.A) set_.GiveBackProductBlock(std::move(product_.A));
  product_ =
      FormProduct(rows_,
                  Columns{static_cast<int>(exactColumn_.size()), nullptr},
                  set_.TakeProductBlock());
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
