// The common part of every fit (engine/bfit.cpp): chi-square limits,
// verdicts and their warnings, shown numbers, series made by fitplot, and
// the log channel (engine/logchannel.cpp). bfit's iteration is tested with
// the models that use it (fit_nonlinear_test.cpp), its effective-variance
// rounds in xerrors_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/bfit.h"
#include "engine/fits.h"
#include "engine/logchannel.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

const std::string kSmall2 =
    "WARNING: The chi-square value from the fit is suspiciously small.  If your error estimates "
    "are correct, such a value has less than 1 chance in 20 of occurring.  Possibly your error "
    "estimates are too large.  If this is so, then the errors on the fitted parameters are also "
    "too large. If in doubt, consult a demonstrator.";
const std::string kSmall1 =
    "WARNING: The chi-square value from the fit is small enough to be slightly worrying, but is "
    "not strong evidence of an error.  If your error estimates are correct, such a value has less "
    "than 1 chance in 5 of occurring.  Possibly your error estimates are too large.  If this is "
    "so, then the errors on the fitted parameters are also too large. If in doubt, consult a "
    "demonstrator";
const std::string kLarge1 =
    "WARNING: The chi-square value from the fit is large enough to be slightly worrying, but is "
    "not strong evidence of an error. If your error estimates are correct, such a value has less "
    "than 1 chance in 5 of occurring.  Possibly your error estimates are too small.  If this is "
    "so, then the errors on the fitted parameters are also too small. Alternatively, this "
    "particular fit is not appropriate for your data.";
const std::string kLarge2 =
    "WARNING: The chi-square value from the fit is suspiciously large.  If your error estimates "
    "are correct, such a value has less than 1 chance in 20 of occurring.  Possibly your error "
    "estimates are too small.  If this is so, then the errors on the fitted parameters are also "
    "too small. Alternatively, this particular fit is not appropriate for your data. If in "
    "doubt, consult a demonstrator.";

// A two-parameter model that is 0 everywhere, so that its chi-square is
// set by the data alone.
class zerofit : public bfit {
public:
  zerofit() { order = 1; }
  double value(double) const override { return 0.0; }
  void fit(bool) override {}
  void describe(stringlist &lines, bool clear) const override {
    describeform(lines, clear, "Caption ", {"A", "B"}, 2);
  }
  std::string formula(int index) const override { return formulahead(index); }
};

// Three points with a chi-square of exactly c against zerofit (dof 1): the
// first point's weight is set to c, its residual is 1.
struct chisqcase {
  std::unique_ptr<dataset> d;
  zerofit f;
  explicit chisqcase(double c) : d(makedata({0, 1, 2}, {1, 0, 0}, {1, 1, 1})) {
    (*d->w)[0] = c;
    f.data = d.get();
  }
};

} // namespace

// ---------------------------------------------------------------- limits

TEST(ChiLimits, TableRowsAreReturnedWhole) {
  EXPECT_EQ(bfit::chilimits(1), (chilimitset{0.004f, 0.064f, 1.642f, 3.841f}));
  EXPECT_EQ(bfit::chilimits(10), (chilimitset{3.940f, 6.179f, 13.442f, 18.307f}));
  EXPECT_EQ(bfit::chilimits(29), (chilimitset{17.708f, 22.475f, 35.139f, 42.557f}));
}

TEST(ChiLimits, FormulaFromThirtyOn) {
  const chilimitset l40 = bfit::chilimits(40);
  EXPECT_NEAR(l40[0], 26.508, 2e-3);
  EXPECT_NEAR(l40[1], 32.353, 2e-3);
  EXPECT_NEAR(l40[2], 47.261, 2e-3);
  EXPECT_NEAR(l40[3], 55.753, 2e-3);
  // 30 already takes the approximation, not the table's last row.
  const chilimitset l30 = bfit::chilimits(30);
  EXPECT_NE(l30[0], 18.493f);
  EXPECT_NEAR(l30[0], 18.493, 0.01);
  EXPECT_NEAR(l30[3], 43.773, 0.01);
  // Known quantiles for 100 degrees of freedom.
  const chilimitset l100 = bfit::chilimits(100);
  EXPECT_NEAR(l100[0], 77.929, 0.02);
  EXPECT_NEAR(l100[3], 124.342, 0.02);
}

