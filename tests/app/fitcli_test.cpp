// orvalle-fit run as a program: its text against the engine's information
// text for the same fit, its exit statuses and messages, multi fits,
// polynomials, column files and the gnuplot files it writes. It covers
// app/orvalle_fit.cpp and the fitcli*.cpp beside it: options (fitcli.cpp),
// the run, output, report, --csv and --residuals; fitcli_memory.cpp's heap
// serves every run. fitcli_reference_test.py checks the report, CSV and
// residuals against numpy and scipy.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "datatext/conversion.h"
#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/gnuplotexport.h"
#include "engine/information.h"
#include "engine/nullcanvas.h"
#include "engine/report.h"
#include "engine/trendtypes.h"

using namespace orvalle;

namespace {

const std::string kFit = ORVALLE_FIT;
const std::string kData = ORVALLE_CLI_DATA;

std::string data(const std::string &file) { return kData + "/" + file; }

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string shellquoted(const std::string &s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string tempfolder() {
  char name[] = "/tmp/orvalle-fit-test-XXXXXX";
  const char *dir = mkdtemp(name);
  if (!dir)
    throw std::runtime_error("mkdtemp failed");
  return dir;
}

struct result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the command with the arguments; env is put in front ("NAME=value"),
// cwd is the folder it runs in.
result runfit(const std::vector<std::string> &args, const std::string &env = "",
              const std::string &cwd = "/", const std::string &program = kFit) {
  // One folder for the captured output of every run, removed at exit.
  static const struct scratch {
    std::string path = tempfolder();
    ~scratch() {
      std::string cmd = "rm -rf ";
      cmd += shellquoted(path);
      std::system(cmd.c_str());
    }
  } folder;
  const std::string &dir = folder.path;
  std::string cmd = "cd " + shellquoted(cwd) + " && env " + env + " " + shellquoted(program);
  for (const auto &a : args) {
    cmd += ' ';
    cmd += shellquoted(a);
  }
  cmd += " > " + dir + "/out 2> " + dir + "/err";
  const int s = std::system(cmd.c_str());
  result r;
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  r.out = readall(dir + "/out");
  r.err = readall(dir + "/err");
  return r;
}

std::string joined(const stringlist &lines) {
  std::string s;
  for (const auto &l : lines)
    s += l + "\n";
  return s;
}

// The dataset the plotter makes from the first columns or tag of a file.
std::unique_ptr<dataset> firstdataset(const std::string &file) {
  auto conv = ConvertToChart(readtextfile(file), file);
  if (!conv.ok())
    throw std::runtime_error(conv.error);
  auto &r = *conv.result;
  if (r.layout == textlayout::tagged)
    return std::move(r.datasets.front());
  auto d = std::make_unique<dataset>(true);
  auto col = [&](int c) {
    auto row = std::make_shared<drow>(r.grid.rowcount() - 1);
    for (int k = 1; k < r.grid.rowcount(); ++k)
      (*row)[k - 1] = r.grid.value(c, k);
    return row;
  };
  d->x = col(0);
  d->y = col(1);
  if (r.grid.colcount() > 2)
    d->yerr = col(2);
  return d;
}

// The information text of one fit made in this process.
std::string informationof(bfit &fit, dataset &d, const std::string &name) {
  fit.name = name;
  fit.data = &d;
  nullcanvas canvas;
  fit.fitplot(canvas, canvas, 1000, true);
  return joined(informationlines({&fit}));
}

} // namespace

// ------------------------------------------------------------ the text

TEST(FitCommand, LineFitTextIsTheInformationText) {
  const result r = runfit({data("line3.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto d = firstdataset(data("line3.txt"));
  polynom p(1);
  // The automatic dataset of a three-column file has the empty name, so the
  // fit is named by the item text alone.
  EXPECT_EQ(r.out, informationof(p, *d, "Linear (y=ax+b)"));
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Linear (y=ax+b)");
}

TEST(FitCommand, SolverAndModelChoicesMatchTheEngine) {
  struct {
    std::vector<std::string> args;
    std::function<std::unique_ptr<bfit>()> make;
    const char *name;
  } cases[] = {
      {{"-m", "linear-origin"}, [] { return std::make_unique<lineronlym>(); }, "Linear (y=mx)"},
      {{"-m", "quadratic", "--solver", "cramer"},
       [] { return std::make_unique<polynom>(2); },
       "Quadratic (y=ax^2+bx+c)"},
      {{"--model=power"}, [] { return std::make_unique<powersq>(1); }, "Power y=A*(x^2)^(B/2)"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto args = c.args;
    args.push_back(data("line3.txt"));
    const result r = runfit(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto d = firstdataset(data("line3.txt"));
    auto fit = c.make();
    EXPECT_EQ(r.out, informationof(*fit, *d, c.name));
  }
}

TEST(FitCommand, PolynomialOfDegreeFive) {
  const result r = runfit({"-m", "poly:5", data("poly5.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto d = firstdataset(data("poly5.txt"));
  polynom p(5);
  EXPECT_EQ(r.out, informationof(p, *d, "Polynomial of degree 5"));
  EXPECT_NE(r.out.find("Fit of the form y= SUM{i=0:N}( a{i}x^(N-i) ) \n"), std::string::npos);
  EXPECT_NE(r.out.find("\nf = "), std::string::npos);
  // Seven points are the fewest for degree five.
  const result few = runfit({"-m", "poly:6", data("poly3.txt")});
  EXPECT_EQ(few.status, 2);
  EXPECT_EQ(few.err, "You need at least 8 points in the dataset to fit Polynomial of degree 6\n");
}

// Degree 10 on NIST's Filip: the information the engine's own fit gives,
// every coefficient within a millionth of the certified value.
TEST(FitCommand, PolynomialOfDegreeTenOnFilip) {
  const std::string filip = kData + "/../filip/filip.txt";
  const result text = runfit({"-m", "poly:10", filip});
  ASSERT_EQ(text.status, 0) << text.err;
  auto d = firstdataset(filip);
  polynom p(10);
  EXPECT_EQ(text.out, informationof(p, *d, "Polynomial of degree 10"));
  EXPECT_NEAR(p.par[0] / -0.402962525080404E-04, 1.0, 1e-10);
  EXPECT_NEAR(p.par[10] / -1467.48961422980, 1.0, 1e-10);
}

TEST(FitCommand, FormulaModel) {
  const std::string model = "formula:A*(1-exp(-x/B))";
  const result r = runfit({"--model", model, "-e", "200,500", data("charge.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto d = firstdataset(data("charge.txt"));
  formulafit f("A*(1-exp(-x/B))");
  f.par[0] = 200;
  f.par[1] = 500;
  EXPECT_EQ(r.out, informationof(f, *d, "y=A*(1-exp(-x/B))"));
  EXPECT_NE(r.out.find("\nFit of the form y=A*(1-exp(-x/B)) with\nA = "), std::string::npos);

  // What the command says when the formula or its fit goes wrong.
  struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"-m", "formula:A*expp(-x/B)", data("charge.txt")},
       2,
       "orvalle-fit: --model formula:A*expp(-x/B): Unknown name 'expp' at position 3\n"
       "Try 'orvalle-fit --help' for more information.\n"},
      {{"-m", "formula:", data("charge.txt")},
       2,
       "orvalle-fit: --model formula:: The formula is empty: type one in x, e.g. A*exp(-x/B)\n"
       "Try 'orvalle-fit --help' for more information.\n"},
      {{"-e", "1,2,3", "-m", model, data("charge.txt")},
       2,
       "orvalle-fit: --estimates gives 3 values, but the formula has 2 parameters (A, B)\n"
       "Try 'orvalle-fit --help' for more information.\n"},
      {{"-m", "formula:A+B*x+C*x^2", data("poly3.txt")},
       2,
       "You need at least 4 points in the dataset to fit y=A+B*x+C*x^2\n"},
      {{"-m", "formula:A*x+B*x", data("charge.txt")},
       1,
       "The data do not determine the parameter B: other parameters change the curve in the "
       "same way\nCritical Failure Occurred In Fitted The Chosen Line\n"},
      {{"-m", "formula:A*log(x)", data("charge.txt")},
       1,
       "Fit failed to converge try improving estimates\n"
       "Critical Failure Occurred In Fitted The Chosen Line\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[1]);
    const result bad = runfit(c.args);
    EXPECT_EQ(bad.status, c.status);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, c.err);
  }
  // Nine estimates are taken for a formula of nine parameters.
  const result nine = runfit({"-m", "formula:A+B*x+C*x^2+D*x^3+E*x^4+F*x^5+G*x^6+H*x^7+I*x^8", "-e",
                              "1,2,3,4,5,6,7,8,9", data("charge.txt")});
  EXPECT_NE(nine.status, 2) << nine.err;
}

TEST(FitCommand, HelpPageFormulaExamplesAreWhatTheProgramComputes) {
  // The help book's two worked examples: their data are the test files,
  // and every line the program prints about the fit stands in the page.
  const std::string page = readall(kData + "/../../../docs/help/formulas.html");
  ASSERT_FALSE(page.empty());
  struct {
    std::vector<std::string> args;
    std::string file;
  } examples[] = {
      {{"-m", "formula:A*(1-exp(-x/B))", "-e", "200,500"}, "charge.txt"},
      {{"-m", "formula:k*x^n"}, "lamp.txt"},
  };
  for (const auto &ex : examples) {
    SCOPED_TRACE(ex.file);
    std::string datalines;
    std::istringstream file(readall(data(ex.file)));
    for (std::string line; std::getline(file, line);)
      if (line.rfind('#', 0) != 0)
        datalines += line + "\n";
    EXPECT_NE(page.find("<pre>\n" + datalines + "</pre>"), std::string::npos);
    auto args = ex.args;
    args.push_back(data(ex.file));
    const result r = runfit(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    std::string line;
    std::getline(out, line); // the fit's name
    for (int n = 0; std::getline(out, line) && line != " "; ++n)
      EXPECT_NE(page.find("\n" + line + "\n"), std::string::npos) << line;
  }
  // Started from 1 and 1 the first example fails as the page says.
  const result bad = runfit({"-m", "formula:A*(1-exp(-x/B))", data("charge.txt")});
  EXPECT_EQ(bad.status, 1);
  const std::string first = bad.err.substr(0, bad.err.find('\n'));
  EXPECT_EQ(first, "The data do not determine the parameter B: at B = 1 the curve does not change "
                   "with it");
  EXPECT_NE(page.find("<i>" + first + "</i>"), std::string::npos);
}

TEST(FitCommand, MultiFitSharesTheGradient) {
  const result r = runfit({"--multi", "same-gradient", data("tagged2.txt")});
  ASSERT_EQ(r.status, 0) << r.err;

  auto conv = ConvertToChart(readtextfile(data("tagged2.txt")), data("tagged2.txt"));
  ASSERT_TRUE(conv.ok());
  auto &sets = conv.result->datasets;
  Mlinearsamem mf;
  mf.name = "Dataset a -- Linear (y=ax+b)";
  mf.makelines(2);
  for (auto &d : sets)
    mf.datasets.add(d.get());
  for (int j = 0; j < 2; ++j) {
    mf.line(j)->data = sets[static_cast<std::size_t>(j)].get();
    mf.line(j)->name = multilinename(mf.name, sets[static_cast<std::size_t>(j)]->name);
  }
  auto lines = mf.takelines();
  nullcanvas canvas;
  mf.fit(canvas, canvas, true);
  EXPECT_EQ(r.out, joined(informationlines({lines[0].get(), lines[1].get()})));
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Dataset a -- Linear (y=ax+b)-Dataset a");
  EXPECT_NE(r.out.find("\nDataset a -- Linear (y=ax+b)-Dataset b\n"), std::string::npos);
  EXPECT_EQ(lines[0]->par[0], lines[1]->par[0]);
}

TEST(FitCommand, MultiFitSharesTheInterceptAndTakesAName) {
  const result r = runfit({"--multi", "same-intercept", "-n", "N", data("sameintercept.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "N-Dataset a");
  EXPECT_NE(r.out.find("\nN-Dataset b\n"), std::string::npos);
  // Both lines show the same intercept.
  const auto first = r.out.find("\nb = ");
  const auto second = r.out.find("\nb = ", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(r.out.substr(first, r.out.find('\n', first + 1) - first),
            r.out.substr(second, r.out.find('\n', second + 1) - second));
}

TEST(FitCommand, ColumnFileWithPercentErrors) {
  const result r = runfit({"--err", "percent:5", data("percent2.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto d = firstdataset(data("percent2.txt"));
  auto e = std::make_shared<drow>(d->y->n);
  for (int k = 0; k < e->n; ++k)
    (*e)[k] = (*d->y)[k] * 5 * 0.01;
  d->yerr = e;
  EXPECT_NEAR((*e)[0], 0.1, 1e-15);
  d->name = "DataSet A";
  polynom p(1);
  EXPECT_EQ(r.out, informationof(p, *d, "DataSet A -- Linear (y=ax+b)"));
}

TEST(FitCommand, ColumnChoicesAndAbsoluteErrors) {
  // x from A, y from D, every error 0.5.
  const result r = runfit({"--x", "A", "--y", "d", "--err", "absolute:0.5", data("fourcol.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto conv = ConvertToChart(readtextfile(data("fourcol.txt")), "");
  const auto &g = conv.result->grid;
  auto d = std::make_unique<dataset>(true);
  d->x = std::make_shared<drow>(5);
  d->y = std::make_shared<drow>(5);
  d->yerr = std::make_shared<drow>(5);
  for (int k = 0; k < 5; ++k) {
    (*d->x)[k] = g.value(0, k + 1);
    (*d->y)[k] = g.value(3, k + 1);
    (*d->yerr)[k] = 0.5;
  }
  d->name = "DataSet A";
  polynom p(1);
  EXPECT_EQ(r.out, informationof(p, *d, "DataSet A -- Linear (y=ax+b)"));
}

TEST(FitCommand, TaggedDatasetByNameOrTag) {
  const result byname = runfit({"-d", "Dataset b", data("tagged2.txt")});
  const result bytag = runfit({"--dataset=b", data("tagged2.txt")});
  ASSERT_EQ(byname.status, 0) << byname.err;
  EXPECT_EQ(byname.out, bytag.out);
  EXPECT_EQ(byname.out.substr(0, byname.out.find('\n')), "Dataset b -- Linear (y=ax+b)");
}

TEST(FitCommand, PeriodicFromEstimates) {
  const result r = runfit({"-m", "periodic", "-e", "1.9,3.05", data("cos.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nA = 2 +/- "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nB = 3 +/- "), std::string::npos) << r.out;
}

TEST(FitCommand, PluginModelFromTheProgramsFolderOnly) {
  const std::string plugin = std::string(ORVALLE_PLUGIN_DIR) + "/libcustomfit.so";
  std::string why;
  auto lib = loadpluginfile(plugin, &why);
  ASSERT_TRUE(lib) << why;
  const std::string name = lib->name();

  // Found beside the program, and through the environment.
  const result beside = runfit({"-m", "custom", data("decay.txt")});
  ASSERT_EQ(beside.status, 0) << beside.err;
  EXPECT_EQ(beside.out.substr(0, beside.out.find('\n')), name);
  const result byenv = runfit({"-m", "custom", data("decay.txt")}, "ORVALLE_CUSTOMFIT=" + plugin);
  EXPECT_EQ(byenv.out, beside.out);

  // A copy of the program elsewhere does not look in the current folder,
  // even when that folder holds the library.
  const std::string dir = tempfolder();
  ASSERT_EQ(std::system(("cp " + shellquoted(kFit) + " " + shellquoted(dir)).c_str()), 0);
  const result elsewhere =
      runfit({"-m", "custom", data("decay.txt")}, "", ORVALLE_PLUGIN_DIR, dir + "/orvalle-fit");
  EXPECT_EQ(elsewhere.status, 2);
  EXPECT_EQ(elsewhere.err.rfind("No plug-in model: ", 0), 0u) << elsewhere.err;
  EXPECT_EQ(elsewhere.out, "");
  const result relative =
      runfit({"-m", "custom", data("decay.txt")}, "ORVALLE_CUSTOMFIT=libcustomfit.so");
  EXPECT_EQ(relative.status, 2);
  std::system(("rm -rf " + shellquoted(dir)).c_str());

  // A plug-in that asks for a polynomial gets one.
  const result poly =
      runfit({"-m", "custom", data("poly5.txt")},
             "ORVALLE_CUSTOMFIT=" + std::string(ORVALLE_PLUGIN_DIR) + "/libcustomfit_poly4.so");
  ASSERT_EQ(poly.status, 0) << poly.err;
  EXPECT_NE(poly.out.find("\ne = "), std::string::npos);
}

TEST(FitCommand, FourColumnFileSaysWhichColumnsItTook) {
  const std::string note = "orvalle-fit: the file has 4 columns; fitting Col A as x, Col B as y "
                           "and ";
  const std::string tail = " (choose them with --x, --y and --err)\n";
  const result named = runfit({"--x", "A", "--y", "B", "--err", "C", data("fourcol.txt")});
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.err, "") << "every column named: nothing to say";
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{data("fourcol.txt")}, note + "Col C as the errors of y" + tail},
      {{"--x", "A", data("fourcol.txt")}, note + "Col C as the errors of y" + tail},
      {{"--err", "percent:5", data("fourcol.txt")},
       note + "5 percent of y as the errors of y" + tail},
      {{"--err", "absolute:0.25", data("fourcol.txt")},
       note + "0.25 as the error of every y" + tail},
      {{data("line3.txt")}, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.front());
    const result r = runfit(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.err);
  }
  // The note goes to standard error only: the report is the same.
  EXPECT_EQ(runfit({data("fourcol.txt")}).out, named.out);
}

// ------------------------------------------------------------ failures

TEST(FitCommand, ExitStatusesAndMessages) {
  struct {
    std::vector<std::string> args;
    int status;
    std::string firstline; // of stderr, exactly
    std::string secondline = "";
  } cases[] = {
      {{}, 2, "orvalle-fit: no data file given", "Try 'orvalle-fit --help' for more information."},
      {{"-m", "spline", data("line3.txt")},
       2,
       "orvalle-fit: unknown model \"spline\" (choose "
       "linear-origin, linear, quadratic, cubic, poly:N with N from 1 to 10, power, resonance, "
       "periodic, periodic-decay, custom or formula:TEXT)"},
      {{"-m", "poly:0", data("line3.txt")}, 2, ""},
      {{"-m", "poly:11", data("line3.txt")}, 2, ""},
      {{"-m", "poly:010", data("line3.txt")}, 2, ""},
      {{"--solver", "lu", data("line3.txt")},
       2,
       "orvalle-fit: unknown solver \"lu\" (choose gauss or cramer)"},
      {{"--bogus", data("line3.txt")}, 2, "orvalle-fit: unknown option --bogus"},
      {{"--gnuplot", "/tmp/x.gnu", data("line3.txt"), data("poly3.txt")},
       2,
       "orvalle-fit: --gnuplot writes the script of one fit: give one data file (got 2)"},
      {{"--json", "--csv", data("line3.txt")}, 2, "orvalle-fit: choose one of --json and --csv"},
      {{"--residuals", "", data("line3.txt")},
       2,
       "orvalle-fit: --residuals needs a file name, or - for standard output"},
      {{"--csv=yes", data("line3.txt")}, 2, "orvalle-fit: option --csv takes no value"},
      {{"--residuals", "/nonexistent-folder/r.txt", data("line3.txt")},
       1,
       "Cannot write /nonexistent-folder/r.txt: No such file or directory"},
      {{"-e", "1,x", data("line3.txt")},
       2,
       "orvalle-fit: Unable To Convert Estimates To Numbers "
       "(write up to five numbers separated by commas, e.g. -e 2,3.1)"},
      {{"-e", "1,2,3,4,5,6", data("line3.txt")}, 2, ""},
      {{data("missing.txt")},
       2,
       "Cannot read " + data("missing.txt") + ": No such file or directory"},
      {{data("badnumber.txt")}, 2, "Unable to Convert to Chart error on row 2, column 2"},
      {{data("nodata.txt")}, 2, "No data found to create chart " + data("nodata.txt")},
      {{data("zeroerror.txt")}, 2, "Y error points can not contain ZERO or MINIUS values"},
      {{"--err", "percent:5", data("negative.txt")},
       2,
       "Y error points can not contain ZERO or MINIUS values"},
      {{"--err", "absolute:0", data("percent2.txt")},
       2,
       "Y error points can not contain ZERO or MINIUS values"},
      {{"--err", "percent:five", data("percent2.txt")},
       2,
       "orvalle-fit: --err percent:five: \"five\" "
       "is not a number (write e.g. percent:5)"},
      {{data("percent2.txt")},
       2,
       "The file has two columns and so no errors of y: choose them "
       "with --err percent:P or --err absolute:V"},
      {{"--y", "E", data("fourcol.txt")},
       2,
       "--y: the file has no Col E (its columns are Col A to Col D)"},
      {{data("ragged.txt")},
       2,
       "'' is not a valid floating point value (Col C, row 2 is empty: "
       "every line needs as many numbers as the longest)"},
      {{data("onecolumn.txt")},
       2,
       "The file has only one column: a dataset needs an x column and a y column"},
      {{"--x", "A", data("tagged2.txt")},
       2,
       "--x, --y and --err are for column files; this file has the tagged layout (x, y, error "
       "and a tag on every line)"},
      {{"-d", "c", data("tagged2.txt")},
       2,
       "There is no dataset \"c\" in the file; it holds Dataset a, Dataset b"},
      {{"-d", "a", data("line3.txt")},
       2,
       "--dataset is for tagged files; this file has the column layout (choose its columns with "
       "--x, --y and --err)"},
      {{"--multi", "same-gradient", data("line3.txt")},
       2,
       "--multi needs a tagged file with two or more datasets; this file has the column layout"},
      {{"--multi", "same-gradient", data("tagged1.txt")},
       2,
       "A multi fit needs at least two datasets; the file holds one"},
      {{"--multi", "same-gradient", "-m", "quadratic", data("tagged2.txt")}, 2, ""},
      {{"-m", "quadratic", data("poly3.txt")},
       2,
       "You need at least 4 points in the dataset to fit Quadratic (y=ax^2+bx+c)"},
      {{"-m", "periodic", data("cos.txt")},
       1,
       "Fit failed to converge try improving estimates",
       "Critical Failure Occurred In Fitted The Chosen Line"},
      {{"-m", "periodic", "-e", "1,0", data("cos.txt")},
       1,
       "Fit failed to converge try improving estimates",
       "Critical Failure Occurred In Fitted The Chosen Line"},
      {{"-m", "power", data("zerox.txt")},
       1,
       "This fit routine can not have 0 value in the data for x or y",
       "Critical Failure Occurred In Fitted The Chosen Line"},
      // The plug-in's own message comes first, through its log link.
      {{"-m", "custom", data("negativey.txt")},
       1,
       "Exponential decay fit: the data need at least two points with positive y at different x "
       "and a slope",
       "Critical Failure Occurred In Fitted The Chosen Line"},
      // A chi-square that overflows is a failed fit, with the engine's reason.
      {{data("overflow.txt")},
       1,
       "The fit gave a chi-square that is not a finite number",
       "Critical Failure Occurred In Fitted The Chosen Line"},
      {{"--gnuplot", "/tmp/x.gdt", data("line3.txt")},
       2,
       "orvalle-fit: --gnuplot /tmp/x.gdt: the script may not end in .gdt, which names its data "
       "file"},
      {{"--gnuplot", "/nonexistent-folder/x.gnu", data("line3.txt")},
       1,
       "Could not write /nonexistent-folder/x.gdt: No such file or directory"},
  };
  for (const auto &c : cases) {
    std::string trace;
    for (const auto &a : c.args)
      trace += a + " ";
    SCOPED_TRACE(trace);
    const result r = runfit(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "") << "a failed run prints no result";
    ASSERT_FALSE(r.err.empty());
    const std::string first = r.err.substr(0, r.err.find('\n'));
    if (!c.firstline.empty())
      EXPECT_EQ(first, c.firstline);
    else
      EXPECT_EQ(first.rfind("orvalle-fit: ", 0), 0u) << first;
    if (!c.secondline.empty()) {
      const auto nl = r.err.find('\n');
      EXPECT_EQ(r.err.substr(nl + 1), c.secondline + "\n");
    }
  }
}

TEST(FitCommand, HelpAndVersion) {
  const result help = runfit({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: orvalle-fit [options] FILE...\n", 0), 0u);
  for (const char *word : {"--model", "poly:N", "--dataset", "--err", "percent:P", "absolute:V",
                           "--estimates", "--solver", "--multi", "--json", "--gnuplot", "--csv",
                           "--covariance", "--scale-errors", "--residuals", "p-value"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  const result version = runfit({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("orvalle-fit (Orvalle) ", 0), 0u);
}

// As GNU tools do: a long option by any beginning that names it alone,
// a short option's value straight after it. Each way gives what the full
// spelling gives; a beginning of several options is refused with them.
TEST(FitCommand, AbbreviatedAndAttachedOptionsMeanTheFullOnes) {
  struct spelling {
    std::vector<std::string> shortened, full;
  };
  const std::string cos = data("cos.txt");
  const spelling cases[] = {
      {{"--mod", "quadratic", data("poly5.txt")}, {"--model", "quadratic", data("poly5.txt")}},
      {{"--mo=cubic", "--js", data("poly5.txt")}, {"--model=cubic", "--json", data("poly5.txt")}},
      {{"-mquadratic", data("poly5.txt")}, {"-m", "quadratic", data("poly5.txt")}},
      {{"-mperiodic", "-e2,3", cos}, {"-m", "periodic", "-e", "2,3", cos}},
      {{"-ntwo", "-db", data("tagged2.txt")}, {"-n", "two", "-d", "b", data("tagged2.txt")}},
      {{"--sc", "--cov", data("line3.txt")}, {"--scale-errors", "--covariance", data("line3.txt")}},
      {{"--band-l", "1sigma", "--band", "-", data("line3.txt")},
       {"--band-level", "1sigma", "--band", "-", data("line3.txt")}},
      {{"--rep", "latex", data("line3.txt")}, {"--report", "latex", data("line3.txt")}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shortened.front());
    const result a = runfit(c.shortened), b = runfit(c.full);
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
  }
  // --s could be --scale-errors or --solver, --ban --band or --band-level.
  for (const std::string word : {"--s", "--ban", "--e"}) {
    const result r = runfit({word, "x", data("line3.txt")});
    EXPECT_EQ(r.status, 2) << word;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("option " + word + " is ambiguous: it begins --"), std::string::npos)
        << r.err;
  }
  // An exact name is never ambiguous, though longer ones begin with it.
  EXPECT_EQ(runfit({"--x", "A", "--band", "-", data("line3.txt")}).status, 0);
  // Every argument after -- is a file, however it looks.
  const result dashes = runfit({"--", "--json"});
  EXPECT_EQ(dashes.status, 2);
  EXPECT_NE(dashes.err.find("Cannot read --json"), std::string::npos) << dashes.err;
}

// The models the help lists and the unknown-model message names are the
// trend types' batch names, poly:N and formula:TEXT; each one is taken.
TEST(FitCommand, EveryTrendTypeIsAModelByItsName) {
  const result help = runfit({"--help"});
  const result unknown = runfit({"-m", "nothing", data("line3.txt")});
  EXPECT_EQ(unknown.status, 2);
  for (const trendrow &r : trendrows()) {
    const std::string name = r.batchname;
    SCOPED_TRACE(name);
    const std::string shown = r.group == trendgroup::formula ? name + ":TEXT" : name;
    EXPECT_NE(help.out.find("\n                          " + shown + " "), std::string::npos);
    EXPECT_NE(unknown.err.find(" " + shown), std::string::npos);
    if (r.group == trendgroup::plugin || r.group == trendgroup::formula)
      continue;
    // One point too few: the message names the row's caption and count.
    const std::string file = tempfolder() + "/few.txt";
    std::ofstream(file) << std::string("1 2 0.1\n2 3 0.1\n3 5 0.1\n4 9 0.1\n5 11 0.1\n")
                               .substr(0, static_cast<std::size_t>(r.fewest - 1) * 8);
    const result few = runfit({"-m", name, file});
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
    EXPECT_EQ(few.status, 2);
    EXPECT_NE(few.err.find("You need at least " + std::to_string(r.fewest) +
                           " points in the dataset to fit " + r.caption),
              std::string::npos)
        << few.err;
  }
  EXPECT_NE(unknown.err.find("poly:N with N from 1 to 10"), std::string::npos);
  // Names shorter than "poly:" are unknown models too, not a failure inside.
  for (const std::string name : {"abc", "", "poly", "poly:", "poly:0", "poly:11", "poly:1x"}) {
    const result r = runfit({"-m", name, data("line3.txt")});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err.rfind("orvalle-fit: unknown model \"" + name + "\" (choose linear-origin, ", 0),
              0u)
        << r.err;
  }
}

// ------------------------------------------------------------ gnuplot

TEST(FitCommand, GnuplotFilesAsThePlotterExportsThem) {
  const std::string dir = tempfolder();
  // A relative name, from the folder the command runs in.
  const result r =
      runfit({"--multi", "same-gradient", "--gnuplot", "lines", data("tagged2.txt")}, "", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string script = readall(dir + "/lines.gnu");
  const std::string datafile = readall(dir + "/lines.gdt");
  ASSERT_FALSE(script.empty());

  auto conv = ConvertToChart(readtextfile(data("tagged2.txt")), "");
  std::vector<const dataset *> sets;
  for (const auto &d : conv.result->datasets)
    sets.push_back(d.get());
  EXPECT_EQ(datafile, gnuplotdatafile(sets));

  // The opening comment is the printed text; the plot items name the data
  // file by its full path, one deviation item per line of the multi fit.
  std::string comment;
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);)
    comment += "# " + line + "\r\n";
  EXPECT_EQ(script.substr(0, comment.size()), comment);
  EXPECT_NE(script.find("set title \"tagged2\" \r\n"), std::string::npos);
  const std::string P = "\"" + dir + "/lines.gdt\"";
  EXPECT_NE(script.find(P + " index 1:1 using 1:($2-y1($1)):3"), std::string::npos);
  EXPECT_NE(script.find(P + " index 0:0 using 1:($2-y0($1)):3"), std::string::npos);

  if (std::system("gnuplot --version > /dev/null 2>&1") == 0) {
    const std::string cmd = "cd / && gnuplot -e \"set terminal png; set output '" + dir +
                            "/p.png'\" " + shellquoted(dir + "/lines.gnu") + " 2> " + dir +
                            "/gp.err";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(readall(dir + "/gp.err"), "");
  }
  std::system(("rm -rf " + shellquoted(dir)).c_str());
}

// ------------------------------------------------------------ x errors

TEST(FitCommand, XErrorsFromAColumnGiveYorksLine) {
  const result r = runfit({"--xerr", "D", data("pearsonyork.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto d = firstdataset(data("pearsonyork.txt"));
  auto conv = ConvertToChart(readtextfile(data("pearsonyork.txt")), "");
  const auto &g = conv.result->grid;
  d->xerr = std::make_shared<drow>(10);
  for (int k = 0; k < 10; ++k)
    (*d->xerr)[k] = g.value(3, k + 1);
  d->name = "DataSet A";
  polynom p(1);
  EXPECT_EQ(r.out, informationof(p, *d, "DataSet A -- Linear (y=ax+b)"));
  EXPECT_NE(r.out.find("x errors included (York)\n"), std::string::npos) << r.out;
  // -0.48053 shown to its uncertainty's digits, rounded down.
  EXPECT_NE(r.out.find("a = -0.4806 +/- 0.0579\n"), std::string::npos) << r.out;

  const result j = runfit({"--json", "--xerr", "D", data("pearsonyork.txt")});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_NE(j.out.find("\"x errors included (York)\""), std::string::npos) << j.out;
}

TEST(FitCommand, XErrorsByPercentOrValueAndTheirRefusals) {
  const result q = runfit({"-m", "quadratic", "--xerr", "absolute:0.05", data("fourcol.txt")});
  ASSERT_EQ(q.status, 0) << q.err;
  EXPECT_NE(q.out.find("x errors included (effective variance)\n"), std::string::npos) << q.out;
  const result p = runfit({"--xerr", "percent:2", data("fourcol.txt")});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_NE(p.out.find("x errors included (York)\n"), std::string::npos) << p.out;
  // Without --xerr nothing changes.
  const result none = runfit({data("fourcol.txt")});
  EXPECT_EQ(none.out.find("x errors"), std::string::npos);

  struct {
    std::vector<std::string> args;
    std::string firstline;
  } cases[] = {
      {{"--xerr", "absolute:0", data("fourcol.txt")},
       "X error points can not contain ZERO or NEGATIVE values"},
      {{"--xerr", "percent:-3", data("fourcol.txt")},
       "X error points can not contain ZERO or NEGATIVE values"},
      {{"--err", "absolute:1", "--xerr", "B", data("negative.txt")},
       "X error points can not contain ZERO or NEGATIVE values"},
      {{"--xerr", "percent:few", data("fourcol.txt")},
       "orvalle-fit: --xerr percent:few: \"few\" is not a number (write e.g. percent:5)"},
      {{"--xerr", "Z", data("fourcol.txt")}, ""},
      {{"--xerr", "absolute:0.1", data("tagged1.txt")},
       "--xerr is for column files; this file has the tagged layout (x, y, error and a tag on "
       "every line)"},
  };
  for (const auto &c : cases) {
    const result r = runfit(c.args);
    EXPECT_EQ(r.status, 2) << c.args.front() << " " << c.args[1];
    // (A file of more than three columns is first noted on its own line.)
    if (!c.firstline.empty()) {
      EXPECT_NE(r.err.find(c.firstline + "\n"), std::string::npos) << r.err;
    }
  }
}

// The residuals of a fit with x errors are measured in the effective
// errors: their normalised squares add up to the chi-square.
TEST(FitCommand, XErrorResidualsUseTheEffectiveErrors) {
  const result r = runfit({"--xerr", "D", "--residuals", "-", data("pearsonyork.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out.substr(r.out.find("# x\t")));
  std::string line;
  std::getline(in, line);
  double sum = 0;
  int rows = 0;
  while (std::getline(in, line) && !line.empty() && line[0] != '#' && rows < 10) {
    std::istringstream fields(line);
    double v[6];
    for (double &f : v)
      fields >> f;
    if (!fields)
      break;
    sum += v[5] * v[5];
    ++rows;
  }
  ASSERT_EQ(rows, 10) << r.out;
  // 11.8663..., Pearson-York's weighted sum of squared distances.
  EXPECT_NEAR(sum, 11.8663532, 1e-6) << r.out;
}

// ------------------------------------------------------------ large files

// Without residuals or gnuplot files the polynomial fits make their weights
// in the storage of the errors; with --residuals the errors stay for the
// residual table and the weights are made beside them. Both give the very
// same report, to the last of JSON's 17 digits.
TEST(FitCommand, WeightsInTheErrorsPlaceChangeNoDigit) {
  const std::string dir = tempfolder();
  for (const char *model : {"linear-origin", "linear", "quadratic", "cubic", "poly:5"}) {
    for (const char *file : {"poly5.txt", "charge.txt", "tagged2.txt"}) {
      const result inplace = runfit({"--json", "-m", model, data(file)});
      const result beside =
          runfit({"--json", "-m", model, "--residuals", dir + "/r.txt", data(file)});
      ASSERT_EQ(inplace.status, beside.status) << model << " " << file;
      EXPECT_EQ(inplace.out, beside.out) << model << " " << file;
      EXPECT_EQ(inplace.err, beside.err) << model << " " << file;
    }
  }
  std::filesystem::remove_all(dir);
}

// A file of more than 8 MiB has its columns' pages readied on a second
// processor while it is read: its fit is the closed-form weighted line of
// the numbers its text says, worked out here in long double.
TEST(FitCommand, ALargeFileFitsAsItsNumbersSay) {
  const std::string dir = tempfolder();
  const std::string path = dir + "/large.txt";
  std::vector<long double> x, y, w;
  {
    std::ofstream out(path, std::ios::binary);
    std::uint64_t state = 20261210;
    char line[64];
    for (int i = 0; i < 450000; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const double noise = static_cast<double>(state >> 11) * 0x1p-53 - 0.5;
      const double e = 0.4 + 0.2 * static_cast<double>((state >> 20) % 1000) / 1000.0;
      const int n = std::snprintf(line, sizeof line, "%.3f %.4f %.3f\n", i * 0.001,
                                  2.5 * i * 0.001 + 1.25 + noise * e, e);
      out.write(line, n);
      // The numbers as the text says them, each correctly rounded.
      char *at = line;
      x.push_back(std::strtod(at, &at));
      y.push_back(std::strtod(at, &at));
      const long double err = std::strtod(at, &at);
      w.push_back(1.0L / (err * err));
    }
  }
  ASSERT_GE(std::filesystem::file_size(path), std::uintmax_t(8) << 20);

  long double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    s += w[i];
    sx += w[i] * x[i];
    sy += w[i] * y[i];
    sxx += w[i] * x[i] * x[i];
    sxy += w[i] * x[i] * y[i];
  }
  const long double det = s * sxx - sx * sx;
  const long double a = (s * sxy - sx * sy) / det;
  const long double b = (sxx * sy - sx * sxy) / det;
  long double chisq = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long double r = y[i] - a * x[i] - b;
    chisq += w[i] * r * r;
  }

  const result r = runfit({"--json", path});
  ASSERT_EQ(r.status, 0) << r.err;
  // The numbers after each "key": in the order they come.
  auto numbers = [&](const std::string &key) {
    std::vector<double> v;
    const std::string mark = "\"" + key + "\": ";
    for (auto at = r.out.find(mark); at != std::string::npos; at = r.out.find(mark, at + 1))
      v.push_back(std::strtod(r.out.c_str() + at + mark.size(), nullptr));
    return v;
  };
  const std::vector<double> values = numbers("value");
  const std::vector<double> errors = numbers("uncertainty");
  ASSERT_EQ(values.size(), 2u) << r.out;
  ASSERT_EQ(errors.size(), 2u) << r.out;
  const auto near = [](double got, long double want, double digits) {
    return std::fabs(got - static_cast<double>(want)) <=
           std::pow(10.0, -digits) * std::fabs(static_cast<double>(want));
  };
  EXPECT_TRUE(near(values[0], a, 12)) << values[0] << " against " << static_cast<double>(a);
  EXPECT_TRUE(near(values[1], b, 12)) << values[1] << " against " << static_cast<double>(b);
  EXPECT_TRUE(near(errors[0], std::sqrt(s / det), 9));
  EXPECT_TRUE(near(errors[1], std::sqrt(sxx / det), 9));
  ASSERT_EQ(numbers("chisq").size(), 1u);
  EXPECT_TRUE(near(numbers("chisq")[0], chisq, 9))
      << numbers("chisq")[0] << " against " << static_cast<double>(chisq);
  EXPECT_EQ(numbers("dof"), std::vector<double>{449998});
  std::filesystem::remove_all(dir);
}

// ------------------------------------------------------------ the report

// --report prints the fit's parameters rounded to their uncertainties,
// as the engine rounds them for the same fit made here; --band writes the
// band x, fitted, lower, upper, whose half-width is 1.96 sigma of the
// closed form of a weighted straight line.
TEST(FitCommand, ReportAndBand) {
  const std::string file = data("line3.txt");
  auto d = firstdataset(file);
  d->makeweights();
  polynom f(1);
  f.name = "Linear (y=ax+b)"; // the one dataset of a three-column file has no name
  f.data = d.get();
  nullcanvas canvas;
  f.fitplot(canvas, canvas, 1000, true);
  for (const auto &[format, kind] :
       {std::pair{"text", reportformat::text}, std::pair{"markdown", reportformat::markdown},
        std::pair{"latex", reportformat::latex}}) {
    SCOPED_TRACE(format);
    const result r = runfit({"--report", format, file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, resultstext(f, kind));
  }

  const std::string dir = tempfolder();
  const result r = runfit({"--band", dir + "/band.txt", "--json", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"band\": {\"level\": \"95 %\""), std::string::npos) << r.out;
  std::istringstream band(readall(dir + "/band.txt"));
  long double S = 0, Sx = 0, Sxx = 0;
  for (int i = 0; i < d->x->n; ++i) {
    const long double w = (*d->w)[i], x = (*d->x)[i];
    S += w, Sx += w * x, Sxx += w * x * x;
  }
  const long double D = S * Sxx - Sx * Sx;
  int rows = 0;
  for (std::string line; std::getline(band, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream row(line);
    double x, y, lo, hi;
    row >> x >> y >> lo >> hi;
    const double sigma = std::sqrt(static_cast<double>((S * x * x - 2 * Sx * x + Sxx) / D));
    EXPECT_NEAR((hi - y) / (1.959963984540054 * sigma), 1.0, 1e-9) << line;
    EXPECT_NEAR((y - lo) / (1.959963984540054 * sigma), 1.0, 1e-9) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 201);
  const result one = runfit({"--band", "-", "--band-level", "1sigma", file});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find("# band: 1 sigma (68.3 %)"), std::string::npos) << one.out;
  EXPECT_EQ(one.out.find("ChiSqu"), std::string::npos); // the band in place of the report

  // Refusals: unknown words, and --report with --json.
  EXPECT_EQ(runfit({"--report", "html", file}).status, 2);
  EXPECT_EQ(runfit({"--band-level", "2sigma", "--band", "-", file}).status, 2);
  EXPECT_EQ(runfit({"--report", "text", "--json", file}).status, 2);
  std::system(("rm -rf " + shellquoted(dir)).c_str());
}
