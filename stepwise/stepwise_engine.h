#ifndef KORVA_STEPWISE_STEPWISE_ENGINE_H_
#define KORVA_STEPWISE_STEPWISE_ENGINE_H_

// Incremental stepwise regression: what the regression step gives for a set
// of flags (every feature's coefficient and p-value, the intercept), computed
// from state carried over from the previous iteration instead of a refit.
//
// Notation (as in the regression step):
//   n      examples, p features, k features in the model
//   q      p + 1: the features and, as column p, the label y
//   A      q x q centred cross-product [X y]ᵀ(I - 11ᵀ/n)[X y]: the intercept
//          is swept out once, so every quantity below is already the one
//          of a model that contains the intercept
//   S_c    Σ x_c², the raw (uncentred) sum of squares of feature c (S_y = Σ y²)
//   o_r    the r-th feature of the model in order of entry, r = 0 .. k-1
//   W      k x q: row r holds the r-th row of the Cholesky factor of A in the
//          order o_0, o_1, ..., extended over every column. W restricted to the
//          model's columns is R, upper triangular, RᵀR = A_MM; for any column
//          c, W_·c = R⁻ᵀ A_Mc are its coordinates on the model's orthonormal
//          basis
//   T      R⁻¹, k x k upper triangular; (A_MM)⁻¹ = T Tᵀ
//   d_c    A_cc - ‖W_·c‖²: what remains of candidate c after projecting the
//          model out (its residual sum of squares on the model)
//   g_c    A_cy - W_·cᵀ W_·y: the cross-product of that residual with the
//          residual of y
//   RSS    A_yy - ‖W_·y‖², the residual sum of squares of the model
//
// The method:
//   1. Once per training: shift every column by the mean of its first rows,
//      form G = ZᵀZ block by block with single-threaded dsyrk (Z = the shifted
//      [X y], one block of rows copied at a time), and centre exactly,
//      A = G - u uᵀ / n with u the column sums of Z.
//   2. Entry of e: v = A_e· - W_·eᵀ W (one matrix-vector product), ρ = √v_e,
//      new row of W = v / ρ; d_c -= W_kc², g_c -= W_kc W_ky, RSS -= W_ky²;
//      T grows by the column -T W_·e / ρ and the corner 1 / ρ. O(k q).
//   3. Removal of o_j: Givens rotations on the rows j .. k-1 of W restore the
//      triangle once column o_j is dropped; the same rotations on the columns
//      of T, then dropping T's row j and last column, give the new R⁻¹
//      (R' = top of Gᵀ R E, hence E T' = T G); d, g and RSS are recomputed
//      from W. O(k q).
//   4. Per iteration, dfe = n - (k + 1), s² = RSS / dfe:
//      in-model o_m: b_m = (T W_·y)_m, se_m = s ‖row m of T‖;
//      candidate c:  β_c = g_c / d_c, Σe² = RSS - g_c² / d_c,
//                    se_c² = Σe² / (d_c (dfe - 1));
//      intercept b₀ = ȳ - Σ b_m x̄_m; p = I_x(dfe/2, 1/2), x = dfe/(dfe + t²).
//      A candidate with d_c ≤ kExplainedTolerance · S_c gets NaN coefficient
//      and p-value: the regression step's rule for an explained column, with
//      its constant. Its other rule, every candidate NaN when RSS ≤
//      kExplainedTolerance · S_y, is left to the exact step: the engine
//      refuses near and below that bound.
//
// Accuracy. The Cholesky factor of A is backward stable whatever the order of
// entry, so the engine's coefficients carry an error of about ε κ(X_M)², with
// κ taken after the columns are scaled (Cholesky is invariant to that
// scaling). The label regression has a large residual (the classes overlap),
// so the least-squares problem itself has condition κ + κ² tanθ with tanθ of
// order one: the exact QR step's own error is of the same ε κ² order, and the
// engine stays within a small factor of it. What the cross-product route adds
// is cancellation: a quantity formed as a difference of cross-products keeps
// only the digits that the difference leaves. The engine measures each loss
// against the size of the terms that cancelled:
//   d_c      against A_cc (d_c / A_cc = 1 - R² of c on the model);
//   b_m      against its variance inflation A_mm [(A_MM)⁻¹]_mm;
//   RSS      against F² = (√A_yy + Σ |b_m| √A_mm)², since RSS = ‖y - X_M b‖²
//            is a difference of terms that large;
//   Σe² of candidate c against (F + |β_c| √A_cc)², likewise.
// Step refuses (kStepNeedsRefit: the caller refits exactly) when any of these
// ratios falls below 1e-6, i.e. some value it would return has lost more than
// six of its sixteen digits; when an explained-candidate decision lies within
// a factor of 8 of its bound; when a model feature's pivot is that weak (the
// factor cannot take it); and when the choice that the driver makes from the
// p-values (smallest candidate below pEnter, else largest model p-value above
// pRemove, lower index on ties) could change within 1e-6 relative, or rests
// on equal or underflowing p-values that the exact step may round apart.
// Updates are checked against direct recomputation: an entering column's d_e
// from its fresh row of W against the tracked one, and after a removal the
// deleted row of R⁻¹, which must vanish; a failed check rebuilds the factor
// from A. Centring in the product (step 1) keeps the offsets of the columns
// out of A: the shift by an early mean leaves a correction u uᵀ / n that is
// small against A.
//
// Columns apart. Every value the engine forms for a column is made from
// that column's entries of A, the label's and the model's columns', by the
// same operations in the same order whatever the other columns hold: A
// itself entry by entry (stepwise/cross_product.h); v in an entry by dgemv,
// which forms each element of its result from that element's own row of
// inputs, with a code path set by the sizes alone; the rotations of a
// removal column by column, their angles from the model's columns; d, g,
// RSS, T and step 4 per column. So when the model's columns, the label and
// a candidate hold the entries of the product DoTrain forms from the rows
// (A_F), Step gives that candidate, the model's coefficients and p-values
// and the intercept to the last bit as on A_F, whatever the other columns
// hold. The shared trainings (stepwise/shared_training.h) start from such a
// mixed product (Start(product)): A_F's entries for the columns their
// trainings rest on, elsewhere the whole set's less the held-out rows'
// (A_D, stepwise/row_set.h). A candidate on A_D carries A_D's rounding (a
// few ε relative, like A_F's own, times the cancellation the bounds above
// limit to six digits: 1e-9 relative at worst, where its decisions are
// made on 1e-6 margins); Evaluate(margins) marks (NearRefusal) each one
// whose own refusal tests lie within kRefusalBand (1e-3) of their bounds,
// so that no column on A_D decides a refusal that A_F could decide
// otherwise.
//
// p-values come from the incomplete beta function evaluated in double
// precision (BetaiDouble, ten times faster than the host's betai and within
// 1e-13 of it); below 1e-250, where that underflows sooner, from betai.
//
// Memory: A (q²), W (min(p, n) x q at most), T (min(p, n)² at most), one
// block of 128 rows x q, and vectors of length q, all allocated by Start (W
// and T on huge pages from 2 MiB) and touched only as the model grows;
// nothing per iteration and no copy of X.

