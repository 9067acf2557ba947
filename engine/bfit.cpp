#include "engine/bfit.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

#include "engine/fittexts.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

char &separatorsetting() {
  static char c = '.';
  return c;
}

// The 5 %, 20 %, 80 % and 95 % points for 1 to 30 degrees of freedom. The
// row for 30 is kept for completeness; 30 and more take the formula.
constexpr float kChiTable[30][4] = {
    {0.004f, 0.064f, 1.642f, 3.841f},     {0.103f, 0.446f, 3.219f, 5.991f},
    {0.352f, 1.005f, 4.642f, 7.815f},     {0.711f, 1.649f, 5.989f, 9.488f},
    {1.145f, 2.343f, 7.289f, 11.070f},    {1.635f, 3.070f, 8.558f, 12.592f},
    {2.167f, 3.822f, 9.803f, 14.067f},    {2.733f, 4.594f, 11.030f, 15.507f},
    {3.325f, 5.380f, 12.242f, 16.919f},   {3.940f, 6.179f, 13.442f, 18.307f},
    {4.575f, 6.989f, 14.631f, 19.675f},   {5.226f, 7.807f, 15.812f, 21.026f},
    {5.892f, 8.634f, 16.985f, 22.362f},   {6.571f, 9.467f, 18.151f, 23.685f},
    {7.261f, 10.307f, 19.311f, 24.996f},  {7.962f, 11.152f, 20.465f, 26.296f},
    {8.672f, 12.002f, 21.615f, 27.587f},  {9.390f, 12.857f, 22.760f, 28.869f},
    {10.117f, 13.716f, 23.900f, 30.144f}, {10.851f, 14.578f, 25.038f, 31.410f},
    {11.591f, 15.445f, 26.171f, 32.671f}, {12.338f, 16.314f, 27.301f, 33.924f},
    {13.091f, 17.187f, 28.429f, 35.172f}, {13.848f, 18.062f, 29.553f, 36.415f},
    {14.611f, 18.940f, 30.675f, 37.652f}, {15.379f, 19.820f, 31.795f, 38.885f},
    {16.151f, 20.703f, 32.912f, 40.113f}, {16.928f, 21.588f, 34.027f, 41.337f},
    {17.708f, 22.475f, 35.139f, 42.557f}, {18.493f, 23.364f, 36.250f, 43.773f},
};

const std::string kNoWarning;
const std::string kWarnings[5] = {
    "WARNING: The chi-square value from the fit is suspiciously small.  If your error estimates "
    "are correct, such a value has less than 1 chance in 20 of occurring.  Possibly your error "
    "estimates are too large.  If this is so, then the errors on the fitted parameters are also "
    "too large. If in doubt, consult a demonstrator.",
    "WARNING: The chi-square value from the fit is small enough to be slightly worrying, but is "
    "not strong evidence of an error.  If your error estimates are correct, such a value has less "
    "than 1 chance in 5 of occurring.  Possibly your error estimates are too large.  If this is "
    "so, then the errors on the fitted parameters are also too large. If in doubt, consult a "
    "demonstrator",
    "",
    "WARNING: The chi-square value from the fit is large enough to be slightly worrying, but is "
    "not strong evidence of an error. If your error estimates are correct, such a value has less "
    "than 1 chance in 5 of occurring.  Possibly your error estimates are too small.  If this is "
    "so, then the errors on the fitted parameters are also too small. Alternatively, this "
    "particular fit is not appropriate for your data.",
    "WARNING: The chi-square value from the fit is suspiciously large.  If your error estimates "
    "are correct, such a value has less than 1 chance in 20 of occurring.  Possibly your error "
    "estimates are too small.  If this is so, then the errors on the fitted parameters are also "
    "too small. Alternatively, this particular fit is not appropriate for your data. If in "
    "doubt, consult a demonstrator.",
};

// Rounds v down to `places` decimals: floor(v 10^places) / 10^places. A
// product that is not finite leaves v as it is.
double floorto(double v, int places) {
  const double scale = xpow(10.0, places);
  const double product = v * scale;
  if (!std::isfinite(product))
    return v;
  return std::floor(product) / scale;
}

} // namespace

void setdecimalseparator(char c) { separatorsetting() = c; }
char decimalseparator() { return separatorsetting(); }

std::string formulahead(int index) {
  std::string s("y");
  s.append(std::to_string(index));
  s.append("(x) = ");
  return s;
}

const std::string &verdictwarning(int verdict) {
  if (verdict < -2 || verdict > 2)
    return kNoWarning;
  return kWarnings[verdict + 2];
}

