#include "engine/gnuplotexport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/atomicfile.h"
#include "engine/information.h"

namespace orvalle {

namespace {

// Sets the engine's decimal separator for as long as it lives, so that the
// fits' own lines in a file use '.'.
class separatorscope {
public:
  explicit separatorscope(char c) : saved_(decimalseparator()) { setdecimalseparator(c); }
  ~separatorscope() { setdecimalseparator(saved_); }
  separatorscope(const separatorscope &) = delete;
  separatorscope &operator=(const separatorscope &) = delete;

private:
  char saved_;
};

void addline(std::string &out, std::string_view line) {
  out.append(line);
  out.append(kGnuplotEol);
}

// A comment line; a trailing backslash would continue the comment over the
// next line of the script, so a blank is put after it.
void addcomment(std::string &out, std::string_view text) {
  std::string line = "# ";
  for (char c : text)
    line += (c == '\r' || c == '\n') ? ' ' : c;
  if (!line.empty() && line.back() == '\\')
    line += ' ';
  addline(out, line);
}

std::string quoted(std::string_view text) {
  std::string s(1, '"');
  s += gnuplotquoted(text);
  s += '"';
  return s;
}

// The function's name and argument, "y<i>(x)", padded to six characters.
std::string functionref(int i) {
  std::string s = "y" + std::to_string(i) + "(x)";
  if (s.size() < 6)
    s.append(6 - s.size(), ' ');
  return s;
}

std::string basename(const std::string &path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// gnuplot reads ^ _ @ & ~ { } in a title as enhanced-text markup (a file
// name such as spring_two_temps would show a subscript): such a text gets
// "noenhanced" after it, so that gnuplot shows it as it is written.
std::string literally(std::string_view text) {
  return text.find_first_of("^_@&~{}") == std::string_view::npos ? std::string()
                                                                 : std::string("noenhanced ");
}

std::string rgb(colour c) {
  static const char digits[] = "0123456789abcdef";
  std::string s = "#";
  for (int shift = 20; shift >= 0; shift -= 4)
    s += digits[(c >> shift) & 0xf];
  return s;
}

// An item's title and, with the legend on, its colour: " ti \"\"" as the
// plain export writes it, or the name and "lc rgb" after the style.
struct itemlook {
  std::string title = " ti \"\"";
  std::string colour;
};

itemlook lookof(const gnuplotchart &chart, const std::string &name,
                const std::vector<colour> &colours, std::size_t k) {
  itemlook look;
  if (!chart.legend)
    return look;
  look.title = " ti " + quoted(name) + (literally(name).empty() ? "" : " noenhanced");
  if (k < colours.size())
    look.colour = " lc rgb \"" + rgb(colours[k]) + "\"";
  return look;
}

// The band of fit i as an inline data block "$band<i>" (x, lower, upper),
// or nothing when the fit has no covariance or the chart no x range.
bool addbandblock(std::string &out, const gnuplotchart &chart, const bfit &fit, std::size_t i) {
  if (chart.band == bandlevel::none || !(chart.xhigh > chart.xlow))
    return false;
  const auto band =
      confidenceband(fit, chart.band, chart.xlow, chart.xhigh, 101, chart.logx && chart.xlow > 0);
  if (band.empty() || std::isnan(band.front().lower))
    return false;
  addline(out, "$band" + std::to_string(i) + " << EOD");
  for (const bandpoint &p : band)
    addline(out, generaltext(p.x, 10, '.') + " " + generaltext(p.lower, 10, '.') + " " +
                     generaltext(p.upper, 10, '.'));
  addline(out, "EOD");
  return true;
}

// The error a deviation is drawn with: the y error, or for a fit with x
// errors the effective error sqrt(sy^2 + (f'(x) sx)^2) the chart shows,
// with f' the fit's slope by central difference (s<i>(x)).
std::string deviationerror(const bfit &fit, const dataset *d, int i) {
  if (!fit.xweights || !d || !d->hasxerrors())
    return "3";
  return "(sqrt($3**2+(s" + std::to_string(i) + "($1)*$4)**2))";
}

} // namespace

std::string gnuplotdatapath(const std::string &scriptpath) {
  const std::string base = basename(scriptpath);
  if (base.size() > 4 && base[base.size() - 4] == '.')
    return scriptpath.substr(0, scriptpath.size() - 4) + ".gdt";
  return scriptpath + ".gdt";
}

std::string gnuplotquoted(std::string_view text) {
  std::string s;
  s.reserve(text.size() + 2);
  for (char c : text) {
    switch (c) {
    case '\\':
    case '"':
    case '`':
      s += '\\';
      s += c;
      break;
    case '\r':
    case '\n':
      s += ' ';
      break;
    default:
      s += c;
    }
  }
  return s;
}

std::string gnuplotdatafile(const std::vector<const dataset *> &datasets) {
  std::string out;
  for (const dataset *d : datasets) {
    if (!d)
      continue;
    std::string head = "# Data Set ";
    for (char c : d->name)
      head += (c == '\r' || c == '\n') ? ' ' : c;
    addline(out, head);
    int n = 0;
    if (d->x && d->y && d->yerr)
      n = std::min({d->x->n, d->y->n, d->yerr->n});
    for (int k = 0; k < n; ++k) {
      out += generaltext((*d->x)[k], 10, '.');
      out += '\t';
      out += generaltext((*d->y)[k], 10, '.');
      out += '\t';
      out += generaltext((*d->yerr)[k], 10, '.');
      // The x error, for a dataset that has them, in a fourth column.
      if (d->hasxerrors()) {
        out += '\t';
        out += generaltext(k < d->xerr->n ? (*d->xerr)[k] : 0.0, 10, '.');
      }
      out += kGnuplotEol;
    }
    out += kGnuplotEol;
    out += kGnuplotEol;
  }
  return out;
}

namespace {

// The dataset of fit i among the exported ones, or null.
const dataset *datasetoffit(const gnuplotchart &chart, std::size_t i) {
  const int d = chart.fits[i].datasetindex;
  return d >= 0 && d < static_cast<int>(chart.datasets.size())
             ? chart.datasets[static_cast<std::size_t>(d)]
             : nullptr;
}

// The information on the fits as comment lines, numbers with '.'.
void addinformation(std::string &out, const gnuplotchart &chart) {
  separatorscope dot('.');
  std::vector<const bfit *> fits;
  for (const auto &f : chart.fits)
    fits.push_back(f.fit);
  for (const auto &line : informationlines(fits, '.'))
    addcomment(out, line);
}

// The main chart's settings, then one definition per fit and the slopes of
// the fits with x errors (for their deviations' errors).
void addmainsettings(std::string &out, const gnuplotchart &chart) {
  addline(out, "# Gnuplot Script exported by Vantrel 0.9 beta");
  addline(out, "set grid");
  addline(out, "set multiplot");
  addline(out, "set size 1,0.7");
  addline(out, "set origin 0.0,0.3");
  addline(out, "set linestyle 2 lt 1 pt 2");
  addline(out, "set linestyle 1 lt 1 lw 3");
  addline(out, "set title " + quoted(chart.title) + " " + literally(chart.title));
  addline(out, "set xlabel " + quoted(chart.xtitle) + " " + literally(chart.xtitle));
  addline(out, "set ylabel " + quoted(chart.ytitle) + " " + literally(chart.ytitle));
  if (chart.logx)
    addline(out, "set logscale x 10");
  if (chart.logy)
    addline(out, "set logscale y 10");
  for (std::size_t i = 0; i < chart.fits.size(); ++i)
    if (chart.fits[i].fit)
      addline(out, chart.fits[i].fit->formula(static_cast<int>(i)));
  for (std::size_t i = 0; i < chart.fits.size(); ++i) {
    const gnuplotfit &f = chart.fits[i];
    if (!f.fit || deviationerror(*f.fit, datasetoffit(chart, i), 0) == "3")
      continue;
    const std::string n = std::to_string(i);
    addline(out, "s" + n + "(x) = (y" + n + "(x+1e-6*(abs(x)+1))-y" + n +
                     "(x-1e-6*(abs(x)+1)))/(2e-6*(abs(x)+1))");
  }
}

// The main plot's items: the bands first (their data blocks go to out), so
// that the points and curves are drawn over them, then the datasets, then
// the curves.
std::vector<std::string> mainitems(std::string &out, const gnuplotchart &chart,
                                   const std::string &P) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < chart.fits.size(); ++i) {
    if (!chart.fits[i].fit || !addbandblock(out, chart, *chart.fits[i].fit, i))
      continue;
    const colour c = i < chart.fitcolours.size() ? chart.fitcolours[i] : 0x808080;
    items.push_back("$band" + std::to_string(i) +
                    " using 1:2:3 ti \"\" with filledcurves fc rgb \"" + rgb(c) +
                    "\" fs transparent solid 0.25 noborder");
  }
  for (std::size_t k = 0; k < chart.datasets.size(); ++k) {
    const dataset *d = chart.datasets[k];
    const bool xy = d && d->hasxerrors();
    const itemlook look =
        lookof(chart, d && !d->name.empty() ? d->name : "Data", chart.datasetcolours, k);
    items.push_back(P + " index " + std::to_string(k) + ":" + std::to_string(k) +
                    (xy ? " using 1:2:4:3" : " using 1:2:3") + look.title +
                    (xy ? " with xyerrorbars linestyle 2" : " with yerrorbars linestyle 2") +
                    look.colour);
  }
  for (std::size_t i = 0; i < chart.fits.size(); ++i)
    if (chart.fits[i].fit) {
      const itemlook look = lookof(chart, chart.fits[i].fit->name, chart.fitcolours, i);
      items.push_back(functionref(static_cast<int>(i)) + look.title + " with lines linestyle 1 " +
                      look.colour);
    }
  return items;
}

// The deviations chart: its settings and its plot line.
void adddeviations(std::string &out, const gnuplotchart &chart, const std::string &P) {
  addline(out, "set origin 0.0,0.0");
  addline(out, "set size 1,0.3");
  addline(out, "g(x) = 0");
  addline(out, "set title \"Deviations in the Ordinates\" ");
  addline(out, "set xlabel \"\"");
  addline(out, "set ylabel \" \"");
  // The deviations' axis is linear whatever the main chart's y axis.
  if (chart.logy)
    addline(out, "unset logscale y");
  std::string dev = "plot g(x) ti \"\" with lines linestyle 1";
  for (std::size_t i = 0; i < chart.fits.size(); ++i) {
    const dataset *data = datasetoffit(chart, i);
    // A fit whose dataset is not exported has no points to compare with.
    if (!chart.fits[i].fit || !data)
      continue;
    const auto d = static_cast<std::size_t>(chart.fits[i].datasetindex);
    const std::string error = deviationerror(*chart.fits[i].fit, data, static_cast<int>(i));
    const std::string look = chart.legend && d < chart.datasetcolours.size()
                                 ? " lc rgb \"" + rgb(chart.datasetcolours[d]) + "\""
                                 : "";
    dev += " , " + P + " index " + std::to_string(d) + ":" + std::to_string(d) + " using 1:($2-y" +
           std::to_string(i) + "($1)):" + error + " ti \"\" with yerrorbars linestyle 2" + look;
  }
  addline(out, dev);
}

} // namespace

