// Fits of datasets with x errors: York's straight lines, the
// effective-variance rounds of every other model, and datasets without x
// errors fitted exactly as before.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/logchannel.h"
#include "engine/multfit.h"
#include "engine/nullcanvas.h"
#include "engine/trendtypes.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

// Pearson's data with York's weights w(x), w(y).
const std::vector<double> kPx = {0.0, 0.9, 1.8, 2.6, 3.3, 4.4, 5.2, 6.1, 6.5, 7.4};
const std::vector<double> kPy = {5.9, 5.4, 4.4, 4.6, 3.5, 3.7, 2.8, 2.8, 2.4, 1.5};
const std::vector<double> kWx = {1000, 1000, 500, 800, 200, 80, 60, 20, 1.8, 1};
const std::vector<double> kWy = {1, 1.8, 4, 8, 20, 20, 70, 70, 100, 500};

std::vector<double> sigmas(const std::vector<double> &w) {
  std::vector<double> s;
  for (double v : w)
    s.push_back(1.0 / std::sqrt(v));
  return s;
}

std::unique_ptr<dataset> pearsonyork() {
  auto d = makedata(kPx, kPy, sigmas(kWy));
  d->xerr = makerow(sigmas(kWx));
  return d;
}

void fitplot(bfit &f, dataset &d) {
  f.data = &d;
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
}

// The sum of squared weighted distances of a line of slope a (through the
// origin, or through its best intercept), as a function of a alone, in
// long double: S(a) = sum (y - a x - b)^2 / (sy^2 + a^2 sx^2), b the
// weighted mean residual at that slope.
long double distances(long double a, bool through0, const std::vector<double> &x,
                      const std::vector<double> &y, const std::vector<double> &sx,
                      const std::vector<double> &sy, long double *intercept = nullptr) {
  long double sw = 0, swr = 0;
  std::vector<long double> w(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    w[i] = 1.0L / ((long double)sy[i] * sy[i] + a * a * (long double)sx[i] * sx[i]);
    sw += w[i];
    swr += w[i] * (y[i] - a * x[i]);
  }
  const long double b = through0 ? 0.0L : swr / sw;
  if (intercept)
    *intercept = b;
  long double s = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double r = y[i] - a * x[i] - b;
    s += w[i] * r * r;
  }
  return s;
}

// The minimum of f on [lo, hi] by golden-section search in long double.
long double minimise(const std::function<long double(long double)> &f, long double lo,
                     long double hi) {
  const long double g = (std::sqrt(5.0L) - 1.0L) / 2.0L;
  long double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
  for (int i = 0; i < 200; ++i) {
    if (f(c) < f(d))
      hi = d;
    else
      lo = c;
    c = hi - g * (hi - lo);
    d = lo + g * (hi - lo);
  }
  return (lo + hi) / 2.0L;
}

double rel(double a, double b) { return std::fabs(a - b) / std::fabs(b); }

} // namespace

TEST(XErrors, PearsonYorkGivesThePublishedLine) {
  auto d = pearsonyork();
  polynom line(1);
  fitplot(line, *d);
  // York (1966, 2004), Reed (1992), Williamson (1968): a = -0.4805,
  // b = 5.4799, with unscaled uncertainties 0.0580 and 0.2950, and a sum
  // of weighted squared distances of 8 x 1.4832 (the MSWD).
  EXPECT_NEAR(line.par[0], -0.4805, 0.00005);
  EXPECT_NEAR(line.par[1], 5.4799, 0.00005);
  EXPECT_NEAR(line.err[0], 0.0580, 0.00005);
  EXPECT_NEAR(line.err[1], 0.2950, 0.00005);
  // Reed prints the MSWD cut to 1.4832; it is 1.48329...
  EXPECT_NEAR(line.chisq() / line.dof(), 1.4832, 0.0001);
  // The reference minimum of the distances, found independently.
  const auto S = [&](long double a) {
    return distances(a, false, kPx, kPy, sigmas(kWx), sigmas(kWy));
  };
  const long double a = minimise(S, -2.0L, 1.0L);
  long double b = 0;
  const long double smin = distances(a, false, kPx, kPy, sigmas(kWx), sigmas(kWy), &b);
  EXPECT_LT(rel(line.par[0], (double)a), 1e-9);
  EXPECT_LT(rel(line.par[1], (double)b), 1e-9);
  EXPECT_LT(rel(line.chisq(), (double)smin), 1e-9);
  // The effective errors are those of the distances' weights.
  for (int i = 0; i < 10; ++i) {
    const double s2 = 1.0 / kWy[i] + line.par[0] * line.par[0] / kWx[i];
    EXPECT_LT(rel(line.effectiveerror(i), std::sqrt(s2)), 1e-12);
  }
  stringlist lines;
  line.describe(lines, true);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Fit of the form y=ax+b with ");
  EXPECT_EQ(lines[1], "x errors included (York)");
  EXPECT_EQ(lines.back(), "b = 5.479 +/- 0.294");
}

