#include "korva/betai.h"

#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <limits>

namespace {

// Errors become return values instead of exceptions: p-values of degenerate
// fits flow on as NaN and the caller's comparisons treat them as "no".
using QuietPolicy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<
        boost::math::policies::ignore_error>>;

}  // namespace

double betai(double a, double b, double x) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (!(a > 0.0) || !(b > 0.0) || !(x >= 0.0) || !(x <= 1.0)) return kNaN;
  if (std::isinf(a) || std::isinf(b)) return kNaN;
  if (x == 0.0) return 0.0;
  if (x == 1.0) return 1.0;
  try {
    return boost::math::ibeta(a, b, x, QuietPolicy());
  } catch (...) {
    return kNaN;
  }
}
