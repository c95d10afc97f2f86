#ifndef KORVA_EPOCHING_RESAMPLE_H_
#define KORVA_EPOCHING_RESAMPLE_H_

// A polyphase resampler from fs to fs · up / down Hz, designed and applied
// with the arithmetic of the customary scientific Python pipeline
// (resample_poly(x, up, down) with its default Kaiser window, beta 5, and its
// default padding with zeros), so that recordings resampled here and there
// agree to rounding.
//
// Notation:
//   up, down  the factors, without a common divisor; R = max(up, down)
//   L         the half length of the filter, 10 R; it has 2L + 1 taps
//   n, m      input samples x₀ .. xₙ₋₁; output samples y₀ .. yₘ₋₁,
//             m = ceil(n · up / down)
//
// Design (resample.cpp follows these steps):
//   1. The ideal low-pass at the lower of the two Nyquist rates, cutoff
//      c = 1 / R of the input's upsampled Nyquist rate, over the taps
//      j = -L .. L: h_j = c · sinc(c j), sinc(t) = sin(πt) / (πt).
//   2. Times the Kaiser window w_j = I₀(β √(1 - (j / L)²)) / I₀(β), β = 5.
//   3. Scaled to a DC gain of one (h / Σh), then by up, which the zeros put
//      between the input samples take away again.
//
// Resampling (Apply): the input upsampled by up (up - 1 zeros after each
// sample), filtered by h and every down-th sample kept, centred, with zeros
// outside the input:
//   yₖ = Σᵢ xᵢ h_(k·down - i·up),  over i with |k·down - i·up| ≤ L,
// so output sample k lies at input time k · down / up.
//
// Events move to the nearest output sample: t becomes t · up / down rounded
// to the nearest whole number, a tie to the even one (MovedSample).

#include <memory>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace Korva::Epoching {

class Resampler {
 public:
  // Designs the filter for `up` and `down` (1 .. kMaxResampleFactor of
  // recipe.h, divided by their greatest common divisor). Throws
  // std::invalid_argument outside those limits.
  Resampler(long long up, long long down);

  long long Up() const { return up_; }
  long long Down() const { return down_; }
  const std::vector<double>& Taps() const { return h_; }  // 2L + 1

  // m, the output samples of n input samples.
  long long OutputLength(long long n) const;

  // y[0 .. OutputLength(n)) from x[0 .. n); y is resized.
  void Apply(const double* x, long long n, std::vector<double>& y) const;

  // Input sample `t` at the output rate: round(t · up / down), a tie to the
  // even sample.
  long long MovedSample(long long t) const;

 private:
  long long up_ = 1, down_ = 1, half_ = 0;
  std::vector<double> h_;
};

// up / down with up / down = `to` / `from` within a relative 1e-6 (the
// tolerance of CheckRecording's rates), both at most kMaxResampleFactor and
// in lowest terms; false when no such fraction exists.
bool ResampleFactors(double from, double to, long long& up, long long& down);

// `recording` as seen at `hz`: its channels resampled when they are read,
// its events moved to the new samples, a note saying so. Throws
// Data::DataError naming the file when its rate is not a fraction
// (ResampleFactors) of `hz`. `recording` must outlive the result.
std::unique_ptr<Recording::Recording> Resampled(
    Recording::Recording& recording, double hz);

}  // namespace Korva::Epoching

#endif  // KORVA_EPOCHING_RESAMPLE_H_
