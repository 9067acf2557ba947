// Pictures of a plotter's two charts (for the bitmap and JPEG exports and
// for lining the charts up on a printed page), the JPEG encoder, and the
// names of the export dialog's filters.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <span>

class QCPPainter;

namespace orvalle {

class Chart;
class TFit;

// The export's formats, one row each in the order the "Export As" dialog
// offers them, so that the filter numbers stay 1 bitmap, 2 JPEG,
// 3 gnuplot script, then 4 PNG, 5 SVG, 6 PDF. A new picture format is a
// new row: its kind, filter, suffix, log words and writer.
enum class exportkind { bitmap = 1, jpeg, gnuplot, png, svg, pdf };

struct exportformat {
  exportkind kind;
  const char *filter; // the dialog's filter, "Bitmap (*.bmp)"
  const char *suffix; // without the dot
  // The log's words between the caption and the file name,
  // "Chart as a bitmap to ".
  const char *loggedas;
  // The picture's bytes, or false with the reason; null for the gnuplot
  // script, which writes a pair of files of its own.
  bool (*write)(TFit &plotter, QByteArray &out, QString *why);
};

// Every row, in filter order.
std::span<const exportformat> ExportFormats();
// The row of filter number 1 to ExportFormats().size(), else null.
const exportformat *ExportFormatOf(int filterIndex);
// The row whose suffix a file name ends with (".svg"), else null.
const exportformat *ExportFormatFor(const QString &fileName);

// The filters of the "Export As" dialog, in the rows' order.
const QStringList &ExportFilters();
// 1 to 6 for one of ExportFilters(), else 0.
int ExportFilterIndex(const QString &filter);
// The name the export writes to: a name whose file part has no extension
// gets the selected filter's ("run1" with the JPEG filter is "run1.jpeg").
QString ExportFileName(const QString &chosen, int filterIndex);

// Both rectangles hold a chart drawn on `picture`. Finds each chart's left
// axis (the right-most first change of colour from the rectangle's left
// edge over rows of its middle half) and moves the left edge of the chart
// whose axis lies further left by the difference. Rectangles are taken as
// (left, top, left + width, top + height): right and bottom exclusive.
void AlignAxes(QRect &mainRect, QRect &devRect, const QImage &picture);
// The axis position AlignAxes finds in one rectangle (0 when none).
int AxisPosition(const QRect &r, const QImage &picture);

// Draws a chart into rectangle r of a painter, as the chart prints itself
// into a rectangle of that size.
void DrawChart(Chart &chart, QCPPainter &painter, const QRect &r);

// The export picture: W x (Hm + Hd) with the main chart above the
// deviations chart at their sizes on the screen, the axes lined up.
QImage ChartsPicture(TFit &plotter);
// The export picture's size (empty when a chart has no size) and the two
// rectangles its charts are drawn into, the axes lined up.
QSize ChartsLayout(TFit &plotter, QRect &mainRect, QRect &devRect);

// The export picture in a raster format Qt's image writers know ("bmp",
// "png"), as bytes.
bool ChartsRastered(TFit &plotter, const char *format, QByteArray &out, QString *why);

// The export picture drawn as vectors: an SVG whose view box is the
// picture's size in pixels, or a one-page PDF of as many points.
enum class VectorFormat { Svg, Pdf };
bool ChartsVector(TFit &plotter, VectorFormat format, QByteArray &out, QString *why);

// Encodes an image as a JPEG with libjpeg's default settings. Returns
// false with the reason in *why.
bool EncodeJpeg(const QImage &image, QByteArray &out, QString *why);

} // namespace orvalle
