#include "Pim/vpn/VpnInjectSm.h"

#include <optional>
#include <set>
#include <utility>

#include "Flit/Flit.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "Vorn/ReactorOwnership.h"

namespace Irb::Multicast::Egress {

using Routing::Multicast::IpTunnelVlanGroupStatus;
// ---- VpnInjectSm ---------------------------------------------------------------

// Holds the IRB status for the path; it has no handlers.
class VpnInjectSm::VornMcastIrbStatus : public Vorn::NotifieeConstOf<Irb::Multicast::McastIrbStatus> {
 public:
  VornMcastIrbStatus(Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& status, VpnInjectSm* owner)
      : vpnInjectSm_(owner) {
    notifierIs(status);
    isRegisteredNotifieeIs(true);
  }
  void ownerIs(VpnInjectSm* owner) noexcept { vpnInjectSm_ = owner; }
  VpnInjectSm* vpnInjectSm() const noexcept { return vpnInjectSm_; }

 private:
  VpnInjectSm* vpnInjectSm_;
};

Vorn::Ptr<VpnInjectSm> vpnInjectSmFactory(
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus) {
  return VpnInjectSm::VpnInjectSmIs(scheduler, membershipJoinStatusColl, tunnelVlanGroupStatus, mcastIrbStatus,
                                    underlayGmpStatus);
}

Vorn::Ptr<VpnInjectSm> VpnInjectSm::VpnInjectSmIs(
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus) {
  Vorn::Ptr<VpnInjectSm> sm(
      new VpnInjectSm(scheduler, membershipJoinStatusColl, tunnelVlanGroupStatus, mcastIrbStatus, underlayGmpStatus));
  sm->hasNotificationActiveIs(true);
  return sm;
}

VpnInjectSm::VpnInjectSm(Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
                         Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
                         Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
                         Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
                         Vorn::Ptr<Routing::Gmp::Brim::Status> const& underlayGmpStatus)
    : scheduler_(scheduler),
      membershipJoinStatusColl_(membershipJoinStatusColl),
      tunnelVlanGroupStatus_(tunnelVlanGroupStatus) {
  if (mcastIrbStatus) {
    vornMcastIrbStatus_ = Vorn::Ptr<VornMcastIrbStatus>(new VornMcastIrbStatus(mcastIrbStatus, this));
    vornMcastIrbStatus_->hasNotificationActiveIs(true);
  }
  underlayGmpStatus_ = underlayGmpStatus;
  try {
    underlayInjectNotifieeIs(underlayGmpStatus_);
    underlayInjectDedupTableIs(underlayInjectNotifiee_);
    // At most about one Join per mapping: the dedup table grown once instead
    // of doubling. (The status table is left to grow: its buckets are large,
    // and a path whose mappings are mostly unwanted would hold them empty.)
    if (tunnelVlanGroupStatus_) underlayInjectDedupTable_->reserve(tunnelVlanGroupStatus_->vlanToMulticastGroup().size());
    handleInitialized();
  } catch (...) {
    // Release what was built, in teardown order, before the exception leaves.
    tearDown();
    throw;
  }
}

VpnInjectSm::~VpnInjectSm() { tearDown(); }

void VpnInjectSm::tearDown() {
  // Nothing reviews the change set from here on: the trackers' final passes
  // into it would be work nobody reads.
  if (changeSet_) changeSet_->discardedIs(true);
  vornDoZombieReactors(true);
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->ownerIs(nullptr);
  underlayInjectNotifiee_ = nullptr;
  underlayInjectDedupTable_ = nullptr;
  sbdToVlanStatus_ = nullptr;
  reducedVlanGroupStatus_ = nullptr;
  sbdToVlanSmDel();
  ipTunnelVlanGroupReduceSmDel();
  vpnInjectReviewSmDel();
  overlayMembershipChangeSmDel();
  sbdVlanChangeSmDel();
  changeSet_ = nullptr;
  underlayGmpStatus_ = nullptr;
  vornMcastIrbStatus_ = nullptr;
  tunnelVlanGroupStatus_ = nullptr;
  membershipJoinStatusColl_ = nullptr;
  scheduler_ = nullptr;
}

Vorn::Ptr<Irb::Multicast::McastIrbStatus const> VpnInjectSm::mcastIrbStatus() const {
  return vornMcastIrbStatus_ ? vornMcastIrbStatus_->notifier() : Vorn::Ptr<Irb::Multicast::McastIrbStatus const>();
}

Vorn::NotifieeConst const* VpnInjectSm::vornMcastIrbStatus() const noexcept { return vornMcastIrbStatus_.ptr(); }

void VpnInjectSm::handleInitialized() {
  VORN_TRACE(vpnInjectSmTrace(), 8, kVpnInjectSmFile, 572, "handleInitialized",
             "void Irb::Multicast::Egress::VpnInjectSm::handleInitialized()");
  changeSetIs(overlayChangeSetFactory());
  sbdToVlanStatusIs();
  reducedVlanGroupStatusIs(Vorn::String(stringValue(Routing::Multicast::irbRemoteReduced())));
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const irb = mcastIrbStatus();
  sbdToVlanSmIs(irb, sbdToVlanStatus_);
  ipTunnelVlanGroupReduceSmIs(tunnelVlanGroupStatus_, irb, sbdToVlanStatus_, scheduler_, reducedVlanGroupStatus_);
  overlayMembershipChangeSmIs(membershipJoinStatusColl_, irb, reducedVlanGroupStatus_, changeSet_);
  sbdVlanChangeSmIs(sbdToVlanStatus_, reducedVlanGroupStatus_, changeSet_);
  vpnInjectReviewSmIs(scheduler_, membershipJoinStatusColl_, reducedVlanGroupStatus_, changeSet_, sbdToVlanStatus_,
                      underlayInjectDedupTable_);
  initializedIs(true);
}

Vorn::Ptr<MembershipDedupedLifetimeNotifiee> VpnInjectSm::underlayInjectNotifieeIs(
    Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus) {
  return Egress::underlayInjectNotifieeIs(underlayInjectNotifiee_, gmpStatus, fwkType());
}

Vorn::Ptr<Routing::Gmp::MembershipDedupTable> VpnInjectSm::underlayInjectDedupTableIs(
    Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee) {
  return Egress::underlayInjectDedupTableIs(underlayInjectDedupTable_, lifetimeNotifiee, fwkType());
}

Vorn::Ptr<OverlayChangeSet> VpnInjectSm::changeSetIs(Vorn::Ptr<OverlayChangeSet> const& changeSet) {
  changeSet_ = changeSet;
  return changeSet_;
}

Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> VpnInjectSm::sbdToVlanStatusIs() {
  if (!sbdToVlanStatus_) sbdToVlanStatus_ = Irb::Multicast::SbdToVlanStatus::sbdToVlanStatusIs();
  return sbdToVlanStatus_;
}

Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> VpnInjectSm::reducedVlanGroupStatusIs(Vorn::String name) {
  if (reducedVlanGroupStatus_ && reducedVlanGroupStatus_->name() == name) return reducedVlanGroupStatus_;
  if (reducedVlanGroupStatus_) reducedVlanGroupStatus_->parentIs(nullptr);
  reducedVlanGroupStatus_ = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(std::move(name));
  return reducedVlanGroupStatus_;
}

namespace {

// Replaces `slot` by `fresh` (switched on), releasing the old one.
template <class Sm>
Vorn::Ptr<Sm> install(Vorn::Ptr<Sm>& slot, Vorn::Ptr<Sm> fresh) {
  fresh->hasNotificationActiveIs(true);
  Vorn::Ptr<Sm> const old = std::exchange(slot, fresh);
  return fresh;
}

// Switches `slot` off and releases it; returns what it held.
template <class Sm>
Vorn::Ptr<Sm> uninstall(Vorn::Ptr<Sm>& slot) {
  if (slot) slot->hasNotificationActiveIs(false);
  return std::exchange(slot, nullptr);
}

}  // namespace

Vorn::Ptr<Irb::Multicast::SbdToVlanSm> VpnInjectSm::sbdToVlanSmIs(
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> const& sbdToVlanStatus) {
  if (sbdToVlanSm_ && sbdToVlanSm_->mcastIrbStatus() == mcastIrbStatus &&
      sbdToVlanSm_->sbdToVlanStatus() == sbdToVlanStatus) {
    return sbdToVlanSm_;
  }
  return install(sbdToVlanSm_, Irb::Multicast::SbdToVlanSm::SbdToVlanSmIs(mcastIrbStatus, sbdToVlanStatus));
}

Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> VpnInjectSm::ipTunnelVlanGroupReduceSmIs(
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> const& sbdToVlanStatus,
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& reducedVlanGroupStatus) {
  auto const& sm = ipTunnelVlanGroupReduceSm_;
  if (sm && sm->tunnelVlanGroupStatus() == tunnelVlanGroupStatus && sm->mcastIrbStatus() == mcastIrbStatus &&
      sm->sbdToVlanStatus() == sbdToVlanStatus && sm->scheduler() == scheduler &&
      sm->reducedVlanGroupStatus() == reducedVlanGroupStatus) {
    return sm;
  }
  return install(ipTunnelVlanGroupReduceSm_,
                 Routing::Multicast::IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSmIs(
                     tunnelVlanGroupStatus, mcastIrbStatus, sbdToVlanStatus, scheduler, reducedVlanGroupStatus));
}

Vorn::Ptr<OverlayMembershipChangeSm> VpnInjectSm::overlayMembershipChangeSmIs(
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<OverlayChangeSet> const& changeSet) {
  auto const& sm = overlayMembershipChangeSm_;
  if (sm && sm->joinStatusColl() == membershipJoinStatusColl && sm->mcastIrbStatus() == mcastIrbStatus &&
      sm->tunnelVlanGroupStatus() == tunnelVlanGroupStatus && sm->changeSet() == changeSet) {
    return sm;
  }
  return install(overlayMembershipChangeSm_,
                 OverlayMembershipChangeSm::OverlayMembershipChangeSmIs(membershipJoinStatusColl, mcastIrbStatus,
                                                                        tunnelVlanGroupStatus, changeSet));
}

Vorn::Ptr<SbdVlanChangeSm> VpnInjectSm::sbdVlanChangeSmIs(
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<OverlayChangeSet> const& changeSet) {
  auto const& sm = sbdVlanChangeSm_;
  if (sm && sm->sbdToVlanStatus() == sbdToVlanStatus && sm->tunnelVlanGroupStatus() == tunnelVlanGroupStatus &&
      sm->changeSet() == changeSet) {
    return sm;
  }
  return install(sbdVlanChangeSm_,
                 SbdVlanChangeSm::SbdVlanChangeSmIs(sbdToVlanStatus, tunnelVlanGroupStatus, changeSet));
}

Vorn::Ptr<VpnInjectReviewSm> VpnInjectSm::vpnInjectReviewSmIs(
    Vorn::Ptr<Keel::TaskScheduler> const& taskScheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<OverlayChangeSet> const& changeSet,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable) {
  auto const& sm = vpnInjectReviewSm_;
  if (sm && sm->scheduler() == taskScheduler && sm->membershipJoinStatusColl() == membershipJoinStatusColl &&
      sm->tunnelVlanGroupStatus() == tunnelVlanGroupStatus && sm->changeSet() == changeSet &&
      sm->sbdToVlanStatus() == sbdToVlanStatus && sm->underlayInjectDedupTable() == underlayInjectDedupTable) {
    return sm;
  }
  return install(vpnInjectReviewSm_,
                 VpnInjectReviewSm::VpnInjectReviewSmIs(taskScheduler, membershipJoinStatusColl, tunnelVlanGroupStatus,
                                                        changeSet, sbdToVlanStatus, underlayInjectDedupTable));
}

Vorn::Ptr<MembershipDedupedLifetimeNotifiee> VpnInjectSm::underlayInjectNotifieeDel() {
  return std::exchange(underlayInjectNotifiee_, nullptr);
}
Vorn::Ptr<Routing::Gmp::MembershipDedupTable> VpnInjectSm::underlayInjectDedupTableDel() {
  return std::exchange(underlayInjectDedupTable_, nullptr);
}
Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> VpnInjectSm::sbdToVlanStatusDel() {
  return std::exchange(sbdToVlanStatus_, nullptr);
}
Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> VpnInjectSm::reducedVlanGroupStatusDel() {
  return std::exchange(reducedVlanGroupStatus_, nullptr);
}
Vorn::Ptr<Irb::Multicast::McastIrbStatus const> VpnInjectSm::mcastIrbStatusDel() {
  return Vorn::letGo(std::exchange(vornMcastIrbStatus_, nullptr));
}
Vorn::Ptr<Irb::Multicast::SbdToVlanSm> VpnInjectSm::sbdToVlanSmDel() { return uninstall(sbdToVlanSm_); }
Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupReduceSm> VpnInjectSm::ipTunnelVlanGroupReduceSmDel() {
  return uninstall(ipTunnelVlanGroupReduceSm_);
}
Vorn::Ptr<VpnInjectReviewSm> VpnInjectSm::vpnInjectReviewSmDel() { return uninstall(vpnInjectReviewSm_); }
Vorn::Ptr<OverlayMembershipChangeSm> VpnInjectSm::overlayMembershipChangeSmDel() {
  return uninstall(overlayMembershipChangeSm_);
}
Vorn::Ptr<SbdVlanChangeSm> VpnInjectSm::sbdVlanChangeSmDel() { return uninstall(sbdVlanChangeSm_); }

void VpnInjectSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->hasNotificationActiveIs(active);
  if (sbdToVlanSm_) sbdToVlanSm_->hasNotificationActiveIs(active);
  if (ipTunnelVlanGroupReduceSm_) ipTunnelVlanGroupReduceSm_->hasNotificationActiveIs(active);
  if (vpnInjectReviewSm_) vpnInjectReviewSm_->hasNotificationActiveIs(active);
  if (overlayMembershipChangeSm_) overlayMembershipChangeSm_->hasNotificationActiveIs(active);
  if (sbdVlanChangeSm_) sbdVlanChangeSm_->hasNotificationActiveIs(active);
}

void VpnInjectSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->vornDoZombieReactors(zombie);
  zombie_ = zombie;
}

}  // namespace Irb::Multicast::Egress
