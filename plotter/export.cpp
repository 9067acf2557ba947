// Export of a plotter's charts: a picture of both charts as a bitmap, JPEG
// or PNG file, the same picture drawn as vectors in an SVG or PDF file, or a
// gnuplot script with its data file.
#include "plotter/export.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QSvgGenerator>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "engine/gnuplotexport.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/errpointseries.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

// Writes bytes to a file through a temporary file that is renamed over it.
bool writeBytes(const QString &path, const QByteArray &bytes, QString *why) {
  std::string reason;
  if (writetextfile(path.toStdString(), std::string_view(bytes.constData(), bytes.size()), &reason))
    return true;
  *why = QString::fromStdString(reason);
  return false;
}

// --- libjpeg ---------------------------------------------------------------

// libjpeg reports a fatal error through error_exit, which must not return.
// It jumps back to the setjmp in compress(); no C++ object with a
// destructor lives between the two.
struct jpegerror {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<jpegerror *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void jpegNoOutput(j_common_ptr) {} // warnings are not shown

// One compression: the libjpeg object and the memory the encoded picture
// lands in, both released by the destructor.
class jpegcompressor {
public:
  jpegcompressor() {
    cinfo_.err = jpeg_std_error(&err_.mgr);
    err_.mgr.error_exit = jpegErrorExit;
    err_.mgr.output_message = jpegNoOutput;
    err_.message[0] = '\0';
  }
  ~jpegcompressor() {
    if (created_)
      jpeg_destroy_compress(&cinfo_);
    std::free(buffer_); // allocated by jpeg_mem_dest
  }
  jpegcompressor(const jpegcompressor &) = delete;
  jpegcompressor &operator=(const jpegcompressor &) = delete;

  // rows: the picture in 8-bit RGB, width * 3 bytes each.
  bool compress(const std::vector<JSAMPROW> &rows, int width, int height) {
    if (setjmp(err_.jump))
      return false;
    jpeg_create_compress(&cinfo_);
    created_ = true;
    jpeg_mem_dest(&cinfo_, &buffer_, &size_);
    cinfo_.image_width = static_cast<JDIMENSION>(width);
    cinfo_.image_height = static_cast<JDIMENSION>(height);
    cinfo_.input_components = 3;
    cinfo_.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo_);
    jpeg_start_compress(&cinfo_, TRUE);
    while (cinfo_.next_scanline < cinfo_.image_height) {
      JSAMPROW row = rows[cinfo_.next_scanline];
      jpeg_write_scanlines(&cinfo_, &row, 1);
    }
    jpeg_finish_compress(&cinfo_);
    return true;
  }

  const char *message() const { return err_.message; }
  QByteArray bytes() const {
    return QByteArray(reinterpret_cast<const char *>(buffer_), static_cast<qsizetype>(size_));
  }

private:
  jpeg_compress_struct cinfo_{};
  jpegerror err_{};
  unsigned char *buffer_ = nullptr;
  unsigned long size_ = 0;
  bool created_ = false;
};

// The fits in the order of Fits, each with its dataset's position.
gnuplotchart gnuplotChartOf(TFit &p) {
  gnuplotchart chart;
  p.Datasets.each([&](dataset *d) { chart.datasets.push_back(d); });
  p.Fits.each([&](bfit *f) {
    if (f)
      chart.fits.push_back({f, f->data ? p.Datasets.indexof(f->data) : -1});
  });
  QString title = p.MChart->titleText();
  title.replace(QLatin1Char('\n'), QLatin1Char(' '));
  chart.title = title.toStdString();
  chart.xtitle = p.XAxisTitle.toStdString();
  chart.ytitle = p.YAxisTitle.toStdString();
  chart.logx = p.LogX;
  chart.logy = p.LogY;
  // With the legend on, the script names and colours what the chart names.
  chart.legend = p.ShowLegend;
  chart.band = p.Band;
  chart.xlow = p.XLow;
  chart.xhigh = p.XHigh;
  if (chart.legend || chart.band != bandlevel::none) {
    p.Datasets.each([&](dataset *d) {
      const TErrPointSeries *s = TFit::errorSeries(d->series.get());
      chart.datasetcolours.push_back(s ? fromQColor(s->SeriesColour) : 0);
    });
    p.Fits.each([&](bfit *f) {
      const auto *h = dynamic_cast<const graphhandle *>(f ? f->curve.get() : nullptr);
      chart.fitcolours.push_back(h && h->graph() ? fromQColor(h->graph()->pen().color()) : 0);
    });
  }
  return chart;
}

} // namespace

// ---------------------------------------------------------------------------

const QStringList &ExportFilters() {
  static const QStringList filters = [] {
    QStringList list;
    for (const exportformat &f : ExportFormats())
      list << QString::fromLatin1(f.filter);
    return list;
  }();
  return filters;
}

int ExportFilterIndex(const QString &filter) {
  const int i = static_cast<int>(ExportFilters().indexOf(filter));
  return i < 0 ? 0 : i + 1;
}

