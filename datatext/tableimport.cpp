// Importing delimited tables: the encoding, the separator, the CSV grammar
// (libcsv) and the rows, which become the lines of a data text.
#include "datatext/tableimport.h"
#include "datatext/datafile.h"
#include "engine/utf8.h"

#include <csv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <system_error>

namespace orvalle {

namespace {

constexpr std::size_t kChunk = std::size_t(1) << 20;
constexpr std::size_t kLookAt = std::size_t(64) << 10;
constexpr std::size_t kSampleLines = 50;
constexpr int kMostHeaderLines = 1000;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// ---------------------------------------------------------------- encoding

enum class encoding { utf8, latin1, utf16le, utf16be };

// Thrown inside a reading as UTF-8 that meets bytes that are not UTF-8.
struct notutf8 {};

void appendutf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The encoding of a text's start, and how many bytes of byte-order mark it
// has: UTF-8 or UTF-16 by their marks, UTF-16 without one when every other
// byte of the start is 0 (the text is then mostly ASCII), UTF-8 otherwise.
encoding sniffencoding(std::string_view start, std::size_t &mark) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(start[i]); };
  mark = 0;
  if (start.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
    mark = 3;
    return encoding::utf8;
  }
  if (start.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
    mark = 2;
    return encoding::utf16le;
  }
  if (start.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
    mark = 2;
    return encoding::utf16be;
  }
  const std::size_t n = std::min<std::size_t>(start.size(), 512) & ~std::size_t(1);
  std::size_t evenzero = 0, oddzero = 0;
  for (std::size_t i = 0; i < n; i += 2) {
    evenzero += b(i) == 0;
    oddzero += b(i + 1) == 0;
  }
  if (n >= 4 && oddzero * 4 >= n / 2 * 3 && evenzero == 0)
    return encoding::utf16le;
  if (n >= 4 && evenzero * 4 >= n / 2 * 3 && oddzero == 0)
    return encoding::utf16be;
  return encoding::utf8;
}

// Turns byte chunks into UTF-8 text; a sequence cut by the end of a chunk
// waits for the next one.
class decoder {
public:
  explicit decoder(bool latin1) : latin1_(latin1) {}

  // The text of the next chunk; valid until the next call. Throws notutf8
  // in a reading as UTF-8 that meets bytes that are not UTF-8.
  std::string_view decode(std::string_view raw, bool last) {
    if (first_) {
      first_ = false;
      std::size_t mark = 0;
      mode_ = sniffencoding(raw, mark);
      raw.remove_prefix(std::min(mark, raw.size()));
      if (mode_ == encoding::utf8 && latin1_)
        mode_ = encoding::latin1;
    }
    switch (mode_) {
    case encoding::utf8:
      return utf8(raw, last);
    case encoding::latin1:
      text_.clear();
      for (const char c : raw)
        appendutf8(text_, static_cast<unsigned char>(c));
      return text_;
    case encoding::utf16le:
    case encoding::utf16be:
      return utf16(raw, last);
    }
    return {};
  }

private:
  std::string_view utf8(std::string_view raw, bool last) {
    std::string_view in = raw;
    if (!carry_.empty()) {
      carry_.append(raw);
      text_.swap(carry_);
      carry_.clear();
      in = text_;
    }
    const auto *s = reinterpret_cast<const unsigned char *>(in.data());
    std::size_t i = pastascii(s, 0, in.size());
    for (; i < in.size(); i = pastascii(s, i, in.size())) {
      const int len = utf8length(s + i, in.size() - i);
      if (len == 0 || (len < 0 && last))
        throw notutf8{};
      if (len < 0)
        break;
      i += static_cast<std::size_t>(len);
    }
    carry_.assign(in.substr(i));
    return in.substr(0, i);
  }

