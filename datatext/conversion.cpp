// ConvertToChart: a data text in the column layout becomes a numeric grid,
// one in the tagged layout becomes datasets.
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "datatext/conversion.h"

namespace orvalle {

std::string chartcaption(const std::string &base) { return "Chart Compiled From - " + base; }

std::string notenoughtoconvert(const std::string &filename) {
  return "Not enough memory to convert " + (filename.empty() ? std::string("the text") : filename) +
         " to a chart";
}

bool parsefield(std::string_view s, double &value, bool &over15);

class gridwriter {
public:
  // Writes an already rounded value; rows come in ascending order per column.
  static void put(numericgrid &g, int c, int r, double v) {
    const auto ci = static_cast<std::size_t>(c);
    const auto ri = static_cast<std::size_t>(r);
    if (ci < g.columns_.size() && g.columns_[ci].size() == ri) {
      g.columns_[ci].push_back(v);
      if (r >= g.rows_)
        g.rows_ = r + 1;
    } else
      g.put(c, r, v);
  }
};

namespace {

inline bool isblankline(std::string_view l) { return l.empty(); }
inline bool iscommentline(std::string_view l) { return !l.empty() && l.front() == '#'; }
inline bool ispassedover(std::string_view l) { return isblankline(l) || iscommentline(l); }
inline bool isdigit(char c) { return c >= '0' && c <= '9'; }
inline bool isnumberstart(char c) { return isdigit(c) || c == '.' || c == '-'; }
inline bool isseparator(char c) { return c == ' ' || c == '\t'; }
constexpr std::uint64_t kTens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
// The eight bytes from s on as one number, the first byte lowest. Bytes
// past end read as zero: near the end of a line the eight bytes that end
// it are read and shifted, so nothing outside [end - 8, end) is touched.
inline std::uint64_t eightbytes(const char *s, const char *end) {
  const char *from = end - s >= 8 ? s : end - 8;
  std::uint64_t w = 0;
  for (int k = 0; k < 8; ++k)
    w |= static_cast<std::uint64_t>(static_cast<unsigned char>(from[k])) << (8 * k);
  if (from == s)
    return w;
  return s == end ? 0 : w >> (8 * (8 - (end - s)));
}

// How many digits begin the eight bytes at s (none past end), and the
// digits' values, one byte each with the first digit in the lowest byte.
inline int leadingdigits(const char *s, const char *end, std::uint64_t &digits) {
  digits = eightbytes(s, end) ^ 0x3030303030303030ull; // '0' to '9' become 0 to 9
  // A byte of 10 or more has its top bit set in digits or in digits + 118.
  // A carry out of such a byte may spoil the bytes above it, which lie past
  // the first non-digit and do not count.
  const std::uint64_t other = (digits | (digits + 0x7676767676767676ull)) & 0x8080808080808080ull;
  return other ? std::countr_zero(other) >> 3 : 8;
}

// The value of the first n (1 to 8) digits leadingdigits found: pairs,
// then fours, then all eight combined by multiplications.
inline std::uint64_t digitsvalue(std::uint64_t digits, int n) {
  std::uint64_t v = digits << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * 0x000F424000000064ull) +
       (((v >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >>
      32;
  return v & 0xFFFFFFFFull;
}

constexpr double kPlainPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A field of at most eight bytes at s, digits with at most one point among
// them and a separator or the line's end after them: its value
// without sign (the arithmetic of parsefield), and where it stops. nullptr
// for anything else, which the caller then reads digit run by digit run.
// One load serves the whole field.
inline const char *wordnumber(const char *s, const char *end, double &value) {
  const std::uint64_t w = eightbytes(s, end);
  const std::uint64_t d = w ^ 0x3030303030303030ull; // '0' to '9' become 0 to 9
  // 0x80 in every byte that is not a digit (no carry crosses bytes). Bytes
  // past end are zeros, so eight digits or a point among eight digits lie
  // wholly in the line, and s[8] may be read if s + 8 is not its end.
  const std::uint64_t other =
      (((d & 0x7F7F7F7F7F7F7F7Full) + 0x7676767676767676ull) | d) & 0x8080808080808080ull;
  const int point = other ? std::countr_zero(other) >> 3 : 8; // digits before a non-digit
  int stop = point;
  int fraction = 0;
  if (point < 8 && ((w >> (8 * point)) & 0xFF) == '.') {
    if (point > 6)
      return nullptr;
    const std::uint64_t after = other & (~std::uint64_t(0) << (8 * point + 8));
    stop = after ? std::countr_zero(after) >> 3 : 8;
    fraction = stop - point - 1;
  }
  if (point + fraction == 0 || !(s + stop == end || isseparator(s[stop])))
    return nullptr;
  std::uint64_t mant = point ? digitsvalue(d, point) : 0;
  if (fraction)
    mant = mant * kTens[fraction] + digitsvalue(d >> (8 * point + 8), fraction);
  const double m = static_cast<double>(mant);
  value = fraction == 0 ? m : m / kPlainPow10[fraction];
  return s + stop;
}
inline bool hasseparator(std::string_view l) {
  for (const char c : l)
    if (isseparator(c))
      return true;
  return false;
}

// Removes spaces, tabs and other control characters from both ends.
std::string_view trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

// Takes the next field off rest: the text before the first space or tab
// (or all of rest when it has none); rest becomes what follows, trimmed.
// rest is trimmed on entry.
std::string_view nextfield(std::string_view &rest) {
  std::size_t sep = 0;
  while (sep < rest.size() && !isseparator(rest[sep]))
    ++sep;
  if (sep == rest.size()) {
    const std::string_view field = rest;
    rest = {};
    return field;
  }
  const std::string_view field = trim(rest.substr(0, sep));
  rest = trim(rest.substr(sep + 1));
  return field;
}

// The tag of a trimmed tagged line: its last character (a whole UTF-8
// sequence when the last byte belongs to one).
std::string_view tagof(std::string_view trimmed) {
  std::size_t start = trimmed.size() - 1;
  for (int k = 0; k < 3 && start > 0 && (static_cast<unsigned char>(trimmed[start]) & 0xC0) == 0x80;
       ++k)
    --start;
  if ((static_cast<unsigned char>(trimmed[start]) & 0xC0) != 0xC0)
    start = trimmed.size() - 1; // not a well-formed sequence: the last byte alone
  return trimmed.substr(start);
}

std::string rowcolumn(const char *text, std::size_t row, int column) {
  return std::string(text) + "row " + std::to_string(row) + ", column " + std::to_string(column);
}

ConversionOutcome failure(std::string text) {
  ConversionOutcome o;
  o.error = std::move(text);
  return o;
}

const char *const kNoData = "No data found to create chart ";
// Lines read before the room for the columns is made from their length.
constexpr std::size_t kEstimateAfter = 4096;
const char *const kBadLine = "Error Unable to Convert line ";
const char *const kBadField = "Unable to Convert to Chart error on ";
const char *const kTwoPoints =
    "Minumm of two points in a dataset is required to convert a file to a chart";
const char *const kBadError = "Y error points can not contain ZERO or MINIUS values - ";

// A row of more cells than a grid may have columns.
std::string toowide(std::size_t row) {
  return rowcolumn(kBadField, row, kMaxColumns + 1) + ": a line may hold at most " +
         std::to_string(kMaxColumns) + " numbers";
}

std::string badline(std::size_t line, const std::string &filename) {
  return kBadLine + std::to_string(line) + "  - " + filename;
}

// Title and caption from the file name; both '/' and '\' end a folder name.
void names(const std::string &filename, ConversionResult &r) {
  const auto slash = filename.find_last_of("/\\");
  const std::size_t basestart = slash == std::string::npos ? 0 : slash + 1;
  const std::string base = filename.substr(basestart);
  const auto dot = base.rfind('.');
  // A dot in a folder name is not an extension: the title is then the
  // whole base name.
  r.title = dot == std::string::npos ? base : base.substr(0, dot);
  r.caption = chartcaption(base);
}

} // namespace

std::string columnname(int c) {
  std::string letters;
  for (long n = static_cast<long>(c) + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return "Col " + letters;
}

// One failure of a run, kept so that its message can be made again with
// other row or line numbers: the second part of a text read in two parts
// counts its lines from its own first.
struct conversionfailure {
  enum class kind { none, text, line, cell, wide, yerror };
  kind what = kind::none;
  std::size_t row = 0; // the line's number (line), the row (the others)
  int column = 0;
  std::string text; // kind text: the whole message
  bool empty() const noexcept { return what == kind::none; }
  // The message, row (or line) numbers moved on by shift.
  std::string message(const std::string &filename, std::size_t shift) const {
    const std::size_t at = row + shift;
    switch (what) {
    case kind::text:
      return text;
    case kind::line:
      return badline(at, filename);
    case kind::cell:
      return rowcolumn(kBadField, at, column);
    case kind::wide:
      return toowide(at);
    case kind::yerror:
      return rowcolumn(kBadError, at, 3);
    case kind::none:
      break;
    }
    return {};
  }
};

// What a run of the conversion holds between lines. A text read in two
// parts has one run per part; the second counts its lines and rows from
// its own first line (see finish(chartconverter &)).
struct chartconverter::state {
  enum class phase { start, column, tagged, done };

  std::size_t bytes = 0;
  std::size_t lines = 0; // 0: not known
  ConversionResult r;
  phase at = phase::start;
  std::size_t next = 0;     // number of the next line, from 0
  conversionfailure failed; // set with phase done: the run's one failure

  chartconverter::progress observer;
  std::size_t fed = 0; // bytes fed, line breaks included
  std::size_t reported = 0;
  bool anyreport = false;
  void report(std::size_t done) {
    done = std::min(done, bytes);
    if (!observer || (anyreport && done <= reported))
      return;
    anyreport = true;
    reported = done;
    observer(done, bytes);
  }

  // Column layout.
  std::size_t skipped = 0; // blank and comment lines so far
  bool reserved = false;
  bool estimated = false;   // the room was made again from the lines so far
  std::size_t width = 0;    // the first counted row's cells
  std::size_t mostrows = 0; // the most rows the text can hold at that width
  void reserverows(std::size_t rows) noexcept;
  void reestimate() noexcept;

  // Tagged layout, read in one pass: the points of each tag are gathered as
  // they come. A value that does not convert is kept as the failure and
  // ends the gathering, but the rest is still checked line by line, since a
  // line that does not begin with a number, and then a tag with fewer than
  // two points, come before it (the two passes of the layout's rule).
  struct points {
    dataset *d = nullptr;
    std::string tag;
    std::vector<double> x, y, e;
  };
  std::vector<points> sets;
  std::unordered_map<std::string, std::size_t> bytag;
  std::string lasttag;
  std::size_t last = 0;
  conversionfailure valuefailure;

  bool fail(conversionfailure p) {
    failed = std::move(p);
    at = phase::done;
    return false;
  }
  bool fail(std::string text) {
    return fail(conversionfailure{conversionfailure::kind::text, 0, 0, std::move(text)});
  }
  bool failcell(std::size_t row, int column, bool wide) {
    return fail(conversionfailure{
        wide ? conversionfailure::kind::wide : conversionfailure::kind::cell, row, column, {}});
  }
  bool startline(std::string_view raw, std::size_t j);
  bool columnline(std::string_view raw, std::size_t j);
  bool plaincolumnline(std::string_view raw, std::size_t j);
  bool taggedline(std::string_view raw, std::size_t i);
  std::size_t findtag(std::string_view tag);
  ConversionOutcome finish();
  void join(state &second);
};

namespace {

// The field readers below are forced inline into the line loop: as calls
// they cost about a tenth of the time orvalle-fit takes on a large file.

// The digits of a plain field from s: its mantissa, how many digits it has
// and how many of them follow the point; s is left after them.
struct plaindigits {
  std::uint64_t mant = 0;
  std::ptrdiff_t count = 0;
  std::ptrdiff_t fraction = 0;
};

// Digits read eight at a time, then one by one past the eighth, appended to
// mant; how many were read. (A mantissa of more than 15 digits may wrap; it
// is not used, since parsefield reads such a field.)
[[gnu::always_inline]] inline std::ptrdiff_t appenddigits(const char *&s, const char *end,
                                                          std::uint64_t &mant) {
  std::uint64_t digits = 0;
  int k = leadingdigits(s, end, digits);
  if (k)
    mant = mant * kTens[k] + digitsvalue(digits, k);
  s += k;
  std::ptrdiff_t count = k;
  for (; k == 8 && s != end && isdigit(*s); ++s, ++count)
    mant = mant * 10 + static_cast<unsigned>(*s - '0');
  return count;
}

[[gnu::always_inline]] inline plaindigits readplaindigits(const char *&s, const char *end) {
  plaindigits d;
  d.count = appenddigits(s, end, d.mant);
  if (s != end && *s == '.') {
    ++s;
    d.fraction = appenddigits(s, end, d.mant);
    d.count += d.fraction;
  }
  return d;
}

// Reads the field at p of a plain line into value: where the field ends,
// or nullptr when the line must go to the general rules. A field of at
// most 15 digits without an exponent is read here by the same arithmetic
// as parsefield's; any other goes to parsefield.
[[gnu::always_inline]] inline const char *plainfield(const char *p, const char *end,
                                                     double &value) {
  const char *s = p;
  bool negative = false;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    ++s;
  }
  if (double word; const char *stop = wordnumber(s, end, word)) {
    value = negative ? -word : word;
    return stop;
  }
  plaindigits d = readplaindigits(s, end);
  if (s != end && !isseparator(*s)) {
    // An exponent, or a field to be refused: parsefield decides.
    d.count = 0;
    for (; s != end && !isseparator(*s); ++s)
      if (static_cast<unsigned char>(*s) <= ' ')
        return nullptr; // trimmed away by the general rules
  }
  if (d.count > 0 && d.count <= 15) {
    // Both mant and 10^fraction are exact doubles: one correctly rounded
    // division, as parsefield does it.
    const double m = static_cast<double>(d.mant);
    const double v = d.fraction == 0 ? m : m / kPlainPow10[d.fraction];
    value = negative ? -v : v;
    return s;
  }
  bool over15 = false;
  if (!parsefield(std::string_view(p, static_cast<std::size_t>(s - p)), value, over15))
    return nullptr;
  if (over15)
    value = roundto15(value);
  return s;
}

} // namespace

// The usual line of a column file, numbers apart by spaces or tabs and
// nothing else, read in one pass: false, with nothing written, for any
// other line (blank, comment, no separator, a control character, a field
// that is not a number, more than plaincells cells), which columnline then
// reads by the general rules. A field of at most 15 digits without an
// exponent is read here by the same arithmetic as parsefield's; any other
// goes to parsefield.
bool chartconverter::state::plaincolumnline(std::string_view raw, std::size_t j) {
  constexpr int plaincells = 16;
  if (raw.empty() || !(isnumberstart(raw.front()) || raw.front() == '+'))
    return false;
  const char *p = raw.data();
  const char *end = p + raw.size();
  // A line shorter than eight bytes is read from a copy with room before
  // it, for eightbytes.
  char shortline[16] = {};
  if (raw.size() < 8) {
    std::memcpy(shortline + 8, raw.data(), raw.size());
    p = shortline + 8;
    end = p + raw.size();
  }
  double v[plaincells];
  int n = 0;
  bool separated = false;
  while (p != end) {
    if (n == plaincells)
      return false;
    p = plainfield(p, end, v[n]);
    if (!p)
      return false;
    ++n;
    for (; p != end && isseparator(*p); ++p)
      separated = true;
  }
  if (!separated)
    return false;
  const int r1 = static_cast<int>(j - skipped + 1);
  for (int c = 0; c < n; ++c)
    gridwriter::put(r.grid, c, r1, v[c]);
  return true;
}

bool chartconverter::state::columnline(std::string_view raw, std::size_t j) {
  if (reserved && plaincolumnline(raw, j))
    return true;
  if (ispassedover(raw)) {
    ++skipped;
    return true;
  }
  // A line without a separator keeps its row but fills no cell.
  if (!hasseparator(raw))
    return true;
  std::string_view rest = trim(raw);
  // A line of blanks counts like a blank line; one that trims to a comment
  // counts like a comment.
  if (rest.empty() || rest.front() == '#') {
    ++skipped;
    return true;
  }
  numericgrid &grid = r.grid;
  const std::size_t row = j - skipped + 1;
  const int r1 = static_cast<int>(row);
  for (int c = 0; !rest.empty(); ++c) {
    if (c == kMaxColumns)
      return failcell(row, 0, true);
    const std::string_view field = nextfield(rest);
    double v;
    bool over15;
    if (!parsefield(field, v, over15))
      return failcell(row, c + 1, false);
    if (!reserved) {
      // The first counted row tells how wide the grid will likely be. The
      // room made is bounded by what the text can hold (a cell takes at
      // least two bytes: a digit and a separator), never by the product of
      // the line count and that width. Without a line count, room is made
      // for the first few thousand lines, and made again from their mean
      // length once they have been read (reestimate), so that a short
      // first line does not ask for more than the text needs.
      width = static_cast<std::size_t>(c) + 1;
      for (std::string_view more = rest; !more.empty() && width <= kMaxColumns; ++width)
        nextfield(more);
      // A line too wide is refused before any of its columns is made.
      if (width > static_cast<std::size_t>(kMaxColumns))
        return failcell(row, 0, true);
      const std::size_t cells = bytes / 2 + 1;
      width = std::min(width, cells);
      mostrows = std::min<std::size_t>(cells / width + 1, std::numeric_limits<int>::max());
      reserverows(lines ? lines + 1 : 2 * kEstimateAfter);
      reserved = true;
    }
    gridwriter::put(grid, c, r1, over15 ? roundto15(v) : v);
  }
  return true;
}

void chartconverter::state::reserverows(std::size_t rows) noexcept {
  rows = std::min(rows, mostrows);
  // Room is a hint: where the address space will not give it, the columns
  // grow as they fill, from a smaller room or none.
  for (const std::size_t tried : {rows, rows * 4 / 5, std::size_t(0)}) {
    try {
      r.grid.reserve(static_cast<int>(width), static_cast<int>(tried));
      return;
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
  }
}

void chartconverter::state::reestimate() noexcept {
  estimated = true;
  if (lines || fed == 0 || next == 0)
    return;
  // The lines to come taken as long as the mean of those read, with a
  // quarter more room for longer ones.
  const std::size_t mean = std::max<std::size_t>(fed / next, 1);
  const std::size_t rows = bytes / mean + 1;
  reserverows(rows + rows / 4 + 64);
}

std::size_t chartconverter::state::findtag(std::string_view tag) {
  if (!sets.empty() && tag == lasttag)
    return last;
  const auto it = bytag.find(std::string(tag));
  if (it == bytag.end())
    return sets.size();
  lasttag = tag;
  last = it->second;
  return last;
}

bool chartconverter::state::taggedline(std::string_view raw, std::size_t i) {
  if (ispassedover(raw))
    return true;
  if (!isnumberstart(raw.front()))
    return fail(conversionfailure{conversionfailure::kind::line, i + 1, 0, {}});
  std::string_view rest = trim(raw);
  const std::string_view tag = tagof(rest);
  std::size_t k = findtag(tag);
  if (k == sets.size()) {
    auto d = std::make_unique<dataset>(true);
    d->name = "Dataset " + std::string(tag);
    d->tag = tag.front();
    d->pointcount = 0;
    d->filledcount = 0;
    sets.push_back({d.get(), std::string(tag), {}, {}, {}});
    bytag.emplace(std::string(tag), k);
    r.datasets.push_back(std::move(d));
  }
  points &p = sets[k];
  ++p.d->pointcount;
  if (!valuefailure.empty())
    return true;
  // x, y and the error of y. A line without a space or tab is read like
  // any other, so its missing fields fail conversion and every counted
  // point is filled.
  double v[3];
  for (int f = 0; f < 3; ++f) {
    const std::string_view field = nextfield(rest);
    bool over15;
    if (!parsefield(field, v[f], over15)) {
      valuefailure = conversionfailure{conversionfailure::kind::cell, i + 1, f + 1, {}};
      return true;
    }
    if (over15)
      v[f] = roundto15(v[f]);
  }
  if (!(v[2] > 0.0)) {
    valuefailure = conversionfailure{conversionfailure::kind::yerror, i + 1, 3, {}};
    return true;
  }
  p.x.push_back(v[0]);
  p.y.push_back(v[1]);
  p.e.push_back(v[2]);
  ++p.d->filledcount;
  return true;
}

bool chartconverter::state::startline(std::string_view raw, std::size_t j) {
  // The first data line chooses the layout.
  switch (classify(raw)) {
  case firstline::passedover:
    return true;
  case firstline::nodata:
    return fail(kNoData + r.filename);
  case firstline::column:
    at = phase::column;
    r.layout = textlayout::column;
    skipped = j; // the blank and comment lines before it
    if (!isnumberstart(trim(raw).front()))
      return fail(conversionfailure{conversionfailure::kind::line, j + 1, 0, {}});
    return columnline(raw, j);
  case firstline::tagged:
    break;
  }
  at = phase::tagged;
  r.layout = textlayout::tagged;
  return taggedline(raw, j);
}

chartconverter::chartconverter(const std::string &filename, std::size_t bytes, std::size_t lines)
    : s_(std::make_unique<state>()) {
  s_->bytes = bytes;
  s_->lines = lines;
  s_->r.filename = filename;
  names(filename, s_->r);
}

chartconverter::~chartconverter() = default;

void chartconverter::observe(progress observer) { s_->observer = std::move(observer); }

const numericgrid *chartconverter::filling() const noexcept {
  return s_->at == state::phase::column ? &s_->r.grid : nullptr;
}

chartconverter::firstline chartconverter::classify(std::string_view line) {
  if (ispassedover(line))
    return firstline::passedover;
  const std::string_view trimmed = trim(line);
  if (trimmed.empty())
    return firstline::nodata;
  return isnumberstart(trimmed.back()) ? firstline::column : firstline::tagged;
}

std::optional<textlayout> chartconverter::layoutof(firstline kind) noexcept {
  if (kind == firstline::column)
    return textlayout::column;
  if (kind == firstline::tagged)
    return textlayout::tagged;
  return std::nullopt;
}

std::unique_ptr<chartconverter> chartconverter::secondpart(textlayout layout, std::size_t bytes,
                                                           std::size_t lines) const {
  auto two = std::make_unique<chartconverter>(s_->r.filename, bytes, lines);
  state &t = *two->s_;
  t.r.layout = layout;
  t.at = layout == textlayout::column ? state::phase::column : state::phase::tagged;
  return two;
}

bool chartconverter::feed(std::string_view raw) {
  state &s = *s_;
  const std::size_t j = s.next++;
  s.fed += raw.size() + 1;
  if (s.observer && s.next % kProgressLines == 0)
    s.report(s.fed);
  try {
    switch (s.at) {
    case state::phase::start:
      return s.startline(raw, j);
    case state::phase::column:
      if (s.next == kEstimateAfter && s.reserved && !s.estimated)
        s.reestimate();
      return s.columnline(raw, j);
    case state::phase::tagged:
      return s.taggedline(raw, j);
    case state::phase::done:
      return false;
    }
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  const std::string filename = std::move(s.r.filename);
  s.sets.clear();
  s.bytag.clear();
  s.r = ConversionResult{}; // give back what the run has built
  return s.fail(notenoughtoconvert(filename));
}

ConversionOutcome chartconverter::state::finish() {
  switch (at) {
  case phase::done:
    return failure(failed.message(r.filename, 0));
  case phase::start:
    return failure(kNoData + r.filename); // no lines, or no data line
  case phase::column:
    // Room made from a line count is given back when left over. Room made
    // from an estimate was never touched, and so holds no memory: it stays,
    // rather than copying every column to give it back.
    if (lines)
      r.grid.shrink();
    break;
  case phase::tagged:
    for (const auto &p : sets)
      if (p.d->pointcount < 2)
        return failure(kTwoPoints);
    if (!valuefailure.empty())
      return failure(valuefailure.message(r.filename, 0));
    for (auto &p : sets) {
      auto makerow = [](std::vector<double> &v) {
        auto row = std::make_shared<drow>();
        row->n = static_cast<int>(v.size());
        row->data = std::move(v);
        return row;
      };
      p.d->x = makerow(p.x);
      p.d->y = makerow(p.y);
      p.d->yerr = makerow(p.e);
    }
    break;
  }
  ConversionOutcome o;
  o.result.emplace(std::move(r));
  at = phase::done;
  return o;
}

ConversionOutcome chartconverter::finish() {
  s_->report(s_->bytes);
  return s_->finish();
}

namespace {

// Gives back the whole pages of [from, to) to the system: their contents
// are no longer needed (the memory stays allocated, and reads as zeros).
void givepagesback(const void *from, const void *to) noexcept {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto lo = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
  const auto hi = reinterpret_cast<std::uintptr_t>(to) & ~(page - 1);
  if (hi > lo)
    ::madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_DONTNEED);
}

// Moves the values of from, past its first skip, onto the end of into, and
// empties from. from's pages are given back as they are copied, so that
// the two together never hold much more memory than into alone.
void appendreleasing(std::vector<double> &into, std::vector<double> &from, std::size_t skip) {
  if (from.size() > skip) {
    const std::size_t n = from.size() - skip;
    if (into.capacity() - into.size() < n)
      into.reserve(into.size() + n);
    constexpr std::size_t step = std::size_t(1) << 17; // a MiB of values
    const double *const src = from.data() + skip;
    for (std::size_t k = 0; k < n; k += step) {
      const std::size_t m = std::min(step, n - k);
      into.insert(into.end(), src + k, src + k + m);
      givepagesback(src + k, src + k + m);
    }
  }
  std::vector<double>().swap(from);
}

} // namespace

class gridjoin {
public:
  // Puts the cells of part, the grid of the second part of a text, below
  // those of into: part's row r (from 1) becomes into's row r + shift.
  static void join(numericgrid &into, numericgrid &part, std::size_t shift) {
    for (std::size_t c = 0; c < part.columns_.size(); ++c) {
      std::vector<double> &from = part.columns_[c];
      if (from.size() <= 1)
        continue; // no cell of the column in part
      into.grow(static_cast<int>(c) + 1, 0);
      std::vector<double> &col = into.columns_[c];
      if (col.size() < shift + 1)
        col.resize(shift + 1, std::numeric_limits<double>::quiet_NaN());
      appendreleasing(col, from, 1);
      into.rows_ = std::max(into.rows_, static_cast<int>(col.size()));
    }
  }
};

// Takes the numbers of second, the run of the lines that follow this
// run's, both clean so far.
void chartconverter::state::join(state &second) {
  if (at == phase::column) {
    // second counted its rows as if it began the text.
    gridjoin::join(r.grid, second.r.grid, next - skipped);
    return;
  }
  for (std::size_t k = 0; k < second.sets.size(); ++k) {
    points &q = second.sets[k];
    const auto found = bytag.find(q.tag);
    if (found == bytag.end()) {
      bytag.emplace(q.tag, sets.size());
      sets.push_back(std::move(q));
      r.datasets.push_back(std::move(second.r.datasets[k]));
      continue;
    }
    points &p = sets[found->second];
    p.d->pointcount += q.d->pointcount;
    p.d->filledcount += q.d->filledcount;
    appendreleasing(p.x, q.x, 0);
    appendreleasing(p.y, q.y, 0);
    appendreleasing(p.e, q.e, 0);
  }
  if (valuefailure.empty() && !second.valuefailure.empty()) {
    valuefailure = std::move(second.valuefailure);
    valuefailure.row += next; // a line number
  }
}

ConversionOutcome chartconverter::finish(chartconverter &second) {
  state &a = *s_;
  state &b = *second.s_;
  a.report(a.bytes);
  // A failure of the first part comes first; then one of the second,
  // whose line and row numbers count from its own first line.
  if (a.at == state::phase::done || a.at == state::phase::start)
    return a.finish();
  if (b.at == state::phase::done)
    return failure(
        b.failed.message(a.r.filename, a.at == state::phase::column ? a.next - a.skipped : a.next));
  try {
    a.join(b);
  } catch (const std::bad_alloc &) {
    return failure(notenoughtoconvert(a.r.filename)); // as when the lines run out of memory
  } catch (const std::length_error &) {
    return failure(notenoughtoconvert(a.r.filename));
  }
  return a.finish();
}

namespace {

// Where a text is split and the layout its first data line chooses;
// nothing for one part.
using splitpoint = std::optional<std::pair<std::size_t, textlayout>>;

// Whether a line ahead of every data line of a text to be split at k
// settles the split (at): a data line chooses the layout, a line of
// blanks leaves one part; blank and comment lines settle nothing.
bool decides(std::string_view line, std::size_t k, splitpoint &at) {
  const chartconverter::firstline kind = chartconverter::classify(line);
  if (kind == chartconverter::firstline::passedover)
    return false;
  if (const auto layout = chartconverter::layoutof(kind))
    at = std::pair{k, *layout};
  else
    at = std::nullopt;
  return true;
}

// Where a text of lines that is read in two parts is split: the number of
// the second part's first line, and the layout its first data line chooses;
// nothing for one part (a text too small, or no data line in its first
// part).
splitpoint splitlines(const textlines &lines, const conversionparts &split) {
  if (lines.size() < 2 || !split.splits(lines.bytes()))
    return std::nullopt;
  const std::size_t half = split.first ? split.first : lines.bytes() / 2;
  // The lines lie one after another in one buffer: the first line that
  // begins at half or later.
  const char *const base = lines[0].data();
  std::size_t lo = 1, hi = lines.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (static_cast<std::size_t>(lines[mid].data() - base) < half)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo >= lines.size())
    return std::nullopt;
  splitpoint at;
  for (std::size_t j = 0; j < lo; ++j)
    if (decides(lines[j], lo, at))
      return at;
  return std::nullopt;
}

// Feeds the first part (feedfirst) on a thread of its own and the second
// (feedsecond) on this one; the second part's progress stands for the
// whole run's of total bytes: both parts go at about the same pace. False
// when no thread could be made.
template <class FeedFirst, class FeedSecond>
bool feedintwo(chartconverter &two, std::size_t total, const chartconverter::progress &observer,
               FeedFirst feedfirst, FeedSecond feedsecond) {
  std::jthread first;
  try {
    first = std::jthread(feedfirst);
  } catch (const std::system_error &) {
    return false;
  }
  std::size_t reported = 0;
  if (observer)
    two.observe([&](std::size_t done, std::size_t of) {
      const auto whole = static_cast<std::size_t>(
          static_cast<double>(done) / static_cast<double>(of) * static_cast<double>(total));
      if (whole > reported && whole < total)
        observer(reported = whole, total);
    });
  feedsecond();
  first.join();
  if (observer)
    observer(total, total);
  return true;
}

// The two parts of lines, the first on a thread of its own; nothing when
// no thread could be made.
std::optional<ConversionOutcome> convertintwo(const textlines &lines, std::size_t k,
                                              textlayout layout, const std::string &filename,
                                              const chartconverter::progress &observer) {
  const std::size_t secondbytes =
      static_cast<std::size_t>(lines[lines.size() - 1].data() - lines[k].data()) +
      lines[lines.size() - 1].size() + 1;
  chartconverter one(filename, lines.bytes(), lines.size());
  const std::unique_ptr<chartconverter> two = one.secondpart(layout, secondbytes, lines.size() - k);
  const bool fed = feedintwo(
      *two, lines.bytes(), observer,
      [&] {
        for (std::size_t j = 0; j < k && one.feed(lines[j]); ++j) {
        }
      },
      [&] {
        for (std::size_t j = k; j < lines.size() && two->feed(lines[j]); ++j) {
        }
      });
  if (!fed)
    return std::nullopt;
  return one.finish(*two);
}

// The processors this process may run on: those of the machine, fewer when
// it is bound to some of them (taskset, a container's CPU set).
unsigned processors() noexcept {
  unsigned n = std::thread::hardware_concurrency();
  if (cpu_set_t set; ::sched_getaffinity(0, sizeof set, &set) == 0)
    n = std::min(n, static_cast<unsigned>(CPU_COUNT(&set)));
  return n;
}

} // namespace

bool conversionparts::splits(std::size_t bytes) const noexcept {
  return bytes > 0 && bytes >= from && (anyprocessors || processors() > 1);
}

std::optional<std::size_t> secondpartline(const textlines &lines, const conversionparts &split) {
  if (const auto at = splitlines(lines, split))
    return at->first;
  return std::nullopt;
}

namespace {

// Feeds the lines of text[from, to) to run: pieces between line feeds, the
// empty piece after a final line feed no line. False once run has settled
// the outcome.
bool feedtext(chartconverter &run, std::string_view text, std::size_t from, std::size_t to) {
  const char *p = text.data() + from;
  const char *const end = text.data() + to;
  for (;;) {
    const char *q =
        static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!q)
      q = end;
    if (q == end && p == end)
      return true;
    if (!run.feed(std::string_view(p, static_cast<std::size_t>(q - p))))
      return false;
    if (q == end)
      return true;
    p = q + 1;
  }
}

// Where a text held whole is read in two parts: the byte the second part's
// first line begins at, and the layout the first data line chooses;
// nothing for one part.
splitpoint splittext(std::string_view text, const conversionparts &split) {
  if (!split.splits(text.size()))
    return std::nullopt;
  std::size_t start = split.first ? split.first : text.size() / 2;
  if (start == 0)
    start = 1;
  if (start < text.size() && text[start - 1] != '\n') {
    const std::size_t lf = text.find('\n', start);
    start = lf == std::string_view::npos ? text.size() : lf + 1;
  }
  if (start >= text.size())
    return std::nullopt;
  splitpoint at;
  for (std::size_t p = 0; p < start;) {
    const std::size_t lf = text.find('\n', p);
    if (decides(text.substr(p, lf - p), start, at))
      return at;
    p = lf + 1;
  }
  return std::nullopt;
}

// The two parts of a text held whole, the first on a thread of its own;
// nothing when no thread could be made.
std::optional<ConversionOutcome> converttextintwo(std::string_view text, std::size_t start,
                                                  textlayout layout, const std::string &filename,
                                                  const chartconverter::progress &observer) {
  chartconverter one(filename, text.size());
  const std::unique_ptr<chartconverter> two = one.secondpart(layout, text.size() - start);
  if (!feedintwo(
          *two, text.size(), observer, [&] { feedtext(one, text, 0, start); },
          [&] { feedtext(*two, text, start, text.size()); }))
    return std::nullopt;
  return one.finish(*two);
}

// The outcome of convert(), or the memory message when it runs out of
// memory: whatever the run has built is released on the way out; only the
// message stays.
template <class Convert>
ConversionOutcome withinmemory(const std::string &filename, Convert convert) {
  try {
    return convert();
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  try {
    return failure(notenoughtoconvert(filename));
  } catch (...) {
    return ConversionOutcome{}; // not even the message fits: an empty one
  }
}

} // namespace

ConversionOutcome ConvertTextToChart(std::string_view text, const std::string &filename,
                                     chartconverter::progress observer, conversionparts split) {
  return withinmemory(filename, [&] {
    if (const auto at = splittext(text, split))
      if (auto two = converttextintwo(text, at->first, at->second, filename, observer))
        return std::move(*two);
    chartconverter run(filename, text.size());
    run.observe(std::move(observer));
    feedtext(run, text, 0, text.size());
    return run.finish();
  });
}

ConversionOutcome ConvertToChart(const textlines &lines, const std::string &filename,
                                 chartconverter::progress observer, conversionparts split) {
  return withinmemory(filename, [&] {
    if (const auto at = splitlines(lines, split))
      if (auto two = convertintwo(lines, at->first, at->second, filename, observer))
        return std::move(*two);
    chartconverter run(filename, lines.bytes(), lines.size());
    run.observe(std::move(observer));
    for (std::size_t j = 0; j < lines.size() && run.feed(lines[j]); ++j) {
    }
    return run.finish();
  });
}

} // namespace orvalle
