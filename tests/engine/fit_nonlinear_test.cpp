// The power law, the resonance curve and the iterative periodic fits
// (engine/nonlinearfits.cpp, with bfit's Newton iteration).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/logchannel.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

const std::string kNotConverged = "Fit failed to converge try improving estimates";

// Collects what the engine logs during one test.
class LoggedFit : public ::testing::Test {
protected:
  void SetUp() override {
    pendingmessage();
    setlogwindow([this](int, int) { logged.push_back(pendingmessage()); });
  }
  void TearDown() override { setlogwindow(nullptr); }
  std::vector<std::string> logged;
};

// Independent first-order propagation: the derivative of each fitted
// parameter with respect to each y value by central differences of whole
// refits, squared, times the y error squared, summed.
std::vector<double> propagated(const std::vector<double> &x, const std::vector<double> &y,
                               const std::vector<double> &e, int np,
                               const std::function<std::vector<double>(dataset &)> &refit) {
  std::vector<double> var(static_cast<std::size_t>(np), 0.0);
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double h = 1e-5 * e[i];
    std::vector<double> up = y, down = y;
    up[i] += h;
    down[i] -= h;
    auto du = makedata(x, up, e);
    auto dd = makedata(x, down, e);
    const std::vector<double> pu = refit(*du), pd = refit(*dd);
    for (int k = 0; k < np; ++k) {
      const double deriv =
          (pu[static_cast<std::size_t>(k)] - pd[static_cast<std::size_t>(k)]) / (2 * h);
      var[static_cast<std::size_t>(k)] += deriv * deriv * e[i] * e[i];
    }
  }
  for (double &v : var)
    v = std::sqrt(v);
  return var;
}

template <class Fit> std::vector<double> fitted(dataset &d, std::vector<double> start = {}) {
  Fit f;
  for (std::size_t k = 0; k < start.size(); ++k)
    f.par[k] = start[k];
  f.data = &d;
  f.fit(true);
  return {f.par, f.par + f.order + 1};
}

} // namespace

// ----------------------------------------------------------------- powersq

using PowerLaw = LoggedFit;

TEST_F(PowerLaw, ExactDataAndPropagatedUncertainties) {
  const std::vector<double> x{1, 2, 3, 4};
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(3 * v * v);
    e.push_back(0.01 * 3 * v * v);
  }
  auto d = makedata(x, y, e);
  powersq f;
  f.data = d.get();
  f.fit(false);
  EXPECT_NEAR(f.par[0], 3.0, 1e-12);
  EXPECT_NEAR(f.par[1], 2.0, 1e-12);
  const auto expected = propagated(x, y, e, 2, [](dataset &dd) { return fitted<powersq>(dd); });
  EXPECT_NEAR(f.err[0] / expected[0], 1.0, 1e-5);
  EXPECT_NEAR(f.err[1] / expected[1], 1.0, 1e-5);
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 4u); // chi-square 0: the warning is there
  EXPECT_EQ(lines[0], "Fit of the form y=A*(x^2)^(B/2) with ");
  EXPECT_EQ(lines[2].substr(0, 4), "A = ");
  EXPECT_EQ(lines[3].substr(0, 5), "B = 2");
  EXPECT_TRUE(logged.empty());
}

TEST_F(PowerLaw, NegativeYTakesTheSignedLogarithm) {
  const std::vector<double> x{1, 2, 3, 4};
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(-2 * v * v * v);
    e.push_back(0.02 * 2 * v * v * v);
  }
  auto d = makedata(x, y, e);
  powersq f;
  f.data = d.get();
  EXPECT_NO_THROW(f.fit(true));
  // The signed logarithm mirrors the data: -2 x^3 is fitted as 0.5 x^-3.
  EXPECT_NEAR(f.par[0], 0.5, 1e-9);
  EXPECT_NEAR(f.par[1], -3.0, 1e-9);
  // Same uncertainties as the mirror-image data.
  std::vector<double> ypos;
  for (double v : y)
    ypos.push_back(-v);
  auto p = makedata(x, ypos, e);
  powersq g;
  g.data = p.get();
  g.fit(true);
  EXPECT_NEAR(f.err[1], g.err[1], 1e-12);
}

TEST_F(PowerLaw, ValueAndFormula) {
  powersq f;
  f.par[0] = 3;
  f.par[1] = 2;
  EXPECT_DOUBLE_EQ(f.value(2), 12.0);
  EXPECT_DOUBLE_EQ(f.value(0), 0.0);
  f.par[1] = 0;
  EXPECT_DOUBLE_EQ(f.value(0), 3.0);
  f.par[1] = 2;
  EXPECT_EQ(f.formula(0), "y0(x) = 3 *(x**2)**1");
  f.par[1] = 1;
  EXPECT_EQ(f.formula(4), "y4(x) = 3 *(x**2)**0.5");
}

