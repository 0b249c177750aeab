#include "model/MembershipJoinStatus.h"

#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Gmp {

using Model::lookup;
using Model::makeActive;

Vorn::Ptr<SourceMembershipJoin> SourceMembershipJoin::sourceMembershipJoinIs(Wirl::IpGenAddr const& a) {
  return makeActive<SourceMembershipJoin>(a);
}

Vorn::Ptr<GroupMembershipJoin> GroupMembershipJoin::groupMembershipJoinIs(Wirl::IpGenAddr const& a) {
  return makeActive<GroupMembershipJoin>(a);
}

Vorn::Ptr<SourceMembershipJoin const> GroupMembershipJoin::source(Wirl::IpGenAddr const& addr) const {
  return lookup<SourceMembershipJoin>(source_, addr);
}

Vorn::Ptr<SourceMembershipJoin> GroupMembershipJoin::sourceMutable(Wirl::IpGenAddr const& addr) const {
  return lookup<SourceMembershipJoin>(source_, addr);
}

void GroupMembershipJoin::sourceIs(Vorn::Ptr<SourceMembershipJoin> const& s) {
  if (!s) throw Vorn::MutatorNullArgumentException(fwkType(), "source");
  setIn(source_, attrSource, s->sourceAddr(), s);
}

Vorn::Ptr<SourceMembershipJoin> GroupMembershipJoin::sourceDel(Wirl::IpGenAddr const& addr) {
  return takeFrom(source_, attrSource, addr);
}

Vorn::Ptr<VlanMembershipJoin> VlanMembershipJoin::vlanMembershipJoinIs(Bridging::VlanId v) {
  return makeActive<VlanMembershipJoin>(v);
}

Vorn::Ptr<GroupMembershipJoin const> VlanMembershipJoin::group(Wirl::IpGenAddr const& addr) const {
  return lookup<GroupMembershipJoin>(group_, addr);
}

Vorn::Ptr<GroupMembershipJoin> VlanMembershipJoin::groupMutable(Wirl::IpGenAddr const& addr) const {
  return lookup<GroupMembershipJoin>(group_, addr);
}

void VlanMembershipJoin::groupIs(Vorn::Ptr<GroupMembershipJoin> const& g) {
  if (!g) throw Vorn::MutatorNullArgumentException(fwkType(), "group");
  setIn(group_, attrGroup, g->groupAddr(), g);
}

Vorn::Ptr<GroupMembershipJoin> VlanMembershipJoin::groupDel(Wirl::IpGenAddr const& addr) {
  return takeFrom(group_, attrGroup, addr);
}

Vorn::Ptr<MembershipJoinStatus> MembershipJoinStatus::membershipJoinStatusIs(Vorn::String name) {
  return makeActive<MembershipJoinStatus>(std::move(name));
}

Vorn::Ptr<VlanMembershipJoin const> MembershipJoinStatus::vlan(Bridging::VlanId v) const {
  return lookup<VlanMembershipJoin>(vlan_, v);
}

Vorn::Ptr<VlanMembershipJoin> MembershipJoinStatus::vlanMutable(Bridging::VlanId v) const {
  return lookup<VlanMembershipJoin>(vlan_, v);
}

void MembershipJoinStatus::vlanIs(Vorn::Ptr<VlanMembershipJoin> const& v) {
  if (!v) throw Vorn::MutatorNullArgumentException(fwkType(), "vlan");
  setIn(vlan_, attrVlan, v->vlanId(), v);
}

Vorn::Ptr<VlanMembershipJoin> MembershipJoinStatus::vlanDel(Bridging::VlanId v) {
  return takeFrom(vlan_, attrVlan, v);
}

}  // namespace Irb::Multicast::Gmp
