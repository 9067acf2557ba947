// The fits that are linear in their parameters: y = m x and polynomials.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/exactpoly.h"
#include "engine/fits.h"
#include "engine/fittexts.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

void requirepoints(const dataset *d) {
  if (!d || !d->w || !d->x || !d->y)
    throw engine_error(kFailedFit, texts::kNoWeightedDataset);
  if (d->w->n != d->x->n || d->w->n != d->y->n)
    throw engine_error(kRowLengths, texts::kWeightsDiffer);
}

// floor(slog10(range)), or 0 for an empty range (all values equal), which
// then fits them exactly as a constant.
int scaleexponent(double range) {
  if (range == 0.0)
    return 0;
  return static_cast<int>(std::floor(slog10(range)));
}

// A long double that must be a finite number.
long double checkedl(long double x) {
  if (!std::isfinite(x))
    checked(static_cast<double>(x), "polynom");
  return x;
}

// York's weighted errors-in-variables straight line y = slope x +
// intercept (the generalized distance regression of a line with
// uncorrelated errors): the slope is iterated from `slope` until it
// settles; through0 fixes the intercept at 0. W receives the final weights
// 1 / (sigma_y^2 + slope^2 sigma_x^2); a point with y error 0 keeps weight
// 0, as in every fit.
struct yorkline {
  long double slope = 0.0L, intercept = 0.0L;
  long double xbar = 0.0L, ybar = 0.0L; // the weighted centroid
  long double chisq = 0.0L;             // sum W (y - ybar - slope (x - xbar))^2
  long double vslope = 0.0L, vintercept = 0.0L, covariance = 0.0L;
};

constexpr int kMaxYorkRounds = 500;

// sum W (y - ybar - slope (x - xbar))^2, the line taken about its centroid.
long double centredchisq(const drow &X, const drow &Y, const drow &W, long double xbar,
                         long double ybar, long double slope) {
  long double sum = 0.0L;
  for (int i = 0; i < W.n; ++i) {
    const long double dev = (Y[i] - ybar) - slope * (X[i] - xbar);
    sum += W[i] * dev * dev;
  }
  return sum;
}

// One dataset's York passes: at a slope b, the weights W, the weighted
// centroid and the terms beta of every point.
class yorkpasses {
public:
  yorkpasses(const dataset &d, bool through0, drow &W)
      : X(*d.x), Y(*d.y), SX(*d.xerr), SY(*d.yerr), through0_(through0), W_(W),
        beta_(static_cast<std::size_t>(X.n)) {}

  void at(long double b) {
    const int n = X.n;
    sw = 0.0L;
    long double swx = 0.0L, swy = 0.0L;
    for (int i = 0; i < n; ++i) {
      const long double sy2 = static_cast<long double>(SY[i]) * SY[i];
      const long double sx2 = static_cast<long double>(SX[i]) * SX[i];
      const long double den = sy2 + b * b * sx2;
      const long double w = SY[i] == 0.0 || den == 0.0L ? 0.0L : 1.0L / den;
      W_[i] = checked(static_cast<double>(w), "york");
      sw += w;
      swx += w * X[i];
      swy += w * Y[i];
    }
    if (!(sw > 0.0L))
      throw engine_error(kFailedFit, "No point has a weight");
    Xb = through0_ ? 0.0L : swx / sw;
    Yb = through0_ ? 0.0L : swy / sw;
    for (int i = 0; i < n; ++i) {
      const long double U = X[i] - Xb, V = Y[i] - Yb;
      beta_[static_cast<std::size_t>(i)] =
          W_[i] * (U * SY[i] * SY[i] + b * V * static_cast<long double>(SX[i]) * SX[i]);
    }
  }

  // The slope the last pass leads to.
  long double nextslope() const {
    long double num = 0.0L, den = 0.0L;
    for (int i = 0; i < X.n; ++i) {
      const long double U = X[i] - Xb, V = Y[i] - Yb;
      const long double wb = W_[i] * beta_[static_cast<std::size_t>(i)];
      num += wb * V;
      den += wb * U;
    }
    return num / den;
  }

