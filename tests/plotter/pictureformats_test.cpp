// The picture formats beyond bitmap and JPEG: PNG, SVG and PDF files of
// both charts, each read back by an independent reader at the size of the
// charts on the screen, showing the same picture with the axes lined up.
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#include "plotter/charts.h"
#include "plotter/export.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

const QString kCaption = QStringLiteral("Chart Compiled From - run1.txt");

std::unique_ptr<TFit> fittedPlotter(FakeFrame &frame) {
  auto plotter = makePlotter(frame, {"1 2 0.1 A", "2 4.1 0.2 A", "3 5.8 0.2 A", "4 8.3 0.3 A"},
                             "/home/u/run1.txt");
  if (plotter) {
    showCharts(*plotter, 700, 600);
    addFit<lineronlym>(*plotter, 0, "Fit 1");
  }
  return plotter;
}

// Mean difference of grey levels over a grid of samples.
double meanGreyDifference(const QImage &a, const QImage &b) {
  long diff = 0;
  long samples = 0;
  for (int y = 0; y < a.height(); y += 5)
    for (int x = 0; x < a.width(); x += 5, ++samples)
      diff += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
  return samples ? double(diff) / double(samples) : 255.0;
}

// The rendered picture shows the charts' picture: close to the bitmap
// export (vectors are smoothed differently) and with both vertical axes at
// the same column.
void looksLikeTheCharts(const QImage &rendered, TFit &plotter) {
  const QImage exact = ChartsPicture(plotter);
  QCOMPARE(rendered.size(), exact.size());
  const double diff = meanGreyDifference(rendered, exact);
  QVERIFY2(diff < 8, qPrintable(QString::number(diff)));
  const int hm = plotter.MChart->height();
  const QRect main(0, 0, rendered.width(), hm);
  const QRect dev(0, hm, rendered.width(), rendered.height() - hm);
  QVERIFY(AxisPosition(main, rendered) > 0);
  QVERIFY(std::abs(AxisPosition(main, rendered) - AxisPosition(dev, rendered)) <= 1);
}

} // namespace

class PictureFormatsTest : public QObject {
  Q_OBJECT
private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<OutputDialogs>();
  }
  void cleanup() {
    dialogs_.reset();
    dir_.reset();
  }

  void filtersFollowBitmapAndJpeg();
  void pngIsThePictureExactly();
  void svgRendersAtTheChartsSize();
  void pdfIsOnePageOfTheChartsSize();
  void everyPictureRowWritesItsOwnFormat();

private:
  // Exports through the dialog with the given filter; the log's last line
  // must name the file after it was written.
  QString exportAs(TFit &plotter, FakeFrame &frame, const QString &name, const QString &filter,
                   const QString &as) {
    const QString file = dir_->filePath(name);
    dialogs_->saveAnswer = file;
    dialogs_->selectedFilter = filter;
    plotter.ExportChart();
    if (!QFile::exists(file) || frame.log.empty())
      return {};
    if (frame.log.back().text != QStringLiteral("Exported ") + kCaption + as + file ||
        frame.log.back().error)
      return {};
    return file;
  }
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<OutputDialogs> dialogs_;
};

void PictureFormatsTest::filtersFollowBitmapAndJpeg() {
  const QStringList f = ExportFilters();
  QCOMPARE(f.mid(0, 3),
           (QStringList{QStringLiteral("Bitmap (*.bmp)"), QStringLiteral("JPEG (*.jpeg)"),
                        QStringLiteral("Gnu Plot File (*.gnu)")}));
  QCOMPARE(f.mid(3), (QStringList{QStringLiteral("PNG (*.png)"), QStringLiteral("SVG (*.svg)"),
                                  QStringLiteral("PDF (*.pdf)")}));
  // A name typed without an extension gets the selected format's.
  QCOMPARE(ExportFileName(QStringLiteral("/t/pic"), ExportFilterIndex(f[3])),
           QStringLiteral("/t/pic.png"));
  QCOMPARE(ExportFileName(QStringLiteral("/t/pic"), ExportFilterIndex(f[4])),
           QStringLiteral("/t/pic.svg"));
  QCOMPARE(ExportFileName(QStringLiteral("/t/pic"), ExportFilterIndex(f[5])),
           QStringLiteral("/t/pic.pdf"));
}

void PictureFormatsTest::pngIsThePictureExactly() {
  FakeFrame frame;
  auto plotter = fittedPlotter(frame);
  QVERIFY(plotter);
  const QString file =
      exportAs(*plotter, frame, QStringLiteral("run1.png"), QStringLiteral("PNG (*.png)"),
               QStringLiteral("Chart as a png to "));
  QVERIFY(!file.isEmpty());
  QImageReader reader(file);
  QCOMPARE(reader.format(), QByteArray("png"));
  const QImage img = reader.read().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(img.width(), plotter->MChart->width());
  QCOMPARE(img.height(), plotter->MChart->height() + plotter->DevChart->height());
  // Lossless: pixel for pixel the bitmap export's picture.
  QCOMPARE(img, ChartsPicture(*plotter).convertToFormat(QImage::Format_RGB32));
}

