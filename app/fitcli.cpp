// Command-line options of orvalle-fit and its help text.
#include "app/fitcli.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <initializer_list>
#include <string_view>

#include "app/fitcli_texts.h"
#include "datatext/conversion.h"
#include "engine/fits.h"
#include "engine/formula.h"

namespace orvalle::cli {

namespace {

// The highest degree poly:N takes: the engine's.
constexpr int kMaxDegree = polynom::kMaxDegree;
// What the formula's name takes after it in --model.
constexpr const char *kFormulaSuffix = ":TEXT";

// The words joined as a list: "a, b or c".
std::string wordlist(const std::vector<std::string> &words) {
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k)
    text += (k == 0 ? "" : k + 1 == words.size() ? " or " : ", ") + words[k];
  return text;
}

// The help text around the list of models.
constexpr const char *kHelpHead = R"HELP(Usage: orvalle-fit [options] FILE...

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
)HELP";
constexpr const char *kHelpTail =
    R"HELP(  -d, --dataset NAME    tagged file: the dataset to fit, by name ("Dataset a")
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

// How far in the models' names stand, and the column their descriptions
// start in.
constexpr std::size_t kModelIndent = 26;
constexpr std::size_t kModelText = 42;

// The models in the order the help lists them: every trend type's row,
// poly:N after the last plain polynomial, the formula with its text.
struct modelentry {
  std::string name;   // as the help shows it
  std::string choice; // as the error for an unknown model lists it
  std::string help;   // lines parted by '\n'
};

std::vector<modelentry> modelentries() {
  std::vector<modelentry> list;
  const auto rows = trendrows();
  std::size_t lastpoly = 0;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].degree > 0)
      lastpoly = i;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const trendrow &r = rows[i];
    const std::string name = r.group == trendgroup::formula
                                 ? std::string(r.batchname) + kFormulaSuffix
                                 : std::string(r.batchname);
    list.push_back({name, name, r.batchhelp});
    if (i == lastpoly)
      list.push_back({"poly:N", "poly:N with N from 1 to " + std::to_string(kMaxDegree),
                      "polynomial of degree N (1 to " + std::to_string(kMaxDegree) + ")"});
  }
  return list;
}

std::string maketext() {
  std::string text = kHelpHead;
  for (const modelentry &m : modelentries()) {
    std::string line = std::string(kModelIndent, ' ') + m.name;
    line.resize(std::max(kModelText, line.size() + 1), ' ');
    std::string_view rest = m.help;
    for (bool more = true; more;) {
      const auto end = rest.find('\n');
      more = end != std::string_view::npos;
      line += rest.substr(0, end);
      text += line + '\n';
      rest.remove_prefix(more ? end + 1 : rest.size());
      line.assign(kModelText, ' ');
    }
  }
  return text + kHelpTail;
}

} // namespace

const char *helptext() {
  static const std::string text = maketext();
  return text.c_str();
}

std::string modelchoices() {
  std::vector<std::string> names;
  for (const modelentry &m : modelentries())
    names.push_back(m.choice);
  return wordlist(names);
}

