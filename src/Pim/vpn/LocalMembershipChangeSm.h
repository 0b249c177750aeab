// LocalMembershipChangeSm — the change tracker of one membership join status
// (the VPN inject path's producers of the change set, with
// OverlayMembershipChangeSm and SbdVlanChangeSm).
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
//     unreported. The one exception: a change set marked discarded (its path
//     is being torn down, nobody reviews it any more) gets no final pass,
//     unless the overlay membership trace is on at level 8, which would
//     show it. Re-pointing a reactor to another object with the same key
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
#pragma once

#include <cstdint>
#include <optional>

#include "Pim/vpn/MembershipJoinStatusColl.h"
#include "Pim/vpn/OverlayChangeSet.h"
#include "Vorn/Notifiee.h"
#include "Vorn/SortedReactorSet.h"
#include "model/Bridging.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Egress {

// The SBD VLAN that serves `vlanId` per the IRB status's `vlanToSbd` table,
// if any: the one place the trackers read it. Without an IRB status no VLAN
// has one. A damaged read is reported to the table's doCorruptionDetected and
// read as "none"; `clean` (if given) tells whether the read was free of
// corruption.
std::optional<Bridging::VlanId> sbdVlanOf(McastIrbStatus const* irb, Bridging::VlanId vlanId, bool* clean = nullptr);

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

  // Whether a reactor going away must replay what it covered into the change
  // set: always, unless the set is discarded (its path is being torn down)
  // and the trace that would show the replay is off.
  bool finalPassNeeded() const;

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

}  // namespace Irb::Multicast::Egress
