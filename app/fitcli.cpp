// Command-line options of orvalle-fit and its help text.
#include "app/fitcli.h"

#include <algorithm>
#include <cctype>

#include "datatext/conversion.h"
#include "engine/formula.h"

namespace orvalle::cli {

const char *helptext() {
  return R"HELP(Usage: orvalle-fit [options] FILE...

Fits a model curve to the data in FILE by weighted least squares and prints
the result as Orvalle's plotter describes it: the fit's name, its chi-square,
its degrees of freedom, a warning when the chi-square is implausible, and the
fitted parameters with their uncertainties. Given several files, it fits each
of them with the same options, one after the other.

FILE is a data text as Orvalle reads it (a regular file of at most 4 GiB,
UTF-8 with or without a byte-order mark, or Latin-1):
  - column layout: every line holds numbers separated by blanks or tabs
    (x, y and the error of y when there are three columns);
  - tagged layout: every line holds x, y, the error of y and a tag letter
    naming the dataset the point belongs to (a, b, ...).
Lines starting with # are comments.
FILE may also be a table from another program: values separated by commas,
semicolons or tabs (CSV, TSV) as spreadsheets, data loggers and phyphox
export them, with quoted fields, header lines of names and units, decimal
commas (in semicolon- and tab-separated tables), UTF-8 or UTF-16. Such a
table is read as a column file; its header names the columns for --x, --y,
--err and --xerr. A line of numbers with a missing, empty or unreadable
field stops the table with the line and the column. FILE - reads standard
input (named <stdin> in the report).

Options:
  -m, --model NAME      the model to fit (default: linear):
                          linear-origin   y = m x
                          linear          y = a x + b
                          quadratic       y = a x^2 + b x + c
                          cubic           y = a x^3 + b x^2 + c x + d
                          poly:N          polynomial of degree N (1 to 10)
                          power           y = A (x^2)^(B/2); "B = " is B, the
                                          power of |x|; a straight line
                                          fitted through log10 y against
                                          log10 x^2 (linearised)
                          resonance       y = A / ((B - x)^2 + C); a parabola
                                          fitted through 1/y (linearised)
                          periodic        y = A cos(B x)        (needs -e A,B)
                          periodic-decay  y = A exp(B x) cos(C x + D)
                                                                (needs -e A,B,C,D)
                                          both periodic models give the
                                          uncertainties H^-1 (J^T W J) H^-1
                                          (H: the derivative of the gradient
                                          of the chi-square), not the usual
                                          (J^T W J)^-1 that a formula gives
                          custom          the plug-in model (libcustomfit.so)
                          formula:TEXT    a formula in x typed by you, e.g.
                                          'formula:A*(1-exp(-x/B))' with
                                          -e giving A, B, ... in the order
                                          the names first appear
  -d, --dataset NAME    tagged file: the dataset to fit, by name ("Dataset a")
                        or by its tag ("a") (default: the first)
      --x COL           column file: the x column, a letter (default: A;
                        after Z come AA, AB, ...) or a table's header name,
                        e.g. --x "Time (s)" or --x time
      --y COL           column file: the y column (default: B)
      --err SPEC        column file: the errors of y (default: C), one of
                          a column letter or header name, e.g. C
                          percent:P   P percent of each y value
                          absolute:V  the same error V for every point
      --xerr SPEC       column file: the errors of x (default: none), a
                        column letter or header name, percent:P (of each x
                        value) or absolute:V; straight lines are then
                        fitted by York's method, other models by effective
                        variance
  -e, --estimates LIST  starting values A,B,C,D,E for the periodic and
                        plug-in models, e.g. -e 2,3.1 (default 1 for each);
                        for a formula one per parameter, up to nine
      --solver NAME     gauss (Gaussian elimination, default) or cramer
      --multi KIND      tagged file: straight lines through all its datasets
                        that share one parameter: same-intercept or
                        same-gradient
  -n, --name NAME       the fit's name (default: made as the plotter makes it,
                        e.g. "Dataset a -- Linear (y=ax+b)")
      --json            print JSON instead of the text: per fit also the file,
                        the covariance and correlation matrices of the
                        parameters, the reduced chi-square and the p-value
      --csv             print one CSV row per fit (RFC 4180) under a header
                        row: file, dataset, model, each parameter and its
                        uncertainty, chi-square, degrees of freedom, reduced
                        chi-square, p-value, verdict, verdict word, status
                        (fitted, fit failed, not read) and reason
      --covariance      print the covariance and correlation matrices of the
                        parameters after each fit's description
      --scale-errors    multiply the uncertainties by sqrt(chi-square / degrees
                        of freedom) and the covariance by chi-square / degrees
                        of freedom (a multi fit takes its joint chi-square), as
                        gnuplot and curve_fit(absolute_sigma=False) report
                        them; the output says so. Default: unscaled, from the
                        errors of y alone
      --residuals FILE  write x, y, error, fitted value, deviation (y minus
                        fitted) and normalised deviation (deviation / error)
                        of every point to FILE, one point a line under '#'
                        comment lines; - writes them to standard output in
                        place of the report
      --gnuplot FILE    also write a gnuplot script FILE (.gnu) and its data
                        file (.gdt), as the plotter exports them (one data
                        file only)
      --band FILE       write the fitted curve's confidence band to FILE (-
                        for standard output in place of the report): x,
                        fitted y, lower and upper limit at 201 points across
                        the data's x range, one block per fit; the curve's
                        uncertainty from the fit's covariance, not where new
                        points fall (scaled too with --scale-errors)
      --band-level L    the band's width: 1sigma (68.3 %) or 95 (default)
      --report FORMAT   print every parameter rounded to its uncertainty (two
                        significant digits, the value to the same place), the
                        chi-square, degrees of freedom, reduced chi-square
                        and p-value, as text, markdown or latex (siunitx
                        \num{4.695(23)}) in place of the description
  -h, --help            show this help and exit
      --version         show the version and exit

