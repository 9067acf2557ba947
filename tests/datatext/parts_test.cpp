// Reading a data file in parts of whole lines (as File Open does) gives,
// put together, the very text that reading it whole gives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

struct collect : datapartsink {
  std::vector<std::string> parts;
  std::vector<std::size_t> begins;
  void begin(std::size_t bytes) override {
    begins.push_back(bytes);
    parts.clear();
  }
  bool part(std::string_view text) override {
    parts.emplace_back(text);
    return true;
  }
};

std::string tempfile(const std::string &bytes) {
  static int n = 0;
  const auto path =
      std::filesystem::temp_directory_path() /
      ("orvalle-parts-" + std::to_string(::getpid()) + "-" + std::to_string(n++) + ".txt");
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

// n lines of 37 bytes and the line end: parts of a MiB end inside lines
// and between a CR and its LF.
std::string manylines(const char *eol, std::size_t n,
                      const char *more = " 2.5 0.1 and some more text here") {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += std::to_string(1000000 + i) + more + eol;
  return s;
}

} // namespace

TEST(Parts, PutTogetherTheyAreTheWholeText) {
  std::string latin = manylines("\n", 40000);
  latin += "L\xe4nge 3 4\n"; // not UTF-8, past the first part
  const std::string longline(3 << 20, '7');
  const struct {
    const char *name;
    std::string bytes;
    int begins;
  } cases[] = {
      {"LF", manylines("\n", 60000), 1},
      {"CR LF", manylines("\r\n", 60000), 1},
      // 17-byte lines: 2^20 + 1 = 17 * 61681, so the first MiB read ends
      // between a CR and its LF.
      {"CR LF cut by a read", manylines("\r\n", 130000, " 2.5 0.1"), 1},
      {"lone CR", manylines("\r", 60000), 1},
      {"no last break", manylines("\n", 50000) + "1 2 3", 1},
      {"byte-order mark", "\xEF\xBB\xBF" + manylines("\n", 40000), 1},
      {"Latin-1 late", latin, 2},
      {"UTF-8", "x \xc3\xa9 1\n" + manylines("\r\n", 40000), 1},
      {"a line longer than a part", "1 2\n" + longline + "\n3 4\n", 1},
      {"empty", "", 1},
      {"mark only", "\xEF\xBB\xBF", 1},
  };
  for (const auto &c : cases) {
    const std::string path = tempfile(c.bytes);
    collect sink;
    readdataparts(path, sink);
    EXPECT_EQ(static_cast<int>(sink.begins.size()), c.begins) << c.name;
    EXPECT_EQ(sink.begins.back(), c.bytes.size()) << c.name;
    std::string whole;
    for (std::size_t i = 0; i < sink.parts.size(); ++i) {
      const std::string &p = sink.parts[i];
      EXPECT_FALSE(p.empty()) << c.name;
      // Every part but the last ends a line, and never between CR and LF.
      if (i + 1 < sink.parts.size()) {
        ASSERT_TRUE(p.back() == '\n' || p.back() == '\r') << c.name << " part " << i;
        EXPECT_FALSE(p.back() == '\r' && sink.parts[i + 1].front() == '\n') << c.name;
      }
      whole += p;
    }
    EXPECT_EQ(whole, readdatatext(path)) << c.name;
    if (c.bytes.size() > (2u << 20)) {
      EXPECT_GE(sink.parts.size(), 2u) << c.name; // not one part of it all
    }
    std::filesystem::remove(path);
  }
}

TEST(Parts, FalseStopsReading) {
  const std::string path = tempfile(manylines("\n", 100000));
  struct first : collect {
    bool part(std::string_view text) override {
      collect::part(text);
      return false;
    }
  } sink;
  readdataparts(path, sink);
  EXPECT_EQ(sink.parts.size(), 1u);
  std::filesystem::remove(path);
}

TEST(Parts, WhatIsNoTextFileIsRefused) {
  EXPECT_THROW(
      {
        collect sink;
        readdataparts("/nonexistent/orvalle/file.txt", sink);
      },
      std::system_error);
  EXPECT_THROW(
      {
        collect sink;
        readdataparts("/dev/null", sink);
      },
      textreaderror);
}
