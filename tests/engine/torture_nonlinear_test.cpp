// A seeded torture run of the iterative fits: typed formulas with and
// without x errors, at data scales from 1e-30 to 1e30, with x far from 0
// and with parameters of very different sizes. Every fit that reports
// success is checked against a reference made here in long double from the
// model's analytic derivatives: the stationary point of the chi-square
// (Gauss-Newton from the reported values), the chi-square there and the
// covariance (J^T W J)^-1. A fit may fail, with the engine's error; it may
// never report numbers outside the tolerances.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/logchannel.h"
#include "engine/nullcanvas.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

using ld = long double;
constexpr int kMax = 5;
using params = std::array<ld, kMax>;

// A model with its analytic derivatives: f(x, p) returns the value and
// writes df/dp into g and df/dx into gx.
struct model {
  std::string text;
  int np;
  std::function<ld(ld x, const params &p, params &g, ld &gx)> f;
};

// Portable normal deviates from the standard engine's bits.
class source {
public:
  explicit source(std::uint64_t seed) : bits_(seed) {}
  double uniform() { return static_cast<double>(bits_() >> 11) * 0x1.0p-53; }
  double uniform(double a, double b) { return a + (b - a) * uniform(); }
  double normal() {
    const double u = 1.0 - uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
  }
  int below(int n) { return static_cast<int>(uniform() * n); }

private:
  std::mt19937_64 bits_;
};

// Solves the n x n system A z = b in place by Gaussian elimination with
// partial pivoting; false when singular.
bool solve(std::vector<std::vector<ld>> A, std::vector<ld> &b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c]))
        piv = r;
    if (A[piv][c] == 0)
      return false;
    std::swap(A[c], A[piv]);
    std::swap(b[c], b[piv]);
    for (std::size_t r = c + 1; r < n; ++r) {
      const ld m = A[r][c] / A[c][c];
      for (std::size_t k = c; k < n; ++k)
        A[r][k] -= m * A[c][k];
      b[r] -= m * b[c];
    }
  }
  for (std::size_t c = n; c-- > 0;) {
    for (std::size_t k = c + 1; k < n; ++k)
      b[c] -= A[c][k] * b[k];
    b[c] /= A[c][c];
  }
  return true;
}

struct problem {
  const model *m;
  std::vector<double> x, y, sy, sx; // sx empty: no x errors
  std::vector<double> start;
  std::string label;
};

// The reference: the weights held at the reported values (effective
// variance with x errors), then Gauss-Newton in long double to the
// stationary point p, with the chi-square and the covariance there.
struct reference {
  params p{};
  ld chisq = 0;
  std::vector<ld> sigma;
  bool ok = false;
};

std::vector<ld> weightsat(const problem &q, const params &p) {
  std::vector<ld> w(q.x.size());
  for (std::size_t i = 0; i < q.x.size(); ++i) {
    ld v = static_cast<ld>(q.sy[i]) * q.sy[i];
    if (!q.sx.empty()) {
      params g{};
      ld gx = 0;
      (void)q.m->f(q.x[i], p, g, gx);
      v += gx * gx * q.sx[i] * q.sx[i];
    }
    w[i] = 1 / v;
  }
  return w;
}

reference refine(const problem &q, const params &reported) {
  const int n = q.m->np;
  const std::vector<ld> w = weightsat(q, reported);
  reference ref;
  ref.p = reported;
  std::vector<std::vector<ld>> M;
  for (int it = 0; it < 30; ++it) {
    M.assign(n, std::vector<ld>(n, 0));
    std::vector<ld> g(n, 0);
    ld chi = 0;
    for (std::size_t i = 0; i < q.x.size(); ++i) {
      params d{};
      ld dx = 0;
      const ld r = q.m->f(q.x[i], ref.p, d, dx) - q.y[i];
      chi += w[i] * r * r;
      for (int a = 0; a < n; ++a) {
        g[a] -= w[i] * r * d[a];
        for (int b = 0; b < n; ++b)
          M[a][b] += w[i] * d[a] * d[b];
      }
    }
    ref.chisq = chi;
    if (!solve(M, g))
      return ref;
    ld size = 0;
    for (int a = 0; a < n; ++a) {
      ref.p[a] += g[a];
      size = std::max(size, std::fabs(g[a]) / std::sqrt(M[a][a] == 0 ? 1 : 1 / M[a][a]));
    }
    if (it > 2 && size < 1e-14L)
      break;
  }
  // The covariance: the columns of M^-1.
  ref.sigma.assign(n, 0);
  for (int a = 0; a < n; ++a) {
    std::vector<ld> e(n, 0);
    e[a] = 1;
    if (!solve(M, e))
      return ref;
    ref.sigma[a] = std::sqrt(e[a]);
  }
  ref.ok = std::isfinite(static_cast<double>(ref.chisq));
  return ref;
}

