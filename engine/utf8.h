// Well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF. One reading for the plug-in's texts, the data texts and the
// imported tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvalle {

// The length of the UTF-8 sequence that starts at s[0], within the n bytes
// there (n > 0): 1 for ASCII, 0 when none starts there or it is not
// well-formed, -1 when the n bytes end before it does (those that are
// there being well-formed so far).
inline int utf8length(const unsigned char *s, std::size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80)
    return 1;
  int len = 0;
  unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    lo = c == 0xE0 ? 0xA0 : lo;
    hi = c == 0xED ? 0x9F : hi;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    lo = c == 0xF0 ? 0x90 : lo;
    hi = c == 0xF4 ? 0x8F : hi;
  } else {
    return 0;
  }
  for (int k = 1; k < len; ++k) {
    if (static_cast<std::size_t>(k) >= n)
      return -1;
    const unsigned char b = s[k];
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF))
      return 0;
  }
  return len;
}

// Where the plain ASCII from s[i] on ends (read eight bytes at a time), at
// n at the latest.
inline std::size_t pastascii(const unsigned char *s, std::size_t i, std::size_t n) {
  while (i + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (w & 0x8080808080808080ULL)
      break;
    i += 8;
  }
  while (i < n && s[i] < 0x80)
    ++i;
  return i;
}

// True when s[0 .. n) is well-formed UTF-8.
inline bool validutf8(const unsigned char *s, std::size_t n) {
  for (std::size_t i = pastascii(s, 0, n); i < n; i = pastascii(s, i, n)) {
    const int len = utf8length(s + i, n - i);
    if (len <= 0)
      return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

} // namespace orvalle
