#include "engine/numeric.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace orvalle {

namespace {

[[noreturn]] void fault(const char *what, const char *kind) {
  throw engine_error(kFloatingPoint, std::string("Floating point ") + kind + " in " + what);
}

void checkall(const vec &v, const char *what) {
  for (double x : v.data)
    checked(x, what);
}

// Determinant by elimination with partial pivoting; used for orders where
// cofactor expansion would take factorial time.
double eliminationdet(matr a) {
  const int n = a.rows;
  double d = 1.0;
  for (int j = 0; j < n; ++j) {
    int pivot = j;
    for (int r = j + 1; r < n; ++r)
      if (std::fabs(a(r, j)) > std::fabs(a(pivot, j)))
        pivot = r;
    if (a(pivot, j) == 0.0)
      return 0.0;
    if (pivot != j) {
      std::swap(a.row[static_cast<std::size_t>(pivot)], a.row[static_cast<std::size_t>(j)]);
      d = -d;
    }
    d *= a(j, j);
    for (int r = j + 1; r < n; ++r) {
      const double f = a(r, j) / a(j, j);
      for (int c = j + 1; c < n; ++c)
        a(r, c) -= a(j, c) * f;
      a(r, j) = 0.0;
    }
  }
  return checked(d, "det");
}

constexpr int kLargestExpandedOrder = 4;

} // namespace

double checked(double x, const char *what) {
  if (std::isnan(x))
    fault(what, "invalid operation");
  if (std::isinf(x))
    fault(what, "overflow");
  return x;
}

double divide(double a, double b, const char *what) {
  if (b == 0.0)
    fault(what, a == 0.0 ? "invalid operation (0/0)" : "division by zero");
  return checked(a / b, what);
}

double checkedsqrt(double x, const char *what) {
  if (x < 0.0)
    fault(what, "invalid operation (square root of a negative number)");
  return checked(std::sqrt(x), what);
}

void vec::zero() {
  for (double &x : data)
    x = 0.0;
}

matr::matr(int r, int c) : rows(r), cols(c) {
  row.reserve(static_cast<std::size_t>(r));
  for (int i = 0; i < r; ++i)
    row.emplace_back(c);
}

matr::matr(std::initializer_list<std::initializer_list<double>> values)
    : rows(static_cast<int>(values.size())),
      cols(values.size() ? static_cast<int>(values.begin()->size()) : 0) {
  for (const auto &r : values)
    row.emplace_back(r);
}

void matr::zero() {
  for (vec &r : row)
    r.zero();
}

matr matr::minor(int r, int c) const {
  matr m(rows - 1, cols - 1);
  for (int i = 0, mi = 0; i < rows; ++i) {
    if (i == r)
      continue;
    for (int j = 0, mj = 0; j < cols; ++j) {
      if (j == c)
        continue;
      m(mi, mj++) = (*this)(i, j);
    }
    ++mi;
  }
  return m;
}

double matr::det() const {
  if (rows == 1)
    return checked((*this)(0, 0), "det");
  if (rows == 2)
    return checked((*this)(0, 0) * (*this)(1, 1) - (*this)(0, 1) * (*this)(1, 0), "det");
  if (rows > kLargestExpandedOrder)
    return eliminationdet(*this);
  double sum = 0.0;
  for (int i = 0; i < cols; ++i) {
    const double sign = (i % 2 == 0) ? 1.0 : -1.0;
    sum += sign * (*this)(0, i) * minordet(0, i);
  }
  return checked(sum, "det");
}

double matr::minordet(int r, int c) const {
  if (rows == 2)
    return (*this)(1 - r, 1 - c);
  return minor(r, c).det();
}

// For orders beyond the expanded ones the cofactors over the determinant
// are the transposed inverse, taken from one elimination: this keeps
// Cramer's rule within a small multiple of Gaussian elimination's cost,
// and a large system's determinant, which may lie outside the range of a
// double, is never formed. A singular matrix still faults (a zero pivot).
matr matr::cofinverse() const {
  if (rows > kLargestExpandedOrder && rows == cols) {
    const matr inv = elimination(*this).inverse();
    matr c(rows, cols);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        c(i, j) = inv(j, i);
    return c;
  }
  const double d = det();
  matr inv(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double sign = ((i + j) % 2 == 0) ? 1.0 : -1.0;
      inv(i, j) = divide(sign * minordet(i, j), d, "cofinverse");
    }
  return inv;
}

vec minus(const vec &a, const vec &b) {
  vec r(a.n);
  for (int i = 0; i < a.n; ++i)
    r[i] = checked(a[i] - b[i], "minus");
  return r;
}

double l1norm(const vec &v) {
  double sum = 0.0;
  for (double x : v.data)
    sum += checkedsqrt(checked(x * x, "l1norm"), "l1norm");
  return checked(sum, "l1norm");
}

