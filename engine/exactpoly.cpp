#include "engine/exactpoly.h"

#include <gmpxx.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "engine/fittexts.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

using mpf = mpf_class;

[[noreturn]] void failwith(const std::string &why) {
  logmessage(why);
  throw engine_error(kFailedFit, why);
}

// v times 2^k, exactly.
void scale2(mpf &v, long k) {
  if (k >= 0)
    mpf_mul_2exp(v.get_mpf_t(), v.get_mpf_t(), static_cast<mp_bitcnt_t>(k));
  else
    mpf_div_2exp(v.get_mpf_t(), v.get_mpf_t(), static_cast<mp_bitcnt_t>(-k));
}

// The double nearest v (the truncated leading bits plus the rest), or a
// failure naming `what` when v is beyond the range of a double.
double todouble(const mpf &v, const char *what) {
  long exp = 0;
  const double m = mpf_get_d_2exp(&exp, v.get_mpf_t());
  if (m == 0.0)
    return 0.0;
  if (exp > 1024)
    failwith(std::string("The fitted ") + what +
             " is beyond the range of double precision numbers");
  const double hi = std::ldexp(m, static_cast<int>(exp));
  mpf rest(v);
  rest -= hi;
  const double sum = hi + rest.get_d();
  if (!std::isfinite(sum))
    failwith(std::string("The fitted ") + what +
             " is beyond the range of double precision numbers");
  return sum;
}

// The chi-square as a double; one beyond the range is infinite, which the
// fit then reports as a chi-square that is not a finite number.
double chisquaredouble(const mpf &v) {
  long exp = 0;
  mpf_get_d_2exp(&exp, v.get_mpf_t());
  return exp >= 1024 ? HUGE_VAL : todouble(v, "chi-square");
}

class mpmatrix {
public:
  mpmatrix(int rows, int cols, const mpf &zero)
      : rows_(rows), cols_(cols), a_(static_cast<std::size_t>(rows * cols), zero) {}
  mpf &operator()(int r, int c) { return a_[static_cast<std::size_t>(r * cols_ + c)]; }
  const mpf &operator()(int r, int c) const { return a_[static_cast<std::size_t>(r * cols_ + c)]; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }

private:
  int rows_;
  int cols_;
  std::vector<mpf> a_;
};

// How an elimination ended: every pivot usable; a pivot exactly 0; or
// pivots so unequal that the working precision may not carry the result.
enum class mpstatus { ok, zero, tight };

// The ratio of the smallest to the largest pivot below which the working
// precision of `bits` bits is taken as too short.
bool tooflat(const mpf &smallest, const mpf &largest, mp_bitcnt_t bits) {
  mpf bound(largest);
  scale2(bound, -static_cast<long>(bits) + 128);
  return smallest < bound;
}

// The row at or below j with the largest |a(s, j)|.
int pivotrow(const mpmatrix &a, int j) {
  int p = j;
  for (int s = j + 1; s < a.rows(); ++s)
    if (abs(a(s, j)) > abs(a(p, j)))
      p = s;
  return p;
}

void swaprows(mpmatrix &a, int p, int j) {
  for (int c = 0; c < a.cols(); ++c)
    swap(a(p, c), a(j, c));
}

// Row s less f times row j, from column `from` on.
void subtractrow(mpmatrix &a, int s, int j, const mpf &f, int from, mpf &t) {
  for (int c = from; c < a.cols(); ++c) {
    t = a(j, c) * f;
    a(s, c) -= t;
  }
}

// Eliminates a (square, order n) with partial pivoting, carrying the
// columns of r along; on success a is upper triangular and r transformed.
// det receives the determinant.
mpstatus eliminate(mpmatrix &a, mpmatrix &r, mpf &det, mp_bitcnt_t bits) {
  const int n = a.rows();
  det = 1;
  mpf f(0, bits), t(0, bits), big(0, bits), small(0, bits);
  for (int j = 0; j < n; ++j) {
    const int p = pivotrow(a, j);
    if (sgn(a(p, j)) == 0)
      return mpstatus::zero;
    if (p != j) {
      swaprows(a, p, j);
      swaprows(r, p, j);
      det = -det;
    }
    const mpf piv = abs(a(j, j));
    if (j == 0 || piv > big)
      big = piv;
    if (j == 0 || piv < small)
      small = piv;
    det *= a(j, j);
    for (int s = j + 1; s < n; ++s) {
      if (sgn(a(s, j)) == 0)
        continue;
      f = a(s, j) / a(j, j);
      subtractrow(a, s, j, f, j + 1, t);
      a(s, j) = 0;
      subtractrow(r, s, j, f, 0, t);
    }
  }
  return tooflat(small, big, bits) ? mpstatus::tight : mpstatus::ok;
}

