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

} // namespace

// Reads a number without blanks around it and tells whether its text
// carries more than 15 significant digits (then the value still needs
// rounding to 15).
bool parsefield(std::string_view s, double &value, bool &over15) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const std::size_t numberstart = i;
  std::uint64_t mant = 0;
  int sig = 0;       // significant digits taken into mant (at most 19)
  int scale = 0;     // decimal exponent to apply to mant
  bool lost = false; // nonzero digits beyond the 19 taken
  bool anydigit = false;
  for (; i < n && isdigit(s[i]); ++i) {
    anydigit = true;
    const int d = s[i] - '0';
    if (sig == 0 && d == 0)
      continue;
    if (sig < 19) {
      mant = mant * 10 + static_cast<unsigned>(d);
      ++sig;
    } else {
      ++scale;
      lost |= d != 0;
    }
  }
  if (i < n && s[i] == '.') {
    for (++i; i < n && isdigit(s[i]); ++i) {
      anydigit = true;
      const int d = s[i] - '0';
      if (sig == 0 && d == 0) {
        --scale;
        continue;
      }
      if (sig < 19) {
        mant = mant * 10 + static_cast<unsigned>(d);
        ++sig;
        --scale;
      } else {
        lost |= d != 0;
      }
    }
  }
  if (!anydigit)
    return false;
  int exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expnegative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
      expnegative = s[i] == '-';
      ++i;
    }
    if (i >= n || !isdigit(s[i]))
      return false;
    for (; i < n && isdigit(s[i]); ++i)
      if (exponent < 100000)
        exponent = exponent * 10 + (s[i] - '0');
    if (expnegative)
      exponent = -exponent;
  }
  if (i != n)
    return false;

  if (mant == 0) {
    value = negative ? -0.0 : 0.0;
    over15 = false;
    return true;
  }
  // Trailing zeros are not significant.
  if (sig > 15 && !lost) {
    while (mant % 10 == 0) {
      mant /= 10;
      --sig;
      ++scale;
    }
  }
  over15 = sig > 15 || lost;
  const int e = scale + exponent;
  if (!over15 && e >= -22 && e <= 22) {
    // mant and 10^|e| are both exact doubles: one correctly rounded operation.
    const double m = static_cast<double>(mant);
    value = e >= 0 ? m * kPow10[e] : m / kPow10[-e];
    if (negative)
      value = -value;
    return true;
  }
  double v = 0.0;
  const char *first = s.data() + numberstart;
  const char *last = s.data() + n;
  const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Out of range: too large is not a number; too small reads as zero.
    if (e + sig > 0)
      return false;
    v = 0.0;
  } else if (ec != std::errc() || ptr != last) {
    return false;
  }
  if (!std::isfinite(v))
    return false;
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