vec nudged(const vec &v) {
  vec r(v.n);
  for (int i = 0; i < v.n; ++i)
    r[i] = checked(v[i] * 1.00000004, "nudged");
  return r;
}

bool notabove(const vec &a, const vec &b) {
  if (a.n != b.n)
    return false;
  for (int i = 0; i < a.n; ++i) {
    const double sa = a[i] * a[i];
    const double sb = b[i] * b[i];
    if (sa < sb)
      return true;
    if (sa > sb)
      return false;
  }
  return true;
}

vec tmul(const matr &m, const vec &v) {
  if (v.n != m.rows)
    return vec(0);
  vec u(m.cols);
  for (int i = 0; i < m.cols; ++i) {
    double s = 0.0;
    for (int j = 0; j < m.rows; ++j)
      s += m(j, i) * v[j];
    u[i] = checked(s, "tmul");
  }
  return u;
}

namespace {

// The pivot order of the elimination: a before b when, compared from column
// `from` on, the first squared element that differs is larger in a. The
// columns before `from` are exactly 0 in both rows being ordered.
bool squaredabove(const vec &a, const vec &b, int from) {
  for (int i = from; i < a.n; ++i) {
    const double sa = a[i] * a[i];
    const double sb = b[i] * b[i];
    if (sa != sb)
      return sa > sb;
  }
  return false;
}

} // namespace

// Before column j the rows are brought into descending order of their
// squared elements (the rows already used as pivots keep their places, as
// every row below them is 0 where they are not). A stable sort of the rows
// from j on gives the same order as the bubble passes that define the rule
// and takes O(n log n) comparisons instead of O(n^2). The row factors are
// kept below the diagonal and travel with their rows; solve applies the
// whole permutation first and then the factors in the order of the
// elimination, which performs the same operations on every element as
// eliminating the right-hand side alongside.
elimination::elimination(const matr &a) : lu_(a) {
  if (a.rows != a.cols)
    throw engine_error(kRowLengths, "gauss: the system's matrix is not square");
  // A NaN would make the row ordering cyclic; it is a fault anyway.
  for (const vec &r : lu_.row)
    checkall(r, "gauss");
  const int n = lu_.rows;
  perm_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    perm_[static_cast<std::size_t>(i)] = i;
  std::vector<int> order;
  std::vector<vec> rows;
  std::vector<int> perm;
  for (int j = 0; j + 1 < n; ++j) {
    order.resize(static_cast<std::size_t>(n - j));
    for (int i = j; i < n; ++i)
      order[static_cast<std::size_t>(i - j)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int p, int q) {
      return squaredabove(lu_.row[static_cast<std::size_t>(p)],
                          lu_.row[static_cast<std::size_t>(q)], j);
    });
    bool moved = false;
    for (int i = j; i < n && !moved; ++i)
      moved = order[static_cast<std::size_t>(i - j)] != i;
    if (moved) {
      rows.clear();
      perm.clear();
      for (int p : order) {
        rows.push_back(std::move(lu_.row[static_cast<std::size_t>(p)]));
        perm.push_back(perm_[static_cast<std::size_t>(p)]);
      }
      for (int i = j; i < n; ++i) {
        lu_.row[static_cast<std::size_t>(i)] = std::move(rows[static_cast<std::size_t>(i - j)]);
        perm_[static_cast<std::size_t>(i)] = perm[static_cast<std::size_t>(i - j)];
      }
    }
    const vec &pivot = lu_.row[static_cast<std::size_t>(j)];
    for (int s = j + 1; s < n; ++s) {
      vec &r = lu_.row[static_cast<std::size_t>(s)];
      const double f = divide(r[j], pivot[j], "gauss");
      for (int m = j + 1; m < n; ++m)
        r[m] = checked(r[m] - pivot[m] * f, "gauss");
      r[j] = f;
    }
  }
}

vec elimination::solve(const vec &b) const {
  const int n = lu_.rows;
  if (b.n != n)
    throw engine_error(kRowLengths,
                       "gauss: the system's matrix and right-hand side differ in size");
  checkall(b, "gauss");
  vec y(n);
  for (int i = 0; i < n; ++i)
    y[i] = b[perm_[static_cast<std::size_t>(i)]];
  for (int j = 0; j + 1 < n; ++j)
    for (int s = j + 1; s < n; ++s)
      y[s] = checked(y[s] - y[j] * lu_(s, j), "gauss");
  vec x(n);
  for (int s = n - 1; s >= 0; --s) {
    double sum = y[s];
    for (int k = s + 1; k < n; ++k)
      sum -= lu_(s, k) * x[k];
    x[s] = divide(sum, lu_(s, s), "gauss");
  }
  return x;
}

matr elimination::inverse() const {
  const int n = lu_.rows;
  matr inv(n, n);
  vec unit(n);
  for (int k = 0; k < n; ++k) {
    unit.zero();
    unit[k] = 1.0;
    const vec col = solve(unit);
    for (int r = 0; r < n; ++r)
      inv(r, k) = col[r];
  }
  return inv;
}

