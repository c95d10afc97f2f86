#include "stepwise/stepwise_engine.h"

// Every Boost.Math function used in this file, down to the ones it calls
// with their default policy, reports errors as values (NaN, ±∞) and works
// in double precision. Nothing here can throw, and no exception type of
// Boost's is emitted into the module, whose exported symbols are reviewed.
#define BOOST_MATH_DOMAIN_ERROR_POLICY ignore_error
#define BOOST_MATH_POLE_ERROR_POLICY ignore_error
#define BOOST_MATH_OVERFLOW_ERROR_POLICY ignore_error
#define BOOST_MATH_EVALUATION_ERROR_POLICY ignore_error
#define BOOST_MATH_ROUNDING_ERROR_POLICY ignore_error
#define BOOST_MATH_PROMOTE_DOUBLE_POLICY false

#include <cblas.h>

#include <algorithm>
#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "korva/betai.h"
#include "korva/classifier_base.h"
#include "platform/huge_pages.h"
#include "stepwise/step_calc.h"
#include "stepwise/step_choice.h"

namespace Korva {
namespace {

// A value whose cancellation leaves less than this share of the quantity it
// came from (d_c of A_cc, Σe² of RSS, RSS of A_yy, 1 / variance inflation)
// has lost more than six of the sixteen digits.
constexpr double kMinRetained = 1e-6;

// An explained-column decision (d_c ≤ kExplainedTolerance · S_c, and RSS ≤
// kExplainedTolerance · Σ y² for the labels) within this factor of its bound
// is left to the exact step, which computes d_c and RSS from the data instead
// of as differences of cross-products.
constexpr double kThresholdBand = 8.0;

// Relative distance below which two p-values, or a p-value and a threshold,
// could swap order within the engine's error.
constexpr double kDecisionMargin = 1e-6;

// Below this, BetaiDouble may underflow where betai does not.
constexpr double kTinyP = 1e-250;

// Below this, p-values are subnormal or zero: the exact step's may differ in
// every digit.
constexpr double kUnderflowP = 1e-300;

// Columns whose sums of squares leave this range (values beyond about 1e±100)
// are left to the exact step: products of cross-products would overflow or
// fall into the subnormal range, where digits are lost.
constexpr double kSmallestSquares = 1e-200;
constexpr double kLargestSquares = 1e200;

// Rows of X copied, shifted, per dsyrk call: 128 rows make these machines'
// dsyrk as fast as one call over every row (256 and 512 lose about 5 %).
constexpr int kBlockRows = 128;

// A removal that leaves more than this of the deleted row of R⁻¹ (relative
// to its size before) has lost the triangle; the factor is rebuilt.
constexpr double kRemovalResidue = 1e-8;

// An entering column whose direct d_e differs from the tracked one by more
// than this share of A_ee means the tracked values drifted.
constexpr double kTrackedAgreement = 1e-8;

// The two-sided p-value of t² on dfe degrees of freedom. Below kTinyP the
// double-precision evaluation underflows where the host's extended one still
// gives a subnormal value, so the host's betai takes over there.
double TwoSidedP(double dfe, double t2) {
  const double x = dfe / (dfe + t2);
  const double p = BetaiDouble(0.5 * dfe, 0.5, x);
  return p < kTinyP ? betai(0.5 * dfe, 0.5, x) : p;
}

}  // namespace

double BetaiDouble(double a, double b, double x) {
  if (const std::optional<double> value = BetaiGuard(a, b, x)) return *value;
  return boost::math::ibeta(a, b, x);
}

// Pages are touched only where the training writes. Blocks of 2 MiB and
// more are aligned to huge pages and asked to get them: each first touch of a
// small page costs a fault (about 11 µs on a virtual machine), which for the
// q x q blocks of a large set adds up to a good share of the steps.
StepwiseEngine::Block StepwiseEngine::Uninitialised(std::size_t count) {
  constexpr std::size_t kHuge = std::size_t{1} << 21;
  const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(double);
  void* block = nullptr;
  if (bytes < kHuge) {
    block = std::malloc(bytes);
  } else {
    const std::size_t rounded = (bytes + kHuge - 1) & ~(kHuge - 1);
    block = std::aligned_alloc(kHuge, rounded);
    if (block != nullptr) AdviseHugePages(block, rounded, Populate::kNo);
  }
  if (block == nullptr) throw std::bad_alloc();
  return Block(static_cast<double*>(block));
}

void StepwiseEngine::Start(const NEWMAT::Matrix& X,
                           const NEWMAT::ColumnVector& y,
                           int p) {
  refits_ = EngineRefits();
  rebuilds_ = 0;
  k_ = 0;
  usable_ = false;
  n_ = X.Nrows();
  p_ = p;
  if (p < 0 || p > X.Ncols() || y.Nrows() != n_ || n_ < 1) return;
  Allocate(p);
  const std::vector<double> shift = FirstRowsMean(X, y);
  Accumulate(X, y, shift);
  if (!Centre(shift)) return;
  RecomputeResiduals();
  usable_ = true;
}

void StepwiseEngine::Allocate(int p) {
  const int q = p + 1;
  q_ = q;
  capacity_ = std::max(0, std::min(p, n_ - 3));
  const std::size_t qq = static_cast<std::size_t>(q) * q;
  A_ = Uninitialised(qq);
  W_ = Uninitialised(static_cast<std::size_t>(capacity_) * q);
  T_ = Uninitialised(static_cast<std::size_t>(capacity_) * capacity_);
  mean_ = std::vector<double>(q, 0.0);
  S_ = std::vector<double>(q, 0.0);
  d_ = std::vector<double>(q, 0.0);
  g_ = std::vector<double>(q, 0.0);
  work_ = std::vector<double>(q, 0.0);
  position_ = std::vector<int>(p, -1);
  b_ = std::vector<double>(p, 0.0);
  pValue_ = std::vector<double>(p, 0.0);
  t2_ = std::vector<double>(p, 0.0);
  order_ = std::vector<int>(capacity_, -1);
}

// Step 1: the shift is the mean of the first block of rows, so that the
// exact centring at the end subtracts only a small correction.
std::vector<double> StepwiseEngine::FirstRowsMean(
    const NEWMAT::Matrix& X, const NEWMAT::ColumnVector& y) const {
  const int p = p_;
  const int ld = X.Ncols();
  const double* x = X.Store();
  const double* yv = y.Store();
  const int blockRows = std::min(n_, kBlockRows);
  std::vector<double> shift(q_, 0.0);
  for (int i = 0; i < blockRows; ++i) {
    const double* row = x + static_cast<std::size_t>(i) * ld;
    for (int c = 0; c < p; ++c) shift[c] += row[c];
    shift[p] += yv[i];
  }
  for (double& v : shift) v /= blockRows;
  return shift;
}

// Step 1: G = ZᵀZ into A_ and the column sums u of Z into work_, with Z the
// rows of [X y] less `shift`, copied one block of kBlockRows at a time.
void StepwiseEngine::Accumulate(const NEWMAT::Matrix& X,
                                const NEWMAT::ColumnVector& y,
                                const std::vector<double>& shift) {
  const int p = p_;
  const int q = q_;
  const int ld = X.Ncols();
  const double* x = X.Store();
  const double* yv = y.Store();
  const int blockRows = std::min(n_, kBlockRows);
  const Block Z = Uninitialised(static_cast<std::size_t>(blockRows) * q);
  std::vector<double>& u = work_;
  double* G = A_.get();
  for (int first = 0; first < n_; first += blockRows) {
    const int rows = std::min(blockRows, n_ - first);
    for (int i = 0; i < rows; ++i) {
      const double* row = x + static_cast<std::size_t>(first + i) * ld;
      double* z = Z.get() + static_cast<std::size_t>(i) * q;
      for (int c = 0; c < p; ++c) {
        z[c] = row[c] - shift[c];
        u[c] += z[c];
      }
      z[p] = yv[first + i] - shift[p];
      u[p] += z[p];
    }
    cblas_dsyrk(CblasRowMajor,
                CblasUpper,
                CblasTrans,
                q,
                rows,
                1.0,
                Z.get(),
                q,
                first == 0 ? 0.0 : 1.0,
                G,
                q);
  }
}

// Step 1, the exact centring: Σ x² = Σ z² + 2 s Σ z + n s²; A = G - u uᵀ / n,
// mirrored into the lower triangle so that every row of A is contiguous.
// False for data the engine cannot use (see Start).
bool StepwiseEngine::Centre(const std::vector<double>& shift) {
  const int q = q_;
  const std::vector<double>& u = work_;
  double* G = A_.get();
  const double n = n_;
  bool usable = true;
  for (int c = 0; c < q; ++c) {
    S_[c] = G[static_cast<std::size_t>(c) * q + c] + 2.0 * shift[c] * u[c] +
            n * shift[c] * shift[c];
    usable = usable && (S_[c] == 0.0 || (S_[c] >= kSmallestSquares &&
                                         S_[c] <= kLargestSquares));
  }
  for (int r = 0; r < q; ++r) {
    mean_[r] = shift[r] + u[r] / n;
    for (int c = r; c < q; ++c) {
      double& a = G[static_cast<std::size_t>(r) * q + c];
      a -= u[r] * u[c] / n;
      G[static_cast<std::size_t>(c) * q + r] = a;
      usable = usable && std::isfinite(a);
    }
  }
  return usable;
}

void StepwiseEngine::RecomputeResiduals() {
  const int q = q_;
  const int y = p_;
  const double* A = A_.get();
  for (int c = 0; c < q; ++c) {
    d_[c] = A[static_cast<std::size_t>(c) * q + c];
    g_[c] = A[static_cast<std::size_t>(c) * q + y];
  }
  const int k = k_;
  for (int r = 0; r < k; ++r) {
    const double* w = W_.get() + static_cast<std::size_t>(r) * q;
    const double wy = w[y];
    for (int c = 0; c < q; ++c) {
      d_[c] -= w[c] * w[c];
      g_[c] -= w[c] * wy;
    }
  }
  rss_ = d_[y];
}

StepwiseEngine::Entry StepwiseEngine::Enter(int e) {
  const int q = q_;
  const int y = p_;
  const int k = k_;
  if (k >= capacity_) return Entry::kWeakPivot;
  const double* A = A_.get();
  double* W = W_.get();
  double* v = work_.data();
  // v = A_e· - W_·eᵀ W: column e's cross-products with everything, minus
  // what the model already explains.
  std::memcpy(v, A + static_cast<std::size_t>(e) * q, sizeof(double) * q);
  if (k > 0)
    cblas_dgemv(
        CblasRowMajor, CblasTrans, k, q, -1.0, W, q, W + e, q, 1.0, v, 1);
  const double pivot = v[e];
  const double Aee = A[static_cast<std::size_t>(e) * q + e];
  if (!(pivot > kMinRetained * Aee)) return Entry::kWeakPivot;
  if (!(std::fabs(pivot - d_[e]) <= kTrackedAgreement * Aee))
    return Entry::kInconsistent;

  const double rho = std::sqrt(pivot);
  double* w = W + static_cast<std::size_t>(k) * q;
  for (int c = 0; c < q; ++c) w[c] = v[c] / rho;
  for (int r = 0; r < k; ++r) w[order_[r]] = 0.0;
  w[e] = rho;
  const double wy = w[y];
  for (int c = 0; c < q; ++c) {
    d_[c] -= w[c] * w[c];
    g_[c] -= w[c] * wy;
  }
  rss_ = d_[y];

  // R⁻¹ of the bordered triangle [R r; 0 ρ] is [T  -T r / ρ; 0  1 / ρ].
  const int ldt = capacity_;
  double* T = T_.get();
  for (int i = 0; i < k; ++i) {
    const double* t = T + static_cast<std::size_t>(i) * ldt;
    double z = 0.0;
    for (int j = i; j < k; ++j)
      z += t[j] * W[static_cast<std::size_t>(j) * q + e];
    T[static_cast<std::size_t>(i) * ldt + k] = -z / rho;
  }
  double* tk = T + static_cast<std::size_t>(k) * ldt;
  for (int j = 0; j < k; ++j) tk[j] = 0.0;
  tk[k] = 1.0 / rho;

  order_[k] = e;
  position_[e] = k;
  k_ = k + 1;
  return Entry::kDone;
}

bool StepwiseEngine::Remove(int j) {
  const int q = q_;
  const int k = k_;
  const int ldt = capacity_;
  double* W = W_.get();
  double* T = T_.get();
  double rowBefore = 0.0;
  for (int c = 0; c < k; ++c)
    rowBefore = std::max(rowBefore,
                         std::fabs(T[static_cast<std::size_t>(j) * ldt + c]));

  // Dropping column o_j leaves rows j+1 .. k-1 one place right of the
  // diagonal; each rotation moves one of them back.
  for (int i = j + 1; i < k; ++i) {
    const int col = order_[i];
    double* upper = W + static_cast<std::size_t>(i - 1) * q;
    double* lower = W + static_cast<std::size_t>(i) * q;
    const double a = upper[col];
    const double b = lower[col];
    const double r = std::hypot(a, b);
    const double c = a / r;
    const double s = b / r;
    for (int x = 0; x < q; ++x) {
      const double top = upper[x];
      const double bottom = lower[x];
      upper[x] = c * top + s * bottom;
      lower[x] = c * bottom - s * top;
    }
    upper[col] = r;
    lower[col] = 0.0;
    for (int m = 0; m <= i; ++m) {
      double* t = T + static_cast<std::size_t>(m) * ldt;
      const double left = t[i - 1];
      const double right = t[i];
      t[i - 1] = c * left + s * right;
      t[i] = c * right - s * left;
    }
  }

  // E T' = T G: row j of T G must have vanished in its first k-1 columns.
  double rowAfter = 0.0;
  for (int c = 0; c + 1 < k; ++c)
    rowAfter =
        std::max(rowAfter, std::fabs(T[static_cast<std::size_t>(j) * ldt + c]));
  for (int m = j; m + 1 < k; ++m)
    std::memcpy(T + static_cast<std::size_t>(m) * ldt,
                T + static_cast<std::size_t>(m + 1) * ldt,
                sizeof(double) * (k - 1));

  position_[order_[j]] = -1;
  for (int r = j; r < k - 1; ++r) {
    order_[r] = order_[r + 1];
    position_[order_[r]] = r;
  }
  k_ = k - 1;
  RecomputeResiduals();
  return rowAfter <= kRemovalResidue * rowBefore;
}

void StepwiseEngine::Refactor() {
  ++rebuilds_;
  const std::vector<int> previous(order_.begin(), order_.begin() + k_);
  for (int e : previous) position_[e] = -1;
  k_ = 0;
  RecomputeResiduals();
  for (int e : previous)
    if (Enter(e) != Entry::kDone) break;
}

bool StepwiseEngine::SyncModel(const FeatureFlags& in) {
  bool consistent = true;
  for (int r = k_ - 1; r >= 0; --r)
    if (!in[order_[r]]) consistent = Remove(r) && consistent;
  if (!consistent) Refactor();
  bool complete = true;
  for (int i = 0; i < p_; ++i) {
    if (!in[i] || position_[i] >= 0) continue;
    Entry entry = Enter(i);
    if (entry == Entry::kInconsistent) {
      Refactor();
      entry = Enter(i);
    }
    complete = complete && entry == Entry::kDone;
  }
  // A feature that an earlier failure left out of a rebuilt factor.
  for (int i = 0; i < p_ && complete; ++i)
    complete = !in[i] || position_[i] >= 0;
  return complete;
}

int StepwiseEngine::Step(const FeatureFlags& in,
                         double pEnter,
                         double pRemove,
                         NEWMAT::ColumnVector& B,
                         NEWMAT::ColumnVector& P,
                         double& intercept) {
  if (!usable_ || in.Count() != static_cast<std::uint64_t>(p_) ||
      B.Nrows() != p_ || P.Nrows() != p_) {
    ++refits_.unusableData;
    return kStepNeedsRefit;
  }
  const int k = static_cast<int>(in.CountSelected());
  if (n_ - (k + 1) < 2) return kStatusRejected;
  if (!SyncModel(in)) {
    ++refits_.modelPivot;
    return kStepNeedsRefit;
  }
  const int status = Compute(pEnter, pRemove);
  if (status != kStatusOk) return status;
  for (int i = 0; i < p_; ++i) {
    B.element(i) = b_[i];
    P.element(i) = pValue_[i];
  }
  intercept = b0_;
  return kStatusOk;
}

int StepwiseEngine::Compute(double pEnter, double pRemove) {
  const int q = q_;
  const int y = p_;
  const double dfe = n_ - (k_ + 1);
  const double Ayy = A_[static_cast<std::size_t>(y) * q + y];
  if (!(rss_ > kMinRetained * Ayy)) {
    ++refits_.lostDigits;
    return kStepNeedsRefit;
  }
  // The exact step gives every candidate NaN when the model explains the
  // labels themselves; near that bound it decides.
  if (rss_ <= kThresholdBand * kExplainedTolerance * S_[y]) {
    ++refits_.nearThreshold;
    return kStepNeedsRefit;
  }
  double F = 0.0;
  if (!ComputeModel(dfe, F) || !ComputeCandidates(dfe, F))
    return kStepNeedsRefit;
  if (StepIsAmbiguous(dfe, pEnter, pRemove)) {
    ++refits_.ambiguousStep;
    return kStepNeedsRefit;
  }
  return kStatusOk;
}

// Step 4 for the features in the model: b = T W_·y, (A_MM)⁻¹_mm = ‖row m of
// T‖², s² = RSS / dfe, and the intercept. RSS is the difference of terms as
// large as F² = (√A_yy + Σ |b_m| √A_mm)², so its error is about ε F², not
// ε A_yy; F goes to `F` for the candidates. False, with the refusal counted,
// when a value lost more than six digits.
bool StepwiseEngine::ComputeModel(double dfe, double& F) {
  const int q = q_;
  const int y = p_;
  const int k = k_;
  const int ldt = capacity_;
  const double* A = A_.get();
  const double* W = W_.get();
  const double* T = T_.get();
  const double s2 = rss_ / dfe;
  double b0 = mean_[y];
  F = std::sqrt(A[static_cast<std::size_t>(y) * q + y]);
  for (int m = 0; m < k; ++m) {
    const double* t = T + static_cast<std::size_t>(m) * ldt;
    double b = 0.0;
    double inverseDiagonal = 0.0;
    for (int r = m; r < k; ++r) {
      b += t[r] * W[static_cast<std::size_t>(r) * q + y];
      inverseDiagonal += t[r] * t[r];
    }
    const int feature = order_[m];
    const double Amm = A[static_cast<std::size_t>(feature) * q + feature];
    if (!(Amm * inverseDiagonal * kMinRetained <= 1.0)) {
      ++refits_.lostDigits;
      return false;
    }
    const double t2 = b * b / (s2 * inverseDiagonal);
    b_[feature] = b;
    pValue_[feature] = TwoSidedP(dfe, t2);
    t2_[feature] = t2;
    b0 -= b * mean_[feature];
    F += std::fabs(b) * std::sqrt(Amm);
  }
  b0_ = b0;
  if (!(rss_ >= kMinRetained * F * F)) {
    ++refits_.lostDigits;
    return false;
  }
  return true;
}

// Step 4 for the candidates: the fit with c alone added. Its residual sum of
// squares Σe² = RSS - g_c β_c cancels terms as large as (F + |β_c| √A_cc)².
// False, with the refusal counted, when a value lost more than six digits or
// an explained-column decision lies near its bound.
bool StepwiseEngine::ComputeCandidates(double dfe, double F) {
  const int q = q_;
  const double* A = A_.get();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int c = 0; c < p_; ++c) {
    if (position_[c] >= 0) continue;
    const double d = d_[c];
    const double bound = kExplainedTolerance * S_[c];
    if (d <= bound / kThresholdBand) {
      b_[c] = nan;
      pValue_[c] = nan;
      t2_[c] = nan;
      continue;
    }
    if (d < bound * kThresholdBand) {
      ++refits_.nearThreshold;
      return false;
    }
    const double Acc = A[static_cast<std::size_t>(c) * q + c];
    const double beta = g_[c] / d;
    const double e2 = rss_ - g_[c] * beta;
    const double Fc = F + std::fabs(beta) * std::sqrt(Acc);
    if (!(d >= kMinRetained * Acc) || !(e2 >= kMinRetained * Fc * Fc)) {
      ++refits_.lostDigits;
      return false;
    }
    const double t2 = beta * beta * d * (dfe - 1.0) / e2;
    b_[c] = beta;
    pValue_[c] = TwoSidedP(dfe, t2);
    t2_[c] = t2;
  }
  return true;
}

