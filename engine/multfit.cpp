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
  if (m.datasets.count == 0 || m.lines.count != m.datasets.count)
    throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  jointparts parts;
  m.datasets.each([&](dataset *d) { parts.sets.push_back(d); });
  m.lines.each([&](bfit *l) { parts.lines.push_back(l); });
  for (std::size_t j = 0; j < parts.sets.size(); ++j)
    if (!parts.sets[j] || !parts.lines[j])
      throw engine_error(kFailedFit, "A multi fit needs one line per dataset");
  return parts;
}

// One dataset's sums about its own centre (xc, yc), its weighted means
// rounded to double: S = sum w, Sd = sum w d, Sdd = sum w d^2, Sy = sum w y',
// Sdy = sum w d y' with d = x - xc and y' = y - yc. Centred, they keep
// their digits however far the data lie from x = 0.
struct linesums {
  double xc = 0.0, yc = 0.0;
  long double S = 0.0L, Sd = 0.0L, Sdd = 0.0L, Sy = 0.0L, Sdy = 0.0L;
};

linesums sumsof(const dataset &d) {
  if (!d.w || !d.x || !d.y || d.x->n != d.w->n || d.y->n != d.w->n)
    throw engine_error(kRowLengths, "The weights, x values and y values differ in length");
  const drow &X = *d.x;
  const drow &Y = *d.y;
  const drow &W = *d.w;
  linesums s;
  long double sx = 0.0L, sy = 0.0L;
  for (int i = 0; i < W.n; ++i) {
    s.S += W[i];
    sx += W[i] * static_cast<long double>(X[i]);
    sy += W[i] * static_cast<long double>(Y[i]);
  }
  if (!(s.S > 0.0L))
    throw engine_error(kFailedFit, "A dataset of the multi fit has no point with a weight");
  s.xc = checked(static_cast<double>(sx / s.S), "multfit");
  s.yc = checked(static_cast<double>(sy / s.S), "multfit");
  for (int i = 0; i < W.n; ++i) {
    const long double dx = static_cast<long double>(X[i]) - s.xc;
    const long double dy = static_cast<long double>(Y[i]) - s.yc;
    const long double w = W[i];
    s.Sd += w * dx;
    s.Sdd += w * dx * dx;
    s.Sy += w * dy;
    s.Sdy += w * dx * dy;
  }
  return s;
}

// The joint solution: the shared parameter q0, each line's own parameter,
// and the covariances that the lines need, all from the datasets' current
// weights. The joint normal matrix is an arrow (the shared parameter meets
// every line's own one, the lines' own ones never meet): eliminating the
// lines' own parameters leaves one equation for the shared one (its Schur
// complement), solved by the chosen solver, and each line's own parameter
// then follows from it. Everything is formed from centred sums, so that
// nothing cancels far from x = 0.
struct jointsolution {
  long double q0 = 0.0L, var0 = 0.0L;
  std::vector<long double> own, varown, cov; // per line: value, variance, covariance with q0
  std::vector<linesums> sums;
  // The line's value at its centre less yc, in its centred form.
  std::vector<long double> beta;
  double var(int k) const {
    return static_cast<double>(k == 0 ? var0 : varown[static_cast<std::size_t>(k - 1)]);
  }
  double value(int k) const {
    return static_cast<double>(k == 0 ? q0 : own[static_cast<std::size_t>(k - 1)]);
  }
  int count() const { return static_cast<int>(own.size()) + 1; }
};

// The one equation left for the shared parameter, s q0 = r. Gaussian
// elimination and Cramer's rule agree on a 1 x 1 system: both are the one
// division, which faults on a zero s (a singular joint system), so the
// solver choice changes nothing here.
long double solveshared(long double s, long double r) {
  divide(1.0, checked(static_cast<double>(s), "multfit"), "multfit");
  checked(static_cast<double>(r), "multfit");
  return r / s;
}

// Lines y - yc = m d + beta sharing m: the arrow's corner is sum Sdd, its
// arms Sd, its diagonal S.
void sharedgradient(jointsolution &js) {
  long double s = 0.0L, r = 0.0L;
  for (const linesums &l : js.sums) {
    s += l.Sdd - l.Sd * l.Sd / l.S;
    r += l.Sdy - l.Sd * l.Sy / l.S;
  }
  const long double m = solveshared(s, r);
  js.q0 = m;
  js.var0 = 1.0L / s;
  for (std::size_t j = 0; j < js.sums.size(); ++j) {
    const linesums &l = js.sums[j];
    const long double beta = (l.Sy - l.Sd * m) / l.S;
    const long double lever = l.Sd / l.S + l.xc; // d b / d m, with the sign turned
    js.beta[j] = beta;
    js.own[j] = l.yc + beta - m * l.xc;
    js.varown[j] = 1.0L / l.S + lever * lever / s;
    js.cov[j] = -lever / s;
  }
}

