// Printing and the clipboard: every UM_OUTPUT code, the information copy
// through the frame's three commands, the "What to Print" marks, and
// prints to PDF files read back with pdftotext.
#include <QClipboard>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPageLayout>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTest>

#include "frame/log.h"
#include "plotter/charts.h"
#include "plotter/export.h"
#include "plotter/printing.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

const QString kCaption = QStringLiteral("Chart Compiled From - run1.txt");
const QString kNothing =
    QStringLiteral("Nothing selected to print check Check Chart->What To Print");

const std::vector<std::string> kPoints = {"1 2 0.1 A", "2 4.1 0.2 A", "3 5.9 0.2 A", "4 8.2 0.3 A"};
// Errors far larger than the scatter: every fit's chi-square is
// suspiciously small and its description carries the long warning.
const std::vector<std::string> kLooseErrors = {"1 2 2 A", "2 4.1 2 A", "3 5.9 2 A", "4 8.2 2 A",
                                               "5 9.9 2 A"};

std::unique_ptr<TFit> plotterWithFit(FrameApi &frame, int fits = 1,
                                     const std::vector<std::string> &points = kPoints) {
  auto p = makePlotterFor(frame, points, "/home/u/run1.txt");
  if (!p)
    return p;
  showCharts(*p);
  for (int k = 1; k <= fits; ++k)
    addFit<polynom>(*p, 0, "Fitline" + std::to_string(k), 1);
  return p;
}

int pdfPages(const QString &file) {
  const QByteArray pdf = readAll(file);
  return static_cast<int>(
      QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))));
}

QString pdftotext() { return QStandardPaths::findExecutable(QStringLiteral("pdftotext")); }

// The words of a PDF with their boxes, from pdftotext -bbox.
struct word {
  int page;
  double yMin, yMax, xMax;
  QString text;
  double xMin = 0;
};
struct pdfwords {
  double pageHeight = 0;
  std::vector<word> words;
  QString text() const {
    QStringList all;
    for (const word &w : words)
      all << w.text;
    return all.join(QLatin1Char(' '));
  }
};

pdfwords readWords(const QString &file) {
  pdfwords out;
  QProcess run;
  run.start(pdftotext(), {QStringLiteral("-bbox"), file, QStringLiteral("-")});
  if (!run.waitForFinished(30000))
    return out;
  const QString html = QString::fromUtf8(run.readAllStandardOutput());
  int page = 0;
  static const QRegularExpression tag(
      QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\">|<word xMin=\"(-?[\\d.]+)\" "
                     "yMin=\"([\\d.]+)\" "
                     "xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
  for (auto it = tag.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    if (!m.captured(1).isEmpty()) {
      ++page;
      out.pageHeight = m.captured(2).toDouble();
    } else {
      out.words.push_back({page, m.captured(4).toDouble(), m.captured(6).toDouble(),
                           m.captured(5).toDouble(),
                           m.captured(7).replace(QStringLiteral("&gt;"), QStringLiteral(">")),
                           m.captured(3).toDouble()});
    }
  }
  return out;
}

// Every word lies inside the printer's printable area (in points).
bool insidePrintable(const pdfwords &w, const QPrinter &printer, QString *outside) {
  const QRectF area = printer.pageLayout().paintRect(QPageLayout::Point);
  for (const word &x : w.words)
    if (x.yMax > area.bottom() + 0.5 || x.xMax > area.right() + 0.5) {
      *outside = x.text;
      return false;
    }
  return true;
}

const word *firstWord(const pdfwords &w, const QString &text) {
  for (const word &x : w.words)
    if (x.text == text)
      return &x;
  return nullptr;
}

} // namespace

class PrintingTest : public QObject {
  Q_OBJECT
private slots:
  void init();
  void cleanup();

  void outputCodes_data();
  void outputCodes();
  void replotRestoresTheRangesAfterZoom();
  void informationCopyThroughTheThreeCommands();
  void whatToPrintMarksAndTheirTexts();