// The step the choice makes from these p-values (ChooseStep) is ambiguous
// when rounding could change it: a p-value within the margin of the threshold
// it is compared with, a runner-up within the margin of the pick, or an
// entry decided among p-values that underflowed.
bool StepwiseEngine::StepIsAmbiguous(double dfe,
                                     double pEnter,
                                     double pRemove) const {
  const auto inModel = [this](int i) { return position_[i] >= 0; };
  const int pick = ChooseStep(
      p_, inModel, [this](int i) { return pValue_[i]; }, pEnter, pRemove);
  const auto near = [](double value, double reference) {
    return std::fabs(value - reference) <= kDecisionMargin * reference;
  };
  for (int i = 0; i < p_; ++i)
    if (!inModel(i) && near(pValue_[i], pEnter)) return true;
  if (pick >= 0 && !inModel(pick)) return EntryIsAmbiguous(pick, dfe);
  for (int i = 0; i < p_; ++i)
    if (inModel(i) && near(pValue_[i], pRemove)) return true;
  if (pick < 0) return false;
  // The largest model p-value above pRemove leaves, lower index on ties.
  const double best = pValue_[pick];
  for (int i = 0; i < p_; ++i) {
    if (!inModel(i) || i == pick) continue;
    if (pValue_[i] >= best * (1.0 - kDecisionMargin)) return true;
  }
  return false;
}

