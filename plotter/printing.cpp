// The plotter's answers to the print and clipboard commands: UM_OUTPUT by
// its code, the information copy, the chart copies and the print itself.
#include "plotter/printing.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QMimeData>
#include <QPageLayout>
#include <QPicture>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QSvgGenerator>
#include <cmath>
#include <functional>

#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/export.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

// A rectangle from its edges, right and bottom exclusive.
QRect edges(int left, int top, int right, int bottom) {
  return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

void addPoints(QFont f, int points, const std::function<void(const QFont &)> &apply) {
  f.setPointSize(std::max(1, f.pointSize() + points));
  apply(f);
}

void setPoints(QFont f, int points, const std::function<void(const QFont &)> &apply) {
  f.setPointSize(std::max(1, points));
  apply(f);
}

bool marked(FrameApi &frame, Cmd c) {
  const QAction *a = frame.command(c);
  return a && a->isChecked();
}

} // namespace

// ---------------------------------------------------------------------------

PrintLayout::PrintLayout(bool mainChart, bool deviations, bool information, int width, int height)
    : m(mainChart ? 1 : 0), v(deviations ? 1 : 0), i(information ? 1 : 0), n(m + v + i), W(width),
      H(height) {}

QRect PrintLayout::mainRect() const {
  if (!m)
    return {};
  return edges(100, 100, W - 100, 2 * H / (n + 1) - 100);
}

QRect PrintLayout::devRect() const {
  if (!v)
    return {};
  return edges(100, 2 * m * H / (n + 1) + 100, W - 100, (2 * m + 1) * H / (n + 1) - 100);
}

QRect PrintLayout::infoColumn(int c) const {
  const int share = (2 * m + v) * H / (n + 1);
  if (c == 1)
    return edges(30, share - 90, W / 2 - 30, H - 30);
  if (c == 2)
    return edges(W / 2 + 30, share + 30, W - 30, H - 30);
  if (c % 2 == 1)
    return edges(30, 30, W / 2 - 30, H - 30);
  return edges(W / 2 + 30, 30, W - 30, H - 30);
}

int DevFontEnlargement(bool landscape, int n) {
  if (landscape)
    return n == 3 ? 5 : 3;
  return n == 3 ? 6 : 4;
}

int InfoLineStep(int points, int dpi) {
  const long f = std::lround(static_cast<double>(points) * dpi / 72.0);
  return static_cast<int>(1.4 * static_cast<double>(std::labs(f)));
}

QStringList WrapToWidth(const QString &line, const QFontMetrics &metrics, int width) {
  if (width <= 0 || metrics.horizontalAdvance(line) <= width)
    return {line};
  QStringList out;
  QString current;
  auto flush = [&] {
    out << current;
    current.clear();
  };
  const QStringList words = line.split(QLatin1Char(' '));
  for (const QString &w : words) {
    const QString joined = current.isEmpty() ? w : current + QLatin1Char(' ') + w;
    if (metrics.horizontalAdvance(joined) <= width) {
      current = joined;
      continue;
    }
    if (!current.isEmpty())
      flush();
    // A word wider than the column is broken where it must be.
    QString rest = w;
    while (metrics.horizontalAdvance(rest) > width && rest.size() > 1) {
      int n = static_cast<int>(rest.size()) - 1;
      while (n > 1 && metrics.horizontalAdvance(rest.left(n)) > width)
        --n;
      out << rest.left(n);
      rest = rest.mid(n);
    }
    current = rest;
  }
  if (!current.isEmpty() || out.isEmpty())
    flush();
  return out;
}

double PrintScale(int dpi) {
  const int screen = QPicture().logicalDpiX();
  return dpi > 0 && screen > 0 ? static_cast<double>(dpi) / screen : 1.0;
}

