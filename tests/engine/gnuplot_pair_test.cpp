// Writing the gnuplot pair: the script and its data file change together or
// not at all, whether the script's name is taken by a folder or the disk
// fills up (a file size limit stands in for a full disk).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/gnuplotexport.h"
#include "tests/engine/fit_helpers.h"
#include "tests/engine/scratchfolder.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

struct folder : scratchfolder {
  folder() : scratchfolder("orvalle-gnuplot-pair") {}
};

std::string readall(const std::string &path) { return readwhole(path); }
void writeall(const std::string &path, const std::string &text) { writewhole(path, text); }

// A chart whose script is far longer than its data file.
struct chartfixture {
  std::unique_ptr<dataset> d = makedata({1, 2, 3}, {2, 4.1, 5.9}, {0.1, 0.2, 0.1});
  gnuplotchart chart;
  chartfixture() {
    d->name = "Dataset A";
    chart.datasets = {d.get()};
    chart.title = std::string(4000, 't');
  }
};

} // namespace

TEST(GnuplotPair, ScriptNameTakenByAFolderChangesNeither) {
  folder dir;
  chartfixture f;
  std::filesystem::create_directory(dir / "run.gnu");
  std::string why;
  EXPECT_FALSE(writegnuplotfiles(f.chart, dir / "run.gnu", &why));
  EXPECT_NE(why.find(dir / "run.gnu"), std::string::npos) << why;
  // No lone data file, no temporary file.
  EXPECT_EQ(dir.names(), std::vector<std::string>{"run.gnu"});

  // With an old data file beside it, that file stays as it was.
  writeall(dir / "run.gdt", "old data\r\n");
  EXPECT_FALSE(writegnuplotfiles(f.chart, dir / "run.gnu", &why));
  EXPECT_EQ(readall(dir / "run.gdt"), "old data\r\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.gdt", "run.gnu"}));
}

TEST(GnuplotPair, FullDiskChangesNeither) {
  folder dir;
  chartfixture f;
  writeall(dir / "run.gdt", "old data\r\n");
  writeall(dir / "run.gnu", "old script\r\n");
  const std::string data = gnuplotdatafile(f.chart.datasets);
  ASSERT_LT(data.size() + 100, gnuplotscript(f.chart, dir / "run.gdt").size());

  // In a child, so the limit ends with it: the data file fits, the script
  // does not.
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = data.size() + 10;
    rlimit l{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &l);
    std::string why;
    const bool ok = writegnuplotfiles(f.chart, dir / "run.gnu", &why);
    ::_exit(!ok && why.find("File too large") != std::string::npos ? 0 : 3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readall(dir / "run.gdt"), "old data\r\n");
  EXPECT_EQ(readall(dir / "run.gnu"), "old script\r\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.gdt", "run.gnu"}));

  // Without the limit both are replaced, and nothing else is left.
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(f.chart, dir / "run.gnu", &why)) << why;
  EXPECT_EQ(readall(dir / "run.gdt"), data);
  EXPECT_EQ(readall(dir / "run.gnu"), gnuplotscript(f.chart, dir / "run.gdt"));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.gdt", "run.gnu"}));
}

TEST(GnuplotPair, LinksAndPermissionsOfTheOldFilesStay) {
  folder dir;
  chartfixture f;
  std::filesystem::create_directory(dir / "keep");
  writeall(dir / "keep/run.gnu", "old script\r\n");
  writeall(dir / "keep/run.gdt", "old data\r\n");
  ::chmod((dir / "keep/run.gnu").c_str(), 0600);
  ::chmod((dir / "keep/run.gdt").c_str(), 0640);
  std::filesystem::create_symlink("keep/run.gnu", dir / "run.gnu");
  std::filesystem::create_symlink("keep/run.gdt", dir / "run.gdt");
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(f.chart, dir / "run.gnu", &why)) << why;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "run.gnu"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "run.gdt"));
  EXPECT_EQ(readall(dir / "keep/run.gdt"), gnuplotdatafile(f.chart.datasets));
  // The script names the data file by the name it was given.
  EXPECT_EQ(readall(dir / "keep/run.gnu"), gnuplotscript(f.chart, dir / "run.gdt"));
  struct stat info {};
  ASSERT_EQ(::stat((dir / "keep/run.gnu").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat((dir / "keep/run.gdt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"keep", "run.gdt", "run.gnu"}));
}

TEST(GnuplotPair, LeftoversOfAnInterruptedWriteGoAtTheNextWrite) {
  folder dir;
  chartfixture f;
  // What a writer killed between the two renames leaves: the new data
  // file in place, the whole new script and the old data file's spare link
  // under hidden names of a process that has ended.
  const pid_t ended = ::fork();
  if (ended == 0)
    ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string tag = "." + std::to_string(ended);
  writeall(dir / "run.gnu", "old script\r\n");
  writeall(dir / "run.gdt", "new data\r\n");
  writeall(dir / (".run.gnu" + tag + ".Ab3dEf.part").c_str(), "new script\r\n");
  writeall(dir / (".run.gdt" + tag + ".Zz9yXw.part").c_str(), "old data\r\n");
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(f.chart, dir / "run.gnu", &why)) << why;
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.gdt", "run.gnu"}));
  EXPECT_EQ(readall(dir / "run.gdt"), gnuplotdatafile(f.chart.datasets));
}

TEST(GnuplotPair, WriterKilledBeforeTheRenamesChangesNeither) {
  folder dir;
  chartfixture f;
  writeall(dir / "run.gdt", "old data\r\n");
  writeall(dir / "run.gnu", "old script\r\n");
  // A file-size limit that lets a part of the script through, with SIGXFSZ
  // left as it is: the writer dies in the middle of the script.
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlim_t limit = gnuplotdatafile(f.chart.datasets).size() + 100;
    rlimit l{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &l);
    std::string why;
    writegnuplotfiles(f.chart, dir / "run.gnu", &why);
    ::_exit(3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(readall(dir / "run.gdt"), "old data\r\n");
  EXPECT_EQ(readall(dir / "run.gnu"), "old script\r\n");
  // Its half files go with the next write.
  EXPECT_GT(dir.names().size(), 2u);
  std::string why;
  ASSERT_TRUE(writegnuplotfiles(f.chart, dir / "run.gnu", &why)) << why;
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"run.gdt", "run.gnu"}));
}
