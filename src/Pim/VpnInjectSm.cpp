#include "Pim/VpnInjectSm.h"

#include <optional>
#include <set>
#include <utility>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Flit/Flit.h"
#include "Pim/JoinKey.h"
#include "Pim/Trace.h"
#include "Vorn/Exception.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;
using Wirl::AddressFamily;
using Wirl::IpGenAddr;

#define VPN_TRACE(level, function, expr) \
  VORN_TRACE(vpnInjectSmTrace(), level, kVpnInjectSmFile, __LINE__, function, expr)

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
  Vorn::Ptr<VornTunnelVlanGroupStatus> const reactor = std::move(vornTunnelVlanGroupStatus_);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

Vorn::Ptr<OverlayChangeSet const> VpnInjectReviewSm::changeSetDel() {
  Vorn::Ptr<VornChangeSet> const reactor = std::move(vornChangeSet_);
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

VpnInjectReviewSm::VlanToMulticastGroup* VpnInjectReviewSm::vornVlanToMulticastGroup(
    OverlayVlanGroup const& key) const {
  Vorn::Ptr<VlanToMulticastGroup> const* reactor = vornVlanToMulticastGroup_.find(key);
  return reactor ? reactor->ptr() : nullptr;
}

void VpnInjectReviewSm::vlanToMulticastGroupIs(Vorn::Ptr<Mapping const> const& mapping) {
  if (!mapping) throw Vorn::MutatorNullArgumentException(fwkType(), "vlanToMulticastGroup");
  OverlayVlanGroup const key = mapping->overlayVlanGroup();
  if (Vorn::Ptr<VlanToMulticastGroup> const* existing = vornVlanToMulticastGroup_.find(key)) {
    Vorn::Ptr<VlanToMulticastGroup> const reactor = *existing;
    if (reactor->vlanToMulticastGroup() != mapping) reactor->vlanToMulticastGroupIs(mapping);
    return;
  }
  Vorn::Ptr<VlanToMulticastGroup> const reactor = Vorn::make<VlanToMulticastGroup>(mapping, this);
  reactor->hasNotificationActiveIs(true);
  vornVlanToMulticastGroup_.set(key, reactor);
  vlanWideIs(key, reactor.ptr());
}

void VpnInjectReviewSm::vlanWideIs(OverlayVlanGroup const& key, VlanToMulticastGroup* reactor) {
  if (key.groupAddr().isSpecific()) return;
  auto const family = static_cast<std::size_t>(key.groupAddr().af());
  std::uint16_t const vlan = key.vlanId().value();
  if (reactor) {
    vlanWide_[vlan][family] = reactor;
    return;
  }
  auto it = vlanWide_.find(vlan);
  if (it == vlanWide_.end()) return;
  it->second[family] = nullptr;
  if (it->second == VlanWide{}) vlanWide_.erase(it);
}

Vorn::Ptr<VpnInjectReviewSm::Mapping const> VpnInjectReviewSm::vlanToMulticastGroupDel(OverlayVlanGroup const& key) {
  OverlayVlanGroup const copy = key;  // the caller's key may live in the reactor
  std::optional<Vorn::Ptr<VlanToMulticastGroup>> taken = vornVlanToMulticastGroup_.take(copy);
  if (!taken) return nullptr;
  vlanWideIs(copy, nullptr);
  Vorn::Ptr<VlanToMulticastGroup> const reactor = std::move(*taken);
  reactor->vornDoZombieReactors(true);  // releases its handles
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->vlanToMulticastGroup();
}

void VpnInjectReviewSm::vlanToMulticastGroupDelAll() {
  while (OverlayVlanGroup const* first = vornVlanToMulticastGroup_.firstKey()) vlanToMulticastGroupDel(*first);
}

void VpnInjectReviewSm::handleInitialized() { initialize(/*keysQueued=*/false); }

void VpnInjectReviewSm::initialize(bool keysQueued) {
  VPN_TRACE(8, "handleInitialized", "void Irb::Multicast::Egress::VpnInjectReviewSm::handleInitialized()");
  Vorn::Ptr<IpTunnelVlanGroupStatus const> const status = tunnelVlanGroupStatus();
  Vorn::Ptr<OverlayChangeSet> const cs = changeSet();
  if (status && cs && !keysQueued) {
    for (auto const& [key, mapping] : status->vlanToMulticastGroup()) cs->vlanGroupIs(key);
  }
  initializedIs(true);
  scheduleWalk();
}

void VpnInjectReviewSm::handleChangeSet() { scheduleWalk(); }

bool VpnInjectReviewSm::groupActiveWithSbd(VlanId vlanId, IpGenAddr const& group) const {
  if (!membershipJoinStatusColl_) return false;
  if (membershipJoinStatusColl_->groupActive(vlanId, group)) return true;
  if (!sbdToVlanStatus_) return false;
  Vorn::Ptr<Irb::Multicast::SbdVlanState const> const sbd = sbdToVlanStatus_->sbdVlanState(vlanId);
  if (!sbd) return false;
  for (VlanId const member : sbd->vlanId()) {
    if (membershipJoinStatusColl_->groupActive(member, group)) return true;
  }
  return false;
}

bool VpnInjectReviewSm::vlanActiveWithSbd(VlanId vlanId) const {
  if (!membershipJoinStatusColl_) return false;
  if (membershipJoinStatusColl_->vlanActive(vlanId)) return true;
  if (!sbdToVlanStatus_) return false;
  Vorn::Ptr<Irb::Multicast::SbdVlanState const> const sbd = sbdToVlanStatus_->sbdVlanState(vlanId);
  if (!sbd) return false;
  for (VlanId const member : sbd->vlanId()) {
    if (membershipJoinStatusColl_->vlanActive(member)) return true;
  }
  return false;
}

void VpnInjectReviewSm::reviewVlanGroup(OverlayVlanGroup const& vlanGroup) {
  OverlayVlanGroup const g = vlanGroup;
  VPN_TRACE(8, "reviewVlanGroup", "reviewVlanGroup" << "(" << g << ")");
  Vorn::Ptr<VlanToMulticastGroup> const reactor = vornVlanToMulticastGroup(g);
  if (!reactor) {
    VPN_TRACE(9, "reviewVlanGroup", "No VlanToMulticastGroup" << g);
    return;
  }
  reactor->overlayMembershipIs(groupActiveWithSbd(g.vlanId(), g.groupAddr()));
}

void VpnInjectReviewSm::reviewVlan(VlanId vlanId) {
  VPN_TRACE(8, "reviewVlan", "reviewVlan" << "(" << vlanId << ")");
  // Every key of the VLAN whose group is not specific stands for the whole
  // VLAN: the family-less one and both wildcards get the VLAN's verdict.
  auto const wide = vlanWide_.find(vlanId.value());
  if (wide == vlanWide_.end()) {
    VPN_TRACE(9, "reviewVlan", "No VlanToMulticastGroup" << OverlayVlanGroup(vlanId, IpGenAddr()));
    return;
  }
  // Held: a verdict may release a reactor of this VLAN.
  Vorn::Ptr<VlanToMulticastGroup> const reactors[] = {wide->second[0], wide->second[1], wide->second[2]};
  bool const active = vlanActiveWithSbd(vlanId);
  for (auto const& reactor : reactors) {
    if (reactor) reactor->overlayMembershipIs(active);
  }
}

Keel::WalkRet VpnInjectReviewSm::walk() {
  Vorn::Ptr<OverlayChangeSet> const cs = changeSet();
  VPN_TRACE(8, "walk",
            "virtual Keel::WalkRet Irb::Multicast::Egress::VpnInjectReviewSm::walk()"
                << ": " << (cs ? cs->vlanGroup().size() : 0) << " items");
  if (!cs) return Keel::WalkRet{false, 0};

  std::set<VlanId, std::less<>, Vorn::PoolAllocator<VlanId>> reviewedVlans;  // this call only
  // Keys come VLAN by VLAN: most of them belong to the VLAN reviewed last.
  std::optional<VlanId> lastReviewed;
  std::uint32_t processed = 0;
  OverlayChangeSet::VlanGroupColl const& coll = cs->vlanGroup();
  bool const resume = !bookmark_.isNull() && coll.contains(bookmark_);
  auto it = resume ? coll.lowerBound(bookmark_) : coll.begin();
  while (it != coll.end()) {
    OverlayVlanGroup const key = *it;
    if (key.groupAddr().isSpecific()) reviewVlanGroup(key);
    if (key.vlanId() != lastReviewed && reviewedVlans.insert(key.vlanId()).second) {
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
  return Keel::WalkRet{!coll.empty(), processed};
}

bool VpnInjectReviewSm::walkStartedNotification() {
  VPN_TRACE(8, "walkStartedNotification",
            "virtual bool Irb::Multicast::Egress::VpnInjectReviewSm::walkStartedNotification()");
  return initialized_;
}

void VpnInjectReviewSm::walkFinishedNotification() {
  VPN_TRACE(8, "walkFinishedNotification",
            "virtual void Irb::Multicast::Egress::VpnInjectReviewSm::walkFinishedNotification()");
  bookmark_ = OverlayVlanGroup();
  if (!staleCleaned_) staleCleanup();
}

void VpnInjectReviewSm::staleCleanup() {
  staleCleaned_ = true;
  auto const* writer = underlayInjectDedupTable_ ? dynamic_cast<MembershipDedupedLifetimeNotifiee const*>(
                                                       underlayInjectDedupTable_->lifetimeNotifiee().ptr())
                                                 : nullptr;
  Vorn::Ptr<Routing::Gmp::Brim::Status> const status = writer ? writer->gmpStatus() : nullptr;
  if (!status) return;
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
        Dyad::statement(statement, vpnInjectSmTrace(), 7, kVpnInjectSmFile, __LINE__, "staleCleanup", args);
      }
      status->membershipDel(key);
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
    vpnInjectSmTrace().write(7, kVpnInjectSmFile, __LINE__, "traceEvent", statement.text(name));
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

// ==== VlanToMulticastGroup ================================================================

VpnInjectReviewSm::VlanToMulticastGroup::VlanToMulticastGroup(Vorn::Ptr<Mapping const> const& mapping,
                                                              VpnInjectReviewSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(mapping);  // attaching runs no handler
  handleVlanToMulticastGroup();
  isRegisteredNotifieeIs(true);
}

VpnInjectReviewSm::VlanToMulticastGroup::~VlanToMulticastGroup() { vornDoZombieReactors(true); }

OverlayVlanGroup VpnInjectReviewSm::VlanToMulticastGroup::key() const {
  Mapping const* mapping = notifierRaw();
  return mapping ? mapping->overlayVlanGroup() : OverlayVlanGroup();
}

void VpnInjectReviewSm::VlanToMulticastGroup::overlayMembershipIs(bool overlayMembership) {
  if (overlayMembership == overlayMembership_) return;
  overlayMembership_ = overlayMembership;
  handleOverlayMembership();
}

VpnInjectReviewSm::VlanToMulticastGroup::HandlePtr VpnInjectReviewSm::VlanToMulticastGroup::injectRoute(
    UnderlayRoute const& route) const {
  HandlePtr const* handle = injectRoute_.find(route);
  return handle ? *handle : nullptr;
}

void VpnInjectReviewSm::VlanToMulticastGroup::injectRouteIs(UnderlayRoute const& route, HandlePtr const& handle) {
  if (!handle) {
    injectRouteDel(route);
    return;
  }
  // A replaced handle is released after the new one is in place.
  injectRoute_.set(route, handle);
}

VpnInjectReviewSm::VlanToMulticastGroup::HandlePtr VpnInjectReviewSm::VlanToMulticastGroup::injectRouteDel(
    UnderlayRoute const& route) {
  UnderlayRoute const copy = route;  // the caller's may live in the collection
  return injectRoute_.take(copy);
}

void VpnInjectReviewSm::VlanToMulticastGroup::injectRouteDelAll() {
  while (UnderlayRoute const* first = injectRoute_.firstKey()) injectRouteDel(*first);
}

void VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup() {
  VPN_TRACE(8, "handleVlanToMulticastGroup",
            "void Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup()");
  if (!owner_) return;
  Vorn::Ptr<OverlayChangeSet> const cs = owner_->changeSet();
  if (!cs) return;
  cs->vlanGroupIs(key());
  cs->changedInc(1);
}

void VpnInjectReviewSm::VlanToMulticastGroup::handleMulticastGroup(UnderlayRoute const& route) {
  UnderlayRoute const r = route;
  VPN_TRACE(8, "handleMulticastGroup", "handleMulticastGroup" << "(" << r << ")");
  Vorn::Ptr<Mapping const> const mapping = notifier();
  if (!overlayMembership_ || !mapping || !mapping->multicastGroup(r) || !owner_ ||
      !owner_->underlayInjectDedupTable()) {
    withdraw(r);
    return;
  }
  HandlePtr handle = owner_->underlayInjectDedupTable()->dedup(joinKey(r, mapping->overlayVlanGroup().vlanId()));
  injectRouteIs(r, handle);
  handle = nullptr;  // the injectRoute entry holds the reactor's only reference
}

void VpnInjectReviewSm::VlanToMulticastGroup::handleOverlayMembership() {
  OverlayVlanGroup const k = key();
  VPN_TRACE(8, "handleOverlayMembership",
            "handleOverlayMembership" << "Vlan " << k.vlanId() << ", Group " << k.groupAddr().stringValue() << "=> "
                                      << overlayMembership_);
  if (Vorn::Ptr<Mapping const> const mapping = notifier()) {
    for (UnderlayRoute const& r : mapping->multicastGroup()) handleMulticastGroup(r);
  }
  // A handle of a route the mapping no longer lists would otherwise outlive
  // the membership.
  if (!overlayMembership_) injectRouteDelAll();
}

void VpnInjectReviewSm::VlanToMulticastGroup::notifierIs(Vorn::Ptr<Mapping const> const& mapping) {
  Vorn::Ptr<Mapping const> const old = notifier();
  if (mapping == old) return;
  NotifieeConstOf::notifierIs(mapping);
  if (isZombie()) return;
  if (!old || !mapping || old->overlayVlanGroup().vlanId() != mapping->overlayVlanGroup().vlanId()) {
    // Join keys depend on the VLAN: start over from the new mapping's routes.
    injectRouteDelAll();
    if (mapping) {
      for (UnderlayRoute const& r : mapping->multicastGroup()) handleMulticastGroup(r);
    }
    return;
  }
  for (UnderlayRoute const& r : old->multicastGroup()) {
    if (!mapping->multicastGroup(r)) handleMulticastGroup(r);  // gone: withdrawn
  }
  for (UnderlayRoute const& r : mapping->multicastGroup()) {
    if (!old->multicastGroup(r)) handleMulticastGroup(r);  // new: injected while the flag is true
  }
}

void VpnInjectReviewSm::VlanToMulticastGroup::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Mapping::attrMulticastGroup) return;
  UnderlayRoute const* route = key.get<UnderlayRoute>();
  if (!route || isZombie() || !owner_) return;
  handleMulticastGroup(*route);
}

void VpnInjectReviewSm::VlanToMulticastGroup::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (zombie) injectRouteDelAll();
  zombieIs(zombie);
}

