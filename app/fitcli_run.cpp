// orvalle-fit's run: read, convert, make the dataset, fit, report.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <system_error>

#include "app/fitcli.h"
#include "app/fitcli_output.h"
#include "app/fitcli_pages.h"
#include "app/fitcli_project.h"
#include "app/fitcli_report.h"
#include "app/fitcli_table.h"
#include "app/fitcli_texts.h"
#include "datatext/conversion.h"
#include "engine/atomicfile.h"
#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/fittexts.h"
#include "engine/formula.h"
#include "engine/gnuplotexport.h"
#include "engine/logchannel.h"
#include "engine/nullcanvas.h"
#include "engine/numeric.h"
#include "engine/pluginpath.h"
#include "engine/report.h"

namespace orvalle::cli {

namespace {

// A failure that ends the run with a status and a message for stderr.
struct stop {
  int status;
  std::string message;
  // What likely caused it, said after the message (empty: nothing).
  std::string hint{};
  // An error of y at or below zero in grid row zerorow (from 1; 0: none).
  long zerorow = 0;
};

void printerr(const std::string &text);

// The message of a stop, then its hint.
void printstop(const stop &s) {
  if (!s.message.empty())
    printerr(s.message);
  if (!s.hint.empty())
    printerr(s.hint);
}

// With several files, every message of a file starts with its name; the
// messages of the file being fitted are also kept for the JSON report.
std::string messageprefix;
std::vector<std::string> filemessages;

void printerr(const std::string &text) {
  filemessages.push_back(text);
  std::fputs((messageprefix + text).c_str(), stderr);
  std::fputc('\n', stderr);
}

// Files from this size on have their columns' pages readied ahead.
constexpr std::size_t kPagesAheadFrom = std::size_t(8) << 20;

std::string outofmemory(const std::string &what) {
  return "orvalle-fit: not enough memory to " + what;
}

// A fit that failed: the engine's reason, then the usual message. A failed
// fit (code 0) has logged its reason through the log channel already; the
// other faults (floating-point, rows of different lengths) only carry it.
[[noreturn]] void failedfit(const std::exception &e) {
  const auto *ee = dynamic_cast<const engine_error *>(&e);
  if (!(ee && ee->code() == kFailedFit) && *e.what())
    printerr(e.what());
  printerr(kCriticalFailure);
  throw stop{kExitFitFailed, ""};
}

// ---------------------------------------------------------------- plug-in

const PluginLibrary *activeplugin = nullptr;

// The plug-in's log link: its messages go to standard error.
void pluginpost(void *, int, int) {
  if (activeplugin) {
    const std::string text = activeplugin->message();
    if (!text.empty())
      printerr(text);
  }
}

std::string ownfolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

// The plug-in library as the program finds it: $ORVALLE_CUSTOMFIT, else
// libcustomfit.so beside the program or, installed, in ../lib/orvalle.
// Never the current folder.
PluginLibrary loadplugin() {
  const std::string path = pluginpath(ownfolder(), std::getenv("ORVALLE_CUSTOMFIT"));
  if (path.empty())
    throw stop{kExitUsage, "No plug-in model: the program's own folder is unknown"};
  // dlopen would wait on a FIFO and read a device without end: only a
  // regular file is a library.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw stop{kExitUsage, "No plug-in model: " + path + ": " + std::strerror(errno)};
  if (!S_ISREG(info.st_mode))
    throw stop{kExitUsage, "No plug-in model: " + path + " is not a regular file"};
  std::string why;
  auto lib = loadpluginfile(path, &why);
  if (!lib)
    throw stop{kExitUsage, "No plug-in model: " + why};
  if (lib->name().empty())
    throw stop{kExitUsage, "No plug-in model: the library " + path + " names no model"};
  return *lib;
}

// ---------------------------------------------------------------- datasets

rowref makerow(std::vector<double> values) {
  auto r = std::make_shared<drow>();
  r->n = static_cast<int>(values.size());
  r->data = std::move(values);
  return r;
}

// A file of four or more columns says which ones it was fitted with unless
// every one was named.
void saycolumns(int cols, const options &o) {
  if (cols < 4 || (o.xgiven && o.ygiven && o.errgiven))
    return;
  std::string errors;
  switch (o.err.how) {
  case errorsource::kind::column:
    errors = columnname(o.err.column) + " as the errors of y";
    break;
  case errorsource::kind::percent:
    errors = generaltext(o.err.value, 15) + " percent of y as the errors of y";
    break;
  case errorsource::kind::absolute:
    errors = generaltext(o.err.value, 15) + " as the error of every y";
    break;
  }
  printerr("orvalle-fit: the file has " + std::to_string(cols) + " columns; fitting " +
           columnname(o.xcol) + " as x, " + columnname(o.ycol) + " as y and " + errors +
           " (choose them with --x, --y and --err)");
}

// The plotter reads every cell of the grid into its columns, so an empty
// cell anywhere stops it. An empty cell is a NaN, or missing at the end of
// a column that is shorter than the grid. Each column's numbers move out of
// the grid and down over its header row as they are checked, in one pass.
std::vector<std::vector<double>> takecolumns(numericgrid &grid, int cols, int rows) {
  std::vector<std::vector<double>> points(static_cast<std::size_t>(cols));
  for (int c = 0; c < cols; ++c) {
    std::vector<double> v = grid.takecolumn(c);
    const auto last = std::min(v.size(), static_cast<std::size_t>(rows) + 1);
    std::size_t r = 1;
    for (; r < last && !std::isnan(v[r]); ++r)
      v[r - 1] = v[r];
    if (r <= static_cast<std::size_t>(rows))
      throw stop{kExitUsage, "'' is not a valid floating point value (" + columnname(c) + ", row " +
                                 std::to_string(r) +
                                 " is empty: every line needs as many numbers as the longest)"};
    v.resize(static_cast<std::size_t>(rows));
    points[static_cast<std::size_t>(c)] = std::move(v);
  }
  return points;
}

void checkcolumn(int c, int cols, const char *what) {
  if (c >= cols)
    throw stop{kExitUsage, std::string(what) + ": the file has no " + columnname(c) +
                               " (its columns are Col A to " + columnname(cols - 1) + ")"};
}

// The chosen columns are in the file, and a two-column file is given its
// errors of y.
void checkcolumns(const options &o, int cols) {
  checkcolumn(o.xcol, cols, "--x");
  checkcolumn(o.ycol, cols, "--y");
  if (o.err.how == errorsource::kind::column) {
    if (cols == 2 && !o.errgiven)
      throw stop{kExitUsage, "The file has two columns and so no errors of y: choose them with "
                             "--err percent:P or --err absolute:V"};
    checkcolumn(o.err.column, cols, "--err");
  }
}

// Errors made from a percentage of the values or one value for all.
std::vector<double> madeerrors(const errorsource &how, const drow &values) {
  std::vector<double> e(static_cast<std::size_t>(values.n));
  for (std::size_t k = 0; k < e.size(); ++k)
    e[k] = how.how == errorsource::kind::percent ? values.data[k] * how.value * 0.01 : how.value;
  return e;
}

// The first error not above zero, counted from 1; 0 when there is none.
long firstbad(const std::vector<double> &errors) {
  for (std::size_t k = 0; k < errors.size(); ++k)
    if (!(errors[k] > 0.0))
      return static_cast<long>(k) + 1;
  return 0;
}

// The dataset a column file gives, made by the plotter's rules.
std::unique_ptr<dataset> columndataset(numericgrid &grid, const options &o) {
  const int cols = grid.colcount();
  const int rows = grid.rowcount() - 1; // the header row is not data
  if (cols < 2)
    throw stop{kExitUsage, "The file has only one column: a dataset needs an x column and a "
                           "y column"};
  std::vector<std::vector<double>> points = takecolumns(grid, cols, rows);
  checkcolumns(o, cols);
  saycolumns(cols, o);

  // The columns' numbers move into the dataset; a column chosen twice is
  // shared.
  std::vector<rowref> taken(static_cast<std::size_t>(cols));
  auto column = [&](int c) {
    rowref &r = taken[static_cast<std::size_t>(c)];
    if (!r)
      r = makerow(std::move(points[static_cast<std::size_t>(c)]));
    return r;
  };
  auto d = std::make_unique<dataset>(true);
  // The automatic dataset of a three-column file has the empty name; one
  // made by choice takes the name the plotter offers first.
  const bool automatic = cols == 3 && !o.columnsgiven;
  d->name = automatic ? "" : "DataSet A";
  d->x = column(o.xcol);
  d->y = column(o.ycol);
  if (o.err.how == errorsource::kind::column) {
    d->yerr = column(o.err.column);
    if (const long bad = firstbad(d->yerr->data))
      throw stop{kExitUsage, texts::kBadYErrors, "", bad};
  } else {
    std::vector<double> e = madeerrors(o.err, *d->y);
    if (firstbad(e))
      throw stop{kExitUsage, texts::kBadYErrors};
    d->yerr = makerow(std::move(e));
  }
  if (o.xerr) {
    const bool fromcolumn = o.xerr->how == errorsource::kind::column;
    if (fromcolumn)
      checkcolumn(o.xerr->column, cols, "--xerr");
    std::vector<double> e = fromcolumn ? column(o.xerr->column)->data : madeerrors(*o.xerr, *d->x);
    if (firstbad(e))
      throw stop{kExitUsage, texts::kBadXErrors};
    d->xerr = makerow(std::move(e));
  }
  d->pointcount = d->filledcount = d->x->n;
  return d;
}

// True when text is one well-formed UTF-8 sequence of two to four bytes.
bool onecharacter(const std::string &text) {
  const auto lead = text.empty() ? 0u : static_cast<unsigned char>(text[0]);
  const std::size_t size = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (size == 0 || text.size() != size || lead > 0xF4)
    return false;
  for (std::size_t k = 1; k < size; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80)
      return false;
  return true;
}

int findtagged(const std::vector<std::unique_ptr<dataset>> &sets, const std::string &want) {
  for (std::size_t i = 0; i < sets.size(); ++i)
    if (sets[i]->name == want)
      return static_cast<int>(i);
  if (want.size() == 1)
    for (std::size_t i = 0; i < sets.size(); ++i)
      if (sets[i]->tag == want[0])
        return static_cast<int>(i);
  // A tag that is not ASCII is one UTF-8 character of up to four bytes;
  // its dataset is named after it.
  if (onecharacter(want))
    for (std::size_t i = 0; i < sets.size(); ++i)
      if (sets[i]->name == "Dataset " + want)
        return static_cast<int>(i);
  std::string names;
  for (const auto &d : sets)
    names += (names.empty() ? "" : ", ") + d->name;
  throw stop{kExitUsage, "There is no dataset \"" + want + "\" in the file; it holds " + names};
}

// ---------------------------------------------------------------- fitting

struct fitrun {
  fitrun() = default;
  fitrun(const fitrun &) = delete;
  fitrun &operator=(const fitrun &) = delete;
  // Detaches the fits before they go: datasets keep plain pointers to them.
  ~fitrun() {
    for (auto &d : datasets)
      if (d)
        d->fits.clear();
  }

