// Data text conversion: the lines of a scratch pad (or of a file) become
// either a numeric column grid (column layout) or datasets (tagged layout).
//
// Plain C++, no Qt: joins the engine library.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dataset.h"

namespace orvalle {

// A list of text lines held in one buffer. Line i is a view into that
// buffer (without its line break); a view stays valid while the textlines
// it came from lives and is not moved from.
class textlines {
public:
  textlines() = default;

  // File bytes: CR LF, LF and CR each end a line; a line break at the very
  // end does not start another line. Bytes that are not valid UTF-8 make the
  // whole text be read as Latin-1 and converted to UTF-8, so no byte is lost.
  // A leading UTF-8 byte-order mark is dropped (also by fromText).
  static textlines fromBytes(std::string bytes);
  // A UTF-8 text (e.g. an editor's contents), split like fromBytes.
  static textlines fromText(std::string utf8);
  // Lines taken one to one; a line may hold no line break of its own.
  static textlines fromLines(const std::vector<std::string> &lines);

  std::size_t size() const noexcept { return starts_.empty() ? 0 : starts_.size() - 1; }
  bool empty() const noexcept { return size() == 0; }
  // Bytes of text held, line breaks included.
  std::size_t bytes() const noexcept { return buf_.size(); }
  std::string_view operator[](std::size_t i) const noexcept {
    return std::string_view(buf_).substr(starts_[i], starts_[i + 1] - 1 - starts_[i]);
  }
  // The lines, each followed by eol (a file as the pad writes it: "\r\n").
  std::string joined(std::string_view eol) const;

private:
  // Every line followed by exactly one '\n'; line i runs from starts_[i] to
  // starts_[i + 1] - 1.
  std::string buf_;
  std::vector<std::size_t> starts_;
};

// The most numbers a line of the column layout may hold, as many columns as
// names of up to four letters give ("Col A" to "Col ZZZZ"): a grid of more
// is refused rather than built.
inline constexpr int kMaxColumns = 26 + 26 * 26 + 26 * 26 * 26 + 26 * 26 * 26 * 26;

// The most a data text file may hold: 4 GiB.
inline constexpr std::size_t kMaxTextBytes = std::size_t(4) << 30;

// A file that is not a data text to read: not a regular file (a FIFO, a
// device), or larger than kMaxTextBytes. what() is the whole message.
class textreaderror : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads a data text file as UTF-8: a leading UTF-8 byte-order mark is
// dropped, and a file that is not valid UTF-8 is read as Latin-1 (see
// textlines::fromBytes). Only regular files of at most kMaxTextBytes are
// read; anything else throws textreaderror without waiting on it. Throws
// std::system_error with the system's message when the file cannot be read.
// The program's File Open and the batch command both read through this.
std::string readdatatext(const std::string &path);
// What takes the lines of readdatalines.
class datalinesink {
public:
  virtual ~datalinesink() = default;
  // The file's size in bytes, before its first line. Called again, with
  // the lines fed again from the first, when the file turns out not to be
  // UTF-8 and is read once more as Latin-1.
  virtual void begin(std::size_t bytes) = 0;
  // The next line, in UTF-8, without its line break; false stops reading.
  virtual bool line(std::string_view text) = 0;
};
// Reads a data text file as readdatatext does, in parts, and hands its
// lines one by one to sink: neither the whole text nor a line list is
// held. Throws as readdatatext does.
void readdatalines(const std::string &path, datalinesink &sink);

// What takes the parts of readdataparts.
class datapartsink {
public:
  virtual ~datapartsink() = default;
  // The file's size in bytes, before its first part. Called again, with
  // the parts fed again from the first, when the file turns out not to be
  // UTF-8 and is read once more as Latin-1.
  virtual void begin(std::size_t bytes) = 0;
  // The next part of the text, in UTF-8; false stops reading.
  virtual bool part(std::string_view text) = 0;
};
// Reads a data text file as readdatatext does, in parts of about a MiB
// that hold whole lines: each ends after a LF, or after a CR that no LF
// follows, unless a line is longer than a part or the file ends. The parts
// put together are readdatatext's text; the whole text is never held.
// Throws as readdatatext does.
void readdataparts(const std::string &path, datapartsink &sink);

// readdatatext split into lines.
textlines readtextfile(const std::string &path);

// The name of grid column c (from 0): "Col A" to "Col Z", then "Col AA",
// "Col AB", ... as spreadsheets count.
std::string columnname(int c);

// The program's number syntax: optional sign ('+' or '-'), digits, optional
// decimal point and fraction, optional exponent introduced by E or e. At
// least one digit before or after the point. Spaces and tabs around the
// number are allowed. "inf", "nan" and hexadecimal are not numbers; a value
// beyond the range of a double is not a number either (one below it reads
// as 0 or a subnormal).
bool parsenumber(std::string_view text, double &value);

// The column grid of the column layout. Cells hold numbers; column c from 0,
// row r from 0 (row 0 is the header row the conversion leaves empty). Every
// stored value is already rounded through its 15-digit text, so value(c, r)
// equals the number read back from text(c, r).
class numericgrid {
public:
  int colcount() const noexcept { return cols_; }
  int rowcount() const noexcept { return rows_; }
  bool has(int c, int r) const noexcept;
  // The cell's value; NaN for an empty cell.
  double value(int c, int r) const noexcept;
  // The cell's text in the general format with 15 digits ('.' as the
  // decimal point); empty for an empty cell.
  std::string text(int c, int r) const;

