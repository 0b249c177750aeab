#include "Pim/vpn/VpnInjectReviewSm.h"

#include <optional>
#include <utility>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Flit/Flit.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "Vorn/ReactorOwnership.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::OverlayVlanGroup;
using Wirl::IpGenAddr;

// ==== VpnInjectReviewSm ===============================================================

VpnInjectReviewSm::VpnInjectReviewSm(
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus, Vorn::Ptr<OverlayChangeSet> const& changeSet,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable)
    : Keel::WalkSmBase(scheduler, kTaskPriority, "VpnInjectReviewSm"),
      membershipJoinStatusColl_(membershipJoinStatusColl) {
  if (tunnelVlanGroupStatus) {
    vornTunnelVlanGroupStatus_ = Vorn::make<VornTunnelVlanGroupStatus>(tunnelVlanGroupStatus, this);
    vornTunnelVlanGroupStatus_->hasNotificationActiveIs(true);
  }
  if (changeSet) {
    vornChangeSet_ = Vorn::make<VornChangeSet>(changeSet, this);
    vornChangeSet_->hasNotificationActiveIs(true);
  }
  sbdToVlanStatus_ = sbdToVlanStatus;
  underlayInjectDedupTable_ = underlayInjectDedupTable;
  if (MembershipDedupedLifetimeNotifiee const* writer = joinWriter()) {
    if (Routing::Gmp::Brim::Status const* status = writer->gmpStatus().ptr()) {
      startedOnEmptyTable_ = status->membershipCount() == 0 && underlayInjectDedupTable_->empty();
      startEpoch_ = status->epoch();
    }
  }
  bookmark_ = OverlayVlanGroup();
  initialized_ = false;
  // Every new reactor queues its key and bumps `changed`; the walks that
  // schedules are refused until the initial pass below has run.
  if (tunnelVlanGroupStatus) {
    vornVlanToMulticastGroup_.reserve(tunnelVlanGroupStatus->vlanToMulticastGroup().size());
    for (auto const& [key, mapping] : tunnelVlanGroupStatus->vlanToMulticastGroup()) vlanToMulticastGroupIs(mapping);
  }
  // Every reactor made above queued its own key, and nothing drains the set
  // before the initial pass: its queueing loop would add nothing.
  initialize(/*keysQueued=*/true);
}

VpnInjectReviewSm::~VpnInjectReviewSm() {
  vornDoZombieReactors(true);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->ownerIs(nullptr);
  if (vornChangeSet_) vornChangeSet_->ownerIs(nullptr);
  while (OverlayVlanGroup const* first = vornVlanToMulticastGroup_.firstKey()) {
    OverlayVlanGroup const key = *first;
    std::optional<Vorn::Ptr<VlanToMulticastGroup>> reactor = vornVlanToMulticastGroup_.take(key);
    (*reactor)->ownerIs(nullptr);
  }
}

