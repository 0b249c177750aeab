#include "external/SbdToVlanSm.h"

#include <utility>
#include <vector>

namespace Irb::Multicast {

class SbdToVlanSm::VornMcastIrbStatus : public Vorn::NotifieeConstOf<McastIrbStatus> {
 public:
  VornMcastIrbStatus(Vorn::Ptr<McastIrbStatus const> const& status, SbdToVlanSm* owner) : owner_(owner) {
    notifierIs(status);
    isRegisteredNotifieeIs(true);
  }
  void ownerIs(SbdToVlanSm* owner) noexcept { owner_ = owner; }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != McastIrbStatus::attrVlanToSbd || !key || !owner_) return;
    owner_->handleVlanToSbd(*key.get<Bridging::VlanId>());
  }

 private:
  SbdToVlanSm* owner_;
};

Vorn::Ptr<SbdToVlanSm> SbdToVlanSm::SbdToVlanSmIs(Vorn::Ptr<McastIrbStatus const> const& mcastIrbStatus,
                                                  Vorn::Ptr<SbdToVlanStatus> const& sbdToVlanStatus) {
  Vorn::Ptr<SbdToVlanSm> sm(new SbdToVlanSm(mcastIrbStatus, sbdToVlanStatus));
  sm->hasNotificationActiveIs(true);
  return sm;
}

SbdToVlanSm::SbdToVlanSm(Vorn::Ptr<McastIrbStatus const> const& mcastIrbStatus,
                         Vorn::Ptr<SbdToVlanStatus> const& sbdToVlanStatus)
    : sbdToVlanStatus_(sbdToVlanStatus) {
  if (!sbdToVlanStatus_) return;
  if (mcastIrbStatus) {
    vornMcastIrbStatus_ = Vorn::Ptr<VornMcastIrbStatus>(new VornMcastIrbStatus(mcastIrbStatus, this));
    for (auto const& [vlan, entry] : mcastIrbStatus->vlanToSbdTable().entries()) handleVlanToSbd(vlan);
  }
  // A status filled before (from another IRB status) may list members this
  // table does not name: take them out, and the states left empty.
  std::vector<std::pair<Bridging::VlanId, Bridging::VlanId>> stale;
  for (auto const& [sbd, state] : sbdToVlanStatus_->sbdVlanState())
    for (Bridging::VlanId const vlan : state->vlanId()) {
      Bridging::VlanId const* applied = applied_.find(vlan);
      if (!applied || !(*applied == sbd)) stale.emplace_back(sbd, vlan);
    }
  for (auto const& [sbd, vlan] : stale) {
    auto state = sbdToVlanStatus_->sbdVlanStateMutable(sbd);
    state->vlanIdDel(vlan);
    if (state->vlanId().empty()) sbdToVlanStatus_->sbdVlanStateDel(sbd);
  }
}

SbdToVlanSm::~SbdToVlanSm() {
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->ownerIs(nullptr);
}

Vorn::Ptr<McastIrbStatus const> SbdToVlanSm::mcastIrbStatus() const {
  return vornMcastIrbStatus_ ? vornMcastIrbStatus_->notifier() : Vorn::Ptr<McastIrbStatus const>();
}

void SbdToVlanSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (vornMcastIrbStatus_) vornMcastIrbStatus_->hasNotificationActiveIs(active);
}

void SbdToVlanSm::handleVlanToSbd(Bridging::VlanId vlan) {
  VlanToSbd const* entry = vornMcastIrbStatus_->notifierRaw()->vlanToSbdTable().entries().find(vlan);
  std::optional<Bridging::VlanId> wanted;
  if (entry && !(*entry == VlanToSbd())) wanted = entry->sbdVlan;
  Bridging::VlanId const* current = applied_.find(vlan);
  if (current && wanted && *current == *wanted) return;
  if (!current && !wanted) return;
  if (current) {
    Bridging::VlanId const old = *current;
    applied_.erase(vlan);
    if (auto state = sbdToVlanStatus_->sbdVlanStateMutable(old)) {
      state->vlanIdDel(vlan);
      if (state->vlanId().empty()) sbdToVlanStatus_->sbdVlanStateDel(old);
    }
  }
  if (wanted) {
    applied_.set(vlan, *wanted);
    if (auto state = sbdToVlanStatus_->sbdVlanStateMutable(*wanted)) {
      state->vlanIdIs(vlan);
    } else {
      auto fresh = SbdVlanState::sbdVlanStateIs(*wanted);
      fresh->vlanIdIs(vlan);
      sbdToVlanStatus_->sbdVlanStateIs(fresh);
    }
  }
}

}  // namespace Irb::Multicast
