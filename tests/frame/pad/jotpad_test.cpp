// The scratch pad window on the offscreen platform: saving, the close
// question, converting into plotters, word wrap and the command states.
// Covers, with tests/plotter/export_test.cpp, frame/dialogs.cpp: the real
// question box.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <csignal>
#include <map>
#include <memory>
#include <sys/resource.h>

#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "frame/messages.h"
#include "frame/pad/jotpad.h"
#include "plotter/tfit.h"

using namespace orvalle;

namespace {

struct LogLine {
  int kind;
  bool error;
  QString text;
};

// A frame with an MDI area that owns its children, one action per command,
// and a record of the log.
class PadFrame : public FrameApi {
public:
  PadFrame() {
    for (int c = 0; c <= static_cast<int>(Cmd::WTPInformation); ++c) {
      auto a = std::make_unique<QAction>();
      if (static_cast<Cmd>(c) == Cmd::TBWordWrap)
        a->setCheckable(true);
      actions_[static_cast<Cmd>(c)] = std::move(a);
    }
    area.resize(900, 700);
  }
  QAction *command(Cmd c) override { return actions_.at(c).get(); }
  bool on(Cmd c) { return command(c)->isEnabled(); }
  void setAll(bool enabled) {
    for (auto &a : actions_)
      a.second->setEnabled(enabled);
  }
  void SetEditItems(bool undo, bool selection) override { editCalls.push_back({undo, selection}); }
  void LogEvent(int kind, bool error, const QString &text) override {
    log.push_back({kind, error, text});
  }
  void setStatusText(const QString &) override {}
  std::unique_ptr<MdiChild> makePlotter() override { return NewPlotter(*this); }
  QMdiSubWindow *addChild(QWidget *child) override {
    QMdiSubWindow *sub = area.addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    child->show();
    sub->show();
    return sub;
  }
  bool invmatr() const override { return true; }
  bool samplefits() const override { return false; }
  QString openDir() const override { return {}; }
  QPrinter *printer() override {
    if (!printer_)
      printer_ = std::make_unique<QPrinter>();
    return printer_.get();
  }
  const PluginLibrary *plugin() const override { return nullptr; }

  template <class T> int countOf() const {
    int n = 0;
    for (QMdiSubWindow *s : area.subWindowList())
      if (qobject_cast<T *>(s->widget()))
        ++n;
    return n;
  }
  template <class T> T *last() const {
    T *found = nullptr;
    for (QMdiSubWindow *s : area.subWindowList(QMdiArea::CreationOrder))
      if (auto *w = qobject_cast<T *>(s->widget()))
        found = w;
    return found;
  }

  QMdiArea area;
  std::vector<LogLine> log;
  std::vector<std::pair<bool, bool>> editCalls;

private:
  std::map<Cmd, std::unique_ptr<QAction>> actions_;
  std::unique_ptr<QPrinter> printer_;
};

// Answers the pad's dialogs: save names and close answers are queued.
class PadDialogs : public Dialogs {
public:
  PadDialogs() { previous_ = Dialogs::install(this); }
  ~PadDialogs() override { Dialogs::install(previous_); }

  QString openFile(QWidget *, const QString &, const QString &, const QString &) override {
    return {};
  }
  QString saveFile(QWidget *, const QString &title, const QString &file, const QString &filter,
                   QString *selectedFilter) override {
    saveTitles << title;
    saveStartFiles << file;
    saveFilters << filter;
    if (selectedFilter)
      *selectedFilter = chosenFilter;
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
  }
  Answer question(QWidget *, const QString &, const QString &text, bool) override {
    questions << text;
    return answers.isEmpty() ? Answer::No : answers.takeFirst();
  }
  void message(QWidget *, const QString &, const QString &text) override { messages << text; }
  bool print(QWidget *, QPrinter *) override {
    ++prints;
    return true;
  }
  bool pageSetup(QWidget *, QPrinter *) override { return false; }
  bool font(QWidget *, QFont &) override { return false; }
  bool exec(QWidget *) override { return false; }

  QStringList saveNames; // empty entry or none: Cancel
  QString chosenFilter = QStringLiteral("Text Files (*.txt)");
  QList<Answer> answers;
  QStringList saveTitles, saveStartFiles, saveFilters, questions, messages;
  int prints = 0;

private:
  Dialogs *previous_ = nullptr;
};

// Replaces the text as typing would (setPlainText would clear the modified
// flag).
void retype(TJotPad *pad, const QString &text) {
  pad->Memo->selectAll();
  pad->Memo->insertPlainText(text);
}

const QString kQuestion =
    QStringLiteral("File has been modified! Are you sure you wish to close without saving?");

QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// Limits the size of files this process may write, for one scope.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit l = old_;
    l.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &l) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  bool ok() const { return ok_; }

