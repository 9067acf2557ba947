// A text converted in two parts, on two threads, gives what the same text
// converted in one part gives, bit for bit: grid, datasets, and message.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "datatext/conversion.h"

namespace orvalle {
namespace {

// Never split.
const conversionparts kOnePart{std::size_t(-1), 0, false};

// Split before the first line that begins at byte first or later (of the
// text as the conversion sees it: LF line breaks).
conversionparts splitat(std::size_t first) { return {0, first, true}; }

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expectsamegrid(const numericgrid &a, const numericgrid &b) {
  ASSERT_EQ(a.colcount(), b.colcount());
  ASSERT_EQ(a.rowcount(), b.rowcount());
  for (int c = 0; c < a.colcount(); ++c)
    for (int r = 0; r < a.rowcount(); ++r) {
      ASSERT_EQ(a.has(c, r), b.has(c, r)) << "cell " << c << ", " << r;
      if (a.has(c, r)) {
        ASSERT_EQ(bits(a.value(c, r)), bits(b.value(c, r))) << "cell " << c << ", " << r;
      }
    }
}

void expectsamerow(const rowref &a, const rowref &b) {
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->n, b->n);
  for (int k = 0; k < a->n; ++k)
    ASSERT_EQ(bits((*a)[k]), bits((*b)[k])) << "point " << k;
}

void expectsame(const ConversionOutcome &one, const ConversionOutcome &two) {
  ASSERT_EQ(one.ok(), two.ok()) << one.error << " | " << two.error;
  EXPECT_EQ(one.error, two.error);
  if (!one.ok())
    return;
  const ConversionResult &a = *one.result;
  const ConversionResult &b = *two.result;
  EXPECT_EQ(a.filename, b.filename);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.caption, b.caption);
  ASSERT_EQ(a.layout, b.layout);
  expectsamegrid(a.grid, b.grid);
  ASSERT_EQ(a.datasets.size(), b.datasets.size());
  for (std::size_t k = 0; k < a.datasets.size(); ++k) {
    const dataset &p = *a.datasets[k];
    const dataset &q = *b.datasets[k];
    EXPECT_EQ(p.name, q.name);
    EXPECT_EQ(p.tag, q.tag);
    EXPECT_EQ(p.pointcount, q.pointcount);
    EXPECT_EQ(p.filledcount, q.filledcount);
    expectsamerow(p.x, q.x);
    expectsamerow(p.y, q.y);
    expectsamerow(p.yerr, q.yerr);
  }
}

// A file as the batch command reads it in one part.
ConversionOutcome onepartfile(const std::string &path) {
  struct sink : datalinesink {
    std::string path;
    std::unique_ptr<chartconverter> run;
    void begin(std::size_t bytes) override { run = std::make_unique<chartconverter>(path, bytes); }
    bool line(std::string_view text) override { return run->feed(text); }
  } s;
  s.path = path;
  readdatalines(path, s);
  return s.run->finish();
}

struct tempfile {
  std::string path;
  explicit tempfile(const std::string &bytes) {
    char name[] = "/tmp/orvalle-twoparts-XXXXXX";
    const int fd = ::mkstemp(name);
    path = name;
    std::ofstream(path, std::ios::binary) << bytes;
    ::close(fd);
  }
  ~tempfile() { std::remove(path.c_str()); }
};

struct splitcase {
  const char *what;
  std::string text; // the text's bytes, as in a file
  // The line (from 0) asked to begin the second part.
  int secondline;
  bool split;        // false: the text is converted in one part all the same
  const char *error; // the one-part outcome's message, "" for success
};

