// The frame together with the real scratch pad: the close protocol when a
// modified pad is kept, and the log's answer to a conversion that fails.
#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "frametestkit.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  std::unique_ptr<TMainForm> frame;

  Rig() {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->setPadFactory(&NewScratchPad);
    frame->CreateLog();
    frame->show();
    settle();
  }
  TJotPad *newPad(const QString &text) {
    frame->FileNew();
    auto *pad = qobject_cast<TJotPad *>(frame->activeChild());
    pad->Memo->setPlainText(text);
    return pad;
  }
};

} // namespace

class WithPadTest : public QObject {
  Q_OBJECT

private slots:
  void keptPadHoldsTheFrameUntilClosed();
  void failedConversionLogsOneErrorAndBringsTheLogForward();
  void clipboardKeysRunTheFramesCommands();
  void whatToPrintKeysWorkWithTheChartMenuOff();
  void windowsOpenAtTheirSizeAndTileInsideTheFrame();
};

void WithPadTest::keptPadHoldsTheFrameUntilClosed() {
  Rig rig;
  QSignalSpy closed(rig.frame.get(), &TMainForm::frameClosed);
  TJotPad *quiet = rig.newPad(QString());
  quiet->setModified(false);
  QPointer<TJotPad> quietAlive(quiet);
  TJotPad *changed = rig.newPad(QStringLiteral("1 2 3\n"));
  changed->setModified(true);
  QPointer<TJotPad> changedAlive(changed);

  rig.dialogs.fake.answer = Dialogs::Answer::No; // keep the changes
  rig.frame->FileExit();
  QCOMPARE(rig.dialogs.fake.questions, 1);
  QTRY_VERIFY(!quietAlive);
  QTest::qWait(450);
  QVERIFY(changedAlive);
  QCOMPARE(closed.count(), 0);
  QVERIFY(rig.frame->isVisible());

  // The user closes the pad after all: the program ends by itself.
  rig.dialogs.fake.answer = Dialogs::Answer::Yes;
  rig.frame->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(changed->parentWidget()));
  rig.frame->action(QStringLiteral("FileClose"))->setEnabled(true);
  rig.frame->action(QStringLiteral("FileClose"))->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 400); // a timer period and a margin
  QVERIFY(!changedAlive || changedAlive->isHidden());
}

void WithPadTest::failedConversionLogsOneErrorAndBringsTheLogForward() {
  Rig rig;
  TJotPad *pad = rig.newPad(QStringLiteral("1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 c\n"));
  const int before = rig.frame->log()->lines().size();
  rig.frame->CTxtFileClick();
  settle();
  const QStringList lines = rig.frame->log()->lines().mid(before);
  QCOMPARE(lines.size(), 1);
  QVERIFY2(lines[0].endsWith(QStringLiteral(
               " - Minumm of two points in a dataset is required to convert a file to a chart")),
           qPrintable(lines[0]));
  QCOMPARE(rig.beeps.count, 1);
  QCOMPARE(rig.frame->activeChild(), rig.frame->log());
  Q_UNUSED(pad);
}

// Ctrl+X, Ctrl+C and Ctrl+V typed in a pad run the frame's Cut, Copy and
// Paste commands, as the menu and the tool buttons do.
void WithPadTest::clipboardKeysRunTheFramesCommands() {
  Rig rig;
  TJotPad *pad = rig.newPad(QStringLiteral("1 2 0.1"));
  rig.frame->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
  pad->Memo->setFocus();
  pad->Memo->selectAll();
  settle(); // the frame's command state follows the selection
  QTest::qWait(250);
  QVERIFY(rig.frame->action(QStringLiteral("EditCopyItem"))->isEnabled());

  QTest::keyClick(pad->Memo, Qt::Key_C, Qt::ControlModifier);
  settle();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Copied to the Clipboard"));
  QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("1 2 0.1"));

  QTest::keyClick(pad->Memo, Qt::Key_X, Qt::ControlModifier);
  settle();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Cut to the Clipboard"));
  QCOMPARE(pad->text(), QString());

  QTest::qWait(250);
  QVERIFY(rig.frame->action(QStringLiteral("EditPasteItem"))->isEnabled());
  QTest::keyClick(pad->Memo, Qt::Key_V, Qt::ControlModifier);
  settle();
  QCOMPARE(rig.frame->statusText(), QStringLiteral("Pasted to the Clipboard"));
  QCOMPARE(pad->text(), QStringLiteral("1 2 0.1")); // pasted once, not twice
}

// With a pad active the "&Chart" menu is off; Shift+F6 to Shift+F8 still
// flip the "What to Print" marks.
void WithPadTest::whatToPrintKeysWorkWithTheChartMenuOff() {
  Rig rig;
  TJotPad *pad = rig.newPad(QStringLiteral("1 2 0.1"));
  rig.frame->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
  pad->Memo->setFocus();
  QTest::qWait(250);
  QVERIFY(!rig.frame->action(QStringLiteral("MenuChart"))->isEnabled());
  const struct {
    const char *name;
    Qt::Key key;
  } marks[] = {
      {"WTPMainChart", Qt::Key_F6}, {"WTPResiduals", Qt::Key_F7}, {"WTPInformation", Qt::Key_F8}};
  for (const auto &m : marks) {
    QAction *a = rig.frame->action(QLatin1String(m.name));
    QVERIFY(a->isEnabled());
    QVERIFY(a->isChecked());
    QTest::keyClick(pad->Memo, m.key, Qt::ShiftModifier);
    QVERIFY2(!a->isChecked(), m.name);
  }
  QCOMPARE(rig.frame->statusText(),
           QStringLiteral("Information on the fits WILL NOT Be Printed On A Print Request"));
}

// A pad opens at the size it asks for, so its caption and text show; a
// plotter at its own; Window > Tile keeps every window inside the frame.
void WithPadTest::windowsOpenAtTheirSizeAndTileInsideTheFrame() {
  Rig rig;
  TJotPad *pad = rig.newPad(QStringLiteral("1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 a\n"));
  settle();
  QCOMPARE(pad->size(), QSize(480, 360));
  auto *mdi = rig.frame->mdiArea();
  for (int k = 0; k < 2; ++k) { // two plotters from the pad
    mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(pad->parentWidget()));
    rig.frame->CTxtFileClick();
    settle();
  }
  int plotters = 0;
  for (QMdiSubWindow *sub : mdi->subWindowList()) {
    if (auto *p = qobject_cast<TFit *>(sub->widget())) {
      ++plotters;
      p->CloseWithoutPrompt = true;
      QVERIFY(p->width() >= 580 && p->height() >= 580);
    }
  }
  QCOMPARE(plotters, 2);

  rig.frame->action(QStringLiteral("WindowTileItem"))->trigger();
  settle();
  const QRect area = mdi->viewport()->rect();
  for (QMdiSubWindow *sub : mdi->subWindowList())
    QVERIFY2(area.contains(sub->geometry()),
             qPrintable(sub->windowTitle() + QStringLiteral(" outside the frame")));
  QVERIFY(!mdi->horizontalScrollBar()->isVisible());
  QVERIFY(!mdi->verticalScrollBar()->isVisible());
}

QTEST_MAIN(WithPadTest)
#include "withpad_test.moc"
