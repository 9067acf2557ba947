// Weighted linear least squares, the reference of the precision tests: the
// model is sum q[k] f_k(x) with the basis values given per point, every
// weight 1 / e^2 of the given doubles. exactls solves it exactly in
// rationals (GMP); widels in GMP floats of the default precision, which a
// caller sets to thousands of bits (widebits), for the many generated
// cases where rationals would take too long.
#pragma once

#include <gmpxx.h>

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace orvalle::testing {

using rational = mpq_class;

inline rational asrational(const mpq_class &v) { return v; }
inline rational asrational(const mpf_class &v) {
  rational r;
  mpq_set_f(r.get_mpq_t(), v.get_mpf_t());
  return r;
}

template <class T> struct basicls {
  std::vector<T> q;                // the solution
  std::vector<std::vector<T>> cov; // the inverse of the normal matrix
  bool singular = false;

  // rows[i] holds the basis values of point i, w[i] its weight.
  basicls(const std::vector<std::vector<T>> &rows, const std::vector<T> &y,
          const std::vector<T> &w) {
    const std::size_t np = rows.empty() ? 0 : rows[0].size();
    // [A | b | I], reduced by Gauss-Jordan.
    std::vector<std::vector<T>> M(np, std::vector<T>(2 * np + 1, 0));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (w[i] == 0)
        continue;
      for (std::size_t r = 0; r < np; ++r) {
        if (rows[i][r] == 0)
          continue;
        const T wr = w[i] * rows[i][r];
        for (std::size_t c = 0; c < np; ++c)
          M[r][c] += wr * rows[i][c];
        M[r][np] += wr * y[i];
      }
    }
    for (std::size_t r = 0; r < np; ++r)
      M[r][np + 1 + r] = 1;
    for (std::size_t j = 0; j < np; ++j) {
      std::size_t p = j;
      while (p < np && M[p][j] == 0)
        ++p;
      for (std::size_t k = p + 1; k < np; ++k) // the largest pivot, for the floats
        if (abs(M[k][j]) > abs(M[p][j]))
          p = k;
      if (p >= np) {
        singular = true;
        return;
      }
      std::swap(M[p], M[j]);
      const T inv = 1 / M[j][j];
      for (std::size_t c = j; c < 2 * np + 1; ++c)
        M[j][c] *= inv;
      for (std::size_t r = 0; r < np; ++r) {
        if (r == j || M[r][j] == 0)
          continue;
        const T f = M[r][j];
        for (std::size_t c = j; c < 2 * np + 1; ++c)
          if (M[j][c] != 0)
            M[r][c] -= f * M[j][c];
      }
    }
    q.resize(np);
    cov.assign(np, std::vector<T>(np));
    for (std::size_t r = 0; r < np; ++r) {
      q[r] = M[r][np];
      for (std::size_t c = 0; c < np; ++c)
        cov[r][c] = M[r][np + 1 + c];
    }
  }

  T fitted(const std::vector<T> &row) const {
    T s = 0;
    for (std::size_t k = 0; k < q.size(); ++k)
      s += q[k] * row[k];
    return s;
  }

  // sum w (y - fitted)^2 over the points whose index `take` accepts.
  template <class F>
  rational chisq(const std::vector<std::vector<T>> &rows, const std::vector<T> &y,
                 const std::vector<T> &w, F take) const {
    T s = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!take(i))
        continue;
      const T d = y[i] - fitted(rows[i]);
      s += w[i] * d * d;
    }
    return asrational(s);
  }

  rational value(std::size_t k) const { return asrational(q[k]); }
  // The standard deviation of q[k] as a double.
  double sigma(std::size_t k) const { return std::sqrt(T(cov[k][k]).get_d()); }
  bool zerovariance(std::size_t k) const { return cov[k][k] == 0; }
};

using exactls = basicls<rational>;
using widels = basicls<mpf_class>;

// Sets GMP's default float precision for as long as it lives.
struct widebits {
  mp_bitcnt_t before;
  explicit widebits(mp_bitcnt_t bits) : before(mpf_get_default_prec()) {
    mpf_set_default_prec(bits);
  }
  ~widebits() { mpf_set_default_prec(before); }
  widebits(const widebits &) = delete;
  widebits &operator=(const widebits &) = delete;
};

// The weight 1 / e^2 of an error, exactly (or to the floats' precision).
template <class T = rational> T weightof(double e) {
  const T r(e);
  return 1 / (r * r);
}

// |got - exact| in units of sigma, with the rounding of the exact value to
// a double forgiven.
inline double sigmasoff(double got, const rational &exact, double sigma) {
  if (!std::isfinite(got))
    return HUGE_VAL;
  const rational diff = abs(rational(got) - exact);
  const double slack = std::ldexp(std::fabs(exact.get_d()), -51);
  const double d = rational(diff).get_d() - slack;
  if (d <= 0.0)
    return 0.0;
  return sigma > 0.0 ? d / sigma : HUGE_VAL;
}

// |got / exact - 1|, 0 for two zeros.
inline double relativeoff(double got, const rational &exact) {
  if (!std::isfinite(got))
    return HUGE_VAL;
  if (exact == 0)
    return got == 0.0 ? 0.0 : HUGE_VAL;
  const rational rel = abs(rational(got) - exact) / abs(exact);
  return std::fabs(rel.get_d());
}

} // namespace orvalle::testing
