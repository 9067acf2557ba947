// Small fixtures of the hardest linear fits: high degrees far from x = 0,
// noise-free data, weights many orders apart, multi-line fits at Unix time
// stamps, and NIST's Filip. Every fit either fails with a reason or agrees
// with the exact rational least-squares solution computed here: every
// parameter within 0.01 standard deviations, every uncertainty and
// chi-square to 6 digits, under both solvers.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "engine/exactpoly.h"
#include "engine/fits.h"
#include "engine/multfit.h"
#include "tests/engine/exactls.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

// A deterministic scatter of about one standard deviation.
double scatter(int i) { return std::sin(12.9898 * i + 0.5) * 1.4; }

struct points {
  std::vector<double> x, y, e;
};

// Checks a polynomial fit of degree N against the exact solution.
void expectexactpoly(const points &p, int N, bool gauss) {
  std::vector<std::vector<rational>> rows;
  std::vector<rational> y, w;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    std::vector<rational> row(static_cast<std::size_t>(N + 1));
    rational pw = 1;
    for (int k = N; k >= 0; --k) {
      row[static_cast<std::size_t>(k)] = pw;
      pw *= rational(p.x[i]);
    }
    rows.push_back(row);
    y.emplace_back(p.y[i]);
    w.push_back(weightof(p.e[i]));
  }
  const exactls ref(rows, y, w);
  ASSERT_FALSE(ref.singular);
  auto d = makedata(p.x, p.y, p.e);
  polynom f(N);
  f.data = d.get();
  ASSERT_NO_THROW(f.fit(gauss));
  for (int k = 0; k <= N; ++k) {
    const auto q = static_cast<std::size_t>(k);
    EXPECT_LE(sigmasoff(f.par[k], ref.q[q], ref.sigma(q)), 0.01)
        << "coefficient " << k << ": " << f.par[k] << " vs " << ref.q[q].get_d() << " +/- "
        << ref.sigma(q);
    EXPECT_LE(relativeoff(f.err[k], rational(ref.sigma(q))), 1e-6)
        << "uncertainty " << k << ": " << f.err[k] << " vs " << ref.sigma(q);
  }
  const rational chi = ref.chisq(rows, y, w, [](std::size_t) { return true; });
  EXPECT_LE(relativeoff(f.chisq(), chi), 5e-7) << f.chisq() << " vs " << chi.get_d();
}

// n points of a smooth curve of size about 1 in u = (x - x0) / span, with
// errors e and, when noisy, a scatter of about one error.
points curve(double x0, double step, int n, double e, bool noisy, int degree) {
  points p;
  for (int i = 0; i < n; ++i) {
    const double u = (i - 0.5 * (n - 1)) / n;
    double v = 0.0;
    for (int k = degree; k >= 0; --k)
      v = v * u + (k % 2 ? 0.3 : -0.7) * (k + 1);
    p.x.push_back(x0 + i * step);
    p.y.push_back(v + (noisy ? e * scatter(i) : 0.0));
    p.e.push_back(e);
  }
  return p;
}

struct polyfixture {
  const char *what;
  int degree;
  points p;
};

