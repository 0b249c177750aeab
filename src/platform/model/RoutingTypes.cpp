#include "model/RoutingTypes.h"

#include <cassert>

#include "model/Hash.h"

namespace Routing::Multicast {

std::string_view stringValue(TunnelType t) {
  switch (t) {
    case TunnelType::vxlan: return "vxlan";
    case TunnelType::gre: return "gre";
  }
  assert(false && "unknown TunnelType");
  return "unknown";
}

std::optional<TunnelType> tunnelTypeFromString(std::string_view s) {
  if (s == "vxlan") return TunnelType::vxlan;
  if (s == "gre") return TunnelType::gre;
  return std::nullopt;
}

std::ostream& operator<<(std::ostream& os, TunnelType t) { return os << stringValue(t); }

std::size_t OverlayVlanGroup::hash(unsigned int seed) const noexcept {
  return Hashing::combine(groupAddr_.hash(seed), vlanId_.value());
}

std::ostream& operator<<(std::ostream& os, OverlayVlanGroup const& k) {
  os << '(' << k.vlanId() << ", ";
  if (k.groupAddr().af() == Wirl::AddressFamily::none) {
    os << '*';
  } else {
    os << k.groupAddr();
  }
  return os << ')';
}

std::size_t UnderlayRoute::hash(unsigned int seed) const noexcept {
  std::size_t h = Hashing::combine(source_.hash(seed), groupAddr_.hash(seed));
  return Hashing::combine(h, static_cast<std::uint64_t>(tunnelType_));
}

std::ostream& operator<<(std::ostream& os, UnderlayRoute const& r) {
  return os << '(' << r.source() << ", " << r.groupAddr() << ", " << r.tunnelType() << ')';
}

std::string stringValue(IpTunnelGroupStatusType s) {
  switch (s) {
    case IpTunnelGroupStatusType::invalid: return "invalid";
    case IpTunnelGroupStatusType::irbRemote: return "irbRemote";
    case IpTunnelGroupStatusType::irbRemoteReduced: return "irbRemoteReduced";
  }
  assert(false && "unknown IpTunnelGroupStatusType");
  return "unknown";
}

std::ostream& operator<<(std::ostream& os, IpTunnelGroupStatusType s) { return os << stringValue(s); }

}  // namespace Routing::Multicast

namespace Irb::Multicast {

std::ostream& operator<<(std::ostream& os, VlanToSbd const& v) {
  return os << '(' << v.vlan << ", " << v.sbdVlan << ')';
}

}  // namespace Irb::Multicast