TEST_F(PowerLaw, ZeroInTheDataIsRefused) {
  for (int which : {0, 1, 2}) {
    std::vector<double> x{1, 2, 3}, y{3, 12, 27}, e{0.1, 0.1, 0.1};
    (which == 0 ? x : which == 1 ? y : e)[1] = 0;
    auto d = makedata(x, y, e);
    powersq f;
    f.par[0] = 42;
    f.data = d.get();
    try {
      f.fit(true);
      FAIL();
    } catch (const engine_error &err) {
      EXPECT_EQ(err.code(), kFailedFit);
    }
    EXPECT_EQ(f.par[0], 42);
    EXPECT_EQ(d->x->data, x);
    EXPECT_EQ(d->y->data, y);
  }
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0], "This fit routine can not have 0 value in the data for x or y");
}

// --------------------------------------------------------------- resonance

using Resonance = LoggedFit;

TEST_F(Resonance, ExactDataAndPropagatedUncertainties) {
  const std::vector<double> x = range(-1, 0.5, 9);
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(2 / ((v - 1) * (v - 1) + 0.5));
    e.push_back(0.02 + 0.01 * v * v);
  }
  auto d = makedata(x, y, e);
  resonance f;
  f.data = d.get();
  f.fit(false);
  EXPECT_NEAR(f.par[0], 2.0, 1e-10);
  EXPECT_NEAR(f.par[1], 1.0, 1e-10);
  EXPECT_NEAR(f.par[2], 0.5, 1e-10);
  const auto expected = propagated(x, y, e, 3, [](dataset &dd) { return fitted<resonance>(dd); });
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(f.err[k] / expected[static_cast<std::size_t>(k)], 1.0, 1e-5) << k;
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Fit of the form y=A/((B-x)^2+C) with ");
  EXPECT_EQ(lines[4].substr(0, 4), "C = ");
}

TEST_F(Resonance, FormulaWritesTheCentreReversed) {
  resonance f;
  f.par[0] = 2;
  f.par[1] = 1;
  f.par[2] = 0.5;
  EXPECT_EQ(f.formula(2), "y2(x) = 2 / ( (-1 + x)**2 + 0.5 )");
  EXPECT_DOUBLE_EQ(f.value(1), 4.0);
}

TEST_F(Resonance, FailuresAreLogged) {
  auto zero = makedata({0, 1, 2, 3}, {1, 0, 1, 0.5}, {0.1, 0.1, 0.1, 0.1});
  auto line = makedata({0, 1, 2, 3}, {1, 1, 1, 1}, {0.1, 0.1, 0.1, 0.1}); // 1/y has a = 0
  for (dataset *d : {zero.get(), line.get()}) {
    resonance f;
    f.par[0] = 9;
    f.data = d;
    EXPECT_THROW(f.fit(true), engine_error);
    EXPECT_EQ(f.par[0], 9);
  }
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], "There is an error with your fit routine");
  EXPECT_EQ(logged[1], "There is an error with your fit routine");
}

// ---------------------------------------------------------------- periodic

using Periodic = LoggedFit;

namespace {
std::unique_ptr<dataset> cosinedata() {
  return sampled(
      range(0.1, 0.1, 10), [](double x) { return 2 * std::cos(3 * x); }, 0.01);
}
} // namespace

TEST_F(Periodic, ConvergesInSevenIterations) {
  auto d = cosinedata();
  periodic f;
  f.par[0] = 1.9;
  f.par[1] = 3.05;
  f.data = d.get();
  f.fit(false);
  EXPECT_EQ(f.iterations, 7);
  EXPECT_NEAR(f.par[0], 2.0, 1e-9);
  EXPECT_NEAR(f.par[1], 3.0, 1e-9);
  EXPECT_NEAR(f.err[0], 0.0048, 0.0001);
  EXPECT_NEAR(f.err[1], 0.0041, 0.0001);
  EXPECT_LT(f.chisq(), 1e-12);
  EXPECT_EQ(f.verdict(), -2);
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Fit of the form y=A*cos(B*x) with ");
  EXPECT_EQ(lines[2].substr(0, 5), "A = 2");
  EXPECT_EQ(lines[3].substr(0, 5), "B = 3");
  EXPECT_TRUE(logged.empty());
}

TEST_F(Periodic, UncertaintiesMatchPropagation) {
  const std::vector<double> x = range(0.1, 0.1, 10);
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(2 * std::cos(3 * v));
    e.push_back(0.01 + 0.005 * v);
  }
  auto d = makedata(x, y, e);
  periodic f;
  f.par[0] = 1.9;
  f.par[1] = 3.05;
  f.data = d.get();
  f.fit(true);
  const auto expected = propagated(x, y, e, 2, [](dataset &dd) {
    return fitted<periodic>(dd, {1.9, 3.05});
  });
  EXPECT_NEAR(f.err[0] / expected[0], 1.0, 1e-4);
  EXPECT_NEAR(f.err[1] / expected[1], 1.0, 1e-4);
}