TEST(ChiLimits, NoneWithoutDegreesOfFreedom) {
  for (int nu : {0, -1, -5})
    for (float l : bfit::chilimits(nu))
      EXPECT_TRUE(std::isnan(l)) << nu;
}

// --------------------------------------------------------------- verdict

TEST(Verdict, DecidedByTheLimitsInOrder) {
  const float l5 = 0.004f, l20 = 0.064f, l80 = 1.642f, l95 = 3.841f;
  struct {
    double chisq;
    int verdict;
    const char *word;
  } cases[] = {
      {0.003, -2, ""},
      {0.05, -1, ""},
      {1.0, 0, "good"},
      {2.0, 1, "suspicious"},
      {4.0, 2, "bad"},
      // Exactly on a limit: the inner side.
      {l5, -1, ""},
      {l20, 0, "good"},
      {l80, 0, "good"},
      {l95, 1, "suspicious"},
  };
  for (const auto &c : cases) {
    chisqcase k(c.chisq);
    ASSERT_EQ(k.f.dof(), 1);
    EXPECT_DOUBLE_EQ(k.f.chisq(), c.chisq);
    EXPECT_EQ(k.f.verdict(), c.verdict) << c.chisq;
    EXPECT_EQ(k.f.verdictword(), c.word) << c.chisq;
  }
}

TEST(Verdict, ZeroWeightAddsNothingButCountsInDof) {
  auto d = makedata({0, 1, 2, 3}, {1, 2, 50, 3}, {1, 1, 0, 1});
  zerofit f;
  f.data = d.get();
  EXPECT_DOUBLE_EQ(f.chisq(), 1.0 + 4.0 + 9.0);
  EXPECT_EQ(f.dof(), 2);
}

TEST(Verdict, NoVerdictWithoutDegreesOfFreedom) {
  auto d = makedata({0, 1}, {5, 7}, {1, 1});
  zerofit f;
  f.data = d.get();
  EXPECT_EQ(f.dof(), 0);
  EXPECT_FALSE(f.hasverdict());
  EXPECT_EQ(f.verdict(), 0);
  EXPECT_EQ(f.verdictword(), "");
  stringlist lines;
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 3u); // caption and two parameters, no warning
  EXPECT_EQ(lines[0], "Caption ");
}

TEST(Verdict, WarningTextsFollowTheCaption) {
  struct {
    double chisq;
    const std::string *warning;
  } cases[] = {
      {0.003, &kSmall2}, {0.05, &kSmall1}, {1.0, nullptr}, {2.0, &kLarge1}, {4.0, &kLarge2}};
  for (const auto &c : cases) {
    chisqcase k(c.chisq);
    k.f.par[0] = 1.5;
    k.f.err[0] = 0.25;
    stringlist lines{"old line"};
    k.f.describe(lines, true);
    ASSERT_EQ(lines.size(), c.warning ? 4u : 3u) << c.chisq;
    EXPECT_EQ(lines[0], "Caption ");
    if (c.warning) {
      EXPECT_EQ(lines[1], *c.warning);
    }
    EXPECT_EQ(lines[c.warning ? 2 : 1], "A = 1.5 +/- 0.25");
  }
}

TEST(Verdict, DescribeAppendsWithoutClear) {
  chisqcase k(1.0);
  stringlist lines{"kept"};
  k.f.describe(lines, false);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "kept");
  EXPECT_EQ(lines[1], "Caption ");
}

// ------------------------------------------------------------- shownpair

