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

// The joint fit of straight lines y = a x + b through every dataset, with a
// (gradient) or b (intercept) common to all. q[0] is the common parameter,
// q[j+1] dataset j's own.
void jointfit(multfit &m, shared what, chartcanvas &mainchart, chartcanvas &devchart,
              bool useGauss) {
  const int K = static_cast<int>(m.datasets.count);
  if (K == 0 || m.lines.count != m.datasets.count)
    throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  std::vector<dataset *> sets;
  std::vector<bfit *> lines;
  for (int j = 0; j < K; ++j) {
    sets.push_back(m.datasets.at(static_cast<unsigned>(j))->obj);
    lines.push_back(m.line(j));
    if (!sets.back() || !lines.back())
      throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  }
  for (dataset *d : sets)
    d->makeweights();

  const bool samem = what == shared::gradient;
  bool xerrors = false;
  for (dataset *d : sets)
    xerrors = xerrors || d->hasxerrors();

  // The joint solution q and the variances of its parameters for the
  // datasets' current weights.
  vec q;
  std::vector<double> var(static_cast<std::size_t>(K + 1));
  matr joint; // the covariance of q
  auto solvejoint = [&]() {
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

    // The joint covariance is the inverse of the normal matrix: every
    // point's error moves the shared parameter and, through it, every
    // line's own parameter. One factorisation (or one cofactor inverse)
    // serves the solution and the inverse.
    if (useGauss) {
      const elimination E(M);
      q = E.solve(v);
      const matr inv = E.inverse();
      for (int k = 0; k <= K; ++k)
        var[static_cast<std::size_t>(k)] = inv(k, k);
      joint = inv;
    } else {
      const matr B = M.cofinverse();
      q = tmul(B, v);
      for (int k = 0; k <= K; ++k)
        var[static_cast<std::size_t>(k)] = B(k, k);
      joint = B;
    }
  };
  solvejoint();

  // With x errors: effective-variance rounds, each dataset's weights
  // 1 / (sigma_y^2 + (slope sigma_x)^2) at its line's slope, until the
  // joint solution settles. The lines keep the final weights; the
  // datasets get their ordinary weights back.
  std::vector<std::unique_ptr<drow>> effective(sets.size());
  if (xerrors) {
    struct restore {
      std::vector<dataset *> &sets;
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
      for (int j = 0; j < K; ++j) {
        dataset &d = *sets[static_cast<std::size_t>(j)];
        const double slope = samem ? q[0] : q[j + 1];
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
      const vec before = q;
      solvejoint();
      bool settled = true;
      for (int k = 0; k <= K; ++k) {
        const double change = std::fabs(q[k] - before[k]);
        if (!(change <= 1e-10 * std::fabs(q[k]) +
                            1e-6 * std::sqrt(std::fabs(var[static_cast<std::size_t>(k)]))))
          settled = false;
      }
      if (settled)
        break;
    }
    for (std::size_t j = 0; j < sets.size(); ++j)
      effective[j] = std::make_unique<drow>(*sets[j]->w);
  }

  std::vector<double> sd(static_cast<std::size_t>(K + 1));
  for (int k = 0; k <= K; ++k) {
    checked(q[k], "multfit");
    sd[static_cast<std::size_t>(k)] =
        checkedsqrt(checked(var[static_cast<std::size_t>(k)], "multfit"), "multfit");
  }

  struct saved {
    double par[10];
    double err[10];
  };
  std::vector<saved> before(lines.size());
  for (std::size_t j = 0; j < lines.size(); ++j) {
    std::copy(std::begin(lines[j]->par), std::end(lines[j]->par), before[j].par);
    std::copy(std::begin(lines[j]->err), std::end(lines[j]->err), before[j].err);
  }
  const int own = samem ? 1 : 0; // the line's parameter index of its own value
  for (int j = 0; j < K; ++j) {
    bfit &line = *lines[static_cast<std::size_t>(j)];
    line.par[1 - own] = q[0];
    line.err[1 - own] = sd[0];
    line.par[own] = q[j + 1];
    line.err[own] = sd[static_cast<std::size_t>(j + 1)];
    if (xerrors) {
      line.xweights = std::move(effective[static_cast<std::size_t>(j)]);
      line.xerrmethod = "effective variance";
    }
    // The line's block of the joint covariance, in its order (a, b).
    const int at[2] = {own == 0 ? j + 1 : 0, own == 0 ? 0 : j + 1};
    line.cov = matr(2, 2);
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 2; ++c)
        line.cov(r, c) = joint(at[r], at[c]);
  }
  // A line whose chi-square is not a number is no fit: the joint fit fails
  // and every line gets back what it had.
  try {
    for (bfit *line : lines)
      requirefinite(*line);
  } catch (...) {
    for (std::size_t j = 0; j < lines.size(); ++j) {
      std::copy(std::begin(before[j].par), std::end(before[j].par), lines[j]->par);
      std::copy(std::begin(before[j].err), std::end(before[j].err), lines[j]->err);
      lines[j]->xweights.reset();
      lines[j]->xerrmethod.clear();
      lines[j]->cov = matr();
    }
    throw;
  }
  for (bfit *line : lines)
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
