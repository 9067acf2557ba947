// Shared pieces of the frame's window tests: a dialog seam that answers
// without showing anything, children that behave as a scratch pad or a
// plotter would towards the frame, a beep counter and a private settings
// folder.
#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <stdexcept>
#include <vector>

#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "frame/mdichild.h"

namespace orvalle::testkit {

class FakeDialogs : public Dialogs {
public:
  struct Message {
    QString title;
    QString text;
  };
  QString openAnswer;
  std::vector<Message> messages;
  std::function<bool(QWidget *)> onExec;
  int pageSetups = 0;
  Answer answer = Answer::Yes; // to every question
  int questions = 0;

  QString openFile(QWidget *, const QString &, const QString &, const QString &) override {
    return openAnswer;
  }
  QString saveAnswer; // the file every save dialog chooses; empty: Cancel
  QString saveFile(QWidget *, const QString &, const QString &, const QString &,
                   QString *) override {
    return saveAnswer;
  }
  Answer question(QWidget *, const QString &, const QString &, bool) override {
    ++questions;
    return answer;
  }
  void message(QWidget *, const QString &title, const QString &text) override {
    messages.push_back({title, text});
  }
  bool print(QWidget *, QPrinter *) override { return false; }
  bool pageSetup(QWidget *, QPrinter *) override {
    ++pageSetups;
    return false;
  }
  bool font(QWidget *, QFont &) override { return false; }
  bool exec(QWidget *dialog) override { return onExec ? onExec(dialog) : false; }
};

// Installs a FakeDialogs for the lifetime of the object.
class DialogScope {
public:
  DialogScope() : old_(Dialogs::install(&fake)) {}
  ~DialogScope() { Dialogs::install(old_); }
  FakeDialogs fake;

private:
  Dialogs *old_;
};

// Counts the program's beeps.
class BeepCounter {
public:
  BeepCounter() : old_(SetBeepHook([this] { ++count; })) {}
  ~BeepCounter() { SetBeepHook(old_); }
  int count = 0;

private:
  std::function<void()> old_;
};

// A child that records the commands it receives. As a pad or a plotter it
// states the frame's commands on UM_UPDATEMENUS as those windows do.
class FakeChild : public MdiChild {
public:
  enum class Kind { Pad, Plotter };
  struct Got {
    int message;
    long long wparam;
    long long lparam;
  };

  FakeChild(FrameApi &frame, Kind kind) : MdiChild(frame), kind(kind) {
    setWindowTitle(kind == Kind::Pad ? QStringLiteral("ScatchPad") : QStringLiteral("Plotter"));
  }

  Kind kind;
  bool acceptsClose = true;
  bool selection = false;
  bool chartPage = false;
  bool throwOn = false;                               // UM_SAVE raises an exception
  std::vector<const FakeChild *> *sequence = nullptr; // who received, in order
  std::vector<Got> got;

  std::vector<Got> received(int message) const {
    std::vector<Got> out;
    for (const Got &g : got)
      if (g.message == message)
        out.push_back(g);
    return out;
  }

protected:
  bool command(CommandEvent &e) override {
    got.push_back({e.message(), e.wParam, e.lParam});
    if (sequence && e.message() != UM_UPDATEMENUS)
      sequence->push_back(this);
    if (e.message() == UM_SAVE && throwOn)
      throw std::runtime_error("the save failed on purpose");
    if (e.message() == UM_UPDATEMENUS)
      kind == Kind::Pad ? statePad() : statePlotter();
    if (e.message() == UM_CLOSEREQUEST && acceptsClose)
      closeChild();
    return true;
  }

private:
  void statePad() {
    FrameApi &f = frame();
    for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave, Cmd::FileClose,
                  Cmd::TBSelectAll, Cmd::TBWordWrap, Cmd::CTxtFile, Cmd::TBProcess})
      f.enable(c, true);
    for (Cmd c : {Cmd::FileExport, Cmd::Replot, Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis,
                  Cmd::TBTitles, Cmd::MenuChart, Cmd::CopytoClipBoard2})
      f.enable(c, false);
    f.SetEditItems(true, selection);
  }
  void statePlotter() {
    FrameApi &f = frame();
    for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave, Cmd::TBProcess})
      f.enable(c, false);
    for (Cmd c : {Cmd::FileClose, Cmd::FileExport, Cmd::FilePrintItem, Cmd::TBPrint, Cmd::Replot,
                  Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis, Cmd::TBTitles, Cmd::MenuChart,
                  Cmd::CopytoClipBoard2})
      f.enable(c, true);
    f.SetEditItems(false, false);
    f.enable(Cmd::TBarCopy, chartPage);
  }
};

// Runs the posted events (commands, log lines, deferred deletes) a few
// rounds deep.
inline void settle() {
  for (int i = 0; i < 4; ++i)
    QCoreApplication::processEvents();
}

// Points the settings store at a fresh folder; the previous folder goes when
// the object does.
class SettingsFolder {
public:
  SettingsFolder() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path()); }
  QString file() const { return dir.filePath(QStringLiteral("Halvorn/Vantrel.ini")); }
  QTemporaryDir dir;
};

} // namespace orvalle::testkit
