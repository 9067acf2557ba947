// The plotter window: its form, the command messages it answers, the frame
// command state it asserts, the font restore and the close question.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "plotter/charts.h"
#include "plotter/controls.h"
#include "tests/plotter/plotterfixture.h"

using namespace orvalle;
using namespace orvalle::test;

class TFitTest : public QObject {
  Q_OBJECT
private slots:
  void formPagesAndControls();
  void trendTypesFollowTheSetting();
  void ignoredMessagesChangeNothing();
  void frameCommandsWithPlotterActive();
  void datasetChoosersNeedTwoDatasets();
  void multiFitGroupOnlyForStraightLines();
  void fontsRestoredByTimer();
  void printingSuspendsFontsAndCommands();
  void closeQuestion_data();
  void closeQuestion();
  void closeRequestAsksInASubWindow();
};

void TFitTest::formPagesAndControls() {
  FakeFrame frame;
  TFit fit(frame);
  QCOMPARE(fit.PageControl->count(), 4);
  QCOMPARE(fit.PageControl->tabText(0), QStringLiteral("Custom Add Dataset"));
  QCOMPARE(fit.PageControl->tabText(1), QStringLiteral("View Datasets"));
  QCOMPARE(fit.PageControl->tabText(2), QStringLiteral("Add Fits/TrendLines "));
  QCOMPARE(fit.PageControl->tabText(3), QStringLiteral("View Chart"));
  QCOMPARE(fit.currentPage(), 3);
  QCOMPARE(fit.minimumSize(), QSize(580, 580));
  QVERIFY(fit.width() >= 580 && fit.height() >= 580);

  QCOMPARE(fit.AddBtn->text(), QStringLiteral("Add "));
  QVERIFY(!fit.AddBtn->isEnabled());
  QCOMPARE(fit.EditErrFixed->text(), QStringLiteral("1"));
  QCOMPARE(fit.FixedError, 1.0);
  QVERIFY(fit.temo->isHidden());
  QCOMPARE(fit.TrackBar->minimum(), 0);
  QCOMPARE(fit.TrackBar->maximum(), 1);
  QCOMPARE(fit.TrType->title(), QStringLiteral("Trend/Regression Type"));
  QCOMPARE(fit.TrType->itemIndex(), 0);
  QVERIFY(fit.Estimates->isHidden());
  QCOMPARE(fit.EstC->text(), QStringLiteral("1"));
  QCOMPARE(fit.AddTr->text(), QStringLiteral("Fit && Plot"));
  QVERIFY(!fit.AddTr->isEnabled());
  QVERIFY(!fit.GoPlotBtn->isEnabled());
  QCOMPARE(fit.MFitType->count(), 2);
  QCOMPARE(fit.MFitType->itemText(1), QStringLiteral("Gradient (a)"));
  QCOMPARE(fit.MFitType->itemIndex(), 0);
  QCOMPARE(fit.Label1->text(), QStringLiteral("Dateset "));
  QCOMPARE(fit.Label13->text(), QStringLiteral("No Degrees of Freedom"));
  QCOMPARE(fit.MChart->titleText(), QStringLiteral("TChart"));
  QCOMPARE(fit.DevChart->titleText(), QStringLiteral("Deviations in the Ordinates"));
  QVERIFY(!fit.MChart->legend->visible());
  QVERIFY(fit.MChart->interactions().testFlag(QCP::iRangeZoom));
  QVERIFY(!fit.DevChart->interactions().testFlag(QCP::iRangeDrag));
  QCOMPARE(fit.DevChart->height(), 155);
  QCOMPARE(fit.XAxisTitle, QStringLiteral(" "));
  QCOMPARE(fit.LastTab, 0);
  QVERIFY(fit.FontTimer->isActive());
  QCOMPARE(fit.FontTimer->interval(), 2000);
  QCOMPARE(fit.TitleFontSize, fit.MChart->title()->font().pointSize());
  QCOMPARE(fit.LabelFontSize, fit.MChart->xAxis->tickLabelFont().pointSize());
  QCOMPARE(fit.ZeroLine->count(), 0);
  QVERIFY(fit.MultiSelection);
  QCOMPARE(fit.DevChart->xAxis->labelFont(), fit.MChart->xAxis->labelFont());

  fit.setChartTitle(QStringLiteral("run3"));
  QCOMPARE(fit.MChart->titleText(), QStringLiteral("run3"));
}

