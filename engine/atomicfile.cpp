#include "engine/atomicfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace orvalle {

namespace {

// Temporary files are named ".NAME.PID.XXXXXX.part" beside NAME: hidden,
// and telling which process made them.
constexpr std::string_view kSuffix = ".part";
constexpr int kMostLinks = 40;
constexpr std::time_t kStaleAfter = 24 * 60 * 60;

std::string folderof(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseof(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string tempprefix(const std::string &target) { return "." + baseof(target) + "."; }

// A new empty temporary file beside target; its descriptor, or -1 with
// errno set.
int maketemporary(const std::string &target, std::string &name) {
  std::string pattern = folderof(target) + tempprefix(target) + std::to_string(::getpid()) +
                        ".XXXXXX" + std::string(kSuffix);
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkostemps(buf.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
  if (fd >= 0)
    name.assign(buf.data());
  return fd;
}

// The process id in a temporary file's name after its prefix
// ("PID.XXXXXX.part"); 0 when the name is not one of ours.
pid_t writerof(std::string_view rest) {
  if (rest.size() <= kSuffix.size() + 7 || rest.substr(rest.size() - kSuffix.size()) != kSuffix)
    return 0;
  rest.remove_suffix(kSuffix.size() + 7); // ".XXXXXX" and the suffix
  if (rest.empty() || rest.size() > 10)
    return 0;
  long pid = 0;
  for (const char c : rest) {
    if (c < '0' || c > '9')
      return 0;
    pid = pid * 10 + (c - '0');
  }
  return static_cast<pid_t>(pid);
}

bool writergone(pid_t pid, const struct stat &info) {
  if (pid == ::getpid())
    return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH)
    return true;
  return std::time(nullptr) - info.st_mtime > kStaleAfter;
}

void syncfolder(const std::string &target) {
  const std::string folder = folderof(target);
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd); // the rename on the disk too; a failure here loses nothing
    ::close(fd);
  }
}

int writeall(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (n == 0)
      return EIO;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

mode_t newfilemode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

} // namespace

std::string writetarget(const std::string &path, int *err) {
  std::string p = path;
  for (int k = 0; k < kMostLinks; ++k) {
    struct stat info {};
    if (::lstat(p.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return p;
    std::vector<char> buf(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 2);
    const ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size() - 1);
    if (n < 0)
      return p;
    const std::string link(buf.data(), static_cast<std::size_t>(n));
    p = !link.empty() && link[0] == '/' ? link : folderof(p) + link;
  }
  if (err)
    *err = ELOOP;
  return {};
}

void removeleftovers(const std::string &target) {
  const std::string folder = folderof(target);
  const std::string prefix = tempprefix(target);
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                           ::closedir);
  if (!dir)
    return;
  const uid_t me = ::geteuid();
  while (const dirent *e = ::readdir(dir.get())) {
    const std::string_view name(e->d_name);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
      continue;
    const pid_t pid = writerof(name.substr(prefix.size()));
    const std::string path = folder + std::string(name);
    struct stat info {};
    if (pid > 0 && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == me && writergone(pid, info))
      ::unlink(path.c_str());
  }
}

atomicfile::~atomicfile() {
  discard();
  settle();
}

int atomicfile::fail(int err) {
  if (!err_)
    err_ = err;
  return err;
}

int atomicfile::open(const std::string &path) {
  discard();
  err_ = 0;
  if (path.empty())
    return fail(ENOENT);
  int err = 0;
  target_ = writetarget(path, &err);
  if (target_.empty())
    return fail(err);
  struct stat info {};
  exists_ = ::stat(target_.c_str(), &info) == 0;
  if (exists_ && S_ISDIR(info.st_mode))
    return fail(EISDIR);
  if (exists_ && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
    // Nothing to keep: written in place, as it comes.
    direct_ = true;
    fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return fd_ < 0 ? fail(errno) : 0;
  }
  direct_ = false;
  mode_ = exists_ ? (info.st_mode & 07777) : newfilemode();
  uid_ = info.st_uid;
  gid_ = info.st_gid;
  removeleftovers(target_);
  fd_ = maketemporary(target_, temp_);
  return fd_ < 0 ? fail(errno) : 0;
}

int atomicfile::write(std::string_view text) {
  if (err_)
    return err_;
  if (fd_ < 0)
    return fail(EBADF);
  return fail(writeall(fd_, text));
}

int atomicfile::finish() {
  if (err_)
    return err_;
  if (fd_ < 0)
    return temp_.empty() && !direct_ ? fail(EBADF) : 0;
  if (!direct_) {
    // The target's permissions, and its owner where that may be given.
    if (::fchmod(fd_, mode_) != 0)
      return fail(errno);
    struct stat mine {};
    if (exists_ && ::fstat(fd_, &mine) == 0 && (mine.st_uid != uid_ || mine.st_gid != gid_) &&
        ::fchown(fd_, uid_, gid_) != 0) {
      // Not allowed to: the file becomes the writer's, as with an editor.
    }
    // A full disk may only show when the data reach it.
    if (::fsync(fd_) != 0)
      return fail(errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0)
    return fail(errno);
  return 0;
}

int atomicfile::place(bool keepold) {
  if (direct_)
    return err_;
  if (err_)
    return err_;
  if (fd_ >= 0 || temp_.empty())
    return fail(EBADF);
  hadold_ = false;
  keptold_ = keepold;
  if (keepold) {
    struct stat info {};
    if (::lstat(target_.c_str(), &info) == 0) {
      // A second link to the old file, under a name of our own.
      const int fd = maketemporary(target_, spare_);
      if (fd < 0)
        return fail(errno);
      ::close(fd);
      ::unlink(spare_.c_str());
      if (::link(target_.c_str(), spare_.c_str()) != 0 &&
          ::rename(target_.c_str(), spare_.c_str()) != 0) {
        spare_.clear();
        return fail(errno);
      }
      hadold_ = true;
    }
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    undo();
    return fail(err);
  }
  temp_.clear();
  syncfolder(target_);
  return 0;
}

void atomicfile::undo() {
  if (!keptold_)
    return;
  keptold_ = false;
  if (hadold_ && !spare_.empty()) {
    ::rename(spare_.c_str(), target_.c_str());
    spare_.clear();
  } else if (temp_.empty() && !direct_ && !target_.empty()) {
    ::unlink(target_.c_str());
  }
  hadold_ = false;
}

void atomicfile::settle() {
  if (!spare_.empty())
    ::unlink(spare_.c_str());
  spare_.clear();
  hadold_ = keptold_ = false;
}

int atomicfile::commit() {
  if (const int err = finish())
    return err;
  return place();
}

void atomicfile::discard() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  if (!temp_.empty())
    ::unlink(temp_.c_str());
  temp_.clear();
}

int writefilewhole(const std::string &path, std::string_view text) {
  atomicfile f;
  if (const int err = f.open(path))
    return err;
  if (const int err = f.write(text))
    return err;
  return f.commit();
}

} // namespace orvalle
