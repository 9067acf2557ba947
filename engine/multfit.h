// Straight lines through several datasets at once that share one
// parameter: the gradient (Mlinearsamem) or the intercept (Mlinearsamec).
// The joint weighted least-squares fit writes its results into one
// straight-line polynom per dataset; afterwards each line is an ordinary
// fit of its own dataset.
//
// Use: construct; set name; makelines(K); add the K datasets to `datasets`
// in order; give line j (lines.at(j)) its dataset and name; take the lines
// with takelines() into the caller's own fit list; call fit(). Releasing
// the multfit leaves taken lines alive.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/bfit.h"
#include "engine/fits.h"

namespace orvalle {

class multfit {
public:
  multfit() = default;
  multfit(const multfit &) = delete;
  multfit &operator=(const multfit &) = delete;
  virtual ~multfit();

  virtual void makelines(int count) = 0;
  // The joint fit; on success every line has par, err and its series. On
  // failure (for instance a singular joint system) it raises engine_error
  // and the lines keep their starting parameters and have no series.
  virtual void fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) = 0;

  // Line j, or null.
  bfit *line(int j) const;
  // Hands the lines made by makelines to the caller, who then owns them;
  // `lines` still names them. Lines never taken die with the multfit.
  std::vector<std::unique_ptr<bfit>> takelines();

  std::string name;
  list<dataset> datasets; // references
  list<bfit> lines;       // references; position j belongs to dataset j
  // The (K+1) x (K+1) joint normal matrix of the last fit (row 0 the
  // shared parameter, uncentred sums as the textbook writes them) and its
  // right-hand side, kept for up to 64 datasets and empty beyond: the fit
  // itself solves the arrow-shaped system from centred sums in time linear
  // in the datasets and never forms it.
  matr normal;
  vec rhs;

protected:
  std::vector<std::unique_ptr<bfit>> made_;
};

// A record of the datasets chosen for a multi fit; it fits nothing.
class mbfit : public multfit {
public:
  void makelines(int) override {}
  void fit(chartcanvas &, chartcanvas &, bool) override {}
};

// Lines y = a x + b, one polynom of degree 1 per dataset.
class Mlinear : public multfit {
public:
  void makelines(int count) override;
};

// Lines that share the gradient: q = (m, c1 ... cK).
class Mlinearsamem : public Mlinear {
public:
  void fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) override;
};

// Lines that share the intercept: q = (c, m1 ... mK).
class Mlinearsamec : public Mlinear {
public:
  void fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) override;
};

} // namespace orvalle
