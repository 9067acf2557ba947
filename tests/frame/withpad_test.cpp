// The frame together with the real scratch pad: the close protocol when a
// modified pad is kept, and the log's answer to a conversion that fails.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "frametestkit.h"

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

QTEST_MAIN(WithPadTest)
#include "withpad_test.moc"
