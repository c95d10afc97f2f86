#ifndef KORVA_DATA_RANDOM_H_
#define KORVA_DATA_RANDOM_H_

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace Korva::Data {

// Uniform, normal and bounded integer numbers from one std::mt19937_64
// stream (whose output the C++ standard fixes), by transforms of our own:
// the standard distributions give different numbers in different standard
// libraries, and generated data and folds must not.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  // Uniform in [0, 1) with 53 random bits.
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

  // Standard normal by the polar method: for (u, v) uniform in the unit disc,
  // s = u^2 + v^2, both u * f and v * f with f = sqrt(-2 ln s / s) are normal.
  double Normal() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    double u, v, s;
    do {
      u = 2.0 * Uniform() - 1.0;
      v = 2.0 * Uniform() - 1.0;
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * f;
    hasSpare_ = true;
    return u * f;
  }

  // Uniform integer in [0, n), n > 0, without modulo bias.
  std::uint64_t Below(std::uint64_t n) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t limit = kMax - kMax % n;
    std::uint64_t x;
    do {
      x = engine_();
    } while (x >= limit);
    return x % n;
  }

 private:
  std::mt19937_64 engine_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

}  // namespace Korva::Data

#endif  // KORVA_DATA_RANDOM_H_