const model kGauss{"A*exp(-(x-B)^2/(2*C^2))", 3, [](ld x, const params &p, params &g, ld &gx) {
                     const ld u = (x - p[1]) / p[2];
                     const ld e = std::exp(-u * u / 2);
                     g[0] = e;
                     g[1] = p[0] * e * u / p[2];
                     g[2] = p[0] * e * u * u / p[2];
                     gx = -g[1];
                     return p[0] * e;
                   }};
const model kPower{"A*x^B", 2, [](ld x, const params &p, params &g, ld &gx) {
                     const ld v = p[0] * std::pow(x, p[1]);
                     g[0] = std::pow(x, p[1]);
                     g[1] = v * std::log(x);
                     gx = p[1] * v / x;
                     return v;
                   }};
const model kCarriers{"C*x^1.5*exp(-B/x)", 2, [](ld x, const params &p, params &g, ld &gx) {
                        const ld e = std::pow(x, 1.5L) * std::exp(-p[1] / x);
                        g[0] = e;
                        g[1] = -p[0] * e / x;
                        gx = p[0] * e * (1.5L / x + p[1] / (x * x));
                        return p[0] * e;
                      }};
const model kLogistic{"A/(1+exp(-(x-B)/C))", 3, [](ld x, const params &p, params &g, ld &gx) {
                        const ld e = std::exp(-(x - p[1]) / p[2]);
                        const ld s = 1 / (1 + e);
                        g[0] = s;
                        g[1] = -p[0] * s * s * e / p[2];
                        g[2] = -p[0] * s * s * e * (x - p[1]) / (p[2] * p[2]);
                        gx = -g[1];
                        return p[0] * s;
                      }};

// The decay A exp(-(x - x0)/T) + D, with its offset x0 written into the
// formula as a number.
model decay(double x0) {
  std::ostringstream s;
  s.precision(17);
  s << "A*exp(-(x-" << x0 << ")/T)+D";
  return {s.str(), 3, [x0](ld x, const params &p, params &g, ld &gx) {
            const ld e = std::exp(-(x - x0) / p[1]);
            g[0] = e;
            g[1] = p[0] * e * (x - x0) / (p[1] * p[1]);
            g[2] = 1;
            gx = -p[0] * e / p[1];
            return p[0] * e + p[2];
          }};
}

// Data of model m with the true values truth at the x values, errors of a
// fraction of the scale with ratios up to ratio, scattered by them.
problem generate(source &rnd, const model &m, const params &truth, const std::vector<double> &x,
                 double scale, double ratio, bool xerrors) {
  problem q;
  q.m = &m;
  q.x = x;
  for (double v : x) {
    params g{};
    ld gx = 0;
    const double f = static_cast<double>(m.f(v, truth, g, gx));
    const double e = 0.02 * scale * std::pow(ratio, rnd.uniform());
    q.y.push_back(f + e * rnd.normal());
    q.sy.push_back(e);
  }
  if (xerrors) {
    const double spacing = (x.back() - x.front()) / static_cast<double>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
      q.sx.push_back(0.1 * spacing * rnd.uniform(0.5, 1.5));
  }
  for (int k = 0; k < m.np; ++k)
    q.start.push_back(static_cast<double>(truth[k]));
  return q;
}

std::vector<double> spread(double from, double to, int n) {
  std::vector<double> x;
  for (int i = 0; i < n; ++i)
    x.push_back(from + (to - from) * i / (n - 1));
  return x;
}

