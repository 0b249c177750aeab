// Live heap accounting for the benchmarks.
//
// The benchmark executable replaces the global operator new / delete (every
// form: plain, array, nothrow, sized, aligned) with versions that keep a
// count of the bytes and blocks currently allocated. Bytes are the allocator's
// usable size of each block (what the block really occupies, less the
// allocator's own per-block header of about 8 bytes, which is not counted).
//
// The library takes its small objects from Vorn::Pool, which keeps released
// blocks for reuse: heapNow() counts the pool's slabs as the blocks live in
// them (Vorn::Pool::liveBytes), not as the slabs, so a measurement sees what
// its objects occupy whatever the pools kept from earlier work.
//
// GUARANTEES
//   - heapNow() is exact for everything allocated through operator new since
//     the process started; malloc/free called directly are not seen.
// WARNING
//   Not thread-safe (plain counters): the benchmarks run single-threaded.
//
//   auto before = Bench::heapNow();
//   build();
//   auto used = Bench::heapNow() - before;   // used.bytes, used.blocks
#pragma once

#include <cstdint>

namespace Bench {

struct HeapUse {
  std::int64_t bytes = 0;
  std::int64_t blocks = 0;

  HeapUse operator-(HeapUse const& o) const noexcept { return {bytes - o.bytes, blocks - o.blocks}; }
};

HeapUse heapNow() noexcept;

}  // namespace Bench
