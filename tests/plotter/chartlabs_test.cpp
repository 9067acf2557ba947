// The titles and axes window: opening and filling it, titles and fonts,
// the limit checks with their messages, the origin buttons, reset, grid
// lines, message 1426, and a window's close unbinding every plotter's.
#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <limits>

#include "plotter/chartlabs.h"
#include "plotter/charts.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

const std::vector<std::string> kPoints = {"1 2 0.1 A", "2 4.1 0.2 A", "3 5.9 0.2 A", "4 8.2 0.3 A"};

TChartlabs *windowOf(const TFit &p) { return qobject_cast<TChartlabs *>(p.TitlesWindow.data()); }

struct Rig {
  OutputDialogs dialogs; // a failure report is recorded, not shown
  RoutingFrame frame;
  std::unique_ptr<TFit> plotter;
  TChartlabs *w = nullptr;

  explicit Rig(const std::vector<std::string> &points = kPoints, int page = 2) {
    plotter = makePlotterFor(frame, points, "/home/u/run1.txt");
    frame.adopt(plotter.get());
    showCharts(*plotter);
    SendCommand(plotter.get(), UM_PROCESS, page, page);
    w = windowOf(*plotter);
    frame.codes.clear();
  }
  std::vector<QString> errors(std::size_t from) const {
    std::vector<QString> out;
    for (std::size_t k = from; k < frame.log.size(); ++k)
      if (frame.log[k].error)
        out.push_back(frame.log[k].text);
    return out;
  }
};

double value(const QLineEdit *e) { return TChartlabs::ReadLimit(e->text()).value_or(-12345.0); }

} // namespace

class ChartlabsTest : public QObject {
  Q_OBJECT
private slots:
  void cleanup();

  void processOpensOnEitherPage();
  void fieldsShowTheChartInDataUnits();
  void typingRetitlesAtEveryKeystroke();
  void titleWithQuotesAndCommasKeptExactly();
  void fontButtons();
  void updateLimits_data();
  void updateLimits();
  void refusedLimitKeepsTheChartUsable();
  void limitsWithTheLocalesSeparator();
  void showOrigin_data();
  void showOrigin();
  void resetRecomputesFromTheData();
  void gridLinesOnBothCharts();
  void message1426();
  void closingOneWindowUnbindsEveryPlotter();
  void plotterTakesItsWindowWithItQuietly();
};

void ChartlabsTest::cleanup() { QLocale::setDefault(QLocale::c()); }

void ChartlabsTest::processOpensOnEitherPage() {
  OutputDialogs dialogs;
  RoutingFrame frame;
  auto p = makePlotterFor(frame, kPoints, "/home/u/run1.txt");
  showCharts(*p);
  p->showPage(0);
  SendCommand(p.get(), UM_PROCESS, 3, 3);
  QVERIFY(!p->TitlesWindow);
  QCOMPARE(p->currentPage(), 0);

  SendCommand(p.get(), UM_PROCESS, 1, 1);
  TChartlabs *w = windowOf(*p);
  QVERIFY(w);
  QVERIFY(w->Ready);
  QCOMPARE(p->currentPage(), 3); // "View Chart"
  QCOMPARE(w->Labels->currentWidget(), w->TabLabels);
  QCOMPARE(w->windowTitle(), QStringLiteral("Chartlabs"));
  QCOMPARE(w->size(), QSize(403, 275));
  QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
  QCOMPARE(w->Labels->tabPosition(), QTabWidget::West);
  QCOMPARE(w->Labels->tabText(0), QStringLiteral("Titles && Labels"));
  QCOMPARE(w->Labels->tabText(1), QStringLiteral("Axis Settings"));

  // The same window comes back, restored, on the other page.
  w->showMinimized();
  SendCommand(p.get(), UM_PROCESS, 2, 2);
  QCOMPARE(windowOf(*p), w);
  QVERIFY(!w->isMinimized());
  QCOMPARE(w->Labels->currentWidget(), w->TabAxis);
  QCOMPARE(p->findChildren<TChartlabs *>().size(), 1);
}

