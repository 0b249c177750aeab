#include "Vorn/Pool.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>

namespace Vorn::Pool {

namespace {

constexpr std::size_t kClasses = kMaxBytes / kAlignment;
// A slab holds at least this many blocks of its class, and at least kSlabBytes.
constexpr std::size_t kSlabBlocks = 32;
constexpr std::size_t kSlabBytes = 16 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

struct SizeClass {
  FreeBlock* free = nullptr;
  char* bump = nullptr;  // the untouched rest of the newest slab
  char* end = nullptr;
};

struct ThreadPools {
  std::array<SizeClass, kClasses> classes{};
  // Signed: a block released here may have been taken on another thread.
  std::ptrdiff_t liveBytes = 0;
  std::ptrdiff_t liveBlocks = 0;
  std::size_t slabBytes = 0;
  std::size_t slabs = 0;
};

// Slabs are never given back: a block may still be in use on another thread,
// or by an object that outlives this thread's pools.
thread_local ThreadPools pools;

constexpr std::size_t classOf(std::size_t bytes) noexcept { return (bytes + kAlignment - 1) / kAlignment - 1; }
constexpr std::size_t blockBytes(std::size_t cls) noexcept { return (cls + 1) * kAlignment; }

}  // namespace

void* allocateSmall(std::size_t bytes) {
  assert(bytes != 0 && bytes <= kMaxBytes && "not a pooled size");
  std::size_t const cls = classOf(bytes);
  std::size_t const size = blockBytes(cls);
  SizeClass& c = pools.classes[cls];
  pools.liveBytes += static_cast<std::ptrdiff_t>(size);
  ++pools.liveBlocks;
  if (FreeBlock* b = c.free) {
    c.free = b->next;
#if defined(__GNUC__) || defined(__clang__)
    // The next block handed out is likely cold (released long ago): start
    // fetching it now, while the caller builds its object in this one.
    __builtin_prefetch(c.free, 1);
#endif
    return b;
  }
  if (c.bump == c.end) {
    std::size_t const slab = std::max(kSlabBytes / size, kSlabBlocks) * size;
    try {
      c.bump = static_cast<char*>(::operator new(slab));  // 16-aligned
    } catch (...) {
      pools.liveBytes -= static_cast<std::ptrdiff_t>(size);
      --pools.liveBlocks;
      throw;
    }
    c.end = c.bump + slab;
    pools.slabBytes += slab;
    ++pools.slabs;
  }
  void* p = c.bump;
  c.bump += size;
  return p;
}

void deallocateSmall(void* p, std::size_t bytes) noexcept {
  assert(bytes != 0 && bytes <= kMaxBytes && "not a pooled size");
  std::size_t const cls = classOf(bytes);
  SizeClass& c = pools.classes[cls];
  auto* b = static_cast<FreeBlock*>(p);
  b->next = c.free;
  c.free = b;
  pools.liveBytes -= static_cast<std::ptrdiff_t>(blockBytes(cls));
  --pools.liveBlocks;
}

std::size_t liveBytes() noexcept { return pools.liveBytes > 0 ? static_cast<std::size_t>(pools.liveBytes) : 0; }
std::size_t liveBlocks() noexcept { return pools.liveBlocks > 0 ? static_cast<std::size_t>(pools.liveBlocks) : 0; }
std::size_t slabBytes() noexcept { return pools.slabBytes; }
std::size_t slabs() noexcept { return pools.slabs; }

}  // namespace Vorn::Pool
