// The line list of a data text, and reading a text file into one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include "datatext/conversion.h"
#include "datatext/datafile.h"
#include "engine/utf8.h"

namespace orvalle {

namespace {

// A UTF-8 byte-order mark at the start is not part of the text.
void dropmark(std::string &text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    std::memmove(text.data(), text.data() + 3, text.size() - 3);
    text.resize(text.size() - 3);
  }
}

std::string latin1toutf8(const std::string &bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8 + 1);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

} // namespace

textlines textlines::fromText(std::string text) {
  textlines t;
  dropmark(text);
  // Turn CR LF and lone CR into LF, in place.
  if (std::memchr(text.data(), '\r', text.size())) {
    std::size_t w = 0;
    for (std::size_t r = 0; r < text.size(); ++r) {
      if (text[r] == '\r') {
        text[w++] = '\n';
        if (r + 1 < text.size() && text[r + 1] == '\n')
          ++r;
      } else {
        text[w++] = text[r];
      }
    }
    text.resize(w);
  }
  if (text.empty()) {
    t.buf_ = std::move(text);
    return t;
  }
  if (text.back() != '\n')
    text += '\n';
  std::size_t lines = 0;
  for (const char *p = text.data(), *end = p + text.size();
       (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))));
       ++p)
    ++lines;
  t.starts_.reserve(lines + 1);
  t.starts_.push_back(0);
  const char *base = text.data();
  for (const char *p = base, *end = base + text.size();
       (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))));) {
    ++p;
    t.starts_.push_back(static_cast<std::size_t>(p - base));
  }
  t.buf_ = std::move(text);
  return t;
}

textlines textlines::fromBytes(std::string bytes) {
  dropmark(bytes);
  if (!validutf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()))
    bytes = latin1toutf8(bytes);
  return fromText(std::move(bytes));
}

textlines textlines::fromLines(const std::vector<std::string> &lines) {
  textlines t;
  std::size_t total = 0;
  for (const auto &l : lines)
    total += l.size() + 1;
  t.buf_.reserve(total);
  t.starts_.reserve(lines.size() + 1);
  t.starts_.push_back(0);
  for (const auto &l : lines) {
    t.buf_ += l;
    t.buf_ += '\n';
    t.starts_.push_back(t.buf_.size());
  }
  return t;
}

std::string textlines::joined(std::string_view eol) const {
  std::string out;
  out.reserve(buf_.size() + size() * eol.size());
  for (std::size_t i = 0; i < size(); ++i) {
    out += (*this)[i];
    out += eol;
  }
  return out;
}

void opendatafile(const std::string &path, datafile &f) {
  f.path = path;
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one. The
  // flag is cleared again once the file is known to be a regular file.
  f.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (f.fd < 0)
    throw std::system_error(errno, std::generic_category(), path);
  struct stat info {};
  if (::fstat(f.fd, &info) != 0)
    throw std::system_error(errno, std::generic_category(), path);
  if (S_ISDIR(info.st_mode))
    throw std::system_error(EISDIR, std::generic_category(), path);
  if (!S_ISREG(info.st_mode))
    throw textreaderror(path + " is not a regular file");
  const int flags = ::fcntl(f.fd, F_GETFL);
  if (flags < 0 || ::fcntl(f.fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), path);
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxTextBytes)
    throw f.toolarge();
  f.size = static_cast<std::size_t>(info.st_size);
}

std::string readdatatext(const std::string &path) {
  datafile f;
  opendatafile(path, f);
  std::string bytes;
  // One byte more than the file, for the line break that may be added at
  // its end without moving the text.
  const std::size_t size = f.size;
  bytes.reserve(size + 1);
  bytes.resize(size);
  std::size_t done = 0;
  // The file's own size straight into the string's storage: no second copy.
  while (done < size) {
    const std::size_t n = f.readsome(bytes.data() + done, size - done);
    if (n == 0)
      break;
    done += n;
  }
  bytes.resize(done);
  // A file that grows while it is read is followed up to the limit.
  if (done == size) {
    char chunk[1 << 16];
    while (const std::size_t n = f.readsome(chunk, sizeof chunk)) {
      if (bytes.size() + n > kMaxTextBytes)
        throw f.toolarge();
      bytes.append(chunk, n);
    }
  }
  dropmark(bytes);
  if (!validutf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()))
    bytes = latin1toutf8(bytes);
  return bytes;
}

