// Sample plug-in model: exponential decay y = A exp(-x/B).
//
// The fit starts from a weighted straight line through ln y (points with
// positive y), then refines A and B by Gauss-Newton steps on the
// chi-square, halving a step that would raise it. The uncertainties come
// from the inverse of the curvature matrix at the minimum.
#include <cmath>
#include <string>

#include "engine/plugin_abi.h"
#include "plugins/plugin_text.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string pending;
void *loghandle = nullptr;
orvalle_post_fn logpost = nullptr;

void logtext(const char *text) noexcept {
  try {
    pending = text;
  } catch (...) {
    return;
  }
  if (logpost)
    logpost(loghandle, ORVALLE_LOG_PLUGIN, 1);
}

struct sums {
  double aa = 0, ab = 0, bb = 0; // curvature J^T W J
  double ga = 0, gb = 0;         // J^T W r
  double chisq = 0;
};

sums evaluate(double A, double B, const orvalle_points &p) {
  sums s;
  for (int i = 0; i < p.n; ++i) {
    const double w = p.w[i];
    if (w == 0.0)
      continue;
    const double e = std::exp(-p.x[i] / B);
    const double f = A * e;
    const double r = p.y[i] - f;
    const double da = e;
    const double db = A * e * p.x[i] / (B * B);
    s.aa += w * da * da;
    s.ab += w * da * db;
    s.bb += w * db * db;
    s.ga += w * da * r;
    s.gb += w * db * r;
    s.chisq += w * r * r;
  }
  return s;
}

bool isreal(double v) { return std::isfinite(v); }

// Weighted straight line through ln y: ln y = ln A - x / B.
bool loglinearstart(const orvalle_points &p, double &A, double &B) {
  double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  int used = 0;
  for (int i = 0; i < p.n; ++i) {
    if (p.w[i] == 0.0 || !(p.y[i] > 0.0))
      continue;
    const double u = std::log(p.y[i]);
    const double w = p.w[i] * p.y[i] * p.y[i]; // sigma of ln y is sigma / y
    s += w;
    sx += w * p.x[i];
    sy += w * u;
    sxx += w * p.x[i] * p.x[i];
    sxy += w * p.x[i] * u;
    ++used;
  }
  if (used < 2)
    return false;
  const double det = s * sxx - sx * sx;
  if (det == 0.0 || !isreal(det))
    return false;
  const double slope = (s * sxy - sx * sy) / det;
  const double icpt = (sxx * sy - sx * sxy) / det;
  if (slope == 0.0 || !isreal(slope) || !isreal(icpt))
    return false;
  A = std::exp(icpt);
  B = -1.0 / slope;
  return isreal(A) && isreal(B);
}

// One Gauss-Newton step from (A, B), halved until it does not raise the
// chi-square; A, B and s move to the new point. converged tells whether the
// step was negligible, or no step lowers the chi-square (the minimum).
// False when the normal matrix is singular.
bool dampedstep(double &A, double &B, sums &s, const orvalle_points &pts, bool &converged) {
  const double det = s.aa * s.bb - s.ab * s.ab;
  if (!(det > 0.0) || !isreal(det))
    return false;
  double dA = (s.bb * s.ga - s.ab * s.gb) / det;
  double dB = (s.aa * s.gb - s.ab * s.ga) / det;
  for (int half = 0; half < 40; ++half) {
    const double nA = A + dA, nB = B + dB;
    if (nB != 0.0 && isreal(nA) && isreal(nB)) {
      const sums t = evaluate(nA, nB, pts);
      if (isreal(t.chisq) && t.chisq <= s.chisq) {
        converged =
            std::fabs(dA) <= 1e-12 * std::fabs(nA) && std::fabs(dB) <= 1e-12 * std::fabs(nB);
        converged = converged || s.chisq - t.chisq <= 1e-15 * s.chisq;
        A = nA;
        B = nB;
        s = t;
        return true;
      }
    }
    dA /= 2;
    dB /= 2;
  }
  converged = true; // no step lowers the chi-square: at its minimum
  return true;
}

} // namespace

EXPORT int orvalle_plugin_abi(void) { return ORVALLE_PLUGIN_ABI_VERSION; }

EXPORT const char *customfitname(void) { return "Exponential decay y=A*exp(-x/B)"; }

EXPORT int customestimates(void) { return 0; }

EXPORT int customispoly(void) { return 0; }

EXPORT const char *messageis(void) { return pending.c_str(); }

EXPORT void setloghangle(void *handle, orvalle_post_fn post) {
  loghandle = handle;
  logpost = post;
}

EXPORT double customfit_value(const orvalle_params *p, double x) {
  return p->par[0] * std::exp(-x / p->par[1]);
}

EXPORT int customfit_fit(orvalle_params *p, const orvalle_points *pts, int /*gauss*/) {
  if (!p || !pts || pts->n < 3) {
    logtext("Exponential decay fit: at least 3 points are needed");
    return 1;
  }
  double A = 0, B = 0;
  if (!loglinearstart(*pts, A, B)) {
    logtext("Exponential decay fit: the data need at least two points with positive y at "
            "different x and a slope");
    return 1;
  }
  sums s = evaluate(A, B, *pts);
  bool converged = false;
  for (int it = 0; it < 200 && !converged; ++it)
    if (!dampedstep(A, B, s, *pts, converged))
      break;
  const double det = s.aa * s.bb - s.ab * s.ab;
  if (!converged || !(det > 0.0) || !isreal(det) || !isreal(A) || !isreal(B)) {
    logtext("Exponential decay fit failed to converge");
    return 1;
  }
  const double eA = std::sqrt(s.bb / det);
  const double eB = std::sqrt(s.aa / det);
  if (!isreal(eA) || !isreal(eB)) {
    logtext("Exponential decay fit: the uncertainties could not be computed");
    return 1;
  }
  p->par[0] = A;
  p->par[1] = B;
  p->err[0] = eA;
  p->err[1] = eB;
  return 0;
}

EXPORT void customfit_describe(const orvalle_params *p, const orvalle_verdict *v, int /*clear*/,
                               orvalle_line_fn line, void *ctx) {
  try {
    const char sep = v ? v->separator : '.';
    line(ctx, "Fit of the form y=A*exp(-x/B) with ");
    if (v && v->warning && v->warning[0])
      line(ctx, v->warning);
    const char *labels[2] = {"A", "B"};
    for (int k = 0; k < 2; ++k) {
      const auto [value, error] = plugintext::pair(p->par[k], p->err[k], sep);
      const std::string text = std::string(labels[k]) + " = " + value + " +/- " + error;
      line(ctx, text.c_str());
    }
  } catch (...) {
  }
}

EXPORT void customfit_formula(const orvalle_params *p, int index, orvalle_line_fn line, void *ctx) {
  try {
    std::string text("y");
    text += std::to_string(index);
    text += "(x) = ";
    text += plugintext::general(p->par[0], 8);
    text += " *exp(-x/(";
    text += plugintext::general(p->par[1], 8);
    text += "))";
    line(ctx, text.c_str());
  } catch (...) {
  }
}
