// Tables from other programs through the frame's "Import Table..." command
// (the open dialog answered through the dialog seam): the pad holds data
// text, Convert makes a plotter whose "Custom Add Dataset" page offers the
// header's names and whose axes take them; refused tables open nothing;
// files named on the command line or dropped take the import when their
// content is such a table; a pad that fails to convert a table says that
// Import Table reads it.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "../frametestkit.h"
#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "plotter/charts.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

const QString kTables = QStringLiteral(ORVALLE_TEST_DATA "/tables/");

struct Rig {
  SettingsFolder settings;
  DialogScope dialogs;
  BeepCounter beeps;
  QTemporaryDir dir;
  std::unique_ptr<TMainForm> frame;

  Rig() {
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->setPadFactory(&NewScratchPad);
    frame->setFilePadFactory(&OpenScratchPad);
    frame->setTablePadFactory(&ImportScratchPad);
    frame->CreateLog();
    frame->show();
    settle();
  }
  ~Rig() {
    // Leave without the close questions.
    for (QWidget *child : frame->childWindows())
      if (auto *pad = qobject_cast<TJotPad *>(child))
        pad->setModified(false);
    for (TFit *plot : frame->findChildren<TFit *>())
      plot->CloseWithoutPrompt = true;
  }
  QString write(const QString &name, const QByteArray &bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
      return {};
    return f.fileName();
  }
  std::vector<TJotPad *> pads() const {
    std::vector<TJotPad *> out;
    for (QWidget *child : frame->childWindows())
      if (auto *pad = qobject_cast<TJotPad *>(child))
        out.push_back(pad);
    return out;
  }
  TFit *plotter() const {
    for (QWidget *child : frame->childWindows())
      if (auto *plot = qobject_cast<TFit *>(child))
        return plot;
    return nullptr;
  }
  void importThroughMenu(const QString &file) {
    dialogs.fake.openAnswer = file;
    frame->action(QStringLiteral("FileImportItem"))->trigger();
    settle();
  }
  void convert() {
    frame->TimerTick(); // the active pad states its commands
    settle();
    QAction *convert = frame->action(QStringLiteral("CTxtFile"));
    convert->trigger();
    settle();
  }
};

QStringList items(const QComboBox *box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i)
    out << box->itemText(i);
  return out;
}

} // namespace

class ImportTableTest : public QObject {
  Q_OBJECT
private slots:
  void theCommandStandsBesideOpenAndLeavesTheOtherItems();
  void importConvertAndFindTheHeaderNamesOnTheDatasetPage();
  void refusedTablesAreLoggedAndOpenNothing_data();
  void refusedTablesAreLoggedAndOpenNothing();
  void namedAndDroppedTablesTakeTheImportByContent();
  void aFailedConvertOfATableSaysImportTableReadsIt();
};