TEST(XErrors, YorkLineThroughTheOriginMinimisesTheDistances) {
  const std::vector<double> x = {1.0, 2.1, 2.9, 4.2, 5.1, 5.8};
  const std::vector<double> y = {2.2, 3.9, 6.3, 8.1, 10.4, 11.5};
  const std::vector<double> sx = {0.1, 0.3, 0.2, 0.4, 0.2, 0.5};
  const std::vector<double> sy = {0.2, 0.2, 0.3, 0.2, 0.4, 0.3};
  auto d = makedata(x, y, sy);
  d->xerr = makerow(sx);
  lineronlym f;
  fitplot(f, *d);
  const auto S = [&](long double m) { return distances(m, true, x, y, sx, sy); };
  const long double m = minimise(S, 0.0L, 5.0L);
  EXPECT_LT(rel(f.par[0], (double)m), 1e-9);
  EXPECT_LT(rel(f.chisq(), (double)S(m)), 1e-9);
  // The slope's uncertainty: the curvature of S at its minimum,
  // var = 2 / S''(m), to the first order that York's formula keeps.
  const long double h = 1e-4L;
  const long double curv = (S(m + h) - 2 * S(m) + S(m - h)) / (h * h);
  EXPECT_LT(rel(f.err[0], (double)std::sqrt(2.0L / curv)), 0.02);
  stringlist lines;
  f.describe(lines, true);
  EXPECT_EQ(lines.at(1), "x errors included (York)");
}

