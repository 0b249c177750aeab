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
//   LocalMembershipChangeSm    change tracker of one membership join status
//                              (see its section below).
//   OverlayMembershipChangeSm  one tracker per status of the collection.
//   SbdVlanChangeSm            change tracker of the SBD VLAN memberships.
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

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "Pim/StatusVlanIndex.h"
#include "Vorn/SortedReactorSet.h"
#include "Vorn/Collection.h"
#include "Vorn/EnumType.h"
#include "Vorn/Entity.h"
#include "Vorn/Notifiee.h"
#include "Vorn/String.h"
#include "model/Bridging.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
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
  void localMembershipDelAll();

  StatusColl const& peerMembership() const noexcept { return peer_; }
  StatusPtr peerMembership(Vorn::String const& name) const;
  void peerMembershipIs(StatusPtr const& status);
  StatusPtr peerMembershipDel(Vorn::String const& name);
  void peerMembershipDelAll();

  // Whether any status wants traffic of `group` on `vlanId`: a local status
  // with that exact group entry or a wildcard group entry (IPv4 or IPv6) in
  // the VLAN; or a peer status with that exact group entry having a source
  // that includes an interface other than a multicast tunnel interface.
  bool groupActive(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const;
  // Whether any status wants any traffic on `vlanId`: a local status whose
  // VLAN entry holds a group; or a peer status with a group of the VLAN having
  // a source that includes a non-tunnel interface. Traces its outcome at 9.
  // Both visit only the statuses holding an entry for the VLAN (an index kept
  // by observing each status: statuses must keep their notification on).
  bool vlanActive(Bridging::VlanId vlanId) const;

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipJoinStatusColl"; }

 private:
  void statusIs(StatusColl& coll, StatusVlanIndex& index, Attribute attribute, char const* attributeName,
                StatusPtr const& status);
  StatusPtr statusDel(StatusColl& coll, StatusVlanIndex& index, Attribute attribute, Vorn::String const& name);

  StatusColl local_;
  StatusColl peer_;
  StatusVlanIndex localVlans_;
  StatusVlanIndex peerVlans_;
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

// ==== Change trackers ==================================================================
//
// Producers of the change set. Each turns changes of its input into overlay
// VLAN group keys whose Join decision may have changed (`vlanGroupIs`), then
// one `changedInc(1)` per event. They decide nothing: a recorded key only
// causes a review.
//
//   LocalMembershipChangeSm    one membership join status, mirrored by a tree
//                              of reactors: VornMembershipJoinStatus (the
//                              status), VlanSm (a VLAN entry), and in mode
//                              interfaceLevel VornGroupMembership (a group) and
//                              VornSourceMembership (a source). Every event
//                              ends in VlanSm::groupChanged, the change rule:
//                              a specific group records (VLAN, group) and, when
//                              the VLAN has an SBD VLAN, (SBD VLAN, group); a
//                              wildcard or family-less group records every
//                              mapping of the VLAN and of its SBD VLAN (and
//                              bumps nothing when there is none).
//   OverlayMembershipChangeSm  one LocalMembershipChangeSm per local status
//                              (groupLevel) and per peer status
//                              (interfaceLevel); the tracker of a name is torn
//                              down and rebuilt whenever the entry under that
//                              name changes.
//   SbdVlanChangeSm            one VornSbdState per SBD VLAN: a member change,
//                              a new or a removed SBD VLAN records every
//                              mapping of the SBD VLAN and always bumps the
//                              counter.
//
// GUARANTEES
//   - Keys are added before the counter moves.
//   - A removed reactor (and a destroyed tracker) runs its handler once more
//     against what its input still lists, so nothing it covered goes
//     unreported. Re-pointing a reactor to another object with the same key
//     reports exactly what differs between the two objects' content.
//   - Multicast tunnel interfaces never count as a change.
//   - Without an IRB status, or when its `vlanToSbd` read reports corruption
//     (passed to the table's doCorruptionDetected), a VLAN has no SBD VLAN.
//     A pass over one VLAN's groups (a VlanSm replaying them, or re-pointed)
//     reads the table once: its first clean read serves the whole pass; a
//     damaged read is not kept, so the pass's next change reads again.
//   - Memory: a VlanSm, a group reactor and a source reactor take 56, 56 and
//     48 bytes; each holds its children in a SortedReactorSet, so a child
//     collection of one reactor allocates nothing of its own.
//
// WARNING
//   Single event thread. Notification is synchronous: recording into the
//   change set runs its observers before the tracker goes on. The tunnel
//   VLAN group status and the change set must not be null.
//
// TYPICAL USAGE
//   auto sm = overlayMembershipChangeSmFactory(coll, irb, reducedTunnelStatus, changeSet);
//   auto sbd = sbdVlanChangeSmFactory(sbdToVlanStatus, reducedTunnelStatus, changeSet);
//   coll->localMembershipIs(status);   // its (VLAN, group) keys land in changeSet

// ---- LocalMembershipChangeSm -----------------------------------------------------

class LocalMembershipChangeSm : public Vorn::PtrInterface {
 public:
  using StatusPtr = Vorn::Ptr<Gmp::MembershipJoinStatus const>;
  using IrbStatusPtr = Vorn::Ptr<McastIrbStatus const>;
  using TunnelStatusPtr = Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const>;
  using ChangeSetPtr = Vorn::Ptr<OverlayChangeSet>;
  using VlanJoinPtr = Vorn::Ptr<Gmp::VlanMembershipJoin const>;

  class VornMembershipJoinStatus;
  class VlanSm;
  struct VlanSmKey {
    Bridging::VlanId operator()(VlanSm const& vlanSm) const noexcept;
  };
  // The VlanSm reactors by VLAN.
  using VlanSmColl = Vorn::SortedReactorSet<VlanSm, Bridging::VlanId, VlanSmKey>;

  // Builds the tracker (which records what `status` already lists) and
  // switches its notifications on. `status` and `mcastIrbStatus` may be null.
  static Vorn::Ptr<LocalMembershipChangeSm> LocalMembershipChangeSmIs(Mode mode, StatusPtr const& status,
                                                                      IrbStatusPtr const& mcastIrbStatus,
                                                                      TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                                      ChangeSetPtr const& changeSet);
  // Construction only; LocalMembershipChangeSmIs also switches notification on.
  LocalMembershipChangeSm(Mode mode, StatusPtr const& status, IrbStatusPtr const& mcastIrbStatus,
                          TunnelStatusPtr const& tunnelVlanGroupStatus, ChangeSetPtr const& changeSet);
  ~LocalMembershipChangeSm() override;

  Mode mode() const noexcept { return mode_; }
  // The observed status (null once taken out with membershipJoinStatusDel).
  StatusPtr membershipJoinStatus() const;
  IrbStatusPtr const& mcastIrbStatus() const noexcept { return mcastIrbStatus_; }
  TunnelStatusPtr const& tunnelVlanGroupStatus() const noexcept { return tunnelVlanGroupStatus_; }
  ChangeSetPtr const& changeSet() const noexcept { return changeSet_; }
  // The status's name, or "" without one; the tracker's key.
  Vorn::String name() const;
  Vorn::String fwkKey() const { return name(); }

  VlanSmColl const& vlanMembership() const noexcept { return vlanMembership_; }
  Vorn::Ptr<VlanSm> vlanMembership(Bridging::VlanId vlanId) const;
  // Creates the VlanSm of the join's VLAN (which replays its groups), or
  // re-points the existing one to this object. Null raises
  // MutatorNullArgumentException.
  void vlanMembershipIs(VlanJoinPtr const& join);
  // Removes the VlanSm of `vlanId` after its final pass; returns its join.
  VlanJoinPtr vlanMembershipDel(Bridging::VlanId vlanId);
  void vlanMembershipDelAll();
  // Takes the status reactor out; the VlanSm reactors stay. Returns the status.
  StatusPtr membershipJoinStatusDel();

  // The SBD VLAN that serves `vlanId`, if any. A damaged `vlanToSbd` table is
  // reported to its doCorruptionDetected and read as "no SBD VLAN".
  std::optional<Bridging::VlanId> sbdVlan(Bridging::VlanId vlanId) const;

  void hasNotificationActiveIs(bool active) override;
  // The final pass: replays every VlanSm (and below) once, then sets the mark.
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  // Runs handleVlan of `vlanSm` (the final pass of a VlanSm).
  void vorn_handleVlanMembership(Vorn::Ptr<VlanSm> const& vlanSm);

  char const* fwkType() const override { return "Irb::Multicast::Egress::LocalMembershipChangeSm"; }

 private:
  friend class VlanSm;
  // sbdVlan(); `clean` tells whether the read was free of corruption.
  std::optional<Bridging::VlanId> readSbdVlan(Bridging::VlanId vlanId, bool* clean) const;

  Mode mode_;
  Vorn::Ptr<VornMembershipJoinStatus> membershipJoinStatus_;
  IrbStatusPtr mcastIrbStatus_;
  TunnelStatusPtr tunnelVlanGroupStatus_;
  ChangeSetPtr changeSet_;
  VlanSmColl vlanMembership_;
  bool zombie_ = false;
};

Vorn::Ptr<LocalMembershipChangeSm> localMembershipChangeSmFactory(
    Mode mode, LocalMembershipChangeSm::StatusPtr const& status, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

// Follows the status's `vlan` collection into its owner's VlanSm reactors.
class LocalMembershipChangeSm::VornMembershipJoinStatus : public Vorn::NotifieeConstOf<Gmp::MembershipJoinStatus> {
 public:
  VornMembershipJoinStatus(StatusPtr const& status, LocalMembershipChangeSm* owner);
  ~VornMembershipJoinStatus() override;

  LocalMembershipChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(LocalMembershipChangeSm* owner) noexcept { owner_ = owner; }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  char const* fwkType() const override {
    return "Irb::Multicast::Egress::LocalMembershipChangeSm::VornMembershipJoinStatus";
  }

 private:
  LocalMembershipChangeSm* owner_;
};

// One VLAN entry of the status: follows its `group` collection.
class LocalMembershipChangeSm::VlanSm : public Vorn::NotifieeConstOf<Gmp::VlanMembershipJoin> {
 public:
  class VornGroupMembership;
  using GroupJoinPtr = Vorn::Ptr<Gmp::GroupMembershipJoin const>;
  // A group reactor is kept under its join's group, which it never changes.
  struct GroupKey {
    Wirl::IpGenAddr const& operator()(VornGroupMembership const& reactor) const noexcept;
  };
  using GroupColl = Vorn::SortedReactorSet<VornGroupMembership, Wirl::IpGenAddr, GroupKey>;

  // Replays the join's groups (handleVlan) when `join` is not null.
  VlanSm(VlanJoinPtr const& join, LocalMembershipChangeSm* owner);
  ~VlanSm() override;

  // The join's VLAN; 1 without a join.
  Bridging::VlanId vlanId() const noexcept;
  // The VLAN its owner keeps it under: the join's VLAN at construction.
  Bridging::VlanId vlanKey() const noexcept { return vlanKey_; }
  LocalMembershipChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(LocalMembershipChangeSm* owner) noexcept { owner_ = owner; }
  // The owner's inputs (null without an owner).
  ChangeSetPtr changeSet() const;
  IrbStatusPtr mcastIrbStatus() const;
  TunnelStatusPtr tunnelVlanGroupStatus() const;

  // The change rule: records the keys `group` of this VLAN stands for.
  void groupChanged(Wirl::IpGenAddr const& group);
  // A group entry was added, replaced or removed.
  void handleGroup(Wirl::IpGenAddr const& group);
  // Replays every group entry the join lists.
  void handleVlan();
  // Re-points the reactor to another object of the same VLAN, reporting the
  // groups present in only one of the two and (interfaceLevel) bringing the
  // group reactors in line with the new object. The same object: nothing.
  void vlanMembershipIs(VlanJoinPtr const& join);
  void notifierIs(VlanJoinPtr const& join) override { vlanMembershipIs(join); }

  GroupColl const& groupMembership() const noexcept { return groupMembership_; }
  Vorn::Ptr<VornGroupMembership> groupMembership(Wirl::IpGenAddr const& group) const;
  // Create or re-point the reactor of the join's group. Null raises
  // MutatorNullArgumentException.
  void groupMembershipIs(GroupJoinPtr const& join);
  GroupJoinPtr groupMembershipDel(Wirl::IpGenAddr const& group);
  GroupJoinPtr groupMembershipDel(GroupColl::Iterator const& it);
  void groupMembershipDelAll();
  // Creates and inserts a reactor; precondition: none exists for the group.
  Vorn::Ptr<VornGroupMembership> newGroupMembership(GroupJoinPtr const& join);

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie) override;
  char const* fwkType() const override { return "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm"; }

 private:
  // Marks a pass over the VLAN's groups (handleVlan, a re-point): the pass's
  // first clean read of the SBD VLAN serves its later changes; a damaged read
  // is not kept (the next change reads again, as outside a pass).
  class SbdPassScope;
  enum SbdPassState : std::uint8_t { sbdPassNone = 0, sbdPassUnread, sbdPassNoSbd, sbdPassSbd };
  // The SBD VLAN for a change of `vlan` (the pass's value inside a pass).
  std::optional<Bridging::VlanId> sbdVlanOfChange(Bridging::VlanId vlan);

  // The three small members come first: they fit in the base's tail padding,
  // so a VlanSm takes 56 bytes.
  SbdPassState sbdPass_ = sbdPassNone;
  Bridging::VlanId vlanKey_;
  Bridging::VlanId passSbd_;
  LocalMembershipChangeSm* owner_;
  GroupColl groupMembership_;
};

// Interface level: one group entry of a VLAN, following its `source` collection.
class LocalMembershipChangeSm::VlanSm::VornGroupMembership : public Vorn::NotifieeConstOf<Gmp::GroupMembershipJoin> {
 public:
  class VornSourceMembership;
  using SourceJoinPtr = Vorn::Ptr<Gmp::SourceMembershipJoin const>;
  // A source reactor is kept under its join's source, which it never changes.
  struct SourceKey {
    Wirl::IpGenAddr const& operator()(VornSourceMembership const& reactor) const noexcept;
  };
  using SourceColl = Vorn::SortedReactorSet<VornSourceMembership, Wirl::IpGenAddr, SourceKey>;

  // Creates a source reactor for every source of `join`.
  VornGroupMembership(GroupJoinPtr const& join, VlanSm* owner);
  ~VornGroupMembership() override;

  // The join's group; an address of no family without a join.
  Wirl::IpGenAddr groupAddr() const noexcept;
  VlanSm* owner() const noexcept { return owner_; }
  void ownerIs(VlanSm* owner) noexcept { owner_ = owner; }

  // Re-points and re-synchronises the source reactors with the new object.
  // While held by a VlanSm, `join` must be of the same group.
  void notifierIs(GroupJoinPtr const& join) override;

  SourceColl const& sourceMembership() const noexcept { return sourceMembership_; }
  Vorn::Ptr<VornSourceMembership> sourceMembership(Wirl::IpGenAddr const& source) const;
  // Null raises MutatorNullArgumentException.
  void sourceMembershipIs(SourceJoinPtr const& join);
  SourceJoinPtr sourceMembershipDel(Wirl::IpGenAddr const& source);
  SourceJoinPtr sourceMembershipDel(SourceColl::Iterator const& it);
  void sourceMembershipDelAll();
  // Creates and inserts a reactor; precondition: none exists for the source.
  Vorn::Ptr<VornSourceMembership> newSourceMembership(SourceJoinPtr const& join);
  // Runs handleInterface() of `source` (its final pass).
  void vorn_handleSourceMembership(Vorn::Ptr<VornSourceMembership> const& source);

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie) override;

 private:
  VlanSm* owner_;
  SourceColl sourceMembership_;
};

