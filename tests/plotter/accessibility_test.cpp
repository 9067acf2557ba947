// Every control a user can reach with the keyboard carries an accessible
// name, as a screen reader (and a test robot on the accessibility bus)
// finds it: the frame, a scratch pad, a plotter on each of its pages, its
// titles and axes window, the log, the preferences, the About box, the help
// window and a teaching-pages window.
// Covers frame/accessiblenames.cpp.
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QDebug>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include "frame/aboutbox.h"
#include "frame/helpwindow.h"
#include "frame/pad/jotpad.h"
#include "frame/preferences.h"
#include "frame/teachform.h"
#include "plotter/chartlabs.h"
#include "plotter/controls.h"
#include "tests/plotter/outputfixture.h"

using namespace orvalle;
using namespace orvalle::test;

namespace {

// A widget the user can reach in `window`: it takes focus by Tab and is not
// hidden on purpose (a page of a tab or stack that is merely not shown
// counts as reachable).
bool reachable(QWidget *w, QWidget *window) {
  if (!(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() || !w->isEnabledTo(window))
    return false;
  for (QWidget *a = w; a && a != window; a = a->parentWidget()) {
    const bool page = qobject_cast<QStackedWidget *>(a->parentWidget()) != nullptr;
    if (a->isHidden() && !page)
      return false;
  }
  return true;
}

// The name a screen reader announces: the name given to the control, else
// for a button its caption. A control without a caption of its own (an
// edit, a chooser, a list) must have been given its label's caption.
QString accessibleName(QWidget *w) {
  if (!w)
    return {};
  // The line edit inside a spin box or an editable combo box speaks with
  // its owner's name.
  QWidget *owner = w->parentWidget();
  if (qobject_cast<QComboBox *>(owner) || qobject_cast<QAbstractSpinBox *>(owner))
    w = owner;
  if (!w->accessibleName().trimmed().isEmpty())
    return w->accessibleName().trimmed();
  if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QMdiSubWindow *>(w)) {
    QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(w);
    return ai ? ai->text(QAccessible::Name).trimmed() : QString();
  }
  return {};
}

// The reachable controls of `window` without an accessible name.
QStringList unnamed(QWidget *window) {
  QStringList out;
  for (QWidget *w : window->findChildren<QWidget *>()) {
    if (w->window() != window || !reachable(w, window))
      continue;
    if (accessibleName(w).isEmpty())
      out << QStringLiteral("%1 \"%2\" in %3")
                 .arg(QLatin1String(w->metaObject()->className()), w->objectName(),
                      w->parentWidget() ? w->parentWidget()->objectName() : QString());
  }
  return out;
}

} // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT
private slots:
  void everyReachableControlHasAName();
  void choosersAreNamedAfterTheirLabels();
  void tabFollowsTheForm();
};

void AccessibilityTest::everyReachableControlHasAName() {
  FrameRig rig;
  rig.frame->setPadFactory(&NewScratchPad);
  rig.frame->FileNew();
  TFit *plotter = rig.adopt(makePlotter(*rig.frame, taggedLines(2), "/home/u/run1.txt"));
  showCharts(*plotter);
  plotter->LabelsClick(1);
  QCoreApplication::processEvents();
  TPreferences preferences(*rig.frame);
  TAboutBox *about = rig.frame->CreateAboutBox();
  rig.frame->HelpContents();
  rig.frame->TeachingPages1Click();
  QCoreApplication::processEvents();

  std::vector<QWidget *> windows{rig.frame.get(), &preferences, about};
  for (auto *w : rig.frame->findChildren<TChartlabs *>())
    windows.push_back(w);
  for (auto *w : rig.frame->findChildren<THelpWindow *>())
    windows.push_back(w);
  for (auto *w : plotter->findChildren<TChartlabs *>())
    windows.push_back(w);
  QStringList missing;
  for (QWidget *window : windows)
    for (const QString &m : unnamed(window->window()))
      missing << window->window()->objectName() + QStringLiteral(": ") + m;
  missing.removeDuplicates();
  QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

void AccessibilityTest::choosersAreNamedAfterTheirLabels() {
  FakeFrame frame;
  auto plotter = makePlotter(frame, taggedLines(2), "/home/u/run1.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  const std::pair<QWidget *, const char *> named[] = {
      {plotter->TrDataset, "Dataset"}, {plotter->CBoxDetails, "Fit"},
      {plotter->TrName, "Name"},       {plotter->EditName, "DataSet Name"},
      {plotter->Xdata, "X Data"},      {plotter->EditErrFixed, "Value"},
      {plotter->AddTr, "Fit && Plot"}, {plotter->EstA, "Estimate A"},
  };
  for (const auto &[widget, name] : named)
    QCOMPARE(accessibleName(widget),
             QString::fromUtf8(name).replace(QStringLiteral("&&"), QStringLiteral("&")));
  // Labels above their edits name them too (the titles window).
  plotter->LabelsClick(1);
  auto *titles = plotter->findChild<TChartlabs *>();
  QVERIFY(titles);
  QCOMPARE(accessibleName(titles->EditTitle), QStringLiteral("Title"));
  QCOMPARE(accessibleName(titles->xmin), QStringLiteral("X Min"));
}

// Tab walks the controls of a form in the order a reader of the form meets
// them: down the panel of the Custom Add Dataset page, through the fit's
// dataset, name and button on the fits page.
void AccessibilityTest::tabFollowsTheForm() {
  FakeFrame frame;
  auto plotter = makePlotter(frame, {"1 2 3 4", "2 3 4 5", "3 4 5 6"}, "/home/u/run1.txt");
  QVERIFY(plotter);
  showCharts(*plotter);
  auto order = [](QWidget *page) {
    std::vector<QWidget *> seen;
    QWidget *start = page->nextInFocusChain();
    for (QWidget *w = start; w != page; w = w->nextInFocusChain())
      if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && page->isAncestorOf(w) &&
          !w->focusProxy() && !w->isHidden())
        seen.push_back(w);
    return seen;
  };
  auto sequence = [](const std::vector<QWidget *> &seen, std::vector<QWidget *> wanted) {
    std::vector<QWidget *> got;
    for (QWidget *w : seen)
      if (std::find(wanted.begin(), wanted.end(), w) != wanted.end())
        got.push_back(w);
    if (got != wanted)
      for (QWidget *w : seen)
        qInfo() << w << w->accessibleName() << w->isEnabled();
    return got == wanted;
  };
  plotter->AddBtn->setEnabled(true);
  QVERIFY(sequence(order(plotter->TabSheet2),
                   {plotter->EditName, plotter->Xdata, plotter->Ydata, plotter->ErYdata,
                    plotter->DataColorBox, plotter->AddBtn}));
  // The fits page, with datasets to choose from.
  auto tagged = makePlotter(frame, taggedLines(2), "/home/u/run2.txt");
  QVERIFY(tagged);
  showCharts(*tagged);
  tagged->AddTr->setEnabled(true);
  QVERIFY(sequence(order(tagged->TabSheet5), {tagged->TrDataset, tagged->TrName, tagged->AddTr}));
}

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
