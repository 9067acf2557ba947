// Pieces of the export, printing and titles-window tests: a frame that is a
// window object (so the titles window's codes reach it) and passes
// UM_UPDATEALL on to its plotters, with a PDF printer and the three
// "What to Print" marks; a dialog seam with a chosen export name, filter,
// print answer and font; and fits put on a plotter's datasets directly.
#pragma once

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/fits.h"
#include "frame/mainform.h"
#include "plotter/tfit.h"
#include "tests/plotter/plotterfixture.h"

namespace orvalle::test {

// A PDF printer that tells when a page is begun.
class WatchedPrinter : public QPrinter {
public:
  WatchedPrinter() : QPrinter(QPrinter::HighResolution) {}
  bool newPage() override {
    if (onNewPage)
      onNewPage();
    return QPrinter::newPage();
  }
  std::function<void()> onNewPage;
};

class RoutingFrame : public QObject, public FakeFrame {
public:
  RoutingFrame() {
    pdf.setOutputFormat(QPrinter::PdfFormat);
    for (Cmd c : {Cmd::WTPMainChart, Cmd::WTPResiduals, Cmd::WTPInformation}) {
      command(c)->setCheckable(true);
      command(c)->setChecked(true);
    }
  }
  QPrinter *printer() override { return &pdf; }
  void adopt(QWidget *child) { children.emplace_back(child); }
  void marks(bool m, bool v, bool i) {
    command(Cmd::WTPMainChart)->setChecked(m);
    command(Cmd::WTPResiduals)->setChecked(v);
    command(Cmd::WTPInformation)->setChecked(i);
  }

  WatchedPrinter pdf;
  std::vector<QPointer<QWidget>> children;
  std::vector<long long> codes; // every UM_UPDATEALL received

protected:
  bool event(QEvent *e) override {
    if (e->type() == static_cast<QEvent::Type>(UM_UPDATEALL)) {
      auto *c = static_cast<CommandEvent *>(e);
      codes.push_back(c->lParam);
      for (const QPointer<QWidget> &child : children)
        if (child)
          SendCommand(child, UM_UPDATEALL, c->wParam, c->lParam);
      return true;
    }
    return QObject::event(e);
  }
};

class OutputDialogs : public FakeDialogs {
public:
  QString saveFile(QWidget *, const QString &title, const QString &, const QString &filter,
                   QString *selected) override {
    saveTitles << title;
    saveFilters << filter;
    if (selected)
      *selected = selectedFilter;
    return saveAnswer;
  }
  // Accepting, the user chooses to print to the PDF file printTo (when set).
  bool print(QWidget *, QPrinter *printer) override {
    ++prints;
    if (printAnswer && !printTo.isEmpty()) {
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(printTo);
    }
    return printAnswer;
  }
  bool font(QWidget *, QFont &f) override {
    ++fonts;
    if (!fontAnswer)
      return false;
    f = *fontAnswer;
    return true;
  }

  QString saveAnswer;
  QString selectedFilter;
  QStringList saveTitles, saveFilters;
  bool printAnswer = true;
  QString printTo;
  int prints = 0;
  std::optional<QFont> fontAnswer;
  int fonts = 0;
};

// makePlotter for any frame (the real one included).
inline std::unique_ptr<TFit> makePlotterFor(FrameApi &frame, const std::vector<std::string> &lines,
                                            const std::string &file) {
  return makePlotter(frame, lines, file);
}

// A fit of dataset `index` put on the plotter as the fits page would.
template <class Fit, class... Args>
bfit *addFit(TFit &plotter, int index, const std::string &name, Args... args) {
  dataset *d = plotter.Datasets.at(static_cast<unsigned>(index))->obj;
  auto fit = std::make_unique<Fit>(args...);
  fit->data = d;
  fit->name = name;
  d->attach(fit.get());
  fit->fitplot(plotter.mainCanvas(), plotter.devCanvas(), 1000, true);
  bfit *f = fit.get();
  plotter.Fits.add(std::move(fit));
  plotter.RedrawCharts();
  return f;
}

// The plotter shown at a fixed size with its charts laid out.
inline void showCharts(TFit &plotter, int w = 760, int h = 640) {
  plotter.resize(w, h);
  plotter.show();
  plotter.showPage(3);
  QCoreApplication::processEvents();
  plotter.UpdateFrameCommands();
  plotter.RedrawCharts();
  QCoreApplication::processEvents();
}

inline QByteArray readAll(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return f.readAll();
}

// Lines of a CR LF text; a text that does not end in CR LF gets a last
// line "<unterminated>" so that the comparison shows it.
inline QStringList crlfLines(const QByteArray &bytes) {
  QString text = QString::fromUtf8(bytes);
  QStringList lines = text.split(QStringLiteral("\r\n"));
  if (lines.last().isEmpty())
    lines.removeLast();
  else
    lines.last() += QStringLiteral("<unterminated>");
  return lines;
}

// The program's frame on a private settings folder, with its log.
struct FrameRig {
  QTemporaryDir settings;
  std::unique_ptr<TMainForm> frame;
  FrameRig() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    qputenv("ORVALLE_CUSTOMFIT", "/nonexistent/libcustomfit.so");
    frame = std::make_unique<TMainForm>();
    frame->setPlotterFactory(&NewPlotter);
    frame->CreateLog();
    frame->show();
    QCoreApplication::processEvents();
  }
  TFit *adopt(std::unique_ptr<TFit> p) {
    p->CloseWithoutPrompt = true;
    TFit *raw = p.get();
    frame->addChild(p.release()); // the sub-window owns it
    QCoreApplication::processEvents();
    return raw;
  }
  void trigger(const char *name) {
    QAction *a = frame->action(QLatin1String(name));
    QVERIFY2(a, name);
    a->setEnabled(true);
    a->trigger();
    QCoreApplication::processEvents();
  }
};

} // namespace orvalle::test