std::vector<polyfixture> polyfixtures() {
  std::vector<polyfixture> v;
  v.push_back({"degree 7 on 1e6 ... 1e6 + 1.1", 7, curve(1e6, 0.1, 12, 0.01, true, 7)});
  v.push_back({"degree 9 near 1e6", 9, curve(1e6, 0.1, 14, 0.01, true, 9)});
  v.push_back({"degree 10 near 1e6", 10, curve(1e6, 0.5, 16, 0.001, true, 10)});
  v.push_back({"degree 5 near 1e3", 5, curve(1e3, 0.25, 12, 0.02, true, 5)});
  v.push_back({"degree 4 near 1e9", 4, curve(1e9, 1.0, 10, 0.01, true, 4)});
  v.push_back({"degree 10 near 1e9", 10, curve(1e9, 3.0, 15, 0.01, true, 10)});
  v.push_back({"straight line at 1e9", 1, curve(1e9 + 0.125, 0.37, 40, 0.05, true, 1)});
  v.push_back({"noise-free quartic at 1e6", 4, curve(1e6, 0.5, 9, 0.01, false, 4)});
  {
    // A cubic through 5 points with errors 1e7 apart.
    points p = curve(2.0, 1.0, 5, 1e-3, true, 3);
    p.e = {1e-3, 1e4, 1e-3, 1e4, 1e-3};
    v.push_back({"cubic, errors 1e7 apart", 3, p});
  }
  v.push_back({"degree 8 through 10 points near 0", 8, curve(0.0, 0.1, 10, 0.01, true, 8)});
  {
    points p = curve(-1.0, 0.3, 8, 1.0, true, 4);
    for (std::size_t i = 0; i < p.e.size(); ++i)
      p.e[i] = i % 3 == 0 ? 1e-11 : 1.0;
    v.push_back({"quartic, errors 1e11 apart", 4, p});
  }
  {
    points p = curve(1.0, 0.5, 9, 1.0, true, 2);
    for (std::size_t i = 0; i < p.e.size(); ++i)
      p.e[i] = i % 2 == 0 ? 1e-12 : 1e12;
    v.push_back({"quadratic, weights 1e48 apart", 2, p});
  }
  {
    // Weights whose ratio overflows a double: 1e300 beside a subnormal 1e-320.
    points p = curve(1.0, 0.5, 9, 1.0, true, 2);
    for (std::size_t i = 0; i < p.e.size(); ++i)
      p.e[i] = i % 2 == 0 ? 1e-150 : 1e160;
    v.push_back({"quadratic, weights 1e620 apart", 2, p});
  }
  for (double xs : {1.0, 1e6}) {
    // 30 points with errors near 0.013 but one of 1.1e-11.
    points p;
    for (int i = 0; i < 30; ++i) {
      p.x.push_back(xs * (3.0 + 0.1 * i));
      p.y.push_back(2.0 + 0.5 * i + 0.013 * scatter(i));
      p.e.push_back(i == 17 ? 1.1e-11 : 0.013 + 0.0001 * (i % 4));
    }
    v.push_back(
        {xs == 1.0 ? "line, one error of 1.1e-11" : "line, one error of 1.1e-11, x * 1e6", 1, p});
  }
  return v;
}

} // namespace

TEST(ExactPolynomial, HardCasesAgreeWithTheExactSolution) {
  for (const polyfixture &c : polyfixtures())
    for (bool gauss : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (gauss ? ", Gauss" : ", Cramer"));
      expectexactpoly(c.p, c.degree, gauss);
    }
}

// What cannot be fitted fails with its reason, also on the exact path.
TEST(ExactPolynomial, TooFewDistinctXValuesFailWithTheReason) {
  const points p{{1e9, 1e9, 1e9 + 1, 1e9 + 1, 1e9 + 2}, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1}};
  for (bool gauss : {true, false}) {
    auto d = makedata(p.x, p.y, p.e);
    polynom f(3);
    f.data = d.get();
    try {
      f.fit(gauss);
      ADD_FAILURE() << "a cubic through three distinct x values was fitted";
    } catch (const engine_error &e) {
      EXPECT_NE(std::string(e.what()).find("distinct x values"), std::string::npos) << e.what();
    }
  }
}

