// ConvertToChart: a data text in the column layout becomes a numeric grid,
// one in the tagged layout becomes datasets.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "datatext/conversion.h"

namespace orvalle {

bool parsefield(std::string_view s, double &value, bool &over15);

class gridwriter {
public:
  // Writes an already rounded value; rows come in ascending order per column.
  static void put(numericgrid &g, int c, int r, double v) {
    const auto ci = static_cast<std::size_t>(c);
    const auto ri = static_cast<std::size_t>(r);
    if (ci < g.columns_.size() && g.columns_[ci].size() == ri) {
      g.columns_[ci].push_back(v);
      if (r >= g.rows_)
        g.rows_ = r + 1;
    } else
      g.put(c, r, v);
  }
};

namespace {

inline bool isblankline(std::string_view l) { return l.empty(); }
inline bool iscommentline(std::string_view l) { return !l.empty() && l.front() == '#'; }
inline bool ispassedover(std::string_view l) { return isblankline(l) || iscommentline(l); }
inline bool isdigit(char c) { return c >= '0' && c <= '9'; }
inline bool isnumberstart(char c) { return isdigit(c) || c == '.' || c == '-'; }
inline bool isseparator(char c) { return c == ' ' || c == '\t'; }
inline bool hasseparator(std::string_view l) {
  for (const char c : l)
    if (isseparator(c))
      return true;
  return false;
}

// Removes spaces, tabs and other control characters from both ends.
std::string_view trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

// Takes the next field off rest: the text before the first space or tab
// (or all of rest when it has none); rest becomes what follows, trimmed.
// rest is trimmed on entry.
std::string_view nextfield(std::string_view &rest) {
  std::size_t sep = 0;
  while (sep < rest.size() && !isseparator(rest[sep]))
    ++sep;
  if (sep == rest.size()) {
    const std::string_view field = rest;
    rest = {};
    return field;
  }
  const std::string_view field = trim(rest.substr(0, sep));
  rest = trim(rest.substr(sep + 1));
  return field;
}

// The tag of a trimmed tagged line: its last character (a whole UTF-8
// sequence when the last byte belongs to one).
std::string_view tagof(std::string_view trimmed) {
  std::size_t start = trimmed.size() - 1;
  for (int k = 0; k < 3 && start > 0 && (static_cast<unsigned char>(trimmed[start]) & 0xC0) == 0x80;
       ++k)
    --start;
  if ((static_cast<unsigned char>(trimmed[start]) & 0xC0) != 0xC0)
    start = trimmed.size() - 1; // not a well-formed sequence: the last byte alone
  return trimmed.substr(start);
}

std::string rowcolumn(const char *text, std::size_t row, int column) {
  return std::string(text) + "row " + std::to_string(row) + ", column " + std::to_string(column);
}

ConversionOutcome failure(std::string text) {
  ConversionOutcome o;
  o.error = std::move(text);
  return o;
}

const char *const kNoData = "No data found to create chart ";
const char *const kBadLine = "Error Unable to Convert line ";
const char *const kBadField = "Unable to Convert to Chart error on ";
const char *const kTwoPoints =
    "Minumm of two points in a dataset is required to convert a file to a chart";
const char *const kBadError = "Y error points can not contain ZERO or MINIUS values - ";

std::string badline(std::size_t line, const std::string &filename) {
  return kBadLine + std::to_string(line) + "  - " + filename;
}

// Title and caption from the file name; both '/' and '\' end a folder name.
void names(const std::string &filename, ConversionResult &r) {
  const auto slash = filename.find_last_of("/\\");
  const std::size_t basestart = slash == std::string::npos ? 0 : slash + 1;
  const std::string base = filename.substr(basestart);
  const auto dot = base.rfind('.');
  // A dot in a folder name is not an extension: the title is then the
  // whole base name.
  r.title = dot == std::string::npos ? base : base.substr(0, dot);
  r.caption = "Chart Compiled From - " + base;
}

ConversionOutcome columnlayout(const textlines &lines, std::size_t first, ConversionResult r) {
  if (!isnumberstart(trim(lines[first]).front()))
    return failure(badline(first + 1, r.filename));
  r.layout = textlayout::column;
  numericgrid &grid = r.grid;
  std::size_t skipped = first; // the blank and comment lines before it
  bool reserved = false;
  for (std::size_t j = first; j < lines.size(); ++j) {
    const std::string_view raw = lines[j];
    if (ispassedover(raw)) {
      ++skipped;
      continue;
    }
    // A line without a separator keeps its row but fills no cell.
    if (!hasseparator(raw))
      continue;
    std::string_view rest = trim(raw);
    // A line of blanks counts like a blank line; one that trims to a
    // comment counts like a comment.
    if (rest.empty() || rest.front() == '#') {
      ++skipped;
      continue;
    }
    const std::size_t row = j - skipped + 1;
    const int r1 = static_cast<int>(row);
    for (int c = 0; !rest.empty(); ++c) {
      const std::string_view field = nextfield(rest);
      double v;
      bool over15;
      if (!parsefield(field, v, over15))
        return failure(rowcolumn(kBadField, row, c + 1));
      if (!reserved) {
        // The first counted row tells how wide the grid will likely be.
        // The room made is bounded by what the text can hold (a cell takes
        // at least two bytes: a digit and a separator), never by the
        // product of the line count and that width.
        std::size_t width = static_cast<std::size_t>(c) + 1;
        for (std::string_view more = rest; !more.empty(); ++width)
          nextfield(more);
        const std::size_t cells = lines.bytes() / 2 + 1;
        const std::size_t rows = std::min(lines.size() + 1, cells / width + 1);
        grid.reserve(static_cast<int>(std::min<std::size_t>(width, cells)), static_cast<int>(rows));
        reserved = true;
      }
      gridwriter::put(grid, c, r1, over15 ? roundto15(v) : v);
    }
  }
  grid.shrink();
  ConversionOutcome o;
  o.result.emplace(std::move(r));
  return o;
}

ConversionOutcome taggedlayout(const textlines &lines, std::size_t first, ConversionResult r) {
  r.layout = textlayout::tagged;
  auto &sets = r.datasets;
  std::unordered_map<std::string_view, dataset *> bytag;
  std::string_view lasttag;
  dataset *last = nullptr;
  auto find = [&](std::string_view tag) -> dataset * {
    if (last && tag == lasttag)
      return last;
    const auto it = bytag.find(tag);
    if (it == bytag.end())
      return nullptr;
    lasttag = tag;
    last = it->second;
    return last;
  };

  // First pass: count the points of each tag.
  for (std::size_t i = first; i < lines.size(); ++i) {
    const std::string_view raw = lines[i];
    if (ispassedover(raw))
      continue;
    if (!isnumberstart(raw.front()))
      return failure(badline(i + 1, r.filename));
    const std::string_view tag = tagof(trim(raw));
    if (dataset *d = find(tag)) {
      ++d->pointcount;
      continue;
    }
    auto d = std::make_unique<dataset>(true);
    d->name = "Dataset " + std::string(tag);
    d->tag = tag.front();
    d->pointcount = 1;
    d->filledcount = 0;
    bytag.emplace(tag, d.get());
    sets.push_back(std::move(d));
  }

  for (const auto &d : sets) {
    if (d->pointcount < 2)
      return failure(kTwoPoints);
    d->x = std::make_shared<drow>(d->pointcount);
    d->y = std::make_shared<drow>(d->pointcount);
    d->yerr = std::make_shared<drow>(d->pointcount);
  }

  // Second pass: read x, y and the error of y of every point. A line
  // without a space or tab is read like any other, so its missing fields
  // fail conversion and every counted point is filled.
  for (std::size_t o = first; o < lines.size(); ++o) {
    const std::string_view raw = lines[o];
    if (ispassedover(raw))
      continue;
    std::string_view rest = trim(raw);
    dataset *d = find(tagof(rest));
    double v[3];
    for (int f = 0; f < 3; ++f) {
      const std::string_view field = nextfield(rest);
      bool over15;
      if (!parsefield(field, v[f], over15))
        return failure(rowcolumn(kBadField, o + 1, f + 1));
      if (over15)
        v[f] = roundto15(v[f]);
    }
    if (!(v[2] > 0.0))
      return failure(rowcolumn(kBadError, o + 1, 3));
    const int k = d->filledcount++;
    (*d->x)[k] = v[0];
    (*d->y)[k] = v[1];
    (*d->yerr)[k] = v[2];
  }
  ConversionOutcome o;
  o.result.emplace(std::move(r));
  return o;
}

} // namespace

std::string columnname(int c) {
  std::string letters;
  for (long n = static_cast<long>(c) + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return "Col " + letters;
}

namespace {

ConversionOutcome convert(const textlines &lines, const std::string &filename) {
  if (lines.empty())
    return failure(kNoData + filename);
  ConversionResult r;
  r.filename = filename;
  names(filename, r);

  std::size_t first = 0;
  while (first < lines.size() && ispassedover(lines[first]))
    ++first;
  const std::string_view firstline = first < lines.size() ? trim(lines[first]) : std::string_view();
  if (firstline.empty())
    return failure(kNoData + filename);

  if (isnumberstart(firstline.back()))
    return columnlayout(lines, first, std::move(r));
  return taggedlayout(lines, first, std::move(r));
}

} // namespace

ConversionOutcome ConvertToChart(const textlines &lines, const std::string &filename) {
  // Whatever the run has built is released on the way out; only the
  // message stays.
  try {
    return convert(lines, filename);
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  try {
    return failure("Not enough memory to convert " +
                   (filename.empty() ? std::string("the text") : filename) + " to a chart");
  } catch (...) {
    return ConversionOutcome{}; // not even the message fits: an empty one
  }
}

} // namespace orvalle
