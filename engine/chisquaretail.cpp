#include "engine/chisquaretail.h"

#include <boost/math/special_functions/gamma.hpp>

#include <cmath>
#include <limits>

namespace orvalle {

double chisquaretail(double chisq, int nu) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (nu <= 0 || std::isnan(chisq))
    return nan;
  if (chisq <= 0.0)
    return 1.0;
  if (std::isinf(chisq))
    return 0.0;
  // Q(nu/2, chisq/2), the regularised upper incomplete gamma function.
  // Boost's evaluation keeps its accuracy for large nu near the mean, where
  // simpler series lose digits; a tail below the smallest double is 0.
  try {
    return boost::math::gamma_q(0.5 * nu, 0.5 * chisq);
  } catch (const std::exception &) {
    return nan;
  }
}

} // namespace orvalle
