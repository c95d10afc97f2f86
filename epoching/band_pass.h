#ifndef KORVA_EPOCHING_BAND_PASS_H_
#define KORVA_EPOCHING_BAND_PASS_H_

// A zero-phase Butterworth band-pass filter for continuous EEG, designed and
// applied with the arithmetic of the customary scientific Python pipeline
// (butter(N, [low, high], btype="bandpass", fs=fs, output="sos") followed by
// sosfiltfilt with its default odd padding), so that features made here and
// features made there agree to rounding.
//
// Notation:
//   N      order of the analog low-pass prototype; the band-pass has 2N poles
//          and is realised as N second-order sections (biquads)
//   fs     sampling rate in Hz; f1 < f2 the band edges in Hz
//   E      the padding: samples of odd extension added at each end
//
// Design (band_pass.cpp follows these steps):
//   1. Prototype poles pₖ = -exp(iπm / 2N), m = -N+1, -N+3, ..., N-1; gain 1.
//   2. Pre-warp the edges for the bilinear transform at a normalised rate of
//      2: ωⱼ = 4 tan(π fⱼ / fs); bandwidth B = ω₂ - ω₁, centre ω₀ = √(ω₁ω₂).
//   3. Low-pass to band-pass: each pole p becomes p' ± √(p'² - ω₀²) with
//      p' = p B / 2; N zeros at 0; gain Bᴺ.
//   4. Bilinear transform: a pole s becomes (4 + s) / (4 - s); the N zeros
//      at 0 become +1 and the N zeros at infinity -1; the gain is multiplied
//      by Re(4ᴺ / Π(4 - s)).
//   5. Pair poles and zeros into sections, worst first: repeatedly take the
//      remaining pole nearest the unit circle (with its conjugate, or the
//      real pole nearest the circle after it) and the two remaining zeros
//      nearest it; sections are filled from the last to the first, so the
//      poles nearest the circle act last. The gain goes into the numerator
//      of the first section.
//   6. Each section's state after a long unit step, the solution z of
//      [1 + a₁, -1; a₂, 1] z = (b₁ - a₁b₀, b₂ - a₂b₀), scaled by the DC gain
//      (b₀ + b₁ + b₂) / (1 + a₁ + a₂) of the sections before it.
//
// Filtering x₀ .. xₙ₋₁ (Apply):
//   1. E = 3 (2N + 1); refuse n ≤ E.
//   2. Extend x by E samples at each end, oddly about its end samples:
//      2x₀ - x_E .. 2x₀ - x₁ before it, 2xₙ₋₁ - xₙ₋₂ .. 2xₙ₋₁ - xₙ₋₁₋E after.
//   3. Run the cascade forward over the extended signal (transposed direct
//      form II), each section starting from its steady state times the first
//      extended sample.
//   4. Run it backward over that output, starting from the steady state times
//      the last output, and keep the middle n samples.
//
// Filtering forward only (ApplyCausal, Start and Forward): the cascade runs
// once over x₀ .. xₙ₋₁, each section starting from its steady state times
// x₀, as sosfilt(sos, x, zi=sosfilt_zi(sos) * x[0]) does. Each output then
// depends only on the samples before it, so a signal may be filtered piece
// by piece as it arrives (Forward carries the state from piece to piece),
// with the same result as filtering it whole.
//
// Memory: the signal is filtered in place; only the 2E samples of the
// extensions are held beside it.

#include <vector>

namespace Korva::Epoching {

// One second-order section: (b0 + b1 z⁻¹ + b2 z⁻²) / (1 + a1 z⁻¹ + a2 z⁻²).
struct Biquad {
  double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

class BandPass {
 public:
  // Designs the filter of `order` (kMinFilterOrder .. kMaxFilterOrder of
  // recipe.h) passing `low` to `high` Hz at `fs` Hz. Throws
  // std::invalid_argument unless 0 < low < high < fs / 2.
  BandPass(int order, double low, double high, double fs);

  const std::vector<Biquad>& Sections() const { return sections_; }
  // E: Apply needs more samples than this.
  long long PadLength() const { return padLength_; }

  // Filters x[0 .. n) forward and backward in place. Throws
  // std::invalid_argument when n <= PadLength().
  void Apply(double* x, long long n) const;

  // Apply to two signals of the same length at once (faster than two calls).
  void Apply(double* x, double* y, long long n) const;

  // Filters x[0 .. n) forward only in place, from Start(x[0]); n >= 1.
  void ApplyCausal(double* x, long long n) const;
  void ApplyCausal(double* x, double* y, long long n) const;

  // The numbers of the cascade's state: two per section.
  int StateSize() const { return static_cast<int>(zi_.size()); }
  // Into state[0 .. StateSize()): the state of a signal whose first sample
  // is x0, the steady state of a step of height x0.
  void Start(double x0, double* state) const;
  // Runs the cascade forward over x[0 .. n) in place from `state`, which is
  // left as the state after x[n - 1].
  void Forward(double* x, long long n, double* state) const;

 private:
  std::vector<Biquad> sections_;
  std::vector<double> zi_;  // two per section: steady state of a unit step
  long long padLength_ = 0;
};

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_BAND_PASS_H_
