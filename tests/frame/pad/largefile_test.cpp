// A scratch pad holding a large file: its lines are kept in blocks of many
// lines, yet it reads, saves, converts and points at a failing line exactly
// as a pad of one block a line does; loading by parts with progress gives
// the same text.
// Covers frame/longwork.cpp as well as frame/pad/jotpad.cpp.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "datatext/conversion.h"
#include "frame/longwork.h"
#include "frame/pad/jotpad.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"
#include "tests/plotter/fakeframe.h"

using namespace orvalle;

namespace {

// A frame that owns the plotters a pad opens and records the progress shown.
class ProgressFrame : public test::FakeFrame {
public:
  QMdiSubWindow *addChild(QWidget *child) override {
    children.emplace_back(child);
    return nullptr;
  }
  void showProgress(const QString &text, int percent) override {
    texts << text;
    percents.push_back(percent);
  }
  void endProgress() override { ++ends; }

  std::vector<std::unique_ptr<QWidget>> children;
  QStringList texts;
  std::vector<int> percents;
  int ends = 0;
};

// A three-column text of n lines, with the line end given; values chosen
// so that every line differs.
QString columnText(int n, const char *eol) {
  QString t;
  t.reserve(n * 28);
  for (int i = 0; i < n; ++i)
    t += QStringLiteral("%1 %2 %3")
             .arg(i * 0.001, 0, 'f', 4)
             .arg(3 + 2 * i * 0.001, 0, 'f', 4)
             .arg(0.2 + (i % 97) * 0.001, 0, 'f', 3) +
         QLatin1String(eol);
  return t;
}

QString lf(QString t) {
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

} // namespace

class LargeFileTest : public QObject {
  Q_OBJECT

private slots:
  void linesReadBackAsTheyWere_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("eol");
    // Below the blocking threshold, just above it, and past one loading part
    // (2^21 characters), with each kind of line end.
    QTest::newRow("small LF") << 100 << "\n";
    QTest::newRow("blocked LF") << 5000 << "\n";
    QTest::newRow("blocked CR LF") << 5000 << "\r\n";
    QTest::newRow("blocked CR") << 5000 << "\r";
    QTest::newRow("by parts LF") << 120000 << "\n";
    QTest::newRow("by parts CR LF") << 120000 << "\r\n";
  }
  void linesReadBackAsTheyWere() {
    QFETCH(int, lines);
    QFETCH(QString, eol);
    ProgressFrame frame;
    const QString file = columnText(lines, eol.toLatin1().constData());
    TJotPad pad(frame, QStringLiteral("/tmp/large.txt"), file);
    QVERIFY(!pad.modified());
    QVERIFY(!pad.Memo->document()->isUndoAvailable()); // loading is not an edit
    const QString expected = lf(file);
    QCOMPARE(pad.text(), expected);
    QCOMPARE(pad.utf8Text(), expected.toStdString());
    const int blocks = pad.Memo->document()->blockCount();
    if (lines >= 4096)
      QVERIFY(blocks < lines / 32); // many lines a block
    else
      QCOMPARE(blocks, lines + 1); // one a line, and the empty last one
    // Every line is found by its number, where it stands in the text.
    for (int line : {0, 1, 63, 64, lines / 2, lines - 1}) {
      const TJotPad::TextLine at = pad.lineAt(line);
      QCOMPARE(at.text, expected.section(QLatin1Char('\n'), line, line));
      const QChar before =
          at.position > 0 ? pad.Memo->document()->characterAt(at.position - 1) : QChar();
      QVERIFY(at.position == 0 || before == QChar::LineSeparator ||
              before == QChar::ParagraphSeparator);
    }
    QCOMPARE(pad.lineAt(lines + 1).position, -1);
  }

  void convertsToTheGridOfTheFile() {
    ProgressFrame frame;
    const int n = 120000;
    const QString file = columnText(n, "\n");
    TJotPad pad(frame, QStringLiteral("/tmp/large.txt"), file);
    auto *plot = qobject_cast<TFit *>(pad.Convert());
    QVERIFY(plot);
    // The reference: the file's text converted straight from its lines.
    const ConversionOutcome ref =
        ConvertToChart(textlines::fromText(file.toStdString()), "/tmp/large.txt");
    QVERIFY(ref.ok());
    const numericgrid &want = ref.result->grid;
    const numericgrid &got = plot->StringGridModel->grid();
    QCOMPARE(got.colcount(), 3);
    QCOMPARE(got.rowcount(), n + 1);
    for (int c = 0; c < 3; ++c)
      for (int r : {1, 2, 64, 65, n / 2, n})
        QCOMPARE(got.value(c, r), want.value(c, r));
    // And independently: row 65 is line 65 of the text.
    QCOMPARE(got.value(0, 65), 0.064);
    QCOMPARE(got.value(2, 65), 0.264);
    QCOMPARE(static_cast<int>(plot->Datasets.count), 1);
    QCOMPARE(plot->Datasets.at(0)->obj->x->n, n);
    QCOMPARE(plot->Datasets.at(0)->obj->y->data, plot->Columns->at(1)->obj->values->data);
  }

