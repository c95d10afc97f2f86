#include "epoching/band_pass.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <string>

#include "epoching/recipe.h"

namespace Korva::Epoching {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// a / b as the array library of that pipeline divides (Smith's method), so
// that poles and gain round the same way.
Complex Divide(Complex a, Complex b) {
  if (std::abs(b.real()) >= std::abs(b.imag())) {
    const double rat = b.imag() / b.real();
    const double scl = 1.0 / (b.real() + b.imag() * rat);
    return {(a.real() + a.imag() * rat) * scl,
            (a.imag() - a.real() * rat) * scl};
  }
  const double rat = b.real() / b.imag();
  const double scl = 1.0 / (b.imag() + b.real() * rat);
  return {(a.real() * rat + a.imag()) * scl, (a.imag() * rat - a.real()) * scl};
}

// Steps 1-3: the analog band-pass poles and gain.
std::vector<Complex> AnalogPoles(int N, double B, double w0, double& gain) {
  std::vector<Complex> plus, minus;
  for (int m = -N + 1; m < N; m += 2) {
    const Complex p =
        -std::exp(Divide(Complex(0.0, kPi * m), Complex(2.0 * N, 0.0)));
    const Complex pLow = p * B / 2.0;
    const Complex root = std::sqrt(pLow * pLow - w0 * w0);
    plus.push_back(pLow + root);
    minus.push_back(pLow - root);
  }
  gain = std::pow(B, N);
  plus.insert(plus.end(), minus.begin(), minus.end());
  return plus;
}

// Step 5's order of candidates: the upper half of each conjugate pair by
// real part, then by imaginary part, followed by the real poles by value
// (a pole whose imaginary part is within rounding of zero counts as real).
std::vector<Complex> HalfPlanePoles(const std::vector<Complex>& poles) {
  const double tol = 100 * std::numeric_limits<double>::epsilon();
  std::vector<Complex> upper;
  std::vector<double> real;
  for (const Complex& p : poles) {
    if (std::abs(p.imag()) <= tol * std::abs(p))
      real.push_back(p.real());
    else if (p.imag() > 0)
      upper.push_back(p);
  }
  std::stable_sort(upper.begin(), upper.end(), [](Complex a, Complex b) {
    return a.real() != b.real() ? a.real() < b.real() : a.imag() < b.imag();
  });
  std::stable_sort(real.begin(), real.end());
  upper.insert(upper.end(), real.begin(), real.end());
  return upper;
}

// Index of the element of `values` nearest the unit circle (the first of
// equals), among those that are real when `realOnly`.
size_t Worst(const std::vector<Complex>& values, bool realOnly) {
  size_t best = values.size();
  for (size_t i = 0; i < values.size(); ++i) {
    if (realOnly && values[i].imag() != 0) continue;
    if (best == values.size() || std::abs(1 - std::abs(values[i])) <
                                     std::abs(1 - std::abs(values[best])))
      best = i;
  }
  return best;
}

// Removes and returns the zero nearest `p` (every zero is real).
double TakeNearest(std::vector<double>& zeros, Complex p) {
  size_t best = 0;
  for (size_t i = 1; i < zeros.size(); ++i)
    if (std::abs(zeros[i] - p) < std::abs(zeros[best] - p)) best = i;
  const double z = zeros[best];
  zeros.erase(zeros.begin() + best);
  return z;
}

// Step 5. Real poles come in pairs and every zero is real, so each section
// gets two poles and two real zeros.
std::vector<Biquad> PairSections(int N,
                                 std::vector<Complex> p,
                                 std::vector<double> z,
                                 double gain) {
  std::vector<Biquad> sections(N);
  for (size_t s = sections.size(); s-- > 0;) {
    const size_t i1 = Worst(p, false);
    const Complex p1 = p[i1];
    p.erase(p.begin() + i1);
    Complex p2 = std::conj(p1);
    if (p1.imag() == 0) {
      const size_t i2 = Worst(p, true);
      p2 = p[i2];
      p.erase(p.begin() + i2);
    }
    const double z1 = TakeNearest(z, p1), z2 = TakeNearest(z, p1);
    Biquad& q = sections[s];
    q.b0 = 1.0;
    q.b1 = -z2 + -z1;
    q.b2 = z1 * z2;
    q.a1 = (-p2 + -p1).real();
    q.a2 = ((-p1) * (-p2)).real();
  }
  sections[0].b0 *= gain;
  sections[0].b1 *= gain;
  sections[0].b2 *= gain;
  return sections;
}

// Step 6. The 2x2 system (I - Aᵀ) z = B, with A the companion matrix of the
// denominator, is solved by LU decomposition with partial pivoting (the
// multiplier taken as a product with the pivot's reciprocal, the back
// substitution by division): for poles near z = 1 the system is
// ill-conditioned, and only the same arithmetic gives the same states.
std::vector<double> SteadyStates(const std::vector<Biquad>& sections) {
  std::vector<double> zi;
  double scale = 1.0;
  for (const Biquad& q : sections) {
    double M[2][2] = {{1 + q.a1, -1.0}, {q.a2, 1.0}};
    double y[2] = {q.b1 - q.a1 * q.b0, q.b2 - q.a2 * q.b0};
    if (std::abs(M[0][0]) < std::abs(M[1][0])) {
      std::swap(M[0], M[1]);
      std::swap(y[0], y[1]);
    }
    const double l = M[1][0] * (1.0 / M[0][0]);
    const double z1 = (y[1] - l * y[0]) / (M[1][1] - l * M[0][1]);
    const double z0 = (y[0] - M[0][1] * z1) / M[0][0];
    zi.push_back(scale * z0);
    zi.push_back(scale * z1);
    scale *= (q.b0 + q.b1 + q.b2) / (1 + q.a1 + q.a2);
  }
  return zi;
}

// Two signals filtered side by side: the same operations on both lanes.
typedef double Pair __attribute__((vector_size(16)));

// L signals of equal length, sample i of each loaded and stored together.
template <int L>
struct Lanes;
template <>
struct Lanes<1> {
  using T = double;
  double* p[1];
  T Load(long long i) const { return p[0][i]; }
  void Store(long long i, T v) const { p[0][i] = v; }
};
template <>
struct Lanes<2> {
  using T = Pair;
  double* p[2];
  T Load(long long i) const { return T{p[0][i], p[1][i]}; }
  void Store(long long i, T v) const {
    p[0][i] = v[0];
    p[1][i] = v[1];
  }
};

// The cascade over samples first, first + step, ... up to (not including)
// `last`, in transposed direct form II; `z` holds two states per section.
// The section count is a template argument so that the states stay in
// registers.
template <int S, int L>
void Cascade(const Biquad* q,
             typename Lanes<L>::T* z,
             Lanes<L> x,
             long long first,
             long long last,
             int step) {
  using T = typename Lanes<L>::T;
  T z0[S], z1[S];
  for (int k = 0; k < S; ++k) z0[k] = z[2 * k], z1[k] = z[2 * k + 1];
  for (long long i = first; i != last; i += step) {
    T v = x.Load(i);
    for (int k = 0; k < S; ++k) {
      const T out = q[k].b0 * v + z0[k];
      z0[k] = q[k].b1 * v - q[k].a1 * out + z1[k];
      z1[k] = q[k].b2 * v - q[k].a2 * out;
      v = out;
    }
    x.Store(i, v);
  }
  for (int k = 0; k < S; ++k) z[2 * k] = z0[k], z[2 * k + 1] = z1[k];
}

template <int L>
void RunCascade(const std::vector<Biquad>& q,
                typename Lanes<L>::T* z,
                Lanes<L> x,
                long long first,
                long long last,
                int step) {
  static_assert(kMaxFilterOrder == 8, "one case per section count");
  switch (q.size()) {
    case 1:
      return Cascade<1, L>(q.data(), z, x, first, last, step);
    case 2:
      return Cascade<2, L>(q.data(), z, x, first, last, step);
    case 3:
      return Cascade<3, L>(q.data(), z, x, first, last, step);
    case 4:
      return Cascade<4, L>(q.data(), z, x, first, last, step);
    case 5:
      return Cascade<5, L>(q.data(), z, x, first, last, step);
    case 6:
      return Cascade<6, L>(q.data(), z, x, first, last, step);
    case 7:
      return Cascade<7, L>(q.data(), z, x, first, last, step);
    case 8:
      return Cascade<8, L>(q.data(), z, x, first, last, step);
  }
}

// Filtering steps 2-4 on L signals of n > E samples.
template <int L>
void ZeroPhase(const std::vector<Biquad>& q,
               const std::vector<double>& zi,
               long long E,
               Lanes<L> x,
               long long n) {
  using T = typename Lanes<L>::T;
  std::vector<double> buffer(2 * L * E);
  Lanes<L> left, right;
  for (int l = 0; l < L; ++l) {
    left.p[l] = buffer.data() + 2 * l * E;
    right.p[l] = left.p[l] + E;
    const double* s = x.p[l];
    for (long long i = 0; i < E; ++i) {
      left.p[l][i] = 2 * s[0] - s[E - i];
      right.p[l][i] = 2 * s[n - 1] - s[n - 2 - i];
    }
  }
  T z[2 * kMaxFilterOrder];
  const T first = left.Load(0);
  for (size_t k = 0; k < zi.size(); ++k) z[k] = zi[k] * first;
  RunCascade<L>(q, z, left, 0, E, 1);
  RunCascade<L>(q, z, x, 0, n, 1);
  RunCascade<L>(q, z, right, 0, E, 1);
  const T last = right.Load(E - 1);
  for (size_t k = 0; k < zi.size(); ++k) z[k] = zi[k] * last;
  RunCascade<L>(q, z, right, E - 1, -1, -1);
  RunCascade<L>(q, z, x, n - 1, -1, -1);
}

// Forward only from the steady state times x's first sample (n >= 1).
template <int L>
void Causal(const std::vector<Biquad>& q,
            const std::vector<double>& zi,
            Lanes<L> x,
            long long n) {
  using T = typename Lanes<L>::T;
  T z[2 * kMaxFilterOrder];
  const T first = x.Load(0);
  for (size_t k = 0; k < zi.size(); ++k) z[k] = zi[k] * first;
  RunCascade<L>(q, z, x, 0, n, 1);
}

void CheckLength(long long n, long long E) {
  if (n <= E)
    throw std::invalid_argument(
        "the band-pass filter needs more than " + std::to_string(E) +
        " samples (its padding), and the signal has " + std::to_string(n));
}

}  // namespace

