// Lines of plain numbers after the first data line are read by a one-pass
// path of their own (eight digits at a time). Its cells must be those the
// general rules give, bit for bit, and every line it leaves alone must
// still come out as the general rules say.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The grid of a text given as lines.
numericgrid gridof(const std::vector<std::string> &lines) {
  auto conv = ConvertToChart(textlines::fromLines(lines), "t.txt");
  if (!conv.ok())
    throw std::runtime_error(conv.error);
  return std::move(conv.result->grid);
}

// The value of a field as the first data line reads it (the general path
// sets the layout and the grid's room there), and as a later line does.
// The field stands second: a first data line may not begin with '+'.
struct twoways {
  double first = 0.0;
  double later = 0.0;
};
twoways readboth(const std::string &field) {
  const numericgrid a = gridof({"7 " + field});
  const numericgrid b = gridof({"1 7", "7 " + field});
  return {a.value(1, 1), b.value(1, 2)};
}

// An independent reading of a field of at most 15 significant digits: the
// correctly rounded double of its text.
double reference(std::string field) {
  if (!field.empty() && field.front() == '+')
    field.erase(0, 1);
  double v = 0.0;
  const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
  EXPECT_EQ(r.ptr, field.data() + field.size()) << field;
  return v;
}

} // namespace

TEST(PlainLines, FieldsReadAsTheGeneralRulesReadThem) {
  // Up to 15 significant digits: read by the fast path, checked against
  // from_chars too. Each digit count from 1 to 15 on both sides of the
  // point, eight-digit runs and their borders, signs, zeros.
  const std::vector<std::string> fifteen = {
      "0",
      "-0",
      "+0",
      "0.0",
      "-0.000",
      "1",
      "-1",
      "+1",
      ".5",
      "5.",
      "-.5",
      "+.25",
      "0.1",
      "0.3",
      "1.3645",
      "-12.3456",
      "9999.999",
      "12345678",
      "123456789",
      "1234567.8",
      "12345678.9",
      "0.12345678",
      "0.123456789",
      "87654321.1234567",
      "123456789012345",
      "999999999999999",
      "99999999.9999999",
      "0.00000000000001",
      "00000000.0000001",
      "7.00000000000000",
      "450359962737049",
      "0.000001",
      "314159.265358979",
  };
  for (const auto &f : fifteen) {
    const twoways got = readboth(f);
    EXPECT_EQ(bits(got.later), bits(got.first)) << f;
    EXPECT_EQ(bits(got.later), bits(reference(f))) << f;
  }
  // More digits, exponents and extremes: handed to the general parser and
  // rounded to 15 digits as the grid promises.
  const std::vector<std::string> others = {
      "1234567890123456",
      "0.000000000000001",
      "000000000000000001.5",
      "9007199254740993",
      "4503599627370495",
      "12345678901234567890123",
      "0.1234567890123456789",
      "2.5e3",
      "1E5",
      "-1e-320",
      "1.7976931348623157e308",
      "1.79769313486231e308",
      "4.9e-324",
      "-0e10",
      "123456789.123456789",
  };
  for (const auto &f : others) {
    const twoways got = readboth(f);
    EXPECT_EQ(bits(got.later), bits(got.first)) << f;
  }
}

TEST(PlainLines, SeededFieldsOfEveryShapeAgreeBitForBit) {
  // Random digit strings of every length split by a point anywhere, with
  // and without sign: the fast path and the general one on the same text.
  std::mt19937_64 rng(20261210);
  std::vector<std::string> fields;
  for (int i = 0; i < 4000; ++i) {
    const int len = 1 + static_cast<int>(rng() % 20);
    std::string digits;
    for (int k = 0; k < len; ++k)
      digits += static_cast<char>('0' + rng() % 10);
    const auto point = rng() % (static_cast<unsigned>(len) + 2);
    if (point <= static_cast<unsigned>(len))
      digits = digits.substr(0, point) + "." + digits.substr(point);
    const auto sign = rng() % 3;
    fields.push_back((sign == 0 ? "" : sign == 1 ? "-" : "+") + digits);
  }
  std::vector<std::string> lines = {"0 0"};
  for (const auto &f : fields)
    lines.push_back("1 " + f);
  // Each field is read once more as the first data line: one conversion
  // per field.
  const numericgrid many = gridof(lines);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const numericgrid one = gridof({lines[i + 1]});
    ASSERT_EQ(bits(many.value(1, static_cast<int>(i) + 2)), bits(one.value(1, 1))) << fields[i];
  }
}

