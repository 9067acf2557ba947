// orvalle-fit's other sources of data: tables from other programs (CSV,
// TSV), read directly, and standard input ("-"); column names from a
// table's header; and the likely cause of a failed conversion.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/fitcli.h"
#include "datatext/conversion.h"
#include "datatext/tableimport.h"

namespace orvalle::cli {

// The name the reports give a FILE argument: "<stdin>" for "-".
std::string shownname(const std::string &file);

// A file read by readother.
struct otherdata {
  ConversionOutcome conv;
  // Set when conv failed for a reason already said in full (a refused
  // table); otherwise a failure is the conversion's own.
  bool explained = false;
  // A table was imported: what the import found (its column titles).
  bool imported = false;
  tablesummary table;
  // Standard input, and its bytes when they are a data text.
  bool standardinput = false;
  std::string bytes;
};

// Reads file when it is standard input ("-") or a table that the
// conversion cannot read as it is (tablefile), converting the data text
// made of it; nothing for any other file, which is read as ever. path is
// the file's full name. Throws textreaderror and std::system_error as
// readdatatext does.
std::optional<otherdata> readother(const std::string &file, const std::string &path);

// The column titles of a data text made by an import (Import Table saved
// it): its header comments read as importedtitles reads them; none for
// other texts. other is what readother read (standard input), or null.
std::vector<std::string> texttitles(const std::string &path, const otherdata *other, int columns);

// The columns named by header title rather than letter in o (--x "Time
// (s)", --err "Error (V)"), looked up in titles; letters stay as they are
// (in a file with titles, letters of its columns only). columns is the
// file's number of columns. Returns the message for a name that names no
// column, else empty.
std::string resolvecolumns(options &o, const std::vector<std::string> &titles, int columns);

// The likely cause of a failed conversion (see likelycause), in the pad's
// words, or empty when none fits: message is the conversion's, path the
// file's full name, other what readother read (null for a file read as
// ever). For an error of zero in the column layout, row is the grid row
// (from 1) that holds it, and the hint names its line.
std::string causetext(const std::string &path, const otherdata *other, const std::string &message,
                      long row = 0);

} // namespace orvalle::cli
