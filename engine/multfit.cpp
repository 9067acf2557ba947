#include "engine/multfit.h"

#include "engine/logchannel.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace orvalle {

multfit::~multfit() = default;

bfit *multfit::line(int j) const {
  if (j < 0 || static_cast<unsigned>(j) >= lines.count)
    return nullptr;
  item<bfit> *it = lines.at(static_cast<unsigned>(j));
  return it ? it->obj : nullptr;
}

std::vector<std::unique_ptr<bfit>> multfit::takelines() { return std::move(made_); }

void Mlinear::makelines(int count) {
  for (int j = 0; j < count; ++j) {
    made_.push_back(std::make_unique<polynom>(1));
    lines.add(made_.back().get());
  }
}

namespace {

// Which parameter the lines share.
enum class shared { gradient, intercept };

// The datasets and lines of a multi fit, one line per dataset in order.
struct jointparts {
  std::vector<dataset *> sets;
  std::vector<bfit *> lines;
};

jointparts partsof(const multfit &m) {
  const int K = static_cast<int>(m.datasets.count);
  if (K == 0 || m.lines.count != m.datasets.count)
    throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  jointparts parts;
  for (int j = 0; j < K; ++j) {
    parts.sets.push_back(m.datasets.at(static_cast<unsigned>(j))->obj);
    parts.lines.push_back(m.line(j));
    if (!parts.sets.back() || !parts.lines.back())
      throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  }
  return parts;
}

// The joint solution q for the datasets' current weights and its
// covariance, the inverse of the normal matrix: every point's error moves
// the shared parameter and, through it, every line's own parameter.
struct jointsolution {
  vec q;
  matr joint;
  double var(int k) const { return joint(k, k); }
};

// Solves the normal equations of the joint fit (q[0] the shared parameter,
// q[j+1] dataset j's own) and keeps them in m. One factorisation (or one
// cofactor inverse) serves the solution and the covariance.
jointsolution solvejoint(multfit &m, const std::vector<dataset *> &sets, bool samem,
                         bool useGauss) {
  const int K = static_cast<int>(sets.size());
  matr M(K + 1, K + 1);
  vec v(K + 1);
  for (int j = 0; j < K; ++j) {
    const dataset &d = *sets[static_cast<std::size_t>(j)];
    M(0, 0) += samem ? d.sumwx(2) : d.sumw();
    v[0] += samem ? d.sumwyx(1) : d.sumwy();
    M(0, j + 1) = M(j + 1, 0) = d.sumwx(1);
    M(j + 1, j + 1) = samem ? d.sumw() : d.sumwx(2);
    v[j + 1] = samem ? d.sumwy() : d.sumwyx(1);
  }
  checked(M(0, 0), "multfit");
  checked(v[0], "multfit");
  m.normal = M;
  m.rhs = v;
  const linearsystem sys(M, useGauss);
  return {sys.solve(v), sys.inverse()};
}

// Gives every dataset the weights 1 / (sigma_y^2 + (slope sigma_x)^2) at
// its line's slope in q; a point whose y error is 0 keeps weight 0.
void effectiveweights(const std::vector<dataset *> &sets, const vec &q, bool samem) {
  for (std::size_t j = 0; j < sets.size(); ++j) {
    dataset &d = *sets[j];
    const double slope = samem ? q[0] : q[static_cast<int>(j) + 1];
    const drow &SY = *d.yerr;
    const int n = d.w->n;
    const bool hasx = d.hasxerrors();
    if (hasx && d.xerr->n != n)
      throw engine_error(kRowLengths, "The x errors and the weights differ in length");
    for (int i = 0; i < n; ++i) {
      const double sx = hasx ? (*d.xerr)[i] * slope : 0.0;
      const double s2 = SY[i] * SY[i] + sx * sx;
      (*d.w)[i] = SY[i] == 0.0 ? 0.0 : checked(1.0 / s2, "multfit");
    }
  }
}

// Whether no parameter moved from `before` by more than 1e-10 of itself plus
// a millionth of its uncertainty.
bool jointsettled(const vec &before, const jointsolution &s) {
  bool settled = true;
  for (int k = 0; k < s.q.n; ++k) {
    const double change = std::fabs(s.q[k] - before[k]);
    if (!(change <= 1e-10 * std::fabs(s.q[k]) + 1e-6 * std::sqrt(std::fabs(s.var(k)))))
      settled = false;
  }
  return settled;
}

// With x errors: effective-variance rounds, the joint solution refitted
// with each dataset's effective weights at its line's slope until it
// settles. Returns the final weights for the lines; the datasets get their
// ordinary weights back however the rounds end.
std::vector<std::unique_ptr<drow>> effectivevariancerounds(multfit &m,
                                                           const std::vector<dataset *> &sets,
                                                           bool samem, bool useGauss,
                                                           jointsolution &s) {
  struct restore {
    const std::vector<dataset *> &sets;
    ~restore() {
      for (dataset *d : sets)
        try {
          d->makeweights();
        } catch (...) {
        }
    }
  } guard{sets};
  for (int round = 1;; ++round) {
    if (round > bfit::kMaxEffectiveRounds) {
      logmessage("Fit failed to converge try improving estimates");
      throw engine_error(kFailedFit, "The effective-variance rounds did not settle");
    }
    effectiveweights(sets, s.q, samem);
    const vec before = s.q;
    s = solvejoint(m, sets, samem, useGauss);
    if (jointsettled(before, s))
      break;
  }
  std::vector<std::unique_ptr<drow>> effective;
  for (dataset *d : sets)
    effective.push_back(std::make_unique<drow>(*d->w));
  return effective;
}

// What a line had before the joint fit wrote into it.
struct savedline {
  double par[10];
  double err[10];
};

std::vector<savedline> savelines(const std::vector<bfit *> &lines) {
  std::vector<savedline> saved(lines.size());
  for (std::size_t j = 0; j < lines.size(); ++j) {
    std::copy(std::begin(lines[j]->par), std::end(lines[j]->par), saved[j].par);
    std::copy(std::begin(lines[j]->err), std::end(lines[j]->err), saved[j].err);
  }
  return saved;
}

void restorelines(const std::vector<bfit *> &lines, const std::vector<savedline> &saved) {
  for (std::size_t j = 0; j < lines.size(); ++j) {
    std::copy(std::begin(saved[j].par), std::end(saved[j].par), lines[j]->par);
    std::copy(std::begin(saved[j].err), std::end(saved[j].err), lines[j]->err);
    lines[j]->xweights.reset();
    lines[j]->xerrmethod.clear();
    lines[j]->cov = matr();
  }
}

// Writes the joint solution into the lines: the shared value, each line's
// own value, their uncertainties sd, the line's block of the joint
// covariance and, with x errors, the effective weights.
void writelines(const std::vector<bfit *> &lines, const jointsolution &s,
                const std::vector<double> &sd, bool samem,
                std::vector<std::unique_ptr<drow>> &effective) {
  const int own = samem ? 1 : 0; // the line's parameter index of its own value
  for (std::size_t j = 0; j < lines.size(); ++j) {
    bfit &line = *lines[j];
    const int k = static_cast<int>(j) + 1;
    line.par[1 - own] = s.q[0];
    line.err[1 - own] = sd[0];
    line.par[own] = s.q[k];
    line.err[own] = sd[j + 1];
    if (!effective.empty()) {
      line.xweights = std::move(effective[j]);
      line.xerrmethod = "effective variance";
    }
    // The line's block of the joint covariance, in its order (a, b).
    const int at[2] = {own == 0 ? k : 0, own == 0 ? 0 : k};
    line.cov = matr(2, 2);
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 2; ++c)
        line.cov(r, c) = s.joint(at[r], at[c]);
  }
}

