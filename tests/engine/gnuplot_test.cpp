// The gnuplot export (engine/gnuplotexport.cpp): the data file and the script line by line, writing
// them, and gnuplot itself reading what was written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/fits.h"
#include "engine/gnuplotexport.h"
#include "engine/information.h"
#include "engine/nullcanvas.h"
#include "engine/trendtypes.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

// Splits a CR LF text into lines; a bare LF or CR fails the test.
std::vector<std::string> crlflines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text does not end in CR LF";
      break;
    }
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "lone line break in: " << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::unique_ptr<dataset> named(std::unique_ptr<dataset> d, const std::string &name) {
  d->name = name;
  return d;
}

// The lines that follow the information comment block.
std::vector<std::string> afterinformation(const std::vector<std::string> &lines, std::size_t n) {
  return std::vector<std::string>(lines.begin() + static_cast<long>(n), lines.end());
}

const std::vector<std::string> kHead = {
    "# Gnuplot Script exported by Vantrel 0.9 beta",
    "set grid",
    "set multiplot",
    "set size 1,0.7",
    "set origin 0.0,0.3",
    "set linestyle 2 lt 1 pt 2",
    "set linestyle 1 lt 1 lw 3",
};
const std::vector<std::string> kDeviationHead = {
    "set origin 0.0,0.0", "set size 1,0.3",
    "g(x) = 0",           "set title \"Deviations in the Ordinates\" ",
    "set xlabel \"\"",    "set ylabel \" \"",
};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

} // namespace

TEST(GnuplotExport, ExampleRun1LineByLine) {
  auto d = named(makedata({1, 2}, {2, 4.1}, {0.1, 0.2}), "Dataset A");
  lineronlym f;
  f.name = "Dataset A -- Linear (y=mx)";
  f.data = d.get();
  f.par[0] = 2;
  f.err[0] = 0.05;

  const std::string datapath = gnuplotdatapath("/home/u/run1.gnu");
  EXPECT_EQ(datapath, "/home/u/run1.gdt");
  EXPECT_EQ(gnuplotdatafile({d.get()}),
            "# Data Set Dataset A\r\n1\t2\t0.1\r\n2\t4.1\t0.2\r\n\r\n\r\n");

  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.fits = {{&f, 0}};
  chart.title = "run1";
  const auto lines = crlflines(gnuplotscript(chart, datapath));

  const stringlist info = informationlines({&f});
  ASSERT_GT(lines.size(), info.size());
  for (std::size_t i = 0; i < info.size(); ++i)
    EXPECT_EQ(lines[i], "# " + info[i]);
  EXPECT_EQ(lines[0], "# Dataset A -- Linear (y=mx)");

  const std::string P = "\"/home/u/run1.gdt\"";
  const auto expected = concat({
      kHead,
      {"set title \"run1\" ", "set xlabel \" \" ", "set ylabel \" \" ", "y0(x) = 2 *x",
       "plot " + P +
           " index 0:0 using 1:2:3 ti \"\" with yerrorbars linestyle 2 , y0(x)  ti \"\" with "
           "lines linestyle 1 "},
      kDeviationHead,
      {"plot g(x) ti \"\" with lines linestyle 1 , " + P +
           " index 0:0 using 1:($2-y0($1)):3 ti \"\" with yerrorbars linestyle 2",
       "set nomultiplot"},
  });
  EXPECT_EQ(afterinformation(lines, info.size()), expected);
}

