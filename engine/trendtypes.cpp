#include "engine/trendtypes.h"

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/logchannel.h"

namespace orvalle {

namespace {

// The highest degree of a polynomial a plug-in may ask for.
constexpr int kMaxPluginDegree = 9;

} // namespace

std::vector<trendtype> trendtypelist(bool samplefits, const PluginLibrary *plugin) {
  std::vector<trendtype> list = {trendtype::linearorigin, trendtype::linear, trendtype::quadratic,
                                 trendtype::cubic};
  if (samplefits)
    list.insert(list.end(), {trendtype::power, trendtype::resonance, trendtype::periodic,
                             trendtype::periodicdecay});
  if (plugin && !plugin->name().empty())
    list.push_back(trendtype::custom);
  list.push_back(trendtype::formula);
  return list;
}

std::string trendtext(trendtype type, const PluginLibrary *plugin) {
  switch (type) {
  case trendtype::linearorigin:
    return "Linear (y=mx)";
  case trendtype::linear:
    return "Linear (y=ax+b)";
  case trendtype::quadratic:
    return "Quadratic (y=ax^2+bx+c)";
  case trendtype::cubic:
    return "Cubic (y=ax^3+bx^2+cx+d)";
  case trendtype::power:
    return "Power y=A*(x^2)^(B/2)";
  case trendtype::resonance:
    return "Resonance y=A/((B-x)^2+C)";
  case trendtype::periodic:
    return "Periodic y=A*cos(B*x)";
  case trendtype::periodicdecay:
    return "Periodic y=A*exp(B*x)*cos(Cx+D)";
  case trendtype::custom:
    return plugin ? plugin->name() : std::string();
  case trendtype::formula:
    return "Formula";
  }
  return {};
}

int fewestpoints(trendtype type, const PluginLibrary *plugin) {
  if (type == trendtype::custom && plugin)
    if (const int degree = plugin->polydegree(); degree > 0 && degree <= kMaxPluginDegree)
      return degree + 2;
  switch (type) {
  case trendtype::linearorigin:
  case trendtype::formula:
    return 2;
  case trendtype::linear:
  case trendtype::power:
  case trendtype::periodic:
  case trendtype::custom:
    return 3;
  case trendtype::quadratic:
  case trendtype::resonance:
    return 4;
  case trendtype::cubic:
  case trendtype::periodicdecay:
    return 5;
  }
  return 3;
}

std::string fewestpointsmessage(trendtype type, const PluginLibrary *plugin) {
  return "You need at least " + std::to_string(fewestpoints(type, plugin)) +
         " points in the dataset to fit " + trendtext(type, plugin);
}

int estimatecount(trendtype type, const PluginLibrary *plugin) {
  switch (type) {
  case trendtype::periodic:
    return 2;
  case trendtype::periodicdecay:
    return 4;
  case trendtype::custom:
    return plugin ? plugin->estimates() : 0;
  default:
    return 0;
  }
}

std::string autofitname(const std::string &datasetname, const std::string &itemtext) {
  if (datasetname.empty())
    return itemtext;
  return datasetname + " -- " + itemtext;
}

namespace {

std::unique_ptr<bfit> bare(trendtype type, const PluginLibrary *plugin) {
  switch (type) {
  case trendtype::linearorigin:
    return std::make_unique<lineronlym>();
  case trendtype::linear:
    return std::make_unique<polynom>(1);
  case trendtype::quadratic:
    return std::make_unique<polynom>(2);
  case trendtype::cubic:
    return std::make_unique<polynom>(3);
  case trendtype::power:
    return std::make_unique<powersq>(1);
  case trendtype::resonance:
    return std::make_unique<resonance>(2);
  case trendtype::periodic:
    return std::make_unique<periodic>(1);
  case trendtype::periodicdecay:
    return std::make_unique<periodicdecay>(3);
  case trendtype::custom:
    if (!plugin || plugin->name().empty())
      throw engine_error(kFailedFit, "There is no plug-in fit model");
    if (const int degree = plugin->polydegree(); degree != 0) {
      if (degree < 0 || degree > kMaxPluginDegree) {
        const std::string why = "The plug-in model \"" + plugin->name() +
                                "\" asks for a polynomial of degree " + std::to_string(degree) +
                                "; the degree is 1 to 9";
        logmessage(why);
        throw engine_error(kFailedFit, why);
      }
      return std::make_unique<polynom>(degree);
    }
    return std::make_unique<customfit>(*plugin);
  case trendtype::formula:
    throw engine_error(kFailedFit, "A formula fit is made from its text");
  }
  throw engine_error(kFailedFit, "Unknown trend type");
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