void TFitTest::trendTypesFollowTheSetting() {
  FakeFrame frame;
  TFit plain(frame);
  // The typed formula comes after every other item.
  QCOMPARE(plain.TrType->count(), 5);
  QCOMPARE(plain.TrType->itemText(3), QStringLiteral("Cubic (y=ax^3+bx^2+cx+d)"));
  QCOMPARE(plain.TrType->itemText(4), QStringLiteral("Formula"));
  frame.sampleFits = true;
  TFit samples(frame);
  QCOMPARE(samples.TrType->count(), 9);
  QCOMPARE(samples.TrType->itemText(4), QStringLiteral("Power y=A*(x^2)^(B/2)"));
  QCOMPARE(samples.TrType->itemText(7), QStringLiteral("Periodic y=A*exp(B*x)*cos(Cx+D)"));
  QCOMPARE(samples.TrType->itemText(8), QStringLiteral("Formula"));
}

void TFitTest::ignoredMessagesChangeNothing() {
  FakeDialogs dialogs;
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(2));
  frame.setAll(true);
  const auto logBefore = frame.log.size();
  for (auto [message, wparam] : {std::pair{int(UM_SAVE), 0}, {1226, 0}, {int(UM_PROCESS), 0}}) {
    QVERIFY(SendCommand(fit.get(), message, wparam, 0));
  }
  QVERIFY(dialogs.questions.isEmpty() && dialogs.messages.isEmpty());
  QCOMPARE(frame.log.size(), logBefore);
  QVERIFY(frame.on(Cmd::FileSaveItem)); // nothing was re-stated
  QCOMPARE(static_cast<int>(fit->Datasets.count), 2);
}

void TFitTest::frameCommandsWithPlotterActive() {
  FakeFrame frame;
  auto fit = makePlotter(frame, {"1 2", "2 4", "3 5"}); // on "Custom Add Dataset"
  QCOMPARE(fit->currentPage(), 0);
  frame.setAll(true);
  frame.command(Cmd::MenuChart)->setEnabled(false);
  frame.command(Cmd::FileClose)->setEnabled(false);
  QVERIFY(SendCommand(fit.get(), UM_UPDATEMENUS));

  for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave, Cmd::TBProcess,
                Cmd::EditUndoItem, Cmd::EditCutItem, Cmd::EditCopyItem, Cmd::EditPasteItem,
                Cmd::TBarCut, Cmd::TBarCopy, Cmd::TBPaste})
    QVERIFY2(!frame.on(c), qPrintable(QString::number(int(c))));
  for (Cmd c :
       {Cmd::MenuChart, Cmd::TBReplot, Cmd::TBExport, Cmd::TBPrint, Cmd::TBAxis, Cmd::TBTitles,
        Cmd::FilePrintItem, Cmd::FileExport, Cmd::Replot, Cmd::FileClose, Cmd::CopytoClipBoard2})
    QVERIFY2(frame.on(c), qPrintable(QString::number(int(c))));
  QCOMPARE(frame.editCalls.back(), std::make_pair(false, false));
  QVERIFY(!fit->EditErrFixed->isEnabled()); // no error source chosen

  // On "View Chart" the copy button copies the information text.
  fit->showPage(3);
  SendCommand(fit.get(), UM_UPDATEMENUS);
  QVERIFY(frame.on(Cmd::TBarCopy));
  QVERIFY(!frame.on(Cmd::EditCopyItem));

  // "Percentage" enables the value box; a column does not.
  fit->ErYdata->setCurrentIndex(2);
  fit->UpdateFrameCommands();
  QVERIFY(fit->EditErrFixed->isEnabled());
  QVERIFY(fit->AddBtn->isEnabled());
  fit->ErYdata->setCurrentIndex(1);
  fit->UpdateFrameCommands();
  QVERIFY(!fit->EditErrFixed->isEnabled());
}

void TFitTest::datasetChoosersNeedTwoDatasets() {
  FakeFrame frame;
  auto one = makePlotter(frame, {"1 2 0.1", "2 4 0.2", "3 6 0.3"});
  one->UpdateFrameCommands();
  QVERIFY(!one->TrDataset->isEnabled());
  QCOMPARE(one->TrDataset->currentIndex(), 0);
  QVERIFY(one->TrackBar->isHidden());
  QVERIFY(one->ViewCBD->isHidden());
  QVERIFY(one->Label15->isHidden());
  one->TrType->setItemIndex(1);
  one->UpdateFrameCommands();
  QVERIFY(one->Multfit->isHidden());

  auto two = makePlotter(frame, taggedLines(2));
  two->UpdateFrameCommands();
  QVERIFY(two->TrDataset->isEnabled());
  QVERIFY(!two->TrackBar->isHidden());
  QVERIFY(!two->ViewCBD->isHidden());
}

