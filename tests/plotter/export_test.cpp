// Export of a plotter: the gnuplot script and data file line by line, the
// bitmap and JPEG pictures of both charts, the lining up of the two axes,
// the names the dialog gives, and what is logged when a file cannot be
// written.
// Covers, with tests/frame/pad/jotpad_test.cpp, frame/dialogs.cpp: the
// real save dialog and question box.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImageReader>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "engine/information.h"
#include "plotter/charts.h"
#include "plotter/export.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

const QString kCaption = QStringLiteral("Chart Compiled From - run1.txt");

// The example plotter: title run1, one dataset "Dataset A" with the points
// (1, 2, 0.1) and (2, 4.1, 0.2).
std::unique_ptr<TFit> examplePlotter(FakeFrame &frame) {
  return makePlotter(frame, {"1 2 0.1 A", "2 4.1 0.2 A"}, "/home/u/run1.txt");
}

struct jpegread {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<jpegread *>(cinfo->err)->jump, 1);
}

// Decodes JPEG bytes with libjpeg into *out; false when libjpeg refuses
// them. No object with a destructor lives in this function, which libjpeg
// may leave by longjmp.
bool decodeJpeg(const QByteArray &bytes, QImage *out) {
  jpeg_decompress_struct cinfo{};
  jpegread err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                QImage::Format_RGB888);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->scanLine(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

QImage readJpeg(const QByteArray &bytes) {
  QImage img;
  if (!decodeJpeg(bytes, &img))
    return {};
  return img;
}

// Draws a vertical line of the given colour from y0 to y1 at x.
void vline(QImage &img, int x, int y0, int y1, QRgb c = qRgb(0, 0, 0)) {
  for (int y = y0; y < y1; ++y)
    img.setPixel(x, y, c);
}

} // namespace

class ExportTest : public QObject {
  Q_OBJECT
private slots:
  void init();
  void cleanup();

  void exampleScriptAndDataLineByLine();
  void plotLines_data();
  void plotLines();
  void decimalCommaLocaleWritesPoints();
  void gnuplotReadsTheScript();
  void dialogTitleFiltersAndCancel();
  void extensionOfTheSelectedFilter_data();
  void extensionOfTheSelectedFilter();
  void overwriteQuestionNamesTheFileWithItsExtension_data();
  void overwriteQuestionNamesTheFileWithItsExtension();
  void unwritableFileLogsTheReasonOnly_data();
  void unwritableFileLogsTheReasonOnly();

  void alignAxesMovesTheLeftEdge_data();
  void alignAxesMovesTheLeftEdge();
  void alignAxesTakesTheRightmostFirstChange();
  void bitmapIsBothChartsAtScreenSize();
  void jpegReadsBackAtTheChartsSize();
  void pictureLinesUpMisalignedAxes();

private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<OutputDialogs> dialogs_;
  QString path(const QString &name) const { return dir_->filePath(name); }
};

void ExportTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  dialogs_ = std::make_unique<OutputDialogs>();
}

void ExportTest::cleanup() {
  dialogs_.reset();
  dir_.reset();
  setdecimalseparator('.');
  QLocale::setDefault(QLocale::c());
}

