// The covariance every fit keeps beside its uncertainties: exact values
// from inverses worked out by hand, and its diagonal against err for every
// built-in model.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "engine/fits.h"
#include "engine/multfit.h"
#include "engine/nullcanvas.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

void expectmatrix(const matr &got, const std::vector<std::vector<double>> &want, double tol) {
  ASSERT_EQ(got.rows, static_cast<int>(want.size()));
  ASSERT_EQ(got.cols, static_cast<int>(want.size()));
  for (int r = 0; r < got.rows; ++r)
    for (int c = 0; c < got.cols; ++c)
      EXPECT_NEAR(got(r, c), want[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)], tol)
          << "(" << r << ", " << c << ")";
}

} // namespace

TEST(FitCovariance, StraightLineIsTheInverseNormalMatrix) {
  // (0, 100), (1, 200), (2, 300), errors 1: the normal matrix of (a, b) is
  // [[5, 3], [3, 3]], whose inverse is [[1/2, -1/2], [-1/2, 5/6]].
  for (bool gauss : {true, false}) {
    auto d = makedata({0, 1, 2}, {100, 200, 300}, {1, 1, 1});
    polynom f(1);
    f.data = d.get();
    f.fit(gauss);
    expectmatrix(f.cov, {{0.5, -0.5}, {-0.5, 5.0 / 6.0}}, 1e-12);
  }
  // y = m x on (1, 2), (2, 4) with errors 1: 1 / (1 + 4).
  auto d = makedata({1, 2}, {2, 4}, {1, 1});
  lineronlym m;
  m.data = d.get();
  m.fit(true);
  expectmatrix(m.cov, {{0.2}}, 1e-15);
}

TEST(FitCovariance, MultiFitLinesHoldTheirBlockOfTheJointInverse) {
  // y = 2x + 1 and y = 2x + 3 at x = 0, 1, 2, errors 1. Shared gradient:
  // q = (m, c1, c2), M = [[10, 3, 3], [3, 3, 0], [3, 0, 3]], determinant
  // 36, inverse [[9, -9, -9], [-9, 21, 9], [-9, 9, 21]] / 36. Shared
  // intercept: q = (c, m1, m2), M = [[6, 3, 3], [3, 5, 0], [3, 0, 5]],
  // determinant 60, inverse [[25, -15, -15], [-15, 21, 9], [-15, 9, 21]] / 60.
  struct kind {
    std::function<std::unique_ptr<multfit>()> make;
    std::vector<std::vector<double>> block; // of each line, in (a, b) order
  } kinds[] = {
      {[] { return std::make_unique<Mlinearsamem>(); },
       {{9.0 / 36, -9.0 / 36}, {-9.0 / 36, 21.0 / 36}}},
      {[] { return std::make_unique<Mlinearsamec>(); },
       {{21.0 / 60, -15.0 / 60}, {-15.0 / 60, 25.0 / 60}}},
  };
  for (const auto &k : kinds) {
    for (bool gauss : {true, false}) {
      std::vector<std::unique_ptr<dataset>> sets;
      sets.push_back(makedata({0, 1, 2}, {1, 3, 5}, {1, 1, 1}));
      sets.push_back(makedata({0, 1, 2}, {3, 5, 7}, {1, 1, 1}));
      auto m = k.make();
      m->makelines(2);
      for (int j = 0; j < 2; ++j) {
        m->datasets.add(sets[static_cast<std::size_t>(j)].get());
        m->line(j)->data = sets[static_cast<std::size_t>(j)].get();
      }
      auto lines = m->takelines();
      nullcanvas canvas;
      m->fit(canvas, canvas, gauss);
      for (const auto &line : lines) {
        expectmatrix(line->cov, k.block, 1e-12);
        EXPECT_NEAR(line->err[0], std::sqrt(k.block[0][0]), 1e-12);
        EXPECT_NEAR(line->err[1], std::sqrt(k.block[1][1]), 1e-12);
      }
    }
  }
}

TEST(FitCovariance, DiagonalIsTheSquaredUncertaintyForEveryModel) {
  const auto x = range(0.5, 0.25, 12);
  struct model {
    const char *name;
    std::function<std::unique_ptr<bfit>()> make;
    std::function<double(double)> f;
    std::vector<double> start;
  } models[] = {
      {"linear-origin",
       [] { return std::make_unique<lineronlym>(); },
       [](double t) { return 1.5 * t + 0.01 * std::sin(7 * t); },
       {}},
      {"cubic",
       [] { return std::make_unique<polynom>(3); },
       [](double t) { return t * t * t - 2 * t + 0.05 * std::cos(5 * t); },
       {}},
      {"power",
       [] { return std::make_unique<powersq>(); },
       [](double t) { return 3 * t * t * (1 + 0.01 * std::sin(9 * t)); },
       {}},
      {"resonance",
       [] { return std::make_unique<resonance>(); },
       [](double t) { return 2 / ((t - 2) * (t - 2) + 0.5) + 0.01 * std::sin(3 * t); },
       {}},
      {"periodic",
       [] { return std::make_unique<periodic>(); },
       [](double t) { return 2 * std::cos(3 * t) + 0.01 * std::sin(11 * t); },
       {1.9, 3.05}},
      {"periodic-decay",
       [] { return std::make_unique<periodicdecay>(); },
       [](double t) { return 2 * std::exp(-0.3 * t) * std::cos(3 * t + 0.2); },
       {1.9, -0.28, 3.02, 0.21}},
  };
  for (const auto &m : models) {
    SCOPED_TRACE(m.name);
    auto d = sampled(x, m.f, 0.02);
    auto fit = m.make();
    for (std::size_t i = 0; i < m.start.size(); ++i)
      fit->par[i] = m.start[i];
    fit->data = d.get();
    fit->fit(true);
    const int np = fit->order + 1;
    ASSERT_EQ(fit->cov.rows, np);
    for (int r = 0; r < np; ++r) {
      EXPECT_NEAR(std::sqrt(fit->cov(r, r)), fit->err[r], 1e-9 * fit->err[r]);
      for (int c = 0; c < np; ++c) {
        EXPECT_NEAR(fit->cov(r, c), fit->cov(c, r), 1e-12 * std::fabs(fit->cov(r, c)));
        // A covariance is bounded by its variances.
        EXPECT_LE(std::fabs(fit->cov(r, c)),
                  std::sqrt(fit->cov(r, r) * fit->cov(c, c)) * (1 + 1e-12));
      }
    }
  }
}