TEST(ShownPair, RoundsDownToTheUncertaintysPlaces) {
  struct {
    double v, e;
    int digits;
    const char *sv, *se;
  } cases[] = {
      {3.14159, 0.25, 2, "3.141", "0.25"},
      {-3.14159, 0.25, 2, "-3.142", "0.25"}, // floor moves negatives away from 0
      {12345.678, 0, 2, "12345.678", "0"},
      {1.23456, 0.03, 2, "1.2345", "0.03"}, // 0.03 x 10^4 is 300, not 299
      {2.0, 0.4472135955, 3, "2", "0.4472"},
      {2.0, 0.4472135955, 2, "2", "0.447"},
      {1234.5678, 25.3, 2, "1234.5", "25.3"},
  };
  for (const auto &c : cases) {
    const auto [v, e] = shownpair(c.v, c.e, c.digits);
    EXPECT_EQ(v, c.sv) << c.v << " " << c.e;
    EXPECT_EQ(e, c.se) << c.v << " " << c.e;
  }
}

TEST(ShownPair, UsesTheDecimalSeparator) {
  setdecimalseparator(',');
  const auto [v, e] = shownpair(3.14159, 0.25, 2);
  setdecimalseparator('.');
  EXPECT_EQ(v, "3,141");
  EXPECT_EQ(e, "0,25");
}

// --------------------------------------------------------------- fitplot

TEST(FitPlot, WeighsFitsAndMakesBothSeries) {
  auto d = makedata({1, 2, 3}, {2, 4, 6.5}, {1, 1, 1});
  d->dcolour = 0x12ab34;
  d->w.reset(); // fitplot makes the weights itself
  recordingcanvas mainchart, devchart;
  std::shared_ptr<seriesrecord> curve, dev;
  {
    lineronlym f;
    f.data = d.get();
    f.fitplot(mainchart, devchart, 1000, true);
    ASSERT_TRUE(d->w);
    EXPECT_GT(f.par[0], 2.0);
    ASSERT_EQ(mainchart.made.size(), 1u);
    ASSERT_EQ(devchart.made.size(), 1u);
    curve = mainchart.made[0];
    dev = devchart.made[0];
    EXPECT_EQ(curve->type, seriesrecord::kind::line);
    EXPECT_EQ(curve->seriescolour, 0x12ab34);
    EXPECT_EQ(dev->type, seriesrecord::kind::errorpoints);
    EXPECT_EQ(dev->seriescolour, 0);
    EXPECT_EQ(dev->title, "");
    EXPECT_FALSE(curve->destroyed);
  }
  // The fit takes its series with it.
  EXPECT_TRUE(curve->destroyed);
  EXPECT_TRUE(dev->destroyed);
}

TEST(FitPlot, FailureLeavesNoSeries) {
  auto d = makedata({1, 2, 3}, {2, 4, 6}, {1, 1, 1});
  d->yerr.reset();
  recordingcanvas mainchart, devchart;
  lineronlym f;
  f.data = d.get();
  try {
    f.fitplot(mainchart, devchart, 1000, true);
    FAIL() << "a dataset without errors must not fit";
  } catch (const engine_error &e) {
    EXPECT_EQ(e.code(), kNoErrors);
  }
  EXPECT_FALSE(f.curve);
  EXPECT_FALSE(f.devpoints);
  EXPECT_TRUE(mainchart.made.empty());
  EXPECT_TRUE(devchart.made.empty());
}

// A straight line y = a + b x that counts the points its value() is asked
// for, so that a test sees how often the points are passed over.
class countedline : public bfit {
public:
  countedline() { order = 1; }
  double value(double x) const override {
    ++asked;
    return par[0] + par[1] * x;
  }
  void fit(bool) override {
    par[0] = 0.25;
    par[1] = 1.5;
    err[0] = err[1] = 0.1;
  }
  void describe(stringlist &lines, bool clear) const override {
    describeform(lines, clear, "Line ", {"a", "b"}, 2);
  }
  std::string formula(int index) const override { return formulahead(index); }
  mutable long asked = 0;
};

// sum w (y - a - b x)^2 in long double.
long double referencechisq(const std::vector<double> &x, const std::vector<double> &y,
                           const std::vector<double> &w, double a, double b) {
  long double sum = 0.0L;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double d = static_cast<long double>(y[i]) - (a + b * static_cast<long double>(x[i]));
    sum += w[i] * d * d;
  }
  return sum;
}