void ExportTest::exampleScriptAndDataLineByLine() {
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  showCharts(*plotter);
  bfit *fit = addFit<lineronlym>(*plotter, 0, "Fit 1");
  fit->par[0] = 2.0; // y = m x with m = 2
  fit->err[0] = 0.05;

  const std::size_t logged = frame.log.size();
  dialogs_->saveAnswer = path(QStringLiteral("run1.gnu"));
  dialogs_->selectedFilter = QStringLiteral("Gnu Plot File (*.gnu)");
  SendCommand(plotter.get(), UM_EXPORT);

  const QString data = path(QStringLiteral("run1.gdt"));
  QCOMPARE(readAll(data),
           QByteArray("# Data Set Dataset A\r\n1\t2\t0.1\r\n2\t4.1\t0.2\r\n\r\n\r\n"));

  const QStringList lines = crlfLines(readAll(path(QStringLiteral("run1.gnu"))));
  // The opening comment is the information text, line for line.
  plotter->CopyInformation();
  const QStringList info = QGuiApplication::clipboard()->text().split(QStringLiteral("\r\n"));
  QVERIFY(info.size() >= 4);
  QCOMPARE(info.first(), QStringLiteral("Fit 1"));
  QVERIFY(lines.size() > info.size());
  for (int k = 0; k < info.size(); ++k)
    QCOMPARE(lines[k], QStringLiteral("# ") + info[k]);

  const QString P = QStringLiteral("\"") + data + QStringLiteral("\"");
  const QStringList expected = {
      QStringLiteral("# Gnuplot Script exported by Vantrel 0.9 beta"),
      QStringLiteral("set grid"),
      QStringLiteral("set multiplot"),
      QStringLiteral("set size 1,0.7"),
      QStringLiteral("set origin 0.0,0.3"),
      QStringLiteral("set linestyle 2 lt 1 pt 2"),
      QStringLiteral("set linestyle 1 lt 1 lw 3"),
      QStringLiteral("set title \"run1\" "),
      QStringLiteral("set xlabel \" \" "),
      QStringLiteral("set ylabel \" \" "),
      QStringLiteral("y0(x) = 2 *x"),
      QStringLiteral("plot ") + P +
          QStringLiteral(" index 0:0 using 1:2:3 ti \"\" with yerrorbars linestyle 2 , y0(x)  ti "
                         "\"\" with lines linestyle 1 "),
      QStringLiteral("set origin 0.0,0.0"),
      QStringLiteral("set size 1,0.3"),
      QStringLiteral("g(x) = 0"),
      QStringLiteral("set title \"Deviations in the Ordinates\" "),
      QStringLiteral("set xlabel \"\""),
      QStringLiteral("set ylabel \" \""),
      QStringLiteral("plot g(x) ti \"\" with lines linestyle 1 , ") + P +
          QStringLiteral(" index 0:0 using 1:($2-y0($1)):3 ti \"\" with yerrorbars linestyle 2"),
      QStringLiteral("set nomultiplot"),
  };
  QCOMPARE(lines.mid(info.size()), expected);

  // One normal entry, after both files were written.
  QCOMPARE(frame.log.size(), logged + 1);
  QCOMPARE(frame.log.back().error, false);
  QCOMPARE(frame.log.back().text, QStringLiteral("Exported ") + kCaption +
                                      QStringLiteral("Chart as a gnu plot script to ") +
                                      path(QStringLiteral("run1.gnu")));
}

void ExportTest::plotLines_data() {
  QTest::addColumn<int>("tags");
  QTest::addColumn<int>("fitOn"); // dataset index of the one fit, -1 for none
  QTest::addColumn<QString>("mainItems");
  QTest::addColumn<QString>("devItems");
  const QString d0 = QStringLiteral("$P index 0:0 using 1:2:3 ti \"\" with yerrorbars linestyle 2");
  const QString d1 = QStringLiteral("$P index 1:1 using 1:2:3 ti \"\" with yerrorbars linestyle 2");
  const QString y0 = QStringLiteral("y0(x)  ti \"\" with lines linestyle 1 ");
  QTest::newRow("two datasets, fit on the second")
      << 2 << 1 << d0 + " , " + d1 + " , " + y0
      << QStringLiteral(
             " , $P index 1:1 using 1:($2-y0($1)):3 ti \"\" with yerrorbars linestyle 2");
  QTest::newRow("two datasets, fit on the first")
      << 2 << 0 << d0 + " , " + d1 + " , " + y0
      << QStringLiteral(
             " , $P index 0:0 using 1:($2-y0($1)):3 ti \"\" with yerrorbars linestyle 2");
  QTest::newRow("datasets, no fits") << 2 << -1 << d0 + " , " + d1 << QString();
}

