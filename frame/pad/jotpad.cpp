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
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

#include "datatext/conversion.h"
#include "datatext/conversion_hint.h"
#include "datatext/tableimport.h"
#include "engine/utf8.h"
#include "frame/chartchild.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "frame/frametexts.h"
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
  failed.error = notenoughtoconvert(filename);
  return failed;
}

// The editor of the pad: a plain-text editor that can stand a side bar of
// its own inside its frame, where its vertical scroll bar would be.
class padeditor : public QPlainTextEdit {
public:
  using QPlainTextEdit::QPlainTextEdit;
  void setSideBar(QScrollBar *bar) {
    side_ = bar;
    setViewportMargins(0, 0, bar ? bar->sizeHint().width() : 0, 0);
    placeSideBar();
  }

  std::function<void()> resized; // after the editor has taken its new size

protected:
  void resizeEvent(QResizeEvent *e) override {
    QPlainTextEdit::resizeEvent(e);
    placeSideBar();
    if (resized)
      resized();
  }

private:
  void placeSideBar() {
    if (!side_)
      return;
    const QRect r = contentsRect();
    const int w = side_->sizeHint().width();
    side_->setGeometry(r.right() - w + 1, r.top(), w, r.height());
  }
  QScrollBar *side_ = nullptr;
};

// A held text's lines are found from every kMarkLines-th line's start.
constexpr std::size_t kMarkLines = 64;
// The lines the editor shows of a held text, and how near its first line
// shown may come to either end before other lines are put in.
constexpr std::size_t kShownLines = 4000;
constexpr std::size_t kShownMargin = 1000;
constexpr std::size_t kDefaultLargeFileBytes = std::size_t(8) << 20;
std::size_t largeFileBytesSet = 0;

// Characters the editor's document takes as line breaks, beside LF and CR:
// they read back as line feeds.
bool isEditorBreak(char16_t c) { return c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1; }

// Part of a file's text (whole lines, valid UTF-8) as the editor's plain
// text has it, appended to out: CR LF and a lone CR become LF, the other
// breaks of the editor LF, no-break spaces plain spaces. ASCII without a
// CR, all there is in most data, is copied as it is. True when the part
// was all ASCII, and so is what was appended.
bool appendAsEditorText(std::string_view part, std::string &out) {
  const bool ascii = pastascii(reinterpret_cast<const unsigned char *>(part.data()), 0,
                               part.size()) == part.size();
  if (ascii && std::memchr(part.data(), '\r', part.size()) == nullptr) {
    out.append(part);
    return true;
  }
  const QString t = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
  QString n;
  n.reserve(t.size());
  for (qsizetype i = 0; i < t.size(); ++i) {
    const char16_t c = t.at(i).unicode();
    if (c == u'\r') {
      if (i + 1 < t.size() && t.at(i + 1) == QLatin1Char('\n'))
        ++i;
      n += QLatin1Char('\n');
    } else if (isEditorBreak(c)) {
      n += QLatin1Char('\n');
    } else if (c == QChar::Nbsp) {
      n += QLatin1Char(' ');
    } else {
      n += t.at(i);
    }
  }
  const QByteArray bytes = n.toUtf8();
  out.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return ascii;
}

// The characters (UTF-16 units) that UTF-8 bytes [from, to) make.
qsizetype utf16Length(const std::string &t, std::size_t from, std::size_t to) {
  qsizetype n = 0;
  for (std::size_t i = from; i < to; ++i) {
    const auto b = static_cast<unsigned char>(t[i]);
    n += (b & 0xC0) != 0x80;
    n += b >= 0xF0; // four bytes: a surrogate pair
  }
  return n;
}

// A held text's lines converted as the editor's lines are: split at line
// feeds, a byte-order mark at the start dropped, and an empty piece after a
// final line break no line; a large text in two parts at once.
ConversionOutcome convertText(std::string_view text, const std::string &filename,
                              chartconverter::progress observer) {
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);
  return ConvertTextToChart(text, filename, std::move(observer));
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

