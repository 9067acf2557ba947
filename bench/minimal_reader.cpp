// The least a program can do to fit a weighted straight line to a large
// file of "x y err" lines: the file memory-mapped, each number read with
// std::from_chars, the weighted sums kept as the lines pass, nothing
// stored. bench/compare runs it beside orvalle-fit as the floor a
// single-threaded reader reaches.
//
// Usage: orvalle-minimal-reader FILE
// Prints the slope and the intercept, as numpy's polyfit orders them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <system_error>

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

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
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
  const char *const end = p + size;
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  long n = 0;
  while (p != end) {
    double x, y, e;
    if (number(p, end, x) && number(p, end, y) && number(p, end, e)) {
      const double w = 1.0 / (e * e);
      sw += w;
      sx += w * x;
      sy += w * y;
      sxx += w * x * x;
      sxy += w * x * y;
      ++n;
    }
    const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    p = lf ? static_cast<const char *>(lf) + 1 : end;
  }
  const double det = sw * sxx - sx * sx;
  if (n < 2 || det == 0) {
    std::fprintf(stderr, "%s: fewer than two distinct points\n", argv[1]);
    return 1;
  }
  const double slope = (sw * sxy - sx * sy) / det;
  const double intercept = (sxx * sy - sx * sxy) / det;
  std::printf("%.17g %.17g\n", slope, intercept);
  return 0;
}
