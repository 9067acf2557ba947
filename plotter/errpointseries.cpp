#include "plotter/errpointseries.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

namespace orvalle {

TErrPointSeries::TErrPointSeries(QCPAxis *keyAxis, QCPAxis *valueAxis, const QColor &colour,
                                 const QString & /*name*/)
    : QCPGraph(keyAxis, valueAxis), SeriesColour(colour), ErrorPen(colour) {
  setLineStyle(QCPGraph::lsNone);
  setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, colour, colour, 3));
  setPen(QPen(colour));
  setSelectable(QCP::stNone);
  setAdaptiveSampling(false);
}

TErrPointSeries::~TErrPointSeries() = default;

int TErrPointSeries::AddErrorPoint(double x, double y, double error, const QString & /*label*/,
                                   const QColor &colour) {
  if (error == -1.0)
    error = UseFixedError ? FixedErrorValue : y * ErrorPercent * 0.01;
  ownPoints();
  xs_.push_back(x);
  ys_.push_back(y);
  colours_.push_back(colour.rgb());
  ErrorValues.push_back(error);
  return count() - 1;
}

void TErrPointSeries::SetSeriesColour(const QColor &colour) {
  SeriesColour = colour;
  ErrorPen.setColor(colour);
  setPen(QPen(colour));
  QCPScatterStyle style = scatterStyle();
  style.setPen(QPen(colour));
  style.setBrush(colour);
  setScatterStyle(style);
}

void TErrPointSeries::showRows(Rows rows) {
  clearPoints();
  if (!rows.x || !rows.y || !rows.e || rows.n == 0)
    return;
  const auto n = static_cast<int>(rows.n);
  if (rows.x->n < n || rows.y->n < n || rows.e->n < n)
    return; // rows shorter than the points asked for show nothing
  rows_ = std::move(rows);
}

void TErrPointSeries::ownPoints() {
  if (!rows_.x)
    return;
  const Rows rows = std::exchange(rows_, Rows{});
  reserve(rows.n);
  for (std::size_t k = 0; k < rows.n; ++k) {
    xs_.push_back((rows.x->data[k] - rows.xoffset) / rows.xscale);
    ys_.push_back((rows.y->data[k] - rows.yoffset) / rows.yscale);
    ErrorValues.push_back(rows.e->data[k] / rows.yscale);
    colours_.push_back(rows.colour);
  }
}

void TErrPointSeries::clearPoints() {
  filledFrom = Source{};
  rows_ = Rows{};
  xs_.clear();
  ys_.clear();
  colours_.clear();
  ErrorValues.clear();
  XErrorValues.clear();
}

void TErrPointSeries::reserve(std::size_t n) {
  xs_.reserve(n);
  ys_.reserve(n);
  colours_.reserve(n);
  ErrorValues.reserve(n);
}

namespace {

struct span {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  bool found() const { return lo <= hi; }
};

// The smallest and largest of the given values that fall in the sign domain
// (NaNs are passed over).
void take(span &s, double v, QCP::SignDomain d) {
  if (std::isnan(v))
    return;
  if ((d == QCP::sdPositive && v <= 0) || (d == QCP::sdNegative && v >= 0))
    return;
  s.lo = std::min(s.lo, v);
  s.hi = std::max(s.hi, v);
}

} // namespace

// The points' values, read without asking each time whether they are the
// series' own or rows shown. Unscaled rows are read as they are: x - 0 and
// x / 1 are x itself.
struct pointvalues {
  const double *x, *y, *e;
  const QRgb *colours; // null: all in `colour`
  QRgb colour;
  double xoffset, xscale, yoffset, yscale;
  bool plainx, plainy;
  // With Plain (both plainx and plainy) the values are read as they are.
  template <bool Plain> double key(std::size_t i) const {
    if constexpr (Plain)
      return x[i];
    return plainx ? x[i] : (x[i] - xoffset) / xscale;
  }
  template <bool Plain> double value(std::size_t i) const {
    if constexpr (Plain)
      return y[i];
    return plainy ? y[i] : (y[i] - yoffset) / yscale;
  }
  template <bool Plain> double error(std::size_t i) const {
    if constexpr (Plain)
      return e[i];
    return plainy ? e[i] : e[i] / yscale;
  }
  QRgb colourAt(std::size_t i) const { return colours ? colours[i] : colour; }
};

