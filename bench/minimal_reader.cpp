// The least a program can do to fit a weighted straight line to a large
// file of "x y err" lines: the file memory-mapped, each number read with
// std::from_chars, the weighted sums kept as the lines pass, nothing
// stored. bench/compare runs it beside orvalle-fit as the floor a
// single-threaded reader reaches, and with --threads 2 as the floor of a
// reader that splits the file in two halves at a line break, each summed
// on its own thread (its sums then add in another order).
//
// Usage: orvalle-minimal-reader [--threads N] FILE
// Prints the slope and the intercept, as numpy's polyfit orders them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

bool isspace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads one number at p (after blanks); false at the end of the line.
bool number(const char *&p, const char *end, double &v) {
  while (p != end && isspace(*p))
    ++p;
  if (p == end || *p == '\n')
    return false;
  const auto [stop, ec] = std::from_chars(p, end, v);
  if (ec != std::errc())
    return false;
  p = stop;
  return true;
}

struct sums {
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  long n = 0;
};

// The sums over the lines from p to end (which begin and end at lines).
sums sumlines(const char *p, const char *const end) {
  sums s;
  while (p != end) {
    double x, y, e;
    if (number(p, end, x) && number(p, end, y) && number(p, end, e)) {
      const double w = 1.0 / (e * e);
      s.sw += w;
      s.sx += w * x;
      s.sy += w * y;
      s.sxx += w * x * x;
      s.sxy += w * x * y;
      ++s.n;
    }
    const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    p = lf ? static_cast<const char *>(lf) + 1 : end;
  }
  return s;
}

// The sums in parts parts, each on its own thread, split after line breaks.
sums sumparts(const char *begin, const char *end, int parts) {
  std::vector<const char *> at{begin};
  const auto size = static_cast<std::size_t>(end - begin);
  for (int k = 1; k < parts; ++k) {
    const char *p = std::max(at.back(), begin + size * static_cast<std::size_t>(k) / parts);
    const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    at.push_back(lf ? static_cast<const char *>(lf) + 1 : end);
  }
  at.push_back(end);
  std::vector<sums> part(static_cast<std::size_t>(parts));
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < part.size(); ++k)
    threads.emplace_back([&, k] { part[k] = sumlines(at[k], at[k + 1]); });
  part[0] = sumlines(at[0], at[1]);
  for (std::thread &t : threads)
    t.join();
  sums s;
  for (const sums &q : part) {
    s.sw += q.sw, s.sx += q.sx, s.sy += q.sy, s.sxx += q.sxx, s.sxy += q.sxy;
    s.n += q.n;
  }
  return s;
}

} // namespace

int main(int argc, char **argv) {
  int parts = 1;
  if (argc == 4 && std::string(argv[1]) == "--threads") {
    parts = std::max(1, std::atoi(argv[2]));
    argv += 2;
    argc -= 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [--threads N] FILE\n", argv[0]);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  void *map = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
  if (map == MAP_FAILED) {
    std::perror(argv[1]);
    return 2;
  }
  ::madvise(map, size, MADV_SEQUENTIAL);
  const char *p = static_cast<const char *>(map);
  const sums s = parts > 1 ? sumparts(p, p + size, parts) : sumlines(p, p + size);
  const double det = s.sw * s.sxx - s.sx * s.sx;
  if (s.n < 2 || det == 0) {
    std::fprintf(stderr, "%s: fewer than two distinct points\n", argv[1]);
    return 1;
  }
  const double slope = (s.sw * s.sxy - s.sx * s.sy) / det;
  const double intercept = (s.sxx * s.sy - s.sx * s.sxy) / det;
  std::printf("%.17g %.17g\n", slope, intercept);
  return 0;
}
