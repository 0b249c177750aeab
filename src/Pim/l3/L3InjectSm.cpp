#include "Pim/l3/L3InjectSm.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "Vorn/ReactorOwnership.h"

namespace Irb::Multicast::Egress {

namespace {

using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::VlanToMulticastGroup;

}  // namespace

// ---- text forms ------------------------------------------------------------------------

std::ostream& operator<<(std::ostream& os, L3InjectSm const* sm) {
  if (sm) {
    if (auto const status = sm->membershipJoinStatus()) os << status->name();
  }
  return os << "()::";
}

std::ostream& operator<<(std::ostream& os, L3InjectSm::VornVlanToMulticastGroup const* r) {
  OverlayVlanGroup const key = r->overlayVlanGroup();
  return os << static_cast<L3InjectSm const*>(r->l3InjectSm()) << "tunnel Vlan" << key.vlanId() << " "
            << key.groupAddr().stringValue() << "::";
}

std::ostream& operator<<(std::ostream& os, L3InjectSm::VornVlanMembership const* r) {
  return os << static_cast<L3InjectSm const*>(r->l3InjectSm()) << "smet Vlan" << r->vlanId() << "::";
}

// ---- VornMembershipJoinStatus -------------------------------------------------------------

L3InjectSm::VornMembershipJoinStatus::VornMembershipJoinStatus(MembershipJoinStatusPtr const& notifier,
                                                               L3InjectSm* l3InjectSm)
    : l3InjectSm_(l3InjectSm) {
  // Binding runs no handler: the owner creates the VLAN reactors itself.
  NotifieeConstOf::notifierIs(notifier);
  isRegisteredNotifieeIs(true);
}

L3InjectSm::VornMembershipJoinStatus::~VornMembershipJoinStatus() { vornDoZombieReactors(true); }

void L3InjectSm::VornMembershipJoinStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::MembershipJoinStatus::attrVlan || !key || isZombie()) return;
  auto const status = notifier();
  if (!status || !l3InjectSm_) return;
  Bridging::VlanId const vlanId = *key.get<Bridging::VlanId>();
  if (auto entry = status->vlan(vlanId)) {
    l3InjectSm_->vlanMembershipIs(entry);
  } else {
    l3InjectSm_->vlanMembershipDel(vlanId);
  }
}

void L3InjectSm::VornMembershipJoinStatus::notifierIs(MembershipJoinStatusPtr const& status) {
  if (status == notifier()) return;
  NotifieeConstOf::notifierIs(status);
  if (!status || !l3InjectSm_) return;
  for (auto const& entry : status->vlan()) l3InjectSm_->vlanMembershipIs(entry.second);
  for (Bridging::VlanId const vlanId : l3InjectSm_->vornVlanMembership().keys()) {
    if (!status->vlan(vlanId)) l3InjectSm_->vlanMembershipDel(vlanId);
  }
}

// ---- VornTunnelVlanGroupStatus ----------------------------------------------------------

L3InjectSm::VornTunnelVlanGroupStatus::VornTunnelVlanGroupStatus(TunnelVlanGroupStatusPtr const& notifier,
                                                                 L3InjectSm* l3InjectSm)
    : l3InjectSm_(l3InjectSm) {
  NotifieeConstOf::notifierIs(notifier);
  isRegisteredNotifieeIs(true);
}

L3InjectSm::VornTunnelVlanGroupStatus::~VornTunnelVlanGroupStatus() { vornDoZombieReactors(true); }

void L3InjectSm::VornTunnelVlanGroupStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Routing::Multicast::IpTunnelVlanGroupStatus::attrVlanToMulticastGroup || !key || isZombie()) {
    return;
  }
  auto const status = notifier();
  if (!status || !l3InjectSm_) return;
  OverlayVlanGroup const groupKey = *key.get<OverlayVlanGroup>();
  if (auto mapping = status->vlanToMulticastGroup(groupKey)) {
    l3InjectSm_->vlanToMulticastGroupIs(mapping);
  } else {
    l3InjectSm_->vlanToMulticastGroupDel(groupKey);
  }
}

