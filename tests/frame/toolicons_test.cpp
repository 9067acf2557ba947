// The tool bar's pictures can be seen on light and dark tool bars alike,
// and are drawn for every scaling up to 400 % rather than enlarged from a
// smaller picture (which blurs them at 200 %).
// Covers frame/toolicons.cpp.
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>

#include "frame/toolicons.h"

using namespace orvalle;

namespace {

const char *const kNames[] = {"new",    "open",    "save",   "cut",    "copy",
                              "paste",  "process", "replot", "export", "axis",
                              "titles", "print",   "help",   "about",  "exit"};

// WCAG 2 relative luminance and contrast ratio.
double luminance(QRgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The share of the picture's pixels that stand out from the tool bar's
// colour by at least 3:1 (WCAG's ratio for parts of a picture) once the
// picture is drawn on it.
double visibleShare(const QPixmap &picture, const QColor &bar) {
  QImage onBar(picture.size(), QImage::Format_RGB32);
  onBar.setDevicePixelRatio(picture.devicePixelRatio());
  onBar.fill(bar);
  {
    QPainter p(&onBar);
    p.drawPixmap(0, 0, picture);
  }
  int seen = 0;
  for (int y = 0; y < onBar.height(); ++y)
    for (int x = 0; x < onBar.width(); ++x)
      seen += contrast(onBar.pixel(x, y), bar.rgb()) >= 3.0 ? 1 : 0;
  return double(seen) / (onBar.width() * onBar.height());
}

} // namespace

class ToolIconsTest : public QObject {
  Q_OBJECT
private slots:
  void seenOnEveryToolBar_data();
  void seenOnEveryToolBar();
  void drawnForEveryScaling();
};

void ToolIconsTest::seenOnEveryToolBar_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QColor>("bar");
  QTest::addColumn<qreal>("scale");
  const std::pair<const char *, QColor> bars[] = {{"light", QColor(0xef, 0xef, 0xef)},
                                                  {"white", QColor(Qt::white)},
                                                  {"dark", QColor(0x35, 0x35, 0x35)},
                                                  {"black", QColor(0x1e, 0x1e, 0x1e)}};
  for (const char *name : kNames)
    for (const auto &[what, colour] : bars)
      for (qreal scale : {1.0, 2.0})
        QTest::addRow("%s on %s at %g", name, what, scale)
            << QString::fromLatin1(name) << colour << scale;
}

void ToolIconsTest::seenOnEveryToolBar() {
  QFETCH(QString, name);
  QFETCH(QColor, bar);
  QFETCH(qreal, scale);
  const QPixmap picture = ToolIcon(name).pixmap(QSize(24, 24), scale);
  QVERIFY(!picture.isNull());
  // The thinnest pictures (replot, titles, axes) show about an eighth of
  // the square; without their light outline, the axes, the scissors, the
  // replot arrow and the title's line showed nothing at all on a dark bar.
  const double share = visibleShare(picture, bar);
  QVERIFY2(share >= 0.10,
           qPrintable(
               QStringLiteral("only %1 % of the picture can be seen").arg(100 * share, 0, 'f', 1)));
}

void ToolIconsTest::drawnForEveryScaling() {
  for (const char *name : kNames) {
    const QIcon icon = ToolIcon(QString::fromLatin1(name));
    const QList<QSize> sizes = icon.availableSizes();
    for (qreal scale : {1.0, 1.25, 1.5, 2.0, 3.0, 4.0}) {
      const int need = static_cast<int>(std::ceil(24 * scale));
      const bool drawn = std::any_of(sizes.begin(), sizes.end(),
                                     [need](const QSize &s) { return s.width() == need; });
      QVERIFY2(drawn, qPrintable(QStringLiteral("%1 is not drawn at %2 pixels (%3 %)")
                                     .arg(QLatin1String(name))
                                     .arg(need)
                                     .arg(100 * scale)));
      // What a tool bar gets at that scaling is that picture, not a copy
      // enlarged from a smaller one.
      const QPixmap shown = icon.pixmap(QSize(24, 24), scale);
      QCOMPARE(shown.size(), QSize(need, need));
    }
  }
}

QTEST_MAIN(ToolIconsTest)
#include "toolicons_test.moc"
