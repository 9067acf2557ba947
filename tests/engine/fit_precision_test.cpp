// Results a student can trust: polynomials far from x = 0, the top of the
// polynomial field, sharp resonances, uncertainties at the ends of the
// double range. Every reference is computed here independently: exact
// rational least squares (GMP), or the linearised covariance of the model
// in long double.
#include <gmpxx.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "engine/fits.h"
#include "engine/logchannel.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

using rational = mpq_class;

// The exact weighted least-squares polynomial of degree N (coefficients
// highest power first) with weights 1 / e^2, all in rationals.
struct exactfit {
  std::vector<rational> coef;
  rational chisq;

  exactfit(const std::vector<double> &x, const std::vector<double> &y, const std::vector<double> &e,
           int N) {
    const int np = N + 1;
    std::vector<std::vector<rational>> A(np, std::vector<rational>(np + 1, 0));
    std::vector<rational> w(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      const rational ee(e[i]);
      w[i] = 1 / (ee * ee);
    }
    // Columns: power N - c.
    for (std::size_t i = 0; i < x.size(); ++i) {
      std::vector<rational> pw(2 * N + 1);
      pw[0] = 1;
      for (int k = 1; k <= 2 * N; ++k)
        pw[k] = pw[k - 1] * rational(x[i]);
      for (int r = 0; r < np; ++r) {
        for (int c = 0; c < np; ++c)
          A[r][c] += w[i] * pw[(N - r) + (N - c)];
        A[r][np] += w[i] * rational(y[i]) * pw[N - r];
      }
    }
    for (int j = 0; j < np; ++j) {
      int p = j;
      while (A[p][j] == 0)
        ++p;
      std::swap(A[p], A[j]);
      for (int r = 0; r < np; ++r) {
        if (r == j || A[r][j] == 0)
          continue;
        const rational f = A[r][j] / A[j][j];
        for (int c = j; c <= np; ++c)
          A[r][c] -= f * A[j][c];
      }
    }
    coef.resize(np);
    for (int j = 0; j < np; ++j)
      coef[j] = A[j][np] / A[j][j];
    chisq = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const rational d = rational(y[i]) - at(x[i]);
      chisq += w[i] * d * d;
    }
  }

  rational at(double xv) const {
    rational s = 0;
    for (const rational &c : coef)
      s = s * rational(xv) + c;
    return s;
  }
};

// Significant digits of a against the exact value.
double digits(double a, const rational &exact) {
  if (exact == 0)
    return a == 0 ? 17 : -std::log10(std::fabs(a));
  const rational diff = abs(rational(a) - exact) / abs(exact);
  return diff == 0 ? 17 : -std::log10(diff.get_d());
}

// A deterministic scatter of about one standard deviation.
double scatter(int i) { return std::sin(12.9898 * i + 0.5) * 1.4; }

struct farcase {
  const char *what;
  int degree;
  double x0;
  double step;
  int count;
};

std::unique_ptr<dataset> farpoints(const farcase &c, std::vector<double> &x, std::vector<double> &y,
                                   std::vector<double> &e) {
  x.clear();
  y.clear();
  e.clear();
  for (int i = 0; i < c.count; ++i) {
    const double u = i * c.step - 0.5 * c.step * (c.count - 1);
    double v = 0.0;
    for (int k = c.degree; k >= 0; --k)
      v = v * u + (k % 2 ? 0.3 : -0.7) * (k + 1);
    x.push_back(c.x0 + i * c.step);
    y.push_back(v + 0.01 * scatter(i));
    e.push_back(0.01);
  }
  return makedata(x, y, e);
}

const farcase kFarCases[] = {
    {"cubic near 1e6", 3, 1e6, 1.0, 20},
    {"degree 5 near 1e4", 5, 1e4, 1.0, 25},
    {"degree 4 near 1e5", 4, 1e5, 0.5, 30},
};

} // namespace