  // The pad feeds its blocks to the conversion without making the whole
  // text: the outcome is that of the editor's plain text converted whole.
  void convertsAsItsPlainTextConverts_data() {
    QTest::addColumn<QString>("text");
    const QString big = columnText(5000, "\r\n");
    QTest::newRow("LF") << QStringLiteral("1 2 0.5\n3 4 0.25\n5 6 0.1\n");
    QTest::newRow("CR LF") << QStringLiteral("1 2 0.5\r\n3 4 0.25\r\n5 6 0.1\r\n");
    QTest::newRow("lone CR") << QStringLiteral("1 2 0.5\r3 4 0.25\r5 6 0.1\r");
    QTest::newRow("no last break") << QStringLiteral("1 2 0.5\n3 4 0.25\n5 6 0.1");
    QTest::newRow("blank lines at the end") << QStringLiteral("1 2 0.5\n3 4 0.25\n\n\n");
    QTest::newRow("comments and blanks")
        << QStringLiteral("# run\n\n1 2 0.5\n  \n3 4 0.25\n# end\n5 6 0.1\n");
    QTest::newRow("no-break spaces") << QString::fromUtf8("1\u00a02 0.5\n3 4\u00a00.25\n");
    QTest::newRow("byte-order mark") << QString::fromUtf8("\ufeff1 2 0.5\n3 4 0.25\n");
    QTest::newRow("two columns") << QStringLiteral("1 2\n3 4\n5 7\n");
    QTest::newRow("tagged") << QString::fromUtf8(
        "1 2 0.5 a\n2 3 0.5 a\n3 4 0.5 \u00e9\n4 5 0.5 \u00e9\n");
    QTest::newRow("bad field") << QStringLiteral("1 2 0.5\n3 x 0.25\n");
    QTest::newRow("no data") << QStringLiteral("# nothing\n\n");
    QTest::newRow("empty") << QString();
    QTest::newRow("blocked, CR LF") << big;
    QTest::newRow("blocked, no last break") << big.chopped(2);
    QTest::newRow("blocked, blank line inside")
        << QString(big).insert(big.indexOf(QStringLiteral("\r\n"), big.size() / 2) + 2,
                               QStringLiteral("\r\n# a comment\r\n"));
  }
  void convertsAsItsPlainTextConverts() {
    QFETCH(QString, text);
    ProgressFrame frame;
    TJotPad pad(frame, QStringLiteral("/tmp/t.txt"), text);
    const ConversionOutcome want =
        ConvertToChart(textlines::fromText(pad.Memo->toPlainText().toStdString()), "/tmp/t.txt");
    auto *plot = qobject_cast<TFit *>(pad.Convert());
    QCOMPARE(plot != nullptr, want.ok());
    if (!plot) {
      QCOMPARE(frame.log.back().text, QString::fromStdString(want.error));
      return;
    }
    const ConversionResult &w = *want.result;
    if (w.layout == textlayout::column) {
      const numericgrid &got = plot->StringGridModel->grid();
      QCOMPARE(got.colcount(), w.grid.colcount());
      QCOMPARE(got.rowcount(), w.grid.rowcount());
      for (int c = 0; c < got.colcount(); ++c)
        for (int r = 0; r < got.rowcount(); ++r)
          QCOMPARE(got.text(c, r), w.grid.text(c, r));
    }
    QCOMPARE(static_cast<std::size_t>(plot->Datasets.count),
             w.layout == textlayout::tagged ? w.datasets.size()
                                            : std::size_t(w.grid.colcount() == 3 ? 1 : 0));
    for (std::size_t i = 0; i < w.datasets.size(); ++i) {
      const dataset &d = *plot->Datasets.at(static_cast<unsigned>(i))->obj;
      QCOMPARE(d.name, w.datasets[i]->name);
      QCOMPARE(d.x->data, w.datasets[i]->x->data);
      QCOMPARE(d.y->data, w.datasets[i]->y->data);
      QCOMPARE(d.yerr->data, w.datasets[i]->yerr->data);
    }
  }