pointvalues TErrPointSeries::values() const {
  if (rows_.x)
    return {rows_.x->data.data(),
            rows_.y->data.data(),
            rows_.e->data.data(),
            nullptr,
            rows_.colour,
            rows_.xoffset,
            rows_.xscale,
            rows_.yoffset,
            rows_.yscale,
            rows_.xoffset == 0 && rows_.xscale == 1,
            rows_.yoffset == 0 && rows_.yscale == 1};
  return {xs_.data(), ys_.data(), ErrorValues.data(), colours_.data(), 0, 0, 1, 0, 1, true, true};
}

double TErrPointSeries::xValue(int i) const {
  return values().key<false>(static_cast<std::size_t>(i));
}
double TErrPointSeries::yValue(int i) const {
  return values().value<false>(static_cast<std::size_t>(i));
}
double TErrPointSeries::errorValue(int i) const {
  return values().error<false>(static_cast<std::size_t>(i));
}
QColor TErrPointSeries::valueColour(int i) const {
  return QColor::fromRgb(values().colourAt(static_cast<std::size_t>(i)));
}

double TErrPointSeries::ExtentMinX() const {
  bool found = false;
  return getKeyRange(found).lower;
}
double TErrPointSeries::ExtentMaxX() const {
  bool found = false;
  return getKeyRange(found).upper;
}
double TErrPointSeries::ExtentMinY() const {
  bool found = false;
  return getValueRange(found).lower;
}
double TErrPointSeries::ExtentMaxY() const {
  bool found = false;
  return getValueRange(found).upper;
}

QCPRange TErrPointSeries::getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain) const {
  span s;
  const std::size_t n = size();
  const pointvalues v = values();
  for (std::size_t i = 0; i < n; ++i) {
    const double x = v.key<false>(i);
    take(s, x, inSignDomain);
    if (i < XErrorValues.size() && XErrorValues[i] > 0) {
      take(s, x - XErrorValues[i], inSignDomain);
      take(s, x + XErrorValues[i], inSignDomain);
    }
  }
  foundRange = s.found();
  if (!foundRange)
    return QCPRange();
  const double margin = 0.02 * (s.hi - s.lo);
  return QCPRange(s.lo - margin, s.hi + margin);
}

QCPRange TErrPointSeries::getValueRange(bool &foundRange, QCP::SignDomain inSignDomain,
                                        const QCPRange & /*inKeyRange*/) const {
  span s;
  const std::size_t n = size();
  const pointvalues v = values();
  for (std::size_t i = 0; i < n; ++i) {
    const double y = v.value<false>(i);
    const double e = v.error<false>(i);
    take(s, y, inSignDomain);
    if (ErrorStyle >= esTop) {
      take(s, y - e, inSignDomain);
      take(s, y + e, inSignDomain);
    }
  }
  foundRange = s.found();
  if (!foundRange)
    return QCPRange();
  const double margin = 0.02 * (s.hi - s.lo);
  return QCPRange(s.lo - margin, s.hi + margin);
}

int TErrPointSeries::capWidth(bool vertical) const {
  if (ErrorWidthUnits == ewuPixels)
    return 10 * MarkerVertSize;
  const int s = vertical ? MarkerVertSize : MarkerHorizSize;
  return static_cast<int>(std::floor(ErrorWidth * s * 0.01));
}

// Values to pixels for a key and a value axis: linear axes by one multiply
// and add, other scales by asking the axis.
class pixelmap {
public:
  pixelmap(const QCPAxis *kx, const QCPAxis *vy)
      : kx_(kx), vy_(vy),
        linear_(kx->scaleType() == QCPAxis::stLinear && vy->scaleType() == QCPAxis::stLinear),
        kx0_(kx->range().lower), vy0_(vy->range().lower), kp0_(kx->coordToPixel(kx0_)),
        vp0_(vy->coordToPixel(vy0_)), kslope_(slope(kx, kp0_)), vslope_(slope(vy, vp0_)) {}

  double x(double v) const { return linear_ ? kp0_ + (v - kx0_) * kslope_ : kx_->coordToPixel(v); }
  double y(double v) const { return linear_ ? vp0_ + (v - vy0_) * vslope_ : vy_->coordToPixel(v); }
  // x by the axis itself, whatever its scale.
  double axisx(double v) const { return kx_->coordToPixel(v); }

private:
  static double slope(const QCPAxis *a, double p0) {
    const QCPRange r = a->range();
    return r.size() != 0 ? (a->coordToPixel(r.upper) - p0) / r.size() : 0.0;
  }
  const QCPAxis *kx_;
  const QCPAxis *vy_;
  bool linear_;
  double kx0_, vy0_, kp0_, vp0_, kslope_, vslope_;
};

