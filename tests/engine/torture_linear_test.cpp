// Generated problems for the fits that are linear in their parameters:
// polynomials of degree 1 to 10, y = m x, and both kinds of multi-line fit,
// far from x = 0, at odd scales and with weights many orders apart, under
// both solvers. Each is checked against the least-squares solution
// computed here in 4096-bit floats from the uncentred normal equations (the
// fits' own paths centre, scale and use far fewer bits); a fit either fails with a reason or shows
// every parameter within 0.01 standard deviations of it, every uncertainty and chi-square to 6
// digits. ORVALLE_TORTURE_SCALE multiplies the number of cases (default 1).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/multfit.h"
#include "tests/engine/exactls.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

constexpr double kSigmas = 0.01;    // parameters: within this many sigma
constexpr double kUncertain = 1e-6; // uncertainties: relative
constexpr double kChi = 5e-7;       // chi-square: relative

int scaled(int base) {
  const char *s = std::getenv("ORVALLE_TORTURE_SCALE");
  const double f = s ? std::atof(s) : 1.0;
  return std::max(1, static_cast<int>(base * (f > 0.0 ? f : 1.0)));
}

// Uniform numbers from raw 64-bit draws, the same on every platform.
struct draws {
  std::mt19937_64 g;
  explicit draws(std::uint64_t seed) : g(seed) {}
  double uniform(double a, double b) {
    return a + (b - a) * (static_cast<double>(g() >> 11) * 0x1.0p-53);
  }
  int integer(int lo, int hi) { return lo + static_cast<int>(g() % (hi - lo + 1)); }
  double pick(std::initializer_list<double> v) {
    return *(v.begin() + integer(0, static_cast<int>(v.size()) - 1));
  }
  double power10(double lo, double hi) { return std::pow(10.0, uniform(lo, hi)); }
};

// What a run found: cases, honest failures, and the first few misses.
struct tally {
  int cases = 0;
  int failed = 0;
  int missed = 0;
  std::string report;
  void miss(const std::string &what) {
    if (++missed <= 12)
      report += what + "\n";
  }
  void failure(const std::string &what, const std::string &why) {
    ++failed;
    if (why.empty())
      miss(what + ": failed without a reason");
  }
};

std::string fmt(double v) {
  std::ostringstream o;
  o.precision(17);
  o << v;
  return o.str();
}

// Checks one parameter against the reference; describes the miss.
void checkparameter(tally &t, const std::string &what, int k, double par, double err,
                    const widels &ref, std::size_t q) {
  const double sigma = ref.sigma(q);
  const rational exact = ref.value(q);
  const double off = sigmasoff(par, exact, sigma);
  const double eoff = relativeoff(err, ref.zerovariance(q) ? rational(0) : rational(sigma));
  if (!(off <= kSigmas) || !(eoff <= kUncertain))
    t.miss(what + " parameter " + std::to_string(k) + ": " + fmt(par) + " +/- " + fmt(err) +
           " vs " + fmt(exact.get_d()) + " +/- " + fmt(sigma) + " (" + fmt(off) +
           " sigma, uncertainty " + fmt(eoff) + " off)");
}

void checkchisq(tally &t, const std::string &what, double got, const rational &exact,
                const rational &scale) {
  bool ok;
  if (exact == 0)
    ok = got >= 0.0 && rational(got) <= scale * rational(1e-24);
  else
    ok = relativeoff(got, exact) <= kChi;
  if (!ok)
    t.miss(what + " chi-square " + fmt(got) + " vs " + fmt(exact.get_d()));
}

// ------------------------------------------------------------ polynomials

struct polycase {
  int degree;
  int n;
  double x0, span, scale, eratio;
  bool noisy;
  std::vector<double> x, y, e;
  std::string what;
};