  std::string_view utf16(std::string_view raw, bool last) {
    carry_.append(raw);
    text_.clear();
    const bool le = mode_ == encoding::utf16le;
    const auto unit = [&](std::size_t i) -> char32_t {
      const auto a = static_cast<unsigned char>(carry_[i]);
      const auto b = static_cast<unsigned char>(carry_[i + 1]);
      return le ? char32_t(a | (b << 8)) : char32_t((a << 8) | b);
    };
    std::size_t i = 0;
    while (i + 1 < carry_.size()) {
      const char32_t u = unit(i);
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 3 >= carry_.size() && !last)
          break; // its second half is in the next chunk
        const char32_t v = i + 3 < carry_.size() ? unit(i + 2) : 0;
        if (v >= 0xDC00 && v <= 0xDFFF) {
          appendutf8(text_, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
          i += 4;
          continue;
        }
        appendutf8(text_, 0xFFFD);
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        appendutf8(text_, 0xFFFD);
      } else {
        appendutf8(text_, u);
      }
      i += 2;
    }
    carry_.erase(0, i);
    if (last)
      carry_.clear(); // an odd byte at the very end is no character
    return text_;
  }

  bool latin1_;
  bool first_ = true;
  encoding mode_ = encoding::utf8;
  std::string carry_, text_;
};

// ---------------------------------------------------------------- reading

// Reads a regular file of at most kMaxTextBytes in chunks of kChunk bytes
// (the last may be shorter), as readdatatext opens its files.
void readchunks(const std::string &path,
                const std::function<void(std::string_view, bool, std::size_t)> &take,
                std::size_t most = kMaxTextBytes) {
  datafile f;
  opendatafile(path, f);
  const std::size_t size = f.size;
  std::string chunk(std::min(kChunk, most), '\0');
  std::size_t total = 0;
  for (;;) {
    std::size_t got = 0;
    while (got < chunk.size()) {
      const std::size_t n = f.readsome(chunk.data() + got, chunk.size() - got);
      if (n == 0)
        break;
      got += n;
    }
    total += got;
    if (total > kMaxTextBytes)
      throw f.toolarge();
    const bool last = got < chunk.size() || total >= most;
    take(std::string_view(chunk.data(), got), last, size);
    if (last)
      return;
  }
}

// ---------------------------------------------------------------- the separator

// The lines of a text start that hold data or a header: not blank and no
// comment; at most `most` of them.
std::vector<std::string_view> samplelines(std::string_view text, std::size_t most) {
  std::vector<std::string_view> lines;
  std::size_t from = 0;
  while (from < text.size() && lines.size() < most) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view line = text.substr(from, end - from);
    const std::string_view t = trim(line);
    if (!t.empty() && t.front() != '#')
      lines.push_back(line);
    from = end + 1;
  }
  return lines;
}

constexpr std::array<char, 3> kSeparators = {'\t', ';', ','};

std::array<int, 3> separatorcounts(std::string_view line) {
  std::array<int, 3> n{};
  bool quoted = false;
  for (const char c : line) {
    if (c == '"')
      quoted = !quoted;
    else if (!quoted)
      for (std::size_t k = 0; k < kSeparators.size(); ++k)
        n[k] += c == kSeparators[k];
  }
  return n;
}

// The separator k's most frequent count over the sample lines (0 when it
// is on none), and on how many lines it stands that often.
std::pair<int, std::size_t> commoncount(const std::vector<std::array<int, 3>> &counts,
                                        std::size_t k) {
  std::pair<int, std::size_t> best{0, 0};
  for (const auto &n : counts) {
    if (n[k] == 0 || n[k] == best.first)
      continue;
    const auto same = static_cast<std::size_t>(
        std::count_if(counts.begin(), counts.end(), [&](const auto &m) { return m[k] == n[k]; }));
    if (same > best.second)
      best = {n[k], same};
  }
  return best;
}

// Whether a line split at sep has a field (not quoted) of several numbers
// separated by blanks, as "1 2,5" in a text of numbers separated by blanks
// whose decimal mark is a comma.
bool blanksinnumbers(std::string_view line, char sep) {
  bool quoted = false, digits = false, blankafter = false;
  for (const char c : line) {
    if (c == '"')
      quoted = !quoted;
    if (quoted)
      continue;
    if (c == sep) {
      digits = blankafter = false;
    } else if (c >= '0' && c <= '9') {
      if (blankafter)
        return true;
      digits = true;
    } else if (c == ' ' || c == '\t') {
      blankafter = digits;
    } else if (c != '.' && c != ',' && c != '-' && c != '+' && c != 'e' && c != 'E') {
      digits = blankafter = false;
    }
  }
  return false;
}

