// Builders of real inputs for tests: addresses from text, keys, routes, and
// in-place edits of membership statuses and mappings (each level created only
// where missing, as the agents that own these entities would do).
//
//   auto local = MembershipJoinStatus::membershipJoinStatusIs("local");
//   TestSupport::join(*local, 10, "239.1.1.1");                 // VLAN 10, group
//   TestSupport::join(*local, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
//   auto m = TestSupport::map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
#pragma once

#include <initializer_list>
#include <set>
#include <string_view>

#include "Brim/RouteIntfKey.h"
#include "Brim/Status.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/MembershipJoinStatus.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace TestSupport {

// Parses an address; "" is the address of no family. Fails the test on bad text.
Wirl::IpGenAddr addr(std::string_view text);
Wirl::IntfId intf(std::string_view name);
Routing::Multicast::OverlayVlanGroup key(unsigned short vlan, std::string_view group = "");
Routing::Multicast::UnderlayRoute route(std::string_view source, std::string_view group,
                                        Routing::Multicast::TunnelType t = Routing::Multicast::TunnelType::vxlan);

// Membership edits, in place. Empty strings stop at the level above.
void join(Irb::Multicast::Gmp::MembershipJoinStatus& status, unsigned short vlan, std::string_view group = "",
          std::string_view source = "", std::string_view intfName = "");
// Removes the deepest level named: the interface, else the source, else the
// group, else the VLAN entry.
void leave(Irb::Multicast::Gmp::MembershipJoinStatus& status, unsigned short vlan, std::string_view group = "",
           std::string_view source = "", std::string_view intfName = "");

// Mapping edits, in place: the mapping (vlan, group) holds at least `routes`.
Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup> map(Routing::Multicast::IpTunnelVlanGroupStatus& status,
                                                        unsigned short vlan, std::string_view group,
                                                        std::initializer_list<Routing::Multicast::UnderlayRoute> routes = {});
void unmap(Routing::Multicast::IpTunnelVlanGroupStatus& status, unsigned short vlan, std::string_view group);

// The Join key (source, group, VLAN interface).
Routing::Gmp::Brim::RouteIntfKey joinKey(std::string_view source, std::string_view group, unsigned short vlan);
// Keys of the entries with value 1.
std::set<Routing::Gmp::Brim::RouteIntfKey> joins(Routing::Gmp::Brim::Status const& status);

}  // namespace TestSupport
