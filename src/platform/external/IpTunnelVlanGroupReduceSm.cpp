#include "external/IpTunnelVlanGroupReduceSm.h"

#include <vector>

namespace Routing::Multicast {

class IpTunnelVlanGroupReduceSm::VornTunnelVlanGroupStatus : public Vorn::NotifieeConstOf<IpTunnelVlanGroupStatus> {
 public:
  VornTunnelVlanGroupStatus(Vorn::Ptr<IpTunnelVlanGroupStatus const> const& status, IpTunnelVlanGroupReduceSm* owner)
      : owner_(owner) {
    notifierIs(status);
    isRegisteredNotifieeIs(true);
  }
  void ownerIs(IpTunnelVlanGroupReduceSm* owner) noexcept { owner_ = owner; }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != IpTunnelVlanGroupStatus::attrVlanToMulticastGroup || !key || !owner_) return;
    owner_->handleVlanToMulticastGroup(*key.get<OverlayVlanGroup>());
  }

 private:
  IpTunnelVlanGroupReduceSm* owner_;
};

class IpTunnelVlanGroupReduceSm::VornVlanToMulticastGroup : public Vorn::NotifieeConstOf<VlanToMulticastGroup> {
 public:
  VornVlanToMulticastGroup(Vorn::Ptr<VlanToMulticastGroup const> const& mapping, IpTunnelVlanGroupReduceSm* owner)
      : owner_(owner), key_(mapping->overlayVlanGroup()) {
    notifierIs(mapping);
    isRegisteredNotifieeIs(true);
  }
  void ownerIs(IpTunnelVlanGroupReduceSm* owner) noexcept { owner_ = owner; }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != VlanToMulticastGroup::attrMulticastGroup || !key || !owner_) return;
    owner_->handleMulticastGroup(key_, *key.get<UnderlayRoute>());
  }

 private:
  IpTunnelVlanGroupReduceSm* owner_;
  OverlayVlanGroup key_;
};

Vorn::Ptr<IpTunnelVlanGroupReduceSm> IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSmIs(
    Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler, Vorn::Ptr<IpTunnelVlanGroupStatus> const& reduced) {
  Vorn::Ptr<IpTunnelVlanGroupReduceSm> sm(
      new IpTunnelVlanGroupReduceSm(tunnelVlanGroupStatus, mcastIrbStatus, sbdToVlanStatus, scheduler, reduced));
  sm->hasNotificationActiveIs(true);
  return sm;
}

IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSm(
    Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
    Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
    Vorn::Ptr<Keel::TaskScheduler> const& scheduler, Vorn::Ptr<IpTunnelVlanGroupStatus> const& reduced)
    : mcastIrbStatus_(mcastIrbStatus), sbdToVlanStatus_(sbdToVlanStatus), scheduler_(scheduler), reduced_(reduced) {
  if (!tunnelVlanGroupStatus || !reduced_) return;
  vornStatus_ = Vorn::Ptr<VornTunnelVlanGroupStatus>(new VornTunnelVlanGroupStatus(tunnelVlanGroupStatus, this));
  for (auto const& [key, mapping] : tunnelVlanGroupStatus->vlanToMulticastGroup()) handleVlanToMulticastGroup(key);
  // Mappings the reduced status holds but the input lacks (a reused status).
  std::vector<OverlayVlanGroup> stale;
  for (auto const& [key, mapping] : reduced_->vlanToMulticastGroup())
    if (!tunnelVlanGroupStatus->vlanToMulticastGroup(key)) stale.push_back(key);
  for (auto const& key : stale) reduced_->vlanToMulticastGroupDel(key);
}

IpTunnelVlanGroupReduceSm::~IpTunnelVlanGroupReduceSm() {
  if (vornStatus_) vornStatus_->ownerIs(nullptr);
  for (auto const& [key, reactor] : vornMapping_) reactor->ownerIs(nullptr);
}

Vorn::Ptr<IpTunnelVlanGroupStatus const> IpTunnelVlanGroupReduceSm::tunnelVlanGroupStatus() const {
  return vornStatus_ ? vornStatus_->notifier() : Vorn::Ptr<IpTunnelVlanGroupStatus const>();
}

void IpTunnelVlanGroupReduceSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (vornStatus_) vornStatus_->hasNotificationActiveIs(active);
  for (auto const& [key, reactor] : vornMapping_) reactor->hasNotificationActiveIs(active);
}

void IpTunnelVlanGroupReduceSm::handleVlanToMulticastGroup(OverlayVlanGroup const& key) {
  Vorn::Ptr<VlanToMulticastGroup const> const input = vornStatus_->notifierRaw()->vlanToMulticastGroup(key);
  if (!input) {
    if (auto reactor = vornMapping_.take(key)) (*reactor)->ownerIs(nullptr);
    reduced_->vlanToMulticastGroupDel(key);
    return;
  }
  Vorn::Ptr<VornVlanToMulticastGroup>* reactor = vornMapping_.find(key);
  if (reactor && (*reactor)->notifierRaw() != input.ptr()) {
    (*reactor)->notifierIs(input);  // the same key under another object
  } else if (!reactor) {
    Vorn::Ptr<VornVlanToMulticastGroup> fresh(new VornVlanToMulticastGroup(input, this));
    fresh->hasNotificationActiveIs(hasNotificationActive());
    vornMapping_.set(key, fresh);
  }
  syncRoutes(*input);
}

void IpTunnelVlanGroupReduceSm::handleMulticastGroup(OverlayVlanGroup const& key, UnderlayRoute const& route) {
  Vorn::Ptr<VlanToMulticastGroup const> const input = vornStatus_->notifierRaw()->vlanToMulticastGroup(key);
  Vorn::Ptr<VlanToMulticastGroup> const reduced = reduced_->vlanToMulticastGroupMutable(key);
  if (!input || !reduced) return;
  if (input->multicastGroup(route)) {
    reduced->multicastGroupIs(route);
  } else {
    reduced->multicastGroupDel(route);
  }
}

void IpTunnelVlanGroupReduceSm::syncRoutes(VlanToMulticastGroup const& input) {
  Vorn::Ptr<VlanToMulticastGroup> reduced = reduced_->vlanToMulticastGroupMutable(input.overlayVlanGroup());
  if (!reduced) {
    // A new mapping enters the reduced status with its routes already listed.
    reduced = VlanToMulticastGroup::vlanToMulticastGroupIs(input.overlayVlanGroup());
    for (UnderlayRoute const& r : input.multicastGroup()) reduced->multicastGroupIs(r);
    reduced_->vlanToMulticastGroupIs(reduced);
    return;
  }
  for (UnderlayRoute const& r : input.multicastGroup()) reduced->multicastGroupIs(r);
  std::vector<UnderlayRoute> gone;
  for (UnderlayRoute const& r : reduced->multicastGroup())
    if (!input.multicastGroup(r)) gone.push_back(r);
  for (UnderlayRoute const& r : gone) reduced->multicastGroupDel(r);
}

}  // namespace Routing::Multicast