Vorn::Ptr<VpnInjectReviewSm> VpnInjectReviewSm::VpnInjectReviewSmIs(
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
    Vorn::Ptr<MembershipJoinStatusColl const> const& membershipJoinStatusColl,
    Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus, Vorn::Ptr<OverlayChangeSet> const& changeSet,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Routing::Gmp::MembershipDedupTable> const& underlayInjectDedupTable) {
  Vorn::Ptr<VpnInjectReviewSm> sm(new VpnInjectReviewSm(scheduler, membershipJoinStatusColl, tunnelVlanGroupStatus,
                                                        changeSet, sbdToVlanStatus, underlayInjectDedupTable));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<IpTunnelVlanGroupStatus const> VpnInjectReviewSm::tunnelVlanGroupStatus() const {
  return vornTunnelVlanGroupStatus_ ? vornTunnelVlanGroupStatus_->notifier() : nullptr;
}

Vorn::Ptr<OverlayChangeSet> VpnInjectReviewSm::changeSet() const {
  // The reactor only observes the set; the reviewer was given it to drain.
  return vornChangeSet_ ? Vorn::ptr_const_cast<OverlayChangeSet>(vornChangeSet_->notifier()) : nullptr;
}

Vorn::Ptr<IpTunnelVlanGroupStatus const> VpnInjectReviewSm::tunnelVlanGroupStatusDel() {
  return Vorn::letGo(std::exchange(vornTunnelVlanGroupStatus_, nullptr));
}

Vorn::Ptr<OverlayChangeSet const> VpnInjectReviewSm::changeSetDel() {
  return Vorn::letGo(std::exchange(vornChangeSet_, nullptr));
}

VpnInjectReviewSm::VlanToMulticastGroup* VpnInjectReviewSm::vornVlanToMulticastGroup(
    OverlayVlanGroup const& key) const {
  Vorn::Ptr<VlanToMulticastGroup> const* reactor = vornVlanToMulticastGroup_.find(key);
  return reactor ? reactor->ptr() : nullptr;
}

void VpnInjectReviewSm::vlanToMulticastGroupIs(Vorn::Ptr<Mapping const> const& mapping) {
  if (!mapping) throw Vorn::MutatorNullArgumentException(fwkType(), "vlanToMulticastGroup");
  OverlayVlanGroup const key = mapping->overlayVlanGroup();
  Vorn::Ptr<VlanToMulticastGroup> const* existing = vornVlanToMulticastGroup_.find(key);
  Vorn::reactorIs(existing ? *existing : nullptr, mapping, this, [&](Vorn::Ptr<VlanToMulticastGroup> const& reactor) {
    vornVlanToMulticastGroup_.set(key, reactor);
    vlanWideIs(key, reactor.ptr());
  });
}

void VpnInjectReviewSm::vlanWideIs(OverlayVlanGroup const& key, VlanToMulticastGroup* reactor) {
  if (!isVlanWide(key.groupAddr())) return;
  auto const family = static_cast<std::size_t>(key.groupAddr().af());
  std::uint16_t const vlan = key.vlanId().value();
  if (reactor) {
    if (vlan >= vlanWide_.size()) vlanWide_.resize(std::size_t{vlan} + 1);
    vlanWide_[vlan][family] = reactor;
    return;
  }
  if (vlan < vlanWide_.size()) vlanWide_[vlan][family] = nullptr;
}

Vorn::Ptr<VpnInjectReviewSm::Mapping const> VpnInjectReviewSm::vlanToMulticastGroupDel(OverlayVlanGroup const& key) {
  OverlayVlanGroup const copy = key;  // the caller's key may live in the reactor
  std::optional<Vorn::Ptr<VlanToMulticastGroup>> taken = vornVlanToMulticastGroup_.take(copy);
  if (!taken) return nullptr;
  vlanWideIs(copy, nullptr);
  return Vorn::letGo(*taken);  // its final pass releases its handles
}

void VpnInjectReviewSm::vlanToMulticastGroupDelAll() {
  while (OverlayVlanGroup const* first = vornVlanToMulticastGroup_.firstKey()) vlanToMulticastGroupDel(*first);
}

void VpnInjectReviewSm::handleInitialized() { initialize(/*keysQueued=*/false); }

void VpnInjectReviewSm::initialize(bool keysQueued) {
  VPN_TRACE(8, 160, "handleInitialized", "void Irb::Multicast::Egress::VpnInjectReviewSm::handleInitialized()");
  Vorn::Ptr<IpTunnelVlanGroupStatus const> const status = tunnelVlanGroupStatus();
  Vorn::Ptr<OverlayChangeSet> const cs = changeSet();
  if (status && cs && !keysQueued) {
    for (auto const& [key, mapping] : status->vlanToMulticastGroup()) cs->vlanGroupIs(key);
  }
  initializedIs(true);
  scheduleWalk();
}

void VpnInjectReviewSm::handleChangeSet() { scheduleWalk(); }

void VpnInjectReviewSm::reviewVlanGroup(OverlayVlanGroup const& vlanGroup) {
  OverlayVlanGroup const g = vlanGroup;
  VPN_TRACE(8, 198, "reviewVlanGroup", "reviewVlanGroup" << "(" << g << ")");
  Vorn::Ptr<VlanToMulticastGroup> const reactor = vornVlanToMulticastGroup(g);
  if (!reactor) {
    VPN_TRACE(9, 201, "reviewVlanGroup", "No VlanToMulticastGroup" << g);
    return;
  }
  reactor->overlayMembershipIs(membershipJoinStatusColl_ &&
                               membershipJoinStatusColl_->groupWanted(g.vlanId(), g.groupAddr(), sbdToVlanStatus_.ptr()));
}

void VpnInjectReviewSm::reviewVlan(VlanId vlanId) {
  VPN_TRACE(8, 208, "reviewVlan", "reviewVlan" << "(" << vlanId << ")");
  // Every key of the VLAN whose group is not specific stands for the whole
  // VLAN: the family-less one and both wildcards get the VLAN's verdict.
  std::size_t const v = vlanId.value();
  if (v >= vlanWide_.size() || vlanWide_[v] == VlanWide{}) {
    VPN_TRACE(9, 213, "reviewVlan", "No VlanToMulticastGroup" << OverlayVlanGroup(vlanId, IpGenAddr()));
    return;
  }
  // Held: a verdict may release a reactor of this VLAN.
  Vorn::Ptr<VlanToMulticastGroup> const reactors[] = {vlanWide_[v][0], vlanWide_[v][1], vlanWide_[v][2]};
  bool const active = membershipJoinStatusColl_ && membershipJoinStatusColl_->vlanWanted(vlanId, sbdToVlanStatus_.ptr());
  for (auto const& reactor : reactors) {
    if (reactor) reactor->overlayMembershipIs(active);
  }
}

Keel::WalkRet VpnInjectReviewSm::walk() {
  Vorn::Ptr<OverlayChangeSet> const cs = changeSet();
  VPN_TRACE(8, 226, "walk",
            "virtual Keel::WalkRet Irb::Multicast::Egress::VpnInjectReviewSm::walk()"
                << ": " << (cs ? cs->vlanGroup().size() : 0) << " items");
  if (!cs) return Keel::WalkRet{false, 0};

  // The VLANs reviewed by this call: marked in reviewedBits_, unmarked when
  // the call ends (however it ends).
  if (reviewedBits_.empty()) reviewedBits_.resize((std::size_t{1} << 16) / 64);
  struct Unmark {
    VpnInjectReviewSm* sm;
    ~Unmark() {
      for (std::uint16_t const v : sm->reviewedList_) sm->reviewedBits_[v / 64] = 0;
      sm->reviewedList_.clear();
    }
  } const unmark{this};
  auto firstReview = [this](VlanId vlan) {
    std::uint16_t const v = vlan.value();
    std::uint64_t const bit = std::uint64_t{1} << (v % 64);
    if (reviewedBits_[v / 64] & bit) return false;
    reviewedBits_[v / 64] |= bit;
    reviewedList_.push_back(v);
    return true;
  };
  // Keys come VLAN by VLAN: most of them belong to the VLAN reviewed last.
  std::optional<VlanId> lastReviewed;
  std::uint32_t processed = 0;
  OverlayChangeSet::VlanGroupColl const& coll = cs->vlanGroup();
  bool const resume = !bookmark_.isNull() && coll.contains(bookmark_);
  auto it = resume ? coll.lowerBound(bookmark_) : coll.begin();
  while (it != coll.end()) {
    OverlayVlanGroup const key = *it;
    if (!isVlanWide(key.groupAddr())) reviewVlanGroup(key);
    if (key.vlanId() != lastReviewed && firstReview(key.vlanId())) {
      lastReviewed = key.vlanId();
      reviewVlan(key.vlanId());
    }
    cs->vlanGroupDel(key);
    ++processed;
    ++it;  // after the removal: continues behind `key`
    if (mustYield()) {
      bookmark_ = it == coll.end() ? OverlayVlanGroup() : *it;
      break;
    }
  }
  ++slices_;
  itemsReviewed_ += processed;
  return Keel::WalkRet{!coll.empty(), processed};
}

bool VpnInjectReviewSm::walkStartedNotification() {
  VPN_TRACE(8, 257, "walkStartedNotification",
            "virtual bool Irb::Multicast::Egress::VpnInjectReviewSm::walkStartedNotification()");
  return initialized_;
}

void VpnInjectReviewSm::walkFinishedNotification() {
  VPN_TRACE(8, 263, "walkFinishedNotification",
            "virtual void Irb::Multicast::Egress::VpnInjectReviewSm::walkFinishedNotification()");
  bookmark_ = OverlayVlanGroup();
  ++walks_;
  if (!staleCleaned_) staleCleanup();
}

MembershipDedupedLifetimeNotifiee const* VpnInjectReviewSm::joinWriter() const {
  return underlayInjectDedupTable_ ? dynamic_cast<MembershipDedupedLifetimeNotifiee const*>(
                                         underlayInjectDedupTable_->lifetimeNotifiee().ptr())
                                   : nullptr;
}

void VpnInjectReviewSm::staleCleanup() {
  staleCleaned_ = true;
  MembershipDedupedLifetimeNotifiee const* writer = joinWriter();
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = writer ? writer->gmpStatus() : nullptr;
  if (!status) return;
  if (startedOnEmptyTable_ && writer->onlyOwnChangesSince(startEpoch_) && !status->corruptNextRead()) return;
  static Flit::Statement statement(
      "void Irb::Multicast::Egress::VpnInjectReviewSm::staleCleanup():  Cleaning up stale underlayRoute %s, %s, %s");
  Routing::Gmp::Brim::RouteIntfKey key;
  Routing::Gmp::Brim::IterHint hint;
  try {
    while (status->membershipIterNext(key, hint)) {
      if (underlayInjectDedupTable_->lookup(key)) continue;  // wanted
      if (Dyad::active(vpnInjectSmTrace(), 7)) {
        std::array<Flit::Arg, 3> const args{Dyad::addressArg(key.source()), Dyad::addressArg(key.group()),
                                            Flit::Arg::string(key.intf().stringValue())};
        Dyad::statement(statement, vpnInjectSmTrace(), 7, kVpnInjectSmFile, 288, "staleCleanup", args);
      }
      status->membershipDel(key);
      ++staleRemoved_;
    }
  } catch (Corvo::CorruptionDetectedException const& e) {
    status->doCorruptionDetected(e.msg());
  }
}

void VpnInjectReviewSm::traceEvent(Keel::WalkSmBase::TraceEvent event) const {
  // One format for both traces: the ring buffer keeps the event's number, the
  // text trace shows its name in the same place.
  static Flit::Statement statement(
      "virtual void Irb::Multicast::Egress::VpnInjectReviewSm::traceEvent(Keel::WalkSmBase::TraceEvent) const"
      ": traceEvent%s");
  Flit::Arg const number[] = {Flit::Arg::number(static_cast<std::uint32_t>(event))};
  statement.write(number);
  if (vpnInjectSmTrace().enabled(7)) {
    Flit::Arg const name[] = {Flit::Arg::string(Keel::WalkSmBase::traceEventName(event))};
    vpnInjectSmTrace().write(7, kVpnInjectSmFile, 278, "traceEvent", statement.text(name));
  }
}

void VpnInjectReviewSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  Keel::WalkSmBase::hasNotificationActiveIs(active);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->hasNotificationActiveIs(active);
  if (vornChangeSet_) vornChangeSet_->hasNotificationActiveIs(active);
  for (auto const& [key, reactor] : vornVlanToMulticastGroup_) reactor->hasNotificationActiveIs(active);
}

