// The formula fit: Levenberg-Marquardt with scaled steps (Eigen's port of
// MINPACK's lmder, the routine behind scipy's least_squares(method='lm'))
// on the weighted residuals sqrt(w) (f(x) - y), with forward differences
// whose step is relative to each parameter. At the minimum a central
// difference Jacobian gives one Gauss-Newton polish, the rank test that
// names a parameter the data do not determine, and the covariance.
#include "engine/formulafit.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/NonLinearOptimization>

#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "engine/logchannel.h"

namespace orvalle {

namespace {

const char *const kNotConverged = "Fit failed to converge try improving estimates";

// Columns of the Jacobian, scaled to unit length, that the others make to
// within this are taken as dependent.
constexpr double kRankTolerance = 1e-9;

using vector = Eigen::VectorXd;
using matrix = Eigen::MatrixXd;

// The weighted residuals of the formula over the dataset.
class residuals {
public:
  residuals(const typedformula &f, const dataset &d)
      : f_(f), x_(d.x->data.data(), static_cast<std::size_t>(d.w->n)),
        y_(d.y->data.data(), static_cast<std::size_t>(d.w->n)), m_(static_cast<int>(d.w->n)),
        sw_(static_cast<std::size_t>(m_)), buf_(static_cast<std::size_t>(m_)) {
    for (int i = 0; i < m_; ++i)
      sw_[static_cast<std::size_t>(i)] = std::sqrt((*d.w)[i]);
  }

  int values() const { return m_; }
  int evaluations() const { return evaluations_; }
  // Whether a fault (NaN or an infinity where it cannot be stepped around)
  // ended the iteration.
  bool fault() const { return fault_; }

  // r(p); false when a residual is not finite.
  bool evaluate(const vector &p, vector &r) {
    ++evaluations_;
    f_.values(x_, std::span<const double>(p.data(), static_cast<std::size_t>(p.size())), buf_);
    r.resize(m_);
    bool finite = true;
    for (int i = 0; i < m_; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const double v = (buf_[k] - y_[k]) * sw_[k];
      finite = finite && std::isfinite(v);
      r[i] = v;
    }
    return finite && std::isfinite(r.squaredNorm());
  }

  // Eigen's function call. The start must evaluate; a trial step that
  // leaves the formula's domain is answered with a huge residual, so that
  // the iteration rejects it and shortens its step.
  int operator()(const vector &p, vector &r) {
    if (evaluate(p, r)) {
      const double norm = r.squaredNorm();
      if (best_.size() == 0 || norm <= bestnorm_) {
        best_ = p;
        bestr_ = r;
        bestnorm_ = norm;
      }
      return 0;
    }
    if (best_.size() == 0) {
      fault_ = true;
      return -1;
    }
    r.setConstant(1e150);
    return 0;
  }

  // Eigen's Jacobian: forward differences with a step relative to each
  // parameter. Returns the number of evaluations, or -1 on a fault.
  int df(const vector &p, matrix &J) {
    vector r0;
    if (best_.size() == p.size() && best_ == p)
      r0 = bestr_;
    else if (!evaluate(p, r0)) {
      fault_ = true;
      return -1;
    }
    J.resize(m_, p.size());
    vector q = p, r;
    for (Eigen::Index j = 0; j < p.size(); ++j) {
      const double h = stepfor(p[j], kForward);
      q[j] = p[j] + h;
      const double step = q[j] - p[j];
      const bool ok = evaluate(q, r);
      q[j] = p[j];
      if (!ok || step == 0.0) {
        fault_ = true;
        return -1;
      }
      J.col(j) = (r - r0) / step;
    }
    return static_cast<int>(p.size());
  }

  // The norm of sqrt(w) f over the points from the last evaluate().
  double modelnorm() const {
    double sum = 0.0;
    for (std::size_t i = 0; i < buf_.size(); ++i)
      sum += buf_[i] * buf_[i] * sw_[i] * sw_[i];
    return std::sqrt(sum);
  }

  // The Jacobian by central differences (more accurate, twice the cost),
  // for the polish and the covariance, with the width of each difference
  // in spans. False on a fault.
  bool central(const vector &p, matrix &J, vector &spans) {
    J.resize(m_, p.size());
    spans.resize(p.size());
    vector q = p, up, down;
    for (Eigen::Index j = 0; j < p.size(); ++j) {
      const double h = stepfor(p[j], kCentral);
      q[j] = p[j] + h;
      const double hi = q[j];
      const bool okup = evaluate(q, up);
      q[j] = p[j] - h;
      const double lo = q[j];
      const bool okdown = evaluate(q, down);
      q[j] = p[j];
      if (!okup || !okdown || hi == lo)
        return false;
      J.col(j) = (up - down) / (hi - lo);
      spans[j] = hi - lo;
    }
    return true;
  }

private:
  static inline const double kForward = std::sqrt(std::numeric_limits<double>::epsilon());
  static inline const double kCentral = std::cbrt(std::numeric_limits<double>::epsilon());

  static double stepfor(double v, double relative) {
    const double h = relative * std::fabs(v);
    return h > 0.0 ? h : relative;
  }