TEST(GnuplotExport, TwoDatasetsOneFit) {
  auto a = named(makedata({1, 2, 3}, {1, 2, 3}, {1, 1, 1}), "Dataset a");
  auto b = named(makedata({1, 2, 3}, {2, 4, 6.5}, {1, 1, 1}), "Dataset b");
  polynom p(1);
  p.name = "Dataset b -- Linear (y=ax+b)";
  p.data = b.get();
  nullcanvas canvas;
  p.fitplot(canvas, canvas, 1000, true);

  gnuplotchart chart;
  chart.datasets = {a.get(), b.get()};
  chart.fits = {{&p, 1}};
  const auto lines = crlflines(gnuplotscript(chart, "/d/x.gdt"));
  const std::size_t n = informationlines({&p}).size();
  const auto rest = afterinformation(lines, n);
  ASSERT_EQ(rest.size(), kHead.size() + 5 + kDeviationHead.size() + 2);
  EXPECT_EQ(rest[kHead.size() + 3], p.formula(0));
  EXPECT_EQ(rest[kHead.size() + 4],
            "plot \"/d/x.gdt\" index 0:0 using 1:2:3 ti \"\" with yerrorbars linestyle 2 , "
            "\"/d/x.gdt\" index 1:1 using 1:2:3 ti \"\" with yerrorbars linestyle 2 , "
            "y0(x)  ti \"\" with lines linestyle 1 ");
  EXPECT_EQ(rest[rest.size() - 2], "plot g(x) ti \"\" with lines linestyle 1 , \"/d/x.gdt\" "
                                   "index 1:1 using 1:($2-y0($1)):3 ti \"\" with yerrorbars "
                                   "linestyle 2");

  const auto data = crlflines(gnuplotdatafile(chart.datasets));
  const std::vector<std::string> expected = {
      "# Data Set Dataset a", "1\t1\t1", "2\t2\t1", "3\t3\t1",   "", "",
      "# Data Set Dataset b", "1\t2\t1", "2\t4\t1", "3\t6.5\t1", "", ""};
  EXPECT_EQ(data, expected);
}

TEST(GnuplotExport, DatasetsWithoutFitsAndNoDatasets) {
  auto a = named(makedata({1, 2}, {1, 2}, {1, 1}), "A");
  gnuplotchart chart;
  chart.datasets = {a.get()};
  const auto lines = crlflines(gnuplotscript(chart, "/t/p.gdt"));
  const auto expected = concat({
      kHead,
      {"set title \"\" ", "set xlabel \" \" ", "set ylabel \" \" ",
       "plot \"/t/p.gdt\" index 0:0 using 1:2:3 ti \"\" with yerrorbars linestyle 2"},
      kDeviationHead,
      {"plot g(x) ti \"\" with lines linestyle 1", "set nomultiplot"},
  });
  EXPECT_EQ(lines, expected);

  // Nothing to plot above: "plot" alone would be a gnuplot error, so the
  // main plot line is left out; the data file is empty.
  const auto none = crlflines(gnuplotscript(gnuplotchart{}, "/t/p.gdt"));
  for (const auto &l : none)
    EXPECT_NE(l.rfind("plot \"", 0), 0u) << l;
  EXPECT_EQ(std::count(none.begin(), none.end(), "plot g(x) ti \"\" with lines linestyle 1"), 1);
  EXPECT_EQ(none.size(), expected.size() - 1);
  EXPECT_EQ(gnuplotdatafile({}), "");
}