// The separator of the sample lines and the number of columns it makes.
std::pair<char, int> tableshape(std::string_view start) {
  const auto lines = samplelines(start, kSampleLines);
  std::vector<std::array<int, 3>> counts;
  counts.reserve(lines.size());
  for (const std::string_view line : lines)
    counts.push_back(separatorcounts(line));
  for (std::size_t k = 0; k < kSeparators.size(); ++k) {
    const auto [count, lineswith] = commoncount(counts, k);
    if (count == 0 || 2 * lineswith < lines.size())
      continue;
    // Numbers separated by blanks are no table of this separator.
    const auto spaced = std::count_if(lines.begin(), lines.end(), [&](std::string_view line) {
      return blanksinnumbers(line, kSeparators[k]);
    });
    if (2 * static_cast<std::size_t>(spaced) < lines.size())
      return {kSeparators[k], count + 1};
  }
  return {0, 0};
}

// The text start up to its last line break (all of it when it is whole).
std::string_view wholelines(std::string_view start, bool whole) {
  if (whole)
    return start;
  const std::size_t end = start.rfind('\n');
  return end == std::string_view::npos ? start : start.substr(0, end + 1);
}

// ---------------------------------------------------------------- rows

// Whether f is a number in the program's syntax that no double's range can
// refuse: digits with at most one point (at most 30 characters, one digit
// at least) and an exponent of at most two digits. The conversion reads
// its value; anything else is left to parsenumber.
inline bool quicknumber(std::string_view f) {
  std::size_t i = 0;
  const std::size_t n = f.size();
  if (i < n && f[i] == '-')
    ++i;
  bool digits = false, point = false;
  for (; i < n; ++i) {
    const char c = f[i];
    if (c >= '0' && c <= '9')
      digits = true;
    else if (c == '.' && !point)
      point = true;
    else
      break;
  }
  if (!digits || i > 30)
    return false;
  if (i == n)
    return true;
  if (f[i] != 'e' && f[i] != 'E')
    return false;
  ++i;
  if (i < n && (f[i] == '+' || f[i] == '-'))
    ++i;
  const std::size_t first = i;
  while (i < n && f[i] >= '0' && f[i] <= '9')
    ++i;
  return i == n && i > first && i - first <= 2;
}

// How a field reads as a number.
enum class fieldkind { number, empty, ambiguouscomma, notnumber };

std::string shown(std::string_view field) {
  std::string s(field.substr(0, 40));
  if (field.size() > 40)
    s += "...";
  return "\"" + s + "\"";
}

// The rows of a table, parsed by libcsv line by line (so that every row
// knows its line), checked and written as data text.
class tablereader {
public:
  tablereader(char sep, std::string source) : sep_(sep), source_(std::move(source)) {
    if (csv_init(&p_, CSV_STRICT | CSV_STRICT_FINI) != 0)
      throw std::bad_alloc();
    csv_set_delim(&p_, static_cast<unsigned char>(sep));
    // Blanks around a field that is not quoted are not part of it; a tab
    // is a blank only where it is no separator.
    if (sep == '\t')
      csv_set_space_func(&p_, spaceonly);
    summary_.separator = sep;
  }
  ~tablereader() { csv_free(&p_); }
  tablereader(const tablereader &) = delete;
  tablereader &operator=(const tablereader &) = delete;

  // Takes text that may end inside a line; appends the data text made to out.
  void feed(std::string_view text, std::string &out) {
    out_ = &out;
    std::size_t from = 0;
    if (!carry_.empty()) {
      // A line begun in the part before; a CR at its end ends it, with a
      // LF after it or not.
      std::size_t end = lineend(text, 0);
      if (carry_.back() == '\r')
        end = !text.empty() && text[0] == '\n' ? 1 : 0;
      if (end == std::string_view::npos) {
        carry_.append(text);
        return;
      }
      carry_.append(text.substr(0, end));
      feedline(carry_);
      carry_.clear();
      from = end;
    }
    while (from < text.size()) {
      const scanned line =
          p_.pstate == 0 ? scanline(text, from) : scanned{lineend(text, from), false};
      if (line.end == std::string_view::npos) {
        carry_.assign(text.substr(from));
        return;
      }
      if (!line.done)
        feedline(text.substr(from, line.end - from));
      from = line.end;
    }
  }