// Interface level: one source of a group, following its `includeIntf` set.
class LocalMembershipChangeSm::VlanSm::VornGroupMembership::VornSourceMembership
    : public Vorn::NotifieeConstOf<Gmp::SourceMembershipJoin> {
 public:
  // Reports the group when `join` lists a non-tunnel interface.
  VornSourceMembership(SourceJoinPtr const& join, VornGroupMembership* owner);
  ~VornSourceMembership() override;

  Wirl::IpGenAddr sourceAddr() const noexcept;
  VornGroupMembership* owner() const noexcept { return owner_; }
  void ownerIs(VornGroupMembership* owner) noexcept { owner_ = owner; }

  // Re-points; reports the group once when the non-tunnel interfaces differ.
  // While held by a group reactor, `join` must be of the same source.
  void notifierIs(SourceJoinPtr const& join) override;
  // Reports the group once if the join lists a non-tunnel interface.
  void handleInterface();
  // Reports the group unless `intf` is a multicast tunnel interface.
  void handleInterface(Wirl::IntfId intf);

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  void vornDoZombieReactors(bool zombie) override;
  char const* fwkType() const override {
    return "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm::VornGroupMembership::VornSourceMembership";
  }

 private:
  void reportGroup();
  VornGroupMembership* owner_;
};

