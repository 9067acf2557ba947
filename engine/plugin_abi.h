/* The contract between Orvalle and a plug-in fit model library
 * (libcustomfit.so). Plain C, so any compiler can build a plug-in; a plug-in
 * includes this header only and links nothing of the program.
 *
 * A plug-in exports these functions with C linkage:
 *
 *   const char *customfitname(void);
 *       The model's name, shown as the last trend type; "" means no model.
 *       One line of UTF-8 text, at most 200 bytes.
 *   int customestimates(void);
 *       How many starting estimates (par[0] ...) the model needs, 0 to 5.
 *   int customispoly(void);
 *       0 for a model of its own; otherwise the degree (1 to 10) of a
 *       polynomial the program fits instead.
 *   const char *messageis(void);
 *       The plug-in's pending log text (UTF-8). The pointer stays valid
 *       until the plug-in's next message.
 *   void setloghangle(void *handle, orvalle_post_fn post);
 *       Registers the log link. To log, the plug-in stores its text and
 *       calls post(handle, ORVALLE_LOG_PLUGIN (333), 1); the receiver
 *       fetches the text with messageis(). post may be NULL (no log).
 *
 * and the four operations of a model of its own:
 *
 *   double customfit_value(const orvalle_params *p, double x);
 *       The model at x with p->par.
 *   int customfit_fit(orvalle_params *p, const orvalle_points *pts, int gauss);
 *       Fits the model: on entry p->par[0..4] hold the user's estimates; on
 *       success it sets p->par and p->err and returns 0. On failure it
 *       logs why (through the log link) and returns non-zero; the program
 *       then discards p and raises its own fit failure. gauss is the user's
 *       linear solver choice (non-zero: Gaussian elimination).
 *   void customfit_describe(const orvalle_params *p, const orvalle_verdict *v,
 *                           int clear, orvalle_line_fn line, void *ctx);
 *       Writes the description lines, one call of line(ctx, text) each:
 *       a caption, then v->warning when it is not empty, then one line per
 *       parameter. When clear is non-zero the program has already emptied
 *       the list; the flag is passed for information.
 *   void customfit_formula(const orvalle_params *p, int index,
 *                          orvalle_line_fn line, void *ctx);
 *       Calls line(ctx, text) once with the gnuplot definition, which
 *       begins "y<index>(x) = ". Numbers in it use '.' as the separator.
 *
 * Optionally it exports int orvalle_plugin_abi(void), returning
 * ORVALLE_PLUGIN_ABI_VERSION; a library that reports another version is
 * refused.
 *
 * The program calls every function on its one user-interface thread. No
 * function may let a C++ exception escape.
 *
 * Before the program binds a library it tries it in a child process: the
 * library is loaded there and asked for its contract version, name,
 * estimates and degree, and its log link is set and cleared. A library that
 * crashes, ends that process or takes more than a few seconds there is not
 * used, and the program says why. So these first calls may happen twice,
 * in two processes. A library whose answers break the contract (a name
 * that is not one line of UTF-8, estimates outside 0 to 5, a degree outside
 * 0 to 9) is not used either. After a fit every parameter and uncertainty
 * (all ORVALLE_MAX_PARAMS of them) must be finite, the uncertainties not
 * negative, and the model finite at every point of the dataset; otherwise
 * the fit fails with the reason in the log.
 */
#ifndef ORVALLE_PLUGIN_ABI_H
#define ORVALLE_PLUGIN_ABI_H

#ifdef __cplusplus
extern "C" {
#endif

#define ORVALLE_PLUGIN_ABI_VERSION 1
#define ORVALLE_MAX_PARAMS 10
/* The log-line request a plug-in sends through its post callback. */
#define ORVALLE_LOG_PLUGIN 333

/* The points of the dataset being fitted; n of each. yerr may hold zeros,
 * whose weights are 0 (such points take no part in the fit). */
typedef struct orvalle_points {
  const double *x;
  const double *y;
  const double *yerr;
  const double *w; /* w[i] = 1 / yerr[i]^2, or 0 for a zero error */
  int n;
} orvalle_points;

/* Parameter values and their uncertainties, index 0 first. */
typedef struct orvalle_params {
  double par[ORVALLE_MAX_PARAMS];
  double err[ORVALLE_MAX_PARAMS];
} orvalle_params;

/* What the program knows about the finished fit, for the description. */
typedef struct orvalle_verdict {
  double chisq;
  int dof;
  int hasverdict;      /* 0 when dof <= 0: no verdict, no warning */
  int verdict;         /* -2 .. 2, 0 when there is no verdict */
  const char *warning; /* the program's warning line for the verdict, or "" */
  char separator;      /* the decimal separator of shown numbers */
} orvalle_verdict;

typedef void (*orvalle_post_fn)(void *handle, int wparam, int lparam);
typedef void (*orvalle_line_fn)(void *ctx, const char *utf8);

typedef const char *(*customfitname_fn)(void);
typedef int (*customestimates_fn)(void);
typedef int (*customispoly_fn)(void);
typedef const char *(*messageis_fn)(void);
typedef void (*setloghangle_fn)(void *handle, orvalle_post_fn post);
typedef double (*customfit_value_fn)(const orvalle_params *p, double x);
typedef int (*customfit_fit_fn)(orvalle_params *p, const orvalle_points *pts, int gauss);
typedef void (*customfit_describe_fn)(const orvalle_params *p, const orvalle_verdict *v, int clear,
                                      orvalle_line_fn line, void *ctx);
typedef void (*customfit_formula_fn)(const orvalle_params *p, int index, orvalle_line_fn line,
                                     void *ctx);
typedef int (*orvalle_plugin_abi_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVALLE_PLUGIN_ABI_H */
