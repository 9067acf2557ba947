// Exact derivatives of typed formulas and what they buy the formula fit:
// derivatives against closed forms for every operator and function and for
// muparser's precedences, uncertainties of a peak far from x = 0 against
// the exact (J^T W J)^-1, the same minimum at every data scale and for
// parameters of very different sizes, x-error slopes far from zero, a fit
// that can reach no minimum, and the NIST StRD higher-difficulty
// problems from both starts.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/formula.h"
#include "engine/formulafit.h"
#include "engine/logchannel.h"
#include "engine/nullcanvas.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

using ld = long double;

double relative(double a, double b) { return std::fabs(a - b) / std::fabs(b); }

std::unique_ptr<formulafit> fitted(const std::string &text, dataset &d,
                                   const std::vector<double> &start) {
  auto f = std::make_unique<formulafit>(text);
  for (std::size_t k = 0; k < start.size(); ++k)
    f->par[k] = start[k];
  f->data = &d;
  nullcanvas canvas;
  f->fitplot(canvas, canvas, 1000, true);
  return f;
}

// (J^T W J)^-1 of a three-parameter model in long double, from its
// analytic derivatives d(x, p, g) at p.
std::array<ld, 3> sigmas3(const std::vector<double> &x, const std::vector<double> &e,
                          const std::array<ld, 3> &p,
                          const std::function<void(ld, const std::array<ld, 3> &, ld *)> &d) {
  ld M[3][3] = {};
  for (std::size_t i = 0; i < x.size(); ++i) {
    ld g[3];
    d(x[i], p, g);
    const ld w = 1 / (static_cast<ld>(e[i]) * e[i]);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b)
        M[a][b] += w * g[a] * g[b];
  }
  // The diagonal of the inverse by cofactors.
  const ld det = M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                 M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                 M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
  return {std::sqrt((M[1][1] * M[2][2] - M[1][2] * M[2][1]) / det),
          std::sqrt((M[0][0] * M[2][2] - M[0][2] * M[2][0]) / det),
          std::sqrt((M[0][0] * M[1][1] - M[0][1] * M[1][0]) / det)};
}

} // namespace

