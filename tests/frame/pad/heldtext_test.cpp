// A large file opened in the scratch pad is held as UTF-8 beside the editor,
// which shows only the lines around the place looked at. Held or not, the
// pad must give the same text, save the same bytes, convert to the same
// grid or datasets with the same messages, and stay an editor: the first
// edit puts the whole text into the editor where the cursor was.
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "frame/pad/jotpad.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"
#include "tests/frame/frametestkit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

// A frame that owns the pads and plotters made for it.
class OwningFrame : public test::FakeFrame {
public:
  QMdiSubWindow *addChild(QWidget *child) override {
    children.emplace_back(child);
    return nullptr;
  }
  std::vector<std::unique_ptr<QWidget>> children;
};

constexpr std::size_t kHeldFrom = 64 * 1024; // bytes; the fixtures are larger

// n lines of three numbers, every line different, each ended by eol.
QByteArray columnLines(int n, const char *eol, int from = 0) {
  QByteArray t;
  for (int i = from; i < from + n; ++i)
    t += QByteArray::number(i * 0.001, 'f', 4) + ' ' +
         QByteArray::number(3 + 2 * i * 0.001, 'f', 4) + ' ' +
         QByteArray::number(0.2 + (i % 97) * 0.001, 'f', 3) + eol;
  return t;
}

// n lines of the tagged layout, two tags taking turns.
QByteArray taggedLines(int n) {
  QByteArray t;
  for (int i = 0; i < n; ++i)
    t += QByteArray::number(i) + ' ' + QByteArray::number(2.5 * i + (i % 7), 'g', 12) + " 0.5 " +
         (i % 2 ? "Beta" : "Alpha") + '\n';
  return t;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
    return QString();
  return path;
}

QByteArray readFile(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The pad File Open makes for path, held or not as asked.
TJotPad *openPad(OwningFrame &frame, const QString &path, bool held) {
  TJotPad::setLargeFileBytes(held ? kHeldFrom : std::numeric_limits<std::size_t>::max());
  auto *pad = qobject_cast<TJotPad *>(OpenScratchPad(frame, path));
  TJotPad::setLargeFileBytes(0);
  return pad;
}

// A held pad on n lines of the column layout in a file of its own.
struct heldpad {
  QTemporaryDir dir;
  QByteArray bytes;
  QString path;
  OwningFrame frame;
  TJotPad *pad;
  explicit heldpad(int n)
      : bytes(columnLines(n, "\n")), path(writeFile(dir, QStringLiteral("data.txt"), bytes)),
        pad(openPad(frame, path, true)) {}
};

// Shows a pad at its default size; false when it is not shown.
bool showPad(TJotPad *pad) {
  pad->resize(480, 360);
  pad->show();
  return QTest::qWaitForWindowExposed(pad);
}

bool sameBits(const std::vector<double> &a, const std::vector<double> &b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
      return false;
  return true;
}

// The line of the whole text the editor shows at its top.
QString topLine(const TJotPad &pad) {
  return pad.Memo->cursorForPosition(QPoint(0, 0)).block().text();
}

} // namespace

