#include "Pim/L3InjectSm.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Pim/JoinKey.h"
#include "Pim/Trace.h"
#include "Vorn/Exception.h"

// Level 8 statements of this module: handler entry and decisions.
#define L3_TRACE8(line, function, expr) VORN_TRACE(l3InjectSmTrace(), 8, kL3InjectSmFile, line, function, expr)

namespace Irb::Multicast::Egress {

namespace {

using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

// The keys a reader treats as VLAN-wide: a group of no family and the
// wildcard of either family.
std::array<OverlayVlanGroup, 3> vlanWideKeys(Bridging::VlanId vlan) {
  return {OverlayVlanGroup(vlan, Wirl::IpGenAddr()), OverlayVlanGroup(vlan, Wirl::IpGenAddr(Wirl::AddressFamily::ipv4)),
          OverlayVlanGroup(vlan, Wirl::IpGenAddr(Wirl::AddressFamily::ipv6))};
}

Flit::Statement& staleStatement() {
  static Flit::Statement st(std::string("void Irb::Multicast::Egress::L3InjectSm::handleInitialized()") + ": " +
                            " Cleaning up stale underlayRoute " + "%s" + ", " + "%s" + ", " + "%s");
  return st;
}

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

// ---- VornVlanToMulticastGroup ----------------------------------------------------------------

L3InjectSm::VornVlanToMulticastGroup::VornVlanToMulticastGroup(Vorn::Ptr<VlanToMulticastGroup const> const& notifier,
                                                               L3InjectSm* l3InjectSm)
    : l3InjectSm_(l3InjectSm) {
  NotifieeConstOf::notifierIs(notifier);
  if (notifier) handleInit();
  isRegisteredNotifieeIs(true);
}

L3InjectSm::VornVlanToMulticastGroup::~VornVlanToMulticastGroup() {
  vornDoZombieReactors(true);
  underlayRouteDelAll();
}

OverlayVlanGroup L3InjectSm::VornVlanToMulticastGroup::overlayVlanGroup() const {
  auto const* mapping = notifierRaw();
  return mapping ? mapping->overlayVlanGroup() : OverlayVlanGroup();
}

void L3InjectSm::VornVlanToMulticastGroup::handleInit() {
  L3_TRACE8(135, "handleInit", this << "handleInit");
  OverlayVlanGroup const key = overlayVlanGroup();
  if (l3InjectSm_ && l3InjectSm_->membershipJoinStatusLookup(key.vlanId(), key.groupAddr())) {
    L3_TRACE8(138, "handleInit", this << "handleInit" << ":: set smet to true ");
    smetIs(true);
  }
}

void L3InjectSm::VornVlanToMulticastGroup::smetIs(bool smet) {
  if (smet == smet_) return;
  smet_ = smet;
  handleSmetUpdate();
}

void L3InjectSm::VornVlanToMulticastGroup::handleSmetUpdate() {
  L3_TRACE8(93, "handleSmetUpdate", this << "handleSmetUpdate" << " smet " << smet_);
  if (auto const mapping = notifier()) {
    for (UnderlayRoute const& route : mapping->multicastGroup()) handleMulticastGroup(route);
  }
  // Without SMET nothing may stay held, not even a route the mapping no
  // longer lists.
  if (!smet_) underlayRouteDelAll();
}

void L3InjectSm::VornVlanToMulticastGroup::handleMulticastGroup(UnderlayRoute const& underlayRouteInfo) {
  UnderlayRoute const route = underlayRouteInfo;  // the caller's may live in a collection we change
  auto const* mapping = notifierRaw();
  bool const found = mapping && mapping->multicastGroup(route);
  L3_TRACE8(109, "handleMulticastGroup",
            this << "handleMulticastGroup" << ":: underlayRoute ( " << route.source().stringValue() << ", "
                 << route.groupAddr().stringValue() << ", " << route.tunnelType() << " )"
                 << " smet exist " << smet_ << " add/del " << found);
  if (!smet_) {
    L3_TRACE8(111, "handleMulticastGroup", this << "handleMulticastGroup" << ":: no matching smet route, noop ");
    underlayRouteDel(route);
    return;
  }
  if (!found) {
    underlayRouteDel(route);
    return;
  }
  assert(l3InjectSm_ && l3InjectSm_->underlayInjectDedupTable() && "a Join needs the owner's dedup table");
  auto handle = l3InjectSm_->underlayInjectDedupTable()->dedup(joinKey(route, overlayVlanGroup().vlanId()));
  underlayRouteIs(route, handle);
}

void L3InjectSm::VornVlanToMulticastGroup::handleDel() {
  L3_TRACE8(146, "handleDel", this << "handleDel" << " smet " << smet_);
  smetIs(false);
}

Vorn::Ptr<Routing::Gmp::MembershipDeduped const> L3InjectSm::VornVlanToMulticastGroup::underlayRoute(
    UnderlayRoute const& r) const {
  auto const* handle = underlayRoute_.find(r);
  return handle ? *handle : nullptr;
}

void L3InjectSm::VornVlanToMulticastGroup::underlayRouteIs(
    UnderlayRoute const& r, Vorn::Ptr<Routing::Gmp::MembershipDeduped const> const& handle) {
  if (!handle) {
    underlayRouteDel(r);
    return;
  }
  underlayRoute_.set(r, handle);  // a replaced handle is released after the new one is in place
}

Vorn::Ptr<Routing::Gmp::MembershipDeduped const> L3InjectSm::VornVlanToMulticastGroup::underlayRouteDel(
    UnderlayRoute const& r) {
  return underlayRoute_.take(r);
}

void L3InjectSm::VornVlanToMulticastGroup::underlayRouteDelAll() {
  while (UnderlayRoute const* first = underlayRoute_.firstKey()) {
    UnderlayRoute const route = *first;
    underlayRouteDel(route);
  }
}

void L3InjectSm::VornVlanToMulticastGroup::notifierIs(Vorn::Ptr<VlanToMulticastGroup const> const& mapping) {
  auto const old = notifier();
  if (mapping == old) return;
  assert((!old || !mapping || old->overlayVlanGroup() == mapping->overlayVlanGroup()) &&
         "a mapping reactor is re-pointed only to a mapping of its own key");
  NotifieeConstOf::notifierIs(mapping);
  if (!l3InjectSm_ || isZombie()) return;
  // Exactly the routes that differ: gone from the mapping (or still held),
  // or new in it.
  std::set<UnderlayRoute> differing;
  auto const inNew = [&](UnderlayRoute const& r) { return mapping && mapping->multicastGroup(r); };
  auto const inOld = [&](UnderlayRoute const& r) { return old && old->multicastGroup(r); };
  if (old) {
    for (UnderlayRoute const& r : old->multicastGroup())
      if (!inNew(r)) differing.insert(r);
  }
  for (auto const& held : underlayRoute_)
    if (!inNew(held.first)) differing.insert(held.first);
  if (mapping) {
    for (UnderlayRoute const& r : mapping->multicastGroup())
      if (!inOld(r)) differing.insert(r);
  }
  for (UnderlayRoute const& r : differing) handleMulticastGroup(r);
}

void L3InjectSm::VornVlanToMulticastGroup::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != VlanToMulticastGroup::attrMulticastGroup || !key || isZombie() || !l3InjectSm_) return;
  handleMulticastGroup(*key.get<UnderlayRoute>());
}

