// Chart drawing of the plotter: the limits Replot chooses, the rescaling
// notes, fit curves and deviations, and when nothing is drawn.
// Covers plotter/tfit_charts.cpp.
#include <QTabWidget>
#include <QTest>
#include <cmath>

#include "engine/fits.h"
#include "plotter/charts.h"
#include "plotter/errpointseries.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// A tagged text with the given points (x, y, error), tag a.
std::vector<std::string> points(const std::vector<std::array<double, 3>> &p) {
  std::vector<std::string> lines;
  for (const auto &q : p)
    lines.push_back(generaltext(q[0], 15) + " " + generaltext(q[1], 15) + " " +
                    generaltext(q[2], 15) + " a");
  return lines;
}

bfit *addLineFit(TFit &fit, int datasetIndex) {
  dataset *d = fit.Datasets.at(static_cast<unsigned>(datasetIndex))->obj;
  auto line = std::make_unique<polynom>(1);
  line->data = d;
  d->attach(line.get());
  line->fitplot(fit.mainCanvas(), fit.devCanvas(), 1000, true);
  bfit *f = line.get();
  fit.Fits.add(std::move(line));
  return f;
}

QCPGraph *graphOf(const std::unique_ptr<chartseries> &s) {
  return static_cast<graphhandle *>(s.get())->graph();
}

} // namespace

class ChartsTest : public QObject {
  Q_OBJECT
private slots:
  void replotLimitsWorkedExample();
  void rescalingNotes_data();
  void rescalingNotes();
  void notesGoWhenLimitsNoLongerNeedThem();
  void largeOffsetFromData();
  void equalXChangesNothing();
  void nothingDrawnOffTheChartPage();
  void pointsBlueOnTheirSeriesColour();
  void deviationsScaledNeverShifted();
  void curveSpansTheAxisRange();
  void curveLoopEndsWhenStepVanishes();
  void deviationLabelsTellTicksApart_data();
  void deviationLabelsTellTicksApart();
};

void ChartsTest::replotLimitsWorkedExample() {
  FakeFrame frame;
  // x from 0.8 to 3.7; y with errors from 1.5 to 4.5 (dy = 3: resolution 0.1).
  auto fit = makePlotter(frame, points({{0.8, 2, 0.5}, {2.0, 3, 0.5}, {3.7, 4, 0.5}}));
  QCOMPARE(fit->XLow, 0.6);
  QCOMPARE(fit->XHigh, 3.9);
  QCOMPARE(fit->YLow, 1.3);  // floor(10 * 1.35) / 10
  QCOMPARE(fit->YHigh, 4.7); // ceil(10 * 4.65) / 10
  QCOMPARE(fit->MChart->xAxis->range().lower, 0.6);
  QCOMPARE(fit->MChart->xAxis->range().upper, 3.9);
  QCOMPARE(fit->MChart->yAxis->range().lower, 1.3);
  QCOMPARE(fit->MChart->xAxis->label(), QStringLiteral(" "));
}

void ChartsTest::rescalingNotes_data() {
  QTest::addColumn<double>("low");
  QTest::addColumn<double>("high");
  QTest::addColumn<double>("xscale");
  QTest::addColumn<double>("xoffset");
  QTest::addColumn<QString>("xnote");
  QTest::addColumn<double>("yscale");
  QTest::addColumn<double>("yoffset");
  QTest::addColumn<QString>("ynote");
  QTest::newRow("1234.5") << 1234.5 << 1244.5 << 1.0 << 1234.0 << " { 1234 + X }" << 1.0 << 1200.0
                          << " { 1200 + Y }";
  QTest::newRow("12345") << 12345.0 << 12845.0 << 1.0 << 120.0 << " { 120 + X }" << 1.0 << 12000.0
                         << " { 12000 + Y }";
  QTest::newRow("2500000") << 2500000.0 << 4500000.0 << 1e6 << 0.0 << " { X * 1000000 }" << 1e6
                           << 0.0 << " { Y * 1000000 }";
  QTest::newRow("1 to 9") << 1.0 << 9.0 << 1.0 << 0.0 << "" << 1.0 << 0.0 << "";
  QTest::newRow("-50 to 50") << -50.0 << 50.0 << 1.0 << 0.0 << "" << 1.0 << 0.0 << "";
  QTest::newRow("999 to 1011") << 999.0 << 1011.0 << 1.0 << 999.0 << " { 999 + X }" << 1.0 << 900.0
                               << " { 900 + Y }";
}

