// orvalle-screenshot: starts the frame as the program does, opens one of its
// menus (or a window), grabs the whole screen and saves it as a PNG.
//
//   orvalle-screenshot OUT.png [File|Edit|Actions|Chart|Window|Help|about|prefs|help[:Title]|teach]
//                              [data|wide]
//
// With "data" a scratch pad with a small tagged data text is opened and
// converted first, so the menus show a plotter's commands; "wide" does the
// same with a column text of 30 columns (names past Col Z). A fourth argument
// naming a .png, .svg or .pdf file exports the plotter's charts to it just
// before the screen is grabbed. "legend" (with "data") fits a straight
// line to the first dataset and ticks "Legend" in the titles and axes
// window. "fits" (with "data") offers the sample trend types and shows the
// plotter's "Add Fits/TrendLines " page; with $ORVALLE_CUSTOMFIT naming a
// plug-in its model is listed too.
// "rc" and "rclog" (with "file:PATH" of a four-column file: t, V, error
// of V, error of t) make the first dataset by hand with the x errors picked
// and fit the typed formula A*exp(-x/B) to it; "rclog" then puts the y axis
// on a logarithmic scale with the legend on, "rcband" adds the 95 % band. "multi" (with "data")
// runs a shared-gradient and a shared-intercept multi fit and shows the chart; "multipage" shows
// the fits page after them. A third argument "project:PATH" opens that project file as a
// plotter, as the command line does; with "project" as the second the chart is shown full size.
// With ORVALLE_SHOT_FRAME set only the frame window (at its default size,
// with the window manager's border) is saved, as the software centre shows
// it; with ORVALLE_SHOT_DARK set the program runs in the Fusion style with
// a dark palette, as under a dark desktop theme.
// Run it under xvfb-run (scripts/screenshot does).
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

#include "datatext/conversion.h"
#include "frame/aboutbox.h"
#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/helpwindow.h"
#include "frame/mainform.h"
#include "frame/preferences.h"
#include "plotter/chartlabs.h"
#include "plotter/controls.h"
#include "plotter/export.h"
#include "plotter/formulapanel.h"
#include "plotter/tfit.h"
#if __has_include("frame/pad/jotpad.h")
#include "frame/pad/jotpad.h"
#define ORVALLE_HAVE_PAD 1
#endif

namespace {

void useDarkPalette() {
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette p;
  const QColor window(0x35, 0x35, 0x35), base(0x24, 0x24, 0x24), text(0xee, 0xee, 0xee);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
  p.setColor(QPalette::LinkVisited, QColor(0xb4, 0x8c, 0xff));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  QApplication::setPalette(p);
}

// The pads the fourth argument asks for: "data" a small tagged text
// converted, "file:PATH" a file opened as File Open does, "table:PATH" a
// table imported, "project:PATH" a project opened, "wide" a text of thirty
// columns converted.
void openArgument(orvalle::TMainForm &frame, const QString &arg) {
#ifdef ORVALLE_HAVE_PAD
  if (arg == QLatin1String("data")) {
    orvalle::MdiChild *pad = orvalle::NewScratchPad(
        frame, QString(),
        QStringLiteral("# load/N extension/mm error tag\n1 2.1 0.2 a\n2 4.0 0.2 a\n3 6.2 0.3 "
                       "a\n4 7.9 0.3 a\n1 3.0 0.2 b\n2 6.1 0.3 b\n3 8.8 0.3 b\n4 12.1 0.4 b\n"));
    orvalle::PostCommand(pad, orvalle::UM_PROCESS);
  } else if (arg.startsWith(QLatin1String("file:"))) {
    const QString path = arg.mid(5);
    orvalle::NewScratchPad(frame, path,
                           QString::fromStdString(orvalle::readdatatext(path.toStdString())));
  } else if (arg.startsWith(QLatin1String("table:"))) {
    frame.ImportTable(arg.mid(6));
  } else if (arg.startsWith(QLatin1String("project:"))) {
    frame.OpenFiles({arg.mid(8)});
  } else if (arg == QLatin1String("wide")) {
    QString text;
    for (int r = 1; r <= 6; ++r) {
      for (int c = 0; c < 30; ++c)
        text += QString::number(r * (c + 1)) + QLatin1Char(' ');
      text += QLatin1Char('\n');
    }
    orvalle::MdiChild *pad = orvalle::NewScratchPad(frame, QString(), text);
    orvalle::PostCommand(pad, orvalle::UM_PROCESS);
  }
#else
  (void)frame;
  (void)arg;
#endif
}

// Moves the titles window clear of the plotter, which opens at the top
// left of the frame.
void moveToCorner(QWidget *labs) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  labs->move(screen.right() - labs->frameGeometry().width() - 4,
             screen.bottom() - labs->frameGeometry().height() - 80);
}

