// The line list of a data text, and reading a text file into one.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include <sys/stat.h>

#include "datatext/conversion.h"

namespace orvalle {

namespace {

// True when bytes[0 .. n) is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool validutf8(const unsigned char *s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    // Skip plain ASCII eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, s + i, 8);
      if (w & 0x8080808080808080ull)
        break;
      i += 8;
    }
    if (i >= n)
      break;
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    unsigned lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0)
        lo = 0xA0;
      else if (c == 0xED)
        hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0)
        lo = 0x90;
      else if (c == 0xF4)
        hi = 0x8F;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(len) > n)
      return false;
    if (s[i + 1] < lo || s[i + 1] > hi)
      return false;
    for (int k = 2; k < len; ++k)
      if ((s[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80)
        return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

std::string latin1toutf8(const std::string &bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
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

textlines readtextfile(const std::string &path) {
  struct closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, closer> f(std::fopen(path.c_str(), "rb"));
  if (!f)
    throw std::system_error(errno, std::generic_category(), path);
  struct stat info {};
  if (::fstat(::fileno(f.get()), &info) != 0)
    throw std::system_error(errno, std::generic_category(), path);
  if (S_ISDIR(info.st_mode))
    throw std::system_error(EISDIR, std::generic_category(), path);
  std::string bytes;
  if (S_ISREG(info.st_mode) && info.st_size > 0)
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0)
    bytes.append(chunk, got);
  if (std::ferror(f.get()))
    throw std::system_error(errno ? errno : EIO, std::generic_category(), path);
  return textlines::fromBytes(std::move(bytes));
}

} // namespace orvalle