#undef VPN_TRACE

// ---- VpnInjectSm ---------------------------------------------------------------

// Holds the IRB status for the path; it has no handlers.
class VpnInjectSm::VornMcastIrbStatus : public Vorn::NotifieeConstOf<Irb::Multicast::McastIrbStatus> {
 public:
  VornMcastIrbStatus(Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& status, VpnInjectSm* owner)
      : vpnInjectSm_(owner) {
    notifierIs(status);
    isRegisteredNotifieeIs(true);
  }
  void vpnInjectSmIs(VpnInjectSm* owner) noexcept { vpnInjectSm_ = owner; }
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
    handleInitialized();
  } catch (...) {
    // Release what was built, in teardown order, before the exception leaves.
    tearDown();
    throw;
  }
}

VpnInjectSm::~VpnInjectSm() { tearDown(); }

void VpnInjectSm::tearDown() {
  vornDoZombieReactors(true);
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->vpnInjectSmIs(nullptr);
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
  VORN_TRACE(vpnInjectSmTrace(), 8, kVpnInjectSmFile, __LINE__, "handleInitialized",
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
  if (!vornMcastIrbStatus_) return nullptr;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> status = vornMcastIrbStatus_->notifier();
  vornMcastIrbStatus_->vornDoZombieReactors(true);
  vornMcastIrbStatus_->vpnInjectSmIs(nullptr);
  vornMcastIrbStatus_->hasNotificationActiveIs(false);
  vornMcastIrbStatus_ = nullptr;
  return status;
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