void ChartlabsTest::fieldsShowTheChartInDataUnits() {
  // Large ordinates: the y axis is rescaled, the fields are not.
  Rig rig({"1 2000000 10000 A", "2 4100000 20000 A", "3 5900000 30000 A"});
  QVERIFY(rig.plotter->YScale != 1.0);
  QCOMPARE(value(rig.w->ymin), rig.plotter->YLow);
  QCOMPARE(value(rig.w->ymax), rig.plotter->YHigh);
  QCOMPARE(value(rig.w->xmin), rig.plotter->XLow);
  QCOMPARE(value(rig.w->xmax), rig.plotter->XHigh);
  QCOMPARE(rig.w->EditTitle->text(), QStringLiteral("run1"));
  QCOMPARE(rig.w->EditXa->text(), QStringLiteral(" "));
  QVERIFY(rig.w->xGrid->isChecked() && rig.w->yGrid->isChecked());
  // Filling the window changed nothing on the chart.
  QCOMPARE(rig.plotter->MChart->titleText(), QStringLiteral("run1"));

  // After a zoom the fields show the range on the screen.
  rig.plotter->MChart->xAxis->setRange(1.5, 2.5);
  SendCommand(rig.plotter.get(), UM_PROCESS, 2, 2);
  QCOMPARE(value(rig.w->xmin), 1.5);
  QCOMPARE(value(rig.w->xmax), 2.5);
}

void ChartlabsTest::typingRetitlesAtEveryKeystroke() {
  Rig rig(kPoints, 1);
  TFit &p = *rig.plotter;
  rig.w->EditTitle->clear();
  QTest::keyClicks(rig.w->EditTitle, QStringLiteral("Pen"));
  QCOMPARE(p.MChart->titleText(), QStringLiteral("Pen"));
  QTest::keyClick(rig.w->EditTitle, Qt::Key_D);
  QCOMPARE(p.MChart->titleText(), QStringLiteral("Pend"));
  QCOMPARE(rig.frame.codes, (std::vector<long long>{5, 5, 5, 5, 5}));

  QTest::keyClicks(rig.w->EditXa, QStringLiteral("t / s"));
  QCOMPARE(p.XAxisTitle, QStringLiteral(" t / s"));
  QCOMPARE(p.MChart->xAxis->label(), p.XAxisTitle + p.XAxisSuffix);
  rig.w->EditYa->setText(QStringLiteral("L / m"));
  QCOMPARE(p.YAxisTitle, QStringLiteral("L / m"));
  QCOMPARE(p.MChart->yAxis->label(), QStringLiteral("L / m") + p.YAxisSuffix);
  QCOMPARE(p.MChart->titleText(), QStringLiteral("Pend"));

  // Typing in a limit changes nothing until "Update".
  const double low = p.XLow;
  rig.frame.codes.clear();
  QTest::keyClicks(rig.w->xmin, QStringLiteral("7"));
  QCOMPARE(p.XLow, low);
  QVERIFY(rig.frame.codes.empty());
  // A click on a limit's label takes the titles.
  QTest::mouseClick(rig.w->xminLabel, Qt::LeftButton);
  QCOMPARE(rig.frame.codes, std::vector<long long>{5});
}

void ChartlabsTest::titleWithQuotesAndCommasKeptExactly() {
  OutputDialogs dialogs;
  RoutingFrame frame;
  auto p = makePlotterFor(frame, kPoints, "/home/u/run1.txt");
  showCharts(*p);
  const QString title = QStringLiteral("Run 1, \"cold\" pendulum,  g = 9.81");
  p->setChartTitle(title);
  p->LabelsClick(1);
  TChartlabs *w = windowOf(*p);
  QCOMPARE(w->EditTitle->text(), title);
  w->EditXa->setText(QStringLiteral("x"));
  QCOMPARE(p->MChart->titleText(), title);
}

