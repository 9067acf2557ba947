// The thread that readies pages ahead of the conversion's writes.
#include "app/fitcli_pages.h"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvalle::cli {

namespace {

// A range is asked for once this much more of it is wanted, and readied
// this much at a time, so that the writer's own faults, which wait for the
// address space's lock, never wait long.
constexpr std::size_t kStep = std::size_t(256) << 10;

std::uintptr_t pagesize() {
  static const auto size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

struct range {
  std::uintptr_t from = 0;
  std::uintptr_t to = 0;
};

// Readies the whole pages of [from, to); false once the system cannot
// (a kernel older than 5.14 knows no MADV_POPULATE_WRITE).
bool ready(range r) {
  const std::uintptr_t page = pagesize();
  const std::uintptr_t from = r.from & ~(page - 1);
  const std::uintptr_t to = r.to & ~(page - 1);
  if (to <= from)
    return true;
  if (::madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE) == 0)
    return true;
  // Memory that is gone or not writable (an array that moved) is simply
  // not readied; anything else means the system cannot do it.
  return errno == ENOMEM || errno == EFAULT || errno == EINTR || errno == EAGAIN ||
         errno == EHWPOISON;
}

} // namespace

struct pagesahead::state {
  std::size_t ahead = 0;

  // What the writer has asked for so far, per array: where it starts and
  // the end of what was asked. Only the writer's thread touches these.
  struct asked {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
  };
  std::vector<asked> arrays;

  std::mutex lock;
  std::condition_variable changed;
  std::vector<range> waiting; // asked for, not yet begun
  bool busy = false;          // the thread is readying a range
  bool stopping = false;
  bool unable = false; // the system cannot ready pages: asking stops
  std::thread worker;

  void work() {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
      changed.wait(hold, [this] { return stopping || !waiting.empty(); });
      if (stopping || unable)
        break;
      const range r = waiting.front();
      waiting.erase(waiting.begin());
      busy = true;
      hold.unlock();
      bool able = true;
      for (std::uintptr_t from = r.from; able && from < r.to; from += kStep)
        able = ready({from, std::min(r.to, from + kStep)});
      hold.lock();
      busy = false;
      if (!able) {
        unable = true;
        waiting.clear();
      }
      changed.notify_all();
    }
    waiting.clear();
    changed.notify_all();
  }
};

pagesahead::pagesahead(std::size_t ahead) : s_(std::make_unique<state>()) {
  s_->ahead = ahead;
  try {
    s_->worker = std::thread([s = s_.get()] { s->work(); });
  } catch (const std::system_error &) {
    s_->unable = true; // no thread: the writer faults its pages itself
  }
}

pagesahead::~pagesahead() {
  {
    std::lock_guard<std::mutex> hold(s_->lock);
    s_->stopping = true;
  }
  s_->changed.notify_all();
  if (s_->worker.joinable())
    s_->worker.join();
}

void pagesahead::want(std::size_t array, const void *start, std::size_t bytes,
                      std::size_t used) noexcept {
  try {
    state &s = *s_;
    if (!start || used >= bytes)
      return;
    if (array >= s.arrays.size())
      s.arrays.resize(array + 1);
    auto &a = s.arrays[array];
    const auto begin = reinterpret_cast<std::uintptr_t>(start);
    if (a.start != begin)
      a = {begin, begin};
    const std::uintptr_t end = begin + used + std::min(s.ahead, bytes - used);
    const std::uintptr_t from = std::max(a.end, begin + used);
    if (end <= from || end - from < std::min(kStep, s.ahead))
      return;
    {
      std::lock_guard<std::mutex> hold(s.lock);
      if (s.unable || s.stopping)
        return;
      s.waiting.push_back({from, end});
    }
    a.end = end;
    s.changed.notify_one();
  } catch (...) {
    // Nothing readied: the writer faults the pages in itself.
  }
}

void pagesahead::settle() {
  std::unique_lock<std::mutex> hold(s_->lock);
  s_->changed.wait(hold, [s = s_.get()] { return s->unable || (s->waiting.empty() && !s->busy); });
}

bool pagesahead::worthwhile() noexcept {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0)
    return false;
  return CPU_COUNT(&cpus) >= 2;
}

} // namespace orvalle::cli