TEST(GnuplotExport, TitlesAndPathsAreQuotedForGnuplot) {
  struct {
    const char *in, *out;
  } cases[] = {
      {"run 1, trial 2", "run 1, trial 2"},
      {"the \"best\" run", "the \\\"best\\\" run"},
      {"C:\\work\\run1.gdt", "C:\\\\work\\\\run1.gdt"},
      {"a `touch x` b", "a \\`touch x\\` b"},
      {"two\r\nlines", "two  lines"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(gnuplotquoted(c.in), c.out) << c.in;

  gnuplotchart chart;
  chart.title = "he said \"fit\", twice";
  chart.xtitle = "time, s";
  const auto lines = crlflines(gnuplotscript(chart, "C:\\work\\run1.gdt"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "set title \"he said \\\"fit\\\", twice\" "),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "set xlabel \"time, s\" "), lines.end());

  auto d = named(makedata({1, 2}, {1, 2}, {1, 1}), "A");
  chart.datasets = {d.get()};
  const std::string script = gnuplotscript(chart, "C:\\work\\run1.gdt");
  EXPECT_NE(script.find("plot \"C:\\\\work\\\\run1.gdt\" index 0:0"), std::string::npos);
}

TEST(GnuplotExport, DataPathFromScriptPath) {
  struct {
    const char *script, *data;
  } cases[] = {
      {"/home/u/run1.gnu", "/home/u/run1.gdt"},
      {"C:\\work\\run1.gnu", "C:\\work\\run1.gdt"},
      {"plot.GNU", "plot.gdt"},
      {"/a/b.plt", "/a/b.gdt"},
      // Without a three-letter extension nothing of the name is cut off.
      {"/a.b/plot", "/a.b/plot.gdt"},
      {"/a/run.gnuplot", "/a/run.gnuplot.gdt"},
      {"/a/x.gp", "/a/x.gp.gdt"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(gnuplotdatapath(c.script), c.data) << c.script;
}

TEST(GnuplotExport, DataNumbersHaveTenDigits) {
  auto d = named(
      makedata({1.234e-5, 123456789012.0, -0.5}, {3.14159265358979, 1e20, 2.5e-7}, {0.1, 1e-12, 7}),
      "n");
  const auto lines = crlflines(gnuplotdatafile({d.get()}));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "1.234E-5\t3.141592654\t0.1");
  EXPECT_EQ(lines[2], "1.23456789E11\t1E20\t1E-12");
  EXPECT_EQ(lines[3], "-0.5\t2.5E-7\t7");
}

TEST(GnuplotExport, NumbersUseAPointWhateverTheSeparator) {
  auto d = named(makedata({0, 1, 2, 3}, {0.5, 1.6, 2.4, 3.6}, {0.1, 0.1, 0.1, 0.1}), "A");
  polynom p(1);
  p.name = "fit";
  p.data = d.get();
  nullcanvas canvas;
  p.fitplot(canvas, canvas, 1000, true);
  setdecimalseparator(',');
  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.fits = {{&p, 0}};
  const std::string script = gnuplotscript(chart, "/x.gdt");
  EXPECT_EQ(decimalseparator(), ',');
  setdecimalseparator('.');
  int numberlines = 0;
  for (const auto &line : crlflines(script))
    if (line.rfind("# a = ", 0) == 0 || line.rfind("# ChiSqu =", 0) == 0) {
      ++numberlines;
      EXPECT_EQ(line.find(','), std::string::npos) << line;
    }
  EXPECT_EQ(numberlines, 2);
}

TEST(GnuplotExport, ManyFitsNameTheirFunctionsWhole) {
  auto d = named(makedata({1, 2, 3}, {1, 2, 3}, {1, 1, 1}), "A");
  std::vector<std::unique_ptr<lineronlym>> fits;
  gnuplotchart chart;
  chart.datasets = {d.get()};
  for (int i = 0; i < 101; ++i) {
    fits.push_back(std::make_unique<lineronlym>());
    fits.back()->data = d.get();
    fits.back()->par[0] = 1;
    chart.fits.push_back({fits.back().get(), 0});
  }
  const std::string script = gnuplotscript(chart, "/x.gdt");
  EXPECT_NE(script.find(" , y9(x)  ti "), std::string::npos);
  EXPECT_NE(script.find(" , y10(x) ti "), std::string::npos);
  EXPECT_NE(script.find(" , y100(x) ti "), std::string::npos);
}

// ------------------------------------------------------------ writing

namespace {

std::string tempfolder() {
  char name[] = "/tmp/orvalle-gnuplot-XXXXXX";
  const char *dir = mkdtemp(name);
  if (!dir)
    throw std::runtime_error("mkdtemp failed");
  return dir;
}

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

TEST(GnuplotExport, WritesBothFilesAndReportsFailures) {
  const std::string dir = tempfolder();
  auto d = named(makedata({1, 2}, {2, 4.1}, {0.1, 0.2}), "Dataset A");
  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.title = "run1";
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(chart, dir + "/run1.gnu", &why)) << why;
  EXPECT_EQ(readall(dir + "/run1.gdt"), gnuplotdatafile(chart.datasets));
  EXPECT_EQ(readall(dir + "/run1.gnu"), gnuplotscript(chart, dir + "/run1.gdt"));

  // Overwriting replaces the old text entirely.
  ASSERT_TRUE(writetextfile(dir + "/run1.gnu", "short", &why));
  EXPECT_EQ(readall(dir + "/run1.gnu"), "short");

  EXPECT_FALSE(writegnuplotfiles(chart, dir + "/missing/run1.gnu", &why));
  EXPECT_NE(why.find(dir + "/missing/run1.gdt"), std::string::npos) << why;
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;

  // A script named like its own data file would overwrite it.
  EXPECT_FALSE(writegnuplotfiles(chart, dir + "/x.gdt", &why));
  EXPECT_NE(why.find("overwrite"), std::string::npos);
  std::system(("rm -rf '" + dir + "'").c_str());
}

// ------------------------------------------------------------ gnuplot reads it

namespace {

bool havegnuplot() { return std::system("gnuplot --version > /dev/null 2>&1") == 0; }

struct gnuplotrun {
  int status = -1;
  std::string errors;
};

// Runs gnuplot on the script with a PNG terminal in front of it.
gnuplotrun rungnuplot(const std::string &dir, const std::string &script) {
  const std::string png = dir + "/out.png";
  const std::string err = dir + "/stderr.txt";
  const std::string cmd = "cd / && gnuplot -e \"set terminal png size 640,480; set output '" + png +
                          "'\" '" + script + "' 2> '" + err + "' > /dev/null";
  gnuplotrun r;
  const int s = std::system(cmd.c_str());
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  r.errors = readall(err);
  struct stat st {};
  if (stat(png.c_str(), &st) != 0 || st.st_size == 0)
    r.errors += "[no picture written]";
  return r;
}

struct consumercase {
  trendtype type;
  estimateset estimates;
  std::function<double(double)> model;
  std::vector<double> x;
};

} // namespace

TEST(GnuplotConsumer, EveryTrendTypeExportRunsInGnuplot) {
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  std::string why;
  auto plugin = loadpluginfile(std::string(ORVALLE_PLUGIN_DIR) + "/libcustomfit.so", &why);
  ASSERT_TRUE(plugin) << why;

  const auto xs = range(0.1, 0.1, 12);
  // A little deterministic scatter so that no fit is exact.
  auto wobble = [](std::function<double(double)> f) {
    return [f](double x) { return f(x) * (1 + 0.01 * std::sin(37 * x)); };
  };
  const consumercase cases[] = {
      {trendtype::linearorigin, kDefaultEstimates, [](double x) { return 2 * x; }, xs},
      {trendtype::linear, kDefaultEstimates, [](double x) { return 2 * x + 1; }, xs},
      {trendtype::quadratic, kDefaultEstimates, [](double x) { return x * x - x + 3; }, xs},
      {trendtype::cubic, kDefaultEstimates, [](double x) { return x * x * x + 2; }, xs},
      {trendtype::power, kDefaultEstimates, [](double x) { return 3 * x * x; }, xs},
      {trendtype::resonance, kDefaultEstimates,
       [](double x) { return 2 / ((x - 0.6) * (x - 0.6) + 0.5); }, xs},
      {trendtype::periodic, {1.9, 3.05, 1, 1, 1}, [](double x) { return 2 * std::cos(3 * x); }, xs},
      {trendtype::periodicdecay,
       {1.9, -0.45, 2.9, 0.25, 1},
       [](double x) { return 2 * std::exp(-0.5 * x) * std::cos(3 * x + 0.2); },
       xs},
      {trendtype::custom, kDefaultEstimates, [](double x) { return 5 * std::exp(-x / 2); }, xs},
  };
  const std::string dir = tempfolder();
  for (const auto &c : cases) {
    const std::string text = trendtext(c.type, &*plugin);
    SCOPED_TRACE(text);
    auto d = named(sampled(c.x, wobble(c.model), 0.05), "Dataset a");
    auto fit = makefit(c.type, &*plugin, c.estimates);
    fit->name = autofitname(d->name, text);
    fit->data = d.get();
    nullcanvas canvas;
    ASSERT_NO_THROW(fit->fitplot(canvas, canvas, 1000, true));
    gnuplotchart chart;
    chart.datasets = {d.get()};
    chart.fits = {{fit.get(), 0}};
    chart.title = text;
    ASSERT_TRUE(writegnuplotfiles(chart, dir + "/fit.gnu", &why)) << why;
    const auto r = rungnuplot(dir, dir + "/fit.gnu");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(GnuplotConsumer, AwkwardChartsRunInGnuplot) {
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  const std::string dir = tempfolder();
  // A folder name with a blank, a quote and a backquote.
  const std::string sub = dir + "/my \"runs\" `x`";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  auto a = named(makedata({1, 2, 3, 4}, {1.1, 2.0, 2.9, 4.2}, {0.1, 0.1, 0.1, 0.1}), "Dataset a");
  auto b = named(makedata({1, 2, 3, 4}, {2.1, 3.9, 6.1, 8.0}, {0.2, 0.2, 0.2, 0.2}), "Dataset b\\");
  polynom p(1);
  p.name = "ends in a backslash \\";
  p.data = b.get();
  nullcanvas canvas;
  p.fitplot(canvas, canvas, 1000, true);
  std::string why;

  // Without fits the deviations chart holds only its zero line, whose empty
  // y range gnuplot widens with a warning; nothing else may be reported.
  const std::string zeroline = "Warning: empty y range [0:0], adjusting to [-1:1]\n";
  struct {
    const char *what;
    gnuplotchart chart;
    std::string warnings;
  } charts[] = {
      {"nothing", {}, zeroline},
      {"datasets, no fits", {{a.get(), b.get()}, {}, "no fits", " ", " "}, zeroline},
      {"quotes",
       {{a.get(), b.get()}, {{&p, 1}}, "a \"quoted\", `touch " + dir + "/ran`", "x\\", "y"},
       ""},
  };
  for (const auto &c : charts) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writegnuplotfiles(c.chart, sub + "/plot.gnu", &why)) << why;
    const auto r = rungnuplot(dir, sub + "/plot.gnu");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, c.warnings);
  }
  struct stat st {};
  EXPECT_NE(stat((dir + "/ran").c_str(), &st), 0) << "a title ran a shell command";
  std::system(("rm -rf '" + dir + "'").c_str());
}

// A dataset with x errors is drawn with xyerrorbars from a fourth column;
// one without them beside it keeps its yerrorbars and three columns.
TEST(GnuplotConsumer, XErrorsAreDrawnWithXYErrorBars) {
  auto d = named(makedata({1, 2, 3, 4}, {2.1, 3.9, 6.2, 7.9}, {0.2, 0.2, 0.3, 0.3}), "Dataset a");
  d->xerr = std::make_shared<drow>(4);
  d->xerr->data = {0.1, 0.15, 0.1, 0.2};
  auto plain = named(makedata({1, 2, 3}, {1, 2, 3.1}, {0.1, 0.1, 0.1}), "Dataset b");
  polynom line(1);
  line.name = "Dataset a -- Linear (y=ax+b)";
  line.data = d.get();
  nullcanvas canvas;
  line.fitplot(canvas, canvas, 1000, true);
  gnuplotchart chart;
  chart.datasets = {d.get(), plain.get()};
  chart.fits = {{&line, 0}};
  chart.title = "x errors";
  const std::string data = gnuplotdatafile(chart.datasets);
  EXPECT_NE(data.find("1\t2.1\t0.2\t0.1\r\n"), std::string::npos) << data;
  EXPECT_NE(data.find("1\t1\t0.1\r\n"), std::string::npos) << data;
  const std::string script = gnuplotscript(chart, "/x.gdt");
  EXPECT_NE(script.find("index 0:0 using 1:2:4:3 ti \"\" with xyerrorbars linestyle 2"),
            std::string::npos);
  EXPECT_NE(script.find("index 1:1 using 1:2:3 ti \"\" with yerrorbars linestyle 2"),
            std::string::npos);
  EXPECT_NE(script.find("# x errors included (York)"), std::string::npos) << script;
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  const std::string dir = tempfolder();
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(chart, dir + "/fit.gnu", &why)) << why;
  const auto r = rungnuplot(dir, dir + "/fit.gnu");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors, "");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// Titles that gnuplot would read as enhanced text (spring_two_temps would
