// The fits that are not linear in their parameters: the power law and the
// resonance curve, reduced to polynomial fits of transformed data, and the
// cosine and damped cosine, solved by Newton's iteration (bfit::iterate).
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "engine/fits.h"
#include "engine/fittexts.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

const double kLn10 = std::log(10.0);

void requireerrors(const dataset *d) {
  if (!d || !d->w || !d->x || !d->y || !d->yerr)
    throw engine_error(kFailedFit, texts::kNoWeightedDataset);
  if (d->x->n != d->w->n || d->y->n != d->w->n || d->yerr->n != d->w->n)
    throw engine_error(kRowLengths, texts::kRowsDiffer);
}

// requireerrors for the iterative fits, which log their failure line
// before the fault propagates.
void requireiterable(const dataset *d) {
  try {
    requireerrors(d);
  } catch (...) {
    logmessage(texts::kNotConverged);
    throw;
  }
}

// A dataset of transformed points, owned by the fit that makes it.
std::unique_ptr<dataset> transformed(int n) {
  auto t = std::make_unique<dataset>(false);
  t->x = std::make_shared<drow>(n);
  t->y = std::make_shared<drow>(n);
  t->yerr = std::make_shared<drow>(n);
  t->pointcount = t->filledcount = n;
  return t;
}

} // namespace

// ------------------------------------------------------------------- powersq

powersq::powersq(int) { order = 1; }

double powersq::value(double x) const { return par[0] * xpow(x * x, par[1] / 2.0); }

// dy/dx = B y / x, away from x = 0.
double powersq::slope(double x, double span) const {
  return x != 0.0 ? par[1] * value(x) / x : bfit::slope(x, span);
}

void powersq::fit(bool /*gauss*/) {
  requireerrors(data);
  const drow &X = *data->x;
  const drow &Y = *data->y;
  const drow &E = *data->yerr;
  const int n = data->w->n;
  for (int i = 0; i < n; ++i)
    if (X[i] == 0.0 || Y[i] == 0.0 || E[i] == 0.0) {
      logmessage("This fit routine can not have 0 value in the data for x or y");
      throw engine_error(kFailedFit,
                         "This fit routine can not have 0 value in the data for x or y");
    }
  auto t = transformed(n);
  for (int i = 0; i < n; ++i) {
    (*t->x)[i] = slog10(X[i] * X[i]);
    (*t->y)[i] = slog10(Y[i]);
    // The error of log10 y is sigma / (|y| ln 10).
    (*t->yerr)[i] = divide(E[i], std::fabs(Y[i]) * kLn10, "powersq");
  }
  t->makeweights();
  polynom line(1);
  line.data = t.get();
  line.fit(true);
  const double m = line.par[0], c = line.par[1];
  const double A = xpow(10.0, c);
  const double sa = checked(A * kLn10 * line.err[1], "powersq");
  const double B = 2.0 * m;
  const double sb = 2.0 * line.err[0];
  // (A, B) = (10^c, 2 m): dA/dc = A ln 10, dB/dm = 2, applied to the
  // line's covariance of (m, c).
  const double dA = A * kLn10;
  matr C(2, 2);
  C(0, 0) = checked(dA * dA * line.cov(1, 1), "powersq");
  C(0, 1) = C(1, 0) = checked(dA * 2.0 * line.cov(0, 1), "powersq");
  C(1, 1) = 4.0 * line.cov(0, 0);
  par[0] = A;
  par[1] = B;
  err[0] = sa;
  err[1] = sb;
  cov = C;
}

void powersq::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=A*(x^2)^(B/2) with ", {"A", "B"}, 2);
}

std::string powersq::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + " *(x**2)**" + generaltext(par[1] / 2.0, 8);
}

// ----------------------------------------------------------------- resonance

resonance::resonance(int) { order = 2; }

double resonance::value(double x) const {
  const double d = par[1] - x;
  return par[0] / (d * d + par[2]);
}

// dy/dx = 2 A (B - x) / ((B - x)^2 + C)^2.
double resonance::slope(double x, double /*span*/) const {
  const double d = par[1] - x;
  const double q = d * d + par[2];
  return 2.0 * par[0] * d / (q * q);
}

