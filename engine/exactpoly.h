// The weighted least-squares polynomial solved in binary floating point of
// several hundred bits (GMP's mpf): the path a polynomial fit takes where
// double and long double arithmetic cannot carry its results, far from
// x = 0, with weights many orders apart or at a high degree. Its results
// are those of the exact least-squares solution of the given doubles to far
// more digits than a double holds; only the final rounding to double is
// left.
#pragma once

#include "engine/dataset.h"
#include "engine/numeric.h"

namespace orvalle {

inline constexpr int kMaxExactDegree = 10;

struct exactpoly {
  int degree = 0;
  double par[kMaxExactDegree + 1] = {}; // powers of x, highest first
  double err[kMaxExactDegree + 1] = {};
  matr cov;                              // of par
  double centre = 0.0;                   // the form in powers of x - centre:
  double cpar[kMaxExactDegree + 1] = {}; // its coefficients, highest first
  matr centredcov;                       // and their covariance
  double chisq = 0.0;                    // of the exact solution
};

// The polynomial of degree N through the points (X[i], Y[i]) with weights
// W[i] (1 / error^2; points of weight 0 count for nothing), written also
// about `centre`. gauss selects elimination, otherwise Cramer's rule (each
// unknown a ratio of determinants), in the same arithmetic. Raises
// engine_error(kFailedFit) with the reason where no result exists or a
// double cannot hold it: fewer distinct x values of positive weight than
// coefficients, a zero determinant or pivot, a value beyond the range of a
// double.
exactpoly exactpolyfit(const drow &X, const drow &Y, const drow &W, int N, double centre,
                       bool gauss);

} // namespace orvalle