const exportformat *ExportFormatOf(int filterIndex) {
  const auto rows = ExportFormats();
  if (filterIndex < 1 || filterIndex > static_cast<int>(rows.size()))
    return nullptr;
  return &rows[static_cast<std::size_t>(filterIndex - 1)];
}

const exportformat *ExportFormatFor(const QString &fileName) {
  for (const exportformat &f : ExportFormats())
    if (fileName.endsWith(QLatin1Char('.') + QLatin1String(f.suffix), Qt::CaseInsensitive))
      return &f;
  return nullptr;
}

QString ExportFileName(const QString &chosen, int filterIndex) {
  const exportformat *format = ExportFormatOf(filterIndex);
  if (!format || chosen.isEmpty())
    return chosen;
  const QString file = QFileInfo(chosen).fileName();
  if (file.isEmpty() || file.contains(QLatin1Char('.')))
    return chosen;
  return chosen + QLatin1Char('.') + QLatin1String(format->suffix);
}

int AxisPosition(const QRect &r, const QImage &picture) {
  const int left = r.left();
  const int top = r.top();
  const int right = std::min(r.left() + r.width(), picture.width());
  const int bottom = r.top() + r.height();
  const int h = bottom - top;
  int a = 0;
  for (int y = top + h / 4; y < bottom - h / 4; y += h / 100 + 1) {
    if (y < 0 || y >= picture.height())
      continue;
    for (int x = std::max(left + 1, 1); x < right; ++x) {
      if (picture.pixel(x, y) != picture.pixel(x - 1, y)) {
        a = std::max(a, x);
        break;
      }
    }
  }
  return a;
}

void AlignAxes(QRect &mainRect, QRect &devRect, const QImage &picture) {
  const int d = AxisPosition(mainRect, picture) - AxisPosition(devRect, picture);
  if (d > 0)
    devRect.setLeft(devRect.left() + d);
  else if (d < 0)
    mainRect.setLeft(mainRect.left() - d);
}

void DrawChart(Chart &chart, QCPPainter &painter, const QRect &r) {
  if (r.width() <= 0 || r.height() <= 0)
    return;
  painter.save();
  painter.translate(r.topLeft());
  chart.toPainter(&painter, r.width(), r.height());
  painter.restore();
}

namespace {

QImage drawBoth(TFit &p, const QRect &m, const QRect &d, const QSize &size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QCPPainter painter(&image);
  DrawChart(*p.MChart, painter, m);
  DrawChart(*p.DevChart, painter, d);
  painter.end();
  return image;
}

} // namespace

QSize ChartsLayout(TFit &p, QRect &m, QRect &d) {
  const int W = p.MChart->width();
  const int Hm = p.MChart->height();
  const int Hd = p.DevChart->height();
  if (W <= 0 || Hm <= 0 || Hd < 0)
    return {};
  const QSize size(W, Hm + Hd);
  m = QRect(0, 0, W, Hm);
  d = QRect(0, Hm, W, Hd);
  const QImage first = drawBoth(p, m, d, size);
  AlignAxes(m, d, first);
  return size;
}

QImage ChartsPicture(TFit &p) {
  QRect m, d;
  const QSize size = ChartsLayout(p, m, d);
  if (size.isEmpty())
    return {};
  return drawBoth(p, m, d, size);
}

bool ChartsRastered(TFit &p, const char *format, QByteArray &out, QString *why) {
  const QImage picture = ChartsPicture(p);
  if (picture.isNull()) {
    *why = QStringLiteral("the charts have no size");
    return false;
  }
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(picture)) {
    *why = writer.errorString();
    return false;
  }
  return true;
}

bool ChartsVector(TFit &p, VectorFormat format, QByteArray &out, QString *why) {
  QRect m, d;
  const QSize size = ChartsLayout(p, m, d);
  if (size.isEmpty()) {
    *why = QStringLiteral("the charts have no size");
    return false;
  }
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  // One picture unit is one pixel of the charts on the screen: the SVG's
  // view box is the picture's size, the PDF page is as many points.
  std::unique_ptr<QPaintDevice> device;
  if (format == VectorFormat::Svg) {
    auto svg = std::make_unique<QSvgGenerator>();
    svg->setOutputDevice(&buffer);
    svg->setSize(size);
    svg->setViewBox(QRect(QPoint(0, 0), size));
    svg->setResolution(96); // CSS pixels: viewers show it at the screen's size
    svg->setTitle(p.windowTitle());
    svg->setDescription(QStringLiteral("Orvalle chart"));
    device = std::move(svg);
  } else {
    auto pdf = std::make_unique<QPdfWriter>(&buffer);
    pdf->setResolution(72);
    pdf->setPageSize(QPageSize(QSizeF(size), QPageSize::Point, QString(), QPageSize::ExactMatch));
    pdf->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    pdf->setTitle(p.windowTitle());
    pdf->setCreator(QStringLiteral("Orvalle"));
    device = std::move(pdf);
  }
  QCPPainter painter;
  if (!painter.begin(device.get())) {
    *why = QStringLiteral("the file could not be drawn");
    return false;
  }
  painter.setMode(QCPPainter::pmVectorized);
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  DrawChart(*p.MChart, painter, m);
  DrawChart(*p.DevChart, painter, d);
  painter.end();
  return true;
}

