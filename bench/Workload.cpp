#include "Workload.h"

#include <algorithm>
#include <string>

#include "model/Wirl.h"

namespace Bench {

using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::SourceMembershipJoin;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::TunnelType;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

namespace {

constexpr std::uint32_t kOverlayBase = (239u << 24) | (1u << 16);  // 239.1.0.0
constexpr std::uint32_t kRouteBase = 225u << 24;                   // 225.0.0.0
constexpr std::uint32_t kVlanRouteBase = 226u << 24;               // 226.0.0.0
constexpr std::uint32_t kStaleBase = 227u << 24;                   // 227.0.0.0
constexpr std::uint32_t kVtep = (10u << 24) | 1u;                  // 10.0.0.1

// Adds the group entry (and the VLAN entry) when missing; returns the group.
Vorn::Ptr<GroupMembershipJoin> groupEntry(MembershipJoinStatus& s, Bridging::VlanId vlan,
                                          Wirl::IpGenAddr const& group) {
  auto v = s.vlanMutable(vlan);
  if (!v) {
    v = VlanMembershipJoin::vlanMembershipJoinIs(vlan);
    s.vlanIs(v);
  }
  auto g = v->groupMutable(group);
  if (!g) {
    g = GroupMembershipJoin::groupMembershipJoinIs(group);
    v->groupIs(g);
  }
  return g;
}

}  // namespace

Leaf::Leaf(std::size_t mappings, std::size_t peers)
    : mappings_(mappings),
      peers_(std::max<std::size_t>(peers, 1)),
      vlans_(static_cast<unsigned>(std::clamp<std::size_t>(mappings / 16, 1, 4094))) {}

Bridging::VlanId Leaf::vlanOf(std::size_t i) const noexcept {
  return Bridging::VlanId(static_cast<std::uint16_t>(1 + i % vlans_));
}

Wirl::IpGenAddr Leaf::groupOf(std::size_t i) const noexcept {
  return Wirl::IpGenAddr::v4(kOverlayBase + 1 + static_cast<std::uint32_t>(i / vlans_));
}

OverlayVlanGroup Leaf::keyOf(std::size_t i) const noexcept { return OverlayVlanGroup(vlanOf(i), groupOf(i)); }

unsigned Leaf::classOf(std::size_t i) const noexcept {
  return static_cast<unsigned>((i / vlans_ + i % vlans_) % 4);
}

Vorn::Ptr<IpTunnelVlanGroupStatus> Leaf::tunnelStatus() const {
  auto status = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  auto const vtep = Wirl::IpGenAddr::v4(kVtep);
  for (std::size_t i = 0; i < mappings_; ++i) {
    auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(keyOf(i));
    m->multicastGroupIs(UnderlayRoute(vtep, Wirl::IpGenAddr::v4(kRouteBase + static_cast<std::uint32_t>(i)),
                                      TunnelType::vxlan));
    status->vlanToMulticastGroupIs(m);
  }
  for (unsigned v = 1; v <= vlans_; ++v) {
    auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(
        OverlayVlanGroup(Bridging::VlanId(static_cast<std::uint16_t>(v)), Wirl::IpGenAddr()));
    m->multicastGroupIs(UnderlayRoute(vtep, Wirl::IpGenAddr::v4(kVlanRouteBase + v), TunnelType::vxlan));
    status->vlanToMulticastGroupIs(m);
  }
  return status;
}

Vorn::Ptr<MembershipJoinStatus> Leaf::allLocal() const {
  auto s = MembershipJoinStatus::membershipJoinStatusIs("local");
  for (std::size_t i = 0; i < mappings_; ++i) groupEntry(*s, vlanOf(i), groupOf(i));
  return s;
}

Leaf::Membership Leaf::shared() const {
  Membership m;
  m.local = MembershipJoinStatus::membershipJoinStatusIs("local");
  for (std::size_t p = 0; p < peers_; ++p)
    m.peers.push_back(MembershipJoinStatus::membershipJoinStatusIs("peer" + std::to_string(p + 1)));
  auto const anySource = Wirl::IpGenAddr(Wirl::AddressFamily::ipv4);
  auto const tunnel = Wirl::IntfId::fromName("Vxlan1");
  for (std::size_t i = 0; i < mappings_; ++i) {
    unsigned const c = classOf(i);
    if (c % 2 == 0) {
      groupEntry(*m.local, vlanOf(i), groupOf(i));
    } else {
      std::size_t const p = (i * 2654435761u >> 7) % peers_;
      auto g = groupEntry(*m.peers[p], vlanOf(i), groupOf(i));
      auto s = SourceMembershipJoin::sourceMembershipJoinIs(anySource);
      s->includeIntfIs(c == 1 ? Wirl::IntfId::fromName("Ethernet" + std::to_string(1 + i % 48)) : tunnel);
      g->sourceIs(s);
    }
    ++m.groupEntries;
  }
  return m;
}

void Leaf::staleEntriesIs(Routing::Gmp::Brim::Status& gmp) const {
  auto const any = Wirl::IpGenAddr(Wirl::AddressFamily::ipv4);
  for (std::size_t i = 0; i < mappings_; ++i) {
    Routing::Gmp::Brim::RouteIntfKey k(any, Wirl::IpGenAddr::v4(kStaleBase + static_cast<std::uint32_t>(i)),
                                       Wirl::VlanIntfId::vlanIdToIntfId(vlanOf(i).value()));
    gmp.membershipIs(Routing::Gmp::Brim::Membership{k, 1});
  }
}

Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> collectionOf(Leaf::Membership const& m) {
  auto coll = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  coll->localMembershipIs(m.local);
  for (auto const& p : m.peers) coll->peerMembershipIs(p);
  return coll;
}

bool toggleGroup(MembershipJoinStatus& status, Bridging::VlanId vlan, Wirl::IpGenAddr const& group) {
  auto v = status.vlanMutable(vlan);
  if (v && v->group(group)) {
    v->groupDel(group);
    return false;
  }
  groupEntry(status, vlan, group);
  return true;
}

std::set<Routing::Gmp::Brim::RouteIntfKey> joins(Routing::Gmp::Brim::Status const& status) {
  std::set<Routing::Gmp::Brim::RouteIntfKey> out;
  for (auto const& [k, v] : status.entries())
    if (v == 1) out.insert(k);
  return out;
}

}  // namespace Bench