  // The line at slope b, which the last pass was made at.
  yorkline line(long double b) const {
    yorkline r;
    r.slope = b;
    r.intercept = Yb - b * Xb;
    r.xbar = Xb;
    r.ybar = Yb;
    r.chisq = centredchisq(X, Y, W_, Xb, Yb, b);
    // The adjusted abscissae Xb + beta about their weighted mean give the
    // slope's variance; the intercept's follows from the centroid.
    long double sxa = 0.0L;
    for (int i = 0; i < X.n; ++i)
      sxa += W_[i] * (Xb + beta_[static_cast<std::size_t>(i)]);
    const long double xbar = through0_ ? 0.0L : sxa / sw;
    long double suu = 0.0L;
    for (int i = 0; i < X.n; ++i) {
      const long double u = Xb + beta_[static_cast<std::size_t>(i)] - xbar;
      suu += W_[i] * u * u;
    }
    if (!(suu > 0.0L))
      throw engine_error(kFailedFit, "The x values do not spread");
    r.vslope = 1.0L / suu;
    r.vintercept = through0_ ? 0.0L : 1.0L / sw + xbar * xbar * r.vslope;
    r.covariance = through0_ ? 0.0L : -xbar * r.vslope;
    return r;
  }

private:
  const drow &X, &Y, &SX, &SY;
  bool through0_;
  drow &W_;
  std::vector<long double> beta_;
  long double Xb = 0.0L, Yb = 0.0L, sw = 0.0L;
};

yorkline york(const dataset &d, bool through0, double slope, drow &W) {
  if (!d.x || !d.y || !d.yerr || !d.xerr)
    throw engine_error(kFailedFit, texts::kNoErrorDataset);
  const int n = d.x->n;
  if (d.y->n != n || d.xerr->n != n || d.yerr->n != n)
    throw engine_error(kRowLengths, texts::kErrorsDiffer);
  W = drow(n);
  yorkpasses passes(d, through0, W);
  long double b = slope;
  bool settled = false;
  for (int round = 0; round < kMaxYorkRounds && !settled; ++round) {
    passes.at(b);
    const long double next = passes.nextslope();
    checked(static_cast<double>(next), "york");
    settled = std::fabs(next - b) <= 1e-15L * std::fabs(next) || next == b;
    b = next;
  }
  if (!settled) {
    logmessage(texts::kNotConverged);
    throw engine_error(kFailedFit, "York's iteration did not settle");
  }
  passes.at(b);
  return passes.line(b);
}

} // namespace

// ---------------------------------------------------------------- lineronlym

void lineronlym::fitxerrors(bool gauss) {
  requirepoints(data);
  fit(gauss); // the slope in y alone starts the iteration
  drow W;
  const yorkline r = york(*data, true, par[0], W);
  par[0] = checked(static_cast<double>(r.slope), "york");
  err[0] = checked(static_cast<double>(std::sqrt(r.vslope)), "york");
  cov = matr{{static_cast<double>(r.vslope)}};
  xweights = std::make_unique<drow>(std::move(W));
  xerrmethod = "York";
  keepchisq(checked(static_cast<double>(r.chisq), "york"));
}

lineronlym::lineronlym() { order = 0; }

double lineronlym::value(double x) const { return par[0] * x; }

void lineronlym::fit(bool /*gauss*/) {
  requirepoints(data);
  const double sxx = data->sumwx(2);
  const double m = divide(data->sumwyx(1), sxx, "lineronlym");
  const double var = divide(1.0, sxx, "lineronlym");
  const double e = checkedsqrt(var, "lineronlym");
  par[0] = m;
  err[0] = e;
  cov = matr{{var}};
}

// The gradient follows the verdict's warning whatever the verdict: it is
// the one number this fit is made for.
void lineronlym::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=mx with", {"m"}, 3);
}

std::string lineronlym::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + " *x";
}

// ------------------------------------------------------------------- polynom

polynom::polynom(int degree) {
  if (degree < 1 || degree > kMaxDegree)
    throw engine_error(kFailedFit, texts::kPolyDegreeRange);
  order = static_cast<std::uint16_t>(degree);
}

namespace {

// The expanded form: the terms summed highest power first; the integer
// powers are products (x^0 = 1, 0^k = 0 as with xpow), not calls of pow.
double expandedvalue(const double *par, int n, double x) {
  double powers[polynom::kMaxDegree + 1];
  powers[0] = 1.0;
  for (int k = 1; k <= n; ++k)
    powers[k] = powers[k - 1] * x;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i)
    sum += par[i] * powers[n - i];
  return sum;
}

