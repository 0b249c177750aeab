// Routing::Multicast::IpTunnelVlanGroupReduceSm — keeps the reduced tunnel
// VLAN group status a copy of the input status's mappings and routes.
//
// OVERVIEW
//   Every mapping of the input status has a mapping under the same key in the
//   reduced status, holding the same underlay routes. The machine follows every
//   change, synchronously: a mapping added or removed in the input is added or
//   removed in the reduced status; a route added to or removed from an input
//   mapping is added to or removed from the existing reduced mapping, in place;
//   an input mapping replaced by another object with the same key keeps its
//   reduced mapping and brings its routes in line.
//
//   The IRB status, the SBD-to-VLAN status and the scheduler are held for the
//   reduction's inputs; the reduction kept here is the identity, so none of
//   them is read.
//
// WARNING
//   Single event thread. The reduced status is written only by this machine.
//
// TYPICAL USAGE
//   auto sm = IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSmIs(in, irb, sbd, scheduler, reduced);
#pragma once

#include "Keel/TaskScheduler.h"
#include "Vorn/Collection.h"
#include "Vorn/Notifiee.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"

namespace Routing::Multicast {

class IpTunnelVlanGroupReduceSm : public Vorn::PtrInterface {
 public:
  static Vorn::Ptr<IpTunnelVlanGroupReduceSm> IpTunnelVlanGroupReduceSmIs(
      Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
      Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
      Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
      Vorn::Ptr<Keel::TaskScheduler> const& scheduler, Vorn::Ptr<IpTunnelVlanGroupStatus> const& reduced);
  IpTunnelVlanGroupReduceSm(Vorn::Ptr<IpTunnelVlanGroupStatus const> const& tunnelVlanGroupStatus,
                            Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus,
                            Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus,
                            Vorn::Ptr<Keel::TaskScheduler> const& scheduler,
                            Vorn::Ptr<IpTunnelVlanGroupStatus> const& reduced);
  ~IpTunnelVlanGroupReduceSm() override;

  Vorn::Ptr<IpTunnelVlanGroupStatus const> tunnelVlanGroupStatus() const;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const& mcastIrbStatus() const noexcept { return mcastIrbStatus_; }
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> const& sbdToVlanStatus() const noexcept { return sbdToVlanStatus_; }
  Vorn::Ptr<Keel::TaskScheduler> const& scheduler() const noexcept { return scheduler_; }
  Vorn::Ptr<IpTunnelVlanGroupStatus> const& reducedVlanGroupStatus() const noexcept { return reduced_; }

  void hasNotificationActiveIs(bool active) override;

  char const* fwkType() const override { return "Routing::Multicast::IpTunnelVlanGroupReduceSm"; }

 private:
  class VornTunnelVlanGroupStatus;
  class VornVlanToMulticastGroup;

  void handleVlanToMulticastGroup(OverlayVlanGroup const& key);
  void handleMulticastGroup(OverlayVlanGroup const& key, UnderlayRoute const& route);
  // Makes the reduced mapping of `input`'s key hold exactly input's routes.
  void syncRoutes(VlanToMulticastGroup const& input);

  Vorn::Ptr<VornTunnelVlanGroupStatus> vornStatus_;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> mcastIrbStatus_;
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> sbdToVlanStatus_;
  Vorn::Ptr<Keel::TaskScheduler> scheduler_;
  Vorn::Ptr<IpTunnelVlanGroupStatus> reduced_;
  Vorn::KeyedMap<OverlayVlanGroup, Vorn::Ptr<VornVlanToMulticastGroup>> vornMapping_;
};

}  // namespace Routing::Multicast
