#include "engine/customfit.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>

namespace orvalle {

// ------------------------------------------------------------ PluginLibrary

std::string PluginLibrary::name() const {
  const char *s = customfitname ? customfitname() : nullptr;
  return s ? std::string(s) : std::string();
}

int PluginLibrary::estimates() const {
  return customestimates ? std::clamp(customestimates(), 0, 5) : 0;
}

int PluginLibrary::polydegree() const { return customispoly ? customispoly() : 0; }

std::string PluginLibrary::message() const {
  const char *s = messageis ? messageis() : nullptr;
  return s ? std::string(s) : std::string();
}

namespace {

template <class Fn>
bool bindone(const std::function<void *(const char *)> &resolve, const char *symbol, Fn &slot,
             std::string *whyNot) {
  void *p = resolve(symbol);
  if (!p) {
    if (whyNot)
      *whyNot = std::string("The plug-in library lacks the function ") + symbol;
    return false;
  }
  slot = reinterpret_cast<Fn>(p);
  return true;
}

} // namespace

std::optional<PluginLibrary> bindplugin(const std::function<void *(const char *symbol)> &resolve,
                                        std::string *whyNot) {
  if (!resolve) {
    if (whyNot)
      *whyNot = "No plug-in library";
    return std::nullopt;
  }
  if (void *abi = resolve("orvalle_plugin_abi")) {
    const int version = reinterpret_cast<orvalle_plugin_abi_fn>(abi)();
    if (version != ORVALLE_PLUGIN_ABI_VERSION) {
      if (whyNot)
        *whyNot = "The plug-in library was built for contract version " + std::to_string(version) +
                  ", not " + std::to_string(ORVALLE_PLUGIN_ABI_VERSION);
      return std::nullopt;
    }
  }
  PluginLibrary lib;
  if (!bindone(resolve, "customfitname", lib.customfitname, whyNot) ||
      !bindone(resolve, "customestimates", lib.customestimates, whyNot) ||
      !bindone(resolve, "customispoly", lib.customispoly, whyNot) ||
      !bindone(resolve, "messageis", lib.messageis, whyNot) ||
      !bindone(resolve, "setloghangle", lib.setloghangle, whyNot) ||
      !bindone(resolve, "customfit_value", lib.customfit_value, whyNot) ||
      !bindone(resolve, "customfit_fit", lib.customfit_fit, whyNot) ||
      !bindone(resolve, "customfit_describe", lib.customfit_describe, whyNot) ||
      !bindone(resolve, "customfit_formula", lib.customfit_formula, whyNot))
    return std::nullopt;
  return lib;
}

std::optional<PluginLibrary> loadpluginfile(const std::string &path, std::string *whyNot) {
  if (path.empty() || path.front() != '/') {
    if (whyNot)
      *whyNot = "The plug-in library path is not absolute: \"" + path + "\"";
    return std::nullopt;
  }
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (whyNot) {
      const char *e = dlerror();
      *whyNot = e ? e : "The plug-in library could not be opened";
    }
    return std::nullopt;
  }
  std::shared_ptr<void> keep(handle, [](void *h) { dlclose(h); });
  auto lib = bindplugin([&](const char *symbol) { return dlsym(handle, symbol); }, whyNot);
  if (lib)
    lib->keepalive = std::move(keep);
  return lib;
}

// ---------------------------------------------------------------- customfit

namespace {

orvalle_params paramsof(const double *par, const double *err) {
  orvalle_params p{};
  std::copy(par, par + ORVALLE_MAX_PARAMS, p.par);
  std::copy(err, err + ORVALLE_MAX_PARAMS, p.err);
  return p;
}

// Collects the lines a plug-in writes; nothing may escape into its C code.
void appendline(void *ctx, const char *utf8) noexcept {
  try {
    static_cast<stringlist *>(ctx)->emplace_back(utf8 ? utf8 : "");
  } catch (...) {
  }
}

void keepfirst(void *ctx, const char *utf8) noexcept {
  try {
    auto *s = static_cast<std::string *>(ctx);
    if (s->empty() && utf8)
      *s = utf8;
  } catch (...) {
  }
}

} // namespace

customfit::customfit(PluginLibrary library) : lib_(std::move(library)) {
  if (!lib_.customfit_value || !lib_.customfit_fit || !lib_.customfit_describe ||
      !lib_.customfit_formula)
    throw engine_error(kFailedFit, "The plug-in library has no fit model");
  order = 1;
}

double customfit::value(double x) const {
  const orvalle_params p = paramsof(par, err);
  return lib_.customfit_value(&p, x);
}

void customfit::fit(bool gauss) {
  if (!data || !data->w || !data->x || !data->y || !data->yerr)
    throw engine_error(kFailedFit, "The fit has no weighted dataset");
  const int n = data->w->n;
  if (data->x->n != n || data->y->n != n || data->yerr->n != n)
    throw engine_error(kRowLengths, "The dataset's rows differ in length");
  const orvalle_points pts{data->x->data.data(), data->y->data.data(), data->yerr->data.data(),
                           data->w->data.data(), n};
  orvalle_params p = paramsof(par, err);
  if (lib_.customfit_fit(&p, &pts, gauss ? 1 : 0) != 0)
    throw engine_error(kFailedFit, "The plug-in fit failed");
  const int np = static_cast<int>(order) + 1;
  for (int k = 0; k < np; ++k)
    if (!std::isfinite(p.par[k]) || !std::isfinite(p.err[k]))
      throw engine_error(kFailedFit, "The plug-in fit gave a value that is not a number");
  for (int k = 0; k < np; ++k)
    if (p.err[k] < 0.0)
      throw engine_error(kFailedFit, "The plug-in fit gave a negative uncertainty");
  std::copy(p.par, p.par + ORVALLE_MAX_PARAMS, par);
  std::copy(p.err, p.err + ORVALLE_MAX_PARAMS, err);
}

void customfit::describe(stringlist &lines, bool clear) const {
  if (clear)
    lines.clear();
  const orvalle_params p = paramsof(par, err);
  const bool has = hasverdict();
  const int v = has ? verdict() : 0;
  const orvalle_verdict info{chisq(),           dof(), has ? 1 : 0, v, verdictwarning(v).c_str(),
                             decimalseparator()};
  const std::size_t start = lines.size();
  lib_.customfit_describe(&p, &info, clear ? 1 : 0, appendline, &lines);
  // How the x errors were used, after the plug-in's caption as for every
  // other model: the plug-in cannot know.
  if (!xerrmethod.empty()) {
    const std::string line = "x errors included (" + xerrmethod + ")";
    if (lines.size() > start)
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(start) + 1, line);
    else
      lines.push_back(line);
  }
}

std::string customfit::formula(int index) const {
  const orvalle_params p = paramsof(par, err);
  std::string text;
  lib_.customfit_formula(&p, index, keepfirst, &text);
  return text;
}

} // namespace orvalle