void L3InjectSm::VornTunnelVlanGroupStatus::notifierIs(TunnelVlanGroupStatusPtr const& status) {
  if (status == notifier()) return;
  NotifieeConstOf::notifierIs(status);
  if (!status || !l3InjectSm_) return;
  for (auto const& entry : status->vlanToMulticastGroup()) l3InjectSm_->vlanToMulticastGroupIs(entry.second);
  for (OverlayVlanGroup const& key : l3InjectSm_->vornVlanToMulticastGroup().keys()) {
    if (!status->vlanToMulticastGroup(key)) l3InjectSm_->vlanToMulticastGroupDel(key);
  }
}

L3InjectSm::~L3InjectSm() {
  // Withdraw every Join while the dedup table and its writer still exist.
  vornDoZombieReactors(true);
  while (OverlayVlanGroup const* first = vornVlanToMulticastGroup_.firstKey()) {
    OverlayVlanGroup const key = *first;
    auto reactor = vornVlanToMulticastGroup_.take(key);
    ++reactorRemovals_;
    if (reactor && *reactor) (*reactor)->ownerIs(nullptr);
  }
  while (Bridging::VlanId const* first = vornVlanMembership_.firstKey()) {
    Bridging::VlanId const key = *first;
    auto reactor = vornVlanMembership_.take(key);
    if (reactor && *reactor) (*reactor)->ownerIs(nullptr);
  }
  underlayInjectNotifieeDel();
  underlayInjectDedupTableDel();
  if (vornMembershipJoinStatus_) vornMembershipJoinStatus_->ownerIs(nullptr);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->ownerIs(nullptr);
  vornMembershipJoinStatus_ = nullptr;
  vornTunnelVlanGroupStatus_ = nullptr;
  underlayGmpStatus_ = nullptr;
}

// ---- inputs ----------------------------------------------------------------------------------------

L3InjectSm::MembershipJoinStatusPtr L3InjectSm::membershipJoinStatus() const {
  return vornMembershipJoinStatus_ ? vornMembershipJoinStatus_->notifier() : nullptr;
}

L3InjectSm::TunnelVlanGroupStatusPtr L3InjectSm::tunnelVlanGroupStatus() const {
  return vornTunnelVlanGroupStatus_ ? vornTunnelVlanGroupStatus_->notifier() : nullptr;
}

void L3InjectSm::membershipJoinStatusIs(MembershipJoinStatusPtr const& status) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), "membershipJoinStatus");
  if (!vornMembershipJoinStatus_) {
    vornMembershipJoinStatus_ = Vorn::make<VornMembershipJoinStatus>(nullptr, this);
    vornMembershipJoinStatus_->hasNotificationActiveIs(hasNotificationActive() && !zombie_);
  }
  Vorn::Ptr<VornMembershipJoinStatus> const reactor = vornMembershipJoinStatus_;
  reactor->notifierIs(status);
}

void L3InjectSm::tunnelVlanGroupStatusIs(TunnelVlanGroupStatusPtr const& status) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), "tunnelVlanGroupStatus");
  if (!vornTunnelVlanGroupStatus_) {
    vornTunnelVlanGroupStatus_ = Vorn::make<VornTunnelVlanGroupStatus>(nullptr, this);
    vornTunnelVlanGroupStatus_->hasNotificationActiveIs(hasNotificationActive() && !zombie_);
  }
  Vorn::Ptr<VornTunnelVlanGroupStatus> const reactor = vornTunnelVlanGroupStatus_;
  reactor->notifierIs(status);
}

L3InjectSm::MembershipJoinStatusPtr L3InjectSm::membershipJoinStatusDel() {
  return Vorn::letGo(std::exchange(vornMembershipJoinStatus_, nullptr));
}

L3InjectSm::TunnelVlanGroupStatusPtr L3InjectSm::tunnelVlanGroupStatusDel() {
  return Vorn::letGo(std::exchange(vornTunnelVlanGroupStatus_, nullptr));
}

// ---- output ------------------------------------------------------------------------------------------

Vorn::Ptr<MembershipDedupedLifetimeNotifiee> L3InjectSm::underlayInjectNotifieeIs(GmpStatusPtr const& gmpStatus) {
  return Egress::underlayInjectNotifieeIs(underlayInjectNotifiee_, gmpStatus, fwkType());
}

Vorn::Ptr<Routing::Gmp::MembershipDedupTable> L3InjectSm::underlayInjectDedupTableIs(
    Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee) {
  return Egress::underlayInjectDedupTableIs(underlayInjectDedupTable_, lifetimeNotifiee, fwkType());
}