// A point in pixels: its place, the length of its error bar (up or left
// positive), and the ends of its x error bar when it has one.
struct pointpixels {
  int X = std::numeric_limits<int>::min();
  int Y = 0;
  int L = 0;
  int XL = 0;
  int XR = 0;
  bool xbar = false;
};

namespace {

// The nearest pixel, halves up, for |p| below 2^23 (the callers keep it
// there): truncating a positive number is its floor, without a call of
// floor() per point.
inline int nearpixel(double p) { return static_cast<int>(p + 8388608.5) - 8388608; }

// The lines of a point's error bars in the style, caps half pixels either
// side of the bar's centre line, appended to lines.
void appendbars(std::vector<QLine> &lines, const pointpixels &p, int style, int half) {
  const int X = p.X, Y = p.Y, L = p.L;
  auto vbar = [&](int P) {
    lines.emplace_back(X, Y, X, P);
    lines.emplace_back(X - half, P, X + half, P);
  };
  auto hbar = [&](int P) {
    lines.emplace_back(X, Y, P, Y);
    lines.emplace_back(P, Y - half, P, Y + half);
  };
  switch (style) {
  case TErrPointSeries::esLeft:
    hbar(X + L);
    break;
  case TErrPointSeries::esRight:
    hbar(X - L);
    break;
  case TErrPointSeries::esLeftRight:
    hbar(X + L);
    hbar(X - L);
    break;
  case TErrPointSeries::esTop:
    vbar(Y - L);
    break;
  case TErrPointSeries::esBottom:
    vbar(Y + L);
    break;
  default:
    vbar(Y - L);
    vbar(Y + L);
    break;
  }
  if (p.xbar) {
    hbar(p.XL);
    hbar(p.XR);
  }
}

// Markers and bar lines gathered and painted in batches: markers of one
// colour together, bars after the markers they belong with.
class drawbatch {
public:
  drawbatch(QCPPainter *painter, const QPen &barpen, const QColor &outline, QRgb firstcolour,
            std::size_t points)
      : painter_(painter), barpen_(barpen), outline_(outline), markcolour_(firstcolour) {
    lines_.reserve(std::min<std::size_t>(points * 4, kLines));
  }
  void mark(QRgb colour, const QRect &r) {
    if (colour != markcolour_) {
      flushmarks();
      markcolour_ = colour;
    }
    marks_.push_back(r);
  }
  std::vector<QLine> &lines() { return lines_; }
  // Paints what was gathered once enough lines are waiting.
  void paintwhenfull() {
    if (lines_.size() >= kLines)
      paint();
  }
  void paint() {
    flushmarks();
    flushlines();
  }

private:
  static constexpr std::size_t kLines = std::size_t(1) << 16;
  void flushlines() {
    if (lines_.empty())
      return;
    painter_->setPen(barpen_);
    painter_->setBrush(Qt::NoBrush);
    painter_->drawLines(lines_.data(), static_cast<int>(lines_.size()));
    lines_.clear();
  }
  void flushmarks() {
    if (marks_.empty())
      return;
    painter_->setPen(QPen(outline_));
    painter_->setBrush(QColor::fromRgb(markcolour_));
    painter_->drawRects(marks_.data(), static_cast<int>(marks_.size()));
    marks_.clear();
  }
  QCPPainter *painter_;
  const QPen &barpen_;
  const QColor &outline_;
  QRgb markcolour_;
  std::vector<QLine> lines_;
  std::vector<QRect> marks_;
};

// Places point i in pixels: false when it is not drawn (not finite, or
// none of it within clip; margin is the reach of its caps and marker).
// Forced inline into draw's loop, which it runs once per point.
template <bool Plain>
[[gnu::always_inline]] inline bool
placepoint(std::size_t i, const pointvalues &v, const std::vector<double> &xerrors,
           const pixelmap &map, const QRect &clip, bool vertical, int margin, pointpixels &p) {
  const double xi = v.key<Plain>(i);
  const double yi = v.value<Plain>(i);
  const double px = map.x(xi);
  const double py = map.y(yi);
  if (!std::isfinite(px) || !std::isfinite(py))
    return false;
  if (px < clip.left() - 1e6 || px > clip.right() + 1e6 || py < clip.top() - 1e6 ||
      py > clip.bottom() + 1e6)
    return false; // far outside: also keeps the int conversion below in range
  p.X = nearpixel(px);
  p.Y = nearpixel(py);
  const double e = v.error<Plain>(i);
  const double end = std::clamp(vertical ? map.y(yi + e) : map.x(xi + e), -4e6, 4e6);
  const int from = vertical ? p.Y : p.X;
  p.L = std::clamp(from - (std::isfinite(end) ? nearpixel(end) : from), -100000, 100000);
  const double ex = i < xerrors.size() ? xerrors[i] : 0.0;
  p.xbar = ex > 0;
  p.XL = p.XR = p.X;
  if (p.xbar) {
    p.XL = static_cast<int>(std::clamp(map.axisx(xi - ex), p.X - 1e5, p.X + 1e5));
    p.XR = static_cast<int>(std::clamp(map.axisx(xi + ex), p.X - 1e5, p.X + 1e5));
  }
  const int reach = std::max({std::abs(p.L), std::abs(p.X - p.XL), std::abs(p.XR - p.X)}) + margin;
  return !(p.X + reach < clip.left() || p.X - reach > clip.right() || p.Y + reach < clip.top() ||
           p.Y - reach > clip.bottom());
}

} // namespace