void L3InjectSm::VornVlanToMulticastGroup::hasNotificationActiveIs(bool active) {
  if (!active && l3InjectSm_) l3InjectSm_->reactorsAllActive_ = false;
  NotifieeConstOf::hasNotificationActiveIs(active);
}

void L3InjectSm::VornVlanToMulticastGroup::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (zombie) {
    if (l3InjectSm_) {
      l3InjectSm_->vorn_handleVlanToMulticastGroup(Vorn::Ptr<VornVlanToMulticastGroup>(this));
    } else {
      handleDel();
    }
  }
  zombieIs(zombie);
}

// ---- VornVlanMembership ----------------------------------------------------------------------

L3InjectSm::VornVlanMembership::VornVlanMembership(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& notifier,
                                                   L3InjectSm* l3InjectSm)
    : l3InjectSm_(l3InjectSm) {
  NotifieeConstOf::notifierIs(notifier);
  handleVlanMembership();
  if (notifier) handleGroup();
  isRegisteredNotifieeIs(true);
}

L3InjectSm::VornVlanMembership::~VornVlanMembership() { vornDoZombieReactors(true); }

Bridging::VlanId L3InjectSm::VornVlanMembership::vlanId() const {
  auto const* entry = notifierRaw();
  return entry ? entry->vlanId() : Bridging::VlanId();
}