  void finish(std::string &out) {
    out_ = &out;
    if (!carry_.empty()) {
      carry_ += '\n';
      feedline(carry_);
      carry_.clear();
    }
    if (csv_fini(&p_, onfield, onrow, this) != 0)
      throw tableerror(rowline_, 0,
                       "Line " + std::to_string(rowline_) +
                           ": a quoted field is not closed: its closing quote is missing");
    rethrow();
    if (!data_)
      throw tableerror(0, 0, "The table holds no line of numbers");
  }

  tablesummary &summary() { return summary_; }

private:
  static int spaceonly(unsigned char c) { return c == ' '; }
  static void onfield(void *s, std::size_t len, void *self) {
    auto *r = static_cast<tablereader *>(self);
    if (r->failure_)
      return;
    try {
      r->fields_.append(static_cast<const char *>(s), len);
      r->ends_.push_back(r->fields_.size());
    } catch (...) {
      r->failure_ = std::current_exception();
    }
  }
  static void onrow(int, void *self) {
    auto *r = static_cast<tablereader *>(self);
    if (r->failure_)
      return;
    try {
      r->views_.clear();
      for (std::size_t i = 0; i < r->ends_.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : r->ends_[i - 1];
        r->views_.push_back(std::string_view(r->fields_).substr(from, r->ends_[i] - from));
      }
      r->row();
    } catch (...) {
      r->failure_ = std::current_exception();
    }
    r->fields_.clear();
    r->ends_.clear();
  }

  struct scanned {
    std::size_t end; // after the line's break; npos: not in the text yet
    bool done;       // the line was read
  };

  // Reads the line that starts at from when it holds no quote, in one
  // pass: the fields between the separators, without the blanks around
  // them, as the parser reads them; an empty line is no row. A line with
  // a quote is left to the parser (done false).
  scanned scanline(std::string_view text, std::size_t from) {
    const char *const base = text.data();
    const char *const begin = base + from;
    const char *const end = base + text.size();
    views_.clear();
    const char *field = begin;
    for (const char *q = begin; q < end; ++q) {
      const char c = *q;
      if (c == sep_) {
        views_.push_back(trimblanks(std::string_view(field, static_cast<std::size_t>(q - field))));
        field = q + 1;
      } else if (c == '\n' || c == '\r') {
        std::size_t after = static_cast<std::size_t>(q - base) + 1;
        if (c == '\r' && q + 1 == end)
          return {std::string_view::npos, false}; // a LF may follow in the next part
        if (c == '\r' && q[1] == '\n')
          ++after;
        views_.push_back(trimblanks(std::string_view(field, static_cast<std::size_t>(q - field))));
        ++line_;
        rowline_ = line_;
        if (q > begin)
          row();
        return {after, true};
      } else if (c == '"') {
        return {lineend(text, from), false};
      }
    }
    return {std::string_view::npos, false};
  }

