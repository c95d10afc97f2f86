#include "stepwise/stepwise_engine.h"

// Before any Boost.Math header.
#include "stepwise/math_policies.h"

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

// A removal that leaves more than this of the deleted row of R⁻¹ (relative
// to its size before) has lost the triangle; the factor is rebuilt.
constexpr double kRemovalResidue = 1e-8;

// An entering column whose direct d_e differs from the tracked one by more
// than this share of A_ee means the tracked values drifted.
constexpr double kTrackedAgreement = 1e-8;

}  // namespace

double BetaiDouble(double a, double b, double x) {
  if (const std::optional<double> value = BetaiGuard(a, b, x)) return *value;
  return boost::math::ibeta(a, b, x);
}

// Below kTinyP the double-precision evaluation underflows where the host's
// extended one still gives a subnormal value, so the host's betai takes over
// there.
double TwoSidedP(double dfe, double t2) {
  const double x = dfe / (dfe + t2);
  const double p = BetaiDouble(0.5 * dfe, 0.5, x);
  return p < kTinyP ? betai(0.5 * dfe, 0.5, x) : p;
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
  const TrainingRows rows{X.Store(), X.Ncols(), y.Store(), nullptr, n_};
  own_ = FormProduct(rows, Columns{p, nullptr});
  product_ = &own_;
  A_ = own_.A.get();
  Allocate();
  if (!own_.usable) return;
  RecomputeResiduals();
  usable_ = true;
}

void StepwiseEngine::Start(const CentredProduct& product) {
  refits_ = EngineRefits();
  rebuilds_ = 0;
  k_ = 0;
  usable_ = false;
  own_ = CentredProduct();
  n_ = product.n;
  p_ = product.q - 1;
  product_ = &product;
  A_ = product.A.get();
  if (p_ < 0 || n_ < 1) return;
  Allocate();
  if (!product.usable) return;
  RecomputeResiduals();
  usable_ = true;
}

// Pages are touched only where the training writes: W and T grow by rows as
// features enter. Small pages, for that reason: a model of k features
// touches about k rows of each, where a huge page would be zeroed whole
// (2 MiB, several milliseconds on a virtual machine) at its first touch.
void StepwiseEngine::Allocate() {
  const int p = p_;
  const int q = p + 1;
  q_ = q;
  capacity_ = std::max(0, std::min(p, n_ - 3));
  // On huge pages once they are that large: a run that grows its model to
  // k features touches k rows of each, and at 1000 features one run took
  // 230 faults of small pages (2.3 ms) against a few of huge ones.
  W_ = Uninitialised(static_cast<std::size_t>(capacity_) * q);
  T_ = Uninitialised(static_cast<std::size_t>(capacity_) * capacity_);
  d_ = std::vector<double>(q, 0.0);
  g_ = std::vector<double>(q, 0.0);
  work_ = std::vector<double>(q, 0.0);
  position_ = std::vector<int>(p, -1);
  b_ = std::vector<double>(p, 0.0);
  pValue_ = std::vector<double>(p, 0.0);
  t2_ = std::vector<double>(p, 0.0);
  formed_ = std::vector<char>(p, 0);
  near_ = std::vector<char>(p, 0);
  order_ = std::vector<int>(capacity_, -1);
}

void StepwiseEngine::RecomputeResiduals() {
  const int q = q_;
  const int y = p_;
  const double* A = A_;
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
  const double* A = A_;
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
  if (B.Nrows() != p_ || P.Nrows() != p_) {
    ++refits_.unusableData;
    return kStepNeedsRefit;
  }
  const int status = Evaluate(in, false);
  if (status != kStatusOk) return status;
  for (int i = 0; i < p_; ++i) PValue(i);
  if (Ambiguous(pValue_, pEnter, pRemove)) return kStepNeedsRefit;
  for (int i = 0; i < p_; ++i) {
    B.element(i) = b_[i];
    P.element(i) = pValue_[i];
  }
  intercept = b0_;
  return kStatusOk;
}

