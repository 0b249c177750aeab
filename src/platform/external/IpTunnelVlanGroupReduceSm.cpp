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
  for (auto const& [key, mapping] : tunnelVlanGroupStatus->vlanToMulticastGroup()) share(mapping);
  // Mappings the reduced status holds but the input lacks (a reused status).
  // It now holds every input key, so there are some only when it holds more.
  if (reduced_->vlanToMulticastGroup().size() == tunnelVlanGroupStatus->vlanToMulticastGroup().size()) return;
  std::vector<OverlayVlanGroup> stale;
  for (auto const& [key, mapping] : reduced_->vlanToMulticastGroup())
    if (!tunnelVlanGroupStatus->vlanToMulticastGroup().contains(key)) stale.push_back(key);
  for (auto const& key : stale) reduced_->vlanToMulticastGroupDel(key);
}

IpTunnelVlanGroupReduceSm::~IpTunnelVlanGroupReduceSm() {
  if (vornStatus_) vornStatus_->ownerIs(nullptr);
}

Vorn::Ptr<IpTunnelVlanGroupStatus const> IpTunnelVlanGroupReduceSm::tunnelVlanGroupStatus() const {
  return vornStatus_ ? vornStatus_->notifier() : Vorn::Ptr<IpTunnelVlanGroupStatus const>();
}

void IpTunnelVlanGroupReduceSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (vornStatus_) vornStatus_->hasNotificationActiveIs(active);
}

void IpTunnelVlanGroupReduceSm::handleVlanToMulticastGroup(OverlayVlanGroup const& key) {
  Vorn::Ptr<VlanToMulticastGroup> const* input = vornStatus_->notifierRaw()->vlanToMulticastGroup().find(key);
  if (!input) {
    reduced_->vlanToMulticastGroupDel(key);
    return;
  }
  share(*input);
}

void IpTunnelVlanGroupReduceSm::share(Vorn::Ptr<VlanToMulticastGroup> const& input) {
  // The input's own object goes in, not a copy. Safe to hand out as mutable:
  // this machine never changes a mapping, and the reduced status is written
  // only from here. Filing the object already held is no change and notifies
  // nothing.
  reduced_->vlanToMulticastGroupIs(input);
}

}  // namespace Routing::Multicast
