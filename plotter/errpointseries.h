// A point series with an error per point, drawn as a bar with a short cap at
// each end. Every dataset has one on the main chart, and every fit one on
// the deviations chart.
//
// The graph's own data container keeps its points sorted by x, so it could
// not keep an error and a colour by the index AddErrorPoint returns. The
// series therefore keeps its points itself, in the order they were added,
// and draws them itself (markers, then bars); the graph's container stays
// empty and the graph only contributes its axes, layer and legend entry.
//
// A dataset's series holds no points of its own: it draws from the
// dataset's rows (showRows), which it keeps alive, scaling each value as it
// goes, so a dataset of ten million points is not held twice.
#pragma once

#include <QColor>
#include <QPen>
#include <QString>
#include <memory>
#include <qcustomplot.h>
#include <vector>

#include "engine/numeric.h"

namespace orvalle {

struct pointvalues; // the points' values as the drawing reads them

class TErrPointSeries : public QCPGraph {
  Q_OBJECT
public:
  enum ErrorStyles {
    esLeft = 0,
    esRight = 1,
    esLeftRight = 2,
    esTop = 3,
    esBottom = 4,
    esTopBottom = 5,
  };
  enum WidthUnits { ewuPercent, ewuPixels };

  // `name` is accepted for the callers' sake and ignored.
  TErrPointSeries(QCPAxis *keyAxis, QCPAxis *valueAxis, const QColor &colour,
                  const QString &name = QString());
  ~TErrPointSeries() override;

  // Adds one point; an error of exactly -1 counts as not given. Returns the
  // index of the new point. The label is not shown (marks are hidden) and is
  // not kept.
  int AddErrorPoint(double x, double y, double error, const QString &label, const QColor &colour);
  void SetSeriesColour(const QColor &colour);
  void clearPoints();
  void reserve(std::size_t n);
  // AddErrorPoint for a given error and a colour already in QRgb form.
  void appendPoint(double x, double y, double error, QRgb colour) {
    ownPoints();
    xs_.push_back(x);
    ys_.push_back(y);
    colours_.push_back(colour);
    ErrorValues.push_back(error);
  }

  // What the points were last filled from (see TFit::fillSeries): a refill
  // from the same rows with the same scaling would give the same points.
  // Clearing the points forgets it.
  struct Source {
    const void *x = nullptr, *y = nullptr, *e = nullptr;
    std::size_t n = 0;
    double xoffset = 0, xscale = 0, yoffset = 0, yscale = 0;
    QRgb colour = 0;
    bool operator==(const Source &) const = default;
  };
  Source filledFrom;

  // Rows shown as the series' points without a copy: point k is at
  // ((x[k] - xoffset) / xscale, (y[k] - yoffset) / yscale) with the error
  // e[k] / yscale, all in one colour (the very values AddErrorPoint would
  // be given). The first n values of each row are shown; the rows are held
  // until the points are cleared. Adding a point afterwards copies them.
  struct Rows {
    std::shared_ptr<const row<double>> x, y, e;
    std::size_t n = 0;
    double xoffset = 0, xscale = 1, yoffset = 0, yscale = 1;
    QRgb colour = 0;
  };
  void showRows(Rows rows);
  // Whether the points are rows shown without a copy.
  bool showsRows() const { return rows_.x != nullptr; }

  int count() const { return static_cast<int>(size()); }
  double xValue(int i) const;
  double yValue(int i) const;
  // The error of point i (ErrorValues holds it only for points added).
  double errorValue(int i) const;
  QColor valueColour(int i) const;

  // The extents an automatic axis asks for: every bar whole, 2 % margins.
  double ExtentMinX() const;
  double ExtentMaxX() const;
  double ExtentMinY() const;
  double ExtentMaxY() const;
  QString EditorClassName() const { return QStringLiteral("TErrorSeriesEditor"); }

  QCPRange getKeyRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
  QCPRange getValueRange(bool &foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                         const QCPRange &inKeyRange = QCPRange()) const override;
  int dataCount() const override { return count(); }

  // Bars drawn by the last draw() (for tests and benchmarks).
  int lastDrawnBars() const { return lastDrawnBars_; }

  QColor SeriesColour;
  QPen ErrorPen;
  bool ErrorPenVisible = true;
  int ErrorStyle = esTopBottom;
  std::vector<double> ErrorValues;
  // The x error of each point, drawn as a horizontal bar with caps beside
  // the vertical one; empty (or an entry <= 0) draws none.
  std::vector<double> XErrorValues;
  int ErrorWidth = 300;
  WidthUnits ErrorWidthUnits = ewuPercent;
  bool UseFixedError = false;
  double ErrorPercent = 0.0;
  double FixedErrorValue = 0.0;
  // Half sizes of the point marker, in pixels (1 is the smallest marker).
  int MarkerHorizSize = 1;
  int MarkerVertSize = 1;

protected:
  void draw(QCPPainter *painter) override;
  void drawLegendIcon(QCPPainter *painter, const QRectF &rect) const override;

private:
  int capWidth(bool vertical) const;
  std::size_t size() const { return rows_.x ? rows_.n : xs_.size(); }
  // The points as values, whether added or shown from rows.
  pointvalues values() const;
  // Turns rows shown into points of the series' own, before one is added.
  void ownPoints();

  std::vector<double> xs_;
  std::vector<double> ys_;
  std::vector<QRgb> colours_;
  Rows rows_;
  int lastDrawnBars_ = 0;
};

} // namespace orvalle
