// The one fake frame of the plotter tests: owns one QAction per frame
// command, records log lines and SetEditItems calls, and holds the settings
// a test chooses (solver, sample types, plug-in library); the engine's log
// channel routed into it; and a dialog seam that answers questions with a
// preset answer and records messages.
#pragma once

#include <QAction>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/logchannel.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "plotter/tfit.h"

namespace orvalle::test {

struct LogLine {
  int kind;
  bool error;
  QString text;
};

class FakeFrame : public FrameApi {
public:
  FakeFrame() {
    for (int c = 0; c <= static_cast<int>(Cmd::WTPInformation); ++c)
      actions_[static_cast<Cmd>(c)] = std::make_unique<QAction>();
  }
  QAction *command(Cmd c) override { return actions_.at(c).get(); }
  bool on(Cmd c) { return command(c)->isEnabled(); }
  void setAll(bool enabled) {
    for (auto &a : actions_)
      a.second->setEnabled(enabled);
  }
  void SetEditItems(bool undo, bool selection) override {
    editCalls.push_back({undo, selection});
    enable(Cmd::EditUndoItem, undo);
    for (Cmd c : {Cmd::EditCutItem, Cmd::EditCopyItem, Cmd::TBarCut, Cmd::TBarCopy})
      enable(c, selection);
    enable(Cmd::EditPasteItem, undo);
    enable(Cmd::TBPaste, undo);
  }
  void LogEvent(int kind, bool error, const QString &text) override {
    if (onLog)
      onLog({kind, error, text}); // a test may make a request fail here
    log.push_back({kind, error, text});
  }
  void setStatusText(const QString &text) override { status = text; }
  QMdiSubWindow *addChild(QWidget *) override { return nullptr; }
  std::unique_ptr<MdiChild> makePlotter() override { return NewPlotter(*this); }
  bool invmatr() const override {
    ++invmatrReads;
    return gauss;
  }
  bool samplefits() const override { return sampleFits; }
  QString openDir() const override { return {}; }
  QPrinter *printer() override { return nullptr; }
  const PluginLibrary *plugin() const override { return pluginLibrary; }

  std::vector<LogLine> log;
  std::vector<std::pair<bool, bool>> editCalls;
  QString status;
  bool sampleFits = false;
  bool gauss = false;                           // the solver setting: Gaussian elimination
  mutable int invmatrReads = 0;                 // how often the solver setting was read
  const PluginLibrary *pluginLibrary = nullptr; // the bound plug-in, if any
  std::function<void(const LogLine &)> onLog;   // sees each request before it is logged

private:
  std::map<Cmd, std::unique_ptr<QAction>> actions_;
};

// The texts of the error entries logged so far, in order.
inline QStringList errors(const FakeFrame &frame) {
  QStringList l;
  for (const LogLine &line : frame.log)
    if (line.error)
      l << line.text;
  return l;
}

// While it lives, the engine's own log lines go to the fake frame's log as
// well, with their kind.
class EngineLog {
public:
  explicit EngineLog(FakeFrame &frame) {
    setlogwindow([&frame](int, int) {
      frame.LogEvent(kEngineLogKind, true, QString::fromStdString(pendingmessage()));
    });
  }
  ~EngineLog() { setlogwindow(nullptr); }
  EngineLog(const EngineLog &) = delete;
  EngineLog &operator=(const EngineLog &) = delete;
};

class FakeDialogs : public Dialogs {
public:
  FakeDialogs() { previous_ = Dialogs::install(this); }
  ~FakeDialogs() override { Dialogs::install(previous_); }

  QString openFile(QWidget *, const QString &, const QString &, const QString &) override {
    return {};
  }
  QString saveFile(QWidget *, const QString &, const QString &, const QString &,
                   QString *) override {
    return {};
  }
  Answer question(QWidget *, const QString &, const QString &text, bool) override {
    questions << text;
    return answer;
  }
  void message(QWidget *, const QString &, const QString &text) override { messages << text; }
  bool print(QWidget *, QPrinter *) override { return false; }
  bool pageSetup(QWidget *, QPrinter *) override { return false; }
  bool font(QWidget *, QFont &) override { return false; }
  bool exec(QWidget *) override { return false; }

  Answer answer = Answer::Yes;
  QStringList questions;
  QStringList messages;

private:
  Dialogs *previous_ = nullptr;
};

} // namespace orvalle::test