  std::vector<std::unique_ptr<dataset>> datasets; // all datasets of the file, in order
  std::vector<std::unique_ptr<bfit>> fits;
  std::vector<int> fitdataset; // per fit: its dataset's position
  std::string title;
  std::optional<PluginLibrary> plugin;
  std::optional<gnuplottexts> gnuplot; // the script and data texts to write
  bool read = false;                   // the file was read and converted
  std::vector<std::string> modelkeys;  // per fit, for a project's fits of many models
};

// A polynomial fit reads the errors of y only through their weights. When
// nothing else will read them (no residuals, no gnuplot files, no x errors)
// and no other row shares them, the weights are made in their place: the
// points then take three arrays rather than four.
bool weightsinplace(const options &o, const dataset &d) {
  const bool polynomial = o.model.degree > 0 || trendrowof(o.model.type).weightsonly;
  return polynomial && !o.residuals && !o.gnuplot && !d.hasxerrors() && d.yerr &&
         d.yerr.use_count() == 1;
}

void singlefit(fitrun &run, const options &o, int which) {
  dataset &d = *run.datasets[static_cast<std::size_t>(which)];
  const PluginLibrary *plugin = run.plugin ? &*run.plugin : nullptr;
  std::string itemtext;
  int fewest = 0;
  if (o.model.type == trendtype::formula) {
    // Named and counted by the formula: one point more than its parameters.
    itemtext = formulaitemtext(o.model.formula);
    fewest = typedformula(o.model.formula).count() + 1;
  } else if (o.model.degree > 0) {
    itemtext = "Polynomial of degree " + std::to_string(o.model.degree);
    fewest = o.model.degree + 2;
  } else {
    itemtext = trendtext(o.model.type, plugin);
    fewest = fewestpoints(o.model.type, plugin);
  }
  const int points = d.x ? d.x->n : 0;
  if (points < fewest)
    throw stop{kExitUsage,
               texts::kNeedAtLeast + std::to_string(fewest) + texts::kPointsToFit + itemtext};

  std::unique_ptr<bfit> fit;
  nullcanvas canvas;
  try {
    if (o.model.type == trendtype::formula) {
      fit = makeformulafit(o.model.formula, o.estimatelist);
    } else if (o.model.degree > 0) {
      fit = std::make_unique<polynom>(o.model.degree);
      for (std::size_t i = 0; i < o.estimates.size(); ++i)
        fit->par[i] = o.estimates[i];
    } else {
      fit = makefit(o.model.type, plugin, o.estimates);
    }
    fit->name = o.name ? *o.name : autofitname(d.name, itemtext);
    fit->data = &d;
    d.attach(fit.get());
    if (weightsinplace(o, d))
      d.errorsintoweights();
    fit->fitplot(canvas, canvas, 1000, o.gauss);
  } catch (const std::bad_alloc &) {
    d.attach(nullptr);
    throw stop{kExitFitFailed, outofmemory("fit " + itemtext)};
  } catch (const std::exception &e) {
    d.attach(nullptr);
    failedfit(e);
  }
  run.fits.push_back(std::move(fit));
  run.fitdataset.push_back(which);
}

void multifit(fitrun &run, const options &o) {
  const std::size_t K = run.datasets.size();
  if (K < 2)
    throw stop{kExitUsage, "A multi fit needs at least two datasets; the file holds one"};
  const multikind kind = *o.multi;
  nullcanvas canvas;
  try {
    auto mf = makemultifit(kind);
    mf->name =
        o.name ? *o.name : autofitname(run.datasets.front()->name, trendtext(trendtype::linear));
    mf->makelines(static_cast<int>(K));
    for (auto &d : run.datasets)
      mf->datasets.add(d.get());
    // The lines made, in the order of their datasets (taken whole, since
    // asking the list for line j walks it).
    auto lines = mf->takelines();
    for (std::size_t j = 0; j < K; ++j) {
      lines[j]->data = run.datasets[j].get();
      lines[j]->name = multilinename(mf->name, run.datasets[j]->name);
    }
    mf->fit(canvas, canvas, o.gauss);
    for (std::size_t j = 0; j < lines.size(); ++j) {
      run.fits.push_back(std::move(lines[j]));
      run.fitdataset.push_back(static_cast<int>(j));
    }
  } catch (const std::bad_alloc &) {
    throw stop{kExitFitFailed, outofmemory("fit " + std::to_string(K) + " lines")};
  } catch (const std::exception &e) {
    failedfit(e);
  }
}

std::string absolutepath(const std::string &path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

// A project file: its own datasets and fits, fitted again.
void projectinput(const options &o, const std::string &path, fitrun &run) {
  if (const std::string why = projectconflict(o); !why.empty())
    throw stop{kExitUsage, "orvalle-fit: " + why};
  try {
    const project::model m = project::readfile(path);
    if (projectneedsplugin(m)) {
      run.plugin = loadplugin();
      activeplugin = &*run.plugin;
    }
    project::refitted r = project::refit(m, run.plugin ? &*run.plugin : nullptr);
    if (r.fits.empty())
      throw stop{kExitUsage, "The project " + path + " holds no fits"};
    run.title = m.chart.title;
    run.datasets = std::move(r.datasets);
    run.fits = std::move(r.fits);
    run.fitdataset = std::move(r.fitdataset);
    run.modelkeys = std::move(r.modelkeys);
  } catch (const project::project_error &e) {
    throw stop{kExitFitFailed, "Cannot use the project " + path + ": " + e.what()};
  } catch (const std::bad_alloc &) {
    throw stop{kExitFitFailed, outofmemory("read " + path)};
  }
}

// The plug-in, loaded for its model before any file is read.
void readyplugin(const options &o, fitrun &run) {
  if (o.model.type != trendtype::custom || o.model.degree != 0)
    return;
  run.plugin = loadplugin();
  activeplugin = &*run.plugin;
  if (run.plugin->setloghangle)
    run.plugin->setloghangle(nullptr, pluginpost);
}

// Reads and converts a data file (path is its full name); what readother
// read of it is left in other. Raises stop when it cannot be read or used.
ConversionResult readinput(const std::string &file, const std::string &path,
                           std::optional<otherdata> &other) {
  std::error_code sizeerror;
  std::size_t filebytes = 0;
  if (const auto size = std::filesystem::file_size(path, sizeerror); !sizeerror) {
    filebytes = static_cast<std::size_t>(size);
    reserveheap(filebytes);
  }
  // The file is read once, in parts, each line converted as it comes: only
  // the numbers stay. For a large file the columns' pages are readied on a
  // second processor while the lines are read.
  struct converting : datalinesink {
    std::string path;
    std::unique_ptr<chartconverter> run;
    std::unique_ptr<pagesahead> pages;
    void begin(std::size_t bytes) override {
      run.reset();
      run = std::make_unique<chartconverter>(path, bytes);
      if (pages)
        run->observe([this](std::size_t, std::size_t) { readycolumns(); });
    }
    bool line(std::string_view text) override { return run->feed(text); }
    void readycolumns() const noexcept {
      const numericgrid *grid = run->filling();
      for (int c = 0; grid && c < grid->colcount(); ++c) {
        const numericgrid::storage room = grid->room(c);
        pages->want(static_cast<std::size_t>(c), room.start, room.bytes, room.used);
      }
    }
  } sink;
  sink.path = path;
  if (filebytes >= kPagesAheadFrom && pagesahead::worthwhile())
    sink.pages = std::make_unique<pagesahead>();
  ConversionOutcome conv;
  // Standard input, and tables from other programs, are read otherwise.
  try {
    other = readother(file, path);
    if (other) {
      conv = std::move(other->conv);
    } else if (auto twoparts = convertdatafile(path, path)) {
      conv = std::move(*twoparts);
    } else {
      readdatalines(path, sink);
      conv = sink.run->finish();
    }
  } catch (const textreaderror &e) {
    throw stop{kExitUsage, std::string("Cannot read ") + e.what()};
  } catch (const std::system_error &e) {
    throw stop{kExitUsage, "Cannot read " + shownname(file) + ": " + e.code().message()};
  } catch (const std::bad_alloc &) {
    throw stop{kExitUsage, outofmemory("read " + file)};
  } catch (const std::length_error &) {
    throw stop{kExitUsage, outofmemory("read " + file)};
  }
  sink.run.reset();
  sink.pages.reset();
  if (!conv.ok())
    throw stop{kExitUsage, conv.error,
               other && other->explained ? ""
                                         : causetext(path, other ? &*other : nullptr, conv.error)};
  return std::move(*conv.result);
}

// A tagged file's dataset (or all of them, for a multi fit) fitted.
void fittagged(const options &o, ConversionResult &result, fitrun &run) {
  if (o.xerr)
    throw stop{kExitUsage, std::string("--xerr is for column files; ") + kTaggedLayout};
  if (o.columnsgiven)
    throw stop{kExitUsage,
               std::string("--x, --y and --err are for column files; ") + kTaggedLayout};
  run.datasets = std::move(result.datasets);
  if (o.multi)
    multifit(run, o);
  else
    singlefit(run, o, o.dataset ? findtagged(run.datasets, *o.dataset) : 0);
}

// A column file's dataset made and fitted; o's columns named by title are
// looked up in the file's header first.
void fitcolumns(options &o, ConversionResult &result, const std::string &path,
                const std::optional<otherdata> &other, fitrun &run) {
  if (o.dataset)
    throw stop{kExitUsage, "--dataset is for tagged files; this file has the column layout "
                           "(choose its columns with --x, --y and --err)"};
  if (o.multi)
    throw stop{kExitUsage, "--multi needs a tagged file with two or more datasets; this file "
                           "has the column layout"};
  const int cols = result.grid.colcount();
  const bool named = !o.xname.empty() || !o.yname.empty() || !o.err.name.empty() ||
                     (o.xerr && !o.xerr->name.empty());
  const otherdata *read = other ? &*other : nullptr;
  if (named) {
    const std::vector<std::string> titles =
        read && read->imported ? read->table.titles : texttitles(path, read, cols);
    if (const std::string why = resolvecolumns(o, titles, cols); !why.empty())
      throw stop{kExitUsage, why};
  }
  try {
    run.datasets.push_back(columndataset(result.grid, o));
  } catch (stop &s) {
    if (s.zerorow > 0)
      s.hint = causetext(path, read, s.message, s.zerorow);
    throw;
  }
  result.grid = numericgrid();
  singlefit(run, o, 0);
}

// The gnuplot texts describe the fits too: they are made here and written
// with the report, once it has been made as well.
void makegnuplot(fitrun &run, const std::string &script) {
  gnuplotchart chart;
  for (const auto &d : run.datasets)
    chart.datasets.push_back(d.get());
  for (std::size_t i = 0; i < run.fits.size(); ++i)
    chart.fits.push_back({run.fits[i].get(), run.fitdataset[i]});
  chart.title = run.title;
  try {
    run.gnuplot = gnuplotfiletexts(chart, script);
  } catch (const std::bad_alloc &) {
    throw stop{kExitFitFailed, outofmemory("describe the fit")};
  } catch (const std::exception &e) {
    failedfit(e);
  }
}

// Reads, converts and fits one file into run, and makes the gnuplot texts
// when script is not empty. Raises stop on failure.
void fitfile(const options &given, const std::string &file, const std::string &script,
             fitrun &run) {
  options o = given;
  readyplugin(o, run);
  const std::string path = absolutepath(file);
  if (isprojectinput(path)) {
    projectinput(o, path, run);
    return;
  }
  std::optional<otherdata> other;
  ConversionResult result = readinput(file, path, other);
  run.title = result.title;
  run.read = true;
  if (result.layout == textlayout::tagged)
    fittagged(o, result, run);
  else
    fitcolumns(o, result, path, other, run);
  if (!script.empty())
    makegnuplot(run, script);
}

const std::string &modelkey(const fitrun &run, const options &o, std::size_t i) {
  return i < run.modelkeys.size() ? run.modelkeys[i] : o.model.key;
}

void writeout(const std::string &text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0)
    throw stop{kExitFitFailed, "Cannot write the result to standard output"};
}

// The labels of the model's parameters, for a CSV header when no file gave
// a fit to take them from; none when the model cannot be made.
std::vector<std::string> modellabels(const options &o) {
  try {
    std::unique_ptr<bfit> fit;
    if (o.model.degree > 0) {
      fit = std::make_unique<polynom>(o.model.degree);
    } else if (o.model.type == trendtype::custom) {
      const PluginLibrary plugin = loadplugin();
      fit = makefit(o.model.type, &plugin);
    } else {
      fit = makefit(o.model.type, nullptr);
    }
    return parameterlabels(*fit);
  } catch (...) {
    return {};
  }
}

// Where --residuals writes: a file of its own or standard output. The file
// is written beside its place and put there whole at the end of the run; it
// is begun only once a fit has been made, so a run that fits nothing leaves
// an old file as it was.
// --band writes the same way, one block of the band per fit.
struct residualsink {
  using writer = std::function<void(const textsink &, const bfit &, const std::string &)>;
  std::string name;
  std::string what = "the residuals";
  writer block = [](const textsink &out, const bfit &fit, const std::string &datafile) {
    writeresiduals(out, fit, datafile);
  };
  bool tostdout = false;
  atomicfile file;
  bool written = false; // a block has been written
  void write(const bfit &fit, const std::string &datafile) {
    if (!tostdout && !file.isopen() && !written)
      if (const int err = file.open(name))
        throw stop{kExitFitFailed, "Cannot write " + name + ": " + std::strerror(err)};
    const textsink out = [this](std::string_view text) {
      if (tostdout)
        std::fwrite(text.data(), 1, text.size(), stdout);
      else
        file.write(text);
    };
    if (written)
      out("\n\n"); // blocks apart as gnuplot's index expects
    block(out, fit, datafile);
    written = true;
  }
  // Puts the file in place; false with the reason in *why when anything
  // failed to reach it.
  bool finish(std::string *why) {
    if (tostdout) {
      if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
      *why = "Cannot write " + what + " to standard output";
      return false;
    }
    if (!written)
      return true;
    const int err = file.commit();
    if (err)
      *why = "Cannot write " + what + " to " + name + ": " + std::strerror(err);
    return err == 0;
  }
};

// The band of one fit across its dataset's x range: x, fitted y, lower and
// upper limit at 201 points, under '#' comment lines.
void writeband(const textsink &out, const bfit &fit, const std::string &datafile, bandlevel level) {
  const dataset *d = fit.data;
  double low = 0.0, high = 0.0;
  if (d && d->x && d->x->n > 0) {
    low = high = (*d->x)[0];
    for (int i = 1; i < d->x->n; ++i) {
      low = std::min(low, (*d->x)[i]);
      high = std::max(high, (*d->x)[i]);
    }
  }
  const auto band = confidenceband(fit, level, low, high, 201);
  if (band.empty() || std::isnan(band.front().lower))
    throw stop{kExitFitFailed, "orvalle-fit: the fit " + fit.name +
                                   " gives no covariance, so it has no confidence band"};
  std::string s = "# file: " + datafile + "\n# fit: " + fit.name +
                  "\n# band: " + bandleveltext(level) + "\n# x\tfitted\tlower\tupper\n";
  for (const bandpoint &p : band) {
    const double values[4] = {p.x, p.y, p.lower, p.upper};
    for (int k = 0; k < 4; ++k) {
      if (k)
        s += '\t';
      s += shortesttext(values[k]);
    }
    s += '\n';
  }
  out(s);
}

// A file as the command compares it with the others: the file itself when
// it exists, and its full path with the symbolic links resolved.
struct fileidentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved;
  explicit fileidentity(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      exists = true;
      device = info.st_dev;
      inode = info.st_ino;
    }
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    resolved = ec ? path : p.string();
  }
  bool operator==(const fileidentity &o) const {
    return (exists && o.exists && device == o.device && inode == o.inode) || resolved == o.resolved;
  }
};