void ExportTest::plotLines() {
  QFETCH(int, tags);
  QFETCH(int, fitOn);
  QFETCH(QString, mainItems);
  QFETCH(QString, devItems);
  FakeFrame frame;
  auto plotter = makePlotter(frame, taggedLines(tags), "/data/two.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  if (fitOn >= 0)
    addFit<polynom>(*plotter, fitOn, "line", 1);

  const QString script = path(QStringLiteral("two.gnu"));
  plotter->ExportGnuplot(script);
  const QString P = QStringLiteral("\"") + path(QStringLiteral("two.gdt")) + QStringLiteral("\"");
  const QStringList lines = crlfLines(readAll(script));
  const QStringList plots = lines.filter(QRegularExpression(QStringLiteral("^plot ")));
  QCOMPARE(plots.size(), 2);
  QCOMPARE(plots[0], QStringLiteral("plot ") + QString(mainItems).replace("$P", P));
  QCOMPARE(plots[1], QStringLiteral("plot g(x) ti \"\" with lines linestyle 1") +
                         QString(devItems).replace("$P", P));
  // One definition line per fit, right before the main plot line.
  const int main = static_cast<int>(lines.indexOf(plots[0]));
  QCOMPARE(lines[main - 1].startsWith(QStringLiteral("y0(x) = ")), fitOn >= 0);
  QCOMPARE(lines.last(), QStringLiteral("set nomultiplot"));
  // Two blocks in the data file, in the order of the datasets.
  const QStringList data = crlfLines(readAll(path(QStringLiteral("two.gdt"))));
  QCOMPARE(data.count(QStringLiteral("# Data Set Dataset a")), 1);
  QCOMPARE(data.indexOf(QStringLiteral("# Data Set Dataset b")), 6);
}

void ExportTest::decimalCommaLocaleWritesPoints() {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  setdecimalseparator(',');
  FakeFrame frame;
  auto plotter =
      makePlotter(frame, {"1.5 2.25 0.1 A", "2.5 4.1 0.2 A", "3.5 6.5 0.3 A"}, "/data/komma.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  bfit *fit = addFit<lineronlym>(*plotter, 0, "Fit 1");
  fit->par[0] = 2.5;

  // The information the user sees uses the locale's comma ...
  plotter->CopyInformation();
  const QStringList shown = QGuiApplication::clipboard()->text().split(QStringLiteral("\r\n"));
  QVERIFY(shown.filter(QStringLiteral("ChiSqu =")).first().contains(QLatin1Char(',')));

  // ... the files use points throughout.
  const QString script = path(QStringLiteral("komma.gnu"));
  plotter->ExportGnuplot(script);
  const QByteArray data = readAll(path(QStringLiteral("komma.gdt")));
  QVERIFY(data.contains("1.5\t2.25\t0.1\r\n"));
  QVERIFY(!data.contains(','));
  const QStringList lines = crlfLines(readAll(script));
  QVERIFY(lines.contains(QStringLiteral("y0(x) = 2.5 *x")));
  const QStringList comments = lines.filter(QRegularExpression(QStringLiteral("^# ")));
  QVERIFY(comments.size() > 3);
  for (const QString &c : comments)
    QVERIFY2(!c.contains(QRegularExpression(QStringLiteral("\\d,\\d"))), qPrintable(c));
  // The engine's setting is left as it was.
  QCOMPARE(decimalseparator(), ',');
}

void ExportTest::gnuplotReadsTheScript() {
  const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
  if (gnuplot.isEmpty())
    QSKIP("gnuplot is not installed (scripts/install-deps installs gnuplot-nox)");
  FakeFrame frame;
  auto plotter = makePlotter(frame, taggedLines(2), "/data/two.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  addFit<polynom>(*plotter, 1, "line", 1);
  plotter->setChartTitle(QStringLiteral("Title, with \"quotes\" and `backquotes`"));
  const QString script = path(QStringLiteral("g.gnu"));
  plotter->ExportGnuplot(script);

  QProcess run;
  run.setWorkingDirectory(dir_->path());
  run.start(gnuplot, {QStringLiteral("-e"), QStringLiteral("set terminal dumb"), script});
  QVERIFY(run.waitForFinished(30000));
  QCOMPARE(run.exitCode(), 0);
  const QString err = QString::fromLocal8Bit(run.readAllStandardError());
  QVERIFY2(err.trimmed().isEmpty(), qPrintable(err));
  QVERIFY(QString::fromLocal8Bit(run.readAllStandardOutput())
              .contains(QStringLiteral("Deviations in the Ordinates")));
}

void ExportTest::dialogTitleFiltersAndCancel() {
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  const std::size_t logged = frame.log.size();
  dialogs_->saveAnswer.clear(); // cancelled
  dialogs_->selectedFilter = QStringLiteral("Bitmap (*.bmp)");
  plotter->ExportChart();
  QCOMPARE(dialogs_->saveTitles, QStringList{QStringLiteral("Export As")});
  QCOMPARE(dialogs_->saveFilters.first().split(QStringLiteral(";;")),
           (QStringList{QStringLiteral("Bitmap (*.bmp)"), QStringLiteral("JPEG (*.jpeg)"),
                        QStringLiteral("Gnu Plot File (*.gnu)"), QStringLiteral("PNG (*.png)"),
                        QStringLiteral("SVG (*.svg)"), QStringLiteral("PDF (*.pdf)")}));
  QCOMPARE(frame.log.size(), logged);
  QVERIFY(QDir(dir_->path()).isEmpty());

  // A filter the export does not know does nothing either.
  dialogs_->saveAnswer = path(QStringLiteral("x.gnu"));
  dialogs_->selectedFilter = QStringLiteral("All files (*)");
  plotter->ExportChart();
  QCOMPARE(frame.log.size(), logged);
  QVERIFY(QDir(dir_->path()).isEmpty());
}

void ExportTest::extensionOfTheSelectedFilter_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QString>("written");
  QTest::newRow("bitmap") << "pic"
                          << "Bitmap (*.bmp)"
                          << "pic.bmp";
  QTest::newRow("jpeg") << "pic"
                        << "JPEG (*.jpeg)"
                        << "pic.jpeg";
  QTest::newRow("gnuplot") << "plot"
                           << "Gnu Plot File (*.gnu)"
                           << "plot.gnu";
  QTest::newRow("own extension kept") << "pic.png"
                                      << "Bitmap (*.bmp)"
                                      << "pic.png";
}

void ExportTest::extensionOfTheSelectedFilter() {
  QFETCH(QString, typed);
  QFETCH(QString, filter);
  QFETCH(QString, written);
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  showCharts(*plotter);
  dialogs_->saveAnswer = path(typed);
  dialogs_->selectedFilter = filter;
  plotter->ExportChart();
  QVERIFY(QFile::exists(path(written)));
  QVERIFY(frame.log.back().text.endsWith(QStringLiteral(" to ") + path(written)));
  QCOMPARE(frame.log.back().error, false);
}

void ExportTest::overwriteQuestionNamesTheFileWithItsExtension_data() {
  QTest::addColumn<int>("filter"); // its place in the dialog's list
  QTest::addColumn<QString>("existing");
  QTest::addColumn<bool>("replace");
  QTest::newRow("gnuplot, kept") << 2 << "plot.gnu" << false;
  QTest::newRow("gnuplot, replaced") << 2 << "plot.gnu" << true;
  QTest::newRow("bitmap, kept") << 0 << "plot.bmp" << false;
  QTest::newRow("jpeg, kept") << 1 << "plot.jpeg" << false;
}

// The desktop's own save dialog: a name typed without an extension gets
// the filter's before the overwrite question, which names the file that
// would be replaced; Enter keeps it.
void ExportTest::overwriteQuestionNamesTheFileWithItsExtension() {
  QFETCH(int, filter);
  QFETCH(QString, existing);
  QFETCH(bool, replace);
  FakeFrame frame;
  auto plotter = makePlotter(frame, {"1 2 0.1 A", "2 4.1 0.2 A"},
                             path(QStringLiteral("run1.txt")).toStdString());
  QVERIFY(plotter);
  showCharts(*plotter);
  QFile old(path(existing));
  QVERIFY(old.open(QIODevice::WriteOnly));
  old.write("keep me");
  old.close();

  Dialogs *fake = Dialogs::install(nullptr);
  QString asked;
  int step = 0;
  QTimer user;
  user.setInterval(30);
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
      asked = box->text();
      if (replace)
        box->button(QMessageBox::Yes)->click();
      else
        QTest::keyClick(box, Qt::Key_Return);
      step = 2;
      return;
    }
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    if (!dialog)
      return;
    if (step == 0) {
      auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
      auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
      QVERIFY(types && name);
      types->setFocus();
      QTest::keyClick(types, Qt::Key_Home);
      for (int k = 0; k < filter; ++k)
        QTest::keyClick(types, Qt::Key_Down);
      name->setFocus();
      name->clear();
      QTest::keyClicks(name, QStringLiteral("plot"));
      step = 1;
      // Pressed from a handler of its own: the question it brings up runs
      // its own event loop, in which this timer must fire again.
      QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
    } else if (step == 2) {
      dialog->reject(); // the user gives up after keeping the file
      step = 3;
    }
  });
  user.start();
  plotter->ExportChart();
  user.stop();
  Dialogs::install(fake);

  QVERIFY2(asked.contains(existing), qPrintable(asked));
  QVERIFY(!QFile::exists(path(QStringLiteral("plot"))));
  if (replace) {
    QVERIFY(readAll(path(existing)) != QByteArray("keep me"));
    QVERIFY(frame.log.back().text.endsWith(QStringLiteral(" to ") + path(existing)));
  } else {
    QCOMPARE(readAll(path(existing)), QByteArray("keep me"));
    QVERIFY(frame.log.empty());
  }
}

