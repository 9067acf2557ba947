// Tables from other programs become data texts that the conversion reads:
// exports made to look like phyphox, LibreOffice (German locale), a data
// logger and a spreadsheet's TSV, and the tables that are refused.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "datatext/tableimport.h"

namespace orvalle {
namespace {

const std::string kTables = std::string(ORVALLE_TEST_DATA) + "/tables/";

struct collect : datapartsink {
  std::string text;
  int begins = 0;
  void begin(std::size_t) override {
    text.clear();
    ++begins;
  }
  bool part(std::string_view t) override {
    text.append(t);
    return true;
  }
};

struct imported {
  std::string text;
  tablesummary summary;
  ConversionResult result;
};

imported importfile(const std::string &name) {
  collect sink;
  imported out;
  out.summary = importtable(kTables + name, sink, name);
  out.text = sink.text;
  ConversionOutcome conv = ConvertToChart(textlines::fromText(sink.text), name);
  EXPECT_TRUE(conv.ok()) << conv.error << "\n" << sink.text;
  if (conv.ok())
    out.result = std::move(*conv.result);
  return out;
}

// The grid's numbers, row by row (grid rows 1 and up).
std::vector<std::vector<double>> rows(const numericgrid &g) {
  std::vector<std::vector<double>> out;
  for (int r = 1; r < g.rowcount(); ++r) {
    std::vector<double> row;
    for (int c = 0; c < g.colcount(); ++c)
      row.push_back(g.value(c, r));
    out.push_back(row);
  }
  return out;
}

struct exportcase {
  const char *file;
  char separator;
  int headerlines;
  std::vector<std::string> titles;
  std::vector<std::vector<double>> numbers;
};

TEST(TableImport, ExportsOfOtherProgramsBecomeTheNumbersTheyHold) {
  const std::vector<exportcase> cases = {
      {"phyphox_acceleration.csv",
       ',',
       1,
       {"Time (s)", "Linear Acceleration x (m/s^2)", "Linear Acceleration y (m/s^2)",
        "Linear Acceleration z (m/s^2)", "Absolute acceleration (m/s^2)"},
       {{1.200482210E-2, -1.050567627E-2, 2.276611328E-2, -1.487731934E-2, 2.911245483E-2},
        {2.201938629E-2, 3.122329712E-2, -4.199981689E-3, 1.239013672E-2, 3.385131806E-2},
        {3.203392029E-2, -2.548217773E-2, 1.113891602E-2, 9.872436523E-3, 2.951735452E-2}}},
      {"libreoffice_de.csv",
       ';',
       1,
       {"Zeit (s)", "Spannung (V)", "Fehler (V)"},
       {{0, 1.25, 0.05}, {0.5, 2.5, 0.05}, {1, 3.75, 0.06}, {1.5, -4.875, 0.1}}},
      {"logger_units.csv",
       ',',
       2,
       {"Time (s)", "Position (m)", "Velocity (m/s)"},
       {{0.00, 0.512, 0.03}, {0.05, 0.498, -0.28}, {0.10, 0.471, -0.54}}},
      {"cooling_header.tsv",
       '\t',
       1,
       {"Time (min)", "Temperature (C)", "Error (C)"},
       {{0, 95.2, 0.5}, {2, 81.7, 0.5}, {4, 70.3, 0.4}}},
      {"quoted_comma.csv",
       ',',
       1,
       {"Distance, cm", "Time, s", "Error, s"},
       {{10, 0.143, 0.005}, {20, 0.202, 0.005}, {40, 0.286, 0.006}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    const imported got = importfile(c.file);
    EXPECT_EQ(got.summary.separator, c.separator);
    EXPECT_EQ(got.summary.headerlines, c.headerlines);
    EXPECT_EQ(got.summary.titles, c.titles);
    EXPECT_EQ(got.summary.datalines, static_cast<long>(c.numbers.size()));
    EXPECT_EQ(got.result.layout, textlayout::column);
    EXPECT_EQ(rows(got.result.grid), c.numbers);
    // The text says where it came from, and gives the titles back.
    ASSERT_EQ(got.text.rfind(std::string(kImportMark) + c.file, 0), 0u) << got.text;
    const textlines lines = textlines::fromText(got.text);
    std::vector<std::string_view> first;
    for (std::size_t i = 0; i < lines.size() && i < 8; ++i)
      first.push_back(lines[i]);
    EXPECT_EQ(importedtitles(first, static_cast<int>(c.titles.size())), c.titles);
    // Tabs between the fields and decimal points: no comma or semicolon
    // is left on a line of numbers.
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (!lines[i].empty() && lines[i][0] != '#') {
        EXPECT_EQ(lines[i].find_first_of(",; "), std::string_view::npos) << lines[i];
      }
    }
  }
}

imported importbytes(const std::string &bytes) {
  collect sink;
  imported out;
  out.summary = importtablebytes(bytes, sink, "<stdin>");
  out.text = sink.text;
  ConversionOutcome conv = ConvertToChart(textlines::fromText(sink.text), "<stdin>");
  EXPECT_TRUE(conv.ok()) << conv.error << "\n" << sink.text;
  if (conv.ok())
    out.result = std::move(*conv.result);
  return out;
}

std::string utf16(const std::u16string &text, bool bigendian, bool mark) {
  std::string out;
  const auto put = [&](char16_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigendian ? hi : lo;
    out += bigendian ? lo : hi;
  };
  if (mark)
    put(0xFEFF);
  for (const char16_t u : text)
    put(u);
  return out;
}

TEST(TableImport, EncodingsAndLineBreaksOfSpreadsheets) {
  const std::u16string table = u"Temperatur (\u00b0C);Zeit (s)\r\n20,5;0\r\n21,75;30\r\n";
  const std::vector<std::vector<double>> numbers = {{20.5, 0}, {21.75, 30}};
  const std::vector<std::string> titles = {"Temperatur (\u00b0C)", "Zeit (s)"};
  for (const bool big : {false, true})
    for (const bool mark : {false, true}) {
      SCOPED_TRACE(std::string(big ? "UTF-16BE" : "UTF-16LE") + (mark ? " with mark" : ""));
      const imported got = importbytes(utf16(table, big, mark));
      EXPECT_EQ(rows(got.result.grid), numbers);
      EXPECT_EQ(got.summary.titles, titles);
    }
  // Latin-1 (a Windows spreadsheet) and lone CRs.
  const imported latin1 = importbytes("Temperatur (\xb0"
                                      "C);Zeit (s)\r20,5;0\r21,75;30\r");
  EXPECT_EQ(rows(latin1.result.grid), numbers);
  EXPECT_EQ(latin1.summary.titles, titles);
  // A quoted header field that runs over two lines is one field.
  const imported multiline = importbytes("\"Zeit\n(s)\",\"U (V)\"\n1,2\n3,4\n");
  EXPECT_EQ(rows(multiline.result.grid), (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));
  EXPECT_EQ(multiline.summary.titles, (std::vector<std::string>{"Zeit (s)", "U (V)"}));
}

// A header line with control bytes (a NUL, a lone CR inside it, as a
// damaged export holds) stays one comment line, so the text converts.
TEST(TableImport, HeaderControlBytesStayInsideTheirComment) {
  const std::string bytes = std::string("t\tU\x01V") + std::string(1, '\0') + "W\n1\t2\n3\t4\n";
  const imported got = importbytes(bytes);
  EXPECT_EQ(got.summary.datalines, 2);
  EXPECT_EQ(got.text.find('\0'), std::string::npos);
}

TEST(TableImport, LinesOfNumbersKnowTheirLineInTheTable) {
  // Blank lines, a header over two lines (a quoted line break) and CR LF.
  collect sink;
  const tablesummary s =
      importtablebytes("\"t\n(s)\",U\r\n1,2\r\n\r\n3,4\r\n5,6\r\n\r\n\r\n7,8\r\n", sink, "x");
  EXPECT_EQ(s.datalines, 4);
  const long want[] = {0, 3, 5, 6, 9, 0};
  for (long row = 0; row <= 5; ++row)
    EXPECT_EQ(s.lineofrow(row), want[row]) << row;
}

TEST(TableImport, LargeValuesAndSignsKeepTheirDigits) {
  const imported got =
      importbytes("x;y\n+6,02214076e23;-1,602176634E-19\n123456789012345;0,000000000000001\n");
  EXPECT_EQ(rows(got.result.grid),
            (std::vector<std::vector<double>>{{6.02214076e23, -1.602176634E-19},
                                              {123456789012345.0, 1e-15}}));
}

struct refusal {
  const char *name;
  std::string bytes;
  long line;
  int column;
  const char *message;
};

TEST(TableImport, RefusalsNameTheLineTheColumnAndTheReason) {
  const std::vector<refusal> cases = {
      {"ragged", "t,U\n1,2\n3,4,5\n", 3, 3,
       "Line 3 has 3 fields, where the first line of numbers (line 2) has 2: every line of "
       "numbers needs the same number of fields"},
      {"short row", "t;U;dU\n1;2;0,1\n3;4\n", 3, 3, "Line 3 has 2 fields"},
      {"quoted word", "t,U\n1,2\n3,\"n/a\"\n", 3, 2, "Line 3, column 2: \"n/a\" is not a number"},
      {"decimal comma in a comma table", "t,U\n1,\"2,5\"\n", 2, 2,
       "Line 2, column 2: \"2,5\" has a decimal comma, which a comma-separated table cannot "
       "tell from a separator"},
      {"empty field", "t;U;dU\n1;2;0,1\n3;;0,1\n", 3, 2,
       "Line 3, column 2 is empty: every line of numbers needs a number in every column"},
      {"empty column", "t;U;\n1;2;\n3;4;\n", 2, 3, "Line 2, column 3 is empty"},
      {"open quote", "t,U\n1,2\n3,\"4\n", 3, 0, "Line 3: a quoted field is not closed"},
      {"stray quote", "t,U\n1,2\n3,4\"x\n", 3, 0, "Line 3: a stray quote"},
      {"two signs", "t;U\n1;2\n3;++4,5\n", 3, 2, "Line 3, column 2: \"++4,5\" is not a number"},
      {"no numbers", "a,b\nc,d\n", 0, 0, "The table holds no line of numbers"},
      {"not a table", "1 2 3\n4 5 6\n", 0, 0, "No commas, semicolons or tabs separate"},
      {"thousands and decimals", "x;y\n1.234,5;2\n", 2, 1,
       "Line 2, column 1: \"1.234,5\" is not a number"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    collect sink;
    try {
      importtablebytes(c.bytes, sink, "<stdin>");
      ADD_FAILURE() << "imported:\n" << sink.text;
    } catch (const tableerror &e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
      EXPECT_EQ(e.line(), c.line);
      EXPECT_EQ(e.column(), c.column);
    }
  }
}

TEST(TableImport, OnlyTablesThatThePlainConversionCannotReadTakeTheImport) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1 2 0.1\n2 4 0.1\n", false},                    // the program's own text
      {"# t U dU\n1\t2\t0.1\n2\t4\t0.1\n", false},      // tabs, read as ever
      {"1 2 0.1 a\n2 4 0.1 a\n", false},                // the tagged layout
      {"t U dU\n1 2 0.1\n", false},                     // words, but no table: the hint says it
      {"1,2,0.1\n2,4,0.1\n", true},                     // commas: one column to the conversion
      {"1, 2, 0.1\n2, 4, 0.1\n", true},                 // fails the conversion
      {"1;2,5\n2;4,5\n", true},                         // semicolons
      {"1 2,5 0,1\n2 4,5 0,1\n", false},                // decimal commas between blanks: no table
      {"1\t2,5\t0,1\n2\t4,5\t0,1\n", true},             // the same between tabs is a TSV
      {"t\tU\tdU\n1\t2\t0.1\n2\t4\t0.1\n", true},       // a TSV with a header
      {"\"t\",\"U\"\n\"1\",\"2\"\n\"2\",\"4\"\n", true} // quoted fields
  };
  for (const auto &[text, wanted] : cases)
    EXPECT_EQ(needsimport(text), wanted) << text;
  EXPECT_TRUE(tablefile(kTables + "libreoffice_de.csv"));
  EXPECT_TRUE(tablefile(kTables + "cooling_header.tsv"));
  EXPECT_FALSE(tablefile(std::string(ORVALLE_TEST_DATA) + "/cli/line3.txt"));
  EXPECT_FALSE(tablefile(kTables + "no such file.csv"));
}

TEST(TableImport, TitlesNeedANameForEveryColumn) {
  using rowsof = std::vector<std::vector<std::string>>;
  EXPECT_EQ(columntitles(rowsof{{"Run 1", "Run 1"}, {"t", "x"}, {"s", ""}}, 2),
            (std::vector<std::string>{"t (s)", "x"}));
  EXPECT_TRUE(columntitles(rowsof{{"t", ""}}, 2).empty());
  EXPECT_TRUE(columntitles(rowsof{{"t", "x", "y"}}, 2).empty());
  // A text that was not imported names no columns, even with a header.
  EXPECT_TRUE(importedtitles({"# t\tU", "1\t2"}, 2).empty());
  EXPECT_EQ(importedtitles({"# Imported from a.csv (comma-separated)", "# t\tU", "1\t2"}, 2),
            (std::vector<std::string>{"t", "U"}));
}

} // namespace
} // namespace orvalle
