// The line through the origin and the polynomial fits (engine/linearfits.cpp);
// their precision far from x = 0 is in fit_precision_test.cpp, York's lines
// in xerrors_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/fits.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

const char *kSmall2Start = "WARNING: The chi-square value from the fit is suspiciously small.";

bool startswith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

} // namespace

// ------------------------------------------------------------ lineronlym

TEST(LineThroughOrigin, FitsGradientAndUncertainty) {
  auto d = makedata({1, 2}, {2, 4}, {1, 1});
  lineronlym f;
  f.data = d.get();
  f.fit(false);
  EXPECT_DOUBLE_EQ(f.par[0], 2.0);
  EXPECT_DOUBLE_EQ(f.err[0], 1.0 / std::sqrt(5.0));
  EXPECT_EQ(f.order, 0);
  EXPECT_EQ(f.dof(), 1);
  EXPECT_DOUBLE_EQ(f.chisq(), 0.0);
  EXPECT_EQ(f.verdict(), -2);
}

TEST(LineThroughOrigin, ParameterLineFollowsEveryVerdict) {
  // Exact data: verdict -2, the caption, the warning, then m itself, which
  // a student reads even when the chi-square is implausible.
  auto exact = makedata({1, 2}, {2, 4}, {1, 1});
  lineronlym f;
  f.data = exact.get();
  f.fit(true);
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Fit of the form y=mx with");
  EXPECT_TRUE(startswith(lines[1], kSmall2Start));
  {
    const auto [v, e] = shownpair(2.0, 1.0 / std::sqrt(5.0), 3);
    EXPECT_EQ(lines[2], "m = " + v + " +/- " + e);
  }

  // Far off the line: verdict 2, the warning and then m = sum(xy)/sum(x^2)
  // = 27/14 with sigma 0.1/sqrt(14).
  auto off = makedata({1, 2, 3}, {1, 10, 2}, {0.1, 0.1, 0.1});
  lineronlym g;
  g.data = off.get();
  g.fit(true);
  ASSERT_EQ(g.verdict(), 2);
  g.describe(lines, true);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FALSE(startswith(lines[1], "m = "));
  {
    const auto [v, e] = shownpair(27.0 / 14.0, 0.1 / std::sqrt(14.0), 3);
    EXPECT_EQ(lines[2], "m = " + v + " +/- " + e);
  }

  // A good fit shows m with three places of its uncertainty.
  auto good = makedata({1, 2, 3, 4}, {1.1, 1.9, 3.05, 4.0}, {0.1, 0.1, 0.1, 0.1});
  lineronlym h;
  h.data = good.get();
  h.fit(true);
  ASSERT_EQ(h.verdict(), 0) << h.chisq();
  h.describe(lines, true);
  ASSERT_EQ(lines.size(), 2u);
  const auto [v, e] = shownpair(h.par[0], h.err[0], 3);
  EXPECT_EQ(lines[1], "m = " + v + " +/- " + e);
}

TEST(LineThroughOrigin, Formula) {
  lineronlym f;
  f.par[0] = 2.0;
  EXPECT_EQ(f.formula(0), "y0(x) = 2 *x");
  f.par[0] = -0.125;
  EXPECT_EQ(f.formula(12), "y12(x) = -0.125 *x");
}

TEST(LineThroughOrigin, AllZeroXFaults) {
  auto d = makedata({0, 0}, {1, 2}, {1, 1});
  lineronlym f;
  f.data = d.get();
  EXPECT_THROW(f.fit(true), engine_error);
}

// --------------------------------------------------------------- polynom

TEST(Polynomial, ExactLineWithEitherSolver) {
  for (bool gauss : {true, false}) {
    auto d = sampled(
        {0, 1, 2, 3}, [](double x) { return 2 * x + 1; }, 0.5);
    polynom f(1);
    f.data = d.get();
    f.fit(gauss);
    EXPECT_NEAR(f.par[0], 2.0, 1e-12);
    EXPECT_NEAR(f.par[1], 1.0, 1e-12);
    EXPECT_NEAR(f.chisq(), 0.0, 1e-20);
    EXPECT_EQ(f.verdict(), -2);
    stringlist lines;
    f.describe(lines, true);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Fit of the form y=ax+b with ");
    EXPECT_TRUE(startswith(lines[1], kSmall2Start));
    EXPECT_TRUE(startswith(lines[2], "a = 2"));
    EXPECT_TRUE(startswith(lines[3], "b = 1"));
  }
}