// Solves a x = r column by column by elimination and back substitution.
mpstatus gausssolve(mpmatrix a, mpmatrix r, mpmatrix &x, mp_bitcnt_t bits) {
  mpf det(0, bits), t(0, bits);
  const mpstatus st = eliminate(a, r, det, bits);
  if (st == mpstatus::zero)
    return st;
  const int n = a.rows();
  for (int c = 0; c < r.cols(); ++c)
    for (int s = n - 1; s >= 0; --s) {
      mpf sum(r(s, c), bits);
      for (int k = s + 1; k < n; ++k) {
        t = a(s, k) * x(k, c);
        sum -= t;
      }
      x(s, c) = sum / a(s, s);
    }
  return st;
}

// The determinant of a without row `skiprow` and column `skipcol` (none
// for -1), with column `replace` taken from b when b is given.
mpf subdet(const mpmatrix &a, int skiprow, int skipcol, int replace, const mpmatrix *b,
           mp_bitcnt_t bits, mpstatus &st) {
  const int n = a.rows() - (skiprow >= 0 ? 1 : 0);
  mpmatrix m(n, n, mpf(0, bits));
  for (int r = 0, rr = 0; r < a.rows(); ++r) {
    if (r == skiprow)
      continue;
    for (int c = 0, cc = 0; c < a.cols(); ++c) {
      if (c == skipcol)
        continue;
      m(rr, cc) = (b && c == replace) ? (*b)(r, 0) : a(r, c);
      ++cc;
    }
    ++rr;
  }
  mpmatrix none(n, 0, mpf(0, bits));
  mpf det(0, bits);
  st = eliminate(m, none, det, bits);
  if (st == mpstatus::zero)
    det = 0;
  return det;
}

// Cramer's rule: x[k] = det(a with column k replaced by b) / det(a), and the
// inverse from the cofactors, inv(i, j) = (-1)^(i+j) minor(j, i) / det(a).
mpstatus cramersolve(const mpmatrix &a, const mpmatrix &b, mpmatrix &x, mpmatrix &inv,
                     mp_bitcnt_t bits) {
  const int n = a.rows();
  mpstatus st = mpstatus::ok;
  const mpf det = subdet(a, -1, -1, -1, nullptr, bits, st);
  if (st != mpstatus::ok)
    return st;
  mpstatus sub = mpstatus::ok;
  for (int k = 0; k < n; ++k)
    x(k, 0) = subdet(a, -1, -1, k, &b, bits, sub) / det;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      mpf m = subdet(a, j, i, -1, nullptr, bits, sub);
      if ((i + j) % 2 != 0)
        m = -m;
      inv(i, j) = m / det;
    }
  return mpstatus::ok;
}

// Sums of w u^k (k to 2N), w y u^k (k to N) with u = (x - centre) 2^-shift.
struct mpsums {
  std::vector<mpf> sx;
  std::vector<mpf> sy;
};

mpsums powersums(const drow &X, const drow &Y, const drow &W, int N, double centre, long shift,
                 mp_bitcnt_t bits) {
  const mpf zero(0, bits);
  mpsums s{std::vector<mpf>(static_cast<std::size_t>(2 * N + 1), zero),
           std::vector<mpf>(static_cast<std::size_t>(N + 1), zero)};
  const mpf mc(centre, bits);
  mpf u(0, bits), t(0, bits), ty(0, bits), y(0, bits);
  for (int i = 0; i < W.n; ++i) {
    if (!(W[i] > 0.0))
      continue;
    u = X[i];
    u -= mc;
    scale2(u, -shift);
    t = W[i];
    y = Y[i];
    for (int k = 0; k <= 2 * N; ++k) {
      s.sx[static_cast<std::size_t>(k)] += t;
      if (k <= N) {
        ty = t * y;
        s.sy[static_cast<std::size_t>(k)] += ty;
      }
      t *= u;
    }
  }
  return s;
}