void DrawChartForPrint(Chart &chart, QPainter &painter, const QRect &r, int dpi) {
  const double s = PrintScale(dpi);
  const int w = static_cast<int>(std::lround(r.width() / s));
  const int h = static_cast<int>(std::lround(r.height() / s));
  if (w <= 0 || h <= 0)
    return;
  // A picture is recorded in screen pixels and played back scaled to the
  // printer's resolution, text included.
  QPicture picture;
  {
    QCPPainter recorder(&picture);
    chart.toPainter(&recorder, w, h);
  }
  painter.save();
  painter.translate(r.topLeft());
  painter.drawPicture(0, 0, picture);
  painter.restore();
}

QImage ChartBitmap(Chart &chart) {
  QImage image(std::max(1, chart.width()), std::max(1, chart.height()), QImage::Format_RGB32);
  image.fill(Qt::white);
  QCPPainter painter(&image);
  DrawChart(chart, painter, image.rect());
  return image;
}

QByteArray ChartSvg(Chart &chart) {
  const QSize size(std::max(1, chart.width()), std::max(1, chart.height()));
  QByteArray svg;
  QBuffer buffer(&svg);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size);
  generator.setResolution(chart.logicalDpiX()); // its size on the screen
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setTitle(chart.titleText());
  {
    QCPPainter painter(&generator);
    DrawChart(chart, painter, QRect(QPoint(0, 0), size));
  }
  return svg;
}

std::unique_ptr<QMimeData> ChartMimeData(Chart &chart, bool vector) {
  auto data = std::make_unique<QMimeData>();
  data->setImageData(ChartBitmap(chart));
  if (vector)
    data->setData(QStringLiteral("image/svg+xml"), ChartSvg(chart));
  return data;
}

// ---------------------------------------------------------------------------

namespace {

// The chart copies, one row per code: which chart, and whether the SVG
// drawing goes beside the bitmap.
struct chartcopy {
  int code;
  bool main;
  bool vector;
};
constexpr chartcopy kChartCopies[] = {
    {kOutputMainBitmap, true, false},        {kOutputMainVector, true, true},
    {kOutputMainVectorEnhanced, true, true}, {kOutputDevBitmap, false, false},
    {kOutputDevVector, false, true},         {kOutputDevVectorEnhanced, false, true},
};

} // namespace

void TFit::OutputRequest(int code) {
  for (const chartcopy &c : kChartCopies)
    if (c.code == code) {
      QApplication::clipboard()->setMimeData(
          ChartMimeData(c.main ? *MChart : *DevChart, c.vector).release()); // the clipboard owns it
      return;
    }
  switch (code) {
  case kOutputPrint:
    PrintCharts();
    break;
  case kOutputInformation:
    CopyInformation();
    break;
  case kOutputReplot:
    RedrawCharts();
    break;
  default:
    break;
  }
}

void TFit::CopyInformation() {
  QStringList lines;
  WriteInformation(lines);
  temo->setPlainText(lines.join(QLatin1Char('\n')));
  temo->selectAll();
  QApplication::clipboard()->setText(lines.join(QStringLiteral("\r\n")));
}

namespace {

// Puts back what a print changed on the deviations chart and clears
// Printing, however the print ends.
class printscope {
public:
  printscope(TFit &p)
      : p_(p), devTitleSize_(p.DevChart->title()->font().pointSize()),
        devAutoMargins_(p.DevChart->axisRect()->autoMargins()),
        devMargins_(p.DevChart->axisRect()->margins()) {}
  ~printscope() {
    Chart *dev = p_.DevChart;
    // The screen's pinned left margin comes back; the next command-state
    // update lines it up with the main chart again.
    dev->axisRect()->setAutoMargins(devAutoMargins_);
    dev->axisRect()->setMargins(devMargins_);
    setPoints(dev->xAxis->tickLabelFont(), p_.MChart->xAxis->tickLabelFont().pointSize(),
              [dev](const QFont &f) { dev->xAxis->setTickLabelFont(f); });
    setPoints(dev->yAxis->tickLabelFont(), p_.MChart->yAxis->tickLabelFont().pointSize(),
              [dev](const QFont &f) { dev->yAxis->setTickLabelFont(f); });
    restoreTitle();
    p_.Printing = false;
  }
  printscope(const printscope &) = delete;
  printscope &operator=(const printscope &) = delete;

