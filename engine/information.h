// The information text of a plotter's fits: for every fit, in order, its
// name, its chi-square, its degrees of freedom, its own description and a
// line holding one blank. The clipboard copy, the printout and the gnuplot
// script all use this text.
#pragma once

#include <string>
#include <vector>

#include "engine/bfit.h"

namespace orvalle {

// Appends one fit's block to lines. separator is the decimal separator of
// the chi-square: the locale's for shown text, '.' for files. The fit's own
// lines follow the engine's separator setting (setdecimalseparator).
void appendinformation(stringlist &lines, const bfit &fit, char separator);

// The whole text for the fits in order; empty when there are none.
stringlist informationlines(const std::vector<const bfit *> &fits, char separator = '.');

// WriteInformation's form: empties lines, then appends every fit's block.
// Null entries are passed over.
void writeinformation(stringlist &lines, const std::vector<const bfit *> &fits, char separator);

} // namespace orvalle