polycase makepolycase(draws &r) {
  polycase c;
  c.degree = r.integer(1, 10);
  c.n = c.degree + r.integer(2, 7);
  c.x0 = r.pick({0.0, 0.0, 1e2, 1e3, 1e5, 1e6, 1e8, 1e9}) * (r.integer(0, 1) ? 1 : -1);
  c.span = c.x0 == 0.0 ? r.power10(-3, 3) : r.power10(0, 3);
  c.scale = r.power10(-30, 30);
  c.eratio = r.power10(0, 6); // weights up to 10^12 apart
  c.noisy = r.integer(0, 4) != 0;
  std::vector<double> coef(static_cast<std::size_t>(c.degree + 1));
  for (double &v : coef)
    v = r.uniform(-1, 1);
  for (int i = 0; i < c.n; ++i) {
    const double u = (i + r.uniform(-0.3, 0.3)) / (c.n - 1) - 0.5;
    const double x = c.x0 + c.span * u;
    double v = 0.0;
    for (double k : coef)
      v = v * u + k;
    const double e = c.scale * 0.01 * std::pow(c.eratio, r.uniform(-0.5, 0.5));
    c.x.push_back(x);
    c.y.push_back(c.scale * v + (c.noisy ? e * r.uniform(-1.7, 1.7) : 0.0));
    c.e.push_back(e);
  }
  c.what = "poly:" + std::to_string(c.degree) + " n=" + std::to_string(c.n) + " x0=" + fmt(c.x0) +
           " span=" + fmt(c.span) + " scale=" + fmt(c.scale) + " eratio=" + fmt(c.eratio) +
           (c.noisy ? "" : " noise-free");
  return c;
}

using wide = mpf_class;

struct exactdata {
  std::vector<std::vector<wide>> rows;
  std::vector<wide> y, w;
  rational sumwyy = 0;
};

exactdata polyrows(const polycase &c, int N) {
  exactdata d;
  for (std::size_t i = 0; i < c.x.size(); ++i) {
    std::vector<wide> row(static_cast<std::size_t>(N + 1));
    wide p = 1;
    for (int k = N; k >= 0; --k) {
      row[static_cast<std::size_t>(k)] = p;
      p *= c.x[i];
    }
    d.rows.push_back(row);
    d.y.emplace_back(c.y[i]);
    d.w.push_back(weightof<wide>(c.e[i]));
    d.sumwyy += asrational(wide(d.w.back() * d.y.back() * d.y.back()));
  }
  return d;
}

void runpoly(const polycase &c, const exactdata &d, const widels &ref, bool gauss, tally &t) {
  const std::string what = c.what + (gauss ? " gauss" : " cramer");
  ++t.cases;
  auto ds = makedata(c.x, c.y, c.e);
  polynom f(c.degree);
  f.data = ds.get();
  try {
    f.fit(gauss);
    requirefinite(f);
  } catch (const engine_error &err) {
    t.failure(what, err.what());
    return;
  }
  for (int k = 0; k <= c.degree; ++k)
    checkparameter(t, what, k, f.par[k], f.err[k], ref, static_cast<std::size_t>(k));
  checkchisq(t, what, f.chisq(), ref.chisq(d.rows, d.y, d.w, [](std::size_t) { return true; }),
             d.sumwyy);
}

TEST(TortureLinear, PolynomialsOfEveryDegreeFarFromZeroAtOddScales) {
  const widebits bits(4096);
  draws r(20251211);
  tally t;
  const int count = scaled(500);
  for (int i = 0; i < count; ++i) {
    const polycase c = makepolycase(r);
    const exactdata d = polyrows(c, c.degree);
    const widels ref(d.rows, d.y, d.w);
    ASSERT_FALSE(ref.singular) << c.what;
    for (bool gauss : {true, false})
      runpoly(c, d, ref, gauss, t);
  }
  EXPECT_EQ(t.missed, 0) << t.report;
  // Honest failures are allowed, but not as the rule.
  EXPECT_LE(t.failed * 20, t.cases) << t.failed << " of " << t.cases << " failed";
}

// Large datasets, which the polynomial fit solves in double precision
// where its error bounds allow: low degrees, far from x = 0, at odd scales.
TEST(TortureLinear, LargePolynomialFitsTakeTheDoublePathSafely) {
  const widebits bits(1024);
  draws r(31337);
  tally t;
  const int count = scaled(8);
  for (int i = 0; i < count; ++i) {
    polycase c;
    c.degree = r.integer(1, 3);
    c.n = 16384 / (c.degree + 1) + r.integer(1, 400);
    c.x0 = r.pick({0.0, 0.0, 1e3, 1e6, 1e9});
    c.span = r.power10(0, 3);
    c.scale = r.power10(-30, 30);
    c.eratio = r.power10(0, 3);
    c.noisy = true;
    std::vector<double> coef(static_cast<std::size_t>(c.degree + 1));
    for (double &v : coef)
      v = r.uniform(-1, 1);
    for (int k = 0; k < c.n; ++k) {
      const double u = (k + r.uniform(-0.3, 0.3)) / (c.n - 1) - 0.5;
      double v = 0.0;
      for (double q : coef)
        v = v * u + q;
      const double e = c.scale * 0.01 * std::pow(c.eratio, r.uniform(-0.5, 0.5));
      c.x.push_back(c.x0 + c.span * u);
      c.y.push_back(c.scale * v + e * r.uniform(-1.7, 1.7));
      c.e.push_back(e);
    }
    c.what = "large poly:" + std::to_string(c.degree) + " n=" + std::to_string(c.n) +
             " x0=" + fmt(c.x0) + " span=" + fmt(c.span) + " scale=" + fmt(c.scale);
    const exactdata d = polyrows(c, c.degree);
    const widels ref(d.rows, d.y, d.w);
    ASSERT_FALSE(ref.singular) << c.what;
    for (bool gauss : {true, false})
      runpoly(c, d, ref, gauss, t);
  }
  EXPECT_EQ(t.missed, 0) << t.report;
  EXPECT_EQ(t.failed, 0);
}

