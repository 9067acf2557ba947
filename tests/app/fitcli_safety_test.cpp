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

// ------------------------------------------------------------ outputs

namespace {

// Leftovers of a write: hidden files other than the captured output.
bool leftovers(const folder &dir) {
  for (const auto &e : std::filesystem::directory_iterator(dir.path)) {
    const std::string n = e.path().filename().string();
    if (n[0] == '.' && n != ".out" && n != ".err")
      return true;
  }
  return false;
}

// n points on a straight line with a little noise.
void linefile(const std::string &path, int n) {
  std::ofstream out(path);
  for (int k = 1; k <= n; ++k)
    out << k << ' ' << 2 * k + 1 + (k % 3 - 1) * 0.05 << " 0.1\n";
}

} // namespace

TEST(FitCommandOutputs, AFailedRunLeavesTheOldFiles) {
  folder dir;
  std::ofstream(dir / "osc.txt") << "0 1 0.1\n1 0.5 0.1\n2 -0.4 0.1\n3 -1 0.1\n4 -0.6 0.1\n";
  std::ofstream(dir / "keep.res") << "old residuals\n";
  std::ofstream(dir / "plot.gnu") << "old script\n";
  std::ofstream(dir / "plot.gdt") << "old data\n";
  struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      // A refit that fails to converge, a data file that cannot be read.
      {{"-m", "periodic", "-e", "1,2", "--residuals", dir / "keep.res", "--gnuplot",
        dir / "plot.gnu", dir / "osc.txt"},
       1},
      {{"--residuals", dir / "keep.res", "--gnuplot", dir / "plot.gnu", dir / "missing.txt"}, 2},
      {{"--residuals", dir / "keep.res", dir / "missing.txt", dir / "osc.txt.none"}, 2},
  };
  for (const auto &c : cases) {
    const outcome o = fit(dir, c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(readall(dir / "keep.res"), "old residuals\n");
    EXPECT_EQ(readall(dir / "plot.gnu"), "old script\n");
    EXPECT_EQ(readall(dir / "plot.gdt"), "old data\n");
    EXPECT_FALSE(leftovers(dir));
  }
}

TEST(FitCommandOutputs, AnOutputThatIsADataFileIsRefused) {
  folder dir;
  linefile(dir / "victim.txt", 5);
  linefile(dir / "victim.gdt", 5);
  const std::string before = readall(dir / "victim.txt");
  std::filesystem::create_symlink(dir / "victim.txt", dir / "alias.res");
  ::symlink("victim.txt", (dir / "relative.gnu").c_str());
  struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--residuals", dir / "victim.txt", dir / "victim.txt"},
       "orvalle-fit: --residuals " + dir / "victim.txt" + " is the data file " +
           dir / "victim.txt"},
      // The same file by another name: a link, or a second path to it.
      {{"--residuals", dir / "alias.res", dir / "victim.txt"}, "is the data file"},
      {{"--residuals", (dir.path / "." / "victim.txt").string(), dir / "victim.txt"},
       "is the data file"},
      {{"--gnuplot", dir / "victim.txt", dir / "victim.txt"}, "is the data file"},
      {{"--gnuplot", dir / "relative.gnu", dir / "victim.txt"}, "is the data file"},
      // The script's data file is the data file.
      {{"--gnuplot", dir / "victim.gnu", dir / "victim.gdt"},
       "--gnuplot " + dir / "victim.gdt" + " is the data file"},
      // Among several data files, the second.
      {{"--residuals", dir / "victim.gdt", dir / "victim.txt", dir / "victim.gdt"},
       "is the data file"},
      // Two outputs into one file.
      {{"--residuals", dir / "out.gnu", "--gnuplot", dir / "out.gnu", dir / "victim.txt"},
       "is also written by another option"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.says);
    const outcome o = fit(dir, c.args);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(readall(dir / "victim.txt"), before);
    EXPECT_EQ(readall(dir / "victim.gdt"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.gnu"));
  }
}

