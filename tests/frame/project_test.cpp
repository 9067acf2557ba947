// Project files through the frame's own menus and dialog seam: "Save
// Project..." of a plotter made from a pad, "Open Project..." and a project
// named on the command line open it again as a plotter with the same fits;
// a bad project is logged and opens nothing; the caption marks unsaved work.
#include <QFile>
#include <QMap>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <memory>

#include "frame/log.h"
#include "frame/mainform.h"
#include "frame/pad/jotpad.h"
#include "frametestkit.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"

using namespace orvalle;
using namespace orvalle::testkit;

namespace {

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
    frame->CreateLog();
    frame->show();
    settle();
  }
  std::vector<TFit *> plotters() const {
    std::vector<TFit *> out;
    for (QWidget *child : frame->childWindows())
      if (auto *p = qobject_cast<TFit *>(child))
        out.push_back(p);
    return out;
  }
  // A plotter made as the user makes one: a pad, its text, Convert.
  TFit *convert(const QString &text) {
    frame->FileNew();
    auto *pad = qobject_cast<TJotPad *>(frame->activeChild());
    pad->Memo->setPlainText(text);
    frame->CTxtFileClick();
    settle();
    return qobject_cast<TFit *>(frame->activeChild());
  }
  // The File menu's item of that caption, triggered as a click would.
  bool choose(const QString &caption) {
    for (QAction *menu : frame->menuBar()->actions())
      if (menu->text() == QStringLiteral("&File"))
        for (QAction *a : menu->menu()->actions())
          if (a->text() == caption && a->isEnabled()) {
            a->trigger();
            settle();
            return true;
          }
    return false;
  }
  QString subCaption(TFit *p) const {
    return qobject_cast<QMdiSubWindow *>(p->parentWidget())->windowTitle();
  }
};

const char *const kTagged = "1 2.1 0.1 a\n2 3.9 0.1 a\n3 6.2 0.2 a\n4 8.1 0.1 a\n"
                            "1 1.1 0.1 b\n2 2.0 0.1 b\n3 3.1 0.1 b\n4 3.9 0.2 b\n";

} // namespace

class ProjectFramesTest : public QObject {
  Q_OBJECT
private slots:
  void saveAndOpenThroughTheMenus();
  void aProjectOnTheCommandLineOpensAsAPlotter();
  void aBadProjectIsLoggedAndOpensNothing();
};

