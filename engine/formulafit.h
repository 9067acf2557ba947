// The fit of a formula typed by the student (engine/formula.h): weighted
// least squares by Levenberg-Marquardt from the starting values in
// par[0 .. count-1], parameters in the formula's order.
#pragma once

#include <string>

#include "engine/bfit.h"
#include "engine/formula.h"

namespace orvalle {

class formulafit : public bfit {
public:
  // Reads the formula; raises formula_error when it cannot be read. order
  // is the number of its parameters minus one.
  explicit formulafit(const std::string &text);

  double value(double x) const override;
  // df/dx at x, exact (from the formula's expression tree).
  double slope(double x, double span) const override;
  // Logs and raises engine_error(kFailedFit) when the dataset has too few
  // points, when the iteration fails or meets NaN or an infinity ("Fit
  // failed to converge try improving estimates"), when it stops short of
  // a minimum of the chi-square (the same words, then where it stopped and
  // what a further step would still take off), and when the data do not
  // determine a parameter (the message names it). par is then unchanged.
  void fit(bool gauss) override;
  // "Fit of the form y=<formula> with", the verdict's warning, then one
  // line per parameter by its name.
  void describe(stringlist &lines, bool clear) const override;
  // "y<index>(x) = " and the formula in gnuplot's syntax with the fitted
  // values.
  std::string formula(int index) const override;

  const typedformula &model() const { return model_; }
  int count() const { return model_.count(); }
  // The fewest points a fit of this formula takes: one more than its
  // parameters, so that one degree of freedom is left.
  int fewestpoints() const { return count() + 1; }
  // "You need at least " n " points in the dataset to fit y=<formula>".
  std::string fewestpointsmessage() const;

  // What the last fit() took besides its iterations (bfit::iterations):
  // evaluations of the formula over all points.
  int evaluations = 0;

private:
  typedformula model_;
};

} // namespace orvalle
