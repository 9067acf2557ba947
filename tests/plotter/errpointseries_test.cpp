// The error-bar point series: errors not given, extents, colours, the bars
// and caps it paints, the skipping of bars that land on the same pixels, and
// the handle that takes a series off its chart.
#include <QTest>
#include <memory>

#include "plotter/charts.h"
#include "plotter/errpointseries.h"
#include "tests/plotter/chartfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

bool is(const QImage &img, int x, int y, QColor c) { return img.pixelColor(x, y).rgb() == c.rgb(); }

} // namespace

class ErrPointSeriesTest : public QObject {
  Q_OBJECT
private slots:
  void constructionValues();
  void errorNotGiven_data();
  void errorNotGiven();
  void extentsOfOnePoint();
  void extentsCoverEveryBar();
  void emptySeriesHasNoRange();
  void seriesColourKeepsPointColours();
  void barsAndCapsArePainted();
  void zeroErrorStillGetsCaps();
  void hiddenPenDrawsNoBars();
  void barsOnTheSamePixelsAreSkipped();
  void handleTakesSeriesOffItsChart();
  void handleOutlivingItsChartIsHarmless();
  void axisLabelFormat_data();
  void axisLabelFormat();
};

void ErrPointSeriesTest::constructionValues() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0x123456, "ignored");
  TErrPointSeries *s = seriesOf(handle);
  QCOMPARE(s->SeriesColour, QColor(0x12, 0x34, 0x56));
  QCOMPARE(s->ErrorPen.color(), s->SeriesColour);
  QCOMPARE(s->ErrorStyle, int(TErrPointSeries::esTopBottom));
  QCOMPARE(s->ErrorWidth, 300);
  QCOMPARE(s->ErrorWidthUnits, TErrPointSeries::ewuPercent);
  QCOMPARE(s->MarkerHorizSize, 1);
  QCOMPARE(s->lineStyle(), QCPGraph::lsNone);
  QCOMPARE(s->EditorClassName(), QStringLiteral("TErrorSeriesEditor"));
}

void ErrPointSeriesTest::errorNotGiven_data() {
  QTest::addColumn<bool>("useFixed");
  QTest::addColumn<double>("fixed");
  QTest::addColumn<double>("percent");
  QTest::addColumn<double>("given");
  QTest::addColumn<double>("stored");
  QTest::newRow("construction values") << false << 0.0 << 0.0 << -1.0 << 0.0;
  QTest::newRow("fixed value") << true << 3.0 << 0.0 << -1.0 << 3.0;
  QTest::newRow("percentage of y") << false << 0.0 << 10.0 << -1.0 << 2.0;
  QTest::newRow("given error kept") << true << 3.0 << 10.0 << 0.5 << 0.5;
  QTest::newRow("other negative kept") << true << 3.0 << 0.0 << -2.0 << -2.0;
}

void ErrPointSeriesTest::errorNotGiven() {
  QFETCH(bool, useFixed);
  QFETCH(double, fixed);
  QFETCH(double, percent);
  QFETCH(double, given);
  QFETCH(double, stored);
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0, "");
  TErrPointSeries *s = seriesOf(handle);
  s->UseFixedError = useFixed;
  s->FixedErrorValue = fixed;
  s->ErrorPercent = percent;
  QCOMPARE(s->AddErrorPoint(1, 20, 7, QString(), Qt::black), 0);
  QCOMPARE(s->AddErrorPoint(4, 20, given, QString(), Qt::black), 1);
  QCOMPARE(s->ErrorValues.size(), std::size_t(2));
  QCOMPARE(s->ErrorValues[0], 7.0);
  QCOMPARE(s->ErrorValues[1], stored);
}

void ErrPointSeriesTest::extentsOfOnePoint() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0, "");
  TErrPointSeries *s = seriesOf(handle);
  s->AddErrorPoint(3, 10, 2, QString(), Qt::black);
  QCOMPARE(s->ExtentMaxY(), 12.08);
  QCOMPARE(s->ExtentMinY(), 7.92);
  QCOMPARE(s->ExtentMinX(), 3.0);
  QCOMPARE(s->ExtentMaxX(), 3.0);
}

