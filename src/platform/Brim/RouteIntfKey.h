// Routing::Gmp::Brim::RouteIntfKey — a (source, group, interface) membership
// key, and Membership, the key with its value.
//
// Small trivially copyable values for hot maps: ==, < (source, group, then
// interface in interning order) and hash. The source is 0.0.0.0 / :: for
// any-source (*, G) membership.
//
//   RouteIntfKey k(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4), group,
//                 Wirl::VlanIntfId::vlanIdToIntfId(10));
//   std::cout << k;  // "(0.0.0.0, 225.1.1.1, Vlan10)"
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>

#include "model/Wirl.h"

namespace Routing::Gmp::Brim {

class RouteIntfKey {
 public:
  constexpr RouteIntfKey() noexcept = default;
  constexpr RouteIntfKey(Wirl::IpGenAddr const& source, Wirl::IpGenAddr const& group, Wirl::IntfId intf) noexcept
      : source_(source), group_(group), intf_(intf) {}

  constexpr Wirl::IpGenAddr const& source() const noexcept { return source_; }
  constexpr Wirl::IpGenAddr const& group() const noexcept { return group_; }
  constexpr Wirl::IntfId intf() const noexcept { return intf_; }

  std::size_t hash(unsigned int seed = 0) const noexcept;

  constexpr bool operator==(RouteIntfKey const&) const noexcept = default;
  constexpr auto operator<=>(RouteIntfKey const&) const noexcept = default;

 private:
  Wirl::IpGenAddr source_;
  Wirl::IpGenAddr group_;
  Wirl::IntfId intf_;
};

// "(0.0.0.0, 225.1.1.1, Vlan10)".
std::ostream& operator<<(std::ostream& os, RouteIntfKey const& k);

struct Membership {
  RouteIntfKey key;
  std::uint32_t value = 0;

  constexpr bool operator==(Membership const&) const noexcept = default;
};

}  // namespace Routing::Gmp::Brim

template <>
struct std::hash<Routing::Gmp::Brim::RouteIntfKey> {
  std::size_t operator()(Routing::Gmp::Brim::RouteIntfKey const& k) const noexcept { return k.hash(); }
};
