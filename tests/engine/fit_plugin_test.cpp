// The plug-in contract (engine/customfit.cpp), through the two sample
// plug-ins built beside the program.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/trendtypes.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/recordingseries.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

const std::string kDir = ORVALLE_PLUGIN_DIR;

PluginLibrary load(const std::string &file) {
  std::string why;
  auto lib = loadpluginfile(kDir + "/" + file, &why);
  if (!lib)
    throw std::runtime_error(why);
  return *lib;
}

// The plug-in's log link: what it posted, fetched as the log window does.
struct logsink {
  std::vector<std::pair<int, int>> posts;
  std::vector<std::string> texts;
  const PluginLibrary *lib = nullptr;
  static void post(void *handle, int wparam, int lparam) {
    auto *self = static_cast<logsink *>(handle);
    self->posts.emplace_back(wparam, lparam);
    self->texts.push_back(self->lib->message());
  }
};

std::unique_ptr<dataset> decaydata(const std::vector<double> &x, double a, double b, double rel) {
  std::vector<double> y, e;
  for (double v : x) {
    y.push_back(a * std::exp(-v / b));
    e.push_back(rel * a * std::exp(-v / b));
  }
  return makedata(x, y, e);
}

} // namespace

TEST(PluginBinding, RefusesRelativePathsAndMissingFiles) {
  std::string why;
  EXPECT_FALSE(loadpluginfile("libcustomfit.so", &why));
  EXPECT_NE(why.find("not absolute"), std::string::npos);
  EXPECT_FALSE(loadpluginfile("./libcustomfit.so", &why));
  EXPECT_FALSE(loadpluginfile("", &why));
  why.clear();
  EXPECT_FALSE(loadpluginfile(kDir + "/libnothing_here.so", &why));
  EXPECT_FALSE(why.empty());
}

TEST(PluginBinding, NamesTheMissingFunction) {
  const PluginLibrary real = load("libcustomfit.so");
  std::map<std::string, void *> table{
      {"customfitname", reinterpret_cast<void *>(real.customfitname)},
      {"customestimates", reinterpret_cast<void *>(real.customestimates)},
      {"customispoly", reinterpret_cast<void *>(real.customispoly)},
      {"messageis", reinterpret_cast<void *>(real.messageis)},
      {"setloghangle", reinterpret_cast<void *>(real.setloghangle)},
      {"customfit_value", reinterpret_cast<void *>(real.customfit_value)},
      {"customfit_fit", reinterpret_cast<void *>(real.customfit_fit)},
      {"customfit_describe", reinterpret_cast<void *>(real.customfit_describe)},
  }; // customfit_formula left out
  auto resolve = [&](const char *s) -> void * {
    auto it = table.find(s);
    return it == table.end() ? nullptr : it->second;
  };
  std::string why;
  EXPECT_FALSE(bindplugin(resolve, &why));
  EXPECT_EQ(why, "The plug-in library lacks the function customfit_formula");
  table["customfit_formula"] = reinterpret_cast<void *>(real.customfit_formula);
  EXPECT_TRUE(bindplugin(resolve, &why));
  // A library of another contract version is refused.
  static int (*const otherversion)() = [] { return 99; };
  table["orvalle_plugin_abi"] = reinterpret_cast<void *>(otherversion);
  EXPECT_FALSE(bindplugin(resolve, &why));
  EXPECT_NE(why.find("99"), std::string::npos);
}

TEST(PluginBinding, NoModelWithoutItsFunctions) {
  EXPECT_THROW(customfit(PluginLibrary{}), engine_error);
  const PluginLibrary empty;
  EXPECT_EQ(empty.name(), "");
  EXPECT_EQ(empty.polydegree(), 0);
  EXPECT_EQ(empty.estimates(), 0);
  EXPECT_EQ(empty.message(), "");
}

TEST(ExponentialPlugin, DescribesItself) {
  const PluginLibrary lib = load("libcustomfit.so");
  EXPECT_EQ(lib.name(), "Exponential decay y=A*exp(-x/B)");
  EXPECT_EQ(lib.polydegree(), 0);
  EXPECT_EQ(lib.estimates(), 0);
}

