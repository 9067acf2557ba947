// The main chart's legend: off until the user ticks "Legend" in the titles
// and axes window; then it names every dataset and fit (never a helper
// series), stays on through the plotter's own hiding after fits and menu
// updates, stands beside the plot area with both charts' plot areas lined
// up, and is in the exported picture, the clipboard copies and the print.
#include <QCheckBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "plotter/chartlabs.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"
#include "plotter/export.h"
#include "plotter/printing.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

TChartlabs *windowOf(const TFit &p) { return qobject_cast<TChartlabs *>(p.TitlesWindow.data()); }

// Two tagged datasets and a fit of the first, shown, with the titles
// window open on its axis page.
struct Rig {
  OutputDialogs dialogs;
  RoutingFrame frame;
  std::unique_ptr<TFit> plotter;
  TChartlabs *w = nullptr;

  explicit Rig(const std::string &fitName = "Fitline1") {
    plotter = makePlotterFor(frame, taggedLines(2), "/home/u/run1.txt");
    if (!plotter)
      return;
    frame.adopt(plotter.get());
    showCharts(*plotter);
    addFit<polynom>(*plotter, 0, fitName, 1);
    SendCommand(plotter.get(), UM_PROCESS, 2, 2);
    w = windowOf(*plotter);
    frame.codes.clear();
  }
  TFit &p() { return *plotter; }
};

// The names the legend shows, in order, and the plottables they name.
QStringList legendNames(const Chart &chart) {
  QStringList names;
  for (int i = 0; i < chart.legend->itemCount(); ++i)
    if (auto *item = qobject_cast<QCPPlottableLegendItem *>(chart.legend->item(i)))
      names << item->plottable()->name();
  return names;
}

QCPAbstractPlottable *legendPlottable(const Chart &chart, int i) {
  auto *item = qobject_cast<QCPPlottableLegendItem *>(chart.legend->item(i));
  return item ? item->plottable() : nullptr;
}

QCPAbstractPlottable *curveOf(const bfit *f) {
  const auto *h = dynamic_cast<const graphhandle *>(f->curve.get());
  return h ? h->graph() : nullptr;
}

bool legendShown(const TFit &p) {
  return p.MChart->legend->visible() && p.MChart->legendPlaced() &&
         p.MChart->legend->itemCount() > 0;
}

// The charts laid out as they are drawn on the screen.
void layOut(TFit &p) {
  p.UpdateFrameCommands();
  p.MChart->replot();
  p.DevChart->replot();
}

// Counts the pixels of a rectangle in which two images differ.
int changedIn(const QImage &a, const QImage &b, const QRect &r) {
  int changed = 0;
  const QRect clipped = r.intersected(a.rect()).intersected(b.rect());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y)
    for (int x = clipped.left(); x <= clipped.right(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        ++changed;
  return changed;
}

// Counts pixels that are not white in a rectangle of an image.
int inkIn(const QImage &image, const QRect &r) {
  int ink = 0;
  const QRect clipped = r.intersected(image.rect());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y)
    for (int x = clipped.left(); x <= clipped.right(); ++x)
      if (qGray(image.pixel(x, y)) < 200)
        ++ink;
  return ink;
}

} // namespace

class LegendTest : public QObject {
  Q_OBJECT
private slots:
  void offByDefault();
  void checkBoxSwitchesItOnAndOff();
  void namesEveryDatasetAndFitOnly();
  void staysOnThroughFitsAndMenuUpdates();
  void deletedFitLeavesIt();
  void besideThePlotAreaWithTheChartsLinedUp();
  void longNames_data();
  void longNames();
  void inTheExportedPicture();
  void inTheClipboardCopies();
  void inThePrint();
  void choiceBelongsToOnePlotter();
};

