// Vorn::Pool — fixed-size block pools for the many small objects of the state
// machines: entities, reactors, dedup handles and the nodes of keyed
// collections.
//
// OVERVIEW
//   A leaf's path holds hundreds of thousands of small heap blocks (a reactor,
//   its collection node, a Join's handle and table entry...), created and
//   released in bursts. Blocks of up to kMaxBytes come from per-thread free
//   lists, one per 16-byte size class, refilled from slabs; larger requests go
//   to the global operator new. Allocation and release are a few instructions
//   and blocks of one class sit together in memory.
//
// GUARANTEES
//   - Every block is aligned for any object of its size (16 bytes); requests
//     with a stricter alignment are not pooled.
//   - A block may be released on another thread than the one that took it (it
//     joins that thread's free list).
//   - With AddressSanitizer every request goes to the global operator new, so
//     the sanitizer still sees every use after release.
//
// WARNING
//   Memory given to a pool is kept for reuse by blocks of the same size class:
//   a process's pooled memory stays at its peak. Slabs are never returned, and
//   the free blocks of a thread that ends are not reused by others.
//
// TYPICAL USAGE
//   void* p = Vorn::Pool::allocate(sizeof(Node));  Vorn::Pool::deallocate(p, sizeof(Node));
//   std::map<K, V, std::less<>, Vorn::PoolAllocator<std::pair<K const, V>>> m;
#pragma once

#include <cstddef>
#include <new>

namespace Vorn {

namespace Pool {

inline constexpr std::size_t kMaxBytes = 512;
inline constexpr std::size_t kAlignment = 16;

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kPooled = false;
#else
inline constexpr bool kPooled = true;
#endif
#else
inline constexpr bool kPooled = true;
#endif

void* allocateSmall(std::size_t bytes);
void deallocateSmall(void* p, std::size_t bytes) noexcept;

inline void* allocate(std::size_t bytes) {
  if (kPooled && bytes != 0 && bytes <= kMaxBytes) return allocateSmall(bytes);
  return ::operator new(bytes);
}

// `bytes` must be the size given to allocate().
inline void deallocate(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (kPooled && bytes != 0 && bytes <= kMaxBytes) {
    deallocateSmall(p, bytes);
    return;
  }
  ::operator delete(p);
}

// This thread's accounts (for tests and memory measurements): bytes and
// blocks handed out and not yet released here (block sizes, rounded up to
// 16); bytes and slabs taken from operator new.
std::size_t liveBytes() noexcept;
std::size_t liveBlocks() noexcept;
std::size_t slabBytes() noexcept;
std::size_t slabs() noexcept;

}  // namespace Pool

// A stateless allocator over the pools, for node-based standard containers.
template <class T>
struct PoolAllocator {
  using value_type = T;

  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(PoolAllocator<U> const&) noexcept {}

  T* allocate(std::size_t n) {
    if constexpr (alignof(T) > Pool::kAlignment) {
      return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(alignof(T))));
    } else {
      return static_cast<T*>(Pool::allocate(n * sizeof(T)));
    }
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if constexpr (alignof(T) > Pool::kAlignment) {
      ::operator delete(p, std::align_val_t(alignof(T)));
    } else {
      Pool::deallocate(p, n * sizeof(T));
    }
  }

  template <class U>
  bool operator==(PoolAllocator<U> const&) const noexcept {
    return true;
  }
};

}  // namespace Vorn