void ChartsTest::rescalingNotes() {
  QFETCH(double, low);
  QFETCH(double, high);
  QFETCH(double, xscale);
  QFETCH(double, xoffset);
  QFETCH(QString, xnote);
  QFETCH(double, yscale);
  QFETCH(double, yoffset);
  QFETCH(QString, ynote);
  FakeFrame frame;
  TFit fit(frame);
  fit.XLow = fit.YLow = low;
  fit.XHigh = fit.YHigh = high;
  fit.XAxisTitle = QStringLiteral("t");
  fit.YAxisTitle = QStringLiteral("s");
  fit.RedrawCharts();
  QCOMPARE(fit.XScale, xscale);
  QCOMPARE(fit.XOffset, xoffset);
  QCOMPARE(fit.XAxisSuffix, xnote);
  QCOMPARE(fit.YScale, yscale);
  QCOMPARE(fit.YOffset, yoffset);
  QCOMPARE(fit.YAxisSuffix, ynote);
  QCOMPARE(fit.MChart->xAxis->label(), QStringLiteral("t") + xnote);
  QCOMPARE(fit.MChart->yAxis->label(), QStringLiteral("s") + ynote);
  // The axes show chart units: data value = offset + shown value * scale.
  QVERIFY(qFuzzyCompare(fit.MChart->xAxis->range().lower + 1, (low - xoffset) / xscale + 1));
  QVERIFY(qFuzzyCompare(fit.MChart->xAxis->range().upper, (high - xoffset) / xscale));
  QVERIFY(qFuzzyCompare(fit.MChart->yAxis->range().upper, (high - yoffset) / yscale));
}

void ChartsTest::notesGoWhenLimitsNoLongerNeedThem() {
  FakeFrame frame;
  TFit fit(frame);
  fit.XLow = fit.YLow = 2500000;
  fit.XHigh = fit.YHigh = 4500000;
  fit.RedrawCharts();
  QCOMPARE(fit.MChart->yAxis->range().lower, 2.5);
  QCOMPARE(fit.MChart->yAxis->range().upper, 4.5);
  fit.XLow = fit.YLow = 1;
  fit.XHigh = fit.YHigh = 9;
  fit.RedrawCharts();
  QCOMPARE(fit.XAxisSuffix, QString());
  QCOMPARE(fit.YAxisSuffix, QString());
  QCOMPARE(fit.XScale, 1.0);
  QCOMPARE(fit.MChart->yAxis->range().upper, 9.0);
  QCOMPARE(fit.MChart->xAxis->label(), QStringLiteral(" "));
}

void ChartsTest::largeOffsetFromData() {
  FakeFrame frame;
  std::vector<std::array<double, 3>> p;
  for (int x = 1000; x <= 1010; ++x)
    p.push_back({double(x), 5.0 + x % 3, 0.5});
  auto fit = makePlotter(frame, points(p));
  QCOMPARE(fit->XLow, 999.0);
  QCOMPARE(fit->XHigh, 1011.0);
  QCOMPARE(fit->MChart->xAxis->range().lower, 0.0);
  QCOMPARE(fit->MChart->xAxis->range().upper, 12.0);
  QCOMPARE(fit->MChart->xAxis->label(), QStringLiteral("  { 999 + X }"));
  // The dataset's points are shifted with the axis.
  TErrPointSeries *s = TFit::errorSeries(fit->Datasets.at(0)->obj->series.get());
  QCOMPARE(s->xValue(0), 1.0);
  QCOMPARE(s->xValue(10), 11.0);
}

void ChartsTest::equalXChangesNothing() {
  FakeFrame frame;
  auto fit = makePlotter(frame, points({{2, 1, 0.1}, {2, 3, 0.1}}));
  QCOMPARE(fit->XLow, 0.0);
  QCOMPARE(fit->XHigh, 0.0);
  QCOMPARE(fit->YHigh, 0.0);
  // Replot itself draws nothing (the set-up's first command update did).
  fit->ZeroLine->clear();
  fit->Replot();
  QCOMPARE(fit->ZeroLine->count(), 0);
  QCOMPARE(fit->XLow, 0.0);
  // Limits chosen before stay as they were.
  fit->XLow = 1;
  fit->XHigh = 3;
  fit->Replot();
  QCOMPARE(fit->XLow, 1.0);
  QCOMPARE(fit->XHigh, 3.0);
  QCOMPARE(fit->ZeroLine->count(), 0);
}