  void layoutOfThePage_data();
  void layoutOfThePage();
  void printToPdf_data();
  void printToPdf();
  void informationOnlyStartsNearTheTop();
  void longInformationRunsIntoColumnsAndPages();
  void chartsLinedUpOnThePage();
  void deviationsFontsOnThePage_data();
  void deviationsFontsOnThePage();
  void negativeDeviationLabelsPrintWhole();
  void fontsAfterThePrint();
  void cancelledOrRefusedPrint();

private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<OutputDialogs> dialogs_;
};

void PrintingTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  dialogs_ = std::make_unique<OutputDialogs>();
  QGuiApplication::clipboard()->setText(QStringLiteral("sentinel"));
}

void PrintingTest::cleanup() {
  dialogs_.reset();
  dir_.reset();
}

void PrintingTest::outputCodes_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<QString>("what"); // main, dev, info or none
  QTest::addColumn<bool>("svg");
  QTest::newRow("11 main bitmap") << 11 << "main" << false;
  QTest::newRow("12 main WMF") << 12 << "main" << true;
  QTest::newRow("13 main EMF") << 13 << "main" << true;
  QTest::newRow("21 deviations bitmap") << 21 << "dev" << false;
  QTest::newRow("22 deviations WMF") << 22 << "dev" << true;
  QTest::newRow("23 deviations EMF") << 23 << "dev" << true;
  QTest::newRow("30 information") << 30 << "info" << false;
  QTest::newRow("1 nothing") << 1 << "none" << false;
  QTest::newRow("7 nothing") << 7 << "none" << false;
  QTest::newRow("31 nothing") << 31 << "none" << false;
  QTest::newRow("999 nothing") << 999 << "none" << false;
}

void PrintingTest::outputCodes() {
  QFETCH(int, code);
  QFETCH(QString, what);
  QFETCH(bool, svg);
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  const std::size_t logged = frame.log.size();
  SendCommand(plotter.get(), UM_OUTPUT, code, code);

  const QMimeData *data = QGuiApplication::clipboard()->mimeData();
  QVERIFY(data);
  QCOMPARE(dialogs_->prints, 0);
  QCOMPARE(frame.log.size(), logged);
  if (what == QLatin1String("none")) {
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("sentinel"));
    return;
  }
  if (what == QLatin1String("info")) {
    QStringList info;
    plotter->WriteInformation(info);
    QVERIFY(info.size() > 4);
    QCOMPARE(QGuiApplication::clipboard()->text(), info.join(QStringLiteral("\r\n")));
    return;
  }
  Chart *chart = what == QLatin1String("main") ? plotter->MChart : plotter->DevChart;
  const QImage img = qvariant_cast<QImage>(data->imageData());
  QCOMPARE(img.size(), chart->size());
  QCOMPARE(img.pixel(0, 0), qRgb(255, 255, 255)); // on white
  int dark = 0;                                   // and with something drawn on it
  for (int y = 0; y < img.height(); y += 3)
    for (int x = 0; x < img.width(); x += 3)
      dark += qGray(img.pixel(x, y)) < 128;
  QVERIFY(dark > 50);
  QCOMPARE(data->hasFormat(QStringLiteral("image/svg+xml")), svg);
  if (svg) {
    QSvgRenderer renderer(data->data(QStringLiteral("image/svg+xml")));
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), chart->size()));
  }
}

void PrintingTest::replotRestoresTheRangesAfterZoom() {
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  const QCPRange x = plotter->MChart->xAxis->range();
  const QCPRange y = plotter->MChart->yAxis->range();
  plotter->MChart->xAxis->scaleRange(0.25); // as a mouse zoom leaves it
  plotter->MChart->yAxis->moveRange(3.0);
  QVERIFY(plotter->MChart->xAxis->range() != x);
  SendCommand(plotter.get(), UM_OUTPUT, 102, 102);
  QCOMPARE(plotter->MChart->xAxis->range(), x);
  QCOMPARE(plotter->MChart->yAxis->range(), y);
}