// "help:Title" opens the contents entry of that title, "help:page.html"
// that page of the book.
void showHelp(orvalle::TMainForm &frame, const QString &what) {
  frame.HelpContents();
  const QString title = what.section(QLatin1Char(':'), 1);
  auto *help = frame.findChild<orvalle::THelpWindow *>();
  if (help && title.endsWith(QLatin1String(".html")))
    help->browser()->setSource(help->browser()->source().resolved(QUrl(title)));
  else if (help && !title.isEmpty())
    if (auto *tree = help->findChild<QTreeWidget *>(QStringLiteral("Contents")))
      for (QTreeWidgetItem *item : tree->findItems(title, Qt::MatchExactly | Qt::MatchRecursive))
        emit tree->itemClicked(item, 0);
}

void showLegend(orvalle::TMainForm &frame) {
  for (orvalle::TFit *plotter : frame.findChildren<orvalle::TFit *>()) {
    plotter->TrDataset->setCurrentIndex(0);
    plotter->TrType->setItemIndex(1);
    plotter->TrTypeClick();
    plotter->AddTrClick();
    orvalle::SendCommand(plotter, orvalle::UM_PROCESS, 2, 2);
    if (auto *labs = qobject_cast<orvalle::TChartlabs *>(plotter->TitlesWindow.data())) {
      labs->Legend->click();
      moveToCorner(labs);
    }
  }
}

// "rc": a formula fitted to the converted file; "rclog" with a log y axis
// and the legend, "rcband" with the band too.
void showFormulaFit(orvalle::TMainForm &frame, const QString &what) {
  for (QWidget *child : frame.childWindows())
    if (auto *pad = qobject_cast<orvalle::TJotPad *>(child)) {
      orvalle::SendCommand(pad, orvalle::UM_PROCESS);
      pad->setFocus(); // a failed conversion shows the pad's hint
    }
  for (orvalle::TFit *plotter : frame.findChildren<orvalle::TFit *>()) {
    plotter->UpdateFrameCommands();
    plotter->Xdata->setCurrentIndex(0);
    plotter->Ydata->setCurrentIndex(1);
    plotter->ErYdata->setCurrentIndex(2);
    plotter->ErXdata->setCurrentIndex(4);
    plotter->AddBtn->click();
    plotter->showPage(2);
    plotter->TrType->setItemIndex(plotter->TrType->count() - 1);
    plotter->FormulaBox->FormulaEdit->setText(QStringLiteral("A*exp(-x/B)"));
    plotter->FormulaBox->estimateBox(0)->setText(QStringLiteral("5"));
    plotter->FormulaBox->estimateBox(1)->setText(QStringLiteral("2"));
    plotter->AddTr->click();
    if (what == QLatin1String("rc"))
      continue;
    orvalle::SendCommand(plotter, orvalle::UM_PROCESS, 2, 2);
    if (auto *labs = qobject_cast<orvalle::TChartlabs *>(plotter->TitlesWindow.data())) {
      labs->LogY->click();
      labs->Legend->click();
      if (what == QLatin1String("rcband"))
        labs->BandLevel->setCurrentIndex(2);
      moveToCorner(labs);
    }
  }
}

// The imported table converted: its columns offered by name on "Custom Add
// Dataset" (the y list open), or a dataset of the first two columns drawn
// with the columns' names as axis titles.
void showTable(orvalle::TMainForm &frame, const QString &what) {
  for (QWidget *child : frame.childWindows())
    if (auto *pad = qobject_cast<orvalle::TJotPad *>(child))
      orvalle::SendCommand(pad, orvalle::UM_PROCESS);
  for (orvalle::TFit *plotter : frame.findChildren<orvalle::TFit *>()) {
    plotter->UpdateFrameCommands();
    plotter->Xdata->setCurrentIndex(0);
    plotter->Ydata->setCurrentIndex(1);
    if (what == QLatin1String("tableset")) {
      plotter->showPage(0);
      plotter->Ydata->showPopup();
      continue;
    }
    plotter->ErYdata->setCurrentIndex(plotter->ErYdata->count() - 1); // "Absolute"
    plotter->EditErrFixed->setText(QStringLiteral("0.02"));
    plotter->UpdateFrameCommands();
    plotter->AddBtn->click();
    plotter->showPage(3);
    plotter->UpdateFrameCommands();
  }
}

void showMultiFits(orvalle::TMainForm &frame, const QString &what) {
  for (orvalle::TFit *plotter : frame.findChildren<orvalle::TFit *>()) {
    plotter->showPage(2);
    plotter->TrType->setItemIndex(1);
    plotter->UpdateFrameCommands();
    plotter->MFitType->setItemIndex(1);
    plotter->GoPlotBtn->click();
    plotter->showPage(2);
    plotter->MFitType->setItemIndex(0);
    plotter->GoPlotBtn->click();
    // The second line of the first multi fit, with its description.
    plotter->CBoxDetails->setCurrentIndex(1);
    emit plotter->CBoxDetails->activated(1);
    if (what == QLatin1String("multipage"))
      plotter->showPage(2);
  }
}

