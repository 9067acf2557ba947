#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "engine/numeric.h"
#include "tests/datatext/commalocale.h"

using namespace orvalle;

namespace {

void expectnear(const vec &got, const vec &want, double tol) {
  ASSERT_EQ(got.n, want.n);
  for (int i = 0; i < want.n; ++i)
    EXPECT_NEAR(got[i], want[i], tol) << "element " << i;
}

bool isfault(const std::function<void()> &f) {
  try {
    f();
  } catch (const engine_error &e) {
    return e.code() == kFloatingPoint;
  }
  return false;
}

} // namespace

struct GeneraltextCase {
  double x;
  int p;
  const char *text;
};

void PrintTo(const GeneraltextCase &c, std::ostream *os) { *os << c.text; }

class GeneraltextTable : public ::testing::TestWithParam<GeneraltextCase> {};

TEST_P(GeneraltextTable, Formats) {
  const auto &c = GetParam();
  EXPECT_EQ(generaltext(c.x, c.p), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GeneraltextTable,
    ::testing::Values(
        // The examples of the format's description, P = 8.
        GeneraltextCase{1234.5, 8, "1234.5"}, GeneraltextCase{0.0001, 8, "0.0001"},
        GeneraltextCase{0.00001234, 8, "1.234E-5"}, GeneraltextCase{123456789, 8, "1.2345679E8"},
        GeneraltextCase{0.0, 8, "0"}, GeneraltextCase{-0.0, 15, "0"},
        GeneraltextCase{-1234.5, 8, "-1234.5"}, GeneraltextCase{12345678, 8, "12345678"},
        GeneraltextCase{100, 8, "100"}, GeneraltextCase{1e8, 8, "1E8"},
        GeneraltextCase{0.5, 8, "0.5"}, GeneraltextCase{0.001, 8, "0.001"},
        GeneraltextCase{-0.00001, 8, "-1E-5"}, GeneraltextCase{1.5e-7, 4, "1.5E-7"},
        // Rounding that carries into a new leading digit moves the exponent.
        GeneraltextCase{9.99999999, 8, "10"}, GeneraltextCase{999999999, 8, "1E9"},
        // 15 digits, as in grid cells and chi-square values.
        GeneraltextCase{0.1, 15, "0.1"}, GeneraltextCase{1.0 / 3.0, 15, "0.333333333333333"},
        GeneraltextCase{123456789012345678.0, 15, "1.23456789012346E17"},
        GeneraltextCase{2.0 / 3.0 * 1e-5, 15, "6.66666666666667E-6"},
        GeneraltextCase{123456.789, 4, "1.235E5"}, GeneraltextCase{3.84146, 4, "3.841"},
        GeneraltextCase{1e300, 15, "1E300"}, GeneraltextCase{-2.5e-300, 10, "-2.5E-300"},
        GeneraltextCase{std::numeric_limits<double>::infinity(), 15, "INF"},
        GeneraltextCase{-std::numeric_limits<double>::infinity(), 15, "-INF"},
        GeneraltextCase{std::numeric_limits<double>::quiet_NaN(), 15, "NAN"}),
    [](const ::testing::TestParamInfo<GeneraltextCase> &info) {
      return std::to_string(info.index);
    });

TEST(Generaltext, SeparatorIsTheCallersChoice) {
  EXPECT_EQ(generaltext(1234.5, 8, ','), "1234,5");
  EXPECT_EQ(generaltext(0.00001234, 8, ','), "1,234E-5");
  EXPECT_EQ(generaltext(0.25, 8, ','), "0,25");
  EXPECT_EQ(generaltext(42, 8, ','), "42");
}

TEST(Generaltext, IgnoresTheCLocale) {
  // A windowed program's C locale follows the environment; a decimal comma
  // there must not leak into the digits.
  test::CommaLocale comma;
  if (!comma.active())
    GTEST_SKIP() << "no locale with a decimal comma available";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5") << "the locale in force has a decimal comma";
  EXPECT_EQ(generaltext(1234.5, 8), "1234.5");
  EXPECT_EQ(generaltext(0.00001234, 8), "1.234E-5");
  EXPECT_EQ(generaltext(1.0 / 3.0, 15), "0.333333333333333");
}

TEST(Scalars, Xpow) {
  EXPECT_EQ(xpow(0, 0), 1.0);
  EXPECT_EQ(xpow(5, 0), 1.0);
  EXPECT_EQ(xpow(0, -2), 0.0);
  EXPECT_EQ(xpow(0, 3), 0.0);
  EXPECT_DOUBLE_EQ(xpow(2, 10), 1024.0);
  EXPECT_DOUBLE_EQ(xpow(0.5, -2), 4.0);
  EXPECT_TRUE(isfault([] { xpow(-2, 0.5); }));
  EXPECT_TRUE(isfault([] { xpow(10, 400); }));
}

TEST(Scalars, Slog10AndBinom) {
  EXPECT_DOUBLE_EQ(slog10(1000), 3.0);
  EXPECT_DOUBLE_EQ(slog10(-1000), -3.0);
  EXPECT_DOUBLE_EQ(slog10(0.01), -2.0);
  EXPECT_TRUE(isfault([] { slog10(0); }));
  EXPECT_EQ(binom(4, 2), 6);
  EXPECT_EQ(binom(5, 0), 1);
  EXPECT_EQ(binom(5, 5), 1);
  EXPECT_EQ(binom(10, 3), 120);
  EXPECT_EQ(binom(20, 10), 184756);
}

TEST(Vectors, Operations) {
  const vec a{1, -2, 3};
  const vec b{0.5, 0.5, 0.5};
  expectnear(minus(a, b), vec{0.5, -2.5, 2.5}, 0);
  EXPECT_DOUBLE_EQ(l1norm(a), 6.0);
  const vec nd = nudged(vec{1, -100, 0});
  EXPECT_EQ(nd[0], 1.00000004);
  EXPECT_EQ(nd[1], -100 * 1.00000004);
  EXPECT_EQ(nd[2], 0.0);
  vec z(3);
  z.zero();
  expectnear(z, vec{0, 0, 0}, 0);
}

TEST(Vectors, Notabove) {
  EXPECT_TRUE(notabove(vec{1, 5}, vec{-1, 5}));
  EXPECT_TRUE(notabove(vec{-1, 5}, vec{1, 5}));
  EXPECT_TRUE(notabove(vec{0, 9}, vec{1, 0}));
  EXPECT_FALSE(notabove(vec{2, 0}, vec{1, 9}));
  EXPECT_FALSE(notabove(vec{1, 2}, vec{1, 2, 3}));
  EXPECT_FALSE(notabove(vec{1, 3}, vec{1, 2}));
  EXPECT_TRUE(notabove(vec{1, -2}, vec{1, 3}));
}

TEST(Matrices, Tmul) {
  const matr m{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  EXPECT_EQ(tmul(m, vec{1, 2}).n, 0);
  // u[i] = sum over j of m(j, i) v[j]: the transposed product.
  expectnear(tmul(m, vec{1, 0, 0}), vec{1, 2, 3}, 0);
  expectnear(tmul(m, vec{1, 1, 1}), vec{12, 15, 18}, 0);
}

TEST(Matrices, DeterminantAndCofactorInverse) {
  const matr d{{2, 0, 0}, {0, 3, 0}, {0, 0, 4}};
  EXPECT_DOUBLE_EQ(d.det(), 24.0);
  const matr inv = d.cofinverse();
  const double want[3][3] = {{0.5, 0, 0}, {0, 1.0 / 3, 0}, {0, 0, 0.25}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_DOUBLE_EQ(inv(i, j), want[i][j]);

  const matr m2{{1, 2}, {3, 4}};
  EXPECT_DOUBLE_EQ(m2.det(), -2.0);
  EXPECT_EQ(m2.minordet(0, 0), 4.0);
  EXPECT_EQ(m2.minordet(0, 1), 3.0);
  EXPECT_EQ(m2.minordet(1, 0), 2.0);
  // Untransposed cofactors over the determinant.
  const matr c2 = m2.cofinverse();
  EXPECT_DOUBLE_EQ(c2(0, 0), -2.0);
  EXPECT_DOUBLE_EQ(c2(0, 1), 1.5);
  EXPECT_DOUBLE_EQ(c2(1, 0), 1.0);
  EXPECT_DOUBLE_EQ(c2(1, 1), -0.5);

  const matr m3{{2, -1, 0}, {1, 3, 2}, {0, 1, 4}};
  EXPECT_DOUBLE_EQ(m3.det(), 2 * (12 - 2) + 1 * (4 - 0));
  const matr m4{{1, 2, 0, 0}, {3, 4, 0, 0}, {0, 0, 2, 1}, {0, 0, 1, 2}};
  EXPECT_DOUBLE_EQ(m4.det(), -2.0 * 3.0);
}

TEST(Matrices, LargeOrderDeterminants) {
  // Order 8: triangular and block matrices with known determinants.
  matr t(8, 8);
  t.zero();
  double product = 1;
  for (int i = 0; i < 8; ++i) {
    t(i, i) = i + 1.5;
    product *= i + 1.5;
    for (int j = i + 1; j < 8; ++j)
      t(i, j) = 0.25 * (i - j);
  }
  EXPECT_NEAR(t.det(), product, 1e-9 * product);

  // Rows swapped once: the sign flips.
  matr s = t;
  std::swap(s.row[0], s.row[7]);
  EXPECT_NEAR(s.det(), -product, 1e-9 * product);

  // Order 6 against cofactor expansion of its order-5 minors.
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-1, 1);
  matr r(6, 6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j)
      r(i, j) = u(gen);
  double expansion = 0;
  for (int i = 0; i < 6; ++i)
    expansion += (i % 2 ? -1 : 1) * r(0, i) * r.minordet(0, i);
  EXPECT_NEAR(r.det(), expansion, 1e-12);

  matr singular = t;
  singular.row[3] = singular.row[5];
  EXPECT_EQ(singular.det(), 0.0);
  EXPECT_TRUE(isfault([&] { singular.cofinverse(); }));
}

TEST(Solvers, ReorderingAndBothMethods) {
  const matr swap{{0, 1}, {1, 0}};
  const vec b{2, 3};
  expectnear(gauss(swap, b), vec{3, 2}, 0);
  expectnear(solve(swap, b, false), vec{3, 2}, 0);

  const matr ns{{1, 2}, {3, 4}};
  const vec b2{5, 6};
  expectnear(gauss(ns, b2), vec{-4, 4.5}, 1e-12);
  expectnear(solve(ns, b2, false), vec{-4, 4.5}, 1e-12);

  // gauss leaves its inputs unchanged.
  EXPECT_EQ(swap(0, 0), 0.0);
  EXPECT_EQ(b[0], 2.0);
}

TEST(Solvers, SingularSystemsRaiseFaults) {
  const matr sing{{1, 2}, {2, 4}};
  const vec b{1, 1};
  EXPECT_TRUE(isfault([&] { gauss(sing, b); }));
  EXPECT_TRUE(isfault([&] { sing.cofinverse(); }));
  EXPECT_TRUE(isfault([&] { solve(sing, b, false); }));
  const matr zero3{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  EXPECT_TRUE(isfault([&] { gauss(zero3, vec{1, 2, 3}); }));
  const matr withnan{{1, std::nan("")}, {0, 1}};
  EXPECT_TRUE(isfault([&] { gauss(withnan, vec{1, 1}); }));
  EXPECT_THROW(gauss(matr{{1, 0}, {0, 1}}, vec{1, 2, 3}), engine_error);
}

TEST(Solvers, MethodsAgreeOnRandomWellConditionedSystems) {
  std::mt19937 gen(20261210);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n = 2; n <= 6; ++n) {
    for (int trial = 0; trial < 20; ++trial) {
      matr a(n, n);
      vec x(n);
      for (int i = 0; i < n; ++i) {
        x[i] = u(gen) * 10;
        for (int j = 0; j < n; ++j)
          a(i, j) = u(gen);
        a(i, i) += n; // diagonally dominant
      }
      vec b(n);
      for (int i = 0; i < n; ++i) {
        b[i] = 0;
        for (int j = 0; j < n; ++j)
          b[i] += a(i, j) * x[j];
      }
      const vec g = solve(a, b, true);
      const vec c = solve(a, b, false);
      expectnear(g, x, 1e-9);
      expectnear(c, x, 1e-9);
    }
  }
}

TEST(Solvers, CramerReusesOneInverseForManyRightHandSides) {
  const matr a{{4, 1, 0}, {1, 3, 1}, {0, 1, 2}};
  const matr inv = a.cofinverse();
  for (const vec &b : {vec{1, 0, 0}, vec{0, 1, 0}, vec{5, -2, 7}})
    expectnear(tmul(inv, b), gauss(a, b), 1e-12);
}

// A system prepared once solves every right-hand side exactly as solve()
// does by the same method, and its inverse is the inverse (not the
// cofactors' transpose) for both methods. The matrices are not symmetric,
// so a transposed inverse would show.
TEST(Solvers, LinearsystemSolvesAndInvertsByEitherMethod) {
  struct system {
    matr a;
    matr inverse; // exact, worked out by hand
  };
  const system exact[] = {
      {matr{{1, 2}, {3, 4}}, matr{{-2, 1}, {1.5, -0.5}}},
      {matr{{2, 0, 1}, {1, 1, 0}, {0, 0, 4}},
       matr{{0.5, 0, -0.125}, {-0.5, 1, 0.125}, {0, 0, 0.25}}},
  };
  for (bool useGauss : {true, false})
    for (const system &s : exact) {
      const linearsystem sys(s.a, useGauss);
      const int n = s.a.rows;
      for (const vec &b : {vec{1, 0, 0}, vec{5, -2, 7}, vec{-0.25, 3, 1e3}}) {
        vec bn(n);
        for (int i = 0; i < n; ++i)
          bn[i] = b[i];
        const vec got = sys.solve(bn);
        const vec want = solve(s.a, bn, useGauss);
        for (int i = 0; i < n; ++i)
          EXPECT_EQ(got[i], want[i]) << (useGauss ? "gauss" : "cramer") << " n=" << n;
      }
      const matr inv = sys.inverse();
      for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
          EXPECT_DOUBLE_EQ(inv(r, c), s.inverse(r, c))
              << (useGauss ? "gauss" : "cramer") << " n=" << n << " (" << r << ", " << c << ")";
    }
  // Beyond the expanded orders Cramer's cofactors come from an elimination:
  // a inv is the identity either way.
  const int n = 7;
  matr a(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      a(i, j) = i == j ? 10.0 + i : 1.0 / (1.0 + i + 2 * j);
  for (bool useGauss : {true, false}) {
    const matr inv = linearsystem(a, useGauss).inverse();
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        long double sum = 0.0L;
        for (int k = 0; k < n; ++k)
          sum += static_cast<long double>(a(r, k)) * inv(k, c);
        EXPECT_NEAR(static_cast<double>(sum), r == c ? 1.0 : 0.0, 1e-14);
      }
  }
  // A singular matrix faults, at the latest when a system is solved.
  const matr sing{{1, 2}, {2, 4}};
  for (bool useGauss : {true, false}) {
    EXPECT_TRUE(isfault([&] { linearsystem(sing, useGauss).solve(vec{1, 1}); }));
    EXPECT_TRUE(isfault([&] { linearsystem(sing, useGauss).inverse(); }));
  }
}

namespace {

// Gaussian elimination exactly as the pivot rule states it: before each
// column, bubble passes over the whole matrix until no neighbouring pair
// is out of order by notabove, then elimination with the right-hand side.
vec bubblegauss(matr a, vec b) {
  const int n = a.rows;
  for (int j = 0; j + 1 < n; ++j) {
    bool swapped = true;
    while (swapped) {
      swapped = false;
      for (int i = 0; i + 1 < n; ++i)
        if (!notabove(a.row[static_cast<std::size_t>(i + 1)], a.row[static_cast<std::size_t>(i)])) {
          std::swap(a.row[static_cast<std::size_t>(i)], a.row[static_cast<std::size_t>(i + 1)]);
          std::swap(b[i], b[i + 1]);
          swapped = true;
        }
    }
    for (int s = j + 1; s < n; ++s) {
      const double f = a(s, j) / a(j, j);
      for (int m = j + 1; m < n; ++m)
        a(s, m) = a(s, m) - a(j, m) * f;
      a(s, j) = 0.0;
      b[s] = b[s] - b[j] * f;
    }
  }
  vec x(n);
  for (int s = n - 1; s >= 0; --s) {
    double sum = b[s];
    for (int k = s + 1; k < n; ++k)
      sum -= a(s, k) * x[k];
    x[s] = sum / a(s, s);
  }
  return x;
}

} // namespace

// One elimination serves many right-hand sides with the pivot rule's
// results bit for bit, also where rows tie in their squared elements.
TEST(Solvers, EliminationKeepsThePivotRulesResults) {
  std::mt19937 gen(4711);
  std::uniform_int_distribution<int> small(-3, 3);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {2, 3, 5, 8, 13}) {
    for (int trial = 0; trial < 30; ++trial) {
      matr a(n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          // Small integers make ties (equal squares, opposite signs) common.
          a(i, j) = trial % 2 ? small(gen) : u(gen);
      for (int i = 0; i < n; ++i)
        a(i, i) += trial % 2 ? 7 * n : 0.0;
      const elimination e(a);
      for (int k = 0; k < 3; ++k) {
        vec b(n);
        for (int i = 0; i < n; ++i)
          b[i] = u(gen);
        const vec want = bubblegauss(a, b);
        const vec got = e.solve(b);
        const vec direct = gauss(a, b);
        for (int i = 0; i < n; ++i) {
          EXPECT_EQ(got[i], want[i]) << "n=" << n << " trial " << trial;
          EXPECT_EQ(direct[i], want[i]);
        }
      }
      // The inverse's columns are those solutions.
      const matr inv = e.inverse();
      vec unit(n);
      unit.zero();
      unit[n - 1] = 1.0;
      const vec last = bubblegauss(a, unit);
      for (int i = 0; i < n; ++i)
        EXPECT_EQ(inv(i, n - 1), last[i]);
    }
  }
}

// Cramer's rule on a large system: the cofactors over the determinant
// without forming a determinant far outside the double range, at the cost
// of one elimination.
TEST(Solvers, CramerOnLargeSystems) {
  const int n = 120;
  matr a(n, n);
  vec x(n);
  for (int i = 0; i < n; ++i) {
    x[i] = std::sin(i + 1.0);
    for (int j = 0; j < n; ++j)
      a(i, j) = 1.0 / (1.0 + std::abs(i - j));
    a(i, i) = 1e4; // det about 1e480
  }
  vec b(n);
  for (int i = 0; i < n; ++i) {
    long double s = 0;
    for (int j = 0; j < n; ++j)
      s += static_cast<long double>(a(i, j)) * x[j];
    b[i] = static_cast<double>(s);
  }
  const matr c = a.cofinverse();
  expectnear(tmul(c, b), x, 1e-12);
  expectnear(solve(a, b, false), x, 1e-12);
  // Untransposed cofactors: row 0 of c is column 0 of the inverse.
  const vec col0 = gauss(a, [&] {
    vec e(n);
    e.zero();
    e[0] = 1;
    return e;
  }());
  for (int i = 0; i < n; ++i)
    EXPECT_NEAR(c(i, 0), col0[i], 1e-15);
  matr singular = a;
  singular.row[7] = singular.row[9];
  EXPECT_TRUE(isfault([&] { singular.cofinverse(); }));
}

TEST(Jacobian, ForwardDifferences) {
  // F(p) = (p0^2 + p1, 3 p0 p1): J(r, c) = dF_c / dp_r.
  const vecfunction f = [](const vec &p) { return vec{p[0] * p[0] + p[1], 3 * p[0] * p[1]}; };
  const vec p{2, 5};
  const matr j = jacobian(f, p, f(p));
  EXPECT_NEAR(j(0, 0), 4, 1e-5);
  EXPECT_NEAR(j(0, 1), 15, 1e-5);
  EXPECT_NEAR(j(1, 0), 1, 1e-5);
  EXPECT_NEAR(j(1, 1), 6, 1e-5);
  // A parameter of 0 makes a zero step: a fault.
  const vec zero{0, 5};
  EXPECT_TRUE(isfault([&] { jacobian(f, zero, f(zero)); }));
}

namespace {

struct counted {
  explicit counted(int &live) : live_(live) { ++live_; }
  ~counted() { --live_; }
  int &live_;
};

} // namespace

TEST(List, PositionsCountFromTheOldest) {
  int live = 0;
  auto *a = new counted(live); // the test owns these (see below)
  auto *b = new counted(live);
  auto *c = new counted(live);
  {
    list<counted> l;
    EXPECT_EQ(l.oldest(), nullptr);
    EXPECT_EQ(l.at(0), nullptr);
    l.removeat(0); // empty: nothing happens
    l.add(a);
    l.add(b);
    l.add(c);
    EXPECT_EQ(l.count, 3u);
    EXPECT_EQ(l.head->obj, c);
    EXPECT_EQ(l.oldest()->obj, a);
    EXPECT_EQ(l.at(0)->obj, a);
    EXPECT_EQ(l.at(1)->obj, b);
    EXPECT_EQ(l.at(2)->obj, c);
    EXPECT_EQ(l.at(7)->obj, c);

    l.removeat(1); // destroys b
    EXPECT_EQ(live, 2);
    EXPECT_EQ(l.count, 2u);
    EXPECT_EQ(l.at(0)->obj, a);
    EXPECT_EQ(l.at(1)->obj, c);
    EXPECT_EQ(l.at(0)->newer, l.at(1));
    EXPECT_EQ(l.at(1)->older, l.at(0));

    l.clear(); // releases the items only
    EXPECT_EQ(l.count, 0u);
    EXPECT_EQ(l.head, nullptr);
    EXPECT_EQ(live, 2);

    l.add(a);
    l.add(c);
  } // destroying the list is clear
  EXPECT_EQ(live, 2);
  delete a;
  delete c;
  EXPECT_EQ(live, 0);
}

TEST(List, RemovingTheNewestAndTheOldest) {
  int live = 0;
  list<counted> l;
  for (int i = 0; i < 4; ++i)
    l.add(new counted(live)); // removeat below destroys them all
  counted *second = l.at(1)->obj;
  l.removeat(99); // the newest
  EXPECT_EQ(l.count, 3u);
  l.removeat(0); // the oldest
  EXPECT_EQ(l.oldest()->obj, second);
  EXPECT_EQ(l.oldest()->older, nullptr);
  while (l.count)
    l.removeat(0);
  EXPECT_EQ(live, 0);
  EXPECT_EQ(l.head, nullptr);
}