std::pair<std::string, std::string> shownpair(double v, double e, int digits) {
  if (e != 0.0 && std::isfinite(e) && e > 0.0 && std::isfinite(v)) {
    const int k = -static_cast<int>(std::floor(std::log10(e)));
    v = floorto(v, k + 2);
    e = floorto(e, k + digits);
  }
  const char sep = decimalseparator();
  return {generaltext(v, 8, sep), generaltext(e, 8, sep)};
}

bfit::bfit() = default;

// The series take themselves off their charts when destroyed.
bfit::~bfit() = default;

void bfit::fitplot(chartcanvas &mainchart, chartcanvas &devchart, int /*points*/, bool gauss) {
  if (!data)
    throw engine_error(kFailedFit, "The fit has no dataset");
  data->makeweights();
  if (data->hasxerrors())
    fitxerrors(gauss);
  else
    fit(gauss);
  requirefinite(*this);
  makeseries(mainchart, devchart);
}

void requirefinite(const bfit &fit) {
  const char *why = nullptr;
  double chisq = 0.0;
  for (int k = 0; k <= fit.order && k < bfit::kMaxParams && !why; ++k) {
    if (!std::isfinite(fit.par[k]) || !std::isfinite(fit.err[k]))
      why = "The fit gave a parameter or an uncertainty that is not a finite number";
    else if (fit.err[k] < 0.0)
      why = "The fit gave a negative uncertainty";
  }
  if (!why && !std::isfinite(chisq = fit.chisq()))
    why = "The fit gave a chi-square that is not a finite number";
  if (why) {
    logmessage(why);
    throw engine_error(kFailedFit, why);
  }
  fit.keepchisq(chisq);
}

void bfit::makeseries(chartcanvas &mainchart, chartcanvas &devchart) {
  const colour c = data && data->dcolour ? *data->dcolour : 0;
  curve = mainchart.makeline(c);
  devpoints = devchart.makeerrorpoints(0, "");
}

void bfit::keepchisq(double c) const {
  haskept_ = true;
  keptchisq_ = c;
  std::copy(std::begin(par), std::end(par), keptpar_);
  keptdata_ = data;
  keptweights_ = xweights ? xweights.get() : (data ? data->w.get() : nullptr);
  keptx_ = data ? data->x.get() : nullptr;
  kepty_ = data ? data->y.get() : nullptr;
}

// The kept chi-square holds while the fit reads the same rows with the same
// parameters: the rows of a dataset are replaced, never written over.
bool bfit::keptvalid() const {
  if (!haskept_ || data != keptdata_ || !data)
    return false;
  const drow *w = xweights ? xweights.get() : data->w.get();
  return w == keptweights_ && data->x.get() == keptx_ && data->y.get() == kepty_ &&
         std::equal(std::begin(par), std::end(par), keptpar_);
}

double bfit::chisq() const {
  if (!data || !data->w || !data->x || !data->y)
    return 0.0;
  if (keptvalid())
    return keptchisq_;
  const drow &x = *data->x;
  const drow &y = *data->y;
  const drow &w = xweights ? *xweights : *data->w;
  const int n = std::min({x.n, y.n, w.n});
  double sum = 0.0;
  // The curve's values a block at a time, summed in order as they come.
  constexpr int kBlock = 256;
  double f[kBlock];
  for (int from = 0; from < n; from += kBlock) {
    const int count = std::min(kBlock, n - from);
    values(x.data.data() + from, f, count);
    for (int k = 0; k < count; ++k) {
      const double d = y[from + k] - f[k];
      sum += w[from + k] * (d == 0.0 ? 0.0 : d * d);
    }
  }
  return correctedchisq(sum);
}

void bfit::values(const double *x, double *out, int n) const {
  for (int i = 0; i < n; ++i)
    out[i] = value(x[i]);
}

int bfit::dof() const {
  int n = 0;
  if (data && data->w)
    n = data->w->n;
  else if (data && data->x)
    n = data->x->n;
  return n - static_cast<int>(order) - 1;
}

