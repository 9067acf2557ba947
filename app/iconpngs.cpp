// orvalle-icons: draws the program's scalable icon as PNG pictures at the
// hicolor theme's fixed sizes, for desktops and software centres that do
// not draw SVG themselves.
//
//   orvalle-icons ICON.svg OUTDIR SIZE...   writes OUTDIR/SIZExSIZE/apps/NAME.png
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[]) {
  // Drawing needs no screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 4) {
    std::fputs("Usage: orvalle-icons ICON.svg OUTDIR SIZE...\n", stderr);
    return 2;
  }
  const QString svg = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) {
    std::fprintf(stderr, "orvalle-icons: %s is not a picture\n", argv[1]);
    return 1;
  }
  const QString name = QFileInfo(svg).completeBaseName() + QStringLiteral(".png");
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "orvalle-icons: %s is no icon size\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      renderer.render(&p, QRectF(0, 0, size, size));
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    if (!QDir().mkpath(folder) || !image.save(folder + QLatin1Char('/') + name, "PNG")) {
      std::fprintf(stderr, "orvalle-icons: cannot write %s\n", qPrintable(folder + '/' + name));
      return 1;
    }
  }
  return 0;
}