TEST(FormulaDerivatives, EveryOperatorAndFunctionAgainstItsClosedForm) {
  // Each formula in A and B with its value and derivatives written out;
  // checked at several x, and its value against muparser's.
  using closed = std::function<void(ld x, ld A, ld B, ld * out)>; // f, dA, dB, dx
  struct {
    const char *text;
    closed f;
  } cases[] = {
      {"A*x+B", [](ld x, ld A, ld B, ld *o) { o[0] = A * x + B, o[1] = x, o[2] = 1, o[3] = A; }},
      {"A/x-B", [](ld x, ld A, ld B,
                   ld *o) { o[0] = A / x - B, o[1] = 1 / x, o[2] = -1, o[3] = -A / (x * x); }},
      {"-A^2*x+B",
       [](ld x, ld A, ld B, ld *o) {
         o[0] = -A * A * x + B, o[1] = -2 * A * x, o[2] = 1, o[3] = -A * A;
       }},
      {"A^x**B",
       [](ld x, ld A, ld B, ld *o) {
         // a^b^c is a^(b^c)
         const ld e = std::pow(x, B), v = std::pow(A, e);
         o[0] = v, o[1] = e * std::pow(A, e - 1), o[2] = v * std::log(A) * e * std::log(x),
         o[3] = v * std::log(A) * B * std::pow(x, B - 1);
       }},
      {"2^-x*A+B",
       [](ld x, ld A, ld B, ld *o) {
         const ld v = std::pow(2.0L, -x);
         o[0] = v * A + B, o[1] = v, o[2] = 1, o[3] = -A * v * std::log(2.0L);
       }},
      {"exp(-x/A)*B",
       [](ld x, ld A, ld B, ld *o) {
         const ld e = std::exp(-x / A);
         o[0] = e * B, o[1] = B * e * x / (A * A), o[2] = e, o[3] = -B * e / A;
       }},
      {"log(A*x)+ln(B)+log10(x)",
       [](ld x, ld A, ld B, ld *o) {
         o[0] = std::log(A * x) + std::log(B) + std::log10(x), o[1] = 1 / A, o[2] = 1 / B,
         o[3] = 1 / x + 1 / (x * std::log(10.0L));
       }},
      {"sqrt(A*x)*B",
       [](ld x, ld A, ld B, ld *o) {
         const ld s = std::sqrt(A * x);
         o[0] = s * B, o[1] = B * x / (2 * s), o[2] = s, o[3] = B * A / (2 * s);
       }},
      {"sin(A*x)+cos(B*x)+tan(x/4)",
       [](ld x, ld A, ld B, ld *o) {
         const ld t = std::tan(x / 4);
         o[0] = std::sin(A * x) + std::cos(B * x) + t, o[1] = x * std::cos(A * x),
         o[2] = -x * std::sin(B * x),
         o[3] = A * std::cos(A * x) - B * std::sin(B * x) + (1 + t * t) / 4;
       }},
      {"asin(x/A/10)+acos(x/B/10)+atan(A*x)",
       [](ld x, ld A, ld B, ld *o) {
         const ld u = x / A / 10, v = x / B / 10;
         o[0] = std::asin(u) + std::acos(v) + std::atan(A * x);
         o[1] = -u / A / std::sqrt(1 - u * u) + x / (1 + A * A * x * x);
         o[2] = v / B / std::sqrt(1 - v * v);
         o[3] = 1 / (10 * A) / std::sqrt(1 - u * u) - 1 / (10 * B) / std::sqrt(1 - v * v) +
                A / (1 + A * A * x * x);
       }},
      {"sinh(A*x)-cosh(B)+tanh(x)",
       [](ld x, ld A, ld B, ld *o) {
         const ld t = std::tanh(x);
         o[0] = std::sinh(A * x) - std::cosh(B) + t, o[1] = x * std::cosh(A * x),
         o[2] = -std::sinh(B), o[3] = A * std::cosh(A * x) + 1 - t * t;
       }},
      {"abs(x-A)*B+pi",
       [](ld x, ld A, ld B, ld *o) {
         const ld s = x > A ? 1 : -1;
         o[0] = std::fabs(x - A) * B + 3.14159265358979323846L, o[1] = -s * B,
         o[2] = std::fabs(x - A), o[3] = s * B;
       }},
      {"A - B - x + -(A*B)",
       [](ld x, ld A, ld B, ld *o) {
         o[0] = A - B - x - A * B, o[1] = 1 - B, o[2] = -1 - A, o[3] = -1;
       }},
      {"+A/B/x*2",
       [](ld x, ld A, ld B, ld *o) {
         o[0] = A / B / x * 2, o[1] = 2 / (B * x), o[2] = -2 * A / (B * B * x),
         o[3] = -2 * A / (B * x * x);
       }},
  };
  const double A = 1.3, B = 0.7;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    typedformula f(c.text);
    ASSERT_EQ(f.count(), std::string(c.text).find('B') == std::string::npos ? 1 : 2);
    for (const double x : {0.37, 1.9, 3.3}) {
      std::vector<double> p = {A, B}, dp(static_cast<std::size_t>(f.count()));
      double dx = 0;
      const double v = f.derivatives(x, std::span<const double>(p.data(), dp.size()), dp, &dx);
      ld want[4];
      c.f(x, A, B, want);
      const double scale = std::fabs(static_cast<double>(want[0])) + 1;
      EXPECT_NEAR(v, static_cast<double>(want[0]), 1e-14 * scale) << x;
      EXPECT_NEAR(v, f.value(x, p), 1e-14 * scale) << x;
      EXPECT_NEAR(dp[0], static_cast<double>(want[1]),
                  1e-13 * (std::fabs(static_cast<double>(want[1])) + 1))
          << x;
      if (f.count() > 1)
        EXPECT_NEAR(dp[1], static_cast<double>(want[2]),
                    1e-13 * (std::fabs(static_cast<double>(want[2])) + 1))
            << x;
      EXPECT_NEAR(dx, static_cast<double>(want[3]),
                  1e-13 * (std::fabs(static_cast<double>(want[3])) + 1))
          << x;
    }
  }
}

TEST(FormulaDerivatives, ADerivativeThatDoesNotDependOnAParameterStaysZero) {
  // sqrt(x - B) at x = B has an infinite slope in B and x, but none in A.
  typedformula f("A + sqrt(x-B)");
  std::vector<double> p = {2, 1}, dp(2);
  double dx = 0;
  EXPECT_EQ(f.derivatives(1.0, p, dp, &dx), 2.0);
  EXPECT_EQ(dp[0], 1.0);
  EXPECT_TRUE(std::isinf(dp[1]));
  EXPECT_TRUE(std::isinf(dx));
  // x^2 at x = 0 with a constant exponent: 0, not NaN from log(0).
  typedformula g("A*x^2");
  std::vector<double> q = {3}, dq(1);
  EXPECT_EQ(g.derivatives(0.0, q, dq, &dx), 0.0);
  EXPECT_EQ(dq[0], 0.0);
  EXPECT_EQ(dx, 0.0);
}