std::string gnuplotscript(const gnuplotchart &chart, const std::string &datapath) {
  std::string out;
  addinformation(out, chart);
  addmainsettings(out, chart);
  const std::string P = quoted(datapath);
  const std::vector<std::string> items = mainitems(out, chart, P);
  // "plot" without an item is an error in gnuplot: a chart with nothing on
  // it leaves its plot line out.
  if (!items.empty()) {
    std::string plot = "plot ";
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (j > 0)
        plot += " , ";
      plot += items[j];
    }
    addline(out, plot);
  }
  adddeviations(out, chart, P);
  addline(out, "set nomultiplot");
  return out;
}

namespace {

std::string failuretext(const std::string &path, int err) {
  return "Could not write " + path + ": " + std::strerror(err);
}

} // namespace

bool writetextfile(const std::string &path, std::string_view text, std::string *why) {
  const int err = writefilewhole(path, text);
  if (err && why)
    *why = failuretext(path, err);
  return err == 0;
}

gnuplottexts gnuplotfiletexts(const gnuplotchart &chart, const std::string &scriptpath) {
  gnuplottexts t;
  t.scriptpath = scriptpath;
  t.datapath = gnuplotdatapath(scriptpath);
  t.data = gnuplotdatafile(chart.datasets);
  t.script = gnuplotscript(chart, t.datapath);
  return t;
}

