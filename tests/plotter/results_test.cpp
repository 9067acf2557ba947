// Results for a lab report in the windows: the confidence band chosen in
// the titles and axes window (on screen, in a PNG and in the gnuplot
// script), and the chosen fit's results, residuals and details from the
// "Results" button of the chart page.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "engine/fits.h"
#include "engine/report.h"
#include "plotter/chartlabs.h"
#include "plotter/charts.h"
#include "plotter/export.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// y = 2x + 1 with a little scatter and unequal errors.
const std::vector<std::string> kLine = {"1 3.05 0.1 A", "2 4.96 0.1 A", "3 7.02 0.2 A",
                                        "4 9.1 0.2 A",  "5 10.9 0.3 A", "6 13.05 0.3 A"};

struct Rig {
  OutputDialogs dialogs;
  RoutingFrame frame;
  std::unique_ptr<TFit> plotter;
  TChartlabs *w = nullptr;
  bfit *fit = nullptr;

  Rig() {
    plotter = makePlotterFor(frame, kLine, "/home/u/line.txt");
    frame.adopt(plotter.get());
    showCharts(*plotter);
    fit = addFit<polynom>(*plotter, 0, "Dataset A -- Linear (y=ax+b)", 1);
    plotter->CBoxDetails->addItem(QString::fromStdString(fit->name));
    SendCommand(plotter.get(), UM_PROCESS, 2, 2);
    w = qobject_cast<TChartlabs *>(plotter->TitlesWindow.data());
  }
  void chooseFit() {
    plotter->CBoxDetails->setCurrentIndex(0);
    emit plotter->CBoxDetails->activated(0);
  }
};

// sigma_y(x)^2 = (S x^2 - 2 Sx x + Sxx) / D for the weighted line, written
// out from the data here.
double lineSigma(const dataset &d, double x) {
  long double S = 0, Sx = 0, Sxx = 0;
  for (int i = 0; i < d.x->n; ++i) {
    const long double w = 1.0L / ((*d.yerr)[i] * (long double)(*d.yerr)[i]), xi = (*d.x)[i];
    S += w, Sx += w * xi, Sxx += w * xi * xi;
  }
  const long double D = S * Sxx - Sx * Sx;
  return std::sqrt(static_cast<double>((S * x * x - 2 * Sx * x + Sxx) / D));
}

} // namespace

class ResultsTest : public QObject {
  Q_OBJECT
private slots:
  void bandChosenInTheWindow();
  void bandInThePictureAndTheScript();
  void copyResultsResidualsAndDetails();
  void nothingChosenNothingCopied();
};

void ResultsTest::bandChosenInTheWindow() {
  Rig rig;
  QVERIFY(rig.w);
  TFit &p = *rig.plotter;
  QCOMPARE(rig.w->BandLevel->currentIndex(), 0);
  QVERIFY(p.Bands.empty());

  rig.w->BandLevel->setCurrentIndex(2); // 95 %
  QCOMPARE(p.Band, bandlevel::ninetyfive);
  QCOMPARE(p.Bands.size(), std::size_t(1));
  const QCPGraph *upper = p.Bands[0].upper;
  const QCPGraph *lower = p.Bands[0].lower;
  QVERIFY(upper && lower);
  QCOMPARE(upper->channelFillGraph(), lower);
  QCOMPARE(upper->brush().color().rgb(),
           dynamic_cast<const graphhandle *>(rig.fit->curve.get())->graph()->pen().color().rgb());
  QVERIFY(upper->brush().color().alpha() < 255);
  // At every band point: the fitted line +/- 1.96 sigma of the closed form
  // (the y axis shows the data unscaled here).
  QCOMPARE(p.YScale, 1.0);
  const dataset &d = *p.Datasets.at(0)->obj;
  for (int i = 0; i < upper->dataCount(); i += 25) {
    const double x = upper->data()->at(i)->key * p.XScale + p.XOffset;
    const double y = rig.fit->value(x);
    const double half = upper->data()->at(i)->value * p.YScale + p.YOffset - y;
    QVERIFY2(std::abs(half / (1.959963984540054 * lineSigma(d, x)) - 1) < 1e-9,
             qPrintable(QString::number(x)));
  }
  // The band goes with its fit, and with the choice "No Band".
  rig.w->BandLevel->setCurrentIndex(1);
  QCOMPARE(p.Bands.size(), std::size_t(1));
  rig.w->BandLevel->setCurrentIndex(0);
  QVERIFY(p.Bands.empty());
  QCOMPARE(p.MChart->graphCount(), 2); // the points and the curve
}