// Refuses outputs that would replace a data file or one another.
void checkoutputs(const options &o, const std::string &script) {
  std::vector<std::pair<std::string, std::string>> outputs; // option, file
  if (o.residuals && *o.residuals != "-")
    outputs.emplace_back("--residuals", *o.residuals);
  if (o.band && *o.band != "-")
    outputs.emplace_back("--band", *o.band);
  if (!script.empty()) {
    outputs.emplace_back("--gnuplot", script);
    outputs.emplace_back("--gnuplot", gnuplotdatapath(script));
  }
  std::vector<fileidentity> seen;
  for (const auto &[option, path] : outputs) {
    const fileidentity out(path);
    for (const auto &file : o.files)
      if (out == fileidentity(file))
        throw stop{kExitUsage, "orvalle-fit: " + option + " " + path + " is the data file " + file +
                                   ": choose another file to write"};
    for (const auto &other : seen)
      if (out == other)
        throw stop{kExitUsage, "orvalle-fit: " + option + " " + path +
                                   " is also written by another option: choose another file"};
    seen.push_back(out);
  }
}

// As the save dialog does: a script name without an extension gets ".gnu".
// Empty without --gnuplot.
std::string scriptpath(const options &o) {
  if (!o.gnuplot)
    return {};
  std::string script = *o.gnuplot;
  if (std::filesystem::path(script).extension().empty())
    script += ".gnu";
  script = absolutepath(script);
  if (gnuplotdatapath(script) == script)
    throw stop{kExitUsage, "orvalle-fit: --gnuplot " + *o.gnuplot +
                               ": the script may not end in .gdt, which names its data file"};
  return script;
}