  void restoreTitle() {
    Chart *dev = p_.DevChart;
    setPoints(dev->title()->font(), devTitleSize_,
              [dev](const QFont &f) { dev->title()->setFont(f); });
  }

private:
  TFit &p_;
  int devTitleSize_;
  QCP::MarginSides devAutoMargins_;
  QMargins devMargins_;
};

// Lines the left axes of the two charts up on a measuring bitmap of the
// page (W x H printer pixels), held in screen pixels as the charts are laid
// out for print, and moves the rectangles' left edges to match.
void lineUpOnPage(Chart &main, Chart &dev, QRect &mainRect, QRect &devRect, QSize page, int dpi) {
  const int W = page.width();
  const int H = page.height();
  const double s = PrintScale(dpi);
  auto toScreen = [s](const QRect &r) {
    return QRect(static_cast<int>(std::lround(r.left() / s)),
                 static_cast<int>(std::lround(r.top() / s)),
                 static_cast<int>(std::lround(r.width() / s)),
                 static_cast<int>(std::lround(r.height() / s)));
  };
  QRect mm = toScreen(mainRect), dm = toScreen(devRect);
  const QRect mm0 = mm, dm0 = dm;
  QImage measure(std::max(1, static_cast<int>(W / s)), std::max(1, static_cast<int>(H / s)),
                 QImage::Format_RGB32);
  // Text on it is laid out at the resolution the charts are recorded in.
  const int screen = QPicture().logicalDpiX();
  measure.setDotsPerMeterX(qRound(screen / 0.0254));
  measure.setDotsPerMeterY(qRound(screen / 0.0254));
  measure.fill(Qt::white);
  {
    QCPPainter mp(&measure);
    DrawChart(main, mp, mm);
    DrawChart(dev, mp, dm);
  }
  AlignAxes(mm, dm, measure);
  mainRect.setLeft(mainRect.left() + static_cast<int>(std::lround((mm.left() - mm0.left()) * s)));
  devRect.setLeft(devRect.left() + static_cast<int>(std::lround((dm.left() - dm0.left()) * s)));
}

// The information lines in the layout's columns, five line steps down
// each column, in the information box's font.
void printInformation(QPainter &painter, QPrinter &printer, const PrintLayout &layout,
                      const QStringList &lines, const QFont &boxFont, int dpi) {
  const QFont font(boxFont, &printer);
  painter.setFont(font);
  painter.setPen(Qt::black);
  const int step = std::max(1, InfoLineStep(boxFont.pointSize(), dpi));
  const QFontMetrics metrics(font, &printer);
  const int ascent = metrics.ascent();
  // Every column is as wide as the first; a line wider than a column
  // would run into the next column or off the page, so it continues on
  // the following line steps.
  const int width = layout.infoColumn(1).width() - 100;
  QStringList printed;
  for (const QString &line : lines)
    printed << WrapToWidth(line, metrics, width);
  int k = 5, rows = 0, c = 1;
  QRect R;
  for (const QString &line : printed) {
    // A line at the last step would hang below the column and off the
    // printable page: the column ends one step earlier.
    if (k + 1 >= rows) {
      if (PrintLayout::newPageFor(c))
        printer.newPage();
      R = layout.infoColumn(c);
      ++c;
      k = 5;
      rows = R.height() / step;
    } else {
      ++k;
    }
    painter.drawText(R.left() + 100, R.top() + k * step + ascent, line);
  }
}

} // namespace

