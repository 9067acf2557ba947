// The program's number syntax and the numeric column grid.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "datatext/conversion.h"

namespace orvalle {

namespace {

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The largest number of 15 significant digits that a double holds.
constexpr double kLargest15 = 1.79769313486231e308;

inline bool isdigit(char c) { return c >= '0' && c <= '9'; }

// The digits of a number's text before its exponent: the first 19
// significant ones as an integer, the power of ten that scales it, and
// whether a nonzero digit past those 19 was dropped.
struct decimaldigits {
  std::uint64_t mant = 0;
  int sig = 0;   // significant digits taken into mant (at most 19)
  int scale = 0; // decimal exponent to apply to mant
  bool lost = false;
  bool anydigit = false;
};

// Takes the next digit, one before the point or, with fraction, after it.
// Leading zeros count only in the scale, and only after the point.
inline void takedigit(decimaldigits &d, int digit, bool fraction) {
  d.anydigit = true;
  if (d.sig == 0 && digit == 0) {
    if (fraction)
      --d.scale;
    return;
  }
  if (d.sig < 19) {
    d.mant = d.mant * 10 + static_cast<unsigned>(digit);
    ++d.sig;
    if (fraction)
      --d.scale;
  } else {
    if (!fraction)
      ++d.scale;
    d.lost |= digit != 0;
  }
}

// Reads the digits, with at most one point among them, from s[i] on; i is
// left after them.
inline decimaldigits readdigits(std::string_view s, std::size_t &i) {
  decimaldigits d;
  const std::size_t n = s.size();
  for (; i < n && isdigit(s[i]); ++i)
    takedigit(d, s[i] - '0', false);
  if (i < n && s[i] == '.')
    for (++i; i < n && isdigit(s[i]); ++i)
      takedigit(d, s[i] - '0', true);
  return d;
}

// Reads an exponent ("e" or "E", a sign, digits) if one starts at s[i],
// leaving i after it; exponent stays 0 without one. False for an "e" with
// no digit after it. Exponents past 99,999 are only known to be that large.
inline bool readexponent(std::string_view s, std::size_t &i, int &exponent) {
  const std::size_t n = s.size();
  if (i >= n || (s[i] != 'e' && s[i] != 'E'))
    return true;
  ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i >= n || !isdigit(s[i]))
    return false;
  for (; i < n && isdigit(s[i]); ++i)
    if (exponent < 100000)
      exponent = exponent * 10 + (s[i] - '0');
  if (negative)
    exponent = -exponent;
  return true;
}

// Trailing zeros are not significant: past 15 digits, with no nonzero
// digit dropped, they move from mant into the scale.
inline void droptrailingzeros(decimaldigits &d) {
  if (d.sig <= 15 || d.lost)
    return;
  while (d.mant % 10 == 0) {
    d.mant /= 10;
    --d.sig;
    d.scale += 1;
  }
}

// The value of the unsigned number text by the standard reading, given
// magnitude, the power of ten of its leading digit plus one: false when
// it is not finite or too large; too small a number reads as zero.
inline bool readlong(std::string_view text, int magnitude, double &v) {
  v = 0.0;
  const char *last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), last, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0)
      return false;
    v = 0.0;
  } else if (ec != std::errc() || ptr != last) {
    return false;
  }
  return std::isfinite(v);
}

} // namespace

// Reads a number without blanks around it and tells whether its text
// carries more than 15 significant digits (then the value still needs
// rounding to 15).
bool parsefield(std::string_view s, double &value, bool &over15) {
  std::size_t i = 0;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    ++i;
  }
  const std::size_t numberstart = i;
  decimaldigits d = readdigits(s, i);
  int exponent = 0;
  if (!d.anydigit || !readexponent(s, i, exponent) || i != s.size())
    return false;
  if (d.mant == 0) {
    value = negative ? -0.0 : 0.0;
    over15 = false;
    return true;
  }
  droptrailingzeros(d);
  over15 = d.sig > 15 || d.lost;
  const int e = d.scale + exponent;
  double v = 0.0;
  if (!over15 && e >= -22 && e <= 22) {
    // mant and 10^|e| are both exact doubles: one correctly rounded operation.
    const double m = static_cast<double>(d.mant);
    v = e >= 0 ? m * kPow10[e] : m / kPow10[-e];
  } else if (!readlong(s.substr(numberstart), e + d.sig, v)) {
    return false;
  }
  value = negative ? -v : v;
  return true;
}

