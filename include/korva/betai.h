#ifndef KORVA_BETAI_H_
#define KORVA_BETAI_H_

#include <cmath>
#include <limits>
#include <optional>

#include "korva/export.h"

// The regularized incomplete beta function I_x(a, b), for a > 0, b > 0 and
// 0 <= x <= 1, with I_0 = 0 and I_1 = 1. Returns NaN (never throws) when an
// argument is NaN or outside that domain.
KORVA_HOST_API double betai(double a, double b, double x);

namespace Korva {

// The value of I_x(a, b) that needs no evaluation: NaN when an argument is
// NaN or outside the domain (a and b finite and above 0, 0 <= x <= 1), 0 at
// x = 0, 1 at x = 1; nothing inside, where the caller evaluates it. The one
// domain guard of betai and of any other evaluation of the function.
inline std::optional<double> BetaiGuard(double a, double b, double x) {
  if (!(a > 0.0) || !(b > 0.0) || !(x >= 0.0) || !(x <= 1.0) ||
      std::isinf(a) || std::isinf(b))
    return std::numeric_limits<double>::quiet_NaN();
  if (x == 0.0) return 0.0;
  if (x == 1.0) return 1.0;
  return std::nullopt;
}

}  // namespace Korva

#endif  // KORVA_BETAI_H_
