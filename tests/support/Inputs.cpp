#include "support/Inputs.h"

#include <gtest/gtest.h>

namespace TestSupport {

using namespace Irb::Multicast::Gmp;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::VlanToMulticastGroup;

Wirl::IpGenAddr addr(std::string_view text) {
  if (text.empty()) return Wirl::IpGenAddr();
  auto a = Wirl::IpGenAddr::fromString(text);
  EXPECT_TRUE(a.has_value()) << "bad address in test: " << text;
  return a.value_or(Wirl::IpGenAddr());
}

Wirl::IntfId intf(std::string_view name) { return Wirl::IntfId::fromName(name); }

Routing::Multicast::OverlayVlanGroup key(unsigned short vlan, std::string_view group) {
  return Routing::Multicast::OverlayVlanGroup(vlan, addr(group));
}

Routing::Multicast::UnderlayRoute route(std::string_view source, std::string_view group,
                                        Routing::Multicast::TunnelType t) {
  return Routing::Multicast::UnderlayRoute(addr(source), addr(group), t);
}

void join(MembershipJoinStatus& status, unsigned short vlanId, std::string_view group, std::string_view source,
          std::string_view intfName) {
  auto vlan = status.vlanMutable(vlanId);
  if (!vlan) {
    vlan = VlanMembershipJoin::vlanMembershipJoinIs(vlanId);
    status.vlanIs(vlan);
  }
  if (group.empty()) return;
  auto g = vlan->groupMutable(addr(group));
  if (!g) {
    g = GroupMembershipJoin::groupMembershipJoinIs(addr(group));
    vlan->groupIs(g);
  }
  if (source.empty()) return;
  auto s = g->sourceMutable(addr(source));
  if (!s) {
    s = SourceMembershipJoin::sourceMembershipJoinIs(addr(source));
    g->sourceIs(s);
  }
  if (!intfName.empty()) s->includeIntfIs(intf(intfName));
}

void leave(MembershipJoinStatus& status, unsigned short vlanId, std::string_view group, std::string_view source,
           std::string_view intfName) {
  auto vlan = status.vlanMutable(vlanId);
  if (!vlan) return;
  if (group.empty()) {
    status.vlanDel(vlanId);
    return;
  }
  auto g = vlan->groupMutable(addr(group));
  if (!g) return;
  if (source.empty()) {
    vlan->groupDel(addr(group));
    return;
  }
  auto s = g->sourceMutable(addr(source));
  if (!s) return;
  if (intfName.empty()) {
    g->sourceDel(addr(source));
    return;
  }
  s->includeIntfDel(intf(intfName));
}

Vorn::Ptr<VlanToMulticastGroup> map(IpTunnelVlanGroupStatus& status, unsigned short vlan, std::string_view group,
                                    std::initializer_list<Routing::Multicast::UnderlayRoute> routes) {
  auto k = key(vlan, group);
  auto m = status.vlanToMulticastGroupMutable(k);
  if (!m) {
    m = VlanToMulticastGroup::vlanToMulticastGroupIs(k);
    status.vlanToMulticastGroupIs(m);
  }
  for (auto const& r : routes) m->multicastGroupIs(r);
  return m;
}

void unmap(IpTunnelVlanGroupStatus& status, unsigned short vlan, std::string_view group) {
  status.vlanToMulticastGroupDel(key(vlan, group));
}

Routing::Gmp::Brim::RouteIntfKey joinKey(std::string_view source, std::string_view group, unsigned short vlan) {
  return Routing::Gmp::Brim::RouteIntfKey(addr(source), addr(group), Wirl::VlanIntfId::vlanIdToIntfId(vlan));
}

std::set<Routing::Gmp::Brim::RouteIntfKey> joins(Routing::Gmp::Brim::Status const& status) {
  std::set<Routing::Gmp::Brim::RouteIntfKey> out;
  for (auto const& [k, v] : status.entries())
    if (v == 1) out.insert(k);
  return out;
}

}  // namespace TestSupport