void ImportTableTest::theCommandStandsBesideOpenAndLeavesTheOtherItems() {
  Rig rig;
  auto *file = rig.frame->menuBar()->findChild<QMenu *>(QStringLiteral("FileMenu"));
  QVERIFY(file);
  const QList<QAction *> actions = file->actions();
  QVERIFY(actions.size() > 3);
  QCOMPARE(actions[1]->objectName(), QStringLiteral("FileOpenItem"));
  QCOMPARE(actions[2]->objectName(), QStringLiteral("FileImportItem"));
  QCOMPARE(actions[3]->objectName(), QStringLiteral("FileSaveItem"));
  QCOMPARE(actions[2]->text(), QStringLiteral("&Import Table..."));
  const QKeySequence key = actions[2]->shortcut();
  QCOMPARE(key, QKeySequence(QStringLiteral("Ctrl+Shift+O")));
  // No other command of the frame answers that key, and Open keeps Ctrl+O.
  for (QAction *a : rig.frame->findChildren<QAction *>())
    if (a != actions[2])
      QVERIFY2(a->shortcut() != key, qPrintable(a->objectName()));
  QCOMPARE(actions[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
}

void ImportTableTest::importConvertAndFindTheHeaderNamesOnTheDatasetPage() {
  Rig rig;
  const QString file = kTables + QStringLiteral("phyphox_acceleration.csv");
  rig.importThroughMenu(file);

  const auto pads = rig.pads();
  QCOMPARE(pads.size(), std::size_t(1));
  TJotPad *pad = pads[0];
  // Data text: the mark, the header as a comment, numbers between tabs.
  const QStringList lines = pad->Memo->toPlainText().split(QLatin1Char('\n'));
  QCOMPARE(lines[0], QStringLiteral("# Imported from %1 (comma-separated)").arg(file));
  QCOMPARE(lines[1], QStringLiteral("# Time (s)\tLinear Acceleration x (m/s^2)\tLinear "
                                    "Acceleration y (m/s^2)\tLinear Acceleration z (m/s^2)\t"
                                    "Absolute acceleration (m/s^2)"));
  QCOMPARE(lines[2], QStringLiteral("1.200482210E-2\t-1.050567627E-2\t2.276611328E-2\t-1."
                                    "487731934E-2\t2.911245483E-2"));
  // The pad has no file of its own: Save asks for one, and the table is
  // never written over.
  QVERIFY(pad->fileName().isEmpty());
  QCOMPARE(pad->importedFrom(), file);
  QVERIFY(!pad->modified());

  rig.convert();
  TFit *plot = rig.plotter();
  QVERIFY(plot);
  QCOMPARE(plot->windowTitle(), QStringLiteral("Chart Compiled From - phyphox_acceleration.csv"));
  QCOMPARE(plot->MChart->titleText(), QStringLiteral("phyphox_acceleration"));
  // Five columns: "Custom Add Dataset" shows, the names beside the letters.
  QCOMPARE(plot->currentPage(), 0);
  const QString em = QString(QChar(0x2014));
  const QStringList columns = {
      QStringLiteral("Col A ") + em + QStringLiteral(" Time (s)"),
      QStringLiteral("Col B ") + em + QStringLiteral(" Linear Acceleration x (m/s^2)"),
      QStringLiteral("Col C ") + em + QStringLiteral(" Linear Acceleration y (m/s^2)"),
      QStringLiteral("Col D ") + em + QStringLiteral(" Linear Acceleration z (m/s^2)"),
      QStringLiteral("Col E ") + em + QStringLiteral(" Absolute acceleration (m/s^2)")};
  QCOMPARE(items(plot->Xdata), columns);
  QCOMPARE(items(plot->Ydata), columns);
  const QStringList errorSources =
      columns + QStringList{QStringLiteral("Percentage"), QStringLiteral("Absolute")};
  QCOMPARE(items(plot->ErYdata), errorSources);
  // The grid keeps the column names.
  QCOMPARE(plot->StringGrid->model()->headerData(0, Qt::Horizontal).toString(),
           QStringLiteral("Col A"));

  // A dataset of Col A against Col E with errors from Col C... would have
  // negative errors; fixed errors instead.
  plot->Xdata->setCurrentIndex(0);
  plot->Ydata->setCurrentIndex(4);
  plot->ErYdata->setCurrentIndex(columns.size() + 1); // "Absolute"
  plot->EditErrFixed->setText(QStringLiteral("0.001"));
  rig.frame->TimerTick(); // the plotter states its commands
  settle();
  QVERIFY(plot->AddBtn->isEnabled());
  plot->AddBtn->click();
  settle();
  QCOMPARE(static_cast<int>(plot->Datasets.count), 1);
  const dataset *d = plot->Datasets.oldest()->obj;
  QCOMPARE(d->x->n, 3);
  QCOMPARE((*d->x)[1], 2.201938629E-2);
  QCOMPARE((*d->y)[2], 2.951735452E-2);
  // The axes take the columns' titles.
  QCOMPARE(plot->XAxisTitle, QStringLiteral("Time (s)"));
  QCOMPARE(plot->YAxisTitle, QStringLiteral("Absolute acceleration (m/s^2)"));
  plot->showPage(3); // "View Chart": the charts are drawn when looked at
  plot->RedrawCharts();
  QVERIFY2(plot->MChart->xAxis->label().startsWith(QStringLiteral("Time (s)")),
           qPrintable(plot->MChart->xAxis->label()));
  QVERIFY(plot->MChart->yAxis->label().startsWith(QStringLiteral("Absolute acceleration")));

  // A second dataset leaves the titles as they are.
  plot->Ydata->setCurrentIndex(1);
  plot->AddBtn->click();
  settle();
  QCOMPARE(static_cast<int>(plot->Datasets.count), 2);
  QCOMPARE(plot->YAxisTitle, QStringLiteral("Absolute acceleration (m/s^2)"));
}

void ImportTableTest::refusedTablesAreLoggedAndOpenNothing_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("says");
  QTest::newRow("ragged") << QByteArray("t,U\n1,2\n3,4,5\n")
                          << "Line 3 has 3 fields, where the first line of numbers (line 2) "
                             "has 2";
  QTest::newRow("word") << QByteArray("t;U\n1;2\n3;\"n/a\"\n")
                        << "Line 3, column 2: \"n/a\" is not a number";
  QTest::newRow("comma") << QByteArray("t,U\n1,\"2,5\"\n")
                         << "Line 2, column 2: \"2,5\" has a decimal comma";
  QTest::newRow("plain text") << QByteArray("1 2 0.1\n2 4 0.1\n")
                              << "No commas, semicolons or tabs separate";
}

void ImportTableTest::refusedTablesAreLoggedAndOpenNothing() {
  QFETCH(QByteArray, bytes);
  QFETCH(QString, says);
  Rig rig;
  const QString file = rig.write(QStringLiteral("bad.csv"), bytes);
  const qsizetype before = rig.frame->log()->lines().size();
  const int beeps = rig.beeps.count;
  rig.importThroughMenu(file);
  QVERIFY(rig.pads().empty());
  const QStringList lines = rig.frame->log()->lines();
  QCOMPARE(lines.size(), before + 1);
  QVERIFY2(lines.last().contains(QStringLiteral("Cannot import %1: %2").arg(file, says)),
           qPrintable(lines.last()));
  QCOMPARE(rig.beeps.count, beeps + 1);

  // Cancelling the dialog does nothing.
  rig.importThroughMenu(QString());
  QVERIFY(rig.pads().empty());
  QCOMPARE(rig.frame->log()->lines().size(), before + 1);
}

void ImportTableTest::namedAndDroppedTablesTakeTheImportByContent() {
  Rig rig;
  // Named .txt, but a semicolon table: imported. A tab-separated data
  // text and a plain one open as File Open opens them.
  const QString table = rig.write(QStringLiteral("export.txt"), "x;y;e\n1;2,5;0,1\n2;4,5;0,1\n");
  const QString tabs = rig.write(QStringLiteral("tabs.txt"), "1\t2\t0.1\n2\t4\t0.1\n");
  const QString plain = rig.write(QStringLiteral("plain.csv"), "1 2 0.1\n2 4 0.1\n");
  rig.frame->OpenFiles({table, tabs, plain});
  settle();
  const auto pads = rig.pads();
  QCOMPARE(pads.size(), std::size_t(3));
  QCOMPARE(pads[0]->importedFrom(), table);
  QCOMPARE(pads[0]->Memo->toPlainText(),
           QStringLiteral("# Imported from %1 (semicolon-separated)\n# x\ty\te\n1\t2.5\t0.1\n2\t4."
                          "5\t0.1\n")
               .arg(table));
  QVERIFY(pads[0]->fileName().isEmpty());
  QCOMPARE(pads[1]->fileName(), tabs);
  QCOMPARE(pads[1]->Memo->toPlainText(), QStringLiteral("1\t2\t0.1\n2\t4\t0.1\n"));
  QCOMPARE(pads[2]->fileName(), plain);
  QVERIFY(pads[2]->importedFrom().isEmpty());

  // File Open itself stays as it is: the same table opens as its text.
  rig.dialogs.fake.openAnswer = table;
  rig.frame->action(QStringLiteral("FileOpenItem"))->trigger();
  settle();
  QCOMPARE(rig.pads().size(), std::size_t(4));
  QCOMPARE(rig.pads()[3]->Memo->toPlainText(), QStringLiteral("x;y;e\n1;2,5;0,1\n2;4,5;0,1\n"));
}

void ImportTableTest::aFailedConvertOfATableSaysImportTableReadsIt() {
  Rig rig;
  struct Case {
    const char *text;
    bool table;
  };
  const Case cases[] = {{"t, U, dU\n1, 2, 0.1\n2, 4, 0.1\n", true},
                        {"Zeit\tU\tdU\n1\t2\t0.1\n2\t4\t0.1\n", true},
                        {"t U dU\n1 2 0.1\n2 4 0.1\n", false}};
  for (const Case &c : cases) {
    rig.frame->FileNew();
    settle();
    TJotPad *pad = rig.pads().back();
    pad->Memo->setPlainText(QString::fromUtf8(c.text));
    QVERIFY(pad->Convert() == nullptr);
    QVERIFY2(pad->Hint->isVisibleTo(pad), c.text);
    QCOMPARE(pad->Hint->text().contains(QStringLiteral("Import Table reads it")), c.table);
    pad->setModified(false);
  }
}

QTEST_MAIN(ImportTableTest)
#include "importtable_test.moc"