  const typedformula &f_;
  std::span<const double> x_, y_;
  int m_;
  std::vector<double> sw_;
  std::vector<double> buf_;
  int evaluations_ = 0;
  bool fault_ = false;
  vector best_, bestr_;
  double bestnorm_ = 0.0;
};

[[noreturn]] void fail(const std::string &message) {
  logmessage(message);
  throw engine_error(kFailedFit, message);
}

} // namespace

formulafit::formulafit(const std::string &text) : model_(text) {
  order = static_cast<std::uint16_t>(model_.count() - 1);
}

double formulafit::value(double x) const {
  return model_.value(x, std::span<const double>(par, static_cast<std::size_t>(count())));
}

std::string formulafit::fewestpointsmessage() const {
  return "You need at least " + std::to_string(fewestpoints()) +
         " points in the dataset to fit y=" + model_.text();
}

void formulafit::fit(bool /*gauss*/) {
  iterations = 0;
  evaluations = 0;
  if (!data || !data->w || !data->x || !data->y || !data->yerr || data->x->n < data->w->n ||
      data->y->n < data->w->n)
    fail(kNotConverged);
  const int np = count();
  if (data->w->n < fewestpoints())
    fail(fewestpointsmessage());

  residuals r(model_, *data);
  vector p(np);
  for (int k = 0; k < np; ++k)
    p[k] = par[k];
  for (int k = 0; k < np; ++k)
    if (!std::isfinite(p[k]))
      fail(kNotConverged);

  Eigen::LevenbergMarquardt<residuals> lm(r);
  lm.parameters.ftol = 1e-14;
  lm.parameters.xtol = 1e-14;
  lm.parameters.gtol = 0.0;
  lm.parameters.maxfev = 200 * (np + 1);
  const auto status = lm.minimize(p);
  iterations = static_cast<int>(lm.iter);
  evaluations = r.evaluations();
  namespace lms = Eigen::LevenbergMarquardtSpace;
  const bool converged =
      status == lms::RelativeReductionTooSmall || status == lms::RelativeErrorTooSmall ||
      status == lms::RelativeErrorAndReductionTooSmall || status == lms::CosinusTooSmall ||
      status == lms::FtolTooSmall || status == lms::XtolTooSmall || status == lms::GtolTooSmall;
  if (r.fault() || !p.allFinite())
    fail(kNotConverged);

  vector res, spans;
  matrix J;
  const bool evaluated = r.evaluate(p, res);
  const double modelnorm = r.modelnorm();
  if (!evaluated || !r.central(p, J, spans) || !J.allFinite()) {
    evaluations = r.evaluations();
    fail(kNotConverged);
  }
  evaluations = r.evaluations();

  // A parameter whose central difference is no more than the rounding of
  // the formula's values does not change the curve at all.
  const vector norms = J.colwise().norm();
  const double noise = 1e3 * std::numeric_limits<double>::epsilon() * modelnorm;
  for (int k = 0; k < np; ++k)
    if (!(norms[k] * spans[k] > noise))
      fail("The data do not determine the parameter " + model_.parameters()[k] + ": at " +
           model_.parameters()[k] + " = " + generaltext(p[k], 8) +
           " the curve does not change with it");

  // The rank test on columns of unit length, so that parameters of very
  // different sizes compare fairly: a column that the others make to within
  // the tolerance is a parameter the data do not determine. It comes before
  // the verdict on the iteration, since such a parameter is also the likely
  // reason why an iteration did not converge.
  const matrix Jn = J * norms.cwiseInverse().asDiagonal();
  Eigen::ColPivHouseholderQR<matrix> qr(Jn);
  qr.setThreshold(kRankTolerance);
  if (qr.rank() < np) {
    // Named is the first parameter, in the formula's order, that adds
    // nothing to those before it.
    for (int k = 1; k < np; ++k) {
      Eigen::ColPivHouseholderQR<matrix> head(Jn.leftCols(k + 1));
      head.setThreshold(kRankTolerance);
      if (head.rank() <= k)
        fail("The data do not determine the parameter " + model_.parameters()[k] +
             ": other parameters change the curve in the same way");
    }
    fail("The data do not determine the parameter " + model_.parameters()[np - 1] +
         ": other parameters change the curve in the same way");
  }
  if (!converged)
    fail(kNotConverged);

  // One Gauss-Newton step with the central Jacobian, kept when it lowers
  // the chi-square: it takes off what the forward differences left.
  const vector step = qr.solve(-res).cwiseQuotient(norms);
  vector polished = p + step, respolished;
  // Near the minimum the chi-square changes only in its last digits, so a
  // step that keeps it equal to rounding is taken as well.
  if (step.allFinite() && r.evaluate(polished, respolished) &&
      respolished.squaredNorm() <= res.squaredNorm() * (1.0 + 1e-12))
    p = polished;
  evaluations = r.evaluations();

  // The covariance (J^T J)^-1 of the weighted residuals: from the y errors
  // alone, not scaled by the chi-square.
  const matrix R = qr.matrixR().topLeftCorner(np, np).template triangularView<Eigen::Upper>();
  const matrix Rinv = R.triangularView<Eigen::Upper>().solve(matrix::Identity(np, np));
  const matrix covn =
      qr.colsPermutation() * (Rinv * Rinv.transpose()) * qr.colsPermutation().transpose();
  double errs[10] = {};
  for (int k = 0; k < np; ++k) {
    const double e = std::sqrt(covn(k, k)) / norms[k];
    if (!std::isfinite(e) || !std::isfinite(p[k]))
      fail(kNotConverged);
    errs[k] = e;
  }
  cov = matr(np, np);
  for (int k = 0; k < np; ++k) {
    par[k] = p[k];
    err[k] = errs[k];
    for (int c = 0; c < np; ++c)
      cov(k, c) = covn(k, c) / (norms[k] * norms[c]);
  }
}

void formulafit::describe(stringlist &lines, bool clear) const {
  describeform(lines, clear, "Fit of the form y=" + model_.text() + " with", model_.parameters(),
               2);
}

std::string formulafit::formula(int index) const {
  return formulahead(index) +
         model_.gnuplottext(std::span<const double>(par, static_cast<std::size_t>(count())));
}

} // namespace orvalle
