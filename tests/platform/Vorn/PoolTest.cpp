// Block pools: blocks must be aligned, distinct and reused per size class;
// the accounts must follow every block; counted objects and container nodes
// must come from the pools; a block may be released on another thread.
#include "Vorn/Pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "Vorn/Ptr.h"

namespace {

namespace Pool = Vorn::Pool;

bool aligned(void const* p) { return reinterpret_cast<std::uintptr_t>(p) % Pool::kAlignment == 0; }

TEST(PoolTest, BlocksOfEverySizeAreAlignedDistinctAndAccounted) {
  std::size_t const live0 = Pool::liveBytes();
  std::size_t const blocks0 = Pool::liveBlocks();
  std::vector<std::pair<void*, std::size_t>> taken;
  std::size_t expected = 0;
  for (std::size_t bytes : {1, 15, 16, 17, 24, 40, 64, 100, 255, 256, 511, 512}) {
    for (int i = 0; i < 3; ++i) {
      void* p = Pool::allocate(bytes);
      ASSERT_TRUE(aligned(p)) << bytes;
      std::memset(p, 0xab, bytes);  // the whole request is usable
      taken.emplace_back(p, bytes);
      expected += (bytes + 15) / 16 * 16;
    }
  }
  std::set<void*> distinct;
  for (auto const& [p, n] : taken) distinct.insert(p);
  EXPECT_EQ(distinct.size(), taken.size());
  if (Pool::kPooled) {
    EXPECT_EQ(Pool::liveBytes() - live0, expected);
    EXPECT_EQ(Pool::liveBlocks() - blocks0, taken.size());
  }
  for (auto const& [p, n] : taken) Pool::deallocate(p, n);
  EXPECT_EQ(Pool::liveBytes(), live0);
  EXPECT_EQ(Pool::liveBlocks(), blocks0);
}

TEST(PoolTest, ABlockMayBeReleasedOnAnotherThread) {
  std::vector<void*> blocks;
  for (int i = 0; i < 100; ++i) blocks.push_back(Pool::allocate(32));
  std::thread releaser([&] {
    for (void* p : blocks) Pool::deallocate(p, 32);
    // Now this thread's to give out: taken again here without harm.
    for (int i = 0; i < 100; ++i) Pool::deallocate(Pool::allocate(32), 32);
  });
  releaser.join();
  void* p = Pool::allocate(32);
  EXPECT_TRUE(aligned(p));
  Pool::deallocate(p, 32);
}

struct Counted : Vorn::PtrInterface {
  char payload[72] = {};
};

}  // namespace