// The chi-square, the verdict, the curve and the deviations are those of
// the exact least-squares polynomial, however far from x = 0 the data lie.
TEST(FarFromZero, ChiSquareCurveAndDeviationsAreExact) {
  for (const farcase &c : kFarCases)
    for (bool gauss : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (gauss ? ", Gauss" : ", Cramer"));
      std::vector<double> x, y, e;
      auto d = farpoints(c, x, y, e);
      const exactfit ref(x, y, e, c.degree);
      polynom f(c.degree);
      f.data = d.get();
      f.fit(gauss);
      const double exactchi = ref.chisq.get_d();
      EXPECT_NEAR(f.chisq(), exactchi, 1e-6 * exactchi);
      // The verdict from the exact chi-square with the same limits.
      EXPECT_EQ(f.verdict(), f.verdictfor(exactchi));
      // Curve point and deviation at a data point, to a thousandth of an
      // error bar.
      for (int i : {0, c.count / 2, c.count - 1}) {
        const double exacty = ref.at(x[static_cast<std::size_t>(i)]).get_d();
        EXPECT_NEAR(f.value(x[static_cast<std::size_t>(i)]), exacty, 1e-5);
        EXPECT_NEAR(y[static_cast<std::size_t>(i)] - f.value(x[static_cast<std::size_t>(i)]),
                    y[static_cast<std::size_t>(i)] - exacty, 1e-5);
      }
      // The shown coefficients are the expanded ones, still to 10 digits.
      for (int k = 0; k <= c.degree; ++k)
        EXPECT_GE(digits(f.par[k], ref.coef[static_cast<std::size_t>(k)]), 9.5) << "k=" << k;
    }
}

namespace {

// Evaluates the formula text of a polynomial: terms "c *x**k" or
// "c *(x-x0)**k" / "c *(x+x0)**k" joined by " + ".
double evalformula(const std::string &formula, double x) {
  std::string body = formula.substr(formula.find(" = ") + 3);
  long double sum = 0.0L;
  std::size_t at = 0;
  while (at < body.size()) {
    std::size_t end = body.find(" + ", at);
    if (end == std::string::npos)
      end = body.size();
    const std::string term = body.substr(at, end - at);
    const std::size_t star = term.find(" *");
    double c = 0.0;
    std::from_chars(term.data(), term.data() + star, c);
    std::string base = term.substr(star + 2);
    const std::size_t pw = base.rfind("**");
    const int k = std::stoi(base.substr(pw + 2));
    base = base.substr(0, pw);
    long double u = x;
    if (base != "x") {
      double x0 = 0.0;
      const char sign = base[2];
      std::from_chars(base.data() + 3, base.data() + base.size() - 1, x0);
      u = sign == '-' ? static_cast<long double>(x) - x0 : static_cast<long double>(x) + x0;
    }
    sum += c * std::pow(u, k);
    at = end + 3;
  }
  return static_cast<double>(sum);
}

} // namespace

// Far from x = 0 the gnuplot formula is written in powers of x - x0 and
// draws the program's curve; near 0 it keeps the expanded text.
TEST(FarFromZero, FormulaDrawsTheSameCurve) {
  std::vector<double> x, y, e;
  auto d = farpoints(kFarCases[0], x, y, e);
  polynom f(3);
  f.data = d.get();
  f.fit(true);
  const std::string text = f.formula(2);
  EXPECT_EQ(text.rfind("y2(x) = ", 0), 0u);
  EXPECT_NE(text.find("*(x-1000009.5)**3 + "), std::string::npos) << text;
  double ylo = y[0], yhi = y[0];
  for (double v : y) {
    ylo = std::min(ylo, v);
    yhi = std::max(yhi, v);
  }
  for (double xv : x)
    EXPECT_NEAR(evalformula(text, xv), f.value(xv), 1e-9 * (yhi - ylo)) << text;

  // Near x = 0 the text is the expanded one, whatever the centring.
  auto near = sampled(
      range(0, 1, 5), [](double v) { return 2 * v * v - 3 * v + 0.5; }, 0.1);
  polynom q(2);
  q.data = near.get();
  q.fit(true);
  const std::string plain = q.formula(1);
  EXPECT_EQ(plain.find("*(x"), std::string::npos) << plain;
  EXPECT_NE(plain.find(" *x**2 + "), std::string::npos) << plain;
}