  // File Open's pad reads its file in parts: it holds what a pad given the
  // file's whole text holds, as an unmodified document without undo.
  void openedInPartsHoldsTheFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray big = columnText(120000, "\r\n").toUtf8();
    QTest::newRow("small") << QByteArray("1 2 0.5\n3 4 0.25\n");
    QTest::newRow("no last break") << QByteArray("1 2 0.5\r\n3 4 0.25");
    QTest::newRow("lone CR") << QByteArray("1 2 0.5\r3 4 0.25\r");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF# L\xC3\xA4nge\n1 2 0.5\n");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("large CR LF") << big;
    QTest::newRow("large, Latin-1 at the end") << big + QByteArray("# L\xE4nge\r\n");
    QTest::newRow("5000 lines") << columnText(5000, "\n").toUtf8();
  }
  void openedInPartsHoldsTheFile() {
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.txt"));
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    ProgressFrame frame;
    TJotPad whole(frame, path,
                  QString::fromStdString(readdatatext(QFile::encodeName(path).toStdString())));
    auto *pad = qobject_cast<TJotPad *>(OpenScratchPad(frame, path));
    QVERIFY(pad);
    QCOMPARE(frame.children.size(), std::size_t(1));
    QCOMPARE(pad->windowTitle(), path);
    QCOMPARE(pad->fileName(), path);
    QCOMPARE(pad->text(), whole.text());
    QCOMPARE(pad->utf8Text(), whole.utf8Text());
    QVERIFY(!pad->modified());
    QVERIFY(!pad->Memo->document()->isUndoAvailable());
    QCOMPARE(pad->Memo->textCursor().position(), 0);
    if (bytes.count('\n') >= 4096)
      QVERIFY(pad->Memo->document()->blockCount() < bytes.count('\n') / 32);
    // Still an editor: an edit is undone.
    pad->Memo->moveCursor(QTextCursor::End);
    pad->Memo->insertPlainText(QStringLiteral("7 8 0.5"));
    QVERIFY(pad->modified());
    pad->Memo->undo();
    QCOMPARE(pad->text(), whole.text());
  }

  void openedInPartsConvertsToTheGridOfTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.txt"));
    const int n = 120000;
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(columnText(n, "\n").toUtf8());
    }
    ProgressFrame frame;
    auto *pad = qobject_cast<TJotPad *>(OpenScratchPad(frame, path));
    QVERIFY(pad);
    auto *plot = qobject_cast<TFit *>(pad->Convert());
    QVERIFY(plot);
    const ConversionOutcome ref = ConvertToChart(
        readtextfile(QFile::encodeName(path).toStdString()), QFile::encodeName(path).toStdString());
    QVERIFY(ref.ok());
    const numericgrid &got = plot->StringGridModel->grid();
    QCOMPARE(got.colcount(), 3);
    QCOMPARE(got.rowcount(), n + 1);
    for (int c = 0; c < 3; ++c)
      for (int r = 1; r <= n; ++r)
        if (got.value(c, r) != ref.result->grid.value(c, r))
          QFAIL(qPrintable(QStringLiteral("cell %1, %2 differs").arg(c).arg(r)));
    QCOMPARE(got.value(1, n), 3 + 2 * (n - 1) * 0.001);
  }

  void openingWhatIsNoFileAddsNoPad() {
    ProgressFrame frame;
    QVERIFY_THROWS_EXCEPTION(std::system_error,
                             OpenScratchPad(frame, QStringLiteral("/nonexistent/orvalle.txt")));
    QVERIFY_THROWS_EXCEPTION(textreaderror, OpenScratchPad(frame, QStringLiteral("/dev/null")));
    QVERIFY(frame.children.empty());
  }

  void failingLineIsFoundInsideABlock() {
    ProgressFrame frame;
    QString file = columnText(10000, "\n");
    // Line 5001 (in the middle of a block) holds a field that is no number.
    QStringList lines = file.split(QLatin1Char('\n'));
    lines[5000] = QStringLiteral("5 x7 0.2");
    TJotPad pad(frame, QStringLiteral("/tmp/bad.txt"), lines.join(QLatin1Char('\n')));
    QVERIFY(pad.Memo->document()->blockCount() < 1000);
    QVERIFY(!pad.Convert());
    QCOMPARE(frame.log.back().text,
             QStringLiteral("Unable to Convert to Chart error on row 5001, column 2"));
    const QTextCursor cursor = pad.Memo->textCursor();
    QCOMPARE(cursor.selectedText(), QStringLiteral("x7"));
    QCOMPARE(cursor.selectionStart(), pad.lineAt(5000).position + 2);
  }

  void saveWritesTheLinesOfABlockedPad() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    ProgressFrame frame;
    const QString file = columnText(5000, "\n");
    TJotPad pad(frame, path, file);
    pad.Save();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QString crlf = file;
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QCOMPARE(f.readAll(), crlf.toUtf8());
  }

  void progressShowsOnlyForLongWork() {
    ProgressFrame frame;
    {
      LongWork quick(frame, QStringLiteral("Reading"));
      quick.step(0.5);
      QVERIFY(!quick.shown());
    }
    QVERIFY(frame.percents.empty());
    QCOMPARE(frame.ends, 0);
    {
      LongWork slow(frame, QStringLiteral("Converting x"));
      QTest::qSleep(LongWork::kShowAfterMs + 50);
      slow.step(0.25);
      QVERIFY(slow.shown());
      QCOMPARE(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                              : Qt::ArrowCursor,
               Qt::BusyCursor);
    }
    QCOMPARE(frame.percents, std::vector<int>{25});
    QCOMPARE(frame.texts, QStringList{QStringLiteral("Converting x")});
    QCOMPARE(frame.ends, 1);
    QVERIFY(!QApplication::overrideCursor());
  }
};

QTEST_MAIN(LargeFileTest)
#include "largefile_test.moc"
