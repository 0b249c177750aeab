// The VPN inject path: its top level, the walk-based reviewer and the
// reviewer's per-mapping reactor.
//
// OVERVIEW
//   VpnInjectSm                    builds and owns the whole pipeline (see
//                                  the class comment below): Join writer,
//                                  change set, its own SBD-to-VLAN and reduced
//                                  statuses with the machines that fill them,
//                                  the change trackers, and the reviewer.
//   VpnInjectReviewSm              drains the shared OverlayChangeSet in slices
//                                  on the agent's TaskScheduler. For every
//                                  changed overlay VLAN group it asks the
//                                  membership collection whether the group (and
//                                  the VLAN as a whole) is wanted, trying the
//                                  VLANs an SBD VLAN serves when the VLAN itself
//                                  has no member, and hands the verdict to the
//                                  mapping's reactor.
//   VpnInjectReviewSm::
//     VlanToMulticastGroup         one per mapping of the tunnel VLAN group
//                                  status. While its `overlayMembership` is
//                                  true it holds a Join dedup handle for every
//                                  underlay route of the mapping, none while
//                                  false; the Join writer of the dedup table
//                                  turns handles into Joins.
//
// GUARANTEES
//   - A `changed` bump of the change set schedules a walk; a walk runs only
//     once the reviewer is initialized and resumes at its bookmark after a
//     yield. Every key in the set is reviewed and removed.
//   - A VLAN's verdict goes to every reactor of the VLAN keyed by a group that
//     is not specific (no family, 0.0.0.0, ::), evaluated once per slice.
//   - A new mapping queues its own key for review; a route added while the flag
//     is true is injected at once, a route removed is withdrawn at once.
//     Re-pointing a reactor to another object of the same key acts on exactly
//     the routes that differ. Turning the flag false leaves no handle held.
//   - Teardown releases every handle; Joins shared through the dedup table
//     stay while another holder keeps them.
//   - Once the first walk after construction has completed, every entry of
//     the status table that no handle stands for is removed (the table may
//     outlive the agent); wanted entries are never deleted and rewritten.
//
// WARNING
//   Single event thread: notifications and walk slices never overlap. The
//   reviewer must be held by a Vorn::Ptr (VpnInjectReviewSmIs) and needs a
//   change set and a tunnel VLAN group status.
//
// TYPICAL USAGE
//   auto vpn = vpnInjectSmFactory(scheduler, coll, tunnelStatus, irbStatus, gmpStatus);
//   scheduler->runUntilIdle();   // converged: the Joins are in gmpStatus
//   // the reviewer alone:
//   auto sm = VpnInjectReviewSm::VpnInjectReviewSmIs(scheduler, coll, tunnelStatus,
//                                                    changeSet, sbdToVlanStatus, dedupTable);
//   scheduler->runUntilIdle();   // first walk: every mapping reviewed
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Brim/MembershipDedupTable.h"
#include "Keel/TaskScheduler.h"
#include "Keel/WalkSmBase.h"
#include "Pim/join/JoinProvenance.h"
#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"
#include "Pim/vpn/MembershipJoinStatusColl.h"
#include "Pim/vpn/OverlayChangeSet.h"
#include "Pim/join/VornUnderlayRoute.h"
#include "Vorn/Collection.h"
#include "Vorn/Notifiee.h"
#include "model/Bridging.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/RoutingTypes.h"
#include "Brim/Status.h"
#include "external/IpTunnelVlanGroupReduceSm.h"
#include "external/SbdToVlanSm.h"

namespace Irb::Multicast::Egress {

class VpnInjectReviewSm : public Keel::WalkSmBase {
 public:
  class VlanToMulticastGroup;
  class VornTunnelVlanGroupStatus;
  class VornChangeSet;

