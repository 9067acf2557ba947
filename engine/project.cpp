// Project files: writing, reading and checking (see project.h).
#include "engine/project.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "engine/customfit.h"
#include "engine/formula.h"
#include "engine/formulafit.h"

namespace orvalle::project {

using ojson = nlohmann::ordered_json;
using json = nlohmann::json;

namespace {

// ---------------------------------------------------------------------------
// Names in the file.

const char *errorkey(errorkind k) {
  switch (k) {
  case errorkind::column:
    return "column";
  case errorkind::percentage:
    return "percentage";
  case errorkind::absolute:
    return "absolute";
  case errorkind::none:
    break;
  }
  return "none";
}

const char *bandkey(bandlevel b) {
  switch (b) {
  case bandlevel::onesigma:
    return "onesigma";
  case bandlevel::ninetyfive:
    return "ninetyfive";
  case bandlevel::none:
    break;
  }
  return "none";
}

const char *multikey(multikind k) {
  return k == multikind::sameintercept ? "sameintercept" : "samegradient";
}

// ---------------------------------------------------------------------------
// Writing.

// A double as a JSON number; a value with no number (NaN, infinite) as null.
ojson num(double v) { return std::isfinite(v) ? ojson(v) : ojson(nullptr); }

ojson numbers(const std::vector<double> &v) {
  ojson a = ojson::array();
  for (double x : v)
    a.push_back(num(x));
  return a;
}

ojson colourof(const rgb &c) { return ojson::array({c.r, c.g, c.b}); }

ojson errorsof(const errorsource &e) {
  ojson o = ojson::object();
  o["source"] = errorkey(e.kind);
  if (e.kind == errorkind::column)
    o["column"] = e.column;
  else if (e.kind != errorkind::none)
    o["value"] = num(e.value);
  return o;
}

ojson datasetof(const datasetrecord &d, bool tagged) {
  ojson o = ojson::object();
  o["name"] = d.name;
  if (tagged) {
    o["tag"] = d.tag;
    o["x"] = numbers(d.x);
    o["y"] = numbers(d.y);
    o["yerrors"] = numbers(d.yerr);
    if (!d.xerr.empty())
      o["xerrors"] = numbers(d.xerr);
  } else {
    o["xcolumn"] = d.xcolumn;
    o["ycolumn"] = d.ycolumn;
    o["yerrors"] = errorsof(d.yerrors);
    o["xerrors"] = errorsof(d.xerrors);
  }
  o["colour"] = colourof(d.colour);
  o["pointcolour"] = colourof(d.seriescolour);
  o["currentfit"] = d.currentfit >= 0 ? ojson(d.currentfit) : ojson(nullptr);
  return o;
}

ojson fitof(const fitrecord &f) {
  ojson o = ojson::object();
  o["type"] = typekey(f.type);
  o["name"] = f.name;
  o["dataset"] = f.dataset;
  if (f.type == trendtype::formula || f.type == trendtype::custom)
    o["model"] = f.model;
  o["start"] = numbers(std::vector<double>(f.start.begin(), f.start.end()));
  o["solver"] = f.gauss ? "gauss" : "cramer";
  o["colour"] = colourof(f.colour);
  if (f.multifit >= 0) {
    o["multifit"] = f.multifit;
    o["line"] = f.line;
  }
  return o;
}

ojson chartof(const chartrecord &c) {
  ojson o = ojson::object();
  o["title"] = c.title;
  o["xtitle"] = c.xtitle;
  o["ytitle"] = c.ytitle;
  o["limits"] = ojson::array({num(c.xlow), num(c.xhigh), num(c.ylow), num(c.yhigh)});
  o["logx"] = c.logx;
  o["logy"] = c.logy;
  o["legend"] = c.legend;
  o["xgrid"] = c.xgrid;
  o["ygrid"] = c.ygrid;
  o["band"] = bandkey(c.band);
  o["titlefont"] = c.titlefont;
  o["axistitlefont"] = c.axistitlefont;
  o["titlefontsize"] = c.titlefontsize;
  o["labelfontsize"] = c.labelfontsize;
  o["trackbar"] = c.trackbar;
  return o;
}

// ---------------------------------------------------------------------------
// Reading: every access names its place in the file.

[[noreturn]] void fail(const std::string &where, const std::string &what) {
  throw project_error(where + ": " + what);
}

std::string kindof(const json &j) {
  if (j.is_null())
    return "null";
  if (j.is_boolean())
    return "true or false";
  if (j.is_number())
    return "a number";
  if (j.is_string())
    return "a text";
  if (j.is_array())
    return "a list";
  return "an object";
}

const json &member(const json &o, const std::string &where, const char *key) {
  const auto it = o.find(key);
  if (it == o.end())
    fail(where, std::string("\"") + key + "\" is missing");
  return *it;
}

const json &object(const json &j, const std::string &where) {
  if (!j.is_object())
    fail(where, "should be an object, not " + kindof(j));
  return j;
}

const json &array(const json &j, const std::string &where, std::size_t most) {
  if (!j.is_array())
    fail(where, "should be a list, not " + kindof(j));
  if (j.size() > most)
    fail(where, "holds " + std::to_string(j.size()) + " entries, more than the " +
                    std::to_string(most) + " a project may have");
  return j;
}

std::string text(const json &j, const std::string &where) {
  if (!j.is_string())
    fail(where, "should be a text, not " + kindof(j));
  const auto &s = j.get_ref<const std::string &>();
  if (s.size() > kMaxText)
    fail(where, "is a text longer than " + std::to_string(kMaxText) + " characters");
  return s;
}

bool flag(const json &j, const std::string &where) {
  if (!j.is_boolean())
    fail(where, "should be true or false, not " + kindof(j));
  return j.get<bool>();
}

int integer(const json &j, const std::string &where, long long low, long long high) {
  if (!j.is_number_integer())
    fail(where, "should be a whole number, not " + kindof(j));
  const long long v = j.is_number_unsigned()
                          ? static_cast<long long>(std::min<std::uint64_t>(
                                j.get<std::uint64_t>(),
                                static_cast<std::uint64_t>(std::numeric_limits<long long>::max())))
                          : j.get<long long>();
  if (v < low || v > high)
    fail(where,
         std::to_string(v) + " is outside " + std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int>(v);
}

// A number; null reads as NaN where allowed.
double number(const json &j, const std::string &where, bool nullallowed = false) {
  if (j.is_null() && nullallowed)
    return std::numeric_limits<double>::quiet_NaN();
  if (!j.is_number())
    fail(where, "should be a number, not " + kindof(j));
  const double v = j.get<double>();
  if (!std::isfinite(v))
    fail(where, "is a number beyond the range of a double");
  return v;
}

std::string at(const std::string &where, std::size_t i) {
  return where + "[" + std::to_string(i) + "]";
}
std::string dot(const std::string &where, const char *key) { return where + "." + key; }

std::vector<double> numberlist(const json &j, const std::string &where, std::size_t &budget,
                               bool nullallowed) {
  array(j, where, kMaxValues);
  if (j.size() > budget)
    fail(where, "brings the numbers in the project above " + std::to_string(kMaxValues));
  budget -= j.size();
  std::vector<double> v;
  v.reserve(j.size());
  for (std::size_t i = 0; i < j.size(); ++i)
    v.push_back(number(j[i], at(where, i), nullallowed));
  return v;
}

rgb colourfrom(const json &j, const std::string &where) {
  array(j, where, 3);
  if (j.size() != 3)
    fail(where, "should be a list of three numbers (red, green, blue)");
  return {integer(j[0], at(where, 0), 0, 255), integer(j[1], at(where, 1), 0, 255),
          integer(j[2], at(where, 2), 0, 255)};
}

template <class T, std::size_t N>
T keyed(const json &j, const std::string &where, const std::pair<T, const char *> (&table)[N]) {
  const std::string key = text(j, where);
  std::string known;
  for (const auto &[value, name] : table) {
    if (key == name)
      return value;
    known += std::string(known.empty() ? "" : ", ") + name;
  }
  fail(where, "\"" + key + "\" is not one of " + known);
}

errorsource errorsfrom(const json &j, const std::string &where, std::size_t columns) {
  object(j, where);
  static constexpr std::pair<errorkind, const char *> kinds[] = {
      {errorkind::none, "none"},
      {errorkind::column, "column"},
      {errorkind::percentage, "percentage"},
      {errorkind::absolute, "absolute"}};
  errorsource e;
  e.kind = keyed(member(j, where, "source"), dot(where, "source"), kinds);
  if (e.kind == errorkind::column)
    e.column = integer(member(j, where, "column"), dot(where, "column"), 0,
                       static_cast<long long>(columns) - 1);
  else if (e.kind != errorkind::none)
    e.value = number(member(j, where, "value"), dot(where, "value"));
  return e;
}

struct reader {
  model m;
  std::size_t budget = kMaxValues;

  void source(const json &root) {
    const json &s = object(member(root, "project", "source"), "source");
    m.file = text(member(s, "source", "file"), "source.file");
    m.caption = text(member(s, "source", "caption"), "source.caption");
    static constexpr std::pair<bool, const char *> layouts[] = {{false, "columns"},
                                                                {true, "tagged"}};
    m.tagged = keyed(member(s, "source", "layout"), "source.layout", layouts);
  }

  void columns(const json &root) {
    if (m.tagged) {
      if (root.contains("columns") && !root["columns"].empty())
        fail("columns", "a project of a tagged file has no columns");
      return;
    }
    const json &c = array(member(root, "project", "columns"), "columns", kMaxColumns);
    for (std::size_t i = 0; i < c.size(); ++i) {
      m.columns.push_back(numberlist(c[i], at("columns", i), budget, true));
      if (m.columns.back().size() != m.columns.front().size())
        fail(at("columns", i), "has " + std::to_string(m.columns.back().size()) +
                                   " rows where the first column has " +
                                   std::to_string(m.columns.front().size()));
    }
  }

  void dataset(const json &j, std::size_t i, std::size_t fits) {
    const std::string where = at("datasets", i);
    object(j, where);
    datasetrecord d;
    d.name = text(member(j, where, "name"), dot(where, "name"));
    if (m.tagged) {
      d.tag = text(member(j, where, "tag"), dot(where, "tag"));
      d.x = numberlist(member(j, where, "x"), dot(where, "x"), budget, false);
      d.y = numberlist(member(j, where, "y"), dot(where, "y"), budget, false);
      d.yerr = numberlist(member(j, where, "yerrors"), dot(where, "yerrors"), budget, false);
      if (j.contains("xerrors"))
        d.xerr = numberlist(j["xerrors"], dot(where, "xerrors"), budget, false);
      if (d.y.size() != d.x.size() || d.yerr.size() != d.x.size() ||
          (!d.xerr.empty() && d.xerr.size() != d.x.size()))
        fail(where, "x, y and their errors should have as many numbers each");
    } else {
      const auto last = static_cast<long long>(m.columns.size()) - 1;
      d.xcolumn = integer(member(j, where, "xcolumn"), dot(where, "xcolumn"), 0, last);
      d.ycolumn = integer(member(j, where, "ycolumn"), dot(where, "ycolumn"), 0, last);
      d.yerrors = errorsfrom(member(j, where, "yerrors"), dot(where, "yerrors"), m.columns.size());
      if (d.yerrors.kind == errorkind::none)
        fail(dot(where, "yerrors"), "a dataset needs errors of y");
      d.xerrors = errorsfrom(member(j, where, "xerrors"), dot(where, "xerrors"), m.columns.size());
    }
    d.colour = colourfrom(member(j, where, "colour"), dot(where, "colour"));
    d.seriescolour = colourfrom(member(j, where, "pointcolour"), dot(where, "pointcolour"));
    const json &current = member(j, where, "currentfit");
    d.currentfit = current.is_null() ? -1
                                     : integer(current, dot(where, "currentfit"), 0,
                                               static_cast<long long>(fits) - 1);
    m.datasets.push_back(std::move(d));
  }

  void fit(const json &j, std::size_t i, std::size_t multis) {
    const std::string where = at("fits", i);
    object(j, where);
    fitrecord f;
    const std::string key = text(member(j, where, "type"), dot(where, "type"));
    if (!typefromkey(key, f.type))
      fail(dot(where, "type"), "\"" + key + "\" is not a trend type");
    f.name = text(member(j, where, "name"), dot(where, "name"));
    f.dataset = integer(member(j, where, "dataset"), dot(where, "dataset"), 0,
                        static_cast<long long>(m.datasets.size()) - 1);
    if (f.type == trendtype::formula || f.type == trendtype::custom)
      f.model = text(member(j, where, "model"), dot(where, "model"));
    const json &start = array(member(j, where, "start"), dot(where, "start"), 10);
    if (start.size() != 10)
      fail(dot(where, "start"), "should be a list of ten numbers");
    for (std::size_t k = 0; k < 10; ++k)
      f.start[k] = number(start[k], at(dot(where, "start"), k));
    static constexpr std::pair<bool, const char *> solvers[] = {{true, "gauss"}, {false, "cramer"}};
    f.gauss = keyed(member(j, where, "solver"), dot(where, "solver"), solvers);
    f.colour = colourfrom(member(j, where, "colour"), dot(where, "colour"));
    if (j.contains("multifit")) {
      f.multifit =
          integer(j["multifit"], dot(where, "multifit"), 0, static_cast<long long>(multis) - 1);
      f.line = integer(member(j, where, "line"), dot(where, "line"), 0,
                       static_cast<long long>(m.datasets.size()) - 1);
    }
    if (f.type == trendtype::formula) {
      try {
        formulafit check(f.model); // only read: a formula is never run here
      } catch (const std::exception &e) {
        fail(dot(where, "model"), e.what());
      }
    }
    m.fits.push_back(std::move(f));
  }

  void multifit(const json &j, std::size_t i) {
    const std::string where = at("multifits", i);
    object(j, where);
    static constexpr std::pair<multikind, const char *> kinds[] = {
        {multikind::sameintercept, "sameintercept"}, {multikind::samegradient, "samegradient"}};
    static constexpr std::pair<bool, const char *> solvers[] = {{true, "gauss"}, {false, "cramer"}};
    multirecord r;
    r.kind = keyed(member(j, where, "kind"), dot(where, "kind"), kinds);
    r.name = text(member(j, where, "name"), dot(where, "name"));
    r.gauss = keyed(member(j, where, "solver"), dot(where, "solver"), solvers);
    m.multifits.push_back(std::move(r));
  }

  void chart(const json &root) {
    const json &c = object(member(root, "project", "chart"), "chart");
    chartrecord &r = m.chart;
    r.title = text(member(c, "chart", "title"), "chart.title");
    r.xtitle = text(member(c, "chart", "xtitle"), "chart.xtitle");
    r.ytitle = text(member(c, "chart", "ytitle"), "chart.ytitle");
    const json &l = array(member(c, "chart", "limits"), "chart.limits", 4);
    if (l.size() != 4)
      fail("chart.limits", "should be a list of four numbers (x low, x high, y low, y high)");
    r.xlow = number(l[0], "chart.limits[0]");
    r.xhigh = number(l[1], "chart.limits[1]");
    r.ylow = number(l[2], "chart.limits[2]");
    r.yhigh = number(l[3], "chart.limits[3]");
    r.logx = flag(member(c, "chart", "logx"), "chart.logx");
    r.logy = flag(member(c, "chart", "logy"), "chart.logy");
    r.legend = flag(member(c, "chart", "legend"), "chart.legend");
    r.xgrid = flag(member(c, "chart", "xgrid"), "chart.xgrid");
    r.ygrid = flag(member(c, "chart", "ygrid"), "chart.ygrid");
    static constexpr std::pair<bandlevel, const char *> bands[] = {
        {bandlevel::none, "none"},
        {bandlevel::onesigma, "onesigma"},
        {bandlevel::ninetyfive, "ninetyfive"}};
    r.band = keyed(member(c, "chart", "band"), "chart.band", bands);
    r.titlefont = text(member(c, "chart", "titlefont"), "chart.titlefont");
    r.axistitlefont = text(member(c, "chart", "axistitlefont"), "chart.axistitlefont");
    r.titlefontsize = integer(member(c, "chart", "titlefontsize"), "chart.titlefontsize", 0, 200);
    r.labelfontsize = integer(member(c, "chart", "labelfontsize"), "chart.labelfontsize", 0, 200);
    r.trackbar = integer(member(c, "chart", "trackbar"), "chart.trackbar", 0,
                         std::max<long long>(0, static_cast<long long>(m.datasets.size()) - 1));
  }

  // The lines of each multi fit: consecutive in the list of fits, straight
  // lines, line j on tagged dataset j, in increasing order, at least one.
  void checkmultilines() const {
    std::vector<int> lastline(m.multifits.size(), -1);
    std::vector<std::size_t> lastfit(m.multifits.size(), 0);
    for (std::size_t i = 0; i < m.fits.size(); ++i) {
      const fitrecord &f = m.fits[i];
      if (f.multifit < 0)
        continue;
      const std::string where = at("fits", i);
      const auto g = static_cast<std::size_t>(f.multifit);
      if (!m.tagged || m.datasets.size() < 2)
        fail(where, "a multi fit needs two or more datasets of a tagged file");
      if (f.type != trendtype::linear)
        fail(dot(where, "type"), "a line of a multi fit is \"linear\"");
      if (f.line != f.dataset)
        fail(dot(where, "line"), "line " + std::to_string(f.line) +
                                     " of a multi fit fits dataset " + std::to_string(f.line) +
                                     ", not " + std::to_string(f.dataset));
      if (lastline[g] >= 0 && (f.line <= lastline[g] || lastfit[g] + 1 != i))
        fail(where, "the lines of a multi fit follow one another in the order of their datasets");
      lastline[g] = f.line;
      lastfit[g] = i;
    }
    for (std::size_t g = 0; g < m.multifits.size(); ++g)
      if (lastline[g] < 0)
        fail(at("multifits", g), "no fit is a line of this multi fit");
  }

  void all(const json &root) {
    source(root);
    columns(root);
    const json &ds = array(member(root, "project", "datasets"), "datasets", kMaxDatasets);
    const json &fs = array(member(root, "project", "fits"), "fits", kMaxFits);
    const json &ms = array(member(root, "project", "multifits"), "multifits", kMaxFits);
    if (m.tagged && ds.empty())
      fail("datasets", "a project of a tagged file has at least one dataset");
    for (std::size_t i = 0; i < ds.size(); ++i)
      dataset(ds[i], i, fs.size());
    for (std::size_t i = 0; i < ms.size(); ++i)
      multifit(ms[i], i);
    for (std::size_t i = 0; i < fs.size(); ++i)
      fit(fs[i], i, ms.size());
    checkmultilines();
    chart(root);
  }
};

void checkheader(const json &root) {
  if (!root.is_object())
    fail("project", "the file should hold one JSON object, not " + kindof(root));
  const auto format = root.find("format");
  if (format == root.end() || !format->is_string() ||
      format->get_ref<const std::string &>() != kFormatName)
    fail("format", std::string("this is not an Orvalle project (\"format\" should be \"") +
                       kFormatName + "\")");
  const json &version = member(root, "project", "version");
  if (!version.is_number_integer())
    fail("version", "should be a whole number, not " + kindof(version));
  if (version.is_number_unsigned() ? version.get<std::uint64_t>() > kVersion
                                   : version.get<long long>() > kVersion)
    fail("version", "the file was written by a newer Orvalle (project version " + version.dump() +
                        "; this one reads version " + std::to_string(kVersion) + " and older)");
  if (!version.is_number_unsigned() && version.get<long long>() < 1)
    fail("version", version.dump() + " is not a project version");
}

// Nesting deeper than any project has is refused before the text is
// parsed, so a hostile file cannot run the reader out of stack. (The
// parser's callback could count it too, but takes time that grows with the
// square of a list's length.)
void checkdepth(std::string_view text) {
  int depth = 0;
  bool instring = false, escaped = false;
  for (const char c : text) {
    if (instring) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        instring = false;
    } else if (c == '"') {
      instring = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth)
        fail("project", "lists and objects are nested deeper than a project's");
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

} // namespace

std::string typekey(trendtype type) { return trendrowof(type).projectkey; }

bool typefromkey(std::string_view key, trendtype &type) {
  for (const auto &r : trendrows())
    if (key == r.projectkey) {
      type = r.type;
      return true;
    }
  return false;
}

std::string write(const model &m) {
  ojson root = ojson::object();
  root["format"] = kFormatName;
  root["version"] = kVersion;
  root["source"] = {
      {"file", m.file}, {"caption", m.caption}, {"layout", m.tagged ? "tagged" : "columns"}};
  ojson columns = ojson::array();
  for (const auto &c : m.columns)
    columns.push_back(numbers(c));
  root["columns"] = std::move(columns);
  ojson datasets = ojson::array();
  for (const auto &d : m.datasets)
    datasets.push_back(datasetof(d, m.tagged));
  root["datasets"] = std::move(datasets);
  ojson multis = ojson::array();
  for (const auto &r : m.multifits)
    multis.push_back(
        {{"kind", multikey(r.kind)}, {"name", r.name}, {"solver", r.gauss ? "gauss" : "cramer"}});
  root["multifits"] = std::move(multis);
  ojson fits = ojson::array();
  for (const auto &f : m.fits)
    fits.push_back(fitof(f));
  root["fits"] = std::move(fits);
  root["chart"] = chartof(m.chart);
  // Texts are written as UTF-8; bytes that are not are replaced, never
  // refused, so that a save always succeeds.
  return root.dump(2, ' ', false, ojson::error_handler_t::replace) + "\n";
}

model read(std::string_view text) {
  if (text.size() > kMaxFileBytes)
    fail("project", "the file is larger than a project may be");
  json root;
  try {
    checkdepth(text);
    root = json::parse(text.begin(), text.end(), nullptr, true, false);
  } catch (const json::parse_error &e) {
    std::string what = e.what();
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    const auto p = what.find("] ");
    fail("project", "the file is not complete, well-formed JSON (" +
                        (p == std::string::npos ? what : what.substr(p + 2)) + ")");
  } catch (const json::exception &e) {
    std::string what = e.what();
    const auto p = what.find("] ");
    fail("project", "the file cannot be read as JSON (" +
                        (p == std::string::npos ? what : what.substr(p + 2)) + ")");
  }
  checkheader(root);
  reader r;
  r.all(root);
  return std::move(r.m);
}

model readfile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw project_error("project: the file cannot be opened");
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxFileBytes)
    throw project_error("project: the file is larger than a project may be");
  in.seekg(0);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), size))
    throw project_error("project: the file cannot be read");
  return read(text);
}