void L3InjectSm::VornVlanMembership::handleVlanMembership() {
  L3_TRACE8(153, "handleVlanMembership", this << "handleVlanMembership");
  if (!l3InjectSm_) return;
  Bridging::VlanId const vlan = vlanId();
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto reactor = l3InjectSm_->vornVlanToMulticastGroup(key)) {
      L3_TRACE8(159, "handleVlanMembership",
                this << "handleVlanMembership" << " set smet to true for tunnelVlanGroup " << vlan << ",*) ");
      reactor->smetIs(true);
    }
  }
}

void L3InjectSm::VornVlanMembership::handleVlanDel() {
  L3_TRACE8(167, "handleVlanDel", this << "handleVlanDel");
  if (!l3InjectSm_) return;
  Bridging::VlanId const vlan = vlanId();
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto reactor = l3InjectSm_->vornVlanToMulticastGroup(key)) {
      L3_TRACE8(173, "handleVlanDel",
                this << "handleVlanDel" << " set smet to false for tunnelVlanGroup (vlan" << vlan << ",*) ");
      reactor->smetIs(false);
    }
  }
  // The entry leaves with the groups it still lists: each of them is gone as
  // if removed on its own.
  if (auto const entry = notifier()) {
    for (Wirl::IpGenAddr const& group : entry->group().keys()) {
      if (group.isSpecific()) groupSmetIs(group, false);
    }
  }
}

void L3InjectSm::VornVlanMembership::handleGroup() {
  L3_TRACE8(198, "handleGroup", this << "handleGroup");
  if (auto const entry = notifier()) {
    for (Wirl::IpGenAddr const& group : entry->group().keys()) handleGroup(group);
  }
}

void L3InjectSm::VornVlanMembership::handleGroup(Wirl::IpGenAddr const& groupAddr) {
  auto const* entry = notifierRaw();
  bool const exists = entry && entry->group().contains(groupAddr);
  groupSmetIs(groupAddr, exists);
}

void L3InjectSm::VornVlanMembership::groupSmetIs(Wirl::IpGenAddr const& groupAddr, bool exists) {
  Wirl::IpGenAddr const group = groupAddr;  // the caller's may be a notification key
  L3_TRACE8(184, "handleGroup", this << "handleGroup" << " Smet group " << group << " add/del " << exists);
  if (!l3InjectSm_) return;
  Bridging::VlanId const vlan = vlanId();
  if (group.isSpecific()) {
    if (auto reactor = l3InjectSm_->vornVlanToMulticastGroup(OverlayVlanGroup(vlan, group))) {
      L3_TRACE8(191, "handleGroup",
                this << "handleGroup" << " set smet for tunnelVlanGroup to " << exists << ", vlan" << vlan << ", "
                     << group);
      reactor->smetIs(exists);
    }
    return;
  }
  // A non-specific group stands for the whole VLAN: the VLAN-wide mappings
  // follow the presence of the VLAN entry, not of this group entry.
  bool const vlanPresent = notifierBase() != nullptr;
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto reactor = l3InjectSm_->vornVlanToMulticastGroup(key)) {
      L3_TRACE8(191, "handleGroup",
                this << "handleGroup" << " set smet for tunnelVlanGroup to " << vlanPresent << ", vlan" << vlan
                     << ", " << key.groupAddr());
      reactor->smetIs(vlanPresent);
    }
  }
}