  // Writes a cell (the value is rounded through its 15-digit text), growing
  // the counts to take it. A NaN empties the cell.
  void set(int c, int r, double v);
  // Grows the counts to at least cols x rows; they never shrink.
  void grow(int cols, int rows);
  // Column c's values from row 0; may be shorter than rowcount() (the rest
  // is empty). NaN marks an empty cell.
  const std::vector<double> &column(int c) const { return columns_[static_cast<std::size_t>(c)]; }
  // Moves column c's values out (as column() gives them), leaving the
  // column empty: the numbers change hands without a copy.
  std::vector<double> takecolumn(int c) { return std::move(columns_[static_cast<std::size_t>(c)]); }
  // Hands column c's values of rows 1 to rowcount() - 1 over as a row
  // (value r - 1 is that of grid row r), moved rather than copied and
  // shared with the grid, which reads the column's cells from that row from
  // then on (column() and takecolumn() then give nothing). Asked again, it
  // gives the same row. Writing a cell of the column gives the grid its own
  // copy of it again; the row stays as it is.
  rowref sharecolumn(int c);

  // Makes room for rows 0 to rows - 1 in the columns that exist or are
  // made later up to column cols - 1 (a hint; the counts do not change).
  void reserve(int cols, int rows);
  // Gives back spare capacity left by growing the columns.
  void shrink();

  // The memory set aside for column c's values: where it starts, how many
  // bytes it holds (the column's capacity) and how many of them hold values
  // so far; all zero for a column that has none. Nothing past the used
  // bytes may be read; the range is for callers that prepare the memory
  // ahead of the writes. It moves when the column grows past its room.
  struct storage {
    const void *start = nullptr;
    std::size_t bytes = 0;
    std::size_t used = 0;
  };
  storage room(int c) const noexcept;

private:
  friend class gridwriter;
  friend class gridjoin;
  // Writes a value that is already rounded.
  void put(int c, int r, double v);

  int reservedcols_ = 0;
  int reservedrows_ = 0;
  int cols_ = 1;
  int rows_ = 2;
  std::vector<std::vector<double>> columns_ = std::vector<std::vector<double>>(1);
  // The columns handed over by sharecolumn (null for the others).
  std::vector<rowref> shared_;
  const drow *sharedrow(int c) const noexcept {
    const auto ci = static_cast<std::size_t>(c);
    return ci < shared_.size() ? shared_[ci].get() : nullptr;
  }
};

// Rounds v through its text with 15 significant digits.
double roundto15(double v);

enum class textlayout { column, tagged };

struct ConversionResult {
  std::string filename;
  std::string title;
  std::string caption;
  textlayout layout = textlayout::column;
  numericgrid grid;                               // column layout
  std::vector<std::unique_ptr<dataset>> datasets; // tagged layout, in order of first tag
};

// Either a result or the text of the one failure message.
struct ConversionOutcome {
  std::optional<ConversionResult> result;
  std::string error;
  bool ok() const noexcept { return result.has_value(); }
};

// When a text is converted in two parts, on two processors (see
// chartconverter): by default a text of 8 MiB or more, split at the first
// line break after its middle.
struct conversionparts {
  static constexpr std::size_t kFrom = std::size_t(8) << 20;
  // Texts of at least this many bytes, when the process may run on two
  // processors or more.
  std::size_t from = kFrom;
  // The second part begins with the first line that begins at this byte
  // of the text or later; 0: at its middle.
  std::size_t first = 0;
  // Two parts even on a machine of one processor.
  bool anyprocessors = false;
  // Whether a text of this many bytes is split (when its first part holds
  // its first data line).
  bool splits(std::size_t bytes) const noexcept;
};

// The conversion of a data text fed one line at a time, in order, so that
// a file read in parts needs neither its whole text nor a line list. It
// reads every line once. bytes is the size of the whole text (room for the
// numbers is made from it), lines its number of lines when known (0: not
// known).
//
// A large text may be converted in two parts at once, on two threads: this
// converter takes the lines of the first part, the one secondpart() makes
// those of the rest, and finish(second) puts the two together. The outcome
// is the same, bit for bit, as that of one part: the same grid, datasets
// and message, a failure in the first part winning over one in the second.
class chartconverter {
public:
  chartconverter(const std::string &filename, std::size_t bytes, std::size_t lines = 0);
  ~chartconverter();
  chartconverter(const chartconverter &) = delete;
  chartconverter &operator=(const chartconverter &) = delete;