// A CSV record waits for the header, whose parameter columns come from the
// first fit; a failed file's record waits as its file name alone.
struct csvitem {
  std::string records;
  std::string failedfile;
  std::string status; // of a failed file: "fit failed" or "not read"
  std::string reason;
};

// One run over the files: the outputs and what the files gave, for the
// reports written at the end.
struct batch {
  explicit batch(const options &given) : o(given) {}
  const options &o;
  std::string script;
  residualsink residuals;
  residualsink band;
  // --residuals - and --band - put their table on standard output instead.
  bool report = true;
  bool several = false;
  int worst = kExitOk;
  std::string jsonfits, jsonfailed;
  std::vector<csvitem> csvitems;
  std::optional<std::vector<std::string>> labels;
};

void opensinks(batch &b) {
  const options &o = b.o;
  if (o.residuals) {
    b.residuals.name = *o.residuals;
    b.residuals.tostdout = *o.residuals == "-";
  }
  if (o.band) {
    b.band.name = *o.band;
    b.band.tostdout = *o.band == "-";
    b.band.what = "the band";
    const bandlevel level = o.bandat;
    b.band.block = [level](const textsink &out, const bfit &fit, const std::string &datafile) {
      writeband(out, fit, datafile, level);
    };
  }
  b.report = !(o.residuals && *o.residuals == "-") && !(o.band && *o.band == "-");
  b.several = o.files.size() > 1;
}