#include <newmat/newmat.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "plugin/feature_flags.h"
#include "stepwise/cross_product.h"

namespace Korva {

// Status of StepwiseEngine::Step when it wrote nothing because its numbers
// cannot be trusted for these flags: the caller refits exactly.
constexpr int kStepNeedsRefit = 1;

// I_x(a, b), the regularized incomplete beta function, evaluated in double
// precision throughout (the host's betai works in extended precision and is
// ten times slower). Agrees with betai to about 1e-13 relative; the same
// domain handling, betai's guard (BetaiGuard in korva/betai.h).
double BetaiDouble(double a, double b, double x);

// The two-sided p-value of t² on dfe degrees of freedom, as every step of
// the engine computes it: BetaiDouble, and the host's betai below 1e-250,
// where the double-precision evaluation underflows sooner.
double TwoSidedP(double dfe, double t2);

// Why Step returned kStepNeedsRefit, counted over a training.
struct EngineRefits {
  int unusableData = 0;   // non-finite data, too few rows, sizes that differ
  int modelPivot = 0;     // a model feature the factor cannot take
  int lostDigits = 0;     // some returned value lost more than six digits
  int nearThreshold = 0;  // an explained-candidate decision near its bound
  int ambiguousStep = 0;  // the driver's choice could change within the error
  int Total() const {
    return unusableData + modelPivot + lostDigits + nearThreshold +
           ambiguousStep;
  }
};

// One training's incremental regression state. Runs on the caller's thread;
// keeps pointers only to a product given to Start.
class StepwiseEngine {
 public:
  StepwiseEngine() = default;
  StepwiseEngine(const StepwiseEngine&) = delete;
  StepwiseEngine& operator=(const StepwiseEngine&) = delete;

  // Forms the centred cross-product of the first p columns of X (n rows) and
  // y (n entries) and allocates every buffer of the training. Data that the
  // engine cannot use (sizes that differ, non-finite values, a column whose
  // sum of squares lies outside 1e-200 .. 1e200 and is not 0) make every
  // later Step return kStepNeedsRefit.
  void Start(const NEWMAT::Matrix& X, const NEWMAT::ColumnVector& y, int p);

  // The same from a product formed elsewhere (q = p + 1 columns, the label
  // last), read in place: it must outlive this engine and its branches.
  void Start(const CentredProduct& product);

