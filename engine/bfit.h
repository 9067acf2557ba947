// The base of every fit of one dataset, with what all fits share: the
// chi-square, the degrees of freedom, the chi-square limits, the verdict
// with its warning texts, the shown form of a fitted number, and the
// iterative solver of the nonlinear models.
//
// A fit is made with its order, receives its starting estimates in par[0]
// to par[4], its name and its dataset (`data`), and is fitted once by
// fitplot(). Afterwards it is read-only. It owns its two chart series and
// never releases the dataset.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/chartseries.h"
#include "engine/dataset.h"
#include "engine/numeric.h"

namespace orvalle {

// The lines of a fit's description.
using stringlist = std::vector<std::string>;

// The 5 %, 20 %, 80 % and 95 % points of the chi-square distribution.
using chilimitset = std::array<float, 4>;

// The decimal separator of shown numbers (fit descriptions). The program
// sets it once from the user's locale; files always use '.'.
void setdecimalseparator(char c);
char decimalseparator();

// The start of every formula: "y", the index, "(x) = ".
std::string formulahead(int index);

// "good", "suspicious" or "bad" for verdicts 0, 1, 2; empty for the others.
const char *verdictwordof(int verdict);

// The warning line of a verdict (-2 to 2); empty for verdict 0.
const std::string &verdictwarning(int verdict);

// A parameter value and its uncertainty rounded for display (see bfit.cpp),
// as texts in the general format with 8 digits. digits is 2 for every fit
// except the line through the origin, which uses 3.
std::pair<std::string, std::string> shownpair(double v, double e, int digits);

class bfit;

// A fit whose parameters, uncertainties or chi-square are not finite, or
// whose uncertainties are negative, has failed: this logs the reason and
// raises engine_error(kFailedFit) with it. fitplot and the multi fits
// call it before they make any series. The fit keeps the chi-square it
// checked (see keepchisq), so that what shows the fit afterwards does not
// pass over the points again.
void requirefinite(const bfit &fit);

class bfit {
public:
  bfit();
  bfit(const bfit &) = delete;
  bfit &operator=(const bfit &) = delete;
  virtual ~bfit();

  // The model at x with the current parameters.
  virtual double value(double x) const = 0;
  // df/dx at x with the current parameters, for the effective variance of
  // a fit with x errors. This one is a central difference over a millionth
  // of span (the data's width, or |x| when larger); models that know their
  // derivative give it exactly.
  virtual double slope(double x, double span) const;
  // value(x[i]) for i from 0 to n - 1 into out: the same numbers, which a
  // fit may compute without a call per point.
  virtual void values(const double *x, double *out, int n) const;
  // Fits the model to `data`, whose weights already exist; sets par and
  // err. gauss selects Gaussian elimination over Cramer's rule where the
  // fit solves a linear system. Raises engine_error on failure, leaving
  // par as it was.
  virtual void fit(bool gauss) = 0;
  // Appends the description (caption, verdict warning, parameter lines),
  // first emptying lines when clear is true.
  virtual void describe(stringlist &lines, bool clear) const = 0;
  // The model as a gnuplot definition "y<index>(x) = ...".
  virtual std::string formula(int index) const = 0;

  // Makes the dataset's weights, fits, checks the result (requirefinite),
  // then makes the curve and deviation series. An exception from the
  // first three steps leaves the fit without series. points is accepted for
  // the caller's sake and not used.
  void fitplot(chartcanvas &mainchart, chartcanvas &devchart, int points, bool gauss);
  // The fit with the dataset's x errors, which fitplot calls instead of
  // fit() when the dataset has them (the weights already exist): the
  // effective-variance rounds here; straight lines take York's solution.
  // Sets xweights and xerrmethod.
  virtual void fitxerrors(bool gauss);
  // Makes `curve` on the main chart in the dataset's colour and `devpoints`
  // (black, no title) on the deviations chart. Their points are the
  // plotter's to fill.
  void makeseries(chartcanvas &mainchart, chartcanvas &devchart);

  // Sum of w (y - value(x))^2 over the dataset's points.
  double chisq() const;
  // Number of weights minus order minus 1.
  int dof() const;
  // The chi-square limits for nu degrees of freedom; for nu <= 0 there are
  // none and all four are NaN.
  static chilimitset chilimits(int nu);
  // Whether the fit has a verdict at all: only with dof() > 0.
  bool hasverdict() const;
  // -2 (suspiciously small), -1, 0 (good), 1, 2 (suspiciously large);
  // 0 when hasverdict() is false.
  int verdict() const;
  // The verdict for a chi-square c of this fit already computed, so that a
  // caller that also shows c passes over the points once: verdict() is
  // verdictfor(chisq()).
  int verdictfor(double c) const;
  // "good", "suspicious", "bad", or empty for -1, -2 and no verdict.
  std::string verdictword() const;