  // Where the line that starts at from ends (after its line break: LF, CR
  // LF or a lone CR); npos when its end is not in text yet.
  static std::size_t lineend(std::string_view text, std::size_t from) {
    const char *p = text.data();
    const std::size_t n = text.size();
    const void *lf = std::memchr(p + from, '\n', n - from);
    const std::size_t upto = lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - p) : n;
    if (const void *cr = std::memchr(p + from, '\r', upto - from)) {
      const std::size_t c = static_cast<std::size_t>(static_cast<const char *>(cr) - p);
      if (c + 1 >= n)
        return std::string_view::npos; // a LF may follow in the next part
      return p[c + 1] == '\n' ? c + 2 : c + 1;
    }
    return lf ? upto + 1 : std::string_view::npos;
  }

  void rethrow() {
    if (failure_) {
      const std::exception_ptr f = failure_;
      failure_ = nullptr;
      std::rethrow_exception(f);
    }
  }

  void feedline(std::string_view line) {
    ++line_;
    if (p_.pstate == 0) { // no row begun: this line starts the next
      rowline_ = line_;
      // A line without quotes is only split at its separators: the
      // parser is needed for quotes, which may run over several lines.
      if (!std::memchr(line.data(), '"', line.size())) {
        splitline(line);
        return;
      }
    }
    if (csv_parse(&p_, line.data(), line.size(), onfield, onrow, this) != line.size()) {
      if (csv_error(&p_) == CSV_ENOMEM || csv_error(&p_) == CSV_ETOOBIG)
        throw std::bad_alloc();
      throw tableerror(line_, 0,
                       "Line " + std::to_string(line_) +
                           ": a stray quote: a field in quotes must be followed by a separator "
                           "or the line's end, and a field not in quotes may hold no quote");
    }
    rethrow();
  }

  // A line without quotes as the parser reads it: the fields between the
  // separators without the blanks around them; an empty line is no row.
  void splitline(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.remove_suffix(1);
    if (line.empty())
      return;
    views_.clear();
    std::size_t from = 0;
    for (;;) {
      const std::size_t at = line.find(sep_, from);
      views_.push_back(trimblanks(line.substr(from, at - from)));
      if (at == std::string_view::npos)
        break;
      from = at + 1;
    }
    row();
  }

  // The blanks around a field that is not quoted: spaces, and tabs where
  // they are no separator.
  std::string_view trimblanks(std::string_view f) const {
    const auto blank = [this](char c) { return c == ' ' || (c == '\t' && sep_ != '\t'); };
    while (!f.empty() && blank(f.front()))
      f.remove_prefix(1);
    while (!f.empty() && blank(f.back()))
      f.remove_suffix(1);
    return f;
  }

  std::string_view field(std::size_t i) const { return views_[i]; }

  void row() {
    const std::size_t n = views_.size();
    bool blank = true;
    for (std::size_t i = 0; i < n && blank; ++i)
      blank = field(i).empty() || trim(field(i)).empty();
    if (blank)
      return;
    if (!data_) {
      // Lines before the first line of numbers are header lines: a line
      // with a number in it (a decimal comma too, refused below) is data.
      bool anynumber = false;
      for (std::size_t i = 0; i < n && !anynumber; ++i) {
        std::string_view text;
        const fieldkind k = readfield(field(i), text);
        anynumber = k == fieldkind::number || k == fieldkind::ambiguouscomma;
      }
      if (!anynumber) {
        header();
        return;
      }
      startdata(n);
    }
    datarow();
  }

  void header() {
    if (++summary_.headerlines > kMostHeaderLines)
      throw tableerror(line_, 0,
                       "The table holds no line of numbers in its first " +
                           std::to_string(kMostHeaderLines) + " lines");
    std::vector<std::string> h;
    for (std::size_t i = 0; i < views_.size(); ++i) {
      std::string f(trim(field(i)));
      // A header cell becomes part of a comment line: no control byte (a
      // tab, a line break, a NUL) may end or split that line.
      std::replace_if(
          f.begin(), f.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
      if (i == 0 && !f.empty() && f.front() == '#')
        f = std::string(trim(std::string_view(f).substr(1)));
      h.push_back(std::move(f));
    }
    summary_.headers.push_back(std::move(h));
  }

  void startdata(std::size_t columns) {
    data_ = true;
    firstdata_ = rowline_;
    summary_.columns = static_cast<int>(columns);
    const char *kind = sep_ == '\t'  ? "tab-separated"
                       : sep_ == ';' ? "semicolon-separated"
                                     : "comma-separated";
    std::string &out = *out_;
    out += std::string(kImportMark) + source_ + " (" + kind + ")\n";
    for (const auto &h : summary_.headers) {
      out += '#';
      for (std::size_t i = 0; i < h.size(); ++i)
        out += (i == 0 ? " " : "\t") + h[i];
      out += '\n';
    }
    summary_.titles = columntitles(summary_.headers, summary_.columns);
  }

  // Reads a field as a number: text is set to the text it is written as
  // (with a decimal point, without a '+' sign), valid until the next call.
  fieldkind readfield(std::string_view f, std::string_view &text) {
    f = trim(f);
    if (f.empty())
      return fieldkind::empty;
    if (f.front() == '+') {
      f.remove_prefix(1);
      // One sign only: "++4" or "+-4" is no number.
      if (!f.empty() && (f.front() == '+' || f.front() == '-'))
        return fieldkind::notnumber;
    }
    text = f;
    if (quicknumber(f))
      return fieldkind::number;
    double v = 0;
    if (const std::size_t comma = f.find(','); comma != std::string_view::npos) {
      // A decimal comma: one comma and no point. In a comma-separated
      // table it cannot be told from a separator.
      if (f.find(',', comma + 1) != std::string_view::npos || f.find('.') != std::string_view::npos)
        return fieldkind::notnumber;
      number_.assign(f);
      number_[comma] = '.';
      text = number_;
      if (!parsenumber(number_, v))
        return fieldkind::notnumber;
      return sep_ == ',' ? fieldkind::ambiguouscomma : fieldkind::number;
    }
    return parsenumber(f, v) ? fieldkind::number : fieldkind::notnumber;
  }

  // The refusal of a field of line of numbers rowline_.
  [[noreturn]] void refusefield(fieldkind kind, std::size_t i) const {
    const int column = static_cast<int>(i) + 1;
    const std::string where =
        "Line " + std::to_string(rowline_) + ", column " + std::to_string(column);
    const std::string_view f = trim(field(i));
    if (kind == fieldkind::empty)
      throw tableerror(rowline_, column,
                       where + " is empty: every line of numbers needs a number in every column");
    if (kind == fieldkind::ambiguouscomma)
      throw tableerror(rowline_, column,
                       where + ": " + shown(f) +
                           " has a decimal comma, which a comma-separated table cannot tell "
                           "from a separator: save the table with semicolons between the "
                           "fields, or with decimal points");
    throw tableerror(rowline_, column, where + ": " + shown(f) + " is not a number");
  }

  void datarow() {
    const std::size_t n = views_.size();
    const auto columns = static_cast<std::size_t>(summary_.columns);
    if (n != columns)
      throw tableerror(rowline_, static_cast<int>(std::min(n, columns) + 1),
                       "Line " + std::to_string(rowline_) + " has " + std::to_string(n) +
                           " fields, where the first line of numbers (line " +
                           std::to_string(firstdata_) + ") has " + std::to_string(columns) +
                           ": every line of numbers needs the same number of fields");
    std::string &out = *out_;
    for (std::size_t i = 0; i < n; ++i) {
      std::string_view text;
      const fieldkind kind = readfield(field(i), text);
      if (kind != fieldkind::number)
        refusefield(kind, i);
      if (i > 0)
        out += '\t';
      out += text;
    }
    out += '\n';
    ++summary_.datalines;
    auto &runs = summary_.runs;
    if (runs.empty() || rowline_ - runs.back().second != summary_.datalines - runs.back().first)
      runs.emplace_back(summary_.datalines, rowline_);
  }

  csv_parser p_{};
  char sep_;
  std::string source_;
  std::string carry_;
  std::string *out_ = nullptr;
  long line_ = 0;
  long rowline_ = 0;
  long firstdata_ = 0;
  bool data_ = false;
  std::string fields_;
  std::vector<std::size_t> ends_;
  // The fields of the row at hand.
  std::vector<std::string_view> views_;
  std::string number_;
  std::exception_ptr failure_;
  tablesummary summary_;
};

