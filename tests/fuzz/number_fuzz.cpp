// Fuzz harness: the program's number syntax against a reference made here,
// a grammar check followed by the C library's strtod (correctly rounded in
// glibc). A text the grammar accepts must read as strtod's value, or as 0
// where strtod's value is below the normal range; anything else must be
// refused. Cells must read back from their own text.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatext/conversion.h"

namespace {

bool isdigit(char c) { return c >= '0' && c <= '9'; }
bool isblank(char c) { return c == ' ' || c == '\t'; }

// ws* [+-]? (D+ (. D*)? | . D+) ([eE] [+-]? D+)? ws*
bool grammar(const std::string &s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n && isblank(s[i]))
    ++i;
  if (i < n && (s[i] == '+' || s[i] == '-'))
    ++i;
  std::size_t digits = 0;
  while (i < n && isdigit(s[i]))
    ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && isdigit(s[i]))
      ++i, ++digits;
  }
  if (digits == 0)
    return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-'))
      ++i;
    std::size_t exp = 0;
    while (i < n && isdigit(s[i]))
      ++i, ++exp;
    if (exp == 0)
      return false;
  }
  while (i < n && isblank(s[i]))
    ++i;
  return i == n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  double value = 0;
  const bool read = orvalle::parsenumber(text, value);
  if (!grammar(text)) {
    if (read)
      std::abort(); // the grammar refuses what the parser took
    return 0;
  }
  errno = 0;
  const double ref = std::strtod(text.c_str(), nullptr);
  if (std::isinf(ref)) {
    if (read)
      std::abort(); // beyond the range of a double is not a number
    return 0;
  }
  if (!read)
    std::abort(); // a number the parser refused
  if (std::fabs(ref) < DBL_MIN) {
    if (value != 0.0 && value != ref)
      std::abort();
  } else if (std::memcmp(&value, &ref, sizeof value) != 0) {
    std::abort(); // not the correctly rounded value
  }

  // A grid cell holding it reads back from its text.
  orvalle::numericgrid g;
  g.set(0, 1, value);
  double back = 0;
  if (!orvalle::parsenumber(g.text(0, 1), back) || back != g.value(0, 1))
    std::abort();
  return 0;
}
