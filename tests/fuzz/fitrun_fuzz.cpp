// Fuzz harness: whole runs of the batch command, options and data file
// together. The input is the command line, one argument a line, up to a
// NUL byte, then the data file's bytes. Each run works in a folder of its
// own under the temporary folder: the data file is written there as
// data.txt and given as the last argument, and no argument may hold a '/'
// (each becomes '_'), so every file a run reads or writes (--residuals,
// --gnuplot) lies in that folder. What the command prints is dropped.
// Failures the command reports are expected; crashes, hangs and undefined
// behaviour are findings.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/fitcli.h"

namespace {

constexpr std::size_t kMostArguments = 24;

// The run's folder, made once.
const std::string &workfolder() {
  static const std::string folder = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvalle-fitrun-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
      std::abort();
    // Plug-ins come from nowhere but the program's own folder.
    ::unsetenv("ORVALLE_CUSTOMFIT");
    return std::string(name.data());
  }();
  return folder;
}

// The work folder as the current folder while it lives: libFuzzer reads
// its corpus by the names it was given, from the folder it started in.
class inworkfolder {
public:
  inworkfolder() : back_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (back_ < 0 || ::chdir(workfolder().c_str()) != 0)
      std::abort();
  }
  ~inworkfolder() {
    if (::fchdir(back_) != 0)
      std::abort();
    ::close(back_);
  }
  inworkfolder(const inworkfolder &) = delete;
  inworkfolder &operator=(const inworkfolder &) = delete;

private:
  int back_;
};

// Empties the folder: every run starts from the data file alone.
void clearfolder() {
  DIR *dir = ::opendir(".");
  if (!dir)
    return;
  std::vector<std::string> names;
  while (const dirent *e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  ::closedir(dir);
  for (const auto &n : names)
    if (::unlink(n.c_str()) != 0)
      ::rmdir(n.c_str());
}

std::vector<std::string> arguments(std::string_view text) {
  std::vector<std::string> args;
  while (!text.empty() && args.size() < kMostArguments) {
    const auto nl = text.find('\n');
    std::string a(text.substr(0, nl));
    for (char &c : a)
      if (c == '/')
        c = '_';
    args.push_back(std::move(a));
    if (nl == std::string_view::npos)
      break;
    text.remove_prefix(nl + 1);
  }
  return args;
}

// Sends stdout and stderr of the C library to /dev/null while it lives;
// the sanitizers and libFuzzer write to the descriptors themselves and are
// still heard.
class silence {
public:
  silence() {
    static std::FILE *const null = std::fopen("/dev/null", "w");
    out_ = stdout;
    err_ = stderr;
    if (null)
      stdout = stderr = null;
  }
  ~silence() {
    std::fflush(stdout);
    stdout = out_;
    stderr = err_;
  }
  silence(const silence &) = delete;
  silence &operator=(const silence &) = delete;

private:
  std::FILE *out_;
  std::FILE *err_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size > 4096)
    return 0;
  static const bool cleanup = [] {
    // The folder goes when the fuzzer ends (its name is made first, so that
    // it outlives the handler).
    workfolder();
    std::atexit([] {
      {
        inworkfolder in;
        clearfolder();
      }
      ::rmdir(workfolder().c_str());
    });
    return true;
  }();
  (void)cleanup;
  inworkfolder in;
  clearfolder();
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const auto nul = input.find('\0');
  if (nul == std::string_view::npos)
    return 0;
  std::vector<std::string> args = arguments(input.substr(0, nul));
  const std::string_view text = input.substr(nul + 1);
  if (std::FILE *f = std::fopen("data.txt", "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  args.emplace_back("data.txt");
  silence quiet;
  orvalle::cli::run(args);
  return 0;
}