// One reading of a table: chunks of bytes in, data text parts out.
class importrun {
public:
  importrun(datapartsink &sink, const std::string &source, bool latin1)
      : sink_(sink), source_(source), decoder_(latin1) {}

  void chunk(std::string_view raw, bool last, std::size_t size) {
    if (!begun_) {
      begun_ = true;
      sink_.begin(size);
    }
    const std::string_view text = decoder_.decode(raw, last);
    if (!reader_) {
      const char sep = tableseparator(wholelines(text, last));
      if (!sep)
        throw tableerror(0, 0,
                         "No commas, semicolons or tabs separate the fields of its first lines: "
                         "it is not a table of values");
      reader_ = std::make_unique<tablereader>(sep, source_);
    }
    reader_->feed(text, out_);
    if (last)
      reader_->finish(out_);
    if (out_.size() >= kChunk || (last && !out_.empty())) {
      sink_.part(out_);
      out_.clear();
    }
  }

  tablesummary summary() { return reader_ ? std::move(reader_->summary()) : tablesummary{}; }

private:
  datapartsink &sink_;
  std::string source_;
  decoder decoder_;
  std::unique_ptr<tablereader> reader_;
  std::string out_;
  bool begun_ = false;
};

// Runs an import as UTF-8 (or UTF-16), and again as Latin-1 when the bytes
// turn out not to be UTF-8.
tablesummary runimport(
    const std::function<void(const std::function<void(std::string_view, bool, std::size_t)> &)>
        &read,
    datapartsink &sink, const std::string &source) {
  for (const bool latin1 : {false, true}) {
    try {
      importrun run(sink, source, latin1);
      read([&run](std::string_view raw, bool last, std::size_t size) {
        run.chunk(raw, last, size);
      });
      return run.summary();
    } catch (const notutf8 &) {
      // read again as Latin-1
    }
  }
  return {};
}

} // namespace

