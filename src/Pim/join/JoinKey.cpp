#include "Pim/join/JoinKey.h"

#include "Toggle/Toggle.h"

namespace Irb::Multicast::Egress {

bool togglePimL3TunnelInjectEnabled() {
  // A function-local static is initialised once, thread-safely.
  static bool const enabled = (getToggleState("PimL3TunnelInject", "Pim.json", true) & 1) != 0;
  return enabled;
}

Routing::Gmp::Brim::RouteIntfKey joinKey(Routing::Multicast::UnderlayRoute const& route, Bridging::VlanId vlan) {
  Wirl::IpGenAddr const source = togglePimL3TunnelInjectEnabled() ? Wirl::IpGenAddr(route.groupAddr().af())
                                                                   : route.underlaySource();
  return Routing::Gmp::Brim::RouteIntfKey(source, route.groupAddr(), Wirl::VlanIntfId::vlanIdToIntfId(vlan.value()));
}

std::array<Routing::Multicast::OverlayVlanGroup, 3> vlanWideKeys(Bridging::VlanId vlan) {
  using Routing::Multicast::OverlayVlanGroup;
  return {OverlayVlanGroup(vlan, Wirl::IpGenAddr()), OverlayVlanGroup(vlan, Wirl::IpGenAddr(Wirl::AddressFamily::ipv4)),
          OverlayVlanGroup(vlan, Wirl::IpGenAddr(Wirl::AddressFamily::ipv6))};
}

}  // namespace Irb::Multicast::Egress