void LegendTest::offByDefault() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  layOut(p);
  QVERIFY(!p.ShowLegend);
  QVERIFY(!p.MChart->legend->visible());
  QVERIFY(!p.MChart->legendPlaced());
  QVERIFY(!p.DevChart->legend->visible());
  QCOMPARE(p.DevChart->reservedRight(), 0);
  QVERIFY(!rig.w->Legend->isChecked());
  QCOMPARE(rig.w->Legend->text(), QStringLiteral("Legend"));
  QCOMPARE(rig.w->Legend->accessibleName(), QStringLiteral("Legend"));
  // In the Tab order beside the grid-line boxes.
  QCOMPARE(rig.w->yGrid->nextInFocusChain(), static_cast<QWidget *>(rig.w->Legend));
  // A legend shown some other way is hidden again by the menu update, as
  // long as the user has not switched it on.
  p.MChart->legend->setVisible(true);
  p.UpdateFrameCommands();
  QVERIFY(!p.MChart->legend->visible());
  QVERIFY(rig.frame.codes.empty());
}

void LegendTest::checkBoxSwitchesItOnAndOff() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  const int plotWidth = p.MChart->axisRect()->width();

  rig.w->Legend->click();
  QVERIFY(rig.w->Legend->isChecked());
  QCOMPARE(rig.frame.codes, (std::vector<long long>{kLabsLegend}));
  QVERIFY(p.ShowLegend);
  QVERIFY(legendShown(p));
  layOut(p);
  QVERIFY(p.MChart->axisRect()->width() < plotWidth); // the legend took its column
  QVERIFY(p.DevChart->reservedRight() > 0);

  // The window shows the plotter's choice when it is filled again.
  SendCommand(&p, UM_PROCESS, 2, 2);
  QVERIFY(rig.w->Legend->isChecked());

  rig.w->Legend->click();
  QVERIFY(!p.ShowLegend);
  QVERIFY(!p.MChart->legend->visible());
  QVERIFY(!p.MChart->legendPlaced());
  QCOMPARE(p.MChart->legend->itemCount(), 0);
  QCOMPARE(p.DevChart->reservedRight(), 0);
  layOut(p);
  QCOMPARE(p.MChart->axisRect()->width(), plotWidth); // the plot area has its width back
}

void LegendTest::namesEveryDatasetAndFitOnly() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  rig.w->Legend->click();
  QCOMPARE(p.Datasets.count, 2u);
  QCOMPARE(p.Fits.count, 1u);
  const dataset *a = p.Datasets.at(0)->obj;
  const dataset *b = p.Datasets.at(1)->obj;
  const QStringList expected{QString::fromStdString(a->name), QString::fromStdString(b->name),
                             QStringLiteral("Fitline1")};
  QCOMPARE(legendNames(*p.MChart), expected);
  // Each entry names the dataset's own points and the fit's own line.
  QCOMPARE(legendPlottable(*p.MChart, 0), TFit::errorSeries(a->series.get()));
  QCOMPARE(legendPlottable(*p.MChart, 1), TFit::errorSeries(b->series.get()));
  QCOMPARE(legendPlottable(*p.MChart, 2), curveOf(p.Fits.at(0)->obj));
  // Nothing of the deviations chart, and no legend there.
  for (int i = 0; i < p.MChart->legend->itemCount(); ++i)
    QCOMPARE(legendPlottable(*p.MChart, i)->parentPlot(), static_cast<QCustomPlot *>(p.MChart));
  QVERIFY(!p.DevChart->legend->visible());
  QCOMPARE(p.DevChart->legend->itemCount(), 0);
}

