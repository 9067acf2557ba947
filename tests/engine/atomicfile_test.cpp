// Files written whole or not at all: a file-size limit, a full device and a
// writer killed half way leave the old file; symbolic links are written
// through and permissions kept; what a killed writer left is removed by the
// next write.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/atomicfile.h"
#include "tests/engine/scratchfolder.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

struct folder : scratchfolder {
  folder() : scratchfolder("orvalle-atomicfile") {}
};

std::string readall(const std::string &path) { return readwhole(path); }
void writeall(const std::string &path, const std::string &text) { writewhole(path, text); }

mode_t modeof(const std::string &path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

// Runs body in a child process and returns how it ended: its exit status,
// or 128 + the signal that ended it.
template <class F> int inchild(F body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A process id that belonged to a process that has ended.
pid_t endedprocess() {
  const pid_t pid = ::fork();
  if (pid == 0)
    ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

} // namespace

TEST(AtomicFile, NewAndReplacedFiles) {
  folder dir;
  const std::string path = dir / "out.txt";
  ASSERT_EQ(writefilewhole(path, "first\n"), 0);
  EXPECT_EQ(readall(path), "first\n");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(modeof(path), 0666 & ~mask);

  // Permissions of an existing file stay, wider or narrower than usual.
  for (const mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0664)}) {
    ::chmod(path.c_str(), mode);
    ASSERT_EQ(writefilewhole(path, "again\n"), 0);
    EXPECT_EQ(readall(path), "again\n");
    EXPECT_EQ(modeof(path), mode);
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
}

TEST(AtomicFile, SymbolicLinksAreWrittenThrough) {
  folder dir;
  std::filesystem::create_directory(dir / "real");
  writeall(dir / "real/data.txt", "old\n");
  ::chmod((dir / "real/data.txt").c_str(), 0600);
  // A relative link, a link to that link, and a link to a file not yet made.
  std::filesystem::create_symlink("real/data.txt", dir / "link");
  std::filesystem::create_symlink(dir / "link", dir / "link2");
  std::filesystem::create_symlink("real/new.txt", dir / "dangling");
  struct {
    const char *written;
    const char *lands;
  } cases[] = {{"link", "real/data.txt"}, {"link2", "real/data.txt"}, {"dangling", "real/new.txt"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.written);
    const std::string text = std::string("through ") + c.written + "\n";
    ASSERT_EQ(writefilewhole(dir / c.written, text), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / c.written));
    EXPECT_EQ(readall(dir / c.lands), text);
  }
  EXPECT_EQ(modeof(dir / "real/data.txt"), 0600u);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"dangling", "link", "link2", "real"}));

  // A loop of links is refused.
  std::filesystem::create_symlink(dir / "loopb", dir / "loopa");
  std::filesystem::create_symlink(dir / "loopa", dir / "loopb");
  EXPECT_EQ(writefilewhole(dir / "loopa", "x"), ELOOP);
}

TEST(AtomicFile, FailedWritesLeaveTheOldFile) {
  folder dir;
  const std::string path = dir / "out.txt";
  const std::string old = "the old contents\n";
  const std::string text(64 * 1024, 'n');

  // A file-size limit (a full disk as the process sees it): EFBIG, once
  // SIGXFSZ no longer ends the process.
  writeall(path, old);
  const int limited = inchild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit l{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &l);
    return writefilewhole(path, text) == EFBIG ? 0 : 3;
  });
  EXPECT_EQ(limited, 0);
  EXPECT_EQ(readall(path), old);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});

  // A target that is a folder.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(writefilewhole(dir / "folder", text), EISDIR);
  // A folder that is not there.
  EXPECT_EQ(writefilewhole(dir / "missing/out.txt", text), ENOENT);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "out.txt"}));

  // A device has no old contents: it is written in place, and a device
  // that is full says so.
  EXPECT_EQ(writefilewhole("/dev/null", text), 0);
  if (std::filesystem::exists("/dev/full"))
    EXPECT_EQ(writefilewhole("/dev/full", text), ENOSPC);
  struct stat info {};
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(AtomicFile, WriterKilledHalfWayLeavesTheOldFileAndItsLeftoverGoesNextTime) {
  folder dir;
  const std::string path = dir / "out.txt";
  writeall(path, "old\n");
  const int ended = inchild([&] {
    atomicfile f;
    f.open(path);
    f.write(std::string(100000, 'x'));
    ::raise(SIGKILL); // before the file is put in place
    return 3;
  });
  EXPECT_EQ(ended, 128 + SIGKILL);
  EXPECT_EQ(readall(path), "old\n");
  const auto left = dir.names();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].rfind(".out.txt.", 0), 0u) << left[0];

  // A leftover of a writer still running, and a file of the user's that
  // only looks alike, stay.
  writeall(dir / (".out.txt." + std::to_string(::getppid()) + ".abcdef.part").c_str(), "busy");
  writeall(dir / ".out.txt.notes", "mine");
  writeall(dir / (".out.txt." + std::to_string(endedprocess()) + ".uvwxyz.part").c_str(), "gone");
  ASSERT_EQ(writefilewhole(path, "new\n"), 0);
  EXPECT_EQ(readall(path), "new\n");
  EXPECT_EQ(dir.names(),
            (std::vector<std::string>{".out.txt." + std::to_string(::getppid()) + ".abcdef.part",
                                      ".out.txt.notes", "out.txt"}));
}

TEST(AtomicFile, PlacedFileCanBeTakenBack) {
  folder dir;
  const std::string path = dir / "out.txt";
  writeall(path, "old\n");
  {
    atomicfile f;
    ASSERT_EQ(f.open(path), 0);
    f.write("new\n");
    ASSERT_EQ(f.finish(), 0);
    ASSERT_EQ(f.place(true), 0);
    EXPECT_EQ(readall(path), "new\n");
    f.undo();
  }
  EXPECT_EQ(readall(path), "old\n");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
  {
    // Where there was no file, taking back removes the new one.
    atomicfile f;
    ASSERT_EQ(f.open(dir / "fresh.txt"), 0);
    f.write("new\n");
    ASSERT_EQ(f.finish(), 0);
    ASSERT_EQ(f.place(true), 0);
    f.undo();
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
}