// The coefficients of sum c[o] (x + t)^(N-o) in powers of x, highest
// first: coefficient c gathers binom(N-o, c-o) c[o] t^(c-o) for o <= c.
void shiftcentre(const long double *c, int N, long double t, long double *out) {
  long double tp[polynom::kMaxDegree + 1];
  tp[0] = 1.0L;
  for (int k = 1; k <= N; ++k)
    tp[k] = tp[k - 1] * t;
  for (int r = 0; r <= N; ++r) {
    long double sum = 0.0L;
    for (int o = 0; o <= r; ++o)
      sum += static_cast<long double>(binom(N - o, r - o)) * c[o] * tp[r - o];
    out[r] = sum;
  }
}

constexpr int kMaxFitDegree = polynom::kMaxDegree;

// Calls f with std::integral_constant<int, N> for N from 1 to kMaxFitDegree,
// so that the loops over the points below run with the degree fixed when
// compiled: their sums then stay in registers instead of arrays in memory.
// The arithmetic, and so every result, is that of a loop over k.
template <class F> void bydegree(int N, F f) {
  [&]<int... D>(std::integer_sequence<int, D...>) {
    ((N == D + 1 ? (f(std::integral_constant<int, D + 1>{}), true) : false) || ...);
  }
  (std::make_integer_sequence<int, kMaxFitDegree>{});
}

// Sums of w x'^k (k to 2N) and w y' x'^k (k to N) on the centred, scaled
// values x' = (x - xm) rfx, y' = (y - ym) rfy, added to sxk and syk.
template <int N, bool YY>
void powersums(const drow &X, const drow &Y, const drow &W, double xm, double ym, double drfx,
               double drfy, long double *sxk, long double *syk, long double *syy) {
  long double sx[2 * N + 1] = {};
  long double sy[N + 1] = {};
  long double yy = 0.0L;
  const int n = W.n;
  for (int i = 0; i < n; ++i) {
    const double w = W[i];
    if (w == 0.0)
      continue;
    const double u = (X[i] - xm) * drfx;
    const double yv = (Y[i] - ym) * drfy;
    const long double lw = w;
    const long double lwy = lw * yv;
    if constexpr (YY)
      yy += lwy * yv;
    double up = 1.0; // u^k, with 0^0 = 1
    for (int k = 0; k <= N; ++k) {
      sx[k] += lw * up;
      sy[k] += lwy * up;
      up *= u;
    }
    for (int k = N + 1; k <= 2 * N; ++k) {
      sx[k] += lw * up;
      up *= u;
    }
  }
  for (int k = 0; k <= 2 * N; ++k)
    sxk[k] += sx[k];
  for (int k = 0; k <= N; ++k)
    syk[k] += sy[k];
  *syy += yy;
}

} // namespace

double polynom::value(double x) const {
  const int n = order;
  if (centred_) {
    const double d = x - centre_;
    double sum = cpar_[0];
    for (int i = 1; i <= n; ++i)
      sum = sum * d + cpar_[i];
    return sum;
  }
  return expandedvalue(par, n, x);
}