void resonance::fit(bool /*gauss*/) {
  try {
    requireerrors(data);
    const drow &X = *data->x;
    const drow &Y = *data->y;
    const drow &E = *data->yerr;
    const int n = data->w->n;
    auto t = transformed(n);
    for (int i = 0; i < n; ++i) {
      (*t->x)[i] = X[i];
      (*t->y)[i] = divide(1.0, Y[i], "resonance");
      // The error of 1/y is sigma / y^2.
      (*t->yerr)[i] = divide(E[i], Y[i] * Y[i], "resonance");
    }
    t->makeweights();
    polynom parabola(2);
    parabola.data = t.get();
    parabola.fit(true);
    // The parabola as it was solved, in powers of u = x - x0: 1/y = a u^2 +
    // b u + c. Then A = 1/a, B = x0 - b / (2a) and C = c/a - (b / (2a))^2:
    // near the resonance b is small and nothing cancels, however far the
    // centre lies from x = 0.
    const double x0 = parabola.centre();
    const double *cp = parabola.centredpar();
    const double a = cp[0], b = cp[1], c = cp[2];
    const double A = divide(1.0, a, "resonance");
    const double h = divide(b, 2.0 * a, "resonance"); // x0 - B
    const double B = checked(x0 - h, "resonance");
    const double C = checked(c / a - h * h, "resonance");
    // First-order propagation with the centred parabola's covariance: the
    // derivatives of (A, B, C) with respect to (a, b, c).
    const double a2 = a * a;
    const double d[3][3] = {
        {-1.0 / a2, 0.0, 0.0},
        {h / a, -1.0 / (2.0 * a), 0.0},
        {-c / a2 + 2.0 * h * h / a, -h / a, 1.0 / a},
    };
    matr V(3, 3);
    for (int r = 0; r < 3; ++r)
      for (int q = 0; q < 3; ++q) {
        double sum = 0.0;
        for (int k = 0; k < 3; ++k)
          for (int l = 0; l < 3; ++l)
            sum += d[r][k] * parabola.centredcov(k, l) * d[q][l];
        V(r, q) = checked(sum, "resonance");
      }
    double e[3];
    for (int r = 0; r < 3; ++r)
      e[r] = checkedsqrt(std::max(0.0, V(r, r)), "resonance");
    par[0] = A;
    par[1] = B;
    par[2] = C;
    for (int r = 0; r < 3; ++r)
      err[r] = e[r];
    cov = V;
  } catch (...) {
    logmessage("There is an error with your fit routine");
    throw engine_error(kFailedFit, "There is an error with your fit routine");
  }
}

void resonance::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=A/((B-x)^2+C) with ", {"A", "B", "C"}, 2);
}

std::string resonance::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + " / ( (" + generaltext(-par[1], 8) +
         " + x)**2 + " + generaltext(par[2], 8) + " )";
}

// ------------------------------------------------------------------ periodic

periodic::periodic(int) { order = 1; }

double periodic::value(double x) const { return par[0] * std::cos(par[1] * x); }

double periodic::slope(double x, double /*span*/) const {
  return -par[0] * par[1] * std::sin(par[1] * x);
}

void periodic::fit(bool /*gauss*/) {
  const dataset *d = data;
  auto F = [d](const vec &p) {
    const drow &X = *d->x;
    const drow &Y = *d->y;
    const drow &W = *d->w;
    const double A = p[0], B = p[1];
    double f0 = 0.0, f1 = 0.0;
    for (int i = 0; i < W.n; ++i) {
      const double x = X[i];
      const double c = std::cos(B * x), s = std::sin(B * x);
      const double r = W[i] * (A * c - Y[i]);
      f0 += r * c;
      f1 += r * (-A * x * s);
    }
    vec out(2);
    out[0] = checked(f0, "periodic");
    out[1] = checked(f1, "periodic");
    return out;
  };
  auto G = [](const vec &p, double x, double, double w, double *g) {
    const double A = p[0], B = p[1];
    g[0] = checked(w * std::cos(B * x), "periodic");
    g[1] = checked(w * (-A * x * std::sin(B * x)), "periodic");
  };
  requireiterable(data);
  iterate(F, G);
}

void periodic::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=A*cos(B*x) with ", {"A", "B"}, 2);
}

std::string periodic::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + " *cos(" + generaltext(par[1], 8) + " *x)";
}

// ------------------------------------------------------------- periodicdecay

