// Sample plug-in that stands for a polynomial of degree 4: the program fits
// its own polynomial when customispoly() is not 0, so the model operations
// below are only there to complete the contract.
#include <string>

#include "engine/plugin_abi.h"
#include "plugins/plugin_text.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::string pending;
void *loghandle = nullptr;
orvalle_post_fn logpost = nullptr;
constexpr int kDegree = 4;
} // namespace

EXPORT int orvalle_plugin_abi(void) { return ORVALLE_PLUGIN_ABI_VERSION; }

EXPORT const char *customfitname(void) { return "Quartic y=ax^4+bx^3+cx^2+dx+e"; }

EXPORT int customestimates(void) { return 0; }

EXPORT int customispoly(void) { return kDegree; }

EXPORT const char *messageis(void) { return pending.c_str(); }

EXPORT void setloghangle(void *handle, orvalle_post_fn post) {
  loghandle = handle;
  logpost = post;
}

EXPORT double customfit_value(const orvalle_params *p, double x) {
  double y = 0.0;
  for (int i = 0; i <= kDegree; ++i)
    y = y * x + p->par[i];
  return y;
}

EXPORT int customfit_fit(orvalle_params *, const orvalle_points *, int) {
  try {
    pending = "The quartic plug-in is fitted as a polynomial by the program";
  } catch (...) {
  }
  if (logpost)
    logpost(loghandle, ORVALLE_LOG_PLUGIN, 1);
  return 1;
}

EXPORT void customfit_describe(const orvalle_params *p, const orvalle_verdict *v, int,
                               orvalle_line_fn line, void *ctx) {
  try {
    line(ctx, "Fit of the form y=ax^4+bx^3+cx^2+dx+e with ");
    if (v && v->warning && v->warning[0])
      line(ctx, v->warning);
    for (int i = 0; i <= kDegree; ++i) {
      const auto [value, error] = plugintext::pair(p->par[i], p->err[i], v ? v->separator : '.');
      const std::string text =
          std::string(1, static_cast<char>('a' + i)) + " = " + value + " +/- " + error;
      line(ctx, text.c_str());
    }
  } catch (...) {
  }
}

EXPORT void customfit_formula(const orvalle_params *p, int index, orvalle_line_fn line, void *ctx) {
  try {
    std::string text("y");
    text += std::to_string(index);
    text += "(x) = ";
    for (int i = 0; i <= kDegree; ++i) {
      if (i > 0)
        text += " + ";
      text += plugintext::general(p->par[i], 8);
      text += " *x**";
      text += std::to_string(kDegree - i);
    }
    line(ctx, text.c_str());
  } catch (...) {
  }
}