bool parsenumber(std::string_view s, double &value) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  bool over15 = false;
  return parsefield(s, value, over15);
}

double roundto15(double v) {
  if (!std::isfinite(v) || v == 0.0)
    return v;
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  double back = v;
  if (std::from_chars(buf, r.ptr, back, std::chars_format::scientific).ec ==
      std::errc::result_out_of_range)
    // Above 1.79769313486231e308 the nearest 15-digit text lies beyond the
    // largest double; the largest 15-digit number below it is used, so the
    // value and its text still agree.
    return std::copysign(kLargest15, v);
  return back;
}

bool numericgrid::has(int c, int r) const noexcept {
  if (c < 0 || c >= cols_ || r < 0 || r >= rows_)
    return false;
  if (const drow *s = sharedrow(c))
    return r >= 1 && r - 1 < s->n && !std::isnan((*s)[r - 1]);
  const auto &col = columns_[static_cast<std::size_t>(c)];
  return static_cast<std::size_t>(r) < col.size() && !std::isnan(col[static_cast<std::size_t>(r)]);
}

double numericgrid::value(int c, int r) const noexcept {
  if (!has(c, r))
    return kEmpty;
  if (const drow *s = sharedrow(c))
    return (*s)[r - 1];
  return columns_[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)];
}

rowref numericgrid::sharecolumn(int c) {
  if (c < 0 || c >= cols_)
    return nullptr;
  const auto ci = static_cast<std::size_t>(c);
  if (shared_.size() <= ci)
    shared_.resize(ci + 1);
  if (!shared_[ci]) {
    std::vector<double> v = std::move(columns_[ci]);
    columns_[ci] = std::vector<double>();
    v.resize(static_cast<std::size_t>(rows_), kEmpty);
    v.erase(v.begin()); // the header row: the values move down in place
    auto row = std::make_shared<drow>();
    row->n = rows_ - 1;
    row->data = std::move(v);
    shared_[ci] = std::move(row);
  }
  return shared_[ci];
}

std::string numericgrid::text(int c, int r) const {
  return has(c, r) ? generaltext(value(c, r), 15, '.') : std::string();
}

void numericgrid::set(int c, int r, double v) { put(c, r, std::isnan(v) ? kEmpty : roundto15(v)); }

void numericgrid::put(int c, int r, double v) {
  if (c < 0 || r < 0)
    return;
  grow(c + 1, r + 1);
  auto &col = columns_[static_cast<std::size_t>(c)];
  if (const drow *s = sharedrow(c)) {
    // The grid takes its own copy of a column it has handed over.
    col.assign(1, kEmpty);
    col.insert(col.end(), s->data.begin(), s->data.begin() + s->n);
    shared_[static_cast<std::size_t>(c)].reset();
  }
  const auto ri = static_cast<std::size_t>(r);
  if (col.size() <= ri) {
    if (std::isnan(v))
      return;
    col.resize(ri + 1, kEmpty);
  }
  col[ri] = v;
}

void numericgrid::grow(int cols, int rows) {
  if (rows > rows_)
    rows_ = rows;
  if (cols > cols_) {
    const auto old = columns_.size();
    cols_ = cols;
    columns_.resize(static_cast<std::size_t>(cols));
    for (auto c = old; c < columns_.size() && c < static_cast<std::size_t>(reservedcols_); ++c)
      columns_[c].reserve(static_cast<std::size_t>(reservedrows_));
  }
}

numericgrid::storage numericgrid::room(int c) const noexcept {
  const auto ci = static_cast<std::size_t>(c);
  if (c < 0 || ci >= columns_.size() || sharedrow(c))
    return {};
  const std::vector<double> &column = columns_[ci];
  return {column.data(), column.capacity() * sizeof(double), column.size() * sizeof(double)};
}

void numericgrid::reserve(int cols, int rows) {
  reservedcols_ = cols;
  reservedrows_ = rows;
  for (std::size_t c = 0; c < columns_.size() && c < static_cast<std::size_t>(cols); ++c)
    columns_[c].reserve(static_cast<std::size_t>(rows));
}

void numericgrid::shrink() {
  for (auto &col : columns_)
    if (col.capacity() > col.size() + col.size() / 4 + 16)
      col.shrink_to_fit();
  reservedcols_ = reservedrows_ = 0;
}

} // namespace orvalle