TEST(ExponentialPlugin, FitsThroughFitplot) {
  const PluginLibrary lib = load("libcustomfit.so");
  const std::vector<double> x = range(0, 0.5, 12);
  auto d = decaydata(x, 5.0, 2.0, 0.02);
  d->w.reset();
  recordingcanvas mainchart, devchart;
  customfit f(lib);
  EXPECT_EQ(f.order, 1);
  f.data = d.get();
  f.fitplot(mainchart, devchart, 1000, true);
  EXPECT_NEAR(f.par[0], 5.0, 1e-8);
  EXPECT_NEAR(f.par[1], 2.0, 1e-8);
  EXPECT_EQ(f.dof(), 10);
  EXPECT_NEAR(f.value(2.0), 5.0 * std::exp(-1.0), 1e-8);
  EXPECT_EQ(mainchart.made.size(), 1u);
  EXPECT_EQ(devchart.made.size(), 1u);

  // Uncertainties: those of the weighted linearised problem, J^T W J.
  double aa = 0, ab = 0, bb = 0;
  for (int i = 0; i < d->w->n; ++i) {
    const double xi = x[static_cast<std::size_t>(i)], w = (*d->w)[i];
    const double e = std::exp(-xi / 2.0);
    const double da = e, db = 5.0 * e * xi / 4.0;
    aa += w * da * da;
    ab += w * da * db;
    bb += w * db * db;
  }
  const double det = aa * bb - ab * ab;
  EXPECT_NEAR(f.err[0] / std::sqrt(bb / det), 1.0, 1e-6);
  EXPECT_NEAR(f.err[1] / std::sqrt(aa / det), 1.0, 1e-6);

  stringlist lines{"x"};
  f.describe(lines, true);
  ASSERT_EQ(lines.size(), 4u); // exact data: the "suspiciously small" warning
  EXPECT_EQ(lines[0], "Fit of the form y=A*exp(-x/B) with ");
  EXPECT_EQ(lines[1], verdictwarning(-2));
  const auto [va, ea] = shownpair(f.par[0], f.err[0], 2);
  EXPECT_EQ(lines[2], "A = " + va + " +/- " + ea);
  EXPECT_EQ(lines[3].substr(0, 4), "B = ");

  f.par[0] = 5;
  f.par[1] = 2.5;
  EXPECT_EQ(f.formula(3), "y3(x) = 5 *exp(-x/(2.5))");
}

// With x errors the plug-in's model is fitted by effective variance, and its
// description says so on the line after its caption, as every model's does:
// sigma_eff^2 = sigma_y^2 + (f'(x) sigma_x)^2 with f' = -(A/B) exp(-x/B).
TEST(ExponentialPlugin, SaysHowItUsedTheXErrors) {
  const PluginLibrary lib = load("libcustomfit.so");
  const std::vector<double> x = range(0, 0.5, 12);
  auto d = decaydata(x, 5.0, 2.0, 0.02);
  for (std::size_t i = 0; i < x.size(); ++i) // a little scatter
    (*d->y)[static_cast<int>(i)] *= 1.0 + 0.01 * std::sin(3.0 * static_cast<double>(i));
  d->xerr = std::make_shared<drow>(d->x->n);
  for (int i = 0; i < d->x->n; ++i)
    (*d->xerr)[i] = 0.05;
  recordingcanvas mainchart, devchart;
  customfit f(lib);
  f.data = d.get();
  f.fitplot(mainchart, devchart, 1000, true);
  EXPECT_EQ(f.xerrmethod, "effective variance");

  // The chi-square is taken with the effective errors of the final curve.
  long double chi = 0.0L;
  for (int i = 0; i < d->x->n; ++i) {
    const long double xi = (*d->x)[i], yi = (*d->y)[i];
    const long double fx = f.par[0] * std::exp(-xi / f.par[1]);
    const long double slope = -fx / f.par[1];
    const long double s2 = std::pow((long double)(*d->yerr)[i], 2) + std::pow(slope * 0.05L, 2);
    chi += (yi - fx) * (yi - fx) / s2;
  }
  EXPECT_NEAR(f.chisq() / static_cast<double>(chi), 1.0, 1e-6);

  stringlist lines;
  f.describe(lines, true);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Fit of the form y=A*exp(-x/B) with ");
  EXPECT_EQ(lines[1], "x errors included (effective variance)");
}

// On scattered data, growing as well as decaying, and with a point of zero
// error (weight 0), the result is the chi-square minimum: any small change
// of A or B raises the chi-square.
TEST(ExponentialPlugin, FindsTheChiSquareMinimum) {
  const PluginLibrary lib = load("libcustomfit.so");
  for (double b : {3.0, -4.0}) {
    const std::vector<double> x = range(0.5, 0.5, 15);
    std::vector<double> y, e;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double v = 4.0 * std::exp(-x[i] / b);
      e.push_back(0.03 * v);
      y.push_back(v * (1 + 0.03 * std::sin(7.0 * static_cast<double>(i))));
    }
    e[3] = 0; // takes no part
    y[3] = 1000;
    auto d = makedata(x, y, e);
    customfit f(lib);
    f.data = d.get();
    f.fit(false);
    EXPECT_NEAR(f.par[1], b, 0.1 * std::fabs(b));
    const double best = f.chisq();
    for (int k : {0, 1})
      for (double step : {1e-4, -1e-4}) {
        const double keep = f.par[k];
        f.par[k] = keep * (1 + step);
        EXPECT_GT(f.chisq(), best) << b << " " << k << " " << step;
        f.par[k] = keep;
      }
  }
}