namespace {

constexpr int kTerms = polynom::kMaxDegree + 1;

// The points of a polynomial fit of degree N.
struct polypoints {
  const drow &X;
  const drow &Y;
  const drow &W;
  int n; // number of points, W.n
  int N;
};

// Where the data lie: their means, and the powers of ten that bring the
// centred values to a range of about one.
struct polyscale {
  double xm = 0.0;
  double ym = 0.0;
  long double fx = 1.0L;  // 10^sx, sx the decimal exponent of the x range
  long double fy = 1.0L;  // 10^sy
  long double rfx = 1.0L; // 1 / fx
  long double rfy = 1.0L; // 1 / fy
  double xreach = 0.0;    // the largest |x - xm|
  double yreach = 0.0;    // the largest |y - ym|
  // Whether the data lie so far from x = 0 or y = 0 that the curve's values
  // rounded to double may not give the chi-square: the normal equations
  // then give it, from sum w y'^2 as well.
  bool far = false;
};

// The means of x and y and the extremes of x - xm and y - ym.
struct polyspread {
  double xm, ym, xlo, xhi, ylo, yhi;
};

// In one pass over the points: each sum adds the values in the order
// dataset::meanx() and meany() add them, and since rounding keeps order,
// the extremes of x - xm are those of x less xm (the means being finite, so
// is every value). requirepoints has made x, y and the weights as long.
polyspread spreadof(const polypoints &pts) {
  const drow &X = pts.X, &Y = pts.Y;
  double sx = 0.0, sy = 0.0;
  double xmin = X[0], xmax = X[0], ymin = Y[0], ymax = Y[0];
  for (int i = 0; i < pts.n; ++i) {
    const double x = X[i], y = Y[i];
    sx += x;
    sy += y;
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ymin = std::min(ymin, y);
    ymax = std::max(ymax, y);
  }
  const double xm = divide(sx, pts.n, "mean"), ym = divide(sy, pts.n, "mean");
  return {xm, ym, xmin - xm, xmax - xm, ymin - ym, ymax - ym};
}

polyscale scaleof(const polypoints &pts) {
  polyscale sc;
  const polyspread s = spreadof(pts);
  sc.xm = s.xm;
  sc.ym = s.ym;
  const double xlo = s.xlo, xhi = s.xhi, ylo = s.ylo, yhi = s.yhi;
  sc.xreach = std::max(-xlo, xhi);
  sc.yreach = std::max(-ylo, yhi);
  sc.far = !(std::fabs(sc.xm) <= 1e4 * sc.xreach && std::fabs(sc.ym) <= 1e4 * sc.yreach);
  const int sx = scaleexponent(xhi - xlo);
  const int sy = scaleexponent(yhi - ylo);
  sc.fx = std::pow(10.0L, sx);
  sc.fy = std::pow(10.0L, sy);
  sc.rfx = 1.0L / sc.fx;
  sc.rfy = 1.0L / sc.fy;
  return sc;
}

// The normal equations on the centred, scaled values, divided by the number
// of points: Al a = vl in long double, and A a = v as the solvers take it.
struct polynormal {
  long double Al[kTerms][kTerms];
  long double vl[kTerms];
  long double syy; // sum of w y'^2
  matr A;
  vec v;
};

polynormal normalequations(const polypoints &pts, const polyscale &sc) {
  const int N = pts.N;
  const int np = N + 1;
  const double drfx = static_cast<double>(sc.rfx);
  const double drfy = static_cast<double>(sc.rfy);
  // Sums of w x'^k (k to 2N) and w y' x'^k (k to N).
  long double sxk[2 * polynom::kMaxDegree + 1] = {};
  long double syk[kTerms] = {};
  long double syy = 0.0L;
  bydegree(N, [&](auto degree) {
    if (sc.far)
      powersums<degree, true>(pts.X, pts.Y, pts.W, sc.xm, sc.ym, drfx, drfy, sxk, syk, &syy);
    else
      powersums<degree, false>(pts.X, pts.Y, pts.W, sc.xm, sc.ym, drfx, drfy, sxk, syk, &syy);
  });
  const long double ln = pts.n;
  polynormal ne{{}, {}, syy, matr(np, np), vec(np)};
  for (int s = 0; s < np; ++s) {
    ne.vl[s] = syk[N - s] / ln;
    ne.v[s] = checked(static_cast<double>(ne.vl[s]), "polynom");
    for (int c = 0; c < np; ++c) {
      ne.Al[c][s] = sxk[2 * N - s - c] / ln;
      ne.A(c, s) = checked(static_cast<double>(ne.Al[c][s]), "polynom");
    }
  }
  return ne;
}

// vl - Al a, the residual of the long double normal equations.
vec normalresidual(const polynormal &ne, const long double *a, int np) {
  vec r(np);
  for (int s = 0; s < np; ++s) {
    long double sum = ne.vl[s];
    for (int c = 0; c < np; ++c)
      sum -= ne.Al[s][c] * a[c];
    r[s] = checked(static_cast<double>(sum), "polynom");
  }
  return r;
}

// The normal equations solved by the chosen solver, the solution then
// refined twice against their long double form.
void solvenormal(const linearsystem &sys, const polynormal &ne, int np, long double *a) {
  const vec a0 = sys.solve(ne.v);
  for (int s = 0; s < np; ++s)
    a[s] = a0[s];
  for (int step = 0; step < 2; ++step) {
    const vec d = sys.solve(normalresidual(ne, a, np));
    for (int s = 0; s < np; ++s)
      a[s] += d[s];
  }
}

// The condition of the normal matrix in the 1-norm: |Al| |Al^-1|.
long double normalcondition(const polynormal &ne, const matr &inv, int np) {
  long double anorm = 0.0L, inorm = 0.0L;
  for (int k = 0; k < np; ++k) {
    long double as = 0.0L, is = 0.0L;
    for (int r = 0; r < np; ++r) {
      as += std::fabs(ne.Al[r][k]);
      is += std::fabs(inv(r, k));
    }
    anorm = std::max(anorm, as);
    inorm = std::max(inorm, is);
  }
  return anorm * inorm;
}

// The uncertainties of the expanded coefficients and the covariances of
// both forms.
struct polyuncertainty {
  double e[kTerms];
  matr C;  // of the expanded coefficients
  matr CC; // of the centred coefficients
};

// g Ainv g^T / n, with g(r, k) = binom(N-k, r-k) ts^(r-k) the de-centring
// by ts in scaled units (k <= r).
void decentredinverse(const matr &inv, long double ts, int N, long double ln,
                      long double (*gq)[kTerms]) {
  const int np = N + 1;
  long double g[kTerms][kTerms] = {};
  for (int r = 0; r < np; ++r) {
    long double tp = 1.0L;
    for (int k = r; k >= 0; --k) {
      g[r][k] = static_cast<long double>(binom(N - k, r - k)) * tp;
      tp *= ts;
    }
  }
  for (int r = 0; r < np; ++r)
    for (int q = 0; q < np; ++q) {
      long double sum = 0.0L;
      for (int k = 0; k <= r; ++k)
        for (int l = 0; l <= q; ++l)
          sum += g[r][k] * inv(k, l) * g[q][l];
      gq[r][q] = sum / ln;
    }
}

// var(par[r]) = 10^(-2 (N-r) sx) (g Ainv g^T)(r, r) / n, and the centred
// covariance is Ainv / n un-scaled.
polyuncertainty uncertainties(const matr &inv, long double t, const polyscale &sc, int N,
                              long double ln) {
  const int np = N + 1;
  long double gq[kTerms][kTerms] = {};
  decentredinverse(inv, t * sc.rfx, N, ln, gq);
  long double unscale[kTerms]; // 10^(-(N-r) sx)
  for (int r = 0; r < np; ++r)
    unscale[r] = std::pow(sc.rfx, N - r);
  polyuncertainty u{{}, matr(np, np), matr(np, np)};
  for (int r = 0; r < np; ++r) {
    u.e[r] = checked(
        static_cast<double>(unscale[r] * std::sqrt(std::max(0.0L, checkedl(gq[r][r])))), "polynom");
    for (int q = 0; q < np; ++q) {
      u.C(r, q) = static_cast<double>(unscale[r] * unscale[q] * gq[r][q]);
      u.CC(r, q) = static_cast<double>(unscale[r] * unscale[q] * inv(r, q) / ln);
    }
  }
  return u;
}

} // namespace

