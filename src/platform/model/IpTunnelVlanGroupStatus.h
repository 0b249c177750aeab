// The IP tunnel VLAN group status: which underlay routes carry each overlay
// VLAN group.
//
//   IpTunnelVlanGroupStatus (name)
//     vlanToMulticastGroup: OverlayVlanGroup -> VlanToMulticastGroup
//       multicastGroup: set of UnderlayRoute
//
// A mapping keyed by a VLAN and a group of no address family is the whole-VLAN
// mapping. Changes notify per key, after the change (see MembershipJoinStatus.h
// for the common rules of the model's entities).
//
//   auto status = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
//   auto m = VlanToMulticastGroup::vlanToMulticastGroupIs({10, group});
//   m->multicastGroupIs(route); status->vlanToMulticastGroupIs(m);
#pragma once

#include "Vorn/Collection.h"
#include "Vorn/Entity.h"
#include "Vorn/String.h"
#include "model/RoutingTypes.h"

namespace Routing::Multicast {

class VlanToMulticastGroup : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrMulticastGroup = 1 };
  using MulticastGroupColl = Vorn::KeyedSet<UnderlayRoute>;

  explicit VlanToMulticastGroup(OverlayVlanGroup const& key) : key_(key) {}
  static Vorn::Ptr<VlanToMulticastGroup> vlanToMulticastGroupIs(OverlayVlanGroup const& key);

  OverlayVlanGroup const& overlayVlanGroup() const noexcept { return key_; }
  MulticastGroupColl const& multicastGroup() const noexcept { return multicastGroup_; }
  bool multicastGroup(UnderlayRoute const& r) const { return multicastGroup_.contains(r); }
  void multicastGroupIs(UnderlayRoute const& r) { insertIn(multicastGroup_, attrMulticastGroup, r); }
  bool multicastGroupDel(UnderlayRoute const& r) { return eraseFrom(multicastGroup_, attrMulticastGroup, r); }
  void multicastGroupDelAll() { eraseAllFrom(multicastGroup_, attrMulticastGroup); }

  char const* fwkType() const override { return "Routing::Multicast::VlanToMulticastGroup"; }

 private:
  OverlayVlanGroup key_;
  MulticastGroupColl multicastGroup_;
};

class IpTunnelVlanGroupStatus : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlanToMulticastGroup = 1 };
  using VlanToMulticastGroupColl = Vorn::KeyedMap<OverlayVlanGroup, Vorn::Ptr<VlanToMulticastGroup>>;

  explicit IpTunnelVlanGroupStatus(Vorn::String name) : name_(std::move(name)) {}
  static Vorn::Ptr<IpTunnelVlanGroupStatus> ipTunnelVlanGroupStatusIs(Vorn::String name);

  Vorn::String const& name() const noexcept { return name_; }
  VlanToMulticastGroupColl const& vlanToMulticastGroup() const noexcept { return vlanToMulticastGroup_; }
  Vorn::Ptr<VlanToMulticastGroup const> vlanToMulticastGroup(OverlayVlanGroup const& key) const;
  Vorn::Ptr<VlanToMulticastGroup> vlanToMulticastGroupMutable(OverlayVlanGroup const& key) const;
  void vlanToMulticastGroupIs(Vorn::Ptr<VlanToMulticastGroup> const& m);
  Vorn::Ptr<VlanToMulticastGroup> vlanToMulticastGroupDel(OverlayVlanGroup const& key);
  void vlanToMulticastGroupDelAll() { takeAllFrom(vlanToMulticastGroup_, attrVlanToMulticastGroup); }

  char const* fwkType() const override { return "Routing::Multicast::IpTunnelVlanGroupStatus"; }

 private:
  Vorn::String name_;
  VlanToMulticastGroupColl vlanToMulticastGroup_;
};

}  // namespace Routing::Multicast