BandPass::BandPass(int order, double low, double high, double fs) {
  if (order < kMinFilterOrder || order > kMaxFilterOrder)
    throw std::invalid_argument("the filter order must be " +
                                std::to_string(kMinFilterOrder) + " to " +
                                std::to_string(kMaxFilterOrder));
  const double W1 = 2 * low / fs, W2 = 2 * high / fs;
  if (!(W1 > 0 && W1 < W2 && W2 < 1))
    throw std::invalid_argument(
        "the band must have 0 < low < high < half the sampling rate");
  const double w1 = 4 * std::tan(kPi * W1 / 2), w2 = 4 * std::tan(kPi * W2 / 2);
  double gain = 0;
  std::vector<Complex> poles =
      AnalogPoles(order, w2 - w1, std::sqrt(w1 * w2), gain);
  Complex denominator = 1.0;
  for (Complex& s : poles) {
    denominator *= 4.0 - s;
    s = Divide(4.0 + s, 4.0 - s);
  }
  gain *= Divide(std::pow(4.0, order), denominator).real();
  std::vector<double> zeros(order, -1.0);
  zeros.insert(zeros.end(), order, 1.0);
  sections_ = PairSections(order, HalfPlanePoles(poles), zeros, gain);
  zi_ = SteadyStates(sections_);
  padLength_ = 3 * (2 * static_cast<long long>(sections_.size()) + 1);
}

void BandPass::Apply(double* x, long long n) const {
  CheckLength(n, padLength_);
  ZeroPhase<1>(sections_, zi_, padLength_, Lanes<1>{{x}}, n);
}

void BandPass::Apply(double* x, double* y, long long n) const {
  CheckLength(n, padLength_);
  ZeroPhase<2>(sections_, zi_, padLength_, Lanes<2>{{x, y}}, n);
}

void BandPass::ApplyCausal(double* x, long long n) const {
  if (n > 0) Causal<1>(sections_, zi_, Lanes<1>{{x}}, n);
}

void BandPass::ApplyCausal(double* x, double* y, long long n) const {
  if (n > 0) Causal<2>(sections_, zi_, Lanes<2>{{x, y}}, n);
}

void BandPass::Start(double x0, double* state) const {
  for (size_t k = 0; k < zi_.size(); ++k) state[k] = zi_[k] * x0;
}

void BandPass::Forward(double* x, long long n, double* state) const {
  if (n > 0) RunCascade<1>(sections_, state, Lanes<1>{{x}}, 0, n, 1);
}

}  // namespace Korva::Epoching
