// Memory set-up of orvalle-fit. A large data file passes through a few big
// arrays (the columns, the weights made in the place of the errors). They
// are kept on one heap that is grown once, asked for transparent huge pages
// up to a size, and used again as arrays are freed.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "app/fitcli.h"

namespace orvalle::cli {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kLargest = std::size_t(1) << 30;
// Huge pages are asked for up to this file size only. A few dozen of them
// come zeroed faster than their small pages fault in, but for a file of
// hundreds of megabytes the time the kernel took to zero fresh huge pages
// varied from run to run (0.1 to 0.5 s of system time for 10^7 lines),
// where small pages cost a steady 0.15 to 0.2 s.
constexpr std::size_t kHugeUpTo = std::size_t(64) << 20;
} // namespace

void tuneheap() {
  // Blocks up to 1 GiB come from the heap rather than from mappings of their
  // own, and the heap is not given back while the run lasts.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargest));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(kLargest));
}

void reserveheap(std::size_t filebytes) {
  if (filebytes < 4 * kHugePage)
    return;
  // The column layout needs about three times the file at its peak; the
  // room is address space only until it is used.
  std::size_t bytes = filebytes > kLargest / 4 ? kLargest : 4 * filebytes;
  // Under a limit on the address space the room is kept to a quarter of
  // it, so that the heap grown here leaves the rest for what the run needs.
  if (rlimit limit{}; ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    bytes = std::min<std::size_t>(bytes, limit.rlim_cur / 4);
  void *block = std::malloc(bytes);
  if (!block)
    return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  if (last > first && filebytes <= kHugeUpTo)
    madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE); // a hint only
  std::free(block);
}

} // namespace orvalle::cli
