// What orvalle-fit prints: the information text, or the same in JSON.
#pragma once

#include <string>
#include <vector>

#include "engine/bfit.h"

namespace orvalle::cli {

// The information text, one line per line ending in '\n'.
std::string textreport(const std::vector<const bfit *> &fits);

// {"fits": [...]}: per fit its name, the model key, the dataset's name, the
// parameters (label, value, uncertainty), chisq, dof, the four chi-square
// limits (null when there are none), the verdict (null when there is
// none), the verdict word and the description lines.
std::string jsonreport(const std::vector<const bfit *> &fits, const std::string &model);
// The keys of one fit's object in jsonreport, without the braces.
std::string jsonfitkeys(const bfit &fit, const std::string &model);

// Labels of the fit's parameters, in par's order.
std::vector<std::string> parameterlabels(const bfit &fit);

// A JSON string literal with the quotes.
std::string jsonstring(const std::string &text);
// A JSON number with 17 significant digits; null for NaN and infinities.
std::string jsonnumber(double v);

} // namespace orvalle::cli