void ExportTest::unwritableFileLogsTheReasonOnly_data() {
  QTest::addColumn<QString>("filter");
  QTest::newRow("bitmap") << "Bitmap (*.bmp)";
  QTest::newRow("jpeg") << "JPEG (*.jpeg)";
  QTest::newRow("gnuplot") << "Gnu Plot File (*.gnu)";
}

void ExportTest::unwritableFileLogsTheReasonOnly() {
  QFETCH(QString, filter);
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  showCharts(*plotter);
  const std::size_t logged = frame.log.size();
  dialogs_->saveAnswer = path(QStringLiteral("missing/folder/out"));
  dialogs_->selectedFilter = filter;
  plotter->ExportChart();
  QCOMPARE(frame.log.size(), logged + 1);
  QCOMPARE(frame.log.back().error, true);
  QVERIFY2(frame.log.back().text.contains(QStringLiteral("No such file or directory")),
           qPrintable(frame.log.back().text));
  QVERIFY(!frame.log.back().text.startsWith(QStringLiteral("Exported")));
}

void ExportTest::alignAxesMovesTheLeftEdge_data() {
  QTest::addColumn<int>("mainAxis");
  QTest::addColumn<int>("devAxis");
  QTest::addColumn<int>("mainLeft");
  QTest::addColumn<int>("devLeft");
  QTest::newRow("deviations axis further left") << 40 << 25 << 0 << 15;
  QTest::newRow("main axis further left") << 30 << 52 << 22 << 0;
  QTest::newRow("lined up") << 33 << 33 << 0 << 0;
}