void TFitTest::multiFitGroupOnlyForStraightLines() {
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(2));
  fit->UpdateFrameCommands();
  QVERIFY(fit->Multfit->isHidden());
  fit->TrType->setItemIndex(1);
  fit->UpdateFrameCommands();
  QVERIFY(!fit->Multfit->isHidden());
  QVERIFY(fit->Multfit->isEnabled());
  fit->TrType->setItemIndex(2);
  fit->UpdateFrameCommands();
  QVERIFY(fit->Multfit->isHidden());
}

void TFitTest::fontsRestoredByTimer() {
  FakeFrame frame;
  TFit fit(frame);
  QFont f = fit.MChart->xAxis->tickLabelFont();
  const int size = f.pointSize();
  f.setPointSize(size + 10);
  fit.MChart->xAxis->setTickLabelFont(f);
  QFont t = fit.MChart->title()->font();
  t.setPointSize(30);
  fit.MChart->title()->setFont(t);
  QTRY_COMPARE_WITH_TIMEOUT(fit.MChart->xAxis->tickLabelFont().pointSize(), size, 3000);
  QCOMPARE(fit.MChart->title()->font().pointSize(), fit.TitleFontSize);
}

void TFitTest::printingSuspendsFontsAndCommands() {
  FakeFrame frame;
  TFit fit(frame);
  fit.Printing = true;
  QFont f = fit.MChart->yAxis->labelFont();
  f.setPointSize(f.pointSize() + 7);
  fit.MChart->yAxis->setLabelFont(f);
  frame.setAll(true);
  QSignalSpy tick(fit.FontTimer, &QTimer::timeout);
  QVERIFY(tick.wait(3000)); // the font timer has fired and done nothing
  fit.UpdateFrameCommands();
  QCOMPARE(fit.MChart->yAxis->labelFont().pointSize(), f.pointSize());
  QVERIFY(frame.on(Cmd::FileSaveItem));
  QVERIFY(frame.editCalls.empty());

  fit.Printing = false;
  fit.RestoreChartFonts();
  QCOMPARE(fit.MChart->yAxis->labelFont().pointSize(), fit.LabelFontSize);
  fit.UpdateFrameCommands();
  QVERIFY(!frame.on(Cmd::FileSaveItem));
}

void TFitTest::closeQuestion_data() {
  QTest::addColumn<bool>("withoutPrompt");
  QTest::addColumn<int>("answer");
  QTest::addColumn<bool>("closed");
  QTest::addColumn<int>("questions");
  QTest::newRow("no keeps it") << false << int(Dialogs::Answer::No) << false << 1;
  QTest::newRow("yes closes") << false << int(Dialogs::Answer::Yes) << true << 1;
  QTest::newRow("without prompt") << true << int(Dialogs::Answer::No) << true << 0;
}

void TFitTest::closeQuestion() {
  QFETCH(bool, withoutPrompt);
  QFETCH(int, answer);
  QFETCH(bool, closed);
  QFETCH(int, questions);
  FakeDialogs dialogs;
  dialogs.answer = static_cast<Dialogs::Answer>(answer);
  FakeFrame frame;
  auto fit = makePlotter(frame, taggedLines(2));
  fit->CloseWithoutPrompt = withoutPrompt;
  QCOMPARE(fit->close(), closed);
  QCOMPARE(dialogs.questions.size(), questions);
  if (questions)
    QCOMPARE(dialogs.questions[0],
             QStringLiteral("Are you sure you wish to exit from this chart?"));
  QCOMPARE(static_cast<int>(fit->Datasets.count), 2); // unchanged by the question
}

void TFitTest::closeRequestAsksInASubWindow() {
  FakeDialogs dialogs;
  FakeFrame frame;
  QMdiArea area;
  QPointer<TFit> fit = makePlotter(frame, taggedLines(2)).release();
  QMdiSubWindow *sub = area.addSubWindow(fit.data());
  sub->setAttribute(Qt::WA_DeleteOnClose);

  dialogs.answer = Dialogs::Answer::No;
  QVERIFY(SendCommand(fit.data(), UM_CLOSEREQUEST));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!fit.isNull());
  QCOMPARE(dialogs.questions.size(), 1);

  dialogs.answer = Dialogs::Answer::Yes;
  QVERIFY(SendCommand(fit.data(), UM_CLOSEREQUEST));
  QVERIFY(!fit.isNull()); // released after the message, not inside it
  QTRY_VERIFY(fit.isNull());
  QCOMPARE(dialogs.questions.size(), 2);
}

QTEST_MAIN(TFitTest)
#include "tfit_test.moc"