// Lines y = m x + c sharing c. Each dataset alone gives its own line
// (beta, slope) about its centre, whose intercept e = yc + beta - slope xc
// has variance Sxx / det, det = S Sdd - Sd^2, Sxx = Sdd + 2 xc Sd + xc^2 S.
// The shared intercept is the mean of the e weighted by det / Sxx (the
// Schur complement of the arrow; a dataset at one x value alone says
// nothing about it), and each slope is then the best one through the
// shared intercept: (Sx (yc - c) + xc Sy + Sdy) / Sxx with Sx = S xc + Sd.
void sharedintercept(jointsolution &js) {
  const std::size_t K = js.sums.size();
  std::vector<long double> sxx(K), arm(K);
  long double s = 0.0L, r = 0.0L;
  for (std::size_t j = 0; j < K; ++j) {
    const linesums &l = js.sums[j];
    arm[j] = l.S * l.xc + l.Sd;
    sxx[j] = l.Sdd + l.xc * (2.0L * l.Sd + l.xc * l.S);
    divide(1.0, static_cast<double>(sxx[j]), "multfit"); // every x value 0
    const long double det = l.S * l.Sdd - l.Sd * l.Sd;
    if (!(det > 0.0L))
      continue;
    const long double beta = (l.Sdd * l.Sy - l.Sd * l.Sdy) / det;
    const long double slope = (l.S * l.Sdy - l.Sd * l.Sy) / det;
    const long double weight = det / sxx[j];
    s += weight;
    r += weight * (l.yc + beta - slope * l.xc);
  }
  const long double c = solveshared(s, r);
  js.q0 = c;
  js.var0 = 1.0L / s;
  for (std::size_t j = 0; j < K; ++j) {
    const linesums &l = js.sums[j];
    const long double m = (arm[j] * (l.yc - c) + l.xc * l.Sy + l.Sdy) / sxx[j];
    const long double lever = arm[j] / sxx[j];
    js.own[j] = m;
    js.beta[j] = c + m * l.xc - l.yc;
    js.varown[j] = 1.0L / sxx[j] + lever * lever / s;
    js.cov[j] = -lever / s;
  }
}

// Up to this many datasets the fit also keeps the dense joint normal
// equations in normal and rhs; beyond, they stay empty.
constexpr int kDenseNormal = 64;

void keepnormal(multfit &m, const std::vector<dataset *> &sets, bool samem) {
  const int K = static_cast<int>(sets.size());
  if (K > kDenseNormal) {
    m.normal = matr();
    m.rhs = vec();
    return;
  }
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
  m.normal = M;
  m.rhs = v;
}

jointsolution solvejoint(multfit &m, const std::vector<dataset *> &sets, bool samem) {
  const std::size_t K = sets.size();
  jointsolution js;
  js.sums.reserve(K);
  for (const dataset *d : sets)
    js.sums.push_back(sumsof(*d));
  js.own.assign(K, 0.0L);
  js.varown.assign(K, 0.0L);
  js.cov.assign(K, 0.0L);
  js.beta.assign(K, 0.0L);
  if (samem)
    sharedgradient(js);
  else
    sharedintercept(js);
  keepnormal(m, sets, samem);
  return js;
}

