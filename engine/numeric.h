// Numeric containers and linear solvers of the fit engine.
//
// vec and matr are value types that own their elements. row<T> is a counted
// array. list<T> is a doubly linked list of pointers to objects owned
// elsewhere: clear() and destruction release only the list's nodes, while
// removeat() destroys the object it unlinks (the owner's way to drop one).
//
// Floating-point faults (division by zero, invalid operation, overflow) are
// detected by checking results: every operation that can produce one tests
// its result and throws engine_error(kFloatingPoint). Underflow and inexact
// results pass.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvalle {

// The engine's exception. No caller tests the code; it names the cause:
// 0 a failed fit (after its log message), 63035 a dataset without y errors,
// 63044 rows of different lengths, 90 a floating-point fault.
class engine_error : public std::runtime_error {
public:
  engine_error(int code, const std::string &what) : std::runtime_error(what), code_(code) {}
  int code() const noexcept { return code_; }

private:
  int code_;
};

inline constexpr int kFailedFit = 0;
inline constexpr int kNoErrors = 63035;
inline constexpr int kRowLengths = 63044;
inline constexpr int kFloatingPoint = 90;

// Throws engine_error(kFloatingPoint) when x is an infinity or NaN; returns x
// otherwise. `what` names the operation for the error report.
double checked(double x, const char *what);
// Checked division: a zero divisor or a non-finite quotient is a fault.
double divide(double a, double b, const char *what);
// Checked square root: a negative argument is an invalid operation.
double checkedsqrt(double x, const char *what);

class vec {
public:
  vec() = default;
  explicit vec(int length) : n(length), data(static_cast<std::size_t>(length)) {}
  vec(std::initializer_list<double> values) : n(static_cast<int>(values.size())), data(values) {}

  double &operator[](int i) { return data[static_cast<std::size_t>(i)]; }
  double operator[](int i) const { return data[static_cast<std::size_t>(i)]; }
  void zero();

  int n = 0;
  std::vector<double> data;
};

class matr {
public:
  matr() = default;
  matr(int r, int c);
  matr(std::initializer_list<std::initializer_list<double>> values);

  double &operator()(int r, int c) { return row[static_cast<std::size_t>(r)][c]; }
  double operator()(int r, int c) const { return row[static_cast<std::size_t>(r)][c]; }
  void zero();
  double det() const;
  double minordet(int r, int c) const;
  matr cofinverse() const;
  // The matrix without row r and column c.
  matr minor(int r, int c) const;

  int rows = 0;
  int cols = 0;
  std::vector<vec> row;
};

// a - b element by element, a's length; a non-finite difference faults.
vec minus(const vec &a, const vec &b);
// The sum of the elements' absolute values, each as the root of its square.
double l1norm(const vec &v);
// v with every element times 1.00000004: the forward-difference step.
vec nudged(const vec &v);
// a at or before b in pivot order: compared by squares in index order, the
// first smaller square gives true, the first larger false; equal vectors
// give true and vectors of different lengths false.
bool notabove(const vec &a, const vec &b);
// m^T v (u[i] = sum of m(j, i) v[j]); empty when v's length is not m.rows.
vec tmul(const matr &m, const vec &v);
vec gauss(const matr &a, const vec &b);

// Gaussian elimination of a square matrix with gauss's pivot rule, done
// once: solve(b) then costs n^2 operations and gives bit for bit what
// gauss(a, b) gives. A zero pivot is a floating-point fault, raised by the
// constructor or by solve.
class elimination {
public:
  explicit elimination(const matr &a);
  vec solve(const vec &b) const;
  // The inverse: column k is solve() of the k-th unit vector.
  matr inverse() const;

private:
  matr lu_;               // U on and above the diagonal, the row factors below
  std::vector<int> perm_; // position i holds the original row perm_[i]
};
// Solves a x = b by the chosen method: Gaussian elimination when useGauss,
// otherwise Cramer's rule, tmul(cofinverse(a), b).
vec solve(const matr &a, const vec &b, bool useGauss);