// The cases: every model at every scale, offsets for the models that have
// a location, with and without x errors; starts near the truth.
std::vector<problem> cases(std::vector<std::unique_ptr<model>> &owned) {
  source rnd(20261211);
  std::vector<problem> out;
  const double scales[] = {1e-30, 1e-16, 1e-3, 1.0, 1e5, 1e16, 1e30};
  const double offsets[] = {0.0, 1e3, 1e6, 1e9};
  for (const double K : scales)
    for (const bool xe : {false, true}) {
      for (const double x0 : offsets) {
        const double width = x0 == 0.0 ? rnd.uniform(0.5, 3) : rnd.uniform(1, 100);
        const int n = 12 + rnd.below(20);
        // A peak at x0 (or near 5), its points over +-3 widths.
        const double centre = x0 == 0.0 ? 5.0 : x0;
        params g{K * rnd.uniform(1, 9), centre + 0.1 * width * rnd.normal(), width};
        auto q = generate(rnd, kGauss, g, spread(centre - 3 * width, centre + 3 * width, n), K,
                          xe ? 3.0 : 1e3, xe);
        q.start = {q.start[0] * 1.1, q.start[1] + 0.2 * width, q.start[2] * 0.9};
        q.label = "gauss";
        out.push_back(q);

        params s{K * rnd.uniform(1, 9), centre + 0.1 * width * rnd.normal(), width};
        q = generate(rnd, kLogistic, s, spread(centre - 4 * width, centre + 4 * width, n), K,
                     xe ? 3.0 : 1e3, xe);
        q.start = {q.start[0] * 0.9, q.start[1] - 0.2 * width, q.start[2] * 1.15};
        q.label = "logistic";
        out.push_back(q);

        owned.push_back(std::make_unique<model>(decay(x0)));
        params d{K * rnd.uniform(1, 9), width, K * rnd.uniform(-1, 1)};
        q = generate(rnd, *owned.back(), d, spread(x0, x0 + 4 * width, n), K, xe ? 3.0 : 1e3, xe);
        q.start = {q.start[0] * 1.2, q.start[1] * 0.85, 0.0};
        q.label = "decay";
        out.push_back(q);
      }
      const int n = 8 + rnd.below(20);
      params pw{K * rnd.uniform(1, 9), rnd.uniform(-2.5, 2.5)};
      auto q = generate(rnd, kPower, pw, spread(1, 10, n), K, 1e3, xe);
      q.start = {q.start[0] * 0.8, q.start[1] + 0.3};
      q.label = "power";
      out.push_back(q);
      // Parameters 1e18 apart: C ~ 4.6e21 K, B ~ 6500.
      params c{4.6e21 * K * rnd.uniform(0.5, 2), 6500 * rnd.uniform(0.8, 1.2)};
      q = generate(rnd, kCarriers, c, spread(250, 500, n), 1e13 * K, 3.0, xe);
      // Errors relative to each point, as measured.
      for (std::size_t i = 0; i < q.x.size(); ++i) {
        params gg{};
        ld gx = 0;
        const double f = static_cast<double>(kCarriers.f(q.x[i], c, gg, gx));
        q.sy[i] = 0.02 * std::fabs(f);
        q.y[i] = f + q.sy[i] * rnd.normal();
      }
      q.start = {q.start[0] * 1.07, q.start[1] * 1.0};
      q.label = "carriers";
      out.push_back(q);
    }
  return out;
}

std::unique_ptr<dataset> datasetof(const problem &q) {
  auto d = makedata(q.x, q.y, q.sy);
  if (!q.sx.empty())
    d->xerr = makerow(q.sx);
  return d;
}

} // namespace

