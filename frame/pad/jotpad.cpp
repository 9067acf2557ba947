// The scratch pad window: editing, saving, converting and closing.
#include "frame/pad/jotpad.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "datatext/conversion.h"
#include "datatext/conversion_hint.h"
#include "datatext/tableimport.h"
#include "frame/chartchild.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "frame/longwork.h"

namespace orvalle {

namespace {

const QString kNewCaption = QStringLiteral("ScatchPad");
const QString kCloseQuestion =
    QStringLiteral("File has been modified! Are you sure you wish to close without saving?");

// A file of many lines is held in the editor in blocks of kLinesPerBlock
// lines, the lines of a block separated by line separators (U+2028): the
// editor shows and edits them as lines all the same, and its text reads
// them back with line feeds, but a document of a million blocks takes
// seconds and hundreds of megabytes to build, one of a few ten thousand
// next to nothing. Shorter texts keep one block a line.
constexpr int kLinesPerBlock = 64;
constexpr int kBlockedFrom = 4096; // lines

bool isBreak(QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }

// Part [from, to) of a file's text with its line breaks (CR LF, lone CR or
// LF) as the editor is to hold them; `lines` counts the lines begun so far
// and goes on from part to part.
QString editorPart(QStringView text, qsizetype from, qsizetype to, bool blocked, qsizetype &lines) {
  QString part(to - from, Qt::Uninitialized);
  QChar *d = part.data();
  qsizetype w = 0;
  for (qsizetype r = from; r < to; ++r) {
    const QChar c = text[r];
    if (!isBreak(c)) {
      d[w++] = c;
      continue;
    }
    if (c == QLatin1Char('\r') && r + 1 < to && text[r + 1] == QLatin1Char('\n'))
      ++r;
    d[w++] = !blocked || lines % kLinesPerBlock == 0 ? QChar(QLatin1Char('\n'))
                                                     : QChar(QChar::LineSeparator);
    ++lines;
  }
  part.truncate(w);
  return part;
}

// The text of a block as lines: its line separators become line feeds and
// no-break spaces plain spaces, as the editor's plain text has them.
QString blockLines(const QTextBlock &block) {
  QString t = block.text();
  t.replace(QChar::LineSeparator, QLatin1Char('\n'));
  t.replace(QChar::Nbsp, QLatin1Char(' '));
  return t;
}

// A block's text in UTF-8, its line separators as line feeds and its
// no-break spaces as plain spaces (as the editor's plain text has them).
// ASCII text, all there is in most data, is copied in one pass.
void asUtf8(QString &t, std::string &out) {
  out.resize(static_cast<std::size_t>(t.size()));
  const char16_t *s = reinterpret_cast<const char16_t *>(t.constData());
  for (qsizetype i = 0; i < t.size(); ++i) {
    const char16_t c = s[i];
    if (c < 0x80)
      out[static_cast<std::size_t>(i)] = static_cast<char>(c);
    else if (c == QChar::LineSeparator)
      out[static_cast<std::size_t>(i)] = '\n';
    else if (c == QChar::Nbsp)
      out[static_cast<std::size_t>(i)] = ' ';
    else {
      t.replace(QChar::LineSeparator, QLatin1Char('\n'));
      t.replace(QChar::Nbsp, QLatin1Char(' '));
      const QByteArray bytes = t.toUtf8();
      out.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
      return;
    }
  }
}

// Feeds the lines of one block's text, in UTF-8, to run; last tells that
// the block ends the document. False once the outcome is settled.
bool feedblock(chartconverter &run, const std::string &bytes, bool last) {
  const char *p = bytes.data();
  const char *const end = p + bytes.size();
  const bool cr = std::memchr(p, '\r', bytes.size()) != nullptr;
  for (;;) {
    const char *q =
        static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!q)
      q = end;
    if (cr)
      if (const void *r = std::memchr(p, '\r', static_cast<std::size_t>(q - p)))
        q = static_cast<const char *>(r);
    // The text ends with the last block: an empty piece there follows a
    // final line break and is no line.
    if (q == end && p == end && last)
      return true;
    if (!run.feed(std::string_view(p, static_cast<std::size_t>(q - p))))
      return false;
    // A CR ends its line; with a LF after it (or the block's own break,
    // when it ends the block) it is one line break.
    if (q == end || (*q == '\r' && q + 1 == end))
      return true;
    if (*q == '\r' && q[1] == '\n')
      ++q;
    p = q + 1;
  }
}

// The editor's lines converted as the conversion reads a text's lines, fed
// to it block by block in UTF-8, so that no copy of the whole text is made.
// Line separators and line feeds end lines, as do CR LF and a lone CR; no-break
// spaces are plain spaces, and a byte-order mark at the start is dropped.
ConversionOutcome convertLines(const QTextDocument &doc, const std::string &filename,
                               chartconverter::progress observer) {
  try {
    // Every character but the last (the end of the document) is a line's
    // character or its line break: for ASCII text the bytes to be fed.
    chartconverter run(filename, static_cast<std::size_t>(std::max(0, doc.characterCount() - 1)));
    run.observe(std::move(observer));
    bool more = true;
    std::string bytes;
    for (QTextBlock b = doc.begin(); more && b.isValid(); b = b.next()) {
      QString t = b.text();
      if (b == doc.begin() && t.startsWith(QChar(QChar::ByteOrderMark)))
        t.remove(0, 1);
      asUtf8(t, bytes);
      more = feedblock(run, bytes, !b.next().isValid());
    }
    return run.finish();
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  ConversionOutcome failed;
  failed.error = "Not enough memory to convert " +
                 (filename.empty() ? std::string("the text") : filename) + " to a chart";
  return failed;
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
  Memo->setAccessibleName(QStringLiteral("Data text"));
  Memo->setTabChangesFocus(false); // Tab inserts a tab: a field separator
  Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  fill(text);
  applyScrollBars();
  Hint = new QLabel(this);
  Hint->setObjectName(QStringLiteral("Hint"));
  Hint->setAccessibleName(QStringLiteral("Why the text did not convert"));
  Hint->setWordWrap(true);
  Hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Hint->setFrameShape(QFrame::StyledPanel);
  Hint->setMargin(4);
  Hint->hide();
  connect(Memo, &QPlainTextEdit::textChanged, Hint, &QLabel::hide);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);
  layout->addWidget(Hint);
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

void TJotPad::fill(const QString &text) {
  qsizetype breaks = 0;
  for (const QChar c : text)
    breaks += isBreak(c);
  const bool blocked = breaks >= kBlockedFrom;
  qsizetype lines = 1;
  QTextDocument *doc = Memo->document();
  // A large text goes in by parts, with progress shown and the windows
  // repainted between them; a part ends after a line feed.
  constexpr qsizetype kPart = qsizetype(1) << 21;
  if (text.size() <= kPart) {
    Memo->setPlainText(editorPart(text, 0, text.size(), blocked, lines));
  } else {
    LongWork work(frame(), QStringLiteral("Reading %1").arg(fileName_));
    doc->setUndoRedoEnabled(false);
    QTextCursor end(doc);
    for (qsizetype from = 0; from < text.size();) {
      qsizetype to = text.size();
      if (from + kPart < text.size()) {
        const qsizetype cut = text.indexOf(QLatin1Char('\n'), from + kPart);
        if (cut >= 0)
          to = cut + 1;
      }
      end.movePosition(QTextCursor::End);
      end.insertText(editorPart(text, from, to, blocked, lines));
      from = to;
      work.step(static_cast<double>(from) / static_cast<double>(text.size()));
    }
    doc->setUndoRedoEnabled(true); // the loaded text is not a change to undo
    Memo->moveCursor(QTextCursor::Start);
  }
  doc->setModified(false);
}

namespace {

// Puts parts of text, each of whole lines, into an editor as fill() puts a
// text there, with progress shown: the whole text is never held beside
// the document.
class editorloader : public datapartsink {
public:
  editorloader(QPlainTextEdit &memo, LongWork &work) : end_(memo.document()), work_(work) {}
  void begin(std::size_t bytes) override {
    // Again from the start (as Latin-1): what was read goes.
    end_.select(QTextCursor::Document);
    end_.removeSelectedText();
    size_ = bytes;
    done_ = 0;
    lines_ = 1;
    first_ = true;
  }
  bool part(std::string_view text) override {
    const QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (first_) {
      // A file of more than a part, or of many lines in its first part,
      // is held in blocks of many lines.
      first_ = false;
      qsizetype breaks = 0;
      for (const QChar c : t)
        breaks += isBreak(c);
      blocked_ = breaks >= kBlockedFrom || size_ > (std::size_t(1) << 20);
    }
    end_.movePosition(QTextCursor::End);
    end_.insertText(editorPart(t, 0, t.size(), blocked_, lines_));
    done_ += text.size();
    if (size_ > 0)
      work_.step(std::min(1.0, static_cast<double>(done_) / static_cast<double>(size_)));
    return true;
  }

private:
  QTextCursor end_;
  LongWork &work_;
  std::size_t size_ = 0, done_ = 0;
  qsizetype lines_ = 1;
  bool first_ = true, blocked_ = false;
};

// Loading a text is no change to undo, and leaves the document unmodified
// with the cursor at its start.
template <class F> void loadInto(QPlainTextEdit &memo, F &&read) {
  QTextDocument *doc = memo.document();
  doc->setUndoRedoEnabled(false);
  struct undoback {
    QTextDocument *doc;
    ~undoback() { doc->setUndoRedoEnabled(true); }
  } back{doc};
  read();
  memo.moveCursor(QTextCursor::Start);
  doc->setModified(false);
}

} // namespace

void TJotPad::loadFile() {
  LongWork work(frame(), QStringLiteral("Reading %1").arg(fileName_));
  editorloader sink(*Memo, work);
  loadInto(*Memo, [&] { readdataparts(QFile::encodeName(fileName_).toStdString(), sink); });
}

void TJotPad::importTable(const QString &path) {
  LongWork work(frame(), QStringLiteral("Importing %1").arg(path));
  editorloader sink(*Memo, work);
  loadInto(*Memo,
           [&] { importtable(QFile::encodeName(path).toStdString(), sink, path.toStdString()); });
  importedFrom_ = path;
  setWindowTitle(QStringLiteral("%1 (imported)").arg(path));
}

QStringList TJotPad::columnTitles(int columns) const {
  // The mark line, the header comment lines and the first line of data.
  std::vector<std::string> lines;
  for (QTextBlock b = Memo->document()->begin(); b.isValid() && lines.size() < 200; b = b.next()) {
    const QStringList parts = b.text().split(QChar::LineSeparator);
    bool data = false;
    for (const QString &line : parts) {
      lines.push_back(line.toStdString());
      data = !line.trimmed().isEmpty() && !line.startsWith(QLatin1Char('#'));
      if (data || lines.size() >= 200)
        break;
    }
    if (data)
      break;
  }
  const std::vector<std::string_view> views(lines.begin(), lines.end());
  QStringList titles;
  for (const std::string &t : importedtitles(views, columns))
    titles << QString::fromStdString(t);
  return titles;
}

std::string TJotPad::utf8Text() const {
  const QTextDocument *doc = Memo->document();
  std::string out;
  out.reserve(static_cast<std::size_t>(doc->characterCount()));
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    if (b != doc->begin())
      out += '\n';
    const QByteArray bytes = blockLines(b).toUtf8();
    out.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  return out;
}

TJotPad::TextLine TJotPad::lineAt(int line) const {
  // Lines are blocks, or parts of blocks between line separators.
  int first = 0;
  for (QTextBlock b = Memo->document()->begin(); b.isValid(); b = b.next()) {
    const QString t = b.text();
    const int count = static_cast<int>(t.count(QChar::LineSeparator)) + 1;
    if (line < first + count) {
      int from = 0;
      for (int k = first; k < line; ++k)
        from = static_cast<int>(t.indexOf(QChar::LineSeparator, from)) + 1;
      qsizetype to = t.indexOf(QChar::LineSeparator, from);
      if (to < 0)
        to = t.size();
      return {b.position() + from, t.mid(from, to - from)};
    }
    first += count;
  }
  return {};
}

void TJotPad::writeTo(const QString &path) const {
  const textlines lines = textlines::fromText(utf8Text());
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
  // An imported table not saved yet is offered a name beside the table,
  // as a data text.
  QString offered = fileName_;
  if (offered.isEmpty() && !importedFrom_.isEmpty()) {
    const QFileInfo table(importedFrom_);
    offered = table.dir().filePath(table.completeBaseName() + QStringLiteral(".txt"));
  }
  const QString chosen = Dialogs::get().saveFile(this, QStringLiteral("Save As"), offered,
                                                 saveFilter(), &selectedFilter);
  if (chosen.isEmpty())
    return; // cancelled: the pad stays modified
  fileName_ = withDefaultExtension(chosen, selectedFilter);
  writeTo(fileName_);
  setModified(false);
}

MdiChild *TJotPad::Convert() {
  LongWork work(frame(), QStringLiteral("Converting %1").arg(fileName_));
  ConversionOutcome out = convertLines(
      *Memo->document(), fileName_.toStdString(), [&work](std::size_t done, std::size_t total) {
        if (total > 0)
          work.step(0.7 * static_cast<double>(done) / static_cast<double>(total));
      });
  work.step(0.7);
  if (!out.ok()) {
    const QString message = QString::fromStdString(out.error);
    frame().LogEvent(kLogPlain, true, message);
    ShowFailure(message);
    return nullptr;
  }
  ConversionResult &r = *out.result;
  const bool tagged = r.layout == textlayout::tagged;
  if (fileName_.isEmpty() && !importedFrom_.isEmpty()) {
    // A table imported and not saved yet: the chart is named after the
    // table's file.
    const QString name = QFileInfo(importedFrom_).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    r.title = (dot < 0 ? name : name.left(dot)).toStdString();
    r.caption = "Chart Compiled From - " + name.toStdString();
  }

  std::unique_ptr<MdiChild> owned = frame().makePlotter();
  ChartChild *plot = chartChild(owned.get());
  if (!plot) {
    frame().LogEvent(kLogPlain, true, QStringLiteral("The program makes no plotters"));
    return nullptr;
  }
  MdiChild *made = owned.get();
  frame().addChild(owned.release()); // the frame owns its children
  if (!tagged)
    plot->setColumnTitles(columnTitles(r.grid.colcount()));
  plot->takeConversion(r);
  if (tagged)
    frame().LogEvent(kLogPlain, false,
                     QStringLiteral("Chart Successfully Created from file - ") + fileName_);
  plot->TrackBarChange();
  return made;
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

void TJotPad::ShowHint(const QString &message, const QStringList &lines, int line, int field) {
  // The encoding shows in the first lines; the rest need not be copied.
  std::string start;
  for (int k = 0; k < lines.size() && start.size() < 4096; ++k)
    start += lines.at(k).toStdString() + '\n';
  const std::string text = line >= 0 && line < lines.size() ? lines.at(line).toStdString() : "";
  const failurecause cause = likelycause(message.toStdString(), text, field, start);
  std::string hint = causehint(cause, line >= 0 ? line + 1 : 0);
  if (tableseparator(start) != 0)
    hint += std::string(hint.empty() ? "" : " ") +
            "This looks like a table from another program: Import Table reads it (File menu, "
            "Ctrl+Shift+O).";
  Hint->setText(QString::fromStdString(hint));
  Hint->setVisible(!hint.empty());
}

void TJotPad::ShowFailure(const QString &message) {
  const QStringList lines = text().split(QLatin1Char('\n'));
  const textspot spot = locateFailure(lines, message);
  ShowHint(message, lines, spot.line, spot.field);
  if (spot.line < 0)
    return;
  const TextLine at = lineAt(spot.line);
  if (at.position < 0)
    return;
  QTextCursor cursor(Memo->document());
  cursor.setPosition(at.position);
  if (spot.field >= 0) {
    const auto [from, to] = fieldSpan(at.text, spot.field);
    if (from >= 0) {
      cursor.setPosition(at.position + from);
      cursor.setPosition(at.position + to, QTextCursor::KeepAnchor);
    } else {
      // A missing field: the end of the line, where it should stand.
      cursor.setPosition(at.position + static_cast<int>(at.text.size()));
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

MdiChild *OpenScratchPad(FrameApi &frame, const QString &fileName) {
  auto pad = std::make_unique<TJotPad>(frame, fileName, QString());
  pad->loadFile(); // a failure throws, and the pad goes
  TJotPad *p = pad.get();
  frame.addChild(pad.release()); // the frame owns its children
  return p;
}

MdiChild *ImportScratchPad(FrameApi &frame, const QString &fileName) {
  auto pad = std::make_unique<TJotPad>(frame, QString(), QString());
  pad->importTable(fileName); // a refused table throws, and the pad goes
  TJotPad *p = pad.get();
  frame.addChild(pad.release()); // the frame owns its children
  return p;
}

MdiChild *NewScratchPad(FrameApi &frame, const QString &fileName, const QString &text) {
  auto pad = std::make_unique<TJotPad>(frame, fileName, text);
  TJotPad *p = pad.get();
  frame.addChild(pad.release()); // the frame owns its children
  return p;
}

} // namespace orvalle