// A curved model with x errors against the same effective-variance
// iteration done in long double: y = a x^2 + b x + c, weights
// 1 / (sy^2 + (2 a x + b)^2 sx^2), normal equations solved by Cramer's
// rule, until the parameters settle.
TEST(XErrors, EffectiveVarianceOfAQuadraticMatchesAnIndependentIteration) {
  const std::vector<double> x = {0.5, 1.0, 1.6, 2.1, 2.4, 3.0, 3.7, 4.1, 4.8, 5.5};
  const std::vector<double> y = {1.4, 2.3, 4.1, 5.6, 7.2, 9.9, 14.6, 17.3, 23.9, 31.0};
  const std::vector<double> sx = {0.05, 0.1, 0.08, 0.12, 0.1, 0.15, 0.1, 0.2, 0.1, 0.12};
  const std::vector<double> sy = {0.2, 0.3, 0.2, 0.4, 0.3, 0.5, 0.4, 0.6, 0.5, 0.8};
  auto d = makedata(x, y, sy);
  d->xerr = makerow(sx);
  const rowref own = d->yerr;
  polynom q(2);
  fitplot(q, *d);
  // The dataset keeps its own y errors and ordinary weights.
  EXPECT_EQ(d->yerr, own);
  EXPECT_EQ((*d->w)[3], 1.0 / (0.4 * 0.4));

  long double p[3] = {0, 0, 0};
  bool first = true;
  for (int round = 0; round < 200; ++round) {
    long double S[5] = {}, T[3] = {};
    for (std::size_t i = 0; i < x.size(); ++i) {
      const long double slope = first ? 0.0L : 2 * p[0] * x[i] + p[1];
      const long double w =
          1.0L / ((long double)sy[i] * sy[i] + slope * slope * (long double)sx[i] * sx[i]);
      long double xp = 1;
      for (int k = 0; k < 5; ++k) {
        S[k] += w * xp;
        if (k < 3)
          T[k] += w * y[i] * xp;
        xp *= x[i];
      }
    }
    // Rows for the coefficients of x^2, x, 1.
    const long double A[3][3] = {{S[4], S[3], S[2]}, {S[3], S[2], S[1]}, {S[2], S[1], S[0]}};
    const long double v[3] = {T[2], T[1], T[0]};
    auto det = [](const long double m[3][3]) {
      return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
             m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
             m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const long double D = det(A);
    for (int c = 0; c < 3; ++c) {
      long double M[3][3];
      for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
          M[r][k] = k == c ? v[r] : A[r][k];
      p[c] = det(M) / D;
    }
    first = false;
  }
  for (int k = 0; k < 3; ++k)
    EXPECT_LT(rel(q.par[k], (double)p[k]), 1e-8) << k;
  stringlist lines;
  q.describe(lines, true);
  EXPECT_EQ(lines.at(1), "x errors included (effective variance)");
}

// x errors of 0 change nothing but the note: every model reaches the
// ordinary fit's parameters, uncertainties and chi-square.
TEST(XErrors, ZeroXErrorsReduceEveryModelToTheOrdinaryFit) {
  const std::vector<double> x = range(0.4, 0.35, 14);
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(3.0 * std::pow(v, 1.5) + 0.05 * std::sin(7 * v));
    e.push_back(0.1 + 0.02 * v);
  }
  const trendtype types[] = {trendtype::linearorigin, trendtype::linear, trendtype::quadratic,
                             trendtype::cubic, trendtype::power};
  for (trendtype t : types) {
    auto plain = makedata(x, y, e);
    auto zero = makedata(x, y, e);
    zero->xerr = makerow(std::vector<double>(x.size(), 0.0));
    auto a = makefit(t, nullptr);
    auto b = makefit(t, nullptr);
    fitplot(*a, *plain);
    fitplot(*b, *zero);
    for (int k = 0; k <= a->order; ++k) {
      EXPECT_LT(rel(b->par[k], a->par[k]), 1e-10) << static_cast<int>(t) << " " << k;
      EXPECT_LT(rel(b->err[k], a->err[k]), 1e-8) << static_cast<int>(t) << " " << k;
    }
    EXPECT_LT(rel(b->chisq(), a->chisq()), 1e-9) << static_cast<int>(t);
    EXPECT_FALSE(b->xerrmethod.empty());
    EXPECT_TRUE(a->xerrmethod.empty());
  }
  // The typed formula and the damped cosine, iterative fits, alike.
  struct iterative {
    std::function<std::unique_ptr<bfit>()> make;
    std::function<double(double)> f;
  } fits[] = {
      {[] {
         return makeformulafit("A*(1-exp(-x/B))", {1.0, 1.0});
       },
       [](double v) { return 2.5 * (1 - std::exp(-v / 1.7)); }},
      {[] {
         return makefit(trendtype::periodicdecay, nullptr, {2, -0.1, 1.3, 0.2, 1});
       },
       [](double v) { return 2 * std::exp(-0.1 * v) * std::cos(1.3 * v + 0.2); }},
  };
  for (const auto &it : fits) {
    std::vector<double> yy;
    for (std::size_t i = 0; i < x.size(); ++i)
      yy.push_back(it.f(x[i]) + 0.02 * std::sin(5.0 * i));
    auto plain = makedata(x, yy, e);
    auto zero = makedata(x, yy, e);
    zero->xerr = makerow(std::vector<double>(x.size(), 0.0));
    auto a = it.make();
    auto b = it.make();
    fitplot(*a, *plain);
    fitplot(*b, *zero);
    for (int k = 0; k <= a->order; ++k) {
      EXPECT_LT(rel(b->par[k], a->par[k]), 1e-7) << k;
      EXPECT_LT(rel(b->err[k], a->err[k]), 1e-6) << k;
    }
    stringlist lines;
    b->describe(lines, true);
    EXPECT_EQ(lines.at(1), "x errors included (effective variance)");
  }
}

