// Replacement of the global allocation functions that counts live bytes.
#include "AllocCounter.h"

#include "Vorn/Pool.h"

#include <malloc.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::int64_t liveBytes = 0;
std::int64_t liveBlocks = 0;

void* allocate(std::size_t size, std::size_t align) noexcept {
  if (size == 0) size = 1;
  void* p = nullptr;
  if (align <= alignof(std::max_align_t)) {
    p = std::malloc(size);
  } else if (posix_memalign(&p, align, size) != 0) {
    p = nullptr;
  }
  if (p) {
    liveBytes += static_cast<std::int64_t>(malloc_usable_size(p));
    ++liveBlocks;
  }
  return p;
}

void* allocateOrThrow(std::size_t size, std::size_t align) {
  for (;;) {
    if (void* p = allocate(size, align)) return p;
    std::new_handler h = std::get_new_handler();
    if (!h) throw std::bad_alloc();
    h();
  }
}

void release(void* p) noexcept {
  if (!p) return;
  liveBytes -= static_cast<std::int64_t>(malloc_usable_size(p));
  --liveBlocks;
  std::free(p);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

}  // namespace

namespace Bench {
HeapUse heapNow() noexcept {
  // Slabs count as the blocks in use in them (a slab's usable size exceeds
  // its request by at most one allocator granule: ignored).
  auto const pooled = [](std::size_t n) { return static_cast<std::int64_t>(n); };
  return {liveBytes - pooled(Vorn::Pool::slabBytes()) + pooled(Vorn::Pool::liveBytes()),
          liveBlocks - pooled(Vorn::Pool::slabs()) + pooled(Vorn::Pool::liveBlocks())};
}
}  // namespace Bench

void* operator new(std::size_t n) { return allocateOrThrow(n, kPlain); }
void* operator new[](std::size_t n) { return allocateOrThrow(n, kPlain); }
void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return allocate(n, kPlain); }
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return allocate(n, kPlain); }
void* operator new(std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, std::nothrow_t const&) noexcept { release(p); }