chilimitset bfit::chilimits(int nu) {
  if (nu <= 0) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return {nan, nan, nan, nan};
  }
  if (nu < 30) {
    const float *r = kChiTable[nu - 1];
    return {r[0], r[1], r[2], r[3]};
  }
  // Wilson-Hilferty, every intermediate in single precision.
  const float fnu = static_cast<float>(nu);
  const float g = (2.0f / 9.0f) / fnu;
  const float h = std::sqrt(g);
  const float gp = 1.0f - g;
  const float z[4] = {-1.64485f, -0.84162f, 0.84162f, 1.64485f};
  chilimitset l{};
  for (int i = 0; i < 4; ++i) {
    const float t = gp + z[i] * h;
    const float cube = t * t * t;
    l[static_cast<std::size_t>(i)] = fnu * cube;
  }
  return l;
}

bool bfit::hasverdict() const { return dof() > 0; }

int bfit::verdict() const { return hasverdict() ? verdictfor(chisq()) : 0; }

int bfit::verdictfor(double c) const {
  if (!hasverdict())
    return 0;
  if (std::isnan(c))
    return 2; // a chi-square that cannot be computed is no good fit
  const chilimitset l = chilimits(dof());
  if (c < l[0])
    return -2;
  if (c > l[3])
    return 2;
  if (c < l[1])
    return -1;
  if (c > l[2])
    return 1;
  return 0;
}

const char *verdictwordof(int verdict) {
  switch (verdict) {
  case 0:
    return "good";
  case 1:
    return "suspicious";
  case 2:
    return "bad";
  default:
    return "";
  }
}

std::string bfit::verdictword() const { return hasverdict() ? verdictwordof(verdict()) : ""; }

void bfit::describeform(stringlist &lines, bool clear, const std::string &caption,
                        const std::vector<std::string> &labels, int digits) const {
  if (clear)
    lines.clear();
  lines.push_back(caption);
  if (!sharing.empty())
    lines.push_back(sharing);
  if (!xerrmethod.empty())
    lines.push_back(texts::kXErrorsIncluded + xerrmethod + ")");
  if (hasverdict()) {
    const std::string &warning = verdictwarning(verdict());
    if (!warning.empty())
      lines.push_back(warning);
  }
  for (std::size_t i = 0; i < labels.size() && i < static_cast<std::size_t>(kMaxParams); ++i) {
    const auto [v, e] = shownpair(par[i], err[i], digits);
    lines.push_back(labels[i] + " = " + v + " +/- " + e);
  }
}

double bfit::effectiveerror(int i) const {
  if (xweights) {
    if (i < 0 || i >= xweights->n || (*xweights)[i] <= 0.0)
      return 0.0;
    return 1.0 / std::sqrt((*xweights)[i]);
  }
  if (!data || !data->yerr || i < 0 || i >= data->yerr->n)
    return 0.0;
  return (*data->yerr)[i];
}

void bfit::fitxerrors(bool gauss) { effectivevariance(gauss); }

double bfit::slope(double x, double span) const {
  double h = 1e-6 * std::max(std::fabs(x), span);
  if (h == 0.0)
    h = 1e-6;
  return (value(x + h) - value(x - h)) / (2.0 * h);
}

namespace {

// Puts back the dataset's own y errors and ordinary weights however the
// effective-variance rounds end.
struct restoreerrors {
  dataset &d;
  rowref saved;
  ~restoreerrors() {
    d.yerr = saved;
    try {
      d.makeweights();
    } catch (...) {
    }
  }
};

} // namespace

void bfit::effectivevariance(bool gauss) {
  if (!data || !data->x || !data->y || !data->yerr || !data->xerr)
    throw engine_error(kFailedFit, texts::kNoErrorDataset);
  dataset &d = *data;
  const int n = d.x->n;
  if (d.xerr->n != n || d.yerr->n != n || d.y->n != n)
    throw engine_error(kRowLengths, texts::kErrorsDiffer);
  const drow &X = *d.x;
  const drow &SX = *d.xerr;
  const drow SY = *d.yerr;
  const double span = n > 0 ? d.maxx() - d.minx() : 0.0;

  double start[kMaxParams];
  std::copy(std::begin(par), std::end(par), start);
  restoreerrors guard{d, d.yerr};
  try {
    fit(gauss); // the ordinary fit starts the rounds
    auto eff = std::make_shared<drow>(n);
    for (int round = 1;; ++round) {
      if (round > kMaxEffectiveRounds) {
        logmessage(texts::kNotConverged);
        throw engine_error(kFailedFit, texts::kEffectiveVarianceUnsettled);
      }
      for (int i = 0; i < n; ++i) {
        if (SY[i] == 0.0) {
          (*eff)[i] = 0.0;
          continue;
        }
        const double sx = SX[i] * checked(slope(X[i], span), "slope");
        (*eff)[i] = checked(std::sqrt(SY[i] * SY[i] + sx * sx), "effective error");
      }
      d.yerr = eff;
      d.makeweights();
      double before[kMaxParams];
      std::copy(std::begin(par), std::end(par), before);
      fit(gauss);
      bool settled = true;
      for (int k = 0; k <= order && k < kMaxParams; ++k) {
        const double change = std::fabs(par[k] - before[k]);
        if (!(change <= 1e-10 * std::fabs(par[k]) + 1e-6 * std::fabs(err[k])))
          settled = false;
      }
      if (settled)
        break;
    }
    xweights = std::make_unique<drow>(*d.w);
    xerrmethod = texts::kEffectiveVariance;
  } catch (...) {
    std::copy(std::begin(start), std::end(start), par);
    throw;
  }
}

