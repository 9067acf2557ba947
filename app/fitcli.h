// The batch fitting command: reads data texts, makes the dataset (or
// datasets) the plotter would make of each, fits it as the plotter's
// "Fit && Plot" does and prints the information text, JSON or a CSV table
// on standard output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/report.h"
#include "engine/trendtypes.h"

namespace orvalle::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFitFailed = 1;
inline constexpr int kExitUsage = 2;

// A model named on the command line: a trend type, a polynomial of any
// degree from 1 to 10 (poly:N) or a typed formula (formula:TEXT).
struct modelchoice {
  std::string key = "linear"; // as it is reported in JSON and CSV
  trendtype type = trendtype::linear;
  int degree = 0;      // poly:N only; 0 for the trend types
  std::string formula; // formula:TEXT only: the text after "formula:"
};

// How a column file's y errors are made.
struct errorsource {
  enum class kind { column, percent, absolute } how = kind::column;
  int column = 2; // column index for kind::column
  double value = 1.0;
  // kind::column: the column as given, a letter or a header title, looked
  // up in each file's header (empty: column as it is).
  std::string name;
};

struct options {
  std::vector<std::string> files; // every FILE, in the order given
  std::string file;               // the first of them
  modelchoice model;
  bool modelgiven = false;
  std::optional<std::string> dataset;
  int xcol = 0;
  int ycol = 1;
  // --x and --y as given, a letter or a header title, looked up in each
  // file's header (empty: xcol and ycol as they are).
  std::string xname, yname;
  errorsource err;
  // --xerr: the errors of x of a column file; none by default.
  std::optional<errorsource> xerr;
  bool columnsgiven = false; // --x, --y or --err given
  bool xgiven = false;
  bool ygiven = false;
  bool errgiven = false;
  estimateset estimates = kDefaultEstimates;
  // Every value -e gave, in order: up to five, or nine for a formula.
  std::vector<double> estimatelist;
  bool gauss = true;
  std::optional<multikind> multi;
  std::optional<std::string> name;
  bool json = false;
  bool csv = false;
  bool covariance = false;              // --covariance: the matrices in the text
  bool scaleerrors = false;             // --scale-errors: uncertainties times sqrt(chisq/dof)
  std::optional<std::string> residuals; // --residuals FILE, "-" for stdout
  std::optional<std::string> gnuplot;
  // --band FILE: the fitted curve's confidence band at --band-level (95 %
  // unless told), "-" for stdout.
  std::optional<std::string> band;
  bandlevel bandat = bandlevel::ninetyfive;
  // --report text|markdown|latex: the results rounded to their
  // uncertainties in place of the description.
  std::optional<reportformat> report;
  bool help = false;
  bool version = false;
};

// Parses the arguments (without the program name). On a usage error returns
// nothing and puts the message in *error.
std::optional<options> parseoptions(const std::vector<std::string> &args, std::string *error);

// Reads a model name: a trend type's batch name (trendrows()), poly:N or
// formula:TEXT (the formula's text is read when the options are).
std::optional<modelchoice> parsemodel(const std::string &text);

// Reads a column letter (A, B, ... or a, b, ...) into a column index.
std::optional<int> parsecolumn(const std::string &text);

// Reads "1,2,3" into the estimates (up to five; missing ones stay 1).
// Returns false when a value is not a number or there are more than five.
bool parseestimates(const std::string &text, estimateset &estimates);
// Reads "1,2,3" into a list of up to `most` numbers; false as above.
bool parseestimatelist(const std::string &text, std::vector<double> &values, std::size_t most);

const char *helptext();
// The models --model takes, as the message for an unknown one lists them:
// "linear-origin, linear, ... or formula:TEXT".
std::string modelchoices();

// Keeps big blocks on the heap and lets freed memory be used again (call
// once, first thing in main).
void tuneheap();
// Makes heap room for the arrays a data file of that many bytes passes
// through, backed by transparent huge pages, for files of up to 64 MiB,
// where the system offers them.
void reserveheap(std::size_t filebytes);

// Runs the command; returns the exit status. Writes the result to stdout
// and every message to stderr. Never throws.
int run(const std::vector<std::string> &args);

} // namespace orvalle::cli
