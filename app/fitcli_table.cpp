// orvalle-fit: tables and standard input, header names for the columns,
// and the likely cause of a failed conversion.
#include "app/fitcli_table.h"

#include "app/fitcli_pages.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <system_error>

#include "datatext/conversion_hint.h"
#include "datatext/tableimport.h"

namespace orvalle::cli {

namespace {

constexpr std::size_t kLookAt = std::size_t(64) << 10;

// Files from this size on have their columns' pages readied ahead, as
// those read as data texts have.
constexpr std::size_t kPagesAheadFrom = std::size_t(8) << 20;

// Feeds a data text handed on in parts of whole lines to a conversion.
struct feeding : datapartsink {
  std::string name;
  std::unique_ptr<chartconverter> run;
  std::unique_ptr<pagesahead> pages;
  bool more = true;
  void begin(std::size_t bytes) override {
    run.reset();
    run = std::make_unique<chartconverter>(name, bytes);
    more = true;
    if (bytes >= kPagesAheadFrom && pagesahead::worthwhile()) {
      if (!pages)
        pages = std::make_unique<pagesahead>();
      run->observe([this](std::size_t, std::size_t) { readycolumns(); });
    }
  }
  void readycolumns() const noexcept {
    const numericgrid *grid = run->filling();
    for (int c = 0; grid && c < grid->colcount(); ++c) {
      const numericgrid::storage room = grid->room(c);
      pages->want(static_cast<std::size_t>(c), room.start, room.bytes, room.used);
    }
  }
  bool part(std::string_view text) override {
    std::size_t from = 0;
    while (more && from < text.size()) {
      std::size_t end = text.find('\n', from);
      if (end == std::string_view::npos)
        end = text.size();
      more = run->feed(text.substr(from, end - from));
      from = end + 1;
    }
    return true;
  }
};

std::string readstdin() {
  std::string bytes;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw std::system_error(errno, std::generic_category(), "standard input");
    if (n == 0)
      return bytes;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxTextBytes)
      throw textreaderror("standard input is larger than a data text may be (" +
                          std::to_string(kMaxTextBytes >> 30) + " GiB)");
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

// Whether bytes (all of standard input) are a table to import.
bool tablebytes(const std::string &bytes) {
  std::string start = tabletext(std::string_view(bytes).substr(0, kLookAt));
  if (bytes.size() > kLookAt)
    if (const auto end = start.rfind('\n'); end != std::string::npos)
      start.resize(end + 1);
  return needsimport(start);
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The column a title names: the title itself, in any case, or its name
// without the unit in parentheses ("Time" for "Time (s)").
std::optional<int> findtitle(const std::vector<std::string> &titles, const std::string &name) {
  for (std::size_t i = 0; i < titles.size(); ++i)
    if (titles[i] == name)
      return static_cast<int>(i);
  const std::string want = lowered(name);
  for (std::size_t i = 0; i < titles.size(); ++i)
    if (lowered(titles[i]) == want)
      return static_cast<int>(i);
  for (std::size_t i = 0; i < titles.size(); ++i) {
    const std::size_t unit = titles[i].find(" (");
    if (unit != std::string::npos && lowered(std::string_view(titles[i]).substr(0, unit)) == want)
      return static_cast<int>(i);
  }
  return std::nullopt;
}

// ------------------------------------------------------- where a failure lies

bool passedover(std::string_view line) { return line.empty() || line.front() == '#'; }
bool hasseparator(std::string_view line) { return line.find_first_of(" \t") != line.npos; }
std::string_view trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
    s.remove_suffix(1);
  return s;
}

// Finds, line by line, the text line a conversion message points at: a
// line number, or a row (the text line in the tagged layout, the grid row
// in the column layout, which blank and comment lines do not count). Keeps
// the text's start for its encoding.
struct locator : datalinesink {
  long wantline = -1;     // from 0
  long wantrow = 0;       // from 1
  bool columnrow = false; // wantrow is a grid row even before the layout is seen
  std::string start;
  std::string found;
  long foundline = -1;
  long j = 0, skipped = 0;
  int layout = 0; // 0 not yet known, 1 column, 2 tagged

