// The plug-in fit model: the bound function table of a plug-in library and
// the fit class whose four operations the library implements.
//
// The engine loads nothing by itself: the program binds the library with
// QLibrary (bindplugin with a resolve function), the batch command with
// loadpluginfile. The contract is engine/plugin_abi.h.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/bfit.h"
#include "engine/plugin_abi.h"

namespace orvalle {

struct PluginLibrary {
  customfitname_fn customfitname = nullptr;
  customestimates_fn customestimates = nullptr;
  customispoly_fn customispoly = nullptr;
  messageis_fn messageis = nullptr;
  setloghangle_fn setloghangle = nullptr;
  customfit_value_fn customfit_value = nullptr;
  customfit_fit_fn customfit_fit = nullptr;
  customfit_describe_fn customfit_describe = nullptr;
  customfit_formula_fn customfit_formula = nullptr;
  // Keeps a library opened by loadpluginfile loaded while any copy of the
  // table lives; empty when the caller keeps the library itself (QLibrary).
  std::shared_ptr<void> keepalive;

  // The model's name; empty means no plug-in model.
  std::string name() const;
  // How many estimate boxes to show: customestimates() clamped to 0..5.
  int estimates() const;
  // customispoly(): 0 for the plug-in's own model, otherwise the degree of
  // the polynomial to fit. polynom accepts only 1 to 10 and refuses others.
  int polydegree() const;
  // The pending log text (empty when none).
  std::string message() const;
};

// What is wrong with the library's description of its model, or empty when
// nothing is: a name that is not one line of UTF-8 text of at most
// kPluginNameBytes bytes, an estimate count outside 0 to 5, a degree
// outside 0 to 9. A library without a model name ("") has nothing to check.
std::string pluginfault(const PluginLibrary &lib);
inline constexpr std::size_t kPluginNameBytes = 200;

// Binds the plug-in functions through resolve(symbol). Returns the table,
// or nothing with the reason in *whyNot (when given) if a function is
// missing, the library reports another contract version or its model's
// description breaks the contract (pluginfault).
std::optional<PluginLibrary> bindplugin(const std::function<void *(const char *symbol)> &resolve,
                                        std::string *whyNot);

// How long the trial of a plug-in library may take.
inline constexpr int kPluginTrialMs = 5000;

// Tries the library at path in a child process before the program trusts
// it: the child opens it, binds it (so the library's own start-up code,
// its contract version, name, estimate count and degree are asked for) and
// registers and unregisters a log link. A library that crashes, ends the
// process or hangs there (beyond timeoutms) ends only the child. Returns
// true when the library answered and keeps the contract; otherwise false
// with the reason in *whyNot. When no child process can be made the
// library cannot be tried and true is returned.
bool tryplugin(const std::string &path, std::string *whyNot, int timeoutms = kPluginTrialMs);

// Opens the library at path (which must be absolute; nothing is searched
// for in the current folder) with dlopen and binds it, after tryplugin has
// found it sound.
std::optional<PluginLibrary> loadpluginfile(const std::string &path, std::string *whyNot);

// The plug-in's own model: order 1 (dof is the number of points minus 2).
// Construction raises engine_error when the table lacks a model operation.
class customfit : public bfit {
public:
  explicit customfit(PluginLibrary library);

  double value(double x) const override;
  // Raises engine_error(kFailedFit) when the library reports failure, or
  // returns a parameter or uncertainty (of all ORVALLE_MAX_PARAMS) that is
  // not finite, a negative uncertainty, or a model whose value at a point
  // of the dataset is not finite; the reason, naming the model, is logged
  // first. par stays as it was then.
  void fit(bool gauss) override;
  // The lines the library writes, each made one line of valid UTF-8
  // (control characters become blanks), at most kPluginLines of them.
  void describe(stringlist &lines, bool clear) const override;
  // Raises engine_error(kFailedFit) when the library's definition is not
  // one line that begins with formulahead(index).
  std::string formula(int index) const override;

  const PluginLibrary &library() const { return lib_; }

  static constexpr std::size_t kPluginLines = 100;

private:
  // "The plug-in model \"<name>\"" for the reasons of a failure.
  std::string who() const;
  [[noreturn]] void failwith(const std::string &why) const;

  PluginLibrary lib_;
};

} // namespace orvalle
