// Files written whole or not at all. The text goes to a temporary file
// beside the target, is flushed to the disk and renamed over the target
// only when it is complete, so that a full disk, a file-size limit, a
// failed run or a process killed mid-write leaves the old file as it was.
// As editors do, a symbolic link is written through to the file it names,
// and an existing file keeps its permissions.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace orvalle {

// Where a write to path lands: path itself, or the file a symbolic link
// (or a chain of them) at path finally names, whether or not that file
// exists. Empty, with the reason in *err, for a loop of links.
std::string writetarget(const std::string &path, int *err);

// Removes what interrupted writes to target left beside it: the
// temporary files of processes that no longer run (or that are more than a
// day old). Files of a write still going on are left alone.
void removeleftovers(const std::string &target);

// One file being written. open() makes the temporary file, write() adds
// to it, commit() puts it in place. Nothing reaches the target before
// commit(); an atomicfile dropped without commit() removes its temporary
// file. Every step returns 0 or the errno of the failure (EFBIG and
// ENOSPC are failures like any other; a caller that must survive a
// file-size limit ignores SIGXFSZ).
//
// A target that is a device or a FIFO (/dev/null, /dev/stdout on a pipe)
// is written in place: it has no old contents to keep.
class atomicfile {
public:
  atomicfile() = default;
  ~atomicfile();
  atomicfile(const atomicfile &) = delete;
  atomicfile &operator=(const atomicfile &) = delete;

  int open(const std::string &path);
  int write(std::string_view text);
  // finish() then place().
  int commit();
  // Flushes the text to the disk, gives the file the target's permissions
  // and closes it, without renaming it yet.
  int finish();
  // Renames the finished file over the target. With keepold, the old
  // target stays reachable under a spare name until settle(), so that
  // undo() can put it back.
  int place(bool keepold = false);
  // After place(true): the old file back in place (or the new one removed
  // when there was none).
  void undo();
  // After place(true): forgets the old file.
  void settle();
  // Drops the temporary file; the target stays as it was.
  void discard();

  bool isopen() const noexcept { return fd_ >= 0; }
  // The file that place() replaces (the symbolic links resolved).
  const std::string &target() const noexcept { return target_; }

private:
  int fail(int err);

  std::string target_;
  std::string temp_;
  std::string spare_;
  bool hadold_ = false;  // place(true) found an old file
  bool keptold_ = false; // place(true) was asked
  bool direct_ = false;  // a device or FIFO, written in place
  bool exists_ = false;  // the target existed when opened
  mode_t mode_ = 0;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  int fd_ = -1;
  int err_ = 0;
};

// Writes text to path whole or not at all. Returns 0 or the errno of the
// failure.
int writefilewhole(const std::string &path, std::string_view text);

} // namespace orvalle