// value() for many points, with the degree fixed when compiled.
void polynom::values(const double *x, double *out, int count) const {
  if (!centred_ || order < 1 || order > kMaxDegree) {
    for (int i = 0; i < count; ++i)
      out[i] = polynom::value(x[i]);
    return;
  }
  bydegree(order, [&](auto degree) {
    for (int i = 0; i < count; ++i) {
      const double d = x[i] - centre_;
      double sum = cpar_[0];
      for (int k = 1; k <= degree; ++k)
        sum = sum * d + cpar_[k];
      out[i] = sum;
    }
  });
}

namespace {

// The solution of the double path before it is written into the fit, with
// its chi-square.
struct cheappoly {
  double p[kTerms];
  double c[kTerms];
  polyuncertainty u;
  double chisq; // from the normal equations, where the data are far
  double moved; // valuesmoved()
  bool trusted;
  bool keepchisq; // chisq rather than the sum over value()
};

constexpr long double kDoubleEps = 2.3e-16L;
constexpr long double kLongEps = 1.1e-19L;

// Whether the double path's coefficients lie certainly within a thousandth
// of their uncertainties of the exact least-squares solution: the error of
// the centred solution (the rounding of the scaled data and the solve, at
// most the double precision times the normal matrix's condition times the
// largest coefficient) carried through the de-centring, plus the
// de-centring's own rounding.
bool coefficientstrusted(const long double *a, const long double *f, const long double *c,
                         long double t, long double cond, const polyuncertainty &u, int N) {
  if (!(cond * kDoubleEps <= 1e-4L))
    return false;
  long double amax = 0.0L;
  for (int s = 0; s <= N; ++s)
    amax = std::max(amax, std::fabs(a[s]));
  for (int r = 0; r <= N; ++r) {
    long double spread = 0.0L, size = 0.0L, tp = 1.0L;
    for (int o = r; o >= 0; --o) {
      const auto b = static_cast<long double>(binom(N - o, r - o));
      spread += b * f[o] * tp;
      size += b * std::fabs(c[o]) * tp;
      tp *= std::fabs(t);
    }
    const long double bound = kDoubleEps * cond * amax * spread + 8.0L * kLongEps * size;
    if (!(bound <= 1e-3L * u.e[r]))
      return false;
  }
  return true;
}

// The chi-square of the centred solution from the normal equations,
// sum w y'^2 - n a.v, with the bound of what its cancellation and the long
// double sums may have lost; 0 where it cannot be trusted to 6 digits (the
// exact path then computes it). Far from x = 0 the curve's values rounded
// to double can move the deviations by more than that, so the fit keeps
// this one.
long double normalchisquare(const polynormal &ne, const long double *a, const polyscale &sc,
                            long double cond, int N, int n) {
  long double av = 0.0L;
  for (int s = 0; s <= N; ++s)
    av += a[s] * ne.vl[s];
  const long double ln = n;
  const long double scaled = ne.syy - ln * av;
  const long double lost = kLongEps * (8.0L * std::sqrt(ln) + 4.0L * cond) * ne.syy;
  if (!(scaled > 0.0L) || !(lost <= 1e-8L * scaled))
    return 0.0L;
  return scaled * sc.fy * sc.fy;
}

// How far the rounding of the centred coefficients to double and of the
// curve's values can move the chi-square that value() gives: every
// deviation moves by at most a few units of the largest term of the curve,
// so the chi-square c by at most 2 m sqrt(c) + m^2 with m this bound times
// the square root of the sum of the weights.
long double valuesmoved(const polyscale &sc, const double *cp, int N, long double sumw) {
  long double curve = std::fabs(static_cast<long double>(sc.ym)) + sc.yreach, xp = 1.0L;
  for (int k = N; k >= 0; --k) {
    curve += std::fabs(static_cast<long double>(cp[k])) * xp;
    xp *= sc.xreach;
  }
  return 4.0L * kDoubleEps * curve * std::sqrt(sumw);
}

bool valuesholds(long double chisq, long double moved) {
  return 2.0L * moved * std::sqrt(chisq) + moved * moved <= 1e-7L * chisq;
}

// The double path: the normal equations on centred, scaled copies of the
// data, with the sums, the normal equations and the de-centring carried in
// long double:
// 1. the normal equations are solved with the chosen solver and the
//    solution refined twice against their long double form;
// 2. the centred coefficients are de-centred into p.
// The uncertainties are those of the expanded coefficients, from the
// inverse of the normal matrix (every weight is 1 / error^2, so carrying
// each point's error through the solution gives that inverse), formed in
// the scaled units and un-scaled only in the square root. `trusted` says
// whether the error bounds above hold the results to the fit's accuracy.
cheappoly cheapfit(const polypoints &pts, const polyscale &sc, bool gauss) {
  const int N = pts.N;
  const int np = N + 1;
  const polynormal ne = normalequations(pts, sc);
  const linearsystem sys(ne.A, gauss);
  long double a[kTerms];
  solvenormal(sys, ne, np, a);

  // Un-scaling: coefficient s carries 10^((s-N) sx) 10^sy.
  long double f[kTerms];
  for (int s = 0; s < np; ++s)
    f[s] = sc.fy * std::pow(sc.rfx, N - s);
  long double c[kTerms];
  for (int s = 0; s < np; ++s)
    c[s] = a[s] * f[s];
  c[N] += sc.ym;

  // De-centring: p is the same polynomial in powers of x.
  const long double t = -static_cast<long double>(sc.xm);
  long double pl[kTerms];
  shiftcentre(c, N, t, pl);
  cheappoly r{};
  for (int s = 0; s < np; ++s)
    r.p[s] = checked(static_cast<double>(pl[s]), "polynom");
  const matr inv = sys.inverse();
  const long double cond = normalcondition(ne, inv, np);

  r.u = uncertainties(inv, t, sc, N, pts.n);
  for (int s = 0; s < np; ++s)
    r.c[s] = checked(static_cast<double>(c[s]), "polynom");
  r.moved =
      static_cast<double>(valuesmoved(sc, r.c, N, ne.Al[N][N] * static_cast<long double>(pts.n)));
  r.trusted = coefficientstrusted(a, f, c, t, cond, r.u, N);
  if (sc.far) {
    // The chi-square from the normal equations, kept where the values'
    // rounding may move the sum over them by more than 10^-7.
    const long double chisq = normalchisquare(ne, a, sc, cond, N, pts.n);
    r.chisq = static_cast<double>(chisq);
    r.trusted = r.trusted && chisq > 0.0L && std::isfinite(r.chisq);
    r.keepchisq = !valuesholds(chisq, r.moved);
  }
  return r;
}

} // namespace