  // Room for the most parameters any fit has: a polynomial of degree 10.
  static constexpr int kMaxParams = 11;

  std::string name;
  std::uint16_t order = 2;
  double par[kMaxParams] = {};
  double err[kMaxParams] = {};
  // The covariance of par[0..order] in par's order, from the y errors as
  // err is made (err[i] is the square root of cov(i, i)); set by fit().
  // 0 x 0 where the fit does not know it (the plug-in's own model).
  matr cov;
  dataset *data = nullptr;
  std::unique_ptr<chartseries> curve;
  std::unique_ptr<chartseries> devpoints;

  // After a fit with x errors: the weights it ended with, 1 / sigma_eff^2
  // per point, which chisq() uses, and how the x errors were included
  // ("York" or "effective variance"). Null and empty for other fits.
  std::unique_ptr<drow> xweights;
  std::string xerrmethod;
  // What this line of a multi fit shares with the other lines (for example
  // "The gradient a is shared with Dataset b"); the description carries it
  // after its caption. Empty for every other fit.
  std::string sharing;

private:
  mutable double keptchisq_ = 0.0;
  mutable bool haskept_ = false;
  mutable double keptpar_[kMaxParams] = {};
  mutable const dataset *keptdata_ = nullptr;
  mutable const drow *keptweights_ = nullptr;
  mutable const drow *keptx_ = nullptr;
  mutable const drow *kepty_ = nullptr;
  bool keptvalid() const;
  friend void requirefinite(const bfit &fit);

public:
  // The error the fit gave point i: sigma_eff for a fit with x errors,
  // otherwise the y error (0 where there is none).
  double effectiveerror(int i) const;

protected:
  // A chi-square the fit computed itself, more exactly than the shown
  // parameters can reproduce it (far from x = 0 their rounding moves the
  // curve by more than the deviations). chisq() returns it for as long as
  // par, the dataset and xweights are those it was computed for.
  void keepchisq(double c) const;
  // The chi-square c summed over value(), as chisq() returns it; a fit that
  // knows c may have lost its digits computes the right one instead.
  virtual double correctedchisq(double c) const { return c; }
  // The common description: caption, the verdict's warning, then one line
  // "<label> = v +/- e" per label for parameters 0, 1, ...
  void describeform(stringlist &lines, bool clear, const std::string &caption,
                    const std::vector<std::string> &labels, int digits) const;

  // The gradient of half the chi-square at p (length np = order + 1).
  using gradientfn = std::function<vec(const vec &p)>;
  // The vector w df/dp_k of one point at p, written to g[0..np-1].
  using pointfn = std::function<void(const vec &p, double x, double y, double w, double *g)>;
  // Newton's iteration on the gradient of the chi-square from par[0..np-1]:
  // sets par and err, or logs "Fit failed to converge try improving
  // estimates" and raises engine_error(kFailedFit).
  void iterate(const gradientfn &F, const pointfn &G);
  // One Newton system: Fp = F(p) and its forward-difference Jacobian J
  // (jacobian() in numeric.h).
  // Models may override it to evaluate the same differences faster.
  virtual void newtonsystem(const gradientfn &F, const vec &p, vec &Fp, matr &J);
  // The covariance after convergence: every point's error is carried
  // through J, C = sum of (J^-1 G)(J^-1 G)^T sigma^2; its diagonal holds
  // the squared uncertainties.
  matr iterationcovariance(const pointfn &G, const matr &J, const vec &p) const;

public:
  // The effective-variance rounds: sigma_eff^2 = sigma_y^2 + (f'(x)
  // sigma_x)^2 at the current parameters, fitted by fit() until the
  // parameters settle. A point whose y error is 0 stays out of the fit.
  void effectivevariance(bool gauss);

public:
  // Bound on the effective-variance rounds; a run that reaches it fails.
  static constexpr int kMaxEffectiveRounds = 100;
  // Safety bound on the Newton iterations; a run that reaches it fails.
  static constexpr int kMaxIterations = 200;
  // Iterations the last run of iterate() took (for tests and diagnostics).
  int iterations = 0;
};

} // namespace orvalle