std::vector<splitcase> cases() {
  return {
      {"plain column text", "1 2 3\n4 5 6\n7 8 9\n10 11 12\n", 2, true, ""},
      {"ragged columns, comments, blank lines and lines without separators in both parts",
       "# x y\n\n1 2\n3 4 5\n# c\n6\n7 8 9 10\n\n11 12\n  # indented\n13\t14\n15 \n", 6, true, ""},
      {"the second part wider than the first", "1 2\n3 4\n5 6 7 8 9\n10\t11\n", 2, true, ""},
      {"numbers read by the general rules in the second part",
       "1 2\n3 4\n1.23456789012345678 -4e-3\n+5 .5\n6E+300 -0.0\n", 2, true, ""},
      {"a failure in the second part, after comment lines in the first",
       "# h\n1 2\n# c\n\n3 4\n5 x\n6 7\n", 5, true,
       "Unable to Convert to Chart error on row 3, column 2"},
      {"a failure in each part: the first part's wins", "# h\n1 2\n3 q\n4 5\n6 y\n", 4, true,
       "Unable to Convert to Chart error on row 2, column 2"},
      {"a failure in the first part only", "1 2\nz 3\n4 5\n6 7\n", 2, true,
       "Unable to Convert to Chart error on row 2, column 1"},
      {"the first data line is a bad line", "# h\n+1 2\n3 4\n5 6\n", 2, true,
       "Error Unable to Convert line 2  - "},
      {"all data in the second part: one part", "# a\n# b\n\n1 2\n3 4\n", 2, false, ""},
      {"a line of blanks as the first data line: one part", "# a\n  \n1 2\n3 4\n", 2, false,
       "No data found to create chart "},
      {"tagged text, tags in both parts and new ones in the second",
       "1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 b\n4 7 0.2 b\n5 6 0.1 c\n# note\n6 7 0.1 a\n7 8 0.3 "
       "\xC3\xA9\n8 9 0.3 \xC3\xA9\n9 9 0.1 c\n",
       3, true, ""},
      {"tagged text, a bad line in the second part",
       "1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 b\n 4 7 0.2 b\n", 3, true,
       "Error Unable to Convert line 4  - "},
      {"tagged text, a bad value in the first part and a bad line in the second: the line",
       "1 2 0.1 a\n2 x 0.1 a\n3 5 0.2 a\n\n 4 7 0.2 a\n", 3, true,
       "Error Unable to Convert line 5  - "},
      {"tagged text, a zero error in the second part",
       "1 2 0.1 a\n2 4 0.1 a\n\n3 5 0.2 a\n4 7 0 a\n", 2, true,
       "Y error points can not contain ZERO or MINIUS values - row 5, column 3"},
      {"tagged text, a bad value in each part: the first",
       "1 2 0.1 a\n2 4 -1 a\n3 5 0.2 a\n4 q 0.2 a\n", 2, true,
       "Y error points can not contain ZERO or MINIUS values - row 2, column 3"},
      {"tagged text, a tag with one point in each part makes two",
       "1 2 0.1 a\n2 4 0.1 b\n3 5 0.2 a\n4 7 0.2 b\n", 2, true, ""},
      {"tagged text, a tag with one point only", "1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 b\n4 7 0.2 a\n", 2,
       true, "Minumm of two points in a dataset is required to convert a file to a chart"},
      {"tagged text, a bad value in the second part before a lone tag",
       "1 2 0.1 a\n2 4 0.1 a\n3 x 0.2 a\n4 7 0.2 b\n", 2, true,
       "Minumm of two points in a dataset is required to convert a file to a chart"},
      {"CR LF line breaks", "1 2\r\n3 4\r\n5 6\r\n7 8\r\n", 2, true, ""},
      {"lone CR line breaks", "1 2\r3 4\r5 x\r7 8\r", 2, true,
       "Unable to Convert to Chart error on row 3, column 2"},
      {"a byte-order mark", "\xEF\xBB\xBF# h\n1 2\n3 4\n5 6\n", 3, true, ""},
      {"the second part is the last line, without a line break", "1 2\n3 4\n5 6", 2, true, ""},
  };
}

// The text's lines as the conversion sees them: LF line breaks.
std::size_t offsetoflfline(const textlines &lines, int k) {
  return static_cast<std::size_t>(lines[static_cast<std::size_t>(k)].data() - lines[0].data());
}

TEST(TwoParts, TextOfLinesGivesWhatOnePartGives) {
  for (const splitcase &c : cases()) {
    SCOPED_TRACE(c.what);
    const textlines lines = textlines::fromBytes(c.text);
    const std::string name = "/data/two.txt";
    const ConversionOutcome one = ConvertToChart(lines, name, {}, kOnePart);
    EXPECT_EQ(one.ok() ? std::string() : one.error,
              *c.error && std::string(c.error).back() == ' ' ? c.error + name : c.error);
    // Asked to begin the second part at any byte of the line before it,
    // or at its own first byte, the split comes before that line.
    const int k = c.secondline;
    for (std::size_t first = offsetoflfline(lines, k - 1) + 1; first <= offsetoflfline(lines, k);
         ++first) {
      SCOPED_TRACE(first);
      const auto at = secondpartline(lines, splitat(first));
      EXPECT_EQ(at.has_value(), c.split);
      if (at) {
        EXPECT_EQ(*at, static_cast<std::size_t>(k));
      }
      expectsame(one, ConvertToChart(lines, name, {}, splitat(first)));
    }
  }
}