void L3InjectSm::VornVlanMembership::notifierIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& entry) {
  auto const old = notifier();
  if (entry == old) return;
  assert((!old || !entry || old->vlanId() == entry->vlanId()) &&
         "a VLAN reactor is re-pointed only to an entry of its own VLAN");
  NotifieeConstOf::notifierIs(entry);
  if (!l3InjectSm_ || isZombie()) return;
  // Exactly the groups present in only one of the two entries.
  std::vector<Wirl::IpGenAddr> differing;
  if (old) {
    for (auto const& g : old->group())
      if (!entry || !entry->group().contains(g.first)) differing.push_back(g.first);
  }
  if (entry) {
    for (auto const& g : entry->group())
      if (!old || !old->group().contains(g.first)) differing.push_back(g.first);
  }
  for (Wirl::IpGenAddr const& group : differing) handleGroup(group);
}

void L3InjectSm::VornVlanMembership::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::VlanMembershipJoin::attrGroup || !key || isZombie() || !l3InjectSm_) return;
  handleGroup(*key.get<Wirl::IpGenAddr>());
}

void L3InjectSm::VornVlanMembership::hasNotificationActiveIs(bool active) {
  if (!active && l3InjectSm_) l3InjectSm_->reactorsAllActive_ = false;
  NotifieeConstOf::hasNotificationActiveIs(active);
}

void L3InjectSm::VornVlanMembership::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (zombie && l3InjectSm_) l3InjectSm_->vorn_handleVlanMembership(Vorn::Ptr<VornVlanMembership>(this));
  zombieIs(zombie);
}

// ---- start-up cleanup ------------------------------------------------------------------------
//
// The cleanup removes, in key order, every entry whose key the dedup table
// does not hold. Walking the whole table costs a step and a dedup lookup per
// entry, wanted or not. But as long as nobody else changes the table during
// start-up, the table holds exactly the Joins of the dedup table (each
// written by this path's writer when its handle came, none deleted) plus the
// entries it held before the first Join: only those earlier entries can be
// stale. So start-up notes their keys, and the call counts of the table and
// of the writer, and the cleanup then
//   - has nothing to do when the table holds no more entries than the dedup
//     table;
//   - else looks at the earlier entries alone, in the same key order, with
//     the same removals and statements as the walk; when the writer wrote no
//     Join over an earlier entry (the one way one becomes wanted), all of
//     them are stale and need no dedup lookup.
// Whenever the counts show a change by anyone else (or the table is armed to
// report a corruption), the cleanup goes back to the walk from where it
// stands, which then sees the table as it is.

struct L3InjectSm::StartUpTable {
  explicit StartUpTable(L3InjectSm const& sm);

  Routing::Gmp::Brim::Status const* status = nullptr;
  MembershipDedupedLifetimeNotifiee const* writer = nullptr;
  Routing::Gmp::MembershipDedupTable const* dedup = nullptr;
  std::vector<RouteIntfKey> keys;  // the entries' keys, in key order
  bool complete = false;           // `keys` holds every entry
  std::string corruption;          // what the read ran into, when it did
  std::uint64_t isCalls = 0;
  std::uint64_t delCalls = 0;
  std::uint64_t writerIsCalls = 0;
  std::uint64_t writerDelCalls = 0;
  std::uint64_t writerRewrites = 0;
  std::uint64_t writerBreaks = 0;
};