void PrintingTest::informationCopyThroughTheThreeCommands() {
  FrameRig rig;
  TFit *plotter = rig.adopt(plotterWithFit(*rig.frame, 2));
  QStringList info;
  plotter->WriteInformation(info);
  QCOMPARE(info.count(QStringLiteral(" ")), 2);
  const QString expected = info.join(QStringLiteral("\r\n"));

  // "&Information" of the Chart menu's copy submenu, "Information" of the
  // icon's menu, and the Edit menu's "&Copy".
  for (const char *item : {"Information1", "Information3", "EditCopyItem"}) {
    QGuiApplication::clipboard()->setText(QStringLiteral("sentinel"));
    rig.trigger(item);
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
  }
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Copied to the Clipboard"));
}

void PrintingTest::whatToPrintMarksAndTheirTexts() {
  FrameRig rig;
  TFit *plotter = rig.adopt(plotterWithFit(*rig.frame));
  struct mark {
    const char *name;
    QString on, off;
  };
  const mark marks[] = {
      {"WTPMainChart", QStringLiteral("The Main Chart WILL Be Printed On A Print Request"),
       QStringLiteral("The Main Chart WILL NOT Be Printed On A Print Request")},
      {"WTPResiduals",
       QStringLiteral("The Deviations in the Ordinates Chart WILL Be Printed On A Print Request"),
       QStringLiteral(
           "The Deviations in the Ordinates Chart WILL NOT Be Printed On A Print Request")},
      {"WTPInformation",
       QStringLiteral("Information on the fits WILL Be Printed On A Print Request"),
       QStringLiteral("Information on the fits WILL NOT Be Printed On A Print Request")},
  };
  for (const mark &m : marks) {
    QAction *a = rig.frame->action(QLatin1String(m.name));
    QVERIFY(a->isChecked()); // all marked at the start
    rig.trigger(m.name);
    QVERIFY(!a->isChecked());
    QCOMPARE(rig.frame->statusText(), m.off);
  }
  // Nothing marked: "&Print" logs the error and asks nothing.
  rig.trigger("FilePrintItem");
  QCOMPARE(dialogs_->prints, 0);
  QTRY_VERIFY(rig.frame->log()->lines().last().endsWith(kNothing));

  // Information marked again: the print holds that alone. (The error
  // brought the log forward; the plotter is made the active child again.)
  rig.trigger("WTPInformation");
  rig.frame->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(plotter->parentWidget()));
  QCOMPARE(rig.frame->statusText(), marks[2].on);
  dialogs_->printTo = dir_->filePath(QStringLiteral("frame.pdf"));
  rig.trigger("FilePrintItem");
  QCOMPARE(dialogs_->prints, 1);
  QCOMPARE(pdfPages(dialogs_->printTo), 1);
  QTRY_VERIFY(rig.frame->log()->lines().last().endsWith(plotter->windowTitle() +
                                                        " has been sent to the printer"));
}

void PrintingTest::layoutOfThePage_data() {
  QTest::addColumn<int>("marks"); // bits: 4 main, 2 deviations, 1 information
  QTest::addColumn<QRect>("main");
  QTest::addColumn<QRect>("dev");
  QTest::addColumn<QRect>("col1");
  QTest::addColumn<QRect>("col2");
  auto r = [](int l, int t, int rt, int b) { return QRect(QPoint(l, t), QSize(rt - l, b - t)); };
  // W = 1000, H = 1200.
  QTest::newRow("all three") << 7 << r(100, 100, 900, 500) << r(100, 700, 900, 800)
                             << r(30, 810, 470, 1170) << r(530, 930, 970, 1170);
  QTest::newRow("main and information")
      << 5 << r(100, 100, 900, 700) << QRect() << r(30, 710, 470, 1170) << r(530, 830, 970, 1170);
  QTest::newRow("information alone")
      << 1 << QRect() << QRect() << r(30, -90, 470, 1170) << r(530, 30, 970, 1170);
  QTest::newRow("both charts") << 6 << r(100, 100, 900, 700) << r(100, 900, 900, 1100)
                               << r(30, 1110, 470, 1170) << r(530, 1230, 970, 1170);
}

