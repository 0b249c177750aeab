#include "model/McastIrbStatus.h"

#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast {

VlanToSbd McastIrbStatus::VlanToSbdTable::read(Bridging::VlanId vlan) const {
  checkRead();
  VlanToSbd const* v = entries_.find(vlan);
  return v ? *v : VlanToSbd();
}

Vorn::Ptr<McastIrbStatus> McastIrbStatus::mcastIrbStatusIs() { return Model::makeActive<McastIrbStatus>(); }

void McastIrbStatus::vlanToSbdIs(VlanToSbd const& v) {
  if (v == VlanToSbd()) {
    vlanToSbdDel(v.vlan);
    return;
  }
  setIn(table_.entries_, attrVlanToSbd, v.vlan, v);
}

bool McastIrbStatus::vlanToSbdDel(Bridging::VlanId vlan) {
  Bridging::VlanId const copy = vlan;
  if (!table_.entries_.erase(copy)) return false;
  notify(attrVlanToSbd, Vorn::Key(copy));
  return true;
}

Vorn::Ptr<SbdVlanState> SbdVlanState::sbdVlanStateIs(Bridging::VlanId sbdVlan) {
  return Model::makeActive<SbdVlanState>(sbdVlan);
}

Vorn::Ptr<SbdToVlanStatus> SbdToVlanStatus::sbdToVlanStatusIs() { return Model::makeActive<SbdToVlanStatus>(); }

Vorn::Ptr<SbdVlanState const> SbdToVlanStatus::sbdVlanState(Bridging::VlanId sbdVlan) const {
  return Model::lookup<SbdVlanState>(sbdVlanState_, sbdVlan);
}

Vorn::Ptr<SbdVlanState> SbdToVlanStatus::sbdVlanStateMutable(Bridging::VlanId sbdVlan) const {
  return Model::lookup<SbdVlanState>(sbdVlanState_, sbdVlan);
}

void SbdToVlanStatus::sbdVlanStateIs(Vorn::Ptr<SbdVlanState> const& s) {
  if (!s) throw Vorn::MutatorNullArgumentException(fwkType(), "sbdVlanState");
  setIn(sbdVlanState_, attrSbdVlanState, s->sbdVlan(), s);
}

Vorn::Ptr<SbdVlanState> SbdToVlanStatus::sbdVlanStateDel(Bridging::VlanId sbdVlan) {
  return takeFrom(sbdVlanState_, attrSbdVlanState, sbdVlan);
}

}  // namespace Irb::Multicast