bool isproject(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF"))
    head.remove_prefix(3);
  const auto first = head.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || head[first] != '{')
    return false;
  // "format" is written first; a hand-edited file may move it, so any
  // "format": "orvalle-project" in the head counts.
  const auto key = head.find("\"format\"");
  if (key == std::string_view::npos)
    return false;
  const auto colon = head.find_first_not_of(" \t\r\n", key + 8);
  if (colon == std::string_view::npos || head[colon] != ':')
    return false;
  const auto value = head.find_first_not_of(" \t\r\n", colon + 1);
  return value != std::string_view::npos &&
         head.substr(value).starts_with(std::string("\"") + kFormatName + "\"");
}

bool fileisproject(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return isproject(head);
}

rowref percentagerow(const drow &basis, double percent) {
  auto r = std::make_shared<drow>(basis.n);
  for (int k = 0; k < r->n; ++k)
    (*r)[k] = basis[k] * percent * 0.01;
  return r;
}

rowref absoluterow(int n, double value) {
  auto r = std::make_shared<drow>(n);
  for (int k = 0; k < r->n; ++k)
    (*r)[k] = value;
  return r;
}

namespace {

rowref rowfrom(const std::vector<double> &v) {
  auto r = std::make_shared<drow>(static_cast<int>(v.size()));
  for (std::size_t k = 0; k < v.size(); ++k)
    (*r)[static_cast<int>(k)] = v[k];
  return r;
}

void requireabovezero(const drow &r, const std::string &where, const char *what) {
  for (int k = 0; k < r.n; ++k)
    if (!(r[k] > 0))
      fail(where,
           std::string(what) + " " + std::to_string(k + 1) + " is not above zero; errors must be");
}

rowref columnrow(const model &m, int c, std::vector<rowref> &cache, const std::string &where) {
  const auto ci = static_cast<std::size_t>(c);
  if (cache.size() < m.columns.size())
    cache.resize(m.columns.size());
  if (!cache[ci]) {
    const auto &v = m.columns[ci];
    for (std::size_t k = 0; k < v.size(); ++k)
      if (!std::isfinite(v[k]))
        fail(where,
             "column " + std::to_string(c) + " has an empty cell in row " + std::to_string(k + 1));
    cache[ci] = rowfrom(v);
  }
  return cache[ci];
}

rowref errorsrow(const model &m, const errorsource &e, const drow &basis,
                 std::vector<rowref> &cache, const std::string &where) {
  switch (e.kind) {
  case errorkind::column:
    return columnrow(m, e.column, cache, where);
  case errorkind::percentage:
    return percentagerow(basis, e.value);
  case errorkind::absolute:
    return absoluterow(basis.n, e.value);
  case errorkind::none:
    break;
  }
  return nullptr;
}

} // namespace