void PrintingTest::layoutOfThePage() {
  QFETCH(int, marks);
  QFETCH(QRect, main);
  QFETCH(QRect, dev);
  QFETCH(QRect, col1);
  QFETCH(QRect, col2);
  const PrintLayout l(marks & 4, marks & 2, marks & 1, 1000, 1200);
  QCOMPARE(l.mainRect(), main);
  QCOMPARE(l.devRect(), dev);
  QCOMPARE(l.infoColumn(1), col1);
  QCOMPARE(l.infoColumn(2), col2);
  // Further columns fill whole pages, two a page.
  QCOMPARE(l.infoColumn(3), QRect(QPoint(30, 30), QSize(440, 1140)));
  QCOMPARE(l.infoColumn(4), QRect(QPoint(530, 30), QSize(440, 1140)));
  QVERIFY(!PrintLayout::newPageFor(2) && PrintLayout::newPageFor(3) &&
          !PrintLayout::newPageFor(4) && PrintLayout::newPageFor(5));
}

void PrintingTest::printToPdf_data() {
  QTest::addColumn<bool>("m");
  QTest::addColumn<bool>("v");
  QTest::addColumn<bool>("i");
  for (int bits = 1; bits < 8; ++bits) {
    const bool m = bits & 4, v = bits & 2, i = bits & 1;
    QTest::newRow(qPrintable(QStringLiteral("%1%2%3")
                                 .arg(m ? "main " : "")
                                 .arg(v ? "deviations " : "")
                                 .arg(i ? "information" : "")))
        << m << v << i;
  }
}

