#include "engine/multfit.h"

#include "engine/fittexts.h"
#include "engine/logchannel.h"

#include <gmpxx.h>

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
    throw engine_error(kFailedFit, texts::kMultiNeedsLines);
  jointparts parts;
  m.datasets.each([&](dataset *d) { parts.sets.push_back(d); });
  m.lines.each([&](bfit *l) { parts.lines.push_back(l); });
  for (std::size_t j = 0; j < parts.sets.size(); ++j)
    if (!parts.sets[j] || !parts.lines[j])
      throw engine_error(kFailedFit, texts::kMultiNeedsLines);
  return parts;
}

// The arithmetic of the joint solution: long double, or GMP floats of the
// default precision where long double cannot carry a line's chi-square.
inline double todouble(long double v) { return static_cast<double>(v); }
inline double todouble(const mpf_class &v) { return v.get_d(); }
inline long double tolong(long double v) { return v; }
inline long double tolong(const mpf_class &v) {
  // The leading 53 bits and the rest: a long double's 64 bits.
  const double hi = v.get_d();
  const mpf_class rest = v - hi;
  return static_cast<long double>(hi) + rest.get_d();
}

// One dataset's sums about its own centre (xc, yc), its weighted means
// rounded to double: S = sum w, Sd = sum w d, Sdd = sum w d^2, Sy = sum w y',
// Sdy = sum w d y', Syy = sum w y'^2 with d = x - xc and y' = y - yc.
// Centred, they keep their digits however far the data lie from x = 0.
template <class T> struct linesums {
  double xc = 0.0, yc = 0.0;
  T S = 0, Sd = 0, Sdd = 0, Sy = 0, Sdy = 0, Syy = 0;
};

template <class T> linesums<T> sumsof(const dataset &d) {
  if (!d.w || !d.x || !d.y || d.x->n != d.w->n || d.y->n != d.w->n)
    throw engine_error(kRowLengths, texts::kWeightsDiffer);
  const drow &X = *d.x;
  const drow &Y = *d.y;
  const drow &W = *d.w;
  linesums<T> s;
  long double S = 0.0L, sx = 0.0L, sy = 0.0L;
  for (int i = 0; i < W.n; ++i) {
    S += W[i];
    sx += W[i] * static_cast<long double>(X[i]);
    sy += W[i] * static_cast<long double>(Y[i]);
  }
  if (!(S > 0.0L))
    throw engine_error(kFailedFit, "A dataset of the multi fit has no point with a weight");
  s.xc = checked(static_cast<double>(sx / S), "multfit");
  s.yc = checked(static_cast<double>(sy / S), "multfit");
  T dx = 0, dy = 0, w = 0, t = 0;
  for (int i = 0; i < W.n; ++i) {
    dx = X[i];
    dx -= s.xc;
    dy = Y[i];
    dy -= s.yc;
    w = W[i];
    s.S += w;
    t = w * dx;
    s.Sd += t;
    s.Sdy += t * dy;
    s.Sdd += t * dx;
    t = w * dy;
    s.Sy += t;
    s.Syy += t * dy;
  }
  return s;
}

