// Texts of the plotter's chart page stay readable under light and dark
// palettes: the panel below the charts keeps its white background (as the
// charts do), so its labels (the fit, the chi-square value, the degrees of
// freedom) must be dark there whatever the desktop's palette says. Each
// label is drawn and the contrast of its ink against the background it is
// drawn on is measured as WCAG 2 defines it (at least 4.5:1 for text).
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QTest>
#include <cmath>
#include <map>

#include "engine/fits.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// WCAG 2 relative luminance of an sRGB colour, and the contrast ratio.
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

// The background of a drawn text is its most frequent colour; its ink is
// the pixel farthest from it in contrast (the core of a stroke).
struct Drawn {
  QRgb background = 0;
  QRgb ink = 0;
  double ratio = 1;
};

Drawn measure(const QImage &image) {
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      ++count[image.pixel(x, y) | 0xff000000u];
  Drawn d;
  int most = 0;
  for (const auto &[colour, n] : count)
    if (n > most)
      most = n, d.background = colour;
  for (const auto &entry : count) {
    const double r = contrast(entry.first, d.background);
    if (r > d.ratio)
      d.ratio = r, d.ink = entry.first;
  }
  return d;
}

QPalette darkPalette() {
  QPalette p;
  const QColor window(0x35, 0x35, 0x35), base(0x24, 0x24, 0x24), text(0xee, 0xee, 0xee);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
  p.setColor(QPalette::LinkVisited, QColor(0xb4, 0x8c, 0xff));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  return p;
}

const std::vector<std::string> kLine = {"1 3.05 0.1 A", "2 4.96 0.1 A", "3 7.02 0.2 A",
                                        "4 9.1 0.2 A", "5 10.9 0.3 A"};

} // namespace

class DarkPaletteTest : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }
  void panelTextsReadable_data();
  void panelTextsReadable();
};

void DarkPaletteTest::panelTextsReadable_data() {
  QTest::addColumn<bool>("dark");
  QTest::newRow("light palette") << false;
  QTest::newRow("dark palette") << true;
}

void DarkPaletteTest::panelTextsReadable() {
  QFETCH(bool, dark);
  const QPalette before = QApplication::palette();
  QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());

  OutputDialogs dialogs;
  RoutingFrame frame;
  std::unique_ptr<TFit> plotter = makePlotterFor(frame, kLine, "/home/u/line.txt");
  QVERIFY(plotter);
  frame.adopt(plotter.get());
  showCharts(*plotter);
  bfit *fit = addFit<polynom>(*plotter, 0, "Dataset A -- Linear (y=ax+b)", 1);
  QVERIFY(fit);
  plotter->CBoxDetails->addItem(QString::fromStdString(fit->name));
  plotter->CBoxDetails->setCurrentIndex(0);
  emit plotter->CBoxDetails->activated(0);
  QCoreApplication::processEvents();
  QVERIFY(!plotter->Txtchisq->text().isEmpty());

  // The panel keeps its white background in both palettes.
  const QImage panel = plotter->Panel1->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(measure(panel).background, qRgb(255, 255, 255));

  const std::pair<const char *, QLabel *> labels[] = {{"Fit", plotter->Label14},
                                                      {"chi", plotter->Label10},
                                                      {"superscript 2", plotter->Label2},
                                                      {"chi-square value", plotter->Txtchisq},
                                                      {"No Degrees of Freedom", plotter->Label13},
                                                      {"degrees of freedom", plotter->Txtnpoints}};
  for (const auto &[what, label] : labels) {
    QVERIFY2(label->isVisible() && !label->text().isEmpty(), what);
    // The label as it is drawn on the panel, its background included.
    const QRect where(label->mapTo(plotter->Panel1, QPoint(0, 0)), label->size());
    const Drawn d = measure(panel.copy(where));
    QVERIFY2(d.ratio >= 4.5,
             qPrintable(QStringLiteral("%1: contrast %2:1 of ink %3 on %4")
                            .arg(QLatin1String(what))
                            .arg(d.ratio, 0, 'f', 2)
                            .arg(QColor(d.ink).name(), QColor(d.background).name())));
  }
  // The fit's description follows the palette (its own base and text).
  const QImage list =
      plotter->ChartListBox->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QVERIFY2(measure(list).ratio >= 4.5, "fit information");

  plotter.reset();
  QApplication::setPalette(before);
}

QTEST_MAIN(DarkPaletteTest)
#include "darkpalette_test.moc"