// Degree 5 on x = 0 ... 20: the classic ill-conditioned case. At least 10
// significant digits with Gaussian elimination, 9 with Cramer's rule.
TEST(TopPrecision, DegreeFiveOnZeroToTwenty) {
  const std::vector<double> x = range(0, 1, 21);
  struct ycase {
    const char *what;
    double offset;
    double error;
    bool alternating = false; // y = 1 - x + x^2 - ... - x^5
    bool varying = false;     // errors differ between points
  };
  for (const ycase &yc :
       {ycase{"exact", 0.0, 1.0}, ycase{"alternating offsets", 1e5, 1.0},
        ycase{"exact, errors 0.3", 0.0, 0.3}, ycase{"alternating offsets, errors 7", 1e5, 7.0},
        ycase{"signs alternating", 0.0, 1.0, true},
        ycase{"signs and offsets alternating, varying errors", 1e5, 2.0, true, true},
        ycase{"offsets, varying errors", 1e5, 0.5, false, true}}) {
    std::vector<double> y, e;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double v = yc.alternating ? -x[i] : x[i];
      double p = 0.0;
      for (int k = 0; k <= 5; ++k)
        p = p * v + 1.0;
      y.push_back(p + (i % 2 ? -yc.offset : yc.offset));
      // Errors that differ from point to point when asked for.
      e.push_back(yc.error * (yc.varying ? 1.0 + 0.1 * static_cast<double>(i % 4) : 1.0));
    }
    const exactfit ref(x, y, e, 5);
    for (bool gauss : {true, false}) {
      SCOPED_TRACE(std::string(yc.what) + (gauss ? ", Gauss" : ", Cramer"));
      auto d = makedata(x, y, e);
      polynom f(5);
      f.data = d.get();
      f.fit(gauss);
      for (int k = 0; k <= 5; ++k)
        EXPECT_GE(digits(f.par[k], ref.coef[static_cast<std::size_t>(k)]), gauss ? 10.0 : 9.0)
            << "k=" << k << " par " << f.par[k] << " exact " << ref.coef[k].get_d();
    }
  }
}

// Straight lines with x near 10^9: both coefficients to 10 digits.
TEST(TopPrecision, LinesNearOneBillion) {
  for (double slope : {3.0, -0.37, 1234.5})
    for (bool gauss : {true, false}) {
      std::vector<double> x, y, e;
      for (int i = 0; i < 15; ++i) {
        x.push_back(1e9 + 0.7 * i);
        y.push_back(slope * x.back() + 7.25 + 0.02 * scatter(i));
        e.push_back(0.02);
      }
      const exactfit ref(x, y, e, 1);
      auto d = makedata(x, y, e);
      polynom f(1);
      f.data = d.get();
      f.fit(gauss);
      SCOPED_TRACE("slope " + std::to_string(slope) + (gauss ? ", Gauss" : ", Cramer"));
      EXPECT_GE(digits(f.par[0], ref.coef[0]), 10.0);
      EXPECT_GE(digits(f.par[1], ref.coef[1]), 10.0);
    }
}

namespace {

// The linearised covariance of y = A / ((B - x)^2 + C) at (A, B, C):
// (J^T W J)^-1 in long double, J the model's derivatives. On exact data it
// is what scipy's curve_fit(absolute_sigma=True) reports.
std::array<long double, 3> resonancesigmas(const std::vector<double> &x,
                                           const std::vector<double> &e, long double A,
                                           long double B, long double C) {
  long double M[3][3] = {};
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double d = B - x[i];
    const long double q = d * d + C;
    const long double j[3] = {1 / q, -2 * A * d / (q * q), -A / (q * q)};
    const long double w = 1.0L / (static_cast<long double>(e[i]) * e[i]);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        M[r][c] += w * j[r] * j[c];
  }
  // Inverse of the symmetric 3 x 3 matrix by cofactors.
  const long double det = M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                          M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                          M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
  const long double i00 = (M[1][1] * M[2][2] - M[1][2] * M[2][1]) / det;
  const long double i11 = (M[0][0] * M[2][2] - M[0][2] * M[2][0]) / det;
  const long double i22 = (M[0][0] * M[1][1] - M[0][1] * M[1][0]) / det;
  return {std::sqrt(i00), std::sqrt(i11), std::sqrt(i22)};
}

} // namespace

// Sharp resonances: C and the uncertainties from the centred parabola,
// within 1 % of the linearised covariance.
TEST(SharpResonance, UncertaintyOfCMatchesTheLinearisedCovariance) {
  struct rcase {
    const char *what;
    double centre, halfwidth, span;
    int count;
    double relerror;
  };
  for (const rcase &rc : {rcase{"440 Hz fork, half-width 0.05 Hz", 440.0, 0.05, 0.4, 41, 0.01},
                          rcase{"1 MHz, half-width 30 Hz", 1e6, 30.0, 240.0, 49, 0.02},
                          rcase{"Q about 33,000", 1e6, 15.0, 90.0, 31, 0.01}}) {
    SCOPED_TRACE(rc.what);
    const double C = rc.halfwidth * rc.halfwidth;
    const double A = 5.0 * C; // peak height 5
    std::vector<double> x, y, e;
    for (int i = 0; i < rc.count; ++i) {
      const double xv = rc.centre - rc.span / 2 + rc.span * i / (rc.count - 1);
      const double d = rc.centre - xv;
      x.push_back(xv);
      y.push_back(A / (d * d + C));
      e.push_back(rc.relerror * y.back() + 0.01);
    }
    const auto ref = resonancesigmas(x, e, A, rc.centre, C);
    auto d = makedata(x, y, e);
    resonance f;
    f.data = d.get();
    f.fit(true);
    EXPECT_NEAR(f.par[0], A, 1e-6 * A);
    EXPECT_NEAR(f.par[1], rc.centre, 1e-9 * rc.halfwidth + 1e-12 * rc.centre);
    EXPECT_NEAR(f.par[2], C, 1e-6 * C);
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(f.err[k], static_cast<double>(ref[static_cast<std::size_t>(k)]),
                  0.01 * static_cast<double>(ref[static_cast<std::size_t>(k)]))
          << "parameter " << k;
  }
}

