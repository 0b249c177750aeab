#include "Brim/RouteIntfKey.h"

#include <array>
#include <bit>
#include <cstdint>

#include "model/Hash.h"

namespace Routing::Gmp::Brim {

std::size_t RouteIntfKey::hash(unsigned int seed) const noexcept {
  // Every Join is hashed on its way in and out of the dedup table: the five
  // words are folded with two rounds of the finaliser, not one per part.
  auto const s = std::bit_cast<std::array<std::uint64_t, 2>>(source_.bytes());
  auto const g = std::bit_cast<std::array<std::uint64_t, 2>>(group_.bytes());
  std::uint64_t const families =
      (static_cast<std::uint64_t>(source_.af()) << 8 | static_cast<std::uint64_t>(group_.af())) << 32 | intf_.id();
  std::uint64_t const a = s[0] ^ std::rotl(g[0], 29) ^ (std::uint64_t{seed} * Hashing::kGolden);
  std::uint64_t const b = s[1] ^ std::rotl(g[1], 29) ^ families;
  return Hashing::combine(Hashing::mix(a), b);
}

std::ostream& operator<<(std::ostream& os, RouteIntfKey const& k) {
  return os << '(' << k.source() << ", " << k.group() << ", " << k.intf() << ')';
}

}  // namespace Routing::Gmp::Brim