// ------------------------------------------------------------ y = m x

TEST(TortureLinear, LineThroughTheOriginAtOddScales) {
  const widebits bits(4096);
  draws r(77);
  tally t;
  const int count = scaled(300);
  for (int i = 0; i < count; ++i) {
    polycase c = makepolycase(r);
    exactdata d;
    for (std::size_t k = 0; k < c.x.size(); ++k) {
      d.rows.push_back({wide(c.x[k])});
      d.y.emplace_back(c.y[k]);
      d.w.push_back(weightof<wide>(c.e[k]));
      d.sumwyy += asrational(wide(d.w.back() * d.y.back() * d.y.back()));
    }
    const widels ref(d.rows, d.y, d.w);
    ++t.cases;
    auto ds = makedata(c.x, c.y, c.e);
    lineronlym f;
    f.data = ds.get();
    try {
      f.fit(true);
      requirefinite(f);
    } catch (const engine_error &err) {
      t.failure(c.what, err.what());
      continue;
    }
    checkparameter(t, "y=mx " + c.what, 0, f.par[0], f.err[0], ref, 0);
    checkchisq(t, "y=mx " + c.what, f.chisq(),
               ref.chisq(d.rows, d.y, d.w, [](std::size_t) { return true; }), d.sumwyy);
  }
  EXPECT_EQ(t.missed, 0) << t.report;
  EXPECT_LE(t.failed * 20, t.cases) << t.failed << " of " << t.cases << " failed";
}

// ------------------------------------------------------------ multi fits

struct multicase {
  bool samem;
  std::vector<std::vector<double>> x, y, e;
  std::string what;
};

multicase makemulticase(draws &r) {
  multicase c;
  c.samem = r.integer(0, 1) != 0;
  const int K = r.integer(2, 5);
  const double x0 = r.pick({0.0, 1e3, 1e6, 1e9, 1.7e9, 2e9});
  const double span = r.pick({10.0, 100.0, 1000.0});
  const double scale = r.power10(-30, 30);
  const double eratio = r.power10(0, 6);
  const double shared = r.uniform(-3, 3);
  for (int j = 0; j < K; ++j) {
    const double own = r.uniform(-3, 3);
    const double m = scale * (c.samem ? shared : own) / span;
    const double b = scale * (c.samem ? own : shared) - (c.samem ? m * x0 : 0.0);
    const int n = r.integer(3, 6);
    const double start = x0 + span * r.uniform(-0.5, 0.5);
    std::vector<double> xs, ys, es;
    for (int i = 0; i < n; ++i) {
      const double x = start + span * (i + r.uniform(-0.3, 0.3)) / n;
      const double e = scale * 0.01 * std::pow(eratio, r.uniform(-0.5, 0.5));
      xs.push_back(x);
      ys.push_back(m * (x - x0) + (c.samem ? b + m * x0 : b) + e * r.uniform(-1.7, 1.7));
      es.push_back(e);
    }
    c.x.push_back(xs);
    c.y.push_back(ys);
    c.e.push_back(es);
  }
  c.what = std::string(c.samem ? "same gradient" : "same intercept") + " K=" + std::to_string(K) +
           " x0=" + fmt(x0) + " span=" + fmt(span) + " scale=" + fmt(scale) +
           " eratio=" + fmt(eratio);
  return c;
}