void LegendTest::staysOnThroughFitsAndMenuUpdates() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  rig.w->Legend->click();
  for (int k = 0; k < 3; ++k)
    p.UpdateFrameCommands();
  QVERIFY(legendShown(p));

  // A fit through the fits page: the fit is listed and the legend stays.
  p.showPage(2);
  p.TrType->setItemIndex(1);
  p.TrDataset->setCurrentIndex(1);
  p.TrName->setEditText(QStringLiteral("Second line"));
  p.AddTrClick();
  QCOMPARE(p.Fits.count, 2u);
  QVERIFY(legendShown(p));
  QCOMPARE(legendNames(*p.MChart).size(), 4);
  QCOMPARE(legendNames(*p.MChart).last(), QStringLiteral("Second line"));

  // A multi fit adds one entry per line.
  p.TrName->setEditText(QStringLiteral("Shared"));
  p.GoPlotBtnClick();
  QCOMPARE(p.Fits.count, 4u);
  QVERIFY(legendShown(p));
  QCOMPARE(legendNames(*p.MChart).size(), 6);
  p.UpdateFrameCommands();
  QVERIFY(legendShown(p));
}

void LegendTest::deletedFitLeavesIt() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  addFit<polynom>(p, 1, "Fitline2", 2);
  // Listed for the details chooser as the fits page lists them.
  p.CBoxDetails->addItem(QStringLiteral("Fitline1"));
  p.CBoxDetails->addItem(QStringLiteral("Fitline2"));
  rig.w->Legend->click();
  QCOMPARE(legendNames(*p.MChart).size(), 4);
  const int widthWithBoth = p.MChart->legendColumnWidth();

  p.CBoxDetails->setCurrentIndex(0);
  p.DeletetrClick();
  QCOMPARE(legendNames(*p.MChart).size(), 3);
  QVERIFY(!legendNames(*p.MChart).contains(QStringLiteral("Fitline1")));
  QVERIFY(legendNames(*p.MChart).contains(QStringLiteral("Fitline2")));
  QCOMPARE(p.DevChart->reservedRight(), p.MChart->legendColumnWidth());
  QVERIFY(p.MChart->legendColumnWidth() <= widthWithBoth);
}

void LegendTest::besideThePlotAreaWithTheChartsLinedUp() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  rig.w->Legend->click();
  layOut(p);
  const QRect plot = p.MChart->axisRect()->rect();
  const QRect legend = p.MChart->legend->outerRect();
  QVERIFY(!legend.isEmpty());
  QVERIFY(!legend.intersects(plot));
  QVERIFY(legend.left() > plot.right());
  QVERIFY(legend.right() < p.MChart->width()); // whole on the chart
  QCOMPARE(legend.top(), plot.top());          // level with the plot area
  // Both plot areas begin and end at the same columns.
  QCOMPARE(p.DevChart->axisRect()->left(), p.MChart->axisRect()->left());
  QCOMPARE(p.DevChart->axisRect()->right(), p.MChart->axisRect()->right());
}

void LegendTest::longNames_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("lines");
  QTest::addColumn<bool>("elided");
  QTest::newRow("short") << QStringLiteral("Fit 1") << 1 << false;
  QTest::newRow("two lines") << QStringLiteral("Dataset a -- Quadratic (y=ax^2+bx+c)") << 2
                             << false;
  QTest::newRow("very long")
      << QStringLiteral("Pendulum period against length, second run with the long string -- "
                        "Cubic (y=ax^3+bx^2+cx+d) and some more words to fill it")
      << 2 << true;
  QTest::newRow("one long word") << QString(80, QLatin1Char('W')) << 2 << true;
}

void LegendTest::longNames() {
  QFETCH(QString, name);
  QFETCH(int, lines);
  QFETCH(bool, elided);
  Chart chart(true);
  const QFont font = chart.legend->font();
  const QString text = Chart::legendText(name, font);
  const QStringList shown = text.split(QLatin1Char('\n'));
  QCOMPARE(shown.size(), lines);
  const QFontMetrics metrics(font);
  for (const QString &line : shown)
    QVERIFY2(metrics.horizontalAdvance(line) <= Chart::kLegendTextWidth, qPrintable(line));
  QCOMPARE(text.endsWith(QChar(0x2026)), elided);
  if (!elided)
    QCOMPARE(shown.join(QLatin1Char(' ')), name); // nothing lost
  else
    QVERIFY(shown.first().size() > 0 && name.startsWith(shown.first()));
}

