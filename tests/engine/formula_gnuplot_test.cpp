// A formula fit in the gnuplot export: gnuplot itself evaluates the
// exported definition, which must give the fit's own values, and runs the
// whole exported script without a word of complaint.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/formulafit.h"
#include "engine/gnuplotexport.h"
#include "engine/nullcanvas.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

bool havegnuplot() { return std::system("gnuplot --version > /dev/null 2>&1") == 0; }

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct folder {
  std::string path;
  folder() {
    char name[] = "/tmp/orvalle-formula-gnuplot-XXXXXX";
    const char *dir = mkdtemp(name);
    if (!dir)
      throw std::runtime_error("mkdtemp failed");
    path = dir;
  }
  ~folder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

struct run {
  int status = -1;
  std::string out, err;
};

// gnuplot on a script file, its output to a PNG nobody looks at.
run gnuplot(const folder &dir, const std::string &script) {
  const std::string cmd = "cd / && gnuplot -e \"set terminal png size 640,480; set output '" +
                          dir.path + "/out.png'\" '" + script + "' > '" + dir.path +
                          "/stdout.txt' 2> '" + dir.path + "/stderr.txt'";
  const int s = std::system(cmd.c_str());
  run r;
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  r.out = readall(dir.path + "/stdout.txt");
  r.err = readall(dir.path + "/stderr.txt");
  return r;
}

struct formulacase {
  const char *text;
  std::vector<double> start;
  std::function<double(double)> truth;
};

} // namespace

TEST(FormulaGnuplot, GnuplotDrawsTheSameCurve) {
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  // Formulas whose gnuplot form differs from what was typed: ^ and ln,
  // integer literals that gnuplot would divide as integers, negative
  // values substituted after a sign or under a power, the power's binding.
  const formulacase cases[] = {
      {"A*(1-exp(-x/B))", {1, 1}, [](double x) { return 2.5 * (1 - std::exp(-x / 1.5)); }},
      {"A*x^(1/2) + B", {1, 1}, [](double x) { return -2 * std::sqrt(x) + 3; }},
      {"-A^2*x + B**2 - ln(x)*C",
       {1, 1, 1},
       [](double x) { return -4 * x + 2.25 - 0.5 * std::log(x); }},
      {"A*exp(-x/tau)*cos(w*x+phi)",
       {2.5, 1.5, 4.4, 0.3},
       [](double x) { return 3 * std::exp(-x / 2) * std::cos(4.5 * x + 0.4); }},
      {"A/((B-x)**2+C) + 0*pi",
       {1.5, 1.2, 0.8},
       [](double x) { return 2 / ((x - 1) * (x - 1) + 0.5); }},
      {"A*log10(x) + B*sinh(x/4) + abs(x-3)*C",
       {1, 1, 1},
       [](double x) {
         return 1.5 * std::log10(x) - 0.5 * std::sinh(x / 4) + 0.2 * std::fabs(x - 3);
       }},
  };
  folder dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const auto xs = range(0.2, 0.25, 16);
    // A little deterministic scatter, so that no fit is exact.
    auto d = sampled(
        xs, [&](double x) { return c.truth(x) + 0.01 * std::sin(37 * x); }, 0.05);
    formulafit f(c.text);
    for (std::size_t k = 0; k < c.start.size(); ++k)
      f.par[k] = c.start[k];
    f.data = d.get();
    nullcanvas canvas;
    ASSERT_NO_THROW(f.fitplot(canvas, canvas, 1000, true));

    std::ofstream script(dir.path + "/values.gnu");
    script << "set print \"-\"\n" << f.formula(0) << "\n";
    for (double x : xs)
      script << "print sprintf(\"%.17g\", y0(" << x << "))\n";
    script.close();
    const run r = gnuplot(dir, dir.path + "/values.gnu");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream lines(r.out + r.err);
    for (double x : xs) {
      double g = 0;
      ASSERT_TRUE(lines >> g) << "gnuplot printed: " << r.out << r.err;
      const double own = f.value(x);
      EXPECT_LE(std::fabs(g - own), 1e-13 * std::max(1.0, std::fabs(own))) << "x = " << x;
    }
  }
}

TEST(FormulaGnuplot, ExportedScriptRunsInGnuplot) {
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  auto d = sampled(
      range(0, 0.5, 12), [](double x) { return 2 * (1 - std::exp(-x / 1.5)); }, 0.05);
  d->name = "Dataset a";
  formulafit f("A*(1-exp(-x/B))");
  f.par[0] = 1;
  f.par[1] = 1;
  f.name = "Dataset a -- y=A*(1-exp(-x/B))";
  f.data = d.get();
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.fits = {{&f, 0}};
  chart.title = "charging";
  folder dir;
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(chart, dir.path + "/fit.gnu", &why)) << why;
  const std::string script = readall(dir.path + "/fit.gnu");
  EXPECT_NE(script.find("\r\n" + f.formula(0) + "\r\n"), std::string::npos);
  EXPECT_NE(script.find("# Fit of the form y=A*(1-exp(-x/B)) with\r\n"), std::string::npos);
  const run r = gnuplot(dir, dir.path + "/fit.gnu");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}
