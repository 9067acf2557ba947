#include "engine/trendtypes.h"

#include "engine/fits.h"
#include "engine/fittexts.h"
#include "engine/formulafit.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

// The highest degree of a polynomial a plug-in may ask for.
constexpr int kMaxPluginDegree = 9;

template <class Fit, int Order> std::unique_ptr<bfit> make() {
  return std::make_unique<Fit>(Order);
}
std::unique_ptr<bfit> makelineronlym() { return std::make_unique<lineronlym>(); }

using G = trendgroup;
using T = trendtype;

constexpr trendrow kRows[] = {
    {T::linearorigin, G::builtin, "Linear (y=mx)", "linear-origin", "linearorigin", 2, 0, 0, true,
     false, makelineronlym, "trends.html#linear", "y = m x"},
    {T::linear, G::builtin, "Linear (y=ax+b)", "linear", "linear", 3, 0, 1, true, true,
     make<polynom, 1>, "trends.html#linear", "y = a x + b"},
    {T::quadratic, G::builtin, "Quadratic (y=ax^2+bx+c)", "quadratic", "quadratic", 4, 0, 2, true,
     false, make<polynom, 2>, "trends.html#linear", "y = a x^2 + b x + c"},
    {T::cubic, G::builtin, "Cubic (y=ax^3+bx^2+cx+d)", "cubic", "cubic", 5, 0, 3, true, false,
     make<polynom, 3>, "trends.html#linear", "y = a x^3 + b x^2 + c x + d"},
    {T::power, G::sample, "Power y=A*(x^2)^(B/2)", "power", "power", 3, 0, 0, false, false,
     make<powersq, 1>, "trends.html#samples",
     "y = A (x^2)^(B/2); \"B = \" is B, the\n"
     "power of |x|; a straight line\n"
     "fitted through log10 y against\n"
     "log10 x^2 (linearised)"},
    {T::resonance, G::sample, "Resonance y=A/((B-x)^2+C)", "resonance", "resonance", 4, 0, 0, false,
     false, make<resonance, 2>, "trends.html#samples",
     "y = A / ((B - x)^2 + C); a parabola\n"
     "fitted through 1/y (linearised)"},
    {T::periodic, G::sample, "Periodic y=A*cos(B*x)", "periodic", "periodic", 3, 2, 0, false, false,
     make<periodic, 1>, "trends.html#samples", "y = A cos(B x)        (needs -e A,B)"},
    {T::periodicdecay, G::sample, "Periodic y=A*exp(B*x)*cos(Cx+D)", "periodic-decay",
     "periodicdecay", 5, 4, 0, false, false, make<periodicdecay, 3>, "trends.html#samples",
     "y = A exp(B x) cos(C x + D)\n"
     "                      (needs -e A,B,C,D)\n"
     "both periodic models give the\n"
     "uncertainties H^-1 (J^T W J) H^-1\n"
     "(H: the derivative of the gradient\n"
     "of the chi-square), not the usual\n"
     "(J^T W J)^-1 that a formula gives"},
    {T::custom, G::plugin, "", "custom", "plugin", 3, 0, 0, false, false, nullptr,
     "trends.html#plugin", "the plug-in model (libcustomfit.so)"},
    {T::formula, G::formula, "Formula", "formula", "formula", 2, 0, 0, false, false, nullptr,
     "trends.html#formula",
     "a formula in x typed by you, e.g.\n"
     "'formula:A*(1-exp(-x/B))' with\n"
     "-e giving A, B, ... in the order\n"
     "the names first appear"},
};

// Every enum value has its row, at its own place: the enum ends with
// formula.
constexpr bool rowsinenumorder() {
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    if (static_cast<std::size_t>(kRows[i].type) != i)
      return false;
  return std::size(kRows) == static_cast<std::size_t>(trendtype::formula) + 1;
}
static_assert(rowsinenumorder(), "every trend type needs exactly one row in kRows, in enum order");

} // namespace

std::span<const trendrow> trendrows() { return kRows; }

const trendrow &trendrowof(trendtype type) {
  const auto i = static_cast<std::size_t>(type);
  if (i >= std::size(kRows))
    throw engine_error(kFailedFit, "Unknown trend type");
  return kRows[i];
}

const trendrow *trendrowat(const std::vector<trendtype> &list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size())
    return nullptr;
  return &trendrowof(list[static_cast<std::size_t>(index)]);
}

std::vector<trendtype> trendtypelist(bool samplefits, const PluginLibrary *plugin) {
  const bool named = plugin && !plugin->name().empty();
  std::vector<trendtype> list;
  for (const trendgroup g : {G::builtin, G::sample, G::plugin, G::formula}) {
    if ((g == G::sample && !samplefits) || (g == G::plugin && !named))
      continue;
    for (const auto &r : kRows)
      if (r.group == g)
        list.push_back(r.type);
  }
  return list;
}

