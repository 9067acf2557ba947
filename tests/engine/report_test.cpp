// Results for a lab report (engine/report.cpp): the rounding of a value to
// its uncertainty on a table of edge cases, the texts in three forms, the
// fit's details, the confidence band against closed forms and a seeded
// Monte Carlo of its coverage, and the residual table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/nullcanvas.h"
#include "engine/report.h"
#include "engine/trendtypes.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

struct roundcase {
  double value, sigma;
  const char *plusminus, *concise, *siunitx;
};

// Worked by hand: the uncertainty to two significant digits, the value to
// the same place, a shared power of ten beyond 10^4 and below 10^-3.
const roundcase kRounding[] = {
    {4.69512, 0.02345, "4.695 \u00b1 0.023", "4.695(23)", "\\num{4.695(23)}"},
    {4.69512, 0.0095, "4.6951 \u00b1 0.0095", "4.6951(95)", "\\num{4.6951(95)}"},
    {4.69512, 0.00996, "4.695 \u00b1 0.010", "4.695(10)", "\\num{4.695(10)}"},
    {-0.0004, 0.0123, "0.000 \u00b1 0.012", "0.000(12)", "\\num{0.000(12)}"},
    {-0.0104, 0.0123, "-0.010 \u00b1 0.012", "-0.010(12)", "\\num{-0.010(12)}"},
    {9.96, 0.05, "9.960 \u00b1 0.050", "9.960(50)", "\\num{9.960(50)}"},
    {9.9996, 0.0004, "9.99960 \u00b1 0.00040", "9.99960(40)", "\\num{9.99960(40)}"},
    {9.99996, 0.004, "10.0000 \u00b1 0.0040", "10.0000(40)", "\\num{10.0000(40)}"},
    {1.23456e-5, 2.3e-8, "(1.2346 \u00b1 0.0023)\u00d710^-5", "1.2346(23)\u00d710^-5",
     "\\num{1.2346(23)e-5}"},
    {-1.23456e-5, 2.3e-8, "(-1.2346 \u00b1 0.0023)\u00d710^-5", "-1.2346(23)\u00d710^-5",
     "\\num{-1.2346(23)e-5}"},
    {123456.0, 230.0, "(1.2346 \u00b1 0.0023)\u00d710^5", "1.2346(23)\u00d710^5",
     "\\num{1.2346(23)e5}"},
    {99999.7, 12.0, "(1.00000 \u00b1 0.00012)\u00d710^5", "1.00000(12)\u00d710^5",
     "\\num{1.00000(12)e5}"},
    {1234.6, 12.3, "1235 \u00b1 12", "1235(12)", "\\num{1235(12)}"},
    {1234.5, 123.0, "(1.23 \u00b1 0.12)\u00d710^3", "1.23(12)\u00d710^3", "\\num{1.23(12)e3}"},
    {0.5, 3.0e-6, "0.5000000 \u00b1 0.0000030", "0.5000000(30)", "\\num{0.5000000(30)}"},
    {4.695, 0.0, "4.695 \u00b1 0", "4.695", "\\num{4.695}"},
    {2.0e-7, 0.0, "(2.00000 \u00b1 0)\u00d710^-7", "2.00000\u00d710^-7", "\\num{2.00000e-7}"},
    {3.0e30, 4.4e28, "(3.000 \u00b1 0.044)\u00d710^30", "3.000(44)\u00d710^30",
     "\\num{3.000(44)e30}"},
};

std::unique_ptr<dataset> line(const std::vector<double> &x, double a, double b,
                              const std::vector<double> &noise, double e) {
  std::vector<double> y, errs;
  for (std::size_t i = 0; i < x.size(); ++i) {
    y.push_back(a * x[i] + b + noise[i]);
    errs.push_back(e * (1.0 + 0.1 * static_cast<double>(i % 3)));
  }
  return makedata(x, y, errs);
}

} // namespace

TEST(ReportRounding, TableOfEdgeCases) {
  for (const roundcase &c : kRounding) {
    SCOPED_TRACE(std::to_string(c.value) + " +/- " + std::to_string(c.sigma));
    const roundedpair r = roundtouncertainty(c.value, c.sigma);
    EXPECT_EQ(r.plusminus(), c.plusminus);
    EXPECT_EQ(r.concise(), c.concise);
    EXPECT_EQ(r.siunitx(), c.siunitx);
  }
}