// Data spanning +-1e200: the uncertainties are formed before un-scaling
// and do not underflow.
TEST(ExtremeScales, UncertaintiesDoNotUnderflow) {
  const std::vector<double> x = {-2e200, -1e200, 0.0, 1e200, 2e200};
  std::vector<double> y;
  for (std::size_t i = 0; i < x.size(); ++i)
    y.push_back(1.25e-200 * x[i] + 3 + 0.1 * scatter(static_cast<int>(i)));
  const std::vector<double> e(x.size(), 1.0);
  for (bool gauss : {true, false}) {
    auto d = makedata(x, y, e);
    polynom f(1);
    f.data = d.get();
    f.fit(gauss);
    // Slope: 1 / sqrt(sum (x - mean)^2) = 1 / (1e200 sqrt(10)); the
    // constant: 1 / sqrt(5) (the mean x is 0).
    EXPECT_NEAR(f.err[0] * 1e200, 1.0 / std::sqrt(10.0), 1e-12);
    EXPECT_NEAR(f.err[1], 1.0 / std::sqrt(5.0), 1e-12);
    EXPECT_NEAR(f.par[0] * 1e200, 1.25, 0.1);
  }
}

// The covariance of the centred polynomial is what the resonance uses;
// with the mean x at 0 it equals the covariance of par.
TEST(ExtremeScales, CentredCovarianceIsTheInverseNormalMatrix) {
  auto d = makedata({0, 1, 2}, {100, 200, 300}, {1, 1, 1});
  polynom f(1);
  f.data = d.get();
  f.fit(true);
  ASSERT_TRUE(f.centred());
  EXPECT_EQ(f.centre(), 1.0);
  // Centred: slope variance 1/2, constant (at x = 1) variance 1/3, no
  // correlation.
  EXPECT_NEAR(f.centredcov(0, 0), 0.5, 1e-14);
  EXPECT_NEAR(f.centredcov(1, 1), 1.0 / 3.0, 1e-14);
  EXPECT_NEAR(f.centredcov(0, 1), 0.0, 1e-14);
  EXPECT_NEAR(f.centredpar()[1], 200.0, 1e-12);
}

// A polynomial needs more points than its degree; the trend list asks for
// one more than its coefficients, also for a plug-in's polynomial.
TEST(PointRule, PolynomialNeedsEnoughPoints) {
  auto d = sampled(
      range(0, 1, 4), [](double v) { return v * v; }, 0.1);
  polynom f(4);
  f.data = d.get();
  f.par[0] = 42;
  EXPECT_THROW(f.fit(true), engine_error);
  EXPECT_EQ(f.par[0], 42);
  polynom g(3);
  g.data = d.get();
  EXPECT_NO_THROW(g.fit(true)); // four points, four coefficients: 0 degrees of freedom
  EXPECT_EQ(g.dof(), 0);
}

// Results that are not finite numbers make a failed fit, with the reason
// logged, and no series.
TEST(NonFinite, ChiSquareThatOverflowsFailsTheFit) {
  // Residuals of 1e200 with errors 1: the chi-square overflows.
  auto d = makedata({0, 1, 2, 3}, {1e200, -1e200, 1e200, -1e200}, {1, 1, 1, 1});
  for (bool gauss : {true, false}) {
    polynom f(1);
    f.data = d.get();
    recordingcanvas mainchart, devchart;
    std::string logged;
    setlogwindow([&](int, int) { logged = pendingmessage(); });
    try {
      f.fitplot(mainchart, devchart, 1000, gauss);
      ADD_FAILURE() << "no failure";
    } catch (const engine_error &e) {
      EXPECT_EQ(e.code(), kFailedFit);
      EXPECT_EQ(std::string(e.what()), "The fit gave a chi-square that is not a finite number");
    }
    setlogwindow(nullptr);
    EXPECT_EQ(logged, "The fit gave a chi-square that is not a finite number");
    EXPECT_FALSE(f.curve);
    EXPECT_TRUE(mainchart.made.empty());
  }
}