// ---- reactor collections -------------------------------------------------------------------------------

Vorn::Ptr<L3InjectSm::VornVlanToMulticastGroup> L3InjectSm::vornVlanToMulticastGroup(
    OverlayVlanGroup const& key) const {
  return Vorn::Ptr<VornVlanToMulticastGroup>(reactorAt(key));
}

L3InjectSm::VornVlanToMulticastGroup* L3InjectSm::reactorAt(OverlayVlanGroup const& key) const {
  // Lookups often come in ascending runs (a VLAN's groups, in order): the
  // finger stands where the last lookup's search would have, and a step or
  // two forward from it is cheaper than a search. Keys before it, or any key
  // when it is at the end (an insertion since may have gone anywhere), need
  // a search.
  constexpr int kMaxSteps = 2;
  ReactorCursor& cursor = finger_;
  ReactorMap const& reactors = vornVlanToMulticastGroup_.raw();
  if (!cursor.placed || cursor.removals != reactorRemovals_ || cursor.at == reactors.end() ||
      key < cursor.at->first) {
    cursor.at = reactors.lower_bound(key);
  } else {
    for (int steps = 0; cursor.at != reactors.end() && cursor.at->first < key; ++steps) {
      if (steps == kMaxSteps) {
        cursor.at = reactors.lower_bound(key);
        break;
      }
      ++cursor.at;
    }
  }
  cursor.placed = true;
  cursor.removals = reactorRemovals_;
  if (cursor.at != reactors.end() && cursor.at->first == key) return cursor.at->second.ptr();
  return nullptr;
}

template <class Fn>
void L3InjectSm::forEachVornVlanToMulticastGroup(Fn&& fn) {
  ReactorMap const& reactors = vornVlanToMulticastGroup_.raw();
  for (auto it = reactors.begin(); it != reactors.end();) {
    OverlayVlanGroup const key = it->first;
    std::uint64_t const removals = reactorRemovals_;
    Vorn::Ptr<VornVlanToMulticastGroup> const reactor = it->second;
    if (reactor) fn(reactor);
    // A removal may have taken the element we stand on: go on after its key.
    it = removals == reactorRemovals_ ? std::next(it) : reactors.upper_bound(key);
  }
}

Vorn::Ptr<VlanToMulticastGroup const> L3InjectSm::vlanToMulticastGroup(OverlayVlanGroup const& key) const {
  auto const reactor = vornVlanToMulticastGroup(key);
  return reactor ? reactor->vlanToMulticastGroup() : nullptr;
}

void L3InjectSm::vlanToMulticastGroupIs(Vorn::Ptr<VlanToMulticastGroup const> const& mapping) {
  if (!mapping) throw Vorn::MutatorNullArgumentException(fwkType(), "vlanToMulticastGroup");
  OverlayVlanGroup const key = mapping->overlayVlanGroup();
  // Mappings mostly come in key order (start-up walks a sorted status): a
  // key past the last reactor's has no reactor yet, no search needed.
  auto const& reactors = vornVlanToMulticastGroup_.raw();
  Vorn::Ptr<VornVlanToMulticastGroup> existing;
  if (!reactors.empty() && !(reactors.rbegin()->first < key)) existing = vornVlanToMulticastGroup(key);
  Vorn::reactorIs(existing, mapping, this, [&](Vorn::Ptr<VornVlanToMulticastGroup> const& reactor) {
    vornVlanToMulticastGroup_.set(key, reactor);
  })->vornDoZombieReactors(zombie_);
  if (zombie_) reactorsAllActive_ = false;
}

Vorn::Ptr<VlanToMulticastGroup const> L3InjectSm::vlanToMulticastGroupDel(OverlayVlanGroup const& key) {
  auto taken = vornVlanToMulticastGroup_.take(key);
  if (!taken) return nullptr;
  ++reactorRemovals_;
  if (!*taken) return nullptr;
  return Vorn::letGo(*taken);  // its final pass withdraws its Joins
}

void L3InjectSm::vlanToMulticastGroupDelAll() {
  for (OverlayVlanGroup const& key : vornVlanToMulticastGroup_.keys()) vlanToMulticastGroupDel(key);
}

Vorn::Ptr<L3InjectSm::VornVlanMembership> L3InjectSm::vornVlanMembership(Bridging::VlanId key) const {
  auto const* reactor = vornVlanMembership_.find(key);
  return reactor ? *reactor : nullptr;
}