// Sum of w (y - sum a[o] u^(N-o))^2 over the points.
mpf chisquare(const drow &X, const drow &Y, const drow &W, const std::vector<mpf> &a, int N,
              double centre, long shift, mp_bitcnt_t bits) {
  const mpf mc(centre, bits);
  mpf u(0, bits), p(0, bits), r(0, bits), sum(0, bits);
  for (int i = 0; i < W.n; ++i) {
    if (!(W[i] > 0.0))
      continue;
    u = X[i];
    u -= mc;
    scale2(u, -shift);
    p = a[0];
    for (int k = 1; k <= N; ++k) {
      p *= u;
      p += a[static_cast<std::size_t>(k)];
    }
    r = Y[i];
    r -= p;
    r *= r;
    r *= W[i];
    sum += r;
  }
  return sum;
}

// The solution in the scaled, centred basis: a[o] belongs to u^(N-o).
struct mpsolution {
  std::vector<mpf> a;
  mpmatrix inv; // the inverse of the normal matrix: the covariance of a
};

std::optional<mpsolution> solvescaled(const mpsums &s, int N, bool gauss, mp_bitcnt_t bits) {
  const int np = N + 1;
  const mpf zero(0, bits);
  mpmatrix A(np, np, zero);
  mpmatrix b(np, 1, zero);
  for (int r = 0; r < np; ++r) {
    b(r, 0) = s.sy[static_cast<std::size_t>(N - r)];
    for (int c = 0; c < np; ++c)
      A(r, c) = s.sx[static_cast<std::size_t>(2 * N - r - c)];
  }
  mpsolution sol{std::vector<mpf>(static_cast<std::size_t>(np), zero), mpmatrix(np, np, zero)};
  mpstatus st = mpstatus::ok;
  if (gauss) {
    mpmatrix rhs(np, np + 1, zero);
    for (int r = 0; r < np; ++r) {
      rhs(r, 0) = b(r, 0);
      rhs(r, r + 1) = 1;
    }
    mpmatrix x(np, np + 1, zero);
    st = gausssolve(A, rhs, x, bits);
    if (st == mpstatus::zero)
      failwith("The polynomial fit's normal equations are singular: a pivot of the elimination "
               "is 0");
    for (int r = 0; r < np; ++r) {
      sol.a[static_cast<std::size_t>(r)] = x(r, 0);
      for (int c = 0; c < np; ++c)
        sol.inv(r, c) = x(r, c + 1);
    }
  } else {
    mpmatrix x(np, 1, zero);
    st = cramersolve(A, b, x, sol.inv, bits);
    if (st == mpstatus::zero)
      failwith("Cramer's rule divides by zero: the determinant of the polynomial fit's normal "
               "equations is 0");
    for (int r = 0; r < np; ++r)
      sol.a[static_cast<std::size_t>(r)] = x(r, 0);
  }
  if (st == mpstatus::tight)
    return std::nullopt;
  return sol;
}

int distinctweighted(const drow &X, const drow &W) {
  std::vector<double> xs;
  for (int i = 0; i < W.n; ++i)
    if (W[i] > 0.0)
      xs.push_back(X[i]);
  std::sort(xs.begin(), xs.end());
  return static_cast<int>(std::unique(xs.begin(), xs.end()) - xs.begin());
}

// G cc G^T, G lower triangular.
mpmatrix expandedcovariance(const mpmatrix &G, const mpmatrix &cc, mp_bitcnt_t bits) {
  const int np = G.rows();
  mpmatrix gc(np, np, mpf(0, bits)), out(np, np, mpf(0, bits));
  mpf term(0, bits);
  for (int row = 0; row < np; ++row)
    for (int q = 0; q < np; ++q)
      for (int o = 0; o <= row; ++o) {
        term = G(row, o) * cc(o, q);
        gc(row, q) += term;
      }
  for (int row = 0; row < np; ++row)
    for (int q = 0; q < np; ++q)
      for (int o = 0; o <= q; ++o) {
        term = gc(row, o) * G(q, o);
        out(row, q) += term;
      }
  return out;
}