void bfit::newtonsystem(const gradientfn &F, const vec &p, vec &Fp, matr &J) {
  Fp = F(p);
  for (double f : Fp.data)
    checked(f, "gradient");
  J = jacobian(F, p, Fp);
}

matr bfit::iterationcovariance(const pointfn &G, const matr &J, const vec &p) const {
  const int np = p.n;
  // The solution of J g = G is linear in G: form the columns of J^-1 once
  // by elimination, then g = J^-1 G for every point. The covariance is
  // J^-1 S J^-T with S the sum of sigma^2 G G^T over the points.
  const matr inv = linearsystem(J, true).inverse();
  const drow &x = *data->x;
  const drow &y = *data->y;
  const drow &w = *data->w;
  const drow &s = *data->yerr;
  std::vector<double> S(static_cast<std::size_t>(np * np), 0.0);
  std::vector<double> g(static_cast<std::size_t>(np));
  for (int i = 0; i < w.n; ++i) {
    if (w[i] == 0.0)
      continue;
    G(p, x[i], y[i], w[i], g.data());
    const double s2 = s[i] * s[i];
    for (int a = 0; a < np; ++a) {
      const double sga = s2 * g[static_cast<std::size_t>(a)];
      for (int b = a; b < np; ++b)
        S[static_cast<std::size_t>(a * np + b)] += sga * g[static_cast<std::size_t>(b)];
    }
  }
  matr C(np, np);
  for (int k = 0; k < np; ++k)
    for (int l = k; l < np; ++l) {
      double sum = 0.0;
      for (int a = 0; a < np; ++a)
        for (int b = 0; b < np; ++b) {
          const int lo = std::min(a, b), hi = std::max(a, b);
          sum += inv(k, a) * S[static_cast<std::size_t>(lo * np + hi)] * inv(l, b);
        }
      C(k, l) = C(l, k) = checked(sum, "uncertainty");
    }
  return C;
}

void bfit::iterate(const gradientfn &F, const pointfn &G) {
  const int np = static_cast<int>(order) + 1;
  iterations = 0;
  try {
    if (!data || !data->w || !data->x || !data->y || !data->yerr)
      throw engine_error(kFailedFit, "no weighted dataset");
    vec p(np);
    for (int k = 0; k < np; ++k)
      p[k] = par[k];
    std::deque<vec> history;
    matr J;
    for (;;) {
      if (++iterations > kMaxIterations)
        throw engine_error(kFailedFit, "iteration bound reached");
      vec Fp;
      newtonsystem(F, p, Fp, J);
      const vec delta = gauss(J, Fp);
      history.push_back(delta);
      if (history.size() == 4) {
        const vec &old = history.front();
        const long double lp = l1norm(p);
        const long double lold = l1norm(old);
        const long double ldelta = l1norm(delta);
        if (lp * np * static_cast<long double>(1.605e-8) >= lold)
          break; // converged: the step three iterations back was tiny
        if (1000.0L * ldelta >= lold)
          throw engine_error(kFailedFit, "steps do not shrink");
        history.pop_front();
      }
      p = minus(p, delta);
    }
    if (std::isnan(p[0]))
      throw engine_error(kFailedFit, "no result");
    matr C = iterationcovariance(G, J, p);
    double errs[kMaxParams] = {};
    for (int k = 0; k < np; ++k) {
      checked(p[k], "parameter");
      errs[k] = checkedsqrt(C(k, k), "uncertainty");
    }
    for (int k = 0; k < np; ++k) {
      par[k] = p[k];
      err[k] = errs[k];
    }
    cov = std::move(C);
  } catch (...) {
    logmessage(texts::kNotConverged);
    throw engine_error(kFailedFit, texts::kNotConverged);
  }
}

} // namespace orvalle