TEST(ReportRounding, EveryShownNumberIsTheRoundedValue) {
  // Seeded values over many scales: the shown value differs from the true
  // one by at most half a unit of its last place, and the shown
  // uncertainty has two significant digits within half a unit.
  std::mt19937_64 rng(20261211);
  std::uniform_real_distribution<double> mant(1.0, 10.0), expo(-25, 25), rel(-6, 1);
  for (int i = 0; i < 3000; ++i) {
    const double v = (i % 2 ? -1 : 1) * mant(rng) * std::pow(10.0, std::floor(expo(rng)));
    const double s = std::fabs(v) * std::pow(10.0, rel(rng));
    const roundedpair r = roundtouncertainty(v, s);
    const long double scale = std::pow(10.0L, r.exponent);
    const long double shown = std::strtold(r.value.c_str(), nullptr) * scale;
    const long double shownsigma = std::strtold(r.uncertainty.c_str(), nullptr) * scale;
    const auto point = r.value.find('.');
    const int decimals =
        point == std::string::npos ? 0 : static_cast<int>(r.value.size() - point - 1);
    const long double unit = scale * std::pow(10.0L, -decimals);
    ASSERT_LE(std::fabs(shown - v), 0.5000001L * unit) << r.plusminus() << " for " << v;
    ASSERT_LE(std::fabs(shownsigma - s), 0.5000001L * unit) << r.plusminus() << " for " << s;
    ASSERT_GE(shownsigma, 9.9999L * unit) << r.plusminus(); // two significant digits
    ASSERT_LE(shownsigma, 100.0L * unit) << r.plusminus();
  }
}

TEST(ReportTexts, ThreeFormsOfAStraightLine) {
  auto d = line({1, 2, 3, 4, 5, 6}, 2.0, 1.0, {0.05, -0.04, 0.02, 0.03, -0.06, 0.01}, 0.05);
  polynom f(1);
  f.name = "Dataset a -- Linear (y=ax+b)";
  f.data = d.get();
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
  const std::string text = resultstext(f, reportformat::text);
  const roundedpair a = roundtouncertainty(f.par[0], f.err[0]);
  EXPECT_NE(text.find("a = " + a.plusminus() + "   [" + a.concise() + "]"), std::string::npos)
      << text;
  EXPECT_NE(text.find("degrees of freedom = 4"), std::string::npos);
  EXPECT_NE(text.find("p-value = "), std::string::npos);
  const std::string md = resultstext(f, reportformat::markdown);
  EXPECT_NE(md.find("| a | " + a.plusminus() + " | " + a.concise() + " |"), std::string::npos)
      << md;
  const std::string tex = resultstext(f, reportformat::latex);
  EXPECT_NE(tex.find("$a$ & " + a.siunitx() + " \\\\"), std::string::npos) << tex;
  EXPECT_NE(tex.find("\\begin{tabular}{ll}"), std::string::npos);
  // The reduced chi-square is the chi-square over the degrees of freedom.
  const stringlist details = fitdetails(f);
  char reduced[64];
  std::snprintf(reduced, sizeof reduced, "reduced chi-square = %.6g", f.chisq() / 4);
  EXPECT_EQ(details.at(2), reduced);
  // The correlation of a and b: cov / (sa sb), between -1 and 1.
  const double rho = f.cov(0, 1) / (f.err[0] * f.err[1]);
  char cell[32];
  std::snprintf(cell, sizeof cell, "%.4g", rho);
  EXPECT_NE(details.back().find(cell), std::string::npos) << details.back();
}

