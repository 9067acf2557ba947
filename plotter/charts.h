// The plotter's two charts on QCustomPlot, and the engine's view of their
// series.
//
// Ownership: QCustomPlot owns every plottable on it and deletes them when
// the plot goes; the engine owns its series through
// std::unique_ptr<chartseries>. The two meet in a small handle: the graph
// itself stays the plot's, and the handle (the engine's object) holds
// guarded pointers to the plot and the graph. Destroying the handle takes the
// graph off the plot (which deletes it); if the plot has gone first, both
// guarded pointers are null and the handle does nothing.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>
#include <qcustomplot.h>
#include <vector>

#include "engine/chartseries.h"

namespace orvalle {

class TErrPointSeries;

QColor toQColor(colour c);
colour fromQColor(const QColor &c);

// Axis labels in the number pattern "###0.######": at least one integer
// digit, at most `decimals` decimals, no thousands separator. A tick step
// finer than the pattern shows gets the decimals it needs, and a range too
// narrow for the minimum step gets a finer one, so neighbouring ticks never
// share a label.
class DecimalTicker : public QCPAxisTicker {
public:
  explicit DecimalTicker(int decimals, double minimumStep = 0.0001)
      : decimals_(decimals), minimumStep_(minimumStep) {}
  static QString format(double tick, int decimals, const QLocale &locale);
  // The decimals that tell ticks `step` apart (at least `decimals`).
  static int decimalsFor(double step, int decimals);

protected:
  double getTickStep(const QCPRange &range) override;
  QString getTickLabel(double tick, const QLocale &locale, QChar formatChar,
                       int precision) override;

private:
  int decimals_;
  double minimumStep_;
  double step_ = 0.0; // the step of the ticks being labelled
};

// Tick labels of a logarithmic axis: the decades, read as 10^-2, 10^-1, 1,
// 10, 10^2 ...; ticks between decades (on a range shorter than a few
// decades) in the general number format.
class DecadeTicker : public QCPAxisTickerLog {
public:
  DecadeTicker();
  static QString label(double tick, const QLocale &locale);

protected:
  QString getTickLabel(double tick, const QLocale &locale, QChar formatChar,
                       int precision) override;
};

// A handle that takes its graph off the plot when it is destroyed.
class graphhandle : public chartseries {
public:
  graphhandle(QCustomPlot *plot, QCPGraph *graph) : plot_(plot), graph_(graph) {}
  ~graphhandle() override;
  graphhandle(const graphhandle &) = delete;
  graphhandle &operator=(const graphhandle &) = delete;

  QCPGraph *graph() const { return graph_.data(); }
  void setvisible(bool visible) override;

protected:
  QPointer<QCustomPlot> plot_;
  QPointer<QCPGraph> graph_;
};

// A line series (a fitted curve, the zero line): lines on, no markers.
class lineseries : public graphhandle {
public:
  using graphhandle::graphhandle;
  void clear() override;
  int count() const override;
  void addpoint(double x, double y) override;
  int adderrorpoint(double x, double y, double error, colour pointcolour) override;
  void setseriescolour(colour c) override;
};

// An error-bar point series (a dataset's points, a fit's deviations).
class errorseries : public graphhandle {
public:
  errorseries(QCustomPlot *plot, TErrPointSeries *series);
  TErrPointSeries *series() const;
  void clear() override;
  int count() const override;
  void addpoint(double x, double y) override;
  int adderrorpoint(double x, double y, double error, colour pointcolour) override;
  void setseriescolour(colour c) override;
};

class Chart : public QCustomPlot, public chartcanvas {
  Q_OBJECT
public:
  // main: the main chart (zoom and drag); otherwise the deviations chart.
  Chart(bool main, QWidget *parent = nullptr);

  std::unique_ptr<chartseries> makeline(colour c) override;
  std::unique_ptr<chartseries> makeerrorpoints(colour c, const std::string &title) override;

  void setTitleText(const QString &text);
  QString titleText() const;

  // Switches the axis between its linear scale (with the ticker it was
  // made with) and a logarithmic scale labelled in decades.
  void setLogarithmic(QCPAxis *axis, bool on);
  static bool isLogarithmic(const QCPAxis *axis) {
    return axis->scaleType() == QCPAxis::stLogarithmic;
  }
  QCPTextElement *title() const { return title_; }

  // The legend stands in a column right of the plot area, so it never
  // covers a point, and names each plottable of `entries` in order with its
  // icon. An empty list takes the legend away and gives the plot area its
  // width back. Returns whether anything changed.
  struct LegendEntry {
    QCPAbstractPlottable *plottable;
    QString text;
  };
  bool placeLegend(const std::vector<LegendEntry> &entries);
  bool legendPlaced() const { return !legendColumn_.isNull(); }
  // The width of the legend's column (0 without one).
  int legendColumnWidth() const;
  // A blank column of `width` pixels right of the plot area (0: none), so
  // that this chart's plot area ends where that of a chart with a legend
  // of that width does. Returns whether anything changed.
  bool reserveRight(int width);
  int reservedRight() const;

  // A name as the legend shows it: wrapped at blanks into at most two
  // lines no wider than kLegendTextWidth pixels in `font`, the rest elided.
  static constexpr int kLegendTextWidth = 150;
  static QString legendText(const QString &name, const QFont &font);

signals:
  void doubleClicked();

protected:
  void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
  QCPTextElement *title_ = nullptr;
  // The linear tickers of the bottom and left axes while they are
  // logarithmic.
  QSharedPointer<QCPAxisTicker> linearX_, linearY_;
  QPointer<QCPLayoutGrid> legendColumn_; // owned by the plot layout
  QPointer<QCPLayoutElement> rightReserve_;
  QPointer<QCPMarginGroup> legendTop_;
};

} // namespace orvalle
