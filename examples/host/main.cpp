// A minimal host agent: builds the inputs the library reads, starts the L3
// path and then the VPN path on them, and prints the Joins each writes into
// the underlay GMP status table (one per line, in the table's key order).
// CI compares the output with expected-output.txt.
#include <iostream>
#include <string_view>

#include "Brim/Status.h"
#include "Keel/TaskScheduler.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"

namespace {

using namespace Irb::Multicast::Gmp;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

Wirl::IpGenAddr addr(std::string_view text) { return Wirl::IpGenAddr::fromString(text).value(); }

// A receiver of any source of `group` behind interface `intf` of `vlan`.
void join(MembershipJoinStatus& status, unsigned short vlan, std::string_view group, std::string_view intf) {
  auto source = SourceMembershipJoin::sourceMembershipJoinIs(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4));
  source->includeIntfIs(Wirl::IntfId::fromName(intf));
  auto g = GroupMembershipJoin::groupMembershipJoinIs(addr(group));
  g->sourceIs(source);
  auto v = status.vlanMutable(vlan);
  if (!v) {
    v = VlanMembershipJoin::vlanMembershipJoinIs(vlan);
    status.vlanIs(v);
  }
  v->groupIs(g);
}

// Overlay `group` of `vlan` ("" for all of the VLAN) travels in underlay group `route`.
void map(Routing::Multicast::IpTunnelVlanGroupStatus& tunnel, unsigned short vlan, std::string_view group,
         std::string_view route) {
  auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(
      OverlayVlanGroup(vlan, group.empty() ? Wirl::IpGenAddr() : addr(group)));
  m->multicastGroupIs(UnderlayRoute(addr("10.0.0.1"), addr(route), Routing::Multicast::TunnelType::vxlan));
  tunnel.vlanToMulticastGroupIs(m);
}

void printJoins(char const* path, Routing::Gmp::Brim::Status const& gmp) {
  std::cout << path << ": " << gmp.membershipCount() << " joins\n";
  for (auto const& [key, value] : gmp.entries()) std::cout << "  " << key << " value " << value << '\n';
}

}  // namespace

int main() {
  auto tunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  map(*tunnel, 10, "239.1.1.1", "225.0.10.1");
  map(*tunnel, 10, "239.1.1.2", "225.0.10.2");
  map(*tunnel, 20, "", "225.0.20.0");
  map(*tunnel, 4000, "239.1.1.1", "225.0.40.1");

  // This switch's own receivers, and one behind a front-panel port of peer leaf2.
  auto local = MembershipJoinStatus::membershipJoinStatusIs("local");
  join(*local, 10, "239.1.1.1", "Ethernet1");
  join(*local, 20, "239.2.2.2", "Ethernet4");
  auto leaf2 = MembershipJoinStatus::membershipJoinStatusIs("leaf2");
  join(*leaf2, 10, "239.1.1.2", "Ethernet3");

  // VLAN 10 routes through SBD VLAN 4000.
  auto irb = Irb::Multicast::McastIrbStatus::mcastIrbStatusIs();
  irb->vlanToSbdIs({10, 4000});

  auto gmp = Routing::Gmp::Brim::Status::statusIs();

  // The L3 path follows the local status alone and writes its Joins at once.
  auto l3 = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, gmp);
  printJoins("L3 path", *gmp);
  l3 = nullptr;  // withdraws its Joins
  printJoins("L3 path stopped", *gmp);

  // The VPN path reads every status through the collection and reviews its
  // changes on the agent's task scheduler.
  auto scheduler = Vorn::make<Keel::TaskScheduler>();
  auto coll = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  coll->localMembershipIs(local);
  coll->peerMembershipIs(leaf2);
  auto vpn = Irb::Multicast::Egress::vpnInjectSmFactory(scheduler, coll, tunnel, irb, gmp);
  scheduler->runUntilIdle();
  printJoins("VPN path", *gmp);
  vpn = nullptr;
  printJoins("VPN path stopped", *gmp);
  return 0;
}