The p-value is the chance that a chi-square with the fit's degrees of freedom
comes out at least as large as the fit's: P(chi2(dof) >= chisq). Without
degrees of freedom there is none: n/a in CSV, null in JSON.
A column file of four or more columns fitted without naming every column
says on standard error which columns it took.

Exit status: 0 when every fit succeeded; 1 when a fit failed (the reason is
on standard error) or a file could not be written; 2 for a wrong command line
or a data file that cannot be used (the reason is on standard error). With
several files, a file that fails does not stop the others: its messages go
to standard error (each line after the file's name), its CSV row holds the
file, the model, its status and the reason, and the exit status is the worst
of all.

Examples:
  orvalle-fit run1.txt
  orvalle-fit -m quadratic --json run1.txt
  orvalle-fit -m periodic -e 2,3 swing.txt
  orvalle-fit -m 'formula:A*(1-exp(-x/B))' -e 200,500 charge.txt
  orvalle-fit --x A --y B --err percent:5 table.txt
  orvalle-fit --x "Time (s)" --y "Position (m)" --err absolute:0.002 logger.csv
  sensor-export | orvalle-fit -m quadratic --err percent:2 -
  orvalle-fit --multi same-gradient --gnuplot lines.gnu tagged.txt
  orvalle-fit --covariance --scale-errors run1.txt
  orvalle-fit --residuals run1.res run1.txt
  orvalle-fit --csv group*/run1.txt > marks.csv
)HELP";
}