datasetrows rowsof(const model &m, std::size_t i, std::vector<rowref> &columncache) {
  const datasetrecord &d = m.datasets.at(i);
  const std::string where = at("datasets", i);
  datasetrows r;
  if (m.tagged) {
    r.x = rowfrom(d.x);
    r.y = rowfrom(d.y);
    r.yerr = rowfrom(d.yerr);
    if (!d.xerr.empty())
      r.xerr = rowfrom(d.xerr);
  } else {
    r.x = columnrow(m, d.xcolumn, columncache, where);
    r.y = columnrow(m, d.ycolumn, columncache, where);
    r.yerr = errorsrow(m, d.yerrors, *r.y, columncache, where);
    r.xerr = errorsrow(m, d.xerrors, *r.x, columncache, where);
  }
  requireabovezero(*r.yerr, where, "the error of y of point");
  if (r.xerr)
    requireabovezero(*r.xerr, where, "the error of x of point");
  return r;
}

std::unique_ptr<bfit> makefitof(const fitrecord &f, const PluginLibrary *plugin) {
  std::unique_ptr<bfit> fit;
  if (f.type == trendtype::formula) {
    fit = makeformulafit(f.model, {});
  } else {
    if (f.type == trendtype::custom) {
      const std::string have = plugin ? plugin->name() : std::string();
      if (have.empty())
        throw engine_error(kFailedFit, "The fit \"" + f.name + "\" uses the plug-in model \"" +
                                           f.model + "\", and no plug-in model is loaded");
      if (have != f.model)
        throw engine_error(kFailedFit, "The fit \"" + f.name + "\" uses the plug-in model \"" +
                                           f.model + "\", and the plug-in loaded is \"" + have +
                                           "\"");
    }
    fit = makefit(f.type, plugin);
  }
  for (std::size_t k = 0; k < f.start.size(); ++k)
    fit->par[k] = f.start[k];
  return fit;
}

} // namespace orvalle::project