TEST(FormulaFitExact, UncertaintiesOfAPeakFarFromZeroAreThoseOfTheExactCovariance) {
  // A Gaussian peak of width C at B, up to 1e6 widths from x = 0: the
  // uncertainties against (J^T W J)^-1 from the analytic derivatives at the
  // fitted values, in long double.
  struct {
    double B, C;
  } cases[] = {{1e8, 100}, {1e6, 3}, {1e6, 8}, {5, 1}, {-2e7, 20}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.B);
    std::vector<double> x, y, e;
    for (int i = -12; i <= 12; ++i) {
      const double xi = c.B + 0.25 * c.C * i;
      const double u = (xi - c.B) / c.C;
      x.push_back(xi);
      y.push_back(50 * std::exp(-u * u / 2) + 0.6 * std::sin(1.7 * i));
      e.push_back(0.5 + 0.05 * (i % 3));
    }
    auto d = makedata(x, y, e);
    auto f = fitted("A*exp(-(x-B)^2/(2*C^2))", *d, {45, c.B + 0.2 * c.C, c.C * 1.2});
    const std::array<ld, 3> p = {f->par[0], f->par[1], f->par[2]};
    const auto s = sigmas3(x, e, p, [](ld xi, const std::array<ld, 3> &q, ld *g) {
      const ld u = (xi - q[1]) / q[2], E = std::exp(-u * u / 2);
      g[0] = E, g[1] = q[0] * E * u / q[2], g[2] = q[0] * E * u * u / q[2];
    });
    for (int k = 0; k < 3; ++k)
      EXPECT_LT(relative(f->err[k], static_cast<double>(s[static_cast<std::size_t>(k)])), 1e-6)
          << k;
  }
}

TEST(FormulaFitExact, TheSameMinimumAtEveryScaleOfTheData) {
  // An exponential decay with y and its errors multiplied by K: the same
  // chi-square, and the same parameters over K, from 1e-30 to 1e30.
  const std::vector<double> x = range(0, 0.5, 16);
  std::vector<double> y, e;
  for (std::size_t i = 0; i < x.size(); ++i) {
    y.push_back(7.3 * std::exp(-x[i] / 2.2) + 0.1 * std::cos(2.1 * static_cast<double>(i)));
    e.push_back(0.08 + 0.01 * static_cast<double>(i % 5));
  }
  auto base = makedata(x, y, e);
  auto one = fitted("A*exp(-x/B)", *base, {5, 1});
  for (const double K : {1e-30, 1e-20, 1e-16, 1e-8, 1e8, 1e16, 1e20, 1e30}) {
    SCOPED_TRACE(K);
    std::vector<double> yk, ek;
    for (std::size_t i = 0; i < x.size(); ++i) {
      yk.push_back(y[i] * K);
      ek.push_back(e[i] * K);
    }
    auto d = makedata(x, yk, ek);
    auto f = fitted("A*exp(-x/B)", *d, {5 * K, 1});
    EXPECT_LT(relative(f->chisq(), one->chisq()), 1e-9);
    EXPECT_LT(relative(f->par[0] / K, one->par[0]), 1e-9);
    EXPECT_LT(relative(f->par[1], one->par[1]), 1e-9);
    EXPECT_LT(relative(f->err[0] / K, one->err[0]), 1e-7);
    EXPECT_LT(relative(f->err[1], one->err[1]), 1e-7);
  }
}

