// orvalle-fit given what it should not read or cannot finish: FIFOs and
// devices (as the data file and as the plug-in), a byte-order mark, columns
// past Z, a floating-point fault with the engine's reason, and a gnuplot
// script that cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const std::string kFit = ORVALLE_FIT;
const std::string kData = ORVALLE_CLI_DATA;

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string quoted(const std::string &s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct folder {
  std::filesystem::path path;
  folder() {
    char name[] = "/tmp/orvalle-fit-safety-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const char *name) const { return (path / name).string(); }
};

struct outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs orvalle-fit; a run that would hang is ended after 20 s (status 124).
outcome fit(const folder &dir, const std::vector<std::string> &args, const std::string &env = "") {
  std::string cmd = "env ";
  cmd += env;
  cmd += " timeout 20 ";
  cmd += quoted(kFit);
  for (const auto &a : args) {
    cmd += ' ';
    cmd += quoted(a);
  }
  cmd += " </dev/null >";
  cmd += quoted(dir / ".out");
  cmd += " 2>";
  cmd += quoted(dir / ".err");
  const int s = std::system(cmd.c_str());
  outcome o;
  o.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  o.out = readall(dir / ".out");
  o.err = readall(dir / ".err");
  return o;
}

} // namespace

TEST(FitCommandSafety, OnlyRegularFilesAreRead) {
  folder dir;
  const std::string fifo = dir / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  outcome o = fit(dir, {fifo});
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_NE(o.err.find(fifo + " is not a regular file"), std::string::npos) << o.err;

  o = fit(dir, {"/dev/zero"});
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_NE(o.err.find("/dev/zero is not a regular file"), std::string::npos) << o.err;

  // The plug-in library named by the environment as well.
  o = fit(dir, {"-m", "custom", kData + "/line3.txt"}, "ORVALLE_CUSTOMFIT=" + quoted(fifo));
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_NE(o.err.find("is not a regular file"), std::string::npos) << o.err;
}

TEST(FitCommandSafety, ByteOrderMarkIsSkipped) {
  folder dir;
  const std::string plain = readall(kData + "/line3.txt");
  ASSERT_FALSE(plain.empty());
  std::ofstream(dir / "bom.txt", std::ios::binary) << "\xEF\xBB\xBF" << plain;
  const outcome withmark = fit(dir, {dir / "bom.txt"});
  const outcome without = fit(dir, {kData + "/line3.txt"});
  ASSERT_EQ(withmark.status, 0) << withmark.err;
  EXPECT_EQ(withmark.out, without.out);
}

TEST(FitCommandSafety, ColumnsPastZ) {
  folder dir;
  {
    // 28 columns: A to Z, AA and AB; AB = 2 AA + 1.
    std::ofstream out(dir / "wide.txt");
    for (int r = 1; r <= 5; ++r) {
      for (int c = 0; c < 26; ++c)
        out << r + c << ' ';
      out << r << ' ' << 2 * r + 1 + (r % 2 ? 0.01 : -0.01) << '\n';
    }
  }
  outcome o =
      fit(dir, {"--x", "AA", "--y", "ab", "--err", "absolute:0.1", "--json", dir / "wide.txt"});
  ASSERT_EQ(o.status, 0) << o.err;
  // The noise is symmetric about x = 3: the gradient is exactly 2 and the
  // intercept 1 + 0.01 / 5.
  EXPECT_NE(o.out.find("{\"label\": \"a\", \"value\": 2, "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("{\"label\": \"b\", \"value\": 1.00"), std::string::npos) << o.out;

  o = fit(dir, {"--x", "AA", "--y", "AC", "--err", "absolute:0.1", dir / "wide.txt"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("the file has no Col AC (its columns are Col A to Col AB)"),
            std::string::npos)
      << o.err;
}

TEST(FitCommandSafety, FloatingPointFaultNamesTheEngineReason) {
  folder dir;
  // Errors of 1e-200 give weights beyond the largest double.
  std::ofstream(dir / "tiny.txt") << "1 2 1e-200\n2 3 1e-200\n3 4.1 1e-200\n4 5 1e-200\n";
  const outcome o = fit(dir, {dir / "tiny.txt"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Floating point overflow in makeweights\n"
                   "Critical Failure Occurred In Fitted The Chosen Line\n");
  EXPECT_EQ(o.out, "");
}

TEST(FitCommandSafety, UnwritableScriptLeavesNoDataFile) {
  folder dir;
  std::filesystem::create_directory(dir / "plot.gnu");
  const outcome o = fit(dir, {"--gnuplot", dir / "plot.gnu", kData + "/line3.txt"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find(dir / "plot.gnu"), std::string::npos) << o.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "plot.gdt"));
}