TEST(TortureNonlinear, EveryReportedFormulaFitIsTheMinimumWithItsCovariance) {
  std::vector<std::unique_ptr<model>> owned;
  const std::vector<problem> all = cases(owned);
  int succeeded = 0, failed = 0;
  setlogwindow(nullptr);
  for (const problem &q : all) {
    std::ostringstream what;
    what << q.label << " " << q.m->text << " y~" << q.sy[0] << " x0=" << q.x[0]
         << (q.sx.empty() ? "" : " with x errors");
    SCOPED_TRACE(what.str());
    auto d = datasetof(q);
    formulafit f(q.m->text);
    for (int k = 0; k < f.count(); ++k)
      f.par[k] = q.start[static_cast<std::size_t>(k)];
    f.data = d.get();
    nullcanvas canvas;
    try {
      f.fitplot(canvas, canvas, 1000, true);
    } catch (const engine_error &e) {
      // Starts this near the truth are reached.
      ADD_FAILURE() << "the fit failed: " << e.what();
      ++failed;
      continue;
    }
    (void)pendingmessage();
    ++succeeded;
    params reported{};
    for (int k = 0; k < q.m->np; ++k)
      reported[k] = f.par[k];
    const reference ref = refine(q, reported);
    ASSERT_TRUE(ref.ok);
    for (int k = 0; k < q.m->np; ++k) {
      const double sigma = static_cast<double>(ref.sigma[static_cast<std::size_t>(k)]);
      // Within a thousandth of a standard deviation of the minimum, and
      // the uncertainty to 0.1 %.
      EXPECT_LE(std::fabs(f.par[k] - static_cast<double>(ref.p[k])), 1e-3 * sigma)
          << f.model().parameters()[static_cast<std::size_t>(k)];
      EXPECT_LE(std::fabs(f.err[k] - sigma), 1e-3 * sigma)
          << f.model().parameters()[static_cast<std::size_t>(k)];
    }
    const double chi = static_cast<double>(ref.chisq);
    EXPECT_LE(std::fabs(f.chisq() - chi), 1e-6 * chi);
  }
  EXPECT_EQ(failed, 0) << "of " << all.size();
  EXPECT_GT(succeeded, 150);
}

// ------------------------------------------------ the built-in iterative models