void showProject(orvalle::TMainForm &frame) {
  for (orvalle::TFit *plotter : frame.findChildren<orvalle::TFit *>()) {
    plotter->parentWidget()->showMaximized();
    plotter->showPage(3);
    plotter->RedrawCharts();
  }
}

// Any other name opens the frame's menu of that title.
void openMenu(orvalle::TMainForm &frame, const QString &what) {
  for (QAction *a : frame.menuBar()->actions()) {
    if (a->text().remove(QLatin1Char('&')) == what && a->menu()) {
      frame.menuBar()->setActiveAction(a);
      break;
    }
  }
}

// What the second argument shows once the frame has settled.
void showMode(orvalle::TMainForm &frame, const QString &what) {
  using show = void (*)(orvalle::TMainForm &, const QString &);
  static const std::pair<const char *, show> modes[] = {
      {"about", [](orvalle::TMainForm &f, const QString &) { f.aboutBox()->show(); }},
      {"prefs",
       [](orvalle::TMainForm &f, const QString &) {
         auto *prefs = new orvalle::TPreferences(f, &f);
         prefs->setAttribute(Qt::WA_DeleteOnClose);
         prefs->show();
       }},
      {"legend", [](orvalle::TMainForm &f, const QString &) { showLegend(f); }},
      {"rc", showFormulaFit},
      {"rclog", showFormulaFit},
      {"rcband", showFormulaFit},
      {"tableset", showTable},
      {"tablechart", showTable},
      {"multi", showMultiFits},
      {"multipage", showMultiFits},
      {"project", [](orvalle::TMainForm &f, const QString &) { showProject(f); }},
      {"fits",
       [](orvalle::TMainForm &f, const QString &) {
         for (orvalle::TFit *plotter : f.findChildren<orvalle::TFit *>())
           plotter->showPage(2);
       }},
      {"teach", [](orvalle::TMainForm &f, const QString &) { f.TeachingPages1Click(); }},
      // The status line as long work shows it.
      {"progress",
       [](orvalle::TMainForm &f, const QString &) {
         f.showProgress(QStringLiteral("Reading /home/student/run-large.txt"), 40);
       }},
  };
  if (what.startsWith(QLatin1String("help"))) {
    showHelp(frame, what);
    return;
  }
  for (const auto &[name, fn] : modes)
    if (what == QLatin1String(name)) {
      fn(frame, what);
      return;
    }
  openMenu(frame, what);
}

// Exports every plotter's charts to the file, in the picture format its
// suffix names (PNG for any other).
void exportPlotters(orvalle::TMainForm &frame, const QString &exportTo) {
  for (QWidget *child : frame.childWindows())
    if (auto *plotter = qobject_cast<orvalle::TFit *>(child)) {
      const orvalle::exportformat *format = orvalle::ExportFormatFor(exportTo);
      plotter->ExportPicture(format && format->write ? format->kind : orvalle::exportkind::png,
                             exportTo);
      std::printf("exported %s\n", qPrintable(exportTo));
    }
}

} // namespace

int main(int argc, char *argv[]) {
  orvalle::OrvalleApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("ORVALLE_SHOT_DARK"))
    useDarkPalette();
  QApplication::setApplicationName(QStringLiteral("Orvalle"));
  orvalle::SetHelpFile(QStringLiteral("VTRL.hlp"));
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("frame.png");
  const QString what = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("File");
  const QString arg = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  const QString exportTo = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

  orvalle::TMainForm frame;
  frame.setPlotterFactory(&orvalle::NewPlotter);
  if (frame.startFailed())
    return 1;
#ifdef ORVALLE_HAVE_PAD
  frame.setPadFactory(&orvalle::NewScratchPad);
  frame.setFilePadFactory(&orvalle::OpenScratchPad);
  frame.setTablePadFactory(&orvalle::ImportScratchPad);
#endif
  if (what == QLatin1String("fits"))
    frame.setSamplefits(true);
  frame.CreateLog();
  frame.CreateAboutBox();
  frame.show();
  openArgument(frame, arg);

  QTimer::singleShot(900, &frame, [&] {
    if (arg == QLatin1String("wide"))
      for (QTableView *grid : frame.findChildren<QTableView *>())
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    showMode(frame, what);
  });
  QTimer::singleShot(1500, &frame, [&] {
    if (!exportTo.isEmpty())
      exportPlotters(frame, exportTo);
  });
  QTimer::singleShot(1800, &frame, [&] {
    const QPixmap shot = qEnvironmentVariableIsSet("ORVALLE_SHOT_FRAME")
                             ? QGuiApplication::primaryScreen()->grabWindow(
                                   0, frame.frameGeometry().x(), frame.frameGeometry().y(),
                                   frame.frameGeometry().width(), frame.frameGeometry().height())
                             : QGuiApplication::primaryScreen()->grabWindow(0);
    const bool ok = shot.save(out);
    std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(out));
    QCoreApplication::exit(ok ? 0 : 1);
  });
  return app.exec();
}