TEST_F(Periodic, FailuresKeepTheEstimates) {
  struct {
    double a, b;
    int iterations;
  } cases[] = {
      {1, 2, 4}, // the step shrinks only to about a 26th of the first
      {2, 0, 1}, // B = 0 gives a zero difference step at once
  };
  for (const auto &c : cases) {
    logged.clear();
    auto d = cosinedata();
    periodic f;
    f.par[0] = c.a;
    f.par[1] = c.b;
    f.data = d.get();
    try {
      f.fit(true);
      FAIL() << c.a << " " << c.b;
    } catch (const engine_error &e) {
      EXPECT_EQ(e.code(), kFailedFit);
      EXPECT_EQ(std::string(e.what()), kNotConverged);
    }
    EXPECT_EQ(f.iterations, c.iterations);
    EXPECT_EQ(f.par[0], c.a);
    EXPECT_EQ(f.par[1], c.b);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], kNotConverged);
  }
}

TEST_F(Periodic, AtLeastFourIterationsFromTheSolution) {
  auto d = cosinedata();
  periodic f;
  f.par[0] = 2;
  f.par[1] = 3;
  f.data = d.get();
  f.fit(true);
  EXPECT_EQ(f.iterations, 4);
  EXPECT_NEAR(f.par[1], 3.0, 1e-12);
}

TEST_F(Periodic, Formula) {
  periodic f;
  f.par[0] = 2;
  f.par[1] = -3.5;
  EXPECT_EQ(f.formula(1), "y1(x) = 2 *cos(-3.5 *x)");
}

// ---------------------------------------------------------- periodicdecay

using DampedCosine = LoggedFit;

namespace {
double damped(double x) { return 1.5 * std::exp(-0.3 * x) * std::cos(2 * x + 0.4); }

// Exposes the one-pass Newton system and the plain forward differences.
struct decayprobe : periodicdecay {
  void fast(const vec &p, vec &Fp, matr &J) {
    newtonsystem([this](const vec &q) { return gradientat(q); }, p, Fp, J);
  }
  matr generic(const vec &p) {
    return jacobian([this](const vec &q) { return gradientat(q); }, p, gradientat(p));
  }
  // The plain gradient sum, written out here independently.
  vec gradientat(const vec &p) const {
    vec f(4);
    for (int i = 0; i < data->w->n; ++i) {
      const double x = (*data->x)[i], y = (*data->y)[i], w = (*data->w)[i];
      const double E = std::exp(p[1] * x);
      const double ph = p[2] * x + p[3];
      const double c = std::cos(ph), s = std::sin(ph);
      const double A = p[0];
      const double r = w * (A * E * c - y);
      f[0] += r * (E * c);
      f[1] += r * (A * x * E * c);
      f[2] += r * (-A * x * E * s);
      f[3] += r * (-A * E * s);
    }
    return f;
  }
};
} // namespace

TEST_F(DampedCosine, ConvergesFromNearEstimates) {
  const std::vector<double> x = range(0, 0.1, 101);
  auto d = sampled(x, damped, 0.01);
  periodicdecay f;
  const double start[4] = {1.45, -0.29, 2.02, 0.38};
  std::copy(start, start + 4, f.par);
  f.data = d.get();
  f.fit(true);
  EXPECT_NEAR(f.par[0], 1.5, 1e-9);
  EXPECT_NEAR(f.par[1], -0.3, 1e-9);
  EXPECT_NEAR(f.par[2], 2.0, 1e-9);
  EXPECT_NEAR(f.par[3], 0.4, 1e-9);
  std::vector<double> y, e(x.size(), 0.01);
  for (double v : x)
    y.push_back(damped(v));
  const auto expected = propagated(x, y, e, 4, [&](dataset &dd) {
    return fitted<periodicdecay>(dd, {start[0], start[1], start[2], start[3]});
  });
  for (int k = 0; k < 4; ++k)
    EXPECT_NEAR(f.err[k] / expected[static_cast<std::size_t>(k)], 1.0, 1e-4) << k;
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Fit of the form y=A*exp(B*x)*cos(C*x+D) with ");
}