namespace {

// A built-in model with its derivatives and second derivatives.
struct builtin {
  const char *name;
  int np;
  std::function<ld(ld x, const params &p, params &g, std::array<params, kMax> &h)> f;
  // df/dx, for the effective variance with x errors.
  std::function<ld(ld x, const params &p)> dx;
};

const builtin kCosine{"periodic", 2,
                      [](ld x, const params &p, params &g, std::array<params, kMax> &h) {
                        const ld c = std::cos(p[1] * x), s = std::sin(p[1] * x);
                        g[0] = c, g[1] = -p[0] * x * s;
                        h[0][0] = 0, h[0][1] = h[1][0] = -x * s, h[1][1] = -p[0] * x * x * c;
                        return p[0] * c;
                      },
                      [](ld x, const params &p) { return -p[0] * p[1] * std::sin(p[1] * x); }};
const builtin kDamped{
    "periodicdecay", 4,
    [](ld x, const params &p, params &g, std::array<params, kMax> &h) {
      const ld E = std::exp(p[1] * x), c = std::cos(p[2] * x + p[3]), s = std::sin(p[2] * x + p[3]);
      const ld A = p[0];
      g[0] = E * c, g[1] = A * x * E * c, g[2] = -A * x * E * s, g[3] = -A * E * s;
      h[0][0] = 0, h[0][1] = x * E * c, h[0][2] = -x * E * s, h[0][3] = -E * s;
      h[1][1] = A * x * x * E * c, h[1][2] = -A * x * x * E * s, h[1][3] = -A * x * E * s;
      h[2][2] = -A * x * x * E * c, h[2][3] = -A * x * E * c, h[3][3] = -A * E * c;
      for (int a = 0; a < 4; ++a)
        for (int b = 0; b < a; ++b)
          h[a][b] = h[b][a];
      return A * E * c;
    },
    [](ld x, const params &p) {
      const ld ph = p[2] * x + p[3];
      return p[0] * std::exp(p[1] * x) * (p[1] * std::cos(ph) - p[2] * std::sin(ph));
    }};

// Newton's iteration on the gradient of the chi-square in long double from
// the reported values to the stationary point, with the chi-square there
// and the uncertainties H^-1 (J^T W J) H^-1 that the iterative models
// report (H the derivative of the gradient).
reference newton(const builtin &m, const problem &q, const params &reported) {
  const int n = m.np;
  reference ref;
  ref.p = reported;
  std::vector<std::vector<ld>> H, S;
  for (int it = 0; it < 30; ++it) {
    H.assign(n, std::vector<ld>(n, 0));
    S = H;
    std::vector<ld> F(n, 0);
    ld chi = 0;
    for (std::size_t i = 0; i < q.x.size(); ++i) {
      params g{};
      std::array<params, kMax> h{};
      const ld r = m.f(q.x[i], ref.p, g, h) - q.y[i];
      const ld w = 1 / (static_cast<ld>(q.sy[i]) * q.sy[i]);
      chi += w * r * r;
      for (int a = 0; a < n; ++a) {
        F[a] -= w * r * g[a];
        for (int b = 0; b < n; ++b) {
          H[a][b] += w * (g[a] * g[b] + r * h[a][b]);
          S[a][b] += w * g[a] * g[b];
        }
      }
    }
    ref.chisq = chi;
    if (!solve(H, F))
      return ref;
    for (int a = 0; a < n; ++a)
      ref.p[a] += F[a];
  }
  // H^-1 S H^-1, column by column.
  std::vector<std::vector<ld>> Hi(n, std::vector<ld>(n, 0));
  for (int a = 0; a < n; ++a) {
    std::vector<ld> e(n, 0);
    e[a] = 1;
    if (!solve(H, e))
      return ref;
    for (int b = 0; b < n; ++b)
      Hi[b][a] = e[b];
  }
  ref.sigma.assign(n, 0);
  for (int a = 0; a < n; ++a) {
    ld v = 0;
    for (int b = 0; b < n; ++b)
      for (int c = 0; c < n; ++c)
        v += Hi[a][b] * S[b][c] * Hi[a][c];
    ref.sigma[a] = std::sqrt(v);
  }
  ref.ok = std::isfinite(static_cast<double>(ref.chisq));
  return ref;
}

// Weighted least squares of 1, u, u^2, ... (n terms) in long double:
// the coefficients, lowest power first, and their covariance.
void polyfit(const std::vector<ld> &u, const std::vector<ld> &v, const std::vector<ld> &w, int n,
             std::vector<ld> &c, std::vector<std::vector<ld>> &cov) {
  std::vector<std::vector<ld>> M(n, std::vector<ld>(n, 0));
  std::vector<ld> b(n, 0);
  for (std::size_t i = 0; i < u.size(); ++i)
    for (int a = 0; a < n; ++a) {
      b[a] += w[i] * v[i] * std::pow(u[i], a);
      for (int k = 0; k < n; ++k)
        M[a][k] += w[i] * std::pow(u[i], a + k);
    }
  c = b;
  ASSERT_TRUE(solve(M, c));
  cov.assign(n, std::vector<ld>(n, 0));
  for (int a = 0; a < n; ++a) {
    std::vector<ld> e(n, 0);
    e[a] = 1;
    ASSERT_TRUE(solve(M, e));
    for (int k = 0; k < n; ++k)
      cov[k][a] = e[k];
  }
}

std::unique_ptr<dataset> plain(const problem &q) {
  auto d = makedata(q.x, q.y, q.sy);
  if (!q.sx.empty())
    d->xerr = makerow(q.sx);
  return d;
}

// With x errors, the problem with every y error replaced by the effective
// error at the values p, which the effective-variance rounds settle at.
problem effective(const builtin &m, problem q, const params &p) {
  for (std::size_t i = 0; i < q.sx.size(); ++i) {
    const ld s = m.dx(q.x[i], p) * q.sx[i];
    q.sy[i] = static_cast<double>(std::sqrt(static_cast<ld>(q.sy[i]) * q.sy[i] + s * s));
  }
  q.sx.clear();
  return q;
}

// x errors of a tenth of the spacing, for every third round.
void addxerrors(source &rnd, problem &q, int round) {
  if (round % 3 != 2)
    return;
  const double spacing = (q.x.back() - q.x.front()) / static_cast<double>(q.x.size());
  for (std::size_t i = 0; i < q.x.size(); ++i)
    q.sx.push_back(0.1 * spacing * rnd.uniform(0.5, 1.5));
}

// Fits f to q; false when it failed (with the engine's error).
bool fitted(bfit &f, dataset &d, const std::vector<double> &start) {
  for (std::size_t k = 0; k < start.size(); ++k)
    f.par[k] = start[k];
  f.data = &d;
  nullcanvas canvas;
  try {
    f.fitplot(canvas, canvas, 1000, true);
  } catch (const engine_error &e) {
    ADD_FAILURE() << "the fit failed: " << e.what();
    return false;
  }
  return true;
}

void expectclose(const bfit &f, const std::vector<ld> &p, const std::vector<ld> &sigma,
                 double within) {
  for (std::size_t k = 0; k < p.size(); ++k) {
    const double s = static_cast<double>(sigma[k]);
    EXPECT_LE(std::fabs(f.par[k] - static_cast<double>(p[k])), within * s) << "parameter " << k;
    EXPECT_LE(std::fabs(f.err[k] - s), 1e-3 * s) << "uncertainty " << k;
  }
}

} // namespace