char tableseparator(std::string_view start) { return tableshape(start).first; }

bool needsimport(std::string_view start) {
  const auto [sep, columns] = tableshape(start);
  if (!sep)
    return false;
  const ConversionOutcome plain = ConvertToChart(textlines::fromText(std::string(start)), "");
  if (!plain.ok())
    return true;
  return plain.result->layout == textlayout::column && plain.result->grid.colcount() < columns;
}

std::string tabletext(std::string_view bytes) {
  for (const bool latin1 : {false, true}) {
    try {
      decoder d(latin1);
      return std::string(d.decode(bytes, true));
    } catch (const notutf8 &) {
    }
  }
  return {};
}

bool tablefile(const std::string &path) {
  try {
    std::string start;
    bool whole = false;
    readchunks(
        path,
        [&](std::string_view raw, bool last, std::size_t size) {
          start.assign(raw);
          whole = last && start.size() >= size;
        },
        kLookAt);
    const std::string text = tabletext(start);
    return needsimport(wholelines(text, whole));
  } catch (...) {
    return false;
  }
}

tablesummary importtable(const std::string &path, datapartsink &sink, const std::string &source) {
  return runimport([&](const auto &take) { readchunks(path, take); }, sink, source);
}

tablesummary importtablebytes(std::string_view bytes, datapartsink &sink,
                              const std::string &source) {
  return runimport(
      [&](const auto &take) {
        std::size_t from = 0;
        do {
          const std::size_t n = std::min(kChunk, bytes.size() - from);
          take(bytes.substr(from, n), from + n >= bytes.size(), bytes.size());
          from += n;
        } while (from < bytes.size());
      },
      sink, source);
}

long tablesummary::lineofrow(long row) const {
  if (row < 1 || row > datalines)
    return 0;
  auto it =
      std::upper_bound(runs.begin(), runs.end(), row,
                       [](long r, const std::pair<long, long> &run) { return r < run.first; });
  if (it == runs.begin())
    return 0;
  --it;
  return it->second + (row - it->first);
}

std::vector<std::string> columntitles(const std::vector<std::vector<std::string>> &headers,
                                      int columns) {
  const auto wanted = static_cast<std::size_t>(columns);
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const auto &h = headers[i];
    if (h.size() != wanted || wanted < 1)
      continue;
    // Names: none empty, no two alike (a line that repeats "Run 1" over
    // every column names none of them).
    std::vector<std::string> names;
    for (const auto &f : h)
      names.emplace_back(trim(f));
    auto sorted = names;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.front().empty() || std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
      continue;
    if (i + 1 < headers.size() && headers[i + 1].size() == wanted)
      for (std::size_t c = 0; c < wanted; ++c)
        if (const std::string_view unit = trim(headers[i + 1][c]); !unit.empty())
          names[c] += " (" + std::string(unit) + ")";
    return names;
  }
  return {};
}

std::vector<std::string> importedtitles(const std::vector<std::string_view> &firstlines,
                                        int columns) {
  if (firstlines.empty() || firstlines.front().substr(0, kImportMark.size()) != kImportMark)
    return {};
  std::vector<std::vector<std::string>> headers;
  for (std::size_t i = 1; i < firstlines.size(); ++i) {
    std::string_view line = firstlines[i];
    if (trim(line).empty())
      continue;
    if (line.front() != '#')
      break;
    line.remove_prefix(1);
    if (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', from);
      fields.emplace_back(trim(line.substr(from, tab - from)));
      if (tab == std::string_view::npos)
        break;
      from = tab + 1;
    }
    headers.push_back(std::move(fields));
  }
  return columntitles(headers, columns);
}

} // namespace orvalle
