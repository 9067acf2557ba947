// Logarithmic axes chosen in the titles and axes window: decades on the main
// chart (and on the deviations chart's x axis), limits in whole decades,
// curves drawn finely in every decade, refusals of data and limits at or
// below zero, tick labels read as decades, and the choice in a PNG export.
#include <QCheckBox>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/trendtypes.h"
#include "plotter/chartlabs.h"
#include "plotter/charts.h"
#include "plotter/errpointseries.h"
#include "plotter/export.h"
#include "plotter/printing.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// An RC discharge: V = 5 exp(-t / 2) volts, 2 % errors, t from 0.5 s to
// 9.5 s: three decades of V.
std::vector<std::string> dischargeLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < 10; ++i) {
    const double t = 0.5 + i;
    const double v = 5.0 * std::exp(-t / 2.0) * (1.0 + 0.01 * std::sin(3.0 * i));
    lines.push_back(generaltext(t, 15) + " " + generaltext(v, 15) + " " +
                    generaltext(0.02 * v, 15) + " A");
  }
  return lines;
}

struct Rig {
  OutputDialogs dialogs;
  RoutingFrame frame;
  std::unique_ptr<TFit> plotter;
  TChartlabs *w = nullptr;

  explicit Rig(const std::vector<std::string> &points) {
    plotter = makePlotterFor(frame, points, "/home/u/rc.txt");
    frame.adopt(plotter.get());
    showCharts(*plotter);
    SendCommand(plotter.get(), UM_PROCESS, 2, 2); // the axis page
    w = qobject_cast<TChartlabs *>(plotter->TitlesWindow.data());
  }
  QStringList errors() const {
    QStringList out;
    for (const auto &e : frame.log)
      if (e.error)
        out << e.text;
    return out;
  }
};

// Pixel rows of y values on the main chart.
double pixelRow(const TFit &p, double y) { return p.MChart->yAxis->coordToPixel(y); }

} // namespace

class LogAxesTest : public QObject {
  Q_OBJECT
private slots:
  void decadeLabels_data();
  void decadeLabels();
  void logYThroughTheWindow();
  void refusedForDataAtOrBelowZero();
  void refusedLimitKeepsTheOldOnes();
  void logXAndTheDeviationsChart();
  void pngShowsTheLogScale();
  void gnuplotExportKeepsScalesAndLegend();
};

void LogAxesTest::decadeLabels_data() {
  QTest::addColumn<double>("tick");
  QTest::addColumn<QString>("label");
  QTest::newRow("10^-2") << 0.01 << QStringLiteral("10^-2");
  QTest::newRow("10^-1") << 0.1 << QStringLiteral("10^-1");
  QTest::newRow("1") << 1.0 << QStringLiteral("1");
  QTest::newRow("10") << 10.0 << QStringLiteral("10");
  QTest::newRow("10^2") << 100.0 << QStringLiteral("10^2");
  QTest::newRow("10^-300") << 1e-300 << QStringLiteral("10^-300");
  QTest::newRow("10^15") << 1e15 << QStringLiteral("10^15");
  QTest::newRow("between decades") << 3.0 << QStringLiteral("3");
}

void LogAxesTest::decadeLabels() {
  QFETCH(double, tick);
  QFETCH(QString, label);
  QCOMPARE(DecadeTicker::label(tick, QLocale::c()), label);
}