vec gauss(const matr &ain, const vec &bin) {
  if (bin.n != ain.rows || ain.rows != ain.cols)
    throw engine_error(kRowLengths,
                       "gauss: the system's matrix and right-hand side differ in size");
  return elimination(ain).solve(bin);
}

vec solve(const matr &a, const vec &b, bool useGauss) {
  return useGauss ? gauss(a, b) : tmul(a.cofinverse(), b);
}

linearsystem::linearsystem(const matr &a, bool useGauss) {
  if (useGauss)
    eliminated_.emplace(a);
  else
    cofactors_ = a.cofinverse();
}

vec linearsystem::solve(const vec &b) const {
  return eliminated_ ? eliminated_->solve(b) : tmul(cofactors_, b);
}

matr linearsystem::inverse() const {
  if (eliminated_)
    return eliminated_->inverse();
  const int n = cofactors_.rows;
  matr inv(n, n);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      inv(r, k) = cofactors_(k, r);
  return inv;
}

matr jacobian(const vecfunction &f, const vec &p, const vec &fp) {
  const vec q = nudged(p);
  matr j(p.n, fp.n);
  for (int r = 0; r < p.n; ++r) {
    vec pr = p;
    pr[r] = q[r];
    const vec f1 = f(pr);
    const double step = q[r] - p[r];
    for (int c = 0; c < fp.n; ++c)
      j(r, c) = divide(f1[c] - fp[c], step, "jacobian");
  }
  return j;
}

double xpow(double a, double b) {
  if (b == 0.0)
    return 1.0;
  if (a == 0.0)
    return 0.0;
  return checked(std::pow(a, b), "xpow");
}

double slog10(double x) {
  if (x == 0.0)
    fault("slog10", "division by zero (logarithm of zero)");
  return checked(x > 0.0 ? std::log10(x) : -std::log10(-x), "slog10");
}

std::int64_t binom(int n, int k) {
  if (k < 0 || k > n)
    return 0;
  // n! / (k! (n-k)!) as a running product, exact in integers.
  std::int64_t r = 1;
  for (int i = 1; i <= k; ++i)
    r = r * (n - k + i) / i;
  return r;
}

namespace {

// x (finite, not zero) rounded to p significant digits as its decimal
// digits without trailing zeros and e, so that |x| = 0.d1d2... * 10^e.
struct decimaldigits {
  bool negative = false;
  std::string digits;
  int e = 0;
};

decimaldigits roundeddigits(double x, int p) {
  // to_chars, unlike printf, ignores the C locale (Qt sets it from the
  // environment, which may make printf write a decimal comma).
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, p - 1);
  // buf: [-]d[.dddd]e[+-]xx
  const std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
  decimaldigits d;
  d.negative = s[0] == '-';
  const std::size_t first = d.negative ? 1 : 0;
  const std::size_t epos = s.find('e');
  for (std::size_t i = first; i < epos; ++i)
    if (s[i] != '.')
      d.digits += s[i];
  while (d.digits.size() > 1 && d.digits.back() == '0')
    d.digits.pop_back();
  int exp10 = 0;
  const char *expbegin = buf + epos + 1;
  if (*expbegin == '+')
    ++expbegin;
  std::from_chars(expbegin, res.ptr, exp10);
  d.e = exp10 + 1;
  return d;
}

// The digits with the separator placed for exponent e, without an exponent.
std::string fixedlayout(const std::string &digits, int e, char separator) {
  std::string out;
  const int nd = static_cast<int>(digits.size());
  if (e <= 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-e), '0');
    out += digits;
  } else if (nd <= e) {
    out += digits;
    out.append(static_cast<std::size_t>(e - nd), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(e));
    out += separator;
    out += digits.substr(static_cast<std::size_t>(e));
  }
  return out;
}

// d.ddd"E"n.
std::string exponentlayout(const std::string &digits, int e, char separator) {
  std::string out(1, digits[0]);
  if (digits.size() > 1) {
    out += separator;
    out += digits.substr(1);
  }
  out += 'E';
  out += std::to_string(e - 1);
  return out;
}

} // namespace

std::string shortesttext(double x) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string generaltext(double x, int p, char separator) {
  if (std::isnan(x))
    return "NAN";
  if (std::isinf(x))
    return x > 0 ? "INF" : "-INF";
  if (x == 0.0)
    return "0";
  p = std::clamp(p, 1, 17);
  const decimaldigits d = roundeddigits(x, p);
  const std::string sign = d.negative ? "-" : "";
  if (d.e >= -3 && d.e <= p)
    return sign + fixedlayout(d.digits, d.e, separator);
  return sign + exponentlayout(d.digits, d.e, separator);
}

} // namespace orvalle
