// The one UTF-8 reading, against a decoder written here from the standard's
// rules: a code point from its bits, refused when overlong, a surrogate or
// above U+10FFFF.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "engine/utf8.h"

namespace orvalle {
namespace {

// The bytes' length as UTF-8 by decoding: the lead byte's high bits give
// the length, continuation bytes are 10xxxxxx, and the code point must need
// exactly that many bytes. -1: the bytes end before the sequence does.
int referencelength(const unsigned char *s, std::size_t n) {
  const unsigned c = s[0];
  int len;
  unsigned cp;
  if (c < 0x80)
    return 1;
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  for (int k = 1; k < len; ++k) {
    if (static_cast<std::size_t>(k) >= n) {
      // Cut off: a prefix that some ending would make well-formed.
      for (unsigned tail = 0x80; tail <= 0xBF; ++tail) {
        std::array<unsigned char, 4> whole{};
        for (int j = 0; j < k; ++j)
          whole[static_cast<std::size_t>(j)] = s[j];
        for (int j = k; j < len; ++j)
          whole[static_cast<std::size_t>(j)] = static_cast<unsigned char>(tail);
        if (referencelength(whole.data(), static_cast<std::size_t>(len)) == len)
          return -1;
      }
      return 0;
    }
    if ((s[k] & 0xC0) != 0x80)
      return 0;
    cp = cp << 6 | (s[k] & 0x3F);
  }
  const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

TEST(Utf8, EverySequenceUpToFourBytesAsTheDecoderReadsIt) {
  // Every lead and second byte; the third and fourth from values at and
  // around the edges of the continuation range.
  const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  long checked = 0;
  for (unsigned a = 0; a < 256; ++a)
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned char c : edges)
        for (unsigned char d : edges) {
          const unsigned char s[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                      c, d};
          for (std::size_t n = 1; n <= 4; ++n) {
            const int want = referencelength(s, n);
            ASSERT_EQ(utf8length(s, n), want) << std::hex << a << " " << b << " " << unsigned(c)
                                              << " " << unsigned(d) << " n " << n;
            ++checked;
          }
        }
  EXPECT_GT(checked, 30'000'000);
}

TEST(Utf8, WholeTextsWithAsciiRunsOfEveryLength) {
  struct textcase {
    std::string text;
    bool valid;
  };
  const textcase cases[] = {
      {"", true},
      {"plain ASCII longer than eight bytes", true},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"\xC0\xAF", false},         // overlong '/'
      {"\xED\xA0\x80", false},     // a surrogate
      {"\xF4\x90\x80\x80", false}, // above U+10FFFF
      {"abc\xE2\x82", false},      // cut at the end
      {"\x80", false},             // a lone continuation byte
      {"\xEF\xBB\xBF# mark", true},
  };
  for (const textcase &c : cases)
    for (std::size_t pad = 0; pad < 17; ++pad) {
      // The same text after and before ASCII runs that end on and off the
      // eight-byte steps.
      const std::string text = std::string(pad, 'x') + c.text + std::string(pad, 'y');
      EXPECT_EQ(validutf8(reinterpret_cast<const unsigned char *>(text.data()), text.size()),
                c.valid)
          << c.text << " pad " << pad;
    }
}

} // namespace
} // namespace orvalle