private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
  bool ok_ = false;
};

} // namespace

class JotPadTest : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<PadFrame> frame;
  std::unique_ptr<PadDialogs> dialogs;
  std::unique_ptr<QTemporaryDir> dir;

  TJotPad *newPad(const QString &fileName = {}, const QString &text = {}) {
    return static_cast<TJotPad *>(NewScratchPad(*frame, fileName, text));
  }
  QString path(const QString &name) const { return dir->filePath(name); }
  bool send(QWidget *to, int message) { return SendCommand(to, message); }

private slots:
  void init() {
    frame = std::make_unique<PadFrame>();
    dialogs = std::make_unique<PadDialogs>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
  }
  void cleanup() {
    for (QMdiSubWindow *s : frame->area.subWindowList())
      if (auto *p = qobject_cast<TJotPad *>(s->widget()))
        p->setModified(false);
    frame.reset();
    dialogs.reset();
    dir.reset();
  }

  void newAndOpenedPads() {
    TJotPad *fresh = newPad();
    QCOMPARE(fresh->windowTitle(), QStringLiteral("ScatchPad"));
    QVERIFY(fresh->fileName().isEmpty());
    QVERIFY(!fresh->modified());
    QCOMPARE(fresh->Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QVERIFY(!fresh->Memo->tabChangesFocus());

    // A file with CR LF and CR line ends shows one line per line.
    TJotPad *opened = newPad(path("run3.txt"), QStringLiteral("# x y\r\n1 2\r3 4\r\n"));
    QCOMPARE(opened->windowTitle(), path("run3.txt"));
    QCOMPARE(opened->fileName(), path("run3.txt"));
    QVERIFY(!opened->modified());
    QCOMPARE(opened->Memo->document()->blockCount(), 4);
    QCOMPARE(opened->Memo->document()->findBlockByNumber(1).text(), QStringLiteral("1 2"));
    QCOMPARE(frame->countOf<TJotPad>(), 2);
  }

  void tabKeyInsertsATab() {
    TJotPad *pad = newPad();
    pad->Memo->setFocus();
    QTest::keyClicks(pad->Memo, QStringLiteral("1"));
    QTest::keyClick(pad->Memo, Qt::Key_Tab);
    QTest::keyClicks(pad->Memo, QStringLiteral("2"));
    QCOMPARE(pad->text(), QStringLiteral("1\t2"));
    QVERIFY(pad->modified());
  }

  void saveWritesLinesWithCrLf() {
    writeFile(path("data.txt"), "old\n");
    TJotPad *pad = newPad(path("data.txt"), QStringLiteral("old\n"));
    retype(pad, QStringLiteral("1 2\n3\t4\n\n# end"));
    QVERIFY(pad->modified());
    QVERIFY(send(pad, UM_SAVE));
    QCOMPARE(readAll(path("data.txt")), QByteArray("1 2\r\n3\t4\r\n\r\n# end\r\n"));
    QVERIFY(!pad->modified());
    QVERIFY(dialogs->saveTitles.isEmpty()); // no dialog for a named pad
    QVERIFY(dialogs->messages.isEmpty());
  }

  void saveOnNewPadIsSaveAsAndCancelLeavesItModified() {
    TJotPad *pad = newPad();
    QVERIFY(!pad->modified());
    QVERIFY(send(pad, UM_SAVE));
    QCOMPARE(dialogs->saveTitles, QStringList{QStringLiteral("Save As")});
    QCOMPARE(dialogs->saveFilters.value(0),
             QStringLiteral("Text Files (*.txt);;Text Files (*.dat);;All Files (*.*)"));
    QVERIFY(pad->modified());
    QVERIFY(pad->fileName().isEmpty());

    // Closing now asks; No keeps the pad.
    dialogs->answers = {Dialogs::Answer::No};
    QVERIFY(send(pad, UM_CLOSEREQUEST));
    QCOMPARE(dialogs->questions, QStringList{kQuestion});
    QCOMPARE(frame->countOf<TJotPad>(), 1);
  }

  void saveAsCancelOnUnchangedFileStillAsks() {
    writeFile(path("a.txt"), "1 2\r\n");
    TJotPad *pad = newPad(path("a.txt"), QStringLiteral("1 2\r\n"));
    QVERIFY(send(pad, UM_SAVEAS));
    QCOMPARE(dialogs->saveStartFiles.value(0), path("a.txt"));
    QVERIFY(pad->modified());
    QCOMPARE(pad->fileName(), path("a.txt"));
    dialogs->answers = {Dialogs::Answer::Yes};
    QPointer<TJotPad> watch(pad);
    QVERIFY(send(pad, UM_CLOSEREQUEST));
    QCOMPARE(dialogs->questions.size(), 1);
    QTRY_VERIFY(watch.isNull()); // Yes: the pad closes and is released
    QCOMPARE(readAll(path("a.txt")), QByteArray("1 2\r\n"));
  }

  void saveAsGivesTheExtensionAndKeepsTheCaption() {
    TJotPad *pad = newPad();
    retype(pad, QStringLiteral("1 2 0.1 a\n2 4 0.1 a"));
    dialogs->saveNames = {path("run7")};
    QVERIFY(send(pad, UM_SAVEAS));
    QCOMPARE(pad->fileName(), path("run7.txt"));
    QCOMPARE(readAll(path("run7.txt")), QByteArray("1 2 0.1 a\r\n2 4 0.1 a\r\n"));
    QVERIFY(!pad->modified());
    QCOMPARE(pad->windowTitle(), QStringLiteral("ScatchPad"));

    // The chosen file type's extension, when the name has none.
    dialogs->saveNames = {path("run8")};
    dialogs->chosenFilter = QStringLiteral("Text Files (*.dat)");
    QVERIFY(send(pad, UM_SAVEAS));
    QCOMPARE(pad->fileName(), path("run8.dat"));
    QVERIFY(QFile::exists(path("run8.dat")));

    // The conversion uses the new name.
    auto *plot = qobject_cast<TFit *>(pad->Convert());
    QVERIFY(plot);
    QCOMPARE(plot->FileName, path("run8.dat"));
    QCOMPARE(plot->windowTitle(), QStringLiteral("Chart Compiled From - run8.dat"));
    QCOMPARE(frame->log.back().text,
             QStringLiteral("Chart Successfully Created from file - ") + path("run8.dat"));
  }

  void failedSaveKeepsTheOldFileAndTheModifiedFlag() {
    const QByteArray old = "1 2\r\n3 4\r\n";
    writeFile(path("keep.txt"), old);
    TJotPad *pad = newPad(path("keep.txt"), QString::fromLatin1(old));
    retype(pad, QString(5000, QLatin1Char('9')));
    {
      FileSizeLimit limit(64); // any write beyond 64 bytes fails
      QVERIFY(limit.ok());
      QVERIFY(send(pad, UM_SAVE));
    }
    QCOMPARE(dialogs->messages.size(), 1); // the standard error report
    QVERIFY(dialogs->messages.value(0).contains(QStringLiteral("keep.txt")));
    QCOMPARE(readAll(path("keep.txt")), old);
    QVERIFY(pad->modified());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.txt")});
  }

  void failedSaveAsLeavesThePadModifiedWithTheChosenName() {
    const QByteArray old = "old text\r\n";
    writeFile(path("other.txt"), old);
    TJotPad *pad = newPad(path("a.txt"), QStringLiteral("1 2"));
    retype(pad, QString(5000, QLatin1Char('7')));
    pad->setModified(false);
    dialogs->saveNames = {path("other.txt")};
    {
      FileSizeLimit limit(64);
      QVERIFY(limit.ok());
      QVERIFY(send(pad, UM_SAVEAS));
    }
    QCOMPARE(dialogs->messages.size(), 1);
    QCOMPARE(readAll(path("other.txt")), old);
    QVERIFY(pad->modified());
    QCOMPARE(pad->fileName(), path("other.txt"));
  }

  void closeAsksOnlyWhenModified() {
    QPointer<TJotPad> clean = newPad(path("c.txt"), QStringLiteral("1 2"));
    QVERIFY(send(clean, UM_CLOSEREQUEST));
    QTRY_VERIFY(clean.isNull());
    QVERIFY(dialogs->questions.isEmpty());

    QPointer<TJotPad> typed = newPad(path("d.txt"), QStringLiteral("1 2"));
    QTest::keyClicks(typed->Memo, QStringLiteral("5"));
    dialogs->answers = {Dialogs::Answer::No, Dialogs::Answer::Yes};
    typed->parentWidget()->close(); // the window's own close button
    QCOMPARE(dialogs->questions.size(), 1);
    QVERIFY(!typed.isNull());
    QVERIFY(typed->text().contains(QLatin1Char('5')));
    QVERIFY(send(typed, UM_CLOSEREQUEST));
    QCOMPARE(dialogs->questions.size(), 2);
    QTRY_VERIFY(typed.isNull());
    QCOMPARE(frame->countOf<TJotPad>(), 0);
  }

  void convertOpensAPlotterPerRun() {
    TJotPad *pad = newPad(path("run3.txt"), QStringLiteral("# x y e\n1 2 0.5\n2 4 0.5\n3 6.5 0.5"));
    const QString before = pad->text();
    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->countOf<TFit>(), 1);
    TFit *first = frame->last<TFit>();
    QCOMPARE(first->FileName, path("run3.txt"));
    QCOMPARE(first->windowTitle(), QStringLiteral("Chart Compiled From - run3.txt"));
    // The pad adds no entry of its own here; the plotter logs the datasets
    // it makes from the columns.
    for (const LogLine &l : frame->log)
      QVERIFY(!l.error);

    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->countOf<TFit>(), 2);
    QVERIFY(frame->last<TFit>() != first);
    QCOMPARE(pad->text(), before);
    QVERIFY(!pad->modified());
  }

  void convertTaggedHandsOverTheDatasetsAndLogsOnce() {
    TJotPad *pad =
        newPad(path("t.txt"), QStringLiteral("1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 b\n4 7 0.2 b"));
    auto *plot = qobject_cast<TFit *>(pad->Convert());
    QVERIFY(plot);
    QCOMPARE(plot->Datasets.count, 2u);
    QCOMPARE(plot->Datasets.at(0)->obj->name, std::string("Dataset a"));
    QCOMPARE(plot->Datasets.at(1)->obj->name, std::string("Dataset b"));
    QCOMPARE(frame->log.size(), std::size_t(1));
    QCOMPARE(frame->log[0].kind, 0);
    QVERIFY(!frame->log[0].error);
    QCOMPARE(frame->log[0].text,
             QStringLiteral("Chart Successfully Created from file - ") + path("t.txt"));
  }

  void failedConvertLogsOneErrorAndOpensNothing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QString() << QStringLiteral("No data found to create chart ");
    QTest::newRow("comments") << QStringLiteral("# a\n\n# b")
                              << QStringLiteral("No data found to create chart ");
    QTest::newRow("bad field") << QStringLiteral("1 2\n3 x")
                               << QStringLiteral(
                                      "Unable to Convert to Chart error on row 2, column 2");
    QTest::newRow("lone tag")
        << QStringLiteral("1 2 0.1 a\n2 3 0.1 a\n3 4 0.1 c")
        << QStringLiteral(
               "Minumm of two points in a dataset is required to convert a file to a chart");
    QTest::newRow("zero error")
        << QStringLiteral("1 2 0.1 a\n2 3 0 a")
        << QStringLiteral("Y error points can not contain ZERO or MINIUS values - row 2, column 3");
  }
  void failedConvertLogsOneErrorAndOpensNothing() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    TJotPad *pad = newPad({}, text);
    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->log.size(), std::size_t(1));
    QVERIFY(frame->log[0].error);
    QCOMPARE(frame->log[0].kind, 0);
    QCOMPARE(frame->log[0].text, message);
    QCOMPARE(frame->countOf<TFit>(), 0);
    QCOMPARE(frame->area.subWindowList().size(), 1);
  }

  // Beside the selected field the pad says what is likely wrong and how
  // data must look; the log keeps the conversion's own message, and the
  // next edit takes the hint away.
  void failedConvertSaysTheLikelyCause_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("hint");
    QTest::newRow("decimal comma")
        << QStringLiteral("1 2 0.1\n2 3,5 0.1\n3 4 0.1")
        << QStringLiteral("Unable to Convert to Chart error on row 2, column 2")
        << QStringLiteral("A decimal comma? Write 1.5, not 1,5.");
    QTest::newRow("header line")
        << QStringLiteral("Time Voltage Error\n1 2 0.1\n2 3 0.1")
        << QStringLiteral("Error Unable to Convert line 1  - ")
        << QStringLiteral("A line of words, such as a header with names or units? Start it "
                          "with # to make it a comment.");
    QTest::newRow("comma-separated")
        << QStringLiteral("t,V,dV\n1.0,2.0,0.1\n2.0,3.5,0.1\n3.0,4.5,0.1")
        << QStringLiteral("Error Unable to Convert line 1  - ")
        << QStringLiteral("A table separated by commas or semicolons");
    QTest::newRow("zero error")
        << QStringLiteral("1 2 0.1 a\n# c\n2  4\t0 a\n3 5 0.1 a")
        << QStringLiteral("Y error points can not contain ZERO or MINIUS values - row 3, column 3")
        << QStringLiteral("Line 3 holds an error of zero or below");
  }
  void failedConvertSaysTheLikelyCause() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, hint);
    TJotPad *pad = newPad({}, text);
    frame->area.show();
    QVERIFY(pad->Hint->isHidden());
    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->log.size(), std::size_t(1));
    QCOMPARE(frame->log[0].text, message);
    QVERIFY(!pad->Hint->isHidden());
    QVERIFY2(pad->Hint->text().startsWith(hint), qPrintable(pad->Hint->text()));
    QVERIFY(pad->Hint->text().contains(QStringLiteral("separated by spaces or tabs")));
    // The short text stays in view above the hint.
    QCoreApplication::processEvents();
    QCOMPARE(pad->Memo->cursorForPosition(QPoint(2, 2)).blockNumber(), 0);
    QVERIFY(pad->Memo->viewport()->rect().contains(pad->Memo->cursorRect().center()));
    // Typing mends the text: the hint goes.
    QTest::keyClick(pad->Memo, Qt::Key_End);
    QTest::keyClicks(pad->Memo, QStringLiteral(" "));
    QVERIFY(pad->Hint->isHidden());
  }

  void failedConvertNamesTheFile() {
    TJotPad *pad = newPad(path("x.txt"), QStringLiteral("+1 2\n3 4"));
    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->log.size(), std::size_t(1));
    QCOMPARE(frame->log[0].text,
             QStringLiteral("Error Unable to Convert line 1  - ") + path("x.txt"));
  }

  void wordWrapTogglesWithTheSharedMark() {
    TJotPad *pad = newPad();
    TJotPad *other = newPad();
    QAction *mark = frame->command(Cmd::TBWordWrap);
    QVERIFY(!mark->isChecked());
    QCOMPARE(pad->Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    QVERIFY(send(pad, UM_WORDWRAP));
    QCOMPARE(pad->Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(!mark->isChecked());
    QCOMPARE(pad->Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);

    QVERIFY(send(other, UM_WORDWRAP)); // the mark follows the pad toggled last
    QCOMPARE(other->Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(!mark->isChecked());

    QVERIFY(send(pad, UM_WORDWRAP));
    QCOMPARE(pad->Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QVERIFY(mark->isChecked());
    QCOMPARE(pad->Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }

  void updateMenusSetsTheTextCommands() {
    TJotPad *pad = newPad({}, QStringLiteral("1 2\n3 4"));
    for (bool start : {false, true}) {
      frame->setAll(start);
      frame->editCalls.clear();
      QVERIFY(send(pad, UM_UPDATEMENUS));
      for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave, Cmd::TBWordWrap,
                    Cmd::TBSelectAll, Cmd::FileClose, Cmd::CTxtFile, Cmd::TBProcess})
        QVERIFY2(frame->on(c), qPrintable(QString::number(static_cast<int>(c))));
      for (Cmd c : {Cmd::Replot, Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis, Cmd::TBTitles,
                    Cmd::CopytoClipBoard2, Cmd::FileExport, Cmd::MenuChart})
        QVERIFY2(!frame->on(c), qPrintable(QString::number(static_cast<int>(c))));
      // The print commands are left as they were.
      QCOMPARE(frame->on(Cmd::FilePrintItem), start);
      QCOMPARE(frame->on(Cmd::TBPrint), start);
      QCOMPARE(frame->editCalls.size(), std::size_t(1));
      QCOMPARE(frame->editCalls[0], std::make_pair(true, false));
    }
    QVERIFY(send(pad, UM_SELECTALL));
    frame->editCalls.clear();
    QVERIFY(send(pad, UM_UPDATEMENUS));
    QCOMPARE(frame->editCalls.at(0), std::make_pair(true, true));
  }

  void editCommandsReachTheEditor() {
    TJotPad *pad = newPad({}, QStringLiteral("abc"));
    QVERIFY(send(pad, UM_SELECTALL));
    QVERIFY(send(pad, UM_CUT));
    QCOMPARE(pad->text(), QString());
    QVERIFY(send(pad, UM_PASTE));
    QVERIFY(send(pad, UM_PASTE));
    QCOMPARE(pad->text(), QStringLiteral("abcabc"));
    QVERIFY(send(pad, UM_UNDO));
    QCOMPARE(pad->text(), QStringLiteral("abc"));
  }

  void printShowsTheDialogOnly() {
    TJotPad *pad = newPad({}, QStringLiteral("1 2"));
    QVERIFY(send(pad, UM_OUTPUT));
    QCOMPARE(dialogs->prints, 1);
    QVERIFY(frame->log.empty());
    QVERIFY(!send(pad, UM_DATAREADY)); // not a pad's message
  }

  // A failed conversion keeps its message and puts the pad's cursor on the
  // line it names, with the offending field selected where it names one.
  void failedConversionShowsTheLine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("selected");
    QTest::newRow("column layout, comments and blanks before")
        << "# run 3\n\n1 2 0.1\n# note\n2 x 0.2\n3 6 0.3"
        << "Unable to Convert to Chart error on row 2, column 2" << 4 << "x";
    QTest::newRow("column layout, unseparated and blank-only lines")
        << "1 2\n5\n   \n3 4\n4 y"
        << "Unable to Convert to Chart error on row 4, column 2" << 4 << "y";
    QTest::newRow("tagged layout, field")
        << "# c\n1 2 0.1 a\n\n2 4 abc a\n3 5 0.1 a"
        << "Unable to Convert to Chart error on row 4, column 3" << 3 << "abc";
    QTest::newRow("tagged layout, leading blank")
        << "1 2 0.1 a\n\t2 4 0.1 a\n3 5 0.1 a"
        << "Error Unable to Convert line 2  - " << 1 << "";
    QTest::newRow("tagged layout, zero error")
        << "1 2 0.1 a\n# c\n2  4\t0 a\n3 5 0.1 a"
        << "Y error points can not contain ZERO or MINIUS values - row 3, column 3" << 2 << "0";
    QString many;
    for (int i = 1; i <= 400; ++i)
      many +=
          i == 300 ? QStringLiteral("300 6o0 1\n") : QStringLiteral("%1 %2 1\n").arg(i).arg(2 * i);
    QTest::newRow("hundreds of lines")
        << many << "Unable to Convert to Chart error on row 300, column 2" << 299 << "6o0";
  }
  void failedConversionShowsTheLine() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, line);
    QFETCH(QString, selected);
    TJotPad *pad = newPad({}, text);
    frame->area.show();
    QVERIFY(send(pad, UM_PROCESS));
    QCOMPARE(frame->log.size(), std::size_t(1));
    QCOMPARE(frame->log[0].text, message);
    QCOMPARE(frame->countOf<TFit>(), 0);
    const QTextCursor cursor = pad->Memo->textCursor();
    QCOMPARE(cursor.block().blockNumber(), line);
    QCOMPARE(cursor.selectedText(), selected);
    if (selected.isEmpty())
      QCOMPARE(cursor.positionInBlock(), 0);
    // The line is on screen.
    QVERIFY(pad->Memo->viewport()->rect().contains(pad->Memo->cursorRect().center()));
    QCOMPARE(pad->text(), text); // the text is untouched
  }

  // Enter on the close question keeps the pad and its text: the question
  // is the real one, and its default button is No.
  void enterOnTheCloseQuestionKeepsThePad() {
    TJotPad *pad = newPad({}, QStringLiteral("1 2 0.1"));
    retype(pad, QStringLiteral("typed work"));
    frame->area.show();
    Dialogs *fake = Dialogs::install(nullptr); // the desktop's own dialogs
    QString asked;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box)
        return;
      asked = box->text();
      QTest::keyClick(box, Qt::Key_Return);
    });
    answer.start();
    QPointer<QMdiSubWindow> sub = frame->area.subWindowList().value(0);
    QVERIFY(sub);
    sub->close();
    answer.stop();
    Dialogs::install(fake);
    QCOMPARE(asked, kQuestion);
    QVERIFY(sub);
    QCOMPARE(pad->text(), QStringLiteral("typed work"));
    QVERIFY(pad->modified());
  }
};

QTEST_MAIN(JotPadTest)
#include "jotpad_test.moc"