L3InjectSm::StartUpTable::StartUpTable(L3InjectSm const& sm)
    : status(sm.underlayGmpStatus_.ptr()),
      writer(sm.underlayInjectNotifiee_.ptr()),
      dedup(sm.underlayInjectDedupTable_.ptr()) {
  if (!status || !writer || !dedup) return;
  isCalls = status->membershipIsCalls();
  delCalls = status->membershipDelCalls();
  writerIsCalls = writer->membershipIsCalls();
  writerDelCalls = writer->membershipDelCalls();
  writerRewrites = writer->rewrites();
  writerBreaks = writer->breaks();
  // Handles from before would hold Joins nobody counted; a table armed to
  // report a corruption keeps that read for the cleanup walk.
  if (!dedup->empty() || status->corruptNextRead()) return;
  keys.reserve(status->membershipCount());
  RouteIntfKey key;
  Routing::Gmp::Brim::IterHint hint;
  try {
    while (status->membershipIterNext(key, hint)) keys.push_back(key);
    complete = true;
  } catch (Corvo::CorruptionDetectedException const& e) {
    corruption = e.msg();
    keys.clear();
  }
}

// ---- L3InjectSm ----------------------------------------------------------------------------------

Vorn::Ptr<L3InjectSm> L3InjectSm::L3InjectSmIs(MembershipJoinStatusPtr const& membershipJoinStatus,
                                               TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                               GmpStatusPtr const& underlayGmpStatus) {
  Vorn::Ptr<L3InjectSm> sm(new L3InjectSm(membershipJoinStatus, tunnelVlanGroupStatus, underlayGmpStatus));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<L3InjectSm> l3InjectSmFactory(L3InjectSm::MembershipJoinStatusPtr const& membershipJoinStatus,
                                        L3InjectSm::TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus,
                                        L3InjectSm::GmpStatusPtr const& underlayGmpStatus) {
  return L3InjectSm::L3InjectSmIs(membershipJoinStatus, tunnelVlanGroupStatus, underlayGmpStatus);
}

L3InjectSm::L3InjectSm(MembershipJoinStatusPtr const& membershipJoinStatus,
                       TunnelVlanGroupStatusPtr const& tunnelVlanGroupStatus, GmpStatusPtr const& underlayGmpStatus)
    : underlayGmpStatus_(underlayGmpStatus) {
  if (membershipJoinStatus) {
    vornMembershipJoinStatus_ = Vorn::make<VornMembershipJoinStatus>(membershipJoinStatus, this);
    vornMembershipJoinStatus_->hasNotificationActiveIs(true);
  }
  if (tunnelVlanGroupStatus) {
    vornTunnelVlanGroupStatus_ = Vorn::make<VornTunnelVlanGroupStatus>(tunnelVlanGroupStatus, this);
    vornTunnelVlanGroupStatus_->hasNotificationActiveIs(true);
  }
  underlayInjectNotifieeIs(underlayGmpStatus_);
  underlayInjectDedupTableIs(underlayInjectNotifiee_);
  // What the table holds before the first Join: unless someone else changes
  // the table meanwhile, only these entries can turn out stale.
  StartUpTable const before(*this);
  // Mappings first: each takes its SMET from the membership status directly.
  if (tunnelVlanGroupStatus) {
    for (auto const& entry : tunnelVlanGroupStatus->vlanToMulticastGroup()) vlanToMulticastGroupIs(entry.second);
  }
  if (membershipJoinStatus) {
    for (auto const& entry : membershipJoinStatus->vlan()) vlanMembershipIs(entry.second);
  }
  // Every wanted Join is held now: whatever else the table holds is stale.
  handleInitialized(before);
}

L3InjectSm::~L3InjectSm() {
  // Withdraw every Join while the dedup table and its writer still exist.
  vornDoZombieReactors(true);
  while (OverlayVlanGroup const* first = vornVlanToMulticastGroup_.firstKey()) {
    OverlayVlanGroup const key = *first;
    auto reactor = vornVlanToMulticastGroup_.take(key);
    ++reactorRemovals_;
    if (reactor && *reactor) (*reactor)->l3InjectSmIs(nullptr);
  }
  while (Bridging::VlanId const* first = vornVlanMembership_.firstKey()) {
    Bridging::VlanId const key = *first;
    auto reactor = vornVlanMembership_.take(key);
    if (reactor && *reactor) (*reactor)->l3InjectSmIs(nullptr);
  }
  underlayInjectNotifieeDel();
  underlayInjectDedupTableDel();
  if (vornMembershipJoinStatus_) vornMembershipJoinStatus_->l3InjectSmIs(nullptr);
  if (vornTunnelVlanGroupStatus_) vornTunnelVlanGroupStatus_->l3InjectSmIs(nullptr);
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
  Vorn::Ptr<VornMembershipJoinStatus> const reactor = std::move(vornMembershipJoinStatus_);
  vornMembershipJoinStatus_ = nullptr;
  if (!reactor) return nullptr;
  auto status = reactor->notifier();
  reactor->vornDoZombieReactors(true);
  reactor->l3InjectSmIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return status;
}

L3InjectSm::TunnelVlanGroupStatusPtr L3InjectSm::tunnelVlanGroupStatusDel() {
  Vorn::Ptr<VornTunnelVlanGroupStatus> const reactor = std::move(vornTunnelVlanGroupStatus_);
  vornTunnelVlanGroupStatus_ = nullptr;
  if (!reactor) return nullptr;
  auto status = reactor->notifier();
  reactor->vornDoZombieReactors(true);
  reactor->l3InjectSmIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return status;
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
  if (cursor.at != reactors.end() && cursor.at->first == key) return cursor.at->second;
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
  Vorn::Ptr<VornVlanToMulticastGroup> reactor;
  if (!reactors.empty() && !(reactors.rbegin()->first < key)) reactor = vornVlanToMulticastGroup(key);
  if (reactor) {
    reactor->vlanToMulticastGroupIs(mapping);
  } else {
    reactor = Vorn::make<VornVlanToMulticastGroup>(mapping, this);
    reactor->hasNotificationActiveIs(true);
    vornVlanToMulticastGroup_.set(key, reactor);
  }
  reactor->vornDoZombieReactors(zombie_);
}

Vorn::Ptr<VlanToMulticastGroup const> L3InjectSm::vlanToMulticastGroupDel(OverlayVlanGroup const& key) {
  auto taken = vornVlanToMulticastGroup_.take(key);
  if (!taken) return nullptr;
  ++reactorRemovals_;
  if (!*taken) return nullptr;
  Vorn::Ptr<VornVlanToMulticastGroup> const reactor = std::move(*taken);
  reactor->vornDoZombieReactors(true);  // its final pass withdraws its Joins
  reactor->l3InjectSmIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->vlanToMulticastGroup();
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
  Vorn::Ptr<VornVlanMembership> reactor = vornVlanMembership(key);
  if (reactor) {
    reactor->vlanMembershipIs(entry);
  } else {
    reactor = Vorn::make<VornVlanMembership>(entry, this);
    reactor->hasNotificationActiveIs(true);
    vornVlanMembership_.set(key, reactor);
  }
  reactor->vornDoZombieReactors(zombie_);
}

Vorn::Ptr<Gmp::VlanMembershipJoin const> L3InjectSm::vlanMembershipDel(Bridging::VlanId key) {
  auto taken = vornVlanMembership_.take(key);
  if (!taken || !*taken) return nullptr;
  Vorn::Ptr<VornVlanMembership> const reactor = std::move(*taken);
  reactor->vornDoZombieReactors(true);  // its final pass clears the SMET it gave
  reactor->l3InjectSmIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->vlanMembership();
}

void L3InjectSm::vlanMembershipDelAll() {
  for (Bridging::VlanId const key : vornVlanMembership_.keys()) vlanMembershipDel(key);
}

// ---- queries and handlers ---------------------------------------------------------------------------------

bool L3InjectSm::membershipJoinStatusLookup(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const {
  L3_TRACE8(71, "membershipJoinStatusLookup",
            this << "membershipJoinStatusLookup" << " vlan" << vlanId << ", " << group.stringValue());
  auto const status = membershipJoinStatus();
  auto const entry = status ? status->vlan(vlanId) : nullptr;
  if (!entry) {
    L3_TRACE8(73, "membershipJoinStatusLookup", this << "membershipJoinStatusLookup" << " no smet for vlan " << vlanId);
    return false;
  }
  if (!group.isSpecific()) {
    L3_TRACE8(78, "membershipJoinStatusLookup",
              this << "membershipJoinStatusLookup" << " no need to check wildcard group address");
    return true;
  }
  if (!entry->group().contains(group)) return false;
  L3_TRACE8(84, "membershipJoinStatusLookup",
            this << "membershipJoinStatusLookup" << " found smet for vlan" << vlanId << "," << group);
  return true;
}

void L3InjectSm::handleInitialized() {
  L3_TRACE8(206, "handleInitialized", this << "handleInitialized");
  staleWalk(RouteIntfKey(), false);
}

void L3InjectSm::staleWalk(RouteIntfKey key, bool started) {
  GmpStatusPtr const status = underlayGmpStatus_;
  Routing::Gmp::Brim::IterHint hint;
  hint.started = started;
  try {
    while (status->membershipIterNext(key, hint)) {
      if (underlayInjectDedupTable_ && underlayInjectDedupTable_->lookup(key)) continue;  // wanted
      traceStale(key);
      status->membershipDel(key);
    }
  } catch (Corvo::CorruptionDetectedException const& e) {
    status->doCorruptionDetected(e.msg());
  }
  initializedIs(true);
}

void L3InjectSm::traceStale(RouteIntfKey const& key) const {
  if (!Dyad::active(l3InjectSmTrace(), 7)) return;
  std::array<Flit::Arg, 3> const args{Dyad::addressArg(key.source()), Dyad::addressArg(key.group()),
                                      Flit::Arg::string(key.intf().stringValue())};
  Dyad::statement(staleStatement(), l3InjectSmTrace(), 7, kL3InjectSmFile, 217, "handleInitialized", args);
}

bool L3InjectSm::onlyOwnChanges(StartUpTable const& before, std::uint64_t ownDels) const {
  auto const* status = underlayGmpStatus_.ptr();
  auto const* writer = underlayInjectNotifiee_.ptr();
  auto const* dedup = underlayInjectDedupTable_.ptr();
  if (!before.complete || status != before.status || writer != before.writer || dedup != before.dedup) return false;
  if (writer->gmpStatus().ptr() != status || dedup->lifetimeNotifiee().ptr() != writer) return false;
  std::uint64_t const written = writer->membershipIsCalls() - before.writerIsCalls;
  return writer->breaks() == before.writerBreaks &&                // every handle had its Join written,
         writer->membershipDelCalls() == before.writerDelCalls &&  // none was deleted,
         written == dedup->size() &&                               // each write is a handle of this table
         status->membershipIsCalls() - before.isCalls == written &&  // and nobody else wrote or deleted
         status->membershipDelCalls() - before.delCalls == ownDels && !status->corruptNextRead();
}

void L3InjectSm::handleInitialized(StartUpTable const& before) {
  L3_TRACE8(206, "handleInitialized", this << "handleInitialized");
  GmpStatusPtr const status = underlayGmpStatus_;
  if (!before.complete && !before.corruption.empty()) {
    // The read of the table ran into it; the walk would have, first thing.
    status->doCorruptionDetected(before.corruption);
    initializedIs(true);
    return;
  }
  if (!onlyOwnChanges(before, 0)) {
    staleWalk(RouteIntfKey(), false);
    return;
  }
  Routing::Gmp::MembershipDedupTable const& dedup = *underlayInjectDedupTable_;
  if (status->membershipCount() > dedup.size()) {
    // A Join written over an earlier entry is the one way an earlier entry
    // becomes wanted: without such rewrites, every earlier entry is stale.
    bool const someWanted = underlayInjectNotifiee_->rewrites() != before.writerRewrites;
    std::uint64_t ownDels = 0;
    for (RouteIntfKey const& key : before.keys) {
      if (someWanted && dedup.lookup(key)) continue;  // wanted
      traceStale(key);
      status->membershipDel(key);
      ++ownDels;
      if (!onlyOwnChanges(before, ownDels)) {
        // Someone reacted: go on as the walk would, from this key.
        staleWalk(key, true);
        return;
      }
    }
  }
  initializedIs(true);
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
