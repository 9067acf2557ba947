// Project files: everything a plotter holds that the user made, kept as a
// versioned JSON text so that the work can be opened again and refitted.
//
// A project holds the imported numbers (the grid's columns, or the datasets
// of a tagged file) with the file they came from, how each dataset was made
// (columns and error choices, colour, x errors), every fit in its order
// (trend type, name, dataset, starting values, formula text, multi-fit
// grouping and kind, solver), and the chart's titles, limits, scales, fonts,
// legend, band and track bar. Fits are stored by description, never by
// result: opening a project fits them again.
//
// Numbers are JSON numbers written in their shortest form that reads back
// to the same double (nlohmann-json's dtoa), and read with correct rounding,
// so every value returns bit for bit. -0.0 keeps its sign. A value with no
// number (an empty grid cell) is null.
//
// Nothing in a project is run or loaded: a plug-in fit names its model, and
// the plug-in is found as always; a formula is only parsed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dataset.h"
#include "engine/report.h"
#include "engine/trendtypes.h"

namespace orvalle::project {

// The value of "format" and the version this program writes and reads.
inline constexpr const char *kFormatName = "orvalle-project";
inline constexpr int kVersion = 1;

// Limits on what a project may hold; a file beyond them is refused.
inline constexpr std::size_t kMaxDatasets = 1000;
inline constexpr std::size_t kMaxFits = 1000;
inline constexpr std::size_t kMaxColumns = 10000;
inline constexpr std::size_t kMaxValues = 50'000'000; // numbers in all
inline constexpr std::size_t kMaxText = 65536;        // characters of one text
inline constexpr std::size_t kMaxFileBytes = 1024u * 1024u * 1024u;
inline constexpr int kMaxDepth = 16; // nesting of arrays and objects

// What is wrong with a project text: the message names what and where.
class project_error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const rgb &) const = default;
};

// Where the y errors or x errors of a dataset made from columns come from.
enum class errorkind { none, column, percentage, absolute };
struct errorsource {
  errorkind kind = errorkind::none;
  int column = -1;    // column
  double value = 0.0; // percentage or absolute
  bool operator==(const errorsource &) const = default;
};

struct datasetrecord {
  std::string name;
  // Column layout: the columns of x and y and where the errors come from.
  int xcolumn = -1, ycolumn = -1;
  errorsource yerrors, xerrors;
  // Tagged layout: the dataset's own numbers and its tag character.
  std::string tag;
  std::vector<double> x, y, yerr, xerr;
  // The colour the dataset was made with, and its points' colour now.
  rgb colour, seriescolour;
  // Index into fits of the dataset's current fit; -1 for none.
  int currentfit = -1;
};

struct fitrecord {
  trendtype type = trendtype::linear;
  // The formula's text (formula), the plug-in model's name (custom).
  std::string model;
  std::string name;
  int dataset = 0;
  // par[0..9] as the fit started: the estimates it was given.
  std::array<double, 10> start{};
  bool gauss = true; // the solver: Gaussian elimination, else Cramer's rule
  rgb colour;        // the curve's and deviations' colour
  // A line of a multi fit: its index into multifits and its line number
  // (= the dataset's position among the tagged datasets); -1 otherwise.
  int multifit = -1;
  int line = -1;
};

struct multirecord {
  multikind kind = multikind::samegradient;
  std::string name;
  bool gauss = true;
};

struct chartrecord {
  std::string title, xtitle = " ", ytitle = " ";
  double xlow = 0, xhigh = 0, ylow = 0, yhigh = 0;
  bool logx = false, logy = false, legend = false;
  bool xgrid = true, ygrid = true;
  bandlevel band = bandlevel::none;
  // Fonts as the windowing toolkit describes them; empty: left as made.
  std::string titlefont, axistitlefont;
  int titlefontsize = 0, labelfontsize = 0;
  int trackbar = 0;
};

struct model {
  std::string file;    // the data file the numbers came from
  std::string caption; // the window's caption
  bool tagged = false;
  // Column layout: the grid's columns below the header row; NaN stands for
  // an empty cell. All columns have the same length.
  std::vector<std::vector<double>> columns;
  std::vector<datasetrecord> datasets;
  std::vector<fitrecord> fits;
  std::vector<multirecord> multifits;
  chartrecord chart;
};

// The project as text (JSON, two-space indents, a final line break).
std::string write(const model &m);
// Reads and checks a project text; raises project_error naming what is
// wrong and where ("fits[2].type: ..."), with nothing made.
model read(std::string_view text);
// Reads a file: read() of its text; a file that cannot be read or is too
// large raises project_error too.
model readfile(const std::string &path);
// Whether the start of a file's text is a project (a JSON object whose
// "format" is kFormatName): a text that is not is some other file.
bool isproject(std::string_view head);
// Reads the first bytes of a file and asks isproject.
bool fileisproject(const std::string &path);

// The text of a trend type in the file ("linear", "formula", ...), and back
// (false for an unknown text).
std::string typekey(trendtype type);
bool typefromkey(std::string_view key, trendtype &type);

// The rows of dataset i built from the model: for the column layout the
// columns' numbers (shared between datasets that use one column) and the
// errors made from a percentage or fixed value; for the tagged layout its
// own numbers. xerr is null without x errors. Raises project_error when a
// value is not usable (an empty cell, an error not above zero).
struct datasetrows {
  rowref x, y, yerr, xerr;
};
datasetrows rowsof(const model &m, std::size_t i, std::vector<rowref> &columncache);

// The errors made from a value: v percent of basis[k] each, or v each.
rowref percentagerow(const drow &basis, double percent);
rowref absoluterow(int n, double value);

// A fit object for a single fit record (not a multi line), with par set to
// its start. Raises formula_error for a formula that does not read and
// engine_error for a plug-in model that is not there or differs.
std::unique_ptr<bfit> makefitof(const fitrecord &f, const PluginLibrary *plugin);

} // namespace orvalle::project
