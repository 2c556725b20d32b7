#include "runner/heap_reuse.h"

#include <cstdlib>

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr std::size_t kBig = std::size_t{64} << 20;  // above the allocator's own mmap ceiling

void* volatile g_sink = nullptr;

struct Sizes {
  std::size_t mapped, freeInHeap;
};

Sizes AfterBigAllocation(bool freeIt) {
  g_sink = std::malloc(kBig);
  EXPECT_NE(g_sink, nullptr);
  if (freeIt) std::free(g_sink);
  const struct mallinfo2 info = mallinfo2();
  if (!freeIt) std::free(g_sink);
  return {info.hblkhd, info.fordblks};
}

// A large block is mapped apart and given back at once by default; once tuned, it comes from the
// heap and stays there, free, for the next one. Tuning through the environment takes precedence.
TEST(HeapReuse, LargeBlocksStayInTheHeapUnlessTheUserTunedTheAllocator) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "glibc's allocator is not the one in use";
#else
  const Sizes before = AfterBigAllocation(false);
  ASSERT_GE(before.mapped, kBig) << "a 64 MiB block is mapped apart by default";

  setenv("GLIBC_TUNABLES", "glibc.malloc.check=0", 1);
  ortavia::KeepFreedMemoryForReuse();
  EXPECT_GE(AfterBigAllocation(false).mapped, kBig) << "the user's tuning was overridden";

  unsetenv("GLIBC_TUNABLES");
  ortavia::KeepFreedMemoryForReuse();
  EXPECT_LT(AfterBigAllocation(false).mapped, kBig);
  EXPECT_GE(AfterBigAllocation(true).freeInHeap, kBig);
#endif
}

}  // namespace
