#include "Pim/vpn/VpnInjectReviewSm.h"

#include <optional>
#include <set>
#include <utility>

#include "Flit/Flit.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"

namespace Irb::Multicast::Egress {

using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;

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
  VPN_TRACE(8, 407, "handleVlanToMulticastGroup",
            "void Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup()");
  if (!owner_) return;
  Vorn::Ptr<OverlayChangeSet> const cs = owner_->changeSet();
  if (!cs) return;
  cs->vlanGroupIs(key());
  cs->changedInc(1);
}

void VpnInjectReviewSm::VlanToMulticastGroup::handleMulticastGroup(UnderlayRoute const& route) {
  UnderlayRoute const r = route;
  VPN_TRACE(8, 418, "handleMulticastGroup", "handleMulticastGroup" << "(" << r << ")");
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
  VPN_TRACE(8, 432, "handleOverlayMembership",
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

}  // namespace Irb::Multicast::Egress