void runmulti(const multicase &c, bool gauss, tally &t) {
  const std::size_t K = c.x.size();
  exactdata d;
  std::vector<std::size_t> owner;
  for (std::size_t j = 0; j < K; ++j)
    for (std::size_t i = 0; i < c.x[j].size(); ++i) {
      std::vector<wide> row(K + 1, wide(0));
      const wide x(c.x[j][i]);
      row[0] = c.samem ? x : wide(1);
      row[j + 1] = c.samem ? wide(1) : x;
      d.rows.push_back(row);
      d.y.emplace_back(c.y[j][i]);
      d.w.push_back(weightof<wide>(c.e[j][i]));
      d.sumwyy += asrational(wide(d.w.back() * d.y.back() * d.y.back()));
      owner.push_back(j);
    }
  const widels ref(d.rows, d.y, d.w);
  const std::string what = c.what + (gauss ? " gauss" : " cramer");
  ++t.cases;
  std::vector<std::unique_ptr<dataset>> sets;
  for (std::size_t j = 0; j < K; ++j)
    sets.push_back(makedata(c.x[j], c.y[j], c.e[j]));
  std::unique_ptr<multfit> m;
  if (c.samem)
    m = std::make_unique<Mlinearsamem>();
  else
    m = std::make_unique<Mlinearsamec>();
  m->makelines(static_cast<int>(K));
  for (auto &s : sets)
    m->datasets.add(s.get());
  auto lines = m->takelines();
  for (std::size_t j = 0; j < K; ++j)
    lines[j]->data = sets[j].get();
  recordingcanvas mainchart, devchart;
  try {
    m->fit(mainchart, devchart, gauss);
  } catch (const engine_error &err) {
    t.failure(what, err.what());
    return;
  }
  const int sharedat = c.samem ? 0 : 1;
  for (std::size_t j = 0; j < K; ++j) {
    const bfit &l = *lines[j];
    const std::string lw = what + " line " + std::to_string(j);
    checkparameter(t, lw, sharedat, l.par[sharedat], l.err[sharedat], ref, 0);
    checkparameter(t, lw, 1 - sharedat, l.par[1 - sharedat], l.err[1 - sharedat], ref, j + 1);
    checkchisq(t, lw, l.chisq(),
               ref.chisq(d.rows, d.y, d.w, [&](std::size_t i) { return owner[i] == j; }), d.sumwyy);
  }
}

TEST(TortureLinear, MultiLineFitsFarFromZero) {
  const widebits bits(4096);
  draws r(4242);
  tally t;
  const int count = scaled(400);
  for (int i = 0; i < count; ++i) {
    const multicase c = makemulticase(r);
    for (bool gauss : {true, false})
      runmulti(c, gauss, t);
  }
  EXPECT_EQ(t.missed, 0) << t.report;
  EXPECT_LE(t.failed * 20, t.cases) << t.failed << " of " << t.cases << " failed";
}

// ------------------------------------------------------------ York's line

// York's straight line in wide floats: the slope b that makes
// sum W (y - a - b x)^2, W = 1 / (sy^2 + b^2 sx^2), least, by York's
// iteration from the ordinary slope until it moves by less than 10^-60 of
// itself; the variances from the adjusted abscissae.
struct yorkref {
  wide b = 0, a = 0, vb = 0, va = 0, chisq = 0;
  bool settled = false;

  yorkref(const std::vector<double> &x, const std::vector<double> &y, const std::vector<double> &sx,
          const std::vector<double> &sy, bool through0) {
    const std::size_t n = x.size();
    std::vector<wide> W(n), beta(n);
    wide X = 0, Y = 0, sw = 0;
    // The ordinary slope starts the iteration.
    {
      wide sxx = 0, sxy = 0, s0 = 0, s1 = 0, s2 = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const wide w = 1 / (wide(sy[i]) * sy[i]);
        s0 += w;
        s1 += w * x[i];
        s2 += w * y[i];
        sxx += w * x[i] * x[i];
        sxy += w * x[i] * y[i];
      }
      b = through0 ? wide(sxy / sxx) : wide((s0 * sxy - s1 * s2) / (s0 * sxx - s1 * s1));
    }
    auto pass = [&]() {
      sw = 0;
      wide swx = 0, swy = 0;
      for (std::size_t i = 0; i < n; ++i) {
        W[i] = 1 / (wide(sy[i]) * sy[i] + b * b * sx[i] * sx[i]);
        sw += W[i];
        swx += W[i] * x[i];
        swy += W[i] * y[i];
      }
      X = through0 ? wide(0) : wide(swx / sw);
      Y = through0 ? wide(0) : wide(swy / sw);
      for (std::size_t i = 0; i < n; ++i)
        beta[i] = W[i] * ((x[i] - X) * sy[i] * sy[i] + b * (y[i] - Y) * sx[i] * sx[i]);
    };
    for (int round = 0; round < 5000 && !settled; ++round) {
      pass();
      wide num = 0, den = 0;
      for (std::size_t i = 0; i < n; ++i) {
        num += W[i] * beta[i] * (y[i] - Y);
        den += W[i] * beta[i] * (x[i] - X);
      }
      const wide next = num / den;
      settled = abs(next - b) <= abs(next) * wide(1e-60);
      b = next;
    }
    pass();
    a = Y - b * X;
    wide sxa = 0;
    for (std::size_t i = 0; i < n; ++i)
      sxa += W[i] * (X + beta[i]);
    const wide xbar = through0 ? wide(0) : wide(sxa / sw);
    wide suu = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const wide u = X + beta[i] - xbar;
      suu += W[i] * u * u;
    }
    vb = 1 / suu;
    va = through0 ? wide(0) : wide(1 / sw + xbar * xbar * vb);
    for (std::size_t i = 0; i < n; ++i) {
      const wide d = y[i] - a - b * x[i];
      chisq += W[i] * d * d;
    }
  }
};