// ---- OverlayMembershipChangeSm ---------------------------------------------------

class OverlayMembershipChangeSm : public Vorn::PtrInterface {
 public:
  using JoinStatusCollPtr = Vorn::Ptr<MembershipJoinStatusColl const>;
  using TrackerPtr = Vorn::Ptr<LocalMembershipChangeSm>;
  using TrackerColl = Vorn::KeyedMap<Vorn::String, TrackerPtr>;

  class VornJoinStatusColl;

  // Builds one tracker per status present (the start-up sweep) and switches
  // notification on. `tunnelVlanGroupStatus` must be the reduced status.
  static Vorn::Ptr<OverlayMembershipChangeSm> OverlayMembershipChangeSmIs(
      JoinStatusCollPtr const& joinStatusColl, LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  OverlayMembershipChangeSm(JoinStatusCollPtr const& joinStatusColl,
                            LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                            LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                            LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  ~OverlayMembershipChangeSm() override;

  JoinStatusCollPtr joinStatusColl() const;
  LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus() const noexcept { return mcastIrbStatus_; }
  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus() const noexcept {
    return tunnelVlanGroupStatus_;
  }
  LocalMembershipChangeSm::ChangeSetPtr const& changeSet() const noexcept { return changeSet_; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized) noexcept { initialized_ = initialized; }

  TrackerColl const& localSm() const noexcept { return localSm_; }
  TrackerPtr localSm(Vorn::String const& name) const;
  TrackerColl const& peerSm() const noexcept { return peerSm_; }
  TrackerPtr peerSm(Vorn::String const& name) const;

  // Tear down the tracker of `name` (its content reported) and, if the
  // collection still holds a status of that name, build a new one.
  void handleLocalMembership(Vorn::String name);
  void handlePeerMembership(Vorn::String name);
  // The start-up sweep: local statuses first, then peers; sets `initialized`.
  void handleInitialized();

  // The tracker under the status's name: built from these arguments, or the
  // existing one when it was built from the very same arguments. Other
  // arguments raise ReinstantiationException; a null status raises
  // MutatorNullArgumentException.
  TrackerPtr localSmIs(Mode mode, LocalMembershipChangeSm::StatusPtr const& status,
                       LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                       LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                       LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  TrackerPtr peerSmIs(Mode mode, LocalMembershipChangeSm::StatusPtr const& status,
                      LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  // Removes the tracker; dropping the result destroys it (and reports it).
  TrackerPtr localSmDel(Vorn::String name);
  TrackerPtr peerSmDel(Vorn::String name);
  void localSmDelAll();
  void peerSmDelAll();
  // Takes the collection reactor out; the trackers stay.
  JoinStatusCollPtr joinStatusCollDel();

  // Switches the collection reactor and the local trackers; the peer
  // trackers keep the state they were built with.
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  char const* fwkType() const override { return "Irb::Multicast::Egress::OverlayMembershipChangeSm"; }

 private:
  TrackerPtr trackerIs(TrackerColl& coll, char const* attribute, char const* nullText, Mode mode,
                       LocalMembershipChangeSm::StatusPtr const& status,
                       LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
                       LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                       LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

  Vorn::Ptr<VornJoinStatusColl> joinStatusColl_;
  LocalMembershipChangeSm::IrbStatusPtr mcastIrbStatus_;
  LocalMembershipChangeSm::TunnelStatusPtr tunnelVlanGroupStatus_;
  LocalMembershipChangeSm::ChangeSetPtr changeSet_;
  TrackerColl localSm_;
  TrackerColl peerSm_;
  bool initialized_ = false;
  bool zombie_ = false;
};

Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSmFactory(
    OverlayMembershipChangeSm::JoinStatusCollPtr const& joinStatusColl,
    LocalMembershipChangeSm::IrbStatusPtr const& mcastIrbStatus,
    LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

// Follows both collections of the status collection into the owner's rebuilds.
class OverlayMembershipChangeSm::VornJoinStatusColl : public Vorn::NotifieeConstOf<MembershipJoinStatusColl> {
 public:
  VornJoinStatusColl(JoinStatusCollPtr const& coll, OverlayMembershipChangeSm* owner);
  ~VornJoinStatusColl() override;

  OverlayMembershipChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(OverlayMembershipChangeSm* owner) noexcept { owner_ = owner; }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  char const* fwkType() const override {
    return "Irb::Multicast::Egress::OverlayMembershipChangeSm::VornJoinStatusColl";
  }

 private:
  OverlayMembershipChangeSm* owner_;
};

// ---- SbdVlanChangeSm ------------------------------------------------------------------

class SbdVlanChangeSm : public Vorn::PtrInterface {
 public:
  using SbdToVlanStatusPtr = Vorn::Ptr<SbdToVlanStatus const>;
  using SbdStatePtr = Vorn::Ptr<SbdVlanState const>;

  class VornSbdToVlanStatus;
  class VornSbdState;
  using SbdStateColl = Vorn::KeyedMap<Bridging::VlanId, Vorn::Ptr<VornSbdState>>;

  // Builds one reactor per SBD VLAN present (each records its mappings and
  // bumps the counter) and switches notification on. `sbdToVlanStatus` may be
  // null: nothing is tracked then.
  static Vorn::Ptr<SbdVlanChangeSm> SbdVlanChangeSmIs(SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  SbdVlanChangeSm(SbdToVlanStatusPtr const& sbdToVlanStatus,
                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  ~SbdVlanChangeSm() override;

  SbdToVlanStatusPtr sbdToVlanStatus() const;
  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus() const noexcept {
    return tunnelVlanGroupStatus_;
  }
  LocalMembershipChangeSm::ChangeSetPtr const& changeSet() const noexcept { return changeSet_; }

  SbdStateColl const& sbdState() const noexcept { return sbdState_; }
  Vorn::Ptr<VornSbdState> sbdState(Bridging::VlanId sbdVlan) const;
  // Create or re-point the reactor of the state's SBD VLAN. Null raises
  // MutatorNullArgumentException.
  void sbdStateIs(SbdStatePtr const& state);
  // Removes the reactor after its final pass; returns its state.
  SbdStatePtr sbdStateDel(Bridging::VlanId sbdVlan);
  void sbdStateDelAll();
  // Takes the status reactor out; the per-SBD-VLAN reactors stay.
  SbdToVlanStatusPtr sbdToVlanStatusDel();
  // Runs handleSbdStatus of `state` (its final pass).
  void vorn_handleSbdState(Vorn::Ptr<VornSbdState> const& state);

  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm"; }

 private:
  Vorn::Ptr<VornSbdToVlanStatus> sbdToVlanStatus_;
  LocalMembershipChangeSm::TunnelStatusPtr tunnelVlanGroupStatus_;
  LocalMembershipChangeSm::ChangeSetPtr changeSet_;
  SbdStateColl sbdState_;
  bool zombie_ = false;
};

Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmFactory(SbdVlanChangeSm::SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

// Follows the status's `sbdVlanState` collection into the owner's reactors.
class SbdVlanChangeSm::VornSbdToVlanStatus : public Vorn::NotifieeConstOf<SbdToVlanStatus> {
 public:
  VornSbdToVlanStatus(SbdToVlanStatusPtr const& status, SbdVlanChangeSm* owner);
  ~VornSbdToVlanStatus() override;

  SbdVlanChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(SbdVlanChangeSm* owner) noexcept { owner_ = owner; }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdToVlanStatus"; }

 private:
  SbdVlanChangeSm* owner_;
};

// One SBD VLAN: any change of its members records its mappings.
class SbdVlanChangeSm::VornSbdState : public Vorn::NotifieeConstOf<SbdVlanState> {
 public:
  // Records the SBD VLAN's mappings when `state` is not null.
  VornSbdState(SbdStatePtr const& state, SbdVlanChangeSm* owner);
  ~VornSbdState() override;

  // The state's SBD VLAN; 1 without a state.
  Bridging::VlanId sbdVlan() const noexcept;
  SbdVlanChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(SbdVlanChangeSm* owner) noexcept { owner_ = owner; }

  // Records every mapping keyed by the SBD VLAN, then bumps the counter
  // (also when none matched).
  void handleSbdStatus();
  // Re-points; records when the member set differs from the old object's.
  void notifierIs(SbdStatePtr const& state) override;

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  void vornDoZombieReactors(bool zombie) override;
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState"; }

 private:
  SbdVlanChangeSm* owner_;
};

}  // namespace Irb::Multicast::Egress
