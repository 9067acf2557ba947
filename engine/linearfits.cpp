// The fits that are linear in their parameters: y = m x and polynomials.
#include <algorithm>
#include <cmath>
#include <string>

#include "engine/fits.h"

namespace orvalle {

namespace {

void requirepoints(const dataset *d) {
  if (!d || !d->w || !d->x || !d->y)
    throw engine_error(kFailedFit, "The fit has no weighted dataset");
  if (d->w->n != d->x->n || d->w->n != d->y->n)
    throw engine_error(kRowLengths, "The weights, x values and y values differ in length");
}

// 10^e for the integer scale exponents.
double tenpow(int e) { return xpow(10.0, e); }

// floor(slog10(range)), or 0 for an empty range (all values equal), which
// then fits them exactly as a constant.
int scaleexponent(double range) {
  if (range == 0.0)
    return 0;
  return static_cast<int>(std::floor(slog10(range)));
}

} // namespace

// ---------------------------------------------------------------- lineronlym

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

void lineronlym::describe(stringlist &lines, bool clear) const {
  const int v = verdict();
  if (hasverdict() && (v == -2 || v == 2)) {
    describeform(lines, clear, "Fit of the form y=mx with", {}, 3);
    return;
  }
  describeform(lines, clear, "Fit of the form y=mx with", {"m"}, 3);
}

std::string lineronlym::formula(int index) const {
  return formulahead(index) + generaltext(par[0], 8) + " *x";
}

// ------------------------------------------------------------------- polynom

polynom::polynom(int degree) {
  if (degree < 1 || degree > kMaxDegree)
    throw engine_error(kFailedFit, "A polynomial fit needs a degree from 1 to 9");
  order = static_cast<std::uint16_t>(degree);
}

// The terms are summed highest power first; the integer powers are
// products (x^0 = 1, 0^k = 0 as with xpow), not calls of pow.
double polynom::value(double x) const {
  const int n = order;
  double powers[kMaxDegree + 1];
  powers[0] = 1.0;
  for (int k = 1; k <= n; ++k)
    powers[k] = powers[k - 1] * x;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i)
    sum += par[i] * powers[n - i];
  return sum;
}

