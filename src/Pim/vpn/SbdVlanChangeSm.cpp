#include "Pim/vpn/SbdVlanChangeSm.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>

#include "Corvo/Exception.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "Vorn/ReactorOwnership.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

// ---- SbdVlanChangeSm ------------------------------------------------------------------

Vorn::Ptr<SbdVlanChangeSm> SbdVlanChangeSm::SbdVlanChangeSmIs(
    SbdToVlanStatusPtr const& sbdToVlanStatus, LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
    LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  Vorn::Ptr<SbdVlanChangeSm> sm(new SbdVlanChangeSm(sbdToVlanStatus, tunnelVlanGroupStatus, changeSet));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmFactory(SbdVlanChangeSm::SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet) {
  return SbdVlanChangeSm::SbdVlanChangeSmIs(sbdToVlanStatus, tunnelVlanGroupStatus, changeSet);
}

SbdVlanChangeSm::SbdVlanChangeSm(SbdToVlanStatusPtr const& sbdToVlanStatus,
                                 LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                 LocalMembershipChangeSm::ChangeSetPtr const& changeSet)
    : tunnelVlanGroupStatus_(tunnelVlanGroupStatus), changeSet_(changeSet) {
  assert(tunnelVlanGroupStatus_ && "SBD VLAN changes record the SBD VLAN's mappings");
  assert(changeSet_ && "a tracker records into a change set");
  if (!sbdToVlanStatus) return;
  sbdToVlanStatus_ = Vorn::make<VornSbdToVlanStatus>(sbdToVlanStatus, this);
  sbdToVlanStatus_->hasNotificationActiveIs(true);
  for (auto const& [sbdVlan, state] : sbdToVlanStatus->sbdVlanState()) sbdStateIs(state);
}

SbdVlanChangeSm::~SbdVlanChangeSm() {
  vornDoZombieReactors(true);
  if (sbdToVlanStatus_) sbdToVlanStatus_->ownerIs(nullptr);
  for (auto const& [sbdVlan, reactor] : sbdState_) reactor->ownerIs(nullptr);
}

SbdVlanChangeSm::SbdToVlanStatusPtr SbdVlanChangeSm::sbdToVlanStatus() const {
  return sbdToVlanStatus_ ? sbdToVlanStatus_->notifier() : nullptr;
}

Vorn::Ptr<SbdVlanChangeSm::VornSbdState> SbdVlanChangeSm::sbdState(Bridging::VlanId sbdVlan) const {
  Vorn::Ptr<VornSbdState> const* reactor = sbdState_.find(sbdVlan);
  return reactor ? *reactor : nullptr;
}

void SbdVlanChangeSm::sbdStateIs(SbdStatePtr const& state) {
  if (!state) throw Vorn::MutatorNullArgumentException(fwkType(), "sbdState");
  Bridging::VlanId const sbdVlan = state->sbdVlan();
  Vorn::reactorIs(this->sbdState(sbdVlan), state, this, [&](Vorn::Ptr<VornSbdState> const& reactor) {
    sbdState_.set(sbdVlan, reactor);
  })->vornDoZombieReactors(zombie_);
}

SbdVlanChangeSm::SbdStatePtr SbdVlanChangeSm::sbdStateDel(Bridging::VlanId sbdVlan) {
  return Vorn::letGo(sbdState_, sbdVlan);
}

void SbdVlanChangeSm::sbdStateDelAll() {
  Vorn::letGoAll(sbdState_, [this](Bridging::VlanId v) { sbdStateDel(v); });
}

SbdVlanChangeSm::SbdToVlanStatusPtr SbdVlanChangeSm::sbdToVlanStatusDel() {
  return Vorn::letGo(std::exchange(sbdToVlanStatus_, nullptr));
}

void SbdVlanChangeSm::vorn_handleSbdState(Vorn::Ptr<VornSbdState> const& state) {
  if (state) state->handleSbdStatus();
}

void SbdVlanChangeSm::hasNotificationActiveIs(bool active) {
  if (active == hasNotificationActive()) return;
  PtrInterface::hasNotificationActiveIs(active);
  if (sbdToVlanStatus_) sbdToVlanStatus_->hasNotificationActiveIs(active);
  for (auto const& [sbdVlan, reactor] : sbdState_) {
    Vorn::Ptr<VornSbdState> const keep = reactor;
    keep->hasNotificationActiveIs(active);
  }
}

void SbdVlanChangeSm::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (sbdToVlanStatus_) sbdToVlanStatus_->vornDoZombieReactors(zombie);
  for (auto const& [sbdVlan, reactor] : sbdState_) {
    Vorn::Ptr<VornSbdState> const keep = reactor;
    keep->vornDoZombieReactors(zombie);
  }
  zombie_ = zombie;
}

