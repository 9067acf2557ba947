// A dataset's series draws from the dataset's rows without a copy: it
// shows the very points, extents and picture that the same points added one
// by one give, every extreme of many points on few pixels still drawn; and
// the grid views are offered a huge grid a million rows at a time, the grid
// itself whole.
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

#include "datatext/conversion.h"
#include "engine/dataset.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "tests/plotter/chartfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

rowref makeRow(std::vector<double> v) {
  auto r = std::make_shared<drow>();
  r->n = static_cast<int>(v.size());
  r->data = std::move(v);
  return r;
}

} // namespace

class SeriesRowsTest : public QObject {
  Q_OBJECT
private slots:
  void rowsShowTheScaledPoints_data() {
    QTest::addColumn<double>("xoffset");
    QTest::addColumn<double>("xscale");
    QTest::addColumn<double>("yoffset");
    QTest::addColumn<double>("yscale");
    QTest::newRow("as they are") << 0.0 << 1.0 << 0.0 << 1.0;
    QTest::newRow("far from zero") << 1.0e6 << 1.0 << -2.5e7 << 1.0;
    QTest::newRow("odd scales") << 0.0 << 1.0e-3 << 3.0 << 7.0e5;
    QTest::newRow("both") << 123.25 << 1.0e-6 << -4.0e8 << 1.0e9;
  }
  void rowsShowTheScaledPoints() {
    QFETCH(double, xoffset);
    QFETCH(double, xscale);
    QFETCH(double, yoffset);
    QFETCH(double, yscale);
    const int n = 997;
    std::vector<double> x(n), y(n), e(n);
    for (int i = 0; i < n; ++i) {
      x[i] = xoffset + xscale * (i * 0.01 + 0.003);
      y[i] = yoffset + yscale * (5 + std::sin(i * 0.37) * 3);
      e[i] = yscale * (0.1 + (i % 13) * 0.02);
    }
    const rowref rx = makeRow(x), ry = makeRow(y), re = makeRow(e);

    // The same points, one from the rows, one added point by point.
    auto chart = makeChart(0, 10, 0, 10);
    auto fromRows = chart->makeerrorpoints(0x0000ff, "");
    TErrPointSeries *s = seriesOf(fromRows);
    s->showRows({rx, ry, re, static_cast<std::size_t>(n), xoffset, xscale, yoffset, yscale,
                 QColor(0, 0, 255).rgb()});
    QVERIFY(s->showsRows());
    QVERIFY(s->ErrorValues.empty()); // no copy of its own
    QCOMPARE(s->count(), n);
    auto other = makeChart(0, 10, 0, 10);
    auto added = other->makeerrorpoints(0x0000ff, "");
    TErrPointSeries *t = seriesOf(added);
    for (int i = 0; i < n; ++i) {
      const double u = (x[i] - xoffset) / xscale;
      const double v = (y[i] - yoffset) / yscale;
      const double w = e[i] / yscale;
      t->AddErrorPoint(u, v, w, QString(), QColor(0, 0, 255));
      QCOMPARE(s->xValue(i), u);
      QCOMPARE(s->yValue(i), v);
      QCOMPARE(s->errorValue(i), w);
      QCOMPARE(s->valueColour(i), QColor(0, 0, 255));
      // And by the numbers themselves: the point is where it was made.
      QVERIFY(std::fabs(u - (i * 0.01 + 0.003)) < 1e-6);
    }
    bool f1 = false, f2 = false;
    QCOMPARE(s->getKeyRange(f1), t->getKeyRange(f2));
    QCOMPARE(f1, f2);
    QCOMPARE(s->getValueRange(f1), t->getValueRange(f2));
    QCOMPARE(render(*chart), render(*other));
    QCOMPARE(s->lastDrawnBars(), t->lastDrawnBars());

    // A point added later joins the rows' points, which are kept.
    s->AddErrorPoint(1, 2, 0.5, QString(), QColor(0, 255, 0));
    QVERIFY(!s->showsRows());
    QCOMPARE(s->count(), n + 1);
    QCOMPARE(s->xValue(n - 1), t->xValue(n - 1));
    QCOMPARE(s->errorValue(n), 0.5);
    s->clearPoints();
    QCOMPARE(s->count(), 0);
  }