namespace {

// Splits the parts of readdataparts, which hold whole lines, into lines:
// a line ends at LF, CR LF or a lone CR.
class partsintolines : public datapartsink {
public:
  explicit partsintolines(datalinesink &lines) : lines_(lines) {}
  void begin(std::size_t bytes) override { lines_.begin(bytes); }
  bool part(std::string_view text) override {
    const char *const base = text.data();
    const std::size_t end = text.size();
    // Without a CR in the part, a line ends at the next LF.
    const bool lfonly = !std::memchr(base, '\r', end);
    for (std::size_t p = 0; p < end;) {
      const std::size_t q = lfonly ? nextlf(base, p, end) : nextbreak(base, p, end);
      if (!lines_.line(text.substr(p, q - p)))
        return false;
      p = q + (q + 1 < end && base[q] == '\r' && base[q + 1] == '\n' ? 2 : 1);
    }
    return true;
  }

private:
  static std::size_t nextlf(const char *base, std::size_t p, std::size_t end) {
    const void *lf = std::memchr(base + p, '\n', end - p);
    return lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - base) : end;
  }
  static std::size_t nextbreak(const char *base, std::size_t p, std::size_t end) {
    while (p < end && base[p] != '\n' && base[p] != '\r')
      ++p;
    return p;
  }
  datalinesink &lines_;
};

} // namespace

void readdatalines(const std::string &path, datalinesink &sink) {
  partsintolines split(sink);
  readdataparts(path, split);
}

namespace {

constexpr std::size_t kPart = std::size_t(1) << 20;

// Where the part to hand on ends in buf, 0 for none yet: after its last
// LF, or after a CR with a byte after it (so a CR LF is never cut in two);
// a line longer than a part goes on to the next read. The first kept bytes
// were read before and hold no such end but maybe a CR at their end, so
// only the new bytes and that CR are looked at. At the end of the file the
// part is all of buf.
std::size_t partend(const std::string &buf, std::size_t kept, bool eof) {
  std::size_t end = buf.size();
  if (eof)
    return end;
  const std::size_t low = std::min(kept ? kept - 1 : 0, buf.size());
  while (end > low && buf[end - 1] != '\n' && !(buf[end - 1] == '\r' && end < buf.size()))
    --end;
  return end == low ? 0 : end;
}

enum class partsread { all, stopped, notutf8 };

// Hands on what a read leaves whole in buf, whose first kept bytes were
// there before it: a byte-order mark dropped before the first part, then
// the bytes up to the last whole line, checked as UTF-8 (or taken as
// Latin-1), which leave buf. all: read on.
partsread handon(std::string &buf, std::size_t kept, bool eof, bool &first, bool latin1,
                 datapartsink &sink) {
  if (first) {
    if (buf.size() < 3 && !eof)
      return partsread::all; // not yet enough to tell a byte-order mark
    first = false;
    dropmark(buf);
  }
  const std::size_t end = partend(buf, kept, eof);
  if (end == 0 && !eof)
    return partsread::all;
  const std::string_view text(buf.data(), end);
  if (!latin1 && !validutf8(reinterpret_cast<const unsigned char *>(text.data()), text.size()))
    return partsread::notutf8;
  if (!text.empty() && !(latin1 ? sink.part(latin1toutf8(std::string(text))) : sink.part(text)))
    return partsread::stopped;
  buf.erase(0, end);
  return partsread::all;
}

// Reads the bytes of f from offset from up to to (or to the end of the
// file) into parts for sink: parts of whole lines, a byte-order mark
// dropped at offset 0, as UTF-8 (ending at the first part that is not) or
// as Latin-1. Threads may read one file at once this way.
partsread readrange(const datafile &f, std::size_t from, std::size_t to, datapartsink &sink,
                    bool latin1 = false) {
  std::string buf; // bytes read and not yet handed on
  std::size_t at = from;
  bool first = from == 0;
  for (bool eof = false; !eof;) {
    const std::size_t kept = buf.size();
    const std::size_t want = std::min(kPart, to - at);
    buf.resize(kept + want);
    const std::size_t n = want ? f.readat(buf.data() + kept, want, at) : 0;
    buf.resize(kept + n);
    at += n;
    if (at > kMaxTextBytes)
      throw f.toolarge();
    eof = n == 0;
    if (const partsread r = handon(buf, kept, eof, first, latin1, sink); r != partsread::all)
      return r;
  }
  return partsread::all;
}

// One reading of the whole file into parts for sink, as UTF-8 or as
// Latin-1.
partsread readparts(const std::string &path, datapartsink &sink, bool latin1) {
  datafile f;
  opendatafile(path, f);
  sink.begin(f.size);
  return readrange(f, 0, std::numeric_limits<std::size_t>::max(), sink, latin1);
}

} // namespace

void readdataparts(const std::string &path, datapartsink &sink) {
  // A file that is not UTF-8 is read once more, from the start, as Latin-1.
  if (readparts(path, sink, false) == partsread::notutf8)
    readparts(path, sink, true);
}