// ---- SbdVlanChangeSm::VornSbdToVlanStatus ---------------------------------------------

SbdVlanChangeSm::VornSbdToVlanStatus::VornSbdToVlanStatus(SbdToVlanStatusPtr const& status, SbdVlanChangeSm* owner)
    : owner_(owner) {
  NotifieeConstOf::notifierIs(status);
  isRegisteredNotifieeIs(true);
}

SbdVlanChangeSm::VornSbdToVlanStatus::~VornSbdToVlanStatus() { vornDoZombieReactors(true); }

void SbdVlanChangeSm::VornSbdToVlanStatus::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != SbdToVlanStatus::attrSbdVlanState) return;
  Bridging::VlanId const* sbdVlanKey = key.get<Bridging::VlanId>();
  SbdToVlanStatus const* status = notifierRaw();
  if (!sbdVlanKey || !status || !owner_ || isZombie()) return;
  Bridging::VlanId const sbdVlan = *sbdVlanKey;
  if (SbdStatePtr const state = status->sbdVlanState(sbdVlan)) {
    owner_->sbdStateIs(state);
  } else {
    owner_->sbdStateDel(sbdVlan);
  }
}

// ---- SbdVlanChangeSm::VornSbdState ------------------------------------------------------

SbdVlanChangeSm::VornSbdState::VornSbdState(SbdStatePtr const& state, SbdVlanChangeSm* owner) : owner_(owner) {
  NotifieeConstOf::notifierIs(state);
  if (state) handleSbdStatus();
  isRegisteredNotifieeIs(true);
}

SbdVlanChangeSm::VornSbdState::~VornSbdState() { vornDoZombieReactors(true); }

Bridging::VlanId SbdVlanChangeSm::VornSbdState::sbdVlan() const noexcept {
  SbdVlanState const* state = notifierRaw();
  return state ? state->sbdVlan() : Bridging::VlanId();
}

void SbdVlanChangeSm::VornSbdState::handleSbdStatus() {
  if (!owner_) return;
  Bridging::VlanId const sbd = sbdVlan();
  VORN_TRACE(overlayMembershipTrace(), 8, kOverlayMembershipSmFile, 1174, "handleSbdStatus",
             "void Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState::handleSbdStatus()" << ":" << sbd);
  LocalMembershipChangeSm::ChangeSetPtr const changeSet = owner_->changeSet();
  LocalMembershipChangeSm::TunnelStatusPtr const tunnel = owner_->tunnelVlanGroupStatus();
  vlanMappingsIs(*changeSet, *tunnel, sbd, false);
  // Bumped even when nothing matched.
  changeSet->changedInc(1);
}

void SbdVlanChangeSm::VornSbdState::notifierIs(SbdStatePtr const& state) {
  SbdVlanState const* old = notifierRaw();
  if (state.ptr() == old) return;
  std::vector<Bridging::VlanId> const oldMembers = old ? old->vlanId().keys() : std::vector<Bridging::VlanId>();
  std::vector<Bridging::VlanId> const newMembers =
      state ? state->vlanId().keys() : std::vector<Bridging::VlanId>();
  NotifieeConstOf::notifierIs(state);
  if (oldMembers != newMembers && state) handleSbdStatus();
}

void SbdVlanChangeSm::VornSbdState::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != SbdVlanState::attrVlanId) return;
  if (!key.get<Bridging::VlanId>() || isZombie() || !owner_) return;
  handleSbdStatus();
}

void SbdVlanChangeSm::VornSbdState::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (owner_) owner_->vorn_handleSbdState(Vorn::Ptr<VornSbdState>(this));
  zombieIs(zombie);
}

}  // namespace Irb::Multicast::Egress
