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

using namespace orvalle;
using namespace orvalle::testing;

namespace {

struct folder {
  std::filesystem::path path;
  folder() {
    char name[] = "/tmp/orvalle-gnuplot-pair-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const char *name) const { return (path / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(path))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeall(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

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