void ExportTest::alignAxesMovesTheLeftEdge() {
  QFETCH(int, mainAxis);
  QFETCH(int, devAxis);
  QFETCH(int, mainLeft);
  QFETCH(int, devLeft);
  QImage img(200, 300, QImage::Format_RGB32);
  img.fill(Qt::white);
  vline(img, mainAxis, 10, 190);
  vline(img, devAxis, 210, 290);
  QRect m(0, 0, 200, 200), d(0, 200, 200, 100);
  AlignAxes(m, d, img);
  QCOMPARE(m, QRect(mainLeft, 0, 200 - mainLeft, 200));
  QCOMPARE(d, QRect(devLeft, 200, 200 - devLeft, 100));
}

void ExportTest::alignAxesTakesTheRightmostFirstChange() {
  // Tick labels left of the axis on some rows, a curve right of it, and a
  // mark outside the middle half that must be ignored.
  QImage img(300, 200, QImage::Format_RGB32);
  img.fill(Qt::white);
  vline(img, 60, 0, 200);
  for (int x = 10; x < 20; ++x)
    img.setPixel(x, 100, qRgb(0, 0, 0)); // a label glyph
  for (int x = 61; x < 300; ++x)
    img.setPixel(x, 90, qRgb(255, 0, 0));  // a curve from the axis
  vline(img, 150, 0, 40, qRgb(0, 0, 255)); // above the middle half
  QCOMPARE(AxisPosition(QRect(0, 0, 300, 200), img), 60);
  // Only pixels inside the rectangle count.
  QCOMPARE(AxisPosition(QRect(70, 0, 230, 200), img), 0);
  // A blank rectangle has no axis.
  QImage blank(100, 100, QImage::Format_RGB32);
  blank.fill(Qt::white);
  QCOMPARE(AxisPosition(QRect(0, 0, 100, 100), blank), 0);
}