// With x errors the typed formula's fit reaches the effective-variance
// fixed point: refitting with sigma_eff made from its own parameters
// gives the same parameters again.
TEST(XErrors, FormulaFitSettlesAtItsEffectiveErrors) {
  const std::vector<double> x = range(0.2, 0.3, 15);
  std::vector<double> y, sy, sx;
  for (std::size_t i = 0; i < x.size(); ++i) {
    y.push_back(2.5 * (1 - std::exp(-x[i] / 1.7)) + 0.03 * std::sin(3.0 * i));
    sy.push_back(0.04);
    sx.push_back(0.05 + 0.01 * (i % 4));
  }
  auto d = makedata(x, y, sy);
  d->xerr = makerow(sx);
  auto f = makeformulafit("A*(1-exp(-x/B))", {1.0, 1.0});
  fitplot(*f, *d);
  // sigma_eff from the analytic slope A/B exp(-x/B), in long double.
  const long double A = f->par[0], B = f->par[1];
  std::vector<double> eff;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double slope = A / B * std::exp(-x[i] / B);
    eff.push_back(
        static_cast<double>(std::sqrt((long double)sy[i] * sy[i] + slope * slope * sx[i] * sx[i])));
    EXPECT_LT(rel(f->effectiveerror(static_cast<int>(i)), eff.back()), 1e-6);
  }
  auto again = makedata(x, y, eff);
  auto g = makeformulafit("A*(1-exp(-x/B))", {1.0, 1.0});
  fitplot(*g, *again);
  EXPECT_LT(rel(f->par[0], g->par[0]), 1e-7);
  EXPECT_LT(rel(f->par[1], g->par[1]), 1e-7);
  EXPECT_LT(rel(f->chisq(), g->chisq()), 1e-6);
}

// A dataset without x errors, or with an empty x-error row, is fitted
// exactly as before: the same numbers to the bit and the same texts.
TEST(XErrors, WithoutXErrorsEveryTrendTypeIsUnchanged) {
  struct kind {
    trendtype type;
    estimateset est;
    std::function<double(double)> f;
    std::string formula;
  };
  const kind kinds[] = {
      {trendtype::linearorigin, kDefaultEstimates, [](double x) { return 2.1 * x; }, ""},
      {trendtype::linear, kDefaultEstimates, [](double x) { return 2.1 * x - 1; }, ""},
      {trendtype::quadratic, kDefaultEstimates, [](double x) { return x * x - x + 2; }, ""},
      {trendtype::cubic, kDefaultEstimates, [](double x) { return 0.2 * x * x * x - x; }, ""},
      {trendtype::power, kDefaultEstimates, [](double x) { return 3 * std::pow(x, 1.5); }, ""},
      {trendtype::resonance, kDefaultEstimates,
       [](double x) { return 5 / ((x - 2) * (x - 2) + 1); }, ""},
      {trendtype::periodic, {2, 1.3, 1, 1, 1}, [](double x) { return 2 * std::cos(1.3 * x); }, ""},
      {trendtype::periodicdecay,
       {2, -0.1, 1.3, 0.2, 1},
       [](double x) { return 2 * std::exp(-0.1 * x) * std::cos(1.3 * x + 0.2); },
       ""},
      {trendtype::formula, kDefaultEstimates, [](double x) { return 1.5 * std::exp(-x / 2.5); },
       "A*exp(-x/B)"},
  };
  const std::vector<double> x = range(0.3, 0.4, 16);
  for (const kind &k : kinds) {
    std::vector<double> y, e;
    for (std::size_t i = 0; i < x.size(); ++i) {
      y.push_back(k.f(x[i]) + 0.03 * ((i % 3) - 1.0));
      e.push_back(0.05);
    }
    auto plain = makedata(x, y, e);
    auto empty = makedata(x, y, e);
    empty->xerr = std::make_shared<drow>();
    auto make = [&]() {
      return k.type == trendtype::formula ? makeformulafit(k.formula, {1.0, 2.0})
                                          : makefit(k.type, nullptr, k.est);
    };
    auto a = make();
    auto b = make();
    fitplot(*a, *plain);
    fitplot(*b, *empty);
    for (int p = 0; p < 10; ++p) {
      EXPECT_EQ(a->par[p], b->par[p]) << static_cast<int>(k.type);
      EXPECT_EQ(a->err[p], b->err[p]) << static_cast<int>(k.type);
    }
    EXPECT_EQ(a->chisq(), b->chisq());
    stringlist la, lb;
    a->describe(la, true);
    b->describe(lb, true);
    EXPECT_EQ(la, lb);
    for (const std::string &line : lb)
      EXPECT_EQ(line.find("x errors"), std::string::npos);
    EXPECT_EQ(a->formula(1), b->formula(1));
    EXPECT_EQ(b->effectiveerror(3), 0.05);
  }
}

