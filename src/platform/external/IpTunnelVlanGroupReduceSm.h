// Routing::Multicast::IpTunnelVlanGroupReduceSm — keeps the reduced tunnel
// VLAN group status holding the input status's mappings.
//
// OVERVIEW
//   The reduced status shares the input's mapping objects: under every key of
//   the input status it holds the very same VlanToMulticastGroup object, not a
//   copy. A route added to or removed from an input mapping therefore shows in
//   the reduced status by itself, and the mapping's own observers hear of it.
//   The machine follows the input's mapping list, synchronously: a mapping
//   added or removed in the input is added or removed in the reduced status;
//   an input mapping replaced by another object with the same key is replaced
//   in the reduced status by that object. At start every input mapping is put
//   in (another object under the same key is replaced) and mappings the input
//   lacks are removed (a reused status).
//
//   The IRB status, the SBD-to-VLAN status and the scheduler are held for the
//   reduction's inputs; the reduction kept here is the identity, so none of
//   them is read.
//
// WARNING
//   Single event thread. The reduced status is written only by this machine,
//   and nothing may change a mapping through it: a mapping reached through the
//   reduced status is the input's own. While notification is off, or after
//   the machine is gone, mappings added to, replaced in or removed from the
//   input are not followed (a key is brought in line when the input's list next
//   changes under it); route changes still show, being changes of the shared
//   objects.
//
// TYPICAL USAGE
//   auto sm = IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSmIs(in, irb, sbd, scheduler, reduced);
//   in->vlanToMulticastGroupIs(m);   // now reduced->vlanToMulticastGroup(m->overlayVlanGroup()) == m
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

  // Brings the reduced status's entry of `key` in line with the input's.
  void handleVlanToMulticastGroup(OverlayVlanGroup const& key);
  // Files the input's mapping object itself in the reduced status.
  void share(Vorn::Ptr<VlanToMulticastGroup> const& input);

  Vorn::Ptr<VornTunnelVlanGroupStatus> vornStatus_;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> mcastIrbStatus_;
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus const> sbdToVlanStatus_;
  Vorn::Ptr<Keel::TaskScheduler> scheduler_;
  Vorn::Ptr<IpTunnelVlanGroupStatus> reduced_;
};

}  // namespace Routing::Multicast
