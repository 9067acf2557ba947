// The scratch pad window: editing, saving, converting and closing.
#include "frame/pad/jotpad.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "datatext/conversion.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

const QString kNewCaption = QStringLiteral("ScatchPad");
const QString kCloseQuestion =
    QStringLiteral("File has been modified! Are you sure you wish to close without saving?");

// CR LF and lone CR become LF, so every line of a file shows as a line.
QString withLineFeeds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

// The extension a name chosen in the save dialog gets when it has none:
// that of the chosen file type, or the default "txt".
QString withDefaultExtension(const QString &path, const QString &selectedFilter) {
  if (!QFileInfo(path).suffix().isEmpty())
    return path;
  if (selectedFilter.contains(QStringLiteral("*.dat")))
    return path + QStringLiteral(".dat");
  return path + QStringLiteral(".txt");
}

} // namespace

TJotPad::TJotPad(FrameApi &frame, const QString &fileName, const QString &text, QWidget *parent)
    : MdiChild(frame, parent), fileName_(fileName) {
  setObjectName(QStringLiteral("JotPad"));
  setAttribute(Qt::WA_DeleteOnClose);
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setAccessibleName(QStringLiteral("Data text"));
  Memo->setTabChangesFocus(false); // Tab inserts a tab: a field separator
  Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo->setPlainText(withLineFeeds(text));
  Memo->document()->setModified(false);
  applyScrollBars();
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);
  setWindowTitle(fileName.isEmpty() ? kNewCaption : fileName);
  setFocusProxy(Memo);
  resize(480, 360);
}

QString TJotPad::saveFilter() {
  return QStringLiteral("Text Files (*.txt);;Text Files (*.dat);;All Files (*.*)");
}

bool TJotPad::modified() const { return Memo->document()->isModified(); }

void TJotPad::setModified(bool on) { Memo->document()->setModified(on); }

QString TJotPad::text() const { return Memo->toPlainText(); }

void TJotPad::writeTo(const QString &path) const {
  const textlines lines = textlines::fromText(text().toStdString());
  const std::string bytes = lines.joined("\r\n");
  const auto size = static_cast<qint64>(bytes.size());
  QSaveFile file(path);
  errno = 0;
  // Leaving without commit() discards the new file: the old one stays whole.
  const auto fail = [&] {
    const int err = errno;
    const QString why = err ? QString::fromLocal8Bit(std::strerror(err)) : file.errorString();
    throw std::runtime_error(QStringLiteral("Cannot save %1: %2")
                                 .arg(QDir::toNativeSeparators(path), why)
                                 .toStdString());
  };
  if (!file.open(QIODevice::WriteOnly))
    fail();
  // commit() does not report every short write (a full disk, a file size
  // limit), so the flush and the size are checked first.
  if (file.write(bytes.data(), size) != size || !file.flush() || file.size() != size)
    fail();
  if (!file.commit())
    fail();
}

void TJotPad::Save() {
  if (fileName_.isEmpty()) {
    SaveAs();
    return;
  }
  writeTo(fileName_); // a failure leaves the modified flag as it was
  setModified(false);
}

void TJotPad::SaveAs() {
  setModified(true);
  QString selectedFilter;
  const QString chosen = Dialogs::get().saveFile(this, QStringLiteral("Save As"), fileName_,
                                                 saveFilter(), &selectedFilter);
  if (chosen.isEmpty())
    return; // cancelled: the pad stays modified
  fileName_ = withDefaultExtension(chosen, selectedFilter);
  writeTo(fileName_);
  setModified(false);
}

TFit *TJotPad::Convert() {
  const textlines lines = textlines::fromText(text().toStdString());
  ConversionOutcome out = ConvertToChart(lines, fileName_.toStdString());
  if (!out.ok()) {
    frame().LogEvent(0, true, QString::fromStdString(out.error));
    return nullptr;
  }
  ConversionResult &r = *out.result;
  const bool tagged = r.layout == textlayout::tagged;

  auto owned = std::make_unique<TFit>(frame());
  TFit *plot = owned.get();
  frame().addChild(owned.release()); // the frame owns its children
  plot->takeConversion(r);
  if (tagged)
    frame().LogEvent(0, false,
                     QStringLiteral("Chart Successfully Created from file - ") + fileName_);
  plot->TrackBarChange();
  return plot;
}

void TJotPad::applyScrollBars() {
  const bool wrap = Memo->lineWrapMode() != QPlainTextEdit::NoWrap;
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Memo->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void TJotPad::WordWrap() {
  const bool wrap = Memo->lineWrapMode() == QPlainTextEdit::NoWrap;
  Memo->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  if (QAction *mark = frame().command(Cmd::TBWordWrap))
    mark->setChecked(wrap);
  applyScrollBars();
}

void TJotPad::UpdateMenus() {
  FrameApi &f = frame();
  for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave})
    f.enable(c, true);
  f.SetEditItems(true, Memo->textCursor().hasSelection());
  for (Cmd c : {Cmd::TBWordWrap, Cmd::TBSelectAll, Cmd::FileClose, Cmd::CTxtFile})
    f.enable(c, true);
  f.enable(Cmd::Replot, false);
  f.enable(Cmd::TBProcess, true);
  for (Cmd c : {Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis, Cmd::TBTitles, Cmd::CopytoClipBoard2,
                Cmd::FileExport, Cmd::MenuChart})
    f.enable(c, false);
}

bool TJotPad::command(CommandEvent &e) {
  switch (e.message()) {
  case UM_SAVE:
    Save();
    return true;
  case UM_SAVEAS:
    SaveAs();
    return true;
  case UM_PROCESS:
    Convert();
    return true;
  case UM_CUT:
    Memo->cut();
    return true;
  case UM_COPY:
    Memo->copy();
    return true;
  case UM_PASTE:
    Memo->paste();
    return true;
  case UM_UNDO:
    Memo->undo();
    return true;
  case UM_SELECTALL:
    Memo->selectAll();
    return true;
  case UM_UPDATEMENUS:
    UpdateMenus();
    return true;
  case UM_WORDWRAP:
    WordWrap();
    return true;
  case UM_OUTPUT:
    // A pad has nothing to print: the dialog is shown and that is all.
    Dialogs::get().print(this, frame().printer());
    return true;
  case UM_CLOSEREQUEST:
    closeChild();
    return true;
  default:
    return false;
  }
}

void TJotPad::closeEvent(QCloseEvent *e) {
  if (modified() && Dialogs::get().question(this, QStringLiteral("Confirm"), kCloseQuestion,
                                            false) != Dialogs::Answer::Yes) {
    e->ignore();
    return;
  }
  e->accept();
}

MdiChild *NewScratchPad(FrameApi &frame, const QString &fileName, const QString &text) {
  auto pad = std::make_unique<TJotPad>(frame, fileName, text);
  TJotPad *p = pad.get();
  frame.addChild(pad.release()); // the frame owns its children
  return p;
}

} // namespace orvalle
