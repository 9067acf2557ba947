// Straight lines through several datasets that share a gradient or an
// intercept (engine/multfit.cpp).
#include <gtest/gtest.h>

#include <cmath>

#include "engine/multfit.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

// A multi fit set up the way the plotter drives it.
template <class M> struct multirun {
  std::vector<std::unique_ptr<dataset>> sets;
  std::vector<std::unique_ptr<bfit>> lines; // owned by the caller, as in the plotter
  M m;
  recordingcanvas mainchart, devchart;

  explicit multirun(std::vector<std::unique_ptr<dataset>> s) : sets(std::move(s)) {
    m.name = "N";
    m.makelines(static_cast<int>(sets.size()));
    for (std::size_t j = 0; j < sets.size(); ++j) {
      m.datasets.add(sets[j].get());
      bfit *l = m.line(static_cast<int>(j));
      l->data = sets[j].get();
      l->name = "N-" + std::to_string(j);
    }
    lines = m.takelines();
  }
};

std::vector<std::unique_ptr<dataset>> twolines(double a1, double b1, double a2, double b2) {
  std::vector<std::unique_ptr<dataset>> v;
  v.push_back(sampled(
      {0, 1, 2}, [=](double x) { return a1 * x + b1; }, 1));
  v.push_back(sampled(
      {0, 1, 2}, [=](double x) { return a2 * x + b2; }, 1));
  return v;
}

} // namespace

TEST(MultiFit, SharedGradient) {
  for (bool gauss : {true, false}) {
    multirun<Mlinearsamem> r(twolines(2, 1, 2, 3));
    r.m.fit(r.mainchart, r.devchart, gauss);
    for (int j = 0; j < 2; ++j) {
      const bfit &l = *r.lines[static_cast<std::size_t>(j)];
      EXPECT_NEAR(l.par[0], 2.0, 1e-12);
      EXPECT_NEAR(l.err[0], 0.5, 1e-12);
      // The full joint covariance: the other line moves this intercept
      // through the shared gradient.
      EXPECT_NEAR(l.err[1], std::sqrt(7.0 / 12.0), 1e-12);
    }
    EXPECT_NEAR(r.lines[0]->par[1], 1.0, 1e-12);
    EXPECT_NEAR(r.lines[1]->par[1], 3.0, 1e-12);
    // The normal equations are kept.
    ASSERT_EQ(r.m.normal.rows, 3);
    EXPECT_DOUBLE_EQ(r.m.normal(0, 0), 10.0);
    EXPECT_DOUBLE_EQ(r.m.normal(0, 1), 3.0);
    EXPECT_DOUBLE_EQ(r.m.normal(1, 1), 3.0);
    ASSERT_EQ(r.m.rhs.n, 3);
  }
}

TEST(MultiFit, SharedIntercept) {
  for (bool gauss : {true, false}) {
    multirun<Mlinearsamec> r(twolines(1, 1, 3, 1));
    r.m.fit(r.mainchart, r.devchart, gauss);
    EXPECT_NEAR(r.lines[0]->par[1], 1.0, 1e-12);
    EXPECT_NEAR(r.lines[1]->par[1], 1.0, 1e-12);
    EXPECT_NEAR(r.lines[0]->par[0], 1.0, 1e-12);
    EXPECT_NEAR(r.lines[1]->par[0], 3.0, 1e-12);
    // Both lines show the same value and uncertainty of the intercept.
    EXPECT_EQ(r.lines[0]->par[1], r.lines[1]->par[1]);
    EXPECT_EQ(r.lines[0]->err[1], r.lines[1]->err[1]);
    EXPECT_GT(r.lines[0]->err[1], 0.0);
  }
}

TEST(MultiFit, LinesBecomeOrdinaryFits) {
  multirun<Mlinearsamem> r(twolines(2, 1, 2, 3));
  r.sets[0]->dcolour = 0xff0000;
  r.m.fit(r.mainchart, r.devchart, true);
  // One curve and one deviation series per line, the curve in the colour
  // of its dataset.
  ASSERT_EQ(r.mainchart.made.size(), 2u);
  ASSERT_EQ(r.devchart.made.size(), 2u);
  EXPECT_EQ(r.mainchart.made[0]->seriescolour, 0xff0000);
  const bfit &l = *r.lines[1];
  EXPECT_EQ(l.dof(), 1);
  stringlist lines;
  l.describe(lines, true);
  EXPECT_EQ(lines[0], "Fit of the form y=ax+b with ");
  EXPECT_EQ(lines.back().substr(0, 4), "b = ");
  // Releasing the multi fit and one line leaves the other line intact.
  const double b = r.lines[0]->par[1];
  r.lines[1].reset();
  EXPECT_EQ(r.lines[0]->par[1], b);
  EXPECT_FALSE(r.devchart.made[0]->destroyed);
  EXPECT_TRUE(r.devchart.made[1]->destroyed);
}