// Writes the solution a (scaled, centred) into r: the centred coefficients,
// the expanded ones, and both covariances.
void expand(const mpsolution &sol, int N, double centre, long shift, mp_bitcnt_t bits,
            exactpoly &r) {
  const int np = N + 1;
  const mpf zero(0, bits);
  std::vector<mpf> c(static_cast<std::size_t>(np), zero);
  mpmatrix cc(np, np, zero);
  for (int o = 0; o < np; ++o) {
    c[static_cast<std::size_t>(o)] = sol.a[static_cast<std::size_t>(o)];
    scale2(c[static_cast<std::size_t>(o)], -shift * (N - o));
    for (int q = 0; q < np; ++q) {
      cc(o, q) = sol.inv(o, q);
      scale2(cc(o, q), -shift * (2 * N - o - q));
    }
  }
  // G(r, o) = binom(N-o, r-o) (-centre)^(r-o): the expansion of (x - centre)^(N-o).
  mpmatrix G(np, np, zero);
  const mpf t(-centre, bits);
  for (int row = 0; row < np; ++row) {
    mpf tp(1, bits);
    for (int o = row; o >= 0; --o) {
      G(row, o) = tp;
      G(row, o) *= static_cast<double>(binom(N - o, row - o));
      tp *= t;
    }
  }
  const mpmatrix C = expandedcovariance(G, cc, bits);
  r.cov = matr(np, np);
  r.centredcov = matr(np, np);
  mpf term(0, bits);
  for (int row = 0; row < np; ++row) {
    mpf p(0, bits);
    for (int o = 0; o <= row; ++o) {
      term = G(row, o) * c[static_cast<std::size_t>(o)];
      p += term;
    }
    r.par[row] = todouble(p, "coefficient");
    r.cpar[row] = todouble(c[static_cast<std::size_t>(row)], "coefficient");
    for (int q = 0; q < np; ++q) {
      r.cov(row, q) = todouble(C(row, q), "covariance");
      r.centredcov(row, q) = todouble(cc(row, q), "covariance");
    }
    mpf v = C(row, row);
    if (v < 0)
      v = 0;
    r.err[row] = todouble(sqrt(v), "uncertainty");
  }
}

} // namespace

exactpoly exactpolyfit(const drow &X, const drow &Y, const drow &W, int N, double centre,
                       bool gauss) {
  if (N < 1 || N > kMaxExactDegree)
    failwith(texts::kPolyDegreeRange);
  if (X.n != W.n || Y.n != W.n)
    throw engine_error(kRowLengths, texts::kWeightsDiffer);
  double wlo = 0.0, whi = 0.0, dmax = 0.0;
  for (int i = 0; i < W.n; ++i) {
    const double w = W[i];
    if (!std::isfinite(w) || !std::isfinite(X[i]) || !std::isfinite(Y[i]))
      failwith("The polynomial fit was given a value that is not a finite number");
    if (!(w > 0.0))
      continue;
    wlo = wlo == 0.0 ? w : std::min(wlo, w);
    whi = std::max(whi, w);
    const long double d = std::fabs(static_cast<long double>(X[i]) - centre);
    dmax = std::max(dmax, static_cast<double>(d));
  }
  const int distinct = distinctweighted(X, W);
  if (distinct <= N)
    failwith(texts::kPolyOfDegree + std::to_string(N) + " needs " + std::to_string(N + 1) +
             " distinct x values with a y error; the data have " + std::to_string(distinct));
  int shift = 0;
  if (dmax > 0.0)
    std::frexp(dmax, &shift); // |x - centre| 2^-shift < 1
  // The working precision: enough for the spread of the weights and for the
  // powers of a degree-N basis; doubled while the elimination's pivots say
  // it is too short.
  // (The ratio itself may overflow: a subnormal weight beside a large one.)
  const double wbits = whi > 0.0 ? std::log2(whi) - std::log2(wlo) : 0.0;
  auto bits = static_cast<mp_bitcnt_t>(256 + 16 * N + static_cast<int>(std::ceil(wbits)));
  constexpr mp_bitcnt_t kMaxBits = 16384;
  for (;; bits *= 2) {
    const mpsums s = powersums(X, Y, W, N, centre, shift, bits);
    const std::optional<mpsolution> sol = solvescaled(s, N, gauss, bits);
    if (!sol) {
      if (bits * 2 > kMaxBits)
        failwith("The polynomial fit's normal equations are too ill-conditioned to solve even "
                 "in " +
                 std::to_string(bits) + "-bit arithmetic");
      continue;
    }
    exactpoly r;
    r.degree = N;
    r.centre = centre;
    expand(*sol, N, centre, shift, bits, r);
    r.chisq = chisquaredouble(chisquare(X, Y, W, sol->a, N, centre, shift, bits));
    return r;
  }
}

} // namespace orvalle