std::optional<modelchoice> parsemodel(const std::string &text) {
  static const std::pair<const char *, trendtype> names[] = {
      {"linear-origin", trendtype::linearorigin},
      {"linear", trendtype::linear},
      {"quadratic", trendtype::quadratic},
      {"cubic", trendtype::cubic},
      {"power", trendtype::power},
      {"resonance", trendtype::resonance},
      {"periodic", trendtype::periodic},
      {"periodic-decay", trendtype::periodicdecay},
      {"custom", trendtype::custom},
  };
  for (const auto &[name, type] : names)
    if (text == name)
      return modelchoice{name, type, 0, {}};
  if (text.compare(0, 8, "formula:") == 0)
    return modelchoice{text, trendtype::formula, 0, text.substr(8)};
  const bool degreetext =
      (text.size() == 6 && text[5] >= '1' && text[5] <= '9') || text.substr(5) == "10";
  if (text.size() >= 6 && text.compare(0, 5, "poly:") == 0 && degreetext) {
    const int n = std::stoi(text.substr(5));
    // poly:1 to poly:3 are the plotter's own linear, quadratic and cubic.
    const trendtype types[] = {trendtype::linear, trendtype::quadratic, trendtype::cubic};
    if (n <= 3)
      return modelchoice{text, types[n - 1], 0, {}};
    return modelchoice{text, trendtype::cubic, n, {}};
  }
  return std::nullopt;
}

std::optional<int> parsecolumn(const std::string &text) {
  std::string t = text;
  if (t.size() > 4 && (t.compare(0, 4, "Col ") == 0 || t.compare(0, 4, "col ") == 0))
    t = t.substr(4);
  // A to Z, then AA, AB, ... (at most four letters).
  if (t.empty() || t.size() > 4)
    return std::nullopt;
  int n = 0;
  for (const char ch : t) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (c < 'A' || c > 'Z')
      return std::nullopt;
    n = n * 26 + (c - 'A' + 1);
  }
  return n - 1;
}