void LogAxesTest::logYThroughTheWindow() {
  Rig rig(dischargeLines());
  QVERIFY(rig.w);
  QVERIFY(!rig.plotter->LogY);
  QVERIFY(!rig.w->LogY->isChecked());
  // A fit first, so that its curve is redrawn on the new scale.
  auto decay = makeformulafit("A*exp(-x/B)", {5.0, 2.0});
  bfit *f = decay.get();
  {
    dataset *d = rig.plotter->Datasets.at(0)->obj;
    decay->data = d;
    decay->name = "decay";
    d->attach(f);
    f->fitplot(rig.plotter->mainCanvas(), rig.plotter->devCanvas(), 1000, true);
    rig.plotter->Fits.add(std::move(decay));
    rig.plotter->RedrawCharts();
  }

  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  QVERIFY(rig.errors().isEmpty());
  QVERIFY(rig.plotter->LogY);
  QVERIFY(!rig.plotter->LogX);
  TFit &p = *rig.plotter;
  QVERIFY(Chart::isLogarithmic(p.MChart->yAxis));
  QVERIFY(!Chart::isLogarithmic(p.MChart->xAxis));
  QVERIFY(!Chart::isLogarithmic(p.DevChart->yAxis));
  QVERIFY(!Chart::isLogarithmic(p.DevChart->xAxis));
  // V runs from 5 exp(-0.25) = 3.89 (plus its error) down to 5 exp(-4.75)
  // = 0.043: the limits are the decades around them, and nothing is
  // rescaled.
  QCOMPARE(p.YLow, 0.01);
  QCOMPARE(p.YHigh, 10.0);
  QCOMPARE(p.YScale, 1.0);
  QCOMPARE(p.YOffset, 0.0);
  QVERIFY(p.YAxisSuffix.isEmpty());
  // The window shows the new limits.
  QCOMPARE(TChartlabs::ReadLimit(rig.w->ymin->text()).value_or(-1), 0.01);
  // Decades are equally far apart.
  const double d1 = pixelRow(p, 0.01) - pixelRow(p, 0.1), d2 = pixelRow(p, 0.1) - pixelRow(p, 1.0);
  QVERIFY(d1 > 10);
  QVERIFY(std::abs(d1 - d2) < 0.5);
  // An exponential is a straight line on this scale: the curve's middle
  // point lies halfway between its ends, in pixels.
  const auto *g = dynamic_cast<const graphhandle *>(f->curve.get())->graph();
  QVERIFY(g->dataCount() > 100);
  const double y0 = pixelRow(p, g->data()->at(0)->value);
  const double ym = pixelRow(p, g->data()->at(g->dataCount() / 2)->value);
  const double y1 = pixelRow(p, g->data()->at(g->dataCount() - 1)->value);
  QVERIFY2(std::abs(ym - (y0 + y1) / 2) < 2.0, qPrintable(QString::number(ym - (y0 + y1) / 2)));

  // Back to linear: the usual limits again.
  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  QVERIFY(!p.LogY);
  QVERIFY(!Chart::isLogarithmic(p.MChart->yAxis));
  QVERIFY(p.YLow < 0.043 && p.YHigh > 3.9);
}

void LogAxesTest::refusedForDataAtOrBelowZero() {
  Rig rig({"1 2 0.1 A", "2 0 0.2 A", "3 -1 0.2 A", "4 3 0.3 A"});
  QVERIFY(rig.w);
  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  QCOMPARE(rig.errors(), QStringList{QStringLiteral(
                             "A logarithmic y axis needs every y value above zero: the y axis "
                             "stays linear")});
  QVERIFY(!rig.plotter->LogY);
  QVERIFY(!rig.w->LogY->isChecked());
  QVERIFY(!Chart::isLogarithmic(rig.plotter->MChart->yAxis));
  // The x values are all above zero: that axis may be logarithmic.
  QTest::mouseClick(rig.w->LogX, Qt::LeftButton);
  QVERIFY(rig.plotter->LogX);
  QCOMPARE(rig.errors().size(), 1);
}

void LogAxesTest::refusedLimitKeepsTheOldOnes() {
  Rig rig(dischargeLines());
  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  TFit &p = *rig.plotter;
  QVERIFY(p.LogY);
  rig.w->ymin->setText(QStringLiteral("0"));
  rig.w->ymax->setText(QStringLiteral("100"));
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);
  QCOMPARE(rig.errors(),
           QStringList{QStringLiteral(
               "Error a logarithmic Y axis needs Ymin above zero restoring old values")});
  QCOMPARE(p.YLow, 0.01);
  QCOMPARE(p.YHigh, 10.0);
  QCOMPARE(TChartlabs::ReadLimit(rig.w->ymin->text()).value_or(-1), 0.01);
  // Limits above zero are taken.
  rig.w->ymin->setText(QStringLiteral("0.02"));
  rig.w->ymax->setText(QStringLiteral("20"));
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);
  QCOMPARE(rig.errors().size(), 1);
  QCOMPARE(p.YLow, 0.02);
  QCOMPARE(p.YHigh, 20.0);
  QVERIFY(std::abs(p.MChart->yAxis->range().lower - 0.02) < 1e-12);
}

void LogAxesTest::logXAndTheDeviationsChart() {
  // A power law over four decades of x.
  std::vector<std::string> lines;
  for (int i = 0; i <= 8; ++i) {
    const double x = std::pow(10.0, i / 2.0 - 1.0);
    lines.push_back(generaltext(x, 15) + " " + generaltext(3 * std::sqrt(x), 15) + " 0.1 A");
  }
  Rig rig(lines);
  addFit<polynom>(*rig.plotter, 0, "line", 1);
  QTest::mouseClick(rig.w->LogX, Qt::LeftButton);
  TFit &p = *rig.plotter;
  QVERIFY(p.LogX);
  QCOMPARE(p.XLow, 0.1);
  QCOMPARE(p.XHigh, 1000.0);
  QVERIFY(Chart::isLogarithmic(p.DevChart->xAxis));
  QCOMPARE(p.DevChart->xAxis->range().lower, p.MChart->xAxis->range().lower);
  QCOMPARE(p.DevChart->xAxis->range().upper, p.MChart->xAxis->range().upper);
  // The curve's points are spread evenly over the decades: as many in the
  // first decade as in the last.
  const auto *g = dynamic_cast<const graphhandle *>(p.Fits.at(0)->obj->curve.get())->graph();
  int first = 0, last = 0;
  for (int i = 0; i < g->dataCount(); ++i) {
    const double x = g->data()->at(i)->key;
    first += x < 1.0;
    last += x >= 100.0;
  }
  QVERIFY(first >= 45);
  QVERIFY(std::abs(first - last) <= 2);
}