void LegendTest::inTheExportedPicture() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  layOut(p);
  const QImage off = ChartsPicture(p);
  rig.w->Legend->click();
  layOut(p);
  QRect mainRect, devRect;
  ChartsLayout(p, mainRect, devRect);
  const QImage on = ChartsPicture(p);
  QCOMPARE(on.size(), off.size());

  // The legend is drawn where the chart (laid out at the picture's size)
  // places it; without it that place shows the plot area instead.
  const QRect legend = p.MChart->legend->outerRect().translated(mainRect.topLeft());
  QVERIFY(!legend.isEmpty());
  QVERIFY(legend.bottom() < mainRect.bottom());
  QVERIFY2(inkIn(on, legend) > 100, qPrintable(QString::number(inkIn(on, legend))));
  QVERIFY(changedIn(on, off, legend) > 100);

  // The left axes stay lined up.
  const int hm = p.MChart->height();
  const QRect main(0, 0, on.width(), hm);
  const QRect dev(0, hm, on.width(), on.height() - hm);
  QVERIFY(AxisPosition(main, on) > 0);
  QVERIFY(std::abs(AxisPosition(main, on) - AxisPosition(dev, on)) <= 1);
}

void LegendTest::inTheClipboardCopies() {
  Rig rig("Clipfit");
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  layOut(p);
  QVERIFY(!QString::fromUtf8(ChartSvg(*p.MChart)).contains(QStringLiteral("Clipfit")));
  const QImage off = ChartBitmap(*p.MChart);
  rig.w->Legend->click();
  layOut(p);
  QVERIFY(QString::fromUtf8(ChartSvg(*p.MChart)).contains(QStringLiteral("Clipfit")));
  const QImage on = ChartBitmap(*p.MChart);
  QCOMPARE(on.size(), off.size());
  const QRect legend = p.MChart->legend->outerRect();
  QVERIFY(inkIn(on, legend) > 100);
  QVERIFY(changedIn(on, off, legend) > 100);
}

void LegendTest::inThePrint() {
  const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
  if (pdftotext.isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  QTemporaryDir dir;
  Rig rig("Printedfit");
  QVERIFY(rig.plotter && rig.w);
  TFit &p = rig.p();
  rig.frame.marks(true, true, false); // the charts only: the name can come from the legend alone
  auto printedText = [&](const QString &file) {
    rig.dialogs.printTo = dir.filePath(file);
    p.PrintCharts();
    QProcess run;
    run.start(pdftotext, {rig.dialogs.printTo, QStringLiteral("-")});
    run.waitForFinished(30000);
    return QString::fromUtf8(run.readAllStandardOutput());
  };
  QVERIFY(!printedText(QStringLiteral("off.pdf")).contains(QStringLiteral("Printedfit")));
  rig.w->Legend->click();
  const QString on = printedText(QStringLiteral("on.pdf"));
  QVERIFY2(on.contains(QStringLiteral("Printedfit")), qPrintable(on));
  QVERIFY(on.contains(QString::fromStdString(p.Datasets.at(1)->obj->name)));
  QVERIFY(!p.Printing);
  QVERIFY(legendShown(p));
}

void LegendTest::choiceBelongsToOnePlotter() {
  Rig rig;
  QVERIFY(rig.plotter && rig.w);
  auto other = makePlotterFor(rig.frame, taggedLines(2), "/home/u/run2.txt");
  QVERIFY(other);
  rig.frame.adopt(other.get());
  showCharts(*other);
  rig.w->Legend->click(); // the code reaches every plotter
  QVERIFY(legendShown(rig.p()));
  QVERIFY(!other->ShowLegend);
  QVERIFY(!other->MChart->legend->visible());
  other->UpdateFrameCommands();
  QVERIFY(!other->MChart->legendPlaced());
}

QTEST_MAIN(LegendTest)
#include "legend_test.moc"
