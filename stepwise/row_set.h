#ifndef KORVA_STEPWISE_ROW_SET_H_
#define KORVA_STEPWISE_ROW_SET_H_

// One data set's cross-product, formed once, and the centred cross-product
// of a subset of its rows made from it: the folds of a cross-validation
// train on most of the set's rows, so a fold's product is the whole set's
// less that of its held-out rows.
//
// Notation (as in stepwise/cross_product.h), for a set of N rows and a
// subset of n of them, the other h = N - n held out:
//   s          the set's shift: its columns' means over its first rows
//   G, u       the set's shifted product and column sums, over all N rows
//   G_h, u_h   the same over the held-out rows, with the same shift s
//   A_D        (G - G_h) - (u - u_h)(u - u_h)ᵀ / n: the subset's centred
//              product by downdating, x̄ = s + (u - u_h) / n
//   A_F        the subset's product as the engine forms it for a training
//              on those rows alone (FormProduct over them, in their order,
//              with their own shift)
//
// A_D and A_F are the same matrix up to rounding, not to the last bit. The
// shared trainings (stepwise/shared_training.h) let A_D steer and write
// only values of A_F: MakeExact overwrites the entries of chosen columns
// with A_F's, formed from the subset's rows for those columns alone, which
// gives A_F's very entries (stepwise/cross_product.h). Each form costs:
//   A_D   h q² / 2 multiply-adds (dsyrk of the held-out rows), or q² when
//         the held-out rows are one block of the set's partition (below)
//   A_F   n q² / 2, and for MakeExact of m columns n (m + 1)² / 2
// The subset takes A_F whole (Exact() true) where that is cheaper or where
// A_D would be less accurate:
//   - the subset is the whole set in order and G was formed over it
//     directly (no blocks): A_F is the set's product itself;
//   - h > n / 2: the held-out rows are a third of the set or more;
//   - a column's shifted sum of squares over the subset, G_cc - G_h,cc, is
//     less than 1/kLossFactor of the set's: the held-out rows dominate it,
//     and the difference would keep fewer digits than A_F has (up to
//     log2(kLossFactor) bits fewer);
//   - A_D makes a decision about the data's usability (sums of squares
//     outside 1e-200 .. 1e200, or zero) that A_F could make otherwise;
//   - this machine's dsyrk does not form a subset of columns with the very
//     entries of the whole (SubsetProductsAgree): MakeExact could not be
//     trusted.

#include <mutex>
#include <vector>

#include "stepwise/class_means.h"
#include "stepwise/cross_product.h"

namespace Korva {

// Blocks. The folds of a cross-validation leave out disjoint blocks of
// rows. A set opened with that partition forms each block's G_b and u_b
// (same shift s) and G as their sum with the product of the rows no fold
// leaves out: the whole costs one pass over the rows, and each fold's A_D
// is G - G_b without another pass. k blocks hold k q² more doubles. G then
// differs from FormProduct over the whole set by rounding, so the whole set
// as a subset is downdated (by nothing) like any other, not copied.

// The held-out rows may take at most this factor off any column's shifted
// sum of squares before the subset's product is formed afresh.
constexpr double kLossFactor = 4.0;

class RowSet {
 public:
  // The set: `rows` x `cols` values X (row-major) and one label per row,
  // read in place (they must outlive this object). Forms G and u over every
  // row when downdated products can serve on this machine and subsets that
  // leave out `heldOut` rows (-1: not known) may be downdated.
  RowSet(const double* X,
         const double* labels,
         int rows,
         int cols,
         int heldOut = -1);
  // The same for subsets that each leave out one block of a partition:
  // `block[r]` is row r's block, 0 .. blocks - 1, or -1 for a row no subset
  // leaves out (checked by the caller). Keeps each block's product.
  RowSet(const double* X,
         const double* labels,
         int rows,
         int cols,
         const int* block,
         int blocks);

  int Rows() const { return rows_.count; }
  int Cols() const { return cols_; }
  // The rows `subset` (indexes into the set, each once) in that order.
  TrainingRows Subset(const std::vector<int>& subset) const;
  // The shifted product and column sums over every row, formed on first
  // use.
  const double* G() const;
  const std::vector<double>& U() const { return u_; }
  const std::vector<double>& Shift() const { return shift_; }
  bool Downdates() const { return downdates_; }
  // G over every row in order, as FormProduct forms it: no blocks.
  bool WholeInOrder() const { return blocks_.empty(); }
  // The block that `held` (ascending row indexes) is, or -1.
  int BlockOf(const std::vector<int>& held) const;
  // A block's shifted product (upper triangle) and column sums.
  const double* BlockG(int b) const { return blocks_[b].G.get(); }
  const std::vector<double>& BlockU(int b) const { return blocks_[b].u; }
  // The class means of `subset` when it is every row outside one block, in
  // ascending order (MeansOf those rows, kept from one pass over the set);
  // null otherwise.
  const ClassMeans* MeansWithout(const std::vector<int>& subset) const;

  // A (Cols() + 1)² block for a subset's product: the one the last subset
  // gave back, or a new one. Folds trained one after another reuse one
  // block: on a virtual machine the first touch of fresh memory can cost ten
  // times the downdate that fills it (10 ms against 1 ms at 6000 x 600).
  Block TakeProductBlock() const;
  void GiveBackProductBlock(Block block) const;

 private:
  struct Part {
    std::vector<int> rows;  // ascending
    Block G;
    std::vector<double> u;
    ClassMeans others;  // of the rows outside the block
  };
  void FormWhole() const;
  void FormFromBlocks() const;

  TrainingRows rows_;
  int cols_;
  bool downdates_;
  std::vector<int> blockOf_;
  mutable std::vector<Part> blocks_;
  mutable Block G_;
  mutable std::vector<double> u_;
  mutable std::vector<double> shift_;
  mutable std::mutex spareLock_;
  mutable Block spare_;
};

// A subset's centred product, as the shared trainings use it.
class SubsetProduct {
 public:
  // `subset`: the training rows, indexes into `set` in the order the
  // training takes them, each once.
  SubsetProduct(const RowSet& set, std::vector<int> subset);
  ~SubsetProduct();
  SubsetProduct(const SubsetProduct&) = delete;
  SubsetProduct& operator=(const SubsetProduct&) = delete;

  // Every entry is A_F's.
  bool Exact() const { return exact_; }
  // Whether feature column c holds A_F's entries (with every other such
  // column and the label).
  bool ExactColumn(int c) const { return exact_ || exactColumn_[c] != 0; }
  const CentredProduct& Product() const { return product_; }
  const TrainingRows& Rows() const { return rows_; }
  // A_F's entries, sums and means for the feature columns `columns` and the
  // label, written over A_D (nothing to do when Exact()).
  void MakeExact(const std::vector<int>& columns);
  // A_F whole, in place of A_D.
  void FormExact();

 private:
  bool TryDowndate();

  const RowSet& set_;
  std::vector<int> subset_;
  TrainingRows rows_;
  CentredProduct product_;
  bool exact_ = false;
  std::vector<char> exactColumn_;
};

}  // namespace Korva

#endif  // KORVA_STEPWISE_ROW_SET_H_
