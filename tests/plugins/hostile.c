/* Test fixture: a plug-in library that breaks the contract of
 * engine/plugin_abi.h in one way, chosen when it is compiled (one of the
 * HOSTILE_ macros, see tests/CMakeLists.txt). Without one it is a sound
 * straight line y = A + B x fitted by weighted least squares. */
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "engine/plugin_abi.h"

#define EXPORT __attribute__((visibility("default")))

static void *loghandle;
static orvalle_post_fn logpost;

__attribute__((unused)) static void crash(void) { raise(SIGSEGV); }

#ifdef HOSTILE_CRASHLOAD
__attribute__((constructor)) static void atload(void) { crash(); }
#endif

EXPORT int orvalle_plugin_abi(void) { return ORVALLE_PLUGIN_ABI_VERSION; }

EXPORT const char *customfitname(void) {
#if defined(HOSTILE_CRASHNAME)
  crash();
#elif defined(HOSTILE_HANGNAME)
  for (;;)
    sleep(1);
#elif defined(HOSTILE_EXITNAME)
  _exit(3);
#elif defined(HOSTILE_BADNAME)
  return "Straight line\nrm -rf ~";
#elif defined(HOSTILE_NOTUTF8)
  return "Straight \xff\xfe line";
#endif
  return "Hostile straight line y=A+B*x";
}

EXPORT int customestimates(void) {
#if defined(HOSTILE_BADESTIMATES)
  return 7;
#elif defined(HOSTILE_THREEESTIMATES)
  return 3;
#else
  return 2;
#endif
}

EXPORT int customispoly(void) {
#if defined(HOSTILE_BADDEGREE)
  return -3;
#else
  return 0;
#endif
}

EXPORT const char *messageis(void) { return "the hostile plug-in speaks"; }

EXPORT void setloghangle(void *handle, orvalle_post_fn post) {
#if defined(HOSTILE_CRASHLOG)
  if (handle)
    crash();
#endif
  loghandle = handle;
  logpost = post;
}

EXPORT double customfit_value(const orvalle_params *p, double x) {
#if defined(HOSTILE_NANVALUE)
  if (x > 2.5)
    return NAN;
#endif
  return p->par[0] + p->par[1] * x;
}

EXPORT int customfit_fit(orvalle_params *p, const orvalle_points *pts, int gauss) {
  (void)gauss;
  double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < pts->n; ++i) {
    const double w = pts->w[i], x = pts->x[i], y = pts->y[i];
    s += w;
    sx += w * x;
    sy += w * y;
    sxx += w * x * x;
    sxy += w * x * y;
  }
  const double det = s * sxx - sx * sx;
#if defined(HOSTILE_FAILSILENT)
  return 5;
#endif
  if (det == 0)
    return 1;
  p->par[0] = (sxx * sy - sx * sxy) / det;
  p->par[1] = (s * sxy - sx * sy) / det;
  p->err[0] = sqrt(sxx / det);
  p->err[1] = sqrt(s / det);
#if defined(HOSTILE_NANFIT)
  p->par[1] = NAN;
#elif defined(HOSTILE_INFERR)
  p->err[0] = INFINITY;
#elif defined(HOSTILE_THREEESTIMATES)
  p->par[2] = NAN; /* a third parameter it claims and never fits */
  p->err[2] = NAN;
#endif
  return 0;
}

EXPORT void customfit_describe(const orvalle_params *p, const orvalle_verdict *v, int clear,
                               orvalle_line_fn line, void *ctx) {
  (void)p;
  (void)v;
  (void)clear;
  line(ctx, "Fit of the form y=A+B*x");
#if defined(HOSTILE_BADFORMULA)
  line(ctx, "two\nlines \xff");
#endif
}

EXPORT void customfit_formula(const orvalle_params *p, int index, orvalle_line_fn line, void *ctx) {
  (void)p;
  (void)index;
#if defined(HOSTILE_BADFORMULA)
  line(ctx, "y1(x) = 1\n!rm -rf ~");
#else
  char text[64];
  static const char digits[] = "0123456789";
  int k = 0;
  text[k++] = 'y';
  if (index >= 10)
    text[k++] = digits[(index / 10) % 10];
  text[k++] = digits[index % 10];
  const char *rest = "(x) = a+b*x";
  while (*rest)
    text[k++] = *rest++;
  text[k] = '\0';
  line(ctx, text);
#endif
}
