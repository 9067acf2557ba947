// pagesahead readies the pages just ahead of a writer, and only those, and
// never changes what the memory holds. Residence is read with mincore on
// fresh anonymous memory kept on small pages.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/fitcli_pages.h"

using orvalle::cli::pagesahead;

namespace {

const std::size_t kPage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
constexpr std::size_t kMiB = std::size_t(1) << 20;

// Fresh private anonymous memory: no page of it is in until touched.
class freshmemory {
public:
  explicit freshmemory(std::size_t bytes) : bytes_(bytes) {
    void *p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
    if (base_)
      ::madvise(base_, bytes, MADV_NOHUGEPAGE);
  }
  ~freshmemory() {
    if (base_)
      ::munmap(base_, bytes_);
  }
  freshmemory(const freshmemory &) = delete;
  freshmemory &operator=(const freshmemory &) = delete;

  unsigned char *base() const { return base_; }
  // How many pages of [from, to) are in memory.
  std::size_t resident(std::size_t from, std::size_t to) const {
    std::vector<unsigned char> in((to - from + kPage - 1) / kPage);
    if (::mincore(base_ + from, to - from, in.data()) != 0)
      return static_cast<std::size_t>(-1);
    std::size_t n = 0;
    for (unsigned char b : in)
      n += b & 1;
    return n;
  }
  std::size_t pages(std::size_t from, std::size_t to) const { return (to - from) / kPage; }

private:
  unsigned char *base_ = nullptr;
  std::size_t bytes_ = 0;
};

// Whether this kernel can populate pages for writing (Linux 5.14 on).
bool canpopulate() {
  freshmemory probe(kPage);
  return probe.base() && ::madvise(probe.base(), kPage, MADV_POPULATE_WRITE) == 0;
}

// Every test needs a kernel that can populate pages for writing.
class PagesAhead : public ::testing::Test {
protected:
  void SetUp() override {
    if (!canpopulate())
      GTEST_SKIP() << "the kernel cannot populate pages for writing";
  }
};

} // namespace

TEST_F(PagesAhead, ReadiesThePagesJustAheadOfTheWriterAndNoOthers) {
  const std::size_t room = 16 * kMiB;
  freshmemory a(room), b(room);
  ASSERT_TRUE(a.base() && b.base());
  ASSERT_EQ(a.resident(0, room), 0u);

  pagesahead pages(kMiB);
  // Nothing written yet: the first MiB is readied.
  pages.want(0, a.base(), room, 0);
  pages.settle();
  EXPECT_EQ(a.resident(0, kMiB), a.pages(0, kMiB));
  EXPECT_EQ(a.resident(kMiB, room), 0u);

  // The writer is at 4 MiB: 4 to 5 MiB is readied; what it skipped is not.
  pages.want(0, a.base(), room, 4 * kMiB);
  pages.settle();
  EXPECT_EQ(a.resident(kMiB, 4 * kMiB), 0u);
  EXPECT_EQ(a.resident(4 * kMiB, 5 * kMiB), a.pages(4 * kMiB, 5 * kMiB));
  EXPECT_EQ(a.resident(5 * kMiB, room), 0u);

  // A second array is followed on its own; the readied part ends with the
  // room.
  pages.want(1, b.base(), 15 * kMiB + kMiB / 2, 15 * kMiB);
  pages.settle();
  EXPECT_EQ(b.resident(0, 15 * kMiB), 0u);
  EXPECT_EQ(b.resident(15 * kMiB, 15 * kMiB + kMiB / 2), a.pages(0, kMiB / 2));
  EXPECT_EQ(b.resident(15 * kMiB + kMiB / 2, room), 0u);

  // Asked again for what it has done, or for a full array, it does nothing.
  pages.want(0, a.base(), room, 4 * kMiB);
  pages.want(0, a.base(), 4 * kMiB, 4 * kMiB);
  pages.settle();
  EXPECT_EQ(a.resident(0, room), a.pages(0, 2 * kMiB));
}

TEST_F(PagesAhead, NeverChangesWhatTheMemoryHolds) {
  const std::size_t room = 4 * kMiB;
  freshmemory a(room);
  ASSERT_TRUE(a.base());
  // The writer has filled the first 100 KiB and part of a page past it.
  const std::size_t written = 100 * 1024 + 123;
  for (std::size_t i = 0; i < written; ++i)
    a.base()[i] = static_cast<unsigned char>(i * 7 + 1);

  pagesahead pages(2 * kMiB);
  pages.want(0, a.base(), room, written);
  pages.settle();
  for (std::size_t i = 0; i < written; ++i)
    ASSERT_EQ(a.base()[i], static_cast<unsigned char>(i * 7 + 1)) << "byte " << i;
  // The readied pages read as zero, as fresh memory does.
  for (std::size_t i = written; i < 2 * kMiB; ++i)
    ASSERT_EQ(a.base()[i], 0) << "byte " << i;
  EXPECT_EQ(a.resident(0, 2 * kMiB), a.pages(0, 2 * kMiB));
}

TEST_F(PagesAhead, AnArrayThatMovedIsFollowedAtItsNewPlace) {
  const std::size_t room = 8 * kMiB;
  freshmemory first(room), second(room);
  ASSERT_TRUE(first.base() && second.base());
  pagesahead pages(kMiB);
  pages.want(0, first.base(), room, 2 * kMiB);
  pages.settle();
  // The array grew past its room and now lives in second, written to 3 MiB.
  pages.want(0, second.base(), room, 3 * kMiB);
  pages.settle();
  EXPECT_EQ(second.resident(0, 3 * kMiB), 0u);
  EXPECT_EQ(second.resident(3 * kMiB, 4 * kMiB), second.pages(3 * kMiB, 4 * kMiB));
  EXPECT_EQ(first.resident(3 * kMiB, room), 0u);
}

TEST_F(PagesAhead, MemoryThatIsGoneIsPassedOverAndLaterAsksStillWork) {
  const std::size_t room = 4 * kMiB;
  freshmemory later(room);
  ASSERT_TRUE(later.base());
  pagesahead pages(kMiB);
  {
    void *gone = ::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(gone, MAP_FAILED);
    ::munmap(gone, room);
    pages.want(0, gone, room, 0); // unmapped: not readied, no crash
    pages.settle();
  }
  pages.want(1, later.base(), room, 0);
  pages.settle();
  EXPECT_EQ(later.resident(0, kMiB), later.pages(0, kMiB));
}