int StepwiseEngine::Evaluate(const FeatureFlags& in, bool margins) {
  if (!usable_ || in.Count() != static_cast<std::uint64_t>(p_)) {
    ++refits_.unusableData;
    return kStepNeedsRefit;
  }
  const int k = static_cast<int>(in.CountSelected());
  if (n_ - (k + 1) < 2) return kStatusRejected;
  if (!SyncModel(in)) {
    ++refits_.modelPivot;
    return kStepNeedsRefit;
  }
  return Compute(margins);
}

double StepwiseEngine::PValue(int i) {
  if (!formed_[i]) {
    pValue_[i] = TwoSidedP(dfe_, t2_[i]);
    formed_[i] = 1;
  }
  return pValue_[i];
}

bool StepwiseEngine::Ambiguous(const std::vector<double>& P,
                               double pEnter,
                               double pRemove) {
  if (!StepIsAmbiguous(P, pEnter, pRemove)) return false;
  ++refits_.ambiguousStep;
  return true;
}

std::unique_ptr<StepwiseEngine> StepwiseEngine::Branch() const {
  auto copy = std::make_unique<StepwiseEngine>();
  copy->n_ = n_;
  copy->p_ = p_;
  copy->product_ = product_;
  copy->A_ = A_;
  copy->Allocate();
  copy->usable_ = usable_;
  const std::size_t q = q_;
  std::copy(W_.get(), W_.get() + k_ * q, copy->W_.get());
  for (int r = 0; r < k_; ++r)
    std::copy(T_.get() + static_cast<std::size_t>(r) * capacity_,
              T_.get() + static_cast<std::size_t>(r) * capacity_ + k_,
              copy->T_.get() + static_cast<std::size_t>(r) * capacity_);
  copy->d_ = d_;
  copy->g_ = g_;
  copy->rss_ = rss_;
  copy->order_ = order_;
  copy->k_ = k_;
  copy->position_ = position_;
  copy->refits_ = refits_;
  copy->rebuilds_ = rebuilds_;
  return copy;
}

// Step 4. Marks every p-value as not yet formed: PValue forms each when it is
// asked for, Step all of them.
int StepwiseEngine::Compute(bool margins) {
  const int q = q_;
  const int y = p_;
  dfe_ = n_ - (k_ + 1);
  std::fill(formed_.begin(), formed_.end(), 0);
  if (margins) std::fill(near_.begin(), near_.end(), 0);
  const double Ayy = A_[static_cast<std::size_t>(y) * q + y];
  if (!(rss_ > kMinRetained * Ayy)) {
    ++refits_.lostDigits;
    return kStepNeedsRefit;
  }
  // The exact step gives every candidate NaN when the model explains the
  // labels themselves; near that bound it decides.
  if (rss_ <= kThresholdBand * kExplainedTolerance * product_->S[y]) {
    ++refits_.nearThreshold;
    return kStepNeedsRefit;
  }
  double F = 0.0;
  if (!ComputeModel(F) || !ComputeCandidates(F, margins))
    return kStepNeedsRefit;
  return kStatusOk;
}

