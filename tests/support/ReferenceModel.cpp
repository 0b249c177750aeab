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

namespace {

RouteIntfKey modelKey(Routing::Multicast::UnderlayRoute const& r, Bridging::VlanId vlan, bool starG) {
  Wirl::IpGenAddr const source = starG ? Wirl::IpGenAddr(r.groupAddr().af()) : r.source();
  return RouteIntfKey(source, r.groupAddr(), Wirl::VlanIntfId::vlanIdToIntfId(vlan.value()));
}

// The mapping part of a reason: "" when the mapping lists the route and the
// route gives the key.
std::string mappingCheck(IpTunnelVlanGroupStatus const& tunnel, RouteIntfKey const& key,
                         Irb::Multicast::Egress::JoinReason const& reason, bool starG) {
  auto const mapping = tunnel.vlanToMulticastGroup(reason.mapping);
  if (!mapping) return "no such mapping";
  if (!mapping->multicastGroup(reason.route)) return "the mapping does not list the route";
  if (!(modelKey(reason.route, reason.mapping.vlanId(), starG) == key)) return "the route gives another key";
  if (reason.keyKind != Irb::Multicast::Egress::groupKeyKind(reason.mapping.groupAddr())) return "wrong key kind";
  if (!reason.wanted) return "a reason that is not wanted";
  return {};
}

}  // namespace

std::string l3ReasonCheck(MembershipJoinStatus const* local, IpTunnelVlanGroupStatus const& tunnel,
                          RouteIntfKey const& key, Irb::Multicast::Egress::JoinReason const& reason, bool starG) {
  std::string const m = mappingCheck(tunnel, key, reason, starG);
  if (!m.empty()) return m;
  if (!local) return "a reason without a membership status";
  Bridging::VlanId const v = reason.mapping.vlanId();
  Wirl::IpGenAddr const g = reason.mapping.groupAddr();
  auto const* vlan = local->vlan().find(v);
  if (!vlan) return "the local status has no entry for the VLAN";
  if (specific(g) && !(*vlan)->group().contains(g)) return "the local entry does not list the group";
  if (reason.evidence.size() != 1) return "expected one piece of evidence";
  auto const& e = reason.evidence.front();
  if (e.status != local->name() || e.peer || e.viaSbd || !(e.vlan == v)) return "evidence names the wrong entry";
  if (!(e.group == (specific(g) ? g : Wirl::IpGenAddr()))) return "evidence names the wrong group";
  return {};
}

std::string vpnReasonCheck(Irb::Multicast::Egress::MembershipJoinStatusColl const& coll,
                           IpTunnelVlanGroupStatus const& tunnel, Irb::Multicast::McastIrbStatus const* irb,
                           RouteIntfKey const& key, Irb::Multicast::Egress::JoinReason const& reason, bool starG) {
  std::string const m = mappingCheck(tunnel, key, reason, starG);
  if (!m.empty()) return m;
  if (reason.evidence.empty()) return "a reason without evidence";
  Bridging::VlanId const v = reason.mapping.vlanId();
  Wirl::IpGenAddr const g = reason.mapping.groupAddr();
  for (auto const& e : reason.evidence) {
    // The VLAN is the mapping's own, or one whose SBD VLAN it is.
    if (e.viaSbd) {
      auto const* entry = irb ? irb->vlanToSbdTable().entries().find(e.vlan) : nullptr;
      if (!entry || !(entry->sbdVlan == v)) return "evidence in a VLAN the mapping's VLAN does not serve";
    } else if (!(e.vlan == v)) {
      return "evidence in another VLAN";
    }
    auto const status = e.peer ? coll.peerMembership(e.status) : coll.localMembership(e.status);
    if (!status) return "evidence names a status that is not there";
    auto const* vlan = status->vlan().find(e.vlan);
    if (!vlan) return "evidence names a VLAN entry that is not there";
    auto const* group = (*vlan)->group().find(e.group);
    if (!group) return "evidence names a group entry that is not there";
    if (!e.peer) {
      bool const wildcard = e.group.af() != Wirl::AddressFamily::none && !specific(e.group);
      if (specific(g) && !(e.group == g) && !wildcard) return "local evidence of another group";
      continue;
    }
    if (specific(g) && !(e.group == g)) return "peer evidence of another group";
    auto const* source = (*group)->source().find(e.source);
    if (!source || !(*source)->includeIntf().contains(e.intf)) return "peer evidence names an interface not there";
    if (e.intf.stringValue().starts_with("Vxlan")) return "peer evidence names a tunnel interface";
  }
  return {};
}

bool modelStarG() { return getToggleState("PimL3TunnelInject", "Pim.json", true); }

}  // namespace TestSupport