namespace {

// One point's share of the gradient of y = A E cos(phase), with E =
// exp(B x), c = cos(phase), s = sin(phase). Every evaluation, plain or
// perturbed, goes through here so that the differences of the Jacobian
// are those of the plain function.
struct decayterm {
  static inline void add(double A, double E, double c, double s, double x, double y, double w,
                         double *f) {
    const double Ec = E * c, AEc = A * Ec, AEs = A * (E * s);
    const double r = w * (AEc - y);
    const double rx = r * x;
    f[0] += r * Ec;
    f[1] += rx * AEc;
    f[2] -= rx * AEs;
    f[3] -= r * AEs;
  }
};

vec decaygradient(const dataset &d, const vec &p) {
  const drow &X = *d.x;
  const drow &Y = *d.y;
  const drow &W = *d.w;
  const double A = p[0], B = p[1], C = p[2], D = p[3];
  double f[4] = {0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < W.n; ++i) {
    const double x = X[i];
    const double E = std::exp(B * x);
    const double ph = C * x + D;
    decayterm::add(A, E, std::cos(ph), std::sin(ph), x, Y[i], W[i], f);
  }
  vec out(4);
  for (int k = 0; k < 4; ++k)
    out[k] = checked(f[k], "periodicdecay");
  return out;
}

} // namespace

periodicdecay::periodicdecay(int) { order = 3; }

double periodicdecay::value(double x) const {
  return par[0] * std::exp(par[1] * x) * std::cos(par[2] * x + par[3]);
}

// dy/dx = A exp(B x) (B cos(C x + D) - C sin(C x + D)).
double periodicdecay::slope(double x, double /*span*/) const {
  const double ph = par[2] * x + par[3];
  return par[0] * std::exp(par[1] * x) * (par[1] * std::cos(ph) - par[2] * std::sin(ph));
}

namespace {

// cos and sin of a small angle d: short series where they are exact to
// rounding, the library functions otherwise.
inline void smallturn(double d, double &cd, double &sd) {
  if (std::fabs(d) <= 1e-3) {
    const double d2 = d * d;
    cd = 1.0 - d2 * 0.5 + d2 * d2 * (1.0 / 24.0);
    sd = d - d * d2 * (1.0 / 6.0);
  } else {
    cd = std::cos(d);
    sd = std::sin(d);
  }
}

} // namespace

// The gradient at p and its forward differences in one pass over the
// points. The gradient is evaluated exactly as decaygradient does. For the
// nudged parameters the exponential and the cosine are not recomputed from
// scratch: a nudged B multiplies E by exp((B' - B) x), a nudged C or D
// turns the phase by (C' - C) x or D' - D, which agree with a fresh
// evaluation to rounding. This keeps one exponential and one sine/cosine
// per point and iteration.
namespace {

// Two points at a time: the sums below use GCC's generic vectors, which
// compile to plain SSE2 on x86-64 and to scalar pairs elsewhere.
using pair2 = double __attribute__((vector_size(16)));

inline void addpair(pair2 A, pair2 E, pair2 c, pair2 s, pair2 x, pair2 y, pair2 w, pair2 *f) {
  const pair2 Ec = E * c, AEc = A * Ec, AEs = A * (E * s);
  const pair2 r = w * (AEc - y);
  const pair2 rx = r * x;
  f[0] += r * Ec;
  f[1] += rx * AEc;
  f[2] -= rx * AEs;
  f[3] -= r * AEs;
}

inline pair2 splat(double v) { return pair2{v, v}; }

} // namespace

