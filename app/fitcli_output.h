// What orvalle-fit prints: the information text, or the same in JSON.
#pragma once

#include <string>
#include <vector>

#include "engine/bfit.h"

namespace orvalle::cli {

// The information text, one line per line ending in '\n'.
std::string textreport(const std::vector<const bfit *> &fits);

// The keys of one fit's JSON object, without the braces: its name, the
// model key, the dataset's name, the parameters (label, value,
// uncertainty), chisq, dof, the four chi-square limits (null when there
// are none), the verdict (null when there is none), the verdict word under
// both its names and the description lines. The keys whose text had
// bytes that are not UTF-8 (see jsonstring) are added to *replaced when it
// is given.
std::string jsonfitkeys(const bfit &fit, const std::string &model,
                        std::vector<std::string> *replaced = nullptr);

// Labels of the fit's parameters, in par's order.
std::vector<std::string> parameterlabels(const bfit &fit);

// A JSON string literal with the quotes, always valid UTF-8: a byte that
// is not part of a UTF-8 character (a Latin-1 file name, say) becomes
// U+FFFD, and *replaced is then set when it is given.
std::string jsonstring(const std::string &text, bool *replaced = nullptr);
// The key that lists the keys of an object whose texts had such bytes.
inline constexpr const char *kReplacedKey = "replaced";
// ", "replaced": [keys]" for the keys given; empty for none.
std::string jsonreplaced(const std::vector<std::string> &keys);

// A JSON number in the shortest form that reads back the same
// (shortesttext, as CSV writes it too); null for NaN and infinities.
std::string jsonnumber(double v);

} // namespace orvalle::cli