// Step 4 for the features in the model: b = T W_·y, (A_MM)⁻¹_mm = ‖row m of
// T‖², s² = RSS / dfe, and the intercept. RSS is the difference of terms as
// large as F² = (√A_yy + Σ |b_m| √A_mm)², so its error is about ε F², not
// ε A_yy; F goes to `F` for the candidates. False, with the refusal counted,
// when a value lost more than six digits.
bool StepwiseEngine::ComputeModel(double& F) {
  const int q = q_;
  const int y = p_;
  const int k = k_;
  const int ldt = capacity_;
  const double dfe = dfe_;
  const double* A = A_;
  const double* W = W_.get();
  const double* T = T_.get();
  const std::vector<double>& mean = product_->mean;
  const double s2 = rss_ / dfe;
  double b0 = mean[y];
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
    t2_[feature] = t2;  // its p-value formed when asked for (PValue)
    b0 -= b * mean[feature];
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
// an explained-column decision lies near its bound. The p-values follow
// from t² when asked (PValue).
bool StepwiseEngine::ComputeCandidates(double F, bool margins) {
  const int q = q_;
  const double* A = A_;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double dfe = dfe_;
  for (int c = 0; c < p_; ++c) {
    if (position_[c] >= 0) continue;
    const double d = d_[c];
    const double bound = kExplainedTolerance * product_->S[c];
    const double Acc = A[static_cast<std::size_t>(c) * q + c];
    const double beta = g_[c] / d;
    const double e2 = rss_ - g_[c] * beta;
    const double Fc = F + std::fabs(beta) * std::sqrt(Acc);
    if (margins) MarkNear(c, d, bound, Acc, e2, Fc);
    if (d <= bound / kThresholdBand) {
      b_[c] = nan;
      pValue_[c] = nan;
      formed_[c] = 1;
      t2_[c] = nan;
      continue;
    }
    if (d < bound * kThresholdBand) {
      ++refits_.nearThreshold;
      return false;
    }
    if (!(d >= kMinRetained * Acc) || !(e2 >= kMinRetained * Fc * Fc)) {
      ++refits_.lostDigits;
      return false;
    }
    b_[c] = beta;
    t2_[c] = beta * beta * d * (dfe - 1.0) / e2;
  }
  return true;
}

// NearRefusal: one of candidate c's bounds within kRefusalBand of its value.
// Only the bounds the candidate reaches count: past the explained bound the
// others are not looked at.
void StepwiseEngine::MarkNear(int c,
                              double d,
                              double bound,
                              double Acc,
                              double e2,
                              double Fc) {
  const auto near = [](double value, double limit) {
    return std::fabs(value - limit) <= kRefusalBand * std::fabs(limit);
  };
  bool isNear = near(d, bound / kThresholdBand) ||
                near(d, bound * kThresholdBand);
  if (!isNear && d > bound * kThresholdBand)
    isNear = near(d, kMinRetained * Acc) || near(e2, kMinRetained * Fc * Fc);
  near_[c] = isNear ? 1 : 0;
}

// The step the choice makes from these p-values (ChooseStep) is ambiguous
// when rounding could change it: a p-value within the margin of the threshold
// it is compared with, a runner-up within the margin of the pick, or an
// entry decided among p-values that underflowed.
bool StepwiseEngine::StepIsAmbiguous(const std::vector<double>& P,
                                     double pEnter,
                                     double pRemove) const {
  const auto inModel = [this](int i) { return position_[i] >= 0; };
  const int pick = ChooseStep(
      p_, inModel, [&P](int i) { return P[i]; }, pEnter, pRemove);
  const auto near = [](double value, double reference) {
    return std::fabs(value - reference) <= kDecisionMargin * reference;
  };
  for (int i = 0; i < p_; ++i)
    if (!inModel(i) && near(P[i], pEnter)) return true;
  if (pick >= 0 && !inModel(pick)) return EntryIsAmbiguous(P, pick);
  for (int i = 0; i < p_; ++i)
    if (inModel(i) && near(P[i], pRemove)) return true;
  if (pick < 0) return false;
  // The largest model p-value above pRemove leaves, lower index on ties.
  const double best = P[pick];
  for (int i = 0; i < p_; ++i) {
    if (!inModel(i) || i == pick) continue;
    if (P[i] >= best * (1.0 - kDecisionMargin)) return true;
  }
  return false;
}

// The candidate `pick` enters with the smallest p-value, lower index on ties.
bool StepwiseEngine::EntryIsAmbiguous(const std::vector<double>& P,
                                      int pick) const {
  const double dfe = dfe_;
  const double best = P[pick];
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
      if (P[i] == 0.0 && !underflows((1.0 - kDecisionMargin) * t2_[i]))
        return true;
      if (P[i] > 0.0 && P[i] < kUnderflowP && i < pick &&
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
    if (P[i] <= best * (1.0 + kDecisionMargin)) return true;
  }
  return false;
}

}  // namespace Korva
