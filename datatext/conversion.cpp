// ConvertToChart: a data text in the column layout becomes a numeric grid,
// one in the tagged layout becomes datasets.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "datatext/conversion.h"

namespace orvalle {

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
  r.caption = "Chart Compiled From - " + base;
}

} // namespace

std::string columnname(int c) {
  std::string letters;
  for (long n = static_cast<long>(c) + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return "Col " + letters;
}

// What a run of the conversion holds between lines.
struct chartconverter::state {
  enum class phase { start, column, tagged, done };

  std::size_t bytes = 0;
  std::size_t lines = 0; // 0: not known
  ConversionResult r;
  phase at = phase::start;
  std::size_t next = 0; // number of the next line, from 0
  std::string failed;   // set with phase done: the run's one message

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
  // they come. A value that does not convert is kept as the message and
  // ends the gathering, but the rest is still checked line by line, since a
  // line that does not begin with a number, and then a tag with fewer than
  // two points, come before it (the two passes of the layout's rule).
  struct points {
    dataset *d = nullptr;
    std::vector<double> x, y, e;
  };
  std::vector<points> sets;
  std::unordered_map<std::string, std::size_t> bytag;
  std::string lasttag;
  std::size_t last = 0;
  std::string valuefailure;

  bool fail(std::string text) {
    failed = std::move(text);
    at = phase::done;
    return false;
  }
  bool columnline(std::string_view raw, std::size_t j);
  bool plaincolumnline(std::string_view raw, std::size_t j);
  bool taggedline(std::string_view raw, std::size_t i);
  std::size_t findtag(std::string_view tag);
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
      return fail(toowide(row));
    const std::string_view field = nextfield(rest);
    double v;
    bool over15;
    if (!parsefield(field, v, over15))
      return fail(rowcolumn(kBadField, row, c + 1));
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
        return fail(toowide(row));
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
    return fail(badline(i + 1, r.filename));
  std::string_view rest = trim(raw);
  const std::string_view tag = tagof(rest);
  std::size_t k = findtag(tag);
  if (k == sets.size()) {
    auto d = std::make_unique<dataset>(true);
    d->name = "Dataset " + std::string(tag);
    d->tag = tag.front();
    d->pointcount = 0;
    d->filledcount = 0;
    sets.push_back({d.get(), {}, {}, {}});
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
      valuefailure = rowcolumn(kBadField, i + 1, f + 1);
      return true;
    }
    if (over15)
      v[f] = roundto15(v[f]);
  }
  if (!(v[2] > 0.0)) {
    valuefailure = rowcolumn(kBadError, i + 1, 3);
    return true;
  }
  p.x.push_back(v[0]);
  p.y.push_back(v[1]);
  p.e.push_back(v[2]);
  ++p.d->filledcount;
  return true;
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

bool chartconverter::feed(std::string_view raw) {
  state &s = *s_;
  const std::size_t j = s.next++;
  s.fed += raw.size() + 1;
  if (s.observer && s.next % kProgressLines == 0)
    s.report(s.fed);
  try {
    switch (s.at) {
    case state::phase::start: {
      if (ispassedover(raw))
        return true;
      // The first data line chooses the layout.
      const std::string_view first = trim(raw);
      if (first.empty())
        return s.fail(kNoData + s.r.filename);
      if (isnumberstart(first.back())) {
        s.at = state::phase::column;
        s.r.layout = textlayout::column;
        s.skipped = j; // the blank and comment lines before it
        if (!isnumberstart(first.front()))
          return s.fail(badline(j + 1, s.r.filename));
        return s.columnline(raw, j);
      }
      s.at = state::phase::tagged;
      s.r.layout = textlayout::tagged;
      return s.taggedline(raw, j);
    }
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
  s.r = ConversionResult{}; // give back what the run has built
  return s.fail("Not enough memory to convert " +
                (filename.empty() ? std::string("the text") : filename) + " to a chart");
}

ConversionOutcome chartconverter::finish() {
  state &s = *s_;
  s.report(s.bytes);
  switch (s.at) {
  case state::phase::done:
    return failure(std::move(s.failed));
  case state::phase::start:
    return failure(kNoData + s.r.filename); // no lines, or no data line
  case state::phase::column:
    // Room made from a line count is given back when left over. Room made
    // from an estimate was never touched, and so holds no memory: it stays,
    // rather than copying every column to give it back.
    if (s.lines)
      s.r.grid.shrink();
    break;
  case state::phase::tagged:
    for (const auto &p : s.sets)
      if (p.d->pointcount < 2)
        return failure(kTwoPoints);
    if (!s.valuefailure.empty())
      return failure(std::move(s.valuefailure));
    for (auto &p : s.sets) {
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
  o.result.emplace(std::move(s.r));
  s.at = state::phase::done;
  return o;
}

ConversionOutcome ConvertToChart(const textlines &lines, const std::string &filename,
                                 chartconverter::progress observer) {
  // Whatever the run has built is released on the way out; only the
  // message stays.
  try {
    chartconverter run(filename, lines.bytes(), lines.size());
    run.observe(std::move(observer));
    for (std::size_t j = 0; j < lines.size() && run.feed(lines[j]); ++j) {
    }
    return run.finish();
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  try {
    return failure("Not enough memory to convert " +
                   (filename.empty() ? std::string("the text") : filename) + " to a chart");
  } catch (...) {
    return ConversionOutcome{}; // not even the message fits: an empty one
  }
}

} // namespace orvalle