// NIST StRD Filip, degree 10: every coefficient and uncertainty to at least
// 10 digits of the certified values, and the chi-square n - p = 71 (the
// errors are the certified residual standard deviation).
TEST(ExactPolynomial, FilipToTenDigits) {
  const std::string dir = std::string(ORVALLE_TEST_DATA) + "/filip/";
  std::ifstream data(dir + "filip.txt");
  std::ifstream cert(dir + "certified.txt");
  ASSERT_TRUE(data && cert);
  points p;
  for (double x, y, e; data >> x >> y >> e;) {
    p.x.push_back(x);
    p.y.push_back(y);
    p.e.push_back(e);
  }
  std::vector<double> value, sd;
  for (double v, s; cert >> v >> s;) {
    value.push_back(v);
    sd.push_back(s);
  }
  ASSERT_EQ(p.x.size(), 82u);
  ASSERT_EQ(value.size(), 11u);
  for (bool gauss : {true, false}) {
    SCOPED_TRACE(gauss ? "Gauss" : "Cramer");
    auto d = makedata(p.x, p.y, p.e);
    polynom f(10);
    f.data = d.get();
    ASSERT_NO_THROW(f.fit(gauss));
    for (int k = 0; k <= 10; ++k) {
      // b_k belongs to x^k, par[10 - k].
      EXPECT_NEAR(f.par[10 - k] / value[static_cast<std::size_t>(k)], 1.0, 1e-10) << "b" << k;
      EXPECT_NEAR(f.err[10 - k] / sd[static_cast<std::size_t>(k)], 1.0, 1e-10) << "sd b" << k;
    }
    EXPECT_NEAR(f.chisq(), 71.0, 71e-10);
  }
}

// ------------------------------------------------------------ multi fits

namespace {

struct multifixture {
  const char *what;
  bool samem;
  std::vector<points> sets;
};

// Datasets near x0 over `span`, lines of gradient about 2.5 (shared or
// not) with a scatter of about one error.
multifixture stamps(const char *what, bool samem, double x0, double span, double e, bool noisy) {
  multifixture m{what, samem, {}};
  for (int j = 0; j < 3; ++j) {
    points p;
    const double slope = samem ? 2.5 : 2.5 + 0.25 * j;
    const double atx0 = samem ? 100.0 * j : 40.0;
    for (int i = 0; i < 6; ++i) {
      const double dx = span * (i + 0.37 * j) / 6.0;
      p.x.push_back(x0 + dx);
      // Same intercept: every line meets at x = 0, which lies at x0 less.
      const double yv = samem ? atx0 + slope * dx : atx0 + slope * (x0 + dx) - 2.5 * x0;
      p.y.push_back(yv + (noisy ? e * scatter(6 * j + i) : 0.0));
      p.e.push_back(e);
    }
    m.sets.push_back(p);
  }
  return m;
}

void expectexactmulti(const multifixture &c, bool gauss) {
  const std::size_t K = c.sets.size();
  std::vector<std::vector<rational>> rows;
  std::vector<rational> y, w;
  std::vector<std::size_t> owner;
  for (std::size_t j = 0; j < K; ++j)
    for (std::size_t i = 0; i < c.sets[j].x.size(); ++i) {
      std::vector<rational> row(K + 1, 0);
      const rational x(c.sets[j].x[i]);
      row[0] = c.samem ? x : rational(1);
      row[j + 1] = c.samem ? rational(1) : x;
      rows.push_back(row);
      y.emplace_back(c.sets[j].y[i]);
      w.push_back(weightof(c.sets[j].e[i]));
      owner.push_back(j);
    }
  const exactls ref(rows, y, w);
  ASSERT_FALSE(ref.singular);
  std::vector<std::unique_ptr<dataset>> sets;
  for (const points &p : c.sets)
    sets.push_back(makedata(p.x, p.y, p.e));
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
  ASSERT_NO_THROW(m->fit(mainchart, devchart, gauss));
  const int shared = c.samem ? 0 : 1;
  for (std::size_t j = 0; j < K; ++j) {
    const bfit &l = *lines[j];
    for (const auto &[k, q] : {std::pair<int, std::size_t>{shared, 0}, {1 - shared, j + 1}}) {
      EXPECT_LE(sigmasoff(l.par[k], ref.q[q], ref.sigma(q)), 0.01)
          << "line " << j << " parameter " << k << ": " << l.par[k] << " vs " << ref.q[q].get_d();
      EXPECT_LE(relativeoff(l.err[k], rational(ref.sigma(q))), 1e-6)
          << "line " << j << " uncertainty " << k;
    }
    const rational chi = ref.chisq(rows, y, w, [&](std::size_t i) { return owner[i] == j; });
    if (chi == 0)
      EXPECT_LE(l.chisq(), 1e-20) << "line " << j;
    else
      EXPECT_LE(relativeoff(l.chisq(), chi), 5e-7)
          << "line " << j << ": " << l.chisq() << " vs " << chi.get_d();
  }
}

} // namespace