// The uncertainty of each coefficient belongs to the coefficient as shown:
// the intercept's is that at x = 0, not at the mean of x.
TEST(Polynomial, UncertaintiesOfTheShownCoefficients) {
  for (bool gauss : {true, false}) {
    auto d = makedata({0, 1, 2}, {100, 200, 300}, {1, 1, 1});
    polynom f(1);
    f.data = d.get();
    f.fit(gauss);
    EXPECT_NEAR(f.par[0], 100.0, 1e-9);
    EXPECT_NEAR(f.par[1], 100.0, 1e-9);
    EXPECT_NEAR(f.err[0], 1.0 / std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(f.err[1], std::sqrt(5.0 / 6.0), 1e-12);
    // The covariance of a and b: -Sx / (S Sxx - Sx^2) = -3/6.
    ASSERT_EQ(f.cov.rows, 2);
    EXPECT_NEAR(f.cov(0, 1), -0.5, 1e-12);
    EXPECT_NEAR(f.cov(1, 0), -0.5, 1e-12);
  }
}

// Against the textbook inverse of the normal matrix for a quadratic with
// unequal errors and x far from 0.
TEST(Polynomial, QuadraticUncertaintiesMatchTheNormalMatrixInverse) {
  const std::vector<double> x{10, 11, 12.5, 13, 15, 16};
  const std::vector<double> e{0.1, 0.2, 0.1, 0.3, 0.2, 0.1};
  std::vector<double> y;
  for (std::size_t i = 0; i < x.size(); ++i)
    y.push_back(0.5 * x[i] * x[i] - 3 * x[i] + 7 + (i % 2 ? 0.05 : -0.05));
  auto d = makedata(x, y, e);
  polynom f(2);
  f.data = d.get();
  f.fit(true);
  // Uncentred normal matrix in long double, inverted by Gauss-Jordan.
  long double m[3][6] = {};
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double w = 1.0L / (e[i] * e[i]);
    const long double p[3] = {x[i] * x[i], x[i], 1};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        m[r][c] += w * p[r] * p[c];
  }
  for (int r = 0; r < 3; ++r)
    m[r][3 + r] = 1;
  for (int j = 0; j < 3; ++j) {
    const long double piv = m[j][j];
    for (int c = 0; c < 6; ++c)
      m[j][c] /= piv;
    for (int r = 0; r < 3; ++r)
      if (r != j) {
        const long double f2 = m[r][j];
        for (int c = 0; c < 6; ++c)
          m[r][c] -= f2 * m[j][c];
      }
  }
  for (int s = 0; s < 3; ++s) {
    const double expected = std::sqrt(static_cast<double>(m[s][3 + s]));
    EXPECT_NEAR(f.err[s] / expected, 1.0, 1e-7) << s;
  }
  EXPECT_NEAR(f.cov(0, 2) / static_cast<double>(m[0][5]), 1.0, 1e-6);
}

TEST(Polynomial, ScalingYScalesEverything) {
  const std::vector<double> x{0, 1, 2, 3, 4};
  const std::vector<double> y{1.0, 2.9, 5.2, 6.8, 9.1};
  const std::vector<double> e{0.1, 0.2, 0.1, 0.2, 0.1};
  std::vector<double> y1000, e1000;
  for (std::size_t i = 0; i < y.size(); ++i) {
    y1000.push_back(y[i] * 1000);
    e1000.push_back(e[i] * 1000);
  }
  for (int degree : {1, 2, 3}) {
    auto d = makedata(x, y, e);
    auto d1000 = makedata(x, y1000, e1000);
    polynom f(degree), g(degree);
    f.data = d.get();
    g.data = d1000.get();
    f.fit(true);
    g.fit(true);
    for (int i = 0; i <= degree; ++i) {
      EXPECT_NEAR(g.par[i], 1000 * f.par[i], 1e-9 * std::fabs(1000 * f.par[i]) + 1e-9);
      EXPECT_NEAR(g.err[i], 1000 * f.err[i], 1e-9 * 1000 * f.err[i]);
    }
  }
}

