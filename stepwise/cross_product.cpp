#include "stepwise/cross_product.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/huge_pages.h"

namespace Korva {
namespace {

// Columns whose sums of squares leave this range (values beyond about
// 1e±100) are left to the exact step: products of cross-products would
// overflow or fall into the subnormal range, where digits are lost.
constexpr double kSmallestSquares = 1e-200;
constexpr double kLargestSquares = 1e200;

// G = ZᵀZ over the m columns of `Z` (rows x m), into or onto G.
void Syrk(const double* Z, int rows, int m, double* G, bool add) {
  cblas_dsyrk(CblasRowMajor,
              CblasUpper,
              CblasTrans,
              m,
              rows,
              1.0,
              Z,
              m,
              add ? 1.0 : 0.0,
              G,
              m);
}

// Probe values: a fixed pseudo-random sequence with magnitudes from 1e-3 to
// 1e3, so that the sums round in many places.
std::vector<double> ProbeValues(std::size_t count, std::uint64_t seed) {
  static const double kScale[] = {1e-3, 1e-2, 1e-1, 1.0, 1e1, 1e2, 1e3};
  std::vector<double> values(count);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (double& v : values) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double unit = static_cast<double>(state >> 11) * 0x1.0p-53;
    v = (unit - 0.5) * kScale[state % 7];
  }
  return values;
}

// The product of `rows` x `q` probe values in two calls (the second adding),
// and the products of three subsets of its columns, compared entry by entry.
bool ProbeAgrees(int q, int rows) {
  const std::size_t n = static_cast<std::size_t>(2) * rows;
  const std::vector<double> Z = ProbeValues(n * q, q);
  std::vector<double> G(static_cast<std::size_t>(q) * q);
  for (int block = 0; block < 2; ++block)
    Syrk(Z.data() + block * rows * static_cast<std::size_t>(q), rows, q,
         G.data(), block > 0);
  for (int keep = 0; keep < 3; ++keep) {
    std::vector<int> kept;
    for (int c = 0; c < q; ++c)
      if ((c * 7 + keep) % 3 != 0 || c == q - 1) kept.push_back(c);
    const std::size_t m = kept.size();
    std::vector<double> Y(n * m), H(m * m);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < m; ++j) Y[i * m + j] = Z[i * q + kept[j]];
    for (int block = 0; block < 2; ++block)
      Syrk(Y.data() + block * rows * m, rows, static_cast<int>(m), H.data(),
           block > 0);
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = i; j < m; ++j)
        if (std::memcmp(&G[static_cast<std::size_t>(kept[i]) * q + kept[j]],
                        &H[i * m + j], sizeof(double)) != 0)
          return false;
  }
  return true;
}

// Every width up to 40 (each place a tile's edge can fall on), and wider
// matrices whose tiles split into blocks.
bool ProbeAll() {
  for (int q = 1; q <= 40; ++q)
    if (!ProbeAgrees(q, 13)) return false;
  const int wide[][2] = {{61, 64}, {100, 37}, {257, 16}};
  for (const auto& shape : wide)
    if (!ProbeAgrees(shape[0], shape[1])) return false;
  return true;
}

}  // namespace

Block Uninitialised(std::size_t count, bool hugePages) {
  constexpr std::size_t kHuge = std::size_t{1} << 21;
  const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(double);
  void* block = nullptr;
  if (bytes < kHuge || !hugePages) {
    block = std::malloc(bytes);
  } else {
    const std::size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
    block = std::aligned_alloc(kHuge, rounded);
    if (block != nullptr) AdviseHugePages(block, rounded, Populate::kNo);
  }
  if (block == nullptr) throw std::bad_alloc();
  return Block(static_cast<double*>(block));
}

std::vector<double> FirstRowsMean(const TrainingRows& rows,
                                  const Columns& columns) {
  const int p = columns.p;
  const int blockRows = std::min(rows.count, kBlockRows);
  std::vector<double> shift(p + 1, 0.0);
  for (int i = 0; i < blockRows; ++i) {
    const double* row = rows.Row(i);
    for (int c = 0; c < p; ++c) shift[c] += row[columns.At(c)];
    shift[p] += rows.Label(i);
  }
  for (double& v : shift) v /= blockRows;
  return shift;
}

void AccumulateShifted(const TrainingRows& rows,
                       const Columns& columns,
                       const std::vector<double>& shift,
                       double* G,
                       std::vector<double>& u,
                       bool add) {
  const int p = columns.p;
  const int q = p + 1;
  const int blockRows = std::min(rows.count, kBlockRows);
  const Block Z = Uninitialised(static_cast<std::size_t>(blockRows) * q);
  if (!add) {
    u.assign(q, 0.0);
    // No rows: G is the empty sum (dsyrk is never called to overwrite it).
    if (rows.count == 0)
      std::fill(G, G + static_cast<std::size_t>(q) * q, 0.0);
  }
  for (int first = 0; first < rows.count; first += blockRows) {
    const int count = std::min(blockRows, rows.count - first);
    for (int i = 0; i < count; ++i) {
      const double* row = rows.Row(first + i);
      double* z = Z.get() + static_cast<std::size_t>(i) * q;
      if (columns.columns == nullptr) {
        for (int c = 0; c < p; ++c) {
          z[c] = row[c] - shift[c];
          u[c] += z[c];
        }
      } else {
        for (int c = 0; c < p; ++c) {
          z[c] = row[columns.columns[c]] - shift[c];
          u[c] += z[c];
        }
      }
      z[p] = rows.Label(first + i) - shift[p];
      u[p] += z[p];
    }
    Syrk(Z.get(), count, q, G, add || first > 0);
  }
}

bool Centre(CentredProduct& product,
            const std::vector<double>& shift,
            const std::vector<double>& u) {
  const int q = product.q;
  double* G = product.A.get();
  const double n = product.n;
  product.mean.assign(q, 0.0);
  product.S.assign(q, 0.0);
  bool usable = true;
  for (int c = 0; c < q; ++c) {
    const double S = G[static_cast<std::size_t>(c) * q + c] +
                     2.0 * shift[c] * u[c] + n * shift[c] * shift[c];
    product.S[c] = S;
    usable = usable &&
             (S == 0.0 || (S >= kSmallestSquares && S <= kLargestSquares));
  }
  for (int r = 0; r < q; ++r) {
    product.mean[r] = shift[r] + u[r] / n;
    for (int c = r; c < q; ++c) {
      double& a = G[static_cast<std::size_t>(r) * q + c];
      a -= u[r] * u[c] / n;
      G[static_cast<std::size_t>(c) * q + r] = a;
      usable = usable && std::isfinite(a);
    }
  }
  product.usable = usable;
  return usable;
}

CentredProduct FormProduct(const TrainingRows& rows, const Columns& columns) {
  const std::size_t q = columns.p + 1;
  return FormProduct(rows, columns, Uninitialised(q * q));
}

CentredProduct FormProduct(const TrainingRows& rows,
                           const Columns& columns,
                           Block storage) {
  CentredProduct product;
  product.n = rows.count;
  product.q = columns.p + 1;
  product.A = std::move(storage);
  if (rows.count < 1) return product;
  const std::vector<double> shift = FirstRowsMean(rows, columns);
  std::vector<double> u;
  AccumulateShifted(rows, columns, shift, product.A.get(), u, false);
  Centre(product, shift, u);
  return product;
}

bool SubsetProductsAgree() {
  static const bool agree = ProbeAll();
  return agree;
}

}  // namespace Korva