// show "two" as a subscript) are marked noenhanced; others stay as they
// were.
TEST(GnuplotExport, TitlesAreShownLiterally) {
  gnuplotchart chart;
  chart.title = "spring_two_temps";
  chart.xtitle = "m^2";
  chart.ytitle = "run1";
  const auto lines = crlflines(gnuplotscript(chart, "/x.gdt"));
  const auto at = [&](const std::string &head) {
    for (const std::string &l : lines)
      if (l.rfind(head, 0) == 0)
        return l;
    return std::string();
  };
  EXPECT_EQ(at("set title"), "set title \"spring_two_temps\" noenhanced ");
  EXPECT_EQ(at("set xlabel \"m"), "set xlabel \"m^2\" noenhanced ");
  EXPECT_EQ(at("set ylabel \"run1"), "set ylabel \"run1\" ");
}

// Log axes and the legend: "set logscale" for the main chart, the
// deviations' y axis linear again, and with the legend each item titled
// and coloured as on the chart. Without either, nothing of it appears.
TEST(GnuplotExport, LogAxesAndLegend) {
  auto d = named(makedata({1, 10, 100, 1000}, {2, 21, 198, 2010}, {0.2, 2, 20, 200}), "Dataset_a");
  polynom line(1);
  line.name = "Dataset a -- Linear (y=ax+b)";
  line.data = d.get();
  nullcanvas canvas;
  line.fitplot(canvas, canvas, 1000, true);
  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.fits = {{&line, 0}};
  chart.title = "decades";
  const std::string plain = gnuplotscript(chart, "/x.gdt");
  EXPECT_EQ(plain.find("logscale"), std::string::npos);
  EXPECT_EQ(plain.find("lc rgb"), std::string::npos);

  chart.logx = chart.logy = true;
  chart.legend = true;
  chart.datasetcolours = {0xff0000};
  chart.fitcolours = {0x008000};
  const std::string script = gnuplotscript(chart, "/x.gdt");
  const auto logx = script.find("set logscale x 10\r\n");
  const auto logy = script.find("set logscale y 10\r\n");
  const auto firstplot = script.find("\r\nplot ");
  const auto unlogy = script.find("unset logscale y\r\n");
  const auto devplot = script.find("plot g(x)");
  ASSERT_NE(logx, std::string::npos);
  ASSERT_NE(logy, std::string::npos);
  EXPECT_LT(logy, firstplot);
  EXPECT_LT(firstplot, unlogy);
  EXPECT_LT(unlogy, devplot);
  EXPECT_NE(script.find("using 1:2:3 ti \"Dataset_a\" noenhanced with yerrorbars linestyle 2 lc "
                        "rgb \"#ff0000\""),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("y0(x)  ti \"Dataset a -- Linear (y=ax+b)\" with lines linestyle 1  lc "
                        "rgb \"#008000\""),
            std::string::npos)
      << script;
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  const std::string dir = tempfolder();
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(chart, dir + "/log.gnu", &why)) << why;
  const auto r = rungnuplot(dir, dir + "/log.gnu");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors, "");
  // gnuplot's own drawing of the axes (its text terminal): the main chart's
  // y tick labels are the decades, equally far apart, and the deviations
  // chart below keeps a linear axis with negative ticks.
  const std::string text = dir + "/dumb.txt";
  const std::string cmd = "cd / && gnuplot -e \"set terminal dumb 79 40\" '" + dir +
                          "/log.gnu' > '" + text + "' 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::istringstream drawn(readall(text));
  std::vector<int> decaderows;
  bool negative = false;
  int row = 0;
  for (std::string line; std::getline(drawn, line); ++row) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos)
      continue;
    const auto end = line.find(' ', first);
    const std::string label = line.substr(first, end - first);
    if (label == "1" || label == "10" || label == "100" || label == "1000" || label == "10000")
      if (end != std::string::npos && line.find_first_of("|+", end) != std::string::npos &&
          row < 28)
        decaderows.push_back(row);
    negative = negative || (label.size() > 1 && label[0] == '-' && std::isdigit(label[1]));
  }
  ASSERT_GE(decaderows.size(), 4u) << readall(text);
  for (std::size_t k = 2; k < decaderows.size(); ++k)
    EXPECT_LE(std::abs((decaderows[k] - decaderows[k - 1]) - (decaderows[1] - decaderows[0])), 1)
        << readall(text);
  EXPECT_TRUE(negative) << readall(text);
  std::system(("rm -rf '" + dir + "'").c_str());
}

