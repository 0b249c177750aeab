#include "Brim/RouteIntfKey.h"

#include "model/Hash.h"

namespace Routing::Gmp::Brim {

std::size_t RouteIntfKey::hash(unsigned int seed) const noexcept {
  std::size_t h = Hashing::combine(source_.hash(seed), group_.hash(seed));
  return Hashing::combine(h, intf_.id());
}

std::ostream& operator<<(std::ostream& os, RouteIntfKey const& k) {
  return os << '(' << k.source() << ", " << k.group() << ", " << k.intf() << ')';
}

}  // namespace Routing::Gmp::Brim