bool writegnuplottexts(const gnuplottexts &t, std::string *why) {
  auto fail = [&](const std::string &path, int err) {
    if (why)
      *why = failuretext(path, err);
    return false;
  };
  if (t.datapath == t.scriptpath) {
    if (why)
      *why = "The gnuplot script " + t.scriptpath + " would overwrite its own data file";
    return false;
  }
  if (t.scriptpath.empty())
    return fail(t.scriptpath, ENOENT);
  // Both files are written whole beside their places first (what earlier
  // writes left there half done is removed); only then are they renamed
  // into place, the data file first and the script, which names it, last.
  // The data file goes back to what it was when the script cannot follow
  // it, so neither changes unless both do. Should the machine stop between
  // the two renames, the new data file stands beside the old script.
  atomicfile data;
  atomicfile script;
  if (const int err = data.open(t.datapath))
    return fail(t.datapath, err);
  if (const int err = script.open(t.scriptpath))
    return fail(t.scriptpath, err);
  if (script.target() == data.target()) {
    if (why)
      *why = "The gnuplot script " + t.scriptpath + " would overwrite its own data file";
    return false;
  }
  data.write(t.data);
  if (const int err = data.finish())
    return fail(t.datapath, err);
  script.write(t.script);
  if (const int err = script.finish())
    return fail(t.scriptpath, err);
  if (const int err = data.place(true))
    return fail(t.datapath, err);
  if (const int err = script.place()) {
    data.undo();
    return fail(t.scriptpath, err);
  }
  data.settle();
  return true;
}

bool writegnuplotfiles(const gnuplotchart &chart, const std::string &scriptpath, std::string *why) {
  gnuplottexts t;
  t.scriptpath = scriptpath;
  t.datapath = gnuplotdatapath(scriptpath);
  if (t.datapath == scriptpath)
    return writegnuplottexts(t, why);
  return writegnuplottexts(gnuplotfiletexts(chart, scriptpath), why);
}

} // namespace orvalle