TEST(MultiFit, TwoPointLineHasNoVerdict) {
  std::vector<std::unique_ptr<dataset>> v;
  v.push_back(makedata({0, 1}, {1, 3}, {1, 1}));
  v.push_back(makedata({0, 1, 2}, {1, 2.1, 2.9}, {0.1, 0.1, 0.1}));
  multirun<Mlinearsamec> r(std::move(v));
  r.m.fit(r.mainchart, r.devchart, true);
  EXPECT_EQ(r.lines[0]->dof(), 0);
  EXPECT_FALSE(r.lines[0]->hasverdict());
  EXPECT_EQ(r.lines[0]->verdictword(), "");
}

TEST(MultiFit, SingularSystemRaisesAndLeavesTheLinesBare) {
  std::vector<std::unique_ptr<dataset>> v;
  v.push_back(makedata({0, 0, 0}, {1, 2, 3}, {1, 1, 1})); // no gradient to find
  v.push_back(makedata({0, 1, 2}, {1, 2, 3}, {1, 1, 1}));
  for (bool gauss : {true, false}) {
    std::vector<std::unique_ptr<dataset>> copy;
    for (auto &d : v)
      copy.push_back(makedata(d->x->data, d->y->data, d->yerr->data));
    multirun<Mlinearsamec> r(std::move(copy));
    r.lines[0]->par[0] = 1;
    r.lines[0]->par[1] = 1;
    EXPECT_THROW(r.m.fit(r.mainchart, r.devchart, gauss), engine_error);
    EXPECT_EQ(r.lines[0]->par[0], 1);
    EXPECT_FALSE(r.lines[0]->curve);
    EXPECT_TRUE(r.mainchart.made.empty());
  }
}

TEST(MultiFit, DatasetWithoutErrorsRaises) {
  multirun<Mlinearsamem> r(twolines(2, 1, 2, 3));
  r.sets[1]->yerr.reset();
  try {
    r.m.fit(r.mainchart, r.devchart, true);
    FAIL();
  } catch (const engine_error &e) {
    EXPECT_EQ(e.code(), kNoErrors);
  }
}

TEST(MultiFit, TwelveDatasetsAgreeUnderBothSolvers) {
  auto make = [] {
    std::vector<std::unique_ptr<dataset>> v;
    for (int j = 0; j < 12; ++j)
      v.push_back(sampled(
          range(0, 1, 6), [j](double x) { return 0.7 * x + j + 0.01 * std::sin(3 * x + j); },
          0.1 + 0.01 * j));
    return v;
  };
  multirun<Mlinearsamem> g(make()), c(make());
  g.m.fit(g.mainchart, g.devchart, true);
  c.m.fit(c.mainchart, c.devchart, false);
  for (std::size_t j = 0; j < 12; ++j)
    for (int k = 0; k < 2; ++k) {
      EXPECT_NEAR(g.lines[j]->par[k], c.lines[j]->par[k], 1e-9);
      EXPECT_NEAR(g.lines[j]->err[k], c.lines[j]->err[k], 1e-9);
    }
  EXPECT_NEAR(g.lines[5]->par[1], 5.0, 0.05);
}

// Each line's own parameter takes the full joint covariance for both kinds
// and both solvers; the closed forms are the inverse normal matrices'
// diagonals (samem: M = [[10 3 3] [3 3 0] [3 0 3]], samec: M = [[6 3 3]
// [3 5 0] [3 0 5]]).
TEST(MultiFit, OwnParametersTakeTheJointCovariance) {
  for (bool gauss : {true, false}) {
    multirun<Mlinearsamem> m(twolines(2, 1, 2, 3));
    m.m.fit(m.mainchart, m.devchart, gauss);
    multirun<Mlinearsamec> c(twolines(1, 1, 3, 1));
    c.m.fit(c.mainchart, c.devchart, gauss);
    for (std::size_t j = 0; j < 2; ++j) {
      EXPECT_NEAR(m.lines[j]->err[1], std::sqrt(7.0 / 12.0), 1e-12);
      EXPECT_NEAR(m.lines[j]->err[0], 0.5, 1e-12);
      EXPECT_NEAR(c.lines[j]->err[0], std::sqrt(21.0 / 60.0), 1e-12);
      EXPECT_NEAR(c.lines[j]->err[1], std::sqrt(25.0 / 60.0), 1e-12);
    }
  }
}