void ErrPointSeriesTest::extentsCoverEveryBar() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0, "");
  TErrPointSeries *s = seriesOf(handle);
  // Points out of x order: the extents do not depend on the order.
  s->AddErrorPoint(4, 1, 0.5, QString(), Qt::black);
  s->AddErrorPoint(-1, 5, 3, QString(), Qt::black);
  s->AddErrorPoint(2, 3, 0, QString(), Qt::black);
  // y from 0.5 (1 - 0.5) to 8 (5 + 3): margin 0.15; x from -1 to 4: margin 0.1.
  QVERIFY(qFuzzyCompare(s->ExtentMinY(), 0.35));
  QVERIFY(qFuzzyCompare(s->ExtentMaxY(), 8.15));
  QVERIFY(qFuzzyCompare(s->ExtentMinX(), -1.1));
  QVERIFY(qFuzzyCompare(s->ExtentMaxX(), 4.1));
  // An automatic axis shows every bar whole.
  chart->rescaleAxes();
  QVERIFY(chart->yAxis->range().lower <= 0.35 + 1e-12);
  QVERIFY(chart->yAxis->range().upper >= 8.15 - 1e-12);
  QVERIFY(chart->xAxis->range().lower <= -1.1 + 1e-12);
}

void ErrPointSeriesTest::emptySeriesHasNoRange() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0, "");
  bool found = true;
  seriesOf(handle)->getValueRange(found);
  QVERIFY(!found);
  seriesOf(handle)->getKeyRange(found);
  QVERIFY(!found);
}

void ErrPointSeriesTest::seriesColourKeepsPointColours() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0x000000, "");
  TErrPointSeries *s = seriesOf(handle);
  s->AddErrorPoint(1, 1, 1, QString(), QColor(0, 0, 255));
  s->AddErrorPoint(2, 2, 1, QString(), QColor(0, 255, 0));
  s->SetSeriesColour(QColor(255, 0, 0));
  QCOMPARE(s->SeriesColour, QColor(255, 0, 0));
  QCOMPARE(s->ErrorPen.color(), QColor(255, 0, 0));
  QCOMPARE(s->scatterStyle().pen().color(), QColor(255, 0, 0));
  QCOMPARE(s->scatterStyle().brush().color(), QColor(255, 0, 0));
  QCOMPARE(s->valueColour(0), QColor(0, 0, 255));
  QCOMPARE(s->valueColour(1), QColor(0, 255, 0));
  // Clearing empties the errors with the points.
  handle->clear();
  QCOMPARE(s->count(), 0);
  QVERIFY(s->ErrorValues.empty());
}

void ErrPointSeriesTest::barsAndCapsArePainted() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0xff0000, "");
  TErrPointSeries *s = seriesOf(handle);
  s->AddErrorPoint(5, 5, 2, QString(), QColor(0, 0, 255));
  const QImage img = render(*chart);
  const int X = qRound(chart->xAxis->coordToPixel(5));
  const int Y = qRound(chart->yAxis->coordToPixel(5));
  const int top = qRound(chart->yAxis->coordToPixel(7));
  const int L = Y - top;
  QVERIFY(L > 20);
  const QColor red(255, 0, 0);
  // Upper cap: 3 pixels wide (300 % of the marker size 1), centred on the bar.
  QVERIFY(is(img, X - 1, top, red) && is(img, X, top, red) && is(img, X + 1, top, red));
  QVERIFY(!is(img, X - 2, top, red) && !is(img, X + 2, top, red));
  // Lower cap mirrors it below the point.
  QVERIFY(is(img, X - 1, Y + L, red) && is(img, X + 1, Y + L, red));
  // The bar itself, above and below the point, and nothing beside it.
  QVERIFY(is(img, X, Y - L / 2, red) && is(img, X, Y + L / 2, red));
  QVERIFY(!is(img, X + 1, Y - L / 2, red));
  QVERIFY(!is(img, X, top - 2, red) && !is(img, X, Y + L + 2, red));
}

