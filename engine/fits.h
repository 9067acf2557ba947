// The built-in fit models: the straight line through the origin and the
// polynomials (solved in one step), the power law and the resonance curve
// (reduced to polynomial fits), and the cosine and damped cosine (solved by
// the Newton iteration of bfit).
#pragma once

#include "engine/bfit.h"

namespace orvalle {

// y = m x.
class lineronlym : public bfit {
public:
  lineronlym();
  double value(double x) const override;
  void fit(bool gauss) override;
  // York's line through the origin.
  void fitxerrors(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;
};

// y = par[0] x^N + par[1] x^(N-1) + ... + par[N], degree N from 1 to 10.
class polynom : public bfit {
public:
  static constexpr int kMaxDegree = 10;
  // Raises engine_error(kFailedFit) for a degree outside 1 to 10.
  explicit polynom(int degree);
  double value(double x) const override;
  void values(const double *x, double *out, int n) const override;
  void fit(bool gauss) override;
  // York's straight line for degree 1, effective variance otherwise.
  void fitxerrors(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;

  int degree() const { return order; }

  // The form the fit was solved in: the same polynomial written in powers
  // of x - centre(), coefficients highest power first. value() and with
  // it the chi-square, the curve and the deviations use this form, since
  // far from x = 0 the terms of par cancel. Without a fit (the lines of a
  // multi fit are given their par) centre() is 0 and the form is par.
  bool centred() const { return centred_; }
  double centre() const { return centre_; }
  const double *centredpar() const { return cpar_; }
  // The covariance of the centred coefficients.
  matr centredcov;
  // For a straight line whose par the caller set (a line of a multi fit):
  // the same line about `centre`, where its value is `atcentre`, and its
  // chi-square as the caller computed it from the exact solution.
  void setlinecentre(double centre, double atcentre, double chisq);
  // Back to par alone, as before any fit.
  void dropcentre();

protected:
  double correctedchisq(double c) const override;

private:
  bool centred_ = false;
  double centre_ = 0.0;
  // How far rounding may have moved the sum over value() (0: not asked),
  // and the coefficients the fit made.
  double valuesmoved_ = 0.0;
  double fittedpar_[kMaxParams] = {};
  double cpar_[kMaxDegree + 1] = {};
};

// y = A (x^2)^(B/2): a straight line through the logarithms.
class powersq : public bfit {
public:
  explicit powersq(int order = 1);
  double value(double x) const override;
  double slope(double x, double span) const override;
  void fit(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;
};

// y = A / ((B - x)^2 + C): a parabola through 1/y.
class resonance : public bfit {
public:
  explicit resonance(int order = 2);
  double value(double x) const override;
  double slope(double x, double span) const override;
  void fit(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;
};

// y = A cos(B x), from the estimates par[0], par[1].
class periodic : public bfit {
public:
  explicit periodic(int order = 1);
  double value(double x) const override;
  double slope(double x, double span) const override;
  void fit(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;
};

// y = A exp(B x) cos(C x + D), from the estimates par[0] to par[3].
class periodicdecay : public bfit {
public:
  explicit periodicdecay(int order = 3);
  double value(double x) const override;
  double slope(double x, double span) const override;
  void fit(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;

protected:
  void newtonsystem(const gradientfn &F, const vec &p, vec &Fp, matr &J) override;
};

} // namespace orvalle
