// What orvalle-fit reports beside the information text: the covariance and
// correlation of the parameters, the reduced chi-square and p-value, scaled
// uncertainties, residuals and the CSV table of many files.
#pragma once

#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bfit.h"

namespace orvalle::cli {

// What the command knows about one fit beyond the fit itself.
struct fitnotes {
  std::string file;                                        // the data file, as it was named
  bool scaleasked = false;                                 // --scale-errors was given
  double scale = std::numeric_limits<double>::quiet_NaN(); // the factor applied, NaN for none
};

// chisq / dof; NaN for dof <= 0.
double reducedchisq(double chisq, int dof);

// Multiplies err by sqrt(X / nu) and cov by X / nu, where X is the sum of
// the fits' chi-squares and nu their points less `parameters` (a multi
// fit's lines share one system of K + 1 parameters; a single fit has
// order + 1). Returns the factor sqrt(X / nu), or NaN, changing nothing,
// when nu <= 0 or X / nu is not finite.
double scaleuncertainties(const std::vector<bfit *> &fits, int parameters);

// The lines that follow a fit's description: what scaling was applied
// (when it was asked for) and, with covariance, the two matrices.
stringlist noteslines(const bfit &fit, const fitnotes &notes, bool covariance);

// The information text with noteslines() after each fit's description.
std::string detailreport(const std::vector<const bfit *> &fits, const fitnotes &notes,
                         bool covariance);

// One fit as a JSON object: the keys of jsonfitkeys and the file, the
// covariance and correlation, the reduced chi-square, the p-value and the
// scaling.
std::string jsonfit(const bfit &fit, const std::string &model, const fitnotes &notes);

// ---------------------------------------------------------------- CSV

// A field quoted as RFC 4180 asks: in double quotes, with quotes doubled,
// when it holds a comma, a quote, a CR or an LF; as it is otherwise.
std::string csvfield(const std::string &text);
// A text cell (a file or dataset name, a message) that a spreadsheet would
// take for a formula, one beginning with =, +, -, @, a tab or a CR, gets a
// leading apostrophe; any other is as it is. Numbers are not passed here.
std::string csvtext(const std::string &text);
// The fields joined by commas, ending in CRLF.
std::string csvrecord(const std::vector<std::string> &fields);
// A number in the shortest form that reads back the same; empty for NaN.
std::string csvnumber(double v);

// The header record for parameters with these labels.
std::string csvheader(const std::vector<std::string> &labels, bool scaled);
// The record of one fit; labels gives the column count. Its status is
// "fitted".
std::string csvfitrecord(const bfit &fit, const std::string &model, const fitnotes &notes,
                         std::size_t labels);
// The record of a file that gave no fit: the file and the model, the
// fields of the fit empty, then its status ("fit failed" or "not read")
// and the reason.
std::string csvfailedrecord(const std::string &file, const std::string &model, std::size_t labels,
                            bool scaled, const std::string &status, const std::string &reason);
// The CSV verdict word: good, suspicious and bad as ever, "small" and "too
// small" for the verdicts -1 and -2, "n/a" without degrees of freedom.
std::string csvverdictword(const bfit &fit, int verdict);

// ---------------------------------------------------------------- residuals

// Takes the text of an output piece by piece; write errors are the
// sink's to keep.
using textsink = std::function<void(std::string_view)>;

// Writes one fit's block to out: '#' lines naming the file, the fit and the
// columns, then per point x, y, error, fitted value, deviation (y - fitted)
// and normalised deviation (deviation / error), separated by tabs, in
// pieces of a few dozen kilobytes.
void writeresiduals(const textsink &out, const bfit &fit, const std::string &file);

} // namespace orvalle::cli