// Up to this many points times coefficients the exact path costs no more
// than a few milliseconds, and every fit takes it.
constexpr int kExactWork = 16384;

// Weighted least squares: the exact path in multiple-precision arithmetic
// for all but large datasets, and for those too where the double path's
// error bounds do not hold the results to within a thousandth of their
// uncertainties and the chi-square to 7 digits (or where it faults). The
// exact path fails with its reason where no result exists or a double
// cannot hold one.
void polynom::fit(bool gauss) {
  requirepoints(data);
  if (data->yerr ? data->yerr->n != data->w->n : !data->weightsonly())
    throw engine_error(kRowLengths, "The y errors and the weights differ in length");
  const int N = order;
  const int np = N + 1;
  const polypoints pts{*data->x, *data->y, *data->w, data->w->n, N};
  if (pts.n <= N)
    throw engine_error(kFailedFit, std::string(texts::kPolyOfDegree) + std::to_string(N) +
                                       " needs at least " + std::to_string(N + 1) + " points");
  const polyscale sc = scaleof(pts);
  std::optional<cheappoly> cheap;
  if (pts.n * np > kExactWork) {
    try {
      cheap = cheapfit(pts, sc, gauss);
    } catch (const engine_error &) {
      cheap.reset(); // the exact path decides
    }
  }
  if (cheap && cheap->trusted) {
    for (int s = 0; s < np; ++s) {
      par[s] = cheap->p[s];
      err[s] = cheap->u.e[s];
      cpar_[s] = cheap->c[s];
    }
    cov = cheap->u.C;
    centredcov = cheap->u.CC;
    centre_ = sc.xm;
    centred_ = true;
    if (cheap->keepchisq)
      keepchisq(cheap->chisq);
    // Near x = 0 the sum over value() holds unless the deviations are as
    // small as the rounding (data on the curve): chisq() then asks for the
    // exact one.
    valuesmoved_ = sc.far ? 0.0 : cheap->moved;
    std::copy(std::begin(par), std::end(par), fittedpar_);
    return;
  }
  const exactpoly r = exactpolyfit(pts.X, pts.Y, pts.W, N, sc.xm, gauss);
  for (int s = 0; s < np; ++s) {
    par[s] = r.par[s];
    err[s] = r.err[s];
    cpar_[s] = r.cpar[s];
  }
  cov = r.cov;
  centredcov = r.centredcov;
  centre_ = r.centre;
  centred_ = true;
  // The sum over value() where it holds 7 digits of the exact chi-square,
  // otherwise the exact one.
  long double sumw = 0.0L;
  for (int i = 0; i < pts.n; ++i)
    sumw += pts.W[i];
  const long double moved = valuesmoved(sc, cpar_, N, sumw);
  if (!valuesholds(r.chisq, moved))
    keepchisq(r.chisq);
  valuesmoved_ = static_cast<double>(moved);
  std::copy(std::begin(par), std::end(par), fittedpar_);
}

