// The IGMP/MLD membership join status: what one source of joins (the switch
// itself, or one peer) has joined, as a tree of four entities:
//
//   MembershipJoinStatus (name)
//     vlan:        VlanId      -> VlanMembershipJoin
//       group:     IpGenAddr   -> GroupMembershipJoin   (wildcard groups allowed)
//         source:  IpGenAddr   -> SourceMembershipJoin
//           includeIntf: set of IntfId (the interfaces that joined)
//
// Every effective change of a collection notifies the entity's observers with
// the attribute and the element's key (VLAN id, group address, source address,
// interface), after the change. Replacing an element by another object with
// the same key notifies; setting the same object again does not.
// Mutators given a null pointer raise MutatorNullArgumentException and change
// nothing. New entities deliver nothing until `hasNotificationActiveIs(true)`;
// the `...Is` factories return them switched on.
//
//   auto status = MembershipJoinStatus::membershipJoinStatusIs("local");
//   auto vlan = VlanMembershipJoin::vlanMembershipJoinIs(10);
//   status->vlanIs(vlan); vlan->groupIs(GroupMembershipJoin::groupMembershipJoinIs(group));
#pragma once

#include "Vorn/Collection.h"
#include "Vorn/Entity.h"
#include "Vorn/String.h"
#include "model/Bridging.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Gmp {

class SourceMembershipJoin : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrIncludeIntf = 1 };
  using IncludeIntfColl = Vorn::KeyedSet<Wirl::IntfId>;

  explicit SourceMembershipJoin(Wirl::IpGenAddr const& sourceAddr) : sourceAddr_(sourceAddr) {}
  static Vorn::Ptr<SourceMembershipJoin> sourceMembershipJoinIs(Wirl::IpGenAddr const& sourceAddr);

  Wirl::IpGenAddr const& sourceAddr() const noexcept { return sourceAddr_; }
  IncludeIntfColl const& includeIntf() const noexcept { return includeIntf_; }
  bool includeIntf(Wirl::IntfId intf) const { return includeIntf_.contains(intf); }
  void includeIntfIs(Wirl::IntfId intf) { insertIn(includeIntf_, attrIncludeIntf, intf); }
  bool includeIntfDel(Wirl::IntfId intf) { return eraseFrom(includeIntf_, attrIncludeIntf, intf); }
  void includeIntfDelAll() { eraseAllFrom(includeIntf_, attrIncludeIntf); }

  char const* fwkType() const override { return "Irb::Multicast::Gmp::SourceMembershipJoin"; }

 private:
  Wirl::IpGenAddr sourceAddr_;
  IncludeIntfColl includeIntf_;
};

class GroupMembershipJoin : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrSource = 1 };
  using SourceColl = Vorn::KeyedMap<Wirl::IpGenAddr, Vorn::Ptr<SourceMembershipJoin>>;

  explicit GroupMembershipJoin(Wirl::IpGenAddr const& groupAddr) : groupAddr_(groupAddr) {}
  static Vorn::Ptr<GroupMembershipJoin> groupMembershipJoinIs(Wirl::IpGenAddr const& groupAddr);

  Wirl::IpGenAddr const& groupAddr() const noexcept { return groupAddr_; }
  SourceColl const& source() const noexcept { return source_; }
  Vorn::Ptr<SourceMembershipJoin const> source(Wirl::IpGenAddr const& addr) const;
  // The entry for in-place changes by its owner (null when absent).
  Vorn::Ptr<SourceMembershipJoin> sourceMutable(Wirl::IpGenAddr const& addr) const;
  void sourceIs(Vorn::Ptr<SourceMembershipJoin> const& source);
  Vorn::Ptr<SourceMembershipJoin> sourceDel(Wirl::IpGenAddr const& addr);
  void sourceDelAll() { takeAllFrom(source_, attrSource); }

  char const* fwkType() const override { return "Irb::Multicast::Gmp::GroupMembershipJoin"; }

 private:
  Wirl::IpGenAddr groupAddr_;
  SourceColl source_;
};

class VlanMembershipJoin : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrGroup = 1 };
  using GroupColl = Vorn::KeyedMap<Wirl::IpGenAddr, Vorn::Ptr<GroupMembershipJoin>>;

  explicit VlanMembershipJoin(Bridging::VlanId vlanId) : vlanId_(vlanId) {}
  static Vorn::Ptr<VlanMembershipJoin> vlanMembershipJoinIs(Bridging::VlanId vlanId);

  Bridging::VlanId vlanId() const noexcept { return vlanId_; }
  GroupColl const& group() const noexcept { return group_; }
  Vorn::Ptr<GroupMembershipJoin const> group(Wirl::IpGenAddr const& addr) const;
  Vorn::Ptr<GroupMembershipJoin> groupMutable(Wirl::IpGenAddr const& addr) const;
  void groupIs(Vorn::Ptr<GroupMembershipJoin> const& group);
  Vorn::Ptr<GroupMembershipJoin> groupDel(Wirl::IpGenAddr const& addr);
  void groupDelAll() { takeAllFrom(group_, attrGroup); }

  char const* fwkType() const override { return "Irb::Multicast::Gmp::VlanMembershipJoin"; }

 private:
  Bridging::VlanId vlanId_;
  GroupColl group_;
};

class MembershipJoinStatus : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlan = 1 };
  // Hashed: a leaf's statuses hold thousands of VLANs, looked up on every join.
  using VlanColl = Vorn::HashedKeyedMap<Bridging::VlanId, Vorn::Ptr<VlanMembershipJoin>>;

  explicit MembershipJoinStatus(Vorn::String name) : name_(std::move(name)) {}
  static Vorn::Ptr<MembershipJoinStatus> membershipJoinStatusIs(Vorn::String name);

  Vorn::String const& name() const noexcept { return name_; }
  VlanColl const& vlan() const noexcept { return vlan_; }
  Vorn::Ptr<VlanMembershipJoin const> vlan(Bridging::VlanId vlanId) const;
  Vorn::Ptr<VlanMembershipJoin> vlanMutable(Bridging::VlanId vlanId) const;
  void vlanIs(Vorn::Ptr<VlanMembershipJoin> const& vlan);
  Vorn::Ptr<VlanMembershipJoin> vlanDel(Bridging::VlanId vlanId);
  void vlanDelAll() { takeAllFrom(vlan_, attrVlan); }

  char const* fwkType() const override { return "Irb::Multicast::Gmp::MembershipJoinStatus"; }

 private:
  Vorn::String name_;
  VlanColl vlan_;
};

}  // namespace Irb::Multicast::Gmp