// A large file's text held beside the editor (see loadFile): the lines as
// the editor's plain text would have them, in UTF-8, a line feed between
// lines; and the window of lines the editor shows.
struct TJotPad::heldtext : datapartsink {
  std::string text;
  std::vector<std::size_t> marks{0}; // where line k * kMarkLines starts
  std::size_t lines = 1;
  bool ascii = true; // every part was ASCII: a byte is a character
  bool modified = false;
  std::size_t first = 0; // the editor's first line is this line
  std::size_t shown = 0; // and it has this many
  LongWork *work = nullptr;
  std::size_t size = 0;

  void begin(std::size_t bytes) override {
    // Again from the start (as Latin-1): what was read goes.
    text.clear();
    text.reserve(bytes);
    marks.assign(1, 0);
    lines = 1;
    ascii = true;
    size = bytes;
  }
  bool part(std::string_view t) override {
    const std::size_t from = text.size();
    ascii = appendAsEditorText(t, text) && ascii;
    const char *const base = text.data();
    for (std::size_t p = from; p < text.size();) {
      const void *lf = std::memchr(base + p, '\n', text.size() - p);
      if (!lf)
        break;
      p = static_cast<std::size_t>(static_cast<const char *>(lf) - base) + 1;
      if (lines++ % kMarkLines == 0)
        marks.push_back(p);
    }
    if (work && size > 0)
      work->step(std::min(1.0, static_cast<double>(from + t.size()) / static_cast<double>(size)));
    return true;
  }
  // Where line k (from 0, below lines) starts.
  std::size_t lineStart(std::size_t k) const {
    std::size_t p = marks[k / kMarkLines];
    for (std::size_t r = k % kMarkLines; r > 0; --r)
      p = static_cast<std::size_t>(
              static_cast<const char *>(std::memchr(text.data() + p, '\n', text.size() - p)) -
              text.data()) +
          1;
    return p;
  }
  // Where line k ends (its line feed, or the end of the text).
  std::size_t lineEnd(std::size_t k) const {
    return k + 1 < lines ? lineStart(k + 1) - 1 : text.size();
  }
  std::string_view line(std::size_t k) const {
    const std::size_t from = lineStart(k);
    return std::string_view(text).substr(from, lineEnd(k) - from);
  }
  // The character position of byte `at` in the whole text.
  qsizetype position(std::size_t at) const {
    return ascii ? static_cast<qsizetype>(at) : utf16Length(text, 0, at);
  }
};

TJotPad::TJotPad(FrameApi &frame, const QString &fileName, const QString &text, QWidget *parent)
    : MdiChild(frame, parent), fileName_(fileName) {
  setObjectName(QStringLiteral("JotPad"));
  setAttribute(Qt::WA_DeleteOnClose);
  Memo = new padeditor(this);
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
  Memo->viewport()->installEventFilter(this);
  resize(480, 360);
}

QString TJotPad::saveFilter() {
  return QStringLiteral("Text Files (*.txt);;Text Files (*.dat);;All Files (*.*)");
}

bool TJotPad::modified() const { return held_ ? held_->modified : Memo->document()->isModified(); }

void TJotPad::setModified(bool on) {
  if (held_)
    held_->modified = on;
  Memo->document()->setModified(on);
}

QString TJotPad::text() const {
  if (held_)
    return QString::fromUtf8(held_->text.data(), static_cast<qsizetype>(held_->text.size()));
  return Memo->toPlainText();
}

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

TJotPad::~TJotPad() = default;

std::size_t TJotPad::largeFileBytes() {
  return largeFileBytesSet ? largeFileBytesSet : kDefaultLargeFileBytes;
}

void TJotPad::setLargeFileBytes(std::size_t bytes) { largeFileBytesSet = bytes; }