// The notes of a file's fits, scaled first with --scale-errors.
fitnotes notesof(const options &o, const fitrun &run, const std::string &shown) {
  fitnotes notes;
  notes.file = shown;
  notes.scaleasked = o.scaleerrors;
  if (o.scaleerrors) {
    std::vector<bfit *> all;
    for (const auto &f : run.fits)
      all.push_back(f.get());
    // A multi fit's lines are one system of K + 1 parameters.
    const int parameters =
        o.multi ? static_cast<int>(all.size()) + 1 : static_cast<int>(all.front()->order) + 1;
    notes.scale = scaleuncertainties(all, parameters);
  }
  return notes;
}

std::string csvrecords(batch &b, const fitrun &run, const std::vector<const bfit *> &fits,
                       const fitnotes &notes) {
  if (!b.labels)
    b.labels = parameterlabels(*fits.front());
  std::string out;
  for (std::size_t i = 0; i < fits.size(); ++i) {
    // A project's fits of other models may have other parameters than the
    // header's columns: none is put under another's name.
    const std::vector<std::string> own = parameterlabels(*fits[i]);
    if (own.size() > b.labels->size() || !std::equal(own.begin(), own.end(), b.labels->begin()))
      throw stop{kExitUsage, "The fit \"" + fits[i]->name +
                                 "\" has other parameters than the CSV header's "
                                 "columns; use --json for fits of several models"};
    out += csvfitrecord(*fits[i], modelkey(run, b.o, i), notes, b.labels->size());
  }
  return out;
}