double polynom::correctedchisq(double c) const {
  // Only for the coefficients this fit made, on points with weights: the
  // exact chi-square is that of the exact solution.
  if (valuesmoved_ == 0.0 || valuesholds(c, valuesmoved_) || !data || !data->x || !data->y ||
      !data->w || xweights || !std::equal(std::begin(par), std::end(par), fittedpar_))
    return c;
  try {
    const exactpoly r = exactpolyfit(*data->x, *data->y, *data->w, order, centre_, true);
    keepchisq(r.chisq);
    return r.chisq;
  } catch (const engine_error &) {
    return std::numeric_limits<double>::quiet_NaN();
  }
}

void polynom::setlinecentre(double centre, double atcentre, double chisq) {
  valuesmoved_ = 0.0;
  centre_ = centre;
  cpar_[0] = par[0];
  cpar_[1] = atcentre;
  centred_ = true;
  keepchisq(chisq);
}

void polynom::dropcentre() {
  centred_ = false;
  centre_ = 0.0;
}

void polynom::fitxerrors(bool gauss) {
  if (order != 1) {
    bfit::fitxerrors(gauss);
    return;
  }
  requirepoints(data);
  fit(gauss);
  drow W;
  const yorkline r = york(*data, false, par[0], W);
  const double a = checked(static_cast<double>(r.slope), "york");
  const double b = checked(static_cast<double>(r.intercept), "york");
  par[0] = a;
  par[1] = b;
  err[0] = checked(static_cast<double>(std::sqrt(r.vslope)), "york");
  err[1] = checked(static_cast<double>(std::sqrt(r.vintercept)), "york");
  matr C(2, 2);
  C(0, 0) = static_cast<double>(r.vslope);
  C(1, 1) = static_cast<double>(r.vintercept);
  C(0, 1) = C(1, 0) = static_cast<double>(r.covariance);
  cov = C;
  centredcov = C;
  xweights = std::make_unique<drow>(std::move(W));
  xerrmethod = "York";
  // The line about its weighted centroid, where it passes through ybar, and
  // its chi-square from there: far from x = 0 a x + b cancels.
  const double xbar = static_cast<double>(r.xbar);
  setlinecentre(xbar, static_cast<double>(r.ybar + r.slope * (xbar - r.xbar)),
                checked(static_cast<double>(r.chisq), "york"));
}

