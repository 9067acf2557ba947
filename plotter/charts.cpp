#include "plotter/charts.h"

#include <cmath>

#include "plotter/errpointseries.h"
#include "plotter/printing.h"

namespace orvalle {

QColor toQColor(colour c) { return QColor((c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff); }

colour fromQColor(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

// ---------------------------------------------------------------------------

QString DecimalTicker::format(double tick, int decimals, const QLocale &locale) {
  const double unit = std::pow(10.0, -decimals);
  if (std::abs(tick) < unit / 2)
    tick = 0.0; // no "-0" from rounding noise
  QLocale l(locale);
  l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
  QString s = l.toString(tick, 'f', decimals);
  const QString point = l.decimalPoint();
  if (decimals > 0 && s.contains(point)) {
    while (s.endsWith(QLatin1Char('0')))
      s.chop(1);
    if (s.endsWith(point))
      s.chop(point.size());
  }
  return s;
}

int DecimalTicker::decimalsFor(double step, int decimals) {
  if (!(step > 0) || !std::isfinite(step))
    return decimals;
  // A step such as 2.5e-6 needs the digit of its own last place.
  int needed = 0;
  while (needed < 15 &&
         std::abs(step * std::pow(10.0, needed) - std::round(step * std::pow(10.0, needed))) >
             1e-6 * step * std::pow(10.0, needed))
    ++needed;
  return std::max(decimals, needed);
}

double DecimalTicker::getTickStep(const QCPRange &range) {
  const double natural = QCPAxisTicker::getTickStep(range);
  // The minimum step would leave fewer than two ticks on a narrow range
  // (deviations of about 1e-5): the natural step then stands.
  step_ = range.size() >= 2 * minimumStep_ ? std::max(natural, minimumStep_) : natural;
  return step_;
}

QString DecimalTicker::getTickLabel(double tick, const QLocale &locale, QChar, int) {
  return format(tick, decimalsFor(step_, decimals_), locale);
}

// ---------------------------------------------------------------------------

DecadeTicker::DecadeTicker() {
  setLogBase(10.0);
  setSubTickCount(8);
}

QString DecadeTicker::label(double tick, const QLocale &locale) {
  if (!(tick > 0) || !std::isfinite(tick))
    return QString();
  const double k = std::round(std::log10(tick));
  if (std::abs(tick / std::pow(10.0, k) - 1.0) < 1e-9) {
    if (k == 0)
      return QStringLiteral("1");
    if (k == 1)
      return QStringLiteral("10");
    return QStringLiteral("10^") + QString::number(static_cast<int>(k));
  }
  QLocale l(locale);
  l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
  return l.toString(tick, 'g', 6);
}

QString DecadeTicker::getTickLabel(double tick, const QLocale &locale, QChar, int) {
  return label(tick, locale);
}

// ---------------------------------------------------------------------------

graphhandle::~graphhandle() {
  if (plot_ && graph_)
    plot_->removePlottable(graph_.data());
}

void graphhandle::setvisible(bool visible) {
  if (graph_)
    graph_->setVisible(visible);
}

void lineseries::clear() {
  if (graph_)
    graph_->data()->clear();
}

int lineseries::count() const { return graph_ ? graph_->dataCount() : 0; }

void lineseries::addpoint(double x, double y) {
  if (graph_)
    graph_->addData(x, y);
}

int lineseries::adderrorpoint(double x, double y, double, colour) {
  addpoint(x, y);
  return count() - 1;
}

void lineseries::setseriescolour(colour c) {
  if (graph_)
    graph_->setPen(QPen(toQColor(c)));
}

errorseries::errorseries(QCustomPlot *plot, TErrPointSeries *series) : graphhandle(plot, series) {}

TErrPointSeries *errorseries::series() const {
  return static_cast<TErrPointSeries *>(graph_.data());
}

void errorseries::clear() {
  if (auto *s = series())
    s->clearPoints();
}

int errorseries::count() const { return series() ? series()->count() : 0; }

void errorseries::addpoint(double x, double y) { adderrorpoint(x, y, -1.0, 0); }

int errorseries::adderrorpoint(double x, double y, double error, colour pointcolour) {
  auto *s = series();
  return s ? s->AddErrorPoint(x, y, error, QString(), toQColor(pointcolour)) : -1;
}

void errorseries::setseriescolour(colour c) {
  if (auto *s = series())
    s->SetSeriesColour(toQColor(c));
}

// ---------------------------------------------------------------------------

namespace {

QFont arial(int pointSize, bool bold = false) {
  QFont f(QStringLiteral("Arial"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSize(pointSize);
  f.setBold(bold);
  return f;
}

void setUpAxis(QCPAxis *axis, int decimals, bool left) {
  axis->setTicker(QSharedPointer<QCPAxisTicker>(new DecimalTicker(decimals)));
  axis->setTickLabelFont(arial(8));
  axis->setLabelFont(arial(8));
  if (left) {
    axis->setTickLengthIn(1);
    axis->setTickLengthOut(3);
  }
  axis->grid()->setVisible(true);
}

} // namespace

Chart::Chart(bool main, QWidget *parent) : QCustomPlot(parent) {
  setBackground(Qt::white);
  axisRect()->setBackground(Qt::NoBrush);
  setNoAntialiasingOnDrag(true);

  plotLayout()->insertRow(0);
  title_ = new QCPTextElement(
      this, main ? QStringLiteral("TChart") : QStringLiteral("Deviations in the Ordinates"),
      arial(main ? 12 : 10));
  title_->setTextColor(Qt::black);
  plotLayout()->addElement(0, 0, title_); // the layout owns the element

  const int decimals = main ? 6 : 3;
  setUpAxis(xAxis, decimals, false);
  setUpAxis(yAxis, decimals, true);
  setUpAxis(xAxis2, 3, false);
  setUpAxis(yAxis2, 3, false);
  if (main) {
    xAxis->setLabel(QStringLiteral(" "));
    yAxis->setLabel(QStringLiteral(" "));
  }
  // The legend names only what the plotter puts into it (datasets and
  // fits), never helper series such as the zero line.
  setAutoAddPlottableToLegend(false);
  legend->setVisible(false);
  legend->setFont(arial(8));
  legend->setIconSize(QSize(24, 12));
  legend->setBrush(Qt::white);
  legend->setSelectableParts(QCPLegend::spNone);

  if (main) {
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Margins in percent of the chart: left 0, top 1, right 1, bottom 1.
    plotLayout()->setMargins(QMargins(0, 2, 4, 2));
  } else {
    setInteractions(QCP::Interactions());
    plotLayout()->setMargins(QMargins(0, 0, 4, 2));
  }
}

std::unique_ptr<chartseries> Chart::makeline(colour c) {
  auto *g = new QCPGraph(xAxis, yAxis); // owned by the plot; the handle takes it off
  g->setLineStyle(QCPGraph::lsLine);
  g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
  g->setPen(QPen(toQColor(c)));
  g->setSelectable(QCP::stNone);
  return std::make_unique<lineseries>(this, g);
}

std::unique_ptr<chartseries> Chart::makeerrorpoints(colour c, const std::string &title) {
  auto *s = new TErrPointSeries(xAxis, yAxis, toQColor(c), QString::fromStdString(title));
  return std::make_unique<errorseries>(this, s);
}

void Chart::setTitleText(const QString &text) { title_->setText(text); }

void Chart::setLogarithmic(QCPAxis *axis, bool on) {
  if (isLogarithmic(axis) == on)
    return;
  QSharedPointer<QCPAxisTicker> &linear = axis == xAxis ? linearX_ : linearY_;
  if (on) {
    linear = axis->ticker();
    axis->setScaleType(QCPAxis::stLogarithmic);
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new DecadeTicker));
  } else {
    axis->setScaleType(QCPAxis::stLinear);
    if (linear)
      axis->setTicker(linear);
    linear.reset();
  }
}

namespace {

// The row of the plot layout that holds the axis rect (the title is row 0).
constexpr int kPlotRow = 1;
// A stretch so small that a column or row gets no more than its minimum.
constexpr double kNoStretch = 0.0001;

bool sameEntries(const QCPLegend &legend, const std::vector<Chart::LegendEntry> &entries) {
  if (legend.itemCount() != static_cast<int>(entries.size()))
    return false;
  for (int i = 0; i < legend.itemCount(); ++i) {
    auto *item = qobject_cast<QCPPlottableLegendItem *>(legend.item(i));
    const Chart::LegendEntry &e = entries[static_cast<std::size_t>(i)];
    if (!item || item->plottable() != e.plottable || e.plottable->name() != e.text)
      return false;
  }
  return true;
}

// A column of the plot layout that takes exactly `width` pixels, margins
// included.
void fixWidth(QCPLayoutElement *el, int width) {
  el->setSizeConstraintRect(QCPLayoutElement::scrOuterRect);
  el->setMinimumSize(width, 0);
  el->setMaximumSize(width, QWIDGETSIZE_MAX);
}

} // namespace

QString Chart::legendText(const QString &name, const QFont &font) {
  const QFontMetrics metrics(font);
  QStringList lines = WrapToWidth(name.simplified(), metrics, kLegendTextWidth);
  if (lines.size() > 2) {
    const QString rest = lines.mid(1).join(QLatin1Char(' '));
    lines = QStringList{lines.first(), rest};
  }
  if (lines.size() == 2)
    lines[1] = metrics.elidedText(lines[1], Qt::ElideRight, kLegendTextWidth);
  return lines.join(QLatin1Char('\n'));
}

bool Chart::placeLegend(const std::vector<LegendEntry> &entries) {
  if (entries.empty()) {
    const bool changed = legendColumn_ || legend->itemCount() > 0 || legend->visible();
    if (legendColumn_) {
      // Back to the plot area's inset layout, hidden, where it does not
      // take part in the layout.
      axisRect()->insetLayout()->addElement(legend, Qt::AlignRight | Qt::AlignTop);
      plotLayout()->remove(legendColumn_.data());
      plotLayout()->simplify();
    }
    legend->setVisible(false);
    legend->clearItems();
    return changed;
  }

  bool changed = false;
  if (!sameEntries(*legend, entries)) {
    legend->clearItems();
    for (const LegendEntry &e : entries) {
      e.plottable->setName(e.text);
      legend->addItem(new QCPPlottableLegendItem(legend, e.plottable)); // the legend owns it
    }
    changed = true;
  }
  if (!legendColumn_) {
    // The legend at the top of a column beside the plot area; the empty
    // row below it takes the rest of the height.
    auto *column = new QCPLayoutGrid; // owned by the plot layout
    // Its top margin follows the plot area's, so the legend's top lines up
    // with the top of the plot area.
    column->setAutoMargins(QCP::msTop);
    column->setMargins(QMargins(4, 0, 0, 0));
    if (!legendTop_)
      legendTop_ = new QCPMarginGroup(this); // owned by the plot
    axisRect()->setMarginGroup(QCP::msTop, legendTop_.data());
    column->setMarginGroup(QCP::msTop, legendTop_.data());
    plotLayout()->addElement(kPlotRow, 1, column);
    plotLayout()->setColumnStretchFactor(1, kNoStretch);
    column->addElement(0, 0, legend);
    column->expandTo(2, 1);
    column->setRowStretchFactor(0, kNoStretch);
    column->setRowStretchFactor(1, 1.0);
    legendColumn_ = column;
    changed = true;
  }
  // The column is exactly as wide as the legend needs, so that a blank
  // column of the same width on another chart lines the plot areas up.
  const int width = legendColumn_->minimumOuterSizeHint().width();
  if (legendColumn_->minimumSize().width() != width) {
    fixWidth(legendColumn_.data(), width);
    changed = true;
  }
  if (!legend->visible()) {
    legend->setVisible(true);
    changed = true;
  }
  return changed;
}

int Chart::legendColumnWidth() const {
  return legendColumn_ ? legendColumn_->minimumSize().width() : 0;
}

bool Chart::reserveRight(int width) {
  if (width <= 0) {
    if (!rightReserve_)
      return false;
    plotLayout()->remove(rightReserve_.data());
    plotLayout()->simplify();
    return true;
  }
  bool changed = false;
  if (!rightReserve_) {
    auto *blank = new QCPLayoutElement(this); // owned by the plot layout
    blank->setAutoMargins(QCP::msNone);
    blank->setMargins(QMargins());
    plotLayout()->addElement(kPlotRow, 1, blank);
    plotLayout()->setColumnStretchFactor(1, kNoStretch);
    rightReserve_ = blank;
    changed = true;
  }
  if (rightReserve_->minimumSize().width() != width) {
    fixWidth(rightReserve_.data(), width);
    changed = true;
  }
  return changed;
}

int Chart::reservedRight() const {
  return rightReserve_ ? rightReserve_->minimumSize().width() : 0;
}

QString Chart::titleText() const { return title_->text(); }

void Chart::mouseDoubleClickEvent(QMouseEvent *event) {
  QCustomPlot::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

} // namespace orvalle