std::string jsonrecords(const batch &b, const fitrun &run, const std::vector<const bfit *> &fits,
                        const fitnotes &notes) {
  std::string out;
  for (std::size_t i = 0; i < fits.size(); ++i)
    out += std::string(b.jsonfits.empty() && out.empty() ? "\n  " : ",\n  ") +
           jsonfit(*fits[i], modelkey(run, b.o, i), notes);
  return out;
}

std::string textrecords(const batch &b, const std::vector<const bfit *> &fits,
                        const fitnotes &notes, const std::string &shown) {
  const options &o = b.o;
  std::string out = b.several ? "==> " + shown + " <==\n" : "";
  if (o.report) {
    for (const bfit *f : fits)
      out += resultstext(*f, *o.report);
    return out;
  }
  return out + (o.covariance || o.scaleerrors ? detailreport(fits, notes, o.covariance)
                                              : textreport(fits));
}

// This file's text, JSON objects or CSV records. It is made before
// anything of the file is written: a fit that fails while it is described
// leaves nothing behind.
std::string describe(batch &b, const fitrun &run, const std::vector<const bfit *> &fits,
                     const fitnotes &notes, const std::string &shown) {
  try {
    if (!b.report)
      return {}; // --residuals - : the residuals are the whole output.
    if (b.o.csv)
      return csvrecords(b, run, fits, notes);
    if (b.o.json)
      return jsonrecords(b, run, fits, notes);
    return textrecords(b, fits, notes, shown);
  } catch (const stop &) {
    throw;
  } catch (const std::bad_alloc &) {
    throw stop{kExitFitFailed, outofmemory("describe the fit")};
  } catch (const std::exception &e) {
    failedfit(e);
  }
}

