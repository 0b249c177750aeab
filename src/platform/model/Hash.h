// Hashing helpers shared by the platform value types.
//
// `mix` is a 64-bit finaliser (every input bit affects every output bit), so
// keys built from small integers or mostly-zero address bytes still spread
// over the buckets of an unordered container. `combine` folds one more word
// into a running hash; it is order dependent. Not a cryptographic hash.
//
//   std::size_t h = Hashing::combine(Hashing::mix(seed), a);
//   h = Hashing::combine(h, b);
#pragma once

#include <cstddef>
#include <cstdint>

namespace Hashing {

constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ULL;

constexpr std::size_t mix(std::uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return static_cast<std::size_t>(x);
}

constexpr std::size_t combine(std::size_t h, std::uint64_t v) noexcept {
  return mix((static_cast<std::uint64_t>(h) * kGolden) ^ v);
}

}  // namespace Hashing
