#include "support/ReferenceModel.h"

#include <map>
#include <vector>

#include "Toggle/Toggle.h"

namespace TestSupport {

using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::VlanToMulticastGroup;

namespace {

bool specific(Wirl::IpGenAddr const& a) {
  if (a.af() == Wirl::AddressFamily::none) return false;
  for (auto b : a.bytes())
    if (b != 0) return true;
  return false;
}

void addJoins(JoinSet& out, VlanToMulticastGroup const& m, bool starG) {
  unsigned short const vlan = m.overlayVlanGroup().vlanId().value();
  for (auto const& r : m.multicastGroup()) {
    Wirl::IpGenAddr const source = starG ? Wirl::IpGenAddr(r.groupAddr().af()) : r.source();
    out.insert(RouteIntfKey(source, r.groupAddr(), Wirl::VlanIntfId::vlanIdToIntfId(vlan)));
  }
}

bool nonTunnelJoin(GroupMembershipJoin const& g) {
  for (auto const& [addr, s] : g.source())
    for (auto intf : s->includeIntf())
      if (!intf.stringValue().starts_with("Vxlan")) return true;
  return false;
}

bool localWantsGroup(MembershipJoinStatus const& s, Bridging::VlanId v, Wirl::IpGenAddr const& g) {
  auto const* vlan = s.vlan().find(v);
  if (!vlan) return false;
  auto const& groups = (*vlan)->group();
  return groups.contains(g) || groups.contains(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4)) ||
         groups.contains(Wirl::IpGenAddr(Wirl::AddressFamily::ipv6));
}

bool peerWantsGroup(MembershipJoinStatus const& s, Bridging::VlanId v, Wirl::IpGenAddr const& g) {
  auto const* vlan = s.vlan().find(v);
  if (!vlan) return false;
  auto const* group = (*vlan)->group().find(g);
  return group && nonTunnelJoin(**group);
}

bool localWantsVlan(MembershipJoinStatus const& s, Bridging::VlanId v) {
  auto const* vlan = s.vlan().find(v);
  return vlan && !(*vlan)->group().empty();
}

bool peerWantsVlan(MembershipJoinStatus const& s, Bridging::VlanId v) {
  auto const* vlan = s.vlan().find(v);
  if (!vlan) return false;
  for (auto const& [addr, g] : (*vlan)->group())
    if (nonTunnelJoin(*g)) return true;
  return false;
}

}  // namespace

JoinSet l3ModelJoins(MembershipJoinStatus const* local, IpTunnelVlanGroupStatus const& tunnel, bool starG) {
  JoinSet out;
  if (!local) return out;
  for (auto const& [key, m] : tunnel.vlanToMulticastGroup()) {
    auto const* vlan = local->vlan().find(key.vlanId());
    if (!vlan) continue;
    if (specific(key.groupAddr()) && !(*vlan)->group().contains(key.groupAddr())) continue;
    addJoins(out, *m, starG);
  }
  return out;
}

JoinSet vpnModelJoins(Irb::Multicast::Egress::MembershipJoinStatusColl const& coll,
                      IpTunnelVlanGroupStatus const& tunnel, Irb::Multicast::McastIrbStatus const* irb, bool starG) {
  // VLANs served by each SBD VLAN.
  std::map<Bridging::VlanId, std::vector<Bridging::VlanId>> served;
  if (irb) {
    for (auto const& [vlan, entry] : irb->vlanToSbdTable().entries())
      if (!(entry == Irb::Multicast::VlanToSbd())) served[entry.sbdVlan].push_back(vlan);
  }
  auto wanted = [&](Bridging::VlanId v, Wirl::IpGenAddr const& g) {
    bool const isSpecific = specific(g);
    for (auto const& [name, s] : coll.localMembership())
      if (isSpecific ? localWantsGroup(*s, v, g) : localWantsVlan(*s, v)) return true;
    for (auto const& [name, s] : coll.peerMembership())
      if (isSpecific ? peerWantsGroup(*s, v, g) : peerWantsVlan(*s, v)) return true;
    return false;
  };
  JoinSet out;
  for (auto const& [key, m] : tunnel.vlanToMulticastGroup()) {
    bool active = wanted(key.vlanId(), key.groupAddr());
    if (!active) {
      auto it = served.find(key.vlanId());
      if (it != served.end())
        for (auto u : it->second)
          if ((active = wanted(u, key.groupAddr()))) break;
    }
    if (active) addJoins(out, *m, starG);
  }
  return out;
}

bool modelStarG() { return getToggleState("PimL3TunnelInject", "Pim.json", true); }

}  // namespace TestSupport
