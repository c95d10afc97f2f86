#include "weighted/weighted_classifier.h"

#include <newmat/newmatap.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Korva {
namespace {

// Moore-Penrose pseudo-inverse of `in` (r x c, any shape). With the thin SVD
// A = U D Vᵀ (NEWMAT needs rows >= columns, so a wide A is decomposed as its
// transpose), A⁺ = V D⁺ Uᵀ, where D⁺ inverts the singular values above
// max(r, c) · σ_max · ε and zeroes the rest, as they carry only rounding.
NEWMAT::Matrix PseudoInverse(const NEWMAT::Matrix& in) {
  const int r = in.Nrows();
  const int c = in.Ncols();
  NEWMAT::Matrix out(c, r);
  out = 0.0;
  if (r == 0 || c == 0) return out;
  const bool wide = c > r;
  const NEWMAT::Matrix A = wide ? NEWMAT::Matrix(in.t()) : in;
  NEWMAT::DiagonalMatrix D(A.Ncols());
  NEWMAT::Matrix U(A.Nrows(), A.Ncols());
  NEWMAT::Matrix V(A.Ncols(), A.Ncols());
  NEWMAT::SVD(A, D, U, V, true, true);
  double largest = 0.0;
  for (int i = 0; i < D.Nrows(); ++i) largest = std::max(largest, D.element(i));
  const double tolerance =
      std::max(r, c) * largest * std::numeric_limits<double>::epsilon();
  NEWMAT::DiagonalMatrix Dplus(D.Nrows());
  for (int i = 0; i < D.Nrows(); ++i)
    Dplus.element(i) = D.element(i) > tolerance ? 1.0 / D.element(i) : 0.0;
  // A = U D Vᵀ gives A⁺ = V D⁺ Uᵀ; for the transposed case in⁺ = (A⁺)ᵀ.
  const NEWMAT::Matrix Aplus = V * Dplus * U.t();
  if (wide) {
    out = Aplus.t();
  } else {
    out = Aplus;
  }
  return out;
}

}  // namespace

WeightedClassifier::WeightedClassifier(const char* name,
                                       const char* description)
    : ClassifierBase(name, description) {}

WeightedClassifier::~WeightedClassifier() = default;

double WeightedClassifier::GetScore(const NEWMAT::RowVector& x) {
  if (x.Ncols() != Weights.Nrows()) return -1.0;
  return DoGetScore(x);
}

double WeightedClassifier::DoGetScore(const NEWMAT::RowVector& x) {
  const int n = Weights.Nrows();
  const double* w = Weights.Store();
  const double* v = x.Store();
  double s = 0.0;
  if (Scalar) {
    for (int i = 0; i < n; ++i) s += v[i] * w[i];
    return s + W0;
  }
  for (int i = 0; i < n; ++i) s += std::pow(v[i] - w[i], 2.0);
  return std::sqrt(s + W0);
}

int WeightedClassifier::SortScoresFirstBest(ScoreList& scores) {
  return Scalar ? ClassifierBase::SortScoresDescending(scores)
                : ClassifierBase::SortScoresAscending(scores);
}

bool WeightedClassifier::CanClassify() const {
  return Weights.Nrows() * Weights.Ncols() != 0;
}

const NEWMAT::ColumnVector& WeightedClassifier::GetWeights() const {
  return Weights;
}

NEWMAT::Matrix& WeightedClassifier::ComputeInverse(const NEWMAT::Matrix& in,
                                                   NEWMAT::Matrix& out) {
  switch (InversionMode) {
    case NormalMode: {
      // Into a temporary first: an inversion that throws half-way would
      // leave out claiming a shape without storage.
      const NEWMAT::Matrix inverse = in.i();
      out = inverse;
      break;
    }
    case SVDMode:
      out = PseudoInverse(in);
      break;
    case RegularInverseMode: {
      const NEWMAT::Matrix T = in.t();
      const NEWMAT::Matrix P = T * in;
      const NEWMAT::Matrix Q = P.i();
      out = Q * T;
      break;
    }
  }
  return out;
}

}  // namespace Korva
