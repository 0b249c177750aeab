#include "Pim/OverlayMembershipSm.h"

#include "Pim/Trace.h"
#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Gmp::GroupMembershipJoin;
using Gmp::SourceMembershipJoin;
using Gmp::VlanMembershipJoin;
using Wirl::AddressFamily;
using Wirl::IpGenAddr;

namespace {

// Whether a group entry counts for a peer: one of its sources includes an
// interface other than a multicast tunnel interface.
bool peerGroupJoined(GroupMembershipJoin const& group) {
  for (auto const& [addr, source] : group.source()) {
    Vorn::Ptr<SourceMembershipJoin const> const s = source;
    for (Wirl::IntfId const intf : s->includeIntf()) {
      if (!::Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(intf)) return true;
    }
  }
  return false;
}

IpGenAddr const kIpv4Wildcard{AddressFamily::ipv4};
IpGenAddr const kIpv6Wildcard{AddressFamily::ipv6};

}  // namespace

// ---- MembershipJoinStatusColl -------------------------------------------------

MembershipJoinStatusColl::~MembershipJoinStatusColl() {
  // Nothing observes an entity that is being destroyed (observers hold it);
  // peer statuses go first, then local ones.
  while (peer_.firstKey()) peer_.erase(*peer_.firstKey());
  while (local_.firstKey()) local_.erase(*local_.firstKey());
}

Vorn::Ptr<MembershipJoinStatusColl> membershipJoinStatusCollFactory() {
  return Model::makeActive<MembershipJoinStatusColl>();
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(local_, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(peer_, name);
}

void MembershipJoinStatusColl::statusIs(StatusColl& coll, Attribute attribute, char const* attributeName,
                                        StatusPtr const& status) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), attributeName);
  Vorn::String const& key = status->name();
  if (StatusPtr const* existing = coll.find(key)) {
    if (*existing == status) return;
    VORN_ASSERT(key == (*existing)->name(), "fwkKey() == KeyFunktor()( _value )");
  }
  setIn(coll, attribute, key, status);
}

void MembershipJoinStatusColl::localMembershipIs(StatusPtr const& status) {
  statusIs(local_, attrLocalMembership, "localMembership", status);
}

void MembershipJoinStatusColl::peerMembershipIs(StatusPtr const& status) {
  statusIs(peer_, attrPeerMembership, "peerMembership", status);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembershipDel(Vorn::String const& name) {
  return takeFrom(local_, attrLocalMembership, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembershipDel(Vorn::String const& name) {
  return takeFrom(peer_, attrPeerMembership, name);
}

bool MembershipJoinStatusColl::groupActive(VlanId vlanId, IpGenAddr const& group) const {
  for (auto const& [name, status] : local_) {
    StatusPtr const s = status;
    Vorn::Ptr<VlanMembershipJoin const> const vlan = s->vlan(vlanId);
    if (!vlan) continue;
    if (vlan->group(group) || vlan->group(kIpv4Wildcard) || vlan->group(kIpv6Wildcard)) return true;
  }
  for (auto const& [name, status] : peer_) {
    StatusPtr const s = status;
    Vorn::Ptr<VlanMembershipJoin const> const vlan = s->vlan(vlanId);
    if (!vlan) continue;
    Vorn::Ptr<GroupMembershipJoin const> const g = vlan->group(group);
    if (g && peerGroupJoined(*g)) return true;
  }
  return false;
}

bool MembershipJoinStatusColl::vlanActive(VlanId vlanId) const {
  auto found = [](Vorn::String const& name) {
    VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, __LINE__, "vlanActive",
               "vlanActive" << "  found entry in " << name);
    return true;
  };
  for (auto const& [name, status] : local_) {
    StatusPtr const s = status;
    Vorn::Ptr<VlanMembershipJoin const> const vlan = s->vlan(vlanId);
    if (vlan && !vlan->group().empty()) return found(s->name());
  }
  for (auto const& [name, status] : peer_) {
    StatusPtr const s = status;
    Vorn::Ptr<VlanMembershipJoin const> const vlan = s->vlan(vlanId);
    if (!vlan) continue;
    for (auto const& [addr, group] : vlan->group()) {
      Vorn::Ptr<GroupMembershipJoin const> const g = group;
      if (peerGroupJoined(*g)) return found(s->name());
    }
  }
  VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, __LINE__, "vlanActive",
             "vlanActive" << "  No entry found ");
  return false;
}

// ---- OverlayChangeSet ------------------------------------------------------------

Vorn::Ptr<OverlayChangeSet> overlayChangeSetFactory() { return Model::makeActive<OverlayChangeSet>(); }

void OverlayChangeSet::changedIs(std::uint32_t value) {
  if (value == changed_) return;
  changed_ = value;
  notify(attrChanged, Vorn::Key());
}

std::uint32_t OverlayChangeSet::changedInc(std::uint32_t delta) {
  changedIs(changed_ + delta);  // unsigned: wraps modulo 2^32
  return changed_;
}

// ---- Mode --------------------------------------------------------------------------

Vorn::EnumType<unsigned> const& modeEnumType() {
  static Vorn::EnumType<unsigned> const type("Irb::Multicast::Egress::Mode",
                                             {{0u, "groupLevel"}, {1u, "interfaceLevel"}});
  return type;
}

std::optional<Mode> ModeInstance(unsigned value) {
  if (!modeEnumType().valid(value)) return std::nullopt;
  return static_cast<Mode>(value);
}

std::optional<Mode> ModeInstance(Vorn::String const& name) {
  auto v = modeEnumType().value(name.stdString());
  if (!v) return std::nullopt;
  return static_cast<Mode>(*v);
}

char const* stringValue(Mode mode) { return modeEnumType().name(static_cast<unsigned>(mode)); }

Vorn::String valueToStrep(Mode const& mode) {
  char const* name = stringValue(mode);
  return name ? Vorn::String(name) : Vorn::String(std::to_string(static_cast<unsigned>(mode)));
}

bool sequenceToValue(Vorn::String::IteratorConst& pos, Vorn::String::IteratorConst const& end, Mode* mode) {
  auto v = modeEnumType().parse(pos, end);
  if (!v) return false;
  if (mode) *mode = static_cast<Mode>(*v);
  return true;
}

std::ostream& operator<<(std::ostream& os, Mode const& mode) { return os << valueToStrep(mode); }

}  // namespace Irb::Multicast::Egress
