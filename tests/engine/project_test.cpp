// Project files: numbers come back bit for bit, every field survives, and
// damaged or hostile files are refused with a message that says what and
// where.
#include <gmpxx.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "engine/bfit.h"
#include "engine/project.h"

namespace orvalle::project {
namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

model columnProject() {
  model m;
  m.file = "/home/student/lab \"3\".txt";
  m.caption = "lab 3";
  m.columns = {{1, 2, 3, 4}, {2.5, 4.25, 6.5, 8.125}, {0.1, 0.2, 0.1, 0.3}};
  datasetrecord d;
  d.name = "Dataset \"A\"\nsecond line\t\\";
  d.xcolumn = 0;
  d.ycolumn = 1;
  d.yerrors = {errorkind::percentage, -1, 3.3};
  d.xerrors = {errorkind::column, 2, 0};
  d.colour = {255, 0, 0};
  d.seriescolour = {0, 128, 7};
  d.currentfit = 1;
  m.datasets.push_back(d);
  d.name = "B";
  d.yerrors = {errorkind::column, 2, 0};
  d.xerrors = {errorkind::absolute, -1, 0.0625};
  d.currentfit = -1;
  m.datasets.push_back(d);
  fitrecord f;
  f.type = trendtype::formula;
  f.model = "A*exp(-x/tau)";
  f.name = "decay";
  f.dataset = 0;
  f.start = {2, 0.1, 1, 1, 1, 1, 1, 1, 1, 1};
  f.gauss = false;
  f.colour = {1, 2, 3};
  m.fits.push_back(f);
  f.type = trendtype::quadratic;
  f.model.clear();
  f.name = "q";
  f.dataset = 1;
  f.gauss = true;
  m.fits.push_back(f);
  m.chart.title = "Title";
  m.chart.xtitle = "t / s";
  m.chart.ytitle = "U / V";
  m.chart.xlow = 0.5;
  m.chart.xhigh = 4.5;
  m.chart.ylow = 1e-3;
  m.chart.yhigh = 10;
  m.chart.logy = true;
  m.chart.legend = true;
  m.chart.ygrid = false;
  m.chart.band = bandlevel::ninetyfive;
  m.chart.titlefont = "Liberation Sans,14,-1,5,700,0,0,0,0,0";
  m.chart.titlefontsize = 14;
  m.chart.labelfontsize = 9;
  m.chart.trackbar = 1;
  return m;
}

model taggedProject() {
  model m;
  m.tagged = true;
  m.file = "t.txt";
  for (int i = 0; i < 3; ++i) {
    datasetrecord d;
    d.name = std::string("Dataset ") + static_cast<char>('a' + i);
    d.tag = std::string(1, static_cast<char>('a' + i));
    d.x = {1, 2, 3, 4};
    d.y = {1.0 + i, 2.0 + i, 3.5 + i, 4.0 + i};
    d.yerr = {0.1, 0.1, 0.2, 0.1};
    m.datasets.push_back(d);
  }
  m.multifits.push_back({multikind::sameintercept, "M", true});
  for (int i : {0, 2}) {
    fitrecord f;
    f.type = trendtype::linear;
    f.name = "M-Dataset";
    f.dataset = i;
    f.multifit = 0;
    f.line = i;
    f.start.fill(1.0);
    m.fits.push_back(f);
  }
  return m;
}

TEST(ProjectFile, DoublesReadBackBitForBit) {
  // Random bit patterns over the whole range of finite doubles, and the
  // awkward ones: signed zero, subnormals, the extremes, the classic
  // shortest-form traps.
  std::mt19937_64 gen(20261211);
  std::vector<double> values = {0.0,
                                -0.0,
                                std::numeric_limits<double>::denorm_min(),
                                -std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::max(),
                                -std::numeric_limits<double>::max(),
                                0.1,
                                0.30000000000000004,
                                5e-324,
                                9007199254740993.0,
                                1.7976931348623157e308,
                                2.2250738585072009e-308,
                                123456789012345680.0};
  while (values.size() < 20000) {
    const double v = std::bit_cast<double>(gen());
    if (std::isfinite(v))
      values.push_back(v);
  }
  model m;
  m.columns = {values};
  const model back = read(write(m));
  ASSERT_EQ(back.columns.size(), 1u);
  ASSERT_EQ(back.columns[0].size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(bits(back.columns[0][i]), bits(values[i])) << "value " << i << " " << values[i];
}

TEST(ProjectFile, EveryFieldSurvives) {
  for (const model &m : {columnProject(), taggedProject()}) {
    const std::string text = write(m);
    const model b = read(text);
    EXPECT_EQ(b.file, m.file);
    EXPECT_EQ(b.caption, m.caption);
    EXPECT_EQ(b.tagged, m.tagged);
    EXPECT_EQ(b.columns, m.columns);
    ASSERT_EQ(b.datasets.size(), m.datasets.size());
    for (std::size_t i = 0; i < m.datasets.size(); ++i) {
      const auto &x = m.datasets[i], &y = b.datasets[i];
      EXPECT_EQ(y.name, x.name);
      EXPECT_EQ(y.tag, x.tag);
      EXPECT_EQ(y.xcolumn, x.xcolumn);
      EXPECT_EQ(y.ycolumn, x.ycolumn);
      EXPECT_EQ(y.yerrors, x.yerrors);
      EXPECT_EQ(y.xerrors, x.xerrors);
      EXPECT_EQ(y.x, x.x);
      EXPECT_EQ(y.y, x.y);
      EXPECT_EQ(y.yerr, x.yerr);
      EXPECT_EQ(y.colour, x.colour);
      EXPECT_EQ(y.seriescolour, x.seriescolour);
      EXPECT_EQ(y.currentfit, x.currentfit);
    }
    ASSERT_EQ(b.fits.size(), m.fits.size());
    for (std::size_t i = 0; i < m.fits.size(); ++i) {
      const auto &x = m.fits[i], &y = b.fits[i];
      EXPECT_EQ(y.type, x.type);
      EXPECT_EQ(y.model, x.model);
      EXPECT_EQ(y.name, x.name);
      EXPECT_EQ(y.dataset, x.dataset);
      EXPECT_EQ(y.start, x.start);
      EXPECT_EQ(y.gauss, x.gauss);
      EXPECT_EQ(y.colour, x.colour);
      EXPECT_EQ(y.multifit, x.multifit);
      EXPECT_EQ(y.line, x.line);
    }
    ASSERT_EQ(b.multifits.size(), m.multifits.size());
    for (std::size_t i = 0; i < m.multifits.size(); ++i) {
      EXPECT_EQ(b.multifits[i].kind, m.multifits[i].kind);
      EXPECT_EQ(b.multifits[i].name, m.multifits[i].name);
    }
    const auto &c = m.chart, &d = b.chart;
    EXPECT_EQ(d.title, c.title);
    EXPECT_EQ(d.xtitle, c.xtitle);
    EXPECT_EQ(d.ytitle, c.ytitle);
    EXPECT_EQ(bits(d.xlow), bits(c.xlow));
    EXPECT_EQ(bits(d.yhigh), bits(c.yhigh));
    EXPECT_EQ(d.logx, c.logx);
    EXPECT_EQ(d.logy, c.logy);
    EXPECT_EQ(d.legend, c.legend);
    EXPECT_EQ(d.xgrid, c.xgrid);
    EXPECT_EQ(d.ygrid, c.ygrid);
    EXPECT_EQ(d.band, c.band);
    EXPECT_EQ(d.titlefont, c.titlefont);
    EXPECT_EQ(d.titlefontsize, c.titlefontsize);
    EXPECT_EQ(d.labelfontsize, c.labelfontsize);
    EXPECT_EQ(d.trackbar, c.trackbar);
    // Written again, the text is the same: nothing drifts over saves.
    EXPECT_EQ(write(b), text);
  }
}

TEST(ProjectFile, EmptyCellsAreNullAndStayEmpty) {
  model m;
  m.columns = {{1, std::nan(""), 3}};
  const std::string text = write(m);
  EXPECT_NE(text.find("null"), std::string::npos);
  const model b = read(text);
  EXPECT_TRUE(std::isnan(b.columns[0][1]));
  std::vector<rowref> cache;
  m.datasets.push_back({});
  m.datasets[0].xcolumn = m.datasets[0].ycolumn = 0;
  m.datasets[0].yerrors = {errorkind::absolute, -1, 1};
  try {
    rowsof(m, 0, cache);
    FAIL() << "a column with an empty cell made a dataset";
  } catch (const project_error &e) {
    EXPECT_NE(std::string(e.what()).find("empty cell in row 2"), std::string::npos) << e.what();
  }
}

TEST(ProjectFile, RowsAreMadeAsThePlotterMakesThem) {
  model m = columnProject();
  std::vector<rowref> cache;
  const datasetrows a = rowsof(m, 0, cache);
  const datasetrows b = rowsof(m, 1, cache);
  // One column, one row in memory, as the plotter shares it.
  EXPECT_EQ(a.x.get(), b.x.get());
  EXPECT_EQ(a.xerr.get(), b.yerr.get());
  // 3.3 % of y: the product y * 3.3 * 0.01 in that order, each step the
  // double nearest the exact product (checked with exact rationals).
  const auto nearest = [](double a, double b, double got) {
    const mpq_class exact = mpq_class(a) * mpq_class(b);
    const mpq_class off = abs(exact - mpq_class(got));
    for (double n : {std::nextafter(got, -INFINITY), std::nextafter(got, INFINITY)})
      if (abs(exact - mpq_class(n)) < off)
        return false;
    return true;
  };
  for (int k = 0; k < a.y->n; ++k) {
    const double step = (*a.y)[k] * 3.3;
    EXPECT_TRUE(nearest((*a.y)[k], 3.3, step));
    EXPECT_TRUE(nearest(step, 0.01, (*a.yerr)[k])) << k;
  }
  for (int k = 0; k < b.xerr->n; ++k)
    EXPECT_EQ((*b.xerr)[k], 0.0625);
  // Errors not above zero are refused, named by point.
  m.datasets[1].xerrors = {errorkind::absolute, -1, 0.0};
  try {
    rowsof(m, 1, cache);
    FAIL();
  } catch (const project_error &e) {
    EXPECT_EQ(std::string(e.what()).rfind("datasets[1]: the error of x of point 1", 0), 0u)
        << e.what();
  }
}

// Damaged and hostile texts: each is refused, and the message names the
// place and what is wrong with it.
struct badcase {
  const char *what;
  std::string text;
  const char *message; // a part of the message
};

std::string replaced(std::string text, const std::string &from, const std::string &to) {
  const auto p = text.find(from);
  if (p == std::string::npos)
    throw std::logic_error("no " + from);
  return text.replace(p, from.size(), to);
}

std::string manyFits(std::size_t n) {
  std::string s = R"({"format":"orvalle-project","version":1,)"
                  R"("source":{"file":"","caption":"","layout":"columns"},"columns":[],)"
                  R"("datasets":[],"multifits":[],"fits":[)";
  for (std::size_t i = 0; i < n; ++i)
    s += i ? ",{}" : "{}";
  return s + "]}";
}

TEST(ProjectFile, DamagedAndHostileFilesAreRefusedWithTheirPlace) {
  const std::string good = write(columnProject());
  const std::string tagged = write(taggedProject());
  const std::vector<badcase> cases = {
      {"empty", "", "not complete, well-formed JSON"},
      {"truncated", good.substr(0, good.size() / 2), "not complete, well-formed JSON"},
      {"cut at the end", good.substr(0, good.size() - 3), "not complete"},
      {"not an object", "[1,2,3]", "one JSON object"},
      {"another format", R"({"format":"veusz","version":1})", "not an Orvalle project"},
      {"newer version", replaced(good, "\"version\": 1", "\"version\": 2"),
       "written by a newer Orvalle (project version 2"},
      {"huge version", replaced(good, "\"version\": 1", "\"version\": 18446744073709551615"),
       "newer Orvalle"},
      {"version text", replaced(good, "\"version\": 1", "\"version\": \"1\""),
       "version: should be a whole number, not a text"},
      {"fit type unknown", replaced(good, "\"type\": \"quadratic\"", "\"type\": \"quartic\""),
       "fits[1].type: \"quartic\" is not a trend type"},
      {"fit type number", replaced(good, "\"type\": \"quadratic\"", "\"type\": 2"),
       "fits[1].type: should be a text, not a number"},
      {"formula that does not parse", replaced(good, "A*exp(-x/tau)", "A*exp(-x/tau"),
       "fits[0].model: "},
      {"dataset out of range", replaced(good, "\"dataset\": 1", "\"dataset\": 7"),
       "fits[1].dataset: 7 is outside 0 to 1"},
      {"column out of range", replaced(good, "\"ycolumn\": 1", "\"ycolumn\": 3"),
       "datasets[0].ycolumn: 3 is outside 0 to 2"},
      {"colour out of range", replaced(good, "255,", "256,"), "datasets[0].colour[0]"},
      {"missing name", replaced(good, "\"name\": \"q\",", ""), "fits[1]: \"name\" is missing"},
      {"number beyond double", replaced(good, "8.125", "1e999"), "number overflow"},
      {"text for a number", replaced(good, "8.125", "\"8.125\""),
       "columns[1][3]: should be a number, not a text"},
      {"ragged columns", replaced(good, "8.125", "8.125, 9"), "columns[1]: has 5 rows"},
      {"start too short", replaced(good, "\"start\": [\n        2.0,", "\"start\": ["),
       "fits[0].start: should be a list of ten numbers"},
      {"a million fits", manyFits(1000000), "fits: holds 1000000 entries, more than the 1000"},
      {"deep nesting", std::string(100000, '[') + std::string(100000, ']'),
       "nested deeper than a project's"},
      {"multi line on the wrong dataset", replaced(tagged, "\"line\": 2", "\"line\": 1"),
       "fits[1].line"},
      {"multi fit without lines",
       replaced(tagged, "\"multifits\": [",
                "\"multifits\": [{\"kind\":\"samegradient\","
                "\"name\":\"x\",\"solver\":\"gauss\"},"),
       "multifits[1]: no fit is a line"},
  };
  for (const badcase &c : cases) {
    try {
      read(c.text);
      ADD_FAILURE() << c.what << ": read without complaint";
    } catch (const project_error &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

TEST(ProjectFile, RecognisedByContent) {
  EXPECT_TRUE(isproject(write(columnProject())));
  EXPECT_TRUE(isproject("\xEF\xBB\xBF  {\n \"version\": 1, \"format\" : \"orvalle-project\""));
  EXPECT_FALSE(isproject("1 2 0.1\n2 4 0.1\n"));
  EXPECT_FALSE(isproject("{\"format\": \"other\"}"));
  EXPECT_FALSE(isproject("x {\"format\": \"orvalle-project\"}"));
  EXPECT_FALSE(isproject(""));
}

TEST(ProjectFile, FitsAreMadeFromTheirDescription) {
  model m = columnProject();
  auto f = makefitof(m.fits[0], nullptr);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->par[0], 2.0);
  EXPECT_EQ(f->par[1], 0.1);
  EXPECT_EQ(f->order, 1); // two parameters: A and tau
  fitrecord plugin;
  plugin.type = trendtype::custom;
  plugin.model = "Exponential decay";
  EXPECT_THROW(makefitof(plugin, nullptr), engine_error);
}

} // namespace
} // namespace orvalle::project