std::string trendtext(trendtype type, const PluginLibrary *plugin) {
  if (type == trendtype::custom)
    return plugin ? plugin->name() : std::string();
  return trendrowof(type).caption;
}

int fewestpoints(trendtype type, const PluginLibrary *plugin) {
  if (type == trendtype::custom && plugin)
    if (const int degree = plugin->polydegree(); degree > 0 && degree <= kMaxPluginDegree)
      return degree + 2;
  return trendrowof(type).fewest;
}

std::string fewestpointsmessage(trendtype type, const PluginLibrary *plugin) {
  return texts::kNeedAtLeast + std::to_string(fewestpoints(type, plugin)) + texts::kPointsToFit +
         trendtext(type, plugin);
}

int estimatecount(trendtype type, const PluginLibrary *plugin) {
  if (type == trendtype::custom)
    return plugin ? plugin->estimates() : 0;
  return trendrowof(type).estimates;
}

std::string autofitname(const std::string &datasetname, const std::string &itemtext) {
  if (datasetname.empty())
    return itemtext;
  return datasetname + " -- " + itemtext;
}

namespace {

std::unique_ptr<bfit> pluginfit(const PluginLibrary *plugin) {
  if (!plugin || plugin->name().empty())
    throw engine_error(kFailedFit, "There is no plug-in fit model");
  if (const int degree = plugin->polydegree(); degree != 0) {
    if (degree < 0 || degree > kMaxPluginDegree) {
      const std::string why = texts::kPluginModel + plugin->name() +
                              "\" asks for a polynomial of degree " + std::to_string(degree) +
                              "; the degree is 1 to 9";
      logmessage(why);
      throw engine_error(kFailedFit, why);
    }
    return std::make_unique<polynom>(degree);
  }
  return std::make_unique<customfit>(*plugin);
}

std::unique_ptr<bfit> bare(trendtype type, const PluginLibrary *plugin) {
  if (type == trendtype::custom)
    return pluginfit(plugin);
  if (type == trendtype::formula)
    throw engine_error(kFailedFit, "A formula fit is made from its text");
  return trendrowof(type).make();
}

} // namespace

std::unique_ptr<bfit> makefit(trendtype type, const PluginLibrary *plugin,
                              const estimateset &estimates) {
  auto fit = bare(type, plugin);
  for (std::size_t i = 0; i < estimates.size(); ++i)
    fit->par[i] = estimates[i];
  return fit;
}

std::unique_ptr<bfit> makeformulafit(const std::string &text,
                                     const std::vector<double> &estimates) {
  auto fit = std::make_unique<formulafit>(text);
  for (int k = 0; k < fit->count(); ++k)
    fit->par[k] = static_cast<std::size_t>(k) < estimates.size()
                      ? estimates[static_cast<std::size_t>(k)]
                      : 1.0;
  return fit;
}

std::string formulaitemtext(const std::string &text) {
  const auto first = text.find_first_not_of(" \t");
  const auto last = text.find_last_not_of(" \t");
  return "y=" + (first == std::string::npos ? std::string() : text.substr(first, last - first + 1));
}

std::string multikindtext(multikind kind) {
  return kind == multikind::sameintercept ? "Intercept (b)" : "Gradient (a)";
}

std::unique_ptr<multfit> makemultifit(multikind kind) {
  if (kind == multikind::sameintercept)
    return std::make_unique<Mlinearsamec>();
  return std::make_unique<Mlinearsamem>();
}

std::string multilinename(const std::string &multiname, const std::string &datasetname) {
  return multiname + "-" + datasetname;
}

std::string multifitname(multikind kind, const std::string &itemtext,
                         const std::function<bool(const std::string &)> &taken) {
  const std::string what = kind == multikind::sameintercept ? "Same intercept" : "Same gradient";
  for (int k = 1;; ++k) {
    const std::string name = (k == 1 ? what : what + " " + std::to_string(k)) + " -- " + itemtext;
    if (!taken(name))
      return name;
  }
}

std::string multisharingtext(multikind kind, const std::vector<std::string> &names,
                             std::size_t self) {
  std::string others;
  std::size_t listed = 0, count = names.size() - (self < names.size() ? 1 : 0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i == self)
      continue;
    ++listed;
    if (listed > 1)
      others += listed == count ? " and " : ", ";
    others += names[i].empty() ? "an unnamed dataset" : names[i];
  }
  return (kind == multikind::sameintercept ? "The intercept b is shared with "
                                           : "The gradient a is shared with ") +
         others;
}

std::string multifitlogline(multikind kind, const std::string &caption) {
  return "Multiple linear fits that share the same " + multikindtext(kind) +
         " for data displayed in the " + caption + " have been calculated";
}

} // namespace orvalle