TEST(TortureNonlinear, TheIterativeModelsReachTheStationaryPointAtEveryScale) {
  source rnd(4242);
  setlogwindow(nullptr);
  int runs = 0;
  for (const double K : {1e-30, 1e-16, 1e-3, 1.0, 1e7, 1e16, 1e30})
    for (int round = 0; round < 3; ++round) {
      const int n = 12 + rnd.below(20);
      {
        const double B = rnd.uniform(1, 5);
        params t{K * rnd.uniform(1, 9), B};
        problem q;
        q.m = nullptr;
        q.x = spread(0.1, 0.1 + 6 * M_PI / B, n);
        for (double x : q.x) {
          params g{};
          std::array<params, kMax> h{};
          const double e = 0.02 * K * std::pow(10.0, rnd.uniform());
          q.sy.push_back(e);
          q.y.push_back(static_cast<double>(kCosine.f(x, t, g, h)) + e * rnd.normal());
        }
        addxerrors(rnd, q, round);
        SCOPED_TRACE(std::string("periodic K=") + std::to_string(K) +
                     (q.sx.empty() ? "" : " with x errors"));
        auto d = plain(q);
        periodic f;
        if (fitted(f, *d, {static_cast<double>(t[0]) * 1.03, B * 1.004})) {
          const params at{f.par[0], f.par[1]};
          const reference ref = newton(kCosine, effective(kCosine, q, at), at);
          ASSERT_TRUE(ref.ok);
          expectclose(f, {ref.p[0], ref.p[1]}, ref.sigma, 1e-3);
          EXPECT_LE(std::fabs(f.chisq() - static_cast<double>(ref.chisq)),
                    1e-6 * static_cast<double>(ref.chisq));
          ++runs;
        }
      }
      {
        params t{K * rnd.uniform(1, 9), -rnd.uniform(0.05, 0.5), rnd.uniform(1, 5),
                 rnd.uniform(-1, 1)};
        problem q;
        q.x = spread(0, 6 * M_PI / static_cast<double>(t[2]), n + 8);
        for (double x : q.x) {
          params g{};
          std::array<params, kMax> h{};
          const double v = static_cast<double>(kDamped.f(x, t, g, h));
          const double e = 0.02 * K * std::pow(10.0, rnd.uniform());
          q.sy.push_back(e);
          q.y.push_back(v + e * rnd.normal());
        }
        addxerrors(rnd, q, round);
        SCOPED_TRACE(std::string("periodicdecay K=") + std::to_string(K) +
                     (q.sx.empty() ? "" : " with x errors"));
        auto d = plain(q);
        periodicdecay f;
        const std::vector<double> start = {
            static_cast<double>(t[0]) * 1.02, static_cast<double>(t[1]) * 1.02,
            static_cast<double>(t[2]) * 1.003, static_cast<double>(t[3]) + 0.01};
        if (fitted(f, *d, start)) {
          const params at{f.par[0], f.par[1], f.par[2], f.par[3]};
          const reference ref = newton(kDamped, effective(kDamped, q, at), at);
          ASSERT_TRUE(ref.ok);
          expectclose(f, {ref.p[0], ref.p[1], ref.p[2], ref.p[3]}, ref.sigma, 1e-3);
          EXPECT_LE(std::fabs(f.chisq() - static_cast<double>(ref.chisq)),
                    1e-6 * static_cast<double>(ref.chisq));
          ++runs;
        }
      }
    }
  EXPECT_EQ(runs, 42);
}