bool parseestimatelist(const std::string &text, std::vector<double> &values, std::size_t most) {
  std::vector<double> v;
  std::size_t start = 0;
  while (true) {
    const auto comma = text.find(',', start);
    const std::string field =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double number = 0.0;
    if (v.size() >= most || !parsenumber(field, number))
      return false;
    v.push_back(number);
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  values = std::move(v);
  return true;
}

bool parseestimates(const std::string &text, estimateset &estimates) {
  std::vector<double> v;
  if (!parseestimatelist(text, v, estimates.size()))
    return false;
  estimates = kDefaultEstimates;
  std::copy(v.begin(), v.end(), estimates.begin());
  return true;
}

namespace {

std::optional<errorsource> parseerror(const std::string &text, std::string *error,
                                      const std::string &option = "--err") {
  errorsource s;
  auto number = [&](const std::string &prefix, errorsource::kind k) -> std::optional<errorsource> {
    const std::string v = text.substr(prefix.size());
    s.how = k;
    if (!parsenumber(v, s.value)) {
      *error = option + " " + text + ": \"" + v + "\" is not a number (write e.g. " + prefix + "5)";
      return std::nullopt;
    }
    return s;
  };
  if (text.compare(0, 8, "percent:") == 0)
    return number("percent:", errorsource::kind::percent);
  if (text.compare(0, 9, "absolute:") == 0)
    return number("absolute:", errorsource::kind::absolute);
  if (auto c = parsecolumn(text)) {
    s.how = errorsource::kind::column;
    s.column = *c;
    s.name = text;
    return s;
  }
  if (!text.empty()) {
    // A header title, looked up in each file.
    s.how = errorsource::kind::column;
    s.name = text;
    return s;
  }
  *error = option + " " + text + ": write a column letter (e.g. C), percent:P or absolute:V";
  return std::nullopt;
}

} // namespace

std::optional<options> parseoptions(const std::vector<std::string> &args, std::string *error) {
  options o;
  std::vector<std::string> files;
  bool optionsended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (optionsended || a.empty() || a[0] != '-' || a == "-") {
      files.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsended = true;
      continue;
    }
    // --name=value
    std::optional<std::string> inlinevalue;
    if (a.compare(0, 2, "--") == 0) {
      if (const auto eq = a.find('='); eq != std::string::npos) {
        inlinevalue = a.substr(eq + 1);
        a = a.substr(0, eq);
      }
    }
    auto value = [&](std::string *out) -> bool {
      if (inlinevalue) {
        *out = *inlinevalue;
        return true;
      }
      if (i + 1 >= args.size()) {
        *error = "option " + a + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--csv") {
      o.csv = true;
    } else if (a == "--covariance") {
      o.covariance = true;
    } else if (a == "--scale-errors") {
      o.scaleerrors = true;
    } else if (a == "--residuals") {
      if (!value(&v))
        return std::nullopt;
      if (v.empty()) {
        *error = "--residuals needs a file name, or - for standard output";
        return std::nullopt;
      }
      o.residuals = v;
    } else if (a == "-m" || a == "--model") {
      if (!value(&v))
        return std::nullopt;
      auto m = parsemodel(v);
      if (!m) {
        *error = "unknown model \"" + v +
                 "\" (choose linear-origin, linear, quadratic, cubic, poly:N with N from 1 to 10, "
                 "power, resonance, periodic, periodic-decay, custom or formula:TEXT)";
        return std::nullopt;
      }
      if (m->type == trendtype::formula) {
        try {
          typedformula f(m->formula);
        } catch (const formula_error &e) {
          *error = "--model " + v + ": " + e.what();
          return std::nullopt;
        }
      }
      o.model = *m;
      o.modelgiven = true;
    } else if (a == "-d" || a == "--dataset") {
      if (!value(&v))
        return std::nullopt;
      o.dataset = v;
    } else if (a == "--x" || a == "--y") {
      if (!value(&v))
        return std::nullopt;
      auto c = parsecolumn(v);
      if (!c && v.empty()) {
        *error = a + " " + v + ": write a column letter, e.g. " + (a == "--x" ? "A" : "B");
        return std::nullopt;
      }
      if (c)
        (a == "--x" ? o.xcol : o.ycol) = *c;
      // A letter, or a header title looked up in each file.
      (a == "--x" ? o.xname : o.yname) = v;
      (a == "--x" ? o.xgiven : o.ygiven) = true;
      o.columnsgiven = true;
    } else if (a == "--err") {
      if (!value(&v))
        return std::nullopt;
      auto e = parseerror(v, error);
      if (!e)
        return std::nullopt;
      o.err = *e;
      o.columnsgiven = o.errgiven = true;
    } else if (a == "--xerr") {
      if (!value(&v))
        return std::nullopt;
      auto e = parseerror(v, error, "--xerr");
      if (!e)
        return std::nullopt;
      o.xerr = *e;
    } else if (a == "-e" || a == "--estimates") {
      if (!value(&v))
        return std::nullopt;
      if (!parseestimatelist(v, o.estimatelist, typedformula::kMaxParameters)) {
        *error = "Unable To Convert Estimates To Numbers (write up to five numbers separated by "
                 "commas, e.g. -e 2,3.1)";
        return std::nullopt;
      }
      o.estimates = kDefaultEstimates;
      std::copy_n(o.estimatelist.begin(), std::min(o.estimatelist.size(), o.estimates.size()),
                  o.estimates.begin());
    } else if (a == "--solver") {
      if (!value(&v))
        return std::nullopt;
      if (v == "gauss")
        o.gauss = true;
      else if (v == "cramer")
        o.gauss = false;
      else {
        *error = "unknown solver \"" + v + "\" (choose gauss or cramer)";
        return std::nullopt;
      }
    } else if (a == "--multi") {
      if (!value(&v))
        return std::nullopt;
      if (v == "same-intercept")
        o.multi = multikind::sameintercept;
      else if (v == "same-gradient")
        o.multi = multikind::samegradient;
      else {
        *error = "unknown multi fit \"" + v + "\" (choose same-intercept or same-gradient)";
        return std::nullopt;
      }
    } else if (a == "-n" || a == "--name") {
      if (!value(&v))
        return std::nullopt;
      o.name = v;
    } else if (a == "--band") {
      if (!value(&v))
        return std::nullopt;
      if (v.empty()) {
        *error = "--band needs a file name, or - for standard output";
        return std::nullopt;
      }
      o.band = v;
    } else if (a == "--band-level") {
      if (!value(&v))
        return std::nullopt;
      if (v == "1sigma")
        o.bandat = bandlevel::onesigma;
      else if (v == "95")
        o.bandat = bandlevel::ninetyfive;
      else {
        *error = "unknown band level \"" + v + "\" (choose 1sigma or 95)";
        return std::nullopt;
      }
    } else if (a == "--report") {
      if (!value(&v))
        return std::nullopt;
      if (v == "text")
        o.report = reportformat::text;
      else if (v == "markdown")
        o.report = reportformat::markdown;
      else if (v == "latex")
        o.report = reportformat::latex;
      else {
        *error = "unknown report format \"" + v + "\" (choose text, markdown or latex)";
        return std::nullopt;
      }
    } else if (a == "--gnuplot") {
      if (!value(&v))
        return std::nullopt;
      if (v.empty()) {
        *error = "--gnuplot needs a file name";
        return std::nullopt;
      }
      o.gnuplot = v;
    } else {
      *error = "unknown option " + a;
      return std::nullopt;
    }
    if (inlinevalue && (a == "-h" || a == "--help" || a == "--version" || a == "--json" ||
                        a == "--csv" || a == "--covariance" || a == "--scale-errors")) {
      *error = "option " + a + " takes no value";
      return std::nullopt;
    }
  }
  if (o.help || o.version)
    return o;
  if (o.report && (o.json || o.csv)) {
    *error = "--report cannot be combined with --json or --csv";
    return std::nullopt;
  }
  if (o.band && o.residuals && *o.band == "-" && *o.residuals == "-") {
    *error = "--band - and --residuals - cannot both take standard output";
    return std::nullopt;
  }
  if (files.empty()) {
    *error = "no data file given";
    return std::nullopt;
  }
  o.files = files;
  o.file = files[0];
  if (o.json && o.csv) {
    *error = "choose one of --json and --csv";
    return std::nullopt;
  }
  if (o.residuals && *o.residuals == "-" && (o.json || o.csv || o.covariance)) {
    *error = "--residuals - puts the residuals on standard output in place of the report: leave "
             "out --json, --csv and --covariance, or name a file";
    return std::nullopt;
  }
  if (o.gnuplot && files.size() > 1) {
    *error = "--gnuplot writes the script of one fit: give one data file (got " +
             std::to_string(files.size()) + ")";
    return std::nullopt;
  }
  if (o.model.type == trendtype::formula) {
    const typedformula f(o.model.formula);
    if (o.estimatelist.size() > f.parameters().size()) {
      std::string names;
      for (const auto &n : f.parameters())
        names += (names.empty() ? "" : ", ") + n;
      *error = "--estimates gives " + std::to_string(o.estimatelist.size()) +
               " values, but the formula has " + std::to_string(f.count()) + " parameter" +
               (f.count() == 1 ? "" : "s") + " (" + names + ")";
      return std::nullopt;
    }
  } else if (o.estimatelist.size() > o.estimates.size()) {
    *error = "Unable To Convert Estimates To Numbers (write up to five numbers separated by "
             "commas, e.g. -e 2,3.1)";
    return std::nullopt;
  }
  if (o.multi && o.modelgiven && o.model.type != trendtype::linear) {
    *error = "--multi fits straight lines: use it with -m linear or without -m";
    return std::nullopt;
  }
  if (o.multi && o.dataset) {
    *error = "--multi fits every dataset of the file: leave out --dataset";
    return std::nullopt;
  }
  return o;
}

} // namespace orvalle::cli
