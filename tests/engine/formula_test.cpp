// Typed formulas: reading them (names, errors with positions, the
// language's operators and functions) and writing them for gnuplot.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/formula.h"

using namespace orvalle;

namespace {

struct badcase {
  const char *text;
  const char *message;
  int position;
};

struct reported {
  std::string message;
  int position = -1;
};

// What a text that cannot be read reports, or "" when it reads.
reported failure(const std::string &text) {
  try {
    typedformula f(text);
  } catch (const formula_error &e) {
    return {e.what(), e.position()};
  }
  return {};
}

} // namespace

TEST(TypedFormula, ErrorsSayWhatAndWhere) {
  const badcase cases[] = {
      {"A*expp(-x/B)", "Unknown name 'expp' at position 3", 3},
      {"A*(1-exp(-x/B)", "Missing closing parenthesis ')' at position 15", 15},
      {"A*x+", "The formula ends too soon at position 5", 5},
      {"A*x)", "Unexpected parenthesis ')' at position 4", 4},
      {"A*/x", "Unexpected operator '/' at position 3", 3},
      {"A *  ** x", "Unexpected operator '**' at position 6", 6},
      {"A B", "Missing operator before 'B' at position 3", 3},
      {"A*x#", "Unexpected character '#' at position 4", 4},
      {"A,x", "Unexpected character ',' at position 2", 2},
      {"A*x=2", "Unexpected character '=' at position 4", 4},
      {"_A*x", "Unexpected character '_' at position 1", 1},
      {"A*exp", "The function 'exp' at position 3 needs its argument in parentheses, e.g. exp(x)",
       3},
      {"2x*A", "Missing operator between '2' and what follows at position 2 (write 2*x, not 2x)",
       2},
      {"1.2.3*A", "Unexpected character '.' at position 4", 4},
      {"1e999*A", "The number '1e999' at position 1 is out of range", 1},
      // Positions count in the text as typed, blanks in front included,
      // and count characters, not bytes.
      {"  A*expp(x)", "Unknown name 'expp' at position 5", 5},
      {"A*(x+1 ", "Missing closing parenthesis ')' at position 8", 8},
      {"\u00e9t\u00e9*x + A#", "Unexpected character '\u00e9' at position 1", 1},
      {"A*x + \u00b5", "Unexpected character '\u00b5' at position 7", 7},
      {"A*x\x01", "Unexpected control character 0x01 at position 4", 4},
      {"", "The formula is empty: type one in x, e.g. A*exp(-x/B)", 0},
      {"   ", "The formula is empty: type one in x, e.g. A*exp(-x/B)", 0},
      {"2*sin(x)", "The formula has no parameter to fit: name one, e.g. A*x", 0},
      {"A+B+C+D+E+F+G+H+I+J*x",
       "Too many parameters: 'J' at position 19 would be the tenth; a formula may have at most 9",
       19},
      {"x(A)", "Unexpected parenthesis '(' at position 2", 2},
  };
  for (const badcase &c : cases) {
    SCOPED_TRACE(c.text);
    const reported got = failure(c.text);
    EXPECT_EQ(got.message, c.message);
    EXPECT_EQ(got.position, c.position);
  }
}

TEST(TypedFormula, ParametersInOrderOfFirstAppearance) {
  struct {
    const char *text;
    std::vector<std::string> names;
  } cases[] = {
      {"A*(1-exp(-x/B))", {"A", "B"}},
      {"B*x + A", {"B", "A"}},
      {"k*x + A*exp(-x/tau) + k", {"k", "A", "tau"}},
      {"V_0*sin(omega1*x + phi) + V_0", {"V_0", "omega1", "phi"}},
      {"A+B+C+D+E+F+G+H+I", {"A", "B", "C", "D", "E", "F", "G", "H", "I"}},
      // e and E are parameters like any other name; x and pi are not.
      {"e*x + pi*E", {"e", "E"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    typedformula f(c.text);
    EXPECT_EQ(f.parameters(), c.names);
    EXPECT_EQ(f.count(), static_cast<int>(c.names.size()));
  }
  EXPECT_EQ(typedformula("  A*x \t").text(), "A*x");
}

TEST(TypedFormula, OperatorsAndFunctionsAsGnuplotReadsThem) {
  const double x = 0.3, A = 1.7;
  const double p[] = {A};
  struct {
    const char *text;
    double expected;
  } cases[] = {
      {"A*x^2", A * x * x},
      {"A*x**2", A * x * x},
      {"-A^2", -(A * A)}, // the power binds more tightly than the sign
      {"-A**2", -(A * A)},
      {"A^3^2 + 0*x", std::pow(A, 9.0)}, // powers group from the right
      {"A**-x", std::pow(A, -x)},
      {"A/2/x", A / 2 / x},
      {"A-x-1", A - x - 1},
      {"log(A)", std::log(A)}, // log is the natural logarithm, as in gnuplot
      {"ln(A)", std::log(A)},
      {"log10(A*x)", std::log10(A * x)},
      {"exp(-x/A)", std::exp(-x / A)},
      {"sqrt(A)", std::sqrt(A)},
      {"sin(A*x)+cos(A*x)+tan(A*x)", std::sin(A * x) + std::cos(A * x) + std::tan(A * x)},
      {"asin(x)+acos(x)+atan(A)", std::asin(x) + std::acos(x) + std::atan(A)},
      {"sinh(A)+cosh(A)+tanh(A)", std::sinh(A) + std::cosh(A) + std::tanh(A)},
      {"abs(x-A)", std::fabs(x - A)},
      {"A*pi", A * M_PI},
      {"A*1.5e-1 + .5 + 2.", A * 0.15 + 0.5 + 2.0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    typedformula f(c.text);
    EXPECT_DOUBLE_EQ(f.value(x, p), c.expected);
  }
}

TEST(TypedFormula, ManyPointsAtOnceAgreeWithOneByOne) {
  typedformula f("A*(1-exp(-x/B)) + C");
  const double p[] = {2.0, 0.7, -0.25};
  const std::vector<double> xs = {0.0, 0.5, 1.0, 2.0, 40.0};
  std::vector<double> out(xs.size());
  f.values(xs, p, out);
  for (std::size_t i = 0; i < xs.size(); ++i)
    EXPECT_EQ(out[i], f.value(xs[i], p));
  EXPECT_DOUBLE_EQ(out[2], 2.0 * (1 - std::exp(-1.0 / 0.7)) - 0.25);
  // Outside the domain the value is NaN or infinite, for the fit to judge.
  typedformula g("A*log(x)");
  EXPECT_TRUE(std::isinf(g.value(0.0, p)));
  EXPECT_TRUE(std::isnan(g.value(-1.0, p)));
}

TEST(TypedFormula, GnuplotTextSubstitutesValuesAsFloatingPointNumbers) {
  struct {
    const char *text;
    std::vector<double> p;
    const char *gnuplot;
  } cases[] = {
      {"A*(1-exp(-x/B))", {2.5, 3}, "2.5*(1.0-exp(-x/3.0))"},
      // gnuplot would divide 1/2 as integers and read -2**2 as -(2**2).
      {"A*x^(1/2)", {-2}, "(-2.0)*x**(1.0/2.0)"},
      {"A^2 + ln(x) + log10(x)", {-1.5}, "(-1.5)**2.0+log(x)+log10(x)"},
      {"B * x ** 2 + pi", {1e-20}, "1e-20*x**2.0+pi"},
      {"A*x + 2.50e3", {0.1}, "0.1*x+2500.0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(typedformula(c.text).gnuplottext(c.p), c.gnuplot);
  }
}