void ChartlabsTest::fontButtons() {
  Rig rig(kPoints, 1);
  OutputDialogs &dialogs = rig.dialogs;
  TFit &p = *rig.plotter;
  const int labelSize = p.MChart->xAxis->tickLabelFont().pointSize();

  // Cancelled: nothing is sent.
  rig.w->SBFontTitle->click();
  QCOMPARE(dialogs.fonts, 1);
  QVERIFY(rig.frame.codes.empty());

  QFont chosen(QStringLiteral("Liberation Serif"), 16);
  chosen.setBold(true);
  dialogs.fontAnswer = chosen;
  rig.w->SBFontTitle->click();
  QCOMPARE(rig.frame.codes, std::vector<long long>{5});
  QCOMPARE(p.MChart->title()->font().family(), chosen.family());
  QVERIFY(p.MChart->title()->font().bold());
  QCOMPARE(p.MChart->title()->font().pointSize(), 16);
  QCOMPARE(p.TitleFontSize, 16);
  QCOMPARE(p.DevChart->title()->font().pointSize(), 14);
  p.RestoreChartFonts(); // the font timer keeps the chosen size
  QCOMPARE(p.MChart->title()->font().pointSize(), 16);

  QFont axis(QStringLiteral("Liberation Mono"), 12);
  axis.setItalic(true);
  dialogs.fontAnswer = axis;
  rig.w->SBFontAxies->click();
  for (QCPAxis *a : {p.MChart->xAxis, p.MChart->yAxis, p.DevChart->xAxis, p.DevChart->yAxis}) {
    QCOMPARE(a->labelFont().family(), axis.family());
    QVERIFY(a->labelFont().italic());
  }
  // Axis titles keep the size of the axis labels on the main chart.
  QCOMPARE(p.MChart->xAxis->labelFont().pointSize(), labelSize);
  QCOMPARE(p.LabelFontSize, labelSize);
}

// A refused limit falls back to what the chart showed just before the
// Update; NaN in the table (an empty field text) stands for that limit.
constexpr double kShown = std::numeric_limits<double>::quiet_NaN();

void ChartlabsTest::updateLimits_data() {
  QTest::addColumn<QString>("low");
  QTest::addColumn<QString>("high");
  QTest::addColumn<QStringList>("errors");
  QTest::addColumn<double>("xlow");
  QTest::addColumn<double>("xhigh");
  QTest::addColumn<QString>("lowField");
  QTest::addColumn<QString>("highField");
  const QString order = QStringLiteral("Error Xmin is Larger than Xmax restoring old values");
  QTest::newRow("accepted") << "-2"
                            << "12.5" << QStringList() << -2.0 << 12.5 << "-2"
                            << "12.5";
  QTest::newRow("equal limits accepted") << "3"
                                         << "3" << QStringList() << 3.0 << 3.0 << "3"
                                         << "3";
  QTest::newRow("minimum larger") << "5"
                                  << "2" << QStringList{order} << kShown << kShown << ""
                                  << "";
  QTest::newRow("minimum just larger") << "2"
                                       << "1.8" << QStringList{order} << kShown << kShown << ""
                                       << "";
  QTest::newRow("letters in xmin")
      << "abc"
      << "10" << QStringList{QStringLiteral("Error in xmin")} << kShown << 10.0 << ""
      << "10";
  QTest::newRow("letters in xmax")
      << "1"
      << "ten" << QStringList{QStringLiteral("Error in xmax")} << 1.0 << kShown << "1"
      << "";
  QTest::newRow("grouping is no number")
      << "1,5"
      << "4" << QStringList{QStringLiteral("Error in xmin")} << kShown << 4.0 << ""
      << "4";
  QTest::newRow("both bad, then out of order")
      << "x"
      << "-1" << QStringList{QStringLiteral("Error in xmin"), order} << kShown << kShown << ""
      << "";
}