  void begin(std::size_t) override {
    start.clear();
    found.clear();
    foundline = -1;
    j = skipped = 0;
    layout = columnrow ? 1 : 0;
  }
  bool line(std::string_view text) override {
    if (start.size() < 4096)
      start.append(text).append("\n");
    const bool hit = matches(text);
    if (hit) {
      found.assign(text);
      foundline = j;
    }
    ++j;
    return !(foundline >= 0 && start.size() >= 4096);
  }
  bool matches(std::string_view text) {
    if (foundline >= 0)
      return false;
    if (wantline >= 0)
      return j == wantline;
    if (wantrow <= 0)
      return false;
    if (layout == 0 && !passedover(text)) {
      const std::string_view t = trimmed(text);
      const char last = t.empty() ? 'x' : t.back();
      layout = std::isdigit(static_cast<unsigned char>(last)) || last == '.' || last == '-' ? 1 : 2;
    }
    if (layout == 2)
      return j == wantrow - 1;
    if (passedover(text)) {
      ++skipped;
      return false;
    }
    if (!hasseparator(text))
      return false;
    const std::string_view t = trimmed(text);
    if (t.empty() || t.front() == '#') {
      ++skipped;
      return false;
    }
    return j - skipped + 1 == wantrow;
  }
};

// What a message names: a line, or a row and a column (field from 0).
void aim(locator &at, const std::string &message, int &field) {
  field = -1;
  const std::string lineword = "Error Unable to Convert line ";
  if (message.compare(0, lineword.size(), lineword) == 0) {
    at.wantline = std::atol(message.c_str() + lineword.size()) - 1;
    return;
  }
  const std::size_t row = message.rfind("row ");
  const std::size_t column = message.rfind(", column ");
  if (row != std::string::npos && column != std::string::npos && column > row) {
    at.wantrow = std::atol(message.c_str() + row + 4);
    field = std::atoi(message.c_str() + column + 9) - 1;
  }
}

} // namespace

std::string shownname(const std::string &file) { return file == "-" ? "<stdin>" : file; }

std::optional<otherdata> readother(const std::string &file, const std::string &path) {
  const bool standardinput = file == "-";
  std::string bytes;
  if (standardinput)
    bytes = readstdin();
  else if (!tablefile(path))
    return std::nullopt;
  const std::string name = standardinput ? shownname(file) : path;
  otherdata out;
  out.standardinput = standardinput;
  if (standardinput && !tablebytes(bytes)) {
    // The program's own data text, read as a file of it is.
    out.conv = ConvertToChart(textlines::fromBytes(bytes), name);
    // Kept to say where a failure lies, also one met after the conversion
    // (an error of zero).
    out.bytes = std::move(bytes);
    return out;
  }
  feeding sink;
  sink.name = name;
  try {
    out.table = standardinput ? importtablebytes(bytes, sink, name) : importtable(path, sink, name);
    out.conv = sink.run->finish();
    sink.run.reset();
    sink.pages.reset();
  } catch (const tableerror &e) {
    out.conv = ConversionOutcome{};
    out.conv.error = "Cannot import " + shownname(file) + ": " + e.what();
    out.explained = true;
  }
  out.imported = !out.explained;
  return out;
}

std::vector<std::string> texttitles(const std::string &path, const otherdata *other, int columns) {
  // The lines up to the first data line.
  struct firstlines : datalinesink {
    std::vector<std::string> lines;
    void begin(std::size_t) override { lines.clear(); }
    bool line(std::string_view text) override {
      lines.emplace_back(text);
      const bool data = !trimmed(text).empty() && text.front() != '#';
      return !data && lines.size() < 200;
    }
  } sink;
  try {
    if (other && other->standardinput) {
      const textlines lines = textlines::fromBytes(other->bytes);
      sink.begin(other->bytes.size());
      for (std::size_t i = 0; i < lines.size() && sink.line(lines[i]); ++i) {
      }
    } else {
      readdatalines(path, sink);
    }
  } catch (...) {
    return {};
  }
  const std::vector<std::string_view> views(sink.lines.begin(), sink.lines.end());
  return importedtitles(views, columns);
}

std::string resolvecolumns(options &o, const std::vector<std::string> &titles, int columns) {
  std::string names;
  for (std::size_t i = 0; i < titles.size(); ++i)
    names += (i ? ", " : "") + columnname(static_cast<int>(i)) + " \"" + titles[i] + "\"";
  auto one = [&](const std::string &name, const char *option, int &index) -> std::string {
    if (name.empty())
      return {};
    if (const auto t = findtitle(titles, name)) {
      index = *t;
      return {};
    }
    // A letter; in a file that names its columns, only one of them.
    if (const auto c = parsecolumn(name); c && (titles.empty() || *c < columns)) {
      index = *c;
      return {};
    }
    return std::string(option) + " \"" + name + "\": " +
           (titles.empty()
                ? "the file names no columns in a header; choose them by letter (A, B, ...)"
                : "no column of the file has that name; its columns are " + names);
  };
  std::string why = one(o.xname, "--x", o.xcol);
  if (why.empty())
    why = one(o.yname, "--y", o.ycol);
  if (why.empty() && o.err.how == errorsource::kind::column)
    why = one(o.err.name, "--err", o.err.column);
  if (why.empty() && o.xerr && o.xerr->how == errorsource::kind::column)
    why = one(o.xerr->name, "--xerr", o.xerr->column);
  return why;
}

std::string causetext(const std::string &path, const otherdata *other, const std::string &message,
                      long row) {
  if (other && other->imported) {
    // A table's numbers were all read: only an error of zero is left, in
    // line of numbers `row`.
    return row > 0 ? causehint(failurecause::zeroerror, other->table.lineofrow(row)) : "";
  }
  locator at;
  int field = -1;
  if (row > 0) {
    at.wantrow = row;
    at.columnrow = true;
  } else {
    aim(at, message, field);
  }
  try {
    if (other && other->standardinput) {
      const textlines lines = textlines::fromBytes(other->bytes);
      at.begin(other->bytes.size());
      for (std::size_t i = 0; i < lines.size() && at.line(lines[i]); ++i) {
      }
    } else {
      readdatalines(path, at);
    }
  } catch (...) {
    return {};
  }
  if (row > 0)
    return causehint(failurecause::zeroerror, at.foundline >= 0 ? at.foundline + 1 : 0);
  const failurecause cause = likelycause(message, at.found, field, at.start);
  return causehint(cause, at.foundline >= 0 ? at.foundline + 1 : 0);
}

} // namespace orvalle::cli