void LogAxesTest::pngShowsTheLogScale() {
  Rig rig(dischargeLines());
  TFit &p = *rig.plotter;
  const QImage linear = ChartsPicture(p).convertToFormat(QImage::Format_RGB32);
  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  QVERIFY(p.LogY);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("rc.png"));
  rig.dialogs.saveAnswer = file;
  rig.dialogs.selectedFilter = QStringLiteral("PNG (*.png)");
  p.ExportChart();
  QVERIFY(QFile::exists(file));
  const QImage png = QImageReader(file).read().convertToFormat(QImage::Format_RGB32);
  // The picture is the charts as they are now, on the log scale ...
  QCOMPARE(png, ChartsPicture(p).convertToFormat(QImage::Format_RGB32));
  QVERIFY(png != linear);
  // ... where the first point, V = 3.89 at t = 0.5, stands: its marker
  // is drawn at the row the log scale gives it.
  const int px = static_cast<int>(std::lround(p.MChart->xAxis->coordToPixel(0.5)));
  const int py = static_cast<int>(std::lround(pixelRow(p, 5.0 * std::exp(-0.25) * 1.0)));
  bool blue = false;
  for (int dy = -3; dy <= 3 && !blue; ++dy)
    for (int dx = -3; dx <= 3 && !blue; ++dx) {
      const QRgb c = png.pixel(px + dx, py + dy);
      blue = qGray(c) < 100;
    }
  if (!blue)
    png.save(QStringLiteral("/tmp/logaxes_fail.png"));
  QVERIFY2(blue, qPrintable(QStringLiteral("no point drawn near %1,%2").arg(px).arg(py)));
}

// Through the export dialog: the script sets the log scale the chart
// shows, and with the legend on it names the dataset in the chart's colour;
// gnuplot runs it.
void LogAxesTest::gnuplotExportKeepsScalesAndLegend() {
  Rig rig(dischargeLines());
  TFit &p = *rig.plotter;
  addFit<polynom>(p, 0, "straight", 1);
  QTest::mouseClick(rig.w->LogY, Qt::LeftButton);
  QTest::mouseClick(rig.w->Legend, Qt::LeftButton);
  QVERIFY(p.LogY && p.ShowLegend);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("rc_two.gnu"));
  rig.dialogs.saveAnswer = file;
  rig.dialogs.selectedFilter = QStringLiteral("Gnu Plot File (*.gnu)");
  p.ExportChart();
  QFile f(file);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QString script = QString::fromUtf8(f.readAll());
  QVERIFY(script.contains(QStringLiteral("set logscale y 10\r\n")));
  QVERIFY(!script.contains(QStringLiteral("set logscale x")));
  QVERIFY(script.contains(QStringLiteral("set title \"rc\" \r\n")));
  const auto *s = TFit::errorSeries(p.Datasets.at(0)->obj->series.get());
  QVERIFY(s);
  const QString colour = QStringLiteral("lc rgb \"%1\"").arg(s->SeriesColour.name());
  // The tagged file's dataset "Dataset A", named as the legend names it.
  QVERIFY2(script.contains(QStringLiteral("ti \"Dataset A\" with yerrorbars")), qPrintable(script));
  QVERIFY2(script.contains(colour), qPrintable(colour + "\n" + script));
  QVERIFY2(script.contains(QStringLiteral("y0(x)  ti \"straight\" with lines linestyle 1  lc rgb")),
           qPrintable(script));
  const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
  if (gnuplot.isEmpty())
    QSKIP("gnuplot is not installed");
  QProcess run;
  run.start(gnuplot, {QStringLiteral("-e"), QStringLiteral("set terminal dumb"), file});
  QVERIFY(run.waitForFinished(20000));
  QCOMPARE(run.exitCode(), 0);
  QCOMPARE(QString::fromUtf8(run.readAllStandardError()).trimmed(), QString());
}

QTEST_MAIN(LogAxesTest)
#include "logaxes_test.moc"