TEST(Polynomial, SolversAgree) {
  const std::vector<double> x{-2, -1, 0, 1.5, 2, 3, 4.5, 5};
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(0.3 * v * v * v - v * v + 2 * v - 1 + 0.01 * std::sin(7 * v));
    e.push_back(0.05 + 0.01 * std::fabs(v));
  }
  for (int degree : {1, 2, 3, 5}) {
    auto d = makedata(x, y, e);
    polynom a(degree), b(degree);
    a.data = b.data = d.get();
    a.fit(true);
    b.fit(false);
    for (int i = 0; i <= degree; ++i) {
      EXPECT_NEAR(a.par[i], b.par[i], 1e-8 * (1 + std::fabs(a.par[i]))) << degree << " " << i;
      EXPECT_NEAR(a.err[i], b.err[i], 1e-8 * (1 + a.err[i])) << degree << " " << i;
    }
  }
}

TEST(Polynomial, DatasetUnchangedAndSingularRaises) {
  // Two distinct x values cannot carry a quadratic.
  auto d = makedata({1, 1, 2, 2}, {1, 2, 3, 4}, {1, 1, 1, 1});
  const std::vector<double> x0 = d->x->data, y0 = d->y->data;
  for (bool gauss : {true, false}) {
    polynom f(2);
    f.par[0] = 7;
    f.data = d.get();
    try {
      f.fit(gauss);
      // Rounding may leave the pivot a hair off zero; the result is then
      // huge but the call must not have lied about finite numbers.
      for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::isfinite(f.par[i]));
    } catch (const engine_error &) {
      EXPECT_EQ(f.par[0], 7); // unchanged on failure
    }
    EXPECT_EQ(d->x->data, x0);
    EXPECT_EQ(d->y->data, y0);
  }
  // All x equal is exactly singular.
  auto same = makedata({3, 3, 3}, {1, 2, 3}, {1, 1, 1});
  for (bool gauss : {true, false}) {
    polynom f(1);
    f.data = same.get();
    EXPECT_THROW(f.fit(gauss), engine_error);
  }
}

TEST(Polynomial, AllYEqualFitsTheConstant) {
  auto d = makedata({1, 2, 3, 4}, {5, 5, 5, 5}, {1, 1, 1, 1});
  polynom f(1);
  f.data = d.get();
  f.fit(true);
  EXPECT_NEAR(f.par[0], 0.0, 1e-12);
  EXPECT_NEAR(f.par[1], 5.0, 1e-12);
}

TEST(Polynomial, DegreeBounds) {
  EXPECT_THROW(polynom(0), engine_error);
  EXPECT_THROW(polynom(11), engine_error);
  EXPECT_THROW(polynom(-4), engine_error);
  // Degree 9 through ten points of a known polynomial.
  auto d = sampled(
      range(-1, 0.25, 12), [](double x) { return std::pow(x, 9) - 2 * x + 1; }, 0.01);
  polynom f(9);
  f.data = d.get();
  f.fit(true);
  EXPECT_NEAR(f.par[0], 1.0, 1e-6);
  EXPECT_NEAR(f.par[8], -2.0, 1e-6);
  EXPECT_NEAR(f.par[9], 1.0, 1e-8);
}

TEST(Polynomial, CaptionsAndParameterLines) {
  const char *captions[] = {"", "Fit of the form y=ax+b with ", "Fit of the form y=ax^2+bx+c with ",
                            "Fit of the form y=ax^3+bx^2+cx+d with ",
                            "Fit of the form y= SUM{i=0:N}( a{i}x^(N-i) ) "};
  for (int degree : {1, 2, 3, 4}) {
    polynom f(degree);
    for (int i = 0; i <= degree; ++i) {
      f.par[i] = 2.5 - i;
      f.err[i] = 0.25;
    }
    stringlist lines;
    f.describe(lines, true); // no dataset: no verdict, no warning
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(degree + 2));
    EXPECT_EQ(lines[0], captions[degree]);
    EXPECT_EQ(lines[1], "a = 2.5 +/- 0.25");
    EXPECT_EQ(lines[2], "b = 1.5 +/- 0.25");
  }
}