TEST(ReportTexts, LatexCompilesWithSiunitx) {
  if (std::system("command -v pdflatex > /dev/null 2>&1") != 0 ||
      std::system("kpsewhich siunitx.sty > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "pdflatex with siunitx is not installed (texlive-latex-extra, texlive-science)";
  auto d = line({1, 2, 3, 4, 5, 6}, 2.0e-5, 1.0e4, {5, -4, 2, 3, -6, 1}, 5);
  polynom f(1);
  f.name = "Dataset_a & b";
  f.data = d.get();
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
  const std::string dir = ::testing::TempDir() + "/latexreport";
  std::system(("mkdir -p '" + dir + "'").c_str());
  std::ofstream(dir + "/r.tex")
      << "\\documentclass{article}\\usepackage{siunitx}\\begin{document}\n"
      << resultstext(f, reportformat::latex) << "\\end{document}\n";
  const int rc = std::system(("cd '" + dir +
                              "' && pdflatex -interaction=nonstopmode -halt-on-error r.tex "
                              "> log.txt 2>&1")
                                 .c_str());
  EXPECT_EQ(rc, 0) << "see " << dir << "/log.txt";
}

// The band of a weighted straight line: sigma_y^2 = sigma_b^2 + 2 x cov(a,
// b) + x^2 sigma_a^2, with the sums of the weighted normal equations
// written out here in long double, far from x = 0 as well.
TEST(ConfidenceBand, StraightLineClosedForm) {
  for (const double offset : {0.0, 1.0e6, -3.0e8}) {
    SCOPED_TRACE(offset);
    std::vector<double> x;
    for (int i = 0; i < 8; ++i)
      x.push_back(offset + 0.5 * i);
    auto d = line(x, 3.0, -2.0, {0.1, -0.05, 0.02, 0.07, -0.1, 0.04, -0.02, 0.06}, 0.1);
    polynom f(1);
    f.data = d.get();
    nullcanvas canvas;
    f.fitplot(canvas, canvas, 1000, true);
    long double S = 0, Sx = 0, Sxx = 0;
    for (int i = 0; i < d->x->n; ++i) {
      const long double w = (*d->w)[i], xi = (*d->x)[i] - offset;
      S += w, Sx += w * xi, Sxx += w * xi * xi;
    }
    // In u = x - offset: b' = b + a offset; var_a = S/D, var_b' = Sxx/D,
    // cov(a, b') = -Sx/D.
    const long double D = S * Sxx - Sx * Sx;
    for (const double u : {-1.0, 0.0, 1.7, 3.5, 10.0}) {
      const long double var = Sxx / D - 2 * u * Sx / D + u * u * S / D;
      EXPECT_NEAR(curvesigma(f, offset + u) / std::sqrt(static_cast<double>(var)), 1.0, 1e-9);
    }
    const auto band = confidenceband(f, bandlevel::ninetyfive, offset, offset + 4, 5);
    ASSERT_EQ(band.size(), 5u);
    EXPECT_EQ(band.back().x, offset + 4);
    // The edges are y +/- 1.96 sigma to the last bits of numbers as large
    // as y.
    const double edge = 1.959963984540054 * curvesigma(f, offset + 2);
    const double ulp = std::nextafter(std::fabs(band[2].y), HUGE_VAL) - std::fabs(band[2].y);
    EXPECT_NEAR(band[2].upper, band[2].y + edge, 2 * ulp + 1e-12 * edge);
    EXPECT_NEAR(band[2].lower, band[2].y - edge, 2 * ulp + 1e-12 * edge);
  }
}

// A quadratic: sigma_y^2 = g^T C g with g = (x^2, x, 1), C the inverse of
// the weighted normal matrix, solved here by Cramer's rule in long double.
TEST(ConfidenceBand, QuadraticClosedForm) {
  const std::vector<double> x = {-2, -1, 0, 1, 2, 3};
  auto d = makedata(x, {4.1, 0.9, 0.1, 1.05, 3.9, 9.2}, {0.1, 0.1, 0.2, 0.1, 0.1, 0.3});
  polynom f(2);
  f.data = d.get();
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
  long double M[3][3] = {};
  for (int i = 0; i < d->x->n; ++i) {
    const long double w = (*d->w)[i], xi = (*d->x)[i];
    const long double g[3] = {xi * xi, xi, 1};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        M[r][c] += w * g[r] * g[c];
  }
  auto det3 = [](long double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const long double D = det3(M);
  for (const double u : {-2.5, 0.3, 4.0}) {
    const long double g[3] = {u * u, u, 1};
    // Solve M z = g by Cramer's rule; var = g . z.
    long double var = 0;
    for (int k = 0; k < 3; ++k) {
      long double Mk[3][3];
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
          Mk[r][c] = c == k ? g[r] : M[r][c];
      var += g[k] * det3(Mk) / D;
    }
    EXPECT_NEAR(curvesigma(f, u) / std::sqrt(static_cast<double>(var)), 1.0, 1e-9);
  }
}

// A formula fit against the delta method with its exact derivatives:
// f = A exp(-x/B), df/dA = exp(-x/B), df/dB = A x exp(-x/B) / B^2.
TEST(ConfidenceBand, FormulaAgainstTheDeltaMethod) {
  std::vector<double> x, y, e;
  for (int i = 0; i < 10; ++i) {
    x.push_back(0.5 * i);
    y.push_back(5 * std::exp(-0.5 * i / 2) * (1 + 0.02 * std::sin(3.0 * i)));
    e.push_back(0.05 + 0.01 * i);
  }
  auto d = makedata(x, y, e);
  auto f = makeformulafit("A*exp(-x/B)", {5, 2});
  f->data = d.get();
  nullcanvas canvas;
  f->fitplot(canvas, canvas, 1000, true);
  const double A = f->par[0], B = f->par[1];
  for (const double u : {0.0, 1.3, 4.5, 7.0}) {
    const double ex = std::exp(-u / B);
    const double g[2] = {ex, A * u * ex / (B * B)};
    double var = 0;
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 2; ++c)
        var += g[r] * f->cov(r, c) * g[c];
    EXPECT_NEAR(curvesigma(*f, u) / std::sqrt(var), 1.0, 1e-12) << u;
  }
}

// The 1 sigma band of a straight line covers the true line at a point in
// 68.3 % of simulated datasets (4000 of them, seeded): 68.3 % +/- 1.5 %.
TEST(ConfidenceBand, OneSigmaCoversTheTrueLine) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6, 7};
  const double a = 1.7, b = -0.4, at = 5.5;
  int covered = 0;
  constexpr int kRuns = 4000;
  for (int run = 0; run < kRuns; ++run) {
    std::vector<double> y, e;
    for (double xi : x) {
      const double s = 0.2 + 0.05 * xi;
      e.push_back(s);
      y.push_back(a * xi + b + s * gauss(rng));
    }
    auto d = makedata(x, y, e);
    polynom f(1);
    f.data = d.get();
    f.fit(true);
    const double truth = a * at + b;
    covered += std::fabs(f.value(at) - truth) <= curvesigma(f, at) ? 1 : 0;
  }
  const double share = static_cast<double>(covered) / kRuns;
  EXPECT_NEAR(share, 0.6827, 0.015);
}