void ChartlabsTest::updateLimits() {
  QFETCH(QString, low);
  QFETCH(QString, high);
  QFETCH(QStringList, errors);
  QFETCH(double, xlow);
  QFETCH(double, xhigh);
  QFETCH(QString, lowField);
  QFETCH(QString, highField);
  Rig rig;
  const double ylow = rig.plotter->YLow, yhigh = rig.plotter->YHigh;
  // What the chart shows before the Update, in data units.
  const QCPRange shown = rig.plotter->MChart->xAxis->range();
  const double shownLow = shown.lower * rig.plotter->XScale + rig.plotter->XOffset;
  const double shownHigh = shown.upper * rig.plotter->XScale + rig.plotter->XOffset;
  QVERIFY(shownLow < shownHigh);
  if (std::isnan(xlow)) {
    xlow = shownLow;
    lowField = TChartlabs::LimitText(shownLow);
  }
  if (std::isnan(xhigh)) {
    xhigh = shownHigh;
    highField = TChartlabs::LimitText(shownHigh);
  }
  const std::size_t logged = rig.frame.log.size();
  rig.w->xmin->setText(low);
  rig.w->xmax->setText(high);
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);

  QStringList got;
  for (const QString &e : rig.errors(logged))
    got << e;
  QCOMPARE(got, errors);
  QCOMPARE(rig.w->xmin->text(), lowField);
  QCOMPARE(rig.w->xmax->text(), highField);
  QCOMPARE(rig.plotter->XLow, xlow);
  QCOMPARE(rig.plotter->XHigh, xhigh);
  // The y limits the fields showed are applied with them.
  QCOMPARE(rig.plotter->YLow, ylow);
  QCOMPARE(rig.plotter->YHigh, yhigh);
  // Limits, then automatic axes and a redraw; equal limits redraw too,
  // without any failure report.
  QCOMPARE(rig.frame.codes, (std::vector<long long>{3, 2}));
  QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.messages.join('|')));
  if (xlow < xhigh) {
    QCOMPARE(rig.plotter->MChart->xAxis->range().lower, xlow);
    QCOMPARE(rig.plotter->MChart->xAxis->range().upper, xhigh);
  }
}

void ChartlabsTest::refusedLimitKeepsTheChartUsable() {
  Rig rig;
  // Limits the user set by hand.
  rig.w->xmin->setText(QStringLiteral("0.5"));
  rig.w->xmax->setText(QStringLiteral("4.5"));
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);
  QCOMPARE(rig.plotter->XLow, 0.5);
  // A refused pair keeps those limits, in the fields and on the chart.
  rig.w->xmin->setText(QStringLiteral("2"));
  rig.w->xmax->setText(QStringLiteral("1.8"));
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);
  QCOMPARE(rig.w->xmin->text(), QStringLiteral("0.5"));
  QCOMPARE(rig.w->xmax->text(), QStringLiteral("4.5"));
  QCOMPARE(rig.plotter->MChart->xAxis->range().lower, 0.5);
  QCOMPARE(rig.plotter->MChart->xAxis->range().upper, 4.5);
  // and later Updates still work.
  rig.w->xmin->setText(QStringLiteral("1"));
  rig.w->xmax->setText(QStringLiteral("3"));
  QTest::mouseClick(rig.w->UpdateBtn, Qt::LeftButton);
  QCOMPARE(rig.plotter->MChart->xAxis->range().lower, 1.0);
  QCOMPARE(rig.plotter->MChart->xAxis->range().upper, 3.0);
}

void ChartlabsTest::limitsWithTheLocalesSeparator() {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Rig rig({"0.5 2 0.1 A", "1.5 4.1 0.2 A", "2.5 5.9 0.2 A"});
  QVERIFY(rig.w->xmin->text().contains(QLatin1Char(',')));
  const std::size_t logged = rig.frame.log.size();
  rig.w->xmin->setText(QStringLiteral("0,25"));
  rig.w->xmax->setText(QStringLiteral("2,75"));
  rig.w->UpdateBtn->click();
  QVERIFY(rig.errors(logged).empty());
  QCOMPARE(rig.plotter->XLow, 0.25);
  QCOMPARE(rig.plotter->XHigh, 2.75);
  // A point is not this locale's separator.
  rig.w->xmin->setText(QStringLiteral("0.25"));
  rig.w->UpdateBtn->click();
  QCOMPARE(rig.errors(logged), std::vector<QString>{QStringLiteral("Error in xmin")});
}