  using OverlayVlanGroup = Routing::Multicast::OverlayVlanGroup;
  using Mapping = Routing::Multicast::VlanToMulticastGroup;
  using VlanToMulticastGroupColl = Vorn::HashedKeyedMap<OverlayVlanGroup, Vorn::Ptr<VlanToMulticastGroup>>;

  static constexpr Keel::TaskPriority kTaskPriority = 2;

  VpnInjectReviewSm(Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
                    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
                    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
                    Vorn::Ptr<OverlayChangeSet> const& changeSet,
                    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
                    Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable);
  ~VpnInjectReviewSm() override;

  // Allocates, constructs and switches notification on.
  static Vorn::Ptr<VpnInjectReviewSm> VpnInjectReviewSmIs(
      Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
      Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<OverlayChangeSet> const& changeSet,
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
      Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable);

  // ---- inputs -------------------------------------------------------------------
  Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl() const noexcept {
    return membershipJoinStatusColl_;
  }
  // The observed tunnel VLAN group status, or null.
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> tunnelVlanGroupStatus() const;
  // The observed change set, or null. The reviewer drains it, so it is handed
  // out as given (mutable).
  Vorn::Ptr<OverlayChangeSet> changeSet() const;
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus() const noexcept {
    return sbdToVlanStatus_;
  }
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable() const noexcept {
    return underlayInjectDedupTable_;
  }
  // The input reactors (null once detached).
  VornTunnelVlanGroupStatus* vornTunnelVlanGroupStatus() const noexcept { return vornTunnelVlanGroupStatus_.ptr(); }
  VornChangeSet* vornChangeSet() const noexcept { return vornChangeSet_.ptr(); }

  // Detach an input reactor (zombie, back link cleared, notifications off);
  // return the entity it observed.
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> tunnelVlanGroupStatusDel();
  Vorn::Ptr<OverlayChangeSet const> changeSetDel();

  // ---- per-mapping reactors -------------------------------------------------------
  VlanToMulticastGroupColl const& vornVlanToMulticastGroup() const noexcept { return vornVlanToMulticastGroup_; }
  VlanToMulticastGroup* vornVlanToMulticastGroup(OverlayVlanGroup const& key) const;
  // Creates the reactor of the mapping's key, re-points the existing one to
  // this mapping, or does nothing when it already observes it. Null raises
  // MutatorNullArgumentException.
  void vlanToMulticastGroupIs(Vorn::Ptr<Mapping const> const& mapping);
  // Removes the reactor of `key` (its handles are released); returns the
  // mapping it observed, or null.
  Vorn::Ptr<Mapping const> vlanToMulticastGroupDel(OverlayVlanGroup const& key);
  void vlanToMulticastGroupDelAll();

  // ---- walk state --------------------------------------------------------------------
  OverlayVlanGroup const& bookmark() const noexcept { return bookmark_; }
  void bookmarkIs(OverlayVlanGroup const& bookmark) { bookmark_ = bookmark; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized) { initialized_ = initialized; }

  // Queues every mapped VLAN group, marks the reviewer initialized and
  // schedules the first walk.
  void handleInitialized();
  // A `changed` bump: schedules a walk.
  void handleChangeSet();

  // Why the Join of `key` is held or not (see Pim/join/JoinProvenance.h).
  JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const;
  // Walks finished, slices run and change-set keys reviewed so far.
  std::uint64_t walks() const noexcept { return walks_; }
  std::uint64_t slices() const noexcept { return slices_; }
  std::uint64_t itemsReviewed() const noexcept { return itemsReviewed_; }
  // Entries the start-up cleanup removed.
  std::uint64_t staleRemoved() const noexcept { return staleRemoved_; }

  // The two review steps of the walk.
  void reviewVlanGroup(OverlayVlanGroup const& vlanGroup);
  void reviewVlan(Bridging::VlanId vlanId);

  // Walk hooks (called by the walk base; public so that a walk can be driven
  // one call at a time).
  Keel::WalkRet walk() override;
  bool walkStartedNotification() override;
  void walkFinishedNotification() override;
  bool allowWalkRestarts() const override { return true; }
  void traceEvent(Keel::WalkSmBase::TraceEvent event) const override;

