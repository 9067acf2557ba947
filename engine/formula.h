// A model typed by the student: y = f(x; A, B, ...), read from text such as
// "A*(1-exp(-x/B))".
//
// The language: numbers (1, 2.5, .5, 1e-3), the variable x, the constant
// pi, + - * / ^ and ** (both powers, as gnuplot writes them), parentheses,
// and the functions exp, log and ln (both the natural logarithm, as gnuplot
// reads log), log10, sqrt, sin, cos, tan, asin, acos, atan, sinh, cosh,
// tanh and abs. Every other name is a parameter: a letter followed by
// letters, digits or _ (A, B, tau, k1, V_0). Parameters are numbered in the
// order of their first appearance; there may be 1 to 9 of them.
//
// A text that cannot be read raises formula_error, whose message says what
// is wrong and where, counting characters from 1.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/numeric.h"

namespace orvalle {

class formula_error : public engine_error {
public:
  // position counts characters from 1; 0 when the fault has no place.
  formula_error(const std::string &message, int position)
      : engine_error(kFailedFit, message), position_(position) {}
  int position() const noexcept { return position_; }

private:
  int position_;
};

class typedformula {
public:
  static constexpr int kMaxParameters = 9;
  static constexpr std::size_t kMaxLength = 1000;

  // Reads text; raises formula_error when it is not a formula of the
  // language above with 1 to 9 parameters.
  explicit typedformula(const std::string &text);
  typedformula(const typedformula &) = delete;
  typedformula &operator=(const typedformula &) = delete;
  typedformula(typedformula &&) noexcept;
  typedformula &operator=(typedformula &&) noexcept;
  ~typedformula();

  // The text as typed, without leading and trailing blanks.
  const std::string &text() const;
  // The parameter names in the order of their first appearance.
  const std::vector<std::string> &parameters() const;
  int count() const { return static_cast<int>(parameters().size()); }

  // f(x) with the parameter values p (p[k] for parameters()[k]). NaN or an
  // infinity come back as they are; the caller decides what they mean.
  double value(double x, std::span<const double> p) const;
  // f at every x, into out (as long as x).
  void values(std::span<const double> x, std::span<const double> p, std::span<double> out) const;

  // f(x) and its exact derivatives: dp[k] = df/dp[k] for every parameter
  // (dp as long as parameters()) and, when dx is given, *dx = df/dx. They
  // come from the formula's own expression tree by forward-mode automatic
  // differentiation, so they are exact to rounding whatever the sizes of x
  // and p. NaN or an infinity come back as they are.
  double derivatives(double x, std::span<const double> p, std::span<double> dp,
                     double *dx = nullptr) const;
  // f(x) from the same tree in long double, for residuals that keep their
  // digits where f and y nearly cancel.
  long double longvalue(double x, std::span<const double> p) const;

  // The formula in gnuplot's syntax with the values p in place of the
  // parameters: ^ becomes **, ln becomes log, every number is written as a
  // floating-point number (gnuplot divides integers as integers) and a
  // negative value is put in parentheses. The values keep all 17 digits.
  std::string gnuplottext(std::span<const double> p) const;

private:
  struct impl;
  std::unique_ptr<impl> d;
};

} // namespace orvalle