// Weighted least squares on centred, scaled copies of the data. The
// uncertainties come from carrying every point's error through the same
// linear solution, the unscaling and the de-centring, so that they belong
// to the coefficients as they are shown.
void polynom::fit(bool gauss) {
  requirepoints(data);
  if (!data->yerr || data->yerr->n != data->w->n)
    throw engine_error(kRowLengths, "The y errors and the weights differ in length");
  const int N = order;
  const int np = N + 1;
  const drow &X = *data->x;
  const drow &Y = *data->y;
  const drow &W = *data->w;
  const drow &E = *data->yerr;
  const int n = W.n;
  if (n == 0)
    throw engine_error(kFailedFit, "The dataset has no points");

  const double xm = data->meanx();
  const double ym = data->meany();
  double xlo = X[0] - xm, xhi = xlo, ylo = Y[0] - ym, yhi = ylo;
  for (int i = 1; i < n; ++i) {
    const double xc = X[i] - xm, yc = Y[i] - ym;
    xlo = std::min(xlo, xc);
    xhi = std::max(xhi, xc);
    ylo = std::min(ylo, yc);
    yhi = std::max(yhi, yc);
  }
  const int sx = scaleexponent(xhi - xlo);
  const int sy = scaleexponent(yhi - ylo);
  const double fx = tenpow(sx);
  const double fy = tenpow(sy);

  // One pass: sums of w x'^k (k to 2N), w y' x'^k (k to N) and, for the
  // uncertainties, w^2 sigma'^2 x'^k (k to 2N).
  long double sxk[2 * kMaxDegree + 1] = {};
  long double syk[kMaxDegree + 1] = {};
  long double ssk[2 * kMaxDegree + 1] = {};
  for (int i = 0; i < n; ++i) {
    const double w = W[i];
    if (w == 0.0)
      continue;
    const double xc = (X[i] - xm) / fx;
    const double yc = (Y[i] - ym) / fy;
    const double sc = E[i] / fy;
    const long double ww = static_cast<long double>(w);
    const long double wy = ww * yc;
    const long double wss = ww * ww * sc * sc;
    double xp = 1.0; // x'^k, with 0^0 = 1
    for (int k = 0; k <= 2 * N; ++k) {
      sxk[k] += ww * xp;
      ssk[k] += wss * xp;
      if (k <= N)
        syk[k] += wy * xp;
      xp *= xc;
    }
  }
  const long double ln = n;
  matr A(np, np);
  vec v(np);
  matr S(np, np);
  for (int s = 0; s < np; ++s) {
    v[s] = checked(static_cast<double>(syk[N - s] / ln), "polynom");
    for (int c = 0; c < np; ++c) {
      A(c, s) = checked(static_cast<double>(sxk[2 * N - s - c] / ln), "polynom");
      S(c, s) = checked(static_cast<double>(ssk[2 * N - s - c] / (ln * ln)), "polynom");
    }
  }

  // Solve, and form the solution's matrix for the error propagation:
  // inv u is what gauss(A, u) or tmul(cofinverse(A), u) gives.
  vec a;
  matr inv(np, np);
  if (gauss) {
    a = orvalle::gauss(A, v);
    for (int k = 0; k < np; ++k) {
      vec unit(np);
      unit[k] = 1.0;
      const vec col = orvalle::gauss(A, unit);
      for (int r = 0; r < np; ++r)
        inv(r, k) = col[r];
    }
  } else {
    const matr B = A.cofinverse();
    a = tmul(B, v);
    for (int r = 0; r < np; ++r)
      for (int k = 0; k < np; ++k)
        inv(r, k) = B(k, r);
  }

  // Unscale: coefficient s carries 10^((s-N) sx) 10^sy.
  vec f(np);
  for (int s = 0; s < np; ++s)
    f[s] = checked(xpow(10.0, (s - N) * sx) * fy, "polynom");

  // De-centring as a matrix D: p = D a', then ym is added to the constant.
  const double t = -xm;
  matr D(np, np);
  for (int c = 0; c < np; ++c) {
    D(c, c) = 1.0;
    for (int o = 0; o < c; ++o)
      D(c, o) = static_cast<double>(binom(N - o, c - o)) * xpow(t, c - o);
  }

  // Coefficients exactly as the de-centring rule states: the sums use the
  // unscaled coefficients, then ym joins the constant term, then the sums.
  double p[kMaxDegree + 1];
  for (int s = 0; s < np; ++s)
    p[s] = checked(a[s] * f[s], "polynom");
  double shift[kMaxDegree + 1] = {};
  for (int c = 1; c < np; ++c)
    for (int o = 0; o < c; ++o)
      shift[c] += static_cast<double>(binom(N - o, c - o)) * p[o] * xpow(t, c - o);
  p[N] += ym;
  for (int c = 1; c < np; ++c)
    p[c] = checked(p[c] + shift[c], "polynom");

  // Covariance: T = D diag(f) inv, cov = T S T^T.
  matr T(np, np);
  for (int r = 0; r < np; ++r)
    for (int k = 0; k < np; ++k) {
      double sum = 0.0;
      for (int o = 0; o <= r; ++o)
        sum += D(r, o) * f[o] * inv(o, k);
      T(r, k) = sum;
    }
  matr C(np, np);
  for (int r = 0; r < np; ++r)
    for (int c = 0; c < np; ++c) {
      long double sum = 0.0L;
      for (int k = 0; k < np; ++k)
        for (int l = 0; l < np; ++l)
          sum += static_cast<long double>(T(r, k)) * S(k, l) * T(c, l);
      C(r, c) = checked(static_cast<double>(sum), "polynom");
    }
  double e[kMaxDegree + 1];
  for (int s = 0; s < np; ++s)
    e[s] = checkedsqrt(std::max(0.0, C(s, s)), "polynom");

  for (int s = 0; s < np; ++s) {
    par[s] = p[s];
    err[s] = e[s];
  }
  cov = C;
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

std::string polynom::formula(int index) const {
  std::string s = formulahead(index);
  for (int i = 0; i <= order; ++i) {
    if (i > 0)
      s += " + ";
    s += generaltext(par[i], 8) + " *x**" + std::to_string(order - i);
  }
  return s;
}

} // namespace orvalle
