// The plug-in contract (engine/customfit.cpp), through the two sample
// plug-ins built beside the program.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <string>

#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/logchannel.h"
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
      // The plug-in's own check names the model and the point, before the
      // chi-square could only say that it is not a number.
      EXPECT_EQ(e.code(), kFailedFit);
      EXPECT_EQ(std::string(e.what()),
                "The plug-in model \"Exponential decay y=A*exp(-x/B)\" gives nan at x = 0, "
                "which is not a finite number");
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

// ------------------------------------------------------------------------
// Plug-ins that break the contract on purpose (tests/plugins/hostile.c),
// each built as its own library.

namespace {

std::string hostile(const std::string &kind) {
  return std::string(ORVALLE_TEST_PLUGIN_DIR) + "/libtestplugin_" + kind + ".so";
}

// What the engine logs while it lives.
struct enginelog {
  std::vector<std::string> lines;
  enginelog() {
    setlogwindow([this](int, int) { lines.push_back(pendingmessage()); });
  }
  ~enginelog() { setlogwindow(nullptr); }
};

const std::string kHostileName = "Hostile straight line y=A+B*x";

} // namespace

// A library that crashes, ends the process or breaks the contract while it
// is loaded and asked for its name is tried in a child process: this
// process goes on, and the reason names the library.
TEST(HostilePlugin, RefusedAtLoadWithItsReason) {
  struct row {
    const char *kind;
    std::vector<std::string> says; // any one of them
  };
  const std::string crash = " while it was loaded and asked for its model's name";
  const std::vector<row> table = {
      // A sanitizer build reports the fault and ends the child with status 1.
      {"crashname", {"crashed (Segmentation fault)" + crash, "ended the program" + std::string()}},
      {"crashload", {"crashed (Segmentation fault)" + crash, "ended the program"}},
      {"crashlog", {"crashed (Segmentation fault)" + crash, "ended the program"}},
      {"exitname", {"ended the program (exit status 3)" + crash}},
      {"badestimates",
       {"The plug-in model \"" + kHostileName +
        "\" asks for 7 estimates (customestimates); a model takes 0 to 5"}},
      {"baddegree",
       {"The plug-in model \"" + kHostileName + "\" asks for a polynomial of degree -3"}},
      {"badname", {"model name holds a line break"}},
      {"notutf8", {"model name is not UTF-8 text"}},
  };
  for (const row &r : table) {
    SCOPED_TRACE(r.kind);
    const std::string path = hostile(r.kind);
    std::string why;
    EXPECT_FALSE(loadpluginfile(path, &why));
    bool said = false;
    for (const std::string &s : r.says)
      said = said || why.find(s) != std::string::npos;
    EXPECT_TRUE(said) << why;
    // The faults of the process are named with the library's path.
    if (r.says.front().find(crash) != std::string::npos) {
      EXPECT_NE(why.find(path), std::string::npos) << why;
    }
  }
  // The sound one of the same source passes the trial and loads.
  std::string why;
  EXPECT_TRUE(tryplugin(hostile("sound"), &why)) << why;
  auto sound = loadpluginfile(hostile("sound"), &why);
  ASSERT_TRUE(sound) << why;
  EXPECT_EQ(sound->name(), kHostileName);
  EXPECT_EQ(sound->estimates(), 2);
}

// A library that never answers is given up after the time allowed.
TEST(HostilePlugin, OneThatHangsIsGivenUp) {
  const auto start = std::chrono::steady_clock::now();
  std::string why;
  EXPECT_FALSE(tryplugin(hostile("hangname"), &why, 300));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(why.find(hostile("hangname") + " did not answer within 300 ms"), std::string::npos)
      << why;
  EXPECT_LT(took, std::chrono::seconds(20)); // not waited on for ever
}

