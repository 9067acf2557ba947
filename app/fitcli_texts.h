// Sentences of orvalle-fit that more than one place says.
#pragma once

#include "engine/fittexts.h"

namespace orvalle::cli {

// -e with a value that is not a number, or too many of them.
inline constexpr const char *kBadEstimates =
    "Unable To Convert Estimates To Numbers (write up to five numbers separated by commas, e.g. "
    "-e 2,3.1)";

// What the plotter says too when a fit fails, after the reason.
inline constexpr const char *kCriticalFailure = texts::kCriticalFailure;

// The column-file options given for a file of the tagged layout.
inline constexpr const char *kTaggedLayout =
    "this file has the tagged layout (x, y, error and a tag on every line)";

} // namespace orvalle::cli
