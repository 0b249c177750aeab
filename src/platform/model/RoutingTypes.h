// Multicast routing value types: tunnel types, overlay (VLAN, group) keys,
// underlay routes, the IRB tunnel-group status and the VLAN-to-SBD mapping.
//
// All are small trivially copyable values with ==, < (member order) and, for
// the map keys, a hash; they carry no behaviour beyond classification. The
// default OverlayVlanGroup (VLAN 1, no group) is the "null key"; it is distinct
// from VLAN 1 with a wildcard or specific group.
//
//   using Routing::Multicast::OverlayVlanGroup;
//   OverlayVlanGroup key(10, *Wirl::IpGenAddr::fromString("239.1.1.1"));
//   std::cout << key;  // "(10, 239.1.1.1)"
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "model/Bridging.h"
#include "model/Wirl.h"

namespace Routing::Multicast {

enum class TunnelType : std::uint8_t { vxlan = 0, gre = 1 };

// "vxlan", "gre".
std::string_view stringValue(TunnelType t);
// Inverse of stringValue (exact, case-sensitive); nullopt for anything else.
std::optional<TunnelType> tunnelTypeFromString(std::string_view s);
std::ostream& operator<<(std::ostream& os, TunnelType t);

// An overlay multicast key: a group (or no group: VLAN-wide state) in a VLAN.
class OverlayVlanGroup {
 public:
  constexpr OverlayVlanGroup() noexcept = default;  // the null key: VLAN 1, no group
  constexpr OverlayVlanGroup(Bridging::VlanId vlan, Wirl::IpGenAddr const& group) noexcept
      : vlanId_(vlan), groupAddr_(group) {}

  constexpr Bridging::VlanId vlanId() const noexcept { return vlanId_; }
  constexpr Wirl::IpGenAddr const& groupAddr() const noexcept { return groupAddr_; }

  // Equal to the default-constructed key.
  constexpr bool isNull() const noexcept { return *this == OverlayVlanGroup(); }
  // No specific group: family none or a wildcard of either family.
  constexpr bool isVlanWide() const noexcept { return !groupAddr_.isSpecific(); }

  std::size_t hash(unsigned int seed = 0) const noexcept;

  constexpr bool operator==(OverlayVlanGroup const&) const noexcept = default;
  // VLAN first, then group.
  constexpr auto operator<=>(OverlayVlanGroup const&) const noexcept = default;

 private:
  Bridging::VlanId vlanId_;
  Wirl::IpGenAddr groupAddr_;
};

// "(10, 239.1.1.1)"; a group of family none prints as "*": "(10, *)".
std::ostream& operator<<(std::ostream& os, OverlayVlanGroup const& k);

// An underlay (source, group) route carrying tunnelled overlay traffic.
class UnderlayRoute {
 public:
  constexpr UnderlayRoute() noexcept = default;
  constexpr UnderlayRoute(Wirl::IpGenAddr const& source, Wirl::IpGenAddr const& group,
                          TunnelType tunnelType) noexcept
      : source_(source), groupAddr_(group), tunnelType_(tunnelType) {}

  constexpr Wirl::IpGenAddr const& source() const noexcept { return source_; }
  constexpr Wirl::IpGenAddr const& groupAddr() const noexcept { return groupAddr_; }
  constexpr TunnelType tunnelType() const noexcept { return tunnelType_; }
  // The source the underlay tree is built for (the route's source).
  constexpr Wirl::IpGenAddr underlaySource() const noexcept { return source_; }

  std::size_t hash(unsigned int seed = 0) const noexcept;

  constexpr bool operator==(UnderlayRoute const&) const noexcept = default;
  // Source, then group, then tunnel type.
  constexpr auto operator<=>(UnderlayRoute const&) const noexcept = default;

 private:
  Wirl::IpGenAddr source_;
  Wirl::IpGenAddr groupAddr_;
  TunnelType tunnelType_ = TunnelType::vxlan;
};

// "(10.0.0.1, 225.1.1.1, vxlan)".
std::ostream& operator<<(std::ostream& os, UnderlayRoute const& r);

enum class IpTunnelGroupStatusType : std::uint8_t { invalid = 0, irbRemote = 1, irbRemoteReduced = 2 };

// "invalid", "irbRemote", "irbRemoteReduced".
std::string stringValue(IpTunnelGroupStatusType s);
std::ostream& operator<<(std::ostream& os, IpTunnelGroupStatusType s);

constexpr IpTunnelGroupStatusType irbRemoteReduced() noexcept { return IpTunnelGroupStatusType::irbRemoteReduced; }

}  // namespace Routing::Multicast

namespace Irb::Multicast {

// The supplementary broadcast domain (SBD) VLAN a VLAN routes through.
struct VlanToSbd {
  Bridging::VlanId vlan;
  Bridging::VlanId sbdVlan;

  constexpr bool operator==(VlanToSbd const&) const noexcept = default;
};

// "(10, 4094)": VLAN, then its SBD VLAN.
std::ostream& operator<<(std::ostream& os, VlanToSbd const& v);

}  // namespace Irb::Multicast

template <>
struct std::hash<Routing::Multicast::OverlayVlanGroup> {
  std::size_t operator()(Routing::Multicast::OverlayVlanGroup const& k) const noexcept { return k.hash(); }
};

template <>
struct std::hash<Routing::Multicast::UnderlayRoute> {
  std::size_t operator()(Routing::Multicast::UnderlayRoute const& r) const noexcept { return r.hash(); }
};
