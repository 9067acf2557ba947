// The scratch pad: a plain-text editor child of the frame in which data text
// is typed, opened, saved and converted into a plotter.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "frame/mdichild.h"

class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QScrollBar;

namespace orvalle {

class FrameApi;

class TJotPad : public MdiChild {
  Q_OBJECT
public:
  // An empty fileName makes a new pad ("ScatchPad"); otherwise the pad holds
  // that file's text and shows its name.
  TJotPad(FrameApi &frame, const QString &fileName, const QString &text, QWidget *parent = nullptr);

  // The save dialog's filter (Qt form of the pad's three file types).
  static QString saveFilter();

  // The document's file, empty for a pad never saved.
  QString fileName() const { return fileName_; }
  bool modified() const;
  void setModified(bool on);
  // The editor's text as data lines, as the conversion reads them.
  QString text() const;
  // The same as UTF-8, made without another copy on the way.
  std::string utf8Text() const;

  // Text line `line` (from 0): where it starts in the document and its
  // text; position -1 when there is no such line.
  struct TextLine {
    int position = -1;
    QString text;
  };
  TextLine lineAt(int line) const;

  // The commands (run by the command messages; public for the frame and
  // for tests).
  void Save();
  void SaveAs();
  // Runs the conversion; returns the new plotter, or null after a failure,
  // with the cursor on the line (and the field) the failure names.
  MdiChild *Convert();
  void WordWrap();
  void UpdateMenus();
  // Puts the pad's file into the editor as an unmodified document, read in
  // parts as readdataparts reads it. Throws as readdatatext does; the
  // editor may then hold part of the file.
  //
  // A file of largeFileBytes() or more is held as its text in UTF-8 rather
  // than in the editor's document (which takes twice that and more): the
  // editor then shows the few thousand lines around the place looked at,
  // and the side bar beside them scrolls through the whole file. Saving
  // and converting read the held text. The first edit (a key that types
  // or deletes, Paste, Cut, Select All) puts the whole text into the
  // editor, and from then on it is an editor like any other.
  void loadFile();
  static std::size_t largeFileBytes();
  // For tests: a smaller size from which files are held (0: the default).
  static void setLargeFileBytes(std::size_t bytes);
  // Whether the text is held outside the editor (see loadFile).
  bool holdsText() const { return held_ != nullptr; }
  // Puts a held text whole into the editor, the cursor and selection where
  // they were; nothing when the editor holds the text already.
  void editWholeText();
  // Reads a table from another program (CSV, TSV) into the editor as data
  // text, as an unmodified document that has no file of its own yet: its
  // header lines become comments, its fields are separated by tabs. Throws
  // tableerror for a table it refuses, as readdatatext for a file it
  // cannot read; the editor may then hold part of the table.
  void importTable(const QString &path);
  // The table the text was imported from; empty for other texts.
  QString importedFrom() const { return importedFrom_; }
  // The titles of the columns an imported text's header names, one for
  // each of columns; empty when it names none.
  QStringList columnTitles(int columns) const;

  QPlainTextEdit *Memo = nullptr;
  // The side bar of a held text: its value is the first line shown.
  QScrollBar *Lines = nullptr;
  // Under the text after a failed Convert: what is likely wrong with the
  // line selected and how data must look; hidden again by the next edit.
  QLabel *Hint = nullptr;

  ~TJotPad() override;

protected:
  bool command(CommandEvent &e) override;
  void closeEvent(QCloseEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *e) override;

private:
  // Writes the editor's lines, each ended by CR LF, replacing the file only
  // when everything is written. Throws std::runtime_error on failure.
  void writeTo(const QString &path) const;
  void applyScrollBars();
  // Puts a file's text into the editor as an unmodified document.
  void fill(const QString &fileText);
  void ShowFailure(const QString &message);
  // Shows under the text the likely cause of a failed conversion whose
  // message names text line `line` (from 0; -1: none) and its field.
  void ShowHint(const QString &message, const QStringList &lines, int line, int field);
  // Text line `line` (from 0) and, when position is given, where it starts
  // in the document; nothing when there is no such line.
  std::optional<QString> lineText(int line, int *position) const;

  // A held text (see loadFile): the editor shows lines from `top` on.
  struct heldtext;
  void showHeldLines(std::size_t top, bool keepCursor);
  void heldScrolled();
  void sideBarMoved(int value);
  void fitSideBar();
  bool heldKey(QKeyEvent *key);

  QString fileName_;
  QString importedFrom_;
  std::unique_ptr<heldtext> held_;
  bool moving_ = false; // the window of a held text is being moved
};

// The factory the frame calls for File New (empty fileName) and File Open:
// makes a pad, adds it to the frame and returns it.
MdiChild *NewScratchPad(FrameApi &frame, const QString &fileName, const QString &text);
// The factory the frame calls for File Open: makes a pad, loads fileName
// into it (loadFile) and adds it to the frame. A file that cannot be read
// throws, and no pad is added.
MdiChild *OpenScratchPad(FrameApi &frame, const QString &fileName);
// The factory the frame calls for Import Table: makes a pad, imports the
// table fileName into it (importTable) and adds it to the frame. A table
// that is refused or cannot be read throws, and no pad is added.
MdiChild *ImportScratchPad(FrameApi &frame, const QString &fileName);

} // namespace orvalle