TEST_F(DampedCosine, OnePassNewtonSystemMatchesThePlainDifferences) {
  // Several blocks of points and an odd count; with the widest span the
  // nudged phase turns too far for the short series.
  for (double span : {0.01, 0.2, 100.0}) {
    auto d = sampled(range(0, span, 1101), damped, 0.01);
    decayprobe f;
    f.data = d.get();
    const vec p{1.4, -0.25 / span * 0.1, 2.1, 0.35};
    vec Fp;
    matr a;
    f.fast(p, Fp, a);
    const vec plain = f.gradientat(p);
    const matr b = f.generic(p);
    double scale = 0;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        scale = std::max(scale, std::fabs(b(r, c)));
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(Fp[c], plain[c], 1e-12 * (std::fabs(plain[c]) + 1)) << c;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(a(r, c), b(r, c), 1e-6 * scale) << span << ": " << r << "," << c;
  }
}

TEST_F(DampedCosine, OverflowIsAFailureNotAHang) {
  auto d = sampled(range(0, 0.1, 101), damped, 0.01);
  periodicdecay f;
  const double start[4] = {1.5, 5000, 2, 0.4}; // exp(5000 x) overflows
  std::copy(start, start + 4, f.par);
  f.data = d.get();
  EXPECT_THROW(f.fit(true), engine_error);
  EXPECT_EQ(f.par[1], 5000);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], kNotConverged);
}

TEST_F(DampedCosine, Formula) {
  periodicdecay f;
  f.par[0] = 1.5;
  f.par[1] = -0.3;
  f.par[2] = 2;
  f.par[3] = 0.4;
  EXPECT_EQ(f.formula(0), "y0(x) = 1.5*exp(x * -0.3 )*cos(x * 2  + 0.4 ) ");
  EXPECT_DOUBLE_EQ(f.value(0), 1.5 * std::cos(0.4));
}

// ------------------------------------------------------- failure test

namespace {
// A one-parameter gradient sign(p) |p|^k with a root of fractional
// multiplicity at 0: every Newton step is p / k, so the parameter and the
// steps shrink by the same factor r = 1 - 1/k each iteration and the step
// three iterations on is r^3 of the earlier one.
struct shrinkingfit : bfit {
  explicit shrinkingfit(double ratio) : k(1.0 / (1.0 - ratio)) { order = 0; }
  double k;
  double value(double) const override { return 0; }
  void fit(bool) override {
    const double power = k;
    iterate(
        [power](const vec &p) {
          return vec{std::copysign(std::pow(std::fabs(p[0]), power), p[0])};
        },
        [](const vec &, double, double, double w, double *g) { g[0] = w; });
  }
  void describe(stringlist &, bool) const override {}
  std::string formula(int) const override { return ""; }
};
} // namespace

using FailureTest = LoggedFit;

// The iteration fails once the newest step is not below a thousandth of the
// step three iterations earlier, and only then.
TEST_F(FailureTest, StepsMustShrinkAThousandfoldOverThreeIterations) {
  auto d = makedata({1, 2}, {1, 2}, {1, 1});
  {
    shrinkingfit f(0.2); // r^3 = 1/125: not shrinking fast enough
    f.par[0] = 1e20;
    f.data = d.get();
    EXPECT_THROW(f.fit(true), engine_error);
    EXPECT_EQ(f.iterations, 4);
    EXPECT_EQ(f.par[0], 1e20);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], kNotConverged);
  }
  {
    shrinkingfit f(0.09); // r^3 = 1/1372: passes the test at the fourth
    f.par[0] = 1e100;
    f.data = d.get();
    try {
      f.fit(true);
    } catch (const engine_error &) {
    }
    EXPECT_GT(f.iterations, 4);
  }
}

// ------------------------------------------------------- iteration bound

namespace {
// A one-parameter gradient c |p|^a whose Newton steps shrink twentyfold
// every iteration along with the parameter itself: neither the convergence
// test nor the failure test ever holds, so only the iteration bound ends
// it (started at 1e150 so that neither the squares in the step norms nor the
// gradient leave the range of doubles within the bound).
struct endlessfit : bfit {
  endlessfit() { order = 0; }
  double value(double) const override { return 0; }
  void fit(bool) override {
    const double a = 1.0 / (1.0 - 0.05);
    iterate(
        [a](const vec &p) {
          return vec{std::copysign(std::exp(a * std::log(std::fabs(p[0])) - 92.0), p[0])};
        },
        [](const vec &, double, double, double w, double *g) { g[0] = w; });
  }
  void describe(stringlist &, bool) const override {}
  std::string formula(int) const override { return ""; }
};
} // namespace

using IterationBound = LoggedFit;

TEST_F(IterationBound, EndsAnEndlessIteration) {
  auto d = makedata({1, 2}, {1, 2}, {1, 1});
  endlessfit f;
  f.par[0] = 1e150;
  f.data = d.get();
  EXPECT_THROW(f.fit(true), engine_error);
  EXPECT_EQ(f.iterations, bfit::kMaxIterations + 1);
  EXPECT_EQ(f.par[0], 1e150);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], kNotConverged);
}