// The joint solution: the shared parameter q0, each line's own parameter,
// and the covariances that the lines need, all from the datasets' current
// weights, with each line's form about its centre and its chi-square. The
// joint normal matrix is an arrow (the shared parameter meets every line's
// own one, the lines' own ones never meet): eliminating the lines' own
// parameters leaves one equation for the shared one (its Schur complement),
// and each line's own parameter then follows from it. Everything is formed
// from centred sums, so that nothing cancels far from x = 0.
struct jointsolution {
  long double q0 = 0.0L, var0 = 0.0L;
  std::vector<long double> own, varown, cov; // per line: value, variance, covariance with q0
  std::vector<double> xc, atcentre, chisq;   // per line: its centre, value there, chi-square
  bool chisqheld = true;                     // whether every chi-square keeps its digits
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
template <class T> T solveshared(const T &s, const T &r) {
  divide(1.0, checked(todouble(s), "multfit"), "multfit");
  checked(todouble(r), "multfit");
  return T(r / s);
}

// Lines y - yc = m d + beta sharing m: the arrow's corner is sum Sdd, its
// arms Sd, its diagonal S. Gives each line's beta.
template <class T>
std::vector<T> sharedgradient(const std::vector<linesums<T>> &sums, jointsolution &js,
                              std::vector<T> &slopes) {
  T s = 0, r = 0;
  for (const linesums<T> &l : sums) {
    s += l.Sdd - l.Sd * l.Sd / l.S;
    r += l.Sdy - l.Sd * l.Sy / l.S;
  }
  const T m = solveshared(s, r);
  js.q0 = tolong(m);
  js.var0 = tolong(T(1 / s));
  slopes.assign(sums.size(), m);
  std::vector<T> beta(sums.size());
  for (std::size_t j = 0; j < sums.size(); ++j) {
    const linesums<T> &l = sums[j];
    beta[j] = (l.Sy - l.Sd * m) / l.S;
    const T lever = l.Sd / l.S + l.xc; // d b / d m, with the sign turned
    js.own[j] = tolong(T(l.yc + beta[j] - m * l.xc));
    js.varown[j] = tolong(T(1 / l.S + lever * lever / s));
    js.cov[j] = tolong(T(-lever / s));
  }
  return beta;
}

// Lines y = m x + c sharing c. Each dataset alone gives its own line
// (beta, slope) about its centre, whose intercept e = yc + beta - slope xc
// has variance Sxx / det, det = S Sdd - Sd^2, Sxx = Sdd + 2 xc Sd + xc^2 S.
// The shared intercept is the mean of the e weighted by det / Sxx (the
// Schur complement of the arrow; a dataset at one x value alone says
// nothing about it), and each slope is then the best one through the
// shared intercept: (Sx (yc - c) + xc Sy + Sdy) / Sxx with Sx = S xc + Sd.
// Gives each line's beta and slope.
template <class T>
std::vector<T> sharedintercept(const std::vector<linesums<T>> &sums, jointsolution &js,
                               std::vector<T> &slopes) {
  const std::size_t K = sums.size();
  std::vector<T> sxx(K), arm(K);
  T s = 0, r = 0;
  for (std::size_t j = 0; j < K; ++j) {
    const linesums<T> &l = sums[j];
    arm[j] = l.S * l.xc + l.Sd;
    sxx[j] = l.Sdd + l.xc * (2 * l.Sd + l.xc * l.S);
    divide(1.0, todouble(sxx[j]), "multfit"); // every x value 0
    const T det = l.S * l.Sdd - l.Sd * l.Sd;
    if (!(det > 0))
      continue;
    const T beta = (l.Sdd * l.Sy - l.Sd * l.Sdy) / det;
    const T slope = (l.S * l.Sdy - l.Sd * l.Sy) / det;
    const T weight = det / sxx[j];
    s += weight;
    r += weight * (l.yc + beta - slope * l.xc);
  }
  const T c = solveshared(s, r);
  js.q0 = tolong(c);
  js.var0 = tolong(T(1 / s));
  std::vector<T> beta(K);
  slopes.assign(K, T(0));
  for (std::size_t j = 0; j < K; ++j) {
    const linesums<T> &l = sums[j];
    const T m = (arm[j] * (l.yc - c) + l.xc * l.Sy + l.Sdy) / sxx[j];
    const T lever = arm[j] / sxx[j];
    slopes[j] = m;
    js.own[j] = tolong(m);
    beta[j] = c + m * l.xc - l.yc;
    js.varown[j] = tolong(T(1 / sxx[j] + lever * lever / s));
    js.cov[j] = tolong(T(-lever / s));
  }
  return beta;
}

// Each line's chi-square over its dataset's current weights, from its
// centred form: the sum of w (y' - beta - m d)^2. Where it is less than
// 10^-18 of sum w y'^2, the deviations are so small beside the data that
// long double may not have carried them: chisqheld turns false.
template <class T>
void linechisquares(const std::vector<dataset *> &sets, const std::vector<linesums<T>> &sums,
                    const std::vector<T> &beta, const std::vector<T> &slopes, jointsolution &js) {
  T r = 0, sum = 0;
  for (std::size_t j = 0; j < sums.size(); ++j) {
    const linesums<T> &l = sums[j];
    const dataset &d = *sets[j];
    const drow &X = *d.x;
    const drow &Y = *d.y;
    const drow &W = *d.w;
    sum = 0;
    for (int i = 0; i < W.n; ++i) {
      r = Y[i];
      r -= l.yc;
      r -= beta[j];
      r -= slopes[j] * (T(X[i]) - l.xc);
      sum += W[i] * r * r;
    }
    js.xc[j] = l.xc;
    js.atcentre[j] = todouble(T(l.yc + beta[j]));
    js.chisq[j] = todouble(sum);
    if (!(sum > l.Syy * 1e-18))
      js.chisqheld = false;
  }
}

template <class T> jointsolution solvearrow(const std::vector<dataset *> &sets, bool samem) {
  const std::size_t K = sets.size();
  std::vector<linesums<T>> sums;
  sums.reserve(K);
  for (const dataset *d : sets)
    sums.push_back(sumsof<T>(*d));
  jointsolution js;
  js.own.assign(K, 0.0L);
  js.varown.assign(K, 0.0L);
  js.cov.assign(K, 0.0L);
  js.xc.assign(K, 0.0);
  js.atcentre.assign(K, 0.0);
  js.chisq.assign(K, 0.0);
  std::vector<T> slopes, beta;
  if (samem) {
    beta = sharedgradient(sums, js, slopes);
  } else {
    beta = sharedintercept(sums, js, slopes);
  }
  linechisquares(sets, sums, beta, slopes, js);
  return js;
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

// Sets GMP's default float precision for as long as it lives.
struct widefloats {
  mp_bitcnt_t before;
  explicit widefloats(mp_bitcnt_t bits) : before(mpf_get_default_prec()) {
    mpf_set_default_prec(bits);
  }
  ~widefloats() { mpf_set_default_prec(before); }
  widefloats(const widefloats &) = delete;
  widefloats &operator=(const widefloats &) = delete;
};

// The joint solution in long double, or where a line's chi-square is too
// small for it to carry (lines through their points to within the
// rounding of the data), in 320-bit floats.
jointsolution solvejoint(multfit &m, const std::vector<dataset *> &sets, bool samem) {
  jointsolution js = solvearrow<long double>(sets, samem);
  if (!js.chisqheld) {
    const widefloats wide(320);
    js = solvearrow<mpf_class>(sets, samem);
  }
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
      logmessage(texts::kNotConverged);
      throw engine_error(kFailedFit, texts::kEffectiveVarianceUnsettled);
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
  double par[bfit::kMaxParams];
  double err[bfit::kMaxParams];
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
      line.xerrmethod = texts::kEffectiveVariance;
    }
    // The line's block of the joint covariance, in its order (a, b).
    const double c = static_cast<double>(s.cov[j]);
    line.cov = matr(2, 2);
    line.cov(own, own) = s.var(k);
    line.cov(1 - own, 1 - own) = s.var(0);
    line.cov(0, 1) = line.cov(1, 0) = c;
    if (auto *p = dynamic_cast<polynom *>(&line))
      p->setlinecentre(s.xc[j], s.atcentre[j], s.chisq[j]);
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
