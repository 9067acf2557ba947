// Printing a plotter's charts and information text, and the chart copies
// for the clipboard.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QStringList>
#include <memory>

class QFontMetrics;
class QMimeData;
class QPainter;

namespace orvalle {

class Chart;

// Where the pieces of a print lie on a page of W x H printer pixels: the
// main chart takes two shares of the page height, every other item one.
struct PrintLayout {
  PrintLayout(bool mainChart, bool deviations, bool information, int width, int height);

  // Present only when the item is printed; the rectangles are
  // (left, top, right, bottom) with right and bottom exclusive.
  QRect mainRect() const;
  QRect devRect() const;
  // Information column c (from 1): 1 and 2 share the first page with the
  // charts, then two columns a page (c odd on the left of a new page).
  QRect infoColumn(int c) const;
  // Whether column c begins a new page.
  static bool newPageFor(int c) { return c >= 3 && c % 2 == 1; }

  int m, v, i, n, W, H;
};

// The points by which the deviations chart's label fonts grow on a page
// that carries both charts: by orientation and the number of items.
int DevFontEnlargement(bool landscape, int n);

// The line step of the printed information: 1.4 times the height of a font
// of `points` at `dpi` dots per inch, in printer pixels.
int InfoLineStep(int points, int dpi);

// A line of the printed information broken at blanks (or, for a word wider
// than the column, inside the word) into lines no wider than width.
QStringList WrapToWidth(const QString &line, const QFontMetrics &metrics, int width);

// Draws a chart into rectangle r of a printer page with the proportions it
// has on the screen: the chart is laid out at r's size in screen pixels and
// the recorded drawing played back at the printer's resolution, so fonts
// keep their point sizes and lines their screen thickness.
void DrawChartForPrint(Chart &chart, QPainter &painter, const QRect &r, int dpi);
// The scale from screen pixels (of a recorded picture) to printer pixels
// at dpi.
double PrintScale(int dpi);

// The chart copies: a bitmap of the chart at its size on the screen on a
// white background, and the same drawing as an SVG document.
QImage ChartBitmap(Chart &chart);
QByteArray ChartSvg(Chart &chart);
// What the clipboard receives: the bitmap, and with vector true the SVG
// ("image/svg+xml") beside it.
std::unique_ptr<QMimeData> ChartMimeData(Chart &chart, bool vector);

} // namespace orvalle
