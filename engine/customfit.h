// The plug-in fit model: the bound function table of a plug-in library and
// the fit class whose four operations the library implements.
//
// The engine loads nothing by itself: the program binds the library with
// QLibrary (bindplugin with a resolve function), the batch command with
// loadpluginfile. The contract is engine/plugin_abi.h.
#pragma once

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

// Binds the plug-in functions through resolve(symbol). Returns the table,
// or nothing with the reason in *whyNot (when given) if a function is
// missing or the library reports another contract version.
std::optional<PluginLibrary> bindplugin(const std::function<void *(const char *symbol)> &resolve,
                                        std::string *whyNot);

// Opens the library at path (which must be absolute; nothing is searched
// for in the current folder) with dlopen and binds it.
std::optional<PluginLibrary> loadpluginfile(const std::string &path, std::string *whyNot);

// The plug-in's own model: order 1 (dof is the number of points minus 2).
// Construction raises engine_error when the table lacks a model operation.
class customfit : public bfit {
public:
  explicit customfit(PluginLibrary library);

  double value(double x) const override;
  // Raises engine_error(kFailedFit) when the library reports failure or
  // returns parameters that are not finite; par stays as it was then.
  void fit(bool gauss) override;
  void describe(stringlist &lines, bool clear) const override;
  std::string formula(int index) const override;

  const PluginLibrary &library() const { return lib_; }

private:
  PluginLibrary lib_;
};

} // namespace orvalle