TEST(Polynomial, ParameterLinesForEveryVerdict) {
  auto d = makedata({1, 2, 3}, {1, 10, 2}, {0.1, 0.1, 0.1});
  polynom f(1);
  f.data = d.get();
  f.fit(true);
  ASSERT_EQ(f.verdict(), 2);
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(startswith(lines[2], "a = "));
  EXPECT_TRUE(startswith(lines[3], "b = "));
}

TEST(Polynomial, Formulas) {
  polynom line(1);
  line.par[0] = 2.5;
  line.par[1] = 1.25;
  EXPECT_EQ(line.formula(1), "y1(x) = 2.5 *x**1 + 1.25 *x**0");
  polynom quad(2);
  quad.par[0] = 1;
  quad.par[1] = -2;
  quad.par[2] = 0.5;
  EXPECT_EQ(quad.formula(3), "y3(x) = 1 *x**2 + -2 *x**1 + 0.5 *x**0");
  EXPECT_DOUBLE_EQ(quad.value(2), 0.5);
  EXPECT_DOUBLE_EQ(quad.value(0), 0.5);
}

// ------------------------------------------------- many points at once

namespace {

std::uint64_t bitsof(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Points far from x = 0 with errors that vary, for every degree.
std::unique_ptr<dataset> offsetdata(int count) {
  std::vector<double> x, y, e;
  for (int i = 0; i < count; ++i) {
    const double xv = 1000.0 + 0.37 * i;
    x.push_back(xv);
    y.push_back(0.5 * std::sin(0.1 * i) + 2e-3 * xv);
    e.push_back(0.01 + 0.001 * (i % 7));
  }
  return makedata(x, y, e);
}

} // namespace

TEST(Polynomial, ValuesAreValueAtEveryPointAndChisqSumsThemInOrder) {
  // 600 points: more than one block of the chi-square's batches.
  auto d = offsetdata(600);
  for (int degree = 1; degree <= polynom::kMaxDegree; ++degree) {
    polynom fitted(degree);
    fitted.data = d.get();
    fitted.fit(true);
    ASSERT_TRUE(fitted.centred());
    polynom given(degree); // par as given: the expanded form
    given.data = d.get();
    for (int k = 0; k <= degree; ++k)
      given.par[k] = 0.25 * (k + 1);
    for (const polynom *p : {&fitted, &given}) {
      std::vector<double> out(static_cast<std::size_t>(d->x->n));
      p->values(d->x->data.data(), out.data(), d->x->n);
      double chisq = 0.0;
      for (int i = 0; i < d->x->n; ++i) {
        const double v = p->value((*d->x)[i]);
        ASSERT_EQ(bitsof(out[static_cast<std::size_t>(i)]), bitsof(v)) << degree << " " << i;
        const double r = (*d->y)[i] - v;
        chisq += (*d->w)[i] * (r == 0.0 ? 0.0 : r * r);
      }
      EXPECT_EQ(bitsof(p->chisq()), bitsof(chisq)) << degree;
    }
  }
}

TEST(Polynomial, WeightsMadeInTheErrorsStorageGiveTheSameFit) {
  for (int degree : {1, 2, 5}) {
    auto ordinary = offsetdata(300);
    auto inplace = offsetdata(300);
    inplace->w.reset();
    inplace->errorsintoweights();
    ASSERT_TRUE(inplace->weightsonly());
    polynom a(degree), b(degree);
    a.data = ordinary.get();
    b.data = inplace.get();
    a.fit(true);
    b.fit(true);
    for (int k = 0; k <= degree; ++k) {
      EXPECT_EQ(bitsof(a.par[k]), bitsof(b.par[k])) << degree << " " << k;
      EXPECT_EQ(bitsof(a.err[k]), bitsof(b.err[k])) << degree << " " << k;
    }
    EXPECT_EQ(bitsof(a.chisq()), bitsof(b.chisq())) << degree;
    EXPECT_EQ(a.dof(), b.dof());
  }
  // The line through the origin reads the weights alone.
  auto ordinary = offsetdata(50), inplace = offsetdata(50);
  inplace->errorsintoweights();
  lineronlym a, b;
  a.data = ordinary.get();
  b.data = inplace.get();
  a.fit(true);
  b.fit(true);
  EXPECT_EQ(bitsof(a.par[0]), bitsof(b.par[0]));
  EXPECT_EQ(bitsof(a.err[0]), bitsof(b.err[0]));
}