// Gives every dataset the weights 1 / (sigma_y^2 + (slope sigma_x)^2) at
// its line's slope in q; a point whose y error is 0 keeps weight 0.
void effectiveweights(const std::vector<dataset *> &sets, const jointsolution &q, bool samem) {
  for (std::size_t j = 0; j < sets.size(); ++j) {
    dataset &d = *sets[j];
    const double slope = samem ? q.value(0) : q.value(static_cast<int>(j) + 1);
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
bool jointsettled(const std::vector<double> &before, const jointsolution &s) {
  bool settled = true;
  for (int k = 0; k < s.count(); ++k) {
    const double change = std::fabs(s.value(k) - before[static_cast<std::size_t>(k)]);
    if (!(change <= 1e-10 * std::fabs(s.value(k)) + 1e-6 * std::sqrt(std::fabs(s.var(k)))))
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
                                                           bool samem, jointsolution &s) {
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
    effectiveweights(sets, s, samem);
    std::vector<double> before;
    for (int k = 0; k < s.count(); ++k)
      before.push_back(s.value(k));
    s = solvejoint(m, sets, samem);
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
    if (auto *p = dynamic_cast<polynom *>(lines[j]))
      p->dropcentre();
  }
}

// Line j's chi-square over its own points with the weights it reports
// (the effective ones with x errors), from its centred form.
long double linechisquare(const bfit &line, const linesums &l, long double slope,
                          long double beta) {
  const dataset &d = *line.data;
  const drow &W = line.xweights ? *line.xweights : *d.w;
  const drow &X = *d.x;
  const drow &Y = *d.y;
  long double sum = 0.0L;
  for (int i = 0; i < W.n && i < X.n && i < Y.n; ++i) {
    const long double r = (static_cast<long double>(Y[i]) - l.yc) - beta -
                          slope * (static_cast<long double>(X[i]) - l.xc);
    sum += W[i] * r * r;
  }
  return sum;
}

// Writes the joint solution into the lines: the shared value, each line's
// own value, their uncertainties, the line's block of the joint covariance,
// with x errors the effective weights, and the line about its centre with
// its chi-square.
void writelines(const std::vector<bfit *> &lines, const jointsolution &s, bool samem,
                std::vector<std::unique_ptr<drow>> &effective) {
  const int own = samem ? 1 : 0; // the line's parameter index of its own value
  const double sd0 = checkedsqrt(checked(s.var(0), "multfit"), "multfit");
  const double q0 = checked(s.value(0), "multfit");
  for (std::size_t j = 0; j < lines.size(); ++j) {
    bfit &line = *lines[j];
    const int k = static_cast<int>(j) + 1;
    line.par[1 - own] = q0;
    line.err[1 - own] = sd0;
    line.par[own] = checked(s.value(k), "multfit");
    line.err[own] = checkedsqrt(checked(s.var(k), "multfit"), "multfit");
    if (!effective.empty()) {
      line.xweights = std::move(effective[j]);
      line.xerrmethod = "effective variance";
    }
    // The line's block of the joint covariance, in its order (a, b).
    const double c = static_cast<double>(s.cov[j]);
    line.cov = matr(2, 2);
    line.cov(own, own) = s.var(k);
    line.cov(1 - own, 1 - own) = s.var(0);
    line.cov(0, 1) = line.cov(1, 0) = c;
    if (auto *p = dynamic_cast<polynom *>(&line)) {
      const linesums &l = s.sums[j];
      const long double slope = samem ? s.q0 : s.own[j];
      const long double chisq = linechisquare(line, l, slope, s.beta[j]);
      p->setlinecentre(l.xc, static_cast<double>(l.yc + s.beta[j]), static_cast<double>(chisq));
    }
  }
}

// The joint fit of straight lines y = a x + b through every dataset, with a
// (gradient) or b (intercept) common to all.
void jointfit(multfit &m, shared what, chartcanvas &mainchart, chartcanvas &devchart) {
  const jointparts parts = partsof(m);
  for (dataset *d : parts.sets)
    d->makeweights();
  const bool samem = what == shared::gradient;
  const bool xerrors = std::any_of(parts.sets.begin(), parts.sets.end(),
                                   [](const dataset *d) { return d->hasxerrors(); });

  jointsolution s = solvejoint(m, parts.sets, samem);
  std::vector<std::unique_ptr<drow>> effective;
  if (xerrors)
    effective = effectivevariancerounds(m, parts.sets, samem, s);

  const std::vector<savedline> before = savelines(parts.lines);
  // A line whose values or chi-square are not numbers is no fit: the joint
  // fit fails and every line gets back what it had.
  try {
    writelines(parts.lines, s, samem, effective);
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

// Both solvers reduce the arrow to the same division (solveshared).
void Mlinearsamem::fit(chartcanvas &mainchart, chartcanvas &devchart, bool /*gauss*/) {
  jointfit(*this, shared::gradient, mainchart, devchart);
}

void Mlinearsamec::fit(chartcanvas &mainchart, chartcanvas &devchart, bool /*gauss*/) {
  jointfit(*this, shared::intercept, mainchart, devchart);
}

} // namespace orvalle
