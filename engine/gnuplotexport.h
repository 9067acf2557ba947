// The gnuplot export of a plotter: a script that redraws the main chart with
// its error bars and fitted curves above the deviations chart, and the data
// file (".gdt") it reads. Both texts end their lines in CR LF and write
// numbers with '.' whatever the user's locale, so gnuplot reads them
// anywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/bfit.h"
#include "engine/dataset.h"
#include "engine/report.h"

namespace orvalle {

// One fit of the export with the position of its dataset among the
// exported datasets (-1 when it is not among them).
struct gnuplotfit {
  const bfit *fit = nullptr;
  int datasetindex = -1;
};

// What the export draws: the datasets and fits in the plotter's order, the
// main chart's title and the two axis titles (a single blank each at first).
struct gnuplotchart {
  std::vector<const dataset *> datasets;
  std::vector<gnuplotfit> fits;
  std::string title;
  std::string xtitle = " ";
  std::string ytitle = " ";
  // The main chart's logarithmic axes; the deviations chart's x axis
  // follows logx.
  bool logx = false;
  bool logy = false;
  // With the legend on, each dataset and curve is titled and drawn in the
  // colour the chart shows (0xRRGGBB, one per dataset and one per fit, in
  // their order); with it off the items have no title.
  bool legend = false;
  std::vector<colour> datasetcolours;
  std::vector<colour> fitcolours;
  // The fits' confidence band, drawn with filledcurves behind the curves
  // from xlow to xhigh (the chart's x range); none leaves the script as
  // without it.
  bandlevel band = bandlevel::none;
  double xlow = 0.0;
  double xhigh = 0.0;
};

inline constexpr const char *kGnuplotEol = "\r\n";

// The data file's path: the script's path with its three-letter extension
// (its last four characters, ".gnu") replaced by ".gdt"; a script name
// without such an extension gets ".gdt" appended.
std::string gnuplotdatapath(const std::string &scriptpath);

// Text for a gnuplot double-quoted string: backslash, double quote and
// backquote (which would run a shell command) are escaped; line breaks
// become blanks.
std::string gnuplotquoted(std::string_view text);

// The data file: per dataset "# Data Set " + name, one line per point
// (x TAB y TAB error, 10 significant digits), then two empty lines.
std::string gnuplotdatafile(const std::vector<const dataset *> &datasets);

// The script. datapath is the data file's full path as the script names it
// (see gnuplotdatapath); its backslashes are doubled in the plot items.
// The opening comment is the information text of the fits, written with '.'.
std::string gnuplotscript(const gnuplotchart &chart, const std::string &datapath);

// Writes text to path through a temporary file in the same folder that is
// renamed over path, so that a failed write leaves no half file (see
// atomicfile.h: a symbolic link is written through, an existing file keeps
// its permissions). Returns false with the reason in *why.
bool writetextfile(const std::string &path, std::string_view text, std::string *why);

// The two files of an export: where they go and what they hold.
struct gnuplottexts {
  std::string datapath;
  std::string data;
  std::string scriptpath;
  std::string script;
};

// Makes both texts (this describes the fits, which may throw) without
// writing anything.
gnuplottexts gnuplotfiletexts(const gnuplotchart &chart, const std::string &scriptpath);

// Writes the pair: both texts go to temporary files first and are renamed
// into place only when both are whole, the data file first and the script
// last; when the script's rename fails the data file is put back as it
// was. So either both files change or neither does. Only should the
// machine stop between the two renames does the new data file stand beside
// the old script (whose plot items name it); the temporary files such a
// stop leaves are removed by the next write. Returns false with the reason
// in *why.
bool writegnuplottexts(const gnuplottexts &texts, std::string *why);

// gnuplotfiletexts, then writegnuplottexts. scriptpath should be absolute,
// since the script names the data file by it. Returns false with the reason
// in *why.
bool writegnuplotfiles(const gnuplotchart &chart, const std::string &scriptpath, std::string *why);

} // namespace orvalle