class HeldTextTest : public QObject {
  Q_OBJECT

private slots:
  void heldTextReadsSavesAndConvertsAsTheEditorDoes_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray lf = columnLines(20000, "\n");
    QTest::newRow("LF") << lf;
    QTest::newRow("CR LF") << columnLines(20000, "\r\n");
    QTest::newRow("lone CR, no last break") << columnLines(20000, "\r").chopped(1);
    QTest::newRow("blank lines at the end") << lf + "\n\n\n";
    // A byte-order mark, a no-break space, a line separator and a
    // paragraph separator in comments: the editor's own line breaks.
    QTest::newRow("UTF-8 marks and separators")
        << QByteArray("\xEF\xBB\xBF# L\xC3\xA4nge\xC2\xA0(mm)\n") + lf +
               QByteArray("# a\xE2\x80\xA8"
                          "b\xE2\x80\xA9"
                          "c\n");
    QTest::newRow("Latin-1 at the end") << lf + QByteArray("# L\xE4nge\r\n");
    QTest::newRow("tagged") << taggedLines(20000);
    QTest::newRow("ragged: a short line deep inside")
        << columnLines(15000, "\n") + "1.5 2.5\n" + columnLines(5000, "\n", 15000);
    QTest::newRow("a field that is no number deep inside")
        << columnLines(15000, "\n") + "5 x7 0.2\n" + columnLines(5000, "\n", 15000);
  }
  void heldTextReadsSavesAndConvertsAsTheEditorDoes() {
    QFETCH(QByteArray, bytes);
    QVERIFY(static_cast<std::size_t>(bytes.size()) > kHeldFrom);
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("data.txt"), bytes);
    QVERIFY(!path.isEmpty());
    OwningFrame heldFrame, editorFrame;
    TJotPad *held = openPad(heldFrame, path, true);
    TJotPad *editor = openPad(editorFrame, path, false);
    QVERIFY(held && editor);
    QVERIFY(held->holdsText());
    QVERIFY(!editor->holdsText());
    // The editor shows a window of the lines, not the whole text.
    QVERIFY(held->Memo->document()->blockCount() <= 4001);
    QVERIFY(!held->modified());
    QCOMPARE(held->text(), editor->text());
    QCOMPARE(held->utf8Text(), editor->utf8Text());
    // Each line where it stands in the text (no-break spaces, which the
    // editor shows as such, are spaces in the held text as in text()).
    const QString text = editor->text();
    for (int line : {0, 1, 64, 9999, 15000, 19999, 20001}) {
      QCOMPARE(held->lineAt(line).text, text.section(QLatin1Char('\n'), line, line));
      QCOMPARE(held->lineAt(line).position, editor->lineAt(line).position);
    }

    // Converting gives the same grid or datasets, or the same message.
    testkit::DialogScope dialogs;
    auto *heldPlot = qobject_cast<TFit *>(held->Convert());
    const auto heldMessages = dialogs.fake.messages;
    dialogs.fake.messages.clear();
    auto *editorPlot = qobject_cast<TFit *>(editor->Convert());
    QCOMPARE(heldPlot != nullptr, editorPlot != nullptr);
    QCOMPARE(heldMessages.size(), dialogs.fake.messages.size());
    for (std::size_t i = 0; i < heldMessages.size(); ++i)
      QCOMPARE(heldMessages[i].text, dialogs.fake.messages[i].text);
    QCOMPARE(heldFrame.log.size(), editorFrame.log.size());
    for (std::size_t i = 0; i < heldFrame.log.size(); ++i)
      QCOMPARE(heldFrame.log[i].text, editorFrame.log[i].text);
    if (!heldPlot) {
      // The failing line is shown in the editor, which holds it all now.
      QVERIFY(!held->holdsText());
      QCOMPARE(held->Memo->textCursor().selectionStart(),
               editor->Memo->textCursor().selectionStart());
      QCOMPARE(held->Memo->textCursor().selectedText(), editor->Memo->textCursor().selectedText());
      QCOMPARE(held->Hint->text(), editor->Hint->text());
      QCOMPARE(held->text(), editor->text());
      return;
    }
    const numericgrid &a = heldPlot->StringGridModel->grid();
    const numericgrid &b = editorPlot->StringGridModel->grid();
    QCOMPARE(a.colcount(), b.colcount());
    QCOMPARE(a.rowcount(), b.rowcount());
    QCOMPARE(static_cast<int>(heldPlot->Datasets.count),
             static_cast<int>(editorPlot->Datasets.count));
    for (unsigned i = 0; i < heldPlot->Datasets.count; ++i) {
      const dataset &p = *heldPlot->Datasets.at(i)->obj;
      const dataset &q = *editorPlot->Datasets.at(i)->obj;
      QCOMPARE(p.name, q.name);
      QVERIFY(sameBits(p.x->data, q.x->data));
      QVERIFY(sameBits(p.y->data, q.y->data));
      QVERIFY(sameBits(p.yerr->data, q.yerr->data));
    }
    for (int c = 0; c < a.colcount(); ++c)
      for (int r = 1; r < a.rowcount(); ++r)
        if (std::bit_cast<std::uint64_t>(a.value(c, r)) !=
            std::bit_cast<std::uint64_t>(b.value(c, r)))
          QFAIL(qPrintable(QStringLiteral("cell %1, %2 differs").arg(c).arg(r)));
    // Independently of both: the first data line's numbers.
    if (a.colcount() == 3) {
      QCOMPARE(a.value(0, 1), 0.0);
      QCOMPARE(a.value(1, 1), 3.0);
      QCOMPARE(a.value(2, 1), 0.2);
    }
    // Still held after converting.
    QVERIFY(held->holdsText());
  }

  // Saving a held text writes the lines as saving the editor's does: each
  // ended by CR LF.
  void savingAHeldTextWritesTheEditorsBytes() {
    QTemporaryDir dir;
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF# L\xC3\xA4nge\xC2\xA0x\r\n") +
                             columnLines(20000, "\r") + QByteArray("# end");
    const QString path = writeFile(dir, QStringLiteral("data.txt"), bytes);
    OwningFrame frame;
    TJotPad *held = openPad(frame, path, true);
    TJotPad *editor = openPad(frame, path, false);
    QVERIFY(held && editor && held->holdsText());
    const QString other = dir.filePath(QStringLiteral("other.txt"));
    QVERIFY(QFile::copy(path, other));
    held->Save();
    QVERIFY(held->holdsText()); // saving is no edit
    QVERIFY(!held->modified());
    // The editor's pad saves under the other name.
    TJotPad copy(frame, other, editor->text());
    copy.Save();
    const QByteArray saved = readFile(path);
    QCOMPARE(saved, readFile(other));
    // And independently: every line ends in CR LF, the no-break space is a
    // space, the byte-order mark (dropped in reading) is not written.
    QVERIFY(saved.startsWith("# L\xC3\xA4nge x\r\n0.0000 3.0000 0.200\r\n"));
    QVERIFY(saved.endsWith("# end\r\n"));
    QCOMPARE(saved.count("\r\n"), 20002);
    QCOMPARE(saved.count('\r'), 20002);
  }

  // The side bar and the keys move through the whole text; the editor's
  // top line is the line the side bar names.
  void scrollingShowsEveryPartOfTheText() {
    const int n = 30000;
    heldpad h(n);
    TJotPad *pad = h.pad;
    QVERIFY(pad && pad->holdsText() && pad->Lines);
    QVERIFY(showPad(pad));
    const QList<QByteArray> lines = h.bytes.split('\n');
    QCOMPARE(topLine(*pad), QString::fromLatin1(lines[0]));
    QVERIFY(pad->Lines->maximum() > n - 100);

    for (int line : {25000, 12345, 3, pad->Lines->maximum()}) {
      pad->Lines->setValue(line);
      QCOMPARE(pad->Lines->value(), line);
      QCOMPARE(topLine(*pad), QString::fromLatin1(lines[line]));
    }
    // At the side bar's end the editor is at its own: the last line is
    // shown, and no line comes after it.
    QCOMPARE(pad->Memo->verticalScrollBar()->value(), pad->Memo->verticalScrollBar()->maximum());
    // (the text ends in a line break: its last line is empty)
    QCOMPARE(pad->Memo->document()->lastBlock().previous().text(),
             QString::fromLatin1(lines[n - 1]));
    QCOMPARE(pad->Memo->document()->lastBlock().text(), QString());
    QCOMPARE(pad->Lines->maximum(), static_cast<int>(lines.size()) -
                                        pad->Memo->document()->blockCount() +
                                        pad->Memo->verticalScrollBar()->maximum());
    // Scrolling the editor itself past the lines it has moves on through
    // the text, and the side bar follows.
    pad->Lines->setValue(0);
    QScrollBar *inner = pad->Memo->verticalScrollBar();
    for (int k = 0; k < 6; ++k)
      inner->setValue(inner->maximum());
    const int top = pad->Lines->value();
    QVERIFY(top > 4000);
    QCOMPARE(topLine(*pad), QString::fromLatin1(lines[top]));

    // Ctrl+End reaches the last line, Ctrl+Home the first.
    pad->Memo->setFocus();
    QTest::keyClick(pad->Memo, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(pad->Memo->textCursor().atEnd());
    QCOMPARE(pad->Memo->textCursor().block().previous().text(), QString::fromLatin1(lines[n - 1]));
    QTest::keyClick(pad->Memo, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(pad->Memo->textCursor().block().text(), QString::fromLatin1(lines[0]));
    QCOMPARE(topLine(*pad), QString::fromLatin1(lines[0]));
    QVERIFY(pad->holdsText()); // looking is no edit
    QVERIFY(!pad->modified());
  }

  // The first key that types puts the whole text into the editor and
  // types there, where the cursor was; Undo takes the key back.
  void typingEditsTheWholeTextWhereTheCursorIs() {
    const int n = 30000;
    heldpad h(n);
    TJotPad *pad = h.pad;
    QVERIFY(pad && pad->holdsText());
    QVERIFY(showPad(pad));
    const QString before = pad->text();
    pad->Lines->setValue(20000);
    // The cursor to the third character of line 20001.
    QTextCursor c = pad->Memo->cursorForPosition(QPoint(0, 0));
    c.movePosition(QTextCursor::NextBlock);
    c.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 2);
    pad->Memo->setTextCursor(c);
    pad->Memo->setFocus();
    QTest::keyClicks(pad->Memo, QStringLiteral("9"));
    QVERIFY(!pad->holdsText());
    QVERIFY(pad->Lines == nullptr);
    QVERIFY(pad->modified());
    QList<QByteArray> lines = h.bytes.split('\n');
    lines[20001].insert(2, '9');
    QCOMPARE(pad->text(), QString::fromLatin1(lines.join('\n')));
    QCOMPARE(pad->lineAt(20001).text, QString::fromLatin1(lines[20001]));
    QVERIFY(pad->Memo->document()->isUndoAvailable());
    pad->Memo->undo();
    QCOMPARE(pad->text(), before);
  }

  // Selecting to the end of the text, and the context menu (with its
  // Select All and Paste), find the whole text in the editor.
  void selectingToTheEndAndTheMenuReachTheWholeText() {
    heldpad h(30000);
    TJotPad *pad = h.pad;
    QVERIFY(pad && pad->holdsText());
    QVERIFY(showPad(pad));
    pad->Lines->setValue(20000);
    pad->Memo->setTextCursor(pad->Memo->cursorForPosition(QPoint(0, 0)));
    pad->Memo->setFocus();
    QTest::keyClick(pad->Memo, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!pad->holdsText());
    const int start = pad->lineAt(20000).position;
    QCOMPARE(pad->Memo->textCursor().selectionStart(), start);
    QCOMPARE(pad->Memo->textCursor().selectedText().size(), pad->text().size() - start);

    TJotPad *other = openPad(h.frame, h.path, true);
    QVERIFY(other && other->holdsText());
    QVERIFY(showPad(other));
    // The menu is closed as soon as it is up.
    QTimer::singleShot(0, [] {
      if (QWidget *menu = QApplication::activePopupWidget())
        menu->close();
    });
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(10, 10),
                           other->Memo->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(other->Memo->viewport(), &menu);
    QVERIFY(!other->holdsText());
    QVERIFY(!other->Memo->isReadOnly());
    QCOMPARE(other->text(), QString::fromLatin1(h.bytes));
  }

  // Select All, Paste and the like reach a held text through the editor's
  // commands; only a file of largeFileBytes() or more is held.
  void onlyLargeFilesAreHeld() {
    QVERIFY(TJotPad::largeFileBytes() >= std::size_t(1) << 20);
    QTemporaryDir dir;
    const QByteArray small = columnLines(100, "\n");
    const QString path = writeFile(dir, QStringLiteral("small.txt"), small);
    OwningFrame frame;
    TJotPad::setLargeFileBytes(static_cast<std::size_t>(small.size()) + 1);
    auto *below = qobject_cast<TJotPad *>(OpenScratchPad(frame, path));
    TJotPad::setLargeFileBytes(static_cast<std::size_t>(small.size()));
    auto *at = qobject_cast<TJotPad *>(OpenScratchPad(frame, path));
    TJotPad::setLargeFileBytes(0);
    QVERIFY(below && at);
    QVERIFY(!below->holdsText());
    QVERIFY(at->holdsText());
    QCOMPARE(at->text(), below->text());
    // Select All takes the whole text into the editor and selects it.
    at->Memo->setFocus();
    QTest::keyClick(at->Memo, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(!at->holdsText());
    QCOMPARE(at->Memo->textCursor().selectedText().size(), below->text().size());
    QVERIFY(!at->modified());
  }
};

QTEST_MAIN(HeldTextTest)
#include "heldtext_test.moc"