std::optional<modelchoice> parsemodel(const std::string &text) {
  for (const trendrow &r : trendrows()) {
    const std::string name = r.batchname;
    if (r.group == trendgroup::formula) {
      // formula:TEXT, the text read when the options are.
      if (text.compare(0, name.size() + 1, name + ":") == 0)
        return modelchoice{text, r.type, 0, text.substr(name.size() + 1)};
    } else if (text == name) {
      return modelchoice{name, r.type, 0, {}};
    }
  }
  // poly:N: N written plainly (digits, no leading zero) from 1 to the
  // highest degree.
  const std::string_view degree =
      text.compare(0, 5, "poly:") == 0 ? std::string_view(text).substr(5) : std::string_view();
  int n = 0;
  const auto [end, ec] = std::from_chars(degree.data(), degree.data() + degree.size(), n);
  const bool degreetext = !degree.empty() && degree[0] != '0' && ec == std::errc() &&
                          end == degree.data() + degree.size() && n >= 1 && n <= kMaxDegree;
  if (degreetext) {
    // The plotter's own polynomials (linear, quadratic, cubic) stand for
    // their degrees.
    for (const trendrow &r : trendrows())
      if (r.degree == n)
        return modelchoice{text, r.type, 0, {}};
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

// The options' identifiers: the short ones are their letters.
enum optionid : int {
  kFileArgument = 1, // getopt_long's code for an argument that is no option
  kHelp = 'h',
  kModel = 'm',
  kDataset = 'd',
  kEstimates = 'e',
  kName = 'n',
  kVersion = 256,
  kJson,
  kCsv,
  kCovariance,
  kScaleErrors,
  kResiduals,
  kX,
  kY,
  kErr,
  kXerr,
  kSolver,
  kMulti,
  kBand,
  kBandLevel,
  kReport,
  kGnuplot,
};

// The long options. getopt_long takes any unambiguous beginning of one
// (--mod for --model) and a value after '=' or as the next argument.
const ::option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"json", no_argument, nullptr, kJson},
    {"csv", no_argument, nullptr, kCsv},
    {"covariance", no_argument, nullptr, kCovariance},
    {"scale-errors", no_argument, nullptr, kScaleErrors},
    {"residuals", required_argument, nullptr, kResiduals},
    {"model", required_argument, nullptr, kModel},
    {"dataset", required_argument, nullptr, kDataset},
    {"x", required_argument, nullptr, kX},
    {"y", required_argument, nullptr, kY},
    {"err", required_argument, nullptr, kErr},
    {"xerr", required_argument, nullptr, kXerr},
    {"estimates", required_argument, nullptr, kEstimates},
    {"solver", required_argument, nullptr, kSolver},
    {"multi", required_argument, nullptr, kMulti},
    {"name", required_argument, nullptr, kName},
    {"band", required_argument, nullptr, kBand},
    {"band-level", required_argument, nullptr, kBandLevel},
    {"report", required_argument, nullptr, kReport},
    {"gnuplot", required_argument, nullptr, kGnuplot},
    {nullptr, 0, nullptr, 0},
};

// '-': every argument that is no option comes back in its place, as code
// 1, whatever POSIXLY_CORRECT says; ':': a missing value is told apart.
// A short option's value may follow it directly (-mquadratic).
constexpr const char *kShortOptions = "-:hm:d:e:n:";

// The long options whose names begin with name, e.g. "--solver, --scale-errors".
std::string candidates(const std::string &name) {
  std::string list;
  for (const ::option *o = kLongOptions; o->name; ++o)
    if (std::string_view(o->name).substr(0, name.size()) == name)
      list += (list.empty() ? "--" : ", --") + std::string(o->name);
  return list;
}

// The message for what getopt_long refused in arg: an unknown or
// ambiguous option, a value given to an option that takes none.
std::string refused(const std::string &arg, int code) {
  if (arg.compare(0, 2, "--") != 0)
    return "unknown option " + arg;
  const std::string written = arg.substr(0, arg.find('='));
  if (code != 0)
    return "option " + written + " takes no value";
  const std::string matches = candidates(written.substr(2));
  if (matches.find(',') != std::string::npos)
    return "option " + written + " is ambiguous: it begins " + matches;
  return "unknown option " + written;
}

// The message for an option without its value.
std::string missingvalue(const std::string &arg, int code) {
  if (arg.compare(0, 2, "--") == 0)
    return "option " + arg + " needs a value";
  return std::string("option -") + static_cast<char>(code) + " needs a value";
}

std::optional<errorsource> parseerror(const std::string &text, std::string *error,
                                      const std::string &option) {
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
  if (text.empty()) {
    *error = option + " " + text + ": write a column letter (e.g. C), percent:P or absolute:V";
    return std::nullopt;
  }
  // A column letter, or a header title looked up in each file.
  s.how = errorsource::kind::column;
  s.name = text;
  if (auto c = parsecolumn(text))
    s.column = *c;
  return s;
}