TEST(PlainLines, SeededLinesOfEveryWidthAgreeBitForBit) {
  // Lines of 1 to 18 fields apart by runs of spaces and tabs, from a few
  // bytes to past the 64 the fast path reads, some with a field it hands
  // on (exponent, many digits) or refuses.
  std::mt19937_64 rng(7);
  const std::vector<std::string> odd = {"1e3", "-2.5E-2", "12345678901234567", "0x1", "1..2", "-"};
  for (int i = 0; i < 3000; ++i) {
    const int fields = 1 + static_cast<int>(rng() % 18);
    std::string line;
    for (int f = 0; f < fields; ++f) {
      if (f > 0)
        for (int k = 0, seps = 1 + static_cast<int>(rng() % 3); k < seps; ++k)
          line += rng() % 4 ? ' ' : '\t';
      if (rng() % 40 == 0 && f > 0) {
        line += odd[rng() % odd.size()];
        continue;
      }
      if (rng() % 4 == 0)
        line += '-';
      const int intdigits = static_cast<int>(rng() % 10);
      const int fracdigits = static_cast<int>(rng() % 10);
      for (int k = 0; k < intdigits; ++k)
        line += static_cast<char>('0' + rng() % 10);
      if (fracdigits > 0 || intdigits == 0) {
        line += '.';
        for (int k = 0; k < std::max(fracdigits, 1); ++k)
          line += static_cast<char>('0' + rng() % 10);
      }
    }
    if (rng() % 5 == 0)
      line += ' ';
    // Read as the first data line (the general rules) and as a later one.
    const auto first = ConvertToChart(textlines::fromLines({"1 " + line}), "t.txt");
    const auto later = ConvertToChart(textlines::fromLines({"0 0", "1 " + line}), "t.txt");
    ASSERT_EQ(first.ok(), later.ok()) << line;
    if (!first.ok()) {
      EXPECT_EQ(later.error, first.error.substr(0, first.error.find("row 1")) + "row 2" +
                                 first.error.substr(first.error.find("row 1") + 5))
          << line;
      continue;
    }
    const numericgrid &a = first.result->grid, &b = later.result->grid;
    ASSERT_EQ(a.colcount(), b.colcount()) << line;
    for (int c = 0; c < a.colcount(); ++c)
      ASSERT_EQ(bits(a.value(c, 1)), bits(b.value(c, 2))) << line << " column " << c;
  }
}

TEST(PlainLines, LinesLeftToTheGeneralRulesKeepTheirMeaning) {
  // Separators, control characters, lines without a separator, blank and
  // comment lines, short lines, and lines too wide for the fast path.
  std::string wide, wideline;
  for (int c = 0; c < 20; ++c)
    wide += std::to_string(c) + ".5 ";
  for (int c = 0; c < 12; ++c)
    wideline += "1234567.125\t";
  const numericgrid g = gridof({
      "1 2 3",
      "4\t\t5   6   ",   // row 2: tabs and runs of spaces, trailing blanks
      "7\x01 8 9",       // row 3: a control character is trimmed off the field
      "10 11 12 \x0c",   // row 4: and off the line
      "13",              // row 5: no separator: the row stays, no cell filled
      "1 2",             // row 6: shorter than eight bytes
      "# note",          // not a row
      "",                // not a row
      "14 -0 +15",       // row 7
      wide,              // row 8: more cells than the fast path takes
      wideline,          // row 9: a long line of long fields
      "1e2 2.5E-1 3e+0", // row 10: exponents
  });
  EXPECT_EQ(g.value(0, 2), 4.0);
  EXPECT_EQ(g.value(2, 2), 6.0);
  EXPECT_EQ(g.value(0, 3), 7.0);
  EXPECT_EQ(g.value(2, 4), 12.0);
  EXPECT_FALSE(g.has(0, 5));
  EXPECT_EQ(g.value(0, 6), 1.0);
  EXPECT_EQ(g.value(1, 6), 2.0);
  EXPECT_EQ(g.value(0, 7), 14.0);
  EXPECT_TRUE(std::signbit(g.value(1, 7)));
  EXPECT_EQ(g.value(2, 7), 15.0);
  for (int c = 0; c < 20; ++c)
    EXPECT_EQ(g.value(c, 8), c + 0.5) << c;
  EXPECT_EQ(g.colcount(), 20);
  for (int c = 0; c < 12; ++c)
    EXPECT_EQ(g.value(c, 9), 1234567.125) << c;
  EXPECT_EQ(g.value(0, 10), 100.0);
  EXPECT_EQ(g.value(1, 10), 0.25);
  EXPECT_EQ(g.value(2, 10), 3.0);
  EXPECT_EQ(g.rowcount(), 11);

  // A bad field on a later line fails with the general message.
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"1 2", "3 x"}, "Unable to Convert to Chart error on row 2, column 2"},
      {{"1 2", "3 4.5.6"}, "Unable to Convert to Chart error on row 2, column 2"},
      {{"1 2", "# c", "3 4", "-5 1e"}, "Unable to Convert to Chart error on row 3, column 2"},
      {{"1 2", "3 inf"}, "Unable to Convert to Chart error on row 2, column 2"},
      {{"1 2", "1e999 4"}, "Unable to Convert to Chart error on row 2, column 1"},
      {{"1 2", "3 4 \xC3\xA9"}, "Unable to Convert to Chart error on row 2, column 3"},
  };
  for (const auto &[lines, message] : bad) {
    const auto conv = ConvertToChart(textlines::fromLines(lines), "t.txt");
    EXPECT_FALSE(conv.ok()) << message;
    EXPECT_EQ(conv.error, message);
  }
}