void VpnInjectReviewSm::vornDoZombieReactors(bool zombie) {
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->vornDoZombieReactors(zombie);
  if (vornChangeSet_) vornChangeSet_->vornDoZombieReactors(zombie);
  for (auto const& [key, reactor] : vornVlanToMulticastGroup_) reactor->vornDoZombieReactors(zombie);
}

// ==== VornTunnelVlanGroupStatus ========================================================

VpnInjectReviewSm::VornTunnelVlanGroupStatus::VornTunnelVlanGroupStatus(
    Vorn::Ptr<IpTunnelVlanGroupStatus const> const& status, VpnInjectReviewSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(status);  // attaching runs no handler
  isRegisteredNotifieeIs(true);
}

VpnInjectReviewSm::VornTunnelVlanGroupStatus::~VornTunnelVlanGroupStatus() { vornDoZombieReactors(true); }

void VpnInjectReviewSm::VornTunnelVlanGroupStatus::notifierIs(Vorn::Ptr<IpTunnelVlanGroupStatus const> const& status) {
  if (status == notifier()) return;
  NotifieeConstOf::notifierIs(status);
  if (!status || isZombie() || !owner_) return;
  VpnInjectReviewSm* const owner = owner_;
  owner->vornVlanToMulticastGroup_.reserve(status->vlanToMulticastGroup().size());
  for (auto const& [key, mapping] : status->vlanToMulticastGroup()) owner->vlanToMulticastGroupIs(mapping);
  for (auto const& [key, reactor] : owner->vornVlanToMulticastGroup()) {
    OverlayVlanGroup const k = key;
    if (!status->vlanToMulticastGroup(k)) owner->vlanToMulticastGroupDel(k);
  }
}