// One of a few words, each standing for a value; the message for any
// other names them.
template <class T>
bool oneof(const std::string &v, std::initializer_list<std::pair<const char *, T>> words, T &out,
           const std::string &what, std::string *error) {
  std::vector<std::string> names;
  for (const auto &[word, value] : words) {
    if (v == word) {
      out = value;
      return true;
    }
    names.emplace_back(word);
  }
  *error = "unknown " + what + " \"" + v + "\" (choose " + wordlist(names) + ")";
  return false;
}

bool takemodel(const std::string &v, options &o, std::string *error) {
  auto m = parsemodel(v);
  if (!m) {
    *error = "unknown model \"" + v + "\" (choose " + modelchoices() + ")";
    return false;
  }
  if (m->type == trendtype::formula) {
    try {
      typedformula f(m->formula);
    } catch (const formula_error &e) {
      *error = "--model " + v + ": " + e.what();
      return false;
    }
  }
  o.model = *m;
  o.modelgiven = true;
  return true;
}

bool takecolumn(int id, const std::string &v, options &o, std::string *error) {
  const bool x = id == kX;
  auto c = parsecolumn(v);
  if (!c && v.empty()) {
    *error =
        std::string(x ? "--x " : "--y ") + v + ": write a column letter, e.g. " + (x ? "A" : "B");
    return false;
  }
  if (c)
    (x ? o.xcol : o.ycol) = *c;
  // A letter, or a header title looked up in each file.
  (x ? o.xname : o.yname) = v;
  (x ? o.xgiven : o.ygiven) = true;
  o.columnsgiven = true;
  return true;
}

bool takeerrors(int id, const std::string &v, options &o, std::string *error) {
  auto e = parseerror(v, error, id == kErr ? "--err" : "--xerr");
  if (!e)
    return false;
  if (id == kErr) {
    o.err = *e;
    o.columnsgiven = o.errgiven = true;
  } else {
    o.xerr = *e;
  }
  return true;
}

bool takeestimates(const std::string &v, options &o, std::string *error) {
  if (!parseestimatelist(v, o.estimatelist, typedformula::kMaxParameters)) {
    *error = kBadEstimates;
    return false;
  }
  o.estimates = kDefaultEstimates;
  std::copy_n(o.estimatelist.begin(), std::min(o.estimatelist.size(), o.estimates.size()),
              o.estimates.begin());
  return true;
}

// An output file: a name, or - for standard output where allowed.
bool takeoutput(const std::string &v, std::optional<std::string> &out, const char *option,
                bool dash, std::string *error) {
  if (v.empty()) {
    *error = std::string(option) +
             (dash ? " needs a file name, or - for standard output" : " needs a file name");
    return false;
  }
  out = v;
  return true;
}

// Sets what a switch without a value stands for.
bool takeswitch(int id, options &o) {
  bool *flags[] = {&o.help, &o.version, &o.json, &o.csv, &o.covariance, &o.scaleerrors};
  const int ids[] = {kHelp, kVersion, kJson, kCsv, kCovariance, kScaleErrors};
  for (std::size_t k = 0; k < std::size(ids); ++k)
    if (ids[k] == id) {
      *flags[k] = true;
      return true;
    }
  return false;
}

// Takes one option with its value; false with the message in *error.
bool takeoption(int id, const std::string &v, options &o, std::string *error) {
  switch (id) {
  case kModel:
    return takemodel(v, o, error);
  case kDataset:
    o.dataset = v;
    return true;
  case kName:
    o.name = v;
    return true;
  case kX:
  case kY:
    return takecolumn(id, v, o, error);
  case kErr:
  case kXerr:
    return takeerrors(id, v, o, error);
  case kEstimates:
    return takeestimates(v, o, error);
  case kSolver:
    return oneof(v, {{"gauss", true}, {"cramer", false}}, o.gauss, "solver", error);
  case kMulti: {
    multikind kind{};
    const bool ok = oneof(
        v,
        {{"same-intercept", multikind::sameintercept}, {"same-gradient", multikind::samegradient}},
        kind, "multi fit", error);
    if (ok)
      o.multi = kind;
    return ok;
  }
  case kBandLevel:
    return oneof(v, {{"1sigma", bandlevel::onesigma}, {"95", bandlevel::ninetyfive}}, o.bandat,
                 "band level", error);
  case kReport: {
    reportformat format{};
    const bool ok = oneof(v,
                          {{"text", reportformat::text},
                           {"markdown", reportformat::markdown},
                           {"latex", reportformat::latex}},
                          format, "report format", error);
    if (ok)
      o.report = format;
    return ok;
  }
  case kResiduals:
    return takeoutput(v, o.residuals, "--residuals", true, error);
  case kBand:
    return takeoutput(v, o.band, "--band", true, error);
  case kGnuplot:
    return takeoutput(v, o.gnuplot, "--gnuplot", false, error);
  default:
    if (takeswitch(id, o))
      return true;
    *error = "unknown option";
    return false;
  }
}