void checkyork(tally &t, const std::string &what, double got, double err, const wide &v,
               const wide &var) {
  const double sigma = std::sqrt(var.get_d());
  const double off = sigmasoff(got, asrational(v), sigma);
  const double eoff = relativeoff(err, rational(sigma));
  if (!(off <= kSigmas) || !(eoff <= kUncertain))
    t.miss(what + ": " + fmt(got) + " +/- " + fmt(err) + " vs " + fmt(v.get_d()) + " +/- " +
           fmt(sigma) + " (" + fmt(off) + " sigma, uncertainty " + fmt(eoff) + " off)");
}

TEST(TortureLinear, YorkLinesWithXErrorsFarFromZero) {
  const widebits bits(512);
  draws r(1969);
  tally t;
  const int count = scaled(200);
  for (int c = 0; c < count; ++c) {
    const bool through0 = r.integer(0, 3) == 0;
    const double x0 = through0 ? 0.0 : r.pick({0.0, 1e3, 1e6, 1e9}) * (r.integer(0, 1) ? 1 : -1);
    const double span = r.power10(-2, 3);
    const double scale = r.power10(-30, 30);
    const double eratio = r.power10(0, 3);
    const double slope = scale * r.uniform(0.2, 3) * (r.integer(0, 1) ? 1 : -1) / span;
    const int n = r.integer(4, 12);
    std::vector<double> x, y, sx, sy;
    for (int i = 0; i < n; ++i) {
      const double xi = x0 + span * ((i + r.uniform(-0.3, 0.3)) / n + (through0 ? 0.2 : -0.5));
      const double ey = scale * 0.02 * std::pow(eratio, r.uniform(-0.5, 0.5));
      const double ex = span * 0.02 * std::pow(eratio, r.uniform(-0.5, 0.5));
      x.push_back(xi);
      y.push_back(slope * (xi - x0) + scale + ey * r.uniform(-1.5, 1.5) +
                  slope * ex * r.uniform(-1.5, 1.5));
      sx.push_back(ex);
      sy.push_back(ey);
    }
    const std::string what = std::string(through0 ? "York y=mx" : "York y=ax+b") +
                             " x0=" + fmt(x0) + " span=" + fmt(span) + " scale=" + fmt(scale) +
                             " eratio=" + fmt(eratio) + " n=" + std::to_string(n);
    const yorkref ref(x, y, sx, sy, through0);
    if (!ref.settled)
      continue;
    for (bool gauss : {true, false}) {
      ++t.cases;
      auto d = makedata(x, y, sy);
      d->xerr = makerow(sx);
      std::unique_ptr<bfit> f;
      if (through0)
        f = std::make_unique<lineronlym>();
      else
        f = std::make_unique<polynom>(1);
      f->data = d.get();
      recordingcanvas mainchart, devchart;
      try {
        f->fitplot(mainchart, devchart, 1000, gauss);
      } catch (const engine_error &err) {
        t.failure(what, err.what());
        continue;
      }
      checkyork(t, what + " slope", f->par[0], f->err[0], ref.b, ref.vb);
      if (!through0)
        checkyork(t, what + " intercept", f->par[1], f->err[1], ref.a, ref.va);
      checkchisq(t, what, f->chisq(), asrational(ref.chisq), rational(0));
    }
  }
  EXPECT_GE(t.cases, count); // York's iteration settled for at least half
  EXPECT_EQ(t.missed, 0) << t.report;
  EXPECT_LE(t.failed * 20, t.cases) << t.failed << " of " << t.cases << " failed";
}

} // namespace