TEST(ExactMulti, FarFromZeroAgreeWithTheExactJointSolution) {
  const multifixture cases[] = {
      stamps("same gradient at 1.7e9, span 1000", true, 1.7e9, 1000.0, 1.0, true),
      stamps("same gradient at 2e9, span 10", true, 2e9, 10.0, 0.01, true),
      stamps("same intercept at 1e9, span 1000", false, 1e9, 1000.0, 1.0, true),
      stamps("same intercept at 2e9, span 10", false, 2e9, 10.0, 0.01, true),
      stamps("exact lines at 1e6 ... 1e6 + 5", true, 1e6, 5.0, 1.0, false),
      stamps("exact lines sharing the intercept at 1e6", false, 1e6, 5.0, 1.0, false),
  };
  for (const multifixture &c : cases)
    for (bool gauss : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (gauss ? ", Gauss" : ", Cramer"));
      expectexactmulti(c, gauss);
    }
}

// 10^5 datasets of two points: the joint fit takes time linear in the
// datasets (a list searched per dataset or a dense joint solve would not
// finish in a test's time).
TEST(ExactMulti, HundredThousandDatasets) {
  constexpr int K = 100000;
  std::vector<std::unique_ptr<dataset>> sets;
  Mlinearsamem m;
  m.makelines(K);
  auto lines = m.takelines();
  for (int j = 0; j < K; ++j) {
    sets.push_back(
        makedata({1.0 * j, 1.0 * j + 1}, {2.0 * j + 0.5 * (j % 3), 2.0 * j + 2}, {1.0, 1.0}));
    m.datasets.add(sets.back().get());
    lines[static_cast<std::size_t>(j)]->data = sets.back().get();
  }
  recordingcanvas mainchart, devchart;
  ASSERT_NO_THROW(m.fit(mainchart, devchart, true));
  // Each dataset alone has gradient 2 - (j % 3) 0.5, and every one weighs
  // alike (sum w (x - xbar)^2 = 1/2), so the shared gradient is their mean.
  double mean = 0.0;
  for (int j = 0; j < K; ++j)
    mean += 2.0 - 0.5 * (j % 3);
  mean /= K;
  EXPECT_NEAR(lines[0]->par[0], mean, 1e-12);
  EXPECT_NEAR(lines[0]->err[0], std::sqrt(2.0 / K), 1e-15);
  EXPECT_TRUE(m.normal.rows == 0 && m.rhs.n == 0); // not formed for so many
}

// Weights whose ratio a double cannot hold (1e300 beside a subnormal 1e-320)
// still give the working precision a finite size: points on a parabola come
// back as its coefficients.
TEST(ExactPolynomial, WeightsBeyondTheRangeOfTheirRatio) {
  constexpr int n = 9;
  drow X(n), Y(n), W(n);
  for (int i = 0; i < n; ++i) {
    const double x = 0.5 * i - 1.0;
    X[i] = x;
    Y[i] = 0.5 * x * x - 3.0 * x + 2.0; // exact in binary
    W[i] = i % 2 == 0 ? 1e300 : 1e-320;
  }
  for (bool gauss : {true, false}) {
    const exactpoly r = exactpolyfit(X, Y, W, 2, 0.75, gauss);
    EXPECT_DOUBLE_EQ(r.par[0], 0.5);
    EXPECT_DOUBLE_EQ(r.par[1], -3.0);
    EXPECT_DOUBLE_EQ(r.par[2], 2.0);
    EXPECT_EQ(r.chisq, 0.0);
  }
}