// A square system prepared once by the chosen method for several
// right-hand sides and the inverse of its matrix: one elimination, or one
// cofactor inverse for Cramer's rule. solve(b) gives bit for bit what
// solve(a, b, useGauss) gives; a singular matrix faults, as there, in the
// constructor or when solved (also for the inverse).
class linearsystem {
public:
  linearsystem(const matr &a, bool useGauss);
  vec solve(const vec &b) const;
  // The inverse of a: the eliminated unit vectors, or the cofactor inverse
  // transposed (cofinverse holds the cofactors untransposed).
  matr inverse() const;

private:
  std::optional<elimination> eliminated_;
  matr cofactors_; // cofinverse() of a, for Cramer's rule
};

// The vector function whose Jacobian the iterative fits need: parameters in,
// one component per parameter out. The dataset is bound by the caller.
using vecfunction = std::function<vec(const vec &)>;
// The forward-difference Jacobian of f at p, given fp = f(p): row r holds
// (f(p with p[r] nudged) - fp) / (nudged p[r] - p[r]). A parameter of 0
// makes a zero step, a division by zero.
matr jacobian(const vecfunction &f, const vec &p, const vec &fp);

double xpow(double a, double b);
double slog10(double x);
std::int64_t binom(int n, int k);
// The general number format with p significant digits; `separator` is the
// decimal separator: the locale's for shown text, '.' for files.
std::string generaltext(double x, int p, char separator = '.');
// The shortest text that reads back as x (std::to_chars: '.' whatever the
// locale; infinities and NaN as "inf", "-inf", "nan" or "-nan").
std::string shortesttext(double x);

template <class T> struct row {
  row() = default;
  explicit row(int length) : n(length), data(static_cast<std::size_t>(length)) {}
  T &operator[](int i) { return data[static_cast<std::size_t>(i)]; }
  const T &operator[](int i) const { return data[static_cast<std::size_t>(i)]; }
  int n = 0;
  std::vector<T> data;
};
using AnsiString = std::string;

template <class T> struct item {
  T *obj = nullptr;
  item *newer = nullptr;
  item *older = nullptr;
};

template <class T> class list {
public:
  list() = default;
  list(const list &) = delete;
  list &operator=(const list &) = delete;
  ~list() { clear(); }

  void add(T *obj) {
    auto *node = new item<T>; // owned by the list, released in unlink/clear
    node->obj = obj;
    node->older = head;
    if (head)
      head->newer = node;
    head = node;
    ++count;
  }
  item<T> *oldest() const {
    item<T> *p = head;
    while (p && p->older)
      p = p->older;
    return p;
  }
  item<T> *at(unsigned i) const {
    item<T> *p = oldest();
    while (p && i > 0 && p->newer) {
      p = p->newer;
      --i;
    }
    return p;
  }
  // Unlinks the item at position i and destroys the object it holds.
  void removeat(unsigned i) {
    item<T> *p = at(i);
    if (!p)
      return;
    T *obj = unlink(p);
    delete obj;
  }
  // Unlinks the item at position i and hands its object back undestroyed.
  T *takeat(unsigned i) {
    item<T> *p = at(i);
    return p ? unlink(p) : nullptr;
  }
  // Releases every node; the listed objects live on.
  void clear() {
    while (head) {
      item<T> *older = head->older;
      delete head;
      head = older;
    }
    count = 0;
  }
  // Position of obj counted from the oldest item, or -1.
  int indexof(const T *obj) const {
    int i = 0;
    for (item<T> *p = oldest(); p; p = p->newer, ++i)
      if (p->obj == obj)
        return i;
    return -1;
  }
  template <class F> void each(F &&f) const {
    for (item<T> *p = oldest(); p; p = p->newer)
      f(p->obj);
  }

  item<T> *head = nullptr;
  unsigned count = 0;

private:
  T *unlink(item<T> *p) {
    if (p->newer)
      p->newer->older = p->older;
    if (p->older)
      p->older->newer = p->newer;
    if (head == p)
      head = p->older;
    T *obj = p->obj;
    delete p;
    --count;
    return obj;
  }
};

} // namespace orvalle