void VpnInjectReviewSm::VornTunnelVlanGroupStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != IpTunnelVlanGroupStatus::attrVlanToMulticastGroup) return;
  OverlayVlanGroup const* k = key.get<OverlayVlanGroup>();
  if (!k || isZombie() || !owner_) return;
  Vorn::Ptr<IpTunnelVlanGroupStatus const> const status = notifier();
  if (!status) return;
  OverlayVlanGroup const vlanGroup = *k;
  if (Vorn::Ptr<Mapping const> const mapping = status->vlanToMulticastGroup(vlanGroup)) {
    owner_->vlanToMulticastGroupIs(mapping);
  } else {
    owner_->vlanToMulticastGroupDel(vlanGroup);
  }
}

// ==== VornChangeSet ======================================================================

VpnInjectReviewSm::VornChangeSet::VornChangeSet(Vorn::Ptr<OverlayChangeSet const> const& changeSet,
                                                VpnInjectReviewSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(changeSet);  // attaching runs no handler
  isRegisteredNotifieeIs(true);
}

VpnInjectReviewSm::VornChangeSet::~VornChangeSet() { vornDoZombieReactors(true); }

void VpnInjectReviewSm::VornChangeSet::notifierIs(Vorn::Ptr<OverlayChangeSet const> const& changeSet) {
  if (changeSet == notifier()) return;
  NotifieeConstOf::notifierIs(changeSet);
  // Whatever the new set holds gets a walk.
  if (changeSet && !isZombie() && owner_) owner_->handleChangeSet();
}

void VpnInjectReviewSm::VornChangeSet::onAttribute(Vorn::AttributeId attribute, Vorn::Key const&) {
  // Keys coming and going wake nobody: producers bump `changed` once per event.
  if (attribute != OverlayChangeSet::attrChanged || isZombie() || !owner_) return;
  owner_->handleChangeSet();
}

}  // namespace Irb::Multicast::Egress
