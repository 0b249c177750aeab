// Paths — the inject paths as the scenario program runs them.
//
// An InjectPath owns one running path of the library (the L3 path on one
// local membership join status, or the VPN path on the whole collection);
// destroying it drops the path, which runs its teardown and withdraws its
// Joins.
//
// Not thread-safe: the event thread only, like the library.
//
//   path = pathIs(PathKind::l3, inputs);
//   path.reset();   // teardown
#pragma once

#include <memory>
#include <string>

#include "Brim/Status.h"
#include "Command.h"
#include "Keel/TaskScheduler.h"
#include "Pim/join/JoinProvenance.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Ptr.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"

namespace Mcinject {

// What a path is built on. The L3 path reads `localStatus`, the tunnel VLAN
// group status and the GMP status table; the VPN path everything but
// `localStatus`.
struct PathInputs {
  Vorn::Ptr<Keel::TaskScheduler> scheduler;
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl const> membershipColl;
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus const> localStatus;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> tunnelVlanGroupStatus;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> mcastIrbStatus;
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmpStatus;
};

class InjectPath {
 public:
  virtual ~InjectPath() = default;
  virtual PathKind kind() const = 0;
  // The L3 path: the name of the local status it reads; empty otherwise.
  virtual std::string const& localName() const = 0;
  // The VPN path: the overlay VLAN groups waiting for review; null otherwise.
  virtual Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet const> changeSet() const = 0;
  // Why the path holds the Join of `key`, or why not (the path's own answer).
  virtual Irb::Multicast::Egress::JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const = 0;
  virtual Irb::Multicast::Egress::InjectCounters counters() const = 0;
};

// Precondition: for the L3 path, inputs.localStatus set.
std::unique_ptr<InjectPath> pathIs(PathKind kind, PathInputs const& inputs);

}  // namespace Mcinject
