#include "frame/toolicons.h"

#include <algorithm>
#include <map>
#include <vector>

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace orvalle {

namespace {

constexpr int kSize = 24;
const QColor kInk(40, 48, 64);
const QColor kPaper(250, 250, 246);
const QColor kBlue(45, 105, 190);
const QColor kRed(196, 52, 44);
const QColor kGreen(46, 140, 70);
const QColor kYellow(232, 190, 70);

void page(QPainter &p, const QRectF &r) {
  QPainterPath path;
  const qreal fold = 5;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - fold, r.top());
  path.lineTo(r.right(), r.top() + fold);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
  p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void lines(QPainter &p, const QRectF &r, int n) {
  for (int i = 0; i < n; ++i) {
    const qreal y = r.top() + 6 + i * 3.5;
    p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
  }
}

void draw(QPainter &p, const QString &name) {
  QPen pen(kInk, 1.4);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  p.setPen(pen);
  if (name == QLatin1String("new")) {
    page(p, QRectF(5, 2.5, 14, 19));
    p.setPen(QPen(kGreen, 2.2));
    p.drawLine(QPointF(16, 14), QPointF(16, 22));
    p.drawLine(QPointF(12, 18), QPointF(20, 18));
  } else if (name == QLatin1String("open")) {
    p.setBrush(kYellow);
    QPainterPath back;
    back.moveTo(2.5, 6);
    back.lineTo(9, 6);
    back.lineTo(11, 8);
    back.lineTo(19.5, 8);
    back.lineTo(19.5, 19.5);
    back.lineTo(2.5, 19.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kYellow.lighter(120));
    QPolygonF front({QPointF(5, 11), QPointF(22, 11), QPointF(19.5, 19.5), QPointF(2.5, 19.5)});
    p.drawPolygon(front);
  } else if (name == QLatin1String("save")) {
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(7, 3.5, 10, 6.5));
    p.setBrush(kInk);
    p.drawRect(QRectF(7, 14, 10, 6.5));
  } else if (name == QLatin1String("cut")) {
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(7, 18), 3, 3);
    p.drawEllipse(QPointF(17, 18), 3, 3);
    p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 15.5), QPointF(17, 3));
    p.drawLine(QPointF(15, 15.5), QPointF(7, 3));
  } else if (name == QLatin1String("copy")) {
    page(p, QRectF(3.5, 2.5, 11, 14));
    page(p, QRectF(9.5, 7.5, 11, 14));
    lines(p, QRectF(9.5, 7.5, 11, 14), 3);
  } else if (name == QLatin1String("paste")) {
    p.setBrush(QColor(170, 120, 70));
    p.drawRoundedRect(QRectF(3.5, 4, 14, 17), 1.5, 1.5);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(7.5, 2.5, 6, 3.5));
    page(p, QRectF(10.5, 9.5, 10, 12));
  } else if (name == QLatin1String("process")) {
    page(p, QRectF(2.5, 3.5, 9, 12));
    lines(p, QRectF(2.5, 3.5, 9, 12), 2);
    p.setPen(QPen(kGreen, 2));
    p.drawLine(QPointF(10, 17), QPointF(15, 12));
    p.setPen(pen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(13.5, 9.5, 8, 11));
    p.setPen(QPen(kBlue, 1.4));
    p.drawLine(QPointF(14.5, 19), QPointF(20.5, 11));
  } else if (name == QLatin1String("replot")) {
    p.setPen(QPen(kGreen, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 280 * 16);
    p.setBrush(kGreen);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(14, 1.5), QPointF(19.5, 5.5), QPointF(13, 8.5)}));
  } else if (name == QLatin1String("export")) {
    p.setBrush(kPaper);
    p.drawRect(QRectF(2.5, 7.5, 13, 13));
    p.setPen(QPen(kBlue, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 14), QPointF(20, 3.5));
    p.drawLine(QPointF(14, 3.5), QPointF(20, 3.5));
    p.drawLine(QPointF(20, 3.5), QPointF(20, 9.5));
  } else if (name == QLatin1String("axis")) {
    p.drawLine(QPointF(5, 3), QPointF(5, 19));
    p.drawLine(QPointF(5, 19), QPointF(21, 19));
    for (int i = 0; i < 4; ++i) {
      p.drawLine(QPointF(3, 5 + i * 4), QPointF(5, 5 + i * 4));
      p.drawLine(QPointF(8 + i * 4, 19), QPointF(8 + i * 4, 21));
    }
    p.setPen(QPen(kRed, 1.6));
    p.drawLine(QPointF(6, 17), QPointF(20, 6));
  } else if (name == QLatin1String("titles")) {
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(17);
    p.setFont(f);
    p.setPen(kBlue);
    p.drawText(QRectF(0, 0, kSize, kSize - 4), Qt::AlignCenter, QStringLiteral("T"));
    p.setPen(QPen(kInk, 1.4));
    p.drawLine(QPointF(4, 20.5), QPointF(20, 20.5));
  } else if (name == QLatin1String("print")) {
    page(p, QRectF(6.5, 2.5, 11, 8));
    p.setBrush(QColor(150, 155, 165));
    p.drawRoundedRect(QRectF(2.5, 9.5, 19, 8), 1.5, 1.5);
    page(p, QRectF(6.5, 14.5, 11, 7));
    p.setPen(QPen(kGreen, 1.6));
    p.drawPoint(QPointF(18.5, 12));
  } else if (name == QLatin1String("help") || name == QLatin1String("about")) {
    p.setBrush(name == QLatin1String("help") ? kBlue : kGreen);
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(14);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(2.5, 2.5, 19, 19), Qt::AlignCenter,
               name == QLatin1String("help") ? QStringLiteral("?") : QStringLiteral("i"));
  } else if (name == QLatin1String("exit")) {
    p.setBrush(QColor(170, 120, 70));
    p.drawRect(QRectF(3.5, 2.5, 10, 19));
    p.setPen(QPen(kRed, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 12), QPointF(21, 12));
    p.drawLine(QPointF(17, 8), QPointF(21, 12));
    p.drawLine(QPointF(17, 16), QPointF(21, 12));
  }
}