TEST(FitCommandOutputs, AFileSizeLimitIsAFailedWriteNotASignal) {
  folder dir;
  linefile(dir / "line.txt", 400); // residuals of about 25 kB
  std::ofstream(dir / "keep.res") << "old residuals\n";
  std::ofstream(dir / "plot.gnu") << "old script\n";
  std::ofstream(dir / "plot.gdt") << "old data\n";
  // ulimit -f counts blocks of 512 or 1024 bytes: 8 of them hold the old
  // files but not the new ones.
  for (const std::string option : {"--residuals", "--gnuplot"}) {
    SCOPED_TRACE(option);
    const std::string target = option == "--residuals" ? dir / "keep.res" : dir / "plot.gnu";
    std::string cmd = "ulimit -f 8 && " + quoted(kFit) + " " + option + " " + quoted(target) + " " +
                      quoted(dir / "line.txt") + " >/dev/null 2>" + quoted(dir / ".err");
    const int s = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(s)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s), 1);
    EXPECT_NE(readall(dir / ".err").find("File too large"), std::string::npos)
        << readall(dir / ".err");
    EXPECT_EQ(readall(dir / "keep.res"), "old residuals\n");
    EXPECT_EQ(readall(dir / "plot.gnu"), "old script\n");
    EXPECT_EQ(readall(dir / "plot.gdt"), "old data\n");
    EXPECT_FALSE(leftovers(dir));
  }
}