// The chi-square fitplot has checked serves what shows the fit afterwards
// without another pass over the points, and only while the fit reads the
// same rows with the same parameters.
TEST(FitPlot, KeepsTheCheckedChiSquareWhileRowsAndParametersStay) {
  const std::vector<double> x{-3e5, 1e5, 2.5e5, 7e5, 9.5e5};
  const std::vector<double> y{-449999.5, 150001.0, 375000.5, 1049999.0, 1425000.75};
  const std::vector<double> e{0.5, 2.0, 0.25, 1.0, 4.0};
  auto d = makedata(x, y, e);
  std::vector<double> w;
  for (double v : e)
    w.push_back(1.0 / (v * v));
  recordingcanvas mainchart, devchart;
  countedline f;
  f.data = d.get();
  f.fitplot(mainchart, devchart, 1000, true);
  EXPECT_EQ(f.asked, 5); // requirefinite's one pass
  const long double ref = referencechisq(x, y, w, 0.25, 1.5);
  EXPECT_NEAR(f.chisq(), static_cast<double>(ref), 1e-12 * static_cast<double>(ref));
  stringlist lines;
  f.describe(lines, true);
  (void)f.verdict();
  (void)f.verdictword();
  EXPECT_EQ(f.asked, 5);

  struct change {
    const char *what;
    std::function<void()> apply;
    std::vector<double> weights;
    double a, b;
  };
  std::vector<double> w2 = w;
  w2[2] = 1.0;
  const std::vector<double> y2{-449990.0, 150001.0, 375000.5, 1049999.0, 1425000.75};
  const change changes[] = {
      {"new weights row",
       [&] {
         auto r = std::make_unique<drow>(5);
         r->data = w2;
         d->w = std::move(r);
       },
       w2, 0.25, 1.5},
      {"new y row", [&] { d->y = makerow(y2); }, w2, 0.25, 1.5},
      {"new parameters", [&] { f.par[1] = 1.4999; }, w2, 0.25, 1.4999},
  };
  const std::vector<double> *ys = &y;
  for (const change &c : changes) {
    SCOPED_TRACE(c.what);
    c.apply();
    if (d->y->data == y2)
      ys = &y2;
    const long asked = f.asked;
    const long double r = referencechisq(x, *ys, c.weights, c.a, c.b);
    EXPECT_NEAR(f.chisq(), static_cast<double>(r), 1e-12 * static_cast<double>(r));
    EXPECT_EQ(f.asked, asked + 5); // passed over again
  }
}

// ------------------------------------------------------------ log channel

class LogChannel : public ::testing::Test {
protected:
  void SetUp() override {
    setlogwindow(nullptr);
    pendingmessage();
  }
  void TearDown() override {
    setlogwindow(nullptr);
    pendingmessage();
  }
};

TEST_F(LogChannel, MessageWaitsUntilFetched) {
  logmessage("first");
  logmessage("second"); // replaces the unfetched one
  EXPECT_EQ(pendingmessage(), "second");
  EXPECT_EQ(pendingmessage(), ""); // fetching empties it
}

TEST_F(LogChannel, ReceiverFetchesAtOnce) {
  std::vector<std::string> got;
  std::vector<std::pair<int, int>> requests;
  setlogwindow([&](int wparam, int lparam) {
    requests.emplace_back(wparam, lparam);
    got.push_back(pendingmessage());
  });
  logmessage("Fit failed to converge try improving estimates");
  // Delivered before logmessage returned.
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "Fit failed to converge try improving estimates");
  EXPECT_EQ(requests[0], std::make_pair(332, 1));
  EXPECT_EQ(pendingmessage(), "");
}

TEST_F(LogChannel, FailedFitLogsThroughTheChannel) {
  std::vector<std::string> got;
  setlogwindow([&](int, int) { got.push_back(pendingmessage()); });
  auto d = makedata({0, 1, 2}, {1, 2, 3}, {1, 1, 1});
  powersq f;
  f.data = d.get();
  EXPECT_THROW(f.fit(true), engine_error);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "This fit routine can not have 0 value in the data for x or y");
}