namespace {

// Where the second part of f begins: just after the first line break that
// ends at byte half or later (a CR LF is one break); 0 for none before the
// end of the file.
std::size_t splitpoint(const datafile &f, std::size_t half) {
  char window[1 << 16];
  for (std::size_t at = half > 0 ? half - 1 : 0;;) {
    const std::size_t n = f.readat(window, sizeof window, at);
    if (n == 0)
      return 0;
    const char *const lf = static_cast<const char *>(std::memchr(window, '\n', n));
    const char *const cr = static_cast<const char *>(std::memchr(window, '\r', n));
    const char *const brk = !cr ? lf : !lf ? cr : std::min(lf, cr);
    if (brk) {
      std::size_t next = at + static_cast<std::size_t>(brk - window) + 1;
      if (*brk == '\r') {
        char after = 0;
        if (f.readat(&after, 1, next) == 1 && after == '\n')
          ++next;
      }
      return next < f.size ? next : 0;
    }
    at += n;
  }
}

// The layout the first data line of f chooses, when it is among the whole
// lines of f's first bytes, before offset end; nothing otherwise, or when
// that line holds only blanks.
std::optional<textlayout> firstlayout(const datafile &f, std::size_t end) {
  std::string head(std::min<std::size_t>(end, std::size_t(1) << 16), '\0');
  head.resize(f.readat(head.data(), head.size(), 0));
  dropmark(head);
  const bool whole = head.size() + 3 >= end; // up to end, but for a dropped mark
  for (std::size_t p = 0; p < head.size();) {
    std::size_t q = p;
    while (q < head.size() && head[q] != '\n' && head[q] != '\r')
      ++q;
    if (q == head.size() && !whole)
      return std::nullopt; // the line goes on past what was read
    const auto kind = chartconverter::classify(std::string_view(head).substr(p, q - p));
    if (kind != chartconverter::firstline::passedover)
      return chartconverter::layoutof(kind);
    p = q + (q + 1 < head.size() && head[q] == '\r' && head[q + 1] == '\n' ? 2 : 1);
  }
  return std::nullopt;
}

// Feeds lines to a converter until it has the outcome, or until enough
// (the other part's reader) says the lines are no longer needed.
class feeding : public datalinesink {
public:
  feeding(chartconverter &run, const std::atomic<bool> &enough) : run_(run), enough_(enough) {}
  void begin(std::size_t) override {}
  bool line(std::string_view text) override {
    return !enough_.load(std::memory_order_relaxed) && run_.feed(text);
  }

private:
  chartconverter &run_;
  const std::atomic<bool> &enough_;
};

} // namespace

std::optional<ConversionOutcome>
convertdatafile(const std::string &path, const std::string &filename, conversionparts split) {
  datafile f;
  opendatafile(path, f);
  if (!split.splits(f.size))
    return std::nullopt;
  const std::size_t at = splitpoint(f, split.first ? split.first : f.size / 2);
  if (at == 0)
    return std::nullopt;
  const std::optional<textlayout> layout = firstlayout(f, at);
  if (!layout)
    return std::nullopt;
  chartconverter one(filename, f.size);
  const std::unique_ptr<chartconverter> two = one.secondpart(*layout, f.size - at);
  // The first part's reader sets enough when its outcome is settled (the
  // second part's lines then change nothing) or when the file is not
  // UTF-8; the second part's when the file is not UTF-8.
  std::atomic<bool> enough{false};
  partsread firstread = partsread::all;
  std::exception_ptr firsterror;
  std::thread first;
  try {
    first = std::thread([&] {
      try {
        feeding lines(one, enough);
        partsintolines parts(lines);
        firstread = readrange(f, 0, at, parts);
      } catch (...) {
        firsterror = std::current_exception();
      }
      if (firstread != partsread::all || firsterror)
        enough.store(true, std::memory_order_relaxed);
    });
  } catch (const std::system_error &) {
    return std::nullopt; // no second thread: one part
  }
  partsread secondread = partsread::all;
  std::exception_ptr seconderror;
  try {
    feeding lines(*two, enough);
    partsintolines parts(lines);
    secondread = readrange(f, at, std::numeric_limits<std::size_t>::max(), parts);
  } catch (...) {
    seconderror = std::current_exception();
  }
  if (secondread == partsread::notutf8)
    enough.store(true, std::memory_order_relaxed);
  first.join();
  if (firsterror)
    std::rethrow_exception(firsterror);
  // A file that is not UTF-8 is read again, in one part, by the caller.
  if (firstread == partsread::notutf8 || secondread == partsread::notutf8)
    return std::nullopt;
  // What the second part's reader met after the first part's failure
  // does not count: read in one part, the file would have ended there.
  if (seconderror && firstread != partsread::stopped)
    std::rethrow_exception(seconderror);
  return one.finish(*two);
}

textlines readtextfile(const std::string &path) { return textlines::fromText(readdatatext(path)); }

} // namespace orvalle