  // Order: the walk base, the tunnel VLAN group reactor, the change-set
  // reactor, every per-mapping reactor.
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie) override;

  char const* fwkType() const override { return "Irb::Multicast::Egress::VpnInjectReviewSm"; }

 private:
  // handleInitialized; `keysQueued`: every mapped key is known to be in the
  // change set already (the constructor's reactors queued them).
  void initialize(bool keysQueued);
  // Start-up cleanup, once the first walk after construction has completed:
  // removes every entry of the Join writer's status table whose key the dedup
  // table holds no handle for (the table may outlive the agent: entries no
  // input wants would stay forever). Wanted entries are left as they are. A
  // corruption raised by the walk goes to the table's doCorruptionDetected and
  // ends it. One path writes a table at a time. Skipped when the table was
  // empty at construction and only the Join writer has changed it since
  // (unless a read is armed to report a corruption).
  void staleCleanup();
  // The Join writer behind the dedup table, if any.
  MembershipDedupedLifetimeNotifiee const* joinWriter() const;
  // Keeps vlanWide_ in line for `key` (a no-op for a specific group).
  void vlanWideIs(OverlayVlanGroup const& key, VlanToMulticastGroup* reactor);

  // The reactors of each VLAN whose key's group is not specific, by the
  // group's family (none, IPv4 wildcard, IPv6 wildcard): reviewVlan's one
  // lookup instead of three searches of the whole reactor collection.
  using VlanWide = std::array<VlanToMulticastGroup*, 3>;

  Vorn::Ptr<MembershipJoinStatusColl const> membershipJoinStatusColl_;
  Vorn::Ptr<VornTunnelVlanGroupStatus> vornTunnelVlanGroupStatus_;
  Vorn::Ptr<VornChangeSet> vornChangeSet_;
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> sbdToVlanStatus_;
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTable_;
  OverlayVlanGroup bookmark_;
  VlanToMulticastGroupColl vornVlanToMulticastGroup_;
  // Indexed by VLAN number (grown to the largest one seen).
  std::vector<VlanWide> vlanWide_;
  // The VLANs one walk call has reviewed: a bit per VLAN number, and the list
  // of those set, cleared when the call ends.
  std::vector<std::uint64_t> reviewedBits_;
  std::vector<std::uint16_t> reviewedList_;
  std::uint64_t walks_ = 0;
  std::uint64_t slices_ = 0;
  std::uint64_t itemsReviewed_ = 0;
  std::uint64_t staleRemoved_ = 0;
  bool initialized_ = false;
  bool staleCleaned_ = false;
  // The status table was empty when the reviewer was built (and the dedup
  // table held no handle), at this epoch: if every change since was the Join
  // writer's own, the table holds exactly the Joins the handles stand for and
  // the start-up cleanup has nothing to look for.
  bool startedOnEmptyTable_ = false;
  std::uint64_t startEpoch_ = 0;
};

// Mirrors the status's mappings into the reviewer's per-mapping reactors.
class VpnInjectReviewSm::VornTunnelVlanGroupStatus
    : public Vorn::NotifieeConstOf<Routing::Multicast::IpTunnelVlanGroupStatus> {
 public:
  VornTunnelVlanGroupStatus(Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& status,
                            VpnInjectReviewSm* owner);
  ~VornTunnelVlanGroupStatus() override;

  VpnInjectReviewSm* owner() const noexcept { return owner_; }
  void ownerIs(VpnInjectReviewSm* owner) noexcept { owner_ = owner; }

  // Re-pointing to another status brings the reactors in line with its
  // mappings: every mapping is set, reactors of keys it lacks are removed.
  void notifierIs(Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& status) override;
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;

  char const* fwkType() const override {
    return "Irb::Multicast::Egress::VpnInjectReviewSm::VornTunnelVlanGroupStatus";
  }

 private:
  VpnInjectReviewSm* owner_;
};