TEST(ConfidenceBand, NoCovarianceNoBand) {
  auto d = makedata({1, 2, 3}, {1, 2, 3.1}, {0.1, 0.1, 0.1});
  polynom f(1);
  f.data = d.get();
  EXPECT_TRUE(std::isnan(curvesigma(f, 1.0))); // not fitted: no covariance
  EXPECT_TRUE(confidenceband(f, bandlevel::none, 0, 1, 10).empty());
}

TEST(ReportResiduals, TheBatchCommandsColumns) {
  auto d = makedata({1, 2, 3}, {2.1, 3.9, 6.2}, {0.1, 0.2, 0.2});
  lineronlym f;
  f.data = d.get();
  f.fit(true);
  const std::string table = residualtable(f);
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "# x\ty\terror\tfitted\tdeviation\tnormalised_deviation");
  // m = sum(w x y) / sum(w x^2), written out.
  const double m =
      (2.1 / 0.01 + 2 * 3.9 / 0.04 + 3 * 6.2 / 0.04) / (1 / 0.01 + 4 / 0.04 + 9 / 0.04);
  std::istringstream rows(table.substr(table.find('\n') + 1));
  double x, y, err, fitted, dev, norm;
  rows >> x >> y >> err >> fitted >> dev >> norm;
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(err, 0.1);
  EXPECT_NEAR(fitted, m, 1e-12);
  EXPECT_NEAR(dev, 2.1 - m, 1e-12);
  EXPECT_NEAR(norm, (2.1 - m) / 0.1, 1e-10);
}