void PictureFormatsTest::svgRendersAtTheChartsSize() {
  FakeFrame frame;
  auto plotter = fittedPlotter(frame);
  QVERIFY(plotter);
  const QString file =
      exportAs(*plotter, frame, QStringLiteral("run1.svg"), QStringLiteral("SVG (*.svg)"),
               QStringLiteral("Chart as an svg to "));
  QVERIFY(!file.isEmpty());
  QSvgRenderer svg(file);
  QVERIFY(svg.isValid());
  const QSize size(plotter->MChart->width(),
                   plotter->MChart->height() + plotter->DevChart->height());
  QCOMPARE(svg.viewBox(), QRect(QPoint(0, 0), size));
  // Vectors, not an embedded bitmap.
  const QByteArray text = readAll(file);
  QVERIFY(!text.contains("<image"));
  QVERIFY(text.contains("<path") || text.contains("<polyline"));

  QImage rendered(size, QImage::Format_RGB32);
  rendered.fill(Qt::white);
  QPainter painter(&rendered);
  svg.render(&painter);
  painter.end();
  looksLikeTheCharts(rendered, *plotter);
}

void PictureFormatsTest::pdfIsOnePageOfTheChartsSize() {
  const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  if (pdfinfo.isEmpty() || pdftoppm.isEmpty())
    QSKIP("poppler-utils (pdfinfo, pdftoppm) are not installed");
  FakeFrame frame;
  auto plotter = fittedPlotter(frame);
  QVERIFY(plotter);
  const QString file =
      exportAs(*plotter, frame, QStringLiteral("run1.pdf"), QStringLiteral("PDF (*.pdf)"),
               QStringLiteral("Chart as a pdf to "));
  QVERIFY(!file.isEmpty());
  QVERIFY(readAll(file).startsWith("%PDF-"));

  QProcess info;
  info.start(pdfinfo, {file});
  QVERIFY(info.waitForFinished(30000));
  const QString out = QString::fromLocal8Bit(info.readAllStandardOutput());
  QVERIFY2(out.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))), qPrintable(out));
  const int w = plotter->MChart->width();
  const int h = plotter->MChart->height() + plotter->DevChart->height();
  const auto size =
      QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")).match(out);
  QVERIFY2(size.hasMatch(), qPrintable(out));
  QCOMPARE(qRound(size.captured(1).toDouble()), w);
  QCOMPARE(qRound(size.captured(2).toDouble()), h);

  // Rendered at 72 dpi, a point is a pixel: the charts' picture again.
  QProcess render;
  render.start(pdftoppm,
               {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"),
                QStringLiteral("-singlefile"), file, dir_->filePath(QStringLiteral("page"))});
  QVERIFY(render.waitForFinished(60000));
  const QImage page(dir_->filePath(QStringLiteral("page.png")));
  QVERIFY(!page.isNull());
  looksLikeTheCharts(page.convertToFormat(QImage::Format_RGB32), *plotter);
}

// Each picture row, chosen through the dialog, writes a file that begins
// with its own format's signature and is logged with its own words; a
// name's suffix finds its row whatever its case.
void PictureFormatsTest::everyPictureRowWritesItsOwnFormat() {
  struct expected {
    exportkind kind;
    QByteArray start; // the first bytes, or text found near the start for SVG
    QString as;
  };
  const expected table[] = {
      {exportkind::bitmap, QByteArray("BM"), QStringLiteral("Chart as a bitmap to ")},
      {exportkind::jpeg, QByteArray("\xFF\xD8\xFF"), QStringLiteral("Chart as a jpg to ")},
      {exportkind::png, QByteArray("\x89PNG\r\n\x1A\n"), QStringLiteral("Chart as a png to ")},
      {exportkind::svg, QByteArray("<svg"), QStringLiteral("Chart as an svg to ")},
      {exportkind::pdf, QByteArray("%PDF-"), QStringLiteral("Chart as a pdf to ")},
  };
  FakeFrame frame;
  auto plotter = fittedPlotter(frame);
  QVERIFY(plotter);
  int pictures = 0;
  for (const exportformat &row : ExportFormats()) {
    QVERIFY(QString::fromLatin1(row.filter)
                .endsWith(QStringLiteral("(*.") + QLatin1String(row.suffix) + QLatin1Char(')')));
    QCOMPARE(ExportFormatFor(QStringLiteral("/t/A.") + QString::fromLatin1(row.suffix).toUpper()),
             &row);
    if (!row.write)
      continue;
    ++pictures;
    const expected *e = nullptr;
    for (const expected &x : table)
      if (x.kind == row.kind)
        e = &x;
    QVERIFY2(e, row.filter);
    const QString file =
        exportAs(*plotter, frame, QStringLiteral("pic.") + QLatin1String(row.suffix),
                 QString::fromLatin1(row.filter), e->as);
    QVERIFY2(!file.isEmpty(), row.filter);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray head = in.read(4096);
    if (row.kind == exportkind::svg)
      QVERIFY(head.contains(e->start));
    else
      QVERIFY2(head.startsWith(e->start), row.filter);
    QFile::remove(file);
  }
  QCOMPARE(pictures, 5);
  QCOMPARE(ExportFormatFor(QStringLiteral("/t/notes.txt")), nullptr);
  QCOMPARE(ExportFormatOf(0), nullptr);
  QCOMPARE(ExportFormatOf(static_cast<int>(ExportFormats().size()) + 1), nullptr);
}

QTEST_MAIN(PictureFormatsTest)
#include "pictureformats_test.moc"
