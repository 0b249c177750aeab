// IRB and SBD state.
//
// McastIrbStatus publishes, in its shared-memory table `vlanToSbd`, which SBD
// (supplementary broadcast domain) VLAN serves each VLAN. A VLAN without an
// entry reads as the default VlanToSbd (both fields 1: no SBD VLAN). A read
// may raise Corvo::CorruptionDetectedException when the table is damaged (see
// Brim/BrimMapBase.h); the reader reports it and uses the default value.
//
// SbdToVlanStatus is the inverse view: one SbdVlanState per SBD VLAN, whose
// `vlanId` set lists the VLANs that SBD VLAN serves.
//
// Changes notify per key, after the change (see MembershipJoinStatus.h for
// the common rules of the model's entities).
//
//   auto irb = McastIrbStatus::mcastIrbStatusIs();
//   irb->vlanToSbdIs({10, 4000});     // VLAN 10 is served by SBD VLAN 4000
//   irb->vlanToSbd(10).sbdVlan == 4000;
#pragma once

#include "Brim/BrimMapBase.h"
#include "Vorn/Collection.h"
#include "Vorn/Entity.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"

namespace Irb::Multicast {

class McastIrbStatus : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlanToSbd = 1 };

  // The shared-memory table VLAN -> VlanToSbd.
  class VlanToSbdTable : public ::Brim::BrimMapBase {
   public:
    VlanToSbdTable() : ::Brim::BrimMapBase("Irb::Multicast::McastIrbStatus::vlanToSbd") {}
    // The entry of `vlan`, or the default value; may raise on a damaged table.
    VlanToSbd read(Bridging::VlanId vlan) const;
    Vorn::KeyedMap<Bridging::VlanId, VlanToSbd> const& entries() const noexcept { return entries_; }

   private:
    friend class McastIrbStatus;
    Vorn::KeyedMap<Bridging::VlanId, VlanToSbd> entries_;
  };

  static Vorn::Ptr<McastIrbStatus> mcastIrbStatusIs();

  VlanToSbdTable const& vlanToSbdTable() const noexcept { return table_; }
  VlanToSbdTable& vlanToSbdTable() noexcept { return table_; }
  // Read of one VLAN's entry (default value when absent); may raise.
  VlanToSbd vlanToSbd(Bridging::VlanId vlan) const { return table_.read(vlan); }
  // Sets the entry of `v.vlan`; an entry equal to the default removes it.
  void vlanToSbdIs(VlanToSbd const& v);
  bool vlanToSbdDel(Bridging::VlanId vlan);

  char const* fwkType() const override { return "Irb::Multicast::McastIrbStatus"; }

 private:
  VlanToSbdTable table_;
};

class SbdVlanState : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlanId = 1 };
  using VlanIdColl = Vorn::KeyedSet<Bridging::VlanId>;

  explicit SbdVlanState(Bridging::VlanId sbdVlan) : sbdVlan_(sbdVlan) {}
  static Vorn::Ptr<SbdVlanState> sbdVlanStateIs(Bridging::VlanId sbdVlan);

  Bridging::VlanId sbdVlan() const noexcept { return sbdVlan_; }
  VlanIdColl const& vlanId() const noexcept { return vlanId_; }
  bool vlanId(Bridging::VlanId v) const { return vlanId_.contains(v); }
  void vlanIdIs(Bridging::VlanId v) { insertIn(vlanId_, attrVlanId, v); }
  bool vlanIdDel(Bridging::VlanId v) { return eraseFrom(vlanId_, attrVlanId, v); }

  char const* fwkType() const override { return "Irb::Multicast::SbdVlanState"; }

 private:
  Bridging::VlanId sbdVlan_;
  VlanIdColl vlanId_;
};

class SbdToVlanStatus : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrSbdVlanState = 1 };
  using SbdVlanStateColl = Vorn::KeyedMap<Bridging::VlanId, Vorn::Ptr<SbdVlanState>>;

  SbdToVlanStatus() = default;
  static Vorn::Ptr<SbdToVlanStatus> sbdToVlanStatusIs();

  SbdVlanStateColl const& sbdVlanState() const noexcept { return sbdVlanState_; }
  Vorn::Ptr<SbdVlanState const> sbdVlanState(Bridging::VlanId sbdVlan) const;
  Vorn::Ptr<SbdVlanState> sbdVlanStateMutable(Bridging::VlanId sbdVlan) const;
  void sbdVlanStateIs(Vorn::Ptr<SbdVlanState> const& s);
  Vorn::Ptr<SbdVlanState> sbdVlanStateDel(Bridging::VlanId sbdVlan);

  char const* fwkType() const override { return "Irb::Multicast::SbdToVlanStatus"; }

 private:
  SbdVlanStateColl sbdVlanState_;
};

}  // namespace Irb::Multicast
