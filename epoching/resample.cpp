#include "epoching/resample.h"

#include <cmath>
#include <numeric>
#include <stdexcept>

#include "data/dataset.h"
#include "epoching/recipe.h"
#include "text/number_text.h"

namespace Korva::Epoching {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKaiserBeta = 5;
// Rates whose ratio is within this of a fraction are taken as that
// fraction, as CheckRecording takes them as equal.
constexpr double kRateTolerance = 1e-6;

// I₀(x) = Σₖ ((x / 2)ᵏ / k!)², summed until a term no longer changes the sum
// (for x ≤ 5, within 30 terms).
double BesselI0(double x) {
  double term = 1, sum = 1;
  for (int k = 1; k < 500 && term > sum * 1e-17; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

double Sinc(double t) {
  return t == 0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
}

// ⌊a / b⌋ for b > 0, also for negative a.
long long FloorDivide(long long a, long long b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// A recording read at another rate through a Resampler.
class ResampledRecording : public Korva::Recording::Recording {
 public:
  ResampledRecording(Korva::Recording::Recording& inner,
                     double hz,
                     long long up,
                     long long down)
      : inner_(inner), hz_(hz), resampler_(up, down) {
    for (Korva::Recording::Event event : inner.Events()) {
      event.sample = resampler_.MovedSample(event.sample);
      events_.push_back(std::move(event));
    }
    for (Korva::Recording::Break b : inner.Breaks()) {
      b.sample = resampler_.MovedSample(b.sample);
      breaks_.push_back(std::move(b));
    }
    notes_ = inner.Notes();
    notes_.push_back("resampled from " + Text::FormatDouble(inner.SamplingRate()) +
                     " Hz to " + Text::FormatDouble(hz) + " Hz (up " +
                     std::to_string(up) + ", down " + std::to_string(down) +
                     ")");
  }

  const std::string& Path() const override { return inner_.Path(); }
  std::string Format() const override { return inner_.Format(); }
  double SamplingRate() const override { return hz_; }
  long long Samples() const override {
    return resampler_.OutputLength(inner_.Samples());
  }
  const std::vector<Korva::Recording::Channel>& Channels() const override {
    return inner_.Channels();
  }
  const std::vector<Korva::Recording::Event>& Events() const override {
    return events_;
  }
  const std::vector<std::string>& Notes() const override { return notes_; }
  // The breaks at the new rate; the resampler's filter, unlike the
  // band-pass, still runs across them.
  const std::vector<Korva::Recording::Break>& Breaks() const override {
    return breaks_;
  }
  void ReadChannel(int c, std::vector<double>& out) override {
    inner_.ReadChannel(c, samples_);
    resampler_.Apply(samples_.data(), inner_.Samples(), out);
  }

 private:
  Korva::Recording::Recording& inner_;
  double hz_;
  Resampler resampler_;
  std::vector<Korva::Recording::Event> events_;
  std::vector<Korva::Recording::Break> breaks_;
  std::vector<std::string> notes_;
  std::vector<double> samples_;  // the channel at the recording's rate
};

}  // namespace

Resampler::Resampler(long long up, long long down) {
  if (up < 1 || down < 1 || up > kMaxResampleFactor ||
      down > kMaxResampleFactor)
    throw std::invalid_argument(
        "resampling factors must be 1 to " +
        std::to_string(kMaxResampleFactor) + ", not " + std::to_string(up) +
        " and " + std::to_string(down));
  const long long g = std::gcd(up, down);
  up_ = up / g;
  down_ = down / g;
  const long long R = std::max(up_, down_);
  half_ = 10 * R;
  const double c = 1.0 / R;
  h_.resize(2 * half_ + 1);
  // Steps 1 and 2: the windowed ideal low-pass.
  double sum = 0;
  for (long long j = -half_; j <= half_; ++j) {
    const double r = double(j) / double(half_);
    const double w = BesselI0(kKaiserBeta * std::sqrt(1 - r * r)) /
                     BesselI0(kKaiserBeta);
    h_[j + half_] = c * Sinc(c * j) * w;
    sum += h_[j + half_];
  }
  // Step 3.
  for (double& tap : h_) tap = tap / sum * up_;
}

long long Resampler::OutputLength(long long n) const {
  return (n * up_ + down_ - 1) / down_;
}

void Resampler::Apply(const double* x, long long n, std::vector<double>& y) const {
  const long long m = OutputLength(n);
  y.assign(static_cast<size_t>(m), 0.0);
  for (long long k = 0; k < m; ++k) {
    const long long t = k * down_;
    const long long first =
        std::max(0LL, -FloorDivide(half_ - t, up_));  // ⌈(t - L) / up⌉
    const long long last = std::min(n - 1, FloorDivide(t + half_, up_));
    double s = 0;
    for (long long i = first; i <= last; ++i)
      s += x[i] * h_[half_ + t - i * up_];
    y[k] = s;
  }
}

long long Resampler::MovedSample(long long t) const {
  const long long scaled = t * up_;
  long long q = FloorDivide(scaled, down_);
  const long long twice = 2 * (scaled - q * down_);
  if (twice > down_ || (twice == down_ && q % 2 != 0)) ++q;
  return q;
}

bool ResampleFactors(double from, double to, long long& up, long long& down) {
  if (!(from > 0 && to > 0 && std::isfinite(from) && std::isfinite(to)))
    return false;
  // The convergents p / q of the continued fraction of to / from, the best
  // fractions with such small terms, until one is close enough.
  const double ratio = to / from;
  long long p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  double rest = ratio;
  for (int step = 0; step < 64; ++step) {
    const double whole = std::floor(rest);
    if (whole > kMaxResampleFactor) return false;
    const long long a = static_cast<long long>(whole);
    const long long p = a * p1 + p0, q = a * q1 + q0;
    if (p > kMaxResampleFactor || q > kMaxResampleFactor) return false;
    if (std::abs(double(p) / double(q) - ratio) <= kRateTolerance * ratio) {
      up = p;
      down = q;
      return true;
    }
    p0 = p1, q0 = q1, p1 = p, q1 = q;
    if (rest - whole == 0) return false;
    rest = 1 / (rest - whole);
  }
  return false;
}

std::unique_ptr<Recording::Recording> Resampled(
    Recording::Recording& recording, double hz) {
  long long up = 1, down = 1;
  if (!ResampleFactors(recording.SamplingRate(), hz, up, down))
    throw Data::DataError(
        recording.Path() + ": sampled at " +
        Text::FormatDouble(recording.SamplingRate()) +
        " Hz, which cannot be resampled to " + Text::FormatDouble(hz) +
        " Hz: the ratio of the rates is no fraction of whole numbers up to " +
        std::to_string(kMaxResampleFactor));
  return std::make_unique<ResampledRecording>(recording, hz, up, down);
}

}  // namespace Korva::Epoching