void ErrPointSeriesTest::zeroErrorStillGetsCaps() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0x0000ff, "");
  TErrPointSeries *s = seriesOf(handle);
  s->ErrorPen.setColor(QColor(255, 0, 0)); // caps red, marker outline blue
  s->AddErrorPoint(5, 5, 0, QString(), QColor(0, 0, 255));
  const QImage img = render(*chart);
  const int X = qRound(chart->xAxis->coordToPixel(5));
  const int Y = qRound(chart->yAxis->coordToPixel(5));
  const QColor red(255, 0, 0);
  QVERIFY(is(img, X - 1, Y, red) && is(img, X + 1, Y, red));
  QVERIFY(!is(img, X, Y - 1, red) && !is(img, X, Y + 1, red)); // no bar length
  QVERIFY(is(img, X - 1, Y - 1, QColor(0, 0, 255)));           // the marker's outline
}

void ErrPointSeriesTest::hiddenPenDrawsNoBars() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0xff0000, "");
  TErrPointSeries *s = seriesOf(handle);
  s->ErrorPenVisible = false;
  s->AddErrorPoint(5, 5, 2, QString(), QColor(255, 0, 0));
  const QImage img = render(*chart);
  const int X = qRound(chart->xAxis->coordToPixel(5));
  const int top = qRound(chart->yAxis->coordToPixel(7));
  QVERIFY(!is(img, X, top, QColor(255, 0, 0)));
  QCOMPARE(s->lastDrawnBars(), 0);
}

void ErrPointSeriesTest::barsOnTheSamePixelsAreSkipped() {
  auto chart = makeChart();
  auto handle = chart->makeerrorpoints(0xff0000, "");
  TErrPointSeries *s = seriesOf(handle);
  // 100000 points on about 380 pixel columns, with one bar length each.
  const int n = 100000;
  for (int i = 0; i < n; ++i)
    s->AddErrorPoint(10.0 * i / n, 5, 1, QString(), Qt::blue);
  render(*chart);
  QVERIFY2(s->lastDrawnBars() > 300 && s->lastDrawnBars() <= chart->axisRect()->width() + 2,
           qPrintable(QString::number(s->lastDrawnBars())));
  // Different bars on one pixel column are all drawn.
  handle->clear();
  for (int i = 0; i < 50; ++i)
    s->AddErrorPoint(5, 5, 0.1 * (i + 1), QString(), Qt::blue);
  render(*chart);
  QCOMPARE(s->lastDrawnBars(), 50);
}

void ErrPointSeriesTest::handleTakesSeriesOffItsChart() {
  auto chart = makeChart();
  auto a = chart->makeerrorpoints(0, "");
  auto b = chart->makeline(0);
  QCOMPARE(chart->plottableCount(), 2);
  QPointer<QCPAbstractPlottable> graph = seriesOf(a);
  a.reset();
  QCOMPARE(chart->plottableCount(), 1);
  QVERIFY(graph.isNull());
  b.reset();
  QCOMPARE(chart->plottableCount(), 0);
}

void ErrPointSeriesTest::handleOutlivingItsChartIsHarmless() {
  auto chart = makeChart();
  auto a = chart->makeerrorpoints(0, "");
  auto b = chart->makeline(0);
  chart.reset(); // the chart deletes its plottables
  QCOMPARE(a->count(), 0);
  a->clear();
  a->adderrorpoint(1, 1, 1, 0);
  b->addpoint(1, 1);
  a.reset();
  b.reset();
}

void ErrPointSeriesTest::axisLabelFormat_data() {
  QTest::addColumn<double>("tick");
  QTest::addColumn<int>("decimals");
  QTest::addColumn<QString>("text");
  QTest::newRow("integer") << 2.0 << 6 << "2";
  QTest::newRow("trailing zeros") << 1.5 << 6 << "1.5";
  QTest::newRow("six decimals") << 0.1234567 << 6 << "0.123457";
  QTest::newRow("no separator") << 1234567.25 << 6 << "1234567.25";
  QTest::newRow("rounding noise") << -1e-17 << 6 << "0";
  QTest::newRow("three decimals") << 0.1234 << 3 << "0.123";
  QTest::newRow("negative") << -2.5 << 3 << "-2.5";
}

void ErrPointSeriesTest::axisLabelFormat() {
  QFETCH(double, tick);
  QFETCH(int, decimals);
  QFETCH(QString, text);
  QCOMPARE(DecimalTicker::format(tick, decimals, QLocale::c()), text);
}

QTEST_MAIN(ErrPointSeriesTest)
#include "errpointseries_test.moc"