// A file that gave no fit: its messages said, its JSON object and CSV
// record kept.
void recordfailure(batch &b, const stop &s, const std::string &shown, bool read) {
  printstop(s);
  b.worst = std::max(b.worst, s.status);
  std::string messages;
  std::vector<std::string> replaced;
  bool bad = false;
  for (const auto &m : filemessages)
    messages += (messages.empty() ? "" : ", ") + jsonstring(m, &bad);
  if (bad)
    replaced.emplace_back("messages");
  bad = false;
  const std::string filejson = jsonstring(shown, &bad);
  if (bad)
    replaced.insert(replaced.begin(), "file");
  b.jsonfailed += std::string(b.jsonfailed.empty() ? "" : ", ") + "{\"file\": " + filejson +
                  ", \"status\": " + std::to_string(s.status) + ", \"messages\": [" + messages +
                  "]" + jsonreplaced(replaced) + "}";
  std::string reason;
  for (const auto &m : filemessages)
    reason += (reason.empty() ? "" : "; ") + m;
  b.csvitems.push_back({"", shown, read ? "fit failed" : "not read", reason});
}

// Fits one file and writes or keeps what it gave.
void onefile(batch &b, const std::string &file) {
  const options &o = b.o;
  const std::string shown = shownname(file);
  messageprefix = b.several ? shown + ": " : "";
  filemessages.clear();
  fitrun run;
  std::vector<const bfit *> fits;
  std::string out;
  try {
    fitfile(o, file, b.script, run);
    for (const auto &f : run.fits)
      fits.push_back(f.get());
    const fitnotes notes = notesof(o, run, shown);
    out = describe(b, run, fits, notes, shown);
    if (std::string why; run.gnuplot && !writegnuplottexts(*run.gnuplot, &why))
      throw stop{kExitFitFailed, why};
  } catch (const stop &s) {
    recordfailure(b, s, shown, run.read);
    return;
  }
  messageprefix.clear();
  for (const bfit *f : fits) {
    if (o.residuals)
      b.residuals.write(*f, shown);
  }
  for (const bfit *f : fits) {
    if (o.band)
      b.band.write(*f, shown);
  }
  if (o.csv)
    b.csvitems.push_back({out, "", "", ""});
  else if (o.json)
    b.jsonfits += out;
  else if (b.report)
    writeout(out);
}