void ProjectFramesTest::saveAndOpenThroughTheMenus() {
  Rig rig;
  // The menu's own items are where they were; the new ones stand after "Save As...".
  QStringList captions;
  for (QAction *menu : rig.frame->menuBar()->actions())
    if (menu->text() == QStringLiteral("&File"))
      for (QAction *a : menu->menu()->actions())
        if (!a->isSeparator())
          captions << a->text();
  QCOMPARE(captions.mid(0, 8),
           QStringList({QStringLiteral("&New"), QStringLiteral("&Open..."),
                        QStringLiteral("&Import Table..."), QStringLiteral("&Save"),
                        QStringLiteral("Save &As..."), QStringLiteral("Open Pro&ject..."),
                        QStringLiteral("Save Pro&ject..."), QStringLiteral("&Close")}));
  QCOMPARE(rig.frame->action(QStringLiteral("FileOpenProjectItem"))->shortcut(),
           QKeySequence(QStringLiteral("Ctrl+Alt+O")));
  // The shortcuts added beside the Parts' (projects, Import Table) belong to
  // one command each.
  QMap<QString, QStringList> taken;
  for (QAction *a : rig.frame->findChildren<QAction *>())
    if (!a->shortcut().isEmpty())
      taken[a->shortcut().toString()] << a->text();
  for (const char *key : {"Ctrl+Alt+O", "Ctrl+Shift+S", "Ctrl+Shift+O"})
    QVERIFY2(taken.value(QLatin1String(key)).size() == 1,
             qPrintable(QLatin1String(key) + ": " + taken.value(QLatin1String(key)).join(", ")));
  QCOMPARE(rig.frame->action(QStringLiteral("FileSaveProjectItem"))->shortcut(),
           QKeySequence(QStringLiteral("Ctrl+Shift+S")));

  TFit *plot = rig.convert(QString::fromLatin1(kTagged));
  QVERIFY(plot);
  plot->TrType->setItemIndex(1);
  plot->TrTypeClick();
  plot->AddTrClick();
  plot->MFitType->setItemIndex(1);
  plot->GoPlotBtnClick();
  QCOMPARE(plot->Fits.count, 3u);
  // Unsaved work shows in the frame's caption of the plotter, and the
  // close question is the one it always was.
  QVERIFY(rig.subCaption(plot).endsWith(QStringLiteral(" *")));
  QVERIFY(!plot->windowTitle().endsWith(QStringLiteral(" *")));

  const QString file = rig.dir.filePath(QStringLiteral("lab.orvp"));
  rig.dialogs.fake.saveAnswer = file;
  QVERIFY(rig.choose(QStringLiteral("Save Pro&ject...")));
  QVERIFY(QFile::exists(file));
  QVERIFY(!rig.subCaption(plot).endsWith(QStringLiteral(" *")));
  QVERIFY(rig.frame->log()->lines().last().endsWith(QStringLiteral("Project saved to ") + file));

  rig.dialogs.fake.openAnswer = file;
  QVERIFY(rig.choose(QStringLiteral("Open Pro&ject...")));
  const auto plots = rig.plotters();
  QCOMPARE(plots.size(), std::size_t(2));
  TFit *again = plots.back();
  QCOMPARE(rig.frame->activeChild(), again);
  QCOMPARE(again->Fits.count, 3u);
  for (unsigned i = 0; i < 3; ++i) {
    const bfit *a = plot->Fits.at(i)->obj;
    const bfit *b = again->Fits.at(i)->obj;
    QCOMPARE(b->name, a->name);
    for (int k = 0; k < 10; ++k) {
      QCOMPARE(std::bit_cast<quint64>(b->par[k]), std::bit_cast<quint64>(a->par[k]));
      QCOMPARE(std::bit_cast<quint64>(b->err[k]), std::bit_cast<quint64>(a->err[k]));
    }
  }
  QStringList one, two;
  plot->WriteInformation(one);
  again->WriteInformation(two);
  QCOMPARE(two, one);
  QVERIFY(!rig.subCaption(again).endsWith(QStringLiteral(" *")));

  // A save that cannot be written says so and leaves the file as it was.
  const QByteArray kept = [&] {
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }();
  rig.dialogs.fake.saveAnswer = rig.dir.filePath(QStringLiteral("no such folder/lab.orvp"));
  const int beeps = rig.beeps.count;
  QVERIFY(rig.choose(QStringLiteral("Save Pro&ject...")));
  QVERIFY(rig.beeps.count > beeps);
  QVERIFY(rig.frame->log()->lines().last().contains(QStringLiteral("could not be saved")));
  QFile f(file);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), kept);
}

void ProjectFramesTest::aProjectOnTheCommandLineOpensAsAPlotter() {
  Rig rig;
  TFit *plot = rig.convert(QString::fromLatin1(kTagged));
  QVERIFY(plot);
  plot->AddTrClick();
  // Any name: the content says it is a project.
  const QString file = rig.dir.filePath(QStringLiteral("lab-notes.txt"));
  plot->SaveProject(file);
  const QString data = rig.dir.filePath(QStringLiteral("data.txt"));
  QFile d(data);
  QVERIFY(d.open(QIODevice::WriteOnly));
  d.write(kTagged);
  d.close();
  rig.frame->OpenFiles({file, data});
  settle();
  QCOMPARE(rig.plotters().size(), std::size_t(2));
  QCOMPARE(rig.plotters().back()->Fits.count, 1u);
  // The data text opened as File Open opens it: in a pad.
  QVERIFY(qobject_cast<TJotPad *>(rig.frame->activeChild()));
}

void ProjectFramesTest::aBadProjectIsLoggedAndOpensNothing() {
  Rig rig;
  const QString file = rig.dir.filePath(QStringLiteral("bad.orvp"));
  QFile f(file);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("{\"format\": \"orvalle-project\", \"version\": 1, \"source\": {\"file\": 3}}");
  f.close();
  const int children = static_cast<int>(rig.frame->childWindows().size());
  rig.frame->OpenFiles({file});
  settle();
  QCOMPARE(static_cast<int>(rig.frame->childWindows().size()), children);
  QVERIFY(rig.plotters().empty());
  const QString last = rig.frame->log()->lines().last();
  QVERIFY2(last.contains(QStringLiteral("cannot be opened: source.file: should be a text, not a "
                                        "number")),
           qPrintable(last));
  QVERIFY(rig.beeps.count >= 1);
}

QTEST_MAIN(ProjectFramesTest)
#include "project_test.moc"