void ChartlabsTest::showOrigin_data() {
  QTest::addColumn<bool>("yAxis");
  QTest::addColumn<QString>("low");
  QTest::addColumn<QString>("after");
  QTest::newRow("x positive") << false << "0.5"
                              << "0";
  QTest::newRow("x negative") << false << "-3"
                              << "-3";
  QTest::newRow("x zero") << false << "0"
                          << "0";
  QTest::newRow("y positive") << true << "1.25"
                              << "0";
  QTest::newRow("y negative") << true << "-0.5"
                              << "-0.5";
}

void ChartlabsTest::showOrigin() {
  QFETCH(bool, yAxis);
  QFETCH(QString, low);
  QFETCH(QString, after);
  Rig rig;
  TFit &p = *rig.plotter;
  QLineEdit *field = yAxis ? rig.w->ymin : rig.w->xmin;
  field->setText(low);
  const double before = yAxis ? p.YLow : p.XLow;
  (yAxis ? rig.w->YOrgin : rig.w->XOrgin)->click();
  QCOMPARE(field->text(), after);
  QCOMPARE(rig.frame.codes, std::vector<long long>{2});
  // The chart shows the origin only after "Update".
  QCOMPARE(yAxis ? p.YLow : p.XLow, before);
  rig.w->UpdateBtn->click();
  QCOMPARE(yAxis ? p.YLow : p.XLow, value(field));
}

void ChartlabsTest::resetRecomputesFromTheData() {
  Rig rig;
  TFit &p = *rig.plotter;
  const double xl = p.XLow, xh = p.XHigh, yl = p.YLow, yh = p.YHigh;
  rig.w->xmin->setText(QStringLiteral("-10"));
  rig.w->ymax->setText(QStringLiteral("100"));
  rig.w->UpdateBtn->click();
  QCOMPARE(p.XLow, -10.0);
  QCOMPARE(p.YHigh, 100.0);

  rig.w->ResetBtn->click();
  QCOMPARE(p.XLow, xl);
  QCOMPARE(p.XHigh, xh);
  QCOMPARE(p.YLow, yl);
  QCOMPARE(p.YHigh, yh);
  QCOMPARE(value(rig.w->xmin), xl);
  QCOMPARE(value(rig.w->ymax), yh);
  QCOMPARE(p.MChart->xAxis->range().lower, xl);
  QVERIFY(rig.w->Ready);
}

void ChartlabsTest::gridLinesOnBothCharts() {
  Rig rig;
  TFit &p = *rig.plotter;
  struct step {
    QCheckBox *box;
    bool on;
  };
  for (const step &s : {step{rig.w->xGrid, false}, step{rig.w->yGrid, false},
                        step{rig.w->xGrid, true}, step{rig.w->yGrid, true}}) {
    s.box->click();
    QCOMPARE(s.box->isChecked(), s.on);
    QCPAxis *main = s.box == rig.w->xGrid ? p.MChart->xAxis : p.MChart->yAxis;
    QCPAxis *dev = s.box == rig.w->xGrid ? p.DevChart->xAxis : p.DevChart->yAxis;
    QCOMPARE(main->grid()->visible(), s.on);
    QCOMPARE(dev->grid()->visible(), s.on);
  }
  QCOMPARE(rig.frame.codes, (std::vector<long long>{10, 20, 10, 20}));
  // The window reads the charts' grid lines when it is filled.
  rig.w->xGrid->click();
  SendCommand(rig.plotter.get(), UM_PROCESS, 2, 2);
  QVERIFY(!rig.w->xGrid->isChecked());
  QVERIFY(rig.w->yGrid->isChecked());
}