void ExportTest::bitmapIsBothChartsAtScreenSize() {
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  showCharts(*plotter, 700, 600);
  dialogs_->saveAnswer = path(QStringLiteral("run1.bmp"));
  dialogs_->selectedFilter = QStringLiteral("Bitmap (*.bmp)");
  plotter->ExportChart();

  QImageReader reader(path(QStringLiteral("run1.bmp")));
  QCOMPARE(reader.format(), QByteArray("bmp"));
  const QImage img = reader.read();
  QVERIFY(!img.isNull());
  QCOMPARE(img.width(), plotter->MChart->width());
  QCOMPARE(img.height(), plotter->MChart->height() + plotter->DevChart->height());
  QCOMPARE(frame.log.back().text, QStringLiteral("Exported ") + kCaption +
                                      QStringLiteral("Chart as a bitmap to ") +
                                      path(QStringLiteral("run1.bmp")));
  QCOMPARE(frame.log.back().error, false);
  // The deviations chart's title stands in the lower part of the picture.
  QCOMPARE(img.pixel(1, 1), qRgb(255, 255, 255));
}

void ExportTest::jpegReadsBackAtTheChartsSize() {
  FakeFrame frame;
  auto plotter = examplePlotter(frame);
  QVERIFY(plotter);
  showCharts(*plotter, 640, 560);
  addFit<lineronlym>(*plotter, 0, "Fit 1");
  dialogs_->saveAnswer = path(QStringLiteral("run1.jpeg"));
  dialogs_->selectedFilter = QStringLiteral("JPEG (*.jpeg)");
  plotter->ExportChart();

  const QByteArray bytes = readAll(path(QStringLiteral("run1.jpeg")));
  QVERIFY(bytes.startsWith("\xFF\xD8")); // SOI
  const QImage img = readJpeg(bytes);
  QVERIFY(!img.isNull());
  QCOMPARE(img.width(), plotter->MChart->width());
  QCOMPARE(img.height(), plotter->MChart->height() + plotter->DevChart->height());
  // The picture is the charts' (compared within JPEG's losses).
  const QImage exact = ChartsPicture(*plotter).convertToFormat(QImage::Format_RGB888);
  long diff = 0;
  for (int y = 0; y < img.height(); y += 7)
    for (int x = 0; x < img.width(); x += 7)
      diff += std::abs(qGray(img.pixel(x, y)) - qGray(exact.pixel(x, y)));
  const long samples = (img.height() / 7 + 1) * (img.width() / 7 + 1);
  QVERIFY2(diff / samples < 6, qPrintable(QString::number(diff / samples)));
  QCOMPARE(frame.log.back().text, QStringLiteral("Exported ") + kCaption +
                                      QStringLiteral("Chart as a jpg to ") +
                                      path(QStringLiteral("run1.jpeg")));
}

void ExportTest::pictureLinesUpMisalignedAxes() {
  FakeFrame frame;
  auto plotter =
      makePlotter(frame, {"1 20000 100 A", "2 41000 200 A", "3 59000 300 A"}, "/data/big.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  // Put the deviations chart's axis well right of the main chart's.
  QCPAxisRect *r = plotter->DevChart->axisRect();
  r->setAutoMargins(QCP::msTop | QCP::msRight | QCP::msBottom);
  r->setMargins(QMargins(plotter->MChart->axisRect()->left() + 37, r->margins().top(),
                         r->margins().right(), r->margins().bottom()));
  plotter->DevChart->replot();

  const int W = plotter->MChart->width();
  const int Hm = plotter->MChart->height();
  const int Hd = plotter->DevChart->height();
  // Drawn as they stand, the axes are 37 pixels apart ...
  QImage raw(W, Hm + Hd, QImage::Format_RGB32);
  raw.fill(Qt::white);
  {
    QCPPainter painter(&raw);
    DrawChart(*plotter->MChart, painter, QRect(0, 0, W, Hm));
    DrawChart(*plotter->DevChart, painter, QRect(0, Hm, W, Hd));
  }
  QCOMPARE(AxisPosition(QRect(0, Hm, W, Hd), raw) - AxisPosition(QRect(0, 0, W, Hm), raw), 37);
  // ... in the export picture they are one.
  const QImage img = ChartsPicture(*plotter);
  const int a = AxisPosition(QRect(0, 0, W, Hm), img);
  QVERIFY(a > 0);
  QCOMPARE(AxisPosition(QRect(0, Hm, W, plotter->DevChart->height()), img), a);
}

QTEST_MAIN(ExportTest)
#include "export_test.moc"