Vorn::Ptr<Gmp::VlanMembershipJoin const> L3InjectSm::vlanMembership(Bridging::VlanId key) const {
  auto const reactor = vornVlanMembership(key);
  return reactor ? reactor->vlanMembership() : nullptr;
}

void L3InjectSm::vlanMembershipIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& entry) {
  if (!entry) throw Vorn::MutatorNullArgumentException(fwkType(), "vlanMembership");
  Bridging::VlanId const key = entry->vlanId();
  Vorn::reactorIs(vornVlanMembership(key), entry, this, [&](Vorn::Ptr<VornVlanMembership> const& reactor) {
    vornVlanMembership_.set(key, reactor);
  })->vornDoZombieReactors(zombie_);
  if (zombie_) reactorsAllActive_ = false;
}

Vorn::Ptr<Gmp::VlanMembershipJoin const> L3InjectSm::vlanMembershipDel(Bridging::VlanId key) {
  return Vorn::letGo(vornVlanMembership_, key);  // its final pass clears the SMET it gave
}

void L3InjectSm::vlanMembershipDelAll() {
  for (Bridging::VlanId const key : vornVlanMembership_.keys()) vlanMembershipDel(key);
}

// ---- queries and handlers ---------------------------------------------------------------------------------

bool L3InjectSm::membershipJoinStatusLookup(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const {
  L3_TRACE8(71, "membershipJoinStatusLookup",
            this << "membershipJoinStatusLookup" << " vlan" << vlanId << ", " << group.stringValue());
  // Runs no handler: plain pointers will do.
  Gmp::MembershipJoinStatus const* const status =
      vornMembershipJoinStatus_ ? vornMembershipJoinStatus_->notifierRaw() : nullptr;
  auto const* const found = status ? status->vlan().find(vlanId) : nullptr;
  Gmp::VlanMembershipJoin const* const entry = found ? found->ptr() : nullptr;
  if (!entry) {
    L3_TRACE8(73, "membershipJoinStatusLookup", this << "membershipJoinStatusLookup" << " no smet for vlan " << vlanId);
    return false;
  }
  if (isVlanWide(group)) {
    L3_TRACE8(78, "membershipJoinStatusLookup",
              this << "membershipJoinStatusLookup" << " no need to check wildcard group address");
    return true;
  }
  if (!entry->group().contains(group)) return false;
  L3_TRACE8(84, "membershipJoinStatusLookup",
            this << "membershipJoinStatusLookup" << " found smet for vlan" << vlanId << "," << group);
  return true;
}

void L3InjectSm::vorn_handleVlanToMulticastGroup(Vorn::Ptr<VornVlanToMulticastGroup> const& reactor) {
  if (reactor) reactor->handleDel();
}

void L3InjectSm::vorn_handleVlanMembership(Vorn::Ptr<VornVlanMembership> const& reactor) {
  if (reactor) reactor->handleVlanDel();
}

void L3InjectSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (vornMembershipJoinStatus_) vornMembershipJoinStatus_->hasNotificationActiveIs(active);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->hasNotificationActiveIs(active);
  // Typically the factory switching on a tree whose reactors were all
  // created switched on: nothing to do for them.
  if (active && reactorsAllActive_) return;
  forEachVornVlanToMulticastGroup(
      [active](Vorn::Ptr<VornVlanToMulticastGroup> const& r) { r->hasNotificationActiveIs(active); });
  for (auto const& entry : vornVlanMembership_) entry.second->hasNotificationActiveIs(active);
  reactorsAllActive_ = active;
}

void L3InjectSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (zombie) reactorsAllActive_ = false;  // a zombie reactor is switched off
  if (vornMembershipJoinStatus_) vornMembershipJoinStatus_->vornDoZombieReactors(zombie);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->vornDoZombieReactors(zombie);
  for (OverlayVlanGroup const& key : vornVlanToMulticastGroup_.keys()) {
    if (auto reactor = vornVlanToMulticastGroup(key)) reactor->vornDoZombieReactors(zombie);
  }
  for (Bridging::VlanId const key : vornVlanMembership_.keys()) {
    if (auto reactor = vornVlanMembership(key)) reactor->vornDoZombieReactors(zombie);
  }
  zombie_ = zombie;
}

}  // namespace Irb::Multicast::Egress