  // Takes the next line (without its line break). Returns false once the
  // outcome is settled, so that the rest of the text need not be fed.
  bool feed(std::string_view line);
  // The outcome, after the last line; call once.
  ConversionOutcome finish();

  // What a line of a text tells of its layout when no data line came
  // before it: nothing yet (a blank or comment line), that the text holds
  // no data (a line of blanks), or the layout it chooses.
  enum class firstline { passedover, nodata, column, tagged };
  static firstline classify(std::string_view line);
  // The layout a first data line of that kind chooses; nothing for the
  // other kinds.
  static std::optional<textlayout> layoutof(firstline kind) noexcept;
  // The converter of the second part of a text whose first part this one
  // takes: of bytes bytes and lines lines (0: not known), beginning with a
  // whole line, after the first part's first data line, which chose
  // layout. Both may be fed at once, on two threads, but each on one.
  std::unique_ptr<chartconverter> secondpart(textlayout layout, std::size_t bytes,
                                             std::size_t lines = 0) const;
  // The outcome of the whole text, after the last lines of both parts
  // (or after feed returned false); call once, instead of finish() on
  // either.
  ConversionOutcome finish(chartconverter &second);

  // How far the run has come: done bytes of the text (each line counted
  // with one line break) out of total, the bytes given to the constructor;
  // done never exceeds total and never goes back.
  using progress = std::function<void(std::size_t done, std::size_t total)>;
  // Calls observer every kProgressLines lines fed, and once more from
  // finish() with done equal to total. The observer must not throw; it
  // does not change the outcome.
  void observe(progress observer);
  static constexpr std::size_t kProgressLines = 8192;

  // The grid a column text is being read into, once the first line has
  // chosen that layout and until finish() takes it; null otherwise. It is
  // the converter's: it changes with every line fed.
  const numericgrid *filling() const noexcept;

private:
  struct state;
  std::unique_ptr<state> s_;
};

// Reads and converts a data text file as readdatalines and a chartconverter
// named filename do, but in two parts at once, on two threads, when split
// allows it (see conversionparts) and the first part holds the text's
// first data line. Nothing when it does not, nor for a file that is not
// UTF-8: the caller then reads the file in one part. Throws as
// readdatatext does.
std::optional<ConversionOutcome>
convertdatafile(const std::string &path, const std::string &filename, conversionparts split = {});

// The number of the line with which ConvertToChart begins the second part
// of lines; nothing when it converts them in one part.
std::optional<std::size_t> secondpartline(const textlines &lines,
                                          const conversionparts &split = {});

// The caption of a plotter made from the file of that name (without its
// folder): "Chart Compiled From - " and the name.
std::string chartcaption(const std::string &base);
// The message of a conversion that ran out of memory, naming the file (or
// "the text" for a pad never saved).
std::string notenoughtoconvert(const std::string &filename);

// Converts the lines of a data text. filename is the pad's file name (empty
// for a pad never saved). Never throws for bad input; a failure leaves
// nothing behind but its message.
// observer, when given, follows the run (see chartconverter::observe).
// A large text is converted in two parts (see conversionparts); when
// it is, observer follows the second part's progress as the run's.
ConversionOutcome ConvertToChart(const textlines &lines, const std::string &filename,
                                 chartconverter::progress observer = {},
                                 conversionparts split = {});

// Converts a text held whole, its lines ended by line feeds (the empty
// piece after a final one is no line), as ConvertToChart converts the same
// lines: in two parts when split allows it. Never throws for bad input.
ConversionOutcome ConvertTextToChart(std::string_view text, const std::string &filename,
                                     chartconverter::progress observer = {},
                                     conversionparts split = {});

} // namespace orvalle