  // A hundred thousand points on 400 pixels: the one spike up, the one dip
  // down and the longest error bar are all drawn.
  void everyExtremeOfManyPointsIsDrawn() {
    const int n = 100000;
    std::vector<double> x(n), y(n, 5.0), e(n, 0.2);
    for (int i = 0; i < n; ++i)
      x[i] = i * (10.0 / n);
    const int spike = 31337, dip = 77777, tall = 50001;
    y[spike] = 9.0;
    y[dip] = 1.0;
    e[tall] = 3.0;
    auto chart = makeChart(0, 10, 0, 10);
    auto handle = chart->makeerrorpoints(0xff0000, "");
    TErrPointSeries *s = seriesOf(handle);
    s->showRows({makeRow(x), makeRow(y), makeRow(e), static_cast<std::size_t>(n), 0, 1, 0, 1,
                 QColor(255, 0, 0).rgb()});
    const QImage img = render(*chart);
    const QColor red(255, 0, 0);
    auto painted = [&](double vx, double vy) {
      const int px = static_cast<int>(std::lround(chart->xAxis->coordToPixel(vx)));
      const int py = static_cast<int>(std::lround(chart->yAxis->coordToPixel(vy)));
      // The marker or bar covers the pixel or one beside it.
      for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
          if (img.pixelColor(px + dx, py + dy).rgb() == red.rgb())
            return true;
      return false;
    };
    QVERIFY(painted(x[spike], 9.0));
    QVERIFY(painted(x[spike], 9.0 + 0.19)); // its bar's top end
    QVERIFY(painted(x[dip], 1.0));
    QVERIFY(painted(x[dip], 1.0 - 0.19));
    QVERIFY(painted(x[tall], 5.0 + 2.9)); // the longest bar's ends
    QVERIFY(painted(x[tall], 5.0 - 2.9));
    // Nothing where no point or bar reaches.
    QVERIFY(!painted(5.0, 8.5));
    QVERIFY(!painted(2.0, 2.0));
  }

  // A grid of more rows than a view is offered at once: the rest come as
  // the view is scrolled to its last rows; the grid is whole all along.
  void hugeGridsAreOfferedInParts() {
    const int rows = GridModel::kShownRows + 10;
    numericgrid grid;
    grid.grow(2, rows + 1);
    grid.set(0, 1, 1.5);
    grid.set(1, rows, 42.0);
    GridModel model;
    model.setGrid(std::move(grid));
    QCOMPARE(model.rowCountWithHeader(), rows + 1);
    QCOMPARE(model.rowCount(), GridModel::kShownRows);
    QVERIFY(model.canFetchMore(QModelIndex()));
    QTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(model.rowCount(), GridModel::kShownRows);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QTRY_COMPARE(model.rowCount(), rows);
    QVERIFY(!model.canFetchMore(QModelIndex()));
    QCOMPARE(view.verticalHeader()->count(), rows);
    QCOMPARE(model.data(model.index(rows - 1, 1), Qt::DisplayRole).toString(),
             QStringLiteral("42"));
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("1.5"));

    // A grid of fewer rows is offered whole, as it always was.
    numericgrid small;
    small.grow(1, 101);
    model.setGrid(std::move(small));
    QCOMPARE(model.rowCount(), 100);
    QVERIFY(!model.canFetchMore(QModelIndex()));
  }

  void hugeDatasetsAreOfferedInParts() {
    const int n = GridModel::kShownRows + 3;
    std::vector<double> x(n), y(n), e(n, 0.5);
    for (int i = 0; i < n; ++i)
      x[i] = i, y[i] = 2.0 * i;
    dataset d(true);
    d.x = makeRow(x);
    d.y = makeRow(y);
    d.yerr = makeRow(e);
    DatasetTableModel model;
    model.show(d);
    QCOMPARE(model.rowCountWithHeader(), n + 1);
    QCOMPARE(model.rowCount(), GridModel::kShownRows);
    QVERIFY(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    QCOMPARE(model.rowCount(), n);
    QVERIFY(!model.canFetchMore(QModelIndex()));
    QCOMPARE(model.cellText(1, n), QStringLiteral("%1").arg(2.0 * (n - 1), 0, 'f', 0));
    QCOMPARE(model.data(model.index(n - 1, 0), Qt::DisplayRole).toString(), QString::number(n - 1));
  }
};

QTEST_MAIN(SeriesRowsTest)
#include "seriesrows_test.moc"
