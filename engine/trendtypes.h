// The trend types a plotter offers and how each one becomes a fit object,
// shared by the plotter's "Fit && Plot" and the batch command so that both
// build, name and check fits alike.
//
// The list is the four linear and polynomial types, then (with the sample
// fits setting) the four sample types, then the plug-in's model when the
// plug-in library names one, then always the typed formula. Types are kept
// as the enum below; a list position is only the index into
// trendtypelist().
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/bfit.h"
#include "engine/customfit.h"
#include "engine/multfit.h"

namespace orvalle {

enum class trendtype {
  linearorigin,  // "Linear (y=mx)"
  linear,        // "Linear (y=ax+b)"
  quadratic,     // "Quadratic (y=ax^2+bx+c)"
  cubic,         // "Cubic (y=ax^3+bx^2+cx+d)"
  power,         // sample: "Power y=A*(x^2)^(B/2)"
  resonance,     // sample: "Resonance y=A/((B-x)^2+C)"
  periodic,      // sample: "Periodic y=A*cos(B*x)"
  periodicdecay, // sample: "Periodic y=A*exp(B*x)*cos(Cx+D)"
  custom,        // the plug-in's model
  formula,       // "Formula": a model typed by the student (engine/formulafit.h)
};

// The trend types in list order. samplefits adds the four sample types; a
// plug-in whose model name is not empty adds its entry; the formula comes
// last, so every other item keeps its place.
std::vector<trendtype> trendtypelist(bool samplefits, const PluginLibrary *plugin);

// The item text: fixed for the built-in types, the plug-in's model name for
// custom (empty without a plug-in).
std::string trendtext(trendtype type, const PluginLibrary *plugin = nullptr);

// The fewest points a dataset needs for the type: one more than the
// model's parameters. The plug-in entry needs its polynomial's degree plus
// 2 when the plug-in fits a polynomial, otherwise 3; the formula needs 2
// here, and its fit asks for one point more than its parameters once they
// are known.
int fewestpoints(trendtype type, const PluginLibrary *plugin = nullptr);

// The message the plotter logs when a dataset has fewer points than that:
// "You need at least " n " points in the dataset to fit " item.
std::string fewestpointsmessage(trendtype type, const PluginLibrary *plugin = nullptr);

// How many estimate boxes (A to E) the type shows: 2 for the cosine, 4 for
// the damped cosine, the plug-in's count for custom, 0 otherwise (the
// formula has boxes of its own, one per parameter it names).
int estimatecount(trendtype type, const PluginLibrary *plugin = nullptr);

// The starting values A to E, given to every fit whether shown or not.
using estimateset = std::array<double, 5>;
inline constexpr estimateset kDefaultEstimates = {1.0, 1.0, 1.0, 1.0, 1.0};

// The automatic fit name: the item text alone for a dataset with the empty
// name, otherwise the dataset's name, " -- " and the item text.
std::string autofitname(const std::string &datasetname, const std::string &itemtext);

// Makes the fit object of the type with par[0..4] set to the estimates.
// custom asks the plug-in first: a polynomial of its degree when
// customispoly() is not 0, otherwise a customfit. Raises engine_error
// (kFailedFit) for custom without a plug-in model, for a plug-in degree
// outside 1 to 10, and for formula, which needs its text (makeformulafit).
std::unique_ptr<bfit> makefit(trendtype type, const PluginLibrary *plugin,
                              const estimateset &estimates = kDefaultEstimates);

// The fit of a typed formula with par[k] set to estimates[k] for its
// parameters in order (missing ones start at 1). Raises formula_error when
// the text cannot be read.
std::unique_ptr<bfit> makeformulafit(const std::string &text, const std::vector<double> &estimates);

// The item text a formula fit is named after: "y=" and the formula as
// typed, without its outer blanks.
std::string formulaitemtext(const std::string &text);

// Multi fits: straight lines through every dataset of a tagged file that
// share the intercept ("With Same" item 0) or the gradient (item 1).
enum class multikind { sameintercept = 0, samegradient = 1 };

// "Intercept (b)" or "Gradient (a)".
std::string multikindtext(multikind kind);
// An Mlinearsamec for the shared intercept, an Mlinearsamem for the shared
// gradient.
std::unique_ptr<multfit> makemultifit(multikind kind);
// The name of one line: the multi fit's name, "-" and the dataset's name.
std::string multilinename(const std::string &multiname, const std::string &datasetname);
// The name the program proposes for a multi fit: what the lines share and
// the trend type, e.g. "Same gradient -- Linear (y=ax+b)"; a second multi
// fit of the same kind gets " 2" after the kind, and so on. taken tells
// whether a proposed name is already the name of a multi fit's line.
std::string multifitname(multikind kind, const std::string &itemtext,
                         const std::function<bool(const std::string &)> &taken);
// The line of the description of line `self` of a multi fit over the
// datasets `names`: which parameter it shares with which datasets.
std::string multisharingtext(multikind kind, const std::vector<std::string> &names,
                             std::size_t self);
// The log line of a finished multi fit, ending " have been calculated".
std::string multifitlogline(multikind kind, const std::string &caption);

} // namespace orvalle
