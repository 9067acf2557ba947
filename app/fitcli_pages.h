// Pages of memory made ready, on a thread of their own, just ahead of a
// writer that fills a few arrays from their start, as the conversion fills
// a large file's columns. Fresh pages are otherwise faulted in, and zeroed,
// one at a time by the writer itself: for 10^7 lines, about 60,000 faults
// and a sixth of orvalle-fit's time. The pages are readied with
// madvise(MADV_POPULATE_WRITE), which never changes what the memory holds,
// so the writer and the thread need no other agreement than the ranges.
#pragma once

#include <cstddef>
#include <memory>

namespace orvalle::cli {

class pagesahead {
public:
  // ahead: how many bytes past the used part of each range are readied.
  explicit pagesahead(std::size_t ahead = kAhead);
  // Stops the thread, dropping the work not yet begun, and waits for it.
  ~pagesahead();
  pagesahead(const pagesahead &) = delete;
  pagesahead &operator=(const pagesahead &) = delete;

  // The writer of array `array` (0, 1, ...), which starts at start and has
  // room for bytes bytes, has written used of them: the pages up to
  // used + ahead (within the room) are readied. Pages asked for once are
  // not asked for again; a new start begins the array afresh. Never blocks
  // on the thread's work; never throws (a failure only readies nothing).
  void want(std::size_t array, const void *start, std::size_t bytes, std::size_t used) noexcept;

  // Waits until every page asked for has been readied or given up.
  void settle();

  // Whether readying pages ahead can pay here: a second processor to run
  // the thread on.
  static bool worthwhile() noexcept;

  static constexpr std::size_t kAhead = std::size_t(2) << 20;

private:
  struct state;
  std::unique_ptr<state> s_;
};

} // namespace orvalle::cli
