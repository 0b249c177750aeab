// Irb::Multicast::SbdToVlanSm — keeps an SbdToVlanStatus the inverse of the
// IRB status's `vlanToSbd` table.
//
// OVERVIEW
//   For every SBD VLAN that serves at least one VLAN, the SbdToVlanStatus holds
//   an SbdVlanState whose `vlanId` set is exactly the VLANs whose vlanToSbd
//   entry names it. The state machine follows every change of `vlanToSbd`:
//   a VLAN moving to another SBD VLAN leaves the old state's set and joins the
//   new one. Existing SbdVlanState objects are changed in place (members added
//   and removed); a state is created when its SBD VLAN gains its first member
//   (with that member already in its set) and removed when it loses its last.
//   Built on a status that already holds states, it brings them in line with
//   the table (members the table does not name are taken out).
//
//   It reads the table's entries as the agent owning them would, not through
//   the corruption-checked read of the library's readers.
//
// WARNING
//   Single event thread. The SbdToVlanStatus is written only by this machine.
//
// TYPICAL USAGE
//   auto sm = SbdToVlanSm::SbdToVlanSmIs(irbStatus, sbdToVlanStatus);
//   irbStatus->vlanToSbdIs({10, 4000});   // sbdToVlanStatus: 4000 -> {10}
#pragma once

#include "Vorn/Collection.h"
#include "Vorn/Notifiee.h"
#include "model/McastIrbStatus.h"

namespace Irb::Multicast {

class SbdToVlanSm : public Vorn::PtrInterface {
 public:
  static Vorn::Ptr<SbdToVlanSm> SbdToVlanSmIs(Vorn::Ptr<McastIrbStatus const> const& mcastIrbStatus,
                                              Vorn::Ptr<SbdToVlanStatus> const& sbdToVlanStatus);
  SbdToVlanSm(Vorn::Ptr<McastIrbStatus const> const& mcastIrbStatus,
              Vorn::Ptr<SbdToVlanStatus> const& sbdToVlanStatus);
  ~SbdToVlanSm() override;

  Vorn::Ptr<McastIrbStatus const> mcastIrbStatus() const;
  Vorn::Ptr<SbdToVlanStatus> const& sbdToVlanStatus() const noexcept { return sbdToVlanStatus_; }

  void hasNotificationActiveIs(bool active) override;

  char const* fwkType() const override { return "Irb::Multicast::SbdToVlanSm"; }

 private:
  class VornMcastIrbStatus;

  // Brings the SBD VLAN of `vlan` in the inverse status in line with the table.
  void handleVlanToSbd(Bridging::VlanId vlan);

  Vorn::Ptr<VornMcastIrbStatus> vornMcastIrbStatus_;
  Vorn::Ptr<SbdToVlanStatus> sbdToVlanStatus_;
  // The SBD VLAN each VLAN is currently listed under.
  Vorn::KeyedMap<Bridging::VlanId, Bridging::VlanId> applied_;
};

}  // namespace Irb::Multicast
