// SbdVlanChangeSm — the change tracker of the SBD VLAN memberships: one
// VornSbdState per SBD VLAN of the SBD-to-VLAN status.
//
// GUARANTEES
//   - A new SBD VLAN, a removed one, and any change of its member VLANs
//     (also a replacement by an object listing other members) record every
//     mapping keyed by the SBD VLAN and always bump the counter once.
//   - Replacing the state by an object with the same members records nothing.
//
// WARNING
//   Single event thread. The tunnel VLAN group status and the change set must
//   not be null; the SBD-to-VLAN status may be (nothing is tracked then).
//
// TYPICAL USAGE
//   auto sbd = sbdVlanChangeSmFactory(sbdToVlanStatus, reducedTunnelStatus, changeSet);
#pragma once

#include "Pim/vpn/LocalMembershipChangeSm.h"
#include "Vorn/Collection.h"
#include "model/McastIrbStatus.h"

namespace Irb::Multicast::Egress {

// ---- SbdVlanChangeSm ------------------------------------------------------------------

class SbdVlanChangeSm : public Vorn::PtrInterface {
 public:
  using SbdToVlanStatusPtr = Vorn::Ptr<SbdToVlanStatus const>;
  using SbdStatePtr = Vorn::Ptr<SbdVlanState const>;

  class VornSbdToVlanStatus;
  class VornSbdState;
  using SbdStateColl = Vorn::KeyedMap<Bridging::VlanId, Vorn::Ptr<VornSbdState>>;

  // Builds one reactor per SBD VLAN present (each records its mappings and
  // bumps the counter) and switches notification on. `sbdToVlanStatus` may be
  // null: nothing is tracked then.
  static Vorn::Ptr<SbdVlanChangeSm> SbdVlanChangeSmIs(SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                      LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                      LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  SbdVlanChangeSm(SbdToVlanStatusPtr const& sbdToVlanStatus,
                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet);
  ~SbdVlanChangeSm() override;

  SbdToVlanStatusPtr sbdToVlanStatus() const;
  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus() const noexcept {
    return tunnelVlanGroupStatus_;
  }
  LocalMembershipChangeSm::ChangeSetPtr const& changeSet() const noexcept { return changeSet_; }

  SbdStateColl const& sbdState() const noexcept { return sbdState_; }
  Vorn::Ptr<VornSbdState> sbdState(Bridging::VlanId sbdVlan) const;
  // Create or re-point the reactor of the state's SBD VLAN. Null raises
  // MutatorNullArgumentException.
  void sbdStateIs(SbdStatePtr const& state);
  // Removes the reactor after its final pass; returns its state.
  SbdStatePtr sbdStateDel(Bridging::VlanId sbdVlan);
  void sbdStateDelAll();
  // Takes the status reactor out; the per-SBD-VLAN reactors stay.
  SbdToVlanStatusPtr sbdToVlanStatusDel();
  // Runs handleSbdStatus of `state` (its final pass).
  void vorn_handleSbdState(Vorn::Ptr<VornSbdState> const& state);

  void hasNotificationActiveIs(bool active) override;
  void vornDoZombieReactors(bool zombie);
  bool isZombie() const noexcept { return zombie_; }
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm"; }

 private:
  Vorn::Ptr<VornSbdToVlanStatus> sbdToVlanStatus_;
  LocalMembershipChangeSm::TunnelStatusPtr tunnelVlanGroupStatus_;
  LocalMembershipChangeSm::ChangeSetPtr changeSet_;
  SbdStateColl sbdState_;
  bool zombie_ = false;
};

Vorn::Ptr<SbdVlanChangeSm> sbdVlanChangeSmFactory(SbdVlanChangeSm::SbdToVlanStatusPtr const& sbdToVlanStatus,
                                                  LocalMembershipChangeSm::TunnelStatusPtr const& tunnelVlanGroupStatus,
                                                  LocalMembershipChangeSm::ChangeSetPtr const& changeSet);

// Follows the status's `sbdVlanState` collection into the owner's reactors.
class SbdVlanChangeSm::VornSbdToVlanStatus : public Vorn::NotifieeConstOf<SbdToVlanStatus> {
 public:
  VornSbdToVlanStatus(SbdToVlanStatusPtr const& status, SbdVlanChangeSm* owner);
  ~VornSbdToVlanStatus() override;

  SbdVlanChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(SbdVlanChangeSm* owner) noexcept { owner_ = owner; }

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdToVlanStatus"; }

 private:
  SbdVlanChangeSm* owner_;
};

// One SBD VLAN: any change of its members records its mappings.
class SbdVlanChangeSm::VornSbdState : public Vorn::NotifieeConstOf<SbdVlanState> {
 public:
  // Records the SBD VLAN's mappings when `state` is not null.
  VornSbdState(SbdStatePtr const& state, SbdVlanChangeSm* owner);
  ~VornSbdState() override;

  // The state's SBD VLAN; 1 without a state.
  Bridging::VlanId sbdVlan() const noexcept;
  SbdVlanChangeSm* owner() const noexcept { return owner_; }
  void ownerIs(SbdVlanChangeSm* owner) noexcept { owner_ = owner; }

  // Records every mapping keyed by the SBD VLAN, then bumps the counter
  // (also when none matched).
  void handleSbdStatus();
  // Re-points; records when the member set differs from the old object's.
  void notifierIs(SbdStatePtr const& state) override;

  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
  void vornDoZombieReactors(bool zombie) override;
  char const* fwkType() const override { return "Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState"; }

 private:
  SbdVlanChangeSm* owner_;
};

}  // namespace Irb::Multicast::Egress
