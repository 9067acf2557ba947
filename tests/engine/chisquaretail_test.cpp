// The chi-square tail P(chi^2_nu >= c): against closed forms computed here
// in long double and against a table of scipy's values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/chisquaretail.h"

using namespace orvalle;

namespace {

// Q(c; nu) for even nu = 2k: exp(-c/2) sum over i < k of (c/2)^i / i!.
// The last term comes from logarithms, the others from it by
// t(i) = t(i+1) (i+1) / (c/2).
long double eventail(int nu, long double c) {
  const long double y = c / 2.0L;
  const int last = nu / 2 - 1;
  long double term = std::exp(-y + last * std::log(y) - std::lgamma(last + 1.0L));
  long double sum = 0.0L;
  for (int i = last; i >= 0; --i) {
    sum += term;
    term *= i / y;
  }
  return sum;
}

// Relative difference, 0 when both are 0.
double relative(double got, long double want) {
  if (want == 0.0L)
    return std::fabs(got);
  return static_cast<double>(std::fabs((got - want) / want));
}

} // namespace

TEST(ChiSquareTail, OneDegreeOfFreedomIsTheComplementaryErrorFunction) {
  for (double c : {1e-3, 0.1, 1.0, 3.841, 10.0, 100.0, 1000.0}) {
    SCOPED_TRACE(c);
    const long double want = std::erfc(std::sqrt(static_cast<long double>(c) / 2.0L));
    EXPECT_LT(relative(chisquaretail(c, 1), want), 1e-12);
  }
  // The 95 % point of one degree of freedom.
  EXPECT_NEAR(chisquaretail(3.841, 1), 0.05, 2e-5);
  EXPECT_NEAR(chisquaretail(3.841458820694124, 1), 0.05, 1e-14);
}

TEST(ChiSquareTail, EvenDegreesOfFreedomAgreeWithTheFiniteSum) {
  struct row {
    int nu;
    double c;
  } rows[] = {
      {2, 1e-3},
      {2, 5.0},
      {2, 1400.0},
      {4, 0.5},
      {10, 18.307},
      {30, 20.0},
      {100, 150.0},
      {1000, 900.0},
      {20000, 20100.0},
      {1000000, 998000.0},
      {1000000, 998762.5},
      {1000000, 1e6},
      {1000000, 1001000.0},
      {1000000, 1005000.0},
  };
  for (const auto &[nu, c] : rows) {
    SCOPED_TRACE(::testing::Message() << "nu " << nu << " c " << c);
    EXPECT_LT(relative(chisquaretail(c, nu), eventail(nu, c)), 1e-9);
  }
}

TEST(ChiSquareTail, AgreesWithScipy) {
  // scipy.stats.chi2.sf(c, nu), scipy 1.10.1, printed with repr().
  struct row {
    int nu;
    double c;
    double sf;
  } rows[] = {
      {1, 0.001, 0.9747728793699604},
      {3, 0.5, 0.9188914116546758},
      {3, 7.815, 0.049993902974883875},
      {5, 0.001, 0.9999999983185123},
      {7, 30.0, 9.495972508134177e-05},
      {29, 42.557, 0.04999966164685094},
      {31, 20.0, 0.9358036207411544},
      {99, 150.0, 0.0007204453957169282},
      {101, 3.0, 1.0},
      {1001, 1100.0, 0.015449202539736796},
      {9999, 9500.0, 0.9998310564344031},
      {12345, 12345.0, 0.4983073831789094},
      {99999, 101000.0, 0.012794947728403347},
      {333333, 331000.0, 0.9979031225365766},
      {999999, 998762.5, 0.8090027189585701},
      {999999, 1000000.0, 0.4995298419881127},
      {1000000, 1003000.0, 0.017016772933266328},
      {1000000, 900000.0, 1.0},
      {11690, 18218.14698566971, 4.7021901403762233e-294},
      {2, 1400.0, 9.85967654375939e-305},
  };
  for (const auto &[nu, c, sf] : rows) {
    SCOPED_TRACE(::testing::Message() << "nu " << nu << " c " << c);
    EXPECT_LT(relative(chisquaretail(c, nu), sf), 1e-9);
  }
}

TEST(ChiSquareTail, EdgesOfTheDomain) {
  EXPECT_EQ(chisquaretail(0.0, 3), 1.0);
  EXPECT_EQ(chisquaretail(-1.0, 3), 1.0);
  // Far beyond the smallest double: 0, not a failure.
  EXPECT_EQ(chisquaretail(1e6, 1), 0.0);
  EXPECT_EQ(chisquaretail(1e6, 50), 0.0);
  EXPECT_EQ(chisquaretail(std::numeric_limits<double>::infinity(), 5), 0.0);
  // No degrees of freedom, or no chi-square: no p-value.
  EXPECT_TRUE(std::isnan(chisquaretail(1.0, 0)));
  EXPECT_TRUE(std::isnan(chisquaretail(1.0, -2)));
  EXPECT_TRUE(std::isnan(chisquaretail(std::numeric_limits<double>::quiet_NaN(), 4)));
}
