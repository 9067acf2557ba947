// Reading a data file in parts, line by line (as orvalle-fit does), gives
// the very lines and the very conversion that reading it whole gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

struct collect : datalinesink {
  std::vector<std::string> lines;
  std::vector<std::size_t> begins;
  void begin(std::size_t bytes) override {
    begins.push_back(bytes);
    lines.clear();
  }
  bool line(std::string_view text) override {
    lines.emplace_back(text);
    return true;
  }
};

struct converting : datalinesink {
  std::string path;
  std::unique_ptr<chartconverter> run;
  void begin(std::size_t bytes) override { run = std::make_unique<chartconverter>(path, bytes); }
  bool line(std::string_view text) override { return run->feed(text); }
};

std::string tempfile(const std::string &bytes) {
  static int n = 0;
  const auto path =
      std::filesystem::temp_directory_path() /
      ("orvalle-streaming-" + std::to_string(::getpid()) + "-" + std::to_string(n++) + ".txt");
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

std::vector<std::string> wholelines(const std::string &path) {
  const textlines t = readtextfile(path);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < t.size(); ++i)
    out.emplace_back(t[i]);
  return out;
}

// Lines long enough that the 1 MiB parts end inside lines and between the
// CR and the LF of a line end.
std::string manylines(const char *eol, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += std::to_string(i) + " " + std::to_string(2 * i + 1) + ".25 0." +
         std::to_string(i % 9 + 1) + eol;
  return s;
}

} // namespace

TEST(Streaming, LinesAreThoseOfTheWholeText) {
  std::string crossing(1 << 20, 'x'); // the first part ends in "\r", the next begins "\n"
  crossing[(1 << 20) - 1] = '\r';
  crossing += "\n1 2 3\n";
  const std::vector<std::pair<const char *, std::string>> cases = {
      {"empty", ""},
      {"one line without a break", "1 2 3"},
      {"LF", "1 2 3\n4 5 6\n"},
      {"CR LF and lone CR", "# x\r\n1 2\r3 4\r\n\r\n5 6"},
      {"blank lines at the end", "1 2\n\n\n"},
      {"byte-order mark", "\xEF\xBB\xBF"
                          "1 2 3\n"},
      {"only a byte-order mark", "\xEF\xBB\xBF"},
      {"UTF-8 tag", "1 2 0.1 \xC3\xA9\n2 3 0.1 \xC3\xA9\n"},
      {"Latin-1 tag", "1 2 0.1 \xE9\n2 3 0.1 \xE9\n"},
      {"Latin-1 late in a large file", manylines("\n", 60000) + "1 2 0.1 \xE9\n"},
      {"CR LF across parts", manylines("\r\n", 90000)},
      {"CR LF split between parts", crossing},
  };
  for (const auto &[name, bytes] : cases) {
    const std::string path = tempfile(bytes);
    collect got;
    readdatalines(path, got);
    EXPECT_EQ(got.lines, wholelines(path)) << name;
    EXPECT_EQ(got.begins.back(), bytes.size()) << name;
    std::filesystem::remove(path);
  }
}

TEST(Streaming, ConversionIsThatOfTheWholeText) {
  const std::vector<std::pair<const char *, std::string>> cases = {
      {"columns", manylines("\n", 50000)},
      {"tagged", "1 2 0.1 a\n2 4 0.1 a\n3 5 0.2 b\n4 7 0.2 b\n"},
      {"bad field", "1 2 3\n4 x 6\n"},
      // In the tagged layout a bad line start is reported before a bad value
      // on an earlier line, and a lone tag before it too.
      {"bad value, then bad line", "1 2 0.1 a\n1 x 0.1 a\n+3 5 0.2 a\n"},
      {"bad value, then lone tag", "1 2 0.1 a\n1 x 0.1 a\n3 5 0.2 b\n"},
      {"zero error", "1 2 0.1 a\n1 2 0 a\n"},
      {"no data", "# only\n\n"},
      {"blank first data line", "# c\n   \n1 2\n"},
  };
  for (const auto &[name, bytes] : cases) {
    const std::string path = tempfile(bytes);
    converting sink;
    sink.path = path;
    readdatalines(path, sink);
    const ConversionOutcome got = sink.run->finish();
    const ConversionOutcome want = ConvertToChart(readtextfile(path), path);
    ASSERT_EQ(got.ok(), want.ok()) << name << ": " << got.error << " / " << want.error;
    EXPECT_EQ(got.error, want.error) << name;
    if (got.ok()) {
      const ConversionResult &g = *got.result, &w = *want.result;
      ASSERT_EQ(g.grid.colcount(), w.grid.colcount()) << name;
      ASSERT_EQ(g.grid.rowcount(), w.grid.rowcount()) << name;
      for (int c = 0; c < g.grid.colcount(); ++c)
        for (int r = 1; r < g.grid.rowcount(); ++r)
          ASSERT_EQ(g.grid.text(c, r), w.grid.text(c, r)) << name;
      ASSERT_EQ(g.datasets.size(), w.datasets.size()) << name;
      for (std::size_t i = 0; i < g.datasets.size(); ++i) {
        EXPECT_EQ(g.datasets[i]->name, w.datasets[i]->name);
        EXPECT_EQ(g.datasets[i]->x->data, w.datasets[i]->x->data);
        EXPECT_EQ(g.datasets[i]->yerr->data, w.datasets[i]->yerr->data);
        EXPECT_EQ(g.datasets[i]->pointcount, g.datasets[i]->x->n);
      }
    }
    std::filesystem::remove(path);
  }
  // The messages themselves, for the tagged precedence cases.
  EXPECT_EQ(ConvertToChart(textlines::fromText("1 2 0.1 a\n1 x 0.1 a\n+3 5 0.2 a\n"), "f").error,
            "Error Unable to Convert line 3  - f");
  EXPECT_EQ(ConvertToChart(textlines::fromText("1 2 0.1 a\n1 x 0.1 a\n3 5 0.2 b\n"), "f").error,
            "Minumm of two points in a dataset is required to convert a file to a chart");
  EXPECT_EQ(ConvertToChart(textlines::fromText("1 2 0.1 a\n1 x 0.1 a\n3 5 0.2 a\n"), "f").error,
            "Unable to Convert to Chart error on row 2, column 2");
}