bool EncodeJpeg(const QImage &image, QByteArray &out, QString *why) {
  if (image.isNull()) {
    *why = QStringLiteral("There is no picture to encode");
    return false;
  }
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  std::vector<JSAMPROW> rows(static_cast<std::size_t>(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<JSAMPROW>(rgb.constScanLine(y));
  jpegcompressor jpeg;
  if (!jpeg.compress(rows, rgb.width(), rgb.height())) {
    *why = QStringLiteral("JPEG encoding failed: ") + QString::fromLocal8Bit(jpeg.message());
    return false;
  }
  out = jpeg.bytes();
  return true;
}

// ---------------------------------------------------------------------------

namespace {

bool writeJpeg(TFit &p, QByteArray &out, QString *why) {
  const QImage picture = ChartsPicture(p);
  if (picture.isNull()) {
    *why = QStringLiteral("the charts have no size");
    return false;
  }
  return EncodeJpeg(picture, out, why);
}

constexpr exportformat kFormats[] = {
    {exportkind::bitmap, "Bitmap (*.bmp)", "bmp", "Chart as a bitmap to ",
     [](TFit &p, QByteArray &out, QString *why) { return ChartsRastered(p, "bmp", out, why); }},
    {exportkind::jpeg, "JPEG (*.jpeg)", "jpeg", "Chart as a jpg to ", writeJpeg},
    {exportkind::gnuplot, "Gnu Plot File (*.gnu)", "gnu", "Chart as a gnu plot script to ",
     nullptr},
    {exportkind::png, "PNG (*.png)", "png", "Chart as a png to ",
     [](TFit &p, QByteArray &out, QString *why) { return ChartsRastered(p, "png", out, why); }},
    {exportkind::svg, "SVG (*.svg)", "svg", "Chart as an svg to ",
     [](TFit &p, QByteArray &out, QString *why) {
       return ChartsVector(p, VectorFormat::Svg, out, why);
     }},
    {exportkind::pdf, "PDF (*.pdf)", "pdf", "Chart as a pdf to ",
     [](TFit &p, QByteArray &out, QString *why) {
       return ChartsVector(p, VectorFormat::Pdf, out, why);
     }},
};

// Each row's kind is its filter number.
constexpr bool rowsInFilterOrder() {
  int n = 0;
  for (const exportformat &f : kFormats)
    if (static_cast<int>(f.kind) != ++n)
      return false;
  return true;
}
static_assert(rowsInFilterOrder(), "the export formats' rows are in filter order");

} // namespace

std::span<const exportformat> ExportFormats() { return kFormats; }

void TFit::ExportChart() {
  QString selected;
  // The dialog opens in the data file's folder.
  const QString folder = FileName.isEmpty() ? frame().openDir() : QFileInfo(FileName).path();
  const QString chosen =
      Dialogs::get().saveFile(this, QStringLiteral("Export As"), folder,
                              ExportFilters().join(QStringLiteral(";;")), &selected);
  if (chosen.isEmpty())
    return;
  const int kind = ExportFilterIndex(selected);
  const exportformat *format = ExportFormatOf(kind);
  if (!format)
    return;
  const QString name = ExportFileName(chosen, kind);
  if (format->write)
    ExportPicture(kind, name);
  else
    ExportGnuplot(name);
}

void TFit::ExportPicture(int kind, const QString &fileName) {
  const exportformat *format = ExportFormatOf(kind);
  if (!format || !format->write)
    return; // not a picture
  const QString caption = windowTitle();
  QByteArray bytes;
  QString why;
  if (!format->write(*this, bytes, &why) || !writeBytes(fileName, bytes, &why)) {
    frame().LogEvent(kLogPlain, true,
                     QStringLiteral("Export of ") + caption + QStringLiteral("Chart to ") +
                         fileName + QStringLiteral(" failed: ") + why);
    return;
  }
  frame().LogEvent(kLogPlain, false,
                   QStringLiteral("Exported ") + caption + QLatin1String(format->loggedas) +
                       fileName);
}

void TFit::ExportPicture(exportkind kind, const QString &fileName) {
  ExportPicture(static_cast<int>(kind), fileName);
}

void TFit::ExportGnuplot(const QString &fileName) {
  temo->setLineWrapMode(QPlainTextEdit::NoWrap);
  temo->clear();
  // The script names its data file by its full path.
  const std::string script = QFileInfo(fileName).absoluteFilePath().toStdString();
  std::string why;
  const bool ok = writegnuplotfiles(gnuplotChartOf(*this), script, &why);
  temo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  temo->clear();
  const QString caption = windowTitle();
  if (!ok) {
    frame().LogEvent(kLogPlain, true,
                     QStringLiteral("Export of ") + caption + QStringLiteral("Chart to ") +
                         fileName + QStringLiteral(" failed: ") + QString::fromStdString(why));
    return;
  }
  frame().LogEvent(
      kLogPlain, false,
      QStringLiteral("Exported ") + caption +
          QLatin1String(ExportFormatOf(static_cast<int>(exportkind::gnuplot))->loggedas) +
          fileName);
}

} // namespace orvalle