// The options that cannot go together, and the files.
std::string conflicts(const options &o, const std::vector<std::string> &files) {
  if (o.report && (o.json || o.csv))
    return "--report cannot be combined with --json or --csv";
  if (o.band && o.residuals && *o.band == "-" && *o.residuals == "-")
    return "--band - and --residuals - cannot both take standard output";
  if (files.empty())
    return "no data file given";
  if (o.json && o.csv)
    return "choose one of --json and --csv";
  if (o.residuals && *o.residuals == "-" && (o.json || o.csv || o.covariance))
    return "--residuals - puts the residuals on standard output in place of the report: leave "
           "out --json, --csv and --covariance, or name a file";
  if (o.gnuplot && files.size() > 1)
    return "--gnuplot writes the script of one fit: give one data file (got " +
           std::to_string(files.size()) + ")";
  return {};
}

// The estimates against the model, and --multi against the rest.
std::string modelconflicts(const options &o) {
  if (o.model.type == trendtype::formula) {
    const typedformula f(o.model.formula);
    if (o.estimatelist.size() > f.parameters().size()) {
      std::string names;
      for (const auto &n : f.parameters())
        names += (names.empty() ? "" : ", ") + n;
      return "--estimates gives " + std::to_string(o.estimatelist.size()) +
             " values, but the formula has " + std::to_string(f.count()) + " parameter" +
             (f.count() == 1 ? "" : "s") + " (" + names + ")";
    }
  } else if (o.estimatelist.size() > o.estimates.size()) {
    return kBadEstimates;
  }
  if (o.multi && o.modelgiven && !trendrowof(o.model.type).multi)
    return "--multi fits straight lines: use it with -m linear or without -m";
  if (o.multi && o.dataset)
    return "--multi fits every dataset of the file: leave out --dataset";
  return {};
}

} // namespace

std::optional<options> parseoptions(const std::vector<std::string> &args, std::string *error) {
  // getopt_long reads a C argument vector and keeps its place in globals:
  // optind = 0 starts it afresh.
  std::vector<std::string> words = args;
  std::vector<char *> argv = {const_cast<char *>("orvalle-fit")};
  for (auto &w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;
  options o;
  std::vector<std::string> files;
  optind = 0;
  opterr = 0;
  for (;;) {
    // The argument the option stands in (a short one may share it).
    const char *at = argv[static_cast<std::size_t>(std::max(optind, 1))];
    const std::string arg = at ? at : "";
    const int id = ::getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (id == -1)
      break;
    if (id == kFileArgument) {
      files.emplace_back(optarg);
      continue;
    }
    if (id == '?' || id == ':') {
      *error = id == '?' ? refused(arg, optopt) : missingvalue(arg, optopt);
      return std::nullopt;
    }
    if (!takeoption(id, optarg ? optarg : "", o, error))
      return std::nullopt;
  }
  // What follows "--" is files.
  for (int i = optind; i < argc; ++i)
    files.emplace_back(argv[static_cast<std::size_t>(i)]);
  if (o.help || o.version)
    return o;
  std::string why = conflicts(o, files);
  if (why.empty()) {
    o.files = files;
    o.file = files[0];
    why = modelconflicts(o);
  }
  if (!why.empty()) {
    *error = why;
    return std::nullopt;
  }
  return o;
}

} // namespace orvalle::cli