void TFit::PrintCharts() {
  FrameApi &f = frame();
  const bool m = marked(f, Cmd::WTPMainChart);
  const bool v = marked(f, Cmd::WTPResiduals);
  const bool info = marked(f, Cmd::WTPInformation);
  if (!m && !v && !info) {
    f.LogEvent(kLogPlain, true,
               QStringLiteral("Nothing selected to print check Check Chart->What To Print"));
    return;
  }
  QPrinter *printer = f.printer();
  if (!printer)
    return;
  const QString caption = windowTitle();
  printer->setDocName(caption);
  if (!Dialogs::get().print(this, printer))
    return;

  printscope scope(*this); // remembers the deviations chart's title size
  // The main chart's fonts for the page.
  QCPAxis *x = MChart->xAxis;
  QCPAxis *y = MChart->yAxis;
  addPoints(x->labelFont(), 3, [x](const QFont &g) { x->setLabelFont(g); });
  addPoints(x->tickLabelFont(), 3, [x](const QFont &g) { x->setTickLabelFont(g); });
  addPoints(y->tickLabelFont(), 3, [y](const QFont &g) { y->setTickLabelFont(g); });
  addPoints(y->labelFont(), 3, [y](const QFont &g) { y->setLabelFont(g); });
  setPoints(MChart->title()->font(), y->tickLabelFont().pointSize() + 6,
            [this](const QFont &g) { MChart->title()->setFont(g); });

  // The job.
  QPainter painter;
  if (!painter.begin(printer)) {
    f.LogEvent(kLogPlain, true,
               caption + QStringLiteral(" could not be printed: the printer refused the job"));
    return;
  }
  Printing = true;
  const int W = printer->width();
  const int H = printer->height();
  const int dpi = printer->logicalDpiY();
  const PrintLayout layout(m, v, info, W, H);
  QRect mainRect = layout.mainRect();
  QRect devRect = layout.devRect();

  // Larger deviations chart fonts when both charts share the page.
  if (m && v) {
    const bool landscape = printer->pageLayout().orientation() == QPageLayout::Landscape;
    const int q = DevFontEnlargement(landscape, layout.n);
    Chart *dev = DevChart;
    addPoints(dev->xAxis->tickLabelFont(), q,
              [dev](const QFont &g) { dev->xAxis->setTickLabelFont(g); });
    addPoints(dev->yAxis->tickLabelFont(), q,
              [dev](const QFont &g) { dev->yAxis->setTickLabelFont(g); });
    setPoints(dev->title()->font(), dev->yAxis->tickLabelFont().pointSize() + q - 1,
              [dev](const QFont &g) { dev->title()->setFont(g); });
  }

  // The deviations chart's left margin is pinned to the main chart's on
  // the screen; at the print fonts its labels need their own room, and the
  // alignment below lines the two axes up again.
  if (v)
    DevChart->axisRect()->setAutoMargins(QCP::msAll);

  // 7, 9. Line the two charts up on a measuring bitmap of the page.
  if (m && v)
    lineUpOnPage(*MChart, *DevChart, mainRect, devRect, QSize(W, H), dpi);

  // The charts.
  if (m)
    DrawChartForPrint(*MChart, painter, mainRect, dpi);
  if (v)
    DrawChartForPrint(*DevChart, painter, devRect, dpi);

  // The information in columns, five line steps down each column.
  if (info) {
    QStringList lines;
    WriteInformation(lines);
    temo->setPlainText(lines.join(QLatin1Char('\n')));
    printInformation(painter, *printer, layout, lines, temo->font(), dpi);
  }

  // The job ends; a printer that failed is logged.
  const bool ended = painter.end();
  if (!ended || printer->printerState() == QPrinter::Error) {
    f.LogEvent(kLogPlain, true,
               caption + QStringLiteral(" could not be printed: the printer reported an error"));
    return;
  }
  scope.restoreTitle();
  f.LogEvent(kLogPlain, false, caption + QStringLiteral(" has been sent to the printer"));
  // Leaving, the scope puts the deviations chart's fonts back and clears Printing.
}

} // namespace orvalle