void polynom::describe(stringlist &lines, bool clear) const {
  std::string caption;
  switch (order) {
  case 1:
    caption = "Fit of the form y=ax+b with ";
    break;
  case 2:
    caption = "Fit of the form y=ax^2+bx+c with ";
    break;
  case 3:
    caption = "Fit of the form y=ax^3+bx^2+cx+d with ";
    break;
  default:
    caption = "Fit of the form y= SUM{i=0:N}( a{i}x^(N-i) ) ";
  }
  std::vector<std::string> labels;
  for (int i = 0; i <= order; ++i)
    labels.emplace_back(1, static_cast<char>('a' + i));
  describeform(lines, clear, caption, labels, 2);
}

// The expanded text of the coefficients reproduces the curve unless its
// terms cancel on the data's range (a polynomial far from x = 0); then the
// curve is written in powers of x - x0, x0 the fit's centre rounded to 15
// digits, so that gnuplot draws what the program draws.
std::string polynom::formula(int index) const {
  std::string s = formulahead(index);
  const int N = order;
  bool centredtext = false;
  if (centred_ && data && data->x && data->y && data->x->n > 0) {
    const drow &X = *data->x;
    const drow &Y = *data->y;
    double ylo = Y[0], yhi = Y[0], worst = 0.0;
    for (int i = 0; i < X.n; ++i) {
      if (i < Y.n) {
        ylo = std::min(ylo, Y[i]);
        yhi = std::max(yhi, Y[i]);
      }
      const double diff = std::fabs(expandedvalue(par, N, X[i]) - value(X[i]));
      worst = std::max(worst, std::isnan(diff) ? HUGE_VAL : diff);
    }
    double yrange = yhi - ylo;
    if (yrange == 0.0)
      yrange = std::fabs(yhi);
    centredtext = worst > 1e-9 * yrange;
  }
  if (!centredtext) {
    for (int i = 0; i <= N; ++i) {
      if (i > 0)
        s += " + ";
      s += generaltext(par[i], 8) + " *x**" + std::to_string(N - i);
    }
    return s;
  }
  const std::string x0text = generaltext(centre_, 15);
  double x0 = centre_;
  std::from_chars(x0text.data(), x0text.data() + x0text.size(), x0);
  long double c[kMaxDegree + 1], shifted[kMaxDegree + 1];
  for (int i = 0; i <= N; ++i)
    c[i] = cpar_[i];
  shiftcentre(c, N, static_cast<long double>(x0) - centre_, shifted);
  const std::string base = x0 < 0    ? "(x+" + generaltext(-x0, 15) + ")"
                           : x0 == 0 ? "x"
                                     : "(x-" + x0text + ")";
  for (int i = 0; i <= N; ++i) {
    if (i > 0)
      s += " + ";
    s += generaltext(static_cast<double>(shifted[i]), 15) + " *" + base + "**" +
         std::to_string(N - i);
  }
  return s;
}

} // namespace orvalle
