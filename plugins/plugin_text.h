// Number texts for the sample plug-ins, in the program's general format:
// P significant digits, trailing zeros dropped, fixed-point for decimal
// exponents from -3 to P, otherwise d.dddE<exp> without a plus sign.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace plugintext {

inline std::string general(double x, int p, char separator = '.') {
  if (std::isnan(x))
    return "NAN";
  if (std::isinf(x))
    return x > 0 ? "INF" : "-INF";
  if (x == 0.0)
    return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", p - 1, x);
  std::string s(buf);
  const bool negative = s[0] == '-';
  if (negative)
    s.erase(0, 1);
  const auto epos = s.find('e');
  const int e = std::atoi(s.c_str() + epos + 1) + 1; // x = 0.d1d2... 10^e
  std::string digits;
  for (std::size_t i = 0; i < epos; ++i)
    if (s[i] != '.')
      digits += s[i];
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();
  const int nd = static_cast<int>(digits.size());
  std::string out = negative ? "-" : "";
  if (e >= -3 && e <= p) {
    if (e <= 0) {
      out += '0';
      out += separator;
      out.append(static_cast<std::size_t>(-e), '0');
      out += digits;
    } else if (nd <= e) {
      out += digits;
      out.append(static_cast<std::size_t>(e - nd), '0');
    } else {
      out += digits.substr(0, static_cast<std::size_t>(e));
      out += separator;
      out += digits.substr(static_cast<std::size_t>(e));
    }
  } else {
    out += digits[0];
    if (nd > 1) {
      out += separator;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(e - 1);
  }
  return out;
}

// A value and its uncertainty rounded down to two significant places of
// the uncertainty, as the program shows its own parameters.
inline std::pair<std::string, std::string> pair(double v, double e, char separator) {
  if (e > 0.0 && std::isfinite(e) && std::isfinite(v)) {
    const int k = -static_cast<int>(std::floor(std::log10(e)));
    const double sv = std::pow(10.0, k + 2);
    if (std::isfinite(v * sv))
      v = std::floor(v * sv) / sv;
    e = std::floor(e * sv) / sv;
  }
  return {general(v, 8, separator), general(e, 8, separator)};
}

} // namespace plugintext
