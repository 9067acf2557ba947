// What most likely made a data text fail the conversion, in words a
// student can act on: a decimal comma, a line of words, a comma-separated
// table, UTF-16 text saved by a spreadsheet, an error of zero. The
// conversion's own message names the line or the cell; the hint says why
// and how the data must look.
#pragma once

#include <string>
#include <string_view>

namespace orvalle {

enum class failurecause {
  none,         // nothing of the usual causes fits
  utf16,        // the text is UTF-16 (NUL bytes between the characters)
  zeroerror,    // an error of y at or below zero
  decimalcomma, // a number written with a decimal comma, 1,5
  separated,    // numbers separated by commas or semicolons
  words,        // a line of words (a header with names or units)
};

// The likely cause of a failed conversion: message is the conversion's
// message, line the text of the line it names (empty when it names none),
// field the index of the field it names within that line (-1: the line as
// a whole), text the start of the whole text (for its encoding).
failurecause likelycause(std::string_view message, std::string_view line, int field,
                         std::string_view text = {});

// The hint for a cause: what is likely wrong, then how a line of data must
// look; line is the text line (from 1) the message points at (0: none).
// Empty for none.
std::string causehint(failurecause cause, long line = 0);

} // namespace orvalle
