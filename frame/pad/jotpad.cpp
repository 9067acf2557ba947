// The scratch pad window: editing, saving, converting and closing.
#include "frame/pad/jotpad.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBlock>
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

// ---------------------------------------------------------------------------
// Where a conversion failure lies in the pad's lines. The messages name a
// text line (1-based), or a row and a field: in the tagged layout the row
// is the text line, in the column layout the grid row, which blank and
// comment lines do not count.

bool isBlankish(QChar c) { return c.unicode() <= 0x20; }

// The start and end (exclusive) of the line once trimmed.
std::pair<int, int> trimmedSpan(const QString &line, int from, int to) {
  while (from < to && isBlankish(line.at(from)))
    ++from;
  while (to > from && isBlankish(line.at(to - 1)))
    --to;
  return {from, to};
}

bool hasSeparator(const QString &line) {
  return line.contains(QLatin1Char(' ')) || line.contains(QLatin1Char('\t'));
}

bool passedOver(const QString &line) { return line.isEmpty() || line.front() == QLatin1Char('#'); }

// Field `index` (from 0) of a line, split as the conversion splits it;
// {-1, -1} when the line has fewer fields.
std::pair<int, int> fieldSpan(const QString &line, int index) {
  auto [from, to] = trimmedSpan(line, 0, static_cast<int>(line.size()));
  for (int c = 0; from < to; ++c) {
    int sep = from;
    while (sep < to && line.at(sep) != QLatin1Char(' ') && line.at(sep) != QLatin1Char('\t'))
      ++sep;
    const auto field = trimmedSpan(line, from, sep);
    if (c == index)
      return field;
    from = trimmedSpan(line, sep, to).first;
  }
  return {-1, -1};
}

bool taggedLayout(const QStringList &lines) {
  for (const QString &line : lines) {
    if (passedOver(line))
      continue;
    const auto [from, to] = trimmedSpan(line, 0, static_cast<int>(line.size()));
    if (from >= to)
      return false;
    const QChar last = line.at(to - 1);
    return !(last.isDigit() && last.unicode() < 128) && last != QLatin1Char('.') &&
           last != QLatin1Char('-');
  }
  return false;
}

// The text line of grid row `row` in the column layout, or -1.
int lineOfGridRow(const QStringList &lines, int row) {
  int skipped = 0;
  for (int j = 0; j < lines.size(); ++j) {
    const QString &line = lines.at(j);
    if (passedOver(line)) {
      ++skipped;
      continue;
    }
    if (!hasSeparator(line))
      continue;
    const auto [from, to] = trimmedSpan(line, 0, static_cast<int>(line.size()));
    if (from >= to || line.at(from) == QLatin1Char('#')) {
      ++skipped;
      continue;
    }
    if (j - skipped + 1 == row)
      return j;
  }
  return -1;
}

struct textspot {
  int line = -1;  // from 0
  int field = -1; // from 0; -1 when the message names none
};

textspot locateFailure(const QStringList &lines, const QString &message) {
  static const QRegularExpression lineMessage(
      QStringLiteral("^Error Unable to Convert line (\\d+) "));
  static const QRegularExpression rowMessage(QStringLiteral("row (\\d+), column (\\d+)$"));
  textspot spot;
  if (const auto m = lineMessage.match(message); m.hasMatch()) {
    spot.line = m.captured(1).toInt() - 1;
  } else if (const auto r = rowMessage.match(message); r.hasMatch()) {
    const int row = r.captured(1).toInt();
    spot.line = taggedLayout(lines) ? row - 1 : lineOfGridRow(lines, row);
    spot.field = r.captured(2).toInt() - 1;
  }
  if (spot.line < 0 || spot.line >= lines.size())
    return {};
  return spot;
}

} // namespace

TJotPad::TJotPad(FrameApi &frame, const QString &fileName, const QString &text, QWidget *parent)
    : MdiChild(frame, parent), fileName_(fileName) {
  setObjectName(QStringLiteral("JotPad"));
  setAttribute(Qt::WA_DeleteOnClose);
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Memo"));
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
  Memo->installEventFilter(this);
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
    const QString message = QString::fromStdString(out.error);
    frame().LogEvent(0, true, message);
    ShowFailure(message);
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

bool TJotPad::eventFilter(QObject *watched, QEvent *e) {
  // The editor would take Ctrl+X, Ctrl+C and Ctrl+V for itself; left to the
  // frame, they run its Cut, Copy and Paste commands (which reach the
  // editor as UM_CUT, UM_COPY and UM_PASTE and set the status line). When
  // the frame's command is off, the key still reaches the editor.
  if (watched == Memo && e->type() == QEvent::ShortcutOverride) {
    auto *key = static_cast<QKeyEvent *>(e);
    if (key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Copy) ||
        key->matches(QKeySequence::Paste)) {
      e->ignore();
      return true;
    }
  }
  return MdiChild::eventFilter(watched, e);
}

void TJotPad::ShowFailure(const QString &message) {
  const QStringList lines = text().split(QLatin1Char('\n'));
  const textspot spot = locateFailure(lines, message);
  if (spot.line < 0)
    return;
  const QTextBlock block = Memo->document()->findBlockByNumber(spot.line);
  if (!block.isValid())
    return;
  QTextCursor cursor(block);
  if (spot.field >= 0) {
    const auto [from, to] = fieldSpan(block.text(), spot.field);
    if (from >= 0) {
      cursor.setPosition(block.position() + from);
      cursor.setPosition(block.position() + to, QTextCursor::KeepAnchor);
    } else {
      // A missing field: the end of the line, where it should stand.
      cursor.movePosition(QTextCursor::EndOfBlock);
    }
  }
  Memo->setTextCursor(cursor);
  Memo->ensureCursorVisible();
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