TEST(FormulaFitExact, ParametersOfVeryDifferentSizesReachTheMinimum) {
  // Intrinsic carrier density n = C T^1.5 exp(-B/T), C ~ 4.6e21, B ~ 6500,
  // from the estimates 4.9e21 and 6500: the gradient of the chi-square at
  // the result vanishes (long double, analytic derivatives) and the
  // uncertainties are those of (J^T W J)^-1.
  const std::vector<double> T = range(250, 25, 12);
  std::vector<double> n, e;
  for (std::size_t i = 0; i < T.size(); ++i) {
    const double v = 4.6e21 * std::pow(T[i], 1.5) * std::exp(-6480 / T[i]);
    e.push_back(0.03 * v);
    n.push_back(v * (1 + 0.03 * std::sin(2.3 * static_cast<double>(i))));
  }
  auto d = makedata(T, n, e);
  auto f = fitted("C*x^1.5*exp(-B/x)", *d, {4.9e21, 6500});
  const ld C = f->par[0], B = f->par[1];
  ld m00 = 0, m01 = 0, m11 = 0, g0 = 0, g1 = 0;
  for (std::size_t i = 0; i < T.size(); ++i) {
    const ld w = 1 / (static_cast<ld>(e[i]) * e[i]);
    const ld E = std::pow(static_cast<ld>(T[i]), 1.5L) * std::exp(-B / T[i]);
    const ld dC = E, dB = -C * E / T[i], r = C * E - n[i];
    m00 += w * dC * dC, m01 += w * dC * dB, m11 += w * dB * dB;
    g0 += w * r * dC, g1 += w * r * dB;
  }
  const ld det = m00 * m11 - m01 * m01;
  // The Newton step to the stationary point, in standard deviations.
  const ld s0 = (m11 * g0 - m01 * g1) / det, s1 = (m00 * g1 - m01 * g0) / det;
  EXPECT_LT(std::fabs(static_cast<double>(s0 / std::sqrt(m11 / det))), 1e-6);
  EXPECT_LT(std::fabs(static_cast<double>(s1 / std::sqrt(m00 / det))), 1e-6);
  EXPECT_LT(relative(f->err[0], static_cast<double>(std::sqrt(m11 / det))), 1e-6);
  EXPECT_LT(relative(f->err[1], static_cast<double>(std::sqrt(m00 / det))), 1e-6);
}

TEST(FormulaFitExact, XErrorSlopesAreExactFarFromZero) {
  // With x errors the effective variance takes df/dx at each point: far
  // from x = 0 it must be the exact slope, or the chi-square moves. The
  // reference: the effective errors from the analytic slope at the fitted
  // values, and the ordinary fit with them reaches the same chi-square.
  const double x0 = 1e9;
  std::vector<double> x, y, sy, sx;
  for (int i = 0; i < 15; ++i) {
    const double u = -3.5 + 0.5 * i;
    x.push_back(x0 + 20 * u);
    y.push_back(40 * std::exp(-u * u / 2) + 0.7 * std::sin(2.0 * i));
    sy.push_back(0.6);
    sx.push_back(0.8 + 0.1 * (i % 3));
  }
  auto d = makedata(x, y, sy);
  d->xerr = makerow(sx);
  auto f = fitted("A*exp(-(x-B)^2/(2*C^2))", *d, {35, x0 + 3, 25});
  const ld A = f->par[0], B = f->par[1], C = f->par[2];
  ld chi = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const ld u = (x[i] - B) / C, v = A * std::exp(-u * u / 2);
    const ld slope = -v * u / C;
    EXPECT_LT(relative(f->slope(x[i], 0.0), static_cast<double>(slope)), 1e-9);
    const ld eff2 = static_cast<ld>(sy[i]) * sy[i] + slope * slope * sx[i] * sx[i];
    chi += (y[i] - v) * (y[i] - v) / eff2;
  }
  EXPECT_LT(relative(f->chisq(), static_cast<double>(chi)), 1e-9);
}

TEST(FormulaFitExact, AFitThatCanReachNoMinimumFails) {
  // y = 3 sqrt(x - 1.3) is 0 below 1.3, but the points begin at x = 1:
  // the best curve of the formula would need its edge beyond the first
  // point, where the formula has no value, so the iteration ends against
  // that edge where the chi-square still falls, and fails.
  std::vector<std::string> logged;
  setlogwindow([&logged](int, int) { logged.push_back(pendingmessage()); });
  const std::vector<double> x = range(1, 0.25, 12);
  std::vector<double> y;
  for (double v : x)
    y.push_back(v < 1.3 ? 0.0 : 3 * std::sqrt(v - 1.3));
  auto d = makedata(x, y, std::vector<double>(x.size(), 0.01));
  formulafit f("A*sqrt(x-B)");
  f.par[0] = 2;
  f.par[1] = 0.5;
  f.data = d.get();
  nullcanvas canvas;
  EXPECT_THROW(f.fitplot(canvas, canvas, 1000, true), engine_error);
  setlogwindow(nullptr);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("Fit failed to converge try improving estimates", 0), 0u) << logged[0];
  EXPECT_EQ(f.par[0], 2.0);
  EXPECT_EQ(f.par[1], 0.5);
  EXPECT_FALSE(f.curve);
}

// ------------------------------------------------------------ NIST StRD