// The joint fit of straight lines y = a x + b through every dataset, with a
// (gradient) or b (intercept) common to all. q[0] is the common parameter,
// q[j+1] dataset j's own.
void jointfit(multfit &m, shared what, chartcanvas &mainchart, chartcanvas &devchart,
              bool useGauss) {
  const jointparts parts = partsof(m);
  for (dataset *d : parts.sets)
    d->makeweights();
  const bool samem = what == shared::gradient;
  const bool xerrors = std::any_of(parts.sets.begin(), parts.sets.end(),
                                   [](const dataset *d) { return d->hasxerrors(); });

  jointsolution s = solvejoint(m, parts.sets, samem, useGauss);
  std::vector<std::unique_ptr<drow>> effective;
  if (xerrors)
    effective = effectivevariancerounds(m, parts.sets, samem, useGauss, s);

  std::vector<double> sd(static_cast<std::size_t>(s.q.n));
  for (int k = 0; k < s.q.n; ++k) {
    checked(s.q[k], "multfit");
    sd[static_cast<std::size_t>(k)] = checkedsqrt(checked(s.var(k), "multfit"), "multfit");
  }

  const std::vector<savedline> before = savelines(parts.lines);
  writelines(parts.lines, s, sd, samem, effective);
  // A line whose chi-square is not a number is no fit: the joint fit fails
  // and every line gets back what it had.
  try {
    for (bfit *line : parts.lines)
      requirefinite(*line);
  } catch (...) {
    restorelines(parts.lines, before);
    throw;
  }
  for (bfit *line : parts.lines)
    line->makeseries(mainchart, devchart);
}

} // namespace

void Mlinearsamem::fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) {
  jointfit(*this, shared::gradient, mainchart, devchart, gauss);
}

void Mlinearsamec::fit(chartcanvas &mainchart, chartcanvas &devchart, bool gauss) {
  jointfit(*this, shared::intercept, mainchart, devchart, gauss);
}

} // namespace orvalle
