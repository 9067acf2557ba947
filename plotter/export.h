// Pictures of a plotter's two charts (for the bitmap and JPEG exports and
// for lining the charts up on a printed page), the JPEG encoder, and the
// names of the export dialog's filters.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

class QCPPainter;

namespace orvalle {

class Chart;
class TFit;

// The filters of the "Export As" dialog, in order: 1 bitmap, 2 JPEG,
// 3 gnuplot script, then the further picture formats 4 PNG, 5 SVG, 6 PDF.
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

// The export picture drawn as vectors: an SVG whose view box is the
// picture's size in pixels, or a one-page PDF of as many points.
enum class VectorFormat { Svg, Pdf };
bool ChartsVector(TFit &plotter, VectorFormat format, QByteArray &out, QString *why);

// Encodes an image as a JPEG with libjpeg's default settings. Returns
// false with the reason in *why.
bool EncodeJpeg(const QImage &image, QByteArray &out, QString *why);

} // namespace orvalle