// The lines joined by line feeds, as a pad holds a large text.
std::string heldtext(const textlines &lines) {
  std::string text;
  for (std::size_t j = 0; j < lines.size(); ++j) {
    text += lines[j];
    text += '\n';
  }
  return text;
}

// A text held whole converts as its lines do, in one part and split before
// any line, wherever in the line before it the split is asked for.
TEST(TwoParts, HeldTextGivesWhatItsLinesGive) {
  for (const splitcase &c : cases()) {
    SCOPED_TRACE(c.what);
    const textlines lines = textlines::fromBytes(c.text);
    const std::string text = heldtext(lines);
    const std::string name = "/data/held.txt";
    const ConversionOutcome one = ConvertToChart(lines, name, {}, kOnePart);
    expectsame(one, ConvertTextToChart(text, name, {}, kOnePart));
    const int k = c.secondline;
    for (std::size_t first = offsetoflfline(lines, k - 1) + 1; first <= offsetoflfline(lines, k);
         ++first) {
      SCOPED_TRACE(first);
      expectsame(one, ConvertTextToChart(text, name, {}, splitat(first)));
    }
  }
  // Without the final line break the last line is the same line; a split
  // asked for past the last line's start leaves one part.
  const std::string text = "1 2\n3 4\n5 x";
  const ConversionOutcome one = ConvertToChart(textlines::fromBytes(text), "t", {}, kOnePart);
  EXPECT_EQ(one.error, "Unable to Convert to Chart error on row 3, column 2");
  for (std::size_t first = 1; first <= text.size() + 1; ++first)
    expectsame(one, ConvertTextToChart(text, "t", {}, splitat(first)));
  EXPECT_FALSE(ConvertTextToChart("", "t", {}, splitat(1)).ok());
}

// The progress of a held text split in two reaches its whole size once,
// never going back.
TEST(TwoParts, HeldTextReportsProgressToTheEnd) {
  std::string text = "# x y\n";
  for (int j = 0; j < 50000; ++j)
    text += std::to_string(j) + " " + std::to_string(2 * j + 1) + "\n";
  std::size_t last = 0, ends = 0, total = 0;
  bool monotonic = true;
  const ConversionOutcome two = ConvertTextToChart(
      text, "p.txt",
      [&](std::size_t done, std::size_t of) {
        monotonic = monotonic && done >= last && done <= of;
        last = done;
        total = of;
        ends += done == of;
      },
      splitat(text.size() / 3));
  ASSERT_TRUE(two.ok()) << two.error;
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(total, text.size());
  EXPECT_EQ(ends, 1U);
  const numericgrid &grid = two.result->grid;
  ASSERT_GE(grid.rowcount(), 50000);
  EXPECT_EQ(grid.value(1, grid.rowcount() - 1), 99999.0);
  expectsame(ConvertTextToChart(text, "p.txt", {}, kOnePart), two);
}

// Texts made at random from lines of every kind, column and tagged, split
// before each of their lines in turn.
TEST(TwoParts, RandomTextsSplitAnywhereGiveWhatOnePartGives) {
  const std::vector<std::string> column = {"1 2", "3.5\t-4", "5 6 7",    "8",      "9 ",   "# c",
                                           "",    "  ",      " # c",     "1e3 2",  "+1 2", "x 1",
                                           "1 y", "1.5",     "-2 3 4 5", ".5 -.5", "1,5 2"};
  const std::vector<std::string> tagged = {
      "1 2 0.1 a", "2 3 0.2 a", "3 4 0.1 b",  "4 5 0.3 b",        "5 6 0.2 c", "# c",      "",
      "1 2 0 a",   "1 x 0.1 b", " 1 2 0.1 a", "6 7 0.1 \xC3\xA9", "1 2 0.1a",  "7 8 0.5 7"};
  std::mt19937 random(20261211);
  int splits = 0;
  for (int t = 0; t < 400; ++t) {
    const std::vector<std::string> &kinds = t % 2 ? tagged : column;
    std::string text = t % 2 ? "0 1 0.1 a\n" : "0 1\n";
    const int n = 2 + static_cast<int>(random() % 12);
    for (int j = 0; j < n; ++j)
      text += kinds[random() % kinds.size()] + (t % 5 == 0 ? "\r\n" : "\n");
    SCOPED_TRACE(text);
    const textlines lines = textlines::fromBytes(text);
    const ConversionOutcome one = ConvertToChart(lines, "r.txt", {}, kOnePart);
    for (int k = 1; k < static_cast<int>(lines.size()); ++k) {
      SCOPED_TRACE(k);
      const conversionparts at = splitat(offsetoflfline(lines, k));
      ASSERT_EQ(secondpartline(lines, at), std::optional<std::size_t>(k));
      expectsame(one, ConvertToChart(lines, "r.txt", {}, at));
      ++splits;
    }
  }
  EXPECT_GT(splits, 1000);
}