void TErrPointSeries::draw(QCPPainter *painter) {
  lastDrawnBars_ = 0;
  QCPAxis *kx = keyAxis();
  QCPAxis *vy = valueAxis();
  const std::size_t n = size();
  if (!kx || !vy || n == 0)
    return;

  painter->setAntialiasing(false); // one-pixel bars and caps, as on the screen
  const QRect clip = clipRect().adjusted(-20, -20, 20, 20);
  const bool vertical = ErrorStyle >= esTop;
  const int half = capWidth(vertical) / 2;
  const bool bars = ErrorPenVisible && ErrorPen.style() != Qt::NoPen;
  const int mh = MarkerHorizSize;
  const int mv = MarkerVertSize;
  const pixelmap map(kx, vy);
  const pointvalues v = values();
  drawbatch batch(painter, ErrorPen, SeriesColour, v.colourAt(0), n);

  // The previous point's pixels: a point that would paint the very same
  // pixels in the same colour is passed over, so a million points on a few
  // hundred pixel columns cost a few hundred bars.
  pointpixels prev;
  QRgb prevColour = 0;
  const auto each = [&](auto plain) {
    for (std::size_t i = 0; i < n; ++i) {
      pointpixels p;
      if (!placepoint<decltype(plain)::value>(i, v, XErrorValues, map, clip, vertical,
                                              half + mh + mv, p))
        continue;
      const QRgb colour = v.colourAt(i);
      if (p.X == prev.X && p.Y == prev.Y && p.L == prev.L && p.XL == p.X && p.XR == p.X &&
          colour == prevColour)
        continue;
      prev = p;
      prevColour = colour;
      batch.mark(colour, QRect(p.X - mh, p.Y - mv, 2 * mh, 2 * mv));
      if (!bars)
        continue;
      ++lastDrawnBars_;
      appendbars(batch.lines(), p, ErrorStyle, half);
      // Keep the bars above their markers: the markers gathered so far go first.
      batch.paintwhenfull();
    }
  };
  if (v.plainx && v.plainy)
    each(std::true_type{});
  else
    each(std::false_type{});
  batch.paint();
}

void TErrPointSeries::drawLegendIcon(QCPPainter *painter, const QRectF &rect) const {
  const QPointF c = rect.center();
  painter->setPen(ErrorPen);
  const double h = rect.height() * 0.4;
  painter->drawLine(QLineF(c.x(), c.y() - h, c.x(), c.y() + h));
  painter->drawLine(QLineF(c.x() - 2, c.y() - h, c.x() + 2, c.y() - h));
  painter->drawLine(QLineF(c.x() - 2, c.y() + h, c.x() + 2, c.y() + h));
  painter->setPen(QPen(SeriesColour));
  painter->setBrush(SeriesColour);
  painter->drawRect(QRectF(c.x() - 1, c.y() - 1, 2, 2));
}

} // namespace orvalle