void ChartlabsTest::message1426() {
  static_assert(UM_TITLESANDGRID == 1426, "the message keeps its number");
  Rig rig;
  TFit &p = *rig.plotter;
  SendCommand(&p, UM_TITLESANDGRID, 10, 10);
  QVERIFY(!p.MChart->xAxis->grid()->visible());
  QVERIFY(!p.DevChart->xAxis->grid()->visible());
  QVERIFY(p.MChart->yAxis->grid()->visible());
  SendCommand(&p, UM_TITLESANDGRID, 20, 20);
  QVERIFY(!p.MChart->yAxis->grid()->visible());
  QVERIFY(!p.DevChart->yAxis->grid()->visible());
  SendCommand(&p, UM_TITLESANDGRID, 10, 10);
  QVERIFY(p.MChart->xAxis->grid()->visible());

  // wParam 5 takes the window's titles.
  rig.w->Ready = false; // so that the edit's own code is ignored
  rig.w->EditTitle->setText(QStringLiteral("from the window"));
  rig.w->Ready = true;
  QCOMPARE(p.MChart->titleText(), QStringLiteral("run1"));
  SendCommand(&p, UM_TITLESANDGRID, 5, 5);
  QCOMPARE(p.MChart->titleText(), QStringLiteral("from the window"));
}

void ChartlabsTest::closingOneWindowUnbindsEveryPlotter() {
  OutputDialogs dialogs;
  FrameRig rig; // the program's frame passes the codes on to every child
  TFit *a = rig.adopt(makePlotterFor(*rig.frame, kPoints, "/home/u/a.txt"));
  TFit *b = rig.adopt(makePlotterFor(*rig.frame, kPoints, "/home/u/b.txt"));
  a->LabelsClick(1);
  b->LabelsClick(1);
  TChartlabs *wa = windowOf(*a);
  TChartlabs *wb = windowOf(*b);
  QVERIFY(wa && wb && wa != wb);

  // Each window edits its own plotter.
  wa->EditTitle->setText(QStringLiteral("A title"));
  wb->EditTitle->setText(QStringLiteral("B title"));
  QCOMPARE(a->MChart->titleText(), QStringLiteral("A title"));
  QCOMPARE(b->MChart->titleText(), QStringLiteral("B title"));

  QPointer<TChartlabs> closedOne(wa);
  wa->CloseBtn->click();
  QVERIFY(!a->TitlesWindow);
  QVERIFY(!b->TitlesWindow);
  QTRY_VERIFY(!closedOne);

  // B's window stays on the screen, but what it sends is ignored ...
  QVERIFY(wb->isVisible());
  wb->EditTitle->setText(QStringLiteral("ignored"));
  QCOMPARE(b->MChart->titleText(), QStringLiteral("B title"));
  // ... until B's "&Labels" binds it again.
  b->LabelsClick(1);
  QCOMPARE(windowOf(*b), wb);
  QCOMPARE(wb->EditTitle->text(), QStringLiteral("B title"));
  wb->EditTitle->setText(QStringLiteral("B again"));
  QCOMPARE(b->MChart->titleText(), QStringLiteral("B again"));
  QCOMPARE(a->MChart->titleText(), QStringLiteral("A title"));
  // A's next "&Labels" makes A a new window.
  a->LabelsClick(1);
  QVERIFY(windowOf(*a) && windowOf(*a) != wb);
}

void ChartlabsTest::plotterTakesItsWindowWithItQuietly() {
  OutputDialogs dialogs;
  RoutingFrame frame;
  auto p = makePlotterFor(frame, kPoints, "/home/u/run1.txt");
  frame.adopt(p.get());
  showCharts(*p);
  p->LabelsClick(2);
  QPointer<TChartlabs> w(windowOf(*p));
  QVERIFY(w);
  frame.codes.clear();
  p.reset();
  QVERIFY(!w);
  QVERIFY(frame.codes.empty());
}

QTEST_MAIN(ChartlabsTest)
#include "chartlabs_test.moc"
