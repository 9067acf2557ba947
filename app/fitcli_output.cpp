#include "app/fitcli_output.h"

#include "app/fitcli_texts.h"

#include <charconv>
#include <cmath>

#include "engine/customfit.h"
#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/information.h"
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

std::string jsonstring(const std::string &text) {
  std::string s = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
    case '"':
      s += "\\\"";
      break;
    case '\\':
      s += "\\\\";
      break;
    case '\n':
      s += "\\n";
      break;
    case '\r':
      s += "\\r";
      break;
    case '\t':
      s += "\\t";
      break;
    case '\b':
      s += "\\b";
      break;
    case '\f':
      s += "\\f";
      break;
    default:
      if (c < 0x20) {
        static const char hex[] = "0123456789abcdef";
        s += "\\u00";
        s += hex[c >> 4];
        s += hex[c & 15];
      } else {
        s += ch; // UTF-8 passes as it is
      }
    }
  }
  s += '"';
  return s;
}

std::string jsonnumber(double v) {
  if (!std::isfinite(v))
    return "null";
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
  return std::string(buf, r.ptr);
}

std::string jsonfitkeys(const bfit &fit, const std::string &model) {
  const bfit *f = &fit;
  std::string s;
  s += "\"name\": " + jsonstring(f->name);
  s += ", \"model\": " + jsonstring(model);
  s += ", \"dataset\": " + (f->data ? jsonstring(f->data->name) : std::string("null"));
  s += ",\n   \"parameters\": [";
  const auto labels = parameterlabels(*f);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    s += i ? ", " : "";
    s += "{\"label\": " + jsonstring(labels[i]) + ", \"value\": " + jsonnumber(f->par[i]) +
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
  s += ", \"verdictword\": " + jsonstring(has ? verdictwordof(verdict) : "");
  s += ",\n   \"description\": [";
  stringlist lines;
  f->describe(lines, true);
  for (std::size_t i = 0; i < lines.size(); ++i)
    s += (i ? ", " : "") + jsonstring(lines[i]);
  s += "]";
  return s;
}

std::string jsonreport(const std::vector<const bfit *> &fits, const std::string &model) {
  std::string s = kJsonOpening;
  bool firstfit = true;
  for (const bfit *f : fits) {
    if (!f)
      continue;
    s += firstfit ? "\n  {" : ",\n  {";
    firstfit = false;
    s += jsonfitkeys(*f, model) + "}";
  }
  s += firstfit ? "]}\n" : "\n]}\n";
  return s;
}

} // namespace orvalle::cli
