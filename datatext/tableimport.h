// Tables from other programs: comma-, semicolon- or tab-separated values
// as spreadsheets, data loggers and phone sensor apps write them (quoted
// fields, header lines of names and units, decimal commas, byte-order
// marks, UTF-16). A table becomes the program's own data text: its header
// lines become comment lines, its fields are separated by tabs and its
// numbers are written with a decimal point. The conversion then reads that
// text as it reads any other.
//
// Plain C++, no Qt: joins the engine library.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatext/conversion.h"

namespace orvalle {

// The first comment line of an imported text starts with this.
inline constexpr std::string_view kImportMark = "# Imported from ";

// A table that cannot be imported: what() names the line (from 1), the
// column (from 1) where there is one, and the reason. Nothing of such a
// table is imported.
class tableerror : public std::runtime_error {
public:
  tableerror(long line, int column, const std::string &what)
      : std::runtime_error(what), line_(line), column_(column) {}
  long line() const noexcept { return line_; }
  int column() const noexcept { return column_; } // 0: the line as a whole
private:
  long line_;
  int column_;
};

// The separator of the delimited table the start of a text (UTF-8) holds:
// '\t', ';' or ',' (in that order of preference) when at least half of its
// first lines hold it (outside quotes) the same number of times; 0 when the
// text is no such table. Blank lines and comment lines are not counted.
char tableseparator(std::string_view start);

// Whether a text start (UTF-8) is a table that the data text conversion
// cannot read as it is but the import can: a delimited table whose first
// lines fail the conversion, or give it fewer columns than the table has.
bool needsimport(std::string_view start);

// Whether the file is such a table (its first 64 KiB are looked at). A
// file that cannot be read is none.
bool tablefile(const std::string &path);

// What an import found.
struct tablesummary {
  char separator = 0;
  int columns = 0;
  int headerlines = 0;
  long datalines = 0;
  // The header lines' fields, line by line.
  std::vector<std::vector<std::string>> headers;
  // The column titles taken from the header (columntitles); empty when
  // there are none.
  std::vector<std::string> titles;
  // Where the lines of numbers stand in the table: each entry is a line of
  // numbers (from 1) and its line in the table, the first of a run of
  // lines that follow each other.
  std::vector<std::pair<long, long>> runs;
  // The line in the table of line of numbers `row` (from 1); 0 when there
  // is no such line.
  long lineofrow(long row) const;
};

// Reads a table from a file and hands the data text made of it to sink,
// in parts of whole lines: first the mark line naming source, then the
// header lines as comments, then one tab-separated line of numbers for
// each line of the table. begin() is called again (and the parts given
// from the first) when the file turns out not to be UTF-8 and is read
// again as Latin-1. Throws tableerror for a table it refuses (the sink may
// have had parts of it), and as readdatatext does for a file it cannot
// read.
tablesummary importtable(const std::string &path, datapartsink &sink, const std::string &source);
// The same for a text already held as bytes (standard input).
tablesummary importtablebytes(std::string_view bytes, datapartsink &sink,
                              const std::string &source);

// Bytes as UTF-8 text, as a table is read: a UTF-8 byte-order mark is
// dropped, UTF-16 (with a byte-order mark, or without one when every other
// byte of its start is 0) is decoded, and bytes that are not UTF-8 are read
// as Latin-1.
std::string tabletext(std::string_view bytes);

// Column titles from header lines: the first header line with a field for
// every column, none of them empty, names the columns; when the next
// header line also has a field for every column, its fields (units) are
// added in parentheses. Empty when no line names every column.
std::vector<std::string> columntitles(const std::vector<std::vector<std::string>> &headers,
                                      int columns);

// The column titles of an imported data text, from its first lines (the
// mark line, the header comment lines, then data): the header comment
// lines' tab-separated fields as columntitles reads them. Empty for a text
// that does not start with kImportMark.
std::vector<std::string> importedtitles(const std::vector<std::string_view> &firstlines,
                                        int columns);

} // namespace orvalle
