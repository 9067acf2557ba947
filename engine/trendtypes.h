// The trend types a plotter offers and how each one becomes a fit object,
// shared by the plotter's "Fit && Plot" and the batch command so that both
// build, name and check fits alike.
//
// Every type is one row of trendrows(): its caption, its name on the batch
// command line, the fewest points it needs, its estimate boxes, its fit
// object and its help page. A new type is its fit class, its enum value
// and its row; the compiler refuses a row missing, given twice or out of
// the enum's order.
//
// The list is the built-in linear and polynomial types, then (with the
// sample fits setting) the sample types, then the plug-in's model when the
// plug-in library names one, then always the typed formula. A list
// position is only the index into trendtypelist().
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <span>
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

// Where a type's item stands in the list and when it is offered.
enum class trendgroup {
  builtin, // always
  sample,  // with the sample fits setting
  plugin,  // when the plug-in library names a model
  formula, // always, last
};

// One trend type. The plug-in's row takes its caption, fewest points,
// estimate count and fit object from the plug-in (see trendtext,
// fewestpoints, estimatecount, makefit); the formula's fit is made from
// its text (makeformulafit), so neither has a factory.
struct trendrow {
  trendtype type;
  trendgroup group;
  const char *caption;    // the item text; empty for the plug-in's row
  const char *batchname;  // orvalle-fit --model NAME ("formula" takes ":TEXT")
  const char *projectkey; // the type's "type" in a project file
  int fewest;             // one more than the model's parameters
  int estimates;          // estimate boxes (A to E) shown
  // The polynomial degree for the plain polynomials (1 for the straight
  // line), 0 otherwise; poly:N of the batch command takes these for N up
  // to 3.
  int degree;
  // A linear least-squares fit that reads the errors of y only through
  // their weights.
  bool weightsonly;
  // Multi fits (lines sharing a parameter) are offered with this type.
  bool multi;
  std::unique_ptr<bfit> (*make)(); // the fit with every parameter 0; null: see above
  const char *helpanchor;          // page and anchor in the help book
  // The model's lines in orvalle-fit --help, after its name; '\n' parts
  // lines.
  const char *batchhelp;
};

// Every trend type's row, in the enum's order.
std::span<const trendrow> trendrows();
// The row of a type.
const trendrow &trendrowof(trendtype type);
// The row of the item at index of a list (trendtypelist); null for an
// index outside it (no item chosen).
const trendrow *trendrowat(const std::vector<trendtype> &list, int index);

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
