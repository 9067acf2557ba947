// Reading data texts safely: the byte-order mark, files that are not
// regular files, memory bounded by the text's size (checked in a child
// process under an address-space limit), column names past Z and grid
// cells at the top of the double range.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

const std::string kData = ORVALLE_TEST_DATA;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct tempdir {
  std::filesystem::path path;
  tempdir() {
    char name[] = "/tmp/orvalle-reading-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~tempdir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// Runs body in a child process whose address space may grow by at most
// `extra` bytes beyond what it uses when body starts; returns the child's
// exit status, or 128 + the signal that ended it.
int underlimit(std::size_t extra, const std::function<int()> &body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    long pages = 0;
    if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1)
        pages = 0;
      std::fclose(f);
    }
    const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    rlimit l{now + extra, now + extra};
    if (pages == 0 || ::setrlimit(RLIMIT_AS, &l) != 0)
      ::_exit(100);
    // Nothing may leave the child: it would go on running the tests.
    int code = 101;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(Reading, ByteOrderMarkIsNotPartOfTheFirstNumber) {
  const std::string path = kData + "/conversion/bom.txt";
  EXPECT_EQ(readdatatext(path).substr(0, 4), "1 2 ");
  const textlines lines = readtextfile(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1 2 0.1 a");
  const auto out = ConvertToChart(lines, path);
  ASSERT_TRUE(out.ok()) << out.error;
  ASSERT_EQ(out.result->datasets.size(), 1u);
  EXPECT_EQ(out.result->datasets[0]->pointcount, 3);

  // The editor's text and raw bytes are read the same way; a mark inside
  // the text is left alone.
  EXPECT_EQ(textlines::fromText("\xEF\xBB\xBF"
                                "1 2\n")[0],
            "1 2");
  EXPECT_EQ(textlines::fromBytes("\xEF\xBB\xBF"
                                 "1 2")[0],
            "1 2");
  EXPECT_EQ(textlines::fromText("1\n\xEF\xBB\xBF"
                                "2")[1],
            "\xEF\xBB\xBF"
            "2");
  // A Latin-1 file with a mark-like start is a mark all the same; an empty
  // file and a lone mark read as no text.
  EXPECT_TRUE(textlines::fromText("\xEF\xBB\xBF").empty());
}

TEST(Reading, OnlyRegularFilesAreRead) {
  tempdir dir;
  const std::string fifo = (dir.path / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO without a writer would block a plain open for ever.
  try {
    readdatatext(fifo);
    ADD_FAILURE() << "a FIFO was read";
  } catch (const textreaderror &e) {
    EXPECT_EQ(std::string(e.what()), fifo + " is not a regular file");
  }
  // A device that never ends.
  EXPECT_THROW(readtextfile("/dev/zero"), textreaderror);
  EXPECT_THROW(readtextfile(kData + "/conversion"), std::system_error);
  EXPECT_THROW(readtextfile((dir.path / "missing.txt").string()), std::system_error);
}

TEST(Reading, FileWithoutFinalLineBreakIsNotCopied) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves address space of its own";
  tempdir dir;
  const std::string path = (dir.path / "big.txt").string();
  constexpr std::size_t kSize = std::size_t(64) << 20;
  {
    std::ofstream out(path, std::ios::binary);
    std::string line(999, '7');
    line += '\n';
    for (std::size_t done = 0; done + line.size() < kSize; done += line.size())
      out << line;
    out << "1 2 3"; // no final line break
  }
  const auto size = std::filesystem::file_size(path);
  // Room for the text once and its line list, not for a second copy.
  const int status = underlimit(size + size / 2, [&] {
    const textlines lines = readtextfile(path);
    return lines.size() == size / 1000 + 1 && lines[lines.size() - 1] == "1 2 3" ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

TEST(Reading, WideFirstLineReservesByTheTextNotByItsCounts) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves address space of its own";
  // 100,000 numbers on the first line, then 100,000 lines of two: about
  // 1.2 MB of text, where lines x fields would ask for 80 GB.
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "1.5 ";
  text += '\n';
  for (int i = 0; i < 100000; ++i)
    text += "1.5 2.5\n";
  const textlines lines = textlines::fromText(text);
  const int status = underlimit(std::size_t(256) << 20, [&] {
    const auto out = ConvertToChart(lines, "/data/wide.txt");
    if (!out.ok())
      return 3;
    const numericgrid &g = out.result->grid;
    return g.colcount() == 100000 && g.rowcount() == 100002 && g.value(1, 100001) == 2.5 ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

TEST(Reading, OutOfMemoryIsAConversionFailure) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves address space of its own";
  std::string text;
  for (int i = 0; i < 2000000; ++i)
    text += "1 2 3\n";
  const textlines lines = textlines::fromText(text);
  // The grid needs 48 MB; only 8 MB are left.
  const int status = underlimit(std::size_t(8) << 20, [&] {
    const auto out = ConvertToChart(lines, "/data/run.txt");
    if (out.ok())
      return 3;
    return out.error == "Not enough memory to convert /data/run.txt to a chart" ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

TEST(Reading, ColumnNamesGoOnPastZ) {
  const std::pair<int, const char *> cases[] = {
      {0, "Col A"},   {1, "Col B"},   {25, "Col Z"},  {26, "Col AA"},  {27, "Col AB"},
      {51, "Col AZ"}, {52, "Col BA"}, {71, "Col BT"}, {701, "Col ZZ"}, {702, "Col AAA"},
  };
  for (const auto &[c, name] : cases)
    EXPECT_EQ(columnname(c), name) << c;
}

TEST(Reading, CellsAtTheTopOfTheRangeReadBack) {
  // Above the largest 15-digit number a double holds, the 15-digit text
  // would not read back; the cell takes that largest number instead.
  const double top15 = 1.79769313486231e308;
  const struct {
    const char *text;
    double value;
  } cases[] = {
      {"1.7976931348623157e308", top15},   // DBL_MAX
      {"1.797693134862315e308", top15},    // rounds up beyond DBL_MAX at 15 digits
      {"-1.7976931348623157e308", -top15}, // and below
      {"1.79769313486231e308", top15},     // 15 digits: as it is
      {"1.7976931348623e308", 1.7976931348623e308},
  };
  for (const auto &c : cases) {
    const auto out = ConvertToChart(textlines::fromLines({std::string(c.text) + " 1"}), "x.txt");
    ASSERT_TRUE(out.ok()) << c.text << ": " << out.error;
    const numericgrid &g = out.result->grid;
    EXPECT_EQ(g.value(0, 1), c.value) << c.text;
    double back = 0;
    ASSERT_TRUE(parsenumber(g.text(0, 1), back)) << c.text << " -> " << g.text(0, 1);
    EXPECT_EQ(back, g.value(0, 1)) << c.text;

    numericgrid h;
    double v = 0;
    ASSERT_TRUE(parsenumber(c.text, v));
    h.set(0, 1, v);
    ASSERT_TRUE(parsenumber(h.text(0, 1), back)) << h.text(0, 1);
    EXPECT_EQ(back, h.value(0, 1)) << c.text;
  }
  EXPECT_EQ(roundto15(DBL_MAX), top15);
  EXPECT_EQ(roundto15(-DBL_MAX), -top15);
}