TEST(TortureNonlinear, TheLinearisedModelsAreTheirTransformedFitsAtEveryScale) {
  // Power: a weighted line through (log10 x^2, log10 y) with errors
  // sigma / (y ln 10); resonance: a weighted parabola through (x, 1/y)
  // with errors sigma / y^2, about the mean x. Both in long double here.
  source rnd(777);
  const ld ln10 = std::log(10.0L);
  for (const double K : {1e-30, 1e-16, 1e-3, 1.0, 1e7, 1e16, 1e30})
    for (const double xs : {1e-3, 1.0, 1e3}) {
      const int n = 8 + rnd.below(20);
      {
        const double A = K * rnd.uniform(1, 9), B = rnd.uniform(-2.5, 2.5);
        problem q;
        q.x = spread(xs, 10 * xs, n);
        std::vector<ld> u, v, w;
        for (double x : q.x) {
          const double f = A * std::pow(x * x, B / 2);
          const double e = 0.02 * f * rnd.uniform(0.5, 3);
          q.sy.push_back(e);
          q.y.push_back(f + e * 0.5 * rnd.normal());
          u.push_back(std::log10(static_cast<ld>(x) * x));
          v.push_back(std::log10(static_cast<ld>(q.y.back())));
          const ld s = e / (q.y.back() * ln10);
          w.push_back(1 / (s * s));
        }
        SCOPED_TRACE("power K=" + std::to_string(K) + " x~" + std::to_string(xs));
        auto d = plain(q);
        powersq f;
        std::vector<ld> c;
        std::vector<std::vector<ld>> cov;
        polyfit(u, v, w, 2, c, cov);
        if (fitted(f, *d, {})) {
          const ld Aref = std::pow(10.0L, c[0]), Bref = 2 * c[1];
          const std::vector<ld> sigma = {Aref * ln10 * std::sqrt(cov[0][0]),
                                         2 * std::sqrt(cov[1][1])};
          expectclose(f, {Aref, Bref}, sigma, 1e-6);
        }
      }
      {
        const double width = rnd.uniform(0.5, 3) * xs, C = width * width;
        // Centres up to 1e9 from x = 0.
        const double offset = std::pow(10.0, 3 * rnd.below(4));
        const double B = offset + xs * rnd.uniform(2, 8), A = K * C * rnd.uniform(1, 9);
        problem q;
        q.x = spread(B - 3 * width, B + 3 * width, n);
        const double x0 = (q.x.front() + q.x.back()) / 2;
        std::vector<ld> u, v, w;
        for (double x : q.x) {
          const double f = A / ((B - x) * (B - x) + C);
          const double e = 0.02 * f * rnd.uniform(0.5, 3);
          q.sy.push_back(e);
          q.y.push_back(f + e * 0.5 * rnd.normal());
          u.push_back(static_cast<ld>(x) - x0);
          v.push_back(1 / static_cast<ld>(q.y.back()));
          const ld s = e / (static_cast<ld>(q.y.back()) * q.y.back());
          w.push_back(1 / (s * s));
        }
        SCOPED_TRACE("resonance K=" + std::to_string(K) + " x~" + std::to_string(B));
        auto d = plain(q);
        resonance f;
        std::vector<ld> c;
        std::vector<std::vector<ld>> cov;
        polyfit(u, v, w, 3, c, cov);
        if (fitted(f, *d, {})) {
          // 1/y = a u^2 + b u + c: A = 1/a, B = x0 - b/(2a), C = c/a - (b/(2a))^2,
          // carried to first order with the covariance of (c, b, a).
          const ld a = c[2], b = c[1], c0 = c[0], h = b / (2 * a);
          const ld Aref = 1 / a, Bref = x0 - h, Cref = c0 / a - h * h;
          // d(A, B, C)/d(c0, b, a)
          const ld D[3][3] = {{0, 0, -1 / (a * a)},
                              {0, -1 / (2 * a), h / a},
                              {1 / a, -h / a, -c0 / (a * a) + 2 * h * h / a}};
          std::vector<ld> sigma(3);
          for (int r = 0; r < 3; ++r) {
            ld s = 0;
            for (int k = 0; k < 3; ++k)
              for (int l = 0; l < 3; ++l)
                s += D[r][k] * cov[k][l] * D[r][l];
            sigma[r] = std::sqrt(s);
          }
          expectclose(f, {Aref, Bref, Cref}, sigma, 1e-6);
        }
      }
    }
}
