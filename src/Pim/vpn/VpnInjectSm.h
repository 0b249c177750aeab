#pragma once

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Pim/vpn/VpnInjectReviewSm.h"

namespace Irb::Multicast::Egress {

// ---- VpnInjectSm ---------------------------------------------------------------

// Irb::Multicast::Egress::VpnInjectSm — the VPN inject path's top level.
//
// Builds and wires, in this order: the Join writer and its dedup table; the
// change set, the SBD-to-VLAN status and the reduced tunnel VLAN group status
// it owns; the SBD-to-VLAN and reduce state machines that fill them; the
// overlay membership and SBD VLAN change trackers; the reviewer. Everything
// downstream of the reduce step reads the reduced status. Dropping the last
// reference tears the pipeline down in order; the reviewer's per-group
// reactors release their handles as they go, which withdraws every Join this
// path wrote.
//
//   auto vpn = vpnInjectSmFactory(scheduler, coll, tunnelStatus, irbStatus, gmpStatus);
//   scheduler->runUntilIdle();   // the first walk reviews every mapping
class VpnInjectSm : public Vorn::PtrInterface {
 public:
  static Vorn::Ptr<VpnInjectSm> VpnInjectSmIs(Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
                                              Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
                                              Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
                                              Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
                                              Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus);
  VpnInjectSm(Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
              Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
              Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
              Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
              Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus);
  ~VpnInjectSm() override;

  Vorn::Ptr<Keel::TaskScheduler> const& scheduler() const noexcept { return scheduler_; }
  Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl() const noexcept {
    return membershipJoinStatusColl_;
  }
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus() const noexcept {
    return tunnelVlanGroupStatus_;
  }
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> mcastIrbStatus() const;
  bool hasMcastIrbStatusReactor() const noexcept { return static_cast<bool>(vornMcastIrbStatus_); }
  // The reactor that holds the IRB status, seen as a plain notifiee (null
  // without one): its activity follows the top level's.
  Vorn::NotifieeConst const* vornMcastIrbStatus() const noexcept;
  Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus() const noexcept { return underlayGmpStatus_; }
  Vorn::Ptr<OverlayChangeSet> const& changeSet() const noexcept { return changeSet_; }
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> const& underlayInjectNotifiee() const noexcept {
    return underlayInjectNotifiee_;
  }
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable() const noexcept {
    return underlayInjectDedupTable_;
  }
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> const& sbdToVlanStatus() const noexcept { return sbdToVlanStatus_; }
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& reducedVlanGroupStatus() const noexcept {
    return reducedVlanGroupStatus_;
  }
  Vorn::Ptr<Irb::Multicast::SbdToVlanSm> const& sbdToVlanSm() const noexcept { return sbdToVlanSm_; }
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> const& ipTunnelVlanGroupReduceSm() const noexcept {
    return ipTunnelVlanGroupReduceSm_;
  }
  Vorn::Ptr<VpnInjectReviewSm> const& vpnInjectReviewSm() const noexcept { return vpnInjectReviewSm_; }
  Vorn::Ptr<OverlayMembershipChangeSm> const& overlayMembershipChangeSm() const noexcept {
    return overlayMembershipChangeSm_;
  }
  Vorn::Ptr<SbdVlanChangeSm> const& sbdVlanChangeSm() const noexcept { return sbdVlanChangeSm_; }
  bool initialized() const noexcept { return initialized_; }
  void initializedIs(bool initialized) noexcept { initialized_ = initialized; }

  // Why the Join of `key` is held or not (see Pim/join/JoinProvenance.h),
  // and the path's counters.
  JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const;
  InjectCounters counters() const;

  // Builds the pipeline (see the class comment for the order).
  void handleInitialized();

  // Setters: each reuses what it already holds when that was built from the
  // same inputs, else builds anew (notification on) and releases the old.
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifieeIs(
      Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus);
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTableIs(
      Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee);
  Vorn::Ptr<OverlayChangeSet> changeSetIs(Vorn::Ptr<OverlayChangeSet> const& changeSet);
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> sbdToVlanStatusIs();
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> reducedVlanGroupStatusIs(Vorn::String name);
  Vorn::Ptr<Irb::Multicast::SbdToVlanSm> sbdToVlanSmIs(
      Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> const& sbdToVlanStatus);
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> ipTunnelVlanGroupReduceSmIs(
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> const& sbdToVlanStatus,
      Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& reducedVlanGroupStatus);
  Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSmIs(
      Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
      Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<OverlayChangeSet> const& changeSet);
  Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmIs(
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<OverlayChangeSet> const& changeSet);
  Vorn::Ptr<VpnInjectReviewSm> vpnInjectReviewSmIs(
      Vorn::Ptr<Keel::TaskScheduler> const& taskScheduler,
      Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
      Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<OverlayChangeSet> const& changeSet,
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
      Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable);

  // Each returns what it released. State machines are switched off first.
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifieeDel();
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTableDel();
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> sbdToVlanStatusDel();
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> reducedVlanGroupStatusDel();
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> mcastIrbStatusDel();
  Vorn::Ptr<Irb::Multicast::SbdToVlanSm> sbdToVlanSmDel();
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> ipTunnelVlanGroupReduceSmDel();
  Vorn::Ptr<VpnInjectReviewSm> vpnInjectReviewSmDel();
  Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSmDel();
  Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmDel();

  // In order: this object, the IRB status reactor, the SBD-to-VLAN and reduce
  // state machines, the reviewer, the overlay membership and SBD VLAN trackers.
  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie);

  char const* fwkType() const override { return "Irb::Multicast::Egress::VpnInjectSm"; }

 private:
  class VornMcastIrbStatus;

  // Teardown in order: zombie marks, the IRB reactor's back link, the Join
  // writer, dedup table and owned statuses, then the state machines (each
  // switched off first), then the rest.
  void tearDown();

  Vorn::Ptr<Keel::TaskScheduler> scheduler_;
  Vorn::Ptr<MembershipJoinStatusColl const> membershipJoinStatusColl_;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> tunnelVlanGroupStatus_;
  Vorn::Ptr<VornMcastIrbStatus> vornMcastIrbStatus_;
  Vorn::Ptr<Routing::Gmp::Brim::Status> underlayGmpStatus_;
  Vorn::Ptr<OverlayChangeSet> changeSet_;
  Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifiee_;
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTable_;
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> sbdToVlanStatus_;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> reducedVlanGroupStatus_;
  Vorn::Ptr<Irb::Multicast::SbdToVlanSm> sbdToVlanSm_;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> ipTunnelVlanGroupReduceSm_;
  Vorn::Ptr<VpnInjectReviewSm> vpnInjectReviewSm_;
  Vorn::Ptr<OverlayMembershipChangeSm> overlayMembershipChangeSm_;
  Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSm_;
  bool initialized_ = false;
  bool zombie_ = false;
};

Vorn::Ptr<VpnInjectSm> vpnInjectSmFactory(
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus);

}  // namespace Irb::Multicast::Egress