void ResultsTest::bandInThePictureAndTheScript() {
  Rig rig;
  TFit &p = *rig.plotter;
  const QImage without = ChartsPicture(p).convertToFormat(QImage::Format_RGB32);
  rig.w->BandLevel->setCurrentIndex(1);
  QTemporaryDir dir;
  const QString png = dir.filePath(QStringLiteral("line.png"));
  rig.dialogs.saveAnswer = png;
  rig.dialogs.selectedFilter = QStringLiteral("PNG (*.png)");
  p.ExportChart();
  const QImage with = QImageReader(png).read().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(with, ChartsPicture(p).convertToFormat(QImage::Format_RGB32));
  QVERIFY(with != without);

  const QString gnu = dir.filePath(QStringLiteral("line.gnu"));
  rig.dialogs.saveAnswer = gnu;
  rig.dialogs.selectedFilter = QStringLiteral("Gnu Plot File (*.gnu)");
  p.ExportChart();
  QFile f(gnu);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QString script = QString::fromUtf8(f.readAll());
  QVERIFY2(script.contains(QStringLiteral("$band0 << EOD\r\n")), qPrintable(script));
  QVERIFY(script.contains(QStringLiteral("$band0 using 1:2:3 ti \"\" with filledcurves")));
  // The band's first row: x low, then the line -/+ 1 sigma there.
  const int at = script.indexOf(QStringLiteral("$band0 << EOD\r\n")) + 15;
  const QStringList first = script.mid(at, script.indexOf(QLatin1Char('\r'), at) - at).split(' ');
  QCOMPARE(first.size(), 3);
  const double x = first[0].toDouble();
  QCOMPARE(x, p.XLow);
  const double s = lineSigma(*p.Datasets.at(0)->obj, x);
  QVERIFY(std::abs(first[1].toDouble() - (rig.fit->value(x) - s)) < 1e-8 * std::abs(s) + 1e-9);
  QVERIFY(std::abs(first[2].toDouble() - (rig.fit->value(x) + s)) < 1e-8 * std::abs(s) + 1e-9);
  const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
  if (gnuplot.isEmpty())
    QSKIP("gnuplot is not installed");
  QProcess run;
  run.start(gnuplot, {QStringLiteral("-e"), QStringLiteral("set terminal dumb"), gnu});
  QVERIFY(run.waitForFinished(20000));
  QCOMPARE(run.exitCode(), 0);
  QCOMPARE(QString::fromUtf8(run.readAllStandardError()).trimmed(), QString());
}

void ResultsTest::copyResultsResidualsAndDetails() {
  Rig rig;
  rig.chooseFit();
  const roundedpair a = roundtouncertainty(rig.fit->par[0], rig.fit->err[0]);
  rig.plotter->CopyResultsText->trigger();
  QString text = QGuiApplication::clipboard()->text();
  QVERIFY2(text.contains(QStringLiteral("a = ") + QString::fromStdString(a.plusminus())),
           qPrintable(text));
  QVERIFY(text.contains(QStringLiteral("correlation")));
  QVERIFY(text.contains(QStringLiteral("p-value = ")));
  QCOMPARE(rig.frame.status, QStringLiteral("Results copied to the clipboard"));

  rig.plotter->CopyResultsMarkdown->trigger();
  text = QGuiApplication::clipboard()->text();
  QVERIFY(text.contains(QStringLiteral("| a | ") + QString::fromStdString(a.plusminus())));
  rig.plotter->CopyResultsLatex->trigger();
  text = QGuiApplication::clipboard()->text();
  QVERIFY(text.contains(QString::fromStdString(a.siunitx())));

  rig.plotter->CopyResiduals->trigger();
  text = QGuiApplication::clipboard()->text();
  const QStringList rows = text.trimmed().split(QLatin1Char('\n'));
  QCOMPARE(rows.size(), 7);
  QCOMPARE(rows[0], QStringLiteral("# x\ty\terror\tfitted\tdeviation\tnormalised_deviation"));
  const QStringList r1 = rows[1].split(QLatin1Char('\t'));
  QCOMPARE(r1[0].toDouble(), 1.0);
  QCOMPARE(r1[1].toDouble(), 3.05);
  QVERIFY(std::abs(r1[4].toDouble() - (3.05 - rig.fit->value(1.0))) < 1e-12);

  rig.plotter->ShowDetails->trigger();
  auto *box = rig.plotter->findChild<QDialog *>(QStringLiteral("FitDetails"));
  QVERIFY(box && box->isVisible());
  const QString details = box->findChild<QPlainTextEdit *>()->toPlainText();
  QVERIFY(details.contains(QStringLiteral("covariance")));
  QVERIFY(details.contains(QStringLiteral("reduced chi-square = ")));
}

void ResultsTest::nothingChosenNothingCopied() {
  Rig rig;
  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  rig.plotter->CBoxDetails->setCurrentIndex(-1);
  rig.plotter->CopyResultsText->trigger();
  QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
  QVERIFY(rig.frame.status.startsWith(QStringLiteral("Choose a fit first")));
}

QTEST_MAIN(ResultsTest)
#include "results_test.moc"