void ChartsTest::nothingDrawnOffTheChartPage() {
  FakeFrame frame;
  // Four columns: the set-up shows "Custom Add Dataset".
  auto fit = makePlotter(frame, {"1 2 0.1 5", "2 4 0.2 6", "3 6 0.3 7"});
  QCOMPARE(fit->currentPage(), 0);
  fit->AddBtnClick();
  QCOMPARE(fit->XLow, 0.9);            // limits chosen ...
  QCOMPARE(fit->ZeroLine->count(), 0); // ... but nothing drawn
  fit->UpdateFrameCommands();
  QCOMPARE(fit->ZeroLine->count(), 0);
  QCOMPARE(fit->LastTab, 0);
  fit->showPage(3);
  fit->UpdateFrameCommands();
  QCOMPARE(fit->LastTab, 3);
  QCOMPARE(fit->ZeroLine->count(), 2);
  QCOMPARE(fit->MChart->xAxis->range().lower, 0.9);
  QCOMPARE(fit->DevChart->xAxis->range(), fit->MChart->xAxis->range());
}

void ChartsTest::pointsBlueOnTheirSeriesColour() {
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(3));
  for (int i = 0; i < 3; ++i) {
    TErrPointSeries *s = TFit::errorSeries(fit->Datasets.at(i)->obj->series.get());
    QCOMPARE(s->count(), 3);
    for (int k = 0; k < 3; ++k)
      QCOMPARE(s->valueColour(k), QColor(0, 0, 255));
  }
  TErrPointSeries *olive = TFit::errorSeries(fit->Datasets.at(2)->obj->series.get());
  QCOMPARE(olive->SeriesColour, QColor(128, 128, 0));
}

void ChartsTest::deviationsScaledNeverShifted() {
  FakeFrame frame;
  // y near 1234.5 .. 1244.5: the y axis is offset by 1200, not scaled.
  auto fit =
      makePlotter(frame, points({{1, 1235, 0.5}, {2, 1238, 0.5}, {3, 1240, 0.5}, {4, 1244, 0.5}}));
  bfit *line = addLineFit(*fit, 0);
  fit->RedrawCharts();
  QVERIFY(fit->YOffset != 0);
  TErrPointSeries *dev = TFit::errorSeries(line->devpoints.get());
  TErrPointSeries *pts = TFit::errorSeries(fit->Datasets.at(0)->obj->series.get());
  const dataset &d = *fit->Datasets.at(0)->obj;
  QCOMPARE(dev->count(), 4);
  for (int i = 0; i < 4; ++i) {
    QCOMPARE(dev->yValue(i), ((*d.y)[i] - line->value((*d.x)[i])) / fit->YScale);
    QCOMPARE(dev->ErrorValues[static_cast<std::size_t>(i)], 0.5);
    QCOMPARE(pts->yValue(i), ((*d.y)[i] - fit->YOffset) / fit->YScale);
    QCOMPARE(dev->valueColour(i).rgb(), QColor(0, 0, 0).rgb()); // the dataset's colour
  }
  QCOMPARE(dev->SeriesColour, pts->SeriesColour);

  // Scaled by YScale: y in the millions.
  FakeFrame frame2;
  auto big = makePlotter(frame2, points({{1, 2.6e6, 1e5}, {2, 3.4e6, 1e5}, {3, 4.4e6, 1e5}}));
  bfit *bigLine = addLineFit(*big, 0);
  big->RedrawCharts();
  QCOMPARE(big->YScale, 1e6);
  QCOMPARE(big->YOffset, 0.0);
  TErrPointSeries *bigDev = TFit::errorSeries(bigLine->devpoints.get());
  const dataset &bd = *big->Datasets.at(0)->obj;
  for (int i = 0; i < 3; ++i) {
    QCOMPARE(bigDev->yValue(i), ((*bd.y)[i] - bigLine->value((*bd.x)[i])) / 1e6);
    QCOMPARE(bigDev->ErrorValues[static_cast<std::size_t>(i)], 0.1);
  }
  // A perfect fit's deviations lie on the zero line.
  FakeFrame frame3;
  auto exact = makePlotter(frame3, points({{1, 3, 0.5}, {2, 5, 0.5}, {3, 7, 0.5}}));
  bfit *exactLine = addLineFit(*exact, 0);
  exact->RedrawCharts();
  TErrPointSeries *zero = TFit::errorSeries(exactLine->devpoints.get());
  for (int i = 0; i < 3; ++i)
    QVERIFY(std::abs(zero->yValue(i)) < 1e-9);
}