// Where the file's second part begins when it holds the same lines as
// lines' second part: the file offset of line k.
std::size_t fileoffsetofline(const std::string &bytes, int k) {
  std::size_t p = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int j = 0; j < k; ++j) {
    p = bytes.find_first_of("\r\n", p);
    p += bytes.compare(p, 2, "\r\n") == 0 ? 2 : 1;
  }
  return p;
}

TEST(TwoParts, FileGivesWhatOnePartGives) {
  for (const splitcase &c : cases()) {
    SCOPED_TRACE(c.what);
    const tempfile file(c.text);
    const ConversionOutcome one = onepartfile(file.path);
    const std::size_t at = fileoffsetofline(c.text, c.secondline);
    // The second part begins after the line break that ends at byte first
    // or later: at the break's own last byte, and at each byte of the line
    // before it (the CR of a CR LF among them).
    const std::size_t before =
        c.text.find_last_of("\r\n", at - 1 - (c.text[at - 1] == '\n' && c.text[at - 2] == '\r'));
    for (std::size_t first = before + 1; first <= at; ++first) {
      SCOPED_TRACE(first);
      const auto two = convertdatafile(file.path, file.path, splitat(first));
      EXPECT_EQ(two.has_value(), c.split);
      if (two)
        expectsame(one, *two);
    }
  }
}

TEST(TwoParts, FileNotUtf8IsLeftToOnePart) {
  const tempfile file("1 2\n3 4\n5 6 \xE9\n7 8\n");
  EXPECT_FALSE(convertdatafile(file.path, file.path, splitat(8)).has_value());
  const tempfile late("1 2\n3 4\n5 6\n7 8 \xE9\n");
  EXPECT_FALSE(convertdatafile(late.path, late.path, splitat(8)).has_value());
}

TEST(TwoParts, OnlyLargeTextsOnTwoProcessorsAreSplit) {
  const conversionparts usual;
  EXPECT_EQ(usual.from, std::size_t(8) << 20);
  EXPECT_FALSE(usual.splits(0));
  EXPECT_FALSE(usual.splits((std::size_t(8) << 20) - 1));
  // The processors the test may run on (taskset may bind it to one).
  cpu_set_t set;
  ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
  const bool two = std::thread::hardware_concurrency() > 1 && CPU_COUNT(&set) > 1;
  EXPECT_EQ(usual.splits(std::size_t(8) << 20), two);
  EXPECT_TRUE((conversionparts{100, 0, true}.splits(100)));
  EXPECT_FALSE((conversionparts{100, 0, true}.splits(99)));
  // A small text and a small file are read in one part.
  const std::string text = "1 2\n3 4\n5 6\n7 8\n";
  EXPECT_FALSE(secondpartline(textlines::fromBytes(text)).has_value());
  const tempfile file(text);
  EXPECT_FALSE(convertdatafile(file.path, file.path).has_value());
}

// A text large enough to be split by default, when the machine has two
// processors: the grid is that of one part, and the split comes at the
// line after the middle.
TEST(TwoParts, LargeTextSplitsAtItsMiddle) {
  std::string text = "# x y err\n";
  for (int k = 0; text.size() < (std::size_t(8) << 20); ++k)
    text += std::to_string(k) + " " + std::to_string(k * 0.5) + " 0." + std::to_string(k % 9 + 1) +
            "\n";
  const textlines lines = textlines::fromBytes(text);
  const auto at = secondpartline(lines, conversionparts{conversionparts::kFrom, 0, true});
  ASSERT_TRUE(at.has_value());
  EXPECT_GE(offsetoflfline(lines, static_cast<int>(*at)), lines.bytes() / 2);
  EXPECT_LT(offsetoflfline(lines, static_cast<int>(*at) - 1), lines.bytes() / 2);
  const ConversionOutcome one = ConvertToChart(lines, "big.txt", {}, kOnePart);
  ASSERT_TRUE(one.ok());
  expectsame(
      one, ConvertToChart(lines, "big.txt", {}, conversionparts{conversionparts::kFrom, 0, true}));
  const tempfile file(text);
  const auto two =
      convertdatafile(file.path, "big.txt", conversionparts{conversionparts::kFrom, 0, true});
  ASSERT_TRUE(two.has_value());
  expectsame(one, *two);
}

} // namespace
} // namespace orvalle
