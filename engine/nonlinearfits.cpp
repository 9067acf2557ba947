// The fits that are not linear in their parameters: the power law and the
// resonance curve, reduced to polynomial fits of transformed data, and the
// cosine and damped cosine, solved by Newton's iteration (bfit::iterate).
#include <cmath>
#include <memory>
#include <string>

#include "engine/fits.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

const double kLn10 = std::log(10.0);

void requireerrors(const dataset *d) {
  if (!d || !d->w || !d->x || !d->y || !d->yerr)
    throw engine_error(kFailedFit, "The fit has no weighted dataset");
  if (d->x->n != d->w->n || d->y->n != d->w->n || d->yerr->n != d->w->n)
    throw engine_error(kRowLengths, "The dataset's rows differ in length");
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
  par[0] = A;
  par[1] = B;
  err[0] = sa;
  err[1] = sb;
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
    const double a = parabola.par[0], b = parabola.par[1], c = parabola.par[2];
    const double A = divide(1.0, a, "resonance");
    const double B = -A * b / 2.0;
    const double C = checked(A * c - B * B, "resonance");
    // First-order propagation with the parabola's full covariance: the
    // derivatives of (A, B, C) with respect to (a, b, c).
    const double a2 = a * a;
    const double d[3][3] = {
        {-1.0 / a2, 0.0, 0.0},
        {b / (2.0 * a2), -1.0 / (2.0 * a), 0.0},
        {-c / a2 + b * b / (2.0 * a2 * a), -b / (2.0 * a2), 1.0 / a},
    };
    double e[3];
    for (int r = 0; r < 3; ++r) {
      double var = 0.0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l)
          var += d[r][k] * parabola.cov(k, l) * d[r][l];
      e[r] = checkedsqrt(std::max(0.0, checked(var, "resonance")), "resonance");
    }
    par[0] = A;
    par[1] = B;
    par[2] = C;
    for (int r = 0; r < 3; ++r)
      err[r] = e[r];
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
  try {
    requireerrors(data);
  } catch (...) {
    logmessage("Fit failed to converge try improving estimates");
    throw;
  }
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
    const double r = w * (A * E * c - y);
    f[0] += r * (E * c);
    f[1] += r * (A * x * E * c);
    f[2] += r * (-A * x * E * s);
    f[3] += r * (-A * E * s);
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

// The same forward differences as bfit::stepjacobian, in one pass over the
// points: a nudged A needs no new exponential or cosine, a nudged B only a
// new exponential, a nudged C or D only a new cosine and sine.
matr periodicdecay::stepjacobian(const gradientfn &, const vec &p, const vec &Fp) {
  const vec q = nudged(p);
  const drow &X = *data->x;
  const drow &Y = *data->y;
  const drow &W = *data->w;
  const double A = p[0], B = p[1], C = p[2], D = p[3];
  const double A1 = q[0], B1 = q[1], C1 = q[2], D1 = q[3];
  double f[4][4] = {};
  for (int i = 0; i < W.n; ++i) {
    const double x = X[i], y = Y[i], w = W[i];
    const double E = std::exp(B * x);
    const double ph = C * x + D;
    const double c = std::cos(ph), s = std::sin(ph);
    decayterm::add(A1, E, c, s, x, y, w, f[0]);
    const double E1 = std::exp(B1 * x);
    decayterm::add(A, E1, c, s, x, y, w, f[1]);
    const double phc = C1 * x + D;
    decayterm::add(A, E, std::cos(phc), std::sin(phc), x, y, w, f[2]);
    const double phd = C * x + D1;
    decayterm::add(A, E, std::cos(phd), std::sin(phd), x, y, w, f[3]);
  }
  matr j(4, 4);
  for (int r = 0; r < 4; ++r) {
    const double step = q[r] - p[r];
    for (int c = 0; c < 4; ++c)
      j(r, c) = divide(checked(f[r][c], "periodicdecay") - Fp[c], step, "jacobian");
  }
  return j;
}

void periodicdecay::fit(bool /*gauss*/) {
  const dataset *d = data;
  auto F = [d](const vec &p) { return decaygradient(*d, p); };
  auto G = [](const vec &p, double x, double, double w, double *g) {
    const double A = p[0], B = p[1], C = p[2], D = p[3];
    const double E = std::exp(B * x);
    const double c = std::cos(C * x + D), s = std::sin(C * x + D);
    g[0] = checked(w * (E * c), "periodicdecay");
    g[1] = checked(w * (A * x * E * c), "periodicdecay");
    g[2] = checked(w * (-A * x * E * s), "periodicdecay");
    g[3] = checked(w * (-A * E * s), "periodicdecay");
  };
  try {
    requireerrors(data);
  } catch (...) {
    logmessage("Fit failed to converge try improving estimates");
    throw;
  }
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