void periodicdecay::newtonsystem(const gradientfn &, const vec &p, vec &Fp, matr &J) {
  const vec q = nudged(p);
  const drow &X = *data->x;
  const drow &Y = *data->y;
  const drow &W = *data->w;
  const double A = p[0], B = p[1], C = p[2], D = p[3];
  const double dB = q[1] - B, dC = q[2] - C, dD = q[3] - D;
  double cD, sD;
  smallturn(dD, cD, sD);
  const pair2 vA = splat(A), vA1 = splat(q[0]), vdB = splat(dB), vdC = splat(dC);
  const pair2 vcD = splat(cD), vsD = splat(sD);
  const pair2 one = splat(1.0), half = splat(0.5), sixth = splat(1.0 / 6.0),
              tw4th = splat(1.0 / 24.0);
  pair2 f0[4] = {}, f[4][4] = {};
  // Blocks of points: first the library calls, then the sums, which run
  // without calls in between. A block is padded to an even count with a
  // point of weight 0, which adds exactly nothing.
  constexpr int kBlock = 512;
  alignas(16) double xb[kBlock], yb[kBlock], wb[kBlock], Eb[kBlock], cb[kBlock], sb[kBlock];
  for (int first = 0; first < W.n; first += kBlock) {
    const int count = std::min(kBlock, W.n - first);
    double widest = 0.0;
    for (int k = 0; k < count; ++k) {
      const double x = X[first + k];
      xb[k] = x;
      yb[k] = Y[first + k];
      wb[k] = W[first + k];
      Eb[k] = std::exp(B * x);
      const double ph = C * x + D;
      cb[k] = std::cos(ph);
      sb[k] = std::sin(ph);
      widest = std::max(widest, std::fabs(x));
    }
    int padded = count;
    if (padded % 2) {
      xb[padded] = yb[padded] = wb[padded] = sb[padded] = 0.0;
      Eb[padded] = cb[padded] = 1.0;
      ++padded;
    }
    // The short series hold while every turn and growth is small.
    const bool small = std::fabs(dB) * widest <= 1e-3 && std::fabs(dC) * widest <= 1e-3;
    for (int k = 0; k < padded; k += 2) {
      pair2 x, y, w, E, c, s;
      __builtin_memcpy(&x, xb + k, sizeof x);
      __builtin_memcpy(&y, yb + k, sizeof y);
      __builtin_memcpy(&w, wb + k, sizeof w);
      __builtin_memcpy(&E, Eb + k, sizeof E);
      __builtin_memcpy(&c, cb + k, sizeof c);
      __builtin_memcpy(&s, sb + k, sizeof s);
      pair2 growth, cC, sC;
      if (small) {
        const pair2 e = vdB * x;
        growth = one + e * (one + e * (half + e * (sixth + e * tw4th)));
        const pair2 d = vdC * x, d2 = d * d;
        cC = one - d2 * half + d2 * d2 * tw4th;
        sC = d - d * d2 * sixth;
      } else {
        for (int h = 0; h < 2; ++h) {
          growth[h] = std::exp(dB * x[h]);
          cC[h] = std::cos(dC * x[h]);
          sC[h] = std::sin(dC * x[h]);
        }
      }
      addpair(vA, E, c, s, x, y, w, f0);
      addpair(vA1, E, c, s, x, y, w, f[0]);
      addpair(vA, E * growth, c, s, x, y, w, f[1]);
      addpair(vA, E, c * cC - s * sC, s * cC + c * sC, x, y, w, f[2]);
      addpair(vA, E, c * vcD - s * vsD, s * vcD + c * vsD, x, y, w, f[3]);
    }
  }
  Fp = vec(4);
  for (int k = 0; k < 4; ++k)
    Fp[k] = checked(f0[k][0] + f0[k][1], "periodicdecay");
  J = matr(4, 4);
  for (int r = 0; r < 4; ++r) {
    const double step = q[r] - p[r];
    for (int c = 0; c < 4; ++c)
      J(r, c) = divide(checked(f[r][c][0] + f[r][c][1], "periodicdecay") - Fp[c], step, "jacobian");
  }
}

void periodicdecay::fit(bool /*gauss*/) {
  const dataset *d = data;
  auto F = [d](const vec &p) { return decaygradient(*d, p); };
  auto G = [](const vec &p, double x, double, double w, double *g) {
    const double A = p[0], B = p[1], C = p[2], D = p[3];
    const double E = std::exp(B * x);
    const double c = std::cos(C * x + D), s = std::sin(C * x + D);
    const double Ec = E * c, AEc = A * Ec, AEs = A * (E * s);
    g[0] = checked(w * Ec, "periodicdecay");
    g[1] = checked(w * x * AEc, "periodicdecay");
    g[2] = checked(-w * x * AEs, "periodicdecay");
    g[3] = checked(-w * AEs, "periodicdecay");
  };
  requireiterable(data);
  iterate(F, G);
}

void periodicdecay::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=A*exp(B*x)*cos(C*x+D) with ", {"A", "B", "C", "D"},
               2);
}

std::string periodicdecay::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + "*exp(x * " + generaltext(par[1], 8) +
         " )*cos(x * " + generaltext(par[2], 8) + "  + " + generaltext(par[3], 8) + " ) ";
}

} // namespace orvalle