// What a fit returns is checked: every parameter and uncertainty, and the
// model's value at every point. The fit fails with a reason that names the
// model, logged before it is raised; par stays as it was.
TEST(HostilePlugin, FitResultsAreCheckedAndTheReasonNamesTheModel) {
  struct row {
    const char *kind;
    std::string reason;
  };
  const std::string who = "The plug-in model \"" + kHostileName + "\"";
  const std::vector<row> table = {
      {"nanfit", who + " gave parameter [1] = nan, which is not a finite number"},
      {"inferr", who + " gave uncertainty [0] = inf, which is not a finite number"},
      {"nanvalue", who + " gives nan at x = 3, which is not a finite number"},
      {"threeestimates", who + " gave parameter [2] = nan, which is not a finite number"},
      {"failsilent", who + " could not fit the dataset (its fit returned 5)"},
  };
  auto d = makedata({0, 1, 2, 3, 4}, {1, 3, 5, 7, 9}, {0.1, 0.1, 0.1, 0.1, 0.1});
  for (const row &r : table) {
    SCOPED_TRACE(r.kind);
    std::string why;
    auto lib = loadpluginfile(hostile(r.kind), &why);
    ASSERT_TRUE(lib) << why;
    enginelog log;
    recordingcanvas mainchart, devchart;
    customfit f(*lib);
    f.par[0] = 7;
    f.data = d.get();
    try {
      f.fitplot(mainchart, devchart, 1000, true);
      ADD_FAILURE() << "no failure";
    } catch (const engine_error &e) {
      EXPECT_EQ(e.code(), kFailedFit);
      EXPECT_EQ(std::string(e.what()), r.reason);
    }
    EXPECT_EQ(log.lines, std::vector<std::string>{r.reason});
    EXPECT_EQ(f.par[0], 7);
    EXPECT_TRUE(mainchart.made.empty());
  }
}

// The sound fixture fits y = 1 + 2x: the weighted least-squares line,
// computed here in long double from its normal equations.
TEST(HostilePlugin, TheSoundFixtureFits) {
  std::string why;
  auto lib = loadpluginfile(hostile("sound"), &why);
  ASSERT_TRUE(lib) << why;
  const std::vector<double> x = {-3e3, -1e3, 2e3, 5e3, 9e3}, y = {-5e3, -1e3, 4.5e3, 1.1e4, 1.9e4};
  const std::vector<double> e = {10, 20, 10, 40, 10};
  auto d = makedata(x, y, e);
  customfit f(*lib);
  f.data = d.get();
  recordingcanvas mainchart, devchart;
  f.fitplot(mainchart, devchart, 1000, true);
  long double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double w = 1.0L / (static_cast<long double>(e[i]) * e[i]);
    s += w, sx += w * x[i], sy += w * y[i], sxx += w * x[i] * x[i], sxy += w * x[i] * y[i];
  }
  const long double det = s * sxx - sx * sx;
  EXPECT_NEAR(f.par[0], static_cast<double>((sxx * sy - sx * sxy) / det), 1e-9);
  EXPECT_NEAR(f.par[1], static_cast<double>((s * sxy - sx * sy) / det), 1e-12);
  EXPECT_EQ(f.formula(12), "y12(x) = a+b*x");
}

// Texts from a plug-in are one line of UTF-8 each; a gnuplot definition
// that is not one line beginning "y<index>(x) = " is refused.
TEST(HostilePlugin, TextsAreOneLineEachAndABadDefinitionIsRefused) {
  std::string why;
  auto lib = loadpluginfile(hostile("badformula"), &why);
  ASSERT_TRUE(lib) << why;
  auto d = makedata({0, 1, 2}, {1, 3, 5}, {0.1, 0.2, 0.1});
  customfit f(*lib);
  f.data = d.get();
  f.fit(true);
  stringlist lines;
  f.describe(lines, true);
  EXPECT_EQ(lines, (stringlist{"Fit of the form y=A+B*x", "two lines \xEF\xBF\xBD"}));
  try {
    (void)f.formula(1);
    ADD_FAILURE() << "no failure";
  } catch (const engine_error &e) {
    EXPECT_EQ(std::string(e.what()), "The plug-in model \"" + kHostileName +
                                         "\" wrote a gnuplot definition that is not one line "
                                         "beginning \"y1(x) = \"");
  }
}

// A library whose degree turns bad after it was bound: the fit is refused
// with the reason in the log, and the point count does not overflow.
TEST(HostilePlugin, ABadDegreeAtFitTimeIsLoggedWithTheReason) {
  const PluginLibrary good = load("libcustomfit_poly4.so");
  PluginLibrary bad = good;
  bad.customispoly = [] { return 2147483647; };
  enginelog log;
  EXPECT_THROW(makefit(trendtype::custom, &bad), engine_error);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "The plug-in model \"Quartic y=ax^4+bx^3+cx^2+dx+e\" asks for a "
                          "polynomial of degree 2147483647; the degree is 1 to 9");
  EXPECT_EQ(fewestpoints(trendtype::custom, &bad), 3);
}