TEST(XErrors, MultiLineFitsUseEffectiveVariance) {
  const std::vector<double> x = {1, 2, 3, 4, 5};
  auto d1 = makedata(x, {2.1, 3.9, 6.2, 7.8, 10.1}, {0.2, 0.2, 0.2, 0.2, 0.2});
  auto d2 = makedata(x, {1.1, 3.2, 4.8, 7.1, 9.0}, {0.3, 0.3, 0.3, 0.3, 0.3});
  d1->xerr = makerow({0.1, 0.1, 0.1, 0.1, 0.1});
  auto run = [](dataset &a, dataset &b) {
    auto m = makemultifit(multikind::samegradient);
    m->makelines(2);
    m->datasets.add(&a);
    m->datasets.add(&b);
    m->line(0)->data = &a;
    m->line(1)->data = &b;
    auto lines = m->takelines();
    nullcanvas canvas;
    m->fit(canvas, canvas, true);
    return lines;
  };
  auto with = run(*d1, *d2);
  // The reference: the shared slope m with own intercepts minimises the
  // sum of the two datasets' effective chi-squares, d1's points weighted
  // 1 / (0.04 + 0.01 m^2).
  const auto S = [&](long double m) {
    long double total = 0;
    const dataset *sets[2] = {d1.get(), d2.get()};
    for (int j = 0; j < 2; ++j) {
      std::vector<double> sx(5, j == 0 ? 0.1 : 0.0);
      total += distances(m, false, x, sets[j]->y->data, sx, sets[j]->yerr->data);
    }
    return total;
  };
  // Effective variance holds the weights at the settled slope, so its
  // fixed point lies near but not on the minimum of S: check the fixed
  // point instead.
  const double m = with[0]->par[0];
  long double c1 = 0, c2 = 0;
  distances(m, false, x, d1->y->data, std::vector<double>(5, 0.1), d1->yerr->data, &c1);
  distances(m, false, x, d2->y->data, std::vector<double>(5, 0.0), d2->yerr->data, &c2);
  EXPECT_LT(rel(with[0]->par[1], (double)c1), 1e-9);
  EXPECT_LT(rel(with[1]->par[1], (double)c2), 1e-9);
  EXPECT_LT(std::fabs(m - (double)minimise(S, 0.0L, 5.0L)), 0.01);
  stringlist lines;
  with[0]->describe(lines, true);
  EXPECT_EQ(lines.at(1), "x errors included (effective variance)");
  // The datasets keep their ordinary weights.
  EXPECT_EQ((*d1->w)[0], 1.0 / (0.2 * 0.2));
}