TEST(FitCommandOutputs, LinksAndPermissionsOfOutputsStay) {
  folder dir;
  linefile(dir / "line.txt", 5);
  std::filesystem::create_directory(dir / "real");
  std::ofstream(dir / "real/r.res") << "old\n";
  ::chmod((dir / "real/r.res").c_str(), 0600);
  std::filesystem::create_symlink("real/r.res", dir / "r.res");
  const outcome o = fit(dir, {"--residuals", dir / "r.res", dir / "line.txt"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "r.res"));
  EXPECT_EQ(readall(dir / "real/r.res").rfind("# file: ", 0), 0u);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "real/r.res").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_FALSE(leftovers(dir));
  // Residuals to a device are written there, the device left alone.
  const outcome null = fit(dir, {"--residuals", "/dev/null", dir / "line.txt"});
  EXPECT_EQ(null.status, 0) << null.err;
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(FitCommandSafety, TagsThatAreNotAscii) {
  folder dir;
  std::ofstream(dir / "tags.txt") << "1 2 0.1 β\n2 3 0.1 β\n3 4.1 0.1 β\n"
                                     "1 1 0.1 γ\n2 2 0.1 γ\n3 3.2 0.1 γ\n";
  for (const std::string tag : {"β", "Dataset β", "γ"}) {
    SCOPED_TRACE(tag);
    const outcome o = fit(dir, {"-d", tag, "--json", dir / "tags.txt"});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string name = tag == "γ" ? "Dataset γ" : "Dataset β";
    EXPECT_NE(o.out.find("\"dataset\": \"" + name + "\""), std::string::npos) << o.out;
  }
  const outcome o = fit(dir, {"-d", "δ", dir / "tags.txt"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "There is no dataset \"δ\" in the file; it holds Dataset β, Dataset γ\n");
}

TEST(FitCommandSafety, ALineOfMillionsOfNumbersIsRefusedAtOnce) {
  folder dir;
  {
    std::ofstream out(dir / "wide.txt");
    for (int k = 0; k < 480000; ++k)
      out << "1.5 ";
    out << "1.5\n";
  }
  const outcome o = fit(dir, {dir / "wide.txt"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Unable to Convert to Chart error on row 1, column 475255: a line may hold "
                   "at most 475254 numbers\n");
}

TEST(FitCommandCsv, EveryRowHasAStatusAndEveryVerdictAWord) {
  folder dir;
  // Points exactly on the line, with large errors: a chi-square too small.
  std::ofstream(dir / "=cmd.txt") << "1 3 0.5\n2 5 0.5\n3 7 0.5\n4 9 0.5\n5 11.001 0.5\n";
  std::ofstream(dir / "-1.txt") << "1 -1 0.1\n2 1 0.1\n3 3 0.1\n"; // y = 2 x - 3
  std::ofstream(dir / "@bad.txt") << "1 2 0.1\n2 x 0.1\n";
  std::ofstream(dir / "+zero.txt") << "1 2 0.1\n2 4 0\n3 5 0.1\n";
  // Two points per dataset: no degrees of freedom, no verdict.
  std::ofstream(dir / "pairs.txt") << "1 2 0.1 a\n2 4 0.1 a\n1 3 0.1 b\n2 5.5 0.1 b\n";
  const outcome o = fit(dir, {"--csv", dir / "=cmd.txt", dir / "-1.txt", dir / "@bad.txt",
                              dir / "+zero.txt", dir / "missing.txt"});
  EXPECT_EQ(o.status, 2) << o.err;
  std::vector<std::string> rows;
  for (std::size_t p = 0, q; (q = o.out.find("\r\n", p)) != std::string::npos; p = q + 2)
    rows.push_back(o.out.substr(p, q - p));
  ASSERT_EQ(rows.size(), 6u) << o.out;
  EXPECT_EQ(rows[0], "file,dataset,model,a,a_uncertainty,b,b_uncertainty,chisq,dof,"
                     "reduced_chisq,p_value,verdict,verdict_word,status,reason");
  // The names given here are full paths, which begin with '/'; names that
  // begin otherwise follow. The reason is the message, then the likely
  // cause where one is known.
  struct {
    std::size_t row;
    std::string status; // the fields before the reason
    std::string reason; // how the reason begins
    std::string cause;  // the likely cause after it ("" when none)
  } cases[] = {
      {1, ",-2,too small,fitted,", "", ""},
      {3, ",,,,,,,,,,,not read,", "\"Unable to Convert to Chart error on row 2, column 2",
       "; A line of words"},
      {4, ",,,,,,,,,,,fit failed,", "\"Y error points can not contain ZERO or MINIUS values",
       "; Line 2 holds an error of zero or below"},
      {5, ",,,,,,,,,,,not read,",
       "Cannot read " + dir / "missing.txt" + ": No such file or directory", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.row);
    const std::string &row = rows[c.row];
    const std::string head = c.status + c.reason + c.cause;
    const auto at = row.find(c.status + c.reason);
    ASSERT_NE(at, std::string::npos) << row;
    EXPECT_EQ(row.compare(at, head.size(), head), 0) << row;
    if (c.cause.empty())
      EXPECT_EQ(at + head.size(), row.size()) << row; // nothing after the reason
  }
  // A negative number stays a number.
  EXPECT_TRUE(rows[2].find(",-3,") != std::string::npos ||
              rows[2].find(",-2.99999") != std::string::npos)
      << rows[2];

  // Names that a spreadsheet would run, given relative to the folder.
  std::string cmd = "cd " + quoted(dir.path.string()) + " && " + quoted(kFit) +
                    " --csv -- =cmd.txt -1.txt @bad.txt +zero.txt >.out 2>.err";
  std::system(cmd.c_str());
  const std::string out = readall(dir / ".out");
  for (const std::string cell :
       {"\r\n'=cmd.txt,", "\r\n'-1.txt,", "\r\n'@bad.txt,", "\r\n'+zero.txt,"})
    EXPECT_NE(out.find(cell), std::string::npos) << cell << " in " << out;
  const outcome pairs = fit(dir, {"--csv", "--multi", "same-gradient", dir / "pairs.txt"});
  EXPECT_NE(pairs.out.find(",0,n/a,n/a,,n/a,fitted,\r\n"), std::string::npos) << pairs.out;
}

TEST(FitCommandOutputs, AFullDiskIsAFailedWrite) {
  folder dir;
  const std::string disk = dir / "disk";
  std::filesystem::create_directory(disk);
  // A small file system of its own, where the system lets us make one.
  if (std::system(("mount -t tmpfs -o size=64k tmpfs " + quoted(disk) + " 2>/dev/null").c_str()) !=
      0)
    GTEST_SKIP() << "no tmpfs can be mounted here";
  struct unmount {
    std::string command;
    ~unmount() { std::system(command.c_str()); }
  } mounted{"umount " + quoted(disk)};
  linefile(dir / "line.txt", 2000); // residuals of about 120 kB
  std::ofstream(disk + "/keep.res") << "old residuals\n";
  const outcome o = fit(dir, {"--residuals", disk + "/keep.res", dir / "line.txt"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "Cannot write the residuals to " + disk + "/keep.res: No space left on device\n");
  EXPECT_EQ(readall(disk + "/keep.res"), "old residuals\n");
  std::vector<std::string> left;
  for (const auto &e : std::filesystem::directory_iterator(disk))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"keep.res"});
}