TEST(ExponentialPlugin, FailureIsLoggedAndRaised) {
  PluginLibrary lib = load("libcustomfit.so");
  logsink sink;
  sink.lib = &lib;
  lib.setloghangle(&sink, &logsink::post);
  auto d = makedata({0, 1, 2, 3}, {-1, -2, -3, -4}, {0.1, 0.1, 0.1, 0.1});
  customfit f(lib);
  f.par[0] = 7;
  f.data = d.get();
  try {
    f.fit(true);
    FAIL();
  } catch (const engine_error &e) {
    EXPECT_EQ(e.code(), kFailedFit);
  }
  EXPECT_EQ(f.par[0], 7);
  ASSERT_EQ(sink.posts.size(), 1u);
  EXPECT_EQ(sink.posts[0], std::make_pair(333, 1));
  EXPECT_FALSE(sink.texts[0].empty());
  lib.setloghangle(nullptr, nullptr);
}

TEST(QuarticPlugin, AsksForADegreeFourPolynomial) {
  const PluginLibrary lib = load("libcustomfit_poly4.so");
  EXPECT_EQ(lib.name(), "Quartic y=ax^4+bx^3+cx^2+dx+e");
  ASSERT_EQ(lib.polydegree(), 4);
  // What the plotter does for such a plug-in: a polynom of that degree.
  polynom f(lib.polydegree());
  auto d = sampled(
      range(-2, 0.5, 9), [](double x) { return x * x * x * x - 3 * x + 1; }, 0.1);
  f.data = d.get();
  f.fit(true);
  EXPECT_NEAR(f.par[0], 1.0, 1e-9);
  EXPECT_NEAR(f.par[3], -3.0, 1e-9);
  EXPECT_NEAR(f.par[4], 1.0, 1e-9);
  stringlist lines;
  f.describe(lines, true);
  EXPECT_EQ(lines[0], "Fit of the form y= SUM{i=0:N}( a{i}x^(N-i) ) ");
}

namespace {

// A plug-in's model functions that misbehave, bound over the sample's.
int negativeerrorfit(orvalle_params *p, const orvalle_points *, int) {
  p->par[0] = 2.0;
  p->par[1] = 0.5;
  p->err[0] = 0.1;
  p->err[1] = -0.01;
  return 0;
}
int plainfit(orvalle_params *p, const orvalle_points *, int) {
  p->par[0] = 2.0;
  p->par[1] = 0.5;
  p->err[0] = 0.1;
  p->err[1] = 0.01;
  return 0;
}
double nanvalue(const orvalle_params *, double) { return std::nan(""); }

} // namespace

// A negative uncertainty is a plug-in failure; a model whose values are
// not numbers makes a chi-square that is not one, and fails in fitplot.
TEST(MisbehavingPlugin, NegativeUncertaintyOrNaNValueFailsTheFit) {
  PluginLibrary lib = load("libcustomfit.so");
  auto d = decaydata({0, 1, 2, 3}, 2.0, 2.0, 0.01);
  recordingcanvas mainchart, devchart;
  {
    lib.customfit_fit = negativeerrorfit;
    customfit f(lib);
    f.par[0] = 7;
    f.data = d.get();
    EXPECT_THROW(f.fitplot(mainchart, devchart, 1000, true), engine_error);
    EXPECT_EQ(f.par[0], 7);
  }
  {
    lib.customfit_fit = plainfit;
    lib.customfit_value = nanvalue;
    customfit f(lib);
    f.data = d.get();
    try {
      f.fitplot(mainchart, devchart, 1000, true);
      ADD_FAILURE() << "no failure";
    } catch (const engine_error &e) {
      EXPECT_EQ(e.code(), kFailedFit);
      EXPECT_EQ(std::string(e.what()), "The fit gave a chi-square that is not a finite number");
    }
    EXPECT_FALSE(f.curve);
  }
  EXPECT_TRUE(mainchart.made.empty());
}

// The trend list asks a plug-in polynomial for two points more than its
// degree, and says so in the usual message.
TEST(QuarticPlugin, NeedsTwoPointsMoreThanItsDegree) {
  const PluginLibrary lib = load("libcustomfit_poly4.so");
  EXPECT_EQ(fewestpoints(trendtype::custom, &lib), 6);
  EXPECT_EQ(fewestpointsmessage(trendtype::custom, &lib),
            "You need at least 6 points in the dataset to fit Quartic y=ax^4+bx^3+cx^2+dx+e");
  const PluginLibrary own = load("libcustomfit.so");
  EXPECT_EQ(fewestpoints(trendtype::custom, &own), 3);
}