void TJotPad::loadFile() {
  LongWork work(frame(), QStringLiteral("Reading %1").arg(fileName_));
  const std::string path = QFile::encodeName(fileName_).toStdString();
  const QFileInfo info(fileName_);
  if (!info.isFile() || static_cast<std::size_t>(info.size()) < largeFileBytes()) {
    editorloader sink(*Memo, work);
    loadInto(*Memo, [&] { readdataparts(path, sink); });
    return;
  }
  auto held = std::make_unique<heldtext>();
  held->work = &work;
  readdataparts(path, *held);
  held->work = nullptr;
  held->text.shrink_to_fit();
  held->marks.shrink_to_fit();
  held_ = std::move(held);
  // The editor only shows: what would change the text first puts all of
  // it into the editor (see eventFilter and command).
  Memo->setReadOnly(true);
  Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Lines = new QScrollBar(Qt::Vertical, Memo);
  Lines->setObjectName(QStringLiteral("Lines"));
  static_cast<padeditor *>(Memo)->setSideBar(Lines);
  Lines->show();
  applyScrollBars();
  connect(Lines, &QScrollBar::valueChanged, this, &TJotPad::sideBarMoved);
  connect(Memo->verticalScrollBar(), &QScrollBar::valueChanged, this, &TJotPad::heldScrolled);
  connect(Memo->verticalScrollBar(), &QScrollBar::rangeChanged, this, &TJotPad::fitSideBar);
  static_cast<padeditor *>(Memo)->resized = [this] { fitSideBar(); };
  showHeldLines(0, false);
  Memo->document()->setModified(false);
}

void TJotPad::showHeldLines(std::size_t top, bool keepCursor) {
  heldtext &h = *held_;
  top = std::min(top, h.lines - 1);
  // The cursor and the selection's other end as lines and columns of the
  // whole text.
  const QTextCursor c = Memo->textCursor();
  const QTextBlock cb = Memo->document()->findBlock(c.position());
  const QTextBlock ab = Memo->document()->findBlock(c.anchor());
  const std::size_t cline = h.first + static_cast<std::size_t>(cb.blockNumber());
  const std::size_t aline = h.first + static_cast<std::size_t>(ab.blockNumber());
  const int ccol = c.position() - cb.position(), acol = c.anchor() - ab.position();

  const std::size_t half = kShownLines / 2;
  h.first = std::min(top > half ? top - half : 0,
                     h.lines > kShownLines ? h.lines - kShownLines : std::size_t(0));
  h.shown = std::min(kShownLines, h.lines - h.first);
  const std::size_t from = h.lineStart(h.first);
  const std::size_t to = h.lineEnd(h.first + h.shown - 1);
  moving_ = true;
  {
    const QSignalBlocker quiet(Memo);
    Memo->setPlainText(QString::fromUtf8(h.text.data() + from, static_cast<qsizetype>(to - from)));
    Memo->document()->setModified(h.modified);
    QTextCursor n(Memo->document());
    auto place = [&](std::size_t line, int col, QTextCursor::MoveMode mode) {
      const QTextBlock b = Memo->document()->findBlockByNumber(static_cast<int>(line - h.first));
      n.setPosition(b.position() + std::min(col, b.length() - 1), mode);
    };
    const auto within = [&](std::size_t line) {
      return line >= h.first && line < h.first + h.shown;
    };
    if (keepCursor && within(cline) && within(aline)) {
      place(aline, acol, QTextCursor::MoveAnchor);
      place(cline, ccol, QTextCursor::KeepAnchor);
    } else {
      place(top, 0, QTextCursor::MoveAnchor);
    }
    Memo->setTextCursor(n);
    const QTextBlock t = Memo->document()->findBlockByNumber(static_cast<int>(top - h.first));
    Memo->verticalScrollBar()->setValue(t.firstLineNumber());
  }
  moving_ = false;
  fitSideBar();
  const QSignalBlocker quiet(Lines);
  Lines->setValue(static_cast<int>(std::min<std::size_t>(top, INT_MAX)));
}

void TJotPad::fitSideBar() {
  if (!held_ || !Lines)
    return;
  const QScrollBar *inner = Memo->verticalScrollBar();
  const int page = std::max(1, inner->pageStep());
  const QSignalBlocker quiet(Lines);
  // The editor scrolls its lines as far as it would scroll them all: the
  // lines after those it has count as much as their own.
  const std::size_t after = held_->lines - held_->first - held_->shown;
  const std::size_t last =
      held_->first + after + static_cast<std::size_t>(std::max(0, inner->maximum()));
  Lines->setRange(0, static_cast<int>(std::min<std::size_t>(last, INT_MAX)));
  Lines->setPageStep(page);
  Lines->setSingleStep(std::max(1, inner->singleStep()));
}