void ChartsTest::curveSpansTheAxisRange() {
  FakeFrame frame;
  auto fit = makePlotter(frame, points({{2, 3, 0.5}, {3, 5, 0.5}, {4, 7, 0.5}}));
  bfit *line = addLineFit(*fit, 0);
  fit->RedrawCharts();
  QCPGraph *curve = graphOf(line->curve);
  const int n = curve->dataCount();
  QVERIFY2(n >= 199 && n <= 201, qPrintable(QString::number(n)));
  const double first = curve->data()->constBegin()->key;
  const double last = (curve->data()->constEnd() - 1)->key;
  QCOMPARE(first, fit->XLow);
  QVERIFY(last < fit->XHigh);
  QVERIFY(last > fit->XHigh - 2 * (fit->XHigh - fit->XLow) / 200);
  // Well outside the dataset's own x range.
  QVERIFY(first < 2.0 && last > 4.0);
  QVERIFY(qFuzzyCompare(curve->data()->constBegin()->value, line->value(fit->XLow)));
}

void ChartsTest::curveLoopEndsWhenStepVanishes() {
  FakeFrame frame;
  auto fit = makePlotter(frame, points({{2, 3, 0.5}, {3, 5, 0.5}, {4, 7, 0.5}}));
  bfit *line = addLineFit(*fit, 0);
  // A range of 16 at 1e17: one step of 0.08 no longer moves x.
  fit->XLow = 1e17;
  fit->XHigh = 1e17 + 16;
  fit->RedrawCharts();
  QCOMPARE(graphOf(line->curve)->dataCount(), 1);
  // A range far below the limits' precision but still a step: the loop ends too.
  fit->XLow = 1e15;
  fit->XHigh = 1e15 + 100;
  fit->RedrawCharts();
  QVERIFY(graphOf(line->curve)->dataCount() <= 201);
}

QTEST_MAIN(ChartsTest)
#include "charts_test.moc"

void ChartsTest::deviationLabelsTellTicksApart_data() {
  QTest::addColumn<double>("size"); // the deviations and their errors
  QTest::newRow("1e-5") << 1e-5;
  QTest::newRow("3e-4") << 3e-4;
  QTest::newRow("0.02") << 0.02;
}

// Every tick of the deviations chart's left axis has a label of its own
// that reads back as the tick's value.
void ChartsTest::deviationLabelsTellTicksApart() {
  QFETCH(double, size);
  const double noise[] = {1, -1.5, 0.5, 1.2, -0.8, -0.4};
  std::vector<std::array<double, 3>> p;
  for (int i = 0; i < 6; ++i)
    p.push_back({double(i + 1), 2.0 * (i + 1) + 1 + noise[i] * size, size});
  FakeFrame frame;
  auto fit = makePlotter(frame, points(p));
  QVERIFY(fit);
  addLineFit(*fit, 0);
  fit->resize(760, 640);
  fit->show();
  fit->showPage(3);
  fit->UpdateFrameCommands();
  fit->RedrawCharts();
  fit->DevChart->replot();
  const QVector<double> ticks = fit->DevChart->yAxis->tickVector();
  const QVector<QString> labels = fit->DevChart->yAxis->tickVectorLabels();
  QVERIFY2(ticks.size() >= 3, qPrintable(QStringList(labels.begin(), labels.end()).join('|')));
  QCOMPARE(labels.size(), ticks.size());
  const double step = ticks[1] - ticks[0];
  for (int i = 0; i < ticks.size(); ++i) {
    bool ok = false;
    const double shown = QLocale::c().toDouble(labels[i], &ok);
    QVERIFY2(ok, qPrintable(labels[i]));
    QVERIFY2(std::abs(shown - ticks[i]) < step / 100,
             qPrintable(QStringLiteral("%1 for %2").arg(labels[i]).arg(ticks[i])));
  }
}