// The candidate `pick` enters with the smallest p-value, lower index on ties.
bool StepwiseEngine::EntryIsAmbiguous(int pick, double dfe) const {
  const double best = pValue_[pick];
  if (best == 0.0) {
    // Several p-values may have underflowed. The exact step's t² differs by
    // rounding, so a zero counts only if a slightly smaller t² underflows too
    // (robust zeros tie alike in both and go to the lower index), and a tiny
    // value before the pick only if a slightly larger t² still does not.
    auto underflows = [dfe](double t2) {
      return betai(0.5 * dfe, 0.5, dfe / (dfe + t2)) == 0.0;
    };
    for (int i = 0; i < p_; ++i) {
      if (position_[i] >= 0) continue;
      const double P = pValue_[i];
      if (P == 0.0 && !underflows((1.0 - kDecisionMargin) * t2_[i]))
        return true;
      if (P > 0.0 && P < kUnderflowP && i < pick &&
          underflows((1.0 + kDecisionMargin) * t2_[i]))
        return true;
    }
    return false;
  }
  // A subnormal p-value has lost its digits.
  if (best < kUnderflowP) return true;
  for (int i = 0; i < p_; ++i) {
    if (position_[i] >= 0 || i == pick) continue;
    // Equal values too: the exact step may round them apart.
    if (pValue_[i] <= best * (1.0 + kDecisionMargin)) return true;
  }
  return false;
}

}  // namespace Korva