void TJotPad::heldScrolled() {
  if (!held_ || moving_)
    return;
  heldtext &h = *held_;
  const std::size_t top =
      h.first + static_cast<std::size_t>(Memo->cursorForPosition(QPoint(0, 0)).blockNumber());
  // Near either end of the lines shown, other lines are put in around the
  // first line looked at.
  if ((top < h.first + kShownMargin && h.first > 0) ||
      (top + kShownMargin > h.first + h.shown && h.first + h.shown < h.lines)) {
    showHeldLines(top, true);
    return;
  }
  const QSignalBlocker quiet(Lines);
  Lines->setValue(static_cast<int>(std::min<std::size_t>(top, INT_MAX)));
}

void TJotPad::sideBarMoved(int value) {
  if (!held_)
    return;
  heldtext &h = *held_;
  const auto top = static_cast<std::size_t>(std::max(0, value));
  const bool inside =
      top >= h.first + (h.first > 0 ? kShownMargin : 0) && top + kShownMargin <= h.first + h.shown;
  if (!inside && top < h.lines) {
    showHeldLines(top, true);
    return;
  }
  moving_ = true;
  const QTextBlock b = Memo->document()->findBlockByNumber(static_cast<int>(top - h.first));
  Memo->verticalScrollBar()->setValue(b.firstLineNumber());
  moving_ = false;
}

bool TJotPad::heldKey(QKeyEvent *key) {
  // Ctrl+Home and Ctrl+End go to the ends of the whole text.
  if (key->matches(QKeySequence::MoveToStartOfDocument)) {
    if (held_->first > 0)
      showHeldLines(0, false);
    return false;
  }
  if (key->matches(QKeySequence::MoveToEndOfDocument)) {
    if (held_->first + held_->shown < held_->lines)
      showHeldLines(held_->lines - 1, false);
    return false;
  }
  // A key that changes the text, or selects up to an end of it or all of
  // it, finds it whole in the editor.
  const bool edits =
      key->matches(QKeySequence::SelectAll) || key->matches(QKeySequence::SelectStartOfDocument) ||
      key->matches(QKeySequence::SelectEndOfDocument) || key->key() == Qt::Key_Backspace ||
      key->key() == Qt::Key_Delete || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
      key->key() == Qt::Key_Tab ||
      (!key->text().isEmpty() && key->text().front().isPrint() &&
       !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)));
  if (edits)
    editWholeText();
  return false;
}

void TJotPad::editWholeText() {
  if (!held_)
    return;
  std::unique_ptr<heldtext> h = std::move(held_);
  // Where the cursor, the selection's other end and the first line shown
  // stand in the whole text.
  const QTextCursor c = Memo->textCursor();
  QTextDocument *doc = Memo->document();
  const auto whole = [&](int at) {
    const QTextBlock b = doc->findBlock(at);
    const std::size_t line = h->first + static_cast<std::size_t>(b.blockNumber());
    return h->position(h->lineStart(line)) + (at - b.position());
  };
  const qsizetype cursor = whole(c.position()), anchor = whole(c.anchor());
  const qsizetype top = whole(Memo->cursorForPosition(QPoint(0, 0)).position());
  disconnect(Memo->verticalScrollBar(), nullptr, this, nullptr);
  static_cast<padeditor *>(Memo)->setSideBar(nullptr);
  static_cast<padeditor *>(Memo)->resized = nullptr;
  delete Lines;
  Lines = nullptr;
  Memo->setReadOnly(false);
  Memo->setTextInteractionFlags(Qt::TextEditorInteraction);
  applyScrollBars();
  {
    LongWork work(frame(), QStringLiteral("Reading %1").arg(fileName_));
    editorloader sink(*Memo, work);
    const QSignalBlocker quiet(Memo);
    loadInto(*Memo, [&] {
      // In parts of whole lines, as a file is read.
      constexpr std::size_t kPart = std::size_t(1) << 20;
      const std::string_view t(h->text);
      sink.begin(t.size());
      for (std::size_t from = 0; from < t.size();) {
        std::size_t to = t.find('\n', std::min(t.size(), from + kPart));
        to = to == std::string_view::npos ? t.size() : to + 1;
        sink.part(t.substr(from, to - from));
        from = to;
      }
    });
  }
  doc->setModified(h->modified);
  QTextCursor n(doc);
  n.setPosition(static_cast<int>(top));
  Memo->setTextCursor(n);
  Memo->ensureCursorVisible();
  n.setPosition(static_cast<int>(anchor));
  n.setPosition(static_cast<int>(cursor), QTextCursor::KeepAnchor);
  Memo->setTextCursor(n);
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
  for (int k = 0; k < 200; ++k) {
    const std::optional<QString> line = lineText(k, nullptr);
    if (!line)
      break;
    lines.push_back(line->toStdString());
    if (!line->trimmed().isEmpty() && !line->startsWith(QLatin1Char('#')))
      break;
  }
  const std::vector<std::string_view> views(lines.begin(), lines.end());
  QStringList titles;
  for (const std::string &t : importedtitles(views, columns))
    titles << QString::fromStdString(t);
  return titles;
}