// With x errors the deviations are drawn with the effective errors the
// chart shows, sqrt(sy^2 + (f'(x) sx)^2): gnuplot's own value of the slope
// s0 and of a point's effective error agree with the fit's.
TEST(GnuplotConsumer, DeviationsCarryTheEffectiveErrors) {
  auto d = named(makedata({1, 2, 3, 4, 5}, {1.1, 3.9, 9.2, 15.8, 25.3}, {0.2, 0.3, 0.4, 0.5, 0.6}),
                 "Dataset a");
  d->xerr = std::make_shared<drow>(5);
  d->xerr->data = {0.05, 0.05, 0.1, 0.1, 0.1};
  polynom q(2);
  q.name = "quadratic";
  q.data = d.get();
  nullcanvas canvas;
  q.fitplot(canvas, canvas, 1000, true);
  ASSERT_TRUE(q.xweights);
  gnuplotchart chart;
  chart.datasets = {d.get()};
  chart.fits = {{&q, 0}};
  chart.title = "effective";
  const std::string script = gnuplotscript(chart, "/x.gdt");
  EXPECT_NE(script.find("using 1:($2-y0($1)):(sqrt($3**2+(s0($1)*$4)**2)) ti \"\""),
            std::string::npos)
      << script;
  if (!havegnuplot())
    GTEST_SKIP() << "gnuplot is not installed (scripts/install-deps installs gnuplot-nox)";
  const std::string dir = tempfolder();
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(chart, dir + "/xe.gnu", &why)) << why;
  const std::string probe = dir + "/probe.txt";
  const std::string cmd = "cd / && gnuplot -e \"set terminal dumb\" '" + dir +
                          "/xe.gnu' -e \"set print '" + probe +
                          "'; print sprintf('%.12g %.12g', s0(3), sqrt(0.4**2+(s0(3)*0.1)**2))\" "
                          "> /dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::istringstream got(readall(probe));
  double slope = 0, error = 0;
  got >> slope >> error;
  // y = a x^2 + b x + c: the slope at 3 is 6a + b.
  EXPECT_NEAR(slope / (6 * q.par[0] + q.par[1]), 1.0, 1e-6);
  EXPECT_NEAR(error / q.effectiveerror(2), 1.0, 1e-4);
  std::system(("rm -rf '" + dir + "'").c_str());
}