// The CSV table or the JSON object of all files, written at the end.
void writereports(batch &b) {
  const options &o = b.o;
  if (b.report && o.csv) {
    if (!b.labels)
      b.labels = modellabels(o);
    std::string out = csvheader(*b.labels, o.scaleerrors);
    for (const auto &item : b.csvitems)
      out += item.failedfile.empty()
                 ? item.records
                 : csvfailedrecord(item.failedfile, o.model.key, b.labels->size(), o.scaleerrors,
                                   item.status, item.reason);
    writeout(out);
  } else if (b.report && o.json && (b.several || b.worst == kExitOk)) {
    // One file that failed prints no result, as ever.
    // With --band the level of the band written beside the report.
    const std::string bandjson =
        o.band ? ",\n \"band\": {\"level\": " + jsonstring(bandleveltext(o.bandat)) +
                     ", \"factor\": " + jsonnumber(bandfactor(o.bandat)) + "}"
               : "";
    writeout("{\"fits\": [" + b.jsonfits + (b.jsonfits.empty() ? "" : "\n") + "],\n \"failed\": [" +
             b.jsonfailed + "]" + bandjson + "}\n");
  }
}

int execute(const options &o) {
  // The engine's messages (for instance why an iteration failed) go to
  // standard error as they come.
  setlogwindow([](int, int) {
    const std::string text = pendingmessage();
    if (!text.empty())
      printerr(text);
  });
  batch b(o);
  b.script = scriptpath(o);
  checkoutputs(o, b.script);
  opensinks(b);
  for (const std::string &file : o.files)
    onefile(b, file);
  messageprefix.clear();
  writereports(b);
  if (std::string why; !b.residuals.finish(&why) || !b.band.finish(&why))
    throw stop{kExitFitFailed, why};
  return b.worst;
}

} // namespace

int run(const std::vector<std::string> &args) {
  try {
    std::string error;
    auto o = parseoptions(args, &error);
    if (!o) {
      printerr("orvalle-fit: " + error);
      printerr("Try 'orvalle-fit --help' for more information.");
      return kExitUsage;
    }
    if (o->help) {
      std::fputs(helptext(), stdout);
      return kExitOk;
    }
    if (o->version) {
      std::fputs("orvalle-fit (Orvalle) " ORVALLE_VERSION "\n", stdout);
      return kExitOk;
    }
    return execute(*o);
  } catch (const stop &s) {
    printstop(s);
    return s.status;
  } catch (const std::bad_alloc &) {
    printerr(outofmemory("finish"));
    return kExitFitFailed;
  } catch (const std::exception &e) {
    printerr(std::string("orvalle-fit: ") + e.what());
    return kExitFitFailed;
  } catch (...) {
    printerr("orvalle-fit: unexpected failure");
    return kExitFitFailed;
  }
}

} // namespace orvalle::cli