// The coverage of `ink` spread by `reach` pixels, in the colour of paper:
// a thin light outline around every stroke. The spread is the largest
// coverage within a square, taken along the rows and then the columns.
QImage outlineOf(const QImage &ink, int reach) {
  const int w = ink.width(), h = ink.height();
  std::vector<int> across(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto *row = reinterpret_cast<const QRgb *>(ink.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      int alpha = 0;
      for (int u = std::max(0, x - reach); u <= std::min(w - 1, x + reach); ++u)
        alpha = std::max(alpha, qAlpha(row[u]));
      across[static_cast<std::size_t>(y) * w + x] = alpha;
    }
  }
  QImage outline(w, h, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < h; ++y) {
    auto *out = reinterpret_cast<QRgb *>(outline.scanLine(y));
    for (int x = 0; x < w; ++x) {
      int alpha = 0;
      for (int v = std::max(0, y - reach); v <= std::min(h - 1, y + reach); ++v)
        alpha = std::max(alpha, across[static_cast<std::size_t>(v) * w + x]);
      out[x] = qPremultiply(qRgba(kPaper.red(), kPaper.green(), kPaper.blue(), alpha * 7 / 8));
    }
  }
  return outline;
}

// The picture drawn at `size` pixels on its outline: dark ink on a dark tool
// bar (a dark desktop theme) would vanish otherwise, while on a light tool
// bar the outline hardly shows.
QImage toolPicture(const QString &name, int size) {
  QImage ink(size, size, QImage::Format_ARGB32_Premultiplied);
  ink.fill(Qt::transparent);
  {
    QPainter p(&ink);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / double(kSize), size / double(kSize));
    draw(p, name);
  }
  // About one design pixel wide at every size.
  QImage picture = outlineOf(ink, std::max(1, (size + kSize / 2) / kSize));
  QPainter p(&picture);
  p.drawImage(0, 0, ink);
  return picture;
}

} // namespace

QIcon ToolIcon(const QString &name) {
  // Drawn at every size a tool bar asks for up to 400 % scaling, so that no
  // picture is ever enlarged (and blurred) from a smaller one; once for the
  // program's run, as every frame shows the same pictures.
  static std::map<QString, std::vector<QImage>> drawn;
  std::vector<QImage> &pictures = drawn[name];
  if (pictures.empty())
    for (int size : {16, 24, 30, 32, 36, 48, 64, 72, 96})
      pictures.push_back(toolPicture(name, size));
  QIcon icon;
  for (const QImage &picture : pictures)
    icon.addPixmap(QPixmap::fromImage(picture));
  return icon;
}

QPixmap ProgramPicture(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 4, 4);
  p.setPen(QPen(kInk, 1.2));
  p.drawLine(QPointF(5, 4), QPointF(5, 27));
  p.drawLine(QPointF(5, 27), QPointF(28, 27));
  p.setPen(QPen(kRed, 1.6));
  p.drawLine(QPointF(6, 24), QPointF(27, 7));
  const QPointF points[] = {{9, 21.5}, {14, 18.5}, {19, 13}, {24, 10.5}};
  const qreal bars[] = {3, 2.5, 3.5, 2.5};
  for (int i = 0; i < 4; ++i) {
    p.setPen(QPen(kBlue, 1.2));
    p.drawLine(points[i] - QPointF(0, bars[i]), points[i] + QPointF(0, bars[i]));
    p.drawLine(points[i] - QPointF(1.5, bars[i]), points[i] + QPointF(1.5, -bars[i]));
    p.drawLine(points[i] + QPointF(-1.5, bars[i]), points[i] + QPointF(1.5, bars[i]));
    p.setBrush(kBlue);
    p.setPen(Qt::NoPen);
    p.drawEllipse(points[i], 1.6, 1.6);
  }
  return pm;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int s : {16, 24, 32, 48, 64, 96, 128, 256})
    icon.addPixmap(ProgramPicture(s));
  return icon;
}

} // namespace orvalle