  // The regression step's results for the flags `in` (p flags): B[i] and
  // P[i] for every feature (both sized p by the caller) and the intercept.
  // pEnter and pRemove are the thresholds that the caller's choice of the
  // next step compares the p-values with. Returns 0; kStatusRejected (-10)
  // when dfe = n - (k + 1) < 2; kStepNeedsRefit. On a non-zero result
  // nothing is written.
  int Step(const FeatureFlags& in,
           double pEnter,
           double pRemove,
           NEWMAT::ColumnVector& B,
           NEWMAT::ColumnVector& P,
           double& intercept);

  // Step in parts, for a caller that makes the choice itself for several
  // pairs of thresholds at once (stepwise/shared_training.cpp). Evaluate
  // brings the model to `in` and forms every value of Step that no threshold
  // decides: the model's coefficients, p-values and intercept, and each
  // candidate's coefficient and t²; a candidate's p-value is formed when
  // PValue first asks for it. It returns what Step would, short of the
  // ambiguous choice: 0, kStatusRejected or kStepNeedsRefit. With `margins`
  // it also marks the candidates whose own refusal test (explained, lost
  // digits) lies within kRefusalBand of its bound (NearRefusal).
  int Evaluate(const FeatureFlags& in, bool margins);
  // After Evaluate returned 0:
  int Features() const { return p_; }
  bool InModel(int i) const { return position_[i] >= 0; }
  double Coefficient(int i) const { return b_[i]; }
  double T2(int i) const { return t2_[i]; }  // NaN: an explained candidate
  double PValue(int i);
  double Intercept() const { return b0_; }
  double Dfe() const { return dfe_; }
  bool NearRefusal(int i) const { return near_[i] != 0; }
  // Step's refusal of an ambiguous choice, on the p-values `P` (p values:
  // PValue's, or stand-ins that compare alike with every threshold and
  // p-value the rule looks at), counted as Step counts it.
  bool Ambiguous(const std::vector<double>& P, double pEnter, double pRemove);

  // A copy of the state, for a branch of the trainings that share it; the
  // product is shared, the factor copied (only its rows in use).
  std::unique_ptr<StepwiseEngine> Branch() const;

  // Why Step refused, since Start.
  const EngineRefits& Refits() const { return refits_; }
  // How often a failed consistency check rebuilt the factor, since Start.
  int Rebuilds() const { return rebuilds_; }

  // The share of a candidate's refusal bounds within which NearRefusal
  // marks it: values of the same data formed another way (within a few ε
  // of these, times the cancellation the bounds already limit) cannot fall
  // on the other side.
  static constexpr double kRefusalBand = 1e-3;

 private:
  enum class Entry { kDone, kWeakPivot, kInconsistent };
  Entry Enter(int e);
  bool Remove(int position);
  void RecomputeResiduals();
  void Refactor();
  bool SyncModel(const FeatureFlags& in);
  void Allocate();
  // Step 4: the model's features, then the candidates.
  int Compute(bool margins);
  bool ComputeModel(double& F);
  bool ComputeCandidates(double F, bool margins);
  void MarkNear(int c, double d, double bound, double Acc, double e2,
                double Fc);
  bool StepIsAmbiguous(const std::vector<double>& P,
                       double pEnter,
                       double pRemove) const;
  bool EntryIsAmbiguous(const std::vector<double>& P, int pick) const;

  int n_ = 0;
  int p_ = 0;
  int q_ = 0;
  int capacity_ = 0;  // rows of W and T
  bool usable_ = false;

  CentredProduct own_;                      // Start(X, y, p) forms it here
  const CentredProduct* product_ = nullptr;  // own_ or the caller's
  const double* A_ = nullptr;               // q x q, both triangles
  Block W_;                   // capacity x q
  Block T_;                   // capacity x capacity, upper triangle used
  std::vector<double> d_;     // q
  std::vector<double> g_;     // q
  double rss_ = 0.0;
  double dfe_ = 0.0;
  std::vector<int> order_;      // capacity: o_0 .. o_{k-1}
  int k_ = 0;                   // features in the factor
  std::vector<int> position_;   // p: position in order_, or -1
  std::vector<double> work_;    // q
  std::vector<double> b_;       // p: the coefficients being built
  std::vector<double> pValue_;  // p
  std::vector<double> t2_;      // p: the t² behind each p-value
  std::vector<char> formed_;    // p: pValue_ holds the candidate's p-value
  std::vector<char> near_;      // p: NearRefusal
  double b0_ = 0.0;
  EngineRefits refits_;
  int rebuilds_ = 0;
};

}  // namespace Korva

#endif  // KORVA_STEPWISE_STEPWISE_ENGINE_H_
