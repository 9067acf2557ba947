// orvalle-fit --csv: one RFC 4180 record per fit under a header record.
#include <cmath>
#include <string_view>

#include "app/fitcli_output.h"
#include "app/fitcli_report.h"
#include "engine/chisquaretail.h"
#include "engine/numeric.h"

namespace orvalle::cli {

std::string csvfield(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string s = "\"";
  for (const char c : text) {
    if (c == '"')
      s += '"';
    s += c;
  }
  return s + '"';
}

std::string csvtext(const std::string &text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
    return "'" + text;
  return text;
}

std::string csvrecord(const std::vector<std::string> &fields) {
  std::string s;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i)
      s += ',';
    s += csvfield(fields[i]);
  }
  return s + "\r\n";
}

std::string csvnumber(double v) {
  if (std::isnan(v))
    return "";
  if (std::isinf(v))
    return v > 0 ? "inf" : "-inf";
  return shortesttext(v);
}

namespace {

// The columns after the parameters.
const char *const kTail[] = {"chisq", "dof", "reduced_chisq", "p_value", "verdict", "verdict_word"};
// The last columns, after uncertainty_scale when it is there.
const char *const kStatus[] = {"status", "reason"};

} // namespace

std::string csvheader(const std::vector<std::string> &labels, bool scaled) {
  std::vector<std::string> f = {"file", "dataset", "model"};
  for (const auto &l : labels) {
    f.push_back(l);
    f.push_back(l + "_uncertainty");
  }
  for (const char *t : kTail)
    f.emplace_back(t);
  if (scaled)
    f.emplace_back("uncertainty_scale");
  for (const char *t : kStatus)
    f.emplace_back(t);
  for (auto &field : f)
    field = csvtext(field);
  return csvrecord(f);
}

std::string csvverdictword(const bfit &fit, int verdict) {
  if (!fit.hasverdict())
    return "n/a";
  if (verdict == -1)
    return "small";
  if (verdict == -2)
    return "too small";
  return verdictwordof(verdict);
}

std::string csvfitrecord(const bfit &fit, const std::string &model, const fitnotes &notes,
                         std::size_t labels) {
  std::vector<std::string> f = {csvtext(notes.file), csvtext(fit.data ? fit.data->name : ""),
                                csvtext(model)};
  const std::size_t np = static_cast<std::size_t>(fit.order) + 1;
  for (std::size_t i = 0; i < labels; ++i) {
    f.push_back(i < np && i < static_cast<std::size_t>(bfit::kMaxParams) ? csvnumber(fit.par[i])
                                                                         : "");
    f.push_back(i < np && i < static_cast<std::size_t>(bfit::kMaxParams) ? csvnumber(fit.err[i])
                                                                         : "");
  }
  const double chisq = fit.chisq();
  const int dof = fit.dof();
  f.push_back(csvnumber(chisq));
  f.push_back(std::to_string(dof));
  const bool has = fit.hasverdict();
  f.push_back(has ? csvnumber(reducedchisq(chisq, dof)) : "n/a");
  f.push_back(has ? csvnumber(chisquaretail(chisq, dof)) : "n/a");
  const int verdict = has ? fit.verdictfor(chisq) : 0;
  f.push_back(has ? std::to_string(verdict) : "");
  f.push_back(csvverdictword(fit, verdict));
  if (notes.scaleasked)
    f.push_back(std::isfinite(notes.scale) ? csvnumber(notes.scale) : "n/a");
  f.emplace_back("fitted");
  f.emplace_back();
  return csvrecord(f);
}

std::string csvfailedrecord(const std::string &file, const std::string &model, std::size_t labels,
                            bool scaled, const std::string &status, const std::string &reason) {
  std::vector<std::string> f = {csvtext(file), "", csvtext(model)};
  const std::size_t empty = 2 * labels + std::size(kTail) + (scaled ? 1 : 0);
  f.insert(f.end(), empty, "");
  f.push_back(csvtext(status));
  f.push_back(csvtext(reason));
  return csvrecord(f);
}

} // namespace orvalle::cli