void PrintingTest::printToPdf() {
  QFETCH(bool, m);
  QFETCH(bool, v);
  QFETCH(bool, i);
  if (pdftotext().isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  frame.marks(m, v, i);
  const QString pdf = dir_->filePath(QStringLiteral("out.pdf"));
  dialogs_->printTo = pdf;
  const std::size_t logged = frame.log.size();
  SendCommand(plotter.get(), UM_OUTPUT, 0, 0);

  QCOMPARE(dialogs_->prints, 1);
  QCOMPARE(frame.pdf.docName(), kCaption);
  QCOMPARE(pdfPages(pdf), 1);
  const pdfwords words = readWords(pdf);
  const QString text = words.text();
  QCOMPARE(text.contains(QStringLiteral("run1")), m);                        // main title
  QCOMPARE(text.contains(QStringLiteral("Deviations in the Ordinates")), v); // its title
  QCOMPARE(text.contains(QStringLiteral("Fitline1")), i);
  QCOMPARE(text.contains(QStringLiteral("ChiSqu")), i);
  QCOMPARE(text.contains(QStringLiteral("Freedom")), i);
  QString outside;
  QVERIFY2(insidePrintable(words, frame.pdf, &outside), qPrintable(outside));
  // The information lies below the charts.
  if (i && (m || v)) {
    const word *title = firstWord(words, m ? QStringLiteral("run1") : QStringLiteral("Ordinates"));
    const word *name = firstWord(words, QStringLiteral("Fitline1"));
    QVERIFY(title && name);
    QVERIFY(name->yMin > title->yMax);
  }
  QCOMPARE(frame.log.size(), logged + 1);
  QCOMPARE(frame.log.back().error, false);
  QCOMPARE(frame.log.back().text, kCaption + QStringLiteral(" has been sent to the printer"));
  QVERIFY(!plotter->Printing);
}

void PrintingTest::informationOnlyStartsNearTheTop() {
  if (pdftotext().isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  const QString pdf = dir_->filePath(QStringLiteral("info.pdf"));
  dialogs_->printTo = pdf;

  frame.marks(false, false, true);
  plotter->PrintCharts();
  pdfwords words = readWords(pdf);
  const word *name = firstWord(words, QStringLiteral("Fitline1"));
  QVERIFY(name);
  // Five line steps (of 1.4 times 8 points) below a column top 90 pixels
  // above the printable area.
  QVERIFY2(name->yMin < 0.12 * words.pageHeight, qPrintable(QString::number(name->yMin)));

  // With the main chart (n = 2) the information starts in the last third.
  frame.marks(true, false, true);
  plotter->PrintCharts();
  words = readWords(pdf);
  name = firstWord(words, QStringLiteral("Fitline1"));
  QVERIFY(name);
  QVERIFY(name->yMin > 0.62 * words.pageHeight);
  QVERIFY(name->yMin < 0.75 * words.pageHeight);
}

void PrintingTest::longInformationRunsIntoColumnsAndPages() {
  if (pdftotext().isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame, 45, kLooseErrors);
  QVERIFY(plotter);
  QStringList info;
  plotter->WriteInformation(info);
  QVERIFY(info.size() > 250);
  frame.marks(true, true, true);
  const QString pdf = dir_->filePath(QStringLiteral("long.pdf"));
  dialogs_->printTo = pdf;
  // While the pages are printed the plotter is Printing: the font timer
  // leaves the page fonts alone.
  const int label = plotter->MChart->xAxis->tickLabelFont().pointSize();
  int newPages = 0;
  frame.pdf.onNewPage = [&] {
    ++newPages;
    QVERIFY(plotter->Printing);
    plotter->RestoreChartFonts();
    QCOMPARE(plotter->MChart->xAxis->tickLabelFont().pointSize(), label + 3);
  };
  plotter->PrintCharts();
  frame.pdf.onNewPage = nullptr;

  const int pages = pdfPages(pdf);
  QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
  QCOMPARE(newPages, pages - 1);
  const pdfwords words = readWords(pdf);
  // Every fit is there once, every word inside the printable area.
  for (int k = 1; k <= 45; ++k) {
    int found = 0;
    for (const word &w : words.words)
      found += w.text == QStringLiteral("Fitline%1").arg(k);
    QVERIFY2(found == 1, qPrintable(QStringLiteral("Fitline%1: %2").arg(k).arg(found)));
  }
  QString outside;
  QVERIFY2(insidePrintable(words, frame.pdf, &outside), qPrintable(outside));
  // The long warning lines continue on further lines rather than running
  // off the column: each of them is there to its last words.
  QCOMPARE(info.filter(QStringLiteral("consult a demonstrator.")).size(), 45);
  QCOMPARE(words.text().count(QStringLiteral("consult a demonstrator.")), 45);
  // Later pages start their columns five line steps below the top margin.
  double top = words.pageHeight;
  for (const word &w : words.words)
    if (w.page == 2)
      top = std::min(top, w.yMin);
  QVERIFY(top > 5 * 1.4 * 8 - 2);
  QVERIFY(top < 0.15 * words.pageHeight);
}

void PrintingTest::chartsLinedUpOnThePage() {
  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  if (pdftoppm.isEmpty())
    QSKIP("pdftoppm is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  // The deviations chart's axis stands well right of the main chart's.
  QCPAxisRect *r = plotter->DevChart->axisRect();
  r->setAutoMargins(QCP::msTop | QCP::msRight | QCP::msBottom);
  r->setMargins(QMargins(plotter->MChart->axisRect()->left() + 37, r->margins().top(),
                         r->margins().right(), r->margins().bottom()));
  frame.marks(true, true, false);
  const QString pdf = dir_->filePath(QStringLiteral("aligned.pdf"));
  dialogs_->printTo = pdf;
  plotter->PrintCharts();

  QProcess run;
  run.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-png"),
                       QStringLiteral("-singlefile"), pdf, dir_->filePath(QStringLiteral("page"))});
  QVERIFY(run.waitForFinished(30000));
  const QImage page(dir_->filePath(QStringLiteral("page.png")));
  QVERIFY(!page.isNull());
  // Main chart in the upper two thirds, deviations chart in the last third
  // (n = 2); the middle halves of both lie well inside these bands.
  const int h = page.height();
  const int main = AxisPosition(QRect(0, h / 10, page.width(), h / 2), page);
  const int dev = AxisPosition(QRect(0, 3 * h / 4, page.width(), h / 6), page);
  QVERIFY(main > 0);
  QVERIFY2(std::abs(main - dev) <= 1, qPrintable(QStringLiteral("%1 and %2").arg(main).arg(dev)));
}

void PrintingTest::deviationsFontsOnThePage_data() {
  QTest::addColumn<bool>("landscape");
  QTest::addColumn<bool>("information");
  QTest::addColumn<int>("q");
  QTest::newRow("portrait, two items") << false << false << 4;
  QTest::newRow("portrait, three items") << false << true << 6;
  QTest::newRow("landscape, three items") << true << true << 5;
  QTest::newRow("landscape, two items") << true << false << 3;
}

void PrintingTest::deviationsFontsOnThePage() {
  QFETCH(bool, landscape);
  QFETCH(bool, information);
  QFETCH(int, q);
  if (pdftotext().isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  frame.marks(true, true, information);
  frame.pdf.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  const int label = plotter->MChart->xAxis->tickLabelFont().pointSize();
  const QString pdf = dir_->filePath(QStringLiteral("q.pdf"));
  dialogs_->printTo = pdf;
  plotter->PrintCharts();

  // The numbers of the axes: above the deviations chart's title they are
  // the main chart's (printed 3 points larger than on the screen), below it
  // the deviations chart's (q points larger).
  const pdfwords words = readWords(pdf);
  const word *devTitle = firstWord(words, QStringLiteral("Deviations"));
  const word *fitName = firstWord(words, QStringLiteral("Fitline1"));
  QVERIFY(devTitle);
  std::vector<double> main, dev;
  static const QRegularExpression number(QStringLiteral("^-?[0-9.]+$"));
  for (const word &w : words.words) {
    if (!number.match(w.text).hasMatch() || (fitName && w.yMin >= fitName->yMin))
      continue;
    (w.yMax < devTitle->yMin ? main : dev).push_back(w.yMax - w.yMin);
  }
  QVERIFY(main.size() > 4 && dev.size() > 4);
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  // Text is laid out at whole screen pixels (96 to the inch) and scaled up.
  auto px = [](int points) { return static_cast<double>(qRound(points * 96 / 72.0)); };
  const double ratio = median(dev) / median(main);
  const double expected = px(label + q) / px(label + 3);
  QVERIFY2(std::abs(ratio - expected) < 0.03,
           qPrintable(QStringLiteral("%1 against %2").arg(ratio).arg(expected)));
  // The title of the deviations chart: the new label size plus q - 1.
  const word *mainTitle = firstWord(words, QStringLiteral("run1"));
  QVERIFY(mainTitle);
  const double titles = (devTitle->yMax - devTitle->yMin) / (mainTitle->yMax - mainTitle->yMin);
  const double expectedTitles = px(label + 2 * q - 1) / px(label + 3 + 6);
  QVERIFY2(std::abs(titles - expectedTitles) < 0.03,
           qPrintable(QStringLiteral("%1 against %2").arg(titles).arg(expectedTitles)));
}

// A4 portrait with all three items: the deviations chart's labels are
// enlarged for the page, and its negative labels print whole, minus sign
// included, inside the printable area.
void PrintingTest::negativeDeviationLabelsPrintWhole() {
  if (pdftotext().isEmpty())
    QSKIP("pdftotext is not installed (scripts/install-deps installs poppler-utils)");
  RoutingFrame frame;
  // Main chart labels of one digit, deviation labels such as -0.005: the
  // deviations chart needs the wider margin.
  const std::vector<std::string> points = {"1 2.21 0.004 A", "2 3.39 0.004 A", "3 4.61 0.004 A",
                                           "4 5.79 0.004 A", "5 7.01 0.004 A", "6 8.19 0.004 A"};
  auto plotter = plotterWithFit(frame, 1, points);
  QVERIFY(plotter);
  frame.marks(true, true, true);
  frame.pdf.setPageSize(QPageSize(QPageSize::A4));
  frame.pdf.setPageOrientation(QPageLayout::Portrait);
  const QString pdf = dir_->filePath(QStringLiteral("negative.pdf"));
  dialogs_->printTo = pdf;
  plotter->PrintCharts();

  // ORVALLE_KEEP_PRINT names a file to keep the page in, for a look at it.
  if (const QString keep = qEnvironmentVariable("ORVALLE_KEEP_PRINT"); !keep.isEmpty()) {
    QFile::remove(keep);
    QFile::copy(pdf, keep);
  }
  const pdfwords words = readWords(pdf);
  const word *devTitle = firstWord(words, QStringLiteral("Deviations"));
  const word *fitName = firstWord(words, QStringLiteral("Fitline1"));
  QVERIFY(devTitle && fitName);
  const double left = frame.pdf.pageLayout().paintRect(QPageLayout::Point).left();
  QStringList negative, cut;
  static const QRegularExpression number(QStringLiteral("^-?[0-9]*[.]?[0-9]+$"));
  for (const word &w : words.words) {
    if (w.page != 1 || w.yMin < devTitle->yMax || w.yMin >= fitName->yMin ||
        !number.match(w.text).hasMatch())
      continue;
    if (w.text.startsWith(QLatin1Char('-')))
      negative << w.text;
    if (w.text.startsWith(QLatin1Char('.')) || w.xMin < left - 0.5)
      cut << QStringLiteral("%1 at %2").arg(w.text).arg(w.xMin);
  }
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
  QVERIFY2(!negative.isEmpty(), qPrintable(words.text()));
}

void PrintingTest::fontsAfterThePrint() {
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  Chart *mc = plotter->MChart;
  Chart *dc = plotter->DevChart;
  const int label = mc->xAxis->tickLabelFont().pointSize();
  const int title = mc->title()->font().pointSize();
  const int devTitle = dc->title()->font().pointSize();
  dialogs_->printTo = dir_->filePath(QStringLiteral("fonts.pdf"));
  plotter->PrintCharts();

  // The main chart keeps its page fonts until the font timer's next tick ...
  QCOMPARE(mc->xAxis->tickLabelFont().pointSize(), label + 3);
  QCOMPARE(mc->yAxis->labelFont().pointSize(), mc->xAxis->labelFont().pointSize());
  QCOMPARE(mc->title()->font().pointSize(), label + 3 + 6);
  // ... the deviations chart has the main chart's label sizes and its own
  // title size back; Printing is over.
  QCOMPARE(dc->xAxis->tickLabelFont().pointSize(), label + 3);
  QCOMPARE(dc->yAxis->tickLabelFont().pointSize(), label + 3);
  QCOMPARE(dc->title()->font().pointSize(), devTitle);
  QVERIFY(!plotter->Printing);

  plotter->RestoreChartFonts();
  plotter->UpdateFrameCommands();
  QCOMPARE(mc->xAxis->tickLabelFont().pointSize(), label);
  QCOMPARE(mc->title()->font().pointSize(), title);
  QCOMPARE(dc->xAxis->tickLabelFont().pointSize(), label);
  QCOMPARE(dc->title()->font().pointSize(), title - 2);
}

void PrintingTest::cancelledOrRefusedPrint() {
  RoutingFrame frame;
  auto plotter = plotterWithFit(frame);
  QVERIFY(plotter);
  const std::size_t logged = frame.log.size();
  const int label = plotter->MChart->xAxis->tickLabelFont().pointSize();

  // Cancelled: nothing changes, nothing is logged.
  dialogs_->printAnswer = false;
  plotter->PrintCharts();
  QCOMPARE(dialogs_->prints, 1);
  QCOMPARE(frame.log.size(), logged);
  QCOMPARE(plotter->MChart->xAxis->tickLabelFont().pointSize(), label);

  // A file the printer cannot open: an error entry, no success entry, and
  // the plotter is no longer printing.
  dialogs_->printAnswer = true;
  dialogs_->printTo = dir_->filePath(QStringLiteral("missing/folder/out.pdf"));
  plotter->PrintCharts();
  QCOMPARE(frame.log.size(), logged + 1);
  QCOMPARE(frame.log.back().error, true);
  QVERIFY(!frame.log.back().text.endsWith(QStringLiteral(" has been sent to the printer")));
  QVERIFY(!plotter->Printing);

  // Nothing marked: the error entry and no dialog.
  frame.marks(false, false, false);
  plotter->PrintCharts();
  QCOMPARE(dialogs_->prints, 2);
  QCOMPARE(frame.log.back().text, kNothing);
  QCOMPARE(frame.log.back().error, true);
}

QTEST_MAIN(PrintingTest)
#include "printing_test.moc"