namespace {

// One problem of tests/data/nist: the formula in b1, b2, ..., two starts,
// the certified values and residual sum of squares, and the data.
struct nistproblem {
  std::string name, formula;
  std::vector<double> start[2], certified, x, y;
  double rss = 0;
};

nistproblem readnist(const std::string &name) {
  nistproblem p;
  p.name = name;
  std::ifstream in(std::string(ORVALLE_TEST_DATA) + "/nist/" + name + ".dat");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream s(line);
    std::string key;
    s >> key;
    double v = 0;
    if (key == "formula")
      std::getline(s >> std::ws, p.formula);
    else if (key == "start1" || key == "start2")
      while (s >> v)
        p.start[key == "start2"].push_back(v);
    else if (key == "certified")
      while (s >> v)
        p.certified.push_back(v);
    else if (key == "rss")
      s >> p.rss;
    else if (key == "data")
      for (double a = 0, b = 0; in >> a >> b;) {
        p.x.push_back(a);
        p.y.push_back(b);
      }
  }
  return p;
}

double digits(double a, double b) {
  return a == b ? 17.0 : -std::log10(std::fabs(a - b) / std::fabs(b));
}

} // namespace

TEST(FormulaFitExact, NistStrdProblemsFromBothStarts) {
  // Unit weights, so the chi-square is the residual sum of squares. Every
  // start converges to the certified values: at least 7 digits of every
  // parameter (the values are certified to 11; the worst problems lose
  // the rest to their conditioning in double precision) and 9 of the sum.
  const char *names[] = {"MGH09",    "MGH10",    "Thurber", "BoxBOD",  "Rat42",  "Rat43",
                         "Eckerle4", "Bennett5", "MGH17",   "Misra1d", "Misra1a"};
  for (const char *name : names) {
    const nistproblem p = readnist(name);
    ASSERT_FALSE(p.x.empty()) << name;
    ASSERT_EQ(p.x.size(), p.y.size());
    for (int start = 0; start < 2; ++start) {
      SCOPED_TRACE(std::string(name) + " start " + std::to_string(start + 1));
      auto d = makedata(p.x, p.y, std::vector<double>(p.x.size(), 1.0));
      formulafit f(p.formula);
      // The formula numbers its parameters as they first appear; bK is
      // certified value K.
      std::vector<std::size_t> index;
      for (const std::string &n : f.model().parameters())
        index.push_back(static_cast<std::size_t>(std::stoi(n.substr(1)) - 1));
      for (int k = 0; k < f.count(); ++k)
        f.par[k] = p.start[start][index[static_cast<std::size_t>(k)]];
      f.data = d.get();
      nullcanvas canvas;
      ASSERT_NO_THROW(f.fitplot(canvas, canvas, 1000, true));
      for (int k = 0; k < f.count(); ++k)
        EXPECT_GE(digits(f.par[k], p.certified[index[static_cast<std::size_t>(k)]]), 7.0)
            << f.model().parameters()[static_cast<std::size_t>(k)];
      EXPECT_GE(digits(f.chisq(), p.rss), 9.0);
    }
  }
}

TEST(FormulaFitExact, TheIterativeModelsGiveExactSlopesForTheEffectiveVariance) {
  // df/dx from the closed forms, far from x = 0 too, where a difference
  // over a millionth of |x| spans many periods or the whole peak.
  powersq pw;
  pw.par[0] = 3, pw.par[1] = 1.7;
  resonance rs;
  rs.par[0] = 2, rs.par[1] = 1e6, rs.par[2] = 0.25;
  periodic pc;
  pc.par[0] = 2, pc.par[1] = 3;
  periodicdecay pd;
  pd.par[0] = 2, pd.par[1] = -0.2, pd.par[2] = 3, pd.par[3] = 0.4;
  struct {
    const bfit *f;
    double x;
    std::function<ld(ld)> slope;
  } cases[] = {
      {&pw, 2.5, [](ld x) { return 3 * 1.7L * std::pow(x, 0.7L); }},
      {&pw, -1e7, [](ld x) { return -3 * 1.7L * std::pow(-x, 0.7L); }},
      {&rs, 1e6 + 0.3,
       [](ld x) {
         const ld d = 1e6L - x, q = d * d + 0.25L;
         return 2 * 2 * d / (q * q);
       }},
      {&pc, 1e3 + 0.1, [](ld x) { return -2 * 3 * std::sin(3 * x); }},
      {&pd, 7.3,
       [](ld x) {
         const ld ph = 3 * x + 0.4L;
         return 2 * std::exp(-0.2L * x) * (-0.2L * std::cos(ph) - 3 * std::sin(ph));
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.x);
    const double want = static_cast<double>(c.slope(c.x));
    EXPECT_NEAR(c.f->slope(c.x, 1.0), want, 1e-9 * std::fabs(want));
  }
}