// Many datasets: the joint system solved against an independent long
// double Gauss-Jordan inverse of the same normal equations, by both
// solvers; hundreds of two-point datasets finish (the benchmark times it).
TEST(MultiFit, ManyDatasetsMatchTheJointSolution) {
  for (int K : {40, 400}) {
    auto make = [K] {
      std::vector<std::unique_ptr<dataset>> v;
      for (int j = 0; j < K; ++j)
        v.push_back(makedata({0.5 * j, 0.5 * j + 1}, {1.0 + j, 3.1 + j}, {0.1, 0.2}));
      return v;
    };
    const int n = K + 1;
    std::vector<std::vector<long double>> M(n, std::vector<long double>(2 * n + 1, 0.0L));
    {
      auto sets = make();
      for (int j = 0; j < K; ++j) {
        const dataset &d = *sets[static_cast<std::size_t>(j)];
        for (int l = 0; l < 2; ++l) {
          const long double w = (*d.w)[l], x = (*d.x)[l], y = (*d.y)[l];
          M[0][0] += w * x * x;
          M[0][j + 1] += w * x;
          M[j + 1][0] += w * x;
          M[j + 1][j + 1] += w;
          M[0][2 * n] += w * x * y;
          M[j + 1][2 * n] += w * y;
        }
      }
      for (int i = 0; i < n; ++i)
        M[i][n + i] = 1.0L;
      for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
          if (std::fabs(M[r][c]) > std::fabs(M[p][c]))
            p = r;
        std::swap(M[p], M[c]);
        for (int r = 0; r < n; ++r) {
          if (r == c)
            continue;
          const long double f = M[r][c] / M[c][c];
          for (int k = c; k <= 2 * n; ++k)
            M[r][k] -= f * M[c][k];
        }
      }
    }
    for (bool gauss : {true, false}) {
      SCOPED_TRACE(std::to_string(K) + (gauss ? " datasets, Gauss" : " datasets, Cramer"));
      multirun<Mlinearsamem> r(make());
      r.m.fit(r.mainchart, r.devchart, gauss);
      const double m = static_cast<double>(M[0][2 * n] / M[0][0]);
      const double sm = std::sqrt(static_cast<double>(M[0][n] / M[0][0]));
      for (int j : {0, K / 2, K - 1}) {
        const bfit &l = *r.lines[static_cast<std::size_t>(j)];
        // The joint normal equations are neither centred nor scaled: with x
        // up to 200 they keep about 8 digits.
        EXPECT_NEAR(l.par[0], m, 1e-7 * std::fabs(m));
        EXPECT_NEAR(l.err[0], sm, 1e-7 * sm);
        const double b = static_cast<double>(M[j + 1][2 * n] / M[j + 1][j + 1]);
        const double sb = std::sqrt(static_cast<double>(M[j + 1][n + j + 1] / M[j + 1][j + 1]));
        EXPECT_NEAR(l.par[1], b, 1e-7 * (std::fabs(b) + 1.0));
        EXPECT_NEAR(l.err[1], sb, 1e-7 * sb);
      }
    }
  }
}

// A line whose chi-square overflows fails the joint fit: no series, the
// lines keep what they had.
TEST(MultiFit, NonFiniteChiSquareFailsTheJointFit) {
  std::vector<std::unique_ptr<dataset>> v;
  v.push_back(makedata({0, 1, 2}, {1e200, -1e200, 1e200}, {1, 1, 1}));
  v.push_back(makedata({0, 1, 2}, {1, 2, 3}, {1, 1, 1}));
  multirun<Mlinearsamem> r(std::move(v));
  r.lines[0]->par[0] = 5;
  EXPECT_THROW(r.m.fit(r.mainchart, r.devchart, true), engine_error);
  EXPECT_EQ(r.lines[0]->par[0], 5);
  EXPECT_TRUE(r.mainchart.made.empty());
}

TEST(MultiFit, RecordHoldsDatasetsOnly) {
  auto d = makedata({0, 1}, {1, 2}, {1, 1});
  mbfit rec;
  rec.datasets.add(d.get());
  rec.makelines(3);
  EXPECT_EQ(rec.lines.count, 0u);
  recordingcanvas a, b;
  rec.fit(a, b, true);
  EXPECT_TRUE(a.made.empty());
}
