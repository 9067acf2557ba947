// Results ready for a lab report: every parameter rounded by the usual rule
// (the uncertainty to two significant digits, the value to the same decimal
// place), with a shared power of ten where the numbers are large or small,
// as plain text, a Markdown table and LaTeX (siunitx); and the confidence
// band of a fitted curve from the fit's covariance.
//
// These add to the fit descriptions, which keep their own number format.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bfit.h"

namespace orvalle {

// A value and its uncertainty rounded for a report. The texts use '.' and a
// plain minus sign; exponent is the shared power of ten (0: none).
struct roundedpair {
  std::string value;       // "4.695", "1.2345" (in units of 10^exponent)
  std::string uncertainty; // "0.023", "0.0023"
  std::string digits;      // the uncertainty in units of the value's last place: "23"
  int exponent = 0;
  bool exact = false; // the uncertainty is zero: the value is shown to 6 digits

  // "4.695 ± 0.023", "(1.2345 ± 0.0023)×10^-5"
  std::string plusminus() const;
  // "4.695(23)", "1.2345(23)×10^-5"
  std::string concise() const;
  // "\num{4.695(23)}", "\num{1.2345(23)e-5}" (siunitx)
  std::string siunitx() const;
};

// Rounds value and sigma by the usual rule. A shared power of ten is used
// when the larger of |value| and sigma is at least 10^4 or below 10^-3, or
// when the uncertainty's second digit stands left of the decimal point (an
// uncertainty of 100 or more). Zero uncertainty keeps six significant
// digits of the value; a number that is not finite is written as "nan" or
// "inf".
roundedpair roundtouncertainty(double value, double sigma);

// The parameter names of a fit, as its description labels them: m; a, b, c
// ... for polynomials; the formula's own names; A, B, ... for the others.
std::vector<std::string> parameternames(const bfit &fit);

// The fit's results for a report. scale multiplies the uncertainties (1:
// as the fit gives them).
enum class reportformat { text, markdown, latex };
std::string resultstext(const bfit &fit, reportformat format);

// The covariance and correlation matrices, the reduced chi-square and the
// p-value of a fit, as lines of text (for the details view and Copy
// Results). Empty matrices where the fit has no covariance.
stringlist fitdetails(const bfit &fit);
// The correlation matrix of a covariance: cov(r, c) / sqrt(cov(r, r)
// cov(c, c)), NaN where a variance is not above zero.
matr correlationof(const matr &cov);

// The standard deviation of the fitted curve at x, sqrt(g^T C g) with g the
// model's gradient in its parameters and C the fit's covariance; NaN where
// the fit has no covariance (the plug-in's own model).
double curvesigma(const bfit &fit, double x);

// The multiple of curvesigma that a band of the given level spans on each
// side: 1 for one standard deviation (68.3 %), 1.959964 for 95 %.
enum class bandlevel { none = 0, onesigma = 1, ninetyfive = 2 };
double bandfactor(bandlevel level);
// "none", "1 sigma (68.3 %)", "95 %"
std::string bandleveltext(bandlevel level);

// x, the fitted value, lower and upper limits at `count` points from low to
// high (equal steps; equal ratios when logx), one row each.
struct bandpoint {
  double x, y, lower, upper;
};
std::vector<bandpoint> confidenceband(const bfit &fit, bandlevel level, double low, double high,
                                      int count, bool logx = false);

// The residual table of a fit: x, y, error (the effective error with x
// errors), fitted value, residual y - f(x), residual / error; one line a
// point, tab-separated, numbers in the shortest form that reads back, with
// a header line "# x\ty\terror\tfitted\tdeviation\tnormalised_deviation".
std::string residualtable(const bfit &fit);
// The same table's point lines without the header, handed to out in
// chunks of about 64 KiB, so that a million points need no more memory
// than a few thousand. head goes first, in the first chunk.
void residualrows(const bfit &fit, std::string head,
                  const std::function<void(std::string_view)> &out);

} // namespace orvalle