// Turns `changed` bumps of the change set into walks.
class VpnInjectReviewSm::VornChangeSet : public Vorn::NotifieeConstOf<OverlayChangeSet> {
 public:
  VornChangeSet(Vorn::Ptr<OverlayChangeSet const> const& changeSet, VpnInjectReviewSm* owner);
  ~VornChangeSet() override;

  VpnInjectReviewSm* owner() const noexcept { return owner_; }
  void ownerIs(VpnInjectReviewSm* owner) noexcept { owner_ = owner; }

  // Re-pointing to another, non-null change set schedules a walk.
  void notifierIs(Vorn::Ptr<OverlayChangeSet const> const& changeSet) override;
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;

  char const* fwkType() const override { return "Irb::Multicast::Egress::VpnInjectReviewSm::VornChangeSet"; }

 private:
  VpnInjectReviewSm* owner_;
};

// The reactor of one mapping: holds the Join handles of its underlay routes
// while the overlay VLAN group (or, for a VLAN-wide key, the VLAN) has
// overlay membership.
class VpnInjectReviewSm::VlanToMulticastGroup : public Vorn::NotifieeConstOf<Routing::Multicast::VlanToMulticastGroup> {
 public:
  using UnderlayRoute = Routing::Multicast::UnderlayRoute;
  using HandlePtr = Vorn::Ptr<Routing::Gmp::MembershipDeduped const>;
  using InjectRouteColl = VornUnderlayRoute;

  // Attaches to `mapping`, queues its key for review, then registers.
  VlanToMulticastGroup(Vorn::Ptr<Mapping const> const& mapping, VpnInjectReviewSm* owner);
  ~VlanToMulticastGroup() override;

  VpnInjectReviewSm* owner() const noexcept { return owner_; }
  void ownerIs(VpnInjectReviewSm* owner) noexcept { owner_ = owner; }

  Vorn::Ptr<Mapping const> vlanToMulticastGroup() const { return notifier(); }
  // Re-points the reactor (see notifierIs).
  void vlanToMulticastGroupIs(Vorn::Ptr<Mapping const> const& mapping) { notifierIs(mapping); }
  // The mapping's key, or the null overlay VLAN group without a mapping.
  OverlayVlanGroup key() const;

  bool overlayMembership() const noexcept { return overlayMembership_; }
  // The reviewer's verdict; a change runs handleOverlayMembership.
  void overlayMembershipIs(bool overlayMembership);

  InjectRouteColl const& injectRoute() const noexcept { return injectRoute_; }
  HandlePtr injectRoute(UnderlayRoute const& route) const;
  // Insert (absent, non-null), delete (present, null) or take the new handle
  // and release the old one (present, another handle).
  void injectRouteIs(UnderlayRoute const& route, HandlePtr const& handle);
  HandlePtr injectRouteDel(UnderlayRoute const& route);
  void injectRouteDelAll();

  void handleVlanToMulticastGroup();
  // The per-route rule: injected exactly while the flag is true and the
  // mapping lists the route.
  void handleMulticastGroup(UnderlayRoute const& route);
  void handleOverlayMembership();

  // Re-pointing to another mapping runs the per-route rule for exactly the
  // routes that only one of the two lists; equal content runs nothing.
  void notifierIs(Vorn::Ptr<Mapping const> const& mapping) override;
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  // Marking the reactor for deletion releases every handle.
  void vornDoZombieReactors(bool zombie) override;

  char const* fwkType() const override {
    return "Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup";
  }

 private:
  void withdraw(UnderlayRoute const& route) { injectRouteDel(route); }

  VpnInjectReviewSm* owner_;
  InjectRouteColl injectRoute_;
  bool overlayMembership_ = false;
};

}  // namespace Irb::Multicast::Egress