std::string TJotPad::utf8Text() const {
  if (held_)
    return held_->text;
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

std::optional<QString> TJotPad::lineText(int line, int *position) const {
  if (held_) {
    if (line < 0 || static_cast<std::size_t>(line) >= held_->lines)
      return std::nullopt;
    const auto k = static_cast<std::size_t>(line);
    const std::string_view t = held_->line(k);
    if (position)
      *position = static_cast<int>(held_->position(held_->lineStart(k)));
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
  }
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
      if (position)
        *position = b.position() + from;
      return t.mid(from, to - from);
    }
    first += count;
  }
  return std::nullopt;
}

TJotPad::TextLine TJotPad::lineAt(int line) const {
  int position = -1;
  std::optional<QString> text = lineText(line, &position);
  if (!text)
    return {};
  return {position, std::move(*text)};
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
  const auto progress = [&work](std::size_t done, std::size_t total) {
    if (total > 0)
      work.step(0.7 * static_cast<double>(done) / static_cast<double>(total));
  };
  ConversionOutcome out = held_
                              ? convertText(held_->text, fileName_.toStdString(), progress)
                              : convertLines(*Memo->document(), fileName_.toStdString(), progress);
  work.step(0.7);
  if (!out.ok()) {
    const QString message = QString::fromStdString(out.error);
    frame().LogEvent(kLogPlain, true, message);
    // The failing line is to be mended: the editor takes the whole text.
    editWholeText();
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
    r.caption = chartcaption(name.toStdString());
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
    frame().LogEvent(kLogPlain, false, frametexts::chartCreatedFrom() + fileName_);
  plot->TrackBarChange();
  return made;
}

bool TJotPad::eventFilter(QObject *watched, QEvent *e) {
  // The editor would take Ctrl+X, Ctrl+C and Ctrl+V for itself; left to the
  // frame, they run its Cut, Copy and Paste commands (which reach the
  // editor as UM_CUT, UM_COPY and UM_PASTE and set the status line). When
  // the frame's command is off, the key still reaches the editor.
  if (watched == Memo && held_) {
    if (e->type() == QEvent::KeyPress && heldKey(static_cast<QKeyEvent *>(e)))
      return true;
    if (e->type() == QEvent::InputMethod)
      editWholeText();
  }
  // The context menu (with its Paste, Delete and Select All) and a drop
  // find a held text whole in the editor, as an editor has it.
  if (held_ && watched == Memo->viewport() &&
      (e->type() == QEvent::ContextMenu || e->type() == QEvent::DragEnter))
    editWholeText();
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
  // A held text scrolls by its side bar.
  Memo->setVerticalScrollBarPolicy(held_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
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
    editWholeText();
    Memo->cut();
    return true;
  case UM_COPY:
    Memo->copy();
    return true;
  case UM_PASTE:
    editWholeText();
    Memo->paste();
    return true;
  case UM_UNDO:
    Memo->undo();
    return true;
  case UM_SELECTALL:
    editWholeText();
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
