// The upper tail of the chi-square distribution: the probability that a
// chi-square with nu degrees of freedom comes out at least as large as the
// one a fit found (the fit's p-value).
#pragma once

namespace orvalle {

// P(chi^2_nu >= chisq): 1 for chisq <= 0, 0 where the true value is below
// the smallest double. NaN for nu <= 0 and for a chisq that is NaN.
double chisquaretail(double chisq, int nu);

} // namespace orvalle
