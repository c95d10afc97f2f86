#ifndef KORVA_STEPWISE_CROSS_PRODUCT_H_
#define KORVA_STEPWISE_CROSS_PRODUCT_H_

// The centred cross-product of [X y] that the incremental engine starts from
// (step 1 of stepwise/stepwise_engine.h), over chosen rows and columns.
//
// Notation:
//   C      the chosen feature columns, ascending; the label y is appended as
//          the last column, so m = |C| + 1 columns in all
//   s      the shift: each column's mean over the first min(n, 128) rows
//   Z      the n chosen rows of [X_C y] less s, in the rows' order
//   G      ZᵀZ, formed with single-threaded dsyrk, kBlockRows rows a call
//   u      Σ z, the column sums of Z
//   A      G - u uᵀ / n: the cross-product centred exactly
//   S_c    Σ x_c² = G_cc + 2 s_c u_c + n s_c², the raw sum of squares
//   x̄_c    s_c + u_c / n
//
// Every value here is formed entry by entry: z_c from x_c and s_c, u_c from
// z_c alone, A_cd from G_cd, u_c and u_d. So the product of a subset C of the
// columns holds the very entries (to the last bit) that the product of every
// column holds at those places, provided dsyrk too forms each entry of G
// from its two columns alone, whatever columns lie around it. The serial
// OpenBLAS kernels this module links on x86-64 (Haswell, Zen) do: each entry
// is a chain of fused multiply-adds over the block's rows, added to what G
// held. Others are known not to (the AVX-512 kernels choose an entry's code
// path by where its tile lies). SubsetProductsAgree checks the property on
// the running machine; the shared trainings (stepwise/shared_training.h)
// rely on it only where it holds.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

namespace Korva {

// Rows of [X y] passed to dsyrk per call: 128 rows make these machines'
// dsyrk as fast as one call over every row (256 and 512 lose about 5 %).
constexpr int kBlockRows = 128;

struct FreeBlock {
  void operator()(double* block) const { std::free(block); }
};
using Block = std::unique_ptr<double[], FreeBlock>;

// `count` doubles, uninitialised (throws std::bad_alloc). With `hugePages`,
// blocks of 2 MiB and more are aligned to huge pages and asked to get them:
// each first touch of a small page costs a fault (about 11 µs on a virtual
// machine), which for the q x q blocks of a large set adds up. A block that
// is touched only in part (a copy of a few rows) is better without.
Block Uninitialised(std::size_t count, bool hugePages = true);

// The rows of a training: `count` rows of the row-major X (`stride` values
// a row) with their labels y, taken in the order `order` gives (null: 0, 1,
// ..., count - 1).
struct TrainingRows {
  const double* X = nullptr;
  int stride = 0;
  const double* y = nullptr;
  const int* order = nullptr;
  int count = 0;
  const double* Row(int i) const {
    return X + static_cast<std::size_t>(order ? order[i] : i) * stride;
  }
  double Label(int i) const { return y[order ? order[i] : i]; }
};

// The chosen feature columns: the first p (`columns` null), or the listed
// ones (ascending, each below the rows' stride).
struct Columns {
  int p = 0;
  const int* columns = nullptr;
  int At(int j) const { return columns ? columns[j] : j; }
};

// s: each chosen column's (and the label's, last) mean over the first
// min(count, kBlockRows) rows; p + 1 values.
std::vector<double> FirstRowsMean(const TrainingRows& rows,
                                  const Columns& columns);

// G += ZᵀZ (upper triangle of the m x m row-major G) and u += Σ z, for Z the
// rows less `shift`, one block of kBlockRows rows copied at a time; with
// `add` false G and u are overwritten instead.
void AccumulateShifted(const TrainingRows& rows,
                       const Columns& columns,
                       const std::vector<double>& shift,
                       double* G,
                       std::vector<double>& u,
                       bool add);

// A centred cross-product of m = q columns (the last the label), with the
// sums that go with it.
struct CentredProduct {
  int n = 0;                 // rows
  int q = 0;                 // columns, the label's included
  Block A;                   // q x q, both triangles
  std::vector<double> mean;  // x̄ and ȳ
  std::vector<double> S;     // Σ x² and Σ y²
  bool usable = false;       // see Centre
};

// A = G - u uᵀ / n in place (G's upper triangle in `product.A`, mirrored
// into the lower), S and x̄ from `shift` and u. Sets and returns `usable`:
// false when some value is not finite or a column's sum of squares lies
// outside 1e-200 .. 1e200 and is not 0, where products of cross-products
// would overflow or lose digits in the subnormal range.
bool Centre(CentredProduct& product,
            const std::vector<double>& shift,
            const std::vector<double>& u);

// Steps 1 of the engine: the centred product of the chosen columns of the
// rows (allocated here).
CentredProduct FormProduct(const TrainingRows& rows, const Columns& columns);
// The same into `storage`: q² doubles for the columns' q = p + 1, whatever
// they hold.
CentredProduct FormProduct(const TrainingRows& rows,
                           const Columns& columns,
                           Block storage);

// True when this process's dsyrk forms the product of a subset of columns
// with the very entries of the product of all of them, on probe matrices of
// every small width and a few large ones, in the positions a tile's edge
// takes. Computed once per process (a few milliseconds).
bool SubsetProductsAgree();

}  // namespace Korva

#endif  // KORVA_STEPWISE_CROSS_PRODUCT_H_
