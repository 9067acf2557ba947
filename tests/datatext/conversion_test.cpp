// The data text conversion (datatext/conversion.cpp): the line list of a
// text (conversion_lines.cpp), the number syntax and the column grid
// (conversion_number.cpp), and both layouts converted into a grid or
// datasets. Reading odd files safely is in reading_test.cpp.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "datatext/conversion.h"
#include "tests/datatext/commalocale.h"

using namespace orvalle;

namespace {

const std::string kFile = "/home/u/run3.txt";
const std::string kData = ORVALLE_TEST_DATA;

ConversionOutcome convert(const std::vector<std::string> &lines, const std::string &file = kFile) {
  return ConvertToChart(textlines::fromLines(lines), file);
}

// Grid cells as text, row by row from row 1, "." for an empty cell.
std::string cells(const numericgrid &g) {
  std::string out;
  for (int r = 1; r < g.rowcount(); ++r) {
    if (r > 1)
      out += '|';
    for (int c = 0; c < g.colcount(); ++c) {
      if (c)
        out += ' ';
      out += g.has(c, r) ? g.text(c, r) : ".";
    }
  }
  return out;
}

std::string rows(const dataset &d) {
  std::string out = d.name + ":";
  for (int i = 0; i < d.pointcount; ++i)
    out += " " + generaltext((*d.x)[i], 15) + "," + generaltext((*d.y)[i], 15) + "," +
           generaltext((*d.yerr)[i], 15);
  return out;
}

} // namespace

// ---------------------------------------------------------------- line list

TEST(Textlines, LineBreaks) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r\nb\r", {"a", "", "b"}},
      {"\n\n", {"", ""}},
      {"a\r\n\nb", {"a", "", "b"}},
      {"x\ty \n", {"x\ty "}},
  };
  for (const auto &c : cases) {
    const textlines t = textlines::fromBytes(c.bytes);
    ASSERT_EQ(t.size(), c.lines.size()) << c.bytes;
    for (std::size_t i = 0; i < t.size(); ++i)
      EXPECT_EQ(t[i], c.lines[i]) << c.bytes << " line " << i;
  }
}

TEST(Textlines, Latin1BytesBecomeUtf8) {
  // "Temp 25\xb0C" in Latin-1: the degree sign is not valid UTF-8.
  const textlines t = textlines::fromBytes("Temp 25\xb0"
                                           "C\n\xe9t\xe9");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0], "Temp 25\xc2\xb0"
                  "C");
  EXPECT_EQ(t[1], "\xc3\xa9t\xc3\xa9");
  // Valid UTF-8 stays as it is.
  const textlines u = textlines::fromBytes("\xc3\xa9t\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(u[0], "\xc3\xa9t\xc3\xa9 \xe2\x82\xac");
  // An overlong form and a lone continuation byte are not UTF-8.
  EXPECT_EQ(textlines::fromBytes("\xc0\xaf")[0], "\xc3\x80\xc2\xaf");
  EXPECT_EQ(textlines::fromBytes("a\x80")[0], "a\xc2\x80");
}

TEST(Textlines, JoinedWritesEveryLineWithItsBreak) {
  const textlines t = textlines::fromLines({"1 2", "", "3 4"});
  EXPECT_EQ(t.joined("\r\n"), "1 2\r\n\r\n3 4\r\n");
  EXPECT_EQ(textlines::fromBytes(t.joined("\r\n")).size(), 3u);
}

TEST(Textlines, FixtureFiles) {
  const textlines cr = readtextfile(kData + "/conversion/cr_only.txt");
  ASSERT_EQ(cr.size(), 4u);
  EXPECT_EQ(cr[0], "# written on a machine that ends lines with CR");
  EXPECT_EQ(cr[3], "3 6.2 0.3");
  const auto crr = ConvertToChart(cr, "cr_only.txt");
  ASSERT_TRUE(crr.ok()) << crr.error;
  EXPECT_EQ(cells(crr.result->grid), "1 2.1 0.1|2 3.9 0.2|3 6.2 0.3");

  const textlines crlf = readtextfile(kData + "/conversion/crlf.txt");
  ASSERT_EQ(crlf.size(), 4u);
  EXPECT_EQ(crlf[1], "1 2 0.1 a");
  const auto crlfr = ConvertToChart(crlf, "crlf.txt");
  ASSERT_TRUE(crlfr.ok()) << crlfr.error;
  ASSERT_EQ(crlfr.result->datasets.size(), 1u);
  EXPECT_EQ(rows(*crlfr.result->datasets[0]), "Dataset a: 1,2,0.1 2,4,0.1 3,5,0.2");

  const textlines latin = readtextfile(kData + "/conversion/latin1.txt");
  ASSERT_EQ(latin.size(), 3u);
  EXPECT_EQ(latin[0], "# Temperatur in \xc2\xb0"
                      "C, gemessen von J\xc3\xbcrgen");
  const auto lr = ConvertToChart(latin, "latin1.txt");
  ASSERT_TRUE(lr.ok()) << lr.error;
  EXPECT_EQ(cells(lr.result->grid), "20 1.5|25 1.75");

  EXPECT_THROW(readtextfile(kData + "/conversion/no such file.txt"), std::system_error);
  EXPECT_THROW(readtextfile(kData + "/conversion"), std::system_error); // a folder
}

