#include "korva/betai.h"

#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <limits>
#include <optional>

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
  if (const std::optional<double> value = Korva::BetaiGuard(a, b, x))
    return *value;
  try {
    return boost::math::ibeta(a, b, x, QuietPolicy());
  } catch (...) {
    return std::numeric_limits<double>::quiet_NaN();
  }
}
