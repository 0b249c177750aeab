// Overlay membership of the VPN inject path: who wants which overlay VLAN
// group, and which overlay VLAN groups must be looked at again.
//
// OVERVIEW
//   MembershipJoinStatusColl   the local (this switch's) and peer membership
//                              join statuses by name, with the two questions
//                              the reviewer asks: groupActive, vlanActive.
//   OverlayChangeSet           the hand-off point: producers add the overlay
//                              VLAN groups whose Join decision may have
//                              changed, then bump `changed` once; the reviewer
//                              reacts to `changed` only and drains the set.
//   Mode                       the level at which a change tracker watches a
//                              status: groupLevel (local), interfaceLevel (peer).
//
// GUARANTEES
//   - Mutators notify only on an effective change; `changedInc` wraps at 2^32.
//   - Local statuses count at group level, with the IPv4 and IPv6 wildcard
//     groups standing for every group of their VLAN; peer statuses count only
//     through interfaces that are not multicast tunnel interfaces.
//
// WARNING
//   Single event thread; the queries take no lock.
//
// TYPICAL USAGE
//   auto coll = membershipJoinStatusCollFactory();
//   coll->localMembershipIs(status);
//   bool wanted = coll->groupActive(10, group);
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "Vorn/Collection.h"
#include "Vorn/EnumType.h"
#include "Vorn/Entity.h"
#include "Vorn/String.h"
#include "model/Bridging.h"
#include "model/MembershipJoinStatus.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Egress {

// ---- MembershipJoinStatusColl -------------------------------------------------

class MembershipJoinStatusColl : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrLocalMembership = 1, attrPeerMembership = 2 };
  using StatusPtr = Vorn::Ptr<Gmp::MembershipJoinStatus const>;
  // Keyed by the status's own name.
  using StatusColl = Vorn::KeyedMap<Vorn::String, StatusPtr>;

  MembershipJoinStatusColl() = default;
  ~MembershipJoinStatusColl() override;

  StatusColl const& localMembership() const noexcept { return local_; }
  StatusPtr localMembership(Vorn::String const& name) const;
  // Inserts, or replaces the status of the same name. Null raises
  // MutatorNullArgumentException. The same object again notifies nothing.
  void localMembershipIs(StatusPtr const& status);
  StatusPtr localMembershipDel(Vorn::String const& name);
  void localMembershipDelAll() { takeAllFrom(local_, attrLocalMembership); }

  StatusColl const& peerMembership() const noexcept { return peer_; }
  StatusPtr peerMembership(Vorn::String const& name) const;
  void peerMembershipIs(StatusPtr const& status);
  StatusPtr peerMembershipDel(Vorn::String const& name);
  void peerMembershipDelAll() { takeAllFrom(peer_, attrPeerMembership); }

  // Whether any status wants traffic of `group` on `vlanId`: a local status
  // with that exact group entry or a wildcard group entry (IPv4 or IPv6) in
  // the VLAN; or a peer status with that exact group entry having a source
  // that includes an interface other than a multicast tunnel interface.
  bool groupActive(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const;
  // Whether any status wants any traffic on `vlanId`: a local status whose
  // VLAN entry holds a group; or a peer status with a group of the VLAN having
  // a source that includes a non-tunnel interface. Traces its outcome at 9.
  bool vlanActive(Bridging::VlanId vlanId) const;

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipJoinStatusColl"; }

 private:
  void statusIs(StatusColl& coll, Attribute attribute, char const* attributeName, StatusPtr const& status);

  StatusColl local_;
  StatusColl peer_;
};

Vorn::Ptr<MembershipJoinStatusColl> membershipJoinStatusCollFactory();

// ---- OverlayChangeSet ------------------------------------------------------------

class OverlayChangeSet : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlanGroup = 1, attrChanged = 2 };
  using VlanGroupColl = Vorn::KeyedSet<Routing::Multicast::OverlayVlanGroup>;

  VlanGroupColl const& vlanGroup() const noexcept { return vlanGroup_; }
  bool vlanGroup(Routing::Multicast::OverlayVlanGroup const& key) const { return vlanGroup_.contains(key); }
  // Adds the key; a key already present changes and notifies nothing.
  void vlanGroupIs(Routing::Multicast::OverlayVlanGroup const& key) { insertIn(vlanGroup_, attrVlanGroup, key); }
  // Removes the key; true when it was present.
  bool vlanGroupDel(Routing::Multicast::OverlayVlanGroup const& key) {
    return eraseFrom(vlanGroup_, attrVlanGroup, key);
  }
  void vlanGroupDelAll() { eraseAllFrom(vlanGroup_, attrVlanGroup); }

  std::uint32_t changed() const noexcept { return changed_; }
  // Sets the counter; notifies `changed` (no key) only when the value differs.
  void changedIs(std::uint32_t value);
  // Adds `delta` with unsigned 32-bit wrap-around; returns the new value.
  std::uint32_t changedInc(std::uint32_t delta);

  char const* fwkType() const override { return "Irb::Multicast::Egress::OverlayChangeSet"; }

 private:
  VlanGroupColl vlanGroup_;
  std::uint32_t changed_ = 0;
};

Vorn::Ptr<OverlayChangeSet> overlayChangeSetFactory();

// ---- Mode --------------------------------------------------------------------------

enum class Mode : std::uint32_t { groupLevel = 0, interfaceLevel = 1 };

Vorn::EnumType<unsigned> const& modeEnumType();
std::optional<Mode> ModeInstance(unsigned value);
std::optional<Mode> ModeInstance(Vorn::String const& name);
// "groupLevel" or "interfaceLevel" (null for a value outside the enumeration).
char const* stringValue(Mode mode);
Vorn::String valueToStrep(Mode const& mode);
// Parses a name at [pos, end); on success stores it, advances pos, returns true.
bool sequenceToValue(Vorn::String::IteratorConst& pos, Vorn::String::IteratorConst const& end, Mode* mode);
std::ostream& operator<<(std::ostream& os, Mode const& mode);

}  // namespace Irb::Multicast::Egress