// -------------------------------------------------------------- number syntax

TEST(Parsenumber, Syntax) {
  struct Case {
    const char *text;
    bool ok;
    double value;
  } cases[] = {
      {"0", true, 0},
      {"12", true, 12},
      {"-12", true, -12},
      {"+12", true, 12},
      {"1.5", true, 1.5},
      {".5", true, 0.5},
      {"5.", true, 5},
      {"-.25", true, -0.25},
      {"1e3", true, 1000},
      {"1E-3", true, 0.001},
      {"2.5e+2", true, 250},
      {" 7\t", true, 7},
      {"0.1", true, 0.1},
      {"123456.789", true, 123456.789},
      {"1e-400", true, 0},
      {"-1e-400", true, 0},
      {"4.9e-324", true, 4.9e-324},
      {"1.7976931348623157e308", true, 1.7976931348623157e308},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {".", false, 0},
      {"1e", false, 0},
      {"1e+", false, 0},
      {"e5", false, 0},
      {"inf", false, 0},
      {"-inf", false, 0},
      {"nan", false, 0},
      {"infinity", false, 0},
      {"0x1A", false, 0},
      {"0x1p3", false, 0},
      {"1,5", false, 0},
      {"1.5a", false, 0},
      {"--1", false, 0},
      {"+-1", false, 0},
      {"1 2", false, 0},
      {"1e999", false, 0},
      {"-1e400", false, 0},
      {"1..2", false, 0},
      {"1.2.3", false, 0},
  };
  for (const auto &c : cases) {
    double v = -99;
    EXPECT_EQ(parsenumber(c.text, v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(v, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(Parsenumber, AgreesWithTheStandardConversion) {
  // The fast path for short decimals must round exactly as strtod does.
  const char *texts[] = {"0.1",
                         "0.3",
                         "123.456789",
                         "-98765.4321",
                         "1e22",
                         "1e-22",
                         "9.999999e-5",
                         "5e-324",
                         "123456789012345",
                         "0.000123456789012345",
                         "3.14159265358979",
                         "2.2250738585072014e-308",
                         "123456789012345678901234567890",
                         "1.00000000000000000001",
                         "0.1000000000000000055511151231257827"};
  for (const char *t : texts) {
    double v;
    ASSERT_TRUE(parsenumber(t, v)) << t;
    EXPECT_EQ(v, std::strtod(t, nullptr)) << t;
  }
}

TEST(Numericgrid, CellsAreRoundedThroughTheirText) {
  numericgrid g;
  EXPECT_EQ(g.colcount(), 1);
  EXPECT_EQ(g.rowcount(), 2);
  EXPECT_FALSE(g.has(0, 1));
  EXPECT_TRUE(std::isnan(g.value(0, 1)));
  EXPECT_EQ(g.text(0, 1), "");
  EXPECT_FALSE(g.has(5, 5));

  g.set(2, 4, 1.0 / 3.0);
  EXPECT_EQ(g.colcount(), 3);
  EXPECT_EQ(g.rowcount(), 5);
  EXPECT_EQ(g.text(2, 4), "0.333333333333333");
  double back;
  ASSERT_TRUE(parsenumber(g.text(2, 4), back));
  EXPECT_EQ(g.value(2, 4), back);
  EXPECT_FALSE(g.has(2, 3));
  g.grow(1, 1); // never shrinks
  EXPECT_EQ(g.colcount(), 3);
  EXPECT_EQ(g.rowcount(), 5);
}

// ----------------------------------------------------------------- conversion

struct ConversionCase {
  const char *name;
  std::vector<std::string> lines;
  std::string file;
  // Either the failure text, or the grid cells / the datasets.
  std::string error;
  std::string grid = {};
  std::vector<std::string> datasets = {};
  int cols = 0, rowcount = 0;
};

void PrintTo(const ConversionCase &c, std::ostream *os) { *os << c.name; }

class ConversionTable : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTable, Converts) {
  const auto &c = GetParam();
  const auto out = convert(c.lines, c.file);
  if (!c.error.empty()) {
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(out.error, c.error);
    return;
  }
  ASSERT_TRUE(out.ok()) << out.error;
  const ConversionResult &r = *out.result;
  EXPECT_EQ(r.filename, c.file);
  if (!c.datasets.empty()) {
    EXPECT_EQ(r.layout, textlayout::tagged);
    ASSERT_EQ(r.datasets.size(), c.datasets.size());
    for (std::size_t i = 0; i < c.datasets.size(); ++i) {
      const dataset &d = *r.datasets[i];
      EXPECT_EQ(rows(d), c.datasets[i]);
      EXPECT_EQ(d.filledcount, d.pointcount);
      EXPECT_EQ(d.x->n, d.pointcount);
      EXPECT_TRUE(d.dcolour.has_value());
      EXPECT_EQ(d.currentfit(), nullptr);
    }
  } else {
    EXPECT_EQ(r.layout, textlayout::column);
    EXPECT_TRUE(r.datasets.empty());
    EXPECT_EQ(cells(r.grid), c.grid);
    if (c.cols) {
      EXPECT_EQ(r.grid.colcount(), c.cols);
    }
    if (c.rowcount) {
      EXPECT_EQ(r.grid.rowcount(), c.rowcount);
    }
    for (int col = 0; col < r.grid.colcount(); ++col)
      EXPECT_FALSE(r.grid.has(col, 0)) << "the header row stays empty";
  }
}

const std::string F = kFile;
const std::string kNoData = "No data found to create chart " + F;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionTable,
    ::testing::Values(
        // No data.
        ConversionCase{"NoLines", {}, F, kNoData},
        ConversionCase{"NoLinesNoFile", {}, "", "No data found to create chart "},
        ConversionCase{"OnlyBlankAndComments", {"", "# a", "", "#b"}, F, kNoData},
        ConversionCase{"BlanksFirst", {"# x y", "   \t", "1 2"}, F, kNoData},

        // Column layout.
        ConversionCase{"TwoRows", {"1 2 3", "4 5 6"}, F, "", "1 2 3|4 5 6", {}, 3, 3},
        ConversionCase{"TabsAndRuns", {"1\t\t2  3", "  4 \t5\t6  "}, F, "", "1 2 3|4 5 6"},
        ConversionCase{"CommentBetween", {"1 2", "# note", "", "3 4"}, F, "", "1 2|3 4"},
        ConversionCase{"CommentsBefore", {"# x y", "", "1 2", "3 4"}, F, "", "1 2|3 4", {}, 2, 3},
        ConversionCase{"BlanksThenHashIsComment", {"1 2", "   # later", "3 4"}, F, "", "1 2|3 4"},
        ConversionCase{"BlankOnlyLineIsPassedOver", {"1 2", " \t ", "3 4"}, F, "", "1 2|3 4"},
        ConversionCase{"NoSeparatorKeepsItsRow", {"1 2", "7", "3 4"}, F, "", "1 2|. .|3 4"},
        ConversionCase{"TrailingSeparatorFillsTheRow", {"1 2", "7 ", "3 4"}, F, "", "1 2|7 .|3 4"},
        ConversionCase{"OnlySingleNumbers", {"1", "2", "3"}, F, "", ".", {}, 1, 2},
        ConversionCase{"RaggedRows",
                       {"1", "1 2 3", "4 5", "6 7 8 9"},
                       F,
                       "",
                       ". . . .|1 2 3 .|4 5 . .|6 7 8 9",
                       {},
                       4,
                       5},
        ConversionCase{"FifteenDigits",
                       {"0.1 1e-5 123456789012345678", "-2.5E3 1e20 .5"},
                       F,
                       "",
                       "0.1 1E-5 1.23456789012346E17|-2500 1E20 0.5"},
        ConversionCase{"LaterLinesMayBeginWithPlus", {"1 2", "+3 +4"}, F, "", "1 2|3 4"},
        ConversionCase{"FirstLineEndingInPoint", {"1 2.", "3 4"}, F, "", "1 2|3 4"},
        ConversionCase{"FirstLineEndingInMinus",
                       {"1 -", "3 4"},
                       F,
                       "Unable to Convert to Chart error on row 1, column 2"},
        ConversionCase{"BadFieldRow",
                       {"1 2", "3 x"},
                       F,
                       "Unable to Convert to Chart error on row 2, column 2"},
        ConversionCase{"BadFieldRowAfterComments",
                       {"# a", "# b", "1 2", "3 4", "5 6,5"},
                       F,
                       "Unable to Convert to Chart error on row 3, column 2"},
        ConversionCase{"BadFieldRowCountsSeparatorlessLines",
                       {"1 2", "9", "inf 4"},
                       F,
                       "Unable to Convert to Chart error on row 3, column 1"},
        ConversionCase{"FirstColumnLineBeginsWithPlus",
                       {"# c", "+1 2"},
                       F,
                       "Error Unable to Convert line 2  - " + F},
        ConversionCase{"FirstColumnLineBeginsWithLetter",
                       {"", "x 2"},
                       F,
                       "Error Unable to Convert line 2  - " + F},

        // Tagged layout.
        ConversionCase{"TwoDatasets",
                       {"1 2 0.1 a", "2 4 0.1 a", "3 5 0.2 b", "4 7 0.2 b"},
                       F,
                       "",
                       "",
                       {"Dataset a: 1,2,0.1 2,4,0.1", "Dataset b: 3,5,0.2 4,7,0.2"}},
        ConversionCase{"InterleavedTagsCaseSensitive",
                       {"# x y e", "1 2 0.1 b", "", "2 3 0.1 B", "3 4 0.1 b", "4 5 0.1\tB"},
                       F,
                       "",
                       "",
                       {"Dataset b: 1,2,0.1 3,4,0.1", "Dataset B: 2,3,0.1 4,5,0.1"}},
        ConversionCase{"DigitTag",
                       {"1 2 0.1 a", "2 3 0.1 a", "5 6 0.1 7", "6 7 0.1 7"},
                       F,
                       "",
                       "",
                       {"Dataset a: 1,2,0.1 2,3,0.1", "Dataset 7: 5,6,0.1 6,7,0.1"}},
        ConversionCase{"ExtraFieldsIgnored",
                       {"1 2 0.1 junk a", "2 3 0.1 a"},
                       F,
                       "",
                       "",
                       {"Dataset a: 1,2,0.1 2,3,0.1"}},
        ConversionCase{"Utf8Tag",
                       {"1 2 0.1 \xc3\xa9", "2 3 0.1 \xc3\xa9"},
                       F,
                       "",
                       "",
                       {"Dataset \xc3\xa9: 1,2,0.1 2,3,0.1"}},
        ConversionCase{
            "LoneTag",
            {"1 2 0.1 a", "2 4 0.1 a", "5 6 0.1 c"},
            F,
            "Minumm of two points in a dataset is required to convert a file to a chart"},
        ConversionCase{"ZeroError",
                       {"1 2 0.1 a", "# c", "1 2 0 a"},
                       F,
                       "Y error points can not contain ZERO or MINIUS values - row 3, column 3"},
        ConversionCase{"NegativeError",
                       {"1 2 -0.5 a", "1 2 1 a"},
                       F,
                       "Y error points can not contain ZERO or MINIUS values - row 1, column 3"},
        ConversionCase{"TagNotSeparated",
                       {"1 2 0.1 a", "1 2 0.1a", "1 2 0.1 a"},
                       F,
                       "Unable to Convert to Chart error on row 2, column 3"},
        ConversionCase{
            "BadX", {"1 2 0.1 a", "", "x1 2 0.1 a"}, F, "Error Unable to Convert line 3  - " + F},
        ConversionCase{"BadY",
                       {"1 2 0.1 a", "1 y 0.1 a"},
                       F,
                       "Unable to Convert to Chart error on row 2, column 2"},
        ConversionCase{"MissingError",
                       {"1 2 a", "1 2 0.1 a"},
                       F,
                       "Unable to Convert to Chart error on row 1, column 3"},
        ConversionCase{"LeadingBlankInTagged",
                       {"1 2 0.1 a", "  2 3 0.1 a"},
                       F,
                       "Error Unable to Convert line 2  - " + F},
        ConversionCase{"PlusInTagged",
                       {"1 2 0.1 a", "+2 3 0.1 a"},
                       F,
                       "Error Unable to Convert line 2  - " + F},
        ConversionCase{"FirstTaggedLineWithPlus",
                       {"+1 2 0.1 a", "2 3 0.1 a"},
                       F,
                       "Error Unable to Convert line 1  - " + F},
        ConversionCase{"FirstTaggedLineWithLeadingBlank",
                       {"# c", " 1 2 0.1 a", "2 3 0.1 a"},
                       F,
                       "Error Unable to Convert line 2  - " + F},
        // A separator-less line counts for its tag but could never be
        // stored: it is reported instead of leaving an unfilled point.
        ConversionCase{"TaggedLineWithoutSeparator",
                       {"1 2 0.1 a", "1,2,0.1a", "3 4 0.1 a"},
                       F,
                       "Unable to Convert to Chart error on row 2, column 1"},
        ConversionCase{
            "TaggedLineWithoutSeparatorAlone",
            {"1 2 0.1 a", "5", "3 4 0.1 a"},
            F,
            "Minumm of two points in a dataset is required to convert a file to a chart"}),
    [](const ::testing::TestParamInfo<ConversionCase> &info) { return info.param.name; });

TEST(Conversion, TitleAndCaption) {
  struct Case {
    std::string file, title, caption;
  } cases[] = {
      {"/home/u/run3.txt", "run3", "Chart Compiled From - run3.txt"},
      {"C:\\lab\\run3.txt", "run3", "Chart Compiled From - run3.txt"},
      {"run3.txt", "run3", "Chart Compiled From - run3.txt"},
      {"/data/a.b.dat", "a.b", "Chart Compiled From - a.b.dat"},
      {"/data/noext", "noext", "Chart Compiled From - noext"},
      {"/home/j.smith/noext", "noext", "Chart Compiled From - noext"},
      {"", "", "Chart Compiled From - "},
  };
  for (const auto &c : cases) {
    const auto out = convert({"1 2"}, c.file);
    ASSERT_TRUE(out.ok()) << c.file;
    EXPECT_EQ(out.result->title, c.title) << c.file;
    EXPECT_EQ(out.result->caption, c.caption) << c.file;
    EXPECT_EQ(out.result->filename, c.file);
  }
}

TEST(Conversion, LayoutIsChosenByTheFirstDataLine) {
  EXPECT_EQ(convert({"# 1 2 a", "1 2 3"}).result->layout, textlayout::column);
  EXPECT_EQ(convert({"1 2 0.5 x", "1 2 0.5 x"}).result->layout, textlayout::tagged);
  // A control character after the last digit is trimmed away first.
  EXPECT_EQ(convert({"1 2\x01", "3 4"}).result->layout, textlayout::column);
}

TEST(Conversion, CellValuesEqualTheirTextReadBack) {
  const auto out = convert({"0.1 0.30000000000000004 1.23456789012345678", "1e-7 -7.77e300 2"});
  ASSERT_TRUE(out.ok()) << out.error;
  const numericgrid &g = out.result->grid;
  for (int r = 1; r < g.rowcount(); ++r)
    for (int c = 0; c < g.colcount(); ++c) {
      ASSERT_TRUE(g.has(c, r));
      double back;
      ASSERT_TRUE(parsenumber(g.text(c, r), back));
      EXPECT_EQ(g.value(c, r), back) << c << "," << r;
    }
  EXPECT_EQ(g.text(1, 1), "0.3");
  EXPECT_EQ(g.text(2, 1), "1.23456789012346");
}

TEST(Conversion, LargeGridKeepsItsShape) {
  std::vector<std::string> lines;
  lines.push_back("# x y e");
  for (int i = 0; i < 5000; ++i)
    lines.push_back(std::to_string(i) + " " + std::to_string(i * 0.5) + " 0.25");
  const auto out = convert(lines);
  ASSERT_TRUE(out.ok());
  const numericgrid &g = out.result->grid;
  EXPECT_EQ(g.colcount(), 3);
  EXPECT_EQ(g.rowcount(), 5001);
  EXPECT_EQ(g.value(0, 5000), 4999);
  EXPECT_EQ(g.value(1, 5000), 2499.5);
  EXPECT_EQ(g.column(0).size(), 5001u);
  EXPECT_LE(g.column(0).capacity(), 5001u + 5001u / 4 + 16);
}

TEST(Conversion, NumbersIgnoreTheCLocale) {
  // The conversion and its cell texts use '.' whatever LC_NUMERIC says.
  const auto out = [] {
    test::CommaLocale comma;
    if (!comma.active())
      return ConversionOutcome{};
    return convert({"1.5 2.25 0.30000000000000004", "1e-5 -3.5 7"});
  }();
  if (!out.ok() && out.error.empty())
    GTEST_SKIP() << "no locale with a decimal comma available";
  ASSERT_TRUE(out.ok()) << out.error;
  EXPECT_EQ(cells(out.result->grid), "1.5 2.25 0.3|1E-5 -3.5 7");
}

TEST(Conversion, TextIsNotChanged) {
  const textlines t = textlines::fromLines({"1 2 0 a", "1 2 3 a"});
  const std::string before = t.joined("\n");
  EXPECT_FALSE(ConvertToChart(t, kFile).ok());
  EXPECT_EQ(t.joined("\n"), before);
}
