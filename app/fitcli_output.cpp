#include "app/fitcli_output.h"

#include "app/fitcli_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/information.h"
#include "engine/numeric.h"
#include "engine/report.h"

namespace orvalle::cli {

std::string textreport(const std::vector<const bfit *> &fits) {
  std::string out;
  for (const auto &line : informationlines(fits, '.')) {
    out += line;
    out += '\n';
  }
  return out;
}

std::vector<std::string> parameterlabels(const bfit &fit) { return parameternames(fit); }

std::string jsonstring(const std::string &text, bool *replaced) {
  const nlohmann::json value = text;
  try {
    return value.dump();
  } catch (const nlohmann::json::type_error &) {
    // Not UTF-8: every stray byte becomes U+FFFD.
    if (replaced)
      *replaced = true;
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

std::string jsonreplaced(const std::vector<std::string> &keys) {
  if (keys.empty())
    return {};
  std::string s = std::string(", ") + jsonstring(kReplacedKey) + ": [";
  for (std::size_t i = 0; i < keys.size(); ++i)
    s += (i ? ", " : "") + jsonstring(keys[i]);
  return s + "]";
}

std::string jsonnumber(double v) { return std::isfinite(v) ? shortesttext(v) : "null"; }

std::string jsonfitkeys(const bfit &fit, const std::string &model,
                        std::vector<std::string> *replaced) {
  const bfit *f = &fit;
  // A text and whether its bytes were all UTF-8, noted under its key.
  auto text = [replaced](const std::string &value, const char *key) {
    bool bad = false;
    std::string literal = jsonstring(value, &bad);
    if (bad && replaced && std::find(replaced->begin(), replaced->end(), key) == replaced->end())
      replaced->emplace_back(key);
    return literal;
  };
  std::string s;
  s += "\"name\": " + text(f->name, "name");
  s += ", \"model\": " + text(model, "model");
  s += ", \"dataset\": " + (f->data ? text(f->data->name, "dataset") : std::string("null"));
  s += ",\n   \"parameters\": [";
  const auto labels = parameterlabels(*f);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    s += i ? ", " : "";
    s += "{\"label\": " + text(labels[i], "parameters") + ", \"value\": " + jsonnumber(f->par[i]) +
         ", \"uncertainty\": " + jsonnumber(f->err[i]) + "}";
  }
  const double chisq = f->chisq();
  s += "],\n   \"chisq\": " + jsonnumber(chisq);
  s += ", \"dof\": " + std::to_string(f->dof());
  const chilimitset l = bfit::chilimits(f->dof());
  const char *keys[4] = {"5%", "20%", "80%", "95%"};
  s += ", \"limits\": {";
  for (int i = 0; i < 4; ++i) {
    s += i ? ", " : "";
    // The limits are single-precision numbers; they are shown as such.
    const float v = l[static_cast<std::size_t>(i)];
    std::string text = "null";
    if (std::isfinite(v)) {
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, v);
      text.assign(buf, r.ptr);
    }
    s += jsonstring(keys[i]) + ": " + text;
  }
  s += "}";
  // The chi-square is a pass over the points: it is made once here.
  const bool has = f->hasverdict();
  const int verdict = has ? f->verdictfor(chisq) : 0;
  s += ",\n   \"verdict\": " + (has ? std::to_string(verdict) : "null");
  // The word under the CSV's name and with its values; the old key stays
  // with its own.
  s += ", \"verdictword\": " + jsonstring(has ? verdictwordof(verdict) : "");
  s += ", \"verdict_word\": " + jsonstring(csvverdictword(*f, verdict));
  s += ",\n   \"description\": [";
  stringlist lines;
  f->describe(lines, true);
  for (std::size_t i = 0; i < lines.size(); ++i)
    s += (i ? ", " : "") + text(lines[i], "description");
  s += "]";
  return s;
}

} // namespace orvalle::cli
