// plugins/plugin_text.h: the sample plug-ins' own copy of the number format
// (they link nothing of the program) must write every number as the
// program's generaltext and shownpair do.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/bfit.h"
#include "engine/numeric.h"
#include "plugins/plugin_text.h"

using namespace orvalle;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

// Values at the edges of the format: the fixed-point bounds of the exponent,
// roundings that carry into a new digit, the double's range, and the values
// that are not numbers.
const std::vector<double> kEdges = {
    0.0,          -0.0,        1.0,
    -1.0,         0.5,         1234.5,
    -1234.5,      0.0001,      0.001,
    0.00001,      0.00001234,  0.000999999,
    0.0009999999, 123456789,   12345678,
    1e8,          99999999,    999999999,
    9.99999999,   9.9995,      0.99995,
    0.1,          1.0 / 3,     2.0 / 3,
    M_PI,         -M_PI * 1e5, 1e15,
    1e16,         1e300,       -2.5e-300,
    1e-310,       5e-324,      1.7976931348623157e308,
    kInf,         -kInf,       std::numeric_limits<double>::quiet_NaN()};

// Every mantissa with every decimal exponent from -12 to 18, each sign.
std::vector<double> sweep() {
  std::vector<double> v;
  for (double m : {1.0, 1.5, 2.0 / 3, 9.87654321987, 9.99999999999, 4.444444449, 5.55555555})
    for (int e = -12; e <= 18; ++e) {
      v.push_back(m * std::pow(10.0, e));
      v.push_back(-m * std::pow(10.0, e));
    }
  return v;
}

} // namespace

TEST(PluginText, GeneralAgreesWithGeneraltext) {
  std::vector<double> values = kEdges;
  for (double x : sweep())
    values.push_back(x);
  // The precisions the program uses, and the separators of both kinds of text.
  for (int p : {4, 8, 10, 15})
    for (char sep : {'.', ','})
      for (double x : values)
        EXPECT_EQ(plugintext::general(x, p, sep), generaltext(x, p, sep))
            << "x = " << x << ", p = " << p << ", separator " << sep;
}

TEST(PluginText, PairAgreesWithShownpair) {
  const std::vector<std::pair<double, double>> pairs = {
      {1.23456, 0.0123}, {-98.7654, 3.21},   {1234567.0, 89.0}, {0.000123456, 0.0000067},
      {5.0, 0.0},        {2.5, -1.0},        {7.0, kInf},       {kInf, 1.0},
      {1e300, 1e-300},   {3.99999, 0.00999}, {-0.5, 0.5},       {42.0, 1e6}};
  for (char sep : {'.', ','}) {
    setdecimalseparator(sep);
    for (const auto &[v, e] : pairs)
      EXPECT_EQ(plugintext::pair(v, e, sep), shownpair(v, e, 2))
          << "v = " << v << ", e = " << e << ", separator " << sep;
  }
  setdecimalseparator('.');
}
