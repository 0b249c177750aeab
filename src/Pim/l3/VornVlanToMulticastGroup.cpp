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

namespace Irb::Multicast::Egress {

namespace {

using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;

}  // namespace

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
    // The first route comes from the mapping observed, nothing having run
    // since: it is listed without asking. After it, handlers have run.
    bool first = true;
    for (UnderlayRoute const& route : mapping->multicastGroup()) {
      if (first) {
        routeIs(route, true);
        first = false;
      } else {
        handleMulticastGroup(route);
      }
    }
  }
  // Without SMET nothing may stay held, not even a route the mapping no
  // longer lists.
  if (!smet_) underlayRouteDelAll();
}

void L3InjectSm::VornVlanToMulticastGroup::handleMulticastGroup(UnderlayRoute const& underlayRouteInfo) {
  auto const* mapping = notifierRaw();
  routeIs(underlayRouteInfo, mapping && mapping->multicastGroup(underlayRouteInfo));
}

void L3InjectSm::VornVlanToMulticastGroup::routeIs(UnderlayRoute const& underlayRouteInfo, bool found) {
  UnderlayRoute const route = underlayRouteInfo;  // the caller's may live in a collection we change
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

}  // namespace Irb::Multicast::Egress
